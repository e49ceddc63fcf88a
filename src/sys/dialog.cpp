// Message boxes, the colour picker, the file dialogs and shell opening: the
// log lines and the kept state (last paths, custom colours) live here, the
// dialogs themselves in the platform layer.
#include "sys/dialog.h"

#include "platform/dialogs.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "sys/config.h"
#include "sys/convert.h"
#include "sys/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char file_lastsavepath[sys_dialogpathmax];
char file_lastopenpath[sys_dialogpathmax];
uint8_t sys_customcolors[sys_customcolorcount][3];

// The configuration colours that become the custom colours, in order.
static const int dialog_colorfields[] = {
    cfg_guipanelcolour,  cfg_guiwidgetcolour,  cfg_backgroundcolor2, cfg_backgroundcolor1, cfg_viewcolor1,
    cfg_viewcolor2, cfg_viewcolor3, cfg_viewcolor4,       cfg_viewcolor5,       cfg_viewcolor6,
    cfg_viewcolor7, cfg_viewcolor8, cfg_appearcolor1,     cfg_appearcolor2,
};
static_assert(sizeof(dialog_colorfields) / sizeof(dialog_colorfields[0]) == sys_customcolorcount - 2);

static int dialog_colorsfilled;

int sys_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton)
{
    sys_log("sys_messagebox \"%s\"", caption);
    return plat_messagebox(caption, text, buttons, icon, defbutton);
}

int sys_openurl(const char *url)
{
    if (!sys_messagebox("Open Internet Browser",
                        "This will open your default internet browser to view a website.\n\n"
                        "Are you sure you want Kerfmill to open your web browser?",
                        2, 5, 0))
        return 0;
    return sys_shellexecute("%s", url);
}

void sys_fillcustomcolors()
{
    memset(sys_customcolors, 0, sizeof(sys_customcolors));
    int i = 0;
    for (int field : dialog_colorfields) {
        float rgb[3] = {cfg_getf(field), cfg_getf(field + 4), cfg_getf(field + 8)};
        color_tobytes(sys_customcolors[i++], rgb);
    }
    dialog_colorsfilled = 1;
}

int sys_choosecolor(uint8_t color[3])
{
    sys_log("choosecolor...");
    if (!dialog_colorsfilled)
        sys_fillcustomcolors();
    if (!plat_choosecolor(color)) {
        sys_log("...choosecolor cancelled");
        return 0;
    }
    sys_log("...choosecolor: 0x%02X%02X%02X", color[0], color[1], color[2]);
    return 1;
}

int file_savedialog(const char *title, const char *folder, const char *filter, const char *defext)
{
    plat_filerequest req = {1, title, folder, filter, defext};
    int error = 0;
    if (!plat_filedialog(req, file_lastsavepath, sizeof(file_lastsavepath), &error))
        return 0;
    sys_log("GetSaveFileName SUCCESS: \"%s\" (%d)", file_lastsavepath, (int)strlen(file_lastsavepath));
    return 1;
}

int file_opendialog(const char *title, const char *folder, const char *filter)
{
    plat_filerequest req = {0, title, folder, filter, nullptr};
    int error = 0;
    if (!plat_filedialog(req, file_lastopenpath, sizeof(file_lastopenpath), &error)) {
        sys_log("GetOpenFileName FAILED: 0x%X", error);
        return 0;
    }
    sys_log("GetOpenFileName SUCCESS: \"%s\" (%d)", file_lastopenpath, (int)strlen(file_lastopenpath));
    return 1;
}

int sys_shellexecute(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    sys_log("ShellExecute: %s", text);
    return plat_shellopen(text);
}
