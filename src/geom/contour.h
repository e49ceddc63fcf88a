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
// The polylines one contour may hold, at most cont_maxpolys (the table's
// size). Only tests lower it, to fill contours from small canvases quickly.
extern int cont_polyroom;

// A zeroed contour with its own vertex buffer, or null (logged).
contour *cont_new();
// Frees the contour and its buffer; null is ignored.
void cont_free(contour *c);

// The one checked way to add a polyline: copies count points (x, y, z) to the
// end of c with its closed flag and link. Refuses (0, logged under caller's
// name) a polyline of no points and one that would pass cont_maxpolys or
// cont_maxverts; 1 when appended.
int cont_addpoly(contour *c, const float *verts, uint32_t count, uint32_t closed, int32_t link, const char *caller);
// Appends every polyline of src to dst (counts, links, closed flags, points).
// The points appended, or 0 when src is empty (debug-logged) or dst has no
// room for all of it (logged; dst unchanged). A numverts of 0 in either is
// recounted first.
uint32_t con_append(contour *src, contour *dst);
// The polylines of src in greedy nearest-next order from point (x, y; read
// and written): a closed polyline is entered at its nearest point and turned
// to start there, an open one at its first point. point receives the end of
// the run. Result links name the source polylines; src links become used
// marks (1). Null when the result cannot be made.
contour *cont_newfrompolys(contour *src, float *point);
// Two-point open bridges that join each closed polyline of src (more than 4
// points) to the nearest neighbour it may be joined to: outlines to the holes
// inside them, holes to their outline or to holes beside them. Bridges
// forming a loop are dropped. Sets src's links to -1. Null when out of memory.
contour *con_bridgepolys(contour *src);
// Signed area of count points: half the sum of x[j+1] y[j] - x[j] y[j+1].
float cont_polyarea(const float *verts, uint32_t count);
// Is (px, py) inside the ring of count points? By quadrant winding: the
// point is inside when the quadrant changes along the ring sum to +-4.
bool cont_contains(const float *verts, uint32_t count, float px, float py);

struct image;
// The iso-line of img at level t, placed at point * scale + offset and thinned
// by poly_vertdot(dotmin, lenmin, lenmax); one smoothing pass when smooth is
// set. Never null for content: an unusable field (not scalar, non-finite
// values) or missing buffers give an empty contour (logged). Null only when
// no contour can be made at all.
contour *cont_fromimage(const image *img, float t, const float *scale, const float *offset, float dotmin,
                        float lenmin, float lenmax, int smooth);
// The closed curves of the visible paths-layers of layer group group (0..9),
// mapped to the canvas and thinned. Null when the result cannot be made.
contour *cont_fromlayerpaths(int group);
