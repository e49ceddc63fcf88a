// Parallel carving: where the cut lines run and in which direction, how far
// apart, which pieces are fed into from the last, when leave stock runs,
// where entry cuts begin, and which pocket a cut belongs to.
#include "cam/parallel.h"

#include "parallelfixture.h"
#include "sys/config.h"
#include "testlog.h"

#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

namespace {
const float flat_size[3] = {2, 1, 0.5f}, top_frac[3] = {0, 0, 1};
} // namespace

class Parallel : public ParallelTest {
protected:
    void SetUp() override
    {
        ParallelTest::SetUp();
        cam_settool(1, "flat 1/16", tool_cylinder, 1, 2, 0.0625f, 0.5f, 0.0f, 1.5f, 20.0f);
        // A floor far below the one level: every line is cut whole.
        usecanvas(carve_makecanvas(64, 32, flat_size, top_frac, [](double, double) { return 0.0; }));
        op.step = 0.1f;
        op.z_max = 0.1f;
        op.z_doc = 0.1f;
    }
};

TEST_F(Parallel, LinesRunByAngleAndDirection)
{
    struct Case {
        float angle;
        int dir;
        float dx, dy; // sign of travel along the first line
        float ndx, ndy; // along the second
    };
    const Case cases[] = {
        {0, 0, 1, 0, 1, 0},      // along X, left to right
        {0, 1, -1, 0, -1, 0},    // the opposite
        {0, 2, -1, 0, 1, 0},     // alternating, the first reversed
        {90, 0, 0, -1, 0, -1},   // along Y, from the top down
        {90, 1, 0, 1, 0, 1},
        {450, 0, 0, -1, 0, -1},  // whole turns change nothing
        {-270, 0, 0, -1, 0, -1},
    };
    for (const Case &c : cases) {
        resetop();
        op.step = 0.1f, op.z_max = 0.1f, op.z_doc = 0.1f;
        op.aux[0] = c.angle;
        op.dir = c.dir;
        testlog_capture log;
        ASSERT_TRUE(runparallel()) << c.angle << log.text();
        ASSERT_GE(numpaths(), 2u);
        for (int line = 0; line < 2; line++) {
            std::vector<vert> v = pathverts(line);
            const float dx = v.back()[0] - v.front()[0], dy = v.back()[1] - v.front()[1];
            const float wantx = line ? c.ndx : c.dx, wanty = line ? c.ndy : c.dy;
            EXPECT_EQ(dx > 0.5f ? 1 : dx < -0.5f ? -1 : 0, (int)wantx) << c.angle << " dir " << c.dir << " line " << line;
            EXPECT_EQ(dy > 0.5f ? 1 : dy < -0.5f ? -1 : 0, (int)wanty) << c.angle << " dir " << c.dir << " line " << line;
            for (const vert &p : v)
                EXPECT_NEAR(p[2], -0.1f, 1e-5);
        }
        toolpath_free(op.toolpath);
    }
}

TEST_F(Parallel, PercentStepoverByToolType)
{
    struct Case {
        const char *name;
        int type;
        float flutediameter, aux, spacing;
    };
    const Case cases[] = {
        {"cylinder", tool_cylinder, 0.25f, 0.0f, 0.125f},          // half the diameter
        {"tapered ball", tool_taperball, 0.0625f, 5.0f, 0.0625f},   // the ball's diameter, halved
    };
    for (const Case &c : cases) {
        cam_settool(1, c.name, c.type, 1, 2, c.flutediameter, 0.5f, c.aux, 1.5f, 20.0f);
        resetop();
        op.step = 50.0f, op.flags = camop_percentstep, op.z_max = 0.1f, op.z_doc = 0.1f;
        ASSERT_TRUE(runparallel()) << c.name;
        std::set<float> ys;
        for (uint32_t i = 0; i < numpaths(); i++)
            ys.insert(pathverts(i).front()[1]);
        ASSERT_GE(ys.size(), 3u);
        std::vector<float> y(ys.begin(), ys.end());
        for (size_t i = 1; i < y.size(); i++)
            EXPECT_NEAR(y[i] - y[i - 1], c.spacing, 1e-4) << c.name;
        toolpath_free(op.toolpath);
    }
}

// A wall across the middle breaks every line in two; under mixed direction
// with linking, a piece is fed into from the last only when it starts a new line.
TEST_F(Parallel, PiecesOfOneLineAreNeverLinked)
{
    usecanvas(carve_makecanvas(64, 32, flat_size, top_frac,
                               [](double u, double) { return std::fabs(u - 0.5) < 0.03 ? 1.0 : 0.0; }));
    op.dir = 2;
    op.flags = camop_linkcuts;
    op.z_min = 0.05f; // the wall rises above the first level's start
    op.z_max = 0.15f;
    ASSERT_TRUE(runparallel());
    const toolpath &tp = toolpaths[op.toolpath];
    int links = 0;
    for (uint32_t i = 1; i < numpaths(); i++) {
        const bool linked = tp.paths[i].flags & PATH_LINK;
        const bool sameline = std::fabs(pathverts(i).front()[1] - pathverts(i - 1).back()[1]) < 1e-5f;
        if (linked) {
            links++;
            EXPECT_FALSE(sameline) << "path " << i;
        }
    }
    EXPECT_GT(links, 0) << "lines that follow each other are linked";
    EXPECT_GT(numpaths(), 10u);
}

TEST_F(Parallel, LeaveStockRunsOnlyAboveATenThousandth)
{
    struct Case {
        float stock;
        bool runs;
    };
    const Case cases[] = {{0.0f, false}, {0.0001f, false}, {0.00011f, true}, {0.02f, true}};
    for (const Case &c : cases) {
        resetop();
        op.step = 0.1f, op.z_max = 0.1f, op.z_doc = 0.1f, op.stock = c.stock;
        testlog_capture log;
        ASSERT_TRUE(runparallel());
        EXPECT_EQ(log.contains("convolving with leave-stock"), c.runs) << c.stock;
        toolpath_free(op.toolpath);
    }
}

// Each level's entry cuts start 0.04 inch above the level before it (the
// first above the starting depth), in project units.
TEST_F(Parallel, EntriesStartAboveThePreviousLevel)
{
    struct Case {
        float scale, zmin, zmax, doc;
        std::vector<float> cutz;
    };
    const Case cases[] = {
        {1.0f, 0.0f, 0.25f, 0.1f, {0.04f, -0.06f, -0.16f}},
        {1.0f, 0.05f, 0.15f, 0.1f, {-0.01f}},
        {1.0f / 25.4f, 0.0f, 0.2f, 0.1f, {1.016f, 0.916f}},
    };
    for (const Case &c : cases) {
        const float size[3] = {2, 1, 0.5f};
        setcanvas(canvas.field, canvas.w, canvas.h, size, top_frac, c.scale);
        resetop();
        op.step = 0.1f, op.z_min = c.zmin, op.z_max = c.zmax, op.z_doc = c.doc, op.entry = 1;
        testlog_capture log;
        ASSERT_TRUE(runparallel());
        std::istringstream lines(log.text());
        std::vector<float> seen;
        for (std::string line; std::getline(lines, line);) {
            size_t at = line.find("engage cutz = ");
            if (at != std::string::npos)
                seen.push_back(std::stof(line.substr(at + 14)));
        }
        ASSERT_EQ(seen.size(), c.cutz.size()) << c.zmax;
        for (size_t i = 0; i < seen.size(); i++)
            EXPECT_NEAR(seen[i], c.cutz[i], 1e-5) << i;
        toolpath_free(op.toolpath);
    }
}

// A raised ring inside the canvas: below the first level, the ground around
// the ring and the disc inside it are two pockets, the disc within the
// ground's outline. The disc's cuts go to the smaller pocket, so they are
// swept after all of the surrounding ground's, not among them.
TEST_F(Parallel, NestedPocketsTakeTheSmaller)
{
    const float size[3] = {2, 2, 0.5f};
    usecanvas(carve_makecanvas(64, 64, size, top_frac, [](double u, double v) {
        const double r = std::hypot(u - 0.5, v - 0.5);
        return r > 0.25 && r < 0.35 ? 1.0 : 0.0;
    }));
    cam_settool(1, "flat 1/16", tool_cylinder, 1, 2, 0.0625f, 0.5f, 0.0f, 1.5f, 20.0f);
    op.step = 0.1f, op.z_max = 0.2f, op.z_doc = 0.1f, op.flags = camop_sortpaths;
    testlog_capture log;
    ASSERT_TRUE(runparallel());
    EXPECT_FALSE(log.contains("has no pocket!"));
    int firstdisc = -1, outside = 0, disc = 0;
    for (uint32_t i = 0; i < numpaths(); i++) {
        std::vector<vert> v = pathverts(i);
        float low = 0.0f;
        for (const vert &p : v)
            low = std::fmin(low, p[2]);
        if (low > -0.15f)
            continue; // the first level, where everything is one pocket
        const float cx = (v.front()[0] + v.back()[0]) * 0.5f - 1.0f, cy = (v.front()[1] + v.back()[1]) * 0.5f - 1.0f;
        const bool indisc = std::hypot(cx, cy) < 0.5f;
        if (indisc && firstdisc < 0)
            firstdisc = (int)i;
        if (indisc)
            disc++;
        else if (firstdisc >= 0)
            outside++;
    }
    EXPECT_GT(disc, 5);
    EXPECT_EQ(outside, 0) << "a cut of the ground was swept after the disc's";
}
