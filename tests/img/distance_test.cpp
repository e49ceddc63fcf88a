// Distance fields to polygons: a square against the exact Euclidean
// distance on both search paths, the cell grid, a field without segments,
// the fold of a second polyline with its heights and directions, and random
// polygons against scipy's exact Euclidean distance transform.
#include "img/distance.h"

#include "imgfixture.h"
#include "sys/config.h"
#include "sys/thread.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

class Distance : public ImgTest<4> {
protected:
    image *field(int w, int h, float value)
    {
        std::vector<float> v((size_t)w * h, value);
        return keep(img_alloc("dist", w, h, 4, v.data()));
    }
};

// A world rectangle and its pixel scale.
struct dt_world {
    float size[3], origin[3];
    int w, h;
    float kx() const { return w / size[0]; }
    float ky() const { return h / size[1]; }
    // A point given in pixel units, in world units.
    std::vector<float> world(float px, float py, float z = 0) const
    {
        return {origin[0] + px / kx(), origin[1] + py / ky(), z};
    }
};

// Closed polyline through pixel-unit corners, first point repeated.
static std::vector<float> dt_polyline(const dt_world &wd, const std::vector<std::array<float, 2>> &corners)
{
    std::vector<float> pts;
    for (size_t i = 0; i <= corners.size(); i++) {
        auto p = wd.world(corners[i % corners.size()][0], corners[i % corners.size()][1]);
        pts.insert(pts.end(), p.begin(), p.end());
    }
    return pts;
}

static double dt_segdist(double px, double py, double ax, double ay, double bx, double by)
{
    double dx = bx - ax, dy = by - ay, dd = dx * dx + dy * dy;
    double t = dd > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / dd, 0.0, 1.0) : 0.0;
    return std::hypot(ax + t * dx - px, ay + t * dy - py);
}

// Exact distance in pixels from (px, py) to a polyline given in pixel units.
static double dt_polydist(double px, double py, const std::vector<std::array<float, 2>> &corners)
{
    double best = 1e30;
    for (size_t i = 0; i < corners.size(); i++) {
        const auto &a = corners[i], &b = corners[(i + 1) % corners.size()];
        best = std::min(best, dt_segdist(px, py, a[0], a[1], b[0], b[1]));
    }
    return best;
}

static bool dt_inside(double px, double py, const std::vector<std::array<float, 2>> &corners)
{
    bool in = false;
    for (size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
        double xi = corners[i][0], yi = corners[i][1], xj = corners[j][0], yj = corners[j][1];
        if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi)
            in = !in;
    }
    return in;
}

TEST_F(Distance, SquareAgainstTheExactDistance)
{
    using corners = std::vector<std::array<float, 2>>;
    const corners square = {{10, 10}, {30, 10}, {30, 30}, {10, 30}};
    const corners reversed = {{10, 10}, {10, 30}, {30, 30}, {30, 10}};
    const corners doubled = {{10, 10}, {30, 10}, {30, 10}, {30, 30}, {10, 30}}; // a zero-length segment
    struct Case {
        const char *what;
        int gridded, wholefield; // whole field: every pixel in the mask, inside and outside
        dt_world world;
        corners poly;
        float scale, outside;
    };
    const Case cases[] = {
        {"lines inside", 0, 0, {{20, 40, 0}, {-5, 3, 0}, 40, 40}, square, 1, -1},
        {"lines inside, reversed", 0, 0, {{20, 40, 0}, {-5, 3, 0}, 40, 40}, reversed, 0.5f, -2},
        {"grid inside and outside", 1, 1, {{20, 40, 0}, {-5, 3, 0}, 40, 40}, square, 1, -1},
        {"grid on a wide field", 1, 1, {{64, 48, 0}, {0, 0, 0}, 64, 48}, reversed, 2, -1},
        {"grid with a zero-length segment", 1, 1, {{40, 40, 0}, {0, 0, 0}, 40, 40}, doubled, 1, -1},
        // More bands than rows, and every segment off the field.
        {"grid with the square off a short field", 1, 1, {{40, 2, 0}, {0, 0, 0}, 40, 2}, square, 1, -1},
        {"grid with the square half off the field", 1, 1, {{40, 20, 0}, {0, 0, 0}, 40, 20}, square, 1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const dt_world &wd = c.world;
        image *f = field(wd.w, wd.h, 0);
        for (int y = 0; y < wd.h; y++)
            for (int x = 0; x < wd.w; x++)
                ((float *)f->pixels)[(size_t)y * wd.w + x] =
                    c.wholefield || dt_inside(x + 0.5, y + 0.5, c.poly) ? 1.0f : 0.0f;
        std::vector<float> pts = dt_polyline(wd, c.poly);
        const int32_t counts[1] = {(int32_t)(pts.size() / 3)};
        testlog_capture cap;
        ASSERT_EQ(img_scalarmaskeddistpolys(f, c.outside, c.scale, wd.size, wd.origin, 1, counts, pts.data(),
                                            c.gridded),
                  0);
        EXPECT_EQ(cap.contains("!!! zero length segment: poly[0].vert[1/6]"), c.poly == doubled);
        for (int y = 0; y < wd.h; y++) {
            for (int x = 0; x < wd.w; x++) {
                bool in = c.wholefield || dt_inside(x + 0.5, y + 0.5, c.poly);
                float expect = in ? c.scale * (float)dt_polydist(x + 0.5, y + 0.5, c.poly) : c.outside;
                ASSERT_NEAR(imgfixture_at(f, x, y), expect, 1e-4f) << x << "," << y;
            }
        }
    }
}

TEST_F(Distance, GridCellsAreSquarestThenRefined)
{
    struct Case {
        int w, h, points;
        const char *squarest, *cells;
    };
    const Case cases[] = {
        {40, 40, 0, "...squarest cells = 1x1", "(cells:1x1=1 "},
        {4, 2, 0, "...squarest cells = 2x1", "(cells:2x1=2 "},
        {40, 40, 5, "...squarest cells = 1x1", "(cells:5x5=25 "},
        {30, 20, 5, "...squarest cells = 3x2", "(cells:6x4=24 "},
    };
    const int saved = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 1);
    for (const Case &c : cases) {
        image *f = field(c.w, c.h, 1);
        const dt_world wd = {{(float)c.w, (float)c.h, 0}, {0, 0, 0}, c.w, c.h};
        std::vector<float> pts = dt_polyline(wd, {{1, 1}, {3, 1}, {3, 1.5f}, {1, 1.5f}});
        const int32_t counts[1] = {c.points};
        testlog_capture cap;
        ASSERT_EQ(img_scalarmaskeddistpolys(f, 0, 1, wd.size, wd.origin, 1, counts, pts.data(), 1), 0);
        EXPECT_TRUE(cap.contains(c.squarest)) << c.w << "x" << c.h;
        EXPECT_TRUE(cap.contains(c.cells)) << c.w << "x" << c.h;
    }
    cfg_seti(cfg_debuginfo, saved);
}

TEST_F(Distance, NoSegmentsGiveTheFarValueOrKeepThePixel)
{
    const dt_world wd = {{10, 10, 0}, {0, 0, 0}, 10, 10};
    for (int gridded = 0; gridded < 2; gridded++) {
        image *f = field(10, 10, 0.25f);
        ((float *)f->pixels)[0] = 0;
        ASSERT_EQ(img_scalarmaskeddistpolys(f, -3, 2, wd.size, wd.origin, 0, nullptr, nullptr, gridded), 0);
        float keep = gridded ? 2 * std::sqrt(img_distfar) : 0.25f;
        EXPECT_EQ(imgfixture_at(f, 0, 0), -3);
        EXPECT_FLOAT_EQ(imgfixture_at(f, 5, 5), keep) << "gridded " << gridded;
    }
}

TEST_F(Distance, GridFindsSegmentsOffTheField)
{
    // Every segment lies beyond the field's corner: all of them are indexed
    // in the border cells nearest to them.
    const dt_world wd = {{10, 10, 0}, {0, 0, 0}, 10, 10};
    const std::vector<std::array<float, 2>> away = {{50, 50}, {60, 50}, {60, 60}, {-40, 12}};
    std::vector<float> pts = dt_polyline(wd, away);
    const int32_t counts[1] = {5};
    image *f = field(10, 10, 1);
    ASSERT_EQ(img_scalarmaskeddistpolys(f, -3, 1, wd.size, wd.origin, 1, counts, pts.data(), 1), 0);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 10; x++)
            ASSERT_NEAR(imgfixture_at(f, x, y), dt_polydist(x + 0.5, y + 0.5, away), 1e-3) << x << "," << y;
}

TEST_F(Distance, MaskedRefusesBadArguments)
{
    image *f = field(4, 4, 1);
    const float size[3] = {4, 4, 0}, flat[3] = {4, 0, 0}, origin[3] = {0, 0, 0};
    const float pts[6] = {0, 0, 0, 1, 1, 0}, bad[6] = {0, 0, 0, NAN, 1, 0};
    const int32_t counts[1] = {2}, negative[1] = {-2};
    testlog_capture cap;
    EXPECT_EQ(img_scalarmaskeddistpolys(f, 0, 1, flat, origin, 1, counts, pts, 1), -1);
    EXPECT_EQ(img_scalarmaskeddistpolys(f, 0, 1, size, origin, 1, counts, bad, 1), -1);
    EXPECT_EQ(img_scalarmaskeddistpolys(f, 0, 1, size, origin, 1, negative, pts, 1), -1);
    EXPECT_EQ(img_scalarmaskeddistpolys(nullptr, 0, 1, size, origin, 1, counts, pts, 1), -1);
    EXPECT_TRUE(cap.contains("img_scalarmaskeddistpolys: bad world rectangle"));
    EXPECT_TRUE(cap.contains("img_scalarmaskeddistpolys: point 1 is not finite"));
    EXPECT_TRUE(cap.contains("img_scalarmaskeddistpolys: polyline 0 has -2 points"));
    EXPECT_EQ(imgfixture_at(f, 2, 2), 1); // untouched
}

// Distance, height and direction fields of one size.
struct dt_polyfields {
    image *dist, *height, *dir;
    float d(int x, int y) const { return imgfixture_at(dist, x, y); }
    float z(int x, int y) const { return imgfixture_at(height, x, y); }
    const int16_t *v(int x, int y) const { return (const int16_t *)dir->pixels + 2 * ((size_t)y * dir->width + x); }
};

TEST_F(Distance, SecondPolylineChangesOnlyNearerPixels)
{
    const int w = 30, h = 20;
    const dt_world wd = {{15, 20, 0}, {1, -2, 0}, w, h}; // kx 2, ky 1
    dt_polyfields f = {field(w, h, 1e9f), field(w, h, -1), nullptr};
    images.push_back(f.dir = img_alloc("dir", w, h, 4));
    // A horizontal line at pixel row 5 (height 1), then a vertical one at
    // pixel column 25 rising from 0 to 4 between rows 2 and 18.
    std::vector<float> first, second;
    for (auto p : {wd.world(2, 5, 1), wd.world(28, 5, 1)})
        first.insert(first.end(), p.begin(), p.end());
    for (auto p : {wd.world(25, 2, 0), wd.world(25, 18, 4)})
        second.insert(second.end(), p.begin(), p.end());
    ASSERT_EQ(img_scalardistpoly(f.dist, f.height, f.dir, 1, wd.size, wd.origin, 2, first.data()), 0);
    std::vector<float> before((float *)f.dist->pixels, (float *)f.dist->pixels + w * h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            ASSERT_NEAR(f.d(x, y), dt_segdist(x + 0.5, y + 0.5, 2, 5, 28, 5), 1e-4);
            ASSERT_NEAR(f.z(x, y), 1, 1e-6);
            ASSERT_EQ(f.v(x, y)[0], 32767);
            ASSERT_EQ(f.v(x, y)[1], 0);
        }
    }
    ASSERT_EQ(img_scalardistpoly(f.dist, f.height, f.dir, 1, wd.size, wd.origin, 2, second.data()), 0);
    int changed = 0;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            double d2 = dt_segdist(x + 0.5, y + 0.5, 25, 2, 25, 18);
            if (d2 < before[(size_t)y * w + x] - 1e-4) {
                changed++;
                ASSERT_NEAR(f.d(x, y), d2, 1e-4) << x << "," << y;
                ASSERT_NEAR(f.z(x, y), 4 * (y + 0.5 - 2) / 16, 1e-4) << x << "," << y; // past the ends too
                ASSERT_EQ(f.v(x, y)[0], 0);
                ASSERT_EQ(f.v(x, y)[1], 32767);
            } else if (d2 > before[(size_t)y * w + x] + 1e-4) {
                ASSERT_EQ(f.d(x, y), before[(size_t)y * w + x]) << x << "," << y;
                ASSERT_NEAR(f.z(x, y), 1, 1e-6);
                ASSERT_EQ(f.v(x, y)[0], 32767);
            }
        }
    }
    EXPECT_GT(changed, 100);
}

TEST_F(Distance, SinglePolylineEdgeCases)
{
    const dt_world wd = {{10, 10, 0}, {0, 0, 0}, 10, 10};
    // One point: the distance to it and its height, scaled.
    dt_polyfields p = {field(10, 10, 1e9f), field(10, 10, 0), nullptr};
    const float point[3] = {4.5f, 2.5f, 7};
    ASSERT_EQ(img_scalardistpoly(p.dist, p.height, nullptr, 3, wd.size, wd.origin, 1, point), 0);
    EXPECT_FLOAT_EQ(p.d(4, 2), 0);
    EXPECT_FLOAT_EQ(p.d(7, 6), 15);
    EXPECT_EQ(p.z(7, 6), 7);
    // Out and back: past the turn both segments are equally near, the first
    // wins, and its blended direction cancels out to (0, 0).
    dt_polyfields b = {field(10, 10, 1e9f), nullptr, nullptr};
    images.push_back(b.dir = img_alloc("dir", 10, 10, 4));
    const float back[9] = {1.5f, 5.5f, 0, 6.5f, 5.5f, 0, 1.5f, 5.5f, 0};
    ASSERT_EQ(img_scalardistpoly(b.dist, nullptr, b.dir, 1, wd.size, wd.origin, 3, back), 0);
    EXPECT_FLOAT_EQ(b.d(9, 5), 3);
    EXPECT_EQ(b.v(9, 5)[0], 0);
    EXPECT_EQ(b.v(9, 5)[1], 0);
    EXPECT_EQ(b.v(4, 5)[0], 32767);
    // A segment too short to use changes nothing.
    dt_polyfields s = {field(10, 10, 5), nullptr, nullptr};
    const float dot[6] = {3, 3, 0, 3.001f, 3, 0};
    ASSERT_EQ(img_scalardistpoly(s.dist, nullptr, nullptr, 1, wd.size, wd.origin, 2, dot), 0);
    EXPECT_EQ(s.d(3, 3), 5);
    testlog_capture cap;
    EXPECT_EQ(img_scalardistpoly(s.dist, p.dist, b.dir, 1, wd.size, wd.origin, 2, dot), 0);
    image *small = field(5, 10, 0);
    EXPECT_EQ(img_scalardistpoly(s.dist, small, nullptr, 1, wd.size, wd.origin, 2, dot), -1);
    EXPECT_TRUE(cap.contains("img_scalardistpoly: height field 5x10 does not match 10x10"));
}

// ---------------------------------------------------------------- scipy

// Runs the scipy reference on a mask, for at most two minutes; the distances,
// or empty on failure.
static std::vector<float> dt_scipy(int w, int h, const std::vector<uint8_t> &mask)
{
    const std::string in = testtemp_file("mask"), out = testtemp_file("edt");
    {
        std::ofstream f(in, std::ios::binary);
        const int32_t size[2] = {w, h};
        f.write((const char *)size, sizeof(size));
        f.write((const char *)mask.data(), (std::streamsize)mask.size());
    }
    std::string script = KERFMILL_TESTS_DIR "/img/edt_reference.py";
    // Debian's interpreter, the one python3-scipy installs for.
    std::vector<float> result;
    if (testchild_run({"/usr/bin/python3", script, in, out}, 120) == 0) {
        result.resize((size_t)w * h);
        std::ifstream f(out, std::ios::binary);
        f.read((char *)result.data(), (std::streamsize)(result.size() * 4));
        if (!f)
            result.clear();
    }
    remove(in.c_str());
    remove(out.c_str());
    return result;
}

// A polygon around the field's middle, in pixel units: star-shaped (radii
// vary) or convex (an ellipse's points).
static std::vector<std::array<float, 2>> dt_randompolygon(std::mt19937 &rng, bool convex, float cx, float cy,
                                                          float rx, float ry)
{
    std::uniform_real_distribution<float> angle(0, 2 * (float)M_PI), radius(0.35f, 1.0f);
    std::uniform_int_distribution<int> count(5, 40);
    std::vector<float> angles(count(rng));
    for (float &a : angles)
        a = angle(rng);
    std::sort(angles.begin(), angles.end());
    std::vector<std::array<float, 2>> poly;
    for (float a : angles) {
        float r = convex ? 1.0f : radius(rng);
        poly.push_back({cx + rx * r * std::cos(a), cy + ry * r * std::sin(a)});
    }
    return poly;
}

TEST_F(Distance, RandomPolygonsAgreeWithScipy)
{
    constexpr int w = 160, h = 120, k = 5; // the reference mask is k times finer
    const dt_world wd = {{80, 60, 0}, {-40, -30, 0}, w, h};
    std::mt19937 rng(2024);
    for (int round = 0; round < 8; round++) {
        bool convex = round % 2 == 1; // the line search is exact only inside convex polygons
        int gridded = convex ? round % 4 == 1 : 1;
        auto poly = dt_randompolygon(rng, convex, 80, 60, 70, 52);
        SCOPED_TRACE("round " + std::to_string(round) + (gridded ? " grid" : " lines"));
        std::vector<uint8_t> fine((size_t)w * k * h * k);
        for (int y = 0; y < h * k; y++)
            for (int x = 0; x < w * k; x++)
                fine[(size_t)y * w * k + x] = dt_inside((x + 0.5) / k, (y + 0.5) / k, poly);
        std::vector<float> edt = dt_scipy(w * k, h * k, fine);
        ASSERT_FALSE(edt.empty()) << "/usr/bin/python3 tests/img/edt_reference.py failed (needs python3-scipy)";
        image *f = field(w, h, 0);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                ((float *)f->pixels)[(size_t)y * w + x] = fine[(size_t)(k * y + k / 2) * w * k + k * x + k / 2];
        std::vector<float> pts = dt_polyline(wd, poly);
        const int32_t counts[1] = {(int32_t)(pts.size() / 3)};
        ASSERT_EQ(img_scalarmaskeddistpolys(f, -1, 1, wd.size, wd.origin, 1, counts, pts.data(), gridded), 0);
        double worst = 0, total = 0;
        int inside = 0;
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                float ref = edt[(size_t)(k * y + k / 2) * w * k + k * x + k / 2] / k;
                if (ref == 0) {
                    ASSERT_EQ(imgfixture_at(f, x, y), -1);
                    continue;
                }
                double diff = std::fabs(imgfixture_at(f, x, y) - ref);
                worst = std::max(worst, diff);
                total += diff;
                inside++;
            }
        }
        ASSERT_GT(inside, 1000);
        EXPECT_LE(worst, 0.5);
        EXPECT_LT(total / inside, 0.15);
    }
}
