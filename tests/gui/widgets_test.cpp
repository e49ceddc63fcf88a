// The button and label family over scripted frames: colours and pointer by
// element state, the click log lines, check box and radio button returns,
// icon fonts by sector height, glyph placement, images, the drop-down's
// open and close, the title bar's drag clamp and the message-box buttons.
#include "guiharness.h"
#include "testlog.h"

#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "sys/config.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void widgets_push(const gui_rect &r)
{
    gui_sectors[gui_sectorcount++] = r;
}

gui_rect widgets_box(const gui_rect &s)
{
    float sp = (float)gui_spacing;
    return {s.x + sp, s.y + sp, s.w - sp, s.h - sp};
}

gui_rect widgets_area(const gui_rect &b)
{
    float p = (float)gui_padding;
    return {b.x + p, b.y + p, b.w - 2 * p, b.h - 2 * p};
}

// The face colour of a framed box, as bytes: the vertex at its inner
// top-left corner.
bool widgets_facecolour(const gui_rect &box, uint8_t out[3])
{
    float bw = (float)gui_borderwidth;
    for (const rec_primitive &p : harness_rec.primitives)
        for (const gui_drawvertex &v : p.verts)
            if (v.x == box.x + bw && v.y == box.y + bw) {
                out[0] = v.r;
                out[1] = v.g;
                out[2] = v.b;
                return true;
            }
    return false;
}

bool widgets_samecolour(const uint8_t got[3], const float want[3])
{
    for (int i = 0; i < 3; i++)
        if (std::abs((int)got[i] - (int)std::lround(std::fmin(std::fmax(want[i], 0.0f), 1.0f) * 255.0f)) > 1)
            return false;
    return true;
}

const rec_text *widgets_text(const std::string &s)
{
    for (const rec_text &t : harness_rec.texts)
        if (t.text == s)
            return &t;
    return nullptr;
}

struct WidgetTest : testing::Test {
    std::function<void()> body;
    int cursorafter = 0;
    void SetUp() override
    {
        harness_start();
        harness_scene = [this] {
            gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
            if (body)
                body();
            gui_endwindow();
        };
    }
    void TearDown() override { harness_stop(); }
};

const gui_rect cell = {100, 100, 200, 40};

struct Member {
    const char *name;
    std::function<int()> call;
    const char *logkind; // null: no log line on a click
};

std::vector<Member> widgets_members()
{
    static const float rgb[3] = {0.2f, 0.4f, 0.6f};
    return {
        {"button", [] { return gui_button(5, 1, 1, "Go %d", 1); }, "button"},
        {"iconbutton", [] { return gui_iconbutton(5, 40, 0, 1, "Icon"); }, "iconbutton"},
        {"iconbuttonrect", [] { return gui_iconbuttonrect(5, 40, 1, 1, "Icon"); }, "iconbutton"},
        {"radiobutton", [] { return gui_radiobutton(5, 0, 1, "Radio"); }, "radiobutton"},
        {"rgbbutton", [] { return gui_rgbbutton(5, rgb); }, "rgbbutton"},
        {"checkbox", [] { return gui_checkbox(5, 0, "Check"); }, nullptr},
        {"glyphbutton", [] { return gui_glyphbutton(5, 40, 0, 1, "Title"); }, nullptr},
    };
}

TEST_F(WidgetTest, StateColoursAndPointer)
{
    for (const Member &m : widgets_members()) {
        SetUp();
        body = [&] {
            widgets_push(cell);
            gui_elementid("%s", m.name);
            m.call();
            cursorafter = gui_cursor;
        };
        uint8_t face[3];
        harness_move(20, 20);
        harness_frames(2);
        gui_rect box = widgets_box(cell);
        ASSERT_TRUE(widgets_facecolour(box, face)) << m.name;
        EXPECT_TRUE(widgets_samecolour(face, gui_widgetcolour)) << m.name << " idle";
        EXPECT_EQ(cursorafter, 1) << m.name << " idle";
        harness_move((int)(box.x + 20), (int)(box.y + 10));
        harness_frames(2);
        ASSERT_TRUE(widgets_facecolour(box, face)) << m.name;
        EXPECT_TRUE(widgets_samecolour(face, gui_hotcolour)) << m.name << " hot";
        EXPECT_EQ(cursorafter, 9) << m.name << " hot";
        harness_press();
        harness_frames(2);
        ASSERT_TRUE(widgets_facecolour(box, face)) << m.name;
        EXPECT_TRUE(widgets_samecolour(face, gui_presscolour)) << m.name << " pressed";
        EXPECT_EQ(cursorafter, 9) << m.name << " pressed";
        harness_release();
        harness_frame();
    }
}

TEST_F(WidgetTest, ClickLogLines)
{
    for (const Member &m : widgets_members()) {
        SetUp();
        body = [&] {
            widgets_push(cell);
            gui_elementid("%s", m.name);
            m.call();
        };
        harness_frame();
        testlog_capture log;
        EXPECT_EQ(harness_click(m.name), 1) << m.name;
        gui_rect b = widgets_box(cell);
        char line[128];
        snprintf(line, sizeof(line), "%s[5] rect:@%.1f,%.1f %.1fx%.1f", m.logkind ? m.logkind : "", b.x, b.y, b.w,
                 b.h);
        if (m.logkind)
            EXPECT_EQ(log.count(line), 1) << m.name << ": " << log.text();
        else
            EXPECT_EQ(log.count("rect:@"), 0) << m.name << ": " << log.text();
    }
}

TEST_F(WidgetTest, CheckBoxTogglesOnlyOnTheClickFrame)
{
    int value = 0;
    std::vector<int> returns;
    body = [&] {
        widgets_push(cell);
        gui_elementid("check");
        returns.push_back(gui_checkbox(3, value, "Check"));
    };
    harness_frame();
    returns.clear();
    harness_click("check");
    ASSERT_EQ(returns.size(), 3u);
    EXPECT_EQ(returns[0], 0);
    EXPECT_EQ(returns[1], 0);
    EXPECT_EQ(returns[2], 1);
    value = 1;
    returns.clear();
    harness_frames(2);
    EXPECT_EQ(returns, (std::vector<int>{1, 1}));
    harness_click("check");
    EXPECT_EQ(returns.back(), 0);
}

TEST_F(WidgetTest, RadioButtonClicksWhenAlreadySelected)
{
    body = [&] {
        widgets_push(cell);
        gui_elementid("radio");
        gui_radiobutton(3, 1, 1, "Selected");
    };
    harness_frame();
    EXPECT_EQ(harness_click("radio"), 1);
    EXPECT_NE(widgets_text("|"), nullptr) << "selected glyph";
}

TEST_F(WidgetTest, IconFontBySectorHeight)
{
    struct Case {
        float h;
        int icon, font;
    };
    const Case cases[] = {
        {32, 65, 21},  {33, 65, 22},  {64, 65, 22},  {65, 65, 23},  {32, 321, 24}, {33, 321, 25},
        {65, 321, 26}, {32, 577, 27}, {64, 577, 28}, {65, 577, 29},
    };
    for (const Case &c : cases) {
        SetUp();
        body = [&] {
            widgets_push({100, 100, 200, c.h});
            gui_iconbutton(4, c.icon, 0, 1, nullptr);
        };
        harness_frame();
        const rec_text *glyph = widgets_text("A");
        ASSERT_NE(glyph, nullptr) << c.h << " " << c.icon;
        EXPECT_EQ(glyph->font, c.font) << "height " << c.h << " icon " << c.icon;
    }
}

TEST_F(WidgetTest, IconGlyphPlacement)
{
    for (int withtext : {0, 1}) {
        SetUp();
        body = [&] {
            widgets_push(cell);
            gui_iconbutton(4, 65, 0, 1, withtext ? "Text" : nullptr);
        };
        harness_frame();
        const rec_text *glyph = widgets_text("A");
        ASSERT_NE(glyph, nullptr);
        gui_rect box = widgets_box(cell), area = widgets_area(box);
        if (withtext) {
            EXPECT_EQ(glyph->x, (int)(area.x + 4));
            ASSERT_NE(widgets_text("Text"), nullptr);
            EXPECT_EQ(widgets_text("Text")->x, (int)(area.x + 4 + 13 + 2 * gui_padding + 3));
        } else {
            EXPECT_EQ(glyph->x, (int)(box.x + (box.w - 13) / 2));
            EXPECT_EQ(glyph->y, (int)(box.y + (box.h - 13) / 2));
        }
    }
}

TEST_F(WidgetTest, ImageKeepsItsAspect)
{
    const gui_rect square = {100, 100, 200, 200};
    const float white[4] = {1, 1, 1, 1};
    body = [&] {
        widgets_push(square);
        gui_image(-1, 200, 100, white, 1);
    };
    harness_frame();
    ASSERT_EQ(harness_rec.images.size(), 1u);
    gui_rect a = widgets_area(widgets_box(square));
    ASSERT_EQ(a.w, a.h);
    const float *r = harness_rec.images[0].rect;
    EXPECT_EQ(r[0], truncf(a.x));
    EXPECT_EQ(r[2], truncf(a.w));
    EXPECT_EQ(r[3], truncf(a.w / 2));
    EXPECT_EQ(r[1], truncf(a.y + a.h / 4));
}

TEST_F(WidgetTest, SixtyFifthImageIsDroppedWithALine)
{
    const float white[4] = {1, 1, 1, 1};
    body = [&] {
        for (int i = 0; i < 65; i++)
            widgets_push({(float)(i % 10) * 60, (float)(i / 10) * 60, 50, 50});
        for (int i = 0; i < 65; i++)
            gui_image(-1, 20, 20, white, 0);
    };
    testlog_capture log;
    harness_frame();
    EXPECT_EQ(harness_rec.images.size(), 64u);
    EXPECT_EQ(log.count("gui_addimage overflow!"), 1);
}

TEST_F(WidgetTest, DropdownOpensAndCloses)
{
    std::vector<int> open;
    body = [&] {
        widgets_push(cell);
        gui_elementid("drop");
        int o = gui_dropdown(9, 5, 20, 200, 100, "Choose");
        open.push_back(o);
        if (o)
            gui_endwindow();
    };
    harness_frame();
    open.clear();
    harness_click("drop");
    EXPECT_EQ(open, (std::vector<int>{0, 0, 1})) << "the opening frame returns 1";
    harness_frames(2);
    EXPECT_EQ(open.back(), 1) << "stays open";
    open.clear();
    harness_click("drop");
    EXPECT_EQ(open.back(), 0) << "a head click closes it";
    harness_frame();
    EXPECT_EQ(open.back(), 0);
    harness_click("drop");
    ASSERT_EQ(open.back(), 1);
    harness_move(700, 500);
    harness_frame();
    harness_press();
    harness_frame();
    harness_release();
    harness_frames(2);
    EXPECT_EQ(open.back(), 0) << "a press outside closes it";
}

TEST_F(WidgetTest, TitleBarDragIsClamped)
{
    struct Case {
        int screenw, screenh;
        float dialogw;
        int dx, dy;
        float wantx, wanty;
    };
    // The bar is 24 px high; the dialog starts at (100, 100).
    const Case cases[] = {
        {800, 600, 300, 50, 30, 150, 130},     // inside: follows the pointer
        {800, 600, 300, 900, 900, 498, 576},   // right and bottom edges
        {800, 600, 300, -500, -500, 2, 2},     // left and top edges
        {200, 600, 300, 10, 0, 2, 100},        // window narrower than the dialog
    };
    for (const Case &c : cases) {
        SetUp();
        sys_drawable[0] = c.screenw;
        sys_drawable[1] = c.screenh;
        gui_dialogpos[0] = gui_dialogpos[1] = 100;
        gui_dialogsize[0] = c.dialogw;
        body = [&] {
            widgets_push({gui_dialogpos[0], gui_dialogpos[1], c.dialogw, 24});
            gui_elementid("title");
            gui_glyphbutton(11, 770, 0, 1, "Dialog");
        };
        harness_move(110, 110);
        harness_frames(2);
        harness_press();
        harness_frames(2);
        harness_move(110 + c.dx, 110 + c.dy);
        harness_frames(2);
        EXPECT_EQ(gui_dialogpos[0], c.wantx) << c.dx << "," << c.dy << " in " << c.screenw;
        EXPECT_EQ(gui_dialogpos[1], c.wanty) << c.dx << "," << c.dy << " in " << c.screenw;
        harness_release();
        harness_frame();
    }
}

TEST_F(WidgetTest, InfoAndAlertShowTheirMessageBox)
{
    struct Case {
        const char *name;
        std::function<int()> call;
        const char *box;
    };
    const Case cases[] = {
        {"info", [] { return gui_infobutton(21, "How to use it"); }, "Usage Information|How to use it|0|3"},
        {"alert", [] { return gui_alertbutton(22, "Watch out"); }, "Alert|Watch out|0|4"},
    };
    for (const Case &c : cases) {
        SetUp();
        body = [&] {
            widgets_push(cell);
            gui_elementid("%s", c.name);
            c.call();
        };
        harness_frame();
        EXPECT_EQ(harness_click(c.name), 1) << c.name;
        EXPECT_EQ(harness_rec.boxes, (std::vector<std::string>{c.box}));
    }
}

TEST_F(WidgetTest, EmptySectorStackIsANoOp)
{
    const float rgb[4] = {1, 1, 1, 1};
    const std::function<int()> calls[] = {
        [] { return gui_button(1, 1, 0, "b"); },
        [] { return gui_iconbutton(1, 3, 0, 1, "b"); },
        [] { return gui_iconbuttonrect(1, 3, 1, 1, "b"); },
        [] { return gui_glyphbutton(1, 3, 0, 1, "b"); },
        [] { return gui_checkbox(1, 0, "b"); },
        [] { return gui_radiobutton(1, 1, 1, "b"); },
        [&] { return gui_rgbbutton(1, rgb); },
        [] { return gui_infobutton(1, "b"); },
        [] { return gui_alertbutton(1, "b"); },
        [] { return gui_label(3, 0, 1, "b"); },
        [] { return gui_valuetext(1, 0, "b"); },
        [] { return gui_centerlabel(1, "b"); },
        [] { gui_iconlabel(3, 1, gui_textcolour, "b"); return 0; },
        [&] { return gui_image(-1, 10, 10, rgb, 1); },
        [] { return gui_dropdown(1, 5, 20, 100, 100, "b"); },
    };
    gui_readstyle();
    for (const auto &call : calls) {
        gui_resetlists();
        EXPECT_EQ(call(), 0);
        EXPECT_EQ(gui_counts.verts + gui_counts.texts + gui_counts.images, 0);
        EXPECT_EQ(gui_depth, 0);
    }
    EXPECT_EQ(gui_nexttooltip[0], 0) << "no tooltip left for the next element";
}

TEST_F(WidgetTest, LabelsNeverClick)
{
    body = [&] {
        widgets_push(cell);
        gui_elementid("label");
        gui_label(65, 0, 1, "Label %d", 3);
    };
    harness_frame();
    EXPECT_EQ(harness_click("label"), 0);
    ASSERT_NE(widgets_text("Label 3"), nullptr);
}

} // namespace
