// Three-float vector helpers and the camera basis rows they write.
#include "geom/vec.h"

#include <algorithm>
#include <cmath>

float view_basis[3][3];

void vec3_normalize(float *out, const float *v)
{
    double len = std::sqrt((double)v[0] * v[0] + (double)v[1] * v[1] + (double)v[2] * v[2]);
    // A zero vector has no direction; returning zero keeps NaNs out of callers.
    float scale = len > 0.0 ? (float)(1.0 / len) : 0.0f;
    out[0] = v[0] * scale;
    out[1] = v[1] * scale;
    out[2] = v[2] * scale;
}

static void vec3_set(float *out, double x, double y, double z)
{
    out[0] = (float)x;
    out[1] = (float)y;
    out[2] = (float)z;
}

void vec3_anglevectors(const float *angles)
{
    constexpr long double torad = 3.14159265358979323846264338327950288L / 180.0L;
    long double p = angles[0] * torad, y = angles[2] * torad;
    double sp = (double)sinl(p), cp = (double)cosl(p);
    double sy = (double)sinl(y), cy = (double)cosl(y);
    vec3_set(view_basis[view_forward], -sy * sp, cy * sp, -cp);
    vec3_set(view_basis[view_up], -sy * cp, cy * cp, sp);
    vec3_set(view_basis[view_right], -cy, -sy, 0.0);
}

void view_rotationrows(float zdegrees, float rows[3][3])
{
    float a = zdegrees * (float)M_PI / 180.0f;
    float c = cosf(a), s = sinf(a);
    const float r[3][3] = {{0.0f, 0.0f, -1.0f}, {-s, c, 0.0f}, {-c, -s, 0.0f}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            rows[i][j] = r[i][j];
}

float vec3_manhattan(const float *a, const float *b)
{
    return std::fabs(a[0] - b[0]) + std::fabs(a[1] - b[1]) + std::fabs(a[2] - b[2]);
}

float *vec3_slerp(float *out, const float *a, const float *b, float t)
{
    double d = (double)a[0] * b[0] + (double)a[1] * b[1] + (double)a[2] * b[2];
    // Rounding can push the dot of two unit vectors just past 1, where acos
    // has no value.
    d = std::clamp(d, -1.0, 1.0);
    double w = std::acos(d) * t;
    // The part of b perpendicular to a spans the plane of the turn.
    double p[3] = {b[0] - d * a[0], b[1] - d * a[1], b[2] - d * a[2]};
    double len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    double s = len > 0.0 ? std::sin(w) / len : 0.0, c = std::cos(w);
    vec3_set(out, p[0] * s + a[0] * c, p[1] * s + a[1] * c, p[2] * s + a[2] * c);
    return out;
}
