// The frame clock and counter.
#include "sys/frame.h"

std::atomic<double> sys_time{0.0};
double sys_frametime = 0.0;
uint64_t sys_framecount = 0;
int sys_framemutex = -1;
