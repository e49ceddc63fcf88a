// 2D trochoidal milling. The region the tool centre may reach is the input
// shrunk by the tool radius and stock and opened by a disc of the
// stepover, so every part of it takes a loop of at least that radius; its
// outlines, grouped into pockets with their islands, give each pocket's
// medial axis, along which cam_startcuts sweeps the loops at every level.
#include "cam/trochoidal.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/parallel.h"
#include "cam/pocketing.h"
#include "cam/startcuts.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/fill.h"
#include "geom/medial.h"
#include "img/adjust.h"
#include "img/contour.h"
#include "img/image.h"
#include "img/smooth.h"
#include "sys/config.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

int troch_winds(const float *v, int count, float x, float y)
{
    // Quadrant crossings: a full turn around the point sums to +-4.
    auto quad = [&](const float *p) { return p[0] >= x ? (p[1] >= y ? 0 : 3) : (p[1] >= y ? 1 : 2); };
    int sum = 0;
    for (int i = 0; i + 1 < count; i++) {
        const float *a = v + i * 3, *b = a + 3;
        int d = quad(b) - quad(a);
        if (d == 3)
            d = -1;
        else if (d == -3)
            d = 1;
        else if (d == 2 || d == -2) {
            // Across the point: the side it passes decides the sense.
            const float cross = (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0]);
            d = cross > 0.0f ? 2 : -2;
        }
        sum += d;
    }
    return sum == 4 || sum == -4;
}

namespace {

struct troch_root {
    int poly;
    float area;
    std::vector<int> islands; // head first
};

struct troch_run {
    cam_gen *g;
    cam_lines box;
    float radius = 0.0f; // r
    float pixel = 0.0f;  // p
    float rt = 0.0f;     // r + S
    float maxr = 0.0f;   // rt + m
};

void troch_invert(image *img)
{
    float *p = (float *)img->pixels;
    for (size_t i = 0; i < (size_t)img->width * img->height; i++)
        p[i] = 1.0f - p[i];
}

// Steps 2 and 3: 1 where material stands, 0 where the pocket is.
image *troch_mask(troch_run &r)
{
    cam_gen *g = r.g;
    const camop *op = g->op;
    image *img = nullptr;
    float level = op->aux[0] / g->size[2];
    if (op->flags & (camop_pathslayer | camop_pathsgroup)) {
        contour *k = cam_geninput(g);
        if (!k)
            k = cont_new();
        if (!k)
            return nullptr;
        sys_log("filling contours... %dx%d (%d polys %d verts)", g->width, g->height, (int)k->numpolys,
                (int)k->numverts);
        const float corner[2] = {-g->origin[0], g->size[1] - g->origin[1]};
        const float size[2] = {g->size[0], -g->size[1]};
        image *fill = con_fill(k, corner, size, g->width, g->height, 4);
        cont_free(k);
        if (!fill)
            return nullptr;
        troch_invert(fill);
        level = 0.5f;
        img = img_scalarath(fill, level, 1);
        img_free(fill);
    } else {
        image *copy = img_copy(g->ref);
        if (!copy)
            return nullptr;
        img = img_scalarath(copy, level, 1);
        img_free(copy);
    }
    if (!img)
        return nullptr;
    sys_log("...thresholded input @%f", level);
    if (op->flags & 0x800)
        troch_invert(img);
    return pocket_padmask(img, r.box.size, r.box.origin, r.box.frac, op->stock,
                          (op->flags & camop_confine) ? 0.0f : r.radius);
}

// Steps 4 and 5: the outlines of the region that loops of radius rt reach.
contour *troch_outlines(troch_run &r, image *mask)
{
    cam_gen *g = r.g;
    const camop *op = g->op;
    camop_linesmapping(&r.box);
    image *d1 = img_scalardistsmooth(mask, r.pixel, 0.0f);
    if (!d1)
        return nullptr;
    sys_log("...distance transformed Z%0.2f thresh", op->aux[0]);
    image *th = img_scalarath(d1, r.rt, 1);
    img_free(d1);
    if (!th)
        return nullptr;
    sys_log("...thresholded dists at trochoid radius %f", r.rt);
    image *field = img_scalardistsmooth(th, r.pixel, op->stock + r.radius);
    img_free(th);
    if (!field)
        return nullptr;
    sys_log("...distance transformed min arc diameter thresh");
    contour *k = img_contour(field, r.rt, r.box.sizevec, r.box.originvec, 0.985f, 3.0f * r.pixel, 9.0f * r.pixel, 3);
    float *f = (float *)field->pixels;
    float m = -9999999.0f;
    for (size_t i = 0; i < (size_t)field->width * field->height; i++)
        m = std::max(m, -f[i]);
    img_free(field);
    r.maxr = r.rt + m;
    sys_log("MAX RADIUS = %f", r.maxr);
    return k;
}

// Step 7: roots are the outlines around the pockets; each island goes to
// the smallest root around it.
std::vector<troch_root> troch_roots(const contour *k)
{
    std::vector<troch_root> roots;
    std::vector<uint32_t> at(k->numpolys);
    std::vector<float> area(k->numpolys);
    for (uint32_t p = 0, o = 0; p < k->numpolys; o += k->vertcount[p], p++) {
        at[p] = o;
        area[p] = k->vertcount[p] < 2 ? 0.0f : cont_polyarea(k->verts + o * 3, k->vertcount[p]);
        if (area[p] > 0.0f)
            roots.push_back({(int)p, area[p], {}});
    }
    for (uint32_t p = 0; p < k->numpolys; p++) {
        if (area[p] > 0.0f)
            continue;
        const float *first = k->verts + at[p] * 3;
        int best = -1;
        for (int i = 0; i < (int)roots.size(); i++) {
            const troch_root &rt = roots[i];
            if (rt.area < -area[p] || (best >= 0 && rt.area >= roots[best].area))
                continue;
            if (troch_winds(k->verts + at[rt.poly] * 3, (int)k->vertcount[rt.poly], first[0], first[1]))
                best = i;
        }
        if (best < 0) {
            sys_log("cam_trochpock: failed to find pocket for island node[%d]", (int)p);
            continue;
        }
        roots[best].islands.insert(roots[best].islands.begin(), (int)p);
        sys_debuglog("added island node[%d] to root node[%d]", (int)p, roots[best].poly);
    }
    return roots;
}

// Step 8 for one root: its outline and islands, their medial axis and the
// start cuts at every level. 0 when the start cuts refused.
int troch_cutroot(troch_run &r, const contour *k, const troch_root &root, int index, int *dirsign)
{
    cam_gen *g = r.g;
    camop *op = g->op;
    contour *c = cont_new();
    if (!c)
        return 0;
    auto add = [&](int p) {
        uint32_t o = 0;
        for (int i = 0; i < p; i++)
            o += k->vertcount[i];
        cont_addpoly(c, k->verts + o * 3, k->vertcount[p], 1, p, "cam_trochpock");
    };
    add(root.poly);
    for (int i : root.islands)
        add(i);
    // The axis carries outline Z plus the clearance: from 0 it is the clearance.
    for (uint32_t i = 0; i < c->numverts; i++)
        c->verts[i * 3 + 2] = 0.0f;
    if (op->cont)
        con_append(c, op->cont);
    sys_log("root[%d] = %d polys, %d verts...", index, (int)c->numpolys, (int)c->numverts);
    contour *axis = con_medialaxis(c, r.maxr, 0.998f, 3.0f * r.pixel, 9.0f * r.pixel);
    cont_free(c);
    int ok = 1;
    if (axis && axis->numpolys > 0 && axis->numverts > 0) {
        if (op->cont)
            con_append(axis, op->cont);
        // The working contour shows the outlines and the axis, not the
        // start cuts added to it below.
        const uint32_t keeppolys = op->cont ? op->cont->numpolys : 0;
        const uint32_t keepverts = op->cont ? op->cont->numverts : 0;
        float zprev = g->z0;
        for (float z = cam_gennextlevel(g, g->z0);; z = cam_gennextlevel(g, z)) {
            if (op->dir == 2)
                *dirsign = op->aux[1] == 0.0f ? -1 : 1;
            sys_log("zcut:%f zprev:%f", z, zprev);
            if (!cam_startcuts(op, axis, r.box.size, r.box.origin, dirsign, g->step, z, zprev, r.pixel)) {
                ok = 0;
                break;
            }
            if (cam_genlastlevel(g, z))
                break;
            zprev = z;
        }
        if (op->cont) {
            op->cont->numpolys = keeppolys;
            op->cont->numverts = keepverts;
        }
    }
    cont_free(axis);
    return ok;
}

} // namespace

void cam_trochpock(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_trochpock", "CAMOP_TROCHPOCK"))
        return;
    if (!cam_gencheckstep(&g))
        return;
    const float A = cfg_getf(cfg_trochoidstep);
    if (!(A > 0.0f) || !std::isfinite(A)) {
        sys_log("cam_trochpock: angular step %f must be above 0", A);
        cam_genfail(&g);
        return;
    }
    troch_run r;
    r.g = &g;
    camop_linesgeometry(&g, &r.box);
    r.radius = 0.5f * g.u * g.t->diameter;
    r.pixel = g.size[0] / (float)g.width;
    g.step = std::max(g.step, 3.0f * r.pixel);
    r.rt = r.radius + g.step;
    image *mask = troch_mask(r);
    contour *k = mask ? troch_outlines(r, mask) : nullptr;
    img_free(mask);
    if (!k) {
        sys_log("cam_trochpock: no outlines could be made");
        cam_genfail(&g);
        return;
    }
    camop *op = g.op;
    if (op->flags & camop_sortpaths) {
        float from[3] = {-9999.0f, -9999.0f, 0.0f};
        contour *sorted = cont_newfrompolys(k, from);
        if (sorted) {
            cont_free(k);
            k = sorted;
        }
    }
    if (op->cont)
        con_append(k, op->cont);
    std::vector<troch_root> roots = troch_roots(k);
    if (!cam_genclaim(&g, 1)) {
        cont_free(k);
        return;
    }
    int dirsign = op->dir == 0 ? -1 : 1;
    for (int i = 0; i < (int)roots.size(); i++) {
        if (!troch_cutroot(r, k, roots[i], i, &dirsign)) {
            cont_free(k);
            cam_genfail(&g);
            return;
        }
    }
    cont_free(k);
    cam_genend(&g, 0, nullptr);
}
