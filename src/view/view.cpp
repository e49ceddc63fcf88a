// The viewport's start and shutdown, its shared state, and the view pass:
// view_frame runs the viewport's phases in their fixed order each frame,
// computes the set-up values the drawing phases share, shows the spinners
// of long work and sets the busy cursor. Each phase tests its own flags, so
// a phase may find another's job half done.
#include "view/view.h"

#include "cam/export.h"
#include "cam/simulate.h"
#include "geom/vec.h"
#include "gui/element.h"
#include "project/brush.h"
#include "project/canvas.h"
#include "project/genraster.h"
#include "project/project.h"
#include "project/tracepaths.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/axes.h"
#include "view/backup.h"
#include "view/canvasinstall.h"
#include "view/framing.h"
#include "view/grid.h"
#include "view/layerfollow.h"
#include "view/mouse.h"
#include "view/outlines.h"
#include "view/phases.h"
#include "view/surface.h"
#include "view/readout.h"
#include "view/results.h"
#include "view/viewcalls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

view_camerarecord view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
int view_moved = 0;
int view_rebuilt = 0;
int view_caminput = 1;
int view_panblock = 0;
int view_dirclass = 5;
int view_direct = 1;
uint32_t view_dragstates[3];

uint32_t view_fbo = 0;
int view_colortexture = -1;
int view_depthtexture = -1;
int view_buffersize[2];
int view_rgbtexture = -1;
int view_readdepthtexture = -1;

int view_shader = -1;
int view_texcolorlocation = -1;
int view_texdepthlocation = -1;
int view_gradshader = -1;
int view_gradcolorslocation = -1;
int view_quadmodel = -1;

view_framesetuprecord view_setup;
int32_t view_rasterdrag = 0;
void (*view_phasehook)(int phase) = nullptr;

// Copies the view buffer's colour and depth to the window through the quad.
static const char *const view_vertexsource = R"(#version 120
void main()
{
    gl_Position = gl_Vertex;
    gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
}
)";

static const char *const view_fragmentsource = R"(#version 120
uniform sampler2D tex_color;
uniform sampler2D tex_depth;
void main()
{
    vec2 uv = gl_TexCoord[0].st;
    gl_FragColor = vec4(texture2D(tex_color, uv).rgb, 1.0);
    gl_FragDepth = texture2D(tex_depth, uv).r;
}
)";

// The background: the red channel of the vertex colour is the position in
// the gradient, broken up by a 4 x 4 ordered dither so no bands show.
static const char *const grad_vertexsource = R"(#version 120
varying float param;
void main()
{
    gl_Position = gl_Vertex;
    param = gl_Color.r;
}
)";

static const char *const grad_fragmentsource = R"(#version 120
uniform vec3 colors[2];
varying float param;
// The 2 x 2 pattern 0 2 / 3 1.
float grad_bayer2(vec2 q)
{
    return mod(2.0 * q.x + 3.0 * q.y, 4.0);
}
void main()
{
    vec2 p = mod(floor(gl_FragCoord.xy), 4.0);
    float d = (4.0 * grad_bayer2(mod(p, 2.0)) + grad_bayer2(floor(p * 0.5))) / 16.0;
    gl_FragColor = vec4(mix(colors[0], colors[1], param + 0.05 * d), 1.0);
}
)";

static void view_loadshaders()
{
    view_shader = r_loadshader("view", view_vertexsource, view_fragmentsource);
    view_texcolorlocation = r_shaderuniformlocation(view_shader, "tex_color");
    view_texdepthlocation = r_shaderuniformlocation(view_shader, "tex_depth");
    view_gradshader = r_loadshader("grad", grad_vertexsource, grad_fragmentsource);
    view_gradcolorslocation = r_shaderuniformlocation(view_gradshader, "colors");
}

// A full-window fan in device coordinates with the texture's corners.
static void view_buildquad()
{
    view_quadmodel = r_modelnew();
    if (view_quadmodel < 0)
        return;
    const float corners[4][2] = {{-1.0f, -1.0f}, {1.0f, -1.0f}, {1.0f, 1.0f}, {-1.0f, 1.0f}};
    r_begin(r_trianglefan);
    r_color(cfg_getf(cfg_backgroundcolor2), cfg_getf(cfg_backgroundcolor2 + 4), cfg_getf(cfg_backgroundcolor2 + 8),
            1.0f);
    for (const auto &c : corners) {
        r_texcoord((c[0] + 1.0f) * 0.5f, (c[1] + 1.0f) * 0.5f);
        r_vertex(c[0], c[1], 0.0f);
    }
    r_end();
    r_modelend();
}

static int view_started = 0; // view_init ran on a current GL context

void view_init()
{
    view_started = 1;
    view_camera.distance = 10.0f;
    project_viewreset = view_reset;
    view_redraw = 1;
    view_fbo = 0;
    if (gl_framebuffers) {
        glGenFramebuffers(1, &view_fbo);
        r_checkerror("view_init.genframebuffers");
    }
    view_loadshaders();
    view_buildquad();
}

// The shader programs go with the context; only their slots are forgotten.
void view_quit()
{
    if (!view_started)
        return;
    view_started = 0;
    project_viewreset = nullptr;
    r_modelfree(view_quadmodel);
    view_quadmodel = -1;
    view_axesfree();
    view_shader = view_gradshader = -1;
    view_texcolorlocation = view_texdepthlocation = view_gradcolorslocation = -1;
    if (view_fbo) {
        glDeleteFramebuffers(1, &view_fbo);
        view_fbo = 0;
    }
    // The last frame's drawing is finished here, while the context is still
    // whole: a software GL tearing down threads with drawing in flight can
    // hang the process at exit.
    glFinish();
}

// Direct mode draws the view into the window, which is cleared every
// frame: the finished 3D pass of a re-rendered frame is read back into
// textures of its own, which every frame then shows like the view buffer.
static int view_readsize[2];
static std::vector<uint8_t> view_readcolour;   // w x h x 3
static std::vector<uint16_t> view_readdepth;   // w x h, 16-bit depth

// Creates the read-back texture name in slot -1, else replaces its image.
static int view_readtexture(int slot, const char *name, GLint internal, GLenum format, GLenum type,
                            const void *pixels)
{
    int w = view_readsize[0], h = view_readsize[1];
    if (slot < 0) {
        slot = r_texture(w, h, nullptr);
        if (slot < 0) {
            sys_log("textures overflow!!!! \"%s\"", name);
            return -1;
        }
        r_textureslot &t = r_textures[slot];
        snprintf(t.name, sizeof(t.name), "%s", name);
        t.format = format == GL_RGB ? 3 : 0;
        r_bindtexture(slot, 0);
        // Drawn texel for pixel: no filtering, no mipmaps.
        glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_FALSE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, internal, w, h, 0, format, type, pixels);
    } else {
        r_bindtexture(slot, 0);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, format, type, pixels);
    }
    r_checkerror("view_readback \"%s\"", name);
    r_unbindtexture(0);
    return slot;
}

void view_readback()
{
    int w = sys_drawable[0], h = sys_drawable[1];
    if (w < 1 || h < 1)
        return;
    if (w != view_readsize[0] || h != view_readsize[1]) {
        view_readsize[0] = w;
        view_readsize[1] = h;
        view_readcolour.assign((size_t)w * h * 3, 0);
        view_readdepth.assign((size_t)w * h, 0);
        r_freetexture(view_rgbtexture);
        r_freetexture(view_readdepthtexture);
        view_rgbtexture = view_readdepthtexture = -1;
    }
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, view_readcolour.data());
    r_checkerror("r_readpixels.readpixels (type:%d %dx%dx%d)", 0, w, h, 3);
    glReadPixels(0, 0, w, h, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, view_readdepth.data());
    r_checkerror("r_readpixels.readpixels (type:%d %dx%dx%d)", 1, w, h, 2);
    view_rgbtexture =
        view_readtexture(view_rgbtexture, "view_rgbtexture", GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE, view_readcolour.data());
    view_readdepthtexture = view_readtexture(view_readdepthtexture, "view_depthtexture", GL_DEPTH_COMPONENT24,
                                             GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, view_readdepth.data());
}

// Every frame the window shows, the buffered view goes onto it, colour and
// depth: the window is cleared each frame, and whatever draws afterwards
// depth-tests against the view as if it had been drawn this frame.
static void view_drawbuffer()
{
    // Minimised, the window holds no picture of ours: reading it back would
    // cache whatever it holds for the frames after the restore.
    if (sys_minimised)
        return;
    if (view_direct && view_rebuilt)
        view_readback();
    int colour = view_direct ? view_rgbtexture : view_colortexture;
    int depth = view_direct ? view_readdepthtexture : view_depthtexture;
    if (view_shader < 0 || colour < 0 || depth < 0)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, sys_drawable[0], sys_drawable[1]);
    r_viewport[0] = sys_drawable[0];
    r_viewport[1] = sys_drawable[1];
    view_showimage(colour, depth);
    r_checkerror("view_drawbuffer");
}

void view_showimage(int colour, int depth)
{
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    r_bindtexture(colour, 0);
    r_bindtexture(depth, 1);
    r_bindshader(view_shader);
    r_shaderuniformint(view_texcolorlocation, 0);
    r_shaderuniformint(view_texdepthlocation, 1);
    r_modeldraw(view_quadmodel);
    r_bindshader(-1);
    r_unbindtexture(1);
    r_unbindtexture(0);
}

char view_spinchar(double t, double step)
{
    static const char spinner[4] = {'-', '\\', '|', '/'};
    return spinner[(long long)std::floor(t / step) & 3];
}

float view_thickness(int offset)
{
    float w = cfg_getf(offset);
    // A configuration from before the setting existed holds 0 there.
    return std::isfinite(w) ? std::clamp(w, 1.0f, 8.0f) : 1.0f;
}

static void view_phase(int n)
{
    if (view_phasehook)
        view_phasehook(n);
}

// Step 1: camera, light and gloss values for the frame's drawing phases.
static void view_setupframe()
{
    view_framesetuprecord &v = view_setup;
    for (int i = 0; i < 3; i++)
        v.origin[i] = -project.originfrac[i] * project.size[i];
    float d = view_camera.distance;
    int perspective = cfg_geti(cfg_perspective);
    v.viewscale = perspective ? d * (float)std::tan(cfg_getf(cfg_fov) * M_PI / 180.0 * 0.5) : d;
    // The basis is the frame loop's too: it is rebuilt from the camera below
    // or by the next re-rendered frame before anyone else reads it.
    float saved[3][3];
    memcpy(saved, view_basis, sizeof(saved));
    const float light[3] = {cfg_getf(cfg_lightpitch), 0.0f, -cfg_getf(cfg_lightyaw)};
    vec3_anglevectors(light);
    memcpy(v.light, view_basis[view_up], sizeof(v.light));
    float g = cfg_getf(cfg_gloss);
    double g5 = std::pow((double)g, 5.0);
    v.gloss = g;
    v.glossstrength = (float)(2.0 * (double)g * (double)g);
    v.glossexponent = (float)(500.0 * g5 + 2.0 * (1.0 - g5));
    memset(v.camvec, 0, sizeof(v.camvec));
    if (!perspective) {
        vec3_anglevectors(view_camera.rotation);
        memcpy(v.camvec, view_basis[view_forward], sizeof(v.camvec));
    }
    memcpy(view_basis, saved, sizeof(saved));
}

// Step 2: 1 when a spinner of export or tracing showed.
static int view_busyspinner()
{
    const char *text = export_busy.load() ? "exporting... %c" : trace_busy.load() ? "tracing paths... %c" : nullptr;
    if (!text)
        return 0;
    gui_cursor = 3;
    sys_status(text, view_spinchar(sys_time, 0.1));
    return 1;
}

int view_generating()
{
    return project.generating[0].load() || project.generating[1].load() ||
           (layer_genkind.load() && !layer_gendone.load(std::memory_order_acquire));
}

// Steps 5 to 11, skipped while a layer generator runs (5 to 11) or the
// canvas is composed (7 to 11).
static void view_followup()
{
    if (view_generating())
        return;
    view_phase(5);
    view_undoredo();
    view_phase(6);
    view_genresult();
    if (project_canvasjob.updating.load())
        return;
    view_phase(7);
    view_mergedown();
    if (!cam_simgenerating.load()) {
        view_phase(8);
        view_canvasframe();
    }
    view_phase(9);
    view_canvasmodels();
    if (project_rastertool >= 2 && project_rastertool <= 8 && !brush_busy.load()) {
        view_phase(10);
        view_rasterfollow();
    }
    view_phase(11);
    view_layerfollow();
}

// Step 12: the busy cursor, the save spinner, and the pointer kept during a
// raster-edit drag.
static void view_busycursor()
{
    static int held = 0; // this pass set the capture flags
    int busy = project_canvasjob.updating.load() || view_generating();
    if (busy && jobmode.load() != 2 && !view_rasterdrag)
        gui_cursor = 3;
    if (project_savebusy.load()) {
        sys_status(project_savingbackup.load() ? "saving backup... %c" : "saving project... %c",
                   view_spinchar(sys_time, 0.1));
        gui_cursor = 3;
    }
    if (view_rasterdrag) {
        gui_cursor = 0;
        view_capture = 1;
        view_dragstates[0] = 1;
        held = 1;
    } else if (held) {
        view_capture = 0;
        view_dragstates[0] = 0;
        held = 0;
    }
}

// The start of step 13: geometry in project units, culled front faces.
static void view_drawsetup()
{
    const view_calltable &c = *view_calls;
    float s = project.scale;
    c.pushmatrix();
    c.scale(s, s, s);
    c.depthmask(1);
    c.enable(vcap_depthtest, 1);
    c.enable(vcap_cullface, 1);
    c.cullface(vgl_front);
    c.pushmatrix();
    c.polygonmode(vgl_back, vgl_fill);
    c.enable(vcap_blend, 0);
    c.blendfunc(vgl_srcalpha, vgl_oneminussrcalpha);
    c.linewidth(1.0f);
}

void view_frame()
{
    view_phase(1);
    view_setupframe();
    view_phase(2);
    int spun = view_busyspinner();
    if (!spun) {
        view_phase(3);
        view_tracedpaths();
    }
    view_phase(4);
    view_startcanvas();
    view_followup();
    view_phase(12);
    view_busycursor();
    view_phase(13);
    view_drawsetup();
    view_drawsurface();
    view_phase(14);
    view_simulation();
    view_phase(15);
    view_takelayertexture();
    view_drawtoolpaths();
    view_phase(16);
    view_calls->linewidth(view_thickness(cfg_boundarythickness));
    view_blockoutline();
    view_mouse();
    view_editmouse();
    view_layeroutlines();
    view_phase(17);
    view_editpreviews();
    view_grid();
    // The axes go into the view buffer before it is copied to the window:
    // they are drawn only in re-rendered frames, and the window is cleared
    // every frame.
    if (view_rebuilt) {
        view_phase(19);
        view_axes();
    }
    view_phase(18);
    view_drawbuffer();
    view_phase(20);
    view_overlays();
    // The background of the next re-rendered frame is drawn before this
    // pass: it must not meet this pass's face culling.
    view_calls->enable(vcap_cullface, 0);
    view_calls->popmatrix();
    view_calls->popmatrix();
    view_phase(21);
    view_backup();
}
