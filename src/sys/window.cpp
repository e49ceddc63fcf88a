// Window and OpenGL bring-up: probe, requirements, attributes, the main
// window, the two contexts and the GL limits, in the order start-up runs
// them, and their release at shutdown.
#include "sys/window.h"

#include "render/gl.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_syswm.h>

static char *window_glstring(GLenum name)
{
    const char *s = (const char *)glGetString(name);
    return s ? sys_strdup(s) : nullptr;
}

// With the probe context current: strings, version and the extensions.
static void window_readgl()
{
    gl_renderer = window_glstring(GL_RENDERER);
    gl_versionstring = window_glstring(GL_VERSION);
    gl_vendor = window_glstring(GL_VENDOR);
    gl_extensions = window_glstring(GL_EXTENSIONS);
    sys_log("GL_RENDERER: %s", gl_renderer ? gl_renderer : "");
    sys_log("GL_VERSION: %s", gl_versionstring ? gl_versionstring : "");
    sys_log("GL_VENDOR: %s", gl_vendor ? gl_vendor : "");
    gl_version = gl_versionnumber(gl_versionstring);
    sys_log("OpenGL version integer: %d", gl_version);
    if (gl_version > 29)
        glGetIntegerv(GL_NUM_EXTENSIONS, &gl_numextensions);
    gl_multisample = gl_loadextensions("GL_ARB_multisample");
    // A software rasteriser fills every sample on the processor: a
    // multisampled window there made an idle window at 60 Hz cost more than
    // a whole core, so it gets a plain one.
    if (gl_multisample && gl_softwarerenderer(gl_renderer)) {
        sys_log("software renderer: multisampling not requested");
        gl_multisample = 0;
    }
    gl_texturefloat = gl_loadextensions("GL_ARB_texture_float");
    if (gl_loadextensions("GL_EXT_texture_filter_anisotropic"))
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &gl_maxanisotropy);
}

// Step 19: a hidden window and context to learn what the GL offers.
static int window_probe()
{
    SDL_Window *probe = SDL_CreateWindow("temp", 0, 0, 0, 0, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!probe) {
        sys_error("Failed to create temporary OpenGL window.");
        return 0;
    }
    SDL_GLContext ctx = SDL_GL_CreateContext(probe);
    if (!ctx) {
        sys_error("Failed to create temporary rendering context: %s", SDL_GetError());
        SDL_DestroyWindow(probe);
        return 0;
    }
    window_readgl();
    SDL_GL_MakeCurrent(probe, nullptr);
    SDL_GL_DeleteContext(ctx);
    SDL_DestroyWindow(probe);
    return 1;
}

// Step 20: too old a GL ends the program at once, without the failure pause.
static int window_requirements()
{
    if (gl_version < 21) {
        sys_error("The graphics hardware/drivers do not support the minimum required version of OpenGL v%d.%d", 2, 1);
    } else if (!gl_texturefloat) {
        sys_error("The graphics hardware/drivers do not support floating-point textures which are required for canvas and toolpath calculations.");
    } else {
        return 1;
    }
    sys_quit = 1;
    return 0;
}

// Step 21.
static void window_attributes(int multisample)
{
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
    if (multisample) {
        sys_log("including multisampling buffer attribute...");
        SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 1);
        SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 4);
    } else {
        sys_log("omitting multisampling buffer attribute...");
        SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
        SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
    }
}

static SDL_Window *window_create()
{
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE;
    if (sys_maximised)
        flags |= SDL_WINDOW_MAXIMIZED;
    return SDL_CreateWindow(SYS_TITLE, cfg_geti(cfg_windowx), cfg_geti(cfg_windowy),
                            cfg_geti(cfg_windowwidth), cfg_geti(cfg_windowheight), flags);
}

// Steps 21-22: a driver that refuses a multisampled window gets one more try
// without multisampling rather than ending the program.
static int window_main()
{
    window_attributes(gl_multisample);
    if (cfg_geti(cfg_windowx) < 0 || cfg_geti(cfg_windowy) < 0) {
        cfg_seti(cfg_windowx, 0);
        cfg_seti(cfg_windowy, 0);
    }
    sys_window = window_create();
    if (!sys_window && gl_multisample) {
        sys_log("multisampled window refused (%s), retrying without multisampling", SDL_GetError());
        gl_multisample = 0;
        window_attributes(0);
        sys_window = window_create();
    }
    if (!sys_window) {
        sys_error("sys_window: %s", SDL_GetError());
        return 0;
    }
    sys_log("using video driver: %s", SDL_GetCurrentVideoDriver());
    return 1;
}

// Step 23: the workers' context first, then the window's, sharing objects.
static int window_contexts()
{
    sys_workercontext = SDL_GL_CreateContext(sys_window);
    if (!sys_workercontext) {
        sys_error("sys_workercontext: %s", SDL_GetError());
        return 0;
    }
    sys_log("...created workerthread OpenGL rendering context");
    sys_context = SDL_GL_CreateContext(sys_window);
    if (!sys_context) {
        sys_error("sys_context: %s", SDL_GetError());
        return 0;
    }
    sys_log("...created window OpenGL rendering context");
    return 1;
}

// Step 24. Queries a 2.1 context may not know leave their value at 0; the
// errors they raise are drained so the first real check does not see them.
static void window_limits()
{
    GLint tex = 0, rect = 0, attach = 0, layers = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &tex);
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &rect);
    gl_maxtexturesize = tex < rect ? tex : rect;
    sys_log("max texture size:%d rectsize = %d (using %d)", tex, rect, gl_maxtexturesize);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &gl_maxrenderbuffersize);
    sys_log("maximum renderbuffer size = %d", gl_maxrenderbuffersize);
    glGetIntegerv(GL_MAX_COLOR_ATTACHMENTS, &attach);
    sys_log("maximum FBO attachments = %d", attach);
    glGetIntegerv(GL_MAX_ARRAY_TEXTURE_LAYERS, &layers);
    sys_log("maximum array texture layers =  %d", layers);
    while (glGetError() != GL_NO_ERROR) {
    }
}

// Step 25.
static void window_drawable()
{
    SDL_GL_GetDrawableSize(sys_window, &sys_drawable[0], &sys_drawable[1]);
    sys_aspect = sys_drawable[1] > 0 ? (float)sys_drawable[0] / sys_drawable[1] : 1.0f;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(sys_window, &info))
        sys_error("Failed to retrieve window info");
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    sys_log("...initialized system (delta:%08X)", 0);
}

int sys_openwindow()
{
    if (!window_probe() || !window_requirements())
        return 0;
    if (!window_main() || !window_contexts())
        return 0;
    window_limits();
    window_drawable();
    return 1;
}

int sys_storewindowplace()
{
    if (!sys_window || sys_maximised)
        return 0;
    int x, y, w, h;
    SDL_GetWindowPosition(sys_window, &x, &y);
    SDL_GetWindowSize(sys_window, &w, &h);
    cfg_seti(cfg_windowx, x);
    cfg_seti(cfg_windowy, y);
    cfg_seti(cfg_windowwidth, w);
    cfg_seti(cfg_windowheight, h);
    return 1;
}

void sys_storewindowstate()
{
    if (!sys_window)
        return;
    sys_storewindowplace();
    cfg_seti(cfg_windowmaximised, sys_maximised);
}

void sys_closewindow()
{
    if (sys_window)
        SDL_DestroyWindow(sys_window);
    sys_log("...destroyed window");
    if (sys_context)
        SDL_GL_DeleteContext(sys_context);
    sys_log("...destroyed rendering context");
    if (sys_workercontext)
        SDL_GL_DeleteContext(sys_workercontext);
    sys_log("...destroyed worker context");
    sys_window = nullptr;
    sys_context = sys_workercontext = nullptr;
}
