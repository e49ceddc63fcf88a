// The element model over scripted frames: clicks and their cancellation,
// tooltip timing, the window claim, the name overlay's copy, the label hot
// id and the tutorial's step advance.
#include "guiharness.h"
#include "sys/log.h"

#include <gtest/gtest.h>

namespace {

const gui_rect button_rect = {100, 100, 80, 20};
const gui_rect label_rect = {100, 200, 80, 20};

struct ElementTest : testing::Test {
    int storeopen = 0;
    int buttonid = 1;
    void SetUp() override
    {
        harness_start();
        harness_scene = [this] {
            gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
            gui_elementid("button_a");
            gui_tooltip("the button");
            gui_element(buttonid, button_rect, storeopen);
            gui_elementid("label");
            gui_tooltip("the label");
            gui_element(0, label_rect, 0);
            gui_endwindow();
        };
    }
    void TearDown() override { harness_stop(); }
    int result(const char *name) { return harness_find(name) ? harness_find(name)->result : -1; }
};

TEST_F(ElementTest, ClickSequences)
{
    struct Step {
        int x, y;
        int press, release;
    };
    struct Case {
        const char *what;
        int id;
        std::vector<Step> steps;
        int clicks;
    };
    const Case cases[] = {
        {"press and release over", 1, {{140, 110, 1, 0}, {140, 110, 0, 1}}, 1},
        {"press, drag off, release", 1, {{140, 110, 1, 0}, {400, 400, 0, 0}, {400, 400, 0, 1}}, 0},
        {"press, off and back, release", 1, {{140, 110, 1, 0}, {400, 400, 0, 0}, {140, 110, 0, 0}, {140, 110, 0, 1}}, 1},
        {"press outside, release over", 1, {{400, 400, 1, 0}, {140, 110, 0, 0}, {140, 110, 0, 1}}, 0},
        {"id 0 never clicks", 0, {{140, 110, 1, 0}, {140, 110, 0, 1}}, 0},
    };
    for (const Case &c : cases) {
        SetUp();
        buttonid = c.id;
        harness_move(300, 300);
        harness_frame();
        int clicks = 0;
        for (const Step &s : c.steps) {
            harness_move(s.x, s.y);
            if (s.press)
                harness_press();
            if (s.release)
                harness_release();
            harness_frame();
            clicks += result("button_a") == 1;
        }
        harness_frames(2);
        EXPECT_EQ(clicks, c.clicks) << c.what;
        EXPECT_EQ(gui_activeid, -1) << c.what;
    }
}

TEST_F(ElementTest, StoreOpenFlag)
{
    for (int flag : {1, 0}) {
        SetUp();
        storeopen = flag;
        gui_openid = 7;
        harness_frame();
        ASSERT_EQ(harness_click("button_a"), 1);
        EXPECT_EQ(gui_openid, flag ? 1 : -1);
    }
}

TEST_F(ElementTest, TooltipTiming)
{
    struct Case {
        const char *what;
        int restframes;
        int jiggle; // px moved in the middle of the rest
        bool ctrlshift;
        bool shown;
    };
    const Case cases[] = {
        {"0.55 s at rest", 33, 0, false, false},
        {"0.65 s at rest", 39, 0, false, true},
        {"a 3-px move restarts the wait", 39, 3, false, false},
        {"a 2-px move does not", 39, 2, false, true},
        {"Ctrl+Shift hides it", 39, 0, true, false},
    };
    for (const Case &c : cases) {
        SetUp();
        harness_move(140, 110);
        harness_frame(); // hover starts
        for (int i = 0; i < c.restframes; i++) {
            if (c.jiggle && i == c.restframes - 5)
                harness_move(140 + c.jiggle, 110);
            if (c.ctrlshift && i == 0) {
                harness_press(key_ctrl);
                harness_press(key_shift);
            }
            harness_frame();
        }
        bool drawn = false;
        for (const rec_text &t : harness_rec.texts)
            drawn |= t.text == "the button";
        EXPECT_EQ(drawn, c.shown) << c.what;
        EXPECT_EQ(gui_tooltipstate.text[0] != 0, c.shown || c.ctrlshift) << c.what;
    }
}

// Two calls for one element under the pointer at rest (a glyph and its text):
// the first laid out shows its tip.
TEST_F(ElementTest, FirstTooltipOfFrameWins)
{
    harness_scene = [] {
        gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
        gui_tooltip("first");
        gui_element(1, {100, 100, 80, 20}, 0);
        gui_tooltip("second");
        gui_element(1, {90, 90, 100, 40}, 0);
        gui_endwindow();
    };
    harness_move(140, 110);
    harness_frames(45);
    EXPECT_STREQ(gui_tooltipstate.text, "first");
}

TEST_F(ElementTest, LaterWindowClaimLeavesEarlierElementsCold)
{
    harness_scene = [] {
        gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
        gui_beginwindow(2, 50, 50, 300, 300, 1, nullptr);
        gui_endwindow();
        gui_elementid("under");
        gui_element(5, {100, 100, 80, 20}, 0);
        gui_endwindow();
    };
    harness_move(140, 110);
    harness_frames(2);
    EXPECT_NE(gui_hotid, 5);
    harness_press();
    harness_frame();
    EXPECT_EQ(gui_activeid, -1);
    harness_release();
    harness_frame();
    EXPECT_EQ(harness_find("under")->result, 0);
}

TEST_F(ElementTest, NamePatternCopiedOncePerKeyDown)
{
    harness_scene = [] {
        gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
        for (int i = 0; i < 2; i++) {
            gui_elementid("op%02d_exclude", i);
            gui_element(10 + i, {100, 100, 80, 20}, 0);
        }
        gui_endwindow();
    };
    harness_move(140, 110);
    harness_press(key_ctrl);
    harness_press(key_shift);
    harness_frame();
    EXPECT_EQ(harness_rec.clipboardsets, 0);
    harness_press(3);
    harness_frames(3);
    EXPECT_EQ(harness_rec.clipboardsets, 1);
    EXPECT_EQ(harness_rec.clipboard, "op%02d_exclude");
    EXPECT_STREQ(sys_statustext, "copied 'op%02d_exclude' to clipboard");
    harness_release(3);
    harness_frame();
    harness_press(3);
    harness_frame();
    EXPECT_EQ(harness_rec.clipboardsets, 2);
    EXPECT_TRUE(harness_present("op01_exclude"));
}

// After a label (id 0) was hot, leaving it must let go of the hot id, or the
// camera, which moves only while nothing is hot, stays frozen.
TEST_F(ElementTest, LabelHotIdClears)
{
    harness_move(140, 210);
    harness_frames(2);
    EXPECT_EQ(gui_hotid, 0);
    harness_move(500, 500);
    harness_frame();
    EXPECT_EQ(gui_hotid, -1);
    // Over the label its tooltip still waits its time.
    harness_move(140, 210);
    harness_frames(20);
    EXPECT_EQ(gui_tooltipstate.text[0], 0);
    harness_frames(25);
    EXPECT_STREQ(gui_tooltipstate.text, "the label");
}

TEST_F(ElementTest, WheelOverScrollRegionIsClaimed)
{
    gui_scrollextent = 400.0f;
    gui_scrolloffset = 0.5f;
    harness_move(140, 110);
    harness_frame();
    harness_wheel(1);
    harness_frame();
    EXPECT_EQ(gui_wheelclaimed, 1);
    EXPECT_FLOAT_EQ(gui_scrolloffset, 0.5f - 8.0f * 20.0f / 400.0f);
    harness_frame();
    EXPECT_EQ(gui_wheelclaimed, 0);
}

TEST_F(ElementTest, TutorialStepAdvancesOnReleaseOutside)
{
    static tut_script script = {};
    static char name[] = "button_a";
    script.stepcount = 3;
    script.steps[0].element = name;
    tut_scripts = &script;
    tut_count = 1;
    tut_current = 0;
    tut_stepcount = 3;
    tut_stepindex = 0;
    harness_move(140, 110);
    harness_frame();
    harness_press();
    harness_frame();
    harness_move(500, 500);
    harness_release();
    harness_frame();
    EXPECT_EQ(tut_stepindex, 1);
    tut_current = -1;
    tut_scripts = nullptr;
    tut_count = 0;
}

} // namespace
