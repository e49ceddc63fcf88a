// Cut rasterisation: the walk by cut length with its resume rule, reverse
// paths and links, exact and spare ends, the touched cells with their
// margin, what yields no image, and the refusals of calls that would read a
// generating or damaged toolpath.
#include "cam/simraster.h"

#include "simtest.h"
#include "sys/config.h"

#include <cmath>

namespace {
// Two paths 0.1 below the top of a 4 x 4 x 1 canvas: depth 0.1.
// Path 0 runs from (0.5, 0.5) three vertices 1 apart; path 1 runs back
// along y = 1.5, linked from path 0's end.
const float z = 0.9f;
std::vector<sim_poly> twopaths(int dir0, uint8_t link1)
{
    return {{{{0.5f, 0.5f, z}, {1.5f, 0.5f, z}, {2.5f, 0.5f, z}}, dir0, 0},
            {{{2.5f, 1.5f, z}, {0.5f, 1.5f, z}}, 1, link1}};
}
} // namespace

class SimRaster : public SimTest {
protected:
    int path = 0, move = 0;
    double fraction = 0.0;
    float tool[3] = {-7, -7, -7};
    int rect[4] = {0, 0, 0, 0};

    image *run(double &length, int n = 0, int *cells = nullptr)
    {
        float size[3], origin[3];
        sim_canvasbox(size, origin);
        return cam_rasteroplength(0, &path, &move, &fraction, &length, size, origin, tool, rect, n, cells);
    }
    float at(const image *img, float x, float y)
    {
        const auto p = pixelof(x, y);
        return pixel(img, p[0], p[1]);
    }
};

TEST_F(SimRaster, WalksByCutLengthAndResumes)
{
    struct Case {
        const char *name;
        int dir0;
        int path, move;
        double fraction, length;
        int outpath, outmove;
        double outfraction, counted;
        float tool[2];
    };
    const Case cases[] = {
        {"stops half way along segment 1", 1, 0, 0, 0.0, 1.5, 0, 1, 0.5, 1.5, {2.0f, 0.5f}},
        {"resumes at minus the fraction, into path 1", 1, 0, 1, 0.5, 1.0, 1, 0, 0.25, 1.0, {2.0f, 1.5f}},
        {"an exact end keeps fraction 1 on the last segment", 1, 0, 0, 0.0, 2.0, 0, 1, 1.0, 2.0, {2.5f, 0.5f}},
        {"resuming from fraction 1 finishes the path", 1, 0, 1, 1.0, 0.5, 1, 0, 0.25, 0.5, {2.0f, 1.5f}},
        {"length to spare ends the walk", 1, 0, 0, 0.0, 100.0, -1, 0, 0.0, 4.0, {0.5f, 1.5f}},
        {"a reverse path starts at its last vertex", -1, 0, 0, 0.0, 0.5, 0, 0, 0.5, 0.5, {2.0f, 0.5f}},
        {"reverse move 1 is between vertices 1 and 0", -1, 0, 1, 0.0, 0.25, 0, 1, 0.25, 0.25, {1.25f, 0.5f}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        useslot(makeslot(twopaths(c.dir0, 0)));
        path = c.path, move = c.move, fraction = c.fraction;
        double length = c.length;
        image *img = run(length);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(path, c.outpath);
        EXPECT_EQ(move, c.outmove);
        EXPECT_NEAR(fraction, c.outfraction, 1e-9);
        EXPECT_NEAR(length, c.counted, 1e-6);
        EXPECT_NEAR(tool[0], c.tool[0], 1e-6);
        EXPECT_NEAR(tool[1], c.tool[1], 1e-6);
        EXPECT_NEAR(tool[2], z, 1e-6);
        EXPECT_EQ(img->width, sim_width);
        img_free(img);
        toolpath_free(cam_ops[0].toolpath);
    }
}

// The first stretch is cut up to the tool and no further; the second cuts
// the rest of path 0 and the start of path 1, never the first again.
TEST_F(SimRaster, DrawsUpToTheToolAtItsDepth)
{
    useslot(makeslot(twopaths(1, 0)));
    double length = 1.5;
    image *a = run(length);
    ASSERT_NE(a, nullptr);
    EXPECT_NEAR(at(a, 0.5f, 0.5f), 0.1f, 1e-6);
    EXPECT_NEAR(at(a, 1.9f, 0.5f), 0.1f, 1e-6);
    EXPECT_EQ(at(a, 2.2f, 0.5f), 0.0f);
    EXPECT_EQ(at(a, 2.0f, 1.5f), 0.0f);
    length = 1.0;
    image *b = run(length);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(at(b, 0.6f, 0.5f), 0.0f);
    EXPECT_NEAR(at(b, 2.4f, 0.5f), 0.1f, 1e-6);
    EXPECT_NEAR(at(b, 2.1f, 1.5f), 0.1f, 1e-6);
    EXPECT_EQ(at(b, 1.5f, 1.5f), 0.0f);
    img_free(a);
    img_free(b);
}

TEST_F(SimRaster, LinkDrawnOnlyOnEnteringALinkedPath)
{
    struct Case {
        const char *name;
        uint8_t flags;
        int move;
        double fraction;
        bool link;
    };
    const Case cases[] = {
        {"linked, entered at move 0", PATH_LINK, 0, 0.0, true},
        {"linked, resumed inside move 0", PATH_LINK, 0, 0.25, false},
        {"not linked", 0, 0, 0.0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        useslot(makeslot(twopaths(1, c.flags)));
        path = 1, move = c.move, fraction = c.fraction;
        double length = 0.5;
        image *img = run(length);
        ASSERT_NE(img, nullptr);
        // Half way up the link from (2.5, 0.5) to (2.5, 1.5).
        EXPECT_EQ(at(img, 2.5f, 1.0f) > 0.0f, c.link);
        img_free(img);
        toolpath_free(cam_ops[0].toolpath);
    }
}

TEST_F(SimRaster, NothingCutGivesNoImage)
{
    testlog_capture log;
    const int flagged = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 1);
    useslot(makeslot(twopaths(1, 0)));
    for (double want : {0.0, -1.0}) {
        path = 0, move = 1, fraction = 0.5;
        double length = want;
        EXPECT_EQ(run(length), nullptr);
        EXPECT_EQ(path, 0);
        EXPECT_EQ(move, 1);
        EXPECT_EQ(fraction, 0.5);
        EXPECT_EQ(tool[0], -7.0f); // the tool stays where it was
    }
    EXPECT_TRUE(log.contains("null rect"));
    cfg_seti(cfg_debuginfo, flagged);
    // Every vertex above the stock top: lines drawn, still nothing cut.
    useslot(makeslot({{{{0.5f, 0.5f, 1.2f}, {2.5f, 0.5f, 1.3f}}}}));
    path = 0, move = 0, fraction = 0.0;
    double length = 1.0;
    EXPECT_EQ(run(length), nullptr);
    EXPECT_EQ(move, 0);
    EXPECT_NEAR(fraction, 1.0 / std::sqrt(4.01), 1e-7); // 3D length: the segment climbs 0.1
}

TEST_F(SimRaster, CellsMarkedWithinTheMargin)
{
    // Four cells a side, one unit each, rows counting up from y = 0. The
    // margin is 0.51 diameters (0.032) and two pixels (0.125).
    struct Case {
        const char *name;
        float y;
        bool row0;
    };
    const Case cases[] = {
        {"inside row 1", 1.5f, false},
        {"just past row 0's top, within the margin", 1.12f, true},
        {"beyond the margin", 1.3f, false},
        {"inside row 0", 0.5f, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        useslot(makeslot({{{{1.2f, c.y, z}, {1.8f, c.y, z}}}}));
        path = 0, move = 0, fraction = 0.0;
        int cells[16] = {};
        double length = 10.0;
        image *img = run(length, 4, cells);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(cells[0 * 4 + 1] != 0, c.row0);
        EXPECT_EQ(cells[0 * 4 + 0], 0); // column 0 ends 0.2 short of x = 1.2
        EXPECT_EQ(cells[(int)c.y * 4 + 1], 1);
        // The widened rectangle holds every pixel the dilation changed.
        const float *px = (const float *)img->pixels;
        for (int y = 0; y < img->height; y++)
            for (int x = 0; x < img->width; x++)
                if (px[(size_t)y * img->width + x] != 0.0f)
                    ASSERT_TRUE(x >= rect[0] && x < rect[2] && y >= rect[1] && y < rect[3]) << x << "," << y;
        img_free(img);
        toolpath_free(cam_ops[0].toolpath);
    }
}

TEST_F(SimRaster, RefusesWhatItMustNotRead)
{
    testlog_capture log;
    const int slot = makeslot(twopaths(1, 0));
    useslot(slot);
    struct Case {
        const char *name;
        int generating, slot, path, move;
    };
    const Case cases[] = {
        {"generating", 1, slot, 0, 0},
        {"no toolpath slot", 0, -1, 0, 0},
        {"finished (path -1)", 0, slot, -1, 0},
        {"move -1", 0, slot, 0, -1},
        {"path below -1", 0, slot, -3, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cam_ops[0].generating = c.generating, cam_ops[0].toolpath = c.slot;
        path = c.path, move = c.move, fraction = 0.0;
        double length = 1.0;
        EXPECT_EQ(run(length), nullptr);
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(length, 1.0);
    }
    useslot(slot);
    // A damaged slot: a sorted entry naming a path past the table, then a
    // path whose vertices run past the array.
    toolpath_pushsorted(slot, 7, 1);
    path = 0, move = 0;
    double length = 1.0;
    EXPECT_EQ(run(length), nullptr);
    EXPECT_TRUE(log.contains("names path 7"));
    toolpaths[slot].num_sorted--;
    toolpaths[slot].paths[1].count = 1000;
    EXPECT_EQ(run(length), nullptr);
    EXPECT_TRUE(log.contains("runs past"));
    toolpaths[slot].paths[1].count = 2;
    // No operation record of that index, and cells without counters.
    float size[3], origin[3];
    sim_canvasbox(size, origin);
    EXPECT_EQ(cam_rasteroplength(cam_maxops, &path, &move, &fraction, &length, size, origin, nullptr, nullptr, 0,
                                 nullptr),
              nullptr);
    EXPECT_EQ(cam_rasteroplength(0, &path, &move, &fraction, &length, size, origin, nullptr, nullptr, 16, nullptr),
              nullptr);
}
