// Dithered stippling: the working size by canvas size, plunge depths by the
// tool's shape (a stipple's radius known by making every stipple one size),
// stipples shallower than z_min left out, no stipples below threshold 0,
// the same toolpath from the same input, a tool without a depth rule or a
// stipple too wide to place refused, and a stipple array that cannot grow
// keeping what it placed.
#include "cam/stipple2.h"

#include "stipplefixture.h"
#include "testlog.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, top_frac[3] = {0, 0, 1}; // top at z = 0

// A number logged after key in the log text, or NaN.
double logged(const std::string &text, const std::string &key)
{
    const size_t at = text.find(key);
    return at == std::string::npos ? NAN : std::atof(text.c_str() + at + key.size());
}

int refuse_growth = 0;
void *refusing_realloc(void *p, size_t n)
{
    return refuse_growth-- > 0 ? realloc(p, n) : nullptr;
}
} // namespace

class Stipple2 : public Stipple2Test {
protected:
    bool run() { return rungenerator(camop_stipple2) && op.toolpath >= 0 && toolpaths[op.toolpath].moves; }
    // A gradient canvas of side n: dark on the left, light on the right.
    void gradient(int n)
    {
        usecanvas(carve_makecanvas(n, n, canvas_size, top_frac, [](double u, double v) { return u * 0.8 + v * 0.1; }));
    }
};

TEST_F(Stipple2, WorkingSizeFollowsTheCanvas)
{
    cam_settool(1, "V 90", tool_vbit, 1, 2, 0.25f, 0, 90, 1.5f, 20);
    struct Case {
        int side;
        bool reduced;
        int working; // pixels across
    };
    // 1024 x 1024 holds 262,144 pixels four times: each side by sqrt(5).
    const Case cases[] = {{512, false, 512}, {1024, true, 457}};
    for (const Case &c : cases) {
        gradient(c.side);
        // Radii below a pixel: the placement does no diffusion.
        setop(0.001f, 0.001f, 0);
        testlog_capture log;
        ASSERT_TRUE(rungenerator(camop_stipple2)) << c.side;
        const std::string text = log.text();
        EXPECT_EQ(text.find("downscaling input (factor:2.236068)") != std::string::npos, c.reduced) << c.side;
        const double minr = logged(text, "mindia:");
        EXPECT_NEAR(minr * 2 / 0.001 * 2, c.working, 0.01) << c.side;
        // Threshold 0: nothing placed, and the frame says so.
        EXPECT_TRUE(log.contains("...generated 0 stipples")) << c.side;
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << c.side;
    }
}

TEST_F(Stipple2, PlungeDepthsFollowTheToolShape)
{
    struct Case {
        const char *name;
        int type;
        float diameter, flutes, angle;
        float dia;  // every stipple's diameter (minimum = maximum)
        float zmin;
        float z;    // the plunge's bottom; NAN: no plunge
    };
    const Case cases[] = {
        {"90-degree V: depth = radius", tool_vbit, 0.5f, 0, 90, 0.1f, 0, -0.05f},
        {"tapered, within its widest", tool_tapered, 0.03125f, 0.3f, 10, 0.1f, 0,
         -(0.05f - 0.015625f) / std::tan(10 * (float)M_PI / 180)},
        {"tapered, wider than the tool", tool_tapered, 0.03125f, 0.3f, 10, 0.2f, 0, -0.3f},
        // A ball of radius 1/8 with a 10-degree taper: a hole of radius 0.05
        // lies on the ball (within 0.125 cos 10 degrees of the axis), whose
        // cap of that radius is 0.125 - sqrt(0.125^2 - 0.05^2) deep.
        {"tapered ball, on its ball", tool_taperball, 0.125f, 1.0f, 10, 0.1f, 0,
         -(0.125f - std::sqrt(0.125f * 0.125f - 0.05f * 0.05f))},
        {"shallower than z_min", tool_vbit, 0.5f, 0, 90, 0.1f, 0.06f, NAN},
    };
    for (const Case &c : cases) {
        cam_settool(1, c.name, c.type, 1, 2, c.diameter, c.flutes, c.angle, 1.5f, 20);
        gradient(48);
        setop(c.dia, c.dia, 0.5f);
        op.z_min = c.zmin;
        testlog_capture log;
        const bool ok = run();
        if (std::isnan(c.z)) {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << c.name;
            continue;
        }
        ASSERT_TRUE(ok) << c.name << log.text();
        ASSERT_GT(numpaths(), 5u) << c.name;
        for (uint32_t i = 0; i < numpaths(); i++) {
            const std::vector<vert> v = pathverts(i);
            ASSERT_EQ(v.size(), 2u);
            EXPECT_EQ(v[0][0], v[1][0]) << c.name;
            EXPECT_EQ(v[0][1], v[1][1]) << c.name;
            EXPECT_NEAR(v[0][2], 0.0f, 1e-6f) << c.name << ": plunges start at the top";
            EXPECT_NEAR(v[1][2], c.z, 1e-5f) << c.name;
        }
        toolpath_free(op.toolpath);
    }
}

TEST_F(Stipple2, SameInputSameToolpath)
{
    cam_settool(1, "V 90", tool_vbit, 1, 2, 0.25f, 0, 90, 1.5f, 20);
    gradient(64);
    std::vector<float> first;
    for (int run_ = 0; run_ < 2; run_++) {
        setop(0.02f, 0.08f, 0.6f);
        testlog_capture log;
        ASSERT_TRUE(run());
        const toolpath &tp = toolpaths[op.toolpath];
        std::vector<float> v(tp.verts, tp.verts + 3 * (size_t)tp.num_verts);
        ASSERT_GT(v.size(), 30u);
        if (run_ == 0)
            first = v;
        else
            EXPECT_EQ(v, first);
        toolpath_free(op.toolpath);
    }
}

TEST_F(Stipple2, RefusalsStopCleanly)
{
    gradient(130);
    {
        // Every pixel below threshold 2 takes a stipple: 16,640 pass the first
        // 16,384 and the array cannot grow.
        cam_settool(1, "V 90", tool_vbit, 1, 2, 0.25f, 0, 90, 1.5f, 20);
        setop(0.01f, 0.01f, 2.0f);
        testlog_capture log;
        refuse_growth = 1; // the first array only
        stipple2_realloc = refusing_realloc;
        const bool ok = run();
        stipple2_realloc = realloc;
        ASSERT_TRUE(ok) << log.text();
        EXPECT_TRUE(log.contains("img_scalarstipples: failed to realloc stipple buffer!"));
        EXPECT_TRUE(log.contains("camop_stipple2: placement stops at 16384 stipples"));
        EXPECT_EQ(numpaths(), 16384u);
        toolpath_free(op.toolpath);
        notices();
    }
    struct Case {
        const char *name;
        int type;
        float maxdia;
        const char *line;
    };
    const Case cases[] = {
        {"no depth rule", tool_none, 0.08f, "camop_stipple2: tool1 of type 0 has no depth rule"},
        // 65 pixels a unit: a reach of three radii is 2,437 pixels, whose
        // kernel alone would take 95 MB.
        {"reach of 2,048 pixels or more", tool_vbit, 25.0f,
         "camop_stipple2: stipple diameters 0.020000 to 25.000000 (65.000000 pixels a unit) cannot be placed"},
    };
    for (const Case &c : cases) {
        cam_settool(1, c.name, c.type, 1, 2, 0.25f, 0.5f, 90, 1.5f, 20);
        setop(0.02f, c.maxdia, 0.6f);
        testlog_capture log;
        ASSERT_TRUE(rungenerator(camop_stipple2)) << c.name;
        EXPECT_EQ(op.toolpath, -1) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name << log.text();
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << c.name;
    }
}
