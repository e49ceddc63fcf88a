// Distance-field smoothing: a mask-like scalar field (0 outside, 1 inside,
// anti-aliased edges between) becomes a signed Euclidean distance in pixels,
// mapped linearly into a new image. Runs on the caller's thread.
#pragma once
#include "img/image.h"

constexpr float img_smoothfar = 999999.0f; // distance of a pixel no seed reached

// New image "%s.smth": offset - scale x (inside distance - outside
// distance) per pixel, distances in pixels from the 0.5 level of the edges.
// Null (reported) when an image slot or the working memory cannot be had.
image *img_scalardistsmooth(const image *img, float scale, float offset);
