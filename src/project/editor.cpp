// Layer and canvas editors. The editor fields are one set for the selected
// layer; applying them copies the record before and after into a "layer
// state" event, so an undo restores exactly what the fields replaced.
#include "project/editor.h"

#include "geom/path.h"
#include "project/canvas.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/undo.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cmath>
#include <cstring>
#include <utility>

layer_editorrecord layer_editor = {};
int32_t project_textlayeredit = -1;
int32_t project_textfont = -1;
float project_textptsize = 25.0f;
float project_textspacing = 0.0f;
float project_fontslider = 0.0f;

// The layer blob taken when text editing began.
static uint8_t *project_prevstate = nullptr;
static int32_t project_prevsize = 0;

static project_layer *editor_selected()
{
    int s = project_selectedlayer;
    return s >= 0 && s < project_maxlayers && project.layers[s].type != layer_free ? &project.layers[s] : nullptr;
}

// ---------------------------------------------------------- layer fields

static int32_t editor_lockmode(uint32_t flags)
{
    bool x = flags & layer_lockx, y = flags & layer_locky, z = flags & layer_lockz;
    if (x && y)
        return z ? 4 : 1;
    if (x && z)
        return 2;
    if (y && z)
        return 3;
    if (x)
        sys_error("bad layer lock-aspect flags! (A)");
    else if (y)
        sys_error("bad layer lock-aspect flags! (B)");
    return 0;
}

void layer_loadeditor(const project_layer *l)
{
    layer_editorrecord &e = layer_editor;
    memcpy(e.pos, l->pos, sizeof(e.pos));
    memcpy(e.size, l->size, sizeof(e.size));
    e.zfill = l->zfill;
    e.smooth = (float)l->smooth;
    memcpy(e.crop, l->crop, sizeof(e.crop));
    memcpy(e.tilt, l->tilt, sizeof(e.tilt));
    e.rotation = l->rotation;
    e.blend = l->blend;
    e.mirrorx = (l->flags & layer_mirrorx) != 0;
    e.mirrory = (l->flags & layer_mirrory) != 0;
    e.invert = (l->flags & layer_invert) != 0;
    e.display = (l->flags & layer_removebottom) != 0;
    e.orientation = 0;
    for (int i = 1; l->type == layer_model && i <= 6 && !e.orientation; i++)
        if (l->flags & layer_orientbits[i])
            e.orientation = i;
    e.lockmode = editor_lockmode(l->flags);
}

// The size axes an orientation swaps: 0 X, 1 Y, 2 Z.
static void editor_swapaxes(float size[3], int orientation)
{
    static const int axes[7][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {0, 2}, {1, 2}, {1, 2}};
    if (orientation > 0 && orientation <= 6)
        std::swap(size[axes[orientation][0]], size[axes[orientation][1]]);
}

// A size of 0.0001 or less becomes the grid subdivision; the position
// moves by half of it along the layer's turned axis, toward where the
// editor's position lies from the layer's.
static void editor_floorsize(const project_layer &l, int axis)
{
    layer_editorrecord &e = layer_editor;
    if (e.size[axis] > 0.0001f)
        return;
    float g = cfg_getf(cfg_gridsubdiv);
    e.size[axis] = g;
    float d = e.pos[axis] - l.pos[axis];
    if (d == 0.0f)
        return;
    float sign = d > 0.0f ? 1.0f : -1.0f;
    if (l.rotation > 90.0f || l.rotation < -90.0f)
        sign = -sign;
    double r = (double)l.rotation * M_PI / 180.0, c = std::cos(r), s = std::sin(r);
    double dir[2] = {axis == 0 ? c : s, axis == 0 ? -s : c};
    e.pos[0] += (float)(0.5 * g * sign * dir[0]);
    e.pos[1] += (float)(0.5 * g * sign * dir[1]);
}

static float editor_difference(const project_layer &l)
{
    const layer_editorrecord &e = layer_editor;
    float d = std::fabs(e.rotation - l.rotation);
    for (int i = 0; i < 3; i++)
        d += std::fabs(e.pos[i] - l.pos[i]) + std::fabs(e.size[i] - l.size[i]);
    for (int i = 0; i < 2; i++)
        d += std::fabs(e.tilt[i] - l.tilt[i]);
    for (int i = 0; i < 4; i++)
        d += std::fabs(e.crop[i] - l.crop[i]);
    return d;
}

static void editor_setflag(project_layer &l, uint32_t bit, int on)
{
    l.flags = on ? l.flags | bit : l.flags & ~bit;
}

static void editor_orient(project_layer &l)
{
    int old = 0;
    for (int i = 1; i <= 6 && !old; i++)
        if (l.flags & layer_orientbits[i])
            old = i;
    editor_swapaxes(l.size, old);
    for (int i = 1; i <= 6; i++)
        l.flags &= ~layer_orientbits[i];
    int now = layer_editor.orientation >= 0 && layer_editor.orientation <= 6 ? layer_editor.orientation : 0;
    l.flags |= layer_orientbits[now];
    editor_swapaxes(l.size, now);
    memcpy(layer_editor.size, l.size, sizeof(l.size));
}

void layer_applystate()
{
    project_layer *sel = editor_selected();
    if (!sel)
        return;
    project_layer &l = *sel;
    project_layer old = l;
    sys_log("applying state to active layer...");
    editor_floorsize(l, 0);
    editor_floorsize(l, 1);
    if (editor_difference(l) > 0.0001f) {
        project_changetime = (float)sys_seconds();
        project_saved = 0;
    }
    const layer_editorrecord &e = layer_editor;
    memcpy(l.pos, e.pos, sizeof(l.pos));
    l.smooth = (int32_t)(e.smooth + 0.5f);
    memcpy(l.crop, e.crop, sizeof(l.crop));
    l.blend = e.blend;
    l.zfill = e.zfill;
    memcpy(l.size, e.size, sizeof(l.size));
    memcpy(l.tilt, e.tilt, sizeof(l.tilt));
    l.rotation = e.rotation;
    editor_setflag(l, layer_mirrorx, e.mirrorx);
    editor_setflag(l, layer_mirrory, e.mirrory);
    editor_setflag(l, layer_invert, e.invert);
    editor_setflag(l, layer_removebottom, e.display);
    if (l.type == layer_model)
        editor_orient(l);
    static const uint32_t locks[5] = {0, layer_lockx | layer_locky, layer_lockx | layer_lockz,
                                      layer_locky | layer_lockz, layer_lockx | layer_locky | layer_lockz};
    l.flags &= ~(layer_lockx | layer_locky | layer_lockz);
    l.flags |= locks[e.lockmode >= 0 && e.lockmode <= 4 ? e.lockmode : 0];
    event_queue(event_layerstate, project_selectedlayer, sizeof(old), &old, sizeof(l), &l);
}

// ----------------------------------------------------------- text editing

static void editor_notextinput(char *, int32_t, uint32_t, void (*)()) {}
void (*project_textinput)(char *, int32_t, uint32_t, void (*)()) = editor_notextinput;

static void editor_endtextedit()
{
    project_textlayeredit = -1;
    project_textinput(nullptr, 0, 0, nullptr);
}

static void editor_freeprev()
{
    sys_free(project_prevstate);
    project_prevstate = nullptr;
    project_prevsize = 0;
}

// The font's alphabetical position, -1 when it is not listed.
static int32_t editor_fontposition(int32_t font)
{
    for (int32_t i = 0; sys_fontorder && i < sys_fontcount; i++)
        if (sys_fontorder[i] == font)
            return i;
    return -1;
}

static void editor_begintext(project_layer &l)
{
    if (project_prevstate) {
        sys_log("!!! existing prev-state buffer enabling text edit!");
        editor_freeprev();
    }
    int32_t size = 0;
    uint8_t *blob = layer_blob(project_selectedlayer, &size);
    if (!blob) {
        sys_log("project_textmode: cannot keep the layer's state");
        return;
    }
    project_prevstate = blob;
    project_prevsize = size;
    int32_t t = l.data.text;
    bool live = t >= 0 && t < text_maxobjects && text_objects && text_objects[t].font >= 0;
    project_textlayeredit = live ? t : -1;
    if (live) {
        project_textfont = editor_fontposition(text_objects[t].font);
        project_textptsize = text_objects[t].ptsize;
        project_textspacing = text_objects[t].spacing;
        project_fontslider = sys_fontcount > 1 ? (float)project_textfont / (float)(sys_fontcount - 1) : 0.0f;
    }
    project_textinput(live ? text_objects[t].text : nullptr, text_maxchars - 1, 0, project_textedit);
    view_redraw = 1;
}

void project_textmode(int on)
{
    project_layer *l = editor_selected();
    if (!l) {
        if (on && project_textlayeredit < 0)
            return;
        editor_endtextedit();
        view_redraw = 1;
        return;
    }
    if (on && project_textlayeredit < 0) {
        if (l->type == layer_text)
            editor_begintext(*l);
    } else if (!on && project_textlayeredit >= 0) {
        project_textedit();
    }
}

void project_textedit()
{
    project_layer *l = editor_selected();
    if (project_textlayeredit >= 0) {
        editor_endtextedit();
        if (l && l->type == layer_text) {
            memcpy(l->size, layer_editor.size, sizeof(l->size));
            int32_t size = 0;
            if (uint8_t *now = layer_blob(project_selectedlayer, &size)) {
                event_queue(event_layerdata, project_selectedlayer, (uint32_t)project_prevsize, project_prevstate,
                            (uint32_t)size, now);
                sys_free(now);
            }
            if (l->stale) {
                sys_log("update canvas on text edit disable...");
                project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
            }
        }
        editor_freeprev();
    }
    view_redraw = 1;
}

// ----------------------------------------------------------- path editing

// The curve's length, each segment measured as five chords.
static float editor_curvelength(const path *p, int c)
{
    float total = 0.0f;
    int32_t a = p->curves[c].tail;
    for (int n = 0; a != -1 && p->knots[a].next != -1 && n < p->ksz; n++) {
        const knot &ka = p->knots[a], &kb = p->knots[ka.next];
        float prev[3];
        memcpy(prev, ka.pos, sizeof(prev));
        for (int i = 1; i <= 5; i++) {
            float pt[3];
            bezier_point(pt, ka.pos, ka.h2, kb.h1, kb.pos, 0.2f * (float)i);
            total += std::sqrt((pt[0] - prev[0]) * (pt[0] - prev[0]) + (pt[1] - prev[1]) * (pt[1] - prev[1]) +
                               (pt[2] - prev[2]) * (pt[2] - prev[2]));
            memcpy(prev, pt, sizeof(prev));
        }
        a = ka.next;
    }
    return total;
}

static void editor_dropdegenerate(path *p)
{
    int32_t c = p->ctail;
    for (int n = 0; c != -1 && n < p->csz; n++) {
        int32_t next = p->curves[c].next;
        const curve &s = p->curves[c];
        if (s.tail == -1 || s.tail == s.head || editor_curvelength(p, c) < 0.0001f)
            path_removecurve(p, c);
        c = next;
    }
}

static void editor_pathsoff()
{
    p_selcurves.count = -1;
    p_selknots.count = -1;
}

void layer_pathedit(int on)
{
    project_layer *l = editor_selected();
    if (!l)
        return;
    int slot = project_selectedlayer;
    path *p = l->type == layer_paths ? l->data.pth : nullptr;
    if (on) {
        p_clearselection(p);
        p_pickcurve = p_pickknots[0] = p_pickknots[1] = -1;
        memset(project_pathpanels, 0, sizeof(project_pathpanels));
        if (p) {
            float m = l->size[0] > l->size[1] ? l->size[0] : l->size[1];
            path_normalize(p, path_box{-0.5f * m / l->size[0], -0.5f * m / l->size[1], 0.5f * m / l->size[0],
                                       0.5f * m / l->size[1]});
            l->size[0] = l->size[1] = m;
        } else {
            editor_pathsoff();
        }
        view_redraw = 1;
        return;
    }
    if (project_pathslayeredit < 0)
        return;
    p_clearselection(p);
    if (p) {
        editor_dropdegenerate(p);
        layer_bounds(slot);
        memcpy(layer_editor.pos, l->pos, sizeof(l->pos));
        memcpy(layer_editor.size, l->size, sizeof(l->size));
    }
    editor_pathsoff();
    view_redraw = 1;
}

// ----------------------------------------------------------------- canvas

void project_applycanvas(const float size[3], const float fractions[3], float zfill, int32_t ppi)
{
    uint8_t old[project_canvasblobbytes];
    project_writecanvasblob(old);
    float d = 0.0f;
    for (int i = 0; i < 3; i++)
        d += std::fabs(size[i] - project.size[i]);
    bool changed = d > 0.0001f;
    if (changed)
        project_moveorigin(size, fractions);
    project.ppi = ppi;
    memcpy(project.size, size, sizeof(project.size));
    memcpy(project.originfrac, fractions, sizeof(project.originfrac));
    project.zfill = zfill;
    project_freecanvas(0, 0, 1, 0);
    uint8_t now[project_canvasblobbytes];
    project_writecanvasblob(now);
    event_queue(event_canvasstate, 0, sizeof(old), old, sizeof(now), now);
    project_updatecanvas(changed ? 1 : 0, canvas_view, (uint32_t)project_layergroup);
    sys_status("...applied canvas changes");
}
