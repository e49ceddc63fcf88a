// The layer gizmo: the on-screen handles that move, size and turn the
// selected layer, or resize the canvas when no layer is selected. The
// viewport places the handles and turns their drags into editor values; the
// gizmo draws them in their state colours, reacts to hover (highlight,
// cursor, tooltip) and to press and release, and commits the edit when a
// grab ends. Runs once a frame in the GUI pass, after the 3D view.
#pragma once
#include "view/readout.h"

#include <cstdint>

// One handle: screen position as fractions of the drawable width and
// height, and a depth (its glyphs stand at GUI depth -depth / 100; a layer
// handle at depth 1 or less lies behind the view).
struct layer_gizmohandle {
    float x, y, depth;
};
constexpr int gizmo_canvashandles = 4;
constexpr int gizmo_layerhandles = 9;

// The handle tables the viewport fills each frame, indexed from 1.
extern layer_gizmohandle gizmo_canvas[gizmo_canvashandles + 1];
extern layer_gizmohandle gizmo_layer[gizmo_layerhandles + 1];
// Grabbed canvas and layer handle, hovered handle (cleared each call), all
// 0 for none; the time the hover on the same handle began.
inline int32_t &gizmo_canvasgrab = view_gizmodrag[0];
inline int32_t &gizmo_layergrab = view_gizmodrag[1];
extern int32_t gizmo_hover;
extern float gizmo_hoverstart;
// The viewport's canvas-handle state: the canvas handles show at 2.
extern int32_t gizmo_canvasstate;
// Apply a handle drag's editor values when the grab ends.
extern int32_t gizmo_applydrags;
// The canvas editor's values the viewport's drag fills: size and the
// origin offset (project units, per axis).
extern float gizmo_canvassize[3];
extern float gizmo_canvasoffset[3];
// The simulation generation's busy flag (the simulation sets it).
extern int32_t gizmo_simbusy;

// Layer-handle tooltips, indexed from 1.
extern const char *const gizmo_tooltips[gizmo_layerhandles + 1];

void layer_gizmo();

// A handle at pixel (hx, hy) is drawn and may be grabbed only at least 16
// pixels from the view's left and top edges.
bool gizmo_shown(float hx, float hy);
// The pointer hovers a handle within 6 pixels in x and in y.
bool gizmo_near(float hx, float hy, float mx, float my);
