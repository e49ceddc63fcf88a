// Iso-level contouring: the one-pixel ring and its orientation, crossings on
// pixel centres, open lines at the borders, empty results, saddles, random
// fields checked against crossings found independently (closed or open as
// they must be, never crossing each other), the smoothing pull, the world
// transform and the contour's limits.
#include "img/contour.h"

#include "sys/config.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ct_point {
    float x, y, z;
};

using ct_polyline = std::vector<ct_point>;

const float ct_unit[3] = {1.0f, 1.0f, 1.0f};
const float ct_zero[3] = {0.0f, 0.0f, 0.0f};

// Keeps every traced point: no turn is straight enough to drop.
constexpr float ct_keepall = 2.0f;

struct ct_result {
    std::vector<ct_polyline> lines;
    std::vector<bool> closed;
};

class Contour : public testing::Test {
protected:
    std::vector<image *> images;

    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
    }
    image *field(int w, int h, const std::vector<float> &values)
    {
        images.push_back(img_alloc("field", w, h, 4, values.data()));
        return images.back();
    }
    // Contours img and copies the polylines out, in pixel units unless a
    // transform is given.
    static ct_result trace(const image *img, float level, int passes = 0, const float *scale = nullptr,
                           const float *offset = ct_zero, float dotlimit = ct_keepall)
    {
        float pixels[3] = {(float)img->width, (float)img->height, 1.0f};
        contour *c = img_contour(img, level, scale ? scale : pixels, offset, dotlimit, 0.0f, 1e9f, passes);
        ct_result r;
        if (!c)
            return r;
        const float *v = c->verts;
        for (uint32_t i = 0; i < c->numpolys; i++) {
            ct_polyline line;
            for (uint32_t k = 0; k < c->vertcount[i]; k++, v += 3)
                line.push_back({v[0], v[1], v[2]});
            r.lines.push_back(line);
            r.closed.push_back(c->closed[i] != 0);
            EXPECT_EQ(c->link[i], -1);
        }
        cont_free(c);
        return r;
    }
};

// Shoelace sum with rows growing downward: positive counter-clockwise as the
// field is viewed.
float ct_area(const ct_polyline &p)
{
    float a = 0.0f;
    for (size_t i = 0; i + 1 < p.size(); i++)
        a += p[i].y * p[i + 1].x - p[i].x * p[i + 1].y;
    return 0.5f * a;
}

std::vector<float> ct_hotpixel(int w, int h, int x, int y)
{
    std::vector<float> v((size_t)w * h, 0.0f);
    v[(size_t)y * w + x] = 1.0f;
    return v;
}

// Proper intersection of segments ab and cd (touching ends do not count).
bool ct_cross(const ct_point &a, const ct_point &b, const ct_point &c, const ct_point &d)
{
    auto side = [](const ct_point &p, const ct_point &q, const ct_point &r) {
        double v = ((double)q.x - p.x) * ((double)r.y - p.y) - ((double)q.y - p.y) * ((double)r.x - p.x);
        return (v > 1e-12) - (v < -1e-12);
    };
    return side(a, b, c) * side(a, b, d) < 0 && side(c, d, a) * side(c, d, b) < 0;
}

bool ct_anycross(const std::vector<ct_polyline> &lines)
{
    std::vector<std::pair<ct_point, ct_point>> segs;
    for (const ct_polyline &l : lines)
        for (size_t i = 0; i + 1 < l.size(); i++)
            segs.push_back({l[i], l[i + 1]});
    for (size_t i = 0; i < segs.size(); i++)
        for (size_t j = i + 1; j < segs.size(); j++)
            if (ct_cross(segs[i].first, segs[i].second, segs[j].first, segs[j].second))
                return true;
    return false;
}

// Crossings consumed by all traces, from their "traced" debug lines: a
// closed trace repeats its first point.
size_t ct_consumed(const std::string &log)
{
    size_t total = 0;
    for (size_t at = log.find("traced cw:"); at != std::string::npos; at = log.find("traced cw:", at + 1)) {
        int forward = 0, backward = 0;
        char closed = 0;
        sscanf(log.c_str() + at, "traced cw:%d/ccw:%d closed:%c", &forward, &backward, &closed);
        total += (size_t)(forward + backward - (closed == 'Y'));
    }
    return total;
}

// Open lines may end only where the examined edges stop: on or beyond the
// centre lines of the first and the second-to-last row and column.
bool ct_openendsonborder(const ct_result &r, int w, int h)
{
    for (size_t i = 0; i < r.lines.size(); i++) {
        if (r.closed[i])
            continue;
        for (const ct_point &end : {r.lines[i].front(), r.lines[i].back()}) {
            if (!(end.x <= 0.5f || end.x >= w - 1.5f || end.y <= 0.5f || end.y >= h - 1.5f)) {
                ADD_FAILURE() << "open line ends inside at " << end.x << "," << end.y;
                return false;
            }
        }
    }
    return true;
}

} // namespace

TEST_F(Contour, OneHotPixelIsACounterClockwiseRingOfFivePoints)
{
    image *img = field(5, 5, ct_hotpixel(5, 5, 2, 2));
    ct_result r = trace(img, 0.5f, 0, ct_unit, ct_zero, 0.9975f);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_TRUE(r.closed[0]);
    // Top, left, bottom, right and back to the top, half-way between the
    // pixel's centre and its neighbours', in units of the image's size.
    const float want[5][2] = {{2.5f, 2.0f}, {2.0f, 2.5f}, {2.5f, 3.0f}, {3.0f, 2.5f}, {2.5f, 2.0f}};
    ASSERT_EQ(r.lines[0].size(), 5u);
    for (int i = 0; i < 5; i++) {
        EXPECT_FLOAT_EQ(r.lines[0][i].x, want[i][0] / 5.0f) << i;
        EXPECT_FLOAT_EQ(r.lines[0][i].y, want[i][1] / 5.0f) << i;
        EXPECT_EQ(r.lines[0][i].z, 0.5f) << i;
    }
    EXPECT_GT(ct_area(r.lines[0]), 0.0f);
}

// Regions above the level run counter-clockwise, regions below clockwise.
TEST_F(Contour, RingsRunWithTheHigherSideOnTheLeft)
{
    const int n = 12;
    std::vector<float> disc((size_t)n * n), hole((size_t)n * n);
    for (int y = 0; y < n; y++) {
        for (int x = 0; x < n; x++) {
            float d = std::hypot(x - 5.5f, y - 5.5f);
            disc[(size_t)y * n + x] = d < 3.0f ? 1.0f : 0.0f;
            hole[(size_t)y * n + x] = d < 3.0f ? 0.0f : 1.0f;
        }
    }
    struct Case {
        const char *what;
        std::vector<float> values;
        bool positive;
    };
    const Case cases[] = {{"disc above the level", disc, true}, {"hole below the level", hole, false}};
    for (const Case &c : cases) {
        ct_result r = trace(field(n, n, c.values), 0.5f);
        ASSERT_EQ(r.lines.size(), 1u) << c.what;
        EXPECT_TRUE(r.closed[0]) << c.what;
        EXPECT_EQ(ct_area(r.lines[0]) > 0.0f, c.positive) << c.what;
    }
}

// Border lines run between the centre lines of the first and the
// second-to-last row or column (the last row's and column's edges are not
// examined), each as one open polyline with the higher side on its left.
TEST_F(Contour, OpenLinesEndOnTheExaminedBorderAndLevelPixelsCountAsAbove)
{
    struct Case {
        const char *what;
        int w, h;
        std::vector<float> values;
        std::vector<std::pair<float, float>> want; // pixel units
    };
    const Case cases[] = {
        {"higher columns on the right: runs down through the level pixel's centre",
         4,
         3,
         {0.0f, 0.5f, 1.0f, 1.0f, 0.0f, 0.5f, 1.0f, 1.0f, 0.0f, 0.5f, 1.0f, 1.0f},
         {{1.5f, 0.5f}, {1.5f, 1.5f}}},
        {"higher rows below: runs right to left",
         3,
         4,
         {0.0f, 0.0f, 0.0f, 0.25f, 0.25f, 0.25f, 0.75f, 0.75f, 0.75f, 1.0f, 1.0f, 1.0f},
         {{1.5f, 2.0f}, {0.5f, 2.0f}}},
    };
    for (const Case &c : cases) {
        ct_result r = trace(field(c.w, c.h, c.values), 0.5f);
        ASSERT_EQ(r.lines.size(), 1u) << c.what;
        EXPECT_FALSE(r.closed[0]) << c.what;
        ASSERT_EQ(r.lines[0].size(), c.want.size()) << c.what;
        for (size_t i = 0; i < c.want.size(); i++) {
            EXPECT_FLOAT_EQ(r.lines[0][i].x, c.want[i].first) << c.what << " point " << i;
            EXPECT_FLOAT_EQ(r.lines[0][i].y, c.want[i].second) << c.what << " point " << i;
        }
    }
}

TEST_F(Contour, FieldsWithoutLinesGiveEmptyContours)
{
    struct Case {
        const char *what;
        int w, h;
        std::vector<float> values;
    };
    const Case cases[] = {
        {"all above", 3, 3, std::vector<float>(9, 1.0f)},
        {"all below", 3, 3, std::vector<float>(9, 0.0f)},
        {"lone pixel in the last column: one crossing", 3, 3, ct_hotpixel(3, 3, 2, 1)},
        {"one row", 4, 1, {0.0f, 1.0f, 0.0f, 1.0f}},
        {"one column", 1, 4, {0.0f, 1.0f, 0.0f, 1.0f}},
    };
    for (const Case &c : cases) {
        contour *out = img_contour(field(c.w, c.h, c.values), 0.5f, ct_unit, ct_zero, 0.99f, 0.0f, 1.0f, 0);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_EQ(out->numpolys, 0u) << c.what;
        EXPECT_EQ(out->numverts, 0u) << c.what;
        cont_free(out);
    }
    EXPECT_EQ(img_contour(nullptr, 0.5f, ct_unit, ct_zero, 0.99f, 0.0f, 1.0f, 0), nullptr);
}

// Two diagonal pixels on the same side of the level meet in a saddle cell;
// the lines through it never cross and never stop inside the field.
TEST_F(Contour, SaddlesGiveLinesThatDoNotCross)
{
    struct Case {
        const char *what;
        int w, h;
        std::vector<float> values;
    };
    const Case cases[] = {
        {"above pair on the main diagonal", 4, 4, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}},
        {"above pair on the other diagonal", 4, 4, {0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
        {"below pair in a high field", 4, 4, {1, 1, 1, 1, 1, 1, 0, 1, 1, 0, 1, 1, 1, 1, 1, 1}},
        // The first trace starts on the saddle cell's top edge and comes
        // back into that cell before it ends: it must go on through the
        // saddle, not close across it on its own start.
        {"saddle in the first trace's first cell", 5, 4, {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        ct_result r = trace(field(c.w, c.h, c.values), 0.5f);
        ASSERT_FALSE(r.lines.empty()) << c.what;
        EXPECT_FALSE(ct_anycross(r.lines)) << c.what;
        EXPECT_TRUE(ct_openendsonborder(r, c.w, c.h)) << c.what;
    }
}

// Crossings of a random field found independently: the traces consume all
// of them, every kept point is one of them and none is used twice; open
// lines end where the examined edges stop, closed ones repeat their first
// point; no two lines cross.
TEST_F(Contour, RandomFieldsAreTracedCompletelyAndNeverCross)
{
    const int w = 24, h = 20;
    const float level = 0.5f;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    for (int round = 0; round < 8; round++) {
        SCOPED_TRACE(round);
        std::vector<float> v((size_t)w * h);
        for (float &x : v)
            x = d(rng);
        std::set<std::pair<float, float>> crossings;
        for (int y = 0; y + 1 < h; y++) {
            for (int x = 0; x + 1 < w; x++) {
                float p = v[(size_t)y * w + x], right = v[(size_t)y * w + x + 1], down = v[(size_t)(y + 1) * w + x];
                if ((p >= level) != (right >= level))
                    crossings.insert({(float)(x + 0.5 + (p - level) / (p - right)), y + 0.5f});
                if ((p >= level) != (down >= level))
                    crossings.insert({x + 0.5f, (float)(y + 0.5 + (p - level) / (p - down))});
            }
        }
        cfg_seti(cfg_debuginfo, 1);
        testlog_capture log;
        ct_result r = trace(field(w, h, v), level);
        cfg_seti(cfg_debuginfo, 0);
        EXPECT_EQ(ct_consumed(log.text()), crossings.size());
        std::set<std::pair<float, float>> used;
        for (size_t i = 0; i < r.lines.size(); i++) {
            const ct_polyline &l = r.lines[i];
            bool ring = l.front().x == l.back().x && l.front().y == l.back().y;
            EXPECT_EQ(ring, (bool)r.closed[i]);
            for (size_t k = 0; k + (ring ? 1 : 0) < l.size(); k++) {
                std::pair<float, float> p = {l[k].x, l[k].y};
                bool found = false;
                for (const auto &q : crossings)
                    found |= std::fabs(q.first - p.first) < 1e-4f && std::fabs(q.second - p.second) < 1e-4f;
                EXPECT_TRUE(found) << p.first << "," << p.second;
                EXPECT_TRUE(used.insert(p).second) << "used twice: " << p.first << "," << p.second;
            }
        }
        EXPECT_TRUE(ct_openendsonborder(r, w, h));
        EXPECT_FALSE(ct_anycross(r.lines));
    }
}

TEST_F(Contour, TransformAndSmoothingPasses)
{
    const int n = 32;
    std::vector<float> v((size_t)n * n);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            v[(size_t)y * n + x] = 1.0f - std::hypot(x - 15.5f, y - 15.5f) / 10.0f;
    image *img = field(n, n, v);
    const float scale[3] = {2.0f, -3.0f, 4.0f}, offset[3] = {10.0f, 20.0f, 5.0f};
    ct_result plain = trace(img, 0.0f, 0, ct_unit, ct_zero);
    ct_result placed = trace(img, 0.0f, 0, scale, offset);
    ct_result smooth = trace(img, 0.0f, 1, ct_unit, ct_zero);
    ASSERT_EQ(plain.lines.size(), 1u);
    ASSERT_EQ(placed.lines.size(), 1u);
    ASSERT_EQ(smooth.lines.size(), 1u);
    const ct_polyline &p = plain.lines[0], &q = placed.lines[0], &s = smooth.lines[0];
    ASSERT_EQ(q.size(), p.size());
    ASSERT_EQ(s.size(), p.size());
    for (size_t i = 0; i < p.size(); i++) {
        EXPECT_FLOAT_EQ(q[i].x, p[i].x * 2.0f + 10.0f);
        EXPECT_FLOAT_EQ(q[i].y, p[i].y * -3.0f + 20.0f);
        EXPECT_FLOAT_EQ(q[i].z, 5.0f);
    }
    // One pass pulls each interior point towards its neighbours' midpoint
    // by about the square root of the turn's cosine; the ends stay.
    EXPECT_EQ(s.front().x, p.front().x);
    EXPECT_EQ(s.back().y, p.back().y);
    for (size_t i = 1; i + 1 < p.size(); i++) {
        float ux = p[i].x - p[i - 1].x, uy = p[i].y - p[i - 1].y, ex = p[i + 1].x - p[i].x, ey = p[i + 1].y - p[i].y;
        float c = (ux * ex + uy * ey) / std::hypot(ux, uy) / std::hypot(ex, ey);
        float pull = c <= 0.0f ? 0.0f : std::sqrt(c);
        float wantx = (1.0f - pull) * p[i].x + pull * 0.5f * (p[i - 1].x + p[i + 1].x);
        float wanty = (1.0f - pull) * p[i].y + pull * 0.5f * (p[i - 1].y + p[i + 1].y);
        EXPECT_NEAR(s[i].x, wantx, 1e-4f) << i;
        EXPECT_NEAR(s[i].y, wanty, 1e-4f) << i;
    }
    // Right-angle turns keep their corner however often it is smoothed.
    image *hot = field(5, 5, ct_hotpixel(5, 5, 2, 2));
    ct_result ring0 = trace(hot, 0.5f, 0), ring5 = trace(hot, 0.5f, 5);
    ASSERT_EQ(ring5.lines.size(), 1u);
    ASSERT_EQ(ring5.lines[0].size(), ring0.lines[0].size());
    for (size_t i = 0; i < ring0.lines[0].size(); i++) {
        EXPECT_NEAR(ring5.lines[0][i].x, ring0.lines[0][i].x, 1e-5f) << i;
        EXPECT_NEAR(ring5.lines[0][i].y, ring0.lines[0][i].y, 1e-5f) << i;
    }
}

TEST_F(Contour, DebugLogFollowsTheTrace)
{
    image *img = field(5, 5, ct_hotpixel(5, 5, 2, 2));
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture log;
    contour *c = img_contour(img, 0.5f, ct_unit, ct_zero, 0.9975f, 0.0f, 1.0f, 0);
    cfg_seti(cfg_debuginfo, 0);
    ASSERT_NE(c, nullptr);
    cont_free(c);
    for (const char *line : {"contouring 5x5 image @0.5000...", "allocated buffers verts:1000 (elapsed ",
                             "...created 4 vertices (elapsed ", "traced cw:5/ccw:0 closed:Y (elapsed ",
                             " 5 verts = area:", " reduced 5 to 5 verts (elapsed ", "...added 5 vert polyline",
                             "generated 1 polylines, 5 verts (elapsed "})
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.text();
}

// A contour full of polylines or points keeps what fitted and says so.
TEST_F(Contour, StopsAppendingAtTheContourLimits)
{
    struct Case {
        const char *what;
        int w, h;
        bool stripes; // alternate rows, else a hot pixel at every odd (x, y)
        uint32_t polys;
    };
    const Case cases[] = {
        {"65,536 polylines", 600, 600, false, (uint32_t)cont_maxpolys},
        {"4,194,304 points", 2100, 2100, true, (uint32_t)(cont_maxverts / 2099)},
    };
    for (const Case &c : cases) {
        std::vector<float> v((size_t)c.w * c.h, 0.0f);
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++)
                v[(size_t)y * c.w + x] = c.stripes ? (float)(y & 1) : (float)((x & 1) && (y & 1));
        image *img = field(c.w, c.h, v);
        testlog_capture log;
        contour *out = img_contour(img, 0.5f, ct_unit, ct_zero, ct_keepall, 0.0f, 1e9f, 0);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_EQ(out->numpolys, c.polys) << c.what;
        EXPECT_LE(out->numverts, (uint32_t)cont_maxverts) << c.what;
        EXPECT_TRUE(log.contains("img_contour: contour full at ")) << c.what;
        cont_free(out);
        img_free(img);
        images.pop_back();
    }
}
