// The clipboard pair over SDL, and the in-process store used while no video
// subsystem exists (tests, a headless run).
#include "platform/clipboard.h"

#include "sys/log.h"

#include <SDL.h>

#include <cstdio>
#include <string>

static std::string clipboard_store;

int plat_setclipboard(const char *text)
{
    if (!text)
        text = "";
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        clipboard_store = text;
        return 1;
    }
    if (SDL_SetClipboardText(text) != 0) {
        sys_log("plat_setclipboard: %s", SDL_GetError());
        return 0;
    }
    return 1;
}

int plat_getclipboard(char *out, int cap)
{
    if (!out || cap <= 0)
        return 0;
    out[0] = 0;
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return snprintf(out, (size_t)cap, "%s", clipboard_store.c_str()) >= cap ? cap - 1 : (int)clipboard_store.size();
    char *text = SDL_GetClipboardText();
    if (!text) {
        sys_log("plat_getclipboard: %s", SDL_GetError());
        return 0;
    }
    int n = snprintf(out, (size_t)cap, "%s", text);
    SDL_free(text);
    return n >= cap ? cap - 1 : n;
}
