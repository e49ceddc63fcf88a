// The widgets that edit a number by dragging: the horizontal slider, the
// rotary knob and the vertical scroll bar. The caller owns the number: each
// call takes it and returns the new one. Slider and knob capture the mouse
// in relative mode while dragged; the GUI pass ends that on the release.
#pragma once
#include <cstdint>

extern float gui_scrollposition;  // set by the caller before gui_scrollbar, 0..1
extern float gui_scrollrepeattime; // earliest time a track press moves the thumb again
extern double gui_knobspeed;      // base speed of every knob, 1 by default

// The value snapped to the step (unsnapped with step 0); min when min = max.
float gui_valueslider(int32_t id, const char *fmt, float value, float min, float max, float step);
// The value snapped to the step. A step of 0 is refused (logged): the knob
// shows the value as given and takes no input.
float gui_valueknob(int32_t id, const char *fmt, float value, float min, float max, float step);
// The new scroll position, 0..1, from gui_scrollposition, gui_scrollextent
// and gui_scrolloffset; the extent is reset to 0.
float gui_scrollbar(int32_t id);
