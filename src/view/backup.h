// The last step of the viewport's frame: the automatic backup of an edited
// project once the user pauses and the program is idle, and the redraw
// requests of the fast view and of a change of raster tool.
#pragma once
#include <cstdint>

extern uint32_t view_manipulating; // the view or a layer is being dragged this frame
extern uint32_t view_fastview;     // the simplified drawing is in effect
extern int32_t view_lastrastertool;

void view_backup();
