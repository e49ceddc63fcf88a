// Cutter profiles and the working images of the generators: the tool's
// surface as a dilation kernel at canvas resolution, the leave-stock growth
// of the canvas, and the margins added to or taken from a working image with
// its size and origin kept in step. Heights are in canvas-depth units (a
// length over the canvas size z); every returned image belongs to the caller.
#pragma once

struct image;

// The cutter of tool index n (0-based) as a kernel for grey-scale dilation:
// 0 under the tip, minus the tool's height above the tip elsewhere, far below
// beyond the cutter. width is the working image's width in pixels, maxdepth
// (project units) the deepest the tool will cut. Null for a tool type above 4
// or when an image cannot be had.
image *cam_gentoolprofile(int n, const float *size, int width, float maxdepth);
// img grown by a sphere of radius stock (project units): the surface a tool
// must keep to for that much stock to stay everywhere. Null on failure.
image *cam_leavestock(const image *img, const float *size, float stock);
// img with pad (project units) added on every side, rounded up to whole
// pixels: filled with 0 (mode 0), 256 (mode 1, far above any level) or the
// nearest edge pixel (mode 2). size and origin (x, y) grow to match; frac
// receives origin / size.
image *cam_padimage(const image *img, float *size, float *origin, float *frac, float pad, int mode);
// img with one pixel added on every side, 256 when raised else 0.
image *cam_borderimage(const image *img, float *size, float *origin, float *frac, int raised);
// img without a border of the given distance (rounded up to whole pixels),
// "%s.dr". Null, geometry untouched, when the border takes the whole image.
image *cam_cropborder(const image *img, float *size, float *origin, float *frac, float border);
