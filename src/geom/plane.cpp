// Plane helpers: exact quarter turns, turned boxes, grid snapping. Degrees
// become radians in extended precision, as everywhere in the geometry code.
#include "geom/plane.h"

#include <algorithm>
#include <cmath>

constexpr long double plane_torad = 3.14159265358979323846264338327950288L / 180.0L;
constexpr double plane_exactangle = 0.0001;

void math_exactsincos(double deg, double *s, double *c)
{
    struct quarter {
        double angle, s, c;
    };
    static constexpr quarter quarters[] = {{0, 0, 1}, {90, 1, 0}, {180, 0, -1}, {270, -1, 0}};
    for (const quarter &q : quarters) {
        if (std::fabs(deg - q.angle) < plane_exactangle) {
            *s = q.s;
            *c = q.c;
            return;
        }
    }
    long double r = deg * plane_torad;
    *s = (double)sinl(r);
    *c = (double)cosl(r);
}

void bounds_rotate(float *out, const float *box, float angle)
{
    long double r = angle * plane_torad;
    double s = (double)sinl(r), c = (double)cosl(r);
    double cx = 0.5 * ((double)box[0] + box[2]), cy = 0.5 * ((double)box[1] + box[3]);
    float lo[2] = {9999999.0f, 9999999.0f}, hi[2] = {-9999999.0f, -9999999.0f};
    const int corners[4][2] = {{0, 1}, {2, 1}, {2, 3}, {0, 3}};
    for (const auto &k : corners) {
        double dx = box[k[0]] - cx, dy = box[k[1]] - cy;
        float x = (float)(cx + dx * c + dy * s), y = (float)(cy - dx * s + dy * c);
        lo[0] = std::min(lo[0], x);
        lo[1] = std::min(lo[1], y);
        hi[0] = std::max(hi[0], x);
        hi[1] = std::max(hi[1], y);
    }
    out[0] = lo[0];
    out[1] = lo[1];
    out[2] = hi[0];
    out[3] = hi[1];
}

float snap_step(float v, float step)
{
    // Dividing by a zero step would turn every value into NaN.
    if (step == 0.0f)
        return v;
    return std::floor(v / step + 0.5f) * step;
}
