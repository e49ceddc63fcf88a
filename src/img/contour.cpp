// Iso-level contouring in three steps: find every crossing of the level on
// the edges between pixel centres, row by row, trace each chain of crossings
// once (forward, then backward from the start when the chain is open), and
// finish each traced polyline (filter, place, smooth, thin, append). The
// field is only read; every crossing is consumed by one trace.
#include "img/contour.h"

#include "geom/poly.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

enum iso_kind { iso_h = 0, iso_v = 1 }; // H(x, y): (x, y)-(x+1, y); V(x, y): (x, y)-(x, y+1)

struct iso_point {
    float x, y;
};

struct iso_edge {
    int kind, x, y;
};

// The working state of one call; every buffer is freed before it returns.
//
// Crossings are kept in scan order (rows 0..h-2, columns 0..w-2, H before V
// at each pixel), so those of one row are a sorted run: an edge is found by
// a binary search of its row's run for its key 2x + kind. Memory follows
// the number of crossings, not the size of the field.
struct iso_state {
    const float *field;
    int w, h;
    float level;
    const float *scale, *offset;
    float dotlimit, minlen, maxlen;
    int passes;
    double start; // sys_seconds at the call

    iso_point *points; // crossing list
    uint32_t *keys;    // 2x + kind of each crossing
    uint8_t *taken;    // consumed by a trace
    int *rowstart;     // first crossing of each row; h + 1 entries
    uint8_t *flags;    // one row's crossings found, bit 0 H, bit 1 V
    int count, capacity;

    iso_point *forward, *backward; // trace buffers, count + 1 points each
    float *poly, *smooth;          // one polyline's xyz points and its smoothing copy
    int polycapacity;

    contour *out;
    bool full; // the contour reached its limits: nothing more is appended
};

} // namespace

// ---------------------------------------------------------------- crossings

// Room for one more row of crossings (two per pixel at most).
static bool iso_reserve(iso_state &s, int more)
{
    if (s.count + more <= s.capacity)
        return true;
    int64_t capacity = s.capacity;
    while (capacity < s.count + more)
        capacity *= 2;
    if (capacity * (int64_t)sizeof(iso_point) > INT32_MAX) {
        sys_log("img_contour: more than %d crossings", s.capacity);
        return false;
    }
    iso_point *points = (iso_point *)sys_realloc(s.points, (int32_t)(capacity * sizeof(iso_point)));
    if (points)
        s.points = points;
    uint32_t *keys = (uint32_t *)sys_realloc(s.keys, (int32_t)(capacity * sizeof(uint32_t)));
    if (keys)
        s.keys = keys;
    if (!points || !keys)
        return false;
    s.capacity = (int)capacity;
    return true;
}

// Fraction of the way from the first centre (a, b: values minus the level,
// opposite sides): formed so that the divisor is always positive.
static double iso_fraction(float a, float b)
{
    return b > a ? -(double)a / ((double)b - a) : 1.0 + (double)b / ((double)a - b);
}

static void iso_add(iso_state &s, int kind, int x, int y, float a, float b)
{
    double t = iso_fraction(a, b);
    s.points[s.count] = kind == iso_h ? iso_point{(float)(x + 0.5 + t), (float)(y + 0.5)}
                                      : iso_point{(float)(x + 0.5), (float)(y + 0.5 + t)};
    s.keys[s.count] = (uint32_t)(2 * x + kind);
    s.count++;
}

// Flag bits of one pixel: bit 0 when H crosses, bit 1 when V crosses; a
// value at the level counts as above it.
static inline uint8_t iso_pixelflags(float p, float right, float down, float level)
{
    bool a = p - level >= 0.0f, b = right - level >= 0.0f, c = down - level >= 0.0f;
    return (uint8_t)((a != b) | ((a != c) << 1));
}

// The flags of the row's pixels 0..n-1. Branch-free, so it vectorises; the
// crossings themselves are rare. The bulk is a whole number of vector widths
// and the loop stays out of line, so that -O2 vectorises it too.
__attribute__((noinline)) static void iso_rowflags(const float *__restrict row, const float *__restrict below, int n,
                                                   float level, uint8_t *__restrict flags)
{
    const int bulk = n & ~15;
    for (int x = 0; x < bulk; x++)
        flags[x] = iso_pixelflags(row[x], row[x + 1], below[x], level);
    for (int x = bulk; x < n; x++)
        flags[x] = iso_pixelflags(row[x], row[x + 1], below[x], level);
}

// True when none of eight pixels' flags is set: read as one word, so runs
// without crossings are passed over eight at a time.
static bool iso_noneofeight(const uint8_t *flags)
{
    uint64_t word;
    memcpy(&word, flags, sizeof(word));
    return word == 0;
}

// Examines H before V at each pixel, rows 0..h-2 and columns 0..w-2.
static bool iso_detect(iso_state &s)
{
    const int n = s.w - 1;
    for (int y = 0; y + 1 < s.h; y++) {
        s.rowstart[y] = s.count;
        if (!iso_reserve(s, 2 * n))
            return false;
        const float *row = s.field + (size_t)y * s.w, *below = row + s.w;
        iso_rowflags(row, below, n, s.level, s.flags);
        for (int x = 0; x < n; x++) {
            if (x + 8 <= n && iso_noneofeight(s.flags + x)) {
                x += 7;
                continue;
            }
            if (s.flags[x] & 1)
                iso_add(s, iso_h, x, y, row[x] - s.level, row[x + 1] - s.level);
            if (s.flags[x] & 2)
                iso_add(s, iso_v, x, y, row[x] - s.level, below[x] - s.level);
        }
    }
    for (int y = std::max(s.h - 1, 0); y <= s.h; y++)
        s.rowstart[y] = s.count;
    return true;
}

// The untaken crossing on edge (kind, x, y), or -1; edges outside the
// examined ones have none.
static int iso_find(const iso_state &s, int kind, int x, int y)
{
    if (x < 0 || y < 0 || x > s.w - 2 || y > s.h - 2)
        return -1;
    const uint32_t key = (uint32_t)(2 * x + kind);
    const uint32_t *first = s.keys + s.rowstart[y], *last = s.keys + s.rowstart[y + 1];
    const uint32_t *at = std::lower_bound(first, last, key);
    if (at == last || *at != key)
        return -1;
    int i = (int)(at - s.keys);
    return s.taken[i] ? -1 : i;
}

// ---------------------------------------------------------------- tracing

static float iso_at(const iso_state &s, int x, int y)
{
    return s.field[(size_t)y * s.w + x];
}

static bool iso_rising(const iso_state &s, const iso_edge &e)
{
    float first = iso_at(s, e.x, e.y);
    return (e.kind == iso_h ? iso_at(s, e.x + 1, e.y) : iso_at(s, e.x, e.y + 1)) > first;
}

// The 2 x 2 cell with its top-left pixel at (x, y), as one number.
static int64_t iso_cellindex(const iso_state &s, int x, int y)
{
    return (int64_t)(y + 1) * (s.w + 1) + (x + 1);
}

// Moves e (crossing *index) to the next crossing in direction dir (+1
// forward, -1 backward): the first untaken one among three edges of the
// cell on the far side, in the order that keeps the pixels at or above the
// level on the left going forward. Crossing hidden is passed over while in
// cell hiddencell. *cell gets the cell moved into. False at a dead end.
static bool iso_step(const iso_state &s, iso_edge &e, int *index, int dir, int hidden, int64_t hiddencell,
                     int64_t *cell)
{
    const int x = e.x, y = e.y;
    bool ahead = iso_rising(s, e) == (dir > 0);
    iso_edge next[3];
    if (e.kind == iso_h && ahead) { // into the cell below
        next[0] = {iso_v, x, y}, next[1] = {iso_h, x, y + 1}, next[2] = {iso_v, x + 1, y};
        *cell = iso_cellindex(s, x, y);
    } else if (e.kind == iso_h) { // above
        next[0] = {iso_v, x, y - 1}, next[1] = {iso_h, x, y - 1}, next[2] = {iso_v, x + 1, y - 1};
        *cell = iso_cellindex(s, x, y - 1);
    } else if (ahead) { // left
        next[0] = {iso_h, x - 1, y}, next[1] = {iso_v, x - 1, y}, next[2] = {iso_h, x - 1, y + 1};
        *cell = iso_cellindex(s, x - 1, y);
    } else { // right
        next[0] = {iso_h, x, y}, next[1] = {iso_v, x + 1, y}, next[2] = {iso_h, x, y + 1};
        *cell = iso_cellindex(s, x, y);
    }
    for (const iso_edge &n : next) {
        int i = iso_find(s, n.kind, n.x, n.y);
        if (i >= 0 && !(i == hidden && *cell == hiddencell)) {
            e = n;
            *index = i;
            return true;
        }
    }
    return false;
}

// Follows the chain from start (crossing first) in direction dir into
// buffer, taking each crossing it reaches; the start itself is neither
// written nor taken. Sets *closed (forward only) when the chain comes back
// to the start. Returns the points written; e ends on the last crossing
// reached.
//
// The start stays untaken so that a ring can close on it, but only from its
// far side: in the cell the trace first moved into, the start is already
// paired. Offered there again (a saddle cell, entered a second time), it
// would close the ring across the saddle and strand the crossing's true
// partner as an open line ending inside the field.
static int iso_follow(iso_state &s, const iso_edge &start, int first, int dir, iso_point *buffer, iso_edge &e,
                      bool *closed)
{
    int64_t firstcell = -1, cell;
    int n = 0, i = first;
    e = start;
    while (iso_step(s, e, &i, dir, first, firstcell, &cell)) {
        firstcell = n ? firstcell : cell;
        buffer[n++] = s.points[i];
        s.taken[i] = 1;
        if (i == first) {
            *closed = true;
            break;
        }
    }
    return n;
}

// ---------------------------------------------------------------- finishing

static bool iso_polyroom(iso_state &s, int n)
{
    if (n <= s.polycapacity)
        return true;
    int32_t bytes = (int32_t)((int64_t)n * 3 * (int64_t)sizeof(float));
    float *poly = (float *)sys_realloc(s.poly, bytes);
    if (!poly)
        return false;
    s.poly = poly;
    float *smooth = (float *)sys_realloc(s.smooth, bytes);
    if (!smooth)
        return false;
    s.smooth = smooth;
    s.polycapacity = n;
    return true;
}

// The backward points reversed, then the forward points, in units where
// the image spans 0..1, at height level.
static void iso_gather(iso_state &s, int nb, int nf)
{
    float rw = (float)(1.0 / s.w), rh = (float)(1.0 / s.h);
    float *p = s.poly;
    for (int i = 0; i < nb + nf; i++, p += 3) {
        const iso_point &q = i < nb ? s.backward[nb - 1 - i] : s.forward[i - nb];
        p[0] = q.x * rw;
        p[1] = q.y * rh;
        p[2] = s.level;
    }
}

// Signed area (positive counter-clockwise as the field is viewed, row 0 at
// the top) and 3D length; polylines that are both short and narrow go.
static bool iso_measure(const iso_state &s, int n)
{
    const float *p = s.poly;
    float area = 0.0f;
    double length = 0.0;
    for (int i = 0; i + 1 < n; i++) {
        const float *a = p + 3 * i, *b = a + 3;
        area += a[1] * b[0] - a[0] * b[1];
        double dx = (double)b[0] - a[0], dy = (double)b[1] - a[1], dz = (double)b[2] - a[2];
        length += std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    area *= 0.5f;
    float ratio = (float)(area / length);
    sys_debuglog(" %d verts = area:%f length:%f ratio:%f", n, area, length, ratio);
    // A polyline of no length has no ratio (0 / 0): it goes too.
    if (length <= 0.001 && !(std::fabs(ratio) > 0.0001f)) {
        sys_debuglog("...ignored short/narrow polyline (%d verts)", n);
        return false;
    }
    return true;
}

static void iso_toworld(iso_state &s, int n)
{
    for (int i = 0; i < n; i++)
        for (int k = 0; k < 3; k++)
            s.poly[3 * i + k] = s.poly[3 * i + k] * s.scale[k] + s.offset[k];
}

// Unit vector from a to b; false for a zero-length step.
static bool iso_unit(const float *a, const float *b, float *u)
{
    float d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    double len = std::sqrt((double)d[0] * d[0] + (double)d[1] * d[1] + (double)d[2] * d[2]);
    if (!(len > 0.0))
        return false;
    for (int k = 0; k < 3; k++)
        u[k] = (float)(d[k] / len);
    return true;
}

// Pull towards the neighbours' midpoint for a turn of cosine c: sqrt(c) by
// one Newton step of the inverse square root estimate, so a straight run
// (c = 1) is pulled almost fully onto its chord and a right angle not at all.
static float iso_pull(float c)
{
    float y = std::bit_cast<float>(0x5F375A86 - (std::bit_cast<int32_t>(c) >> 1));
    return c * y * (1.5f - 0.5f * c * y * y);
}

// One smoothing pass over the interior points, from the points as they were
// before it; a point next to a zero-length step stays where it is.
static void iso_smoothpass(iso_state &s, int n)
{
    const float *p = s.poly;
    float *q = s.smooth;
    float u[3], e[3];
    bool hasu = iso_unit(p, p + 3, u);
    for (int i = 1; i + 1 < n; i++) {
        const float *prev = p + 3 * (i - 1), *cur = p + 3 * i, *next = p + 3 * (i + 1);
        bool hase = iso_unit(cur, next, e);
        float pull = 0.0f, keep = 1.0f;
        if (hasu && hase) {
            float c = u[0] * e[0] + u[1] * e[1] + u[2] * e[2];
            if (c >= 1.0f)
                pull = 0.9983081f, keep = 0.0016918778f;
            else if (c > 0.0f)
                pull = iso_pull(c), keep = 1.0f - pull;
        }
        for (int k = 0; k < 3; k++)
            q[3 * i + k] = hasu && hase ? keep * cur[k] + pull * (0.5f * prev[k] + 0.5f * next[k]) : cur[k];
        memcpy(u, e, sizeof(u));
        hasu = hase;
    }
    memcpy(s.poly + 3, q + 3, (size_t)(n - 2) * 3 * sizeof(float));
}

static bool iso_append(iso_state &s, int m, bool closed)
{
    if (!cont_addpoly(s.out, s.poly, (uint32_t)m, closed ? 1 : 0, -1, "img_contour")) {
        sys_log("img_contour: the remaining lines are dropped");
        s.full = true;
        return false;
    }
    sys_debuglog("...added %d vert polyline (elapsed %.4fs)", m, sys_seconds() - s.start);
    return true;
}

// Steps 1-9 of one traced polyline of n points held in s.poly.
static void iso_finish(iso_state &s, int n, bool closed)
{
    if (n < 2) {
        sys_debuglog("...ignored null polyline (%d verts)", n);
        return;
    }
    if (!iso_measure(s, n))
        return;
    iso_toworld(s, n);
    for (int pass = 0; pass < s.passes && n > 2; pass++)
        iso_smoothpass(s, n);
    int m = n == 2 ? 2 : poly_vertdot(n, s.poly, s.dotlimit, s.minlen, s.maxlen);
    sys_debuglog(" reduced %d to %d verts (elapsed %.4fs)", n, m, sys_seconds() - s.start);
    if (m <= (closed ? 2 : 1)) {
        sys_debuglog("...ignored %s poly (%d verts)", closed ? "closed" : "open", m);
        return;
    }
    iso_append(s, m, closed);
}

// One trace from crossing first on edge start: forward until it closes or
// ends, then, when open, backward from the start.
static bool iso_trace(iso_state &s, const iso_edge &start, int first)
{
    iso_edge end;
    bool closed = false;
    s.forward[0] = s.points[first];
    int nf = 1 + iso_follow(s, start, first, 1, s.forward + 1, end, &closed);
    int nb = 0;
    if (!closed) {
        sys_debuglog("continuing to:%d,%d,%d from:%d,%d,%d (dir:%d)....", start.x, start.y, start.kind, end.x, end.y,
                     end.kind, 1);
        s.taken[first] = 1;
        nb = iso_follow(s, start, first, -1, s.backward, end, &closed);
    }
    sys_debuglog("traced cw:%d/ccw:%d closed:%s (elapsed %.4fs)", nf, nb, closed ? "Y" : "N",
                 sys_seconds() - s.start);
    if (!iso_polyroom(s, nf + nb))
        return false;
    iso_gather(s, nb, nf);
    iso_finish(s, nf + nb, closed);
    return true;
}

// Visits the crossings in scan order; each one still untaken starts a trace.
static bool iso_traceall(iso_state &s)
{
    int y = 0;
    for (int i = 0; i < s.count && !s.full; i++) {
        while (s.rowstart[y + 1] <= i)
            y++;
        if (s.taken[i])
            continue;
        iso_edge start = {(int)(s.keys[i] & 1), (int)(s.keys[i] >> 1), y};
        if (!iso_trace(s, start, i))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- call

static bool iso_allocate(iso_state &s)
{
    int64_t capacity = std::max(((int64_t)s.w + s.h) * 100, (int64_t)2);
    if (capacity * (int64_t)sizeof(iso_point) > INT32_MAX || s.h >= INT32_MAX / (int)sizeof(int) - 1) {
        sys_log("img_contour: %dx%d is too large to contour", s.w, s.h);
        return false;
    }
    s.capacity = (int)capacity;
    s.points = (iso_point *)sys_malloc((int32_t)(capacity * sizeof(iso_point)));
    s.keys = (uint32_t *)sys_malloc((int32_t)(capacity * sizeof(uint32_t)));
    s.rowstart = (int *)sys_malloc((s.h + 1) * (int32_t)sizeof(int));
    s.flags = (uint8_t *)sys_malloc(std::max(s.w, 1));
    return s.points && s.keys && s.rowstart && s.flags;
}

static bool iso_allocatetraces(iso_state &s)
{
    int32_t bytes = (int32_t)(((int64_t)s.count + 1) * (int64_t)sizeof(iso_point));
    s.forward = (iso_point *)sys_malloc(bytes);
    s.backward = (iso_point *)sys_malloc(bytes);
    s.taken = (uint8_t *)sys_calloc(1, s.count + 1);
    s.out = cont_new();
    return s.forward && s.backward && s.taken && s.out;
}

static void iso_release(iso_state &s)
{
    sys_free(s.points);
    sys_free(s.keys);
    sys_free(s.taken);
    sys_free(s.rowstart);
    sys_free(s.flags);
    sys_free(s.forward);
    sys_free(s.backward);
    sys_free(s.poly);
    sys_free(s.smooth);
}

contour *img_contour(const image *img, float level, const float *scale, const float *offset, float dotlimit,
                     float minlen, float maxlen, int passes)
{
    if (!img_isscalar(img, "img_contour"))
        return nullptr;
    if (!scale || !offset) {
        sys_log("img_contour: no world transform");
        return nullptr;
    }
    iso_state s = {};
    s.field = (const float *)img->pixels;
    s.w = img->width;
    s.h = img->height;
    s.level = level;
    s.scale = scale;
    s.offset = offset;
    s.dotlimit = dotlimit;
    s.minlen = minlen;
    s.maxlen = maxlen;
    s.passes = passes;
    s.start = sys_seconds();
    sys_debuglog("contouring %dx%d image @%.4f...", s.w, s.h, level);
    bool ok = iso_allocate(s);
    if (ok) {
        sys_debuglog("allocated buffers verts:%d (elapsed %.4fs)", s.capacity, sys_seconds() - s.start);
        ok = iso_detect(s);
    }
    if (ok) {
        sys_debuglog("...created %d vertices (elapsed %.4fs)", s.count, sys_seconds() - s.start);
        ok = iso_allocatetraces(s) && iso_traceall(s);
    }
    iso_release(s);
    if (!ok) {
        sys_log("img_contour: failed to contour \"%s\"", img->name);
        cont_free(s.out);
        return nullptr;
    }
    sys_debuglog("generated %d polylines, %d verts (elapsed %.4fs)", (int)s.out->numpolys, (int)s.out->numverts,
                 sys_seconds() - s.start);
    return s.out;
}
