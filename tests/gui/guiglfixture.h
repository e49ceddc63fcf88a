// The GUI's real-table GL tests share one set-up: an offscreen target the
// size of the frame, the data fonts, the default configuration, no key held,
// no hot, active or open element, and the real call table.
#pragma once
#include "goldenimage.h"
#include "render/glcontext.h"

#include "gui/calls.h"
#include "gui/drawstate.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "render/font.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/input.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

class GuiGlTest : public GlTest {
protected:
    gltest_target target;

    // A w x h frame with the pointer at (mx, my); the fixture's own pass is
    // set by the caller afterwards.
    void startgui(int w, int h, int mx, int my)
    {
        GlTest::SetUp();
        startdraw();
        font_loaded = 0;
        ASSERT_EQ(font_init(), 1) << "the data fonts are read from fonts/ in the program's folder";
        gui_textstate = {{1.0f, 1.0f, 1.0f, 1.0f}, 0.0f, 0.0f, 1.0f, 0.0f, 0};
        ASSERT_EQ(target.make(w, h, 4, 0, true), 1);
        target.bindasrenderer(w, h);
        memcpy(cfg, cfg_defaults, cfg_size);
        sys_drawable[0] = w;
        sys_drawable[1] = h;
        memset(input_keys, 0, sizeof(input_keys));
        memset(input_keyframe, 0, sizeof(input_keyframe));
        memset(input_keyprev, 0, sizeof(input_keyprev));
        input_mouse[0] = mx;
        input_mouse[1] = my;
        input_takemotion();
        gui_calls = &gui_realcalls;
        gui_elementhook = nullptr;
        gui_hotid = gui_activeid = gui_openid = -1;
    }

    // Compares the shot with tests/gui/<name>_golden.png by ImageMagick, both
    // with mask (if any) painted over the parts that may differ; with
    // KERFMILL_UPDATE_GOLDEN=1 the shot, unmasked, becomes the golden.
    void checkgolden(rgbimage shot, const char *name, void (*mask)(rgbimage &) = nullptr)
    {
        namespace fs = std::filesystem;
        const fs::path golden = fs::path(KERFMILL_TESTS_DIR) / "gui" / (std::string(name) + "_golden.png");
        const char *update = getenv("KERFMILL_UPDATE_GOLDEN");
        if (update && strcmp(update, "1") == 0) {
            ASSERT_TRUE(golden_writepng(shot, golden)) << golden;
            return;
        }
        rgbimage expected;
        ASSERT_TRUE(golden_readpng(golden, expected)) << "cannot read " << golden;
        ASSERT_EQ(expected.width, shot.width);
        ASSERT_EQ(expected.height, shot.height);
        if (mask) {
            mask(shot);
            mask(expected);
        }
        const fs::path dir =
            fs::temp_directory_path() / ("kerfmill_" + std::string(name) + "_" + std::to_string(getpid()));
        fs::create_directories(dir);
        ASSERT_TRUE(golden_writepng(shot, dir / "actual.png"));
        ASSERT_TRUE(golden_writepng(expected, dir / "expected.png"));
        std::string count;
        int status = golden_compare(dir / "actual.png", dir / "expected.png", dir / "diff.png", count);
        ASSERT_NE(status, -1) << "ImageMagick's compare could not be started (scripts/deps.sh installs imagemagick)";
        ASSERT_NE(status, testchild_timedout) << "compare did not finish";
        EXPECT_EQ(status, 0) << "pixels differing by more than 5%: " << count << "; see " << dir;
        EXPECT_EQ(count, "0");
        if (status == 0)
            fs::remove_all(dir);
    }

    void endgui()
    {
        gui_mainwindowpass = nullptr;
        freetextures();
        target.free();
        font_loaded = 0;
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
};
