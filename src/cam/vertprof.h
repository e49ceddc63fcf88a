// Fillet carving: a round-over of height z_max - z_min along the edge of a
// region (the canvas above a level, or the inside or outside of paths), cut
// by short strokes across the edge at stepover spacing, each following the
// rounded surface offset by the cutter.
#pragma once

constexpr int vertprof_maxstrokes = 65536; // one contour of two-point strokes

// The job of operation type 17.
void cam_vertprof(void *op);
