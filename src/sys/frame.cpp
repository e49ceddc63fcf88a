// The frame: wait out the period with the frame mutex released, swap, and
// handle window events. KERFMILL_QUIT_AFTER_FRAMES ends the program after a
// given number of frames, so tests can run it to a clean exit.
#include "sys/frame.h"

#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"

#include <SDL.h>

#include <cstdlib>

std::atomic<double> sys_time{0.0};
double sys_frametime = 0.0;
uint64_t sys_framecount = 0;
int sys_framemutex = -1;

static constexpr double frame_period = 1.0 / 60.0;

static void frame_wait()
{
    double prev = sys_time;
    sys_unlockmutex(sys_framemutex);
    for (;;) {
        sys_time = sys_seconds();
        sys_frametime = sys_time - prev;
        double ms = (frame_period - sys_frametime) * 1000.0;
        if (ms < 0.1)
            break;
        if (ms > 1.0)
            SDL_Delay((Uint32)(ms - 1.0));
    }
    sys_lockmutex(sys_framemutex);
}

static void frame_events()
{
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE)
            sys_quit = 1;
    }
}

static void frame_quitseam()
{
    static const char *limit = getenv("KERFMILL_QUIT_AFTER_FRAMES");
    if (limit && sys_framecount + 1 >= strtoull(limit, nullptr, 10))
        sys_quit = 1;
}

void sys_frame()
{
    frame_wait();
    if (sys_window)
        SDL_GL_SwapWindow(sys_window);
    frame_events();
    frame_quitseam();
}
