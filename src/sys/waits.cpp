// Bounded waits. The sleep grows from 1 ms to 20 ms: a short hand-over is
// seen at once, a long one costs little processor time, and a quit is
// noticed within 20 ms.
#include "sys/waits.h"

#include <SDL.h>

#include "sys/log.h"
#include "sys/main.h"

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
