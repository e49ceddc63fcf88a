// The GUI toolkit's frame hooks and element state. No element exists yet:
// nothing is hot, pressed or edited, and the GUI pass draws nothing.
#include "gui/gui.h"

int32_t gui_hotid = -1;
int32_t gui_activeid = -1;
int32_t gui_wheelclaimed = 0;
text_editrecord text_editstate = {nullptr};

void gui_refresh()
{
}

int text_keydown(int key)
{
    (void)key;
    return text_editstate.string ? 1 : 0;
}
