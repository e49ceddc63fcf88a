// Scan conversion of world-unit geometry into existing images, on the
// calling thread: the even-odd, supersampled fill of a polygon into a scalar
// field as coverage, and the quad rasteriser that writes inverse-bilinear
// (u, v) coordinates into a UV map (two u16 per pixel, value x 65535).
#pragma once
#include "img/image.h"

constexpr int img_maxactiveedges = 256;

// One polygon or quad edge, in (supersampled) pixel units.
struct img_filledge {
    float top;    // y of the upper end
    float bottom; // y of the lower end
    float x;      // current x; starts at the upper end's x
    float dxdy;
};
static_assert(sizeof(img_filledge) == 16, "fill edges are 16 bytes");

// qsort comparators of img_filledge: by current x; by top y. -1, 0 or 1.
int img_fillpolycmpa(const void *a, const void *b);
int img_fillpolycmpb(const void *a, const void *b);

// Adds the coverage of the polygon through count vertices (x, y, z; z
// unused) to the scalar field img, which covers the world rectangle origin
// .. origin + size (two floats each): a pixel wholly inside gains 1.0, an
// edge pixel its covered share of subsamples x subsamples samples. Edges
// join consecutive vertices only, so a closed ring repeats its first vertex.
// bounds, when given, receives the pixel box of the vertices {floor(min x),
// floor(min y), ceil(max x), ceil(max y)}, unclipped. 0, or -1 (logged) on
// bad arguments or a failed allocation.
int img_scalarfillpoly(image *img, const float *size, const float *origin, int count, const float *verts,
                       int subsamples, int *bounds);

// Rasterises the quad of four vertices (x, y, z each; outline 0-1-3-2) with
// their (u, v) pairs into the UV map img covering origin .. origin + size
// (three floats each, z unused). A pixel takes the new coordinates when the
// new u lies nearer 0.5 than the stored one. clamp 0 wraps u and v into
// [0, 1), otherwise they are clamped to [0, 1]. 0, or -1 (logged) on bad
// arguments.
int img_scalarrasterquad(image *img, const float *size, const float *origin, const float *verts, const float *uvs,
                         int clamp);

// Draws the polyline of count points (x, y, z) into the scalar field img,
// which covers the world box origin .. origin + size (three floats each; z
// maps to 0..1), raising each pixel it passes to the interpolated height and
// never lowering one. Samples outside the image are skipped. rect, when
// given, receives the pixel box of the points {min x, min y, max x + 1,
// max y + 1} truncated toward zero, unclipped; {99999, 99999, -99999,
// -99999} for a single point. Bad arguments are logged and draw nothing.
void img_rasterizepolymax(image *img, const float *size, const float *origin, int count, const float *verts,
                          int *rect);
// The part of segment a-b (x, y, z each) up to parameter upto (0..1) drawn
// as img_rasterizepolymax draws the whole segment, sample for sample, so a
// segment cut short now and drawn whole later leaves exactly the whole
// segment's pixels. rect, when given, gets the pixel box from a to the
// point at upto.
void img_rasterizesegmax(image *img, const float *size, const float *origin, const float *a, const float *b,
                         double upto, int *rect);
