// Slider, knob and scroll bar driven by scripted relative motion: the jump
// to the pointer, the Ctrl and Shift factors, clamping, snapping, the knob's
// quadratic response, the scroll bar's thumb sizes, track presses with their
// repeat wait, the wheel, and the pointer warp, capture and relative mode
// that a drag switches on and the release switches off.
#include "guiharness.h"
#include "testlog.h"

#include "gui/widgets/values.h"
#include "sys/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

void values_push(const gui_rect &r)
{
    gui_sectors[gui_sectorcount++] = r;
}

bool values_recorded(const std::string &call)
{
    return std::find(harness_rec.sdl.begin(), harness_rec.sdl.end(), call) != harness_rec.sdl.end();
}

// Motion the way SDL reports it in relative mode: a delta, the position
// unchanged.
void values_relative(float dx, float dy)
{
    input_mousemotion((int)dx, (int)dy, input_mouse[0], input_mouse[1]);
}

struct ValuesTest : testing::Test {
    std::function<void()> body;
    void SetUp() override
    {
        harness_start();
        cfg_seti(cfg_debuginfo, 1);
        gui_knobspeed = 1.0;
        gui_scrollrepeattime = 0.0f;
        harness_scene = [this] {
            gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
            if (body)
                body();
            gui_endwindow();
        };
        harness_frame(); // reads the style
    }
    void TearDown() override { harness_stop(); }
};

// Slider: 0..100 step 1 in a 300 x 40 cell.
struct SliderTest : ValuesTest {
    gui_rect sector = {100, 100, 300, 40};
    float value = 50, min = 0, max = 100, step = 1;
    float L = 0, x0 = 0, ky = 0;
    void SetUp() override
    {
        ValuesTest::SetUp();
        body = [this] {
            values_push(sector);
            gui_elementid("slider");
            value = gui_valueslider(4, "%.2f", value, min, max, step);
        };
        measure();
    }
    void measure()
    {
        float sp = (float)gui_spacing, p = (float)gui_padding;
        L = sector.w - sp - 2 * p - 40;
        x0 = sector.x + sp + p + 20;
        ky = sector.y + sp + 0.575f * (sector.h - sp);
    }
    void press(float fraction)
    {
        harness_move((int)(x0 + fraction * L), (int)(sector.y + 20));
        harness_frame();
        harness_press();
        harness_frame();
    }
};

TEST_F(SliderTest, FirstActiveFrameJumpsToThePointer)
{
    press(0.25f);
    EXPECT_NEAR(value, std::round(100 * (float)(int)(x0 + 0.25f * L - x0) / L), 1e-4);
    EXPECT_NEAR(value, 25, 1.0);
    EXPECT_TRUE(values_recorded("relativemode 1"));
    EXPECT_TRUE(values_recorded("capture 1"));
    EXPECT_EQ(input_freezemouse, 1);
}

TEST_F(SliderTest, DragsByRelativeMotion)
{
    struct Case {
        const char *what;
        int ctrl, shift;
        float dx;     // in track lengths
        float change; // expected, in values
    };
    const Case cases[] = {
        {"plain", 0, 0, 0.1f, 10},
        {"ctrl tenth", 1, 0, 0.1f, 1},
        {"past the end", 0, 0, 10.0f, 50},
        {"back past the start", 0, 0, -10.0f, -50},
    };
    for (const Case &c : cases) {
        SetUp();
        value = 50;
        press(0.5f);
        ASSERT_NEAR(value, 50, 1.0) << c.what;
        float start = value;
        if (c.ctrl)
            harness_press(key_ctrl);
        if (c.shift)
            harness_press(key_shift);
        values_relative(c.dx * L, 0);
        harness_frame();
        EXPECT_NEAR(value - start, c.change, 0.6f) << c.what;
        EXPECT_GE(value, min) << c.what;
        EXPECT_LE(value, max) << c.what;
        harness_release();
        harness_frame();
    }
}

TEST_F(SliderTest, ShiftGivesThirtyTwoSteps)
{
    step = 0.01f;
    press(0.5f);
    harness_press(key_shift);
    for (float dx : {7.0f, 13.0f, -29.0f}) {
        values_relative(dx, 0);
        harness_frame();
        float steps = value / (100.0f / 32.0f);
        EXPECT_NEAR(steps, std::round(steps), 1e-3) << value;
    }
}

TEST_F(SliderTest, ReleaseEndsTheCaptureAndLogs)
{
    press(0.5f);
    values_relative(10, 0);
    harness_frame();
    // Relative mode holds the system pointer: a warp now would come back as
    // motion.
    EXPECT_FALSE(std::any_of(harness_rec.sdl.begin(), harness_rec.sdl.end(),
                             [](const std::string &s) { return s.rfind("warp ", 0) == 0; }));
    testlog_capture log;
    harness_release();
    harness_frame();
    float knob = (value - min) / (max - min) * L;
    EXPECT_TRUE(values_recorded("warp " + std::to_string((int)(x0 + knob)) + " " + std::to_string((int)(ky + 3))));
    EXPECT_TRUE(values_recorded("relativemode 0"));
    EXPECT_TRUE(values_recorded("capture 0"));
    EXPECT_EQ(input_freezemouse, 0);
    EXPECT_EQ(log.count("valueslider[4] pos:"), 1) << log.text();
    // The pointer is back on the knob.
    float pos = (value - min) / (max - min) * L;
    EXPECT_NEAR(input_mouse[0], x0 + pos, 1.0);
    EXPECT_NEAR(input_mouse[1], ky + 3, 1.0);
}

TEST_F(SliderTest, OutOfRangeValueIsSnappedAndDrawnAtTheEnd)
{
    struct Case {
        float value, want, knobx;
    };
    for (const Case &c : {Case{150.4f, 150, 1}, Case{-20.3f, -20, 0}}) {
        SetUp();
        value = c.value;
        harness_frame();
        EXPECT_EQ(value, c.want);
        const rec_text *knob = nullptr;
        for (const rec_text &t : harness_rec.texts)
            if (t.text == "}")
                knob = &t;
        ASSERT_NE(knob, nullptr);
        EXPECT_EQ(knob->x, (int)(x0 + c.knobx * L - 8));
    }
}

TEST_F(SliderTest, DegenerateRangesAndTracks)
{
    struct Case {
        const char *what;
        gui_rect sector;
        float min, max, value;
    };
    const Case cases[] = {
        {"min = max", {100, 100, 300, 40}, 5, 5, 7},
        {"track of no length", {100, 100, 40, 40}, 0, 100, 30},
        {"negative track", {100, 100, 10, 40}, 0, 100, 30},
    };
    for (const Case &c : cases) {
        SetUp();
        sector = c.sector;
        min = c.min;
        max = c.max;
        value = c.value;
        measure();
        harness_frame();
        press(0.9f);
        values_relative(25, 0);
        harness_frame();
        EXPECT_TRUE(std::isfinite(value)) << c.what;
        EXPECT_EQ(value, c.min == c.max ? c.min : c.value) << c.what;
        for (const rec_text &t : harness_rec.texts)
            EXPECT_EQ(t.text.find("nan"), std::string::npos) << c.what;
        harness_release();
        harness_frame();
    }
}

// Knob: -1000..1000 step 1 in a 200 x 40 cell; the debug line shows the
// value before snapping.
struct KnobTest : ValuesTest {
    gui_rect sector = {100, 200, 200, 40};
    float value = 0, step = 1;
    void SetUp() override
    {
        ValuesTest::SetUp();
        body = [this] {
            values_push(sector);
            gui_elementid("knob");
            value = gui_valueknob(7, "%.2f", value, -1000, 1000, step);
        };
    }
    void grab()
    {
        harness_move((int)(sector.x + 100), (int)(sector.y + 20));
        harness_frame();
        harness_press();
        harness_frame();
    }
};

TEST_F(KnobTest, DragChangesQuadratically)
{
    struct Case {
        const char *what;
        int ctrl, shift;
        float dy;
        const char *line;
    };
    const Case cases[] = {
        {"10 px up", 0, 0, -10, "valueknob[7] speed:1.000000 value:0.416667"},
        {"1 px up", 0, 0, -1, "valueknob[7] speed:1.000000 value:0.004167"},
        {"10 px down", 0, 0, 10, "valueknob[7] speed:1.000000 value:-0.416667"},
        {"shift", 0, 1, -10, "valueknob[7] speed:10.000000 value:4.166667"},
        {"ctrl with shift", 1, 1, -10, "valueknob[7] speed:0.100000 value:0.041667"},
    };
    for (const Case &c : cases) {
        SetUp();
        value = 0;
        grab();
        if (c.ctrl)
            harness_press(key_ctrl);
        if (c.shift)
            harness_press(key_shift);
        testlog_capture log;
        values_relative(0, c.dy);
        harness_frame();
        EXPECT_EQ(log.count(c.line), 1) << c.what << ": " << log.text();
        EXPECT_EQ(value, std::round(value)) << c.what << ": the return is snapped";
        EXPECT_TRUE(values_recorded("cursor 0")) << c.what;
        harness_release();
        harness_frame();
    }
}

TEST_F(KnobTest, WheelOnAHotKnob)
{
    value = 10;
    harness_move((int)(sector.x + 100), (int)(sector.y + 20));
    harness_frames(2);
    testlog_capture log;
    harness_wheel(1);
    harness_frame();
    EXPECT_EQ(value, 11);
    EXPECT_EQ(log.count("valueknob[7] value:11.000000"), 1) << log.text();
    harness_press(key_shift);
    harness_wheel(-1);
    harness_frame();
    EXPECT_EQ(value, 1);
}

TEST_F(KnobTest, ReleaseWarpsBackAndEndsCapture)
{
    grab();
    EXPECT_TRUE(values_recorded("relativemode 1"));
    values_relative(0, -40);
    harness_frame();
    testlog_capture log;
    harness_release();
    harness_frame();
    EXPECT_TRUE(values_recorded("relativemode 0"));
    EXPECT_TRUE(values_recorded("capture 0"));
    EXPECT_EQ(log.count("valueknob[7] ang:"), 1) << log.text();
    float sp = (float)gui_spacing;
    EXPECT_EQ(input_mouse[0], (int)(sector.x + sp + (sector.w - sp) / 2));
    EXPECT_EQ(input_mouse[1], (int)(sector.y + sp + (sector.h - sp) / 2));
}

TEST_F(KnobTest, OneValueRangeGivesItsMin)
{
    body = [this] {
        values_push(sector);
        value = gui_valueknob(7, "%.2f", value, 3, 3, 1);
    };
    value = 9;
    grab();
    values_relative(0, -30);
    harness_frame();
    EXPECT_EQ(value, 3);
}

// A step of 0 is refused once with a log line: the knob keeps the value it
// was given, whatever the wheel or a drag do, and is no element to grab.
TEST_F(KnobTest, StepZeroIsRefused)
{
    body = [this] {
        values_push(sector);
        value = gui_valueknob(7, "%.2f", value, 0, 10, 0);
    };
    value = 2.5f;
    testlog_capture log;
    harness_move((int)(sector.x + 100), (int)(sector.y + 20));
    harness_frames(2);
    harness_wheel(1);
    harness_frame();
    EXPECT_EQ(value, 2.5f);
    grab();
    values_relative(0, -30);
    harness_frame();
    harness_release();
    harness_frame();
    EXPECT_EQ(value, 2.5f);
    EXPECT_EQ(log.count("gui_valueknob: knob 7 has a step of 0"), 1) << log.text();
    EXPECT_FALSE(values_recorded("relativemode 1"));
}

// Scroll bar: a 20 x 300 cell.
struct ScrollTest : ValuesTest {
    gui_rect sector = {500, 100, 20, 300};
    float extent = 3000, position = 0, returned = -1;
    void SetUp() override
    {
        ValuesTest::SetUp();
        body = [this] {
            gui_scrolloffset = 0;
            gui_scrollextent = extent;
            values_push({100, 100, 300, 300});
            gui_elementid("list");
            gui_element(0, gui_sectors[gui_sectorcount - 1], 0);
            gui_popframe(0);
            values_push(sector);
            gui_scrollposition = position;
            returned = gui_scrollbar(12);
            position = returned;
        };
    }
    gui_rect box() const
    {
        float sp = (float)gui_spacing;
        return {sector.x + sp, sector.y + sp, sector.w - sp, sector.h - sp};
    }
};

TEST_F(ScrollTest, ThumbSizes)
{
    struct Case {
        const char *what;
        float extent, position, want;
        float thumbh; // -1: the whole inner bar
    };
    const Case cases[] = {
        {"short content", 100, 1.5f, 1.0f, -1},
        {"exactly the cell's height", 300, 0.4f, 0.4f, -1},
        {"very long content", 1e7f, 0.5f, 0.5f, 0},
    };
    for (const Case &c : cases) {
        SetUp();
        extent = c.extent;
        position = c.position;
        harness_frame();
        EXPECT_EQ(returned, c.want) << c.what;
        auto thumb = std::find_if(harness_elements.begin(), harness_elements.end(),
                                  [](const rec_element &e) { return e.id == 12; });
        ASSERT_NE(thumb, harness_elements.end()) << c.what;
        gui_rect b = box();
        if (c.thumbh < 0)
            EXPECT_EQ(thumb->rect.h, b.h - 2) << c.what;
        else
            EXPECT_NEAR(thumb->rect.h, b.w - 2, 1e-3) << c.what << ": square at the least";
    }
}

// Content exactly as high as the cell leaves no free track: dragging the
// bar must not divide by it.
TEST_F(ScrollTest, ExactFitDragsWithoutNaN)
{
    extent = sector.h;
    position = 0.4f;
    harness_move(510, 150);
    harness_frame();
    harness_press();
    harness_frames(2);
    harness_move(510, 300);
    harness_frames(2);
    EXPECT_EQ(returned, 0.4f);
    harness_release();
    harness_frame();
    EXPECT_EQ(returned, 0.4f);
}

TEST_F(ScrollTest, TrackPressJumpsAndRepeatsAfterAQuarterSecond)
{
    gui_rect b = box();
    float f = std::max(sector.h / extent, b.w / b.h);
    float thumblength = b.h * f - 2, freelength = b.h * (1 - f);
    auto expected = [&](int y) { return std::clamp((y - (b.y + thumblength / 2)) / freelength, 0.0f, 1.0f); };
    harness_move(510, 300);
    harness_frame();
    harness_press();
    harness_frame(); // the track takes the press
    harness_frame(); // the thumb jumps under the pointer
    EXPECT_NEAR(position, expected(300), 1e-5);
    const double jumped = sys_time;
    harness_release();
    harness_frame();
    // A second press below the thumb within the wait does not move it.
    harness_move(510, 380);
    harness_frame();
    harness_press();
    harness_frame();
    float held = position;
    while (sys_time + 1.0 / 60.0 < jumped + 0.25 - 1e-4) {
        harness_frame();
        EXPECT_EQ(position, held) << "at " << sys_time - jumped << " s";
    }
    harness_frames(3);
    EXPECT_NEAR(position, expected(380), 1e-5) << "after the wait";
    harness_release();
    harness_frame();
}

TEST_F(ScrollTest, WheelOffset)
{
    position = 0.5f;
    harness_move(200, 200);
    harness_frame();
    harness_wheel(-2);
    harness_frame();
    EXPECT_NEAR(returned, 0.5f - 8.0f * -2.0f * 20.0f / 3000.0f, 1e-6);
}

TEST_F(ScrollTest, EmptyStackReturnsInputsUnchanged)
{
    gui_resetlists();
    gui_scrollposition = 0.3f;
    EXPECT_EQ(gui_scrollbar(1), 0.3f);
    EXPECT_EQ(gui_valueslider(1, "%.2f", 7.5f, 0, 10, 1), 7.5f);
    EXPECT_EQ(gui_valueknob(1, "%.2f", 7.5f, 0, 10, 1), 7.5f);
    EXPECT_EQ(gui_counts.verts, 0);
}

} // namespace
