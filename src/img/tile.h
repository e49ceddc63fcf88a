// Generators of scalar fields for raster-layer processing and depth
// generation: a field repeated in a grid of tiles, repeated around a ring,
// and a tilted plane. All run on the caller's thread and return new images
// that the caller frees.
#pragma once
#include "img/image.h"

// "%s.rp2d" of the source's size: columns x rows copies, each filling the
// fractions fillx, filly (0.01 .. 1) of its cell, the first touching the
// top-left edges and the last the bottom-right ones. Null on bad arguments
// (logged) or when the image cannot be allocated.
image *img_scalartile2d(const image *img, int columns, int rows, float fillx, float filly);
// Square "%s.rpcl": count copies around a ring of radius pixels, each as long
// as 1/count of the circle with the source's aspect kept, filling the share
// fill of its arc, turned by phase (in copies). A negative radius mirrors the
// ring. Null on bad arguments (logged) or when the image cannot be allocated.
image *img_scalartilecircular(const image *img, int count, float radius, float fill, float phase);
// "tilt%d_%d" of width x height: a plane through 0 at the image's centre,
// sloping tan(angley) x scale per pixel along x and tan(anglex) x scale
// along y (angles in degrees). Null when the image cannot be allocated.
image *img_scalartilt(int width, int height, float anglex, float angley, float scale);
