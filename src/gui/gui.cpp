// The GUI toolkit's frame hooks and element state. No element exists yet:
// nothing is hot, pressed or edited, and the GUI pass draws nothing.
#include "gui/gui.h"

#include "sys/config.h"
#include "sys/var.h"
#include "sys/main.h"

#include <cstring>

int32_t gui_hotid = -1;
int32_t gui_activeid = -1;
int32_t gui_wheelclaimed = 0;
text_editrecord text_editstate = {nullptr};
int32_t gui_fileextensionvar = -1;
char gui_zeros[gui_zeroslength + 1];
float gui_dialogsize[2];
float gui_panelwidths[2];

void gui_init()
{
    gui_hotid = gui_activeid = -1;
    gui_wheelclaimed = 0;
    text_editstate.string = nullptr;
    gui_fileextensionvar = var_find("FileExtension");
    memset(gui_zeros, '0', gui_zeroslength);
    gui_zeros[gui_zeroslength] = 0;
    gui_dialogsize[0] = 0.2f * (float)sys_drawable[0];
    gui_dialogsize[1] = 0.2f * (float)sys_drawable[1];
    gui_panelwidths[0] = (float)cfg_geti(cfg_leftpanelwidth);
    gui_panelwidths[1] = (float)cfg_geti(cfg_rightpanelwidth);
}

void gui_refresh()
{
}

int text_keydown(int key)
{
    (void)key;
    return text_editstate.string ? 1 : 0;
}
