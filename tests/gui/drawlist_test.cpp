// Sector layout, windows and draw lists: splits, capacities, merging of
// draws, the text pool and clip, images, arrows, and the flush order and
// truncation seen through the recording table.
#include "guiharness.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct DrawTest : testing::Test {
    void SetUp() override
    {
        harness_start();
        gui_readstyle();
        gui_resetlists();
        gui_depth = 0;
        gui_curwindow = 0;
        gui_refusedwindows = 0;
    }
    void TearDown() override { harness_stop(); }
    void push(gui_rect r) { gui_sectors[gui_sectorcount++] = r; }
};

TEST_F(DrawTest, RowAndColumnSplits)
{
    struct Case {
        bool row;
        double a, b;
        gui_rect first, second;
    };
    const Case cases[] = {
        {true, 100, 1, {10, 5, 100, 40}, {110, 5, 200, 40}},
        {true, 0.5, 0.5, {10, 5, 150, 40}, {160, 5, 150, 40}},
        {true, 400, 0, {10, 5, 300, 40}, {310, 5, 0, 40}}, // cut to the sector
        {false, 30, 1, {10, 5, 300, 30}, {10, 35, 300, 10}},
        {false, 30, 30, {10, 5, 300, 30}, {10, 35, 300, 30}}, // runs past the bottom
    };
    for (const Case &c : cases) {
        gui_sectorcount = 0;
        push({10, 5, 300, 40});
        if (c.row)
            gui_rowsector(2, c.a, c.b);
        else
            gui_colsector(2, c.a, c.b);
        ASSERT_EQ(gui_sectorcount, 2);
        const gui_rect &top = gui_sectors[1], &next = gui_sectors[0];
        EXPECT_EQ(top.x, c.first.x);
        EXPECT_EQ(top.y, c.first.y);
        EXPECT_EQ(top.w, c.first.w);
        EXPECT_EQ(top.h, c.first.h);
        EXPECT_EQ(next.x, c.second.x);
        EXPECT_EQ(next.y, c.second.y);
        EXPECT_EQ(next.w, c.second.w);
        EXPECT_EQ(next.h, c.second.h);
    }
}

TEST_F(DrawTest, SplitCapacity)
{
    for (int i = 0; i < 254; i++)
        push({0, 0, 100, 100});
    testing::internal::CaptureStdout();
    gui_rowsector(3, 1.0, 1.0, 1.0); // 256: stored, and already reported
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("!!! gui rowsectors overflow (256) !!!"), std::string::npos);
    EXPECT_EQ(gui_sectorcount, 256);
    testing::internal::CaptureStdout();
    gui_colsector(2, 1.0, 1.0); // would be 257: nothing stored
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("!!! gui colsectors overflow (257) !!!"), std::string::npos);
    EXPECT_EQ(gui_sectorcount, 256);
}

TEST_F(DrawTest, RelativeWindowAtTheWidgetJustPopped)
{
    push({200, 300, 120, 20});
    gui_popframe(0);
    gui_beginwindow(9, 0, 1, 1, 150, 0, nullptr);
    ASSERT_EQ(gui_depth, 1);
    gui_rect r = gui_window[0].rect;
    EXPECT_EQ(r.x, 200);
    EXPECT_EQ(r.w, 120);
    EXPECT_EQ(r.y, 300 + 600);
    EXPECT_EQ(r.h, 150);
    gui_endwindow();
}

TEST_F(DrawTest, WindowNestingCapacity)
{
    for (int i = 0; i < 17; i++)
        gui_beginwindow(i + 1, 0, 0, 10, 10, 1, nullptr);
    EXPECT_EQ(gui_depth, 16);
    EXPECT_EQ(gui_curwindow, 16);
    gui_endwindow(); // the refused 17th
    EXPECT_EQ(gui_depth, 16);
    for (int i = 0; i < 16; i++)
        gui_endwindow();
    EXPECT_EQ(gui_depth, 0);
    EXPECT_EQ(gui_curwindow, 0);
    gui_end(); // unmatched
    EXPECT_EQ(gui_depth, 0);
}

TEST_F(DrawTest, OutsidePressClosesDropDownSameFrame)
{
    gui_openid = 42;
    gui_popupwindow = 7;
    harness_scene = [] {
        gui_beginwindow(7, 100, 100, 50, 50, 1, nullptr);
        gui_endwindow();
    };
    harness_move(400, 400);
    harness_frame();
    harness_press();
    harness_scene = [] {
        gui_beginwindow(7, 100, 100, 50, 50, 1, nullptr);
        EXPECT_EQ(gui_openid, -1);
        gui_dropdownwindow = 7;
        gui_endwindow();
    };
    gui_dropdownwindow = 7;
    gui_popupwindow = 7;
    input_takemotion();
    input_endframe();
    gui_resetlists();
    gui_beginwindow(7, 100, 100, 50, 50, 1, nullptr);
    EXPECT_EQ(gui_openid, -1);
    gui_endwindow();
}

TEST_F(DrawTest, BoxesMergeAndWindowsSplitDraws)
{
    gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
    gui_addbox({0, 0, 10, 10}, 1, 0, 0, 1, 0);
    gui_addbox({20, 0, 10, 10}, 0, 1, 0, 1, 0);
    EXPECT_EQ(gui_counts.draws, 1);
    EXPECT_EQ(gui_draws[0].count, 12);
    gui_beginwindow(2, 0, 0, 100, 100, 1, nullptr);
    gui_addbox({0, 0, 5, 5}, 1, 1, 1, 1, 0);
    EXPECT_EQ(gui_counts.draws, 2);
    gui_addcircle(50, 50, 10, 30, 1, 1, 1, 1, {0, 0, 800, 600});
    gui_addcircle(50, 50, 10, 30, 1, 1, 1, 1, {0, 0, 800, 600});
    EXPECT_EQ(gui_counts.draws, 4);
    gui_endwindow();
    // The inner window flushed alone and was drawn in front of its parent.
    ASSERT_EQ(harness_rec.primitives.size(), 3u);
    float inner = harness_rec.primitives[0].verts[0].z;
    EXPECT_EQ(gui_counts.draws, 1);
    EXPECT_EQ(gui_counts.verts, 12);
    gui_endwindow();
    ASSERT_EQ(harness_rec.primitives.size(), 4u);
    EXPECT_EQ(harness_rec.primitives[3].verts.size(), 12u);
    EXPECT_GT(inner, harness_rec.primitives[3].verts[0].z);
    EXPECT_EQ(gui_counts.verts, 0);
    EXPECT_EQ(gui_counts.draws, 0);
}

TEST_F(DrawTest, SeventeenthDrawDroppedVerticesCounted)
{
    gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
    for (int i = 0; i < 17; i++)
        gui_addcircle(50, 50, 10, 90, 1, 1, 1, 1, {0, 0, 800, 600});
    EXPECT_EQ(gui_counts.draws, 16);
    EXPECT_EQ(gui_counts.verts, 17 * 5);
    gui_endwindow();
    EXPECT_EQ(harness_rec.primitives.size(), 16u);
}

TEST_F(DrawTest, VertexCapacityDropsWholeCall)
{
    static gui_vertex many[gui_maxverts];
    gui_addverts(4, gui_maxverts - 2, many, 1);
    ASSERT_EQ(gui_counts.verts, gui_maxverts - 2);
    gui_addverts(4, 3, many, 1);
    EXPECT_EQ(gui_counts.verts, gui_maxverts - 2);
    gui_addverts(4, 2, many, 1);
    EXPECT_EQ(gui_counts.verts, gui_maxverts);
}

TEST_F(DrawTest, ShapesStopAt64Points)
{
    gui_addcircle(0, 0, 10, 1, 1, 1, 1, 1, {-20, -20, 40, 40});
    EXPECT_EQ(gui_draws[0].count, 64);
    gui_drawshape(0, 0, 10, 0, 1000, 1, 1, 1, 1, {-20, -20, 40, 40});
    EXPECT_EQ(gui_draws[1].count, 64);
    gui_drawshape(0, 0, 10, 90, 90, 1, 1, 1, 1, {-20, -20, 40, 40});
    EXPECT_EQ(gui_draws[2].count, 1);
}

TEST_F(DrawTest, TextPoolBoundary)
{
    std::string big(8000, 'a');
    ASSERT_TRUE(gui_addtext(0, 0, 1, 0, 1, 1, 1, big.c_str(), {0, 0, 100, 100}));
    std::string rest(8191 - 8001 - 1, 'b'); // brings the pool to 8191 with its zero in the last byte
    EXPECT_TRUE(gui_addtext(0, 0, 1, 0, 1, 1, 1, rest.c_str(), {0, 0, 100, 100}));
    EXPECT_EQ(gui_counts.chars, 8191);
    EXPECT_FALSE(gui_addtext(0, 0, 1, 0, 1, 1, 1, "c", {0, 0, 100, 100}));
    gui_resetlists();
    std::string over(8192, 'a');
    EXPECT_FALSE(gui_addtext(0, 0, 1, 0, 1, 1, 1, over.c_str(), {0, 0, 100, 100}));
    std::string whole(8191, 'a'); // its zero takes the pool's last byte
    EXPECT_TRUE(gui_addtext(0, 0, 1, 0, 1, 1, 1, whole.c_str(), {0, 0, 100, 100}));
    EXPECT_EQ(gui_chars[8191], 0);
}

TEST_F(DrawTest, TextClipAndImages)
{
    gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
    gui_addtext(10, 10, 1, 0, 1, 0, 0, "wide", {5, 20, 100, 30});
    gui_addtext(10, 10, 1, 0, 1, 0, 0, "thin", {5, 20, 2, 30});
    gui_addtext(10, 10, 1, 0, 1, 0, 0, "flat", {5, 20, 30, 2});
    gui_addimage(-1, 1, 1, 1, 0.2f, {1.5f, 2.5f, 10.9f, 10});
    gui_endwindow();
    ASSERT_EQ(harness_rec.texts.size(), 1u);
    const rec_text &t = harness_rec.texts[0];
    EXPECT_EQ(t.text, "wide");
    EXPECT_EQ(t.scissoron, 1);
    EXPECT_EQ(t.scissor[0], 6);
    EXPECT_EQ(t.scissor[1], 600 - 21 - 28);
    EXPECT_EQ(t.scissor[2], 98);
    EXPECT_EQ(t.scissor[3], 28);
    EXPECT_EQ(harness_rec.scissoron, 0);
    ASSERT_EQ(harness_rec.images.size(), 1u);
    const rec_image &im = harness_rec.images[0];
    EXPECT_EQ(im.colour[0], 0);
    EXPECT_EQ(im.colour[3], 255);
    EXPECT_EQ(im.rect[0], 1);
    EXPECT_EQ(im.rect[2], 10);
}

TEST_F(DrawTest, ArrowToItselfGivesThreeLinesNoNaN)
{
    float a[2] = {50, 60};
    gui_addarrow(a, a, 1, 1, 1, 1);
    ASSERT_EQ(gui_counts.draws, 1);
    EXPECT_EQ(gui_draws[0].count, 6);
    for (int i = 0; i < 6; i++) {
        EXPECT_FALSE(std::isnan(gui_verts[i].x));
        EXPECT_FALSE(std::isnan(gui_verts[i].y));
    }
    float b[2] = {150, 60};
    gui_addarrow(a, b, 1, 1, 1, 1);
    // The head sits at a, 7.5 px along and 3.75 px aside (to the precision
    // of the fast inverse square root).
    EXPECT_NEAR(gui_verts[7].x, 57.5f, 0.05f);
    EXPECT_NEAR(gui_verts[7].y, 63.75f, 0.05f);
}

TEST_F(DrawTest, ColourBytesTruncate)
{
    gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
    gui_addbox({0, 0, 10, 10}, 0.5f, 1.5f, -1.0f, 0.999f, 0);
    gui_endwindow();
    const gui_drawvertex &v = harness_rec.primitives[0].verts[0];
    EXPECT_EQ(v.r, 127);
    EXPECT_EQ(v.g, 255);
    EXPECT_EQ(v.b, 0);
    EXPECT_EQ(v.a, 254);
}

// Expected shades from Python's colorsys with a shade step of 0.05.
TEST_F(DrawTest, HotAndPressColours)
{
    struct Case {
        float widget[3], hot[3], press[3];
    };
    const Case cases[] = {
        {{0.901961f, 0.921569f, 0.960784f}, {0.98878f, 0.99252f, 1.0f}, {0.8551f, 0.88199f, 0.93578f}},
        {{0.25f, 0.25f, 0.28f}, {0.31114f, 0.31114f, 0.33f}, {0.2213f, 0.2213f, 0.255f}},
        {{0.6f, 0.2f, 0.1f}, {0.65f, 0.24267f, 0.14083f}, {0.575f, 0.18017f, 0.08146f}},
    };
    for (const Case &c : cases) {
        for (int i = 0; i < 3; i++)
            cfg_setf(cfg_guiwidgetcolour + 4 * i, c.widget[i]);
        cfg_setf(cfg_guishadestep, 0.05f);
        gui_readstyle();
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(gui_hotcolour[i], c.hot[i], 1e-4);
            EXPECT_NEAR(gui_presscolour[i], c.press[i], 1e-4);
        }
    }
}

} // namespace
