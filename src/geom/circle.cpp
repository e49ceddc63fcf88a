// Minimum enclosing circle. Points are visited in a shuffled order; a point
// outside the circle so far must lie on the boundary of the circle of the
// points seen, which restarts the search with it fixed (then with two fixed).
// The shuffle is seeded from the count, so a run is repeatable.
#include "geom/circle.h"

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

struct circ_pt {
    double x, y;
};
struct circ_c {
    double x, y, r;
};

constexpr double circ_slack = 0.0001;

bool circ_holds(const circ_c &c, const circ_pt &p)
{
    return std::hypot(p.x - c.x, p.y - c.y) <= c.r + circ_slack;
}

circ_c circ_two(const circ_pt &a, const circ_pt &b)
{
    return {(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, std::hypot(a.x - b.x, a.y - b.y) * 0.5};
}

// The circle through three points; for (nearly) collinear points the circle
// on the two farthest apart, which then holds the third.
circ_c circ_three(const circ_pt &a, const circ_pt &b, const circ_pt &c)
{
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2.0 * (bx * cy - by * cx);
    const double scale = (bx * bx + by * by) + (cx * cx + cy * cy);
    if (std::fabs(d) <= 1e-12 * scale) {
        circ_c ab = circ_two(a, b), ac = circ_two(a, c), bc = circ_two(b, c);
        circ_c best = ab.r >= ac.r ? ab : ac;
        return best.r >= bc.r ? best : bc;
    }
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / d, uy = (bx * c2 - cx * b2) / d;
    return {a.x + ux, a.y + uy, std::hypot(ux, uy)};
}

circ_c circ_withtwo(const std::vector<circ_pt> &p, size_t n, const circ_pt &a, const circ_pt &b)
{
    circ_c c = circ_two(a, b);
    for (size_t k = 0; k < n; k++)
        if (!circ_holds(c, p[k]))
            c = circ_three(a, b, p[k]);
    return c;
}

circ_c circ_withone(const std::vector<circ_pt> &p, size_t n, const circ_pt &a)
{
    circ_c c = {a.x, a.y, 0.0};
    for (size_t j = 0; j < n; j++)
        if (!circ_holds(c, p[j]))
            c = circ_withtwo(p, j, a, p[j]);
    return c;
}

} // namespace

void circle_enclose(const float *verts, int count, float out[3])
{
    if (count < 2) {
        out[0] = out[1] = 0.0f;
        out[2] = 999999.0f;
        return;
    }
    std::vector<circ_pt> p((size_t)count);
    for (int i = 0; i < count; i++)
        p[(size_t)i] = {verts[3 * i], verts[3 * i + 1]};
    uint64_t seed = 0x9E3779B97F4A7C15ull ^ (uint64_t)count;
    for (size_t i = p.size() - 1; i > 0; i--) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        std::swap(p[i], p[(size_t)((seed >> 33) % (i + 1))]);
    }
    circ_c c = {p[0].x, p[0].y, 0.0};
    for (size_t i = 1; i < p.size(); i++)
        if (!circ_holds(c, p[i]))
            c = circ_withone(p, i, p[i]);
    out[0] = (float)c.x;
    out[1] = (float)c.y;
    out[2] = (float)c.r;
}
