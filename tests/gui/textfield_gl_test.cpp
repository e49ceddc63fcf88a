// Real typing into two expression fields: xdotool clicks the first field of
// a shown SDL window under Xvfb and types "2*3", Tab, "1/8" and Enter; the
// keys reach the fields through the frame loop's key mapping and
// input_press. The fields draw through the real call table into the
// offscreen target, and the focused second field, its caret masked, is
// compared with tests/gui/textfield_golden.png by ImageMagick's compare.
//
// Keyboard focus is one per X server, and CTest runs GL tests side by side
// on one: the typing runs in a child of this binary on an X server of its
// own (xvfb-run -a), as the disabled suite only the child is asked to run.
// KERFMILL_UPDATE_GOLDEN=1 writes the golden from this run instead.
#include "guiglfixture.h"
#include "guiharness.h"
#include "testchild.h"

#include "gui/textedit/textedit.h"
#include "gui/widgets/textfield.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace {

constexpr int typing_w = 400, typing_h = 160;
constexpr int32_t typing_ida = 41, typing_idb = 42;

// The caret's columns in the cropped field, painted over in both pictures.
int typing_caretx0 = 0, typing_caretx1 = 0;

void typing_maskcaret(rgbimage &img)
{
    for (int y = 0; y < img.height; y++)
        for (int x = typing_caretx0; x < typing_caretx1 && x < img.width; x++)
            if (x >= 0)
                memset(&img.rgb[((size_t)y * img.width + x) * 3], 255, 3);
}

rgbimage typing_crop(const rgbimage &img, const gui_rect &r)
{
    rgbimage out;
    out.width = (int)r.w;
    out.height = (int)r.h;
    out.rgb.resize((size_t)out.width * out.height * 3);
    for (int y = 0; y < out.height; y++)
        memcpy(&out.rgb[(size_t)y * out.width * 3], &img.rgb[(((size_t)r.y + y) * img.width + (size_t)r.x) * 3],
               (size_t)out.width * 3);
    return out;
}

bool typing_xdotool(const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    return testchild_run(all, 10.0) == 0;
}

class DISABLED_RealTyping : public GuiGlTest {
protected:
    SDL_Window *shown = nullptr;
    char a[64] = "", b[64] = "";
    int returneda = 0, returnedb = 0;

    void SetUp() override
    {
        startgui(typing_w, typing_h, 0, 0);
        shown = SDL_CreateWindow("typing", 0, 0, typing_w, typing_h, SDL_WINDOW_SHOWN);
        ASSERT_NE(shown, nullptr) << SDL_GetError();
        sys_window = shown;
        gui_resetfocus();
        text_editstate.string = nullptr;
        text_insertmode = 1;
        gui_elementhook = harness_hook;
        gui_mainwindowpass = harness_pass;
        harness_scene = [this] {
            gui_beginwindow(1, 0, 0, 1, 1, 1, nullptr);
            gui_sectors[gui_sectorcount++] = {20, 30, 300, 34};
            gui_elementid("field_a");
            returneda += gui_textfield(typing_ida, 0, "Depth", nullptr, a, text_evaluated, 63);
            gui_sectors[gui_sectorcount++] = {20, 80, 300, 34};
            gui_elementid("field_b");
            returnedb += gui_textfield(typing_idb, 0, "Feed", nullptr, b, text_evaluated, 63);
            gui_endwindow();
        };
        // Xvfb has no window manager: the window sits at the screen's origin
        // and takes the keyboard only when asked.
        SDL_RaiseWindow(shown);
        SDL_SetWindowInputFocus(shown);
        settle();
    }
    void TearDown() override
    {
        text_editstate.string = nullptr;
        gui_elementhook = nullptr;
        harness_scene = nullptr;
        sys_window = nullptr;
        if (shown)
            SDL_DestroyWindow(shown);
        endgui();
    }
    // The frame loop's events: keys through its scancode mapping, the mouse.
    void pump()
    {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
                int key = input_keycode(SDL_GetScancodeFromKey(e.key.keysym.sym));
                if (e.type == SDL_KEYDOWN)
                    input_press(key);
                else
                    input_release(key);
            } else if (e.type == SDL_MOUSEMOTION) {
                input_mousemotion(e.motion.xrel, e.motion.yrel, e.motion.x, e.motion.y);
            } else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == 1) {
                input_press(key_mouseleft);
            } else if (e.type == SDL_MOUSEBUTTONUP && e.button.button == 1) {
                input_release(key_mouseleft);
            }
        }
    }
    void frame()
    {
        pump();
        glClearColor(0.25f, 0.3f, 0.35f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        harness_frame();
    }
    // Frames until the condition holds, at most two seconds of real time.
    bool until(const std::function<bool()> &done)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < end) {
            frame();
            if (done())
                return true;
            SDL_Delay(5);
        }
        return false;
    }
    void settle()
    {
        for (int i = 0; i < 10; i++) {
            frame();
            SDL_Delay(5);
        }
    }
};

TEST_F(DISABLED_RealTyping, TwoExpressionFields)
{
    ASSERT_TRUE(until([] { return harness_present("field_b"); }));
    const gui_rect ra = harness_find("field_a")->rect, rb = harness_find("field_b")->rect;
    int ax = (int)(ra.x + ra.w / 2), ay = (int)(ra.y + ra.h / 2);
    ASSERT_TRUE(typing_xdotool({"mousemove", "--sync", std::to_string(ax), std::to_string(ay)}));
    ASSERT_TRUE(until([&] { return input_mouse[0] == ax && input_mouse[1] == ay; })) << "the pointer did not arrive";
    // Down and up apart: a press and release within one frame is no click.
    ASSERT_TRUE(typing_xdotool({"mousedown", "1"}));
    ASSERT_TRUE(until([] { return gui_activeid == typing_ida; })) << "the press did not arrive";
    ASSERT_TRUE(typing_xdotool({"mouseup", "1"}));
    ASSERT_TRUE(until([] { return gui_openid == typing_ida; })) << "the click did not open the first field";

    ASSERT_TRUE(typing_xdotool({"type", "--delay", "30", "2*3"}));
    ASSERT_TRUE(until([&] { return strcmp(a, "2*3") == 0; })) << "typed: \"" << a << "\"";
    // A key held over a frame or more, as a hand taps it: the frame loop
    // sees a key go down only when it is down at the end of a frame's events.
    ASSERT_TRUE(typing_xdotool({"keydown", "Tab"}));
    ASSERT_TRUE(until([] { return gui_openid == typing_idb; })) << "Tab did not move the focus";
    ASSERT_TRUE(typing_xdotool({"keyup", "Tab"}));
    ASSERT_TRUE(typing_xdotool({"type", "--delay", "30", "1/8"}));
    ASSERT_TRUE(until([&] { return strcmp(b, "1/8") == 0; })) << "typed: \"" << b << "\"";
    settle();

    // The focused field, caret masked: its glyph cell starts 3 px left of
    // the cursor, and the bar stands on the cursor's column.
    frame();
    glFinish();
    rgbimage shot = typing_crop(golden_readback(typing_w, typing_h), rb);
    float area = (float)gui_spacing + (float)gui_padding;
    float label = (float)(uint32_t)font_textsize(gui_interfacefont, "Feed: ");
    float caret = area + 4.0f + label + (float)(uint32_t)font_textsize(1, "1/8") - (float)gui_spacing;
    typing_caretx0 = (int)caret - 1;
    typing_caretx1 = (int)caret + 3;
    checkgolden(shot, "textfield", typing_maskcaret);

    ASSERT_TRUE(typing_xdotool({"keydown", "Return"}));
    ASSERT_TRUE(until([] { return gui_openid == -1; })) << "Enter did not end the edit";
    ASSERT_TRUE(typing_xdotool({"keyup", "Return"}));
    settle();
    EXPECT_STREQ(a, "6.0");
    EXPECT_STREQ(b, "0.125");
    EXPECT_EQ(returneda, 1) << "the first field's edit ended when the second took the focus";
    EXPECT_EQ(returnedb, 1);
    EXPECT_EQ(gui_lastfinishedid, typing_idb);
}

TEST(RealTyping, TwoFieldsOnAServerOfTheirOwn)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string out = std::filesystem::temp_directory_path() / ("kerfmill_typing_" + std::to_string(getpid()));
    int status = testchild_run({"xvfb-run", "-a", "-s", "-screen 0 640x480x24", self,
                                "--gtest_also_run_disabled_tests", "--gtest_filter=DISABLED_RealTyping.*"},
                               120.0, out);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(out);
    ASSERT_NE(status, -1) << "xvfb-run could not be started (scripts/deps.sh installs xvfb and xdotool)";
    EXPECT_EQ(status, 0) << text.str();
    EXPECT_NE(text.str().find("[  PASSED  ] 1 test."), std::string::npos) << text.str();
}

} // namespace
