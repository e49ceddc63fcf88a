// Trochoidal milling: pockets cleared by loops that keep the cutter's
// engagement to one stepover, cut per pocket and level by cam_startcuts.
// Type 15 clears the flat pockets of a threshold or of paths; type 14
// follows the canvas relief level by level.
#pragma once

struct contour;

// Winding of a closed polyline (count points x, y, z) around (x, y): 1 when
// it winds around it (either sense), else 0.
int troch_winds(const float *verts, int count, float x, float y);

// Pockets and islands of the 2D generator's outlines: a polyline of
// positive area is a pocket (owner[p] = p); any other is an island of the
// smallest pocket not smaller than it that winds around its first point
// (owner[p] = that pocket), or, with none, is left out (owner[p] = -1,
// logged). owner holds k's numpolys entries. Returns the islands left out.
int troch_islandroots(const contour *k, int *owner);

// The job of operation type 14.
void cam_trochoidal(void *op);
// The job of operation type 15.
void cam_trochpock(void *op);
