// The frame, in its fixed order: pace, swap, turn events into input state,
// pump downloads, log long jobs, prepare the window and the 3D view, run the
// viewport and GUI passes, report generating work and pending notices, and
// move the camera. KERFMILL_QUIT_AFTER_FRAMES ends the program after a given
// number of frames, so tests can run it to a clean exit.
#include "sys/frame.h"

#include "cam/cam.h"
#include "geom/vec.h"
#include "gui/gui.h"
#include "online/update.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/download.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "sys/window.h"
#include "view/camera.h"
#include "view/view.h"

#include <SDL.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

std::atomic<double> sys_time{0.0};
double sys_frametime = 0.0;
double sys_frameavg = 0.0;
int32_t sys_stallmark = 0;
uint64_t sys_framecount = 0;
int sys_framemutex = -1;
int sys_active = 1;
int sys_minimised = 0;
std::atomic<int> view_redraw{0};
double (*sys_clock)() = sys_seconds;

static double frame_step; // time between wake-ups as measured, before any cap
static const char frame_spinner[4] = {'-', '\\', '|', '/'};

static char frame_spin(double turns)
{
    return frame_spinner[((long long)turns % 4 + 4) % 4];
}

float sys_frameperiod(int framerate, float budget, int active, double frameavg)
{
    float period = framerate > 0 ? 1.0f / (float)framerate : 0.05f;
    if (period <= 1.0f / 240.0f)
        period = 1.0f / 240.0f;
    else if (period >= 0.05f)
        period = 0.05f;
    // Written so that a budget that is not a number counts as the least.
    float share = budget;
    if (!(share > 0.1f))
        share = 0.1f;
    else if (share >= 1.0f)
        share = 1.0f;
    if (!active) {
        period = 0.05f;
        share = 0.1f;
    }
    float over = (float)frameavg / (share * period);
    return over > 1.0f ? period * over : period;
}

// Sleeps in whole milliseconds to 1 ms short of the period, then spins to
// within 0.1 ms. The first pass measures the previous frame's work; frames
// of 0.05 s or more are left out of the average.
static void frame_pace()
{
    double prev = sys_time;
    sys_unlockmutex(sys_framemutex);
    float period = sys_frameperiod(cfg_geti(cfg_framerate), cfg_getf(cfg_cpubudget), sys_active, sys_frameavg);
    for (int pass = 0;; pass++) {
        sys_time = sys_clock();
        sys_frametime = sys_time - prev;
        if (pass == 0) {
            frame_step = sys_frametime;
            if (sys_frametime < 0.05)
                sys_frameavg = 0.9f * (float)sys_frameavg + 0.1f * (float)sys_frametime;
            else
                sys_frametime = 0.05;
        }
        float ms = (float)((period - sys_frametime) * 1000.0);
        if (ms < 0.1f)
            break;
        if (ms > 1.0f)
            SDL_Delay((Uint32)(ms - 1.0f));
    }
    sys_lockmutex(sys_framemutex);
}

// A long stall (a modal dialog, a slow step) is followed by a short time in
// which mouse buttons are ignored, so the click that ended it does not fall
// through into the program. The capped frame time cannot show a stall: the
// step is taken as measured.
static void frame_stall()
{
    if (frame_step > 1.0)
        sys_stallmark = (int32_t)sys_time;
}

// Moved, resized or refocused: remember where the window is.
static void frame_placed()
{
    if (sys_storewindowplace())
        sys_log("window position:%d,%d size:%dx%d", cfg_geti(cfg_windowx), cfg_geti(cfg_windowy),
                cfg_geti(cfg_windowwidth), cfg_geti(cfg_windowheight));
    sys_active = 1;
    view_redraw = 1;
    cfg_seti(cfg_windowmaximised, sys_maximised);
}

static void frame_close()
{
    if (!project_saved &&
        !sys_messagebox("Unsaved Project Changes",
                        "Changes have been made to this project and will be lost if not saved. Would you like to "
                        "continue without saving?",
                        2, 4, 0))
        return;
    sys_quit = 1;
}

static void frame_windowevent(const SDL_WindowEvent &w)
{
    switch (w.event) {
    case SDL_WINDOWEVENT_MOVED:
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        frame_placed();
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        sys_active = 0;
        sys_minimised = 1;
        break;
    case SDL_WINDOWEVENT_MAXIMIZED:
        sys_maximised = 1;
        sys_minimised = 0;
        sys_active = 1;
        view_redraw = 1;
        cfg_seti(cfg_windowmaximised, 1);
        break;
    case SDL_WINDOWEVENT_RESTORED:
        cfg_seti(cfg_windowmaximised, 0);
        sys_maximised = 0;
        sys_minimised = 0;
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        sys_minimised = 0;
        frame_placed();
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        sys_active = 0;
        break;
    case SDL_WINDOWEVENT_CLOSE:
        frame_close();
        break;
    default:
        break;
    }
}

// Keys and the wheel count only while the window has focus; mouse presses
// count except just after a stall. A release always counts: one dropped
// after a long frame (a detailed redraw) left the button held, and the
// camera turning with every later move. Buttons beyond the five known are
// not taken.
static void frame_event(const SDL_Event &e)
{
    int buttonsok = sys_time - sys_stallmark > 0.5;
    switch (e.type) {
    case SDL_WINDOWEVENT:
        frame_windowevent(e.window);
        break;
    case SDL_QUIT:
        // A termination signal (Ctrl+C, logout, kill) arrives as a quit
        // event; it asks like the window's close button, so unsaved work
        // is never dropped without the question.
        frame_close();
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (sys_active) {
            int key = input_keycode(SDL_GetScancodeFromKey(e.key.keysym.sym));
            if (e.type == SDL_KEYDOWN)
                input_press(key);
            else
                input_release(key);
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if ((buttonsok || e.type == SDL_MOUSEBUTTONUP) && e.button.button >= 1 && e.button.button <= 5) {
            if (e.type == SDL_MOUSEBUTTONDOWN)
                input_press(e.button.button + 87);
            else
                input_release(e.button.button + 87);
        }
        break;
    case SDL_MOUSEMOTION:
        input_mousemotion(e.motion.xrel, e.motion.yrel, e.motion.x, e.motion.y);
        break;
    case SDL_MOUSEWHEEL:
        if (sys_active)
            input_mousewheel(e.wheel.y);
        break;
    default:
        break;
    }
}

static void frame_events()
{
    SDL_Event e;
    while (SDL_PollEvent(&e))
        frame_event(e);
    if (sys_window)
        SDL_GL_GetDrawableSize(sys_window, &sys_drawable[0], &sys_drawable[1]);
    sys_aspect = sys_drawable[1] > 0 ? (float)sys_drawable[0] / (float)sys_drawable[1] : 1.0f;
}

// About once a second, every job that has run for more than a second. The
// records are read unlocked: a torn read only spoils one log line.
static void frame_logjobs()
{
    int rate = cfg_geti(cfg_framerate);
    int every = rate > 0 ? rate : 20;
    if (sys_framecount % (uint64_t)every)
        return;
    for (int i = 0; i < sys_numthreads; i++) {
        int j = sys_threads[i].current;
        if (j < 0 || j >= sys_maxjobs)
            continue;
        float start = sys_jobs[j].start;
        if (start == -1.0f)
            continue;
        double running = sys_time - start;
        if (running > 1.0)
            sys_log("***** thread[%d] job[%d] \"%s\" = %f", i, j, sys_jobs[j].name, running);
    }
}

// The window as the target: framebuffer 0, the whole drawable, cleared.
static void frame_window()
{
    r_vertsdrawn = 0;
    if (gl_framebuffers) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        r_checkerror("r_bindframebuffer (fbo:%d)", 0);
    }
    glViewport(0, 0, sys_drawable[0], sys_drawable[1]);
    r_viewport[0] = sys_drawable[0];
    r_viewport[1] = sys_drawable[1];
    r_aspect = sys_drawable[1] > 0 ? (float)sys_drawable[0] / (float)sys_drawable[1] : 1.0f;
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    if (cfg_geti(cfg_antialiasing)) {
        glEnable(GL_POINT_SMOOTH);
        glEnable(GL_LINE_SMOOTH);
    } else {
        glDisable(GL_POINT_SMOOTH);
        glDisable(GL_LINE_SMOOTH);
    }
}

// The view is buffered on the GPU only where framebuffer objects exist.
static void frame_viewmode()
{
    if (gl_framebuffers) {
        view_direct = cfg_geti(cfg_gpuviewbuffering) ? 0 : 1;
    } else {
        cfg_seti(cfg_gpuviewbuffering, 0);
        view_direct = 1;
    }
    view_caminput = 1;
    view_panblock = 0;
}

static void frame_rebuildview()
{
    // A minimised window shows nothing and its pixels are not ours to read
    // back: nothing is drawn, and a redraw asked for meanwhile (or a camera
    // move) is made by the first frame after the restore.
    if (sys_minimised) {
        if (view_moved)
            view_redraw = 1;
        view_rebuilt = 0;
        return;
    }
    if (!view_moved && !view_redraw) {
        view_rebuilt = 0;
        return;
    }
    view_redraw = 0;
    view_rebuilt = 1;
    view_buffersize[0] = sys_drawable[0];
    view_buffersize[1] = sys_drawable[1];
    if (cfg_geti(cfg_gpuviewbuffering))
        view_bindbuffer();
    view_drawgradient();
    vec3_anglevectors(view_camera.rotation);
    view_classify();
}

static void frame_toolpathstatus()
{
    int i = cam_generatingop;
    if (i < 0 || i >= cam_maxops)
        return;
    const camop &op = cam_ops[i];
    if (op.generating.load(std::memory_order_acquire)) {
        const char *name = op.type >= 0 && op.type < camop_types ? camop_typenames[op.type] : "?";
        sys_status("calculating %s... %c", name, frame_spin(sys_time / 0.3));
        return;
    }
    if (op.progress.load(std::memory_order_acquire) == 1.0f)
        sys_status("...toolpath calculated (%.2fs)", op.time);
    else
        sys_status("...toolpath calculation failed!");
    cam_generatingop = -1;
}

static void frame_shownotice()
{
    sys_notice notice;
    if (sys_takenotice(&notice))
        sys_messagebox(notice.caption, notice.text, 0, notice.icon, 0);
}

static void frame_updatestatus()
{
    static double start = -1.0, reported = -1.0;
    static int announced = 0;
    if (update_slot != -1) {
        if (start < 0.0)
            start = sys_time;
        if (reported < 0.0 || sys_time - reported > 0.5) {
            sys_status("downloading update... %c", frame_spin(2.0 * sys_time));
            reported = sys_time;
        }
    }
    if (!update_downloaded || announced)
        return;
    announced = 1;
    sys_status("...downloaded update (%.1fs)", start < 0.0 ? 0.0 : sys_time - start);
    sys_messagebox("Automatic Update",
                   "An update has finished downloading and will be installed after you close Kerfmill. Please make "
                   "sure anti-virus software does not interfere with the update process!",
                   0, 3, 0);
}

static void frame_quitseam()
{
    static const char *limit = getenv("KERFMILL_QUIT_AFTER_FRAMES");
    if (limit && sys_framecount + 1 >= strtoull(limit, nullptr, 10))
        sys_quit = 1;
}

void sys_frame()
{
    frame_pace();
    frame_stall();
    input_wheelrelease();
    if (sys_window)
        SDL_GL_SwapWindow(sys_window);
    frame_events();
    sys_downloadpump();
    frame_logjobs();
    input_takemotion();
    input_capslock = (SDL_GetModState() & KMOD_CAPS) ? 1 : 0;
    input_repeat();
    input_endframe();
    frame_window();
    frame_viewmode();
    frame_rebuildview();
    view_setprojection();
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    view_frame();
    gui_refresh();
    frame_toolpathstatus();
    project_takesave();
    frame_shownotice();
    frame_updatestatus();
    view_cameracontrol();
    frame_quitseam();
}

char sys_title[1024] = "";

void sys_settitle(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(sys_title, sizeof(sys_title), format, args);
    va_end(args);
    if (sys_window)
        SDL_SetWindowTitle(sys_window, sys_title);
}
