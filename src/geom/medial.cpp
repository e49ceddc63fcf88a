// Medial axis: the grid of spatial cells over the contour, the segment
// registration by grid traversal, the circle probe against the 3 x 3 cells
// around a point, and the walk that probes from every segment's middle and
// fans round every convex corner. Cells grow with their segments up to the
// entry cap, so memory follows the contour, not the grid's worst case.
#include "geom/medial.h"

#include "geom/contour.h"
#include "geom/poly.h"
#include "geom/vec.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------- cells

static bool ma_finitepoly(const contour *c, size_t first, uint32_t count)
{
    for (size_t i = 3 * first; i < 3 * (first + count); i++)
        if (!std::isfinite(c->verts[i]))
            return false;
    return true;
}

// Bounding box of the polylines whose points are all finite; the others are
// marked unusable in skip.
static void ma_bounds(const contour *c, std::vector<char> &skip, float *box)
{
    box[0] = box[1] = 9999999.0f;
    box[2] = box[3] = -9999999.0f;
    size_t first = 0;
    for (uint32_t p = 0; p < c->numpolys; p++) {
        const uint32_t n = c->vertcount[p];
        skip[p] = !ma_finitepoly(c, first, n);
        if (skip[p])
            sys_log("con_medialaxis: poly[%u] holds points that are not finite; left out", p);
        for (uint32_t i = 0; i < n && !skip[p]; i++) {
            const float *v = c->verts + 3 * (first + i);
            box[0] = std::min(box[0], v[0]);
            box[1] = std::min(box[1], v[1]);
            box[2] = std::max(box[2], v[0]);
            box[3] = std::max(box[3], v[1]);
        }
        first += n;
    }
}

// Grid size for the box: cells at least 2 maxrad wide, at most 4096 of them.
static void ma_gridsize(const float *box, float maxrad, con_cells *g)
{
    const double w = (double)box[2] - box[0], h = (double)box[3] - box[1];
    double cell = maxrad;
    for (;;) {
        const double nx = std::max(1.0, std::floor(w / 2.0 / cell)), ny = std::max(1.0, std::floor(h / 2.0 / cell));
        if (nx * ny <= con_maxcells) {
            g->nx = (int32_t)nx;
            g->ny = (int32_t)ny;
            break;
        }
        cell *= 1.3;
    }
    g->ox = box[0];
    g->oy = box[1];
    g->cw = (float)(w / g->nx);
    g->ch = (float)(h / g->ny);
}

static void ma_freecells(con_cells *g)
{
    if (!g->cells)
        return;
    for (int i = 0; i < g->nx * g->ny; i++)
        sys_free(g->cells[i].entries);
    sys_free(g->cells);
    g->cells = nullptr;
}

// Adds one entry to cell (x, y); false when the cell is full or cannot grow.
static bool ma_addentry(con_cells *g, int x, int y, int poly, int vert)
{
    con_cell &cell = g->cells[y * g->nx + x];
    if (cell.count >= con_maxcellentries)
        return false;
    if (cell.count == cell.capacity) {
        const int32_t cap = std::min(std::max(cell.capacity * 2, 16), con_maxcellentries);
        void *grown = sys_realloc(cell.entries, cap * (int32_t)sizeof(con_cellentry));
        if (!grown)
            return false;
        cell.entries = (con_cellentry *)grown;
        cell.capacity = cap;
    }
    cell.entries[cell.count++] = {poly, vert};
    return true;
}

void con_addsegtocells(con_cells *g, const contour *c, int poly, int vert)
{
    const float *a = c->verts + 3 * (size_t)vert, *b = a + 3;
    const double x0 = (a[0] - g->ox) / g->cw, y0 = (a[1] - g->oy) / g->ch;
    const double dx = (b[0] - g->ox) / g->cw - x0, dy = (b[1] - g->oy) / g->ch - y0;
    int x = (int)std::floor(x0), y = (int)std::floor(y0);
    const int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    const double ix = std::min(dx != 0.0 ? 1.0 / std::fabs(dx) : 99999.0, 99999.0);
    const double iy = std::min(dy != 0.0 ? 1.0 / std::fabs(dy) : 99999.0, 99999.0);
    double tx = (sx > 0 ? (x + 1 - x0) : (x0 - x)) * ix;
    double ty = (sy > 0 ? (y + 1 - y0) : (y0 - y)) * iy;
    // Each step crosses one cell boundary the segment crosses; the bound only
    // guards against rounding.
    for (int steps = 0; steps <= 2 * (g->nx + g->ny) + 4; steps++) {
        if (x >= 0 && x < g->nx && y >= 0 && y < g->ny && !ma_addentry(g, x, y, poly, vert)) {
            sys_error("con_addsegtocells: cell[%d][%d] overflow on polyline:%d vertseg:%d", x, y, poly, vert);
            return;
        }
        if (tx > 1.0 && ty > 1.0)
            return;
        if (tx < ty) {
            x += sx;
            tx += ix;
        } else {
            y += sy;
            ty += iy;
        }
    }
}

// ---------------------------------------------------------------- probe

// The smallest candidate radius segment a-b (in the probe's frame: u across
// the direction, v along it) offers, or best when it offers none lower.
static float ma_segmentradius(const float *a, const float *b, float best)
{
    for (const float *e : {a, b})
        if (e[1] > 0.0001f)
            best = std::min(best, (e[0] * e[0] + e[1] * e[1]) / (2.0f * e[1]));
    const float du = b[0] - a[0], dv = b[1] - a[1];
    const float ulo = std::min(a[0], b[0]), uhi = std::max(a[0], b[0]);
    if (std::fabs(du) < 0.0001f) {
        const float r = std::fabs(a[0]);
        if (std::fabs(dv) > 0.0001f && r >= std::min(a[1], b[1]) && r <= std::max(a[1], b[1]))
            best = std::min(best, r);
        return best;
    }
    if (std::fabs(dv) < 0.0001f) {
        if (ulo <= 0.0f && uhi >= 0.0f && a[1] > 0.0f)
            best = std::min(best, a[1] / 2.0f);
        return best;
    }
    // The circle tangent to the segment's line v = s u + b0.
    const double s = dv / du, b0 = a[1] - s * a[0], k = 1.0 / s + s;
    const double qa = s * s + 1.0 - 2.0 * s * k, qb = -2.0 * b0 * k;
    const double disc = qb * qb + 4.0 * qa * b0 * b0;
    if (disc < 0.0)
        return best;
    for (double sign : {-1.0, 1.0}) {
        const double u = (-qb + sign * std::sqrt(disc)) / (2.0 * qa);
        const double r = u * k + b0;
        if (u >= ulo && u <= uhi && r >= 0.0 && r < best)
            best = (float)r;
    }
    return best;
}

float con_polyop(const con_cells *g, const contour *c, int poly, int seg, int seg2, const float *point,
                 const float *dir, int corner, float maxrad)
{
    float best = maxrad;
    const int cx = (int)std::floor((point[0] - g->ox) / g->cw), cy = (int)std::floor((point[1] - g->oy) / g->ch);
    for (int y = cy - 1; y <= cy + 1; y++)
        for (int x = cx - 1; x <= cx + 1; x++) {
            if (x < 0 || y < 0 || x >= g->nx || y >= g->ny)
                continue;
            const con_cell &cell = g->cells[y * g->nx + x];
            for (int i = 0; i < cell.count; i++) {
                const con_cellentry &e = cell.entries[i];
                if (e.poly == poly && (e.vert == seg || (corner && e.vert == seg2)))
                    continue;
                float f[2][2];
                for (int k = 0; k < 2; k++) {
                    const float *v = c->verts + 3 * ((size_t)e.vert + k);
                    const float px = v[0] - point[0], py = v[1] - point[1];
                    f[k][0] = px * dir[1] - py * dir[0];
                    f[k][1] = px * dir[0] + py * dir[1];
                }
                best = ma_segmentradius(f[0], f[1], best);
            }
        }
    return std::max(best, 0.0001f);
}

// ---------------------------------------------------------------- axis

namespace {
struct ma_walk {
    const con_cells *g;
    const contour *c;
    float maxrad;
    std::vector<float> out; // the new polyline's points
};
} // namespace

static void ma_add(ma_walk &w, const float *p, const float *dir, float r)
{
    w.out.insert(w.out.end(), {p[0] + r * dir[0], p[1] + r * dir[1], p[2] + r});
}

// Step 4 for one polyline: the fan at each corner that turns toward the
// inside and the probe from each segment's middle.
static void ma_polyline(ma_walk &w, int poly, size_t first, int n, bool closed)
{
    const float *v = w.c->verts + 3 * first;
    const int segs = n - 1;
    float prev[3] = {0.0f, 0.0f, 0.0f};
    for (int i = -1; i < segs; i++) {
        const int s = i < 0 ? segs - 1 : i;
        const float *p = v + 3 * s, *q = v + 3 * ((s + 1) % n);
        const float d[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
        const float l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        const float len = l2 > 0.0f ? l2 * vec_fastinvsqrt(l2) : 0.0f;
        if (len < 0.0001f)
            continue;
        const float u[3] = {d[0] / len, d[1] / len, d[2] / len};
        const float m[3] = {u[1], -u[0], u[2]};
        if (i >= 0) {
            const int segp = (int)first + (s + segs - 1) % segs, segq = (int)first + s;
            const float dot = u[0] * prev[0] + u[1] * prev[1] + u[2] * prev[2];
            if (!(i == 0 && !closed) && dot < -0.1f) {
                const float mp = std::clamp(prev[0] * m[0] + prev[1] * m[1] + prev[2] * m[2], -1.0f, 1.0f);
                const float angle = std::acos(mp) * 180.0f / (float)M_PI;
                for (float t = 0.0f; t < angle; t += 5.0f) {
                    float dir[3];
                    vec3_slerp(dir, prev, m, t / angle);
                    ma_add(w, p, dir, con_polyop(w.g, w.c, poly, segq, segp, p, dir, 1, w.maxrad));
                }
            }
            const float mid[3] = {(p[0] + q[0]) / 2, (p[1] + q[1]) / 2, (p[2] + q[2]) / 2};
            ma_add(w, mid, m, con_polyop(w.g, w.c, poly, segq, segq, mid, m, 0, w.maxrad));
        }
        memcpy(prev, m, sizeof(prev));
    }
}

static bool ma_allocate(con_cells *g, const float *box, float maxrad)
{
    ma_gridsize(box, maxrad, g);
    sys_debuglog("allocating %dx%d cells of size %2.2fx%2.2f from %2.2f,%2.2f->%2.2f,%2.2f", g->nx, g->ny, g->cw,
                 g->ch, box[0], box[1], box[2], box[3]);
    const double mb = (double)g->nx * g->ny * sizeof(con_cell) / 1048576.0;
    g->cells = (con_cell *)sys_calloc(g->nx * g->ny, (int32_t)sizeof(con_cell));
    if (!g->cells) {
        sys_log("failed to allocate spatial indexing cells (%3.1fmb)", mb);
        return false;
    }
    sys_debuglog("allocated spatial indexing cells (%3.1fmb)", mb);
    return true;
}

// Steps 4 and 5 for every usable polyline; false once the result is full.
static void ma_walkall(ma_walk &w, const std::vector<char> &skip, contour *out, float dotmin, float lenmin,
                       float lenmax)
{
    size_t first = 0;
    for (uint32_t p = 0; p < w.c->numpolys; first += w.c->vertcount[p], p++) {
        const int n = (int)w.c->vertcount[p];
        if (skip[p])
            continue;
        if (n <= 4) {
            sys_log("skipped poly[%u].verts[%d]", p, n);
            continue;
        }
        const bool closed = w.c->closed[p] != 0;
        w.out.clear();
        ma_polyline(w, (int)p, first, n, closed);
        if (w.out.empty())
            continue;
        if (closed)
            w.out.insert(w.out.end(), {w.out[0], w.out[1], w.out[2]});
        else
            w.out.insert(w.out.end(), w.c->verts + 3 * (first + n - 1), w.c->verts + 3 * (first + n));
        int count = (int)(w.out.size() / 3);
        if (count > 2)
            count = poly_vertdot(count, w.out.data(), dotmin, lenmin, lenmax);
        if (out->numpolys >= cont_maxpolys ||
            !cont_addpoly(out, w.out.data(), (uint32_t)count, w.c->closed[p], (int32_t)p, "con_medialaxis")) {
            sys_error("con_medialaxis: num_polylines overflow!");
            return;
        }
    }
}

contour *con_medialaxis(const contour *c, float maxrad, float dotmin, float lenmin, float lenmax)
{
    contour *out = cont_new();
    if (!out || !c)
        return out;
    if (!(maxrad > 0.0f) || !std::isfinite(maxrad)) {
        sys_log("con_medialaxis: maximum radius %f must be above 0", maxrad);
        return out;
    }
    std::vector<char> skip(c->numpolys);
    float box[4];
    ma_bounds(c, skip, box);
    sys_log("medial-axis cells:(%f,%f)(%f,%f) maxrad:%f", box[0], box[1], box[2], box[3], maxrad);
    if (box[0] > box[2])
        return out;
    const float grow = 0.05f * maxrad;
    const float padded[4] = {box[0] - grow, box[1] - grow, box[2] + grow, box[3] + grow};
    con_cells g{};
    if (!ma_allocate(&g, padded, maxrad))
        return out;
    size_t first = 0;
    for (uint32_t p = 0; p < c->numpolys; first += c->vertcount[p], p++)
        for (uint32_t i = 0; !skip[p] && i + 1 < c->vertcount[p]; i++)
            con_addsegtocells(&g, c, (int)p, (int)(first + i));
    ma_walk w{&g, c, maxrad, {}};
    ma_walkall(w, skip, out, dotmin, lenmin, lenmax);
    sys_log("medial axis contour = %u:%u", out->numpolys, out->numverts);
    ma_freecells(&g);
    return out;
}
