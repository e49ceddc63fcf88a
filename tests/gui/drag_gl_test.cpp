// Real drags of a slider and a knob: xdotool presses, moves relatively and
// releases on a shown SDL window under Xvfb, with SDL's relative mode in its
// warping form. The widgets draw into the recording table; the pointer
// calls (relative mode, capture, warp, focus, shape) are the real ones. The
// value must move by exactly the motion that arrived, and the pointer must
// end on the control.
//
// The pointer is one per X server, and CTest runs GL tests side by side on
// one: the drags run in a child of this binary on an X server of their own
// (xvfb-run -a), as the disabled suite that only the child is asked to run.
#include "guiharness.h"
#include "testchild.h"

#include "gui/widgets/values.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cmath>
#include <string>

namespace {

constexpr int drag_w = 400, drag_h = 300;

// The recording table with SDL's pointer calls.
gui_calltable drag_calls()
{
    gui_calltable t = harness_calls;
    t.cursor = gui_realcalls.cursor;
    t.relativemode = gui_realcalls.relativemode;
    t.capture = gui_realcalls.capture;
    t.warp = gui_realcalls.warp;
    t.mousefocus = gui_realcalls.mousefocus;
    return t;
}

// The mouse events of the frame loop, taken the same way.
void drag_pumpevents()
{
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_MOUSEMOTION)
            input_mousemotion(e.motion.xrel, e.motion.yrel, e.motion.x, e.motion.y);
        else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == 1)
            input_press(key_mouseleft);
        else if (e.type == SDL_MOUSEBUTTONUP && e.button.button == 1)
            input_release(key_mouseleft);
    }
}

void drag_frame()
{
    drag_pumpevents();
    harness_frame();
}

// Frames until the condition holds, at most two seconds of real time.
bool drag_frames_until(const std::function<bool()> &done)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
        drag_frame();
        if (done())
            return true;
        SDL_Delay(5);
    }
    return false;
}

// A few more frames for events still on their way.
void drag_settle()
{
    for (int i = 0; i < 20; i++) {
        drag_frame();
        SDL_Delay(5);
    }
}

bool drag_xdotool(const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    return testchild_run(all, 10.0) == 0;
}

class DISABLED_RealDrag : public testing::Test {
protected:
    static inline SDL_Window *window = nullptr;
    gui_calltable calls;
    std::function<void()> body;
    float motion[2] = {0, 0}; // motion the widget saw, summed over frames

    static void SetUpTestSuite()
    {
        SDL_SetHint(SDL_HINT_MOUSE_RELATIVE_MODE_WARP, "1");
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = SDL_CreateWindow("drag", 0, 0, drag_w, drag_h, SDL_WINDOW_SHOWN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
    }
    static void TearDownTestSuite()
    {
        SDL_DestroyWindow(window);
        window = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(window, nullptr);
        harness_start();
        sys_window = window;
        sys_drawable[0] = drag_w;
        sys_drawable[1] = drag_h;
        calls = drag_calls();
        gui_calls = &calls;
        harness_scene = [this] {
            gui_beginwindow(1, 0, 0, 1, 1, 1, nullptr);
            if (gui_activeid > 0) {
                motion[0] += input_motion[0];
                motion[1] += input_motion[1];
            }
            if (body)
                body();
            gui_endwindow();
        };
        // Xvfb has no window manager: the window sits at the screen's origin.
        SDL_RaiseWindow(window);
        drag_settle();
    }
    void TearDown() override
    {
        SDL_SetRelativeMouseMode(SDL_FALSE);
        sys_window = nullptr;
        harness_stop();
    }
    // Presses at (x, y), moves by (dx, dy) and releases; the motion that
    // arrived while pressed is summed into motion.
    void drag(int x, int y, int dx, int dy, int32_t id)
    {
        ASSERT_TRUE(drag_xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)}));
        ASSERT_TRUE(drag_frames_until([&] { return input_mouse[0] == x && input_mouse[1] == y; }))
            << "the pointer did not arrive: " << input_mouse[0] << "," << input_mouse[1];
        drag_settle();
        ASSERT_TRUE(drag_xdotool({"mousedown", "1"}));
        ASSERT_TRUE(drag_frames_until([&] { return gui_activeid == id; })) << "the press did not arrive";
        drag_settle();
        motion[0] = motion[1] = 0;
        ASSERT_TRUE(drag_xdotool({"mousemove_relative", "--", std::to_string(dx), std::to_string(dy)}));
        drag_frames_until([&] { return motion[0] == (float)dx && motion[1] == (float)dy; });
        drag_settle();
        ASSERT_TRUE(drag_xdotool({"mouseup", "1"}));
        ASSERT_TRUE(drag_frames_until([&] { return gui_activeid == -1; })) << "the release did not arrive";
        drag_settle();
    }
    // Where X has the pointer, in the window (which sits at the origin).
    void pointer(int *x, int *y) { SDL_GetGlobalMouseState(x, y); }
};

TEST_F(DISABLED_RealDrag, SliderMovesByTheMotion)
{
    const gui_rect sector = {40, 100, 320, 40};
    float value = 50;
    body = [&] {
        gui_sectors[gui_sectorcount++] = sector;
        value = gui_valueslider(3, "%.2f", value, 0, 100, 0);
    };
    drag_frame();
    float sp = (float)gui_spacing, p = (float)gui_padding;
    float length = sector.w - sp - 2 * p - 40, x0 = sector.x + sp + p + 20;
    float ky = sector.y + sp + 0.575f * (sector.h - sp);
    int knobx = (int)(x0 + length / 2);
    drag(knobx, (int)ky + 3, 40, 0, 3);
    EXPECT_EQ(motion[0], 40.0f) << "the motion arrived whole, and no warp was read as motion";
    float start = 100 * (float)(knobx - x0) / length;
    EXPECT_NEAR(value, start + 40 * 100 / length, 1e-3);
    int px, py;
    pointer(&px, &py);
    float pos = value / 100 * length;
    EXPECT_NEAR(px, x0 + pos, 1.0) << "the pointer ends on the knob";
    EXPECT_NEAR(py, ky + 3, 1.0);
    EXPECT_EQ(SDL_GetRelativeMouseMode(), SDL_FALSE);
}

TEST_F(DISABLED_RealDrag, KnobMovesByTheMotion)
{
    const gui_rect sector = {100, 150, 200, 40};
    float value = 0, expected = 0;
    body = [&] {
        gui_sectors[gui_sectorcount++] = sector;
        // The knob's response to this frame's motion, from what arrived.
        if (gui_activeid == 5) {
            float dy = -input_motion[1];
            expected += dy * std::fabs(dy) * 0.25f / 240.0f;
        }
        value = gui_valueknob(5, "%.2f", value, -1000, 1000, 0.25f);
        expected = std::round(expected / 0.25f) * 0.25f;
    };
    drag_frame();
    float sp = (float)gui_spacing;
    int cx = (int)(sector.x + sp + (sector.w - sp) / 2), cy = (int)(sector.y + sp + (sector.h - sp) / 2);
    drag(cx, cy, 0, -60, 5);
    EXPECT_EQ(motion[1], -60.0f) << "the motion arrived whole, and no warp was read as motion";
    EXPECT_GT(value, 0.0f);
    EXPECT_EQ(value, expected);
    int px, py;
    pointer(&px, &py);
    EXPECT_NEAR(px, cx, 1.0) << "the pointer ends on the knob";
    EXPECT_NEAR(py, cy, 1.0);
    EXPECT_EQ(SDL_GetRelativeMouseMode(), SDL_FALSE);
}

TEST(RealDrag, SliderAndKnobOnAServerOfTheirOwn)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string out = std::filesystem::temp_directory_path() / ("kerfmill_drag_" + std::to_string(getpid()));
    int status = testchild_run({"xvfb-run", "-a", "-s", "-screen 0 640x480x24", self,
                                "--gtest_also_run_disabled_tests", "--gtest_filter=DISABLED_RealDrag.*"},
                               120.0, out);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(out);
    ASSERT_NE(status, -1) << "xvfb-run could not be started (scripts/deps.sh installs xvfb and xdotool)";
    EXPECT_EQ(status, 0) << text.str();
    EXPECT_NE(text.str().find("[  PASSED  ] 2 tests."), std::string::npos) << text.str();
}

} // namespace
