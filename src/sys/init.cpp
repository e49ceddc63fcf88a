// Subsystem start-up. The mutexes are created in a fixed order, so their ids
// are fixed: memory 0, log 1, status 2, frame 3, sysfont 4, font-cache 5,
// image 6, CAM 7, project 8. Each start is announced in the log by an empty
// line and its name; the first that fails ends start-up.
#include "sys/init.h"

#include "cam/cam.h"
#include "cam/cnc.h"
#include "geom/mesh.h"
#include "geom/meshshader.h"
#include "gui/gui.h"
#include "img/convobench.h"
#include "img/image.h"
#include "img/svg.h"
#include "online/conlib.h"
#include "online/update.h"
#include "project/editor.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/sysfont.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "view/view.h"

static void init_announce(const char *name)
{
    sys_log("");
    sys_log("%s", name);
}

static int init_mutexes()
{
    init_announce("mutexes...");
    sys_memmutex = sys_createmutex();
    sys_logmutex = sys_createmutex();
    sys_statusmutex = sys_createmutex();
    sys_framemutex = sys_createmutex();
    return 1;
}

static int init_input()
{
    init_announce("input...");
    input_init();
    config_save();
    return 1;
}

// The undo/redo ring, empty.
static int init_events()
{
    init_announce("event...");
    return event_alloc();
}

// FreeType and its face table.
static int init_ttf()
{
    init_announce("ttf...");
    return sys_initfreetype();
}

// The machine's font files, the font cache, the text objects, then the
// sysfont and font-cache mutexes.
static int init_text()
{
    init_announce("text...");
    return sys_initfonts();
}

// The renderer's tables and arrays, the GL entry points (a GL the program
// cannot run on ends it), and the default state. Texture coordinates travel
// as 4096 times their value; the texture matrix scales them back.
static int init_render()
{
    init_announce("render...");
    r_initdraw();
    r_clearshaders();
    r_cleartextures();
    gl_logextensions();
    if (!gl_loadentrypoints()) {
        sys_quit = 1;
        return 0;
    }
    r_defaultstate();
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glScalef(1.0f / 4096.0f, 1.0f / 4096.0f, 1.0f);
    glMatrixMode(GL_MODELVIEW);
    glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glHint(GL_POLYGON_SMOOTH_HINT, GL_NICEST);
    glDisable(GL_POLYGON_SMOOTH);
    glEnable(GL_DITHER);
    return 1;
}

// The image table and its mutex, the SVG reader's parser set-up (before any
// worker can load a picture), then which of processor and GPU convolves
// faster.
static int init_image()
{
    init_announce("image...");
    img_init();
    svg_init();
    img_benchmarkconvo();
    return 1;
}

static int init_model()
{
    init_announce("model...");
    return model_init();
}

// The thirty data fonts; a missing glyph sheet fails start-up.
static int init_fontdrawing()
{
    init_announce("font drawing...");
    return font_init();
}

static int init_view()
{
    init_announce("view...");
    view_init();
    return 1;
}

static int init_mesh()
{
    init_announce("mesh...");
    return mesh_init();
}

static int init_toolpath()
{
    init_announce("toolpath...");
    toolpath_init();
    return 1;
}

static int init_cnc()
{
    init_announce("cnc...");
    return cnc_init();
}

static int init_cam()
{
    init_announce("cam...");
    cam_init();
    return 1;
}

static int init_project()
{
    init_announce("project...");
    return project_init();
}

static int init_gui()
{
    init_announce("gui...");
    gui_init();
    project_textinput = text_beginedit;
    conlib_init();
    return 1;
}

static const char init_disclaimer[] =
    "This version of Kerfmill is an unfinished early-access beta. Its reliability and safety are provided on a "
    "best-effort basis only: check every toolpath in the simulation before you run it on a machine, and stay "
    "with the machine while it cuts.\n\n"
    "Please read the User Guide included with the program before you use it.\n\n"
    "Questions and reports of problems are welcome at support@kerfmill.example.\n\n"
    "By clicking 'Yes' and choosing to use this software you are agreeing to the author's exemption from "
    "liability and assume responsibility for any damages, injuries, or data loss that may occur through its "
    "use.\n\nDo you agree to these terms?";

// The terms of use, asked until they are accepted once. 0 when refused.
static int init_terms()
{
    if (cfg_geti(cfg_termsaccepted))
        return 1;
    if (!sys_messagebox("Beta Version Disclaimer", init_disclaimer, 2, 4, 0)) {
        sys_log("!!! user did not agree to the terms and conditions !!!");
        return 0;
    }
    cfg_seti(cfg_termsaccepted, 1);
    config_save();
    return 1;
}

// The last step: the font files are named on a worker while frames run.
static void init_cachefontnames()
{
    cfg_seti(cfg_debuginfo, 0);
    sys_log("caching %d font names...", sys_fontcount);
    sys_threadjob("cachefontnames", job_cachefontnames, nullptr);
}

int sys_init()
{
    int (*const starts[])() = {init_mutexes, init_input,      init_events, init_ttf,  init_text,
                               init_render,  init_image,      init_model,  init_fontdrawing,
                               init_view,    init_mesh,       init_toolpath, init_cnc, init_cam,
                               init_project, init_gui};
    for (auto start : starts)
        if (!start())
            return 0;
    sys_log("");
    sys_log("...program initialized (%08X)", 0x4b464d31u);
    sys_debuglog(" + + + + + + + + + %3.3fmb currently allocated + + + + + + + + + ",
                 (double)sys_memtotal / 1048576.0);
    update_check(0);
    if (!init_terms())
        return 0;
    init_cachefontnames();
    return 1;
}
