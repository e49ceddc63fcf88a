// Fillet carving: a round-over of height z_max - z_min along the edge of a
// region (the canvas above a level, or the inside or outside of paths), cut
// by short strokes across the edge at stepover spacing, each following the
// rounded surface offset by the cutter.
#pragma once

constexpr int vertprof_maxstrokes = 65536; // one contour of two-point strokes

struct camop;
struct contour;

// Adds the conformed stroke pieces (link = stroke index) to toolpath slot
// as cuts in order: pieces under 4 points are skipped; op's direction 1
// runs every cut from its outer end, 2 turns the direction whenever a piece
// comes from another stroke than the one before, and with flag 0x4 links a
// cut starting within 1.5 x step of the previous end. The cuts added.
int vertprof_addcuts(int slot, const camop *op, float step, const contour *pieces);

// The job of operation type 17.
void cam_vertprof(void *op);
