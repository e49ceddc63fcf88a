// Medial axis: circles traced both ways against the radius cap, short
// polylines skipped, refused radii and points that are not finite, a full
// spatial cell; then random stars, a ring with a hole and traced block
// letters, whose every axis point below the cap must sit at shapely's
// distance to the outline (tests/geom/shapely_reference.py).
#include "geom/medial.h"

#include "geom/contour.h"
#include "img/image.h"
#include "testchild.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

namespace {
struct cont_deleter {
    void operator()(contour *c) const { cont_free(c); }
};
using cont_ptr = std::unique_ptr<contour, cont_deleter>;
using pts = std::vector<float>;

// A circle of n points about (cx, cy), clockwise (y up: positive area) when
// cw; the first point repeats.
pts ma_circle(float cx, float cy, float r, int n, bool cw)
{
    pts p;
    for (int i = 0; i <= n; i++) {
        float a = 2 * (float)M_PI * (i % n) / n * (cw ? -1 : 1);
        p.insert(p.end(), {cx + r * std::cos(a), cy + r * std::sin(a), 0});
    }
    return p;
}

pts ma_star(std::mt19937 &rng, float cx, float cy, float r)
{
    std::uniform_real_distribution<float> radius(0.5f, 1.0f);
    const int n = 9;
    pts p;
    for (int i = 0; i <= n; i++) {
        float a = -2 * (float)M_PI * (i % n) / n, q = r * radius(rng);
        if (i == n)
            p.insert(p.end(), p.begin(), p.begin() + 3);
        else
            p.insert(p.end(), {cx + q * std::cos(a), cy + q * std::sin(a), 0});
    }
    return p;
}

cont_ptr ma_contour(const std::vector<pts> &polys, bool closed = true)
{
    cont_ptr c(cont_new());
    for (const pts &p : polys)
        EXPECT_EQ(cont_addpoly(c.get(), p.data(), (uint32_t)(p.size() / 3), closed, -1, "test"), 1);
    return c;
}

// shapely's distance from each point to the nearest polyline of c; empty
// when the reference fails.
std::vector<double> ma_shapely(const contour *c, const std::vector<std::array<float, 2>> &points)
{
    std::ostringstream f;
    {
        f.precision(9);
        f << "[{\"op\":\"outline\",\"rings\":[";
        size_t first = 0;
        for (uint32_t p = 0; p < c->numpolys; p++) {
            f << (p ? "," : "") << "[";
            for (uint32_t i = 0; i < c->vertcount[p]; i++)
                f << (i ? "," : "") << "[" << c->verts[3 * (first + i)] << "," << c->verts[3 * (first + i) + 1]
                  << "]";
            f << "]";
            first += c->vertcount[p];
        }
        f << "],\"points\":[";
        for (size_t i = 0; i < points.size(); i++)
            f << (i ? "," : "") << "[" << points[i][0] << "," << points[i][1] << "]";
        f << "]}]";
    }
    return testchild_asknumbers("geom/shapely_reference.py", f.str());
}
} // namespace

// A circle of radius 1: inward (clockwise) the axis gathers at the centre
// at depth 1 when the cap allows, else runs at the cap inside; outward it
// meets nothing and runs at the cap outside.
TEST(MedialAxis, CircleAgainstTheCap)
{
    struct Case {
        bool cw;
        float maxrad;
        float dist;  // from the centre
        float depth;
    };
    const Case cases[] = {{true, 2.0f, 0.0f, 1.0f}, {true, 0.3f, 0.7f, 0.3f}, {false, 0.3f, 1.3f, 0.3f}};
    for (const Case &k : cases) {
        cont_ptr c = ma_contour({ma_circle(5, 5, 1, 200, k.cw)});
        cont_ptr axis(con_medialaxis(c.get(), k.maxrad, 2.0f, 0.0f, 1e9f));
        ASSERT_NE(axis, nullptr);
        ASSERT_EQ(axis->numpolys, 1u);
        EXPECT_EQ(axis->link[0], 0);
        EXPECT_TRUE(axis->closed[0]);
        for (uint32_t i = 0; i < axis->vertcount[0]; i++) {
            const float *v = axis->verts + 3 * i;
            EXPECT_NEAR(std::hypot(v[0] - 5, v[1] - 5), k.dist, 0.01f) << k.cw << " " << k.maxrad << " at " << i;
            EXPECT_NEAR(v[2], k.depth, 0.01f);
        }
    }
}

// Polylines of 4 points or fewer are skipped; unusable radii and points that
// are not finite give nothing instead of an endless loop or walk.
TEST(MedialAxis, RefusedInput)
{
    const pts four = {0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0};
    cont_ptr c = ma_contour({four, ma_circle(5, 5, 1, 50, true)});
    struct Case {
        float maxrad;
        uint32_t polys;
        const char *line;
    };
    const Case cases[] = {{1.0f, 1, "skipped poly[0].verts[4]"},
                          {0.0f, 0, "must be above 0"},
                          {-1.0f, 0, "must be above 0"},
                          {NAN, 0, "must be above 0"},
                          {INFINITY, 0, "must be above 0"}};
    for (const Case &k : cases) {
        testlog_capture log;
        cont_ptr axis(con_medialaxis(c.get(), k.maxrad, 2.0f, 0.0f, 1e9f));
        ASSERT_NE(axis, nullptr);
        EXPECT_EQ(axis->numpolys, k.polys) << k.maxrad;
        EXPECT_TRUE(log.contains(k.line)) << k.maxrad << log.text();
    }
    pts bad = ma_circle(5, 5, 1, 50, true);
    bad[30] = NAN;
    cont_ptr d = ma_contour({bad, ma_circle(5, 5, 2, 50, true)});
    testlog_capture log;
    cont_ptr axis(con_medialaxis(d.get(), 1.0f, 2.0f, 0.0f, 1e9f));
    ASSERT_EQ(axis->numpolys, 1u);
    EXPECT_EQ(axis->link[0], 1);
    EXPECT_TRUE(log.contains("not finite")) << log.text();
}

// More segments in one cell than it holds: the error line, and the axis is
// still made from the rest. The crowd is of short polylines, which are
// registered but not walked.
TEST(MedialAxis, FullCellDropsTheRest)
{
    std::vector<pts> polys;
    for (int i = 0; i < 2800; i++) {
        const float x = 4 + (i % 50) * 0.01f, y = 4 + (i / 50) * 0.01f;
        polys.push_back({x, y, 0, x + 0.005f, y, 0, x, y + 0.005f, 0, x, y, 0});
    }
    polys.push_back(ma_circle(5, 5, 1, 60, true));
    cont_ptr c = ma_contour(polys);
    testlog_capture log;
    cont_ptr axis(con_medialaxis(c.get(), 1.0f, 2.0f, 0.0f, 1e9f));
    ASSERT_NE(axis, nullptr);
    EXPECT_EQ(axis->numpolys, 1u);
    EXPECT_TRUE(log.contains("con_addsegtocells: cell[0][0] overflow on polyline:2730 vertseg:10922"));
}

// Every axis point below the cap lies at its depth from the outline.
TEST(MedialAxis, DepthIsTheDistanceToTheOutline)
{
    std::mt19937 rng(36);
    std::vector<std::pair<const char *, std::vector<pts>>> shapes = {
        {"stars", {ma_star(rng, 3, 3, 2.5f), ma_star(rng, 9, 3, 2), ma_star(rng, 5, 9, 3)}},
        {"ring with a hole", {ma_circle(5, 5, 4, 120, true), ma_circle(5, 5, 1.5f, 60, false)}},
    };
    // Block letters "T" and "O" painted into a field and traced.
    {
        const int w = 64, h = 40;
        image *f = img_allocfloat("letters", w, h);
        float *p = (float *)f->pixels;
        auto box = [&](int x0, int y0, int x1, int y1, float v) {
            for (int y = y0; y < y1; y++)
                for (int x = x0; x < x1; x++)
                    p[y * w + x] = v;
        };
        box(4, 6, 28, 13, 1), box(13, 13, 20, 34, 1);   // T
        box(34, 6, 60, 34, 1), box(41, 13, 53, 27, 0);  // O
        const float scale[3] = {(float)w / 4, (float)h / 4, 1}, offset[3] = {0, 0, 0};
        contour *t = cont_fromimage(f, 0.5f, scale, offset, 2.0f, 0.0f, 1e9f, 0);
        img_free(f);
        std::vector<pts> polys;
        size_t first = 0;
        for (uint32_t i = 0; i < t->numpolys; i++) {
            polys.emplace_back(t->verts + 3 * first, t->verts + 3 * (first + t->vertcount[i]));
            for (size_t k = 2; k < polys.back().size(); k += 3)
                polys.back()[k] = 0; // the trace's height; depths then start at 0
            first += t->vertcount[i];
        }
        cont_free(t);
        shapes.push_back({"traced letters", polys});
    }
    const float maxrad = 1.5f;
    for (const auto &[what, polys] : shapes) {
        SCOPED_TRACE(what);
        cont_ptr c = ma_contour(polys);
        cont_ptr axis(con_medialaxis(c.get(), maxrad, 2.0f, 0.0f, 1e9f));
        ASSERT_NE(axis, nullptr);
        ASSERT_GT(axis->numpolys, 0u);
        std::vector<std::array<float, 2>> points;
        std::vector<float> depths;
        for (uint32_t i = 0; i < axis->numverts; i++)
            if (axis->verts[3 * i + 2] < maxrad * 0.999f) {
                points.push_back({axis->verts[3 * i], axis->verts[3 * i + 1]});
                depths.push_back(axis->verts[3 * i + 2]);
            }
        ASSERT_GT(points.size(), 20u);
        std::vector<double> d = ma_shapely(c.get(), points);
        ASSERT_EQ(d.size(), points.size()) << "/usr/bin/python3 with python3-shapely is needed";
        for (size_t i = 0; i < d.size(); i++)
            EXPECT_NEAR(depths[i], d[i], 0.02) << points[i][0] << "," << points[i][1];
    }
}
