// What the viewport leaves for the GUI pass to draw over the 3D view: the
// projected ends of the three axes, the measure tool's read-outs and the
// grabbed gizmo handles. The pointer-capture flag view_capture is declared
// with the element model that reads it.
#pragma once
#include "gui/element.h" // view_capture, which the toolkit reads

#include <cstdint>

// Projected end of an axis: fractions of the window and the projected depth.
struct view_axisend {
    float x, y, depth;
};
extern view_axisend view_axisends[3]; // X, Y, Z
extern view_axisend view_axisorigin;  // just off the origin, where the axes meet

struct view_measurerecord {
    int32_t on;      // the measure tool is on
    int32_t present; // it has a measurement
    float values[7]; // 3D distance, X, YZ, Y, XZ, Z, XY
    float points[7][2]; // where each is shown, window fractions
};
extern view_measurerecord view_measuretool;

extern int32_t view_toolpathsvisible; // toolpaths are drawn (toolbar toggle)
extern float view_cursorpoint[3];     // canvas point under the pointer, project units (status line)

// The grabbed canvas and layer handle of the gizmo (view/gizmo.h), 0
// none: nonzero while a handle is dragged.
extern int32_t view_gizmodrag[2];
