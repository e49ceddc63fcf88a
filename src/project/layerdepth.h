// Depth maps of layers: each raster-, model- and text-layer turned into a
// scalar field of canvas heights (0 bottom, 1 top of the canvas volume),
// whole for the full composition or a rectangle of a raster-layer's cached
// map after a brush edit. Both run on the composition worker.
#pragma once
#include "project/canvas.h"

#include <cstdint>

struct image;

// A new "laydepth%02d" map of width x height for layer slot, owned by the
// caller: the layer's content stamped into its Z fill. Null for a paths-
// layer, a raster-layer without data, a bad slot or a failed allocation.
image *layer_gendepth(int slot, int width, int height);
// Rebuilds the rectangle rect (x0, y0, x1, y1, pixels of the installed
// canvas, ends exclusive) of a raster-layer's cached depth map in place, the
// same heights layer_gendepth gives there, and clears the stale flag; any
// other layer, and a rectangle outside the map, leave flag and cache alone.
void layer_generatedepth(int slot, const int32_t *rect);
