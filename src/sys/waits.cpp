// Bounded waits. The sleep grows from 1 ms to 20 ms: a short hand-over is
// seen at once, a long one costs little processor time, and a quit is
// noticed within 20 ms.
#include "sys/waits.h"

#include <SDL.h>

#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"

int sys_waituntil(const std::function<bool()> &done, double limit, const char *caller)
{
    const double start = sys_seconds();
    uint32_t sleep = 1;
    for (;;) {
        if (done())
            return 1;
        if (sys_quit.load(std::memory_order_acquire))
            return 0;
        if (sys_seconds() - start >= limit) {
            sys_log("%s: gave up waiting after %.0fs", caller, limit);
            return 0;
        }
        SDL_Delay(sleep);
        sleep = sleep < 20 ? sleep * 2 : 20;
    }
}

int sys_waitunlocked(const std::function<bool()> &done, double limit, const char *caller)
{
    // Work already done costs no round trip through the mutex.
    if (done())
        return 1;
    const bool release = sys_onmainthread() && sys_framemutex >= 0;
    if (release)
        sys_unlockmutex(sys_framemutex);
    const int result = sys_waituntil(done, limit, caller);
    if (release)
        sys_lockmutex(sys_framemutex);
    return result;
}
