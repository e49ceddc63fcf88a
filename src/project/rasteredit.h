// The raster-layer edit pipeline: the Apply of the "Edit Raster" panels.
// layer_processraster computes the edited raster of the selected layer
// (levels, expand/contract, draft angle, column/row and circular tiling,
// quantisation) on the image operations, puts it into the layer whole or
// through the raster selection, records one "layer data" event and asks for
// the display texture and a new canvas. Main thread only.
#pragma once
#include <atomic>
#include <cstdint>

struct image;

// Settings of the expand/contract and draft-angle panels: the horizontal
// radius (project units; negative contracts), the Z radius of the rounded
// rim (project units), "Expand Vertically" (nonzero raises the surface by
// the radius) and the draft angle in degrees.
extern float rasteredit_hradius;
extern float rasteredit_zradius;
extern float rasteredit_vertical;
extern float rasteredit_draftangle;

// The raster-processing busy flag: set while an edit is being computed; the
// pipeline waits for it to clear, and so do the compositions and the gizmo.
extern std::atomic<int32_t> layer_gentex;

// Empty pixels, their opposite, the floor of a "Remove Bottom" layer and the
// fill value below which the dilation takes no pixel.
constexpr float rasteredit_empty = -99999.0f;
constexpr float rasteredit_full = 99999.0f;
constexpr float rasteredit_floor = 1e-6f;
constexpr float rasteredit_dilatemin = -9999.0f;

// Applies the edit project_rastertool names to the selected raster-layer.
// Every call that reaches a raster-layer ends with one "layer data" event
// (equal states when nothing changed) and a composition request.
void layer_processraster();

// True when every pixel of the scalar field is finite; a result that is not
// never enters a layer.
bool rasteredit_finite(const image *img);
