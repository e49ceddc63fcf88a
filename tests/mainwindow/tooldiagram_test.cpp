// The tool diagram: its numbers for the cases where the drawing changes
// shape (ball ends, inverted radii, steep tapers, narrow tools, short
// flutes), the outlines of random tools against numpy and shapely
// (tooldiagram_reference.py), values that cannot be drawn, and what the
// main window's pass queues for it.
#include "mainwindowfixture.h"
#include "testchild.h"
#include "testtemp.h"

#include "gui/gui.h"
#include "mainwindow/tooldiagram.h"
#include "mainwindow/tools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The harness's fonts: 7 px a character.
int sevenpx(const char *text)
{
    return 7 * (int)strlen(text);
}

// An 800 x 600 inner area: X0 = Y0 = 4, CX = 404, CY = 304, bottom 604.
const gui_rect cell = {0.0f, 0.0f, 808.0f, 608.0f};
constexpr int padding = 4;
constexpr float cx = 404.0f;

tooldiagram_record diagram(int type, float d, float v, float l, int units = 1, const gui_rect &c = cell)
{
    tooldiagram_record r;
    tooldiagram_compute({type, d, v, l, units}, c, padding, sevenpx, &r);
    return r;
}

void expectpoint(const float *p, float x, float y)
{
    EXPECT_NEAR(p[0], x, 1e-3f);
    EXPECT_NEAR(p[1], y, 1e-3f);
}

} // namespace

// Scale 200 px a unit (W / 2 over D + L = 2), half width 50, bottom line
// at CY + 25 = 329.
TEST(ToolDiagram, CylinderCornersAndReadouts)
{
    struct Case {
        const char *what;
        float d, r, l;
        float circle[3];         // centre and radius
        float radiustext[2];     // the corner radius's read-out
        const char *diameter;    // and the diameter's
        float diametertext[2];
        float leftarrow[4];      // the width's left arrow, head first
        int npoints;
        float bottom[2][2];      // where the left corner ends and the right one starts
    };
    const Case cases[] = {
        // Radius D/2: a ball end, the arcs meet on the centre line and the
        // bottom has no length. Narrow (50 <= 0.15 W): outward arrows of
        // 0.75 hw and the read-out right of them at CX + 2 hw + 5.
        {"ball end", 0.5f, 0.25f, 1.5f, {404, 279, 50}, {457, 265}, "0.500\"", {509, 487},
         {354, 494, 316.5f, 494}, 24, {{404, 329}, {404, 329}}},
        // Inverted radius: the circle's centre under the left edge, its
        // read-out ending at that centre, the tip 25 px under the bottom line.
        {"inverted", 0.5f, -0.125f, 1.5f, {354, 354, -25}, {305, 340}, "0.500\"", {509, 487},
         {354, 494, 316.5f, 494}, 24, {{379, 354}, {429, 354}}},
        // Square end, wide (hw 160 > 120): inward arrows of hw / 2 and the
        // read-out centred; scale 160, bottom line 384.
        {"square", 2.0f, 0.0f, 0.5f, {244, 384, 0}, {247, 370}, "2.000\"", {383, 509},
         {244, 516, 324, 516}, 4, {{244, 384}, {564, 384}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        tooldiagram_record r = diagram(1, c.d, c.r, c.l);
        ASSERT_EQ(r.drawn, 1);
        ASSERT_EQ(r.ncircles, 1);
        EXPECT_NEAR(r.circles[0].cx, c.circle[0], 1e-3f);
        EXPECT_NEAR(r.circles[0].cy, c.circle[1], 1e-3f);
        EXPECT_NEAR(r.circles[0].radius, c.circle[2], 1e-3f);
        EXPECT_EQ(r.circles[0].step, 9.0f);
        ASSERT_EQ(r.ntexts, 2);
        EXPECT_EQ(r.texts[0].x, c.radiustext[0]);
        EXPECT_EQ(r.texts[0].y, c.radiustext[1]);
        EXPECT_STREQ(r.texts[1].text, c.diameter);
        EXPECT_EQ(r.texts[1].x, c.diametertext[0]);
        EXPECT_EQ(r.texts[1].y, c.diametertext[1]);
        ASSERT_EQ(r.narrows, 2);
        expectpoint(r.arrows[0].a, c.leftarrow[0], c.leftarrow[1]);
        expectpoint(r.arrows[0].b, c.leftarrow[2], c.leftarrow[3]);
        ASSERT_EQ(r.npoints, c.npoints);
        int half = c.npoints / 2;
        expectpoint(r.points[half - 1], c.bottom[0][0], c.bottom[0][1]);
        expectpoint(r.points[half], c.bottom[1][0], c.bottom[1][1]);
        float lowest = 0.0f;
        for (int i = 0; i < r.npoints; i++)
            lowest = fmaxf(lowest, r.points[i][1]);
        EXPECT_NEAR(lowest, c.bottom[0][1], 1e-3f);
    }
}

// With a small taper the cutter is a ball-nosed cylinder: the ball points
// run from A + 5 degrees to just under 180 - A in 5-degree steps, and the
// tangent points sit near the ball's equator.
TEST(ToolDiagram, SmallTaperIsABallNosedCylinder)
{
    const float angle = 0.5f;
    tooldiagram_record r = diagram(4, 0.25f, angle, 0.5f);
    ASSERT_EQ(r.drawn, 1);
    ASSERT_EQ(r.ncircles, 1);
    float bcx = r.circles[0].cx, bcy = r.circles[0].cy, rb = r.circles[0].radius;
    EXPECT_EQ(bcx, cx);
    ASSERT_EQ(r.npoints, 3 + 35 + 3); // 5.5, 10.5, ..., 175.5
    for (int j = 1; j <= 35; j++) {
        const float *p = r.points[2 + j];
        EXPECT_NEAR(hypotf(p[0] - bcx, p[1] - bcy), rb, 1e-3f);
        EXPECT_NEAR(atan2f(p[1] - bcy, bcx - p[0]) * 180.0f / (float)M_PI, angle + 5.0f * (float)j, 1e-3f) << j;
    }
    float t = cx - r.points[2][0];
    EXPECT_LT(fabsf(r.points[0][0] - r.points[2][0]), 0.05f * t); // next to no taper
    EXPECT_NEAR(r.points[2][1], bcy, rb * sinf(angle * (float)M_PI / 180.0f) + 1e-3f);
    EXPECT_NEAR(r.points[2][1], r.points[r.npoints - 3][1], 1e-3f);
}

// From a taper of 87.5 degrees no ball point is left: the outline runs
// straight from one tangent point to the other.
TEST(ToolDiagram, SteepTaperLeavesNoBallPoints)
{
    const float angles[] = {87.5f, 88.0f, 89.9f};
    for (float a : angles) {
        SCOPED_TRACE(a);
        tooldiagram_record r = diagram(4, 0.25f, a, 1.0f);
        ASSERT_EQ(r.drawn, 1);
        ASSERT_EQ(r.npoints, 6);
        EXPECT_EQ(r.points[2][1], r.points[3][1]);
        EXPECT_NEAR(r.points[2][0] + r.points[3][0], 2.0f * cx, 1e-3f);
    }
    EXPECT_EQ(diagram(4, 0.25f, 87.4f, 1.0f).npoints, 7);
}

// Narrow tools and short flutes put their arrows outside the dimension and
// the read-out beyond them: right of the right arrow for a width, above the
// upper arrow for a height.
TEST(ToolDiagram, NarrowToolsAndShortFlutesGetOutwardArrows)
{
    enum { width, height };
    struct Case {
        const char *what;
        int type;
        float d, v, l;
        int arrow, text, kind;
        bool inward;
    };
    const Case cases[] = {
        {"cylinder narrow", 1, 0.5f, 0.0f, 1.5f, 0, 1, width, false},
        {"cylinder wide", 1, 2.0f, 0.0f, 0.5f, 0, 1, width, true},
        {"tapered narrow tip", 2, 0.1f, 10.0f, 1.0f, 0, 1, width, false},
        {"tapered wide tip", 2, 1.0f, 10.0f, 1.0f, 0, 1, width, true},
        {"tapered long flute", 2, 0.1f, 10.0f, 1.0f, 2, 2, height, true},
        {"tapered short flute", 2, 1.0f, 10.0f, 0.1f, 2, 2, height, false},
        {"tapered narrow top", 2, 0.02f, 1.0f, 0.2f, 4, 3, width, false},
        {"tapered wide top", 2, 0.1f, 30.0f, 1.0f, 4, 3, width, true},
        {"V-bit narrow", 3, 0.25f, 10.0f, 0.0f, 0, 1, width, false},
        {"V-bit wide", 3, 0.25f, 30.0f, 0.0f, 0, 1, width, true},
        {"V-bit long flute", 3, 0.25f, 10.0f, 0.0f, 2, 2, height, true},
        {"V-bit short flute", 3, 0.25f, 170.0f, 0.0f, 2, 2, height, false},
        {"ball narrow tangent", 4, 0.01f, 10.0f, 1.0f, 0, 1, width, false},
        {"ball wide tangent", 4, 0.5f, 10.0f, 1.0f, 0, 1, width, true},
        {"ball long flute", 4, 0.01f, 10.0f, 1.0f, 2, 2, height, true},
        {"ball short flute", 4, 0.1f, 60.0f, 1.0f, 2, 2, height, false},
        {"ball narrow top", 4, 0.01f, 1.0f, 0.2f, 4, 3, width, false},
        {"ball wide top", 4, 0.1f, 30.0f, 1.0f, 4, 3, width, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        tooldiagram_record r = diagram(c.type, c.d, c.v, c.l);
        ASSERT_EQ(r.drawn, 1);
        ASSERT_GT(r.narrows, c.arrow + 1);
        ASSERT_GT(r.ntexts, c.text);
        const tooldiagram_segment &first = r.arrows[c.arrow], &second = r.arrows[c.arrow + 1];
        const tooldiagram_text &t = r.texts[c.text];
        int axis = c.kind == width ? 0 : 1;
        // The first arrow's head is on the left or upper edge.
        EXPECT_EQ(first.b[axis] > first.a[axis], c.inward);
        EXPECT_EQ(second.b[axis] < second.a[axis], c.inward);
        if (c.inward)
            continue;
        if (c.kind == width)
            EXPECT_GT(t.x, second.b[0]);
        else
            EXPECT_LT(t.y, first.b[1]);
    }
}

// Inches and millimetres draw the same cutter; only the read-outs' digits
// and suffix (and so their widths and places) change.
TEST(ToolDiagram, UnitsChangeOnlyTheReadouts)
{
    struct Case {
        int type;
        float d, v, l;
        const char *inch, *metric; // the diameter-like read-out, text 1
    };
    const Case cases[] = {
        {1, 0.5f, 0.125f, 1.5f, "0.500\"", "0.5mm"},
        {2, 0.1f, 10.0f, 1.0f, "0.100\"", "0.1mm"},
        {3, 0.25f, 90.0f, 0.0f, "0.250\"", "0.2mm"},
        {4, 0.125f, 5.0f, 1.0f, "0.249\"", "0.2mm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        tooldiagram_record in = diagram(c.type, c.d, c.v, c.l, 1), mm = diagram(c.type, c.d, c.v, c.l, 2);
        ASSERT_EQ(in.drawn, 1);
        ASSERT_EQ(mm.drawn, 1);
        ASSERT_EQ(in.npoints, mm.npoints);
        EXPECT_EQ(memcmp(in.points, mm.points, sizeof(float) * 2 * (size_t)in.npoints), 0);
        ASSERT_EQ(in.nlines, mm.nlines);
        EXPECT_EQ(memcmp(in.lines, mm.lines, sizeof(tooldiagram_segment) * (size_t)in.nlines), 0);
        ASSERT_EQ(in.narrows, mm.narrows);
        EXPECT_EQ(memcmp(in.arrows, mm.arrows, sizeof(tooldiagram_segment) * (size_t)in.narrows), 0);
        ASSERT_EQ(in.narcs, mm.narcs);
        EXPECT_EQ(memcmp(in.arcs, mm.arcs, sizeof(tooldiagram_arc) * (size_t)in.narcs), 0);
        ASSERT_EQ(in.ncircles, mm.ncircles);
        EXPECT_EQ(memcmp(in.circles, mm.circles, sizeof(tooldiagram_circle) * (size_t)in.ncircles), 0);
        ASSERT_EQ(in.ntexts, mm.ntexts);
        EXPECT_STREQ(in.texts[1].text, c.inch);
        EXPECT_STREQ(mm.texts[1].text, c.metric);
    }
}

// Values the drawing cannot scale leave only the backdrop and the heading:
// no list holds anything that could become a NaN or infinite vertex.
TEST(ToolDiagram, DegenerateValuesDrawNothing)
{
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char *what;
        int type;
        float d, v, l;
        gui_rect cell;
    };
    const Case cases[] = {
        {"cylinder D + L = 0", 1, 0.0f, 0.0f, 0.0f, cell},
        {"cylinder D + L < 0", 1, -1.0f, 0.0f, 0.5f, cell},
        {"cylinder no width", 1, 0.5f, 0.0f, 1.0f, {0, 0, 8, 608}},
        {"tapered 0", 2, 0.1f, 0.0f, 1.0f, cell},
        {"tapered 90", 2, 0.1f, 90.0f, 1.0f, cell},
        {"tapered L + D/2 = 0", 2, 0.0f, 10.0f, 0.0f, cell},
        {"V-bit 0", 3, 0.25f, 0.0f, 0.0f, cell},
        {"V-bit 180", 3, 0.25f, 180.0f, 0.0f, cell},
        {"V-bit no diameter", 3, 0.0f, 90.0f, 0.0f, cell},
        {"ball 0", 4, 0.1f, 0.0f, 1.0f, cell},
        {"ball 90", 4, 0.1f, 90.0f, 1.0f, cell},
        {"ball L + Rb cos A = 0", 4, 0.0f, 10.0f, 0.0f, cell},
        {"NaN radius", 1, 0.5f, nan, 1.0f, cell},
        {"infinite flute", 2, 0.1f, 10.0f, inf, cell},
        {"radius past any window", 1, 0.5f, 1.0e30f, 1.0f, cell},
        {"no type", 0, 0.5f, 0.0f, 1.0f, cell},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        tooldiagram_record r = diagram(c.type, c.d, c.v, c.l, 1, c.cell);
        EXPECT_EQ(r.drawn, 0);
        EXPECT_EQ(r.npoints + r.nlines + r.narrows + r.narcs + r.ncircles + r.ntexts, 0);
    }
}

// numpy computes the outline of 40 random valid tools of each type from the
// drawing rules, and the recorded strip must equal it within 1e-3 px;
// shapely finds every strip simple and its own mirror image about CX. The
// ball of type 4 is sampled from A + 5 degrees, which is symmetric only when
// 180 - 2A is a multiple of 5: half of those tools take such angles and are
// held to the mirror test.
TEST(ToolDiagram, OutlinesMatchAnIndependentComputation)
{
    struct Tool {
        tooldiagram_input in;
        bool symmetric;
        tooldiagram_record r;
    };
    std::mt19937 random(195);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(random); };
    auto tenths = [&](int lo, int hi) { return (float)std::uniform_int_distribution<int>(lo, hi)(random) / 10.0f; };
    const gui_rect cells[] = {{300, 100, 700, 560}, {0, 38, 640, 600}};
    std::vector<Tool> tools;
    for (int type = 1; type <= 4; type++)
        for (int i = 0; i < 40; i++) {
            tooldiagram_input in = {type, 0, 0, 0, 1 + i % 2};
            bool symmetric = true;
            switch (type) {
            case 1:
                in.d = uniform(0.05f, 2.0f);
                in.l = uniform(0.1f, 3.0f);
                in.v = i % 8 == 0 ? 0.0f : (i % 8 == 1 ? in.d / 2.0f : uniform(-in.d / 2.0f, in.d / 2.0f));
                break;
            case 2:
                in.d = uniform(0.01f, 0.5f);
                in.v = tenths(5, 600);
                in.l = uniform(0.1f, 2.0f);
                break;
            case 3:
                in.d = uniform(0.05f, 2.0f);
                in.v = tenths(100, 1700);
                break;
            case 4:
                in.d = uniform(0.005f, 0.25f);
                in.l = uniform(in.d, 2.0f);
                symmetric = i % 2 == 0;
                in.v = symmetric ? 2.5f * (float)std::uniform_int_distribution<int>(1, 35)(random) : tenths(5, 890);
                break;
            }
            Tool t = {in, symmetric, {}};
            tooldiagram_compute(in, cells[i % 2], padding, sevenpx, &t.r);
            ASSERT_EQ(t.r.drawn, 1) << type << " " << i;
            tools.push_back(t);
        }

    const std::string in = testtemp_file("tdq"), out = testtemp_file("tda");
    {
        std::ofstream f(in);
        f.precision(9);
        f << "[";
        for (size_t n = 0; n < tools.size(); n++) {
            const Tool &t = tools[n];
            const gui_rect &c = t.r.cell;
            f << (n ? "," : "") << "{\"type\":" << t.in.type << ",\"d\":" << t.in.d << ",\"v\":" << t.in.v
              << ",\"l\":" << t.in.l << ",\"cell\":[" << c.x << "," << c.y << "," << c.w << "," << c.h
              << "],\"padding\":" << padding << ",\"points\":[";
            for (int i = 0; i < t.r.npoints; i++)
                f << (i ? "," : "") << "[" << t.r.points[i][0] << "," << t.r.points[i][1] << "]";
            f << "]}";
        }
        f << "]";
    }
    int status = testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/mainwindow/tooldiagram_reference.py", in, out},
                               120);
    ASSERT_EQ(status, 0) << "/usr/bin/python3 with python3-numpy and python3-shapely is needed";
    std::ifstream f(out);
    for (const Tool &t : tools) {
        double diff = -1.0, mirror = -1.0;
        int simple = -1;
        ASSERT_TRUE(f >> diff >> simple >> mirror);
        SCOPED_TRACE("type " + std::to_string(t.in.type) + " d " + std::to_string(t.in.d) + " v " +
                     std::to_string(t.in.v) + " l " + std::to_string(t.in.l));
        EXPECT_LE(diff, 1e-3);
        EXPECT_EQ(simple, 1);
        if (t.symmetric)
            EXPECT_LE(mirror, 1e-3);
    }
    remove(in.c_str());
    remove(out.c_str());
}

namespace {

// The diagram in the main window's pass, over the tools mode with the tool
// editor open.
class ToolDiagramPass : public MainWindow {
public:
    tools_editvalues saved;
    void SetUp() override
    {
        MainWindow::SetUp();
        saved = tools_edit;
        projectmode = 2;
        gui_sidepanel = 5;
    }
    void TearDown() override
    {
        tools_edit = saved;
        MainWindow::TearDown();
    }
    static void edit(int type, float d, float v, float l)
    {
        tools_edit = {};
        tools_edit.type = type;
        tools_edit.units = 1;
        tools_edit.flutediameter = d;
        tools_edit.value = v;
        tools_edit.flutelength = l;
    }
    static bool texted(const std::string &text)
    {
        for (const rec_text &t : harness_rec.texts)
            if (t.text == text)
                return true;
        return false;
    }
    static bool allfinite()
    {
        for (const rec_primitive &p : harness_rec.primitives)
            for (const gui_drawvertex &v : p.verts)
                if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
                    return false;
        return true;
    }
    // The outline: a line strip in the secondary text colour at 0.75.
    static const rec_primitive *outline()
    {
        for (const rec_primitive &p : harness_rec.primitives) {
            if (p.kind != 3 || p.verts.empty())
                continue;
            const gui_drawvertex &v = p.verts[0];
            if (v.a == (uint8_t)(0.75f * 255.0f) && v.r == (uint8_t)(gui_hitextcolour[0] * 255.0f) &&
                v.g == (uint8_t)(gui_hitextcolour[1] * 255.0f) && v.b == (uint8_t)(gui_hitextcolour[2] * 255.0f))
                return &p;
        }
        return nullptr;
    }
};

} // namespace

TEST_F(ToolDiagramPass, DrawsTheEditedToolUnderItsHeading)
{
    struct Case {
        int type;
        float d, v, l;
        const char *heading, *readout;
        size_t points;
    };
    const Case cases[] = {
        {1, 0.5f, 0.0f, 1.5f, "Cylinder", "0.500\"", 4},
        {2, 0.1f, 10.0f, 1.0f, "Tapered", "10.0", 6},
        {3, 0.25f, 90.0f, 0.0f, "V-Bit", "90.0", 5},
        {4, 0.125f, 87.5f, 1.0f, "Tapered Ball", "0.125\"", 6},
    };
    // A full list drops items with a (debug) log line.
    cfg_seti(cfg_debuginfo, 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.heading);
        edit(c.type, c.d, c.v, c.l);
        harness_frame();
        EXPECT_TRUE(texted(c.heading));
        EXPECT_TRUE(texted(c.readout));
        const rec_primitive *strip = outline();
        ASSERT_NE(strip, nullptr);
        EXPECT_EQ(strip->verts.size(), c.points);
        EXPECT_TRUE(allfinite());
        EXPECT_EQ(log.count("overflow"), 0);
    }
}

// The degenerate values reach the draw lists as the heading alone.
TEST_F(ToolDiagramPass, DegenerateToolsQueueOnlyFiniteVertices)
{
    struct Case {
        int type;
        float d, v, l;
        const char *heading;
    };
    const Case cases[] = {
        {1, 0.0f, 0.0f, 0.0f, "Cylinder"}, {2, 0.1f, 0.0f, 1.0f, "Tapered"},  {2, 0.1f, 90.0f, 1.0f, "Tapered"},
        {3, 0.25f, 0.0f, 0.0f, "V-Bit"},   {3, 0.25f, 180.0f, 0.0f, "V-Bit"}, {4, 0.1f, 90.0f, 1.0f, "Tapered Ball"},
        {4, 0.1f, 0.0f, 1.0f, "Tapered Ball"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.heading) + " " + std::to_string(c.v));
        edit(c.type, c.d, c.v, c.l);
        harness_frame();
        EXPECT_TRUE(texted(c.heading));
        EXPECT_EQ(outline(), nullptr);
        EXPECT_TRUE(allfinite());
    }
}

// An edited tool of no type leaves the view area as empty as no diagram
// panel at all would.
TEST_F(ToolDiagramPass, NoTypeDrawsNothing)
{
    edit(0, 0.5f, 0.0f, 1.0f);
    harness_frame();
    size_t texts = harness_rec.texts.size();
    long vertices = harness_rec.vertices;
    mainwindow_panels[panel_tooldiagram] = nullptr;
    harness_frame();
    EXPECT_EQ(harness_rec.texts.size(), texts);
    EXPECT_EQ(harness_rec.vertices, vertices);
}
