// The last step of the viewport's frame: the automatic backup of an edited
// project once the user pauses and the program is idle, and the redraw
// requests of the fast view and of a change of raster tool.
#pragma once
#include <cstdint>

// Set by the layer and canvas drags; cleared by the first frame without a
// drag of the view (gizmo, brush or camera).
extern uint32_t view_manipulating;
extern uint32_t view_fastview;      // the simplified drawing is in effect
extern int32_t view_lastrastertool; // the raster tool of the previous frame, -1 at start

// The number of the open numbered dialog, 0 none: the backup waits while
// one is open. Reads 0 until the main window points it at its dialog switch.
extern int32_t (*view_dialogid)();

// Every frame: a change a job posted, the backup decision, then the redraw
// requests of the fast view and of a new raster tool.
void view_backup();
