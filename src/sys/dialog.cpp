// Message boxes: logged here, shown by the platform layer.
#include "sys/dialog.h"

#include "platform/msgbox.h"
#include "sys/log.h"

int sys_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton)
{
    sys_log("sys_messagebox \"%s\"", caption);
    return plat_messagebox(caption, text, buttons, icon, defbutton);
}
