// The logging X error handler. libX11 is reached through SDL's object
// loader, as SDL itself loads it: the program does not link X11.
#include "platform/xerrors.h"

#include "sys/log.h"

#include <SDL.h>

namespace {

// The first fields of Xlib's XErrorEvent, which are stable across its
// versions: only the codes are read.
struct plat_xerrorevent {
    int type;
    void *display;
    unsigned long resourceid;
    unsigned long serial;
    unsigned char errorcode;
    unsigned char requestcode;
    unsigned char minorcode;
};

int plat_xerror(void *, plat_xerrorevent *e)
{
    sys_log("X error %d on request %d.%d (resource 0x%lx) ignored", (int)e->errorcode, (int)e->requestcode,
            (int)e->minorcode, e->resourceid);
    return 0;
}

} // namespace

int plat_xerrors()
{
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!driver || SDL_strcmp(driver, "x11") != 0)
        return 0;
    void *lib = SDL_LoadObject("libX11.so.6");
    if (!lib)
        return 0;
    using handlerfn = int (*)(void *, plat_xerrorevent *);
    using setfn = handlerfn (*)(handlerfn);
    auto set = (setfn)SDL_LoadFunction(lib, "XSetErrorHandler");
    if (!set)
        return 0;
    set(plat_xerror);
    return 1;
}
