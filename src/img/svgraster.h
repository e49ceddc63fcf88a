// Internal to the SVG reader: draws packed shapes with cairo.
#pragma once
#include "img/svg.h"

// Draws the shapes at (x, y) scaled by scale over the RGBA pixels (width x
// height, rows packed), which must be opaque. 1 on success.
int svg_rasterize(const svg_image *svg, float x, float y, float scale, uint8_t *pixels, int width, int height);
