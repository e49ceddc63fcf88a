// Value mappings: the levels curve that reshapes the heights of a scalar
// field (raster "adjust levels" and layer depth generation), blending into a
// part of an image given in 0..1 units, and single-colour conversions
// between hue-saturation-value and red-green-blue for the GUI.
#pragma once
#include "img/image.h"

constexpr int levels_maxpoints = 16;

// The levels settings: control points (input, output), ascending in input,
// both normally 0..1; the points in use; the curve mode (0 linear,
// 1 smoothstep, 2 quadratic, 3 cubic).
struct levels_curve {
    float points[levels_maxpoints][2];
    int count;
    int mode;
};

// A copy of the scalar field (same name) with every value at or above
// threshold mapped through the first n points of curve in mode. Values
// outside the points take the nearest end point's output. Null, logged,
// when n is not 1 .. levels_maxpoints.
image *img_levels(const image *img, int mode, float threshold, const levels_curve *curve, int n);
// Blends source into the part {left, top, right, bottom} (0..1 units of the
// target) with img_blendrect.
void img_samplerect(image *target, const image *source, int mode, const float *rect);
// Colours are three floats in 0..1; a hue of 1 is a full turn.
void img_hsvtorgb(float *rgb, const float *hsv);
void img_rgbtohsv(float *hsv, const float *rgb);
