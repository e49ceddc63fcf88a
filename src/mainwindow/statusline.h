// The status strip at the bottom of the window: the status text, which
// blinks for a moment after it changes, the 3D cursor position, the
// project's units and the memory in use with the frame rate.
#pragma once
#include <cstdint>

// Takes the top sector as the strip, splits it and pops it.
void statusline_draw(int fps);

// "512.0MB / 60FPS" below 512 MiB, "0.50GB / 60FPS" from there.
void statusline_memtext(char *out, int cap, uint64_t bytes, int fps);
// The share of the highlight colour in the status text, elapsed seconds
// after it changed: 1.0 and 0.2 in turn every 0.2 s for 0.8 s, then 0.
float statusline_blink(float elapsed);
// "X:+1.000\" Y:..." for the point in the units (0 none, 1 inches, 2 metric).
void statusline_cursortext(char *out, int cap, const float point[3], int units);
