// Canvas and layer outlines. The selected layer shows its box only while
// the editor's copy differs from it, so a layer being dragged leaves its
// old place drawn; the others show theirs unless a gizmo handle is being
// dragged. While a raster tool edits, only the screen outlines are kept.
#include "view/outlines.h"

#include "geom/vec.h"
#include "project/editor.h"
#include "project/project.h"
#include "project/surfaceshaders.h"
#include "render/draw.h"
#include "sys/config.h"
#include "sys/input.h"
#include "view/gizmo.h"
#include "view/modes.h"
#include "view/mouse.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <algorithm>
#include <cmath>

static const float outline_canvascolour[4] = {0.0f, 0.5f, 1.0f, 0.6f};
static const float outline_boxcolour[4] = {1.0f, 1.0f, 1.0f, 0.1f};
static const float outline_pathcolour[4] = {0.7f, 0.7f, 0.7f, 0.7f};

float view_anglediff(float a, float b)
{
    float d = a - b;
    if (d > 180.0f)
        d -= 360.0f;
    else if (d < -180.0f)
        d += 360.0f;
    return d;
}

void view_blockoutline()
{
    if (!view_rebuilt || input_keyframe[key_mouseleft] || input_keyframe[key_mousemiddle] ||
        input_keyframe[key_mouseright])
        return;
    const view_calltable &c = *view_calls;
    c.bindview();
    c.enable(vcap_blend, 1);
    c.blendfunc(vgl_srcalpha, vgl_oneminussrcalpha);
    c.enable(vcap_depthtest, 0);
    // The outline is a toolpath line at the start of its path. The program
    // is bound here, not taken from the toolpath pass: in a frame without
    // toolpaths the bound program is the background's, which ignores the
    // matrices and would draw the loops in device space over the gradient.
    c.bindshader(project_toolpath.slot);
    const float progress = 0.0f;
    c.uniformfloat("progress", 1, &progress);
    c.pushmatrix();
    c.scale(project.size[0], project.size[1], project.size[2]);
    for (float z : {0.0f, 1.0f}) {
        const float loop[4][3] = {{0, 0, z}, {1, 0, z}, {1, 1, z}, {0, 1, z}};
        view_lineloop(loop, 4, outline_canvascolour);
    }
    c.popmatrix();
    c.bindshader(-1);
    c.unbindview();
}

static void outline_box()
{
    view_calls->linewidth(view_thickness(cfg_boundarythickness));
    for (float z : {0.0f, 1.0f}) {
        const float loop[4][3] = {{-0.5f, -0.5f, z}, {0.5f, -0.5f, z}, {0.5f, 0.5f, z}, {-0.5f, 0.5f, z}};
        view_lineloop(loop, 4, outline_boxcolour);
    }
    const uint8_t r = 255, a = (uint8_t)(0.1f * 255.0f + 0.5f);
    view_vertex posts[8];
    const float corners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
    for (int i = 0; i < 4; i++) {
        posts[2 * i] = {corners[i][0], corners[i][1], 0.0f, r, r, r, a, 0.0f, 0.0f};
        posts[2 * i + 1] = {corners[i][0], corners[i][1], 1.0f, r, r, r, a, 0.0f, 0.0f};
    }
    view_calls->primitive(r_lines, posts, 8);
}

// The editor's copy of the selected layer differs from the layer beyond
// the thresholds of a real edit.
static bool outline_edited(const project_layer &l)
{
    const layer_editorrecord &e = layer_editor;
    float moved = vec3_manhattan(e.pos, l.pos) + vec3_manhattan(e.size, l.size);
    if (moved > 0.0001f)
        return true;
    float turned = std::fabs(view_anglediff(e.tilt[0], l.tilt[0])) + std::fabs(view_anglediff(e.tilt[1], l.tilt[1])) +
                   std::fabs(view_anglediff(e.rotation, l.rotation));
    return turned > 0.1f;
}

static void outline_paths(int slot)
{
    const project_layer &l = project.layers[slot];
    if (l.type != layer_paths || !l.data.pth)
        return;
    if (slot == project_selectedlayer) {
        const layer_editorrecord &e = layer_editor;
        float d = vec3_manhattan(e.pos, l.pos) + std::fabs(e.size[0] - l.size[0]) + std::fabs(e.size[1] - l.size[1]) +
                  std::fabs(view_anglediff(e.rotation, l.rotation));
        if (d <= 0.0001f)
            return;
    }
    float extent = std::max(l.size[0], l.size[1]) * project.scale;
    if (!(extent > 0.0f))
        return; // a layer without area has no curves to see
    float b = view_setup.viewscale / extent;
    const view_calltable &c = *view_calls;
    c.scale((l.flags & layer_mirrorx) ? -1.0f : 1.0f, (l.flags & layer_mirrory) ? -1.0f : 1.0f, 1.0f);
    c.linewidth(view_thickness(cfg_pathsthickness));
    c.bindshader(-1);
    c.drawpath(l.data.pth, 0.14f * b * vec_fastinvsqrt(b), outline_pathcolour, outline_pathcolour);
}

static void outline_layer(int slot)
{
    const project_layer &l = project.layers[slot];
    const view_calltable &c = *view_calls;
    c.pushmatrix();
    c.translate(l.pos[0], l.pos[1], l.pos[2]);
    c.rotate(l.rotation, 0.0f, 0.0f, -1.0f);
    c.scale(l.size[0], l.size[1], l.size[2]);
    view_projectoutline(slot);
    bool selected = slot == project_selectedlayer;
    bool rastertool = project_rastertool >= 2 && project_rastertool <= 8;
    if (rastertool) {
        // The brush and the raster tools draw over the layer themselves.
    } else if (project_pathslayeredit == -1) {
        if (project_textlayeredit == -1) {
            bool box = selected ? outline_edited(l) : !gizmo_layergrab;
            if (box) {
                outline_box();
                outline_paths(slot);
            }
        }
    } else if (cfg_geti(cfg_showallpaths) && !selected && project_textlayeredit == -1 && !gizmo_layergrab) {
        outline_paths(slot);
    }
    c.popmatrix();
}

void view_layeroutlines()
{
    if (!view_rebuilt)
        return;
    const view_calltable &c = *view_calls;
    c.bindview();
    c.bindshader(-1);
    c.enable(vcap_blend, 1);
    c.blendfunc(vgl_srcalpha, vgl_oneminussrcalpha);
    c.depthmask(0);
    c.enable(vcap_depthtest, 0);
    for (int i = 0; i < project_maxlayers; i++) {
        const project_layer &l = project.layers[i];
        if (l.type == layer_free)
            continue;
        if (i != project_selectedlayer &&
            ((l.flags & layer_hidden) || !((l.groups >> project_layergroup) & 1u)))
            continue;
        outline_layer(i);
    }
    c.unbindview();
}
