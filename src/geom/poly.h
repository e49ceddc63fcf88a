// Polyline routines: thinning a polyline by its turns and segment lengths,
// stamping the cone under a point into a scalar field on the workers, and
// clipping a line to a rectangle.
// Points are three floats x, y, z, stored back to back.
#pragma once

struct image;

// Thins count points in place and returns the new count (first and last
// points kept). Turns whose dot product of unit directions is below dotlimit
// are corners and stay; points closer than minlen to the last kept point go
// unless they turn sharper; gaps longer than maxlen get points inserted while
// there is room in front of the read position. Distances count dz twice.
int poly_vertdot(int count, float *verts, float dotlimit, float minlen, float maxlen);
// Raises a scalar field covering the world rectangle origin .. origin + size
// (x, y) to the cone of slope 1 whose tip is point (x, y world, z height).
// point's x and y are made relative to origin and written back. Returns 0, or
// -1 (logged) when the field or the rectangle is unusable. The bands run
// job_maxdistpoint (img/distance.h).
int poly_maxdistpoint(image *field, const float *size, const float *origin, float *point);
// Clips the line through origin with direction dir (x, y; z follows along)
// to the rectangle box (min x, min y, max x, max y). The box's edges are
// numbered 0 left (upward), 1 top, 2 right, 3 bottom; starting at edge
// startedge and going round, the first edge the line crosses gives a and the
// next one that gives another point gives b. 1 when both exist, else 0 (a
// line that misses the box or only touches a corner).
int poly_parallel(const float *origin, const float *dir, const float *box, int startedge, float *a, float *b);
// Average signed distance between two polygons (counts, points, closed
// flags): every k-th point (k about sqrt(m) / 2 + 1) of one polygon measured
// by con_nearestpoint against the other, each sample as sign x sqrt(|v|).
// Polygon 1 is sampled unless polygon 2 runs negative, when polygon 2 is
// sampled and the mean negated. -9999999 when the sampled one has no points.
float poly_sidepoly(int count1, const float *poly1, int flags1, int count2, const float *poly2, int flags2,
                    int verbose);
// poly_sidepoly of two polygons of the same orientation (both areas positive,
// or both not); -9999999 when they differ.
float poly_sidepolycmp(int count1, const float *poly1, int flags1, int count2, const float *poly2, int flags2,
                       int verbose);
