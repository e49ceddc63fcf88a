// One frame of the program on the main thread, the frame clock and counter
// that the whole program reads as "now", and the window state the frame
// keeps. The frame mutex is held by the main thread except while a frame
// waits out its period, which is when jobs that need OpenGL run.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<double> sys_time; // the frame's now, seconds since start
extern double sys_frametime;         // step between the last two wake-ups
extern double sys_frameavg;          // smoothed work time of a frame
extern int32_t sys_stallmark;        // whole seconds when the last long frame ended
extern uint64_t sys_framecount;      // frames run by the main loop
extern int sys_framemutex;           // mutex id of the frame mutex
extern int sys_active;               // the window has focus and is not minimised
extern int sys_minimised;
// A redraw request for the 3D view: any code that changes the picture sets
// it, from any folder and thread; the frame clears it once the view is drawn.
extern std::atomic<int> view_redraw;

// The clock the pacing reads; sys_seconds unless a test drives time itself.
extern double (*sys_clock)();

// The period a frame waits out: 1 / framerate held to 1/240 .. 0.05 s and
// the budget to 0.1 .. 1.0 (an inactive window runs at 0.05 s and 0.1),
// stretched to frameavg / budget when the work takes more than the
// budget's share of the period.
float sys_frameperiod(int framerate, float budget, int active, double frameavg);

void sys_frame();
// The window title as last set, also without a window.
extern char sys_title[1024];
// Formats the window title.
void sys_settitle(const char *format, ...) __attribute__((format(printf, 1, 2)));
