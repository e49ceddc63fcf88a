// Paths carving. The layer's curves are flattened, thinned and optionally
// put in nearest-next order once; each level then cuts them at its own
// height, or drapes them on the cut surface between the previous level and
// this one, so no cut goes deeper than its level nor above the last.
#include "cam/pathscut.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/poly.h"
#include "geom/topolys.h"
#include "img/convolve.h"
#include "img/image.h"
#include "project/project.h"
#include "sys/log.h"

#include <cmath>
#include <cstring>

namespace {

struct pcut_run {
    cam_gen *g;
    uint32_t options;
    contour *paths = nullptr;
    image *surface = nullptr;
    float size[3], origin[3], frac[3];
    float pos[3];       // where the last cut ended
    int sign = 1, levelsign = 1;
};

void pcut_free(pcut_run &r)
{
    cont_free(r.paths);
    r.paths = nullptr;
    if (r.surface)
        img_free(r.surface);
    r.surface = nullptr;
}

int pcut_findlayer(uint32_t uid)
{
    for (int i = 0; i < project_maxlayers; i++)
        if (project.layers[i].type != 0 && project.layers[i].uid == uid)
            return i;
    sys_log("...unknown layer uid:%08X", uid);
    return -1;
}

// Steps 2 to 5: the layer's curves as thinned polylines.
contour *pcut_paths(const cam_gen *g)
{
    camop *op = g->op;
    uint32_t uid;
    memcpy(&uid, &op->aux[0], sizeof(uid));
    contour *raw = path_topolys(pcut_findlayer(uid), 0.005f, 0, 0, 1);
    if (!raw)
        return nullptr;
    contour *k = cont_new();
    if (!k) {
        cont_free(raw);
        return nullptr;
    }
    uint32_t before = 0, after = 0, first = 0;
    for (uint32_t p = 0; p < raw->numpolys; first += raw->vertcount[p], p++) {
        float *v = raw->verts + 3 * (size_t)first;
        int n = (int)raw->vertcount[p];
        before += (uint32_t)n;
        if (n > 2) {
            int m = poly_vertdot(n, v, cam_maxdot, cam_minlen, cam_maxlen);
            sys_debuglog("...reduced %d to %d verts (closed:%d)", n, m, (int)raw->closed[p]);
            n = m;
        }
        after += (uint32_t)n;
        if (!cont_addpoly(k, v, (uint32_t)n, raw->closed[p], -1, "cam_pathscut")) {
            cont_free(raw);
            cont_free(k);
            return nullptr;
        }
    }
    sys_log("simplified %u verts to %u verts", before, after);
    cont_free(raw);
    if ((op->flags & camop_sortpaths) && k->numpolys > 0) {
        float from[3] = {k->verts[0], k->verts[1], k->verts[2]};
        contour *o = cont_newfrompolys(k, from);
        cont_free(k);
        k = o;
    }
    if (k && op->cont)
        con_append(k, op->cont);
    return k;
}

// Step 6: the canvas, with stock, border and cutter as asked.
int pcut_surface(pcut_run &r)
{
    const cam_gen *g = r.g;
    const camop *op = g->op;
    image *s;
    if (op->stock <= 0.0001f) {
        s = img_alloc(g->ref->name, g->ref->width, g->ref->height, g->ref->bytesperpixel, g->ref->pixels);
    } else {
        sys_log("convolving with leave-stock (%f)...", op->stock);
        s = cam_leavestock(g->ref, g->size, op->stock);
    }
    if (s && (op->flags & camop_confine)) {
        image *b = cam_borderimage(s, r.size, r.origin, r.frac, 1);
        img_free(s);
        s = b;
    }
    if (s && (r.options & pathscut_cutter)) {
        sys_log("convolving with tool[%d].surface...", op->tool);
        image *profile = cam_gentoolprofile(op->tool - 1, r.size, s->width, op->z_max);
        image *sc = profile ? img_scalarconvo(s, profile, 0, -99999.0f, 0.0f) : nullptr;
        img_free(s);
        if (profile)
            img_free(profile);
        s = sc;
    }
    if (!s)
        sys_error("cam_pathscut: no cut surface");
    r.surface = s;
    return s != nullptr;
}

// Index of the vertex of the closed polyline nearest to pos in x and y.
int pcut_nearest(const float *v, int n, const float *pos)
{
    int best = 0;
    float bestd = 3.4e38f;
    for (int i = 0; i < n; i++) {
        const float dx = v[3 * i] - pos[0], dy = v[3 * i + 1] - pos[1], d = dx * dx + dy * dy;
        if (d < bestd)
            best = i, bestd = d;
    }
    return best;
}

// Step 8d for every polyline of k.
void pcut_emit(pcut_run &r, const contour *k)
{
    const cam_gen *g = r.g;
    const camop *op = g->op;
    const float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += 3 * (size_t)k->vertcount[p], p++) {
        const int n = (int)k->vertcount[p];
        if (n < 1)
            continue;
        const int closed = k->closed[p] ? 1 : 0;
        // A closed polyline repeats its first point; the toolpath repeats
        // the start point itself.
        const int distinct = closed && n > 1 && v[0] == v[3 * (n - 1)] && v[1] == v[3 * (n - 1) + 1] ? n - 1 : n;
        const int dir = r.sign * r.levelsign;
        int start = closed ? pcut_nearest(v, distinct, r.pos) : 0;
        int link = 0;
        if (op->entry == 1 && distinct >= 2) {
            const int at = toolpath_addramp(g->slot, 0, dir, start, distinct, v, closed);
            if (at >= 0)
                start = at, link = 1;
        }
        float end[3];
        toolpath_addpath(end, g->slot, 0, link, closed, start, dir, distinct, v);
        if (distinct >= 2)
            memcpy(r.pos, end, sizeof(r.pos));
        if (op->dir == 2)
            r.sign = -r.sign;
    }
}

// One level from zprev down to z; 0 when the draped contour cannot be had.
int pcut_level(pcut_run &r, float z, float zprev)
{
    const cam_gen *g = r.g;
    camop *op = g->op;
    if (op->dir == 2)
        r.sign = 1;
    if (!r.surface) {
        for (uint32_t i = 0; i < r.paths->numverts; i++)
            r.paths->verts[3 * i + 2] = z;
        if (op->cont)
            con_append(r.paths, op->cont);
        cam_genengage(g, zprev);
        pcut_emit(r, r.paths);
        return 1;
    }
    sys_log("contouring paths... @z %f->%f", zprev, z);
    const float sizevec[3] = {r.size[0], -r.size[1], r.size[2]};
    const float originvec[3] = {-r.origin[0], r.size[1] - r.origin[1], -r.origin[2]};
    contour *k = con_simplify(r.surface, r.paths, sizevec, originvec, z, zprev, cam_maxdot, cam_minlen, cam_maxlen);
    if (!k)
        return 0;
    uint32_t verts = 0;
    for (uint32_t i = 0; i < k->numpolys; i++)
        verts += k->vertcount[i];
    sys_log("...%u polylines, %u verts", k->numpolys, verts);
    cam_genengage(g, zprev);
    pcut_emit(r, k);
    cont_free(k);
    return 1;
}

// Keeps the order the cuts and their ramps were added in: the entry cuts
// are made already, level by level, from that level's engage height.
void pcut_order(int slot)
{
    toolpath &tp = toolpaths[slot];
    for (uint32_t i = tp.num_sorted; i < tp.num_paths; i++) {
        tp.paths[i].flags |= PATH_SORTED;
        toolpath_pushsorted(slot, i, 1);
    }
}

} // namespace

void cam_pathscut(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_pathscut", "CAMOP_PATHSCUT"))
        return;
    pcut_run r;
    r.g = &g;
    uint32_t a1;
    memcpy(&a1, &g.op->aux[1], sizeof(a1));
    r.options = a1 & 0xff;
    memcpy(r.size, g.size, sizeof(r.size));
    memcpy(r.origin, g.origin, sizeof(r.origin));
    memcpy(r.frac, g.frac, sizeof(r.frac));
    r.paths = pcut_paths(&g);
    if (!r.paths || ((r.options & pathscut_surface) && !pcut_surface(r))) {
        pcut_free(r);
        cam_genfail(&g);
        return;
    }
    if (r.paths->numverts == 0)
        for (uint32_t i = 0; i < r.paths->numpolys; i++)
            r.paths->numverts += r.paths->vertcount[i];
    r.sign = g.op->dir == 1 ? -1 : 1;
    r.pos[0] = -g.origin[0], r.pos[1] = -g.origin[1], r.pos[2] = 0.0f;
    if (!cam_genclaim(&g, 1)) {
        pcut_free(r);
        return;
    }
    float zprev = g.z0;
    for (float z = cam_gennextlevel(&g, g.z0);; z = cam_gennextlevel(&g, z)) {
        if (!pcut_level(r, z, zprev)) {
            pcut_free(r);
            cam_genfail(&g);
            return;
        }
        if (cam_genlastlevel(&g, z))
            break;
        zprev = z;
        if (g.op->dir == 2)
            r.levelsign = -r.levelsign;
    }
    pcut_free(r);
    pcut_order(g.slot);
    cam_genend(&g, 0, nullptr);
}
