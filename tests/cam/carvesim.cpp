// The carve simulator: closed-form cutter shapes, a stamp that visits the
// pixel centres under the cutter, move sampling, and the brute-force
// dilation. Built with optimisation even in the sanitizer build: the tests
// stamp a few hundred thousand times.
#include "carvesim.h"

#include <algorithm>
#include <cmath>

constexpr double carve_pi = 3.14159265358979323846;

static double carve_rad(double degrees)
{
    return degrees * carve_pi / 180.0;
}

double carve_tool::height(double r) const
{
    r = std::max(0.0, r - shift);
    switch (kind) {
    case bull: {
        const double flat = radius - corner;
        if (r <= flat)
            return 0.0;
        const double u = std::min(r - flat, corner);
        return corner - std::sqrt(std::max(0.0, corner * corner - u * u));
    }
    case tapered:
        return r <= tip ? 0.0 : (r - tip) / slope;
    case vee:
        return r / slope;
    case taperball: {
        const double cosa = 1.0 / std::sqrt(1.0 + slope * slope), sina = slope * cosa;
        const double touch = ball * cosa;
        if (r <= touch || slope == 0.0) {
            const double u = std::min(r, ball);
            return ball - std::sqrt(std::max(0.0, ball * ball - u * u));
        }
        return ball * (1.0 - sina) + (r - touch) / slope;
    }
    }
    return 0.0;
}

double carve_tool::maxrise(double len) const
{
    double worst = 0.0;
    const int steps = 4000;
    for (int k = 0; k <= steps; k++) {
        const double r = (radius - len) * k / steps;
        if (r < 0)
            break;
        worst = std::max(worst, height(std::min(r + len, radius)) - height(r));
    }
    return worst;
}

carve_tool carve_grow(const carve_tool &t, double d)
{
    carve_tool g = t;
    g.shift += d;
    g.radius = std::max(0.0, g.radius + d);
    return g;
}

carve_tool carve_flat(double diameter)
{
    return carve_tool{carve_tool::bull, diameter / 2, 0, 0, 0, 0};
}

carve_tool carve_ballnose(double diameter)
{
    return carve_tool{carve_tool::bull, diameter / 2, diameter / 2, 0, 0, 0};
}

carve_tool carve_bullnose(double diameter, double corner)
{
    return carve_tool{carve_tool::bull, diameter / 2, corner, 0, 0, 0};
}

carve_tool carve_tapered(double tipdiameter, double halfangle, double flutes)
{
    const double s = std::tan(carve_rad(halfangle));
    return carve_tool{carve_tool::tapered, tipdiameter / 2 + flutes * s, 0, tipdiameter / 2, s, 0};
}

carve_tool carve_vee(double diameter, double angle)
{
    return carve_tool{carve_tool::vee, diameter / 2, 0, 0, std::tan(carve_rad(angle / 2)), 0};
}

carve_tool carve_taperball(double ballradius, double halfangle, double flutes)
{
    const double a = carve_rad(halfangle);
    const double radius = ballradius * std::cos(a) + (flutes - ballradius * (1 - std::sin(a))) * std::tan(a);
    return carve_tool{carve_tool::taperball, std::max(radius, ballradius * std::cos(a)), 0, 0, std::tan(a),
                      ballradius};
}

void carve_stamp(carve_grid &g, const carve_tool &t, double x, double y, double z)
{
    const int i0 = std::max(0, (int)std::floor((x - t.radius - g.x0) / g.px - 0.5));
    const int i1 = std::min(g.w - 1, (int)std::ceil((x + t.radius - g.x0) / g.px - 0.5));
    const int j0 = std::max(0, (int)std::floor((g.y0 - (y + t.radius)) / g.py - 0.5));
    const int j1 = std::min(g.h - 1, (int)std::ceil((g.y0 - (y - t.radius)) / g.py - 0.5));
    const double r2 = t.radius * t.radius;
    for (int j = j0; j <= j1; j++) {
        const double dy = g.cy(j) - y;
        for (int i = i0; i <= i1; i++) {
            const double dx = g.cx(i) - x, d2 = dx * dx + dy * dy;
            if (d2 > r2)
                continue;
            double &cell = g.at(i, j);
            cell = std::min(cell, z + t.height(std::sqrt(d2)));
        }
    }
}

void carve_run(carve_grid &g, const carve_tool &t, const std::vector<carve_point> &moves)
{
    const double spacing = 0.25 * std::min(g.px, g.py);
    for (size_t k = 0; k < moves.size(); k++) {
        const carve_point &b = moves[k];
        if (k == 0 || b.kind == carve_point::start) {
            carve_stamp(g, t, b.x, b.y, b.z);
            continue;
        }
        const carve_point &a = moves[k - 1];
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        const int n = std::max(1, (int)std::ceil(len / spacing));
        for (int s = 1; s <= n; s++) {
            const double f = (double)s / n;
            carve_stamp(g, t, a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f);
        }
    }
}

carve_grid carve_dilate(const carve_grid &target, const carve_tool &t)
{
    carve_grid out = target;
    const int ri = (int)std::ceil(t.radius / target.px), rj = (int)std::ceil(t.radius / target.py);
    for (int j = 0; j < target.h; j++)
        for (int i = 0; i < target.w; i++) {
            double best = -1e30;
            for (int qj = std::max(0, j - rj); qj <= std::min(target.h - 1, j + rj); qj++)
                for (int qi = std::max(0, i - ri); qi <= std::min(target.w - 1, i + ri); qi++) {
                    const double d = std::hypot((qi - i) * target.px, (qj - j) * target.py);
                    if (d <= t.radius)
                        best = std::max(best, target.at(qi, qj) - t.height(d));
                }
            out.at(i, j) = best;
        }
    return out;
}

carve_gouge carve_deepest(const carve_grid &carved, const carve_grid &floor)
{
    carve_gouge worst;
    for (int j = 0; j < carved.h; j++)
        for (int i = 0; i < carved.w; i++) {
            const double below = floor.at(i, j) - carved.at(i, j);
            if (below > worst.depth)
                worst = {below, i, j};
        }
    return worst;
}
