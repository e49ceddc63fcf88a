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
#include "cam/profile.h"
#include "cam/pocketing.h"
#include "cam/startcuts.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/fill.h"
#include "geom/medial.h"
#include "img/adjust.h"
#include "img/contour.h"
#include "img/convolve.h"
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

} // namespace

int troch_islandroots(const contour *k, int *owner)
{
    std::vector<uint32_t> at(k->numpolys);
    std::vector<float> area(k->numpolys);
    for (uint32_t p = 0, o = 0; p < k->numpolys; o += k->vertcount[p], p++) {
        at[p] = o;
        area[p] = k->vertcount[p] < 2 ? 0.0f : cont_polyarea(k->verts + o * 3, k->vertcount[p]);
        owner[p] = area[p] > 0.0f ? (int)p : -1;
    }
    int dropped = 0;
    for (uint32_t p = 0; p < k->numpolys; p++) {
        if (area[p] > 0.0f)
            continue;
        const float *first = k->verts + at[p] * 3;
        int best = -1;
        for (uint32_t q = 0; q < k->numpolys; q++) {
            if (!(area[q] > 0.0f) || area[q] < -area[p] || (best >= 0 && area[q] >= area[best]))
                continue;
            if (troch_winds(k->verts + at[q] * 3, (int)k->vertcount[q], first[0], first[1]))
                best = (int)q;
        }
        if (best < 0) {
            sys_log("cam_trochpock: failed to find pocket for island node[%d]", (int)p);
            dropped++;
        }
        owner[p] = best;
    }
    return dropped;
}

namespace {

// Step 7: the roots in the order found, each with its islands (the last
// found first).
std::vector<troch_root> troch_roots(const contour *k)
{
    std::vector<troch_root> roots;
    std::vector<int> owner(k->numpolys);
    troch_islandroots(k, owner.data());
    std::vector<int> rootof(k->numpolys, -1);
    for (uint32_t p = 0; p < k->numpolys; p++)
        if (owner[p] == (int)p) {
            rootof[p] = (int)roots.size();
            roots.push_back({(int)p, {}});
        }
    for (uint32_t p = 0; p < k->numpolys; p++) {
        if (owner[p] < 0 || owner[p] == (int)p)
            continue;
        std::vector<int> &islands = roots[rootof[owner[p]]].islands;
        islands.insert(islands.begin(), (int)p);
        sys_debuglog("added island node[%d] to root node[%d]", (int)p, owner[p]);
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

// The opening both generators share: the job frame, its stepover check and
// the configured angular step, which must advance the loops. False when
// the run has already ended through the failure path (or never began).
bool troch_begin(cam_gen *g, void *arg, const char *name, const char *job)
{
    if (!cam_genbegin(g, (camop *)arg, name, job))
        return false;
    if (!cam_gencheckstep(g))
        return false;
    const float A = cfg_getf(cfg_trochoidstep);
    if (!(A > 0.0f) || !std::isfinite(A)) {
        sys_log("%s: angular step %f must be above 0", name, A);
        cam_genfail(g);
        return false;
    }
    return true;
}

} // namespace

void cam_trochpock(void *arg)
{
    cam_gen g;
    if (!troch_begin(&g, arg, "cam_trochpock", "CAMOP_TROCHPOCK"))
        return;
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

// ---------------------------------------------------------------- 2.5D

// 2.5D trochoidal milling. The canvas dilated by the cutter's profile is
// sliced at every level; each slice's outlines (opened by the stepover)
// become pockets and islands, each pocket hangs under the pocket of the
// level above that holds it, and the tree is cut top-down so every pocket
// is opened from the floor of the one above it. The node table and the
// traversal stack grow with the slices, so no slice overruns them.

namespace {

struct troch_pnode {
    int next = -1;      // next node of the same level
    int level = 0;
    int island = -1;    // island chain (pockets) / next island (islands)
    int below = -1;     // first pocket below
    int nextbelow = -1; // next pocket below the same parent
    int pocket = 0;
    int linked = 0;     // hangs under a pocket of the level above
    float area = 0.0f;
    float box[4] = {0, 0, 0, 0}; // the outline's x0, y0, x1, y1
    std::vector<float> verts;
};

// Whether (x, y) lies within margin of the node's box: outlines far from a
// point are passed over without walking them, so slices of thousands of
// outlines are not a walk of every outline for every other one.
bool troch_nearbox(const troch_pnode &n, float x, float y, float margin)
{
    return x >= n.box[0] - margin && x <= n.box[2] + margin && y >= n.box[1] - margin && y <= n.box[3] + margin;
}

struct troch_level {
    int first = -1; // first node of the level
    float z = 0.0f;
    float maxr = 0.0f; // widest clearance of the slice
};

struct troch_tree {
    cam_gen *g;
    cam_lines box;
    float pixel = 0.0f;
    image *surf = nullptr;
    std::vector<troch_pnode> nodes;
    std::vector<troch_level> levels;
};

// Step 2: the surface the tool's tip may reach, padded by S unless the
// border keeps the tool on the canvas.
image *troch_surface(troch_tree &t)
{
    cam_gen *g = t.g;
    const camop *op = g->op;
    camop_linesgeometry(g, &t.box);
    image *s0;
    if (op->stock > 0.0001f) {
        sys_log("convolving with leave-stock:%f...", op->stock);
        s0 = cam_leavestock(g->ref, g->size, op->stock);
    } else {
        s0 = img_copy(g->ref);
    }
    if (s0 && (op->flags & camop_confine)) {
        image *b = cam_borderimage(s0, t.box.size, t.box.origin, t.box.frac, 1);
        img_free(s0);
        s0 = b;
    }
    if (!s0)
        return nullptr;
    t.pixel = t.box.size[0] / (float)s0->width;
    g->step = std::max(g->step, 3.0f * t.pixel);
    sys_log("convolving with tool[%d].surface...", op->tool);
    image *profile = cam_gentoolprofile(op->tool - 1, t.box.size, s0->width, op->z_max);
    image *sc = profile ? img_scalarconvo(s0, profile, 0, -99999.0f, 0.0f) : nullptr;
    img_free(s0);
    img_free(profile);
    if (sc && !(op->flags & camop_confine)) {
        image *padded = cam_padimage(sc, t.box.size, t.box.origin, t.box.frac, g->step, 1);
        img_free(sc);
        sc = padded;
    }
    camop_linesmapping(&t.box);
    return sc;
}

// Step 3a-3c: the outlines of the slice at z, opened by S.
contour *troch_slice(troch_tree &t, float z, float *maxr)
{
    cam_gen *g = t.g;
    const float S = g->step, p = t.pixel;
    const float level = (t.box.origin[2] + z) / t.box.size[2] + 0.0001f;
    image *mask = img_scalarath(t.surf, level, 1);
    if (!mask)
        return nullptr;
    sys_log("...thresholded pathsurf @z:%f", level);
    image *d1 = img_scalardistsmooth(mask, -p, 0.0f);
    img_free(mask);
    if (!d1)
        return nullptr;
    sys_log("...distance transformed Z%0.2f thresh", z);
    image *th = img_scalarath(d1, -S, 1);
    img_free(d1);
    if (!th)
        return nullptr;
    sys_log("...thresholded dists at min arc diameter");
    image *d2 = img_scalardistsmooth(th, -p, 0.0f);
    img_free(th);
    if (!d2)
        return nullptr;
    sys_log("...distance transformed min arc diameter thresh");
    contour *k = img_contour(d2, S, t.box.sizevec, t.box.originvec, 0.985f, 3.0f * p, 15.0f * p, 3);
    const float *f = (const float *)d2->pixels;
    float m = -9999999.0f;
    for (size_t i = 0; i < (size_t)d2->width * d2->height; i++)
        m = std::max(m, -f[i]);
    img_free(d2);
    *maxr = S + m;
    if (k && (g->op->flags & camop_sortpaths)) {
        float from[3] = {-9999.0f, -9999.0f, 0.0f};
        contour *sorted = cont_newfrompolys(k, from);
        if (sorted) {
            cont_free(k);
            k = sorted;
        }
    }
    return k;
}

// Step 3d: the slice's nodes, islands under the smallest pocket around them.
void troch_addnodes(troch_tree &t, const contour *k, int lev, float z)
{
    const int base = (int)t.nodes.size();
    int islands = 0;
    const float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += k->vertcount[p] * 3, p++) {
        if (k->vertcount[p] < 3)
            continue;
        troch_pnode n;
        n.level = lev;
        n.verts.assign(v, v + k->vertcount[p] * 3);
        for (size_t i = 2; i < n.verts.size(); i += 3)
            n.verts[i] = z;
        n.area = cont_polyarea(n.verts.data(), k->vertcount[p]);
        n.box[0] = n.box[2] = n.verts[0];
        n.box[1] = n.box[3] = n.verts[1];
        for (size_t i = 0; i < n.verts.size(); i += 3) {
            n.box[0] = std::fmin(n.box[0], n.verts[i]);
            n.box[1] = std::fmin(n.box[1], n.verts[i + 1]);
            n.box[2] = std::fmax(n.box[2], n.verts[i]);
            n.box[3] = std::fmax(n.box[3], n.verts[i + 1]);
        }
        n.pocket = n.area > 0.0f;
        islands += !n.pocket;
        sys_debuglog("nodes[%d] verts:%d area:%f", (int)t.nodes.size(), (int)k->vertcount[p], n.area);
        if (!t.nodes.empty() && (int)t.nodes.size() > base)
            t.nodes.back().next = (int)t.nodes.size();
        t.nodes.push_back(std::move(n));
    }
    const int end = (int)t.nodes.size();
    t.levels[lev].first = end > base ? base : -1;
    sys_log("created %d nodes @Z:%f (%d islands)", end - base, z, islands);
    int inserted = 0;
    for (int i = base; i < end; i++) {
        troch_pnode &is = t.nodes[i];
        if (is.pocket)
            continue;
        int best = -1;
        for (int j = base; j < end; j++) {
            const troch_pnode &pk = t.nodes[j];
            if (!pk.pocket || pk.area < -is.area || (best >= 0 && pk.area >= t.nodes[best].area) ||
                !troch_nearbox(pk, is.verts[0], is.verts[1], 0.0f))
                continue;
            if (troch_winds(pk.verts.data(), (int)(pk.verts.size() / 3), is.verts[0], is.verts[1]))
                best = j;
        }
        if (best < 0) {
            sys_log("island node[%d] has no pocket node it belongs too!", i);
            continue;
        }
        is.island = t.nodes[best].island;
        t.nodes[best].island = i;
        inserted++;
    }
    sys_log("inserted %d islands", inserted);
}

// Step 4: every pocket under the smallest pocket of the level above that
// holds its first vertex.
void troch_link(troch_tree &t)
{
    const float S = t.g->step, p = t.pixel;
    for (int lev = (int)t.levels.size() - 1; lev > 0; lev--) {
        for (int i = t.levels[lev].first; i >= 0; i = t.nodes[i].next) {
            troch_pnode &n = t.nodes[i];
            if (!n.pocket)
                continue;
            int best = -1;
            for (int j = t.levels[lev - 1].first; j >= 0; j = t.nodes[j].next) {
                const troch_pnode &up = t.nodes[j];
                // The nearest-point test takes squared distances: a point
                // outside passes within the root of p.
                if (!up.pocket || up.area < n.area - S || (best >= 0 && up.area >= t.nodes[best].area) ||
                    !troch_nearbox(up, n.verts[0], n.verts[1], 1.01f * std::sqrt(p) + p))
                    continue;
                if (con_nearestpoint(n.verts.data(), 1, (int)(up.verts.size() / 3), up.verts.data(), 0) > -p)
                    best = j;
            }
            if (best < 0) {
                sys_log(" node[%d] is lower to none!!!", i);
                sys_log(" node[%d] verts:%d area:%f ", i, (int)(n.verts.size() / 3), n.area);
                continue;
            }
            n.nextbelow = t.nodes[best].below;
            t.nodes[best].below = i;
            n.linked = 1;
        }
    }
}

// Step 5 for one pocket: its outline and islands, their medial axis, the
// start cuts at its level. 0 when the start cuts refused.
int troch_cutpocket(troch_tree &t, int i, int *dirsign)
{
    cam_gen *g = t.g;
    camop *op = g->op;
    const troch_pnode &n = t.nodes[i];
    contour *c = cont_new();
    if (!c)
        return 0;
    auto add = [&](const troch_pnode &m) {
        std::vector<float> v = m.verts;
        for (size_t k = 2; k < v.size(); k += 3)
            v[k] = 0.0f;
        cont_addpoly(c, v.data(), (uint32_t)(v.size() / 3), 1, -1, "cam_trochoidal");
    };
    add(n);
    for (int is = n.island; is >= 0; is = t.nodes[is].island)
        add(t.nodes[is]);
    const troch_level &lv = t.levels[n.level];
    const float zprev = n.level > 0 ? t.levels[n.level - 1].z : g->z0;
    // The axis is built with the contour module's simplification and the
    // level's height as its width, which caps no clearance on a canvas
    // above Z 0. The slice's widest clearance
    // comes from pixel centres and can fall short of the outline's own by
    // most of a pixel; as the cap it kept the widest loops off the walls.
    // Two pixels above it keep a level at or below Z 0 from refusing the
    // axis or capping it.
    const float width = std::fmax(lv.z, lv.maxr + 2.0f * t.pixel);
    contour *axis = con_medialaxis(c, width, cam_maxdot, cam_minlen, cam_maxlen);
    cont_free(c);
    int ok = 1;
    if (axis && axis->numpolys > 0 && axis->numverts > 0) {
        const uint32_t keeppolys = op->cont ? op->cont->numpolys : 0;
        const uint32_t keepverts = op->cont ? op->cont->numverts : 0;
        if (op->dir == 2)
            *dirsign = op->aux[0] == 0.0f ? -1 : 1;
        ok = cam_startcuts(op, axis, t.box.size, t.box.origin, dirsign, g->step, lv.z, zprev, t.pixel);
        if (op->cont) {
            op->cont->numpolys = keeppolys;
            op->cont->numverts = keepverts;
            con_append(axis, op->cont);
        }
    }
    cont_free(axis);
    return ok;
}

// Step 5: depth first from the top level's pockets (then any pocket that
// found no parent), each pocket before the pockets below it.
int troch_walk(troch_tree &t, int *dirsign)
{
    std::vector<int> roots, stack;
    for (int i = t.levels.empty() ? -1 : t.levels[0].first; i >= 0; i = t.nodes[i].next)
        if (t.nodes[i].pocket)
            roots.push_back(i);
    for (size_t i = 0; i < t.nodes.size(); i++)
        if (t.nodes[i].pocket && t.nodes[i].level > 0 && !t.nodes[i].linked)
            roots.push_back((int)i);
    sys_log("recursing node tree (%d nodes)...", (int)t.nodes.size());
    for (auto it = roots.rbegin(); it != roots.rend(); ++it)
        stack.push_back(*it);
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        if (!troch_cutpocket(t, i, dirsign))
            return 0;
        std::vector<int> kids;
        for (int k = t.nodes[i].below; k >= 0; k = t.nodes[k].nextbelow)
            kids.push_back(k);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back(*it);
    }
    return 1;
}

} // namespace

void cam_trochoidal(void *arg)
{
    cam_gen g;
    if (!troch_begin(&g, arg, "cam_trochoidal", "CAMOP_TROCHOIDAL"))
        return;
    camop *op = g.op;
    int dirsign = op->dir == 0 ? -1 : 1;
    troch_tree t;
    t.g = &g;
    t.surf = troch_surface(t);
    if (!t.surf) {
        sys_log("cam_trochoidal: no cut surface");
        cam_genfail(&g);
        return;
    }
    for (float z = cam_gennextlevel(&g, g.z0);; z = cam_gennextlevel(&g, z)) {
        troch_level lv;
        lv.z = z;
        contour *k = troch_slice(t, z, &lv.maxr);
        if (!k) {
            img_free(t.surf);
            sys_log("cam_trochoidal: the slice at %f could not be traced", z);
            cam_genfail(&g);
            return;
        }
        sys_log("optimized %d polyline contour", (int)k->numpolys);
        if (op->cont)
            con_append(k, op->cont);
        t.levels.push_back(lv);
        troch_addnodes(t, k, (int)t.levels.size() - 1, z);
        cont_free(k);
        if (cam_genlastlevel(&g, z))
            break;
    }
    img_free(t.surf);
    t.surf = nullptr;
    troch_link(t);
    if (!cam_genclaim(&g, 1))
        return;
    if (!troch_walk(t, &dirsign)) {
        cam_genfail(&g);
        return;
    }
    cam_genend(&g, 0, nullptr);
}
