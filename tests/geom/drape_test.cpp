// Draping, surface clipping, nearest point and polygon sides, and the
// contour operations checked against shapely (tests/geom/shapely_reference.py):
// signed areas, containment, distances, cut lengths, bridges and traced
// outlines of filled polygons.
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/poly.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "testchild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
struct cont_deleter {
    void operator()(contour *c) const { cont_free(c); }
};
using cont_ptr = std::unique_ptr<contour, cont_deleter>;
struct img_deleter {
    void operator()(image *i) const { img_free(i); }
};
using img_ptr = std::unique_ptr<image, img_deleter>;
using pts = std::vector<float>;

pts dr_poly(const contour *c, uint32_t i)
{
    uint32_t first = 0;
    for (uint32_t k = 0; k < i; k++)
        first += c->vertcount[k];
    return pts(c->verts + 3 * first, c->verts + 3 * (first + c->vertcount[i]));
}

img_ptr dr_field(int w, int h, float value)
{
    img_ptr f(img_allocfloat("field", w, h));
    float *p = (float *)f->pixels;
    for (int i = 0; i < w * h; i++)
        p[i] = value;
    return f;
}

std::string dr_json(const pts &p)
{
    std::ostringstream s;
    s.precision(9);
    s << "[";
    for (size_t i = 0; i + 2 < p.size(); i += 3)
        s << (i ? "," : "") << "[" << p[i] << "," << p[i + 1] << "]";
    s << "]";
    return s.str();
}

// Answers of shapely_reference.py to the requests, numbers in order; empty
// when the script fails (the caller's assertion names the package).
std::vector<double> dr_shapely(const std::vector<std::string> &requests)
{
    std::string list = "[";
    for (size_t i = 0; i < requests.size(); i++)
        list += (i ? "," : "") + requests[i];
    return testchild_asknumbers("geom/shapely_reference.py", list + "]");
}

// A star-shaped ring about (cx, cy): sorted angles, radii varying; clockwise
// (y up) when cw. Closed: the first point repeats.
pts dr_star(std::mt19937 &rng, float cx, float cy, float r, bool cw, int n = 0)
{
    std::uniform_real_distribution<float> angle(0, 2 * (float)M_PI), radius(0.4f, 1.0f);
    std::uniform_int_distribution<int> count(5, 30);
    std::vector<float> a(n ? n : count(rng));
    for (float &x : a)
        x = angle(rng);
    std::sort(a.begin(), a.end());
    if (cw)
        std::reverse(a.begin(), a.end());
    pts p;
    for (float x : a) {
        float q = r * radius(rng);
        p.insert(p.end(), {cx + q * std::cos(x), cy + q * std::sin(x), 0});
    }
    p.insert(p.end(), p.begin(), p.begin() + 3);
    return p;
}
} // namespace

// ---------------------------------------------------------------- nearest point and sides

TEST(Drape, NearestPointSignsAndEnds)
{
    const pts seg = {0, 0, 0, 10, 0, 0};
    struct Case {
        float x, y;
        int closed;
        float expect;
    };
    // Side value dy (px - ax) - dx (py - ay): below the x axis is positive.
    const Case cases[] = {
        {5, -2, 0, 4}, {5, 3, 0, -9}, {-3, 4, 0, 25}, {13, -4, 0, 25}, {14, 3, 0, 25},
    };
    for (const Case &c : cases) {
        const float p[3] = {c.x, c.y, 0};
        EXPECT_FLOAT_EQ(con_nearestpoint(p, c.closed, 2, seg.data(), 0), c.expect) << c.x << "," << c.y;
    }
    const float p[3] = {1, 1, 0};
    EXPECT_EQ(con_nearestpoint(p, 0, 1, seg.data(), 0), 9999999.0f);
    // A zero-length segment is passed over, not divided by.
    const pts dup = {0, 0, 0, 0, 0, 0, 10, 0, 0};
    const float below[3] = {5, -2, 0};
    EXPECT_FLOAT_EQ(con_nearestpoint(below, 0, 3, dup.data(), 1), 4);
    const pts none = {1, 1, 0, 1, 1, 0};
    EXPECT_EQ(con_nearestpoint(p, 0, 2, none.data(), 0), 9999999.0f);
}

TEST(Drape, SidePolyCmpRefusesOppositeTurns)
{
    std::mt19937 rng(7);
    pts a = dr_star(rng, 0, 0, 10, true), b = dr_star(rng, 0, 0, 5, false);
    EXPECT_EQ(poly_sidepolycmp((int)a.size() / 3, a.data(), 1, (int)b.size() / 3, b.data(), 1, 1), -9999999.0f);
    // A ring inside a larger one of the same turn: every sample lies inside,
    // so the average side is positive; the other way round negative.
    pts big = dr_star(rng, 0, 0, 10, true, 12);
    pts small = {-1, -1, 0, -1, 1, 0, 1, 1, 0, 1, -1, 0, -1, -1, 0};
    EXPECT_GT(poly_sidepolycmp(5, small.data(), 1, (int)big.size() / 3, big.data(), 1, 0), 0);
    EXPECT_LT(poly_sidepolycmp((int)big.size() / 3, big.data(), 1, 5, small.data(), 1, 0), 0);
    EXPECT_EQ(poly_sidepoly(0, small.data(), 1, 5, small.data(), 1, 0), -9999999.0f);
}

// ---------------------------------------------------------------- shapely

TEST(Drape, AreasContainmentAndDistancesAgreeWithShapely)
{
    std::mt19937 rng(2026);
    std::uniform_real_distribution<float> coord(-14, 14);
    std::vector<std::string> req;
    struct Expect {
        int kind; // 0 area, 1 contains, 2 distance
        double value;
        bool corner;
    };
    std::vector<Expect> mine;
    for (int round = 0; round < 24; round++) {
        pts ring = dr_star(rng, coord(rng) * 0.1f, coord(rng) * 0.1f, 10, round % 2 == 0);
        const uint32_t n = (uint32_t)ring.size() / 3;
        req.push_back("{\"op\":\"area\",\"ring\":" + dr_json(ring) + "}");
        mine.push_back({0, cont_polyarea(ring.data(), n), false});
        for (int k = 0; k < 10; k++) {
            float p[3] = {coord(rng), coord(rng), 0};
            std::string pj = "[" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "]";
            req.push_back("{\"op\":\"contains\",\"ring\":" + dr_json(ring) + ",\"point\":" + pj + "}");
            mine.push_back({1, cont_contains(ring.data(), n, p[0], p[1]) ? 1.0 : 0.0, false});
            float d = con_nearestpoint(p, 1, (int)n, ring.data(), 0);
            // Is the nearest point inside a segment (not at a corner)?
            float best = 1e30f;
            bool inside = false;
            for (uint32_t j = 0; j + 1 < n; j++) {
                const float *a = ring.data() + 3 * j, *b = a + 3;
                float dx = b[0] - a[0], dy = b[1] - a[1], t = ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / (dx * dx + dy * dy);
                float c = std::clamp(t, 0.0f, 1.0f), ex = a[0] + c * dx - p[0], ey = a[1] + c * dy - p[1];
                if (ex * ex + ey * ey < best) {
                    best = ex * ex + ey * ey;
                    inside = t > 0 && t < 1;
                }
            }
            req.push_back("{\"op\":\"distance2\",\"line\":" + dr_json(ring) + ",\"point\":" + pj + "}");
            mine.push_back({2, d, !inside});
            // Positive inside a ring of positive area, negative outside it.
            float area = cont_polyarea(ring.data(), n);
            bool in = cont_contains(ring.data(), n, p[0], p[1]);
            if (d != 0)
                EXPECT_EQ(d > 0, in == (area > 0)) << round << " " << p[0] << "," << p[1];
        }
    }
    std::vector<double> ref = dr_shapely(req);
    ASSERT_EQ(ref.size(), mine.size()) << "/usr/bin/python3 tests/geom/shapely_reference.py failed (needs python3-shapely)";
    for (size_t i = 0; i < ref.size(); i++) {
        const Expect &e = mine[i];
        if (e.kind == 0)
            EXPECT_NEAR(e.value, ref[i], 1e-3 * std::fabs(ref[i]) + 1e-4) << i;
        else if (e.kind == 1)
            EXPECT_EQ(e.value, ref[i]) << i;
        else if (!e.corner)
            EXPECT_NEAR(std::fabs(e.value), ref[i], 1e-3 * ref[i] + 1e-4) << i;
        else
            EXPECT_LE(std::fabs(e.value), ref[i] * (1 + 1e-4) + 1e-4) << i;
    }
}

// A field of 1 inside a polygon and 0 outside: the parts of random
// polylines at height 0.5 that con_sampleimage keeps are those inside.
TEST(Drape, SampledLengthsAgreeWithShapely)
{
    constexpr int w = 128, h = 96;
    const float size[3] = {64, 48, 1}, origin[3] = {-32, -24, 0};
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> step(-1.5f, 1.5f), start(-20, 20);
    std::vector<std::string> req;
    std::vector<double> mine;
    std::vector<int> crossings;
    for (int round = 0; round < 6; round++) {
        img_ptr f = dr_field(w, h, 0);
        pts ring = dr_star(rng, 0, 0, 20, round % 2 == 0);
        ASSERT_EQ(img_scalarfillpoly(f.get(), size, origin, (int)ring.size() / 3, ring.data(), 4, nullptr), 0);
        // Coverage at the boundary becomes a clean step at one half.
        float *p = (float *)f->pixels;
        for (int i = 0; i < w * h; i++)
            p[i] = p[i] >= 0.5f ? 1.0f : 0.0f;
        cont_ptr c(cont_new());
        pts line;
        float x = start(rng), y = start(rng) * 0.7f;
        for (int k = 0; k < 60; k++) {
            line.insert(line.end(), {x, y, 0.5f});
            x = std::clamp(x + step(rng), -30.0f, 30.0f);
            y = std::clamp(y + step(rng), -22.0f, 22.0f);
        }
        ASSERT_EQ(cont_addpoly(c.get(), line.data(), 60, 0, 7, "test"), 1);
        cont_ptr out(con_sampleimage(f.get(), c.get(), size, origin));
        ASSERT_NE(out, nullptr);
        double len = 0;
        for (uint32_t i = 0; i < out->numpolys; i++) {
            EXPECT_EQ(out->link[i], 7);
            pts q = dr_poly(out.get(), i);
            for (size_t j = 3; j < q.size(); j += 3)
                len += std::hypot(q[j] - q[j - 3], q[j + 1] - q[j - 2]);
        }
        mine.push_back(len);
        int changes = 0;
        for (int k = 1; k < 60; k++)
            changes += cont_contains(ring.data(), (uint32_t)ring.size() / 3, line[3 * k], line[3 * k + 1]) !=
                       cont_contains(ring.data(), (uint32_t)ring.size() / 3, line[3 * k - 3], line[3 * k - 2]);
        crossings.push_back(changes);
        req.push_back("{\"op\":\"cutlength\",\"line\":" + dr_json(line) + ",\"ring\":" + dr_json(ring) + "}");
    }
    std::vector<double> ref = dr_shapely(req);
    ASSERT_EQ(ref.size(), mine.size()) << "/usr/bin/python3 tests/geom/shapely_reference.py failed (needs python3-shapely)";
    // One pixel per crossing; a piece of only its two crossings (one step
    // of the line, at most 2.2 long) is left out by design.
    const double pixel = 0.5;
    for (size_t i = 0; i < ref.size(); i++)
        EXPECT_NEAR(mine[i], ref[i], (pixel + 2.2) * crossings[i] + pixel) << i;
}

namespace {
// Distance from (x, y) to the nearest segment of ring, worked out here.
double dr_ringdistance(const pts &ring, double x, double y)
{
    double best = 1e30;
    for (size_t j = 3; j < ring.size(); j += 3) {
        const double ax = ring[j - 3], ay = ring[j - 2], bx = ring[j], by = ring[j + 1];
        const double vx = bx - ax, vy = by - ay, l2 = vx * vx + vy * vy;
        const double t = l2 > 0 ? std::clamp(((x - ax) * vx + (y - ay) * vy) / l2, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(ax + t * vx - x, ay + t * vy - y));
    }
    return best;
}
} // namespace

// An outline with holes in a row: every bridge lies in the outline minus its
// holes (shapely), and both of its ends lie on rings of the source.
TEST(Drape, BridgesStayInsideTheRegionAndEndOnRings)
{
    std::mt19937 rng(31);
    std::vector<std::string> req;
    for (int round = 0; round < 4; round++) {
        cont_ptr src(cont_new());
        pts outline = dr_star(rng, 0, 0, 40, true, 48);
        // Radii 16..40: holes of radius 2.5 at most 12 from the centre fit.
        std::vector<pts> rings = {outline};
        for (int k = 0; k < 4; k++)
            rings.push_back(dr_star(rng, -9.0f + 6.0f * k, 0, 2.5f, false, 12));
        for (const pts &r : rings)
            ASSERT_EQ(cont_addpoly(src.get(), r.data(), (uint32_t)r.size() / 3, 1, -1, "test"), 1);
        cont_ptr bridges(con_bridgepolys(src.get()));
        ASSERT_NE(bridges, nullptr);
        EXPECT_GE(bridges->numpolys, 4u) << "every hole is joined to something";
        std::string holes = "[";
        for (size_t k = 1; k < rings.size(); k++)
            holes += (k > 1 ? "," : "") + dr_json(rings[k]);
        holes += "]";
        for (uint32_t i = 0; i < bridges->numpolys; i++) {
            pts b = dr_poly(bridges.get(), i);
            ASSERT_EQ(b.size(), 6u);
            EXPECT_FALSE(bridges->closed[i]);
            for (int e = 0; e < 2; e++) {
                double d = 1e30;
                for (const pts &r : rings)
                    d = std::min(d, dr_ringdistance(r, b[3 * e], b[3 * e + 1]));
                EXPECT_LT(d, 1e-4) << "round " << round << " bridge " << i << " end " << e;
            }
            req.push_back("{\"op\":\"bridge\",\"ring\":" + dr_json(outline) + ",\"holes\":" + holes +
                          ",\"line\":" + dr_json(b) + "}");
        }
    }
    std::vector<double> ref = dr_shapely(req);
    ASSERT_EQ(ref.size(), req.size()) << "/usr/bin/python3 tests/geom/shapely_reference.py failed (needs python3-shapely)";
    for (size_t i = 0; i < ref.size(); i++)
        EXPECT_EQ(ref[i], 1) << "bridge " << i << " leaves the region";
}

// A star filled by coverage and traced at one half: the outline keeps the
// polygon's area to within half a pixel along its perimeter and stays within
// a pixel of it (shapely's area and Hausdorff distance). Radii stay above 0.6
// of the largest and corners spread round the centre, so that no corner is
// much sharper than a pixel resolves.
TEST(Drape, TracedFilledPolygonsAgreeWithShapely)
{
    constexpr int w = 128, h = 96;
    const float size[3] = {64, 48, 1}, origin[3] = {-32, -24, 0};
    const double pixel = 0.5;
    std::mt19937 rng(404);
    std::uniform_real_distribution<float> centre(-6, 6), jitter(-1, 1), radius(0.6f, 1.0f);
    std::vector<std::string> req;
    std::vector<double> perimeters;
    for (int round = 0; round < 8; round++) {
        // Ten corners at jittered even angles, radii 0.6 .. 1 of 18.
        pts ring;
        const float cx = centre(rng), cy = centre(rng) * 0.5f;
        for (int k = 0; k < 10; k++) {
            const float a = (k + 0.5f * jitter(rng)) * 2 * (float)M_PI / 10 * (round % 2 ? 1 : -1);
            const float r = 18 * radius(rng);
            ring.insert(ring.end(), {cx + r * std::cos(a), cy + r * std::sin(a), 0});
        }
        ring.insert(ring.end(), ring.begin(), ring.begin() + 3);
        img_ptr f = dr_field(w, h, 0);
        ASSERT_EQ(img_scalarfillpoly(f.get(), size, origin, (int)ring.size() / 3, ring.data(), 8, nullptr), 0);
        cont_ptr out(cont_fromimage(f.get(), 0.5f, size, origin, 2.0f, 0, 1e9f, 0));
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(out->numpolys, 1u) << "round " << round;
        EXPECT_TRUE(out->closed[0]);
        double perimeter = 0;
        for (size_t k = 3; k < ring.size(); k += 3)
            perimeter += std::hypot(ring[k] - ring[k - 3], ring[k + 1] - ring[k - 2]);
        perimeters.push_back(perimeter);
        req.push_back("{\"op\":\"area\",\"ring\":" + dr_json(ring) + "}");
        req.push_back("{\"op\":\"compare\",\"ring\":" + dr_json(ring) + ",\"other\":" + dr_json(dr_poly(out.get(), 0)) +
                      "}");
    }
    std::vector<double> ref = dr_shapely(req);
    ASSERT_EQ(ref.size(), 3 * perimeters.size())
        << "/usr/bin/python3 tests/geom/shapely_reference.py failed (needs python3-shapely)";
    for (size_t i = 0; i < perimeters.size(); i++) {
        const double area = std::fabs(ref[3 * i]), traced = ref[3 * i + 1], hausdorff = ref[3 * i + 2];
        EXPECT_NEAR(traced, area, 0.5 * pixel * perimeters[i]) << "round " << i;
        EXPECT_LT(hausdorff, pixel) << "round " << i;
    }
}
