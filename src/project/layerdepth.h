// Depth maps of layers: each raster-, model- and text-layer turned into a
// scalar field of canvas heights (0 bottom, 1 top of the canvas volume),
// whole for the full composition or a rectangle of a raster-layer's cached
// map after a brush edit. Both run on the composition worker.
#pragma once
#include <cstdint>

struct image;

// The mode of the running (or last) full composition, 0 none; the
// composition sets it. Mode 1 works at the canvas quality's reduced size.
extern uint32_t jobmode;

// A new "laydepth%02d" map of width x height for layer slot, owned by the
// caller: the layer's content stamped into its Z fill. Null for a paths-
// layer, a raster-layer without data, a bad slot or a failed allocation.
image *layer_gendepth(int slot, int width, int height);
// Rebuilds the rectangle rect (x0, y0, x1, y1, pixels of the installed
// canvas, ends exclusive) of a raster-layer's cached depth map in place, the
// same heights layer_gendepth gives there, and clears the stale flag.
void layer_generatedepth(int slot, const int32_t *rect);
