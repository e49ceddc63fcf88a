// The toolbar strip above the 3D view: the project buttons, the view
// toggles and grid steps, the distance-measure tool, undo and redo, and the
// tutorials button, with the Ctrl+S, Ctrl+E, Ctrl+Z and Ctrl+R keys that act
// as clicks on them.
#pragma once
#include <cstdint>

// The strip is one row of 24 cells; the buttons are as wide as it is high.
constexpr int toolbar_cells = 24;

// Takes the top sector as the strip, splits it and pops it.
void toolbar_draw();

// A grid step one rung coarser (up non-zero) or finer for the units
// (1 inches, 2 metric); other units keep the step.
float toolbar_gridstep(float step, int units, int up);
// The status text of a grid step in the units.
void toolbar_gridtext(char *out, int cap, float step, int units);
