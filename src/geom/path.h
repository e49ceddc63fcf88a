// Paths: the vector geometry of paths-layers, imported vectors and toolpath
// outlines. A path is a list of curves, each a chain of cubic Bezier knots,
// held in two growable slot arrays. This file holds the record, the slot
// searches, the whole-path operations and the three byte forms a path takes
// in the message buffer (raw, old raw, quantised).
#pragma once
#include <cstdint>

struct msg_stream;

struct curve {
    int32_t head;     // last knot of the chain, -1 none
    int32_t tail;     // first knot, -1 none
    int32_t prev;     // older curve, -1 at ctail
    int32_t next;     // newer curve, -1 at chead
    int32_t reserved; // 0; carried by the raw form
    int32_t closed;   // 1 when closed (head and tail share their point)
};
static_assert(sizeof(curve) == 24, "curves are stored as six words");

struct knot {
    float pos[3];
    float h1[3]; // incoming control point
    float h2[3]; // outgoing control point
    int32_t prev; // toward the tail, -1 at the tail
    int32_t next; // toward the head, -1 at the head
};
static_assert(sizeof(knot) == 44, "knots are stored as eleven words");

struct path {
    int32_t chead, ctail; // newest and oldest curve, -1 none
    int32_t cidx, csz, cnum; // curve search cursor, slots, live curves
    int32_t kidx, ksz, knum; // knot search cursor, slots, live knots
    uint8_t *csel; // selection bit sets, (size + 7) >> 3 bytes
    uint8_t *ksel;
    curve *curves;
    knot *knots;
    // One byte per slot, 1 while it holds a live curve or knot. A lone curve
    // or a curve's only knot has both links -1 like a free slot, so the
    // searches go by these marks, never by the links alone.
    uint8_t *cused;
    uint8_t *kused;
};

// Byte forms of path_read.
constexpr int path_formraw = 0;
constexpr int path_formq1 = 1; // every value by the point formula (-1..1)
constexpr int path_formq2 = 2; // handles by their own formula (-2..2)

struct path_box {
    float minx, miny, maxx, maxy;
};
constexpr float path_emptymin = 9999999.0f;

// A new path with 32 curve and 256 knot slots, or null (logged).
path *path_new();
// Frees the path and its arrays; null is ignored.
void path_free(path *p);

int path_addknot(path *p);
int path_newcurve(path *p);
int path_prependknot(path *p, int c, const float point[3]);
void path_removecurve(path *p, int c);
// Returns a knot slot to the free slots (links -1, selection bit cleared).
void path_freeknot(path *p, int k);
path *path_consolidate(const path *p);
// A deep copy: the same curves and knots in the same slots, with nothing
// selected. Null (logged) when memory runs out.
path *path_copy(const path *p);
void path_normalize(path *p, const path_box &box);
path_box path_curvebounds(const path *p, int c);
path_box path_bounds(const path *p);
void bezier_point(float out[3], const float p0[3], const float p1[3], const float p2[3], const float p3[3], float t);
float *path_curveverts(const path *p, int c, float step, int *count);

// The quantised value of a point coordinate (form 1, and form 2's points) or
// of a form 2 handle coordinate, and back.
uint16_t path_quantpoint(float v);
uint16_t path_quanthandle(float v);
float path_dequantpoint(uint16_t q);
float path_dequanthandle(uint16_t q);

// The raw form, and the compacted quantised form (form 1 or 2).
int msg_writepath(msg_stream *m, const path *p);
int msg_writepath(const path *p);
int msg_writepathq(msg_stream *m, const path *p, int form);
// Reads a path at the stream's position: skip 1 passes the old bit sets,
// form is one of path_formraw, path_formq1, path_formq2. Null on a damaged
// or truncated path (logged, nothing allocated is kept).
path *path_read(msg_stream *m, int skip, int form);
path *path_read(int skip, int form);
