// Anti-aliased fill of closed polylines into a scalar field, even-odd both
// along each scanline and across polylines: nested rings cut holes. The
// shapes-from-paths layers and the paths inputs of the CAM generators use it.
#pragma once

struct contour;
struct image;

// A new width x height scalar field "confill" holding each pixel's covered
// share (samples x samples subsamples per pixel side) of the polylines of c.
// corner is the world point (x, y) of the first pixel's corner and size the
// world extent (x, y; y negative when rows run down in y). Null (logged)
// when the images cannot be had or a fill fails.
image *con_fill(const contour *c, const float *corner, const float *size, int width, int height, int samples);
