// Contours: sets of up to 65,536 polylines over one buffer of 4,194,304
// points. Producers append polylines back to back; a closed polyline repeats
// its first point. Whoever makes a contour frees it with cont_free.
#pragma once
#include <cstdint>

constexpr int cont_maxpolys = 65536;
constexpr int cont_maxverts = 4194304;

struct contour {
    uint32_t numpolys;
    uint32_t numverts; // 0 also means "not counted yet"
    uint32_t vertcount[cont_maxpolys];
    int32_t link[cont_maxpolys]; // tag per polyline; -1 none
    uint32_t closed[cont_maxpolys];
    float *verts; // cont_maxverts points of x, y, z
};

extern int cont_count; // contours alive, for the allocator's failure report

// A zeroed contour with its own vertex buffer, or null (logged).
contour *cont_new();
// Frees the contour and its buffer; null is ignored.
void cont_free(contour *c);
