// The viewport's mouse model, which every mouse interaction of the canvas
// shares: the press record, whether the mouse moved since (a click is a
// release without), the canvas point under the pointer, whether the view
// owns the mouse and grid snapping. On it sits the plainest interaction: a
// click on a layer's area selects that layer.
#pragma once
#include "project/project.h"

#include <cstdint>

// Where the mouse was and how far the camera stood when the left or right
// button was last pressed.
struct view_pressrecord {
    float x, y; // window pixels
    float distance;
};
extern view_pressrecord view_press;
// This frame's motion measure against the press record, and whether it
// counts as still: at most 2 pixels, or a zoom of at most 2 units.
extern float view_motion;
extern int32_t view_mousestill;
// The canvas point under the pointer with the origin offset added
// (infinity without one), and whether it lies on the canvas.
extern float view_hover[3];
extern int32_t view_hoverinside;

// Each layer's outline as it appears on screen: its bottom and top
// rectangles in device coordinates, closed (the first corner repeated).
// Kept here, not in the layer record, whose layout undo blobs fix.
struct view_outlinerecord {
    float bottom[5][3];
    float top[5][3];
};
extern view_outlinerecord view_outlines[project_maxlayers];

// The main window's pointer capture: nonzero while it owns the mouse. Reads
// 0 until the main window points it at its flags.
extern int32_t (*view_windowcapture)();

// 1 when no GUI element is hot or pressed and neither the main window nor
// a gizmo handle holds the mouse.
int view_ownsmouse();
// Snaps x and y of a canvas point to the configured grid when snapping is on.
void view_snap(float *point);
// Projects the outline of layer slot with its transform already applied to
// the matrix (view_calls->project), into view_outlines.
void view_projectoutline(int slot);
// The layer under device point (x, y): the smallest-area candidate, the
// later slot among equals; -1 when none. Logs each candidate.
int view_picklayer(float x, float y);
// Phase 16's mouse tracking and picking; the handlers of project mode 1.
void view_mouse();
