// The heightmap triangulator: meshes a scalar field from two triangles over
// the whole grid by inserting the grid point of largest vertical error,
// keeping the mesh Delaunay by edge flips, until no point is farther than a
// given error from it. Triangles wait in the error heap (geom/heap) keyed by
// their worst point; only triangles made since the last insertion are
// rescanned. All state of a run lives in one trimesh record.
#pragma once
#include "geom/heap.h"

#include <cstdint>

struct image;

struct trimesh_vert {
    float x, y, z; // x, y in grid units (integers in value), z the grid height
};

// Edge k runs from v[k] to v[(k + 1) mod 3]; half-edge id = triangle * 3 + k.
struct trimesh_tri {
    uint32_t v[3];
    int32_t twin[3]; // half-edge across edge k, -1 on the border
    int32_t slot;    // heap index; -1 nowhere; -2 - i at pending index i
    float wx, wy;    // worst grid point
    float wz;        // grid height there
    float err;       // its vertical error
};
static_assert(sizeof(trimesh_tri) == 44, "eleven words");

constexpr int trimesh_maxpending = 4096;

// One grid row of the triangle being scanned: its points inside and the
// largest distance of the plane from them (-1 for none).
struct trimesh_span {
    int64_t lo, hi;
    double top;
};

struct trimesh {
    const float *grid; // W x H heights, row-major
    int w, h;
    trimesh_vert *verts;
    int64_t numverts, capverts;
    trimesh_tri *tris;
    int64_t numtris, captris;
    int32_t pending[trimesh_maxpending]; // -1 after removal
    int numpending, peakpending;
    heap errors;
    float maxerror; // worst error of the triangle last taken, 0 when none
    int32_t next;   // triangle whose worst point goes in next, -1 none
    int failed;     // a growth or the pending queue refused: refining stops
    trimesh_span *spans; // one per grid row, for the scan
};

// Starts a run over grid (w x h, each at least 2): the four corners, the two
// triangles across the diagonal and their first scan. 0 (logged) when the
// grid is unusable or nothing can be allocated.
int trimesh_start(trimesh *m, const float *grid, int w, int h);
// Inserts the worst point of m->next, restores the Delaunay condition and
// scans the new triangles; 0 when the run must stop (nothing left, a
// degenerate triangle, or a refused growth; logged).
int trimesh_insertnext(trimesh *m);
// A whole run: starts, then inserts while the worst error exceeds tau.
// 1 with a mesh (possibly coarser than tau after a logged refusal), 0 when
// the run could not start.
int trimesh_mesh(trimesh *m, const float *grid, int w, int h, float tau);
// The same run over a scalar image (4 bytes a pixel); 0 (logged) for any
// other image.
int trimesh_meshimage(trimesh *m, const image *img, float tau);
// Frees the arrays and the heap.
void trimesh_free(trimesh *m);

// The pieces of a run, for those who step through one.
int trimesh_addvert(trimesh *m, float x, float y, float z);
int trimesh_addtri(trimesh *m, uint32_t a, uint32_t b, uint32_t c, int32_t t0, int32_t t1, int32_t t2,
                   int32_t slot);
void trimesh_settrifield(void *m, uint64_t payload, int64_t index);
void trimesh_unqueue(trimesh *m, int32_t t);
int32_t trimesh_scantri(trimesh *m);
void trimesh_legalize(trimesh *m, int32_t e);
void trimesh_insertpoint(trimesh *m, uint32_t v, int32_t e);
