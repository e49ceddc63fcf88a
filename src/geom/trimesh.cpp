// The heightmap triangulator. Contents: array growth; the pending queue and
// the heap callback; scanning new triangles for their worst point; Delaunay
// flips; inserting a point on an edge or inside a triangle; the run.
// Vertices sit on grid points, so orientation and in-circle tests are done
// exactly in integers: a point on an edge is seen as on it however large
// the grid.
#include "geom/trimesh.h"

#include "img/image.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

constexpr int64_t trimesh_startcap = 4096;

// ---------------------------------------------------------------- arrays

// Doubles *cap (sized in 64 bits) until it holds need items; 0 (logged)
// when the allocator refuses.
static int trimesh_grow(void **block, int64_t *cap, int64_t need, size_t item, const char *what)
{
    if (need <= *cap)
        return 1;
    int64_t cap2 = *cap > 0 ? *cap : trimesh_startcap;
    while (cap2 < need)
        cap2 *= 2;
    const uint64_t bytes = (uint64_t)cap2 * item;
    void *p = bytes <= SIZE_MAX ? heap_regrow(*block, (size_t)*cap * item, (size_t)bytes) : nullptr;
    if (!p) {
        sys_log("trimesh: %s growth to %lld refused", what, (long long)cap2);
        return 0;
    }
    if (*cap > 0)
        sys_log("realloc %s: %d", what, (int)cap2);
    *block = p;
    *cap = cap2;
    return 1;
}

int trimesh_addvert(trimesh *m, float x, float y, float z)
{
    if (!trimesh_grow((void **)&m->verts, &m->capverts, m->numverts + 1, sizeof(trimesh_vert), "verts")) {
        m->failed = 1;
        return -1;
    }
    m->verts[m->numverts] = trimesh_vert{x, y, z};
    return (int)m->numverts++;
}

// ---------------------------------------------------------------- queue and heap

void trimesh_settrifield(void *arg, uint64_t payload, int64_t index)
{
    trimesh *m = (trimesh *)arg;
    m->tris[payload - 1].slot = (int32_t)index;
}

void trimesh_unqueue(trimesh *m, int32_t t)
{
    trimesh_tri &tri = m->tris[t];
    if (tri.slot <= -2) {
        m->pending[-2 - tri.slot] = -1;
    } else if (tri.slot >= 0) {
        heap_remove(&m->errors, tri.slot);
    }
    tri.slot = -1;
}

// Writes the triangle (appending when slot is -1, room having been made by
// the caller), links its twins back and queues it. The index, also when the
// pending queue is full (then failed is set).
static int32_t trimesh_writetri(trimesh *m, uint32_t a, uint32_t b, uint32_t c, const int32_t twin[3],
                                int32_t slot)
{
    int32_t t = slot;
    if (t < 0) {
        if (!trimesh_grow((void **)&m->tris, &m->captris, m->numtris + 1, sizeof(trimesh_tri), "tris")) {
            m->failed = 1;
            return -1;
        }
        t = (int32_t)m->numtris++;
    }
    trimesh_tri &tri = m->tris[t];
    tri = trimesh_tri{{a, b, c}, {twin[0], twin[1], twin[2]}, -1, 0, 0, 0, 0};
    for (int k = 0; k < 3; k++)
        if (twin[k] >= 0)
            m->tris[twin[k] / 3].twin[twin[k] % 3] = t * 3 + k;
    if (m->numpending >= trimesh_maxpending) {
        sys_log("pending triangles overflow!!!");
        m->failed = 1;
        return t;
    }
    tri.slot = -2 - m->numpending;
    m->pending[m->numpending++] = t;
    if (m->numpending > m->peakpending)
        m->peakpending = m->numpending;
    return t;
}

int trimesh_addtri(trimesh *m, uint32_t a, uint32_t b, uint32_t c, int32_t t0, int32_t t1, int32_t t2,
                   int32_t slot)
{
    const bool full = m->numpending >= trimesh_maxpending;
    const int32_t twin[3] = {t0, t1, t2};
    const int32_t t = trimesh_writetri(m, a, b, c, twin, slot);
    return full ? -1 : t;
}

// ---------------------------------------------------------------- scan

// Twice the signed area of a, b, p; grid coordinates are integers, so exact.
static int64_t trimesh_orient(const trimesh_vert &a, const trimesh_vert &b, int64_t px, int64_t py)
{
    const int64_t ax = (int64_t)a.x, ay = (int64_t)a.y;
    return ((int64_t)b.x - ax) * (py - ay) - ((int64_t)b.y - ay) * (px - ax);
}

static void trimesh_logdegenerate(const trimesh *m, int32_t t)
{
    const trimesh_tri &tri = m->tris[t];
    const trimesh_vert &v0 = m->verts[tri.v[0]], &v1 = m->verts[tri.v[1]], &v2 = m->verts[tri.v[2]];
    const double e0[2] = {(double)v2.x - v0.x, (double)v2.y - v0.y}, e1[2] = {(double)v1.x - v0.x, (double)v1.y - v0.y};
    sys_log("!!! tri[%d]: v[%d]=X:%.0f,Y:%.0f v[%d]=X:%.0f,Y:%.0f v[%d]=X:%.0f,Y:%.0f", t, (int)tri.v[0], v0.x, v0.y,
            (int)tri.v[1], v1.x, v1.y, (int)tri.v[2], v2.x, v2.y);
    sys_log("delta0 = %f %f", e0[0], e0[1]);
    sys_log("delta1 = %f %f", e1[0], e1[1]);
    sys_log("delta00:%f delta01:%f delta11:%f", e0[0] * e0[0] + e0[1] * e0[1], e1[0] * e0[0] + e1[1] * e0[1],
            e1[0] * e1[0] + e1[1] * e1[1]);
}

static int64_t trimesh_floordiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// One edge p -> q of a triangle walked down its rows: where s * (edge
// function) is not negative, as a bound on x kept as an exact quotient and
// remainder that step from row to row without a division.
struct trimesh_edgewalk {
    int kind;          // 1 bounds x from below, -1 from above, 0 the edge is level
    int64_t quot, rem; // floor(b / den) and what is left, b the function at x = 0
    int64_t den;       // |step per x|; never reached for a level edge
    int64_t stepq, stepr;
    int64_t b, stepb; // a level edge's value and its step per row
};

static trimesh_edgewalk trimesh_startedge(const trimesh_vert &p, const trimesh_vert &q, int64_t y, int64_t s)
{
    const int64_t px = (int64_t)p.x, py = (int64_t)p.y;
    const int64_t a = -s * ((int64_t)q.y - py);       // per step in x
    const int64_t stepb = s * ((int64_t)q.x - px);      // per step in y
    const int64_t b = stepb * (y - py) - a * px;        // at x = 0
    trimesh_edgewalk e{};
    e.kind = a > 0 ? 1 : a < 0 ? -1 : 0;
    e.b = b, e.stepb = stepb;
    e.den = INT64_MAX;
    if (a != 0) {
        e.den = a > 0 ? a : -a;
        e.quot = trimesh_floordiv(b, e.den), e.rem = b - e.quot * e.den;
        e.stepq = trimesh_floordiv(stepb, e.den), e.stepr = stepb - e.stepq * e.den;
    }
    return e;
}

// Narrows [*lo, *hi] by the edge on its current row: a x + b >= 0 is
// x >= -floor(b / a) when a > 0 and x <= floor(b / -a) when a < 0.
static void trimesh_clipedge(const trimesh_edgewalk &e, int64_t *lo, int64_t *hi)
{
    if (e.kind > 0)
        *lo = std::max(*lo, -e.quot);
    else if (e.kind < 0)
        *hi = std::min(*hi, e.quot);
    else if (e.b < 0)
        *hi = *lo - 1;
}

// The carry goes without a branch: it comes and goes with the edge's slope
// and would be mispredicted half the time.
static void trimesh_stepedge(trimesh_edgewalk *e)
{
    e->b += e->stepb;
    e->quot += e->stepq, e->rem += e->stepr;
    const int64_t carry = e->rem >= e->den;
    e->quot += carry, e->rem -= carry * e->den;
}

// A triangle's plane for the first pass: its corners, orientation, the
// reciprocal of twice its signed area and its rise per step in x.
struct trimesh_plane {
    trimesh_vert a, b, c;
    double inv, dh;
};

// The plane at (x, y) from the integer weights of the corners; rounded a
// little differently from the exact measure, which divides.
static inline double trimesh_planeat(const trimesh_plane &p, int64_t x, int64_t y)
{
    return ((double)trimesh_orient(p.b, p.c, x, y) * p.a.z + (double)trimesh_orient(p.c, p.a, x, y) * p.b.z +
            (double)trimesh_orient(p.a, p.b, x, y) * p.c.z) *
           p.inv;
}

// The largest |h - g| along a span of n >= 1 points from start, h stepped
// from h0, eight points a block: lanes past the span are read (the row is
// at least eight wide, so the last block is slid back inside it) but count
// as zero. A NaN height leaves the maximum as it was.
typedef double trimesh_v4d __attribute__((vector_size(32)));
typedef float trimesh_v4f __attribute__((vector_size(16)));
static inline double trimesh_spantop(const float *row, int64_t start, int64_t n, int64_t w, double h0, double dh)
{
    const trimesh_v4d lane = {0, 1, 2, 3}, zero = {};
    trimesh_v4d top0 = zero, top1 = zero;
    const double nd = (double)n;
    auto block = [&](const float *p, const trimesh_v4d &j, trimesh_v4d *top) {
        trimesh_v4f g;
        memcpy(&g, p, sizeof g);
        trimesh_v4d e = h0 + dh * j - __builtin_convertvector(g, trimesh_v4d);
        e = e > -e ? e : -e;
        e = (j >= zero) & (j < nd) ? e : zero;
        *top = e > *top ? e : *top;
    };
    for (int64_t i = 0; i < n; i += 8) {
        const int64_t at = std::min(start + i, w - 8); // the block's first point
        const trimesh_v4d j = (double)(at - start) + lane;
        block(row + at, j, &top0);
        block(row + at + 4, j + 4.0, &top1);
    }
    const trimesh_v4d top = top0 > top1 ? top0 : top1;
    const double t01 = top[0] > top[1] ? top[0] : top[1], t23 = top[2] > top[3] ? top[2] : top[3];
    return t01 > t23 ? t01 : t23;
}

static inline double trimesh_spantopnarrow(const float *row, int64_t start, int64_t n, double h0, double dh)
{
    double top = 0;
    for (int64_t j = 0; j < n; j++) {
        const double e = std::fabs(h0 + dh * (double)j - (double)row[start + j]);
        top = e > top ? e : top;
    }
    return top;
}

// The first pass over rows y0..y1 of a triangle whose spans are set: each
// span's largest distance from the plane, and the largest of all. Rows are
// asked for a few ahead of their reading, so that their reads overlap
// instead of waiting one after the other. Every scanned point goes through
// here, so it is built for the wider vector units too.
// One build under the thread checker, whose runtime is not up yet when
// the clones' resolver runs at load time.
#if defined(__SANITIZE_THREAD__)
#define trimesh_clones
#elif defined(__clang__)
#define trimesh_clones __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define trimesh_clones __attribute__((noinline, target_clones("avx512f", "avx2", "default")))
#endif
trimesh_clones static double trimesh_rowtops(trimesh_span *spans, int64_t y0, int64_t y1, const float *grid,
                                             int64_t w, const trimesh_plane &p)
{
    // Written out where it is used: a function doing nothing but ask for
    // memory counts as having no effect and is dropped with its calls.
    constexpr int64_t ahead = 4;
    double top = 0;
    for (int64_t y = y0 - ahead; y <= y1; y++) {
        if (y + ahead <= y1) {
            const trimesh_span &next = spans[y + ahead - y0];
            const float *row = grid + (size_t)(y + ahead) * w;
            for (int64_t x = next.lo; x <= next.hi; x += 16)
                __builtin_prefetch(row + x);
            if (next.lo <= next.hi)
                __builtin_prefetch(row + next.hi);
        }
        if (y < y0)
            continue;
        trimesh_span &span = spans[y - y0];
        if (span.lo > span.hi)
            continue;
        const float *row = grid + (size_t)y * w;
        const double h0 = trimesh_planeat(p, span.lo, y);
        const int64_t n = span.hi - span.lo + 1;
        span.top = w >= 8 ? trimesh_spantop(row, span.lo, n, w, h0, p.dh)
                          : trimesh_spantopnarrow(row, span.lo, n, h0, p.dh);
        top = span.top > top ? span.top : top;
    }
    return top;
}

// The grid point of triangle t (its edges included, its corners not) farthest
// from the plane through its corners; the last of equal errors in scan
// order. Membership is exact: each row's span comes from the integer edge
// functions, walked down the rows. A first pass steps the plane along each
// span in doubles for the largest distance of each row; the second measures
// exactly, from the integer weights, only the points of rows that come near
// it, and only those points that do. 0 for a zero-area triangle.
static int trimesh_worst(trimesh *m, int32_t t)
{
    trimesh_tri &tri = m->tris[t];
    const trimesh_vert &a = m->verts[tri.v[0]], &b = m->verts[tri.v[1]], &c = m->verts[tri.v[2]];
    const int64_t area = trimesh_orient(a, b, (int64_t)c.x, (int64_t)c.y);
    if (area == 0)
        return 0;
    const int64_t s = area > 0 ? 1 : -1;
    const int64_t x0 = (int64_t)std::fmin(a.x, std::fmin(b.x, c.x)), x1 = (int64_t)std::fmax(a.x, std::fmax(b.x, c.x));
    const int64_t y0 = (int64_t)std::fmin(a.y, std::fmin(b.y, c.y)), y1 = (int64_t)std::fmax(a.y, std::fmax(b.y, c.y));
    const double darea = (double)area;
    const int64_t da = -((int64_t)c.y - (int64_t)b.y), db = -((int64_t)a.y - (int64_t)c.y),
                  dc = -((int64_t)b.y - (int64_t)a.y);
    const trimesh_plane plane{a, b, c, 1.0 / darea, ((double)da * a.z + (double)db * b.z + (double)dc * c.z) / darea};
    // Both passes round the plane a little differently from the exact
    // measure; this allowance, far above that rounding, keeps every point
    // that can win among those measured exactly.
    const double slack = 1e-9 + 1e-12 * std::fmax(std::fabs(a.z), std::fmax(std::fabs(b.z), std::fabs(c.z)));
    trimesh_edgewalk ea = trimesh_startedge(b, c, y0, s), eb = trimesh_startedge(c, a, y0, s),
                     ec = trimesh_startedge(a, b, y0, s);
    for (int64_t y = y0; y <= y1; y++) {
        int64_t lo = x0, hi = x1;
        trimesh_clipedge(ea, &lo, &hi), trimesh_clipedge(eb, &lo, &hi), trimesh_clipedge(ec, &lo, &hi);
        trimesh_stepedge(&ea), trimesh_stepedge(&eb), trimesh_stepedge(&ec);
        m->spans[y - y0] = trimesh_span{lo, hi, -1};
    }
    const double top = trimesh_rowtops(m->spans, y0, y1, m->grid, m->w, plane);
    float best = 0.0f;
    double cut = top * (1 - 1e-5) - slack; // below this the plane's distance cannot reach the worst
    for (int64_t y = y0; y <= y1; y++) {
        const trimesh_span &span = m->spans[y - y0];
        if (span.top < cut)
            continue;
        const float *row = m->grid + (size_t)y * m->w;
        int64_t wa = trimesh_orient(b, c, span.lo, y), wb = trimesh_orient(c, a, span.lo, y),
                wc = trimesh_orient(a, b, span.lo, y);
        const double h0 = trimesh_planeat(plane, span.lo, y);
        for (int64_t x = span.lo; x <= span.hi; x++, wa += da, wb += db, wc += dc) {
            if (std::fabs(h0 + plane.dh * (double)(x - span.lo) - (double)row[x]) < cut)
                continue;
            // A corner has two weights of zero.
            if ((wa == 0) + (wb == 0) + (wc == 0) >= 2)
                continue;
            const double exact = ((double)wa * a.z + (double)wb * b.z + (double)wc * c.z) / darea;
            const float err = (float)std::fabs(exact - row[x]);
            if (err >= best) {
                best = err;
                cut = std::fmax(cut, best * (1 - 1e-5) - slack);
                tri.wx = (float)x, tri.wy = (float)y, tri.wz = row[x], tri.err = err;
            }
        }
    }
    return 1;
}

// Leaves the queue empty and every triangle it held out of it.
static void trimesh_clearpending(trimesh *m)
{
    for (int i = 0; i < m->numpending; i++)
        if (m->pending[i] >= 0)
            m->tris[m->pending[i]].slot = -1;
    m->numpending = 0;
}

int32_t trimesh_scantri(trimesh *m)
{
    for (int i = 0; i < m->numpending; i++) {
        const int32_t t = m->pending[i];
        if (t < 0)
            continue;
        m->tris[t].slot = -1;
        m->pending[i] = -1;
        if (!trimesh_worst(m, t)) {
            trimesh_logdegenerate(m, t);
            trimesh_clearpending(m);
            return -1;
        }
        if (m->tris[t].err > 0.0f && !heap_push(&m->errors, m->tris[t].err, (uint64_t)t + 1)) {
            sys_log("trimesh_scantri: error heap cannot grow; refining stops at %lld triangles",
                    (long long)m->numtris);
            m->failed = 1;
            trimesh_clearpending(m);
            return -1;
        }
    }
    m->numpending = 0;
    heap_entry top;
    if (!heap_take(&m->errors, &top)) {
        m->maxerror = 0.0f;
        return -1;
    }
    const int32_t t = (int32_t)(top.payload - 1);
    m->tris[t].slot = -1;
    m->maxerror = m->tris[t].err;
    return t;
}

// ---------------------------------------------------------------- flips

// Is d strictly inside the circle through a, b, c? Exact: the triangles
// turn one way (negative orientation), for which the determinant below is
// negative when d is inside.
static bool trimesh_incircle(const trimesh *m, uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    const trimesh_vert &vd = m->verts[d];
    auto rel = [&](uint32_t i, __int128 *x, __int128 *y) {
        *x = (int64_t)m->verts[i].x - (int64_t)vd.x;
        *y = (int64_t)m->verts[i].y - (int64_t)vd.y;
    };
    __int128 px, py, qx, qy, rx, ry;
    rel(a, &px, &py), rel(b, &qx, &qy), rel(c, &rx, &ry);
    const __int128 p2 = px * px + py * py, q2 = qx * qx + qy * qy, r2 = rx * rx + ry * ry;
    const __int128 det = r2 * (px * qy - py * qx) + (py * q2 - qy * p2) * rx - (q2 * px - p2 * qx) * ry;
    return det < 0;
}

void trimesh_legalize(trimesh *m, int32_t e)
{
    for (;;) {
        const int32_t t = e / 3, k = e % 3;
        const trimesh_tri tt = m->tris[t];
        const int32_t eu = tt.twin[k];
        if (eu < 0)
            return;
        const uint32_t a = tt.v[k], b = tt.v[(k + 1) % 3], c = tt.v[(k + 2) % 3];
        const int32_t u = eu / 3, j = eu % 3;
        const trimesh_tri tu = m->tris[u];
        const uint32_t d = tu.v[(j + 2) % 3];
        if (!trimesh_incircle(m, a, b, c, d))
            return;
        trimesh_unqueue(m, t);
        trimesh_unqueue(m, u);
        const int32_t first[3] = {-1, tu.twin[(j + 2) % 3], tt.twin[(k + 1) % 3]};
        trimesh_writetri(m, c, d, b, first, t);
        const int32_t second[3] = {t * 3, tt.twin[(k + 2) % 3], tu.twin[(j + 1) % 3]};
        trimesh_writetri(m, d, c, a, second, u);
        trimesh_legalize(m, t * 3 + 1);
        e = u * 3 + 2;
    }
}

// ---------------------------------------------------------------- insertion

void trimesh_insertpoint(trimesh *m, uint32_t v, int32_t e)
{
    const int32_t t = e / 3, k = e % 3;
    const trimesh_tri tt = m->tris[t];
    const uint32_t a = tt.v[k], b = tt.v[(k + 1) % 3], c = tt.v[(k + 2) % 3];
    const int32_t ta = tt.twin[k], tb = tt.twin[(k + 1) % 3], tc = tt.twin[(k + 2) % 3];
    trimesh_unqueue(m, t);
    if (ta < 0) { // a border edge: t becomes two
        const int32_t one[3] = {-1, tc, -1};
        trimesh_writetri(m, v, c, a, one, t);
        const int32_t two[3] = {t * 3, -1, tb};
        const int32_t s = trimesh_writetri(m, c, v, b, two, -1);
        trimesh_legalize(m, t * 3 + 1);
        trimesh_legalize(m, s * 3 + 2);
        return;
    }
    // An inner edge: t and its neighbour u become four around v.
    const int32_t u = ta / 3, j = ta % 3;
    const trimesh_tri tu = m->tris[u];
    const uint32_t d = tu.v[(j + 2) % 3];
    trimesh_unqueue(m, u);
    const int32_t one[3] = {tc, -1, -1};
    trimesh_writetri(m, c, a, v, one, t);
    const int32_t two[3] = {tu.twin[(j + 1) % 3], -1, t * 3 + 1};
    trimesh_writetri(m, a, d, v, two, u);
    const int32_t three[3] = {tu.twin[(j + 2) % 3], -1, u * 3 + 1};
    const int32_t s3 = trimesh_writetri(m, d, b, v, three, -1);
    const int32_t four[3] = {tb, t * 3 + 2, s3 * 3 + 1};
    const int32_t s4 = trimesh_writetri(m, b, c, v, four, -1);
    trimesh_legalize(m, t * 3);
    trimesh_legalize(m, u * 3);
    trimesh_legalize(m, s3 * 3);
    trimesh_legalize(m, s4 * 3);
}

static void trimesh_splitthree(trimesh *m, uint32_t v, int32_t t)
{
    const trimesh_tri tt = m->tris[t];
    const uint32_t a = tt.v[0], b = tt.v[1], c = tt.v[2];
    const int32_t one[3] = {tt.twin[0], -1, -1};
    trimesh_writetri(m, a, b, v, one, t);
    const int32_t two[3] = {tt.twin[1], -1, t * 3 + 1};
    const int32_t s1 = trimesh_writetri(m, b, c, v, two, -1);
    const int32_t three[3] = {tt.twin[2], t * 3 + 2, s1 * 3 + 1};
    const int32_t s2 = trimesh_writetri(m, c, a, v, three, -1);
    trimesh_legalize(m, t * 3);
    trimesh_legalize(m, s1 * 3);
    trimesh_legalize(m, s2 * 3);
}

// ---------------------------------------------------------------- run

int trimesh_start(trimesh *m, const float *grid, int w, int h)
{
    trimesh_free(m);
    if (!grid || w < 2 || h < 2) {
        sys_log("trimesh_start: no grid to mesh (%d x %d)", w, h);
        return 0;
    }
    m->grid = grid, m->w = w, m->h = h;
    m->next = -1;
    if (!trimesh_grow((void **)&m->verts, &m->capverts, trimesh_startcap, sizeof(trimesh_vert), "verts") ||
        !trimesh_grow((void **)&m->tris, &m->captris, trimesh_startcap, sizeof(trimesh_tri), "tris") ||
        !heap_reset(&m->errors, trimesh_startcap, trimesh_settrifield, m) ||
        !(m->spans = (trimesh_span *)malloc((size_t)h * sizeof(trimesh_span)))) {
        sys_log("trimesh_start: no room to mesh %d x %d", w, h);
        trimesh_free(m);
        return 0;
    }
    const float fw = (float)(w - 1), fh = (float)(h - 1);
    trimesh_addvert(m, 0, 0, grid[0]);
    trimesh_addvert(m, fw, 0, grid[w - 1]);
    trimesh_addvert(m, 0, fh, grid[(size_t)(h - 1) * w]);
    trimesh_addvert(m, fw, fh, grid[(size_t)(h - 1) * w + w - 1]);
    const int32_t none[3] = {-1, -1, -1};
    trimesh_writetri(m, 3, 0, 2, none, -1);
    const int32_t across[3] = {0, -1, -1};
    trimesh_writetri(m, 0, 3, 1, across, -1);
    m->next = trimesh_scantri(m);
    return 1;
}

int trimesh_insertnext(trimesh *m)
{
    if (m->next < 0 || m->failed)
        return 0;
    // Room for the vertex and the two triangles an insertion may append, made
    // before anything changes: a refusal leaves a whole mesh behind.
    if (!trimesh_grow((void **)&m->verts, &m->capverts, m->numverts + 1, sizeof(trimesh_vert), "verts") ||
        !trimesh_grow((void **)&m->tris, &m->captris, m->numtris + 2, sizeof(trimesh_tri), "tris")) {
        sys_log("trimesh_insertnext: refining stops at %lld triangles", (long long)m->numtris);
        m->failed = 1;
        m->next = -1;
        return 0;
    }
    const int32_t t = m->next;
    const trimesh_tri tt = m->tris[t];
    const uint32_t v = (uint32_t)trimesh_addvert(m, tt.wx, tt.wy, tt.wz);
    const trimesh_vert &a = m->verts[tt.v[0]], &b = m->verts[tt.v[1]], &c = m->verts[tt.v[2]];
    const int64_t x = (int64_t)tt.wx, y = (int64_t)tt.wy;
    if (trimesh_orient(a, b, x, y) == 0)
        trimesh_insertpoint(m, v, t * 3);
    else if (trimesh_orient(b, c, x, y) == 0)
        trimesh_insertpoint(m, v, t * 3 + 1);
    else if (trimesh_orient(c, a, x, y) == 0)
        trimesh_insertpoint(m, v, t * 3 + 2);
    else
        trimesh_splitthree(m, v, t);
    if (m->failed) { // the pending queue overflowed: the mesh stands, unscanned parts stay coarse
        m->next = -1;
        return 0;
    }
    m->next = trimesh_scantri(m);
    return m->next >= 0;
}

int trimesh_mesh(trimesh *m, const float *grid, int w, int h, float tau)
{
    if (!trimesh_start(m, grid, w, h))
        return 0;
    while (m->next >= 0 && m->maxerror > tau)
        if (!trimesh_insertnext(m))
            break;
    sys_log("trimesh_mesh: %lld verts, %lld tris, max error %f, peak pending %d", (long long)m->numverts,
            (long long)m->numtris, m->maxerror, m->peakpending);
    heap_free(&m->errors);
    return 1;
}

int trimesh_meshimage(trimesh *m, const image *img, float tau)
{
    if (!img || img->bytesperpixel != 4 || !img->pixels) {
        sys_log("trimesh_meshimage: %s is not a scalar field", img ? img->name : "(none)");
        return 0;
    }
    return trimesh_mesh(m, (const float *)img->pixels, img->width, img->height, tau);
}

void trimesh_free(trimesh *m)
{
    free(m->verts);
    free(m->tris);
    free(m->spans);
    heap_free(&m->errors);
    memset((void *)m, 0, sizeof(*m));
    m->next = -1;
}
