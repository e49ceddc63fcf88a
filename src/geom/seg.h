// Intersection of two lines given by point pairs, in double precision. Used
// by the generators that offset and join polylines.
#pragma once

// Intersects the infinite lines through a1-a2 and b1-b2 (x and y of each
// point are read). out = {x, y, flag}: flag 0 with the point, which may lie
// outside both segments; flag -1 with (0, 0) when a pair is shorter than
// 1e-9 on both axes or the lines are parallel.
void seg_intersect(double *out, const double *a1, const double *a2, const double *b1,
                   const double *b2);
