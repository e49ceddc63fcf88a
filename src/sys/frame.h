// One frame of the program on the main thread, and the frame clock and
// counter that the whole program reads as "now". The frame mutex is held by
// the main thread except while a frame waits out its period, which is when
// jobs that need OpenGL run.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<double> sys_time;  // the frame's now, seconds since start
extern double sys_frametime;          // step between the last two wake-ups
extern uint64_t sys_framecount;       // frames run by the main loop
extern int sys_framemutex;            // mutex id of the frame mutex

void sys_frame();
