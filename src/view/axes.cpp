// The axes pass. Its two models are rebuilt when the project's scale or the
// grid step moves, but only in a frame in which neither the canvas nor a
// layer generator is busy, so the change is remembered until then. The
// axes are scaled by the camera distance, so they keep their size on
// screen at any zoom.
#include "view/axes.h"

#include "project/canvas.h"
#include "project/project.h"
#include "render/draw.h"
#include "sys/config.h"
#include "sys/log.h"
#include "view/gizmo.h"
#include "view/readout.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <cmath>

static int axes_model = -1, axes_gizmo = -1;
static float axes_scale = NAN, axes_grid = NAN; // what the models were built for

int view_axesmodel() { return axes_model; }
int view_axesgizmomodel() { return axes_gizmo; }

void view_axesfree()
{
    view_calls->modelfree(axes_model);
    view_calls->modelfree(axes_gizmo);
    axes_model = axes_gizmo = -1;
    axes_scale = axes_grid = NAN;
}

static view_vertex axes_vertex(float x, float y, float z, float r, float g, float b, float a)
{
    auto byte = [](float v) { return (uint8_t)(v * 255.0f + 0.5f); };
    return {x, y, z, byte(r), byte(g), byte(b), byte(a), 0.0f, 0.0f};
}

static void axes_buildgizmo()
{
    const view_calltable &c = *view_calls;
    const view_vertex red = axes_vertex(0, 0, 0, 1, 0, 0, 1), green = axes_vertex(0, 0, 0, 0, 1, 0, 1),
                      blue = axes_vertex(0, 0, 0, 0, 0, 1, 1);
    auto at = [](view_vertex v, float x, float y, float z) {
        v.x = x, v.y = y, v.z = z;
        return v;
    };
    const view_vertex cyan = axes_vertex(0, 0.15f, 0.15f, 0, 1, 1, 1), magenta = axes_vertex(0.15f, 0, 0.15f, 1, 0, 1, 1),
                      white = axes_vertex(0.15f, 0.15f, 0.15f, 1, 1, 1, 1);
    const view_vertex stems[6] = {red, at(red, 0.5f, 0, 0), green, at(green, 0, 0.5f, 0), blue, at(blue, 0, 0, 0.5f)};
    const view_vertex floor[3] = {axes_vertex(0.15f, 0, 0, 1, 0.15f, 0.15f, 1), axes_vertex(0.15f, 0.15f, 0, 1, 1, 0.15f, 1),
                                  axes_vertex(0, 0.15f, 0, 0.15f, 1, 0.15f, 1)};
    const view_vertex yz[3] = {at(green, 0, 0.15f, 0), cyan, at(blue, 0, 0, 0.15f)};
    const view_vertex xz[3] = {at(red, 0.15f, 0, 0), magenta, at(blue, 0, 0, 0.15f)};
    const view_vertex posts[6] = {axes_vertex(0.15f, 0.15f, 0, 1, 1, 0, 1), white, cyan, white, magenta, white};
    axes_gizmo = c.modelnew();
    c.primitive(r_lines, stems, 6);
    c.primitive(r_linestrip, floor, 3);
    c.primitive(r_linestrip, yz, 3);
    c.primitive(r_linestrip, xz, 3);
    c.primitive(r_lines, posts, 6);
    if (axes_gizmo >= 0)
        c.modelend();
}

static void axes_buildaxes()
{
    const view_calltable &c = *view_calls;
    const view_vertex lines[6] = {axes_vertex(0, 0, 0, 1, 0, 0, 1), axes_vertex(1, 0, 0, 1, 0, 0, 0),
                                  axes_vertex(0, 0, 0, 0, 1, 0, 1), axes_vertex(0, 1, 0, 0, 1, 0, 0),
                                  axes_vertex(0, 0, 0, 0, 0, 1, 1), axes_vertex(0, 0, 1, 0, 0, 1, 0)};
    axes_model = c.modelnew();
    c.primitive(r_lines, lines, 6);
    if (axes_model >= 0)
        c.modelend();
}

static void axes_rebuild()
{
    float grid = cfg_getf(cfg_gridsubdiv);
    bool built = axes_model >= 0 && axes_gizmo >= 0;
    if (built && project.scale == axes_scale && grid == axes_grid)
        return;
    if (project_canvasjob.updating.load() || view_generating())
        return;
    const view_calltable &c = *view_calls;
    view_axesfree();
    c.pushmatrix();
    sys_log("regenaxes: scale=%f", 1.0);
    axes_buildgizmo();
    axes_buildaxes();
    c.popmatrix();
    axes_scale = project.scale;
    axes_grid = grid;
    view_redraw = 1;
}

// A point of the current frame as window fractions, y down, with its depth.
static view_axisend axes_anchor(float x, float y, float z)
{
    const float in[3] = {x, y, z};
    float out[3];
    view_calls->project(out, in);
    return {out[0] * 0.5f + 0.5f, 0.5f - out[1] * 0.5f, out[2]};
}

void view_axes()
{
    axes_rebuild();
    if (axes_model < 0)
        return;
    const view_calltable &c = *view_calls;
    c.bindview();
    c.enable(vcap_depthtest, 0);
    c.enable(vcap_fog, 0);
    c.linewidth(2.5f);
    c.enable(vcap_blend, 1);
    c.blendfunc(vgl_srcalpha, vgl_oneminussrcalpha);
    // view_setup.viewscale already holds tan(fov / 2) in perspective.
    float s = view_setup.viewscale * 0.15f / (project.scale > 0.0f ? project.scale : 1.0f);
    c.pushmatrix();
    c.translate(-view_setup.origin[0], -view_setup.origin[1], -view_setup.origin[2]);
    c.scale(s, s, s);
    c.modeldraw(axes_model);
    view_axisorigin = axes_anchor(-0.08f, -0.08f, -0.08f);
    view_axisends[0] = axes_anchor(1.0f, 0.0f, 0.0f);
    view_axisends[1] = axes_anchor(0.0f, 1.0f, 0.0f);
    view_axisends[2] = axes_anchor(0.0f, 0.0f, 1.0f);
    c.popmatrix();
    if (gizmo_canvasstate != 2 && axes_gizmo >= 0) {
        c.pushmatrix();
        c.translate(-gizmo_canvasoffset[0], -gizmo_canvasoffset[1], -gizmo_canvasoffset[2]);
        c.modeldraw(axes_gizmo);
        c.popmatrix();
    }
    c.unbindview();
}
