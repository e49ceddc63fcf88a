// What the viewport leaves for the GUI pass to draw over the 3D view: the
// projected ends of the three axes, the measure tool's read-outs, the
// pointer-capture and handle-drag flags, and the layer gizmo's drawing.
#pragma once
#include <cstdint>

// Projected end of an axis: fractions of the window and the projected depth.
struct view_axisend {
    float x, y, depth;
};
extern view_axisend view_axisends[3]; // X, Y, Z

struct view_measurerecord {
    int32_t on;      // the measure tool is on
    int32_t present; // it has a measurement
    float values[7]; // 3D distance, X, YZ, Y, XZ, Z, XY
    float points[7][2]; // where each is shown, window fractions
};
extern view_measurerecord view_measuretool;

extern int32_t view_capture;        // the viewport holds the pointer
extern int32_t view_gizmodrag[2];   // nonzero while a gizmo handle is dragged

// Draws the selected layer's transform handles in the GUI pass.
void layer_gizmo();
