// Chevron carving: rows of zig-zag polylines turned by a user angle, spaced
// so that parallel legs of neighbouring rows lie one stepover apart, clipped
// to the canvas and cut level by level with Parallel's shared steps.
#pragma once
#include "cam/parallel.h"

// The pattern clipped to the rectangle (xmin, ymin, xmax, ymax), polyline by
// polyline: vertices inside (bounds included) are kept, boundary crossings
// end and start pieces, and a segment passing through the rectangle is a
// two-point piece of its own. Null (logged) when the pieces do not fit.
contour *camop_chevronclip(const contour *pattern, const float rect[4]);

// The job function of operation type 2, "Chevron Carving".
void camop_chevron(void *op);
