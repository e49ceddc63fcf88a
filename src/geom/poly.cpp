// Polyline routines. Thinning walks the points once, writing kept points over
// the ones already read. The cone stamp splits the field into 64 row bands:
// 63 go to the worker queue, the caller computes the last and then polls the
// bands' done flags; each band writes only its own rows.
#include "geom/poly.h"

#include "img/image.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <SDL.h>

#include <algorithm>
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

void job_maxdistpoint(void *arg)
{
    poly_coneband *b = (poly_coneband *)arg;
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
    b->done = 1;
}

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
    int rows = (field->height + poly_conebands - 1) / poly_conebands;
    // Without workers a queued band would never run, so then the caller
    // computes every band itself.
    bool queue = sys_numthreads > 0;
    poly_coneband bands[poly_conebands];
    for (int k = 0; k < poly_conebands; k++) {
        poly_coneband &b = bands[k];
        b.width = field->width;
        b.height = field->height;
        b.row0 = std::min(k * rows, field->height);
        b.row1 = std::min((k + 1) * rows, field->height);
        b.pixels = (float *)field->pixels;
        b.unitx = size[0] / field->width;
        b.unity = size[1] / field->height;
        b.apex[0] = point[0];
        b.apex[1] = point[1];
        b.apex[2] = point[2];
        b.done = b.row0 >= b.row1 ? 1 : 0;
    }
    for (int k = 0; k < poly_conebands; k++) {
        if (bands[k].done)
            continue;
        if (queue && k < poly_conebands - 1)
            sys_threadjobrun("distpoint", job_maxdistpoint, &bands[k]);
        else
            job_maxdistpoint(&bands[k]);
    }
    for (int k = 0; k < poly_conebands; k++) {
        while (!bands[k].done.load())
            SDL_Delay(0);
    }
    sys_debuglog("CPU maxdistpoint %f,%f:%f (elapsed %.4fs)", point[0], point[1], point[2],
                 sys_seconds() - start);
    return 0;
}
