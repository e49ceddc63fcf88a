// Distance fields to polygon geometry given in world units: the masked
// distance to a set of closed polylines (optionally through a grid of cells
// indexing the segments), the distance to one polyline folded in by minimum
// with the height and direction of its nearest part, and the band worker of
// the cone under a point (poly_maxdistpoint). All run in row bands.
#pragma once
#include "img/image.h"

#include <cstdint>

constexpr float img_distfar = 9999999.0f; // squared pixels: no segment accepted

// One band of img_scalarmaskeddistpolys (job "distpolys").
struct distpolys_job {
    int32_t width, height;
    int32_t row0, row1; // rows row0 .. row1 - 1
    float size[3], origin[3]; // world rectangle of the field
    const float *points;      // x, y, z of every polyline, back to back
    float *pixels;
    float scale, outside;
    int32_t columns, rows; // cells
    const int32_t *cells;  // head node of each cell, -1 empty
    const int32_t *nodes;  // 4 words a node: polyline's first and last point, segment's first point, next
    const int32_t *filled; // (columns + 1) x (rows + 1) running counts of non-empty cells, or null
    int32_t gridded;
    int32_t done;
};

// One band of img_scalardistpoly (job "distpoly").
struct distpoly_job {
    int32_t count; // points
    int32_t width;
    int32_t row0, row1;
    float origin[3];
    const float *points;
    float kx, ky; // pixels per world unit
    float scale;
    float *distance;  // the band's first row
    float *height;    // the band's first row, or null
    int16_t *direction; // the band's first row (two values a pixel), or null
    int32_t done;
};

// One band of the cone under a point (job "distpoint").
struct distpoint_job {
    int32_t width, height;
    int32_t row0, row1;
    float *pixels;       // the field's first row
    float unitx, unity;  // world units per pixel
    float apex[3];       // x, y relative to the field's origin; z the tip height
    int32_t done;
};

// In place: pixels <= 0 become outside; the others scale x their distance in
// pixels to the closed polylines (each with its first point repeated at the
// end). Without gridded a segment also counts past its ends, within the
// sides its neighbours accept; with it the exact segment distance is found
// through the cell grid. 0, or -1 (logged) on bad arguments.
int img_scalarmaskeddistpolys(image *field, float outside, float scale, const float *size, const float *origin,
                              int polycount, const int32_t *counts, const float *points, int gridded);
// Folds scale x the distance to one polyline (or point) into dist by
// minimum; where it replaces the stored value, height (a scalar field) takes
// the nearest part's height and direction (two signed 16-bit values a pixel)
// its unit direction x 32767. The optional fields may be null and must have
// dist's size. 0, or -1 (logged) on bad arguments.
int img_scalardistpoly(image *dist, image *height, image *direction, float scale, const float *size,
                       const float *origin, int count, const float *points);

void job_distpolys(void *band);
void job_distpoly(void *band);
// Raises the band's rows to the cone of slope 1 under the apex.
void job_maxdistpoint(void *band);
