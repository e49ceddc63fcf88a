// Subsystem start-up. The mutexes come first and in a fixed order, so their
// ids are fixed: memory 0, log 1, status 2, frame 3. Each start is announced
// in the log by an empty line and its name.
#include "sys/init.h"

#include "platform/path.h"
#include "render/draw.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/sysfont.h"
#include "render/texture.h"
#include "sys/config.h"
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

static void init_mutexes()
{
    init_announce("mutexes...");
    sys_memmutex = sys_createmutex();
    sys_logmutex = sys_createmutex();
    sys_statusmutex = sys_createmutex();
    sys_framemutex = sys_createmutex();
}

static void init_input()
{
    init_announce("input...");
    input_init();
    config_save();
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

// The machine's font files, then the sysfont and font-cache mutexes (ids 4
// and 5).
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

// The thirty data fonts; a missing glyph sheet fails start-up.
static int init_fontdrawing()
{
    init_announce("font drawing...");
    return font_init();
}

static void init_view()
{
    init_announce("view...");
    view_init();
}

// The last step: the font files are named on a worker while frames run.
static void init_cachefontnames()
{
    sys_log("caching %d font names...", sys_fontcount);
    sys_threadjob("cachefontnames", job_cachefontnames, nullptr);
}

int sys_init()
{
    init_mutexes();
    init_input();
    if (!init_events() || !init_ttf() || !init_text() || !init_render() || !init_fontdrawing())
        return 0;
    init_view();
    plat_joinpath(sys_backuppath, sizeof(sys_backuppath), sys_userfolder, "backup.kfm");
    init_cachefontnames();
    return 1;
}
