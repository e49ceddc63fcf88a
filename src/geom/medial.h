// Medial axis of a contour: every polyline moved inward to the centres of its
// largest inscribed circles, each new point carrying the circle's radius as
// its depth. Circles are probed only against the segments registered in the
// 3 x 3 spatial cells around the probed point.
#pragma once
#include <cstdint>

struct contour;

constexpr int con_maxcells = 4096;       // cells of one grid
constexpr int con_maxcellentries = 8192; // segments one cell holds

struct con_cellentry {
    int32_t poly; // polyline index
    int32_t vert; // index of the segment's first point in the vertex buffer
};
struct con_cell {
    con_cellentry *entries; // grows by doubling up to con_maxcellentries
    int32_t count, capacity;
};
// One grid over a contour's bounding box; each cell is at least twice the
// largest radius wide and high.
struct con_cells {
    int32_t nx, ny;
    float ox, oy; // minimum corner
    float cw, ch; // cell width and height
    con_cell *cells; // nx x ny, row by row
};

// A new contour of medial-axis polylines, one per source polyline of more
// than 4 points (link = source index, its closed flag), thinned by
// poly_vertdot(dotmin, lenmin, lenmax). maxrad caps the radius and sets the
// cell size. Empty (logged) for a radius that is not above 0 or not finite
// and when the cells cannot be had; polylines holding points that are not
// finite are left out (logged). Null only when no contour can be made.
contour *con_medialaxis(const contour *c, float maxrad, float dotmin, float lenmin, float lenmax);
// Registers the segment of polyline poly starting at point vert in every
// cell it crosses. A full cell stops the rest of the segment (error line).
void con_addsegtocells(con_cells *cells, const contour *c, int poly, int vert);
// Radius (0.0001 .. maxrad) of the largest circle centred at point + r dir
// (dir a unit vector) that meets no registered segment, leaving out the one
// starting at seg on polyline poly and, with corner set, the one at seg2.
float con_polyop(const con_cells *cells, const contour *c, int poly, int seg, int seg2, const float *point,
                 const float *dir, int corner, float maxrad);
