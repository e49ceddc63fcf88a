// Message boxes through SDL_ShowMessageBox, or answered by the test seam.
#include "platform/msgbox.h"

#include "platform/seam.h"
#include "sys/log.h"
#include "sys/main.h"

#include <SDL.h>

#include <cstring>

static int msgbox_seamanswer(const char *caption, const char *text, int *answer)
{
    char word[32];
    if (!plat_seamnext("KERFMILL_MSGBOX_ANSWERS", ',', word, sizeof(word)))
        return 0;
    *answer = strcmp(word, "ok") == 0 || strcmp(word, "yes") == 0;
    sys_log("msgbox seam: \"%s\" \"%s\" = %s", caption, text, word);
    return 1;
}

static Uint32 msgbox_iconflag(int icon)
{
    switch (icon) {
    case 6: return SDL_MESSAGEBOX_ERROR;
    case 4: return SDL_MESSAGEBOX_WARNING;
    default: return SDL_MESSAGEBOX_INFORMATION; // SDL has no question icon
    }
}

int plat_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton)
{
    int answer = 0;
    if (msgbox_seamanswer(caption, text, &answer))
        return answer;

    // Button ids: 1 means OK/Yes, 0 means Cancel/No; closing the box gives -1.
    SDL_MessageBoxButtonData set[2];
    int count = 1;
    if (buttons == 2) {
        set[0] = {0, 1, "Yes"};
        set[1] = {0, 0, "No"};
        count = 2;
    } else if (buttons == 1) {
        set[0] = {0, 1, "OK"};
        set[1] = {0, 0, "Cancel"};
        count = 2;
    } else {
        set[0] = {0, 1, "OK"};
    }
    // A default beyond the buttons shown falls back to the first. Escape is
    // always Cancel or No, whichever button Return picks.
    int def = defbutton >= 0 && defbutton < count ? defbutton : 0;
    set[def].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (count == 2)
        set[1].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;

    SDL_MessageBoxData box = {};
    box.flags = msgbox_iconflag(icon) | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    box.window = sys_window; // owned by the main window once there is one
    box.title = caption;
    box.message = text;
    box.numbuttons = count;
    box.buttons = set;
    int hit = -1;
    if (SDL_ShowMessageBox(&box, &hit) < 0) {
        sys_log("plat_messagebox: no box shown: %s", SDL_GetError());
        return 0;
    }
    return hit == 1;
}
