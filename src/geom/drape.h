// Contours against a heightfield: draping a flat contour onto the surface
// within a depth window, keeping the parts of a contour at or below the
// surface, and the signed distance from a point to a polyline, with the
// average signed distance between two polygons built on it.
// The field covers the world box origin .. origin + size (three floats each,
// heights 0..1 of size z); its row y covers world y from origin y upward.
#pragma once
#include "geom/contour.h"

struct image;

// The polylines of c draped on img: each is sampled once per pixel, points
// above zmax cut it into pieces, points below zmin are held at zmin, and each
// piece of more than 2 points is thinned by poly_vertdot(dotmin, lenmin,
// lenmax) and appended open, link = its source polyline. A polyline draped
// whole keeps its closed flag. Null (logged) when the result cannot be made.
contour *con_simplify(const image *img, const contour *c, const float *size, const float *origin, float zmin,
                      float zmax, float dotmin, float lenmin, float lenmax);
// The parts of the polylines of c at or below the surface of img (points,
// and the crossings found by sampling each segment twice per pixel), as open
// polylines with the source's link; a polyline wholly below keeps its closed
// flag. Null (logged) when the result cannot be made.
contour *con_sampleimage(const image *img, const contour *c, const float *size, const float *origin);
// Squared distance in x, y from point to the polyline of count points,
// negative on the left of the nearest segment (y up; positive inside a
// polygon of positive area); unsigned beyond the free ends of an open
// polyline. 9999999 for fewer than 2 points. verbose debug-logs the search.
float con_nearestpoint(const float *point, int closed, int count, const float *verts, int verbose);
