// The Tessellated Carving generator. Contents: the operation's tiling words;
// the tile pattern (shape constants per image, per row, per pixel, drawn
// four pixels a step); the rings (levels, nesting); the cut passes along each
// tile's chain of rings; the job function. The shape formulas are written
// once as templates over float and four-float vectors so that the wide loop
// and the per-pixel loop compute exactly the same values.
#include "cam/tessellate.h"

#include "cam/engage.h"
#include "cam/parallel.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "img/image.h"
#include "img/resample.h"
#include "sys/log.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------- tiling words

int tess_unpack(const camop *op, tess_params *p, const char *fn)
{
    uint32_t a0, a1;
    memcpy(&a0, &op->aux[0], sizeof(a0));
    memcpy(&a1, &op->aux[1], sizeof(a1));
    p->shape = (int)(a0 & 0xffff);
    p->cuts = (int)(a0 >> 16);
    p->cols = (int)(int16_t)(a1 & 0xffff);
    p->rows = (int)(int16_t)(a1 >> 16);
    p->gap = op->aux[2];
    if (p->cuts <= 0 || p->cols <= 0 || p->rows <= 0) {
        sys_log("%s: cuts %d, columns %d and rows %d must be above 0", fn, p->cuts, p->cols, p->rows);
        return 0;
    }
    if (!std::isfinite(p->gap)) {
        sys_log("%s: gap %f is not a number", fn, p->gap);
        return 0;
    }
    return 1;
}

void tess_levels(int cuts, float gap, float *first, float *step)
{
    if (gap == 0.0f) {
        *first = 0.5f / (float)cuts;
        *step = 1.0f / (float)cuts;
    } else {
        *first = 0.0f;
        *step = (1.0f + 0.5f / (float)cuts) / (float)cuts;
    }
}

// ---------------------------------------------------------------- tile pattern

typedef float tess_v4 __attribute__((vector_size(16)));
typedef int32_t tess_i4 __attribute__((vector_size(16)));

static inline float tess_sqrt(float a)
{
    return std::sqrt(a);
}
static inline tess_v4 tess_sqrt(tess_v4 a)
{
    return (tess_v4)_mm_sqrt_ps((__m128)a);
}
// Fractional part of a >= 0 (pixel positions never go negative).
static inline float tess_frac(float a)
{
    return a - (float)(int32_t)a;
}
static inline tess_v4 tess_frac(tess_v4 a)
{
    return a - __builtin_convertvector(__builtin_convertvector(a, tess_i4), tess_v4);
}
template <class T> static inline T tess_abs(T a)
{
    return a < 0.0f ? -a : a;
}
template <class T> static inline T tess_max(T a, T b)
{
    return a > b ? a : b;
}
template <class T> static inline T tess_min(T a, T b)
{
    return a < b ? a : b;
}

// Constants of one tile image, in tile-image pixels.
struct tess_geom {
    int shape;
    float px, py, g;
    float kx, ky, k;  // border scalings of the shape
    float ta, tb, tc; // triangles: A, B, c
};
// Constants of one row.
struct tess_row {
    float qv;         // quads: |0.5 - v| ky; diamonds: |0.5 - v|
    float r;          // the row's place in the offset-row period
    float e1, e2;     // triangles
    float y1, y2;     // circles: squared vertical terms
};

static tess_geom tess_makegeom(int shape, int width, int height, int cols, int rows, float gap)
{
    tess_geom t{};
    t.shape = shape;
    t.px = (float)width / (float)cols;
    t.py = (float)height / (float)rows;
    t.g = gap;
    const float px = t.px, py = t.py, g = gap;
    switch (shape) {
    case tess_quads:
        t.kx = px / (px - g);
        t.ky = py / (py - g);
        break;
    case tess_triangles: {
        const float a = std::atan(2.0f * py / px);
        const float tt = px * std::tan(a * 0.5f);
        t.ta = px * std::sin(a) / tt;
        t.tb = 2.0f * py * std::cos(a) / tt;
        t.k = tt / (tt - g);
        t.tc = 0.5f * tt / py;
        break;
    }
    case tess_diamonds: {
        const float s = std::sqrt(px * px + py * py);
        const float d = std::sqrt((g * s / px) * (g * s / px) + (g * s / py) * (g * s / py));
        t.k = s / (s - d);
        break;
    }
    case tess_diamonds2: {
        t.kx = (px * 0.5f) / (px * 0.5f - g);
        const float kk = 2.0f * px * py / (3.0f * std::sqrt(py * py / 9.0f + px * px));
        t.k = kk / (kk - g);
        break;
    }
    case tess_hexagons: {
        t.kx = px / (px - g);
        const float kk = 4.0f * px * py / (3.0f * std::sqrt(py * py / 9.0f + px * px));
        t.k = kk / (kk - g);
        break;
    }
    case tess_circles: {
        t.kx = px / (px - g);
        const float ry = 2.0f * py / 1.7320508f;
        t.ky = ry / (ry - g);
        break;
    }
    }
    return t;
}

static tess_row tess_makerow(const tess_geom &t, int y)
{
    tess_row r{};
    const float v = tess_frac((float)y / t.py);
    const float w = tess_frac((float)y / (2.0f * t.py));
    switch (t.shape) {
    case tess_quads:
        r.qv = tess_abs(0.5f - v) * t.ky;
        break;
    case tess_triangles:
        r.r = 2.0f * tess_abs(w - 0.5f);
        r.e1 = r.r - t.tc;
        r.e2 = (1.0f - r.r) - t.tc;
        break;
    case tess_diamonds:
        r.qv = tess_abs(0.5f - v);
        break;
    case tess_diamonds2:
        r.r = 2.0f * tess_abs(w - 0.5f);
        break;
    case tess_hexagons:
        r.r = tess_abs(w - 0.5f);
        break;
    case tess_circles: {
        r.r = 2.0f * tess_abs(w - 0.5f);
        const float y1 = 1.7320508f * r.r * t.ky, y2 = 1.7320508f * (1.0f - r.r) * t.ky;
        r.y1 = y1 * y1;
        r.y2 = y2 * y2;
        break;
    }
    }
    return r;
}

// The height at horizontal tile position u (0..1) of row r; T is float or
// a vector of four. The shape is a template argument so that each row loop
// is compiled without a branch inside.
template <int S, class T> static inline T tess_height(const tess_geom &t, const tess_row &r, T u)
{
    const T one = u * 0.0f + 1.0f;
    if constexpr (S == tess_quads) {
        return 1.0f - 2.0f * tess_max(tess_abs(0.5f - u) * t.kx, one * r.qv);
    } else if constexpr (S == tess_triangles) {
        const T tt = 2.0f * tess_abs(u - 0.5f);
        const T m1 = tess_max(one * (-r.e1 / t.tc), t.ta * tt + t.tb * r.e1);
        const T m2 = tess_max(one * (-r.e2 / t.tc), t.ta * (1.0f - tt) + t.tb * r.e2);
        return 1.0f - t.k * tess_min(m1, m2);
    } else if constexpr (S == tess_diamonds) {
        T tt = 2.0f * (tess_abs(0.5f - u) + r.qv);
        tt = tt > 1.0f ? 2.0f - tt : tt;
        return 1.0f - tt * t.k;
    } else if constexpr (S == tess_diamonds2) {
        const T s = tess_abs(u - 0.5f);
        const T q = 1.0f - 2.0f * s;
        const T pp = s + 1.5f * r.r;
        const T qq = q * 0.5f + 1.5f * (1.0f - r.r);
        const T c = 2.0f * q - 1.0f;
        const T rr = c * 0.5f + 3.0f * ((1.0f - r.r) - 0.5f);
        return 1.0f - tess_min(2.0f * t.k * tess_min(pp, qq), tess_max(tess_abs(c) * t.kx, tess_abs(rr) * t.k));
    } else if constexpr (S == tess_hexagons) {
        const T s = tess_abs(u - 0.5f), s2 = 0.5f - s;
        const T m1 = tess_max(2.0f * s * t.kx, 2.0f * (s * 0.5f + 1.5f * r.r) * t.k);
        const T m2 = tess_max(2.0f * s2 * t.kx, 2.0f * (s2 * 0.5f + 1.5f * (0.5f - r.r)) * t.k);
        return 1.0f - tess_min(m1, m2);
    } else {
        const T tt = 2.0f * tess_abs(u - 0.5f);
        const T a = t.kx * tt, b = (1.0f - tt) * t.kx;
        return 1.0f - tess_min(tess_sqrt(a * a + r.y1), tess_sqrt(b * b + r.y2));
    }
}

template <int S> static void tess_drawrow(const tess_geom &t, const tess_row &r, float *row, int width, int wide)
{
    int x = 0;
    if (wide) {
        const tess_v4 lanes = {0.0f, 1.0f, 2.0f, 3.0f};
        for (; x + 4 <= width; x += 4) {
            const tess_v4 u = tess_frac(((float)x + lanes) / t.px);
            const tess_v4 h = tess_height<S>(t, r, u);
            memcpy(row + x, &h, sizeof(h));
        }
    }
    for (; x < width; x++)
        row[x] = tess_height<S>(t, r, tess_frac((float)x / t.px));
}

static void tess_drawrow(const tess_geom &t, int y, float *row, int width, int wide)
{
    const tess_row r = tess_makerow(t, y);
    switch (t.shape) {
    case tess_quads:
        return tess_drawrow<tess_quads>(t, r, row, width, wide);
    case tess_triangles:
        return tess_drawrow<tess_triangles>(t, r, row, width, wide);
    case tess_diamonds:
        return tess_drawrow<tess_diamonds>(t, r, row, width, wide);
    case tess_diamonds2:
        return tess_drawrow<tess_diamonds2>(t, r, row, width, wide);
    case tess_hexagons:
        return tess_drawrow<tess_hexagons>(t, r, row, width, wide);
    case tess_circles:
        return tess_drawrow<tess_circles>(t, r, row, width, wide);
    }
}

void tess_drawpattern(image *tile, int shape, int cols, int rows, float gap, int wide)
{
    if (shape < tess_quads || shape > tess_circles || cols <= 0 || rows <= 0)
        return; // no shape: the pattern stays as it is, 0 in a new image
    const tess_geom t = tess_makegeom(shape, tile->width, tile->height, cols, rows, gap);
    float *pixels = (float *)tile->pixels;
    for (int y = 0; y < tile->height; y++)
        tess_drawrow(t, y, pixels + (size_t)y * tile->width, tile->width, wide);
}

image *tess_drawtile(int shape, int width, int height, int cols, int rows, float gap, int wide)
{
    char name[32];
    snprintf(name, sizeof(name), "tile%d", shape);
    image *tile = img_allocfloat(name, width, height);
    if (!tile) {
        sys_log("tess_drawtile: no %dx%d tile image", width, height);
        return nullptr;
    }
    tess_drawpattern(tile, shape, cols, rows, gap, wide);
    return tile;
}

// ---------------------------------------------------------------- rings

// Polylines and points of k in reverse order, counts, links and flags moving
// with them: reversing the whole point array turns both at once.
static void tess_reverse(contour *k)
{
    size_t total = 0;
    for (uint32_t i = 0; i < k->numpolys; i++)
        total += k->vertcount[i];
    for (size_t a = 0, b = total ? total - 1 : 0; a < b; a++, b--)
        for (int c = 0; c < 3; c++)
            std::swap(k->verts[3 * a + c], k->verts[3 * b + c]);
    std::reverse(k->vertcount, k->vertcount + k->numpolys);
    std::reverse(k->link, k->link + k->numpolys);
    std::reverse(k->closed, k->closed + k->numpolys);
}

// Is p inside the ring (crossing count; an open polyline, a shape cut off by
// the canvas edge, is closed by the chord between its ends)?
static bool tess_inside(const std::vector<float> &v, const float *p)
{
    const size_t count = v.size() / 3;
    bool in = false;
    for (size_t i = 0, j = count - 1; i < count; j = i++) {
        const float xi = v[3 * i], yi = v[3 * i + 1], xj = v[3 * j], yj = v[3 * j + 1];
        if ((yi > p[1]) != (yj > p[1]) && p[0] < (xj - xi) * (p[1] - yi) / (yj - yi) + xi)
            in = !in;
    }
    return in;
}

// Squared XY distance from p to the ring, positive when p lies inside it.
static float tess_side(const tess_node &n, const float *p)
{
    const std::vector<float> &v = n.verts;
    const size_t count = v.size() / 3;
    float best = 3.4e38f;
    for (size_t i = 0; i + 1 < count; i++) {
        const float ax = v[3 * i], ay = v[3 * i + 1];
        const float dx = v[3 * i + 3] - ax, dy = v[3 * i + 4] - ay;
        const float len = dx * dx + dy * dy;
        float f = len > 0.0f ? ((p[0] - ax) * dx + (p[1] - ay) * dy) / len : 0.0f;
        f = std::clamp(f, 0.0f, 1.0f);
        const float ex = p[0] - (ax + f * dx), ey = p[1] - (ay + f * dy);
        best = std::fmin(best, ex * ex + ey * ey);
    }
    return tess_inside(v, p) ? best : -best;
}

// Squared XY distance from p to the ring's bounding box: no point of the
// ring is nearer.
static float tess_boxdist(const tess_node &n, const float *p)
{
    const float dx = std::fmax(0.0f, std::fmax(n.box[0] - p[0], p[0] - n.box[2]));
    const float dy = std::fmax(0.0f, std::fmax(n.box[1] - p[1], p[1] - n.box[3]));
    return dx * dx + dy * dy;
}

// The ring of the previous level that encloses p: the least positive signed
// distance. The side is found by a crossing count rather than by the turn of
// the nearest segment, which is ambiguous at a vertex and depends on the
// tracer's orientation and on reversed polylines. Rings whose box is no nearer than the best so far cannot win and are not
// searched.
static int tess_findinner(const tess_rings &r, const std::vector<int32_t> &prev, const float *p, float *dist)
{
    float best = 9999999.0f;
    int found = -1;
    for (int32_t j : prev) {
        const tess_node &n = r.nodes[j];
        if (tess_boxdist(n, p) >= best)
            continue;
        const float d = tess_side(n, p);
        if (d > 0.0f && d < best)
            best = d, found = j;
    }
    *dist = best;
    return found;
}

static void tess_setbox(tess_node &n)
{
    n.box[0] = n.box[1] = 3.4e38f;
    n.box[2] = n.box[3] = -3.4e38f;
    for (size_t i = 0; i + 2 < n.verts.size(); i += 3) {
        n.box[0] = std::fmin(n.box[0], n.verts[i]);
        n.box[1] = std::fmin(n.box[1], n.verts[i + 1]);
        n.box[2] = std::fmax(n.box[2], n.verts[i]);
        n.box[3] = std::fmax(n.box[3], n.verts[i + 1]);
    }
}

// One level's polylines become nodes linked to the previous level's rings;
// 0 (logged) when a store would overflow.
static int tess_addlevel(const cam_gen *g, const contour *k, bool firstlevel, tess_rings *r,
                         std::vector<int32_t> &prev, std::vector<int32_t> &next)
{
    const camop *op = g->op;
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++) {
        const uint32_t n = k->vertcount[i];
        if ((op->flags & camop_removepartials) && !k->closed[i]) {
            sys_log("ignoring non-closed poly[%d] verts:%d", (int)i, (int)n);
            continue;
        }
        if (r->nodes.size() >= (size_t)tess_maxnodes || next.size() >= (size_t)tess_maxlist) {
            sys_log("%s: more than %d rings, or %d in one level; use fewer tiles or cuts", g->fn, tess_maxnodes,
                    tess_maxlist);
            return 0;
        }
        const int id = (int)r->nodes.size();
        tess_node node{-1, k->closed[i], std::vector<float>(v, v + 3 * (size_t)n), {}};
        tess_setbox(node);
        r->nodes.push_back(std::move(node));
        if (firstlevel) {
            next.push_back(id);
            continue;
        }
        float dist;
        const int inner = tess_findinner(*r, prev, v, &dist);
        if (inner < 0) {
            sys_log("NODE[%d] IS INNER TO NONE!", id);
            continue;
        }
        r->nodes[id].inner = inner;
        sys_debuglog("node[%d].inner = node[%d] (dist:%f)", id, inner, dist);
        next.push_back(id);
    }
    return 1;
}

int tess_buildrings(const cam_gen *g, const tess_params &p, tess_rings *out)
{
    out->nodes.clear();
    out->leaves.clear();
    const int w = g->width, h = g->height;
    const float gap = (2.0f * (float)w / g->size[0]) * p.gap;
    image *tile = tess_drawtile(p.shape, 2 * w, 2 * h, p.cols, p.rows, gap, 1);
    if (!tile)
        return 0;
    image *scaled = img_rescalescalar(tile, w, h);
    img_free(tile);
    if (!scaled) {
        sys_log("%s: no %dx%d pattern", g->fn, w, h);
        return 0;
    }
    float first, step;
    tess_levels(p.cuts, p.gap, &first, &step);
    sys_log("contouring start:%f step:%f", first, step);
    cam_lines m;
    camop_linesgeometry(g, &m);
    std::vector<int32_t> prev, next;
    int ok = 1;
    for (int i = 0; ok; i++) {
        const float level = first + step * (float)i;
        contour *k = cont_fromimage(scaled, level, m.sizevec, m.originvec, 1.0f, 0.0f, 0.0f, 0);
        const int count = k ? (int)k->numpolys : 0;
        sys_log("...contoured %d polylines @%0.3f", count, level);
        if (!count) {
            cont_free(k);
            break;
        }
        if (g->op->dir == 0)
            tess_reverse(k);
        if (g->op->cont)
            con_append(k, g->op->cont);
        next.clear();
        ok = tess_addlevel(g, k, i == 0, out, prev, next);
        prev.swap(next);
        cont_free(k);
    }
    img_free(scaled);
    out->leaves = prev;
    return ok;
}

// ---------------------------------------------------------------- cutting

namespace {
// What one run's cutting holds, freed together on every way out.
struct tess_work {
    image *sc = nullptr;
    contour *chain = nullptr;
    ~tess_work()
    {
        img_free(sc);
        cont_free(chain);
    }
};
// The state carried from one cut to the next across chains and passes.
struct tess_cursor {
    float end[3] = {999999.0f, 999999.0f, 999999.0f};
    int dir = 1;
};
} // namespace

// The vertex of the first n of v nearest in XY to p.
static int tess_nearest(const float *v, int n, const float *p)
{
    int best = 0;
    float bestd = 3.4e38f;
    for (int i = 0; i < n; i++) {
        const float dx = v[3 * i] - p[0], dy = v[3 * i + 1] - p[1];
        if (dx * dx + dy * dy < bestd)
            bestd = dx * dx + dy * dy, best = i;
    }
    return best;
}

// Does the straight feed from a to b stay on or above the cut surface? A
// link between two rings crosses whatever relief lies between them, which
// may stand higher than both ends; sampled every half pixel, each sample the
// highest of the four pixels around it.
static bool tess_linkclear(const cam_lines &w, const image *sc, const float *a, const float *b)
{
    const float *f = (const float *)sc->pixels;
    const float pxw = std::fabs(w.sizevec[0]) / (float)sc->width;
    const float len = std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]));
    const int steps = std::min(100000, (int)std::ceil(2.0f * len / pxw) + 1);
    for (int s = 0; s <= steps; s++) {
        const float t = (float)s / (float)steps;
        const float x = a[0] + t * (b[0] - a[0]), y = a[1] + t * (b[1] - a[1]), z = a[2] + t * (b[2] - a[2]);
        const float fx = (x - w.originvec[0]) / w.sizevec[0] * (float)sc->width;
        const float fy = (y - w.originvec[1]) / w.sizevec[1] * (float)sc->height;
        float top = -3.4e38f;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) {
                const int i = std::clamp((int)std::floor(fx) + dx, 0, sc->width - 1);
                const int j = std::clamp((int)std::floor(fy) + dy, 0, sc->height - 1);
                top = std::fmax(top, f[(size_t)j * sc->width + i]);
            }
        if (z < top * w.sizevec[2] + w.originvec[2] - 1e-5f)
            return false;
    }
    return true;
}

// Adds one pass's pieces: open ones from the end the direction picks, rings
// from their vertex nearest the last cut's end, linked within the pass with
// flag 0x4 where the link clears the surface, otherwise ramped in with entry
// method 1.
static void tess_emit(const cam_gen *g, const cam_lines &w, const image *sc, const contour *k, tess_cursor *c)
{
    const camop *op = g->op;
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++) {
        const int n = (int)k->vertcount[i];
        const int closed = k->closed[i] ? 1 : 0;
        // A closed piece repeats its first point; the toolpath repeats the
        // start point itself.
        const int distinct = closed && n > 1 && v[0] == v[3 * (n - 1)] && v[1] == v[3 * (n - 1) + 1] ? n - 1 : n;
        int start = closed ? tess_nearest(v, distinct, c->end) : (c->dir == 1 ? 0 : n - 1);
        int link = 0;
        if (closed && (op->flags & camop_linkcuts) && i > 0 && tess_linkclear(w, sc, c->end, v + 3 * start)) {
            link = 1;
        } else if (op->entry == 1) {
            const int at = toolpath_addramp(g->slot, 0, c->dir, start, distinct, v, closed);
            if (at >= 0)
                start = at, link = 1;
        }
        toolpath_addpath(c->end, g->slot, 0, link, closed, start, c->dir, distinct, v);
        if (op->dir == 2)
            c->dir = -c->dir;
    }
}

// The chain of leaf: its ring, then each enclosing ring out to the tile's
// outermost. 0 when the contour cannot take it.
static int tess_chain(const cam_gen *g, const tess_rings &r, int leaf, contour *chain)
{
    chain->numpolys = chain->numverts = 0;
    for (int j = leaf; j >= 0; j = r.nodes[j].inner) {
        const tess_node &n = r.nodes[j];
        sys_debuglog("add leaf[%d] = node[%d].verts[%d]", leaf, j, (int)(n.verts.size() / 3));
        if (!cont_addpoly(chain, n.verts.data(), (uint32_t)(n.verts.size() / 3), n.closed, -1, g->fn))
            return 0;
    }
    return 1;
}

// Every pass of one chain from the shallow limit to the bottom.
static void tess_passes(const cam_gen *g, const cam_lines &w, const image *sc, const contour *chain, tess_cursor *c)
{
    float ztop = g->z0, zlow = std::fmax(g->z1, ztop - g->doc);
    for (;;) {
        contour *k = camop_drapelevel(&w, sc, chain, zlow, ztop);
        if (k) {
            if (k->numpolys) {
                if (g->op->cont)
                    con_append(k, g->op->cont);
                tess_emit(g, w, sc, k, c);
                cam_genengage(g, ztop);
            }
            cont_free(k);
        }
        if (std::fabs(zlow - g->z1) < 0.0001f)
            return;
        ztop = zlow;
        zlow = std::fmax(g->z1, zlow - g->doc);
    }
}

void cam_tessellate(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_tessellate", "CAMOP_TESSELLATE"))
        return;
    tess_params p;
    tess_rings rings;
    if (!tess_unpack(g.op, &p, g.fn) || !tess_buildrings(&g, p, &rings)) {
        cam_genfail(&g);
        return;
    }
    cam_lines w;
    camop_linesgeometry(&g, &w);
    tess_work work;
    work.sc = camop_cutsurface(&g, &w);
    work.chain = work.sc ? cont_new() : nullptr;
    if (!work.chain) {
        cam_genfail(&g);
        return;
    }
    if (!cam_genclaim(&g, 1))
        return;
    if (g.op->cont)
        g.op->cont->numpolys = g.op->cont->numverts = 0;
    tess_cursor cursor;
    for (int32_t leaf : rings.leaves) {
        if (!tess_chain(&g, rings, leaf, work.chain))
            continue; // logged; the other tiles are still cut
        tess_passes(&g, w, work.sc, work.chain, &cursor);
    }
    toolpath_engagepaths(g.slot);
    cam_genend(&g, 0, nullptr);
}
