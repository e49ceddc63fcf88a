// The Spiral generator: the base spiral (angle steps of 8 degrees at the
// centre, finer as the radius grows, capped at one contour's vertices) and
// the level loop, which clips it with Parallel's cut surface, rest clip and
// engage height and adds every piece unlinked.
#include "cam/spiral.h"

#include "cam/engage.h"
#include "cam/toolpath.h"
#include "geom/drape.h"
#include "img/image.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>

int camop_spiralverts(std::vector<float> &out, double cx, double cy, double z, double limit, double s, int g,
                      double scale)
{
    out.clear();
    // About (T + scale s T^2 / 720) / 8 vertices out to T = 360 limit / s degrees.
    const double turns = 360.0 * limit / s, estimate = (turns + scale * s * turns * turns / 720.0) / 8.0 + 16.0;
    out.reserve(3 * (size_t)std::min(estimate, (double)spiral_maxverts));
    for (double t = 0.0;;) {
        if (out.size() / 3 >= (size_t)spiral_maxverts)
            return 0;
        const double r = t / 360.0 * s, a = g * t * M_PI / 180.0;
        out.push_back((float)(cx + std::sin(a) * r));
        out.push_back((float)(cy + std::cos(a) * r));
        out.push_back((float)z);
        if (!(r < limit))
            return 1;
        t += 8.0 / (scale * r + 1.0);
    }
}

// Steps 2 to 4: the spiral contour (possibly empty); null (logged) on failure.
static contour *spiral_make(const cam_gen *g, const cam_lines *w)
{
    const camop *op = g->op;
    const double cx = (op->aux[0] + 0.5) * w->size[0] - w->origin[0];
    const double cy = (op->aux[1] + 0.5) * w->size[1] - w->origin[1];
    const double ex = (std::fabs(op->aux[0]) + 0.5) * w->size[0], ey = (std::fabs(op->aux[1]) + 0.5) * w->size[1];
    const double rc = std::sqrt(ex * ex + ey * ey);
    const bool corner = op->aux[2] <= 0.0f || rc <= op->aux[2];
    const double limit = corner ? rc : op->aux[2];
    sys_log("generating base spiral... (radmax:%f angstep:%f)", limit, 8.0);
    contour *c = cont_new();
    if (!c || (corner && rc <= 0.0))
        return c;
    std::vector<float> v;
    if (!camop_spiralverts(v, cx, cy, g->top, limit, g->step, op->dir == 1 ? -1 : 1, g->scale))
        sys_log("camop_spiral: spiral stopped at %d vertices (radius %f of %f)", spiral_maxverts,
                std::hypot(v[v.size() - 3] - cx, v[v.size() - 2] - cy), limit);
    if (!cont_addpoly(c, v.data(), (uint32_t)(v.size() / 3), 0, 0, g->fn)) {
        cont_free(c);
        return nullptr;
    }
    sys_log("...generated base spiral: %d verts", (int)(v.size() / 3));
    if (op->cont)
        con_append(c, op->cont);
    return c;
}

namespace {
struct spiral_work {
    image *sc = nullptr;
    contour *spiral = nullptr;
    void release()
    {
        img_free(sc);
        cont_free(spiral);
        sc = nullptr, spiral = nullptr;
    }
    ~spiral_work() { release(); }
};
} // namespace

static void spiral_emit(const cam_gen *g, const contour *k)
{
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++)
        if (k->vertcount[i] > 1) {
            float out[3];
            toolpath_addpath(out, g->slot, g->op->entry, 0, 0, 0, 1, (int)k->vertcount[i], v);
        }
}

void camop_spiral(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_spiral", "CAMOP_SPIRAL"))
        return;
    cam_lines w;
    camop_linesgeometry(&g, &w);
    if (!cam_gencheckstep(&g))
        return;
    spiral_work work;
    work.sc = camop_cutsurface(&g, &w);
    work.spiral = work.sc ? spiral_make(&g, &w) : nullptr;
    if (!work.spiral) {
        cam_genfail(&g);
        return;
    }
    if (!cam_genclaim(&g, 1))
        return;
    float start[3] = {-g.origin[0], -g.origin[1], -g.origin[2]};
    for (float zprev = g.z0, z = cam_gennextlevel(&g, zprev);; zprev = z, z = cam_gennextlevel(&g, z)) {
        contour *k = camop_drapelevel(&w, work.sc, work.spiral, z, zprev);
        k = camop_restclip(&g, k);
        if (k && k->numpolys) {
            spiral_emit(&g, k);
            cam_genorderlevel(&g, zprev, start);
        }
        cont_free(k);
        if (cam_genleveldone(&g, z))
            break;
    }
    work.release();
    cam_genend(&g, 0, nullptr);
}
