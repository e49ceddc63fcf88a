// 2D offset milling. The mask is 1 where the cutter must not go (walls and
// islands: the canvas above the threshold, or outside the paths) and 0 over
// the region to clear; its distance field is stock + r at the walls and
// falls by one per unit of distance into the region, so ring d is the
// iso-line at -d. Islands are joined to their outline by bridges blended
// into the field after the first ring, so later rings run round an island
// and its bridge as one. Rings nest into a tree of pocket nodes that
// cam_helicalentrypos cuts level by level.
#include "cam/pocketing.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/fill.h"
#include "geom/medial.h"
#include "geom/poly.h"
#include "img/adjust.h"
#include "img/blend.h"
#include "img/blur.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "img/resample.h"
#include "img/smooth.h"
#include "img/stamp.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------- ring tree

int pocket_inittree(pocket_tree *t, float step, float minarea, float top)
{
    std::memset(t, 0, sizeof(*t));
    t->nodes = (pocket_node *)calloc(pocket_maxnodes, sizeof(pocket_node));
    if (!t->nodes) {
        sys_error("pocket_inittree: no memory for %d nodes", pocket_maxnodes);
        return 0;
    }
    std::fill_n(t->leaves, pocket_maxindex, -1);
    t->step = step;
    t->minarea = minarea;
    t->top = top;
    return 1;
}

void pocket_freetree(pocket_tree *t)
{
    if (t->nodes)
        for (int i = 0; i < t->numnodes; i++)
            free(t->nodes[i].verts);
    free(t->nodes);
    t->nodes = nullptr;
    t->numnodes = 0;
}

static float pocket_side(const pocket_node &a, const pocket_node &b)
{
    return poly_sidepoly(a.count, a.verts, a.closed, b.count, b.verts, b.closed, 0);
}

// The current leaf to hang node n under: the smallest larger one whose
// ring lies beside n (the last in table order among equal areas); -1 none.
static int pocket_parent(const pocket_tree *t, int n)
{
    const pocket_node &k = t->nodes[n];
    int best = -1;
    for (int i = 0; i < pocket_maxindex; i++) {
        int l = t->leaves[i];
        if (l < 0)
            continue;
        const pocket_node &p = t->nodes[l];
        if (!(p.area > k.area) || (best >= 0 && p.area > t->nodes[t->leaves[best]].area))
            continue;
        float side = pocket_side(k, p);
        sys_debuglog("  CANDIDATE: nodes[%d].area:%f (+=) nodes[%d].area:%f  (pside:%f)", n, k.area, l, p.area,
                     side);
        if (side > -1.5f * t->step)
            best = i;
    }
    return best;
}

// Logs where the tree broke: the ring that found no parent and the current
// leaves. The working contour is left alone: the viewport reads it without
// a lock while this runs on a worker.
static void pocket_logorphan(const pocket_tree *t, int n)
{
    const pocket_node &k = t->nodes[n];
    sys_log(" node[%d] is inner to none !!!", n);
    sys_log(" node[%d] verts:%d area:%f ", n, k.count, k.area);
    for (int i = 0; i < pocket_maxindex; i++) {
        int l = t->leaves[i];
        if (l < 0)
            continue;
        const pocket_node &p = t->nodes[l];
        sys_log(" leaf[%d] = node[%d] area:%f pside:%f", i, l, p.area, pocket_side(k, p));
    }
}

// A node for one traced polyline; -1 when dropped (malformed), -2 when the
// node table is full or out of memory.
static int pocket_newnode(pocket_tree *t, const float *v, uint32_t count, uint32_t closed)
{
    float area = count < 2 ? 0.0f : cont_polyarea(v, count);
    if (std::fabs(area) < t->minarea) {
        sys_log("...discarded malformed polyline verts:%d area:%f", (int)count, area);
        sys_log(" ( vert0 = %f %f %f )", v[0], v[1], v[2]);
        return -1;
    }
    if (t->numnodes >= pocket_maxnodes) {
        sys_log("pocket_addpass: more than %d rings", pocket_maxnodes);
        return -2;
    }
    float *copy = (float *)malloc((size_t)count * 3 * sizeof(float));
    if (!copy) {
        sys_error("pocket_addpass: no memory for a ring of %u verts", count);
        return -2;
    }
    std::memcpy(copy, v, (size_t)count * 3 * sizeof(float));
    int n = t->numnodes++;
    t->nodes[n] = pocket_node{-1, -1, -1, (int32_t)(closed != 0), 0, area, t->top, (int32_t)count, copy};
    sys_log("n[%d] = <%d verts><%f area>", n, (int)count, area);
    return n;
}

// Appends index n to a table of pocket_maxindex entries; 0 (logged) when full.
static int pocket_push(int *table, int *count, int n, const char *what)
{
    if (*count >= pocket_maxindex) {
        sys_log("pocket_addpass: more than %d %s", pocket_maxindex, what);
        return 0;
    }
    table[(*count)++] = n;
    return 1;
}

// Places node n in the tree; pocket_ok, pocket_full or pocket_orphan.
static int pocket_place(pocket_tree *t, int n, float d, char *adopted)
{
    pocket_node &k = t->nodes[n];
    if (d == 0.0f) {
        k.leaf = 1;
        if (k.area > 0.0f) {
            sys_log("roots[%d] = node[%d]", t->numroots, n);
            return pocket_push(t->roots, &t->numroots, n, "roots") ? pocket_ok : pocket_full;
        }
        sys_log("islands[%d] = node[%d]", t->numislands, n);
        return pocket_push(t->islands, &t->numislands, n, "islands") ? pocket_ok : pocket_full;
    }
    int li = pocket_parent(t, n);
    if (li >= 0) {
        pocket_node &p = t->nodes[t->leaves[li]];
        k.next = p.inner;
        p.inner = n;
        adopted[li] = 1;
        sys_log("node[%d].inner = node[%d]", t->leaves[li], n);
        return pocket_ok;
    }
    if (d < 1.5f * t->step) {
        sys_log("leaves[%d] = roots[%d] += n[%d] (forced / no leaf)", t->numnew, t->numroots, n);
        k.leaf = 1;
        return pocket_push(t->roots, &t->numroots, n, "roots") ? pocket_ok : pocket_full;
    }
    return pocket_orphan;
}

// Step d: adopted leaves leave the table, the new ones take free entries
// from the running position on. A full table fails rather than drop a
// live leaf.
static int pocket_updateleaves(pocket_tree *t, const char *adopted)
{
    for (int i = 0; i < pocket_maxindex; i++)
        if (adopted[i]) {
            sys_debuglog("leaf[%d] (nodes[%d]) = NULL", i, t->leaves[i]);
            t->leaves[i] = -1;
        }
    for (int j = 0; j < t->numnew; j++) {
        int probe = 0;
        while (probe < pocket_maxindex && t->leaves[(t->leafpos + probe) % pocket_maxindex] >= 0)
            probe++;
        if (probe == pocket_maxindex) {
            sys_log("pocket_addpass: more than %d leaves", pocket_maxindex);
            return 0;
        }
        int at = (t->leafpos + probe) % pocket_maxindex;
        t->leaves[at] = t->newleaves[j];
        sys_debuglog("leaves[%d] = nodes[%d]", at, t->newleaves[j]);
        t->leafpos = (at + 1) % pocket_maxindex;
    }
    return 1;
}

int pocket_addpass(pocket_tree *t, const contour *k, float d)
{
    char adopted[pocket_maxindex] = {};
    t->numnew = 0;
    const float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += k->vertcount[p] * 3, p++) {
        int n = pocket_newnode(t, v, k->vertcount[p], k->closed[p]);
        if (n == -1)
            continue;
        if (n == -2)
            return pocket_full;
        int placed = pocket_place(t, n, d, adopted);
        if (placed == pocket_orphan) {
            pocket_logorphan(t, n);
            return pocket_orphan;
        }
        if (placed != pocket_ok)
            return placed;
        sys_debuglog("new_leaves[%d] = node[%d]", t->numnew, n);
        if (!pocket_push(t->newleaves, &t->numnew, n, "new leaves in one pass"))
            return pocket_full;
    }
    return pocket_updateleaves(t, adopted) ? pocket_ok : pocket_full;
}

// Logs an island no root holds and every root's area; the working contour
// is left alone, as for an orphan ring.
static void pocket_logisland(const pocket_tree *t, int k)
{
    const pocket_node &is = t->nodes[t->islands[k]];
    for (int i = 0; i < t->numroots; i++)
        sys_log("root[%d] = nodes[%d].area = %f", i, t->roots[i], t->nodes[t->roots[i]].area);
    sys_log("node[%d] vert[0] = %f,%f", t->islands[k], is.verts[0], is.verts[1]);
    sys_error("island[%d] = nodes[%d] area:%f is inner to none!", k, t->islands[k], is.area);
}

int pocket_attachislands(pocket_tree *t)
{
    for (int k = 0; k < t->numislands; k++) {
        pocket_node &is = t->nodes[t->islands[k]];
        int best = -1;
        for (int i = 0; i < t->numroots; i++) {
            const pocket_node &r = t->nodes[t->roots[i]];
            if (r.area < std::fabs(is.area) || (best >= 0 && r.area > t->nodes[best].area))
                continue;
            if (pocket_side(is, r) >= 0.0f)
                best = t->roots[i];
        }
        if (best < 0) {
            pocket_logisland(t, k);
            return pocket_orphan;
        }
        is.island = t->nodes[best].island;
        t->nodes[best].island = t->islands[k];
        sys_log("nodes[%d].island = nodes[island[%d]:%d]", best, k, t->islands[k]);
    }
    return pocket_ok;
}

// ---------------------------------------------------------------- field

image *pocket_padmask(image *img, float *size, float *origin, float *frac, float stock, float tool)
{
    const float pad = stock > 0.0f ? stock + tool : tool;
    auto swap = [&](image *next) {
        img_free(img);
        return next;
    };
    if (pad > 0.0f)
        img = swap(cam_padimage(img, size, origin, frac, pad, 2));
    if (img && stock < 0.0f) {
        img = swap(cam_cropborder(img, size, origin, frac, -stock));
        if (img)
            img = swap(cam_padimage(img, size, origin, frac, -stock, 1));
    }
    return img ? swap(cam_borderimage(img, size, origin, frac, 1)) : nullptr;
}

namespace {

struct pock_run {
    cam_gen *g;
    pocket_tree tree{};
    image *field = nullptr;
    image *bridges = nullptr; // bridge distances until blended in
    contour *maxis = nullptr;
    float size[3], origin[3], frac[3]; // the working image's world box
    float sizevec[3], originvec[3];    // its pixel-to-world mapping
    float radius = 0.0f;               // r: half the cutting diameter
    float dmax = 0.0f;
};

void pock_free(pock_run &r)
{
    pocket_freetree(&r.tree);
    img_free(r.field);
    img_free(r.bridges);
    cont_free(r.maxis);
    r.field = r.bridges = nullptr;
    r.maxis = nullptr;
}

void pock_setfrac(pock_run &r)
{
    for (int i = 0; i < 3; i++)
        r.frac[i] = r.size[i] != 0.0f ? r.origin[i] / r.size[i] : 0.0f;
}

// Takes next in place of img (freed) and returns it; null passes through.
image *pock_swap(image *img, image *next)
{
    img_free(img);
    return next;
}

void pock_invert(image *img)
{
    float *p = (float *)img->pixels;
    for (size_t i = 0; i < (size_t)img->width * img->height; i++)
        p[i] = 1.0f - p[i];
}

// A copy of the canvas with p pixels of pad on every side, filled with what
// clears (positive stock: the stock widens the region at the canvas edge).
image *pock_growstock(pock_run &r, int p, float fill)
{
    const image *ref = r.g->ref;
    image *out = img_allocfloat("inpstock", ref->width + 2 * p, ref->height + 2 * p);
    if (!out)
        return nullptr;
    std::fill_n((float *)out->pixels, (size_t)out->width * out->height, fill);
    img_simplestamp(ref, out, img_stampoffset(p, p));
    const float sx = r.size[0] / ref->width, sy = r.size[1] / ref->height;
    r.origin[0] += p * sx;
    r.origin[1] += p * sy;
    r.size[0] += 2 * p * sx;
    r.size[1] += 2 * p * sy;
    pock_setfrac(r);
    return out;
}

// The canvas with its outer p pixels replaced by wall (negative stock: the
// region shrinks away from the canvas edge too).
image *pock_shrinkstock(pock_run &r, int p, float fill)
{
    const image *ref = r.g->ref;
    image *out = img_allocfloat("inpstock", ref->width, ref->height);
    if (!out)
        return nullptr;
    std::fill_n((float *)out->pixels, (size_t)out->width * out->height, fill);
    if (2 * p >= ref->width || 2 * p >= ref->height)
        return out;
    char name[img_maxname];
    std::snprintf(name, sizeof(name), "%.*s.dr", (int)sizeof(name) - 4, ref->name);
    image *inner = img_allocfloat(name, ref->width - 2 * p, ref->height - 2 * p);
    if (!inner) {
        img_free(out);
        return nullptr;
    }
    const size_t row = (size_t)inner->width * sizeof(float);
    for (int y = 0; y < inner->height; y++)
        std::memcpy(inner->pixels + y * row, ref->pixels + ((size_t)(y + p) * ref->width + p) * sizeof(float), row);
    img_simplestamp(inner, out, img_stampoffset(p, p));
    img_free(inner);
    return out;
}

// Steps 1 to 3: the canvas below the threshold as the region to clear.
image *pock_canvasmask(pock_run &r)
{
    const cam_gen *g = r.g;
    const camop *op = g->op;
    const int inverted = (op->flags & 0x800) != 0;
    image *img;
    if (op->stock > 0.0001f) {
        img = pock_growstock(r, (int)std::ceil(g->width * op->stock / g->size[0]), inverted ? 1.0f : 0.0f);
    } else if (op->stock < -0.0001f) {
        img = pock_shrinkstock(r, (int)std::ceil(g->width * -op->stock / g->size[0]), inverted ? 0.0f : 1.0f);
    } else {
        img = img_copy(g->ref);
    }
    if (!img)
        return nullptr;
    const float level = op->aux[0] / g->size[2];
    img = pock_swap(img, img_scalarath(img, level, 1));
    if (!img)
        return nullptr;
    sys_log("...thresholded pathsurf z:%f", level);
    if (inverted)
        pock_invert(img);
    if (!(op->flags & camop_confine))
        img = pock_swap(img, cam_padimage(img, r.size, r.origin, r.frac, r.radius, 2));
    if (img && op->stock >= 0.0f)
        img = pock_swap(img, cam_borderimage(img, r.size, r.origin, r.frac, 1));
    return img;
}

// Step 4: the inside of the paths as the region to clear.
image *pock_pathsmask(pock_run &r, contour *k)
{
    const cam_gen *g = r.g;
    const camop *op = g->op;
    sys_log("filling contours... (%d polys %d verts)", (int)k->numpolys, (int)k->numverts);
    const float corner[2] = {-g->origin[0], g->size[1] - g->origin[1]};
    const float size[2] = {g->size[0], -g->size[1]};
    image *img = con_fill(k, corner, size, g->width, g->height, 4);
    if (!img)
        return nullptr;
    if (!(op->flags & 0x800))
        pock_invert(img);
    img = pocket_padmask(img, r.size, r.origin, r.frac, op->stock, (op->flags & camop_confine) ? 0.0f : r.radius);
    return img ? pock_swap(img, img_scalarath(img, 0.5f, 1)) : nullptr;
}

// Step 5.
int pock_field(pock_run &r)
{
    cam_gen *g = r.g;
    const camop *op = g->op;
    image *mask;
    if (op->flags & (camop_pathslayer | camop_pathsgroup)) {
        contour *k = cam_geninput(g);
        if (!k)
            k = cont_new(); // a layer nobody carries: nothing to clear
        if (!k)
            return 0;
        mask = pock_pathsmask(r, k);
        cont_free(k);
    } else {
        mask = pock_canvasmask(r);
    }
    if (!mask)
        return 0;
    const float pixel = r.size[0] / (float)mask->width;
    r.field = img_scalardistsmooth(mask, -pixel, op->stock + r.radius);
    img_free(mask);
    if (!r.field)
        return 0;
    sys_log("...calculated distances");
    r.dmax = std::fmax(r.size[0], r.size[1]);
    cam_genmapping(r.size, r.origin, r.sizevec, r.originvec);
    return 1;
}

// ---------------------------------------------------------------- bridges

// Step 6: the outlines traced on a reduced copy of the field.
contour *pock_coarseoutlines(pock_run &r)
{
    const image *f = r.field;
    const double w = f->width, h = f->height;
    const double s = 2.5 * std::min(std::pow(h, 0.75) / h, std::pow(w, 0.75) / w);
    const int dw = std::clamp((int)(w * s), 2, f->width), dh = std::clamp((int)(h * s), 2, f->height);
    image *small = img_rescalescalar(f, dw, dh);
    if (!small)
        return nullptr;
    sys_log("...downscaled %dx%d distances to %dx%d", f->width, f->height, dw, dh);
    contour *k = cont_fromimage(small, 0.0f, r.sizevec, r.originvec, cam_maxdot, cam_minlen, cam_maxlen, 0);
    img_free(small);
    return k;
}

// Step 7 after the bridges are known: their distance field, which keeps
// the later rings half a stepover off each bridge.
image *pock_bridgefield(pock_run &r, contour *b)
{
    const float pixel = r.size[0] / (float)r.field->width;
    image *img = img_allocfloat("bridges", r.field->width, r.field->height);
    if (!img)
        return nullptr;
    // The bridges' Z of 1.0 drawn as a mask value of 1.
    const float size[3] = {r.sizevec[0], r.sizevec[1], 1.0f}, origin[3] = {r.originvec[0], r.originvec[1], 0.0f};
    const float *v = b->verts;
    for (uint32_t p = 0; p < b->numpolys; v += b->vertcount[p] * 3, p++)
        img_rasterizepolymax(img, size, origin, (int)b->vertcount[p], v, nullptr);
    sys_log("...rasterized bridges");
    img = pock_swap(img, img_scalarfxaa(img));
    if (!img)
        return nullptr;
    sys_log("...anti-aliased bridges");
    img = pock_swap(img, img_scalardistsmooth(img, -pixel, -0.5f * (r.g->step + pixel)));
    if (img)
        sys_log("...calculated bridge distances");
    return img;
}

int pock_bridges(pock_run &r)
{
    camop *op = r.g->op;
    contour *k = pock_coarseoutlines(r);
    if (!k)
        return 0;
    if (k->numpolys == 0) {
        cont_free(k);
        return 1;
    }
    if (op->cont)
        con_append(k, op->cont);
    contour *b = con_bridgepolys(k);
    cont_free(k);
    if (!b)
        return 0;
    sys_log("...generated %d bridges", (int)b->numpolys);
    int ok = 1;
    if (b->numpolys > 0) {
        uint32_t total = 0;
        for (uint32_t p = 0; p < b->numpolys; p++)
            total += b->vertcount[p];
        for (uint32_t i = 0; i < total; i++)
            b->verts[i * 3 + 2] = 1.0f;
        if (op->cont)
            con_append(b, op->cont);
        r.bridges = pock_bridgefield(r, b);
        ok = r.bridges != nullptr;
    }
    cont_free(b);
    return ok;
}

// ---------------------------------------------------------------- rings

// Step 8e after the first ring: the bridges and the smoothing, once.
int pock_afterfirst(pock_run &r)
{
    const cam_gen *g = r.g;
    if (r.bridges) {
        img_scalarblend(r.field, r.bridges, img_blendmaximum, 1.0f);
        img_free(r.bridges);
        r.bridges = nullptr;
        sys_log("...blended thresh/bridge distances");
    }
    if (g->op->aux[1] > 0.0001f) {
        image *blurred = img_scalarblur(r.field, g->width * g->op->aux[1] / g->size[0], 1);
        if (!blurred)
            return 0;
        img_free(r.field);
        r.field = blurred;
    }
    return 1;
}

// Step 8: pocket_ok, pocket_full (also out of memory) or pocket_orphan.
int pock_rings(pock_run &r)
{
    const cam_gen *g = r.g;
    camop *op = g->op;
    float d = 0.0f;
    sys_log("contouring distance %f", d);
    for (;;) {
        contour *k = cont_fromimage(r.field, -d, r.sizevec, r.originvec, cam_maxdot, cam_minlen, cam_maxlen, 0);
        if (!k)
            return pocket_full;
        sys_log("...contoured dist:%2.2f polys:%d", d, (int)k->numpolys);
        if (k->numpolys == 0 && (r.tree.numnodes > 0 || d == 0.0f)) {
            cont_free(k);
            return pocket_ok;
        }
        uint32_t total = 0;
        for (uint32_t p = 0; p < k->numpolys; p++)
            total += k->vertcount[p];
        for (uint32_t i = 0; i < total; i++)
            k->verts[i * 3 + 2] = op->aux[0];
        if (op->cont)
            con_append(k, op->cont);
        int placed = pocket_addpass(&r.tree, k, d);
        cont_free(k);
        if (placed != pocket_ok)
            return placed;
        const int first = d == 0.0f;
        d += g->step;
        if (d > r.dmax)
            return pocket_ok;
        sys_log("contouring distance %f", d);
        if (first && !pock_afterfirst(r))
            return pocket_full;
    }
}

// ---------------------------------------------------------------- output

// Step 11a: the medial axis of a root and its islands, which gives the
// helix its widest place.
contour *pock_medialaxis(pock_run &r, int root)
{
    const cam_gen *g = r.g;
    contour *c = cont_new();
    if (!c)
        return nullptr;
    for (int n = root; n >= 0; n = r.tree.nodes[n].island) {
        const pocket_node &k = r.tree.nodes[n];
        float *flat = (float *)malloc((size_t)k.count * 3 * sizeof(float));
        if (!flat)
            break;
        std::memcpy(flat, k.verts, (size_t)k.count * 3 * sizeof(float));
        for (int i = 0; i < k.count; i++)
            flat[i * 3 + 2] = 0.0f;
        cont_addpoly(c, flat, (uint32_t)k.count, (uint32_t)k.closed, n, "cam_pocketing");
        free(flat);
    }
    contour *axis = con_medialaxis(c, 2.0f * g->u * g->t->flutediameter, cam_maxdot, cam_minlen, cam_maxlen);
    cont_free(c);
    if (axis && g->op->cont)
        con_append(axis, g->op->cont);
    return axis;
}

// Step 11b for one root; pos carries the position from root to root.
void pock_cutroot(pock_run &r, int root, float *pos, int *dirsign, const cam_clip *rest)
{
    const cam_gen *g = r.g;
    camop *op = g->op;
    const float join = 1.5f * g->step;
    float prev = g->z0;
    float z = cam_gennextlevel(g, prev);
    for (;;) {
        cam_genengage(g, prev);
        sys_log("recursing cut depth @Z %f<-%f (org:%f,%f,%f)", z, prev, pos[0], pos[1], pos[2]);
        float start[3] = {pos[0], pos[1], pos[2]};
        cam_helicalentrypos(pos, op, r.maxis, dirsign, root, start, z, prev, join * join, r.tree.nodes, rest);
        sys_log("...finished recursing @z%f (org:%f,%f,%f)", z, pos[0], pos[1], pos[2]);
        if (op->flags & camop_sortpaths) {
            float from[3] = {pos[0], pos[1], pos[2]};
            toolpath_sortpaths(pos, g->slot, from, op->dir == 2, 0, 2.5f * g->step);
            sys_log("...sorted (org:%f,%f,%f)", pos[0], pos[1], pos[2]);
        }
        if (cam_genlastlevel(g, z))
            break;
        prev = z;
        z = cam_gennextlevel(g, z);
        if (op->dir == 2)
            *dirsign = -*dirsign;
    }
}

void pock_output(pock_run &r)
{
    const cam_gen *g = r.g;
    camop *op = g->op;
    int dirsign = op->dir == 1 ? -1 : 1;
    cam_clip rest{cam_restsurface,
                  {g->size[0], -g->size[1], g->size[2]},
                  {-g->origin[0], g->size[1] - g->origin[1], -g->origin[2]}};
    float pos[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < r.tree.numroots; i++) {
        int root = r.tree.roots[i];
        if (op->entry == 2 && !(op->flags & camop_rest))
            r.maxis = pock_medialaxis(r, root);
        pock_cutroot(r, root, pos, &dirsign, cam_restsurface ? &rest : nullptr);
        cont_free(r.maxis);
        r.maxis = nullptr;
        sys_log("...finished root node[%d]", root);
    }
}

} // namespace

void cam_pocketing(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_pocketing", "CAMOP_POCKETING"))
        return;
    // d += S never passes Dmax when S is not above 0.
    if (!cam_gencheckstep(&g))
        return;
    pock_run r;
    r.g = &g;
    std::memcpy(r.size, g.size, sizeof(r.size));
    std::memcpy(r.origin, g.origin, sizeof(r.origin));
    std::memcpy(r.frac, g.frac, sizeof(r.frac));
    r.radius = 0.5f * g.u * g.t->diameter;
    if (!pocket_inittree(&r.tree, g.step, 0.0001f / (g.scale * g.scale), g.top)) {
        cam_genfail(&g);
        return;
    }
    int built = pocket_full;
    if (pock_field(r) && pock_bridges(r)) {
        built = pock_rings(r);
        if (built == pocket_ok)
            built = pocket_attachislands(&r.tree);
    }
    img_free(r.field);
    img_free(r.bridges);
    r.field = r.bridges = nullptr;
    if (built != pocket_ok) {
        pock_free(r);
        cam_genfail(&g);
        return;
    }
    if (!cam_genclaim(&g, 1)) {
        pock_free(r);
        return;
    }
    pock_output(r);
    pock_free(r);
    // The walk added each entry cut just before its ring: compiled in the
    // order of generation unless the levels were sorted.
    cam_genend(&g, 0, nullptr);
}
