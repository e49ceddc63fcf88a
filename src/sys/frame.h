// The frame clock and counter that the whole program reads as "now". The
// frame loop itself drives them; until it runs they stay at their start
// values.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<double> sys_time;  // the frame's now, seconds since start
extern double sys_frametime;          // step between the last two wake-ups
extern uint64_t sys_framecount;       // frames run by the main loop
extern int sys_framemutex;            // held by the main thread while a frame runs
