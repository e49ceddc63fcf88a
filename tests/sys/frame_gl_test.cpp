// The frame loop under a real display. In this process the frames run on a
// clock the tests drive, and input arrives as SDL events pushed into the
// queue; as a child process the program runs its loop at the configured
// rate and closes on the window's close button.
#include "runprogram.h"
#include "testenv.h"
#include "testlog.h"
#include "xdisplay.h"

#include "cam/cam.h"
#include "gui/gui.h"
#include "online/update.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/event.h"
#include "sys/file.h"
#include "sys/frame.h"
#include "sys/init.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "sys/window.h"
#include "view/camera.h"
#include "view/view.h"

#include <SDL.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace fs = std::filesystem;

// The test clock: exact binary fractions of a second, so frame times never
// straddle a boundary by rounding. Reads after the first of a frame creep on
// by a millisecond, so a frame that waits still ends.
static double frame_now;
static int frame_reads;

static double frame_testclock()
{
    return frame_now + 0.001 * frame_reads++;
}

constexpr double frame_step = 0.0625; // above 0.05 s, so no frame is stretched

static void push_event(SDL_Event &e)
{
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

static void push_key(Uint32 type, SDL_Scancode scancode)
{
    SDL_Event e = {};
    e.type = type;
    e.key.windowID = SDL_GetWindowID(sys_window);
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    e.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
    push_event(e);
}

static void push_button(Uint32 type, int button)
{
    SDL_Event e = {};
    e.type = type;
    e.button.windowID = SDL_GetWindowID(sys_window);
    e.button.button = (Uint8)button;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    push_event(e);
}

static void push_motion(int xrel, int yrel)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(sys_window);
    e.motion.x = 40;
    e.motion.y = 30;
    e.motion.xrel = xrel;
    e.motion.yrel = yrel;
    push_event(e);
}

static void push_wheel(int y)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = SDL_GetWindowID(sys_window);
    e.wheel.y = y;
    push_event(e);
}

// Window events of the tests carry a mark. Other tests' windows on the same
// display take the focus from ours at any moment; the filter keeps those
// real window events out, so only the tests decide the window's state.
constexpr Sint32 frame_testmark = 0x4b46;

static int frame_testfilter(void *, SDL_Event *e)
{
    return e->type != SDL_WINDOWEVENT || e->window.data2 == frame_testmark;
}

static void push_window(Uint8 event)
{
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(sys_window);
    e.window.event = event;
    e.window.data2 = frame_testmark;
    push_event(e);
}

static int held_count(int key)
{
    int n = 0;
    for (int32_t k : input_held)
        n += k == key;
    return n;
}

// The program brought up as start-up does it: window, both contexts and
// every subsystem start, with the frame mutex held by the test thread.
class Frame : public testing::Test {
protected:
    static inline fs::path folder;

    static void SetUpTestSuite()
    {
        folder = fs::temp_directory_path() / ("kerfmill-frame-" + std::to_string(getpid()));
        fs::create_directories(folder);
        snprintf(sys_configpath, sizeof(sys_configpath), "%s", (folder / "config.dat").c_str());
        file_tablealloc();
        sys_logfile = file_open((folder / "log.txt").c_str(), "wt");
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        config_init();
        cfg_seti(cfg_windowmaximised, 0);
        cfg_seti(cfg_windowwidth, 160);
        cfg_seti(cfg_windowheight, 120);
        sys_maximised = 0;
        sys_threadsinit();
        sys_threadsstart(2);
        ASSERT_TRUE(sys_openwindow());
        ASSERT_EQ(sys_init(), 1);
        SDL_SetEventFilter(frame_testfilter, nullptr);
        sys_lockmutex(sys_framemutex);
    }
    static void TearDownTestSuite()
    {
        sys_unlockmutex(sys_framemutex);
        SDL_SetEventFilter(nullptr, nullptr);
        sys_threadsquit();
        view_quit();
        r_quitdraw();
        event_free();
        sys_threadsdone();
        sys_destroymutexes();
        sys_memmutex = sys_logmutex = sys_statusmutex = sys_framemutex = -1;
        sys_closewindow();
        sys_clock = sys_seconds;
        file_close(sys_logfile);
        sys_logfile = -1;
        file_tablefree();
        fs::remove_all(folder);
    }
    void SetUp() override
    {
        sys_clock = frame_testclock;
        frame_now = 64.0;
        sys_time = 64.0;
        sys_frameavg = 0.0;
        sys_stallmark = 0;
        sys_quit = 0;
        project_saved = 1;
        input_init();
        push_window(SDL_WINDOWEVENT_FOCUS_GAINED);
        frame();
    }
    void TearDown() override
    {
        text_editstate.string = nullptr;
        gui_hotid = -1;
        sys_quit = 0;
        sys_maximised = 0;
        sys_minimised = 0;
    }
    // One frame, step seconds after the last.
    static void frame(double step = frame_step)
    {
        frame_now += step;
        frame_reads = 0;
        sys_frame();
        sys_framecount++;
    }
};

TEST_F(Frame, KeyEventsGiveTheProgramsKeyCodes)
{
    struct Case {
        SDL_Scancode scancode;
        int key;
    };
    const Case cases[] = {
        {SDL_SCANCODE_A, 1},        {SDL_SCANCODE_Z, 26},      {SDL_SCANCODE_1, 28},       {SDL_SCANCODE_0, 37},
        {SDL_SCANCODE_KP_0, 37},    {SDL_SCANCODE_KP_5, 32},   {SDL_SCANCODE_RETURN, 46},  {SDL_SCANCODE_KP_ENTER, 46},
        {SDL_SCANCODE_GRAVE, 27},   {SDL_SCANCODE_ESCAPE, 56}, {SDL_SCANCODE_F12, 68},     {SDL_SCANCODE_CAPSLOCK, 72},
        {SDL_SCANCODE_LSHIFT, 73},  {SDL_SCANCODE_RCTRL, 74},  {SDL_SCANCODE_RALT, 75},    {SDL_SCANCODE_BACKSPACE, 76},
        {SDL_SCANCODE_DOWN, 87},    {SDL_SCANCODE_AUDIONEXT, 0}, // beyond the table
    };
    for (const Case &c : cases) {
        push_key(SDL_KEYDOWN, c.scancode);
        frame();
        EXPECT_EQ(input_keys[c.key], 1) << SDL_GetScancodeName(c.scancode);
        EXPECT_TRUE(input_pressed(c.key)) << SDL_GetScancodeName(c.scancode);
        EXPECT_EQ(held_count(c.key), 1) << SDL_GetScancodeName(c.scancode);
        push_key(SDL_KEYUP, c.scancode);
        frame();
        EXPECT_EQ(input_keys[c.key], 0) << SDL_GetScancodeName(c.scancode);
        EXPECT_EQ(input_keyprev[c.key], 1) << SDL_GetScancodeName(c.scancode);
        EXPECT_EQ(held_count(c.key), 0) << SDL_GetScancodeName(c.scancode);
    }
}

// Press and release between two frames: the frame sees the key pressed once,
// and the next frame sees it up again.
TEST_F(Frame, AKeyTappedBetweenFramesIsPressedForOneFrame)
{
    push_key(SDL_KEYDOWN, SDL_SCANCODE_RETURN);
    push_key(SDL_KEYUP, SDL_SCANCODE_RETURN);
    frame();
    EXPECT_EQ(input_keys[46], 0);
    EXPECT_TRUE(input_pressed(46));
    EXPECT_EQ(held_count(46), 0);
    frame();
    EXPECT_FALSE(input_pressed(46));
    EXPECT_EQ(input_keyframe[46], 0);
    frame();
    EXPECT_FALSE(input_pressed(46));
}

TEST_F(Frame, KeysNeedTheFocusButtonsDoNot)
{
    push_window(SDL_WINDOWEVENT_FOCUS_LOST);
    push_key(SDL_KEYDOWN, SDL_SCANCODE_Q);
    push_wheel(1);
    push_button(SDL_MOUSEBUTTONDOWN, 1);
    frame();
    EXPECT_EQ(sys_active, 0);
    EXPECT_EQ(input_keys[17], 0);
    EXPECT_EQ(input_keys[key_wheelup], 0);
    EXPECT_EQ(input_keys[key_mouseleft], 1);
    push_window(SDL_WINDOWEVENT_FOCUS_GAINED);
    push_key(SDL_KEYDOWN, SDL_SCANCODE_Q);
    frame();
    EXPECT_EQ(sys_active, 1);
    EXPECT_EQ(input_keys[17], 1);
}

TEST_F(Frame, HeldSlotsFillFirstFreeAndHoldFive)
{
    const SDL_Scancode keys[] = {SDL_SCANCODE_A, SDL_SCANCODE_B, SDL_SCANCODE_C,
                                 SDL_SCANCODE_D, SDL_SCANCODE_E, SDL_SCANCODE_F};
    for (SDL_Scancode k : keys)
        push_key(SDL_KEYDOWN, k);
    frame();
    const int32_t five[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(memcmp(input_held, five, sizeof(five)), 0);
    EXPECT_EQ(input_heldmask, 0x1fu);
    EXPECT_EQ(input_keys[6], 1); // the sixth key is down but not held

    push_key(SDL_KEYUP, SDL_SCANCODE_B);
    push_key(SDL_KEYDOWN, SDL_SCANCODE_C); // SDL's own repeat: dropped
    frame();
    EXPECT_EQ(input_held[1], -1);
    EXPECT_EQ(input_heldmask, 0x1du);
    EXPECT_EQ(held_count(3), 1);

    push_key(SDL_KEYDOWN, SDL_SCANCODE_G);
    frame();
    EXPECT_EQ(input_held[1], 7);
    EXPECT_EQ(input_heldmask, 0x1fu);
}

TEST_F(Frame, HeldKeyRepeatsAfterHalfASecondThenEveryTwentiethWhileEditing)
{
    char field[16] = "12";
    text_editstate.string = field;
    push_key(SDL_KEYDOWN, SDL_SCANCODE_KP_1);
    frame();
    double pressed = sys_time;
    ASSERT_EQ(input_repeatkey, 28);
    EXPECT_FLOAT_EQ(input_repeattime, (float)(pressed + 0.5));
    std::vector<double> repeats;
    for (int i = 0; i < 12; i++) {
        float before = input_repeattime;
        frame();
        if (input_repeattime != before) {
            repeats.push_back(sys_time - pressed);
            EXPECT_FLOAT_EQ(input_repeattime, (float)sys_time + 0.05f);
        }
    }
    // Frames come every 0.0625 s: the first after 0.5 s is at 0.5625, and
    // from then on every frame is more than 0.05 s after the last repeat.
    ASSERT_EQ(repeats.size(), 4u);
    EXPECT_DOUBLE_EQ(repeats[0], 0.5625);
    EXPECT_DOUBLE_EQ(repeats[3], 0.75);
    push_key(SDL_KEYUP, SDL_SCANCODE_KP_1);
    frame();
    EXPECT_EQ(input_repeatkey, -1);

    // Without a text edit nothing repeats.
    text_editstate.string = nullptr;
    push_key(SDL_KEYDOWN, SDL_SCANCODE_KP_1);
    frame();
    EXPECT_EQ(input_repeatkey, -1);
}

TEST_F(Frame, WheelNotchIsAKeyForOneFrame)
{
    struct Case {
        int y;
        int key;
    };
    const Case cases[] = {{1, key_wheelup}, {-1, key_wheeldown}, {3, key_wheelup}};
    for (const Case &c : cases) {
        push_wheel(c.y);
        frame();
        EXPECT_EQ(input_keys[c.key], 1) << c.y;
        EXPECT_TRUE(input_pressed(c.key)) << c.y;
        EXPECT_EQ(held_count(c.key), 1) << c.y;
        EXPECT_FLOAT_EQ(input_wheel, (float)c.y);
        frame();
        EXPECT_EQ(input_keys[c.key], 0) << c.y;
        EXPECT_EQ(input_keyframe[c.key], 0) << c.y;
        EXPECT_EQ(held_count(c.key), 0) << c.y;
        EXPECT_FLOAT_EQ(input_wheel, 0.0f);
    }
}

TEST_F(Frame, MouseButtonsAreIgnoredJustAfterAStall)
{
    struct Case {
        double step;
        int taken;
    };
    // Now is 64.0625: a 1.5 s frame ends at 65.5625, more than half a second
    // past the whole second of the stall; a 1.25 s frame ends at 65.3125.
    const Case cases[] = {{1.5, 1}, {1.25, 0}, {frame_step, 1}};
    for (const Case &c : cases) {
        frame_now = 64.0625;
        sys_time = 64.0625;
        sys_stallmark = 0;
        input_init();
        push_button(SDL_MOUSEBUTTONDOWN, 3);
        frame(c.step);
        EXPECT_EQ(input_keys[key_mouseright], c.taken) << c.step;
    }
}

TEST_F(Frame, WindowEventsKeepTheWindowState)
{
    struct Step {
        Uint8 event;
        int active, minimised, maximised, cfgmaximised;
        bool logsplace;
    };
    const Step steps[] = {
        {SDL_WINDOWEVENT_MINIMIZED, 0, 1, 0, 0, false},
        {SDL_WINDOWEVENT_RESTORED, 0, 0, 0, 0, false}, // activity waits for the focus
        {SDL_WINDOWEVENT_FOCUS_GAINED, 1, 0, 0, 0, true},
        {SDL_WINDOWEVENT_MAXIMIZED, 1, 0, 1, 1, false},
        {SDL_WINDOWEVENT_SIZE_CHANGED, 1, 0, 1, 1, false}, // a maximised size is not remembered
        {SDL_WINDOWEVENT_FOCUS_LOST, 0, 0, 1, 1, false},
        {SDL_WINDOWEVENT_RESTORED, 0, 0, 0, 0, false},
        {SDL_WINDOWEVENT_MOVED, 1, 0, 0, 0, true},
    };
    cfg_seti(cfg_windowwidth, 1);
    for (const Step &s : steps) {
        testlog_capture log;
        view_redraw = 0;
        push_window(s.event);
        frame();
        int e = s.event;
        EXPECT_EQ(sys_active, s.active) << e;
        EXPECT_EQ(sys_minimised, s.minimised) << e;
        EXPECT_EQ(sys_maximised, s.maximised) << e;
        EXPECT_EQ(cfg_geti(cfg_windowmaximised), s.cfgmaximised) << e;
        EXPECT_EQ(log.contains("window position:"), s.logsplace) << e;
    }
    int w, h;
    SDL_GetWindowSize(sys_window, &w, &h);
    EXPECT_EQ(cfg_geti(cfg_windowwidth), w);
}

TEST_F(Frame, TitleIsFormatted)
{
    sys_settitle("%s (%s)", SYS_TITLE, "Inches");
    EXPECT_STREQ(SDL_GetWindowTitle(sys_window), "Kerfmill v1.86b 64-bit  (Inches)");
}

// The close button, and a termination signal (which SDL turns into a quit
// event), ask the same question before unsaved work is dropped.
TEST_F(Frame, ClosingWithUnsavedChangesAsksFirst)
{
    struct Case {
        bool signal;
        uint32_t saved;
        const char *answer;
        bool asks;
        bool quits;
    };
    const Case cases[] = {
        {false, 1, "no", false, true}, {false, 0, "no", true, false}, {false, 0, "yes", true, true},
        {true, 1, "no", false, true},  {true, 0, "no", true, false},  {true, 0, "yes", true, true},
    };
    for (const Case &c : cases) {
        scoped_env env;
        env.set("KERFMILL_MSGBOX_ANSWERS", c.answer);
        testlog_capture log;
        project_saved = c.saved;
        sys_quit = 0;
        if (c.signal) {
            SDL_Event e = {};
            e.type = SDL_QUIT;
            push_event(e);
        } else {
            push_window(SDL_WINDOWEVENT_CLOSE);
        }
        frame();
        EXPECT_EQ(log.contains("sys_messagebox \"Unsaved Project Changes\""), c.asks) << c.answer;
        EXPECT_EQ(sys_quit != 0, c.quits) << c.saved << " " << c.answer;
    }
}

// Reads one pixel of what the frame drew into: the view framebuffer when the
// view is buffered (the viewport's passes end with the window's bound), else
// the window's back buffer.
static void frame_readpixel(int x, int y, uint8_t *rgb)
{
    glBindFramebuffer(GL_FRAMEBUFFER, view_direct ? 0 : view_fbo);
    glReadBuffer(view_direct ? GL_BACK : GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
}

static void expect_colour(const uint8_t *got, int offset, const char *where)
{
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(got[i], cfg_getf(offset + 4 * i) * 255.0f, 6.0f) << where << " channel " << i;
}

TEST_F(Frame, RebuiltViewHasTheBackgroundGradient)
{
    struct Case {
        int buffered;
        float pitch;
        int dirclass;
        int top; // colour expected at the top: the gradient's lower or upper colour
    };
    const Case cases[] = {
        {1, 0.0f, 5, cfg_backgroundcolor1},  // looking down: all the lower colour
        {0, 0.0f, 5, cfg_backgroundcolor1},
        {1, 90.0f, 1, cfg_backgroundcolor2}, // looking level along +Y: upper above, lower below
        {0, 90.0f, 1, cfg_backgroundcolor2},
    };
    // The project start framed the canvas: the camera of the cases is set
    // whole, aimed well away from the canvas and the axes so that only the
    // background shows in the sampled column.
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {1000.0f, 1000.0f, 0.0f}};
    // The grid's lines through the origin would run down the sampled column.
    cfg_seti(cfg_showgrid, 0);
    for (const Case &c : cases) {
        cfg_seti(cfg_gpuviewbuffering, c.buffered);
        view_camera.rotation[0] = c.pitch;
        view_camera.rotation[2] = 0.0f;
        view_redraw = 1;
        frame();
        ASSERT_EQ(view_rebuilt, 1);
        EXPECT_EQ(view_direct, c.buffered ? 0 : 1);
        EXPECT_EQ(view_dirclass, c.dirclass);
        if (c.buffered) {
            EXPECT_GE(view_colortexture, 0);
            EXPECT_GE(view_depthtexture, 0);
        }
        uint8_t top[3], bottom[3];
        frame_readpixel(sys_drawable[0] / 2, sys_drawable[1] - 1, top);
        frame_readpixel(sys_drawable[0] / 2, 0, bottom);
        std::string label = std::string(c.buffered ? "buffered" : "direct") + " pitch " + std::to_string(c.pitch);
        expect_colour(top, c.top, (label + " top").c_str());
        expect_colour(bottom, cfg_backgroundcolor1, (label + " bottom").c_str());
        frame();
        EXPECT_EQ(view_rebuilt, 0) << "no redraw was asked for";
    }
    view_camera.rotation[0] = 0.0f;
    cfg_seti(cfg_showgrid, 1);
}

// Direct mode while minimised: frames draw nothing into the window and read
// nothing back, and a redraw asked for meanwhile is made by the first frame
// after the restore, with what changed while the window was away.
TEST_F(Frame, MinimisedDirectViewDrawsNothingUntilRestored)
{
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {1000.0f, 1000.0f, 0.0f}};
    cfg_seti(cfg_showgrid, 0);
    cfg_seti(cfg_gpuviewbuffering, 0);
    float saved[3];
    for (int i = 0; i < 3; i++)
        saved[i] = cfg_getf(cfg_backgroundcolor1 + 4 * i);
    const int x = sys_drawable[0] / 2;
    // The colour the read-back holds where the window's pixel x, 0 is.
    auto cached = [x] {
        std::vector<uint8_t> rgb((size_t)sys_drawable[0] * sys_drawable[1] * 3);
        r_bindtexture(view_rgbtexture, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        r_unbindtexture(0);
        return std::vector<uint8_t>(rgb.begin() + 3 * x, rgb.begin() + 3 * x + 3);
    };
    view_redraw = 1;
    frame();
    ASSERT_EQ(view_direct, 1);
    ASSERT_EQ(view_rebuilt, 1);
    ASSERT_GE(view_rgbtexture, 0);
    uint8_t px[3];
    frame_readpixel(x, 0, px);
    expect_colour(px, cfg_backgroundcolor1, "before minimising");
    const std::vector<uint8_t> before = cached();

    push_window(SDL_WINDOWEVENT_MINIMIZED);
    const float other[3] = {0.9f, 0.1f, 0.6f};
    for (int i = 0; i < 3; i++)
        cfg_setf(cfg_backgroundcolor1 + 4 * i, other[i]);
    view_redraw = 1;
    for (int f = 0; f < 2; f++) {
        frame();
        EXPECT_EQ(sys_minimised, 1);
        EXPECT_EQ(view_rebuilt, 0) << "minimised frame " << f << " re-rendered the view";
        frame_readpixel(x, 0, px);
        EXPECT_EQ(px[0] + px[1] + px[2], 0) << "minimised frame " << f << " drew into the window";
        EXPECT_EQ(cached(), before) << "minimised frame " << f << " read the window back";
    }

    push_window(SDL_WINDOWEVENT_RESTORED);
    frame();
    EXPECT_EQ(view_rebuilt, 1) << "the redraw asked for while minimised";
    frame_readpixel(x, 0, px);
    expect_colour(px, cfg_backgroundcolor1, "restore frame");
    frame();
    EXPECT_EQ(view_rebuilt, 0);
    frame_readpixel(x, 0, px);
    expect_colour(px, cfg_backgroundcolor1, "idle frame after the restore");

    for (int i = 0; i < 3; i++)
        cfg_setf(cfg_backgroundcolor1 + 4 * i, saved[i]);
    cfg_seti(cfg_showgrid, 1);
    view_redraw = 1;
}

// A project loaded in the 2D view is framed with the 3D angles; the camera
// control puts the camera back straight down, and the view already drawn
// turned is drawn again.
TEST_F(Frame, TwoDViewUndoesATurnedCameraAndRedraws)
{
    cfg_seti(cfg_viewmode2d, 1);
    frame();
    view_camera = {{45.0f, 0.0f, -22.5f}, 10.0f, {0.0f, 0.0f, 0.0f}};
    view_redraw = 0;
    frame();
    EXPECT_EQ(view_camera.rotation[0], 0.0f);
    EXPECT_EQ(view_camera.rotation[2], 0.0f);
    frame();
    EXPECT_EQ(view_rebuilt, 1) << "the turned picture stays on the screen";
    frame();
    EXPECT_EQ(view_rebuilt, 0) << "one redraw, not one every frame";
    cfg_seti(cfg_viewmode2d, 0);
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
}

TEST_F(Frame, ProjectionCentresTheViewBetweenThePanels)
{
    view_camera = {{30.0f, 0.0f, 45.0f}, 10.0f, {1.0f, 2.0f, 0.5f}};
    const int modes[] = {0, 1};
    for (int perspective : modes) {
        cfg_seti(cfg_perspective, perspective);
        frame();
        // The GUI pass ends the frame in its own 2D projection; the view's
        // is set again, from the frame's state, to be read back.
        view_setprojection();
        float centre[3];
        r_project(centre, view_camera.centre);
        float shift = (280.0f - 360.0f) / (280.0f + 360.0f);
        EXPECT_NEAR(centre[0], shift / r_aspect, 1e-4) << perspective;
        EXPECT_NEAR(centre[1], 0.0f, 1e-4) << perspective;
    }
    cfg_seti(cfg_perspective, 0);
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
}

TEST_F(Frame, RightDragTurnsTheCamera)
{
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
    push_button(SDL_MOUSEBUTTONDOWN, 3);
    push_motion(50, 50); // the first frame of a press does not move
    frame();
    EXPECT_FLOAT_EQ(view_camera.rotation[0], 0.0f);
    EXPECT_EQ(view_moved, 1);
    push_motion(10, -20);
    frame();
    EXPECT_FLOAT_EQ(view_camera.rotation[0], 6.0f);
    EXPECT_FLOAT_EQ(view_camera.rotation[2], 357.0f);
    push_motion(0, 100); // the pitch stops at 0
    frame();
    EXPECT_FLOAT_EQ(view_camera.rotation[0], 0.0f);
    push_button(SDL_MOUSEBUTTONUP, 3);
    frame();
    EXPECT_EQ(view_moved, 0);
}

TEST_F(Frame, DragsAtTheHorizonKeepTheCentreInReach)
{
    // Looking level, the ground is seen edge-on: its tangent and inverse
    // cosine have no finite value, yet a drag must move the centre finitely.
    const int buttons[] = {1, 2}; // pan, drag zoom
    for (int button : buttons) {
        view_camera = {{90.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
        push_button(SDL_MOUSEBUTTONDOWN, button);
        frame();
        push_motion(0, 10);
        frame();
        push_button(SDL_MOUSEBUTTONUP, button);
        frame();
        float reach = std::hypot(view_camera.centre[0], view_camera.centre[1], view_camera.centre[2]);
        EXPECT_GT(reach, 0.0f) << button;
        EXPECT_LT(reach, 100.0f) << button;
    }
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
}

TEST_F(Frame, WheelZoomKeepsTheDistanceWithinItsLimits)
{
    struct Case {
        int perspective;
        int wheel;
        int hot;
        float distance; // in units of 1 / tan(fov / 2) in perspective
    };
    const Case cases[] = {
        {0, 1000, -1, 0.005f}, {0, -1000, -1, 100.0f}, {1, 1000, -1, 0.005f},
        {1, -1000, -1, 100.0f}, {0, 1000, 7, 10.0f}, // a hot element keeps the wheel
    };
    for (const Case &c : cases) {
        cfg_seti(cfg_perspective, c.perspective);
        view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
        gui_hotid = c.hot;
        push_wheel(c.wheel);
        frame();
        float k = c.perspective ? 1.0f / std::tan(cfg_getf(cfg_fov) * 3.14159265f / 360.0f) : 1.0f;
        float expected = c.hot == -1 ? c.distance * k : c.distance;
        EXPECT_NEAR(view_camera.distance, expected, expected * 1e-5) << c.perspective << " " << c.wheel;
        frame();
    }
    gui_hotid = -1;
    cfg_seti(cfg_perspective, 0);
    view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
}

TEST_F(Frame, StatusLineFollowsTheGeneratingOperation)
{
    struct Case {
        int generating;
        float progress;
        const char *status; // before the spinner, or the whole text
        int stays;
    };
    const Case cases[] = {
        {1, 0.3f, "calculating Parallel Carving... ", 1},
        {0, 1.0f, "...toolpath calculated (2.50s)", 0},
        {0, 0.4f, "...toolpath calculation failed!", 0},
    };
    for (const Case &c : cases) {
        camop &op = cam_ops[3];
        op.type = 1;
        op.generating = c.generating;
        op.progress = c.progress;
        op.time = 2.5f;
        cam_generatingop = 3;
        frame();
        std::string status = sys_statustext;
        EXPECT_EQ(status.rfind(c.status, 0), 0u) << status;
        if (c.generating) {
            const char spinner[] = "-\\|/";
            EXPECT_EQ(status.back(), spinner[(long long)(sys_time / 0.3) % 4]) << status;
        }
        EXPECT_EQ(cam_generatingop, c.stays ? 3 : -1);
    }
    cam_ops[3].type = 0;
    cam_ops[3].generating = 0;
    cam_ops[3].progress = 0.0f;
    cam_generatingop = -1;
}

struct notice_job {
    std::atomic<int> done{0};
};

static void job_notice(void *arg)
{
    cam_log("Operation Toolpath Failure", 4, "Operation failed to generate a toolpath (%d).", 7);
    ((notice_job *)arg)->done = 1;
}

TEST_F(Frame, NoticeFromAWorkerIsShownByTheNextFrame)
{
    testlog_capture log;
    notice_job job;
    ASSERT_GE(sys_threadjob("notice", job_notice, &job), 0);
    for (int i = 0; i < 500 && !job.done; i++)
        SDL_Delay(10);
    ASSERT_TRUE(job.done);
    EXPECT_TRUE(log.contains("[ CAM ] Operation Toolpath Failure - Operation failed to generate a toolpath (7)."));
    EXPECT_FALSE(log.contains("sys_messagebox \"Operation Toolpath Failure\""));
    frame();
    frame();
    EXPECT_EQ(log.count("sys_messagebox \"Operation Toolpath Failure\""), 1);

    // On the main thread the notice is shown at once.
    cam_log("Main Notice", 3, "%s", "shown now");
    EXPECT_EQ(log.count("sys_messagebox \"Main Notice\""), 1);
}

static void job_error(void *arg)
{
    sys_error("spindle driver not responding (%d)", 3);
    ((notice_job *)arg)->done = 1;
}

TEST_F(Frame, ErrorOnAWorkerIsShownByALaterFrame)
{
    testlog_capture log;
    sys_errortime = -99999.0f;
    notice_job job;
    ASSERT_GE(sys_threadjob("error", job_error, &job), 0);
    for (int i = 0; i < 500 && !job.done; i++)
        SDL_Delay(10);
    ASSERT_TRUE(job.done);
    EXPECT_TRUE(log.contains("[ ERROR ] spindle driver not responding (3)"));
    EXPECT_FALSE(log.contains("sys_messagebox \"Error\""));
    frame();
    EXPECT_EQ(log.count("sys_messagebox \"Error\""), 1);
    frame();
    EXPECT_EQ(log.count("sys_messagebox \"Error\""), 1);
}

TEST_F(Frame, UpdateDownloadIsReportedOnce)
{
    testlog_capture log;
    update_slot = 2;
    frame();
    std::string status = sys_statustext;
    EXPECT_EQ(status.rfind("downloading update... ", 0), 0u) << status;
    double start = sys_time;
    frame();
    frame();
    update_slot = -1;
    update_downloaded = 1;
    frame();
    char expected[64];
    snprintf(expected, sizeof(expected), "...downloaded update (%.1fs)", sys_time - start);
    EXPECT_STREQ(sys_statustext, expected);
    frame();
    EXPECT_EQ(log.count("sys_messagebox \"Automatic Update\""), 1);
    update_downloaded = 0;
}

struct long_job {
    std::atomic<int> release{0};
    std::atomic<int> done{0};
};

// Runs until released, at most a minute: long enough that no load ends it
// before the frames have logged it, bounded so a broken test still ends.
static void job_long(void *arg)
{
    long_job *j = (long_job *)arg;
    for (int i = 0; i < 6000 && !j->release; i++)
        SDL_Delay(10);
    j->done = 1;
}

TEST_F(Frame, JobsRunningOverASecondAreLogged)
{
    // Real time here: the job's start is stamped by the clock.
    sys_clock = sys_seconds;
    sys_time = sys_seconds();
    cfg_seti(cfg_framerate, 20);
    sys_framecount = 1;
    testlog_capture log;
    long_job slow, quick;
    quick.release = 1;
    ASSERT_GE(sys_threadjob("longjob", job_long, &slow), 0);
    ASSERT_GE(sys_threadjob("quickjob", job_long, &quick), 0);
    // Frames run until the log shows the job; the bound only ends a broken
    // run, the job itself outlives it.
    double until = sys_seconds() + 50.0;
    while (!log.contains("\"longjob\" = ") && sys_seconds() < until) {
        sys_frame();
        sys_framecount++;
    }
    slow.release = 1;
    for (int i = 0; i < 6000 && !(slow.done && quick.done); i++)
        SDL_Delay(10);
    cfg_seti(cfg_framerate, 60);
    std::string text = log.text();
    size_t at = text.find("\"longjob\" = ");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_GT(atof(text.c_str() + at + strlen("\"longjob\" = ")), 1.0);
    EXPECT_NE(text.rfind("***** thread[", at), std::string::npos);
    EXPECT_EQ(text.find("\"quickjob\""), std::string::npos);
}

// A configuration file for the child: the built-in record with a few fields
// changed, written where the child will look for it.
static void frame_writeconfig(const fs::path &home, int framerate)
{
    std::vector<uint8_t> rec(cfg_defaults, cfg_defaults + cfg_size);
    auto put = [&](int offset, auto value) { memcpy(rec.data() + offset, &value, 4); };
    put(cfg_framerate, (int32_t)framerate);
    put(cfg_cpubudget, 1.0f);
    put(cfg_windowmaximised, (int32_t)0);
    put(cfg_windowwidth, (int32_t)320);
    put(cfg_windowheight, (int32_t)240);
    put(cfg_termsaccepted, (int32_t)1);
    fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
    fs::create_directories(user);
    std::ofstream(user / "config.dat", std::ios::binary).write((const char *)rec.data(), (std::streamsize)rec.size());
}

// Seconds stamped on the first log line that contains text; -1 when none.
static double frame_logtime(const std::string &log, const char *text)
{
    size_t at = log.find(text);
    if (at == std::string::npos)
        return -1.0;
    size_t line = log.rfind('\n', at);
    return atof(log.c_str() + (line == std::string::npos ? 0 : line + 1));
}

// Pacing holds the loop back to the configured rate: the frames can never
// take less than their periods. How much longer they take depends on the
// machine's load, so only the lower bound is asserted.
TEST_F(Startup, LoopNeverRunsFasterThanTheConfiguredRate)
{
    struct Case {
        int framerate;
        int frames;
    };
    const Case cases[] = {{30, 60}, {60, 120}};
    private_display display;
    ASSERT_FALSE(display.name.empty()) << "no X server of the test's own";
    for (const Case &c : cases) {
        fs::remove_all(home / "data");
        frame_writeconfig(home, c.framerate);
        std::string frames = "KERFMILL_QUIT_AFTER_FRAMES=" + std::to_string(c.frames);
        ASSERT_EQ(startup_run(home, {frames, "DISPLAY=" + display.name, "ASAN_OPTIONS=detect_leaks=0"}), 0);
        std::string log = startup_log(home);
        double begin = frame_logtime(log, " LOOP ");
        double end = frame_logtime(log, " QUIT ");
        ASSERT_GE(begin, 0.0) << log;
        ASSERT_GE(end, 0.0) << log;
        double expected = (double)c.frames / c.framerate;
        EXPECT_GT(end - begin, 0.95 * expected) << c.framerate << " Hz";
    }
}

static pid_t frame_parentof(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close == std::string::npos ? -1 : (pid_t)atoi(text.c_str() + close + 4);
}

// Sends the close request to the top-level window of a child of this
// process; true when one was found.
static bool frame_closechildwindow(x11_api &x)
{
    return xdisplay_closewindow(x, nullptr, [](pid_t pid) { return frame_parentof(pid) == getpid(); });
}

// The frame limit only ends a child the close request never reached: at the
// configured 60 Hz, which the loop never outruns, its frames last at least a
// minute, so a loop that ended well before that was ended by the close,
// however slowly a loaded machine delivered it.
TEST_F(Startup, WindowCloseEndsTheProgramCleanly)
{
    constexpr int limit = 3600;
    x11_api x;
    ASSERT_TRUE(x.ready()) << dlerror();
    frame_writeconfig(home, 60);
    std::atomic<int> code{-2};
    std::thread child([&] {
        code = startup_run(home, {"KERFMILL_QUIT_AFTER_FRAMES=" + std::to_string(limit),
                                  "ASAN_OPTIONS=detect_leaks=0"});
    });
    auto now = [] { return std::chrono::steady_clock::now(); };
    auto deadline = now() + std::chrono::seconds(120);
    bool sent = false;
    while (!sent && code == -2 && now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
        if (fs::exists(user) && startup_log(home).find(" LOOP ") != std::string::npos)
            sent = frame_closechildwindow(x);
    }
    child.join();
    ASSERT_TRUE(sent) << startup_log(home);
    EXPECT_EQ(code, 0);
    std::string log = startup_log(home);
    double begin = frame_logtime(log, " LOOP ");
    double end = frame_logtime(log, " QUIT ");
    ASSERT_GE(begin, 0.0) << log;
    ASSERT_GE(end, 0.0) << log;
    EXPECT_LT(end - begin, 0.9 * limit / 60.0) << "closed by the frame limit instead";
    EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
}
