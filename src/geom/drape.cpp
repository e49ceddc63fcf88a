// Draping, surface clipping and nearest point. Both samplers walk each
// segment in pixel steps and read the field bilinearly at pixel centres;
// every piece goes into the result through the contour's checked append, so
// a full contour stops the walk instead of overrunning it.
#include "geom/drape.h"

#include "geom/poly.h"
#include "img/image.h"
#include "img/resample.h"
#include "sys/log.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// The world box of a field and the maps into and out of its pixels.
struct drape_box {
    const image *img;
    const float *size, *origin;
    float px(float x) const { return (x - origin[0]) * img->width / size[0]; }
    float py(float y) const { return (y - origin[1]) * img->height / size[1]; }
    float wx(float px) const { return px * size[0] / img->width + origin[0]; }
    float wy(float py) const { return py * size[1] / img->height + origin[1]; }
    float height(float px, float py) const { return img_samplescalar(img, px - 0.5f, py - 0.5f); }
};

enum drape_state { drape_outside, drape_below, drape_within, drape_above };

struct drape_sample {
    float x, y, z;
    drape_state state;
};

// One source polyline being draped: the open piece and how it is thinned.
struct drape_walk {
    contour *out;
    uint32_t source;
    float zmin, zmax, dotmin, lenmin, lenmax;
    std::vector<float> piece;
    size_t reduced = 0; // leading points already thinned
    int pieces = 0;
    bool broken = false; // left the image or went above: the closed flag is lost
    bool full = false;
};

constexpr size_t drape_maxwaiting = 131071;

} // namespace

static void drape_add(drape_walk &w, float x, float y, float z)
{
    w.piece.insert(w.piece.end(), {x, y, z});
    const size_t n = w.piece.size() / 3, anchor = w.reduced ? w.reduced - 1 : 0;
    if (n - anchor <= drape_maxwaiting)
        return;
    const int m = poly_vertdot((int)(n - anchor), w.piece.data() + 3 * anchor, w.dotmin, w.lenmin, w.lenmax);
    sys_log("pre-emptively simplifying %d->%d...", (int)(n - anchor), m);
    w.piece.resize(3 * (anchor + m));
    w.reduced = anchor + m;
}

static void drape_end(drape_walk &w, uint32_t closed)
{
    size_t n = w.piece.size() / 3;
    if (n > 2 && !w.full) {
        const size_t anchor = w.reduced ? w.reduced - 1 : 0;
        if (n - anchor > 3) {
            int m = poly_vertdot((int)(n - anchor), w.piece.data() + 3 * anchor, w.dotmin, w.lenmin, w.lenmax);
            sys_debuglog("simplifying poly[%u] %d->%d...", w.out->numpolys, (int)n, (int)(anchor + m));
            n = anchor + m;
        }
        if (!cont_addpoly(w.out, w.piece.data(), (uint32_t)n, closed, (int32_t)w.source, "con_simplify"))
            w.full = true;
        w.pieces++;
    }
    w.piece.clear();
    w.reduced = 0;
}

static drape_sample drape_at(const drape_box &b, const drape_walk &w, float px, float py)
{
    drape_sample s = {b.wx(px), b.wy(py), 0.0f, drape_outside};
    if (!(px >= 0 && py >= 0 && px <= b.img->width - 1 && py <= b.img->height - 1))
        return s;
    s.z = b.size[2] * b.height(px, py) + b.origin[2];
    if (!std::isfinite(s.z))
        s.state = drape_outside; // a hole in the field ends the piece like the border
    else
        s.state = s.z < w.zmin ? drape_below : s.z > w.zmax ? drape_above : drape_within;
    return s;
}

// The point between a and b where the surface passes height z.
static void drape_cross(drape_walk &w, const drape_sample &a, const drape_sample &b, float z)
{
    const float f = b.z != a.z ? (z - a.z) / (b.z - a.z) : 0.0f;
    drape_add(w, a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, z);
}

// The change from sample a to sample b, both inside the image.
static void drape_step(drape_walk &w, const drape_sample &a, const drape_sample &b)
{
    const bool rising = b.state > a.state;
    if (a.state != b.state && rising) {
        if (a.state == drape_below)
            drape_cross(w, a, b, w.zmin);
        if (b.state == drape_above) {
            drape_cross(w, a, b, w.zmax);
            w.broken = true;
            drape_end(w, 0);
        }
    } else if (a.state != b.state) {
        if (a.state == drape_above)
            drape_cross(w, a, b, w.zmax);
        if (b.state == drape_below)
            drape_cross(w, a, b, w.zmin);
    }
    if (b.state == drape_within)
        drape_add(w, b.x, b.y, b.z);
    else if (b.state == drape_below)
        drape_add(w, b.x, b.y, w.zmin);
}

static void drape_polyline(const drape_box &b, drape_walk &w, const float *v, uint32_t count, uint32_t closed)
{
    drape_sample last = {0, 0, 0, drape_outside};
    for (uint32_t k = 0; k + 1 < count && !w.full; k++) {
        const float ax = b.px(v[3 * k]), ay = b.py(v[3 * k + 1]);
        const float bx = b.px(v[3 * k + 3]), by = b.py(v[3 * k + 4]);
        const float len = std::sqrt((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
        if (!std::isfinite(len))
            continue;
        const int n = (int)std::min(std::ceil(len), 1e8f);
        const int samples = n + (k + 2 == count ? 1 : 0);
        for (int i = 0; i < samples; i++) {
            const float f = n ? (float)i / n : 1.0f;
            drape_sample s = drape_at(b, w, ax + (bx - ax) * f, ay + (by - ay) * f);
            if (s.state == drape_outside) {
                // The piece ends here; the walk goes on, so a segment that
                // starts outside the image, or comes back into it, keeps
                // its part inside.
                w.broken = true;
                drape_end(w, 0);
                last = s;
                continue;
            }
            if (last.state == drape_outside)
                drape_step(w, s, s);
            else
                drape_step(w, last, s);
            last = s;
        }
    }
    drape_end(w, !w.broken && w.pieces == 0 ? closed : 0);
}

contour *con_simplify(const image *img, const contour *c, const float *size, const float *origin, float zmin,
                      float zmax, float dotmin, float lenmin, float lenmax)
{
    if (!img_isscalar(img, "con_simplify") || !c)
        return nullptr;
    contour *out = cont_new();
    if (!out)
        return nullptr;
    const drape_box b = {img, size, origin};
    uint32_t first = 0;
    for (uint32_t i = 0; i < c->numpolys; first += c->vertcount[i], i++) {
        if (c->vertcount[i] < 2)
            continue;
        drape_walk w = {out, i, zmin, zmax, dotmin, lenmin, lenmax, {}};
        drape_polyline(b, w, c->verts + 3 * (size_t)first, c->vertcount[i], c->closed[i]);
        if (w.full)
            break;
    }
    return out;
}

// ---------------------------------------------------------------- at or below the surface

// sqrt(v) by one Newton step of the inverse square root estimate.
static float drape_fastlength(float v)
{
    if (!(v > 0.0f))
        return 0.0f;
    float y = std::bit_cast<float>(0x5F375A86 - (std::bit_cast<int32_t>(v) >> 1));
    return v * y * (1.5f - 0.5f * v * y * y);
}

namespace {
struct clip_walk {
    contour *out;
    int32_t link;
    std::vector<float> piece;
    bool left = false; // the polyline went above the surface somewhere
    bool full = false;
};
} // namespace

static void clip_end(clip_walk &w, uint32_t closed)
{
    if (w.piece.size() / 3 > 2 && !w.full &&
        !cont_addpoly(w.out, w.piece.data(), (uint32_t)(w.piece.size() / 3), closed, w.link, "con_sampleimage"))
        w.full = true;
    w.piece.clear();
}

// Height of the surface minus the point's height, both 0..1: >= 0 at or below.
static float clip_depth(const drape_box &b, float px, float py, float z)
{
    return b.height(px, py) - (z - b.origin[2]) / b.size[2];
}

static void clip_polyline(const drape_box &b, clip_walk &w, const float *v, uint32_t count, uint32_t closed)
{
    for (uint32_t k = 0; k + 1 < count && !w.full; k++) {
        const float *p = v + 3 * k, *q = p + 3;
        const float ax = b.px(p[0]), ay = b.py(p[1]), bx = b.px(q[0]), by = b.py(q[1]);
        float prev = clip_depth(b, ax, ay, p[2]);
        if (prev >= 0)
            w.piece.insert(w.piece.end(), p, p + 3);
        const float len = drape_fastlength((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
        const int n = std::isfinite(len) ? (int)(2 * std::min(std::ceil(len), 1e7f)) : 0;
        for (int j = 1; j <= n; j++) {
            const float f = (float)j / n, z = p[2] + (q[2] - p[2]) * f;
            const float d = clip_depth(b, ax + (bx - ax) * f, ay + (by - ay) * f, z);
            if ((d >= 0) == (prev >= 0)) {
                prev = d;
                continue;
            }
            const float g = std::fabs(prev) / (std::fabs(d) + std::fabs(prev));
            if (std::isfinite(g)) {
                const float t = (j - 1 + g) / n;
                const float c[3] = {p[0] + (q[0] - p[0]) * t, p[1] + (q[1] - p[1]) * t, p[2] + (q[2] - p[2]) * t};
                w.piece.insert(w.piece.end(), c, c + 3);
            }
            if (!(d >= 0)) {
                w.left = true;
                clip_end(w, 0);
            }
            prev = d;
        }
    }
    const float *e = v + 3 * (count - 1);
    if (clip_depth(b, b.px(e[0]), b.py(e[1]), e[2]) >= 0)
        w.piece.insert(w.piece.end(), e, e + 3);
    else
        w.left = true;
    clip_end(w, w.left ? 0 : closed);
}

contour *con_sampleimage(const image *img, const contour *c, const float *size, const float *origin)
{
    if (!img_isscalar(img, "con_sampleimage") || !c)
        return nullptr;
    contour *out = cont_new();
    if (!out)
        return nullptr;
    const drape_box b = {img, size, origin};
    uint32_t first = 0;
    for (uint32_t i = 0; i < c->numpolys; first += c->vertcount[i], i++) {
        if (c->vertcount[i] == 0)
            continue;
        clip_walk w = {out, c->link[i], {}};
        clip_polyline(b, w, c->verts + 3 * (size_t)first, c->vertcount[i], c->closed[i]);
        if (w.full)
            break;
    }
    return out;
}

// ---------------------------------------------------------------- nearest point

// Squared distance from p to the line through segment k (unclamped) and its
// side value; false for a zero-length segment.
static bool near_line(const float *p, const float *v, int k, float *d2, float *side)
{
    const float *a = v + 3 * k, *b = a + 3;
    const float dx = b[0] - a[0], dy = b[1] - a[1], l2 = dx * dx + dy * dy;
    if (!(l2 > 0))
        return false;
    *side = dy * (p[0] - a[0]) - dx * (p[1] - a[1]);
    *d2 = *side * *side / l2;
    return true;
}

// At a corner between segments k1 and k2: the larger line distance, with the
// sign of the side of the segment it came from.
static float near_corner(const float *p, const float *v, int k1, int k2, float fallback, bool after, int verbose)
{
    float d1 = 0, s1 = 0, d2 = 0, s2 = 0;
    const bool h1 = near_line(p, v, k1, &d1, &s1), h2 = near_line(p, v, k2, &d2, &s2);
    if (verbose)
        sys_debuglog(after ? " FRAC>1 // %d->%d=%f / %d->%d=%f" : "  FRAC<0 // %d->%d=%f / %d->%d=%f", k1, k1 + 1,
                     d1, k2, k2 + 1, d2);
    if (!h1 && !h2)
        return fallback;
    const bool first = h1 && (!h2 || d1 >= d2);
    const float d = first ? d1 : d2, s = first ? s1 : s2;
    return s < 0 ? -d : d;
}

float con_nearestpoint(const float *point, int closed, int count, const float *v, int verbose)
{
    if (count < 2)
        return 9999999.0f;
    float best = 3.4e38f, bestt = 0, side = 0;
    int at = -1;
    for (int k = 0; k + 1 < count; k++) {
        const float *a = v + 3 * k, *b = a + 3;
        const float dx = b[0] - a[0], dy = b[1] - a[1], l2 = dx * dx + dy * dy;
        if (!(l2 > 0))
            continue; // t would be 0 / 0
        const float t = ((point[0] - a[0]) * dx + (point[1] - a[1]) * dy) / l2, c = std::clamp(t, 0.0f, 1.0f);
        const float ex = a[0] + c * dx - point[0], ey = a[1] + c * dy - point[1], d2 = ex * ex + ey * ey;
        if (d2 < best) {
            best = d2;
            bestt = t;
            at = k;
            side = dy * (point[0] - a[0]) - dx * (point[1] - a[1]);
        }
    }
    if (at < 0)
        return 9999999.0f;
    const int last = count - 2;
    if (verbose) {
        const float *a = v + 3 * at, *b = a + 3;
        sys_debuglog(" ( %4.2f %4.2f %4.2f ) nearest: vert=%d/%d ( %4.2f %4.2f %4.2f )-( %4.2f %4.2f %4.2f ) side:%f "
                     "dist:%f frac:%f",
                     point[0], point[1], point[2], at, count, a[0], a[1], a[2], b[0], b[1], b[2], side, best, bestt);
    }
    float result = side < 0 ? -best : best;
    if (bestt < 0)
        result = at > 0 ? near_corner(point, v, at - 1, at, result, false, verbose)
                 : closed ? near_corner(point, v, last, at, result, false, verbose)
                          : best;
    else if (bestt > 1)
        result = at < last ? near_corner(point, v, at, at + 1, result, true, verbose)
                 : closed ? near_corner(point, v, last, 0, result, true, verbose)
                          : best;
    if (verbose)
        sys_debuglog("  SIDE = %f", result);
    return result;
}
