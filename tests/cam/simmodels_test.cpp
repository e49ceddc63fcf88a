// The simulated tool's profile and strips by cutter type and units, the
// baked light, and the grid tile's lines with their repairs of an edited
// configuration. The model functions only record what these give; their
// GL side is checked in tests/view/axesgrid_gl_test.cpp.
#include "cam/simmodels.h"

#include "cam/tool.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

tool maketool(int type, int units, float d, float fl, float l, float aux, float big = 0.0f)
{
    tool t = {};
    t.type = type;
    t.units = units;
    t.flutediameter = d;
    t.flutelength = fl;
    t.length = l;
    t.aux = aux;
    t.diameter = big;
    return t;
}

struct profile {
    int n;
    float p[sim_maxprofile][2];
};
profile profileof(const tool &t, uint32_t projunits)
{
    profile r;
    r.n = sim_toolprofile(t, projunits, r.p);
    return r;
}

} // namespace

TEST(SimToolModel, ProfilesByTypeAndUnits)
{
    struct Case {
        const char *what;
        tool t;
        uint32_t projunits;
        std::vector<std::array<float, 2>> expected;
    };
    const Case cases[] = {
        {"inch cylinder", maketool(1, 1, 0.25f, 1.0f, 1.5f, 0.0f), 1,
         {{0, 0}, {0.125f, 0}, {0.125f, 1}, {0.125f, 1.5f}}},
        {"the same in a metric project", maketool(1, 1, 0.25f, 1.0f, 1.5f, 0.0f), 2,
         {{0, 0}, {3.175f, 0}, {3.175f, 25.4f}, {3.175f, 38.1f}}},
        {"a metric cylinder in an inch project", maketool(1, 2, 6.35f, 25.4f, 38.1f, 0.0f), 1,
         {{0, 0}, {0.125f, 0}, {0.125f, 1}, {0.125f, 1.5f}}},
        {"tapered", maketool(2, 1, 0.125f, 1.0f, 2.0f, 5.0f, 0.3f), 1,
         {{0, 0}, {0.0625f, 0}, {0.15f, 1}, {0.15f, 2}}},
        {"V-bit: flute top and shank share d / 2", maketool(3, 1, 0.5f, 0.433f, 1.5f, 60.0f), 1,
         {{0, 0}, {0.25f, 0.433f}, {0.25f, 1.5f}}},
    };
    for (const Case &c : cases) {
        profile r = profileof(c.t, c.projunits);
        ASSERT_EQ(r.n, (int)c.expected.size()) << c.what;
        for (int i = 0; i < r.n; i++) {
            EXPECT_NEAR(r.p[i][0], c.expected[i][0], 1e-4f) << c.what << " point " << i;
            EXPECT_NEAR(r.p[i][1], c.expected[i][1], 1e-4f) << c.what << " point " << i;
        }
    }
    EXPECT_EQ(profileof(maketool(0, 1, 0.25f, 1, 1.5f, 0), 1).n, 0) << "no type, no profile";
    EXPECT_EQ(profileof(maketool(9, 1, 0.25f, 1, 1.5f, 0), 1).n, 0) << "unknown type, no profile";
}

// Rounded corners and coves lie on their quarter circles and end where the
// side begins; a corner as wide as the radius leaves no flat bottom.
TEST(SimToolModel, CornersFollowTheirCircles)
{
    struct Case {
        const char *what;
        float aux;
        int points;
        float cx, cz; // circle centre
        float radius;
        int first, last; // arc points, the side point after them included
    };
    const float r = 0.125f;
    const Case cases[] = {
        {"ball: corner radius = radius", 0.125f, 12, 0.0f, 0.125f, 0.125f, 0, 9},
        {"bull nose", 0.05f, 13, r - 0.05f, 0.05f, 0.05f, 1, 10},
        {"cove", -0.05f, 16, r, 0.0f, 0.05f, 1, 13},
    };
    for (const Case &c : cases) {
        profile p = profileof(maketool(1, 1, 2 * r, 1.0f, 1.5f, c.aux), 1);
        ASSERT_EQ(p.n, c.points) << c.what;
        EXPECT_EQ(p.p[0][0], 0.0f) << c.what;
        EXPECT_EQ(p.p[0][1], 0.0f) << c.what;
        for (int i = c.first; i <= c.last; i++)
            EXPECT_NEAR(std::hypot(p.p[i][0] - c.cx, p.p[i][1] - c.cz), c.radius, 1e-5f) << c.what << " point " << i;
        EXPECT_NEAR(p.p[c.last][0], r, 1e-6f) << c.what;
        EXPECT_NEAR(p.p[c.last][1], std::fabs(c.aux), 1e-6f) << c.what;
        EXPECT_FLOAT_EQ(p.p[p.n - 2][1], 1.0f) << c.what << ": top of the flutes";
        EXPECT_FLOAT_EQ(p.p[p.n - 1][1], 1.5f) << c.what << ": shank top";
    }
}

TEST(SimToolModel, TaperedBallEndsItsArcAtTheTangentPoint)
{
    const float ball = 0.0625f, degrees = 10.0f, a = degrees * (float)M_PI / 180.0f;
    profile p = profileof(maketool(4, 1, ball, 1.0f, 2.0f, degrees, 0.4f), 1);
    ASSERT_GE(p.n, 5);
    int tangent = p.n - 3;
    EXPECT_NEAR(p.p[tangent][0], ball * std::cos(a), 1e-6f);
    EXPECT_NEAR(p.p[tangent][1], ball * (1.0f - std::sin(a)), 1e-6f);
    for (int i = 0; i <= tangent; i++) {
        EXPECT_NEAR(std::hypot(p.p[i][0], p.p[i][1] - ball), ball, 1e-6f) << "point " << i << " on the ball";
        if (i > 0)
            EXPECT_GT(p.p[i][0], p.p[i - 1][0]) << "point " << i << " climbs the ball";
    }
    EXPECT_FLOAT_EQ(p.p[p.n - 2][0], 0.2f);
    EXPECT_FLOAT_EQ(p.p[p.n - 1][1], 2.0f);
}

TEST(SimToolModel, ShadeOfTheBakedLight)
{
    // |0.99227786 c - 0.12403473 s|^6 x 1.1 + 0.2 of (c, s, 0.5) made unit,
    // worked out by hand.
    EXPECT_NEAR(sim_toolshade(0.0f), 0.7376040f, 1e-6f);
    EXPECT_NEAR(sim_toolshade(90.0f), 0.2000021f, 1e-6f);
}

TEST(SimToolModel, StripsWindAboutTheAxisWithTheShankTopDark)
{
    const float colour[4] = {0.5f, 1.0f, 0.25f, 0.8f};
    profile p = profileof(maketool(1, 1, 0.25f, 1.0f, 1.5f, 0.0f), 1);
    r_vertexdata v[sim_maxstripverts];
    const int strip = 2; // 30 degrees
    ASSERT_EQ(sim_toolstrip(p.p, p.n, 1.5f, colour, strip, v), 7);
    // The tip in the colour of the strip's far edge (45 degrees).
    float far = sim_toolshade(45.0f), near = sim_toolshade(30.0f);
    EXPECT_EQ(v[0].x, 0.0f);
    EXPECT_EQ(v[0].r, (uint8_t)(0.5f * far * 255.0f));
    EXPECT_EQ(v[0].a, (uint8_t)(0.8f * 255.0f));
    // Point 1 at 30 - 15 and 30 - 30 degrees, alpha faded by its height.
    EXPECT_NEAR(v[1].x, 0.125f * std::cos(15.0f * M_PI / 180.0), 1e-6);
    EXPECT_NEAR(v[1].y, 0.125f * std::sin(15.0f * M_PI / 180.0), 1e-6);
    EXPECT_NEAR(v[2].x, 0.125f, 1e-6);
    EXPECT_NEAR(v[2].y, 0.0f, 1e-6);
    EXPECT_EQ(v[1].g, (uint8_t)(far * 255.0f));
    EXPECT_EQ(v[2].g, (uint8_t)(near * 255.0f));
    EXPECT_EQ(v[3].a, (uint8_t)((1.0f - 1.0f / 1.5f) * 0.8f * 255.0f)) << "flute top at 2/3 of the length";
    for (int i = 5; i < 7; i++)
        EXPECT_EQ(v[i].r | v[i].g | v[i].b | v[i].a, 0) << "shank-top vertex " << i;
}

// A tool without length would divide its fade by 0.
TEST(SimToolModel, ToolWithoutLengthKeepsTheCallersAlpha)
{
    const float colour[4] = {1.0f, 1.0f, 1.0f, 0.6f};
    const float flat[3][2] = {{0, 0}, {0.125f, 0}, {0.125f, 0}};
    r_vertexdata v[sim_maxstripverts];
    ASSERT_EQ(sim_toolstrip(flat, 3, 0.0f, colour, 0, v), 5);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(v[i].a, (uint8_t)(0.6f * 255.0f)) << "vertex " << i;
}

TEST(SimGridModel, LinesOfATileWithTheirMajorAlphas)
{
    struct Case {
        const char *what;
        uint32_t units;
        float step;
        int size, lines, majorevery;
    };
    const Case cases[] = {
        {"inches by quarters", 1, 0.25f, 12, 49, 4},
        {"metric by millimetres", 2, 1.0f, 100, 101, 10},
        {"no units: an inch tile of one unit", 0, 3.0f, 1, 5, 4},
    };
    const float rgb[3] = {0.2f, 0.4f, 0.6f};
    for (const Case &c : cases) {
        sim_gridplan g = sim_plangrid(c.units, c.step);
        EXPECT_EQ(g.size, c.size) << c.what;
        std::vector<r_vertexdata> v;
        sim_gridvertices(g, rgb, 1.0f, 0.25f, v);
        ASSERT_EQ((int)v.size(), 4 * c.lines) << c.what;
        for (int i = 0; i < c.lines; i++) {
            const r_vertexdata *l = &v[4 * i];
            float t = (float)i * (float)c.size / (float)(c.lines - 1);
            EXPECT_NEAR(l[0].x, t, 1e-4f) << c.what << " line " << i;
            EXPECT_FLOAT_EQ(l[1].y, (float)c.size) << c.what;
            EXPECT_NEAR(l[2].y, t, 1e-4f) << c.what;
            EXPECT_FLOAT_EQ(l[3].x, (float)c.size) << c.what;
            uint8_t alpha = i % c.majorevery == 0 ? 255 : (uint8_t)(0.25f * 255.0f);
            for (int k = 0; k < 4; k++)
                EXPECT_EQ(l[k].a, alpha) << c.what << " line " << i;
            EXPECT_EQ(l[0].b, (uint8_t)(0.6f * 255.0f)) << c.what;
        }
    }
}

// An edited configuration may hold any step and any units: the tile stays
// within 4,096 lines a side and unknown units become an inch project.
TEST(SimGridModel, UnusableStepsAndUnitsAreBounded)
{
    struct Case {
        const char *what;
        uint32_t units;
        float step;
        uint32_t planunits;
        float planstep;
        bool logged;
    };
    const Case cases[] = {
        {"step 0", 1, 0.0f, 1, 0.25f, true},
        {"step -1", 1, -1.0f, 1, 0.25f, true},
        {"step 1e-9", 1, 1e-9f, 1, 0.25f, true},
        {"metric step 1e-9", 2, 1e-9f, 2, 2.5f, true},
        {"metric step 0", 2, 0.0f, 2, 2.5f, true},
        {"step NaN", 1, NAN, 1, 0.25f, true},
        {"coarse step kept", 1, 1.0f, 1, 1.0f, false},
        {"units 7", 7, 0.5f, 1, 0.25f, true},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        sim_gridplan g = sim_plangrid(c.units, c.step);
        EXPECT_EQ(g.units, c.planunits) << c.what;
        EXPECT_FLOAT_EQ(g.step, c.planstep) << c.what;
        EXPECT_EQ(log.text().find("sim_plangrid:") != std::string::npos, c.logged) << c.what << "\n" << log.text();
        std::vector<r_vertexdata> v;
        const float white[3] = {1.0f, 1.0f, 1.0f};
        sim_gridvertices(g, white, 1.0f, 0.25f, v);
        EXPECT_LE(v.size(), 4u * sim_maxgridlines) << c.what;
        EXPECT_GE(v.size(), 4u) << c.what;
    }
}
