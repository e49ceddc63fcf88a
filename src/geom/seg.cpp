// Line intersection by the cross product of the two directions.
#include "geom/seg.h"

#include <cmath>

constexpr double seg_epsilon = 1e-9;

static bool seg_degenerate(double dx, double dy)
{
    return std::fabs(dx) < seg_epsilon && std::fabs(dy) < seg_epsilon;
}

void seg_intersect(double *out, const double *a1, const double *a2, const double *b1,
                   const double *b2)
{
    double ax = a2[0] - a1[0], ay = a2[1] - a1[1];
    double bx = b2[0] - b1[0], by = b2[1] - b1[1];
    double cross = ax * by - ay * bx;
    // The negated test also refuses NaN input instead of passing it on.
    if (seg_degenerate(ax, ay) || seg_degenerate(bx, by) || !(std::fabs(cross) >= seg_epsilon)) {
        out[0] = 0.0;
        out[1] = 0.0;
        out[2] = -1.0;
        return;
    }
    double t = (bx * (a1[1] - b1[1]) - by * (a1[0] - b1[0])) / cross;
    out[0] = a1[0] + ax * t;
    out[1] = a1[1] + ay * t;
    out[2] = 0.0;
}
