// The smallest enclosing circle against two independent answers: GEOS's
// minimum bounding circle through shapely, and the exhaustive search over
// the widest pair and every triple of points (small sets only), on random
// convex polygons, a dense round outline and the degenerate inputs.
#include "geom/circle.h"
#include "testchild.h"
#include "testtemp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using polygon = std::vector<float>; // x, y, z per point

// shapely's circle of every polygon; empty when it did not answer.
std::vector<std::array<double, 3>> shapelycircles(const std::vector<polygon> &polys)
{
    const std::string in = testtemp_file("circle-in"), out = testtemp_file("circle-out");
    {
        std::ofstream f(in);
        f.precision(9);
        for (const polygon &p : polys) {
            for (size_t i = 0; i < p.size(); i += 3)
                f << p[i] << ' ' << p[i + 1] << ' ';
            f << '\n';
        }
    }
    std::vector<std::array<double, 3>> result;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/geom/circle_shapely.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        std::array<double, 3> c;
        while (f >> c[0] >> c[1] >> c[2])
            result.push_back(c);
    }
    remove(in.c_str());
    remove(out.c_str());
    return result;
}

bool holdsall(const polygon &p, double cx, double cy, double r)
{
    for (size_t i = 0; i < p.size(); i += 3)
        if (std::hypot(p[i] - cx, p[i + 1] - cy) > r + 0.0001)
            return false;
    return true;
}

// The exhaustive search: the widest pair's circle when it holds every point,
// else the smallest circle through three points that holds them all.
std::array<double, 3> searchcircle(const polygon &p)
{
    const size_t n = p.size() / 3;
    double best = -1;
    size_t a = 0, b = 0;
    for (size_t i = 0; i < n; i++)
        for (size_t j = i + 1; j < n; j++) {
            double d = std::hypot(p[3 * i] - p[3 * j], p[3 * i + 1] - p[3 * j + 1]);
            if (d > best)
                best = d, a = i, b = j;
        }
    std::array<double, 3> c = {(p[3 * a] + p[3 * b]) / 2.0, (p[3 * a + 1] + p[3 * b + 1]) / 2.0, best / 2};
    if (holdsall(p, c[0], c[1], c[2]))
        return c;
    c = {0, 0, 999999};
    for (size_t i = 0; i < n; i++)
        for (size_t j = i + 1; j < n; j++)
            for (size_t k = j + 1; k < n; k++) {
                const double ax = p[3 * i], ay = p[3 * i + 1], bx = p[3 * j], by = p[3 * j + 1];
                const double qx = p[3 * k], qy = p[3 * k + 1];
                const double d = 2 * (ax * (by - qy) + bx * (qy - ay) + qx * (ay - by));
                if (std::fabs(d) < 1e-12)
                    continue;
                const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, q2 = qx * qx + qy * qy;
                const double ux = (a2 * (by - qy) + b2 * (qy - ay) + q2 * (ay - by)) / d;
                const double uy = (a2 * (qx - bx) + b2 * (ax - qx) + q2 * (bx - ax)) / d;
                const double r = std::hypot(ax - ux, ay - uy);
                if (r <= c[2] && holdsall(p, ux, uy, r))
                    c = {ux, uy, r};
            }
    return c;
}

// The convex hull of random points in a box: pairs and triples both end up
// deciding the circle.
polygon randomconvex(std::mt19937 &rng, int points)
{
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const float cx = 3 * u(rng), cy = 3 * u(rng), sx = 0.2f + std::fabs(u(rng)), sy = 0.2f + std::fabs(u(rng));
    std::vector<std::pair<float, float>> pts;
    for (int i = 0; i < points; i++)
        pts.push_back({cx + sx * u(rng), cy + sy * u(rng)});
    std::sort(pts.begin(), pts.end());
    auto turn = [](auto o, auto a, auto b) {
        return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
    };
    std::vector<std::pair<float, float>> hull(2 * pts.size());
    size_t k = 0;
    for (size_t i = 0; i < pts.size(); i++) {
        while (k >= 2 && turn(hull[k - 2], hull[k - 1], pts[i]) <= 0)
            k--;
        hull[k++] = pts[i];
    }
    for (size_t i = pts.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && turn(hull[k - 2], hull[k - 1], pts[i]) <= 0)
            k--;
        hull[k++] = pts[i];
    }
    polygon p;
    for (size_t i = 0; i + 1 < k; i++)
        p.insert(p.end(), {hull[i].first, hull[i].second, 0.0f});
    return p;
}

} // namespace

TEST(EncloseCircle, MatchesShapelyAndTheSearchOnRandomConvexPolygons)
{
    std::mt19937 rng(39);
    std::vector<polygon> polys;
    for (int i = 0; i < 60; i++)
        polys.push_back(randomconvex(rng, 6 + i % 30));
    // A dense round outline, slightly uneven: the search would take n^4 here.
    polygon round;
    for (int i = 0; i < 5000; i++) {
        const double a = i * 2 * M_PI / 5000, r = 0.5 + 0.001 * std::sin(7 * a);
        round.insert(round.end(), {(float)(1.25 + r * std::cos(a)), (float)(-0.5 + r * std::sin(a)), 0.0f});
    }
    polys.push_back(round);
    const auto oracle = shapelycircles(polys);
    ASSERT_EQ(oracle.size(), polys.size())
        << "/usr/bin/python3 tests/geom/circle_shapely.py failed (needs python3-shapely)";
    for (size_t i = 0; i < polys.size(); i++) {
        SCOPED_TRACE("polygon " + std::to_string(i) + " of " + std::to_string(polys[i].size() / 3) + " points");
        float c[3];
        circle_enclose(polys[i].data(), (int)(polys[i].size() / 3), c);
        EXPECT_NEAR(c[0], oracle[i][0], 1e-4);
        EXPECT_NEAR(c[1], oracle[i][1], 1e-4);
        EXPECT_NEAR(c[2], oracle[i][2], 1e-4);
        EXPECT_TRUE(holdsall(polys[i], c[0], c[1], c[2]));
        if (polys[i].size() / 3 <= 40) {
            const auto s = searchcircle(polys[i]);
            EXPECT_NEAR(c[0], s[0], 1e-4);
            EXPECT_NEAR(c[1], s[1], 1e-4);
            EXPECT_NEAR(c[2], s[2], 1e-4);
        }
    }
}

TEST(EncloseCircle, DegenerateInputs)
{
    struct Case {
        const char *what;
        polygon points;
        float x, y, r;
    };
    const Case cases[] = {
        {"no point", {}, 0, 0, 999999},
        {"one point: no circle", {2, 3, 0}, 0, 0, 999999},
        {"two points", {0, 0, 0, 2, 0, 0}, 1, 0, 1},
        {"the same point twice", {1, 1, 0, 1, 1, 0}, 1, 1, 0},
        {"collinear points", {0, 0, 0, 1, 1, 0, 3, 3, 0, 2, 2, 0}, 1.5f, 1.5f, 2.1213203f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        float out[3];
        circle_enclose(c.points.data(), (int)(c.points.size() / 3), out);
        EXPECT_NEAR(out[0], c.x, 1e-5);
        EXPECT_NEAR(out[1], c.y, 1e-5);
        EXPECT_NEAR(out[2], c.r, 1e-5);
    }
}
