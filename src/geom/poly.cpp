// Polyline routines. Thinning walks the points once, writing kept points over
// the ones already read. The cone stamp splits the field into 64 row bands:
// 63 go to the worker queue, the caller computes the last and then polls the
// bands' done flags; each band writes only its own rows. Clipping a line to
// a rectangle solves each edge in double precision.
#include "geom/poly.h"

#include "geom/contour.h"
#include "geom/drape.h"
#include "img/bands.h"
#include "img/distance.h"
#include "img/image.h"
#include "sys/log.h"

#include <algorithm>
#include <bit>
#include <cmath>

// Difference b - a with the height counted twice, so that steep steps weigh
// more than flat ones of the same length.
static void poly_delta(float *out, const float *a, const float *b)
{
    out[0] = b[0] - a[0];
    out[1] = b[1] - a[1];
    out[2] = 2.0f * (b[2] - a[2]);
}

static float poly_length(const float *d)
{
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

// Dot product of the unit directions a->b and b->c; a zero-length leg has no
// direction and counts as 0 (a full turn) rather than poisoning the walk with NaN.
static float poly_turndot(const float *a, const float *b, const float *c)
{
    float u[3], v[3];
    poly_delta(u, a, b);
    poly_delta(v, b, c);
    float lu = poly_length(u), lv = poly_length(v);
    if (lu <= 0.0f || lv <= 0.0f)
        return 0.0f;
    return (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / (lu * lv);
}

static void poly_copy(float *dst, const float *src)
{
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
}

// Replaces the last kept point (preceded by another kept point) with q and
// returns the turn there, 1 when q coincides with the point before it.
static float poly_movecorner(float *last, const float *q, const float *next)
{
    const float *before = last - 3;
    poly_copy(last, q);
    float d[3];
    poly_delta(d, before, last);
    return poly_length(d) == 0.0f ? 1.0f : poly_turndot(before, last, next);
}

int poly_vertdot(int count, float *v, float dotlimit, float minlen, float maxlen)
{
    // One or no point: nothing to thin, and no second slot to write into.
    if (count < 2)
        return count > 0 ? count : 0;
    int w = 1;            // next write position; point 0 always stays
    float prevdot = 1.0f; // turn at the last kept point
    for (int i = 1; i < count - 1;) {
        const float *k = v + 3 * (w - 1), *q = v + 3 * i, *n = v + 3 * (i + 1);
        float d[3];
        poly_delta(d, k, q);
        float len = poly_length(d);
        if (len > maxlen && w < i) {
            float s = maxlen / len;
            float *o = v + 3 * w;
            o[0] = k[0] + (q[0] - k[0]) * s;
            o[1] = k[1] + (q[1] - k[1]) * s;
            o[2] = k[2] + (q[2] - k[2]) * s;
            w++;
            prevdot = 1.0f;
            continue; // measure the same candidate from the new point
        }
        float dot = poly_turndot(k, q, n);
        if (len < minlen) {
            // A short step that turns much sharper than the kept point moves
            // that point onto the corner instead of losing the corner.
            if (dot < prevdot - 0.1f && w > 1) {
                sys_debuglog("%d = vert[%d] dot:%f < prev:%f", w - 1, i, dot, prevdot);
                prevdot = poly_movecorner(v + 3 * (w - 1), q, n);
            }
        } else if (dot < dotlimit) {
            poly_copy(v + 3 * w, q);
            w++;
            prevdot = dot;
        }
        i++;
    }
    poly_copy(v + 3 * w, v + 3 * (count - 1));
    return w + 1;
}

// Always 64 bands of ceil(h / 64) rows whatever the workers do; polled with
// zero sleeps.
static constexpr img_bandrule poly_conerule = {img_bandsfixed, 64, false, false, 0};

static int poly_checkfield(const image *field, const float *size)
{
    if (!field || !field->pixels || field->bytesperpixel != 4 || field->width <= 0 ||
        field->height <= 0) {
        sys_log("poly_maxdistpoint: field is not a scalar field");
        return -1;
    }
    if (!(size[0] > 0.0f && size[1] > 0.0f && std::isfinite(size[0]) && std::isfinite(size[1]))) {
        sys_log("poly_maxdistpoint: bad world size %f x %f", size[0], size[1]);
        return -1;
    }
    return 0;
}

int poly_maxdistpoint(image *field, const float *size, const float *origin, float *point)
{
    if (poly_checkfield(field, size) < 0)
        return -1;
    double start = sys_seconds();
    point[0] -= origin[0];
    point[1] -= origin[1];
    distpoint_job proto{};
    proto.width = field->width;
    proto.height = field->height;
    proto.pixels = (float *)field->pixels;
    proto.unitx = size[0] / field->width;
    proto.unity = size[1] / field->height;
    proto.apex[0] = point[0];
    proto.apex[1] = point[1];
    proto.apex[2] = point[2];
    img_bands<distpoint_job>(poly_conerule, 0, field->height, "distpoint", job_maxdistpoint,
                             [&](const img_bandrange &) { return proto; });
    sys_debuglog("CPU maxdistpoint %f,%f:%f (elapsed %.4fs)", point[0], point[1], point[2],
                 sys_seconds() - start);
    return 0;
}

// Where the line origin + s dir crosses the edge p + u (q - p), 0 <= u <= 1:
// true with s; a line (nearly) parallel to the edge never crosses it.
static bool poly_crossedge(const float *origin, const float *dir, const float *p, const float *q, double *s)
{
    double ex = (double)q[0] - p[0], ey = (double)q[1] - p[1];
    double den = (double)dir[0] * ey - (double)dir[1] * ex;
    if (!(std::fabs(den) >= 1e-7))
        return false;
    double wx = (double)p[0] - origin[0], wy = (double)p[1] - origin[1];
    double u = (wx * dir[1] - wy * dir[0]) / den;
    if (!(u >= 0.0 && u <= 1.0))
        return false;
    *s = (wx * ey - wy * ex) / den;
    return true;
}

static void poly_alongline(float *out, const float *origin, const float *dir, double s)
{
    for (int i = 0; i < 3; i++)
        out[i] = (float)(origin[i] + s * dir[i]);
}

int poly_parallel(const float *origin, const float *dir, const float *box, int startedge, float *a, float *b)
{
    const float corners[4][2] = {{box[0], box[1]}, {box[0], box[3]}, {box[2], box[3]}, {box[2], box[1]}};
    int first = ((startedge % 4) + 4) % 4;
    bool havea = false;
    double sa = 0.0;
    double same = 1e-6 * std::max({std::fabs((double)box[2] - box[0]), std::fabs((double)box[3] - box[1]), 1e-30});
    for (int n = 0; n < 4; n++) {
        int e = (first + n) % 4;
        double s;
        if (!poly_crossedge(origin, dir, corners[e], corners[(e + 1) % 4], &s))
            continue;
        if (!havea) {
            havea = true;
            sa = s;
            poly_alongline(a, origin, dir, s);
            continue;
        }
        // Through a corner the line crosses both edges that meet there; the
        // second crossing at the same point is no end of the chord.
        if (std::fabs((s - sa) * dir[0]) <= same && std::fabs((s - sa) * dir[1]) <= same)
            continue;
        poly_alongline(b, origin, dir, s);
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- polygon sides

// sqrt(v) by one Newton step of the inverse square root estimate.
static float poly_fastsqrt(float v)
{
    if (!(v > 0.0f))
        return 0.0f;
    float y = std::bit_cast<float>(0x5F375A86 - (std::bit_cast<int32_t>(v) >> 1));
    return v * y * (1.5f - 0.5f * v * y * y);
}

static float poly_sidesample(int m, const float *sampled, int on, const float *other, int flags, int verbose)
{
    if (m <= 0)
        return -9999999.0f;
    const int step = (int)(poly_fastsqrt((float)m) * 0.5f + 1.0f);
    if (verbose)
        sys_debuglog(" poly_side_poly %d/%d / STEP:%d", m, on, step);
    double sum = 0.0;
    int samples = 0;
    for (int i = 0; i < m; i += step) {
        float v = con_nearestpoint(sampled + 3 * i, flags, on, other, verbose);
        if (verbose)
            sys_debuglog("  %d/%d dist:%f\n", i, m, v);
        sum += (v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0) * std::sqrt(std::fabs((double)v));
        samples++;
    }
    return (float)(sum / samples);
}

float poly_sidepoly(int count1, const float *poly1, int flags1, int count2, const float *poly2, int flags2,
                    int verbose)
{
    const float a1 = cont_polyarea(poly1, (uint32_t)std::max(count1, 0));
    const float a2 = cont_polyarea(poly2, (uint32_t)std::max(count2, 0));
    if (verbose)
        sys_debuglog("a1[%d] = %f, a2[%d] = %f", count1, a1, count2, a2);
    if (a2 < 0) {
        float r = poly_sidesample(count2, poly2, count1, poly1, flags1, verbose);
        return r == -9999999.0f ? r : -r;
    }
    return poly_sidesample(count1, poly1, count2, poly2, flags2, verbose);
}

float poly_sidepolycmp(int count1, const float *poly1, int flags1, int count2, const float *poly2, int flags2,
                       int verbose)
{
    const float a1 = cont_polyarea(poly1, (uint32_t)std::max(count1, 0));
    const float a2 = cont_polyarea(poly2, (uint32_t)std::max(count2, 0));
    if ((a1 > 0) != (a2 > 0)) {
        if (verbose)
            sys_debuglog("<%d verts>:<%f> != <%d verts>:<%f>", count1, a1, count2, a2);
        return -9999999.0f;
    }
    if (verbose)
        sys_debuglog("<%d verts>:<%f> == <%d verts>:<%f>", count1, a1, count2, a2);
    return poly_sidepoly(count1, poly1, flags1, count2, poly2, flags2, verbose);
}
