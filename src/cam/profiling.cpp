// 2D profile milling. The outline field is a distance field in project
// units that grows away from the kept (high) shapes into the area cut away;
// ring d is its iso-line at d, so ring 0 lies Offset out from the outline
// and each later ring one stepover further. Rings nest into a tree (a
// pocket's next ring inside it, an island's round it), roots are ordered by
// depth, and every root is cut level by level through cam_outputnodes.
#include "cam/profiling.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/nodewalk.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/fill.h"
#include "img/adjust.h"
#include "img/image.h"
#include "img/smooth.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

// The editor stores two 16-bit settings in the bits of one value.
static uint32_t prof_halves(float v)
{
    uint32_t u;
    std::memcpy(&u, &v, sizeof(u));
    return u;
}

prof_settings prof_readcodes(const camop *op, float scale)
{
    const uint32_t a1 = prof_halves(op->aux[1]), a2 = prof_halves(op->aux[2]);
    const float w = (float)(a1 & 0xffff) / 65535.0f;
    prof_settings p;
    p.width = w * w * 8.0f / scale;
    p.spacing = (float)(a1 >> 16) / 65535.0f * 24.0f / scale;
    p.tablength = (float)(a2 & 0xffff) / 65535.0f / scale;
    p.tabheight = (float)(a2 >> 16) / 65535.0f * 0.5f / scale;
    return p;
}

namespace {

struct prof_run {
    cam_gen *g;
    std::vector<prof_node> nodes;
    int numnodes = 0;
    int root = -1; // head of the root chain
    std::vector<int> leaves;
    image *field = nullptr;
    float size[3], origin[3], frac[3];
    float sizevec[3], originvec[3];
    float offset = 0.0f, width = 0.0f;
};

void prof_free(prof_run &r)
{
    for (int i = 0; i < r.numnodes; i++)
        free(r.nodes[i].verts);
    r.numnodes = 0;
    if (r.field)
        img_free(r.field);
    r.field = nullptr;
}

// Swaps img for next, freeing img unless it is the caller's reference.
image *prof_replace(image *img, image *next, const image *ref)
{
    if (img && img != ref)
        img_free(img);
    return next;
}

image *prof_inverted(const image *src)
{
    image *out = img_alloc(src->name, src->width, src->height, src->bytesperpixel, src->pixels);
    if (!out) {
        sys_error("img_scalarclamp: failed to allocate image for returning");
        return nullptr;
    }
    std::snprintf(out->name, sizeof(out->name), "%s.modb", src->name);
    float *p = (float *)out->pixels;
    for (int i = 0; i < out->width * out->height; i++)
        p[i] = 1.0f - p[i];
    return out;
}

// The mask of what the cutter must not cut: the canvas above the contour
// height, or the filled paths, with its border.
image *prof_canvasmask(prof_run &r)
{
    const cam_gen *g = r.g;
    const camop *op = g->op;
    image *img = (image *)g->ref;
    float level = op->aux[0] / g->size[2];
    if (op->flags & 0x800) {
        img = prof_inverted(g->ref);
        if (!img)
            return nullptr;
        level = 1.0f - level;
    }
    int raised = (op->flags & 0x8) && !((op->flags & 0x10) && (op->flags & 0x20));
    img = prof_replace(img, cam_borderimage(img, r.size, r.origin, r.frac, raised), g->ref);
    if (img && r.offset > 0.0001f) {
        sys_log("adding offset padding (%f)....", r.offset);
        img = prof_replace(img, cam_padimage(img, r.size, r.origin, r.frac, r.offset, raised), g->ref);
    }
    if (!img)
        return nullptr;
    return prof_replace(img, img_scalarath(img, level, 1), g->ref);
}

image *prof_pathsmask(prof_run &r, contour *k)
{
    const cam_gen *g = r.g;
    sys_log("filling contours... (%d polys %d verts)", (int)k->numpolys, (int)k->numverts);
    sys_log("org:%f,%f size:%fx%f", g->origin[0], g->origin[1], g->size[0], g->size[1]);
    const float corner[2] = {-g->origin[0], g->size[1] - g->origin[1]};
    const float size[2] = {g->size[0], -g->size[1]};
    image *img = con_fill(k, corner, size, g->width, g->height, 4);
    if (!img)
        return nullptr;
    if (!(g->op->flags & 0x800)) {
        float *p = (float *)img->pixels;
        for (int i = 0; i < img->width * img->height; i++)
            p[i] = 1.0f - p[i];
    }
    img = prof_replace(img, cam_borderimage(img, r.size, r.origin, r.frac, 1), nullptr);
    return img ? prof_replace(img, img_scalarath(img, 0.5f, 1), nullptr) : nullptr;
}

// The distance field: the pixel size as scale grows it away from the mask,
// and the value -Offset puts ring 0 at Offset from the outline.
int prof_field(prof_run &r)
{
    cam_gen *g = r.g;
    const camop *op = g->op;
    image *mask = nullptr;
    if (op->flags & (camop_pathslayer | camop_pathsgroup)) {
        // Profiling keeps its tabs in the third value: the layer or group
        // is named by the first.
        contour *k = cam_geninput(g, 0);
        if (!k)
            return 0;
        r.offset = -r.offset;
        mask = prof_pathsmask(r, k);
        cont_free(k);
    } else {
        if (op->flags & 0x800)
            r.offset = -r.offset;
        mask = prof_canvasmask(r);
    }
    if (!mask)
        return 0;
    sys_log("generating distance transform... (%dx%d)", mask->width, mask->height);
    const float pixel = r.size[0] / (float)mask->width;
    r.field = img_scalardistsmooth(mask, pixel, -r.offset);
    img_free(mask);
    cam_genmapping(r.size, r.origin, r.sizevec, r.originvec);
    return r.field != nullptr;
}

// Outline mode keeps the outermost pockets (or islands) only.
void prof_outline(const camop *op, contour *k)
{
    const float sign = (op->flags & 0x20) ? -1.0f : 1.0f;
    sys_log("outline mode: finding %s polylines", sign > 0 ? "pocket" : "island");
    std::vector<uint32_t> first(k->numpolys);
    std::vector<float> area(k->numpolys);
    std::vector<char> keep(k->numpolys);
    uint32_t at = 0;
    for (uint32_t p = 0; p < k->numpolys; p++) {
        first[p] = at;
        area[p] = cont_polyarea(k->verts + at * 3, k->vertcount[p]);
        keep[p] = area[p] * sign >= 0.0f;
        at += k->vertcount[p];
    }
    contour *out = cont_new();
    if (!out)
        return;
    int found = 0;
    for (uint32_t p = 0; p < k->numpolys; p++) {
        if (!keep[p])
            continue;
        int outer = 1;
        for (uint32_t q = 0; q < k->numpolys && outer; q++)
            if (q != p && keep[q] && std::fabs(area[q]) >= std::fabs(area[p]) &&
                con_nearestpoint(k->verts + first[p] * 3, 1, k->vertcount[q], k->verts + first[q] * 3, 0) * sign >
                    0.0f)
                outer = 0;
        if (outer && cont_addpoly(out, k->verts + first[p] * 3, k->vertcount[p], k->closed[p], -1, "camop_profiling"))
            found++;
    }
    sys_log("outline mode: found %d outer-most polylines", found);
    k->numpolys = 0;
    k->numverts = 0;
    con_append(out, k);
    cont_free(out);
}

// A parent for node n among the previous level's leaves: the smallest leaf
// at least as large whose ring lies nearest outside n's first vertex.
int prof_parent(prof_run &r, int n, const std::vector<int> &prev)
{
    const prof_node &k = r.nodes[n];
    int best = -1;
    float bestd = 3.4e38f;
    for (size_t i = 0; i < prev.size(); i++) {
        int l = prev[i];
        if (l < 0)
            continue;
        const prof_node &p = r.nodes[l];
        if (p.area < k.area) {
            sys_debuglog("node[%d].area(%.3f) > leaf[%d].node[%d].area(%.3f)", n, k.area, (int)i, l, p.area);
            continue;
        }
        float d = con_nearestpoint(k.verts, 1, p.count, p.verts, 0);
        if (d > 0.0f && d < bestd) {
            bestd = d;
            best = (int)i;
        }
    }
    return best;
}

// Steps 3 to 5 of one offset level. 0 when a table would overflow.
int prof_nodes(prof_run &r, contour *k, float d)
{
    const cam_gen *g = r.g;
    const float minarea = 0.00001f / (g->scale * g->scale);
    sys_log("generating nodes from %d polylines...", (int)k->numpolys);
    std::vector<int> level;
    std::vector<int> adopted(r.leaves.size(), 0);
    uint32_t at = 0;
    for (uint32_t p = 0; p < k->numpolys; at += k->vertcount[p], p++) {
        const float *v = k->verts + at * 3;
        int count = (int)k->vertcount[p];
        float a = cont_polyarea(v, count);
        if (!k->closed[p]) {
            sys_log("...discarded non-closed polyline verts:%d area:%f org:%f,%f", count, a, v[0], v[1]);
            continue;
        }
        if (std::fabs(a) < minarea || count < 3) {
            sys_log("...discarded malformed polyline verts:%d area:%f org:%f,%f", count, a, v[0], v[1]);
            continue;
        }
        // The canvas's own edge traces to an island as large as the canvas,
        // give or take the pixel the trace may fall inside it.
        const float px = g->size[0] / (float)g->width, py = g->size[1] / (float)g->height;
        if (-a > (g->size[0] - 2.0f * px) * (g->size[1] - 2.0f * py)) {
            sys_log("...discarded perimeter polyline verts:%d area:%f", count, a);
            continue;
        }
        if (r.numnodes >= prof_maxnodes || (int)level.size() >= prof_maxleaves) {
            sys_log("camop_profiling: more than %d nodes or %d rings at offset %f", prof_maxnodes, prof_maxleaves, d);
            return 0;
        }
        int n = r.numnodes++;
        prof_node &node = r.nodes[n];
        node = prof_node{-1, -1, 0, -1, -1, -1, 1, d == 0.0f, a, 0, count - 1, nullptr};
        node.verts = (float *)malloc((size_t)count * 3 * sizeof(float));
        if (!node.verts) {
            sys_error("camop_profiling: no memory for node[%d]", n);
            return 0;
        }
        std::memcpy(node.verts, v, (size_t)count * 3 * sizeof(float));
        sys_log("created node[%d] verts:%d area:%f (%f,%f)", n, count, a, v[0], v[1]);
        if (d == 0.0f) {
            node.nextroot = r.root;
            r.root = n;
            sys_log("...added to root nodes");
        } else {
            int li = prof_parent(r, n, r.leaves);
            if (li >= 0) {
                prof_node &parent = r.nodes[r.leaves[li]];
                node.next = parent.inner;
                parent.inner = n;
                adopted[li] = 1;
                sys_log("leaf[%d]/node[%d].inner += node[%d]", li, r.leaves[li], n);
            } else if (a > 0.0f) {
                sys_log("pocket node[%d] has no parent, adding to root list...", n);
                node.nextroot = r.root;
                r.root = n;
            } else {
                sys_log("...node[%d] failed to integrate, removing...", n);
                free(node.verts);
                r.numnodes--;
                continue;
            }
        }
        level.push_back(n);
    }
    // Leaves that took an inner ring stop being leaves; the rest stay.
    std::vector<int> next;
    for (size_t i = 0; i < r.leaves.size(); i++)
        if (!adopted[i])
            next.push_back(r.leaves[i]);
    next.insert(next.end(), level.begin(), level.end());
    if ((int)next.size() > prof_maxleaves) {
        sys_log("camop_profiling: more than %d rings at offset %f", prof_maxleaves, d);
        return 0;
    }
    r.leaves = next;
    return 1;
}

// The tracer turns a ring round the high side of the field clockwise, which
// makes a ring round kept material a pocket. The tree wants the other hand:
// a pocket is a ring round the area cut, its next ring lies inside it and
// is smaller; an island is a ring round kept material, its next ring lies
// round it.
void prof_reverse(contour *k)
{
    float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += k->vertcount[p] * 3, p++)
        for (uint32_t a = 0, b = k->vertcount[p] - 1; a < b && b > 0; a++, b--)
            std::swap_ranges(v + a * 3, v + a * 3 + 3, v + b * 3);
}

int prof_levels(prof_run &r)
{
    cam_gen *g = r.g;
    camop *op = g->op;
    const float s = g->step, w = r.width, eps = 0.002f / g->scale;
    float d = 0.0f;
    for (int first = 1;; first = 0) {
        sys_log("contouring cut offset %f...", d);
        contour *k = cont_fromimage(r.field, d, r.sizevec, r.originvec, cam_maxdot, cam_minlen, cam_maxlen, 0);
        if (!k)
            return 0;
        prof_reverse(k);
        if (op->flags & camop_sortpaths) {
            float from[3] = {-9999.0f, -9999.0f, 0.0f};
            contour *o = cont_newfrompolys(k, from);
            if (o) {
                cont_free(k);
                k = o;
            }
        }
        if (op->cont)
            con_append(k, op->cont);
        if (op->flags & 0x10)
            prof_outline(op, k);
        int ok = prof_nodes(r, k, d);
        cont_free(k);
        if (!ok)
            return 0;
        if (w - d < eps)
            return 1;
        float step = s;
        if (first && std::fmod(w, s) > eps)
            step = std::fmod(w, s);
        d = std::fmin(d + step, w);
    }
}

// Roots deepest first; shallower islands and inner pockets join the
// nearest root before them.
void prof_roots(prof_run &r)
{
    std::vector<prof_node> &n = r.nodes;
    sys_log("determining root node tree depths... (num_nodes:%d root:%d)", r.numnodes, r.root);
    std::vector<int> roots;
    for (int i = r.root; i >= 0; i = n[i].nextroot) {
        n[i].depth = cam_nodedepth(i, 0, n.data());
        sys_log("root node[%d] depth:%d area:%f", i, n[i].depth, n[i].area);
        roots.push_back(i);
    }
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (size_t i = 1; i < roots.size(); i++)
            if (n[roots[i]].depth > n[roots[i - 1]].depth) {
                std::swap(roots[i], roots[i - 1]);
                swapped = true;
            }
    }
    std::vector<int> kept;
    for (size_t i = 0; i < roots.size(); i++) {
        prof_node &k = n[roots[i]];
        sys_log("node[%d] area:%f depth:%d", roots[i], k.area, k.depth);
        if (i == 0 || k.depth == n[roots[0]].depth || (k.area > 0.0f && k.outermost)) {
            kept.push_back(roots[i]);
            continue;
        }
        int best = -1;
        float bestd = 3.4e38f;
        for (int p : kept) {
            float d = cam_nodemindist(p, bestd, roots[i], n.data());
            if (d < bestd) {
                bestd = d;
                best = p;
            }
        }
        if (best < 0) {
            sys_log("...island root node[%d] adoption failed !!!", roots[i]);
            kept.push_back(roots[i]);
            continue;
        }
        int &list = k.area < 0.0f ? n[best].islands : n[best].pockets;
        k.next = list;
        list = roots[i];
        sys_log("...parented root node[%d] to island root node[%d] (dist:%f)", roots[i], best, std::sqrt(bestd));
    }
    r.root = -1;
    for (size_t i = kept.size(); i-- > 0;) {
        n[kept[i]].nextroot = r.root;
        r.root = kept[i];
    }
}

int prof_cut(prof_run &r)
{
    cam_gen *g = r.g;
    camop *op = g->op;
    const float s = g->step;
    const float lk = s <= 0.0001f ? g->t->diameter * g->u * 0.5f : 1.5f * s;
    // The rings were turned round for the tree (prof_reverse), so the sign is
    // turned too: conventional milling with a clockwise spindle keeps the
    // material on the cutter's right, which is clockwise round a part.
    int dirsign = op->dir == 1 ? 1 : -1;
    const prof_settings codes = prof_readcodes(op, g->scale);
    const float spacing = codes.spacing, tablen = codes.tablength, tabht = codes.tabheight;
    cam_tabs tabs{spacing, tablen + g->t->diameter * g->u, g->z1 + tabht, nullptr};
    const cam_tabs *tabp = nullptr;
    if (spacing * tablen * tabht > 0.0f) {
        tabs.cont = cont_new();
        if (!tabs.cont)
            return 0;
        tabp = &tabs;
    }
    sys_log("ZSTEP:%f ZBOT:%f TABHT:%f", g->doc, op->z_max, tabht);
    const float z1 = std::fmax(g->z0 - g->doc, g->z1);
    float last[3] = {0, 0, 0};
    int ok = 1;
    for (int root = r.root; root >= 0 && ok; root = r.nodes[root].nextroot) {
        engage_cutz = g->z0 + 0.04f / g->scale;
        sys_log("root node[%d] engage cutz = %f...", root, engage_cutz);
        int rampstart = 0;
        // Each level from Z0 directly, so no rounding gathers over the levels.
        float z = z1;
        for (int k = 1;; k++) {
            const int firstlevel = k == 1;
            sys_log("generating cuts for root node[%d] @z=%f dir:%d...", root, z, dirsign);
            int lastlevel = std::fabs(z - g->z1) < 0.0001f;
            ok = cam_outputnodes(last, op, root, &dirsign, &rampstart, last, z, firstlevel, lastlevel,
                                 lk * lk, tabp, r.nodes.data());
            sys_log("...node[%d] cuts generated", root);
            if (lastlevel || !ok)
                break;
            engage_cutz = z;
            sys_log("engage cutz:%f", engage_cutz);
            if (op->dir == 2)
                dirsign = -dirsign;
            z = std::fmax(g->z0 - (float)(k + 1) * g->doc, g->z1);
        }
    }
    cont_free(tabs.cont);
    return ok;
}

} // namespace

void camop_profiling(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_profiling", "CAMOP_PROFILING"))
        return;
    prof_run r;
    r.g = &g;
    r.nodes.resize(prof_maxnodes);
    std::memcpy(r.size, g.size, sizeof(r.size));
    std::memcpy(r.origin, g.origin, sizeof(r.origin));
    std::memcpy(r.frac, g.frac, sizeof(r.frac));
    r.offset = g.op->stock;
    r.width = prof_readcodes(g.op, g.scale).width;
    // Without a stepover the offsets would never reach the width of cuts.
    if (r.width >= 0.002f / g.scale && !(g.step > 0.0f && std::isfinite(g.step))) {
        sys_log("camop_profiling: stepover %f cannot reach the width of cuts %f", g.step, r.width);
        cam_genfail(&g);
        return;
    }
    if (!prof_field(r) || !prof_levels(r)) {
        prof_free(r);
        cam_genfail(&g);
        return;
    }
    if (r.numnodes == 0) {
        sys_log("camop_profiling: no usable outline");
        prof_free(r);
        cam_genfail(&g);
        return;
    }
    prof_roots(r);
    if (!cam_genclaim(&g, 1)) {
        prof_free(r);
        return;
    }
    if (!prof_cut(r)) {
        prof_free(r);
        cam_genfail(&g);
        return;
    }
    prof_free(r);
    toolpath_engagepaths(g.slot);
    cam_genend(&g, 0, nullptr);
}
