// Drilling. An outline is a hole when its area is near the tool's
// cross-section, it is round (area against length) and its enclosing
// circle's diameter is within the tolerance of the cutting diameter. Holes
// are drilled in pecks of the depth of cut; without full retract each peck
// starts a stock height above the previous bottom and is fed into from it.
#include "cam/drillholes.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/circle.h"
#include "geom/contour.h"
#include "img/image.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <cmath>
#include <vector>

drill_hole drill_holes[drill_maxholes];
int drill_numholes = 0;

namespace {

constexpr float drill_minround = 0.85f;
constexpr uint32_t drill_fullretract = 0x4; // each peck a cut of its own

struct drill_run {
    cam_gen *g;
    float r;     // cutter radius
    float area;  // the cutter's cross-section
    int paths;   // input from paths: outlines may run either way round
};

// The canvas traced at the threshold depth, or the paths input; appended
// to the working contour for display.
contour *drill_input(const cam_gen *g)
{
    const camop *op = g->op;
    contour *in = nullptr;
    if (op->flags & (camop_pathslayer | camop_pathsgroup)) {
        in = cam_geninput(g);
    } else {
        const float p = g->size[0] / (float)g->width;
        const float scale[3] = {g->size[0], -g->size[1], g->size[2]};
        const float offset[3] = {-g->origin[0], g->size[1] - g->origin[1], -g->origin[2]};
        in = cont_fromimage(g->ref, op->aux[0] / g->size[2], scale, offset, 0.99f, p, 5.0f * p, 0);
    }
    if (in && op->cont)
        con_append(in, op->cont);
    return in;
}

// Length of the count - 1 segments in 3D.
float drill_length(const float *v, uint32_t count)
{
    double len = 0;
    for (uint32_t i = 0; i + 1 < count; i++)
        len += std::sqrt((double)(v[3 * i + 3] - v[3 * i]) * (v[3 * i + 3] - v[3 * i]) +
                         (double)(v[3 * i + 4] - v[3 * i + 1]) * (v[3 * i + 4] - v[3 * i + 1]) +
                         (double)(v[3 * i + 5] - v[3 * i + 2]) * (v[3 * i + 5] - v[3 * i + 2]));
    return (float)len;
}

// Step 4 for polyline p: 1 with its circle in c when it is a hole.
int drill_test(const drill_run &d, int p, const float *v, uint32_t count, float c[3])
{
    const cam_gen *g = d.g;
    float area = count < 2 ? 0.0f : cont_polyarea(v, count);
    if (d.paths && area < 0.0f)
        area = -area;
    sys_debuglog("poly[%d] area = %f", p, area);
    if (std::fabs(d.area - area) > 0.2f * d.area) {
        sys_debuglog("skipping poly[%d]...", p);
        return 0;
    }
    const float len = drill_length(v, count);
    sys_debuglog("poly[%d] length = %f", p, len);
    const float round = len > 0.0f ? 4.0f * (float)M_PI * area / (len * len) : 0.0f;
    sys_debuglog("poly[%d] roundess = %f", p, round);
    if (!(round >= drill_minround))
        return 0;
    // A closed outline repeats its first point: the circle needs it once.
    circle_enclose(v, (int)count - 1, c);
    const float dia = g->u * g->t->diameter;
    const float delta = std::fabs(1.0f - 2.0f * c[2] / dia) - 0.005f;
    sys_debuglog("poly[%d] diameter delta = %%%.1f (pdia:%f)", p, delta * 100.0f, 2.0f * c[2]);
    return delta <= g->op->aux[1];
}

// The hole marker shown while generating: 24 points, the last on the first.
void drill_marker(camop *op, const float c[3], float z)
{
    if (!op->cont)
        return;
    float v[24 * 3];
    for (int i = 0; i < 24; i++) {
        const double a = i * 2.0 * M_PI / 23.0;
        v[3 * i] = c[0] + c[2] * (float)std::cos(a);
        v[3 * i + 1] = c[1] + c[2] * (float)std::sin(a);
        v[3 * i + 2] = z;
    }
    cont_addpoly(op->cont, v, 24, 1, -1, "cam_drillholes");
}

void drill_find(const drill_run &d, const contour *in)
{
    const cam_gen *g = d.g;
    sys_log("tool area: %.4f (maxdelta:%f)", d.area, 0.2f * d.area);
    sys_log("min roundness factor: %.4f", drill_minround);
    sys_log("finding circles...");
    uint32_t first = 0;
    for (uint32_t p = 0; p < in->numpolys; first += in->vertcount[p], p++) {
        float c[3];
        if (!drill_test(d, (int)p, in->verts + 3 * (size_t)first, in->vertcount[p], c))
            continue;
        if (drill_numholes >= drill_maxholes) {
            sys_log("cam_drillholes: hole table full (%d), poly[%d] X%.3f Y%.3f not drilled", drill_maxholes,
                    (int)p, c[0], c[1]);
            continue;
        }
        drill_marker(g->op, c, g->z0);
        drill_holes[drill_numholes] = {c[0], c[1], c[2]};
        sys_log("...poly[%d] = hole[%d] X%.3f Y%.3f R%.3f", (int)p, drill_numholes, c[0], c[1], c[2]);
        drill_numholes++;
    }
}

// Nearest-next from (0, 0); the first found wins a tie.
void drill_order()
{
    double x = 0, y = 0;
    for (int k = 0; k < drill_numholes; k++) {
        int best = k;
        double bestd = 0;
        for (int i = k; i < drill_numholes; i++) {
            const double dx = drill_holes[i].x - x, dy = drill_holes[i].y - y, dd = dx * dx + dy * dy;
            if (i == k || dd < bestd)
                best = i, bestd = dd;
        }
        const drill_hole h = drill_holes[best];
        for (int i = best; i > k; i--) // keep the others in the order found
            drill_holes[i] = drill_holes[i - 1];
        drill_holes[k] = h;
        x = h.x, y = h.y;
    }
}

void drill_pecks(const cam_gen *g, const drill_hole &h)
{
    const camop *op = g->op;
    float from = g->z0, t = std::fmax(g->z1, g->z0 - g->doc);
    int joined = 0;
    for (;;) {
        float z = std::fmax(g->z1, t);
        const int last = cam_genlastlevel(g, z);
        if (last)
            z = g->z1; // no peck of a rounding error after the last
        const float v[6] = {h.x, h.y, from, h.x, h.y, z};
        float end[3];
        toolpath_addpath(end, g->slot, joined, 0, 0, 1, 2, v);
        if (last)
            return;
        t = z - g->doc;
        if (op->flags & drill_fullretract) {
            from = z;
        } else {
            from = z + op->stock;
            joined = 1;
        }
    }
}

// No hole: the record is finished without a toolpath and without a notice.
void drill_none(cam_gen *g)
{
    camop *op = g->op;
    op->progress.store(1.0f, std::memory_order_release);
    op->time = (float)(sys_seconds() - op->time);
    view_redraw = 1;
    op->generating.store(0, std::memory_order_release);
    sys_unlockmutex(cam_mutex);
}

} // namespace

void cam_drillholes(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_drillholes", "CAMOP_DRILLHOLES"))
        return;
    drill_run d{&g, 0.5f * g.u * g.t->diameter, 0.0f, 0};
    d.area = (float)M_PI * d.r * d.r;
    d.paths = (g.op->flags & (camop_pathslayer | camop_pathsgroup)) != 0;
    drill_numholes = 0;
    contour *in = drill_input(&g);
    if (!in) {
        sys_log("cam_drillholes: no input outlines");
        cam_genfail(&g);
        return;
    }
    drill_find(d, in);
    cont_free(in);
    sys_log("...found %d circles", drill_numholes);
    if (drill_numholes == 0) {
        drill_none(&g);
        return;
    }
    if (g.op->flags & camop_sortpaths)
        drill_order();
    if (!cam_genclaim(&g, 0))
        return;
    for (int i = 0; i < drill_numholes; i++)
        drill_pecks(&g, drill_holes[i]);
    toolpath_engagepaths(g.slot);
    cam_genend(&g, 0, nullptr);
}
