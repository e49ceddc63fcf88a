// Distance fields to polygons. The masked distance indexes the segments in
// one cell (every segment tried, measured to its line within the sides its
// neighbours accept) or in a grid of nearly square cells that a grid
// traversal registers them in; each pixel then searches the rings of cells
// around it, passing over empty and too distant stretches, until no nearer
// segment can remain. The single-polyline distance and the cone worker run
// plain loops over their bands.
#include "img/distance.h"

#include "img/bands.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// One band per idle worker (at least one), ceil(h / n) rows each; the masked
// distance polls with 1 ms sleeps, the single polyline with 0 ms.
static constexpr img_bandrule distpolys_bandrule = {img_bandsidle, 0, false, false, 1};
static constexpr img_bandrule distpoly_bandrule = {img_bandsidle, 0, false, false, 0};

constexpr float distpoly_far = 999999.0f;  // squared pixels: beyond reach of a single polyline
constexpr double grid_incmax = 99999.0;    // cap of a traversal's parameter step
constexpr double grid_density = 0.3;       // points per cell the grid refines below
constexpr int64_t grid_maxcells = 1 << 26; // cell heads of one index (256 MB)

// A point of the polylines in pixel units of the band's field.
struct dist_pixelmap {
    float ox, oy, kx, ky;
    void at(const float *points, int index, float *out) const
    {
        const float *p = points + 3 * (size_t)index;
        out[0] = (p[0] - ox) * kx;
        out[1] = (p[1] - oy) * ky;
    }
};

static bool dist_checkworld(const char *caller, const float *size, const float *origin)
{
    if (size[0] > 0.0f && size[1] > 0.0f && std::isfinite(size[0]) && std::isfinite(size[1]) &&
        std::isfinite(origin[0]) && std::isfinite(origin[1]))
        return true;
    sys_log("%s: bad world rectangle %f x %f at %f, %f", caller, size[0], size[1], origin[0], origin[1]);
    return false;
}

static bool dist_checkpoints(const char *caller, int count, const float *points)
{
    for (int i = 0; i < count; i++) {
        const float *p = points + 3 * (size_t)i;
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
            sys_log("%s: point %d is not finite", caller, i);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- segment index

struct dist_index {
    int columns = 1, rows = 1;
    int32_t *cells = nullptr; // columns x rows heads
    int32_t *nodes = nullptr; // 4 words a node
    int32_t nodecount = 0, nodecap = 0;
    int32_t *filled = nullptr; // summed-area table of the non-empty cells
};

static void dist_freeindex(dist_index &ix)
{
    sys_free(ix.cells);
    sys_free(ix.nodes);
    sys_free(ix.filled);
    ix = dist_index{};
}

// The summed-area table of the non-empty cells, with which the ring search
// passes over an empty stretch of cells in one look. Without memory for it
// every cell is looked at.
static void dist_sumfilled(dist_index &ix)
{
    const int cols = ix.columns, w = cols + 1;
    int64_t n = (int64_t)w * (ix.rows + 1);
    if (n * 4 > INT32_MAX || !(ix.filled = (int32_t *)sys_malloc((int32_t)(n * 4))))
        return;
    int32_t *f = ix.filled;
    for (int x = 0; x < w; x++)
        f[x] = 0;
    for (int y = 1; y <= ix.rows; y++) {
        f[(size_t)y * w] = 0;
        for (int x = 1; x <= cols; x++) {
            int here = ix.cells[(size_t)(y - 1) * cols + (x - 1)] >= 0;
            f[(size_t)y * w + x] = here + f[(size_t)(y - 1) * w + x] + f[(size_t)y * w + x - 1] -
                                   f[(size_t)(y - 1) * w + x - 1];
        }
    }
}

// The squarest cell grid: a column is added while cells are wider than
// tall, a row while they are taller, until the shape is square within
// 0.0005. It stops at the latest on the reduced ratio of the sides.
static void dist_squarest(int w, int h, int *columns, int *rows)
{
    int c = 1, r = 1;
    for (;;) {
        double ratio = ((double)w / c) / ((double)h / r);
        if (std::max(ratio, 1.0 / ratio) - 1.0 <= 0.0005)
            break;
        if (ratio > 1.0)
            c++;
        else
            r++;
    }
    *columns = c;
    *rows = r;
}

// Refines the squarest grid by k x k until fewer than 0.3 points share a cell.
static void dist_refine(int points, int *columns, int *rows)
{
    double cells = (double)*columns * *rows;
    if (points / cells < grid_density)
        return;
    int k = 2;
    while (points / ((double)k * k * cells) >= grid_density)
        k++;
    *columns *= k;
    *rows *= k;
}

// Room for one more node: 0 when there was room, 1 when the array doubled
// (the new half all bits set), -1 when it could not grow.
static int dist_reserve(dist_index &ix)
{
    if (ix.nodecount < ix.nodecap)
        return 0;
    int64_t cap = std::max<int64_t>(2 * (int64_t)ix.nodecap, 64);
    if (cap * 16 > INT32_MAX)
        return -1;
    int32_t *grown = (int32_t *)sys_realloc(ix.nodes, (int32_t)(cap * 16));
    if (!grown)
        return -1;
    memset(grown + 4 * (size_t)ix.nodecap, 0xff, (size_t)(cap - ix.nodecap) * 16);
    ix.nodes = grown;
    ix.nodecap = (int32_t)cap;
    return 1;
}

static void dist_push(dist_index &ix, int cell, int first, int last, int segment)
{
    int32_t *n = ix.nodes + 4 * (size_t)ix.nodecount;
    n[0] = first;
    n[1] = last;
    n[2] = segment;
    n[3] = ix.cells[cell];
    ix.cells[cell] = ix.nodecount++;
}

// One grid traversal in cell coordinates: steps of +1 or -1 per axis,
// parameter increments 1 / |delta| per axis capped at 99,999.
struct dist_walk {
    double d[2], inc[2], t[2];
    int step[2], cell[2];
};

static void dist_walkstart(dist_walk &wk, const double *a, const double *b)
{
    for (int k = 0; k < 2; k++) {
        wk.d[k] = b[k] - a[k];
        wk.inc[k] = std::min(1.0 / std::fabs(wk.d[k]), grid_incmax);
        wk.step[k] = wk.d[k] >= 0.0 ? 1 : -1;
        double f = std::floor(a[k]);
        wk.cell[k] = (int)f;
        wk.t[k] = (wk.step[k] > 0 ? f + 1.0 - a[k] : a[k] - f) * wk.inc[k];
    }
}

// Where the segment's points lie off the grid, their cells are taken as the
// nearest border cells: a pixel on the grid is never nearer to such a point
// than to the border cell, so the ring search still finds the segment.
struct dist_registrar {
    dist_index &ix;
    int first, last, segment;
    int lastcell = -1;

    // Pushes the node into the cell (clamped onto the grid) unless the
    // segment's previous node went there; false when the nodes cannot grow.
    bool visit(const dist_walk &wk)
    {
        int cx = std::clamp(wk.cell[0], 0, ix.columns - 1), cy = std::clamp(wk.cell[1], 0, ix.rows - 1);
        int cell = cy * ix.columns + cx;
        if (cell == lastcell)
            return true;
        int grown = dist_reserve(ix);
        if (grown < 0)
            return false;
        if (grown)
            sys_log("...reallocated cellsegment list nodes (%d) [%d,%d] delta:%f,%f m:%f,%f t:%f,%f d:%d,%d",
                    ix.nodecap, cx, cy, wk.d[0], wk.d[1], wk.inc[0], wk.inc[1], wk.t[0], wk.t[1], wk.step[0],
                    wk.step[1]);
        dist_push(ix, cell, first, last, segment);
        lastcell = cell;
        return true;
    }

    // Walks a to b (both on the grid rectangle), advancing the axis with the
    // smaller parameter (y on a tie) until both pass the end. Rounding can
    // stall a parameter on huge coordinates, so the steps are bounded by
    // what a walk across the grid needs.
    bool walk(const double *a, const double *b)
    {
        dist_walk wk;
        dist_walkstart(wk, a, b);
        for (int steps = ix.columns + ix.rows + 4; steps > 0; steps--) {
            if (!visit(wk))
                return false;
            if (wk.t[0] > 1.0 && wk.t[1] > 1.0)
                break;
            int k = wk.t[0] < wk.t[1] ? 0 : 1;
            wk.cell[k] += wk.step[k];
            wk.t[k] += wk.inc[k];
        }
        return true;
    }
};

// Registers segment s (points s, s + 1 of the polyline first .. last) in
// every cell it crosses. The segment is cut where it crosses the grid's
// border lines; each piece, clamped onto the grid rectangle, is a straight
// walk of bounded length. False when the node array could not grow.
static bool dist_register(dist_index &ix, const float *points, const dist_pixelmap &cellmap, int poly, int first,
                          int last, int s)
{
    float fa[2], fb[2];
    cellmap.at(points, s, fa);
    cellmap.at(points, s + 1, fb);
    const double a[2] = {fa[0], fa[1]}, d[2] = {(double)fb[0] - fa[0], (double)fb[1] - fa[1]};
    if (std::fabs(d[0]) <= 1.0 / grid_incmax && std::fabs(d[1]) <= 1.0 / grid_incmax) {
        sys_log("!!! zero length segment: poly[%d].vert[%d/%d] delta=%f,%f", poly, s - first, last - first + 1,
                d[0], d[1]);
        return true;
    }
    const double lines[2][2] = {{0.0, (double)ix.columns}, {0.0, (double)ix.rows}};
    double cuts[6] = {0.0, 1.0};
    int n = 2;
    for (int k = 0; k < 2; k++) {
        for (double line : lines[k]) {
            double t = d[k] != 0.0 ? (line - a[k]) / d[k] : -1.0;
            // Kept in order as they come: at most four cuts between 0 and 1.
            if (t > 0.0 && t < 1.0) {
                int i = n++;
                for (; cuts[i - 1] > t; i--)
                    cuts[i] = cuts[i - 1];
                cuts[i] = t;
            }
        }
    }
    dist_registrar reg{ix, first, last, s};
    for (int i = 0; i + 1 < n; i++) {
        double p[2][2];
        for (int e = 0; e < 2; e++)
            for (int k = 0; k < 2; k++)
                p[e][k] = std::clamp(a[k] + cuts[i + e] * d[k], lines[k][0], lines[k][1]);
        if (!reg.walk(p[0], p[1]))
            return false;
    }
    return true;
}

// One cell holding every segment of every polyline of two or more points.
static void dist_indexall(dist_index &ix, int polycount, const int32_t *counts)
{
    int first = 0;
    for (int p = 0; p < polycount; p++) {
        int last = first + counts[p] - 1;
        for (int s = first; s < last; s++) {
            if (dist_reserve(ix) < 0) {
                sys_log("img_scalarmaskeddistpolys: out of memory for segment nodes, indexing stopped");
                return;
            }
            dist_push(ix, 0, first, last, s);
        }
        first += counts[p];
    }
}

static void dist_indexgrid(dist_index &ix, const float *points, const dist_pixelmap &cellmap, int polycount,
                           const int32_t *counts)
{
    int first = 0;
    for (int p = 0; p < polycount; p++) {
        int last = first + counts[p] - 1;
        for (int s = first; s < last; s++) {
            if (!dist_register(ix, points, cellmap, p, first, last, s)) {
                sys_log("img_scalarmaskeddistpolys: out of memory for segment nodes, indexing stopped");
                return;
            }
        }
        first += counts[p];
    }
}

// Builds the index: its cells, the heads and nodes all bits set, and the
// segments registered. False (logged) when the cells cannot be had.
static bool dist_buildindex(dist_index &ix, const distpolys_job &proto, int polycount, const int32_t *counts,
                            int total)
{
    const int w = proto.width, h = proto.height;
    if (proto.gridded) {
        dist_squarest(w, h, &ix.columns, &ix.rows);
        sys_debuglog("...squarest cells = %dx%d", ix.columns, ix.rows);
        dist_refine(total, &ix.columns, &ix.rows);
    }
    int64_t cells = (int64_t)ix.columns * ix.rows;
    if (cells > grid_maxcells) {
        sys_log("img_scalarmaskeddistpolys: %dx%d cells are too many", ix.columns, ix.rows);
        return false;
    }
    sys_log("indexing %d polys/%d verts... (cells:%dx%d=%d @%fx%fpx verts:%.3f)", polycount, total, ix.columns,
            ix.rows, (int)cells, (double)w / ix.columns, (double)h / ix.rows, total / (double)cells);
    ix.cells = (int32_t *)sys_malloc((int32_t)(cells * 4));
    if (!ix.cells)
        return false;
    memset(ix.cells, 0xff, (size_t)cells * 4);
    int64_t want = std::max<int64_t>(2 * (int64_t)total, 64);
    if (want * 16 <= INT32_MAX && (ix.nodes = (int32_t *)sys_malloc((int32_t)(want * 16)))) {
        ix.nodecap = (int32_t)want;
        memset(ix.nodes, 0xff, (size_t)want * 16);
    }
    sys_debuglog("cells:%.3fmb segs:%.3fmb", cells * 4 / 1048576.0, ix.nodecap * 16 / 1048576.0);
    // The walk works in cell coordinates: pixels scaled by columns / w.
    const dist_pixelmap cellmap = {proto.origin[0], proto.origin[1], ix.columns / proto.size[0],
                                   ix.rows / proto.size[1]};
    if (proto.gridded) {
        dist_indexgrid(ix, proto.points, cellmap, polycount, counts);
        dist_sumfilled(ix);
    } else {
        dist_indexall(ix, polycount, counts);
    }
    return true;
}

// ---------------------------------------------------------------- masked distance

// Squared distance from c to segment a + t d, t clamped to 0 .. 1; a
// zero-length segment is its point.
static float dist_segment2(const float *c, const float *a, const float *b)
{
    float dx = b[0] - a[0], dy = b[1] - a[1];
    float qx = c[0] - a[0], qy = c[1] - a[1];
    float dd = dx * dx + dy * dy;
    float t = dd > 0.0f ? std::clamp((qx * dx + qy * dy) / dd, 0.0f, 1.0f) : 0.0f;
    float ex = t * dx - qx, ey = t * dy - qy;
    return ex * ex + ey * ey;
}

// Unit direction of b - a; a zero vector stays (0, 0).
static void dist_unit(const float *a, const float *b, float *u)
{
    float x = b[0] - a[0], y = b[1] - a[1];
    float l = std::sqrt(x * x + y * y);
    u[0] = l > 0.0f ? x / l : 0.0f;
    u[1] = l > 0.0f ? y / l : 0.0f;
}

// The side tests of the line distance: the pixel lies past the bisector at
// the segment's start (against the previous segment) and before the one at
// its end (against the next). Written on unnormalised offsets, so a pixel
// on a corner point passes.
static bool dist_accepts(const distpolys_job &j, const dist_pixelmap &pm, const int32_t *node, const float *c,
                         const float *a, const float *b)
{
    const int first = node[0], last = node[1], s = node[2];
    float prev[2], after[2], dir[2], p[2], n[2];
    pm.at(j.points, s == first ? last - 1 : s - 1, prev);
    dist_unit(a, b, dir);
    dist_unit(prev, a, p);
    if (s + 1 == last) {
        float f0[2], f1[2];
        pm.at(j.points, first, f0);
        pm.at(j.points, first + 1, f1);
        dist_unit(f0, f1, n);
    } else {
        pm.at(j.points, s + 2, after);
        dist_unit(b, after, n);
    }
    float qx = c[0] - a[0], qy = c[1] - a[1];
    float rx = c[0] - b[0], ry = c[1] - b[1];
    float ql = std::sqrt(qx * qx + qy * qy), rl = std::sqrt(rx * rx + ry * ry);
    bool start = qx * (p[0] - dir[0]) + qy * (p[1] - dir[1]) <= 0.001f * ql;
    bool end = rx * (n[0] - dir[0]) + ry * (n[1] - dir[1]) >= -0.001f * rl;
    return start && end;
}

// Without the grid: the squared distance to the nearest accepted segment
// line, img_distfar when none is accepted.
static float dist_lines(const distpolys_job &j, const dist_pixelmap &pm, const float *c)
{
    float best = img_distfar;
    for (int32_t n = j.cells[0]; n >= 0; n = j.nodes[4 * (size_t)n + 3]) {
        const int32_t *node = j.nodes + 4 * (size_t)n;
        float a[2], b[2];
        pm.at(j.points, node[2], a);
        pm.at(j.points, node[2] + 1, b);
        float dx = b[0] - a[0], dy = b[1] - a[1];
        float dd = dx * dx + dy * dy;
        if (!(dd > 0.0f))
            continue;
        float qx = c[0] - a[0], qy = c[1] - a[1];
        float t = (qx * dx + qy * dy) / dd;
        float ex = t * dx - qx, ey = t * dy - qy;
        float e2 = ex * ex + ey * ey;
        if (e2 <= best && dist_accepts(j, pm, node, c, a, b))
            best = e2;
    }
    return best;
}

// One pixel's search through the grid: its centre, the cell size in pixels,
// and the nearest segment so far with its squared distance.
struct dist_search {
    const distpolys_job &j;
    const dist_pixelmap &pm;
    float cw, ch;
    float c[2];
    float best;
    int segment; // first point of the nearest segment, -1 none
};

// Squared distance from the pixel to segment s (points s, s + 1).
static float dist_tosegment(const dist_search &q, int s)
{
    float a[2], b[2];
    q.pm.at(q.j.points, s, a);
    q.pm.at(q.j.points, s + 1, b);
    return dist_segment2(q.c, a, b);
}

static void dist_scancell(dist_search &q, int cell)
{
    for (int32_t n = q.j.cells[cell]; n >= 0; n = q.j.nodes[4 * (size_t)n + 3]) {
        int s = q.j.nodes[4 * (size_t)n + 2];
        float d = dist_tosegment(q, s);
        if (d < q.best) {
            q.best = d;
            q.segment = s;
        }
    }
}

// Squared distance in pixels from the pixel to the cells x0 .. x1, y0 .. y1.
static float dist_cellsaway(const dist_search &q, int x0, int x1, int y0, int y1)
{
    float dx = std::max({x0 * q.cw - q.c[0], 0.0f, q.c[0] - (x1 + 1) * q.cw});
    float dy = std::max({y0 * q.ch - q.c[1], 0.0f, q.c[1] - (y1 + 1) * q.ch});
    return dx * dx + dy * dy;
}

// Non-empty cells among columns x0 .. x1 and rows y0 .. y1, already clipped
// to the grid, from the summed-area table.
static int64_t dist_filledin(const distpolys_job &j, int x0, int x1, int y0, int y1)
{
    const int w = j.columns + 1;
    const int32_t *f = j.filled;
    return (int64_t)f[(size_t)(y1 + 1) * w + x1 + 1] - f[(size_t)y0 * w + x1 + 1] - f[(size_t)(y1 + 1) * w + x0] +
           f[(size_t)y0 * w + x0];
}

// Scans the cells of columns x0 .. x1 and rows y0 .. y1 (clipped to the
// grid) that could hold something nearer than the best so far (with a hair
// of slack for rounding at cell borders). With the summed-area table an
// empty stretch costs one look, and a larger one is halved, the half nearer
// the pixel first, until its non-empty cells are found.
static void dist_scanstrip(dist_search &q, int x0, int x1, int y0, int y1)
{
    const distpolys_job &j = q.j;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, j.columns - 1);
    y1 = std::min(y1, j.rows - 1);
    if (x0 > x1 || y0 > y1 || dist_cellsaway(q, x0, x1, y0, y1) > q.best * 1.001f + 0.01f)
        return;
    if (j.filled) {
        if (dist_filledin(j, x0, x1, y0, y1) == 0)
            return;
        if (x1 > x0 || y1 > y0) {
            bool across = x1 - x0 >= y1 - y0;
            int mid = across ? (x0 + x1) / 2 : (y0 + y1) / 2;
            bool farfirst = across ? q.c[0] >= (mid + 1) * q.cw : q.c[1] >= (mid + 1) * q.ch;
            for (int half = 0; half < 2; half++) {
                if ((half == 0) != farfirst)
                    dist_scanstrip(q, x0, across ? mid : x1, y0, across ? y1 : mid);
                else
                    dist_scanstrip(q, across ? mid + 1 : x0, x1, across ? y0 : mid + 1, y1);
            }
            return;
        }
    }
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            dist_scancell(q, y * j.columns + x);
}

// The first ring whose block (rings 0 .. r together) holds a non-empty cell:
// the rings inside it are empty and need no look. 0 without the table.
static int dist_firstring(const distpolys_job &j, int bx, int by)
{
    if (!j.filled)
        return 0;
    auto filled = [&](int r) {
        return dist_filledin(j, std::max(bx - r, 0), std::min(bx + 1 + r, j.columns - 1), std::max(by - r, 0),
                             std::min(by + 1 + r, j.rows - 1)) > 0;
    };
    const int whole = std::max(j.columns, j.rows); // a block of this ring covers the grid
    int hi = 1;
    while (hi < whole && !filled(hi))
        hi *= 2;
    int lo = 0;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (filled(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// With the grid: rings of cells around the 2 x 2 block nearest the pixel.
// Every cell of ring r + 1 lies at least r + 0.5 cells from the pixel, so
// once a distance is known only the rings within its reach can hold a nearer
// segment: they are searched as one block, the cells beyond the best
// distance passed over. Rings are walked one by one only until a first
// distance is found (or they cover the grid).
static void dist_rings(dist_search &q)
{
    const distpolys_job &j = q.j;
    const int cols = j.columns, rows = j.rows;
    const float cellmin = std::min(q.cw, q.ch) * 0.999f; // a hair short, for rounding at cell borders
    float fx = cols * q.c[0] / j.width, fy = rows * q.c[1] / j.height;
    int bx = std::clamp((int)std::floor(fx - 0.5f), 0, cols - 1);
    int by = std::clamp((int)std::floor(fy - 0.5f), 0, rows - 1);
    for (int r = q.best < img_distfar ? 0 : dist_firstring(j, bx, by); !(q.best < img_distfar); r++) {
        int x0 = bx - r, x1 = bx + 1 + r, y0 = by - r, y1 = by + 1 + r;
        dist_scanstrip(q, x0, x1, y0, y0); // top row
        dist_scanstrip(q, x0, x1, y1, y1); // bottom row
        dist_scanstrip(q, x0, x0, y0 + 1, y1 - 1);
        dist_scanstrip(q, x1, x1, y0 + 1, y1 - 1);
        if (x0 <= 0 && y0 <= 0 && x1 >= cols - 1 && y1 >= rows - 1)
            return;
    }
    double reach = std::ceil(std::sqrt((double)q.best) / cellmin - 0.5);
    int r = (int)std::min(std::max(reach, 0.0), (double)std::max(cols, rows));
    dist_scanstrip(q, bx - r, bx + 1 + r, by - r, by + 1 + r);
}

// The gridded rows of a band. Each search starts from the segment nearest
// to the pixel before it: a true distance close to the answer, under which
// most cells are passed over at once. The search still finds any nearer
// segment, so the result stays exact.
static void dist_gridrows(const distpolys_job &j, const dist_pixelmap &pm)
{
    dist_search q = {j, pm, (float)j.width / j.columns, (float)j.height / j.rows, {0, 0}, img_distfar, -1};
    for (int y = j.row0; y < j.row1; y++) {
        float *row = j.pixels + (size_t)y * j.width;
        q.segment = -1;
        for (int x = 0; x < j.width; x++) {
            if (row[x] <= 0.0f) {
                row[x] = j.outside;
                continue;
            }
            q.c[0] = x + 0.5f;
            q.c[1] = y + 0.5f;
            q.best = q.segment >= 0 ? dist_tosegment(q, q.segment) : img_distfar;
            dist_rings(q);
            row[x] = j.scale * std::sqrt(q.best);
        }
    }
}

void job_distpolys(void *arg)
{
    distpolys_job *j = (distpolys_job *)arg;
    const dist_pixelmap pm = {j->origin[0], j->origin[1], j->width / j->size[0], j->height / j->size[1]};
    if (j->gridded) {
        dist_gridrows(*j, pm);
        img_banddone(j->done);
        return;
    }
    const bool empty = j->cells[0] < 0;
    for (int y = j->row0; y < j->row1; y++) {
        float *row = j->pixels + (size_t)y * j->width;
        for (int x = 0; x < j->width; x++) {
            if (row[x] <= 0.0f) {
                row[x] = j->outside;
                continue;
            }
            const float c[2] = {x + 0.5f, y + 0.5f};
            if (!empty)
                row[x] = j->scale * std::sqrt(dist_lines(*j, pm, c));
        }
    }
    img_banddone(j->done);
}

// A grid without a single segment: every masked pixel is at the far
// distance, which no ring search would ever bound.
static void dist_fillfar(image *field, float outside, float scale)
{
    float *px = (float *)field->pixels;
    float far = scale * std::sqrt(img_distfar);
    for (size_t i = 0; i < (size_t)field->width * field->height; i++)
        px[i] = px[i] <= 0.0f ? outside : far;
}

static bool dist_checkpolys(image *field, int polycount, const int32_t *counts, const float *points, int *total)
{
    if (!img_isscalar(field, "img_scalarmaskeddistpolys"))
        return false;
    if (polycount < 0 || (polycount > 0 && (!counts || !points))) {
        sys_log("img_scalarmaskeddistpolys: no polylines");
        return false;
    }
    int64_t sum = 0;
    for (int p = 0; p < polycount; p++) {
        if (counts[p] < 0) {
            sys_log("img_scalarmaskeddistpolys: polyline %d has %d points", p, counts[p]);
            return false;
        }
        sum += counts[p];
    }
    if (sum > INT32_MAX / 4) {
        sys_log("img_scalarmaskeddistpolys: %lld points are too many", (long long)sum);
        return false;
    }
    *total = (int)sum;
    return dist_checkpoints("img_scalarmaskeddistpolys", *total, points);
}

int img_scalarmaskeddistpolys(image *field, float outside, float scale, const float *size, const float *origin,
                              int polycount, const int32_t *counts, const float *points, int gridded)
{
    int total = 0;
    if (!dist_checkpolys(field, polycount, counts, points, &total) ||
        !dist_checkworld("img_scalarmaskeddistpolys", size, origin))
        return -1;
    sys_log("scalarmaskeddistpolys... %d polys, %d verts", polycount, total);
    double start = sys_seconds();
    distpolys_job proto{};
    proto.width = field->width;
    proto.height = field->height;
    std::copy(size, size + 2, proto.size);
    std::copy(origin, origin + 2, proto.origin);
    proto.points = points;
    proto.pixels = (float *)field->pixels;
    proto.scale = scale;
    proto.outside = outside;
    proto.gridded = gridded != 0;
    dist_index ix;
    if (!dist_buildindex(ix, proto, polycount, counts, total)) {
        dist_freeindex(ix);
        return -1;
    }
    proto.columns = ix.columns;
    proto.rows = ix.rows;
    proto.cells = ix.cells;
    proto.nodes = ix.nodes;
    proto.filled = ix.filled;
    sys_log("finding segment distances for %dx%d pixels", field->width, field->height);
    if (proto.gridded && ix.nodecount == 0) {
        dist_fillfar(field, outside, scale);
    } else {
        int band = 0;
        img_bands<distpolys_job>(distpolys_bandrule, 0, field->height, "distpolys", job_distpolys,
                                 [&](const img_bandrange &r) {
                                     sys_log("starting distpolys job[%d] = %d->%d", band++, r.row0, r.row1);
                                     return proto;
                                 });
    }
    sys_debuglog("...distpolys completed (elapsed %.4fs)", sys_seconds() - start);
    dist_freeindex(ix);
    return 0;
}

// ---------------------------------------------------------------- single polyline

// Direction of the nearest part: the mean of the directions around the
// segment's two ends, blended by the clamped parameter, as two signed 16-bit
// values of the unit vector; (0, 0) where the blend cancels out.
static void dist_direction(const distpoly_job &j, const dist_pixelmap &pm, int s, float tc, int16_t *out)
{
    float a[2], b[2], p[2], n[2];
    pm.at(j.points, s, a);
    pm.at(j.points, s + 1, b);
    pm.at(j.points, s > 0 ? s - 1 : s, p);
    pm.at(j.points, s + 2 < j.count ? s + 2 : s + 1, n);
    float vx = 0.5f * ((b[0] - p[0]) * (1.0f - tc) + (n[0] - a[0]) * tc);
    float vy = 0.5f * ((b[1] - p[1]) * (1.0f - tc) + (n[1] - a[1]) * tc);
    float l2 = vx * vx + vy * vy;
    if (l2 < 0.0001f) {
        out[0] = out[1] = 0;
        return;
    }
    float l = std::sqrt(l2);
    out[0] = (int16_t)(vx / l * 32767.0f);
    out[1] = (int16_t)(vy / l * 32767.0f);
}

// The segment nearest c: its index (-1 when none is within reach or of
// usable length), squared distance, and unclamped and clamped parameters.
static int dist_nearestsegment(const distpoly_job &j, const dist_pixelmap &pm, const float *c, float *best,
                               float *t, float *tc)
{
    int found = -1;
    *best = distpoly_far;
    float a[2], b[2];
    pm.at(j.points, 0, b);
    for (int s = 0; s + 1 < j.count; s++) {
        a[0] = b[0];
        a[1] = b[1];
        pm.at(j.points, s + 1, b);
        float dx = b[0] - a[0], dy = b[1] - a[1];
        float dd = dx * dx + dy * dy;
        if (dd < 0.0001f)
            continue;
        float qx = c[0] - a[0], qy = c[1] - a[1];
        float u = (dx * qx + dy * qy) / dd;
        float uc = std::clamp(u, 0.0f, 1.0f);
        float ex = qx - uc * dx, ey = qy - uc * dy;
        float e2 = ex * ex + ey * ey;
        if (e2 < *best) {
            *best = e2;
            *t = u;
            *tc = uc;
            found = s;
        }
    }
    return found;
}

static void dist_polypixel(const distpoly_job &j, const dist_pixelmap &pm, size_t at, const float *c)
{
    if (j.count == 1) {
        float p[2];
        pm.at(j.points, 0, p);
        float d = j.scale * std::hypot(c[0] - p[0], c[1] - p[1]);
        if (d < j.distance[at]) {
            j.distance[at] = d;
            if (j.height)
                j.height[at] = j.points[2];
        }
        return;
    }
    float best, t = 0.0f, tc = 0.0f;
    int s = dist_nearestsegment(j, pm, c, &best, &t, &tc);
    if (s < 0)
        return;
    float d = std::max(j.scale * std::sqrt(best), 0.0f);
    if (!(d < j.distance[at]))
        return;
    j.distance[at] = d;
    if (j.height)
        j.height[at] = (1.0f - t) * j.points[3 * s + 2] + t * j.points[3 * (s + 1) + 2];
    if (j.direction)
        dist_direction(j, pm, s, tc, j.direction + 2 * at);
}

void job_distpoly(void *arg)
{
    distpoly_job *j = (distpoly_job *)arg;
    const dist_pixelmap pm = {j->origin[0], j->origin[1], j->kx, j->ky};
    for (int y = j->row0; y < j->row1; y++) {
        for (int x = 0; x < j->width; x++) {
            const float c[2] = {x + 0.5f, y + 0.5f};
            dist_polypixel(*j, pm, (size_t)(y - j->row0) * j->width + x, c);
        }
    }
    img_banddone(j->done);
}

static bool dist_checkfields(const image *dist, const image *height, const image *direction)
{
    if (!img_isscalar(dist, "img_scalardistpoly") || (height && !img_isscalar(height, "img_scalardistpoly")))
        return false;
    if (height && (height->width != dist->width || height->height != dist->height)) {
        sys_log("img_scalardistpoly: height field %dx%d does not match %dx%d", height->width, height->height,
                dist->width, dist->height);
        return false;
    }
    if (direction && (!direction->pixels || direction->bytesperpixel != 4 || direction->width != dist->width ||
                      direction->height != dist->height)) {
        sys_log("img_scalardistpoly: direction field does not match %dx%d", dist->width, dist->height);
        return false;
    }
    return true;
}

int img_scalardistpoly(image *dist, image *height, image *direction, float scale, const float *size,
                       const float *origin, int count, const float *points)
{
    if (!dist_checkfields(dist, height, direction) || !dist_checkworld("img_scalardistpoly", size, origin))
        return -1;
    if (count < 0 || (count > 0 && !points)) {
        sys_log("img_scalardistpoly: no polyline of %d points", count);
        return -1;
    }
    if (!dist_checkpoints("img_scalardistpoly", count, points))
        return -1;
    if (count == 0)
        return 0;
    const int w = dist->width;
    sys_debuglog("scalardistpoly: %d verts %dx%d", count, w, dist->height);
    double start = sys_seconds();
    distpoly_job proto{};
    proto.count = count;
    proto.width = w;
    std::copy(origin, origin + 3, proto.origin);
    proto.points = points;
    proto.kx = w / size[0];
    proto.ky = dist->height / size[1];
    proto.scale = scale;
    img_bands<distpoly_job>(distpoly_bandrule, 0, dist->height, "distpoly", job_distpoly, [&](const img_bandrange &r) {
        distpoly_job b = proto;
        size_t first = (size_t)r.row0 * w;
        b.distance = (float *)dist->pixels + first;
        b.height = height ? (float *)height->pixels + first : nullptr;
        b.direction = direction ? (int16_t *)direction->pixels + 2 * first : nullptr;
        return b;
    });
    sys_debuglog("...scalardistpoly: %d verts (%.4fs)", count, sys_seconds() - start);
    return 0;
}

// ---------------------------------------------------------------- cone

void job_maxdistpoint(void *arg)
{
    distpoint_job *b = (distpoint_job *)arg;
    for (int y = b->row0; y < b->row1; y++) {
        float *row = b->pixels + (size_t)y * b->width;
        float dy = y * b->unity - b->apex[1];
        for (int x = 0; x < b->width; x++) {
            float dx = x * b->unitx - b->apex[0];
            float r2 = dx * dx + dy * dy;
            float e = b->apex[2] - row[x];
            // r < e, tested on squares so the root is taken only for raised pixels.
            if (r2 < e * std::fabs(e))
                row[x] = b->apex[2] - std::sqrt(r2);
        }
    }
    img_banddone(b->done);
}
