// The supershape and brush-profile previews read straight from the draw
// lists, the view rotation rows, and the brush profile checked against its
// geometry: arcs on their circles and a straight part tangent to both, with
// the tangent found here by bisection rather than by the program's formula.
#include "guiharness.h"

#include "gui/widgets/preview.h"
#include "view/framing.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int glstrip = 3, glfan = 6, gltristrip = 5;

struct drawn {
    int primitive;
    std::vector<gui_vertex> verts;
};

// The draws queued since the lists were emptied, with their vertices.
std::vector<drawn> preview_draws()
{
    std::vector<drawn> out;
    int at = 0;
    for (int d = 0; d < gui_counts.draws; d++) {
        out.push_back({gui_draws[d].primitive, std::vector<gui_vertex>(gui_verts + at, gui_verts + at + gui_draws[d].count)});
        at += gui_draws[d].count;
    }
    return out;
}

const drawn *preview_find(const std::vector<drawn> &draws, int primitive)
{
    for (const drawn &d : draws)
        if (d.primitive == primitive)
            return &d;
    return nullptr;
}

struct PreviewTest : testing::Test {
    void SetUp() override
    {
        harness_start();
        gui_readstyle();
        gui_resetlists();
    }
    void TearDown() override { harness_stop(); }
    void push(const gui_rect &r) { gui_sectors[gui_sectorcount++] = r; }
    gui_rect inner(const gui_rect &s)
    {
        float in = (float)gui_padding + 10;
        return {s.x + in, s.y + in, s.w - 2 * in, s.h - 2 * in};
    }
};

TEST(ViewRotation, RowsOfTheZAngle)
{
    struct Case {
        float z;
        float rows[3][3];
    };
    const Case cases[] = {
        {0, {{0, 0, -1}, {0, 1, 0}, {-1, 0, 0}}},
        {90, {{0, 0, -1}, {-1, 0, 0}, {0, -1, 0}}},
        {-90, {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}},
    };
    for (const Case &c : cases) {
        view_camerarecord cam = {};
        cam.rotation[2] = c.z;
        view_rotation(&cam);
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                EXPECT_NEAR(view_axisrows[i][j], c.rows[i][j], 1e-6) << c.z << " row " << i << " col " << j;
    }
}

TEST_F(PreviewTest, SupershapeCircleIsRound)
{
    const float params[6] = {1, 1, 0, 1, 1, 1};
    for (float angle : {0.0f, 30.0f, 200.0f}) {
        gui_resetlists();
        push({50, 50, 300, 200});
        gui_supershape(100, angle, 0.5f, params);
        auto draws = preview_draws();
        const drawn *fan = preview_find(draws, glfan);
        const drawn *line = preview_find(draws, glstrip);
        ASSERT_TRUE(fan && line);
        float cx = fan->verts[0].x, cy = fan->verts[0].y;
        double r0 = std::hypot(line->verts[0].x - cx, line->verts[0].y - cy);
        ASSERT_GT(r0, 10);
        for (const gui_vertex &v : line->verts)
            EXPECT_NEAR(std::hypot(v.x - cx, v.y - cy) / r0, 1.0, 1e-4) << angle;
    }
}

TEST_F(PreviewTest, SquashStretchesOneAxis)
{
    const float params[6] = {1, 1, 0, 1, 1, 1};
    struct Case {
        float squash, ratio;
    };
    for (const Case &c : {Case{0.25f, 2.0f}, Case{0.75f, 0.5f}, Case{0.5f, 1.0f}}) {
        gui_resetlists();
        push({50, 50, 300, 300});
        gui_supershape(360, 0, c.squash, params);
        auto draws = preview_draws();
        const drawn *line = preview_find(draws, glstrip);
        ASSERT_NE(line, nullptr);
        float x0 = 1e9f, x1 = -1e9f, y0 = 1e9f, y1 = -1e9f;
        for (const gui_vertex &v : line->verts) {
            x0 = std::min(x0, v.x);
            x1 = std::max(x1, v.x);
            y0 = std::min(y0, v.y);
            y1 = std::max(y1, v.y);
        }
        EXPECT_NEAR((x1 - x0) / (y1 - y0), c.ratio, 1e-3) << c.squash;
    }
}

TEST_F(PreviewTest, SupershapeSegmentsAreCapped)
{
    const float params[6] = {1, 1, 6, 1, 1, 1};
    push({50, 50, 300, 300});
    gui_supershape(1000, 10, 0.5f, params);
    auto draws = preview_draws();
    ASSERT_TRUE(preview_find(draws, glstrip) && preview_find(draws, glfan));
    EXPECT_EQ(preview_find(draws, glstrip)->verts.size(), 511u);
    EXPECT_EQ(preview_find(draws, glfan)->verts.size(), 512u);
}

TEST_F(PreviewTest, ShapesWithoutExtentDrawOnlyTheirBox)
{
    struct Case {
        const char *what;
        int count;
        float params[6];
    };
    const Case cases[] = {
        {"a = 0", 100, {0, 1, 4, 1, 1, 1}},
        {"n1 = 0", 100, {1, 1, 4, 0, 1, 1}},
        {"b = 0", 100, {1, 0, 4, 1, 1, 1}},
        {"all zero", 100, {0, 0, 0, 0, 0, 0}},
        {"exponents overflow", 100, {1e-30f, 1, 4, 1e-30f, 1, 1}},
        {"no segments", 0, {1, 1, 4, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        gui_resetlists();
        push({50, 50, 300, 300});
        gui_supershape(c.count, 0, 0.5f, c.params);
        auto draws = preview_draws();
        EXPECT_EQ(draws.size(), 1u) << c.what;
        for (int i = 0; i < gui_counts.verts; i++)
            EXPECT_TRUE(std::isfinite(gui_verts[i].x) && std::isfinite(gui_verts[i].y)) << c.what;
    }
}

TEST_F(PreviewTest, BrushAtATenthDepthFillsTheWidth)
{
    const gui_rect sector = {0, 0, 600, 200};
    push(sector);
    gui_brushprofile(10, 1, 0.2f, 0.2f, 0.25f);
    auto draws = preview_draws();
    const drawn *line = preview_find(draws, glstrip);
    ASSERT_NE(line, nullptr);
    ASSERT_EQ(line->verts.size(), 101u);
    ASSERT_NE(preview_find(draws, gltristrip), nullptr);
    EXPECT_EQ(preview_find(draws, gltristrip)->verts.size(), 198u);
    gui_rect in = inner(sector);
    float x0 = 1e9f, x1 = -1e9f, y0 = 1e9f, y1 = -1e9f;
    for (const gui_vertex &v : line->verts) {
        x0 = std::min(x0, v.x);
        x1 = std::max(x1, v.x);
        y0 = std::min(y0, v.y);
        y1 = std::max(y1, v.y);
    }
    EXPECT_NEAR(x0, in.x, 1e-3);
    EXPECT_NEAR(x1, in.x + in.w, 1e-3);
    EXPECT_NEAR(y1 - y0, in.w / 10, 1e-3);
    EXPECT_NEAR((y0 + y1) / 2, in.y + in.h / 2, 1e-3);
}

TEST_F(PreviewTest, BrushWithoutSizeIsFlat)
{
    struct Case {
        float diameter, depth;
    };
    for (const Case &c : {Case{0, 1}, Case{1, 0}, Case{0, 0}, Case{-1, 1}}) {
        gui_resetlists();
        push({0, 0, 600, 200});
        gui_brushprofile(c.diameter, c.depth, 0.2f, 0.2f, 0.0f);
        auto draws = preview_draws();
        const drawn *line = preview_find(draws, glstrip);
        ASSERT_NE(line, nullptr);
        for (const gui_vertex &v : line->verts) {
            EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y)) << c.diameter << " " << c.depth;
            EXPECT_EQ(v.y, line->verts[0].y) << c.diameter << " " << c.depth;
        }
    }
}

double preview_largeststep(int n, float k, float flat, float r1, float r2, bool *sound)
{
    double largest = 0, previous = gui_brushheight(0, k, flat, r1, r2);
    for (int i = 1; i <= n; i++) {
        float p = gui_brushheight((float)i / (float)n, k, flat, r1, r2);
        if (!(p >= 0.0f && p <= 1.0f))
            *sound = false;
        largest = std::max(largest, std::fabs(p - previous));
        previous = p;
    }
    return largest;
}

TEST(BrushProfile, ContinuousAndBoundedForAllRadii)
{
    const float radii[] = {-0.3f, 0.0f, 0.3f, 2.0f};
    const float flats[] = {0.0f, 0.5f, 1.0f};
    for (float k : {0.5f, 0.1f})
        for (float r1 : radii)
            for (float r2 : radii)
                for (float f : flats) {
                    bool sound = true;
                    double coarse = preview_largeststep(10000, k, f, r1, r2, &sound);
                    double fine = preview_largeststep(100000, k, f, r1, r2, &sound);
                    std::string what = "k " + std::to_string(k) + " R1 " + std::to_string(r1) + " R2 " +
                                       std::to_string(r2) + " flat " + std::to_string(f);
                    EXPECT_TRUE(sound) << what << ": NaN or outside 0..1";
                    if (coarse > 0)
                        EXPECT_LT(fine, 0.5 * coarse) << what << ": a jump";
                }
}

// Tangent of circle A = (R2, 0) radius R2 and circle B = (W, 1 - R1) radius
// R1, both centres on the same side: the angle phi of the touching point on
// A, P = A + R2 (-cos phi, sin phi), found by bisection on B's distance
// from the tangent line at P.
double preview_tangentangle(double w, double r1, double r2)
{
    auto g = [&](double phi) {
        double px = r2 - r2 * std::cos(phi), py = r2 * std::sin(phi);
        double dx = std::sin(phi), dy = std::cos(phi);
        double bx = w - px, by = 1 - r1 - py;
        return dx * by - dy * bx + r1;
    };
    double lo = 0, hi = M_PI / 2;
    for (int i = 0; i < 200; i++) {
        double mid = (lo + hi) / 2;
        (g(mid) < 0 ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// With k = 0.5 and no flat the band coordinate is u itself and W = 1.
TEST(BrushProfile, FollowsItsGeometry)
{
    struct Case {
        float r1, r2;
    };
    const double w = 1.0, h = 1e-3;
    for (const Case &c : {Case{0.3f, 0.3f}, Case{0.2f, 0.5f}, Case{0.5f, 0.1f}, Case{0.1f, 0.6f}}) {
        const double r1 = c.r1, r2 = c.r2;
        auto p = [&](double t) { return (double)gui_brushheight((float)t, 0.5f, 0.0f, c.r1, c.r2); };
        double phi = preview_tangentangle(w, r1, r2);
        double x1 = r2 - r2 * std::cos(phi), x2 = w - r1 * std::cos(phi);
        ASSERT_LT(x1, x2);
        std::string what = "R1 " + std::to_string(r1) + " R2 " + std::to_string(r2);
        for (int i = 0; i <= 20000; i++) {
            double t = w * i / 20000.0;
            if (t < x1 - 1e-4)
                EXPECT_NEAR(std::hypot(t - r2, p(t)), r2, 1e-4) << what << " rim arc at " << t;
            else if (t > x2 + 1e-4)
                EXPECT_NEAR(std::hypot(t - w, p(t) - (1 - r1)), r1, 1e-4) << what << " top arc at " << t;
        }
        // One-sided slopes of second order on each side of both joints.
        auto left = [&](double x) { return (3 * p(x) - 4 * p(x - h) + p(x - 2 * h)) / (2 * h); };
        auto right = [&](double x) { return (-3 * p(x) + 4 * p(x + h) - p(x + 2 * h)) / (2 * h); };
        EXPECT_NEAR(left(x1), right(x1), 1e-3) << what << " at x1 " << x1;
        EXPECT_NEAR(left(x2), right(x2), 1e-3) << what << " at x2 " << x2;
        // The straight part: the chord's slope everywhere between the joints.
        double slope = (p(x2) - p(x1)) / (x2 - x1);
        EXPECT_NEAR(right(x1), slope, 1e-3) << what;
    }
}

} // namespace
