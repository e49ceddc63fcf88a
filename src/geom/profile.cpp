// Edge profiles. Both work in a unit frame: the rim over its own width, the
// ramp over u = value / scale with heights 0..1. The ramp's arcs are joined by
// their common tangent, found from the angle of the line between the centres.
#include "geom/profile.h"

#include "sys/log.h"

#include <algorithm>
#include <atomic>
#include <cmath>

float math_steppos(float dist, float radius, float rim, float depth, float outside)
{
    float width = std::fabs(rim);
    float t = dist - (radius - width);
    if (t < 0.0f)
        return 0.0f;
    if (t > width)
        return outside;
    if (width < 0.0001f)
        return 0.0f;
    float u = t / rim;
    if (rim > 0.0f) {
        float arg = 1.0f - u * u;
        return arg > 0.0f ? (std::sqrt(arg) - 1.0f) * depth : -depth;
    }
    float arg = 1.0f - (u + 1.0f) * (u + 1.0f);
    return arg > 0.0f ? -std::sqrt(arg) * depth : 0.0f;
}

// The ramp in its unit frame: width A = length / scale, signed radii, the arc
// centres and the two tangent points where the straight part begins and ends.
struct arc_ramp {
    double width, r1, r2;
    double c1x, c1y, c2x, c2y;
    double x1, y1, x2, slope;
};

// Convex arcs (radius >= 0) have their centre below the slope, concave ones
// above it.
static void arc_centres(arc_ramp &a)
{
    a.c1x = a.r1 >= 0.0 ? a.r1 : 0.0;
    a.c1y = a.r1 >= 0.0 ? 0.0 : -a.r1;
    a.c2x = a.r2 >= 0.0 ? a.width : a.width + a.r2;
    a.c2y = a.r2 >= 0.0 ? 1.0 - a.r2 : 1.0;
}

static double arc_centredistance(const arc_ramp &a)
{
    return std::hypot(a.c2x - a.c1x, a.c2y - a.c1y);
}

// The last angle logged, so a run of calls with one shape logs it once.
static std::atomic<float> arc_loggedangle{NAN};

// Fits the radii into the ramp and finds the tangent line between the arcs.
static void arc_shape(arc_ramp &a)
{
    double limit = std::min(a.width, 1.0);
    double sum = std::fabs(a.r1) + std::fabs(a.r2);
    if (sum > limit) {
        a.r1 *= limit / (sum + 0.0001);
        a.r2 *= limit / (sum + 0.0001);
    }
    arc_centres(a);
    double d = arc_centredistance(a);
    // Arcs on opposite sides of the slope need room between them for the
    // crossing tangent; shrinking them moves the centres apart, so one
    // recomputation is enough.
    sum = std::fabs(a.r1) + std::fabs(a.r2);
    if ((a.r1 < 0.0) != (a.r2 < 0.0) && sum > d + 0.0001) {
        a.r1 *= d / sum;
        a.r2 *= d / sum;
        arc_centres(a);
        d = arc_centredistance(a);
    }
    double dx = a.c2x - a.c1x, dy = a.c2y - a.c1y;
    double c = std::clamp((a.r1 - a.r2) / d, -0.9999, 0.9999);
    double a1 = std::asin(c);
    double a2 = std::atan(dx / dy) + (dy < 0.0 ? M_PI : 0.0);
    double w = a1 + a2; // the slope's angle from the vertical
    if ((float)a1 != arc_loggedangle.load()) {
        sys_debuglog("r:%f a1:%f a2:%f", c, a1 * 180.0 / M_PI, a2 * 180.0 / M_PI);
        arc_loggedangle = (float)a1;
    }
    a.x1 = a.r1 < 0.0 ? -a.r1 * std::cos(w) : a.r1 - a.r1 * std::cos(w);
    a.y1 = a.r1 * std::sin(w) - (a.r1 < 0.0 ? a.r1 : 0.0);
    a.x2 = a.c2x - a.r2 * std::cos(w);
    a.slope = 1.0 / std::tan(w);
}

static double arc_height(const arc_ramp &a, double u)
{
    if (u < a.x1) {
        double dx = a.r1 < 0.0 ? u : a.r1 - u;
        double arg = a.r1 * a.r1 - dx * dx;
        double root = arg > 0.0 ? std::sqrt(arg) : 0.0;
        return a.r1 < 0.0 ? -a.r1 - root : root;
    }
    if (u > a.x2) {
        double dx = u - a.c2x;
        double arg = a.r2 * a.r2 - dx * dx;
        double root = arg > 0.0 ? std::sqrt(arg) : 0.0;
        return a.r2 < 0.0 ? 1.0 - root : a.c2y + root;
    }
    return (u - a.x1) * a.slope + a.y1;
}

void arc_fit(int count, float *values, float r1, float r2, float length, float scale)
{
    if (count <= 0 || !values)
        return;
    // A ramp without width (or a scale that leaves none) is a plain step.
    bool step = !(length > 0.0f && scale > 0.0f && std::isfinite(length / scale));
    arc_ramp a{};
    if (!step) {
        a.width = (double)length / scale;
        a.r1 = r1;
        a.r2 = r2;
        arc_shape(a);
    }
    for (int i = 0; i < count; i++) {
        float v = values[i];
        if (!(v >= 0.0f))
            values[i] = 0.0f; // NaN included
        else if (v > length)
            values[i] = 1.0f;
        else
            values[i] = step ? 0.0f : (float)arc_height(a, (double)v / scale);
    }
}
