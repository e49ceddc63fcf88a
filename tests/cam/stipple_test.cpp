// Standard Stippling: the staggered start against its row formula, the
// spacing clamps, mixed rows, the z_min cut-off, short canvases, inverted
// advection, repeatable runs; and input that must end cleanly: no cutter
// type, a zero spacing, a canvas narrower than the reach, an advection past
// 1 and point counts no buffer holds.
#include "stipplefixture.h"

#include <cmath>
#include <cstring>

namespace {
const float flat_frac[3] = {0, 0, 1}; // top at z = 0
} // namespace

class Stipple : public StippleTest {
protected:
    void SetUp() override
    {
        StippleTest::SetUp();
        cam_settool(1, "V 90", tool_vbit, 1, 2, 0.5f, 0.0f, 90.0f, 1.5f, 20.0f);
    }
    void flatcanvas(float sx, float sy, float value, int w = 32, int h = 32)
    {
        const float size[3] = {sx, sy, 0.5f};
        usecanvas(carve_makecanvas(w, h, size, flat_frac, [value](double, double) { return value; }));
    }
};

// Without advection the dots lie on the staggered rows: y = s/2 + n s/1.2,
// x = k s + s/4 on even rows and + 3s/4 on odd ones (Mixed: odd rows from
// the right, x = size - k s - (size mod s) + 3s/4), inside the canvas.
TEST_F(Stipple, RowsWithoutAdvection)
{
    struct Case {
        float step;
        int dir;
        float width;
    };
    const Case cases[] = {{0.25f, 0, 2.0f}, {0.3f, 2, 2.0f}, {0.3f, 0, 1.9f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.step * 10 + c.dir);
        resetop();
        flatcanvas(c.width, 1.5f, 0.0f);
        stipple(c.step, 0.0f, 0.05f, 0.1f);
        op.dir = c.dir;
        ASSERT_TRUE(runstipple());
        std::vector<dot> expect;
        const float s = c.step, rem = std::fmod(c.width, s);
        int row = 0;
        for (double y = 0.5 * s; y < 1.5; y += s / 1.2, row++)
            for (double x = 0; x < c.width + 0.0001; x += s) {
                double px = x + (row % 2 ? 0.75 : 0.25) * s;
                if (c.dir == 2 && row % 2)
                    px = c.width - x - rem + 0.75 * s;
                if (px >= 0 && px <= c.width)
                    expect.push_back({(float)px, (float)y, 0});
            }
        std::vector<dot> got = dots();
        ASSERT_EQ(got.size(), expect.size());
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_NEAR(got[i].x, expect[i].x, 1e-4f) << i;
            EXPECT_NEAR(got[i].y, expect[i].y, 1e-4f) << i;
        }
    }
}

// Spacing clamps, the z_min cut-off, a canvas shorter than half a spacing,
// and inverted advection: on a canvas of 0.2 a dot's radius is
// 0.2 rmin + 0.8 rmax, or 0.8 rmin + 0.2 rmax with A = -1; a V of 90 degrees
// cuts a hole of radius r at depth r.
TEST_F(Stipple, SettingsAndTheirEffects)
{
    struct Case {
        const char *what;
        float step, a, zmin, height;
        size_t dots; // expected count, or 9999 for "some"
        float depth; // of every dot, 0 unchecked
        const char *line;
    };
    const Case cases[] = {
        {"spacing raised", 0.01f, 0, 0, 1, 9999, -0.2f * 0.05f - 0.8f * 0.1f, "density:0.031250"},
        {"spacing lowered", 100, 0, 0, 1, 0, 0, "density:64.000000"},
        {"inverted advection", 0.25f, -1, 0, 1, 9999, -0.8f * 0.05f - 0.2f * 0.1f, nullptr},
        {"shallower than z_min", 0.25f, 0, 0.2f, 1, 0, 0, nullptr},
        {"canvas shorter than half a spacing", 0.25f, 0, 0, 0.1f, 0, 0, nullptr},
        {"zero spacing clamped", 0, 0, 0, 1, 9999, 0, "density:0.031250"},
        {"advection past 1 clamped", 0.25f, 7, 0, 1, 9999, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        resetop();
        flatcanvas(1, c.height, 0.2f);
        stipple(c.step, c.a, 0.1f, 0.2f);
        op.z_min = c.zmin;
        testlog_capture log;
        ASSERT_TRUE(rungenerator(camop_stipple));
        if (c.line)
            EXPECT_TRUE(log.contains(c.line)) << log.text();
        std::vector<dot> got = dots();
        if (c.dots == 9999)
            EXPECT_GT(got.size(), 0u);
        else
            EXPECT_EQ(got.size(), c.dots);
        for (const dot &d : got)
            if (c.depth != 0)
                ASSERT_NEAR(d.z, c.depth, 1e-4f);
    }
}

// Input that must end cleanly, each with its line.
TEST_F(Stipple, RefusedOrSurvived)
{
    struct Case {
        const char *what;
        float sx, sy, step;
        int tooltype;
        bool toolpath;
        const char *line;
    };
    const Case cases[] = {
        {"no cutter type", 1, 1, 0.25f, tool_none, false, "camop_stipple: tool1 has no cutter type"},
        {"narrower than the reach", 0.2f, 1, 0.25f, tool_vbit, true, "cells[1]["},
        {"too many points", 4000, 4000, 0.03125f, tool_vbit, false,
         "camop_stipple: failed to allocate contours buffer"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        resetop();
        flatcanvas(c.sx, c.sy, 0.5f, 16, 16);
        stipple(c.step, 0.05f, 0.1f, 0.2f);
        cam_tools[0].type = c.tooltype;
        testlog_capture log;
        ASSERT_TRUE(rungenerator(camop_stipple));
        EXPECT_EQ(op.toolpath >= 0, c.toolpath);
        EXPECT_TRUE(log.contains(c.line)) << log.text();
        cam_tools[0].type = tool_vbit;
    }
}

// Two runs with advection give the same toolpath, byte for byte.
TEST_F(Stipple, RunsRepeat)
{
    const float size[3] = {2, 2, 0.5f};
    usecanvas(carve_makecanvas(48, 48, size, flat_frac, [](double u, double v) { return u * v; }));
    stipple(0.12f, 0.1f, 0.02f, 0.1f);
    std::vector<float> first;
    for (int run = 0; run < 2; run++) {
        ASSERT_TRUE(runstipple());
        const toolpath &tp = toolpaths[op.toolpath];
        std::vector<float> v(tp.verts, tp.verts + 3 * (size_t)tp.num_verts);
        if (run == 0) {
            first = v;
            toolpath_free(op.toolpath);
        } else {
            ASSERT_EQ(v.size(), first.size());
            EXPECT_EQ(memcmp(v.data(), first.data(), v.size() * sizeof(float)), 0);
        }
    }
}
