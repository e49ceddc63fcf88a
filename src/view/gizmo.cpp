// The layer gizmo. Each handle is two glyphs of the first icon font, a dark
// background and a foreground in the state colour, drawn straight through
// the renderer with the alpha test so the glyphs' transparent corners do not
// hide what lies behind at a greater depth. A grab holds the pointer on its
// handle until the release conditions hold: a canvas resize waits, frame by
// frame, for every background job that reads the canvas; a layer edit does
// not, since the composition it asks for queues behind a running one.
#include "view/gizmo.h"

#include "cam/cam.h"
#include "geom/path.h"
#include "geom/pathedit.h"
#include "geom/pathsel.h"
#include "gui/calls.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/rasteredit.h"
#include "render/draw.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"

#include <cmath>

layer_gizmohandle gizmo_canvas[gizmo_canvashandles + 1] = {};
layer_gizmohandle gizmo_layer[gizmo_layerhandles + 1] = {};
int32_t gizmo_hover = 0;
float gizmo_hoverstart = 0.0f;
int32_t gizmo_canvasstate = 0;
int32_t gizmo_applydrags = 1;
float gizmo_canvassize[3] = {};
float gizmo_canvasoffset[3] = {};
int32_t gizmo_simbusy = 0;

const char *const gizmo_tooltips[gizmo_layerhandles + 1] = {
    "",
    "XY-Origin/Z-Origin",
    "Z-Size/XY-Origin",
    "X-Size/Y-Angle",
    "X-Size/Y-Angle",
    "Y-Size/X-Angle",
    "Y-Size/X-Angle",
    "XY-Size/Z-Angle",
    "XY-Size/Z-Angle",
    "XY-Size/Z-Angle",
};

// Glyph codes, background and foreground, indexed from 1.
static const uint8_t gizmo_canvasback[gizmo_canvashandles + 1] = {0, 124, 153, 153, 153};
static const uint8_t gizmo_canvasfore[gizmo_canvashandles + 1] = {0, 63, 154, 154, 113};
static const uint8_t gizmo_layerback[gizmo_layerhandles + 1] = {0, 124, 124, 124, 153, 153, 153, 149, 149, 149};
static const uint8_t gizmo_layerfore[gizmo_layerhandles + 1] = {0, 100, 63, 113, 154, 154, 154, 154, 150, 150};
constexpr uint8_t gizmo_grabbedglyph = 137;
constexpr int gizmo_font = font_firsticon;
constexpr float gizmo_glyphhalf = 7.5f;
constexpr float gizmo_edge = 16.0f;
constexpr float gizmo_reach = 6.0f;
constexpr float gizmo_tooltipdelay = 0.6f;

// Cursor kinds of the GUI.
constexpr int gizmo_cursorgrab = 4;
constexpr int gizmo_cursorlayer = 6;
constexpr int gizmo_cursorz = 7;
constexpr int gizmo_cursorcanvas = 9;

static const float gizmo_dark[3] = {25.0f / 255.0f, 25.0f / 255.0f, 25.0f / 255.0f};
static const float gizmo_active[3] = {0.1f, 1.0f, 0.3f};
static const float gizmo_idle[3] = {0.7f, 0.7f, 0.7f};

bool gizmo_shown(float hx, float hy)
{
    return hx >= gizmo_edge && hy >= gizmo_edge;
}

bool gizmo_near(float hx, float hy, float mx, float my)
{
    return std::fabs(mx - hx) <= gizmo_reach && std::fabs(my - hy) <= gizmo_reach;
}

// A handle's pixel position in the drawable.
static void gizmo_pixels(const layer_gizmohandle &h, float *px)
{
    px[0] = h.x * (float)r_viewport[0];
    px[1] = h.y * (float)r_viewport[1];
}

static void gizmo_glyph(float x, float y, float depth, uint8_t code, const float *rgb)
{
    r_color(rgb[0], rgb[1], rgb[2], 1.0f);
    gui_textstate.depth = depth;
    font_glyph(gizmo_font, x - gizmo_glyphhalf, y - gizmo_glyphhalf, code);
}

// True while the pointer may pick a handle: no widget is hot or pressed, no
// drop-down is open, and no other handle took the hover this frame.
static bool gizmo_free()
{
    return gui_hotid <= 0 && gui_activeid < 0 && gui_openid < 0 && gizmo_hover == 0;
}

static bool gizmo_busy()
{
    return project_canvasjob.updating.load() || layer_gentex.load() != 0;
}

static bool gizmo_anygenerating()
{
    if (gizmo_simbusy || cam_generatingop >= 0)
        return true;
    for (const projop &op : project.ops)
        if (op.simbusy.load())
            return true;
    return false;
}

// Holds the pointer on the grabbed handle.
static void gizmo_hold(const float *px)
{
    input_mouse[0] = (int32_t)px[0];
    input_mouse[1] = (int32_t)px[1];
    gui_cursor = gizmo_cursorgrab;
}

static void gizmo_release(const float *px)
{
    gui_calls->warp((int)px[0], (int)px[1]);
    gui_calls->capture(0);
}

static void gizmo_grab(int32_t &grab, int handle)
{
    grab = handle;
    gui_calls->capture(1);
}

// ------------------------------------------------------------ canvas

static void gizmo_canvasrelease()
{
    float px[2];
    gizmo_pixels(gizmo_canvas[gizmo_canvasgrab], px);
    gizmo_hold(px);
    if (input_keys[key_mouseleft] || gizmo_busy() || gizmo_anygenerating())
        return;
    gizmo_release(px);
    gizmo_canvasgrab = 0;
    if (!gizmo_applydrags)
        return;
    float fractions[3];
    for (int a = 0; a < 3; a++)
        fractions[a] = gizmo_canvassize[a] != 0.0f ? -gizmo_canvasoffset[a] / gizmo_canvassize[a] : 0.0f;
    project_applycanvas(gizmo_canvassize, fractions, project.zfill, project.ppi);
}

static void gizmo_canvashandlesdraw(int previous)
{
    if (gizmo_canvasgrab)
        gizmo_canvasrelease();
    if (gizmo_busy())
        return;
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    for (int i = 1; i <= gizmo_canvashandles; i++) {
        float px[2];
        gizmo_pixels(gizmo_canvas[i], px);
        if (!gizmo_shown(px[0], px[1]))
            continue;
        float z = -gizmo_canvas[i].depth / 100.0f;
        gizmo_glyph(px[0], px[1], z, gizmo_canvasback[i], gizmo_dark);
        if (gizmo_canvasgrab == i) {
            gizmo_glyph(px[0], px[1], z, gizmo_grabbedglyph, gizmo_active);
            gui_cursor = gizmo_cursorgrab;
        } else if (!gizmo_canvasgrab && !gizmo_layergrab && gizmo_near(px[0], px[1], mx, my) && gizmo_free()) {
            gizmo_hover = i;
            if (previous != i)
                gizmo_hoverstart = (float)sys_time;
            gizmo_glyph(px[0], px[1], z, gizmo_canvasfore[i], gizmo_active);
            gui_cursor = gizmo_cursorcanvas;
            if (input_pressed(key_mouseleft))
                gizmo_grab(gizmo_canvasgrab, i);
        } else {
            gizmo_glyph(px[0], px[1], z, gizmo_canvasfore[i], gizmo_idle);
        }
    }
}

// ------------------------------------------------------------ layer

static void gizmo_layerrelease()
{
    float px[2];
    gizmo_pixels(gizmo_layer[gizmo_layergrab], px);
    gizmo_hold(px);
    if (input_keys[key_mouseleft] || input_keys[key_mouseright])
        return;
    gizmo_release(px);
    gizmo_layergrab = 0;
    if (!gizmo_applydrags)
        return;
    layer_applystate();
    project_layer &l = project.layers[project_selectedlayer];
    if (l.type != layer_paths)
        l.stale = 1;
    project_updatecanvas(1, canvas_view, (uint32_t)project_layergroup);
}

// Handle 2 sits on handle 1 when the layer is seen edge-on: it is left out
// within 8 pixels of it, in screen position and depth.
static bool gizmo_stacked(int i)
{
    if (i != 2)
        return false;
    float a[2], b[2];
    gizmo_pixels(gizmo_layer[1], a);
    gizmo_pixels(gizmo_layer[2], b);
    return std::fabs(a[0] - b[0]) < 8.0f && std::fabs(a[1] - b[1]) < 8.0f &&
           std::fabs(gizmo_layer[1].depth - gizmo_layer[2].depth) < 8.0f;
}

static void gizmo_layerhandlesdraw(int previous)
{
    if (gizmo_layergrab)
        gizmo_layerrelease();
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    for (int i = 1; i <= gizmo_layerhandles; i++) {
        float px[2];
        gizmo_pixels(gizmo_layer[i], px);
        if (gizmo_layer[i].depth <= 1.0f || gizmo_stacked(i) || !gizmo_shown(px[0], px[1]))
            continue;
        float z = -gizmo_layer[i].depth / 100.0f;
        gizmo_glyph(px[0], px[1], z, gizmo_layerback[i], gizmo_dark);
        if (gizmo_layergrab == i) {
            gizmo_glyph(px[0], px[1], z, gizmo_grabbedglyph, gizmo_active);
            gui_cursor = gizmo_cursorgrab;
        } else if (!gizmo_layergrab && gizmo_near(px[0], px[1], mx, my) && gizmo_free()) {
            gizmo_hover = i;
            if (previous != i)
                gizmo_hoverstart = (float)sys_time;
            else if ((float)sys_time - gizmo_hoverstart > gizmo_tooltipdelay)
                gui_showtooltip(gizmo_tooltips[i]);
            gizmo_glyph(px[0], px[1], z, gizmo_layerfore[i], gizmo_active);
            gui_cursor = i == 2 ? gizmo_cursorz : gizmo_cursorlayer;
            if (input_pressed(key_mouseleft) || input_pressed(key_mouseright))
                gizmo_grab(gizmo_layergrab, i);
        } else {
            gizmo_glyph(px[0], px[1], z, gizmo_layerfore[i], gizmo_idle);
        }
    }
}

// ------------------------------------------------------------ paths overlay

// The edited path's curves with their knot links checked: a knot whose
// previous link does not lead back to it is reported and its curve skipped.
static void gizmo_pathoverlay(const path *p)
{
    static const float colour[4] = {0.7f, 0.7f, 0.7f, 1.0f}, selected[4] = {0.1f, 1.0f, 0.3f, 1.0f};
    int guard = 0;
    for (int32_t c = p->ctail; c >= 0 && c < p->csz && guard++ < p->csz; c = p->curves[c].next) {
        const curve &cv = p->curves[c];
        if (cv.head < 0 || cv.tail < 0)
            continue;
        int32_t k = cv.head;
        for (int n = 0; k >= 0 && k < p->ksz && n < p->ksz; n++) {
            int32_t prev = p->knots[k].prev;
            if (prev >= 0 && (prev >= p->ksz || p->knots[prev].next != k)) {
                sys_log("!!! BAD PREV CURVEKNOT (knot:%d prev:%d head:%d)", k, prev, cv.head);
                break;
            }
            k = prev;
        }
    }
    path_draw(p, 1.0f, colour, selected);
    if (!input_keys[key_mouseleft] && !input_keys[key_mouseright])
        gui_cursor = gizmo_cursorlayer;
}

void layer_gizmo()
{
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
    int previous = gizmo_hover;
    gizmo_hover = 0;
    int slot = project_selectedlayer;
    const project_layer *l = slot >= 0 && slot < project_maxlayers ? &project.layers[slot] : nullptr;
    bool pathedit = l && l->type == layer_paths && project_pathslayeredit >= 0;
    bool canvas = !l && gizmo_canvasstate == 2;
    bool layer = l && l->type != layer_free && !pathedit && project_rastertool < 0 && project_textlayeredit < 0;
    // No batch is opened on frames without handles.
    if (canvas || layer) {
        if (gizmo_font < font_loaded)
            r_bindtexture(font_slots[gizmo_font].texture);
        r_begin(r_triangles);
        if (canvas)
            gizmo_canvashandlesdraw(previous);
        else
            gizmo_layerhandlesdraw(previous);
        r_end();
    }
    if (pathedit && l->data.pth)
        gizmo_pathoverlay(l->data.pth);
    glDisable(GL_ALPHA_TEST);
    r_bindshader(-1);
    r_bindtexture(-1);
}
