// Polyline routines: thinning a polyline by its turns and segment lengths,
// and stamping the cone under a point into a scalar field on the workers.
// Points are three floats x, y, z, stored back to back.
#pragma once
#include <atomic>
#include <cstdint>

struct image;

constexpr int poly_conebands = 64;

// One row band of the cone stamp; lives in the stamping caller's frame.
struct poly_coneband {
    int32_t width, height;
    int32_t row0, row1; // rows row0 .. row1 - 1
    float *pixels;      // the field's first row
    float unitx, unity; // world units per pixel
    float apex[3];      // x, y relative to the field's origin; z the tip height
    std::atomic<int> done;
};

// Thins count points in place and returns the new count (first and last
// points kept). Turns whose dot product of unit directions is below dotlimit
// are corners and stay; points closer than minlen to the last kept point go
// unless they turn sharper; gaps longer than maxlen get points inserted while
// there is room in front of the read position. Distances count dz twice.
int poly_vertdot(int count, float *verts, float dotlimit, float minlen, float maxlen);
// Raises a scalar field covering the world rectangle origin .. origin + size
// (x, y) to the cone of slope 1 whose tip is point (x, y world, z height).
// point's x and y are made relative to origin and written back. Returns 0, or
// -1 (logged) when the field or the rectangle is unusable.
int poly_maxdistpoint(image *field, const float *size, const float *origin, float *point);
// Band worker of poly_maxdistpoint (job "distpoint"); sets the band's done flag.
void job_maxdistpoint(void *band);
