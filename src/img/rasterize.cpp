// Polygon fill and quad UV rasterisation. Both walk scanlines with a small
// table of active edges ordered by x; the fill pairs them even-odd on every
// subsample row, the quad joins at most two spans a row and maps each pixel
// back into the quad through the intersections of its ends and sides.
#include "img/rasterize.h"

#include "geom/seg.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Mapped coordinates beyond this (in supersampled pixels) are refused: they
// would overflow the integer scanlines and reach the deactivation markers.
constexpr double fill_coordlimit = 8388608.0;
constexpr float fill_gone = 9999999.0f; // x of an edge past its bottom row
constexpr float quad_gone = 999999.0f;

static int fill_sign(float a, float b)
{
    return a < b ? -1 : a > b ? 1 : 0;
}

int img_fillpolycmpa(const void *a, const void *b)
{
    return fill_sign(((const img_filledge *)a)->x, ((const img_filledge *)b)->x);
}

int img_fillpolycmpb(const void *a, const void *b)
{
    return fill_sign(((const img_filledge *)a)->top, ((const img_filledge *)b)->top);
}

// World point to (scaled) pixel coordinates of an image covering origin ..
// origin + size.
static void fill_map(const image *img, const float *size, const float *origin, const float *v, double scale,
                     double *out)
{
    out[0] = ((double)v[0] - origin[0]) / size[0] * img->width * scale;
    out[1] = ((double)v[1] - origin[1]) / size[1] * img->height * scale;
}

static bool fill_inrange(const double *p)
{
    return std::fabs(p[0]) <= fill_coordlimit && std::fabs(p[1]) <= fill_coordlimit;
}

// The edge from a to b, or false when both ends share a row (by row of).
static bool fill_edge(const double *a, const double *b, img_filledge &e, int (*row)(double))
{
    if (row(a[1]) == row(b[1]))
        return false;
    const double *top = a[1] < b[1] ? a : b, *bottom = a[1] < b[1] ? b : a;
    e.top = (float)top[1];
    e.bottom = (float)bottom[1];
    e.x = (float)top[0];
    e.dxdy = (float)((bottom[0] - top[0]) / (bottom[1] - top[1]));
    return true;
}

static int fill_floorrow(double y)
{
    return (int)std::floor(y);
}

static int fill_truncrow(double y)
{
    return (int)y;
}

// ---------------------------------------------------------------- polygon fill

static bool fill_checkargs(const image *img, const float *size, const float *origin, int count, const float *verts,
                           int subsamples)
{
    if (!img_isscalar(img, "img_scalarfillpoly"))
        return false;
    if (!size || !origin || !verts || count < 1 || count > INT32_MAX / (int)sizeof(img_filledge)) {
        sys_log("img_scalarfillpoly: no vertices (%d)", count);
        return false;
    }
    if (subsamples < 1 || subsamples > 256) {
        sys_log("img_scalarfillpoly: bad subsample count %d", subsamples);
        return false;
    }
    if (!(size[0] != 0.0f && size[1] != 0.0f && std::isfinite(size[0]) && std::isfinite(size[1]))) {
        sys_log("img_scalarfillpoly: bad world size %f x %f", size[0], size[1]);
        return false;
    }
    return true;
}

// Maps the vertices to supersampled pixels and builds the edges between
// consecutive ones; returns the edge count, or -1 for a vertex out of range.
// box gets the pixel bounds and *maxy the largest supersampled y.
static int fill_buildedges(const image *img, const float *size, const float *origin, int count, const float *verts,
                           int s, img_filledge *edges, double *box, double *maxy)
{
    double prev[2] = {0.0, 0.0};
    int n = 0;
    for (int i = 0; i < count; i++) {
        double p[2];
        fill_map(img, size, origin, verts + 3 * i, s, p);
        if (!fill_inrange(p)) {
            sys_log("img_scalarfillpoly: vertex %d (%f, %f) maps outside the usable range", i, verts[3 * i],
                    verts[3 * i + 1]);
            return -1;
        }
        box[0] = i ? std::min(box[0], p[0] / s) : p[0] / s;
        box[1] = i ? std::min(box[1], p[1] / s) : p[1] / s;
        box[2] = i ? std::max(box[2], p[0] / s) : p[0] / s;
        box[3] = i ? std::max(box[3], p[1] / s) : p[1] / s;
        *maxy = i ? std::max(*maxy, p[1]) : p[1];
        if (i && fill_edge(prev, p, edges[n], fill_floorrow))
            n++;
        prev[0] = p[0];
        prev[1] = p[1];
    }
    return n;
}

// Adds r^2 for every subsample column of each even-odd pair of row y.
static void fill_spans(image *img, const img_filledge *active, int count, int y, int s)
{
    const int width = img->width * s;
    const float share = 1.0f / (float)(s * s);
    float *row = (float *)img->pixels + (size_t)(y / s) * img->width;
    for (int i = 0; i + 1 < count; i += 2) {
        int xa = (int)(active[i].x + 0.5f), xb = (int)(active[i + 1].x + 0.5f);
        if (xb < 0)
            continue;
        xa = std::max(xa, 0);
        xb = std::min(xb, width - 1);
        for (int c = xa; c <= xb; c++)
            row[c / s] += share;
    }
}

// Walks the supersampled rows from the first edge's top to the lowest
// vertex. Edges join the active table on their top row while it has room;
// once one cannot, neither it nor any later edge ever joins.
static void fill_scan(image *img, const img_filledge *edges, int count, int s, double maxy)
{
    img_filledge active[img_maxactiveedges];
    int next = 0, live = 0;
    const int height = img->height * s;
    for (int y = fill_floorrow(edges[0].top); y < maxy; y++) {
        while (next < count && fill_floorrow(edges[next].top) == y) {
            if (live >= img_maxactiveedges) {
                sys_error("active edges overflow! y=%d, edges=%d, edge=%d", y, live, next);
                break;
            }
            active[live++] = edges[next++];
        }
        qsort(active, (size_t)live, sizeof(img_filledge), img_fillpolycmpa);
        while (live > 0 && active[live - 1].x >= fill_gone)
            live--;
        if (y >= 0 && y < height && live >= 2)
            fill_spans(img, active, live, y, s);
        for (int i = 0; i < live; i++) {
            active[i].x += active[i].dxdy;
            if (fill_floorrow(active[i].bottom) == y + 1)
                active[i].x = fill_gone;
        }
    }
}

int img_scalarfillpoly(image *img, const float *size, const float *origin, int count, const float *verts,
                       int subsamples, int *bounds)
{
    sys_debuglog("fillpoly verts:%d jobs:%d", count, sys_idleworkers());
    if (!fill_checkargs(img, size, origin, count, verts, subsamples))
        return -1;
    img_filledge *edges = (img_filledge *)sys_malloc(count * (int32_t)sizeof(img_filledge));
    if (!edges) {
        sys_error("img_scalarfillpoly: Failed to allocate global edges pool! (%d verts)", count);
        return -1;
    }
    double box[4], maxy;
    int n = fill_buildedges(img, size, origin, count, verts, subsamples, edges, box, &maxy);
    if (n > 0) {
        qsort(edges, (size_t)n, sizeof(img_filledge), img_fillpolycmpb);
        fill_scan(img, edges, n, subsamples, maxy);
    }
    sys_free(edges);
    if (n < 0)
        return -1;
    if (bounds) {
        bounds[0] = (int)std::floor(box[0]);
        bounds[1] = (int)std::floor(box[1]);
        bounds[2] = (int)std::ceil(box[2]);
        bounds[3] = (int)std::ceil(box[3]);
    }
    return 0;
}

// ---------------------------------------------------------------- quad UV

struct quad_frame {
    double p[4][2]; // vertices in pixels
    const float *uv;
    int clamp;
};

// The intersection of lines a1-a2 and b1-b2 into out, or fallback when
// there is none.
static void quad_meet(double *out, const double *a1, const double *a2, const double *b1, const double *b2,
                      const double *fallback)
{
    double r[3];
    seg_intersect(r, a1, a2, b1, b2);
    out[0] = r[2] == 0.0 ? r[0] : fallback[0];
    out[1] = r[2] == 0.0 ? r[1] : fallback[1];
}

static double quad_dist(const double *a, const double *b)
{
    return std::hypot(a[0] - b[0], a[1] - b[1]);
}

// Which side of the line from o through d the point q lies on.
static double quad_side(const double *q, const double *o, const double *d)
{
    return (q[0] - o[0]) * (d[1] - o[1]) - (q[1] - o[1]) * (d[0] - o[0]);
}

// The vanishing point of two opposite edges a1-a2 and b1-b2; for parallel
// ones, p moved along the longer edge's direction (b when not shorter).
static void quad_vanish(double *out, const double *p, const double *a1, const double *a2, const double *b1,
                        const double *b2, const double *along1, const double *along2)
{
    double r[3];
    seg_intersect(r, a1, a2, b1, b2);
    if (r[2] == 0.0) {
        out[0] = r[0];
        out[1] = r[1];
        return;
    }
    out[0] = p[0] + along1[0] - along2[0];
    out[1] = p[1] + along1[1] - along2[1];
}

// Position of p between two opposite edges: the line from p to vanish meets
// edge one at A (fallback fa) and edge two at B (fallback fb); |p - A| /
// |B - A|, signed by the sides of p and B relative to edge o-d.
static double quad_fraction(const double *p, const double *vanish, const double *a1, const double *a2,
                            const double *b1, const double *b2, const double *o, const double *d)
{
    double A[2], B[2];
    quad_meet(A, p, vanish, a1, a2, a1);
    quad_meet(B, p, vanish, b1, b2, b1);
    double f = quad_dist(p, A) / quad_dist(B, A);
    if (quad_side(p, o, d) < 0.0)
        f = -f;
    if (quad_side(B, o, d) < 0.0)
        f = -f;
    return f;
}

// (s, t) of pixel position p: s across the sides 0-2 and 1-3, t along from
// end 0-1 to end 2-3.
static void quad_inverse(const quad_frame &q, const double *p, double *s, double *t)
{
    const double *p0 = q.p[0], *p1 = q.p[1], *p2 = q.p[2], *p3 = q.p[3];
    double v1[2], v2[2];
    if (quad_dist(p1, p0) <= quad_dist(p3, p2))
        quad_vanish(v1, p, p0, p1, p2, p3, p3, p2);
    else
        quad_vanish(v1, p, p0, p1, p2, p3, p1, p0);
    *s = quad_fraction(p, v1, p0, p2, p1, p3, p0, p2);
    if (quad_dist(p2, p0) <= quad_dist(p1, p3))
        quad_vanish(v2, p, p0, p2, p1, p3, p1, p3);
    else
        quad_vanish(v2, p, p0, p2, p1, p3, p2, p0);
    *t = quad_fraction(p, v2, p0, p1, p2, p3, p0, p1);
}

// A coordinate as stored: wrapped into [0, 1) or clamped to [0, 1], then
// x 65535 rounded. Non-finite values store 0.
static uint16_t quad_store(double value, int clamp)
{
    if (!std::isfinite(value))
        return 0;
    if (!clamp) {
        value = std::fmod(value, 1.0);
        if (value < 0.0)
            value += 1.0;
    } else if (value <= 0.0) {
        return 0;
    } else if (value >= 1.0) {
        return 65535;
    }
    return (uint16_t)std::min(value * 65535.0 + 0.5, 65535.0);
}

// Pixels [x0, x1) of row y; each takes the quad's (u, v) when its u is
// nearer the middle of the u range than the stored one.
static void quad_span(image *img, const quad_frame &q, int y, int x0, int x1)
{
    const float *uv = q.uv;
    uint16_t *row = (uint16_t *)img->pixels + (size_t)y * img->width * 2;
    for (int x = std::max(x0, 0); x < std::min(x1, img->width); x++) {
        double p[2] = {(double)x, (double)y}, s, t;
        quad_inverse(q, p, &s, &t);
        double u = (uv[0] * (1.0 - s) + uv[2] * s) * (1.0 - t) + (uv[4] * (1.0 - s) + uv[6] * s) * t;
        double v = (uv[1] * (1.0 - s) + uv[3] * s) * (1.0 - t) + (uv[5] * (1.0 - s) + uv[7] * s) * t;
        uint16_t *pixel = row + 2 * x;
        if (!(std::fabs(u - 0.5) < std::fabs(pixel[0] / 65535.0 - 0.5)))
            continue;
        pixel[0] = quad_store(u, q.clamp);
        pixel[1] = quad_store(v, q.clamp);
    }
}

// Scanlines of the outline 0-1-3-2: edges active from their truncated top
// row until their truncated bottom row; one span joins the first two active
// edges, and with four a second joins the last two.
static void quad_scan(image *img, const quad_frame &q)
{
    static const int outline[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
    img_filledge edges[4], active[4];
    int count = 0, live = 0, next = 0;
    for (const auto &o : outline)
        count += fill_edge(q.p[o[0]], q.p[o[1]], edges[count], fill_truncrow);
    if (!count)
        return;
    qsort(edges, (size_t)count, sizeof(img_filledge), img_fillpolycmpb);
    int last = fill_truncrow(edges[0].bottom);
    for (int i = 1; i < count; i++)
        last = std::max(last, fill_truncrow(edges[i].bottom));
    for (int y = fill_truncrow(edges[0].top); y <= last; y++) {
        while (next < count && fill_truncrow(edges[next].top) == y)
            active[live++] = edges[next++];
        for (int i = 0; i < live; i++)
            if (fill_truncrow(active[i].bottom) == y)
                active[i].x = quad_gone;
        qsort(active, (size_t)live, sizeof(img_filledge), img_fillpolycmpa);
        int present = 0;
        while (present < live && active[present].x < quad_gone)
            present++;
        if (present >= 2 && y >= 0 && y < img->height)
            quad_span(img, q, y, (int)(active[0].x + 0.5f), (int)(active[1].x + 0.5f));
        if (present == 4 && y >= 0 && y < img->height)
            quad_span(img, q, y, (int)(active[2].x + 0.5f), (int)(active[3].x + 0.5f));
        for (int i = 0; i < present; i++)
            active[i].x += active[i].dxdy;
    }
}

int img_scalarrasterquad(image *img, const float *size, const float *origin, const float *verts, const float *uvs,
                         int clamp)
{
    if (!img || !img->pixels || img->bytesperpixel != 4) {
        sys_log("img_scalarrasterquad: not a UV map");
        return -1;
    }
    if (!size || !origin || !verts || !uvs || !(size[0] != 0.0f && size[1] != 0.0f) || !std::isfinite(size[0]) ||
        !std::isfinite(size[1])) {
        sys_log("img_scalarrasterquad: bad quad or world rectangle");
        return -1;
    }
    quad_frame q;
    q.uv = uvs;
    q.clamp = clamp;
    for (int k = 0; k < 4; k++) {
        fill_map(img, size, origin, verts + 3 * k, 1.0, q.p[k]);
        if (!fill_inrange(q.p[k])) {
            sys_log("img_scalarrasterquad: vertex %d maps outside the usable range", k);
            return -1;
        }
    }
    quad_scan(img, q);
    return 0;
}

// ---------------------------------------------------------------- polyline maximum

namespace {
struct raster_point {
    double x, y, z;
};
} // namespace

// Truncation toward zero of a pixel coordinate held inside int range.
static int raster_trunc(double v)
{
    return (int)std::clamp(v, -1e9, 1e9);
}

static void raster_maxpixel(image *img, double x, double y, double z)
{
    if (!std::isfinite(x) || !std::isfinite(y))
        return;
    // Truncated toward zero, so the half pixel left of or above the image
    // still lands on its first column or row.
    const int ix = raster_trunc(x), iy = raster_trunc(y);
    if (ix < 0 || iy < 0 || ix >= img->width || iy >= img->height)
        return;
    float &p = ((float *)img->pixels)[(size_t)iy * img->width + ix];
    p = std::max(p, (float)z);
}

static raster_point raster_topixel(const image *img, const float *size, const float *origin, const float *v)
{
    return {((double)v[0] - origin[0]) / size[0] * img->width, ((double)v[1] - origin[1]) / size[1] * img->height,
            ((double)v[2] - origin[2]) / size[2]};
}

// Segments longer than this many pixels are taken for bad input.
constexpr double raster_maxsteps = 1 << 26;

// The samples of segment a-b whose parameter is at most upto: the first
// part of exactly the samples the whole segment gets, so a segment drawn in
// parts leaves the same pixels as one drawn whole. 0 when not drawable.
static bool raster_segmax(image *img, raster_point a, raster_point b, double upto)
{
    const double steps = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y)) + 1.0;
    if (!(steps < raster_maxsteps) || !std::isfinite(a.z) || !std::isfinite(b.z))
        return false;
    const int n = (int)steps;
    for (int i = 0; i <= n; i++) {
        double f = (double)i / n;
        if (f > upto)
            break;
        raster_maxpixel(img, a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f);
    }
    return true;
}

void img_rasterizepolymax(image *img, const float *size, const float *origin, int count, const float *verts,
                          int *rect)
{
    int box[4] = {99999, 99999, -99999, -99999};
    if (count < 1 || !img_isscalar(img, "img_rasterizepolymax") || !size || !origin || !verts)
        return;
    raster_point a = raster_topixel(img, size, origin, verts);
    if (count == 1)
        raster_maxpixel(img, a.x, a.y, a.z);
    for (int k = 0; k + 1 < count; k++) {
        raster_point b = raster_topixel(img, size, origin, verts + 3 * (k + 1));
        if (!raster_segmax(img, a, b, 1.0))
            sys_log("img_rasterizepolymax: segment %d is not drawable", k);
        box[0] = std::min({box[0], raster_trunc(a.x), raster_trunc(b.x)});
        box[1] = std::min({box[1], raster_trunc(a.y), raster_trunc(b.y)});
        box[2] = std::max({box[2], raster_trunc(a.x) + 1, raster_trunc(b.x) + 1});
        box[3] = std::max({box[3], raster_trunc(a.y) + 1, raster_trunc(b.y) + 1});
        a = b;
    }
    if (rect)
        memcpy(rect, box, sizeof(box));
}

void img_rasterizesegmax(image *img, const float *size, const float *origin, const float *a, const float *b,
                         double upto, int *rect)
{
    if (!img_isscalar(img, "img_rasterizesegmax") || !size || !origin || !a || !b)
        return;
    const raster_point pa = raster_topixel(img, size, origin, a), pb = raster_topixel(img, size, origin, b);
    if (!raster_segmax(img, pa, pb, upto)) {
        sys_log("img_rasterizesegmax: segment is not drawable");
        return;
    }
    if (!rect)
        return;
    const double t = std::clamp(upto, 0.0, 1.0);
    const int ex = raster_trunc(pa.x + (pb.x - pa.x) * t), ey = raster_trunc(pa.y + (pb.y - pa.y) * t);
    const int sx = raster_trunc(pa.x), sy = raster_trunc(pa.y);
    rect[0] = std::min(sx, ex);
    rect[1] = std::min(sy, ey);
    rect[2] = std::max(sx, ex) + 1;
    rect[3] = std::max(sy, ey) + 1;
}
