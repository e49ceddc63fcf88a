// Stamping one image into another in place: a clipped copy at an integer
// offset, and the rotated, scaled and possibly mirrored stamp that places
// layers, tool profiles and brush strokes (with a twin for vector images).
// Target rows are split into bands (bands.h).
#pragma once
#include "img/image.h"

#include <cstdint>

// Band of img_simplestamp over source rows [row0, row1) and columns [col0, col1).
struct img_simplestampband {
    const image *src;
    image *dst;
    int ox, oy;
    int col0, col1;
    int row0, row1;
    int done;
};

// Stamp matrix in row order {m00, m01, 0; m10, m11, 0; cx, cy, 0}: target
// pixel (x, y) reads source position ((x - px) m00 + (y - py) m10 + cx,
// (x - px) m01 + (y - py) m11 + cy).
struct img_superstampband {
    int row0, row1; // target rows
    int width, height; // the target's
    float threshold;
    int invert;
    int done;
    float matrix[9];
    float size[3];     // footprint width and height (negative mirrors), value factor
    float position[3]; // target pixel under the source's centre, value offset
    float *dst;        // first target pixel of the band
    const image *src;  // the working source
};

struct img_vecstampband {
    const image *src;  // the working source
    void *dst;         // first target pixel of the band (vector pixels)
    int row0, row1;
    int width, height;
    float matrix[9];
    float size[3];
    float position[3];
    int done;
};

// The one 64-bit offset argument of img_simplestamp: x in the low half, y in the high.
inline int64_t img_stampoffset(int x, int y)
{
    return (int64_t)((uint64_t)(uint32_t)y << 32 | (uint32_t)x);
}

// Copies the scalar source into the target with its pixel (0, 0) at the
// offset, clipped to the target.
void img_simplestamp(const image *source, image *target, int64_t offset);
// Stamps the scalar source about position (px, py; pz added to every value)
// with footprint size (sw, sh; sd multiplies every value) turned by angle
// degrees. Samples below threshold are skipped; invert stamps 1 - s. A source
// denser than the footprint is first shrunk to it. Footprint sides under one
// pixel are taken as one.
void img_superstamp(const image *source, image *target, const float *position, const float *size, float angle,
                    float threshold, int invert);
// img_superstamp for vector images: components scaled and offset, never
// rotated; no threshold.
void img_vecsuperstamp(const image *source, image *target, const float *position, const float *size,
                       float angle);
// Fills the first 9 floats of matrix for angle (any number of turns), the
// source steps per target pixel kx, ky and the source centre; the four
// quarter turns are exact.
void img_stampmatrix(float angle, float kx, float ky, float cx, float cy, float *matrix);

void job_simplestamp(void *band);
void job_superstamp(void *band);
void job_vecsuperstamp(void *band);
