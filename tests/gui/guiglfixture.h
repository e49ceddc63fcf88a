// The GUI's real-table GL tests share one set-up: an offscreen target the
// size of the frame, the data fonts, the default configuration, no key held,
// no hot, active or open element, and the real call table.
#pragma once
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

#include <cstring>

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

    void endgui()
    {
        gui_mainwindowpass = gui_mainwindow;
        freetextures();
        target.free();
        font_loaded = 0;
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
};
