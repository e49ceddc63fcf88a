// 2.5D offset milling and horizontal finishing. Contents: the run's tables
// and their release; the cut surface and its reduced copy for bridging; one
// level (mask, distance field, bridges, boundary rings, offset rings with the
// enclosing-ring search, islands); the matches between levels; the output
// through cam/nodewalk; the generator. Every table of the run has a fixed
// size, and a run that would pass one stops through the failure exit
// instead of writing beyond it.
#include "cam/horizontal.h"

#include "cam/engage.h"
#include "cam/nodewalk.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/medial.h"
#include "geom/poly.h"
#include "img/adjust.h"
#include "img/blend.h"
#include "img/blur.h"
#include "img/convolve.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "img/resample.h"
#include "img/smooth.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

// The current step never holds more rings than the previous-step list can
// take over, so only the current step needs its own check.
static_assert(horz_maxstep <= horz_maxprev, "a step's rings become the next step's previous rings");

namespace {

struct horz_run {
    cam_gen *g = nullptr;
    camop *op = nullptr;
    float s = 0.0f;     // stepover; 9,999,999 in finishing
    float limit = 0.0f; // L: the offsets stop beyond it
    float amax = 0.0f;  // rings of at least this area are the canvas perimeter
    float minarea = 0.0f;
    int finishing = 0;
    float size[3], origin[3], frac[3];  // box of the cut surface
    float sizevec[3], originvec[3];     // its pixels placed in the world (row 0 at the far y edge)
    image *surf = nullptr, *reduced = nullptr;
    std::vector<horiz_node> nodes;
    int num = 0;
    int32_t zroots[horz_maxlevels];
    float zlevel[horz_maxlevels];
    int levelfirst[horz_maxlevels + 1]; // first node of each level
    int numlevels = 0;
    std::vector<int32_t> prev, cur; // rings of the previous and the current offset step
    int bridging = 1;
    std::vector<contour *> axes; // medial axes of the top rings
};

void horz_free(horz_run &r)
{
    for (int i = 0; i < r.num; i++) {
        sys_free(r.nodes[i].verts);
        r.nodes[i].verts = nullptr;
    }
    r.num = 0;
    for (contour *a : r.axes)
        cont_free(a);
    r.axes.clear();
    img_free(r.surf);
    img_free(r.reduced);
    r.surf = r.reduced = nullptr;
}

// Frees the run and ends it through the frame's failure exit.
void horz_fail(horz_run &r)
{
    horz_free(r);
    cam_genfail(r.g);
}

void horz_mapping(horz_run &r)
{
    cam_genmapping(r.size, r.origin, r.sizevec, r.originvec);
}

// ---------------------------------------------------------------- surface

// The surface the cutter's tip may follow, with a raised margin so
// that every level's region is closed by it.
int horz_surface(horz_run &r)
{
    const cam_gen *g = r.g;
    const camop *op = r.op;
    std::memcpy(r.size, g->size, sizeof(r.size));
    std::memcpy(r.origin, g->origin, sizeof(r.origin));
    std::memcpy(r.frac, g->frac, sizeof(r.frac));
    image *s0;
    if (op->stock > 0.0001f) {
        sys_log("convolving with leave-stock:%f...", op->stock);
        s0 = cam_leavestock(g->ref, g->size, op->stock);
    } else {
        s0 = img_copy(g->ref);
    }
    if (s0 && (op->flags & camop_confine)) {
        image *b = cam_borderimage(s0, r.size, r.origin, r.frac, 1);
        img_free(s0);
        s0 = b;
    }
    if (!s0) {
        sys_error("cam_horizontal: no working surface");
        return 0;
    }
    sys_log("convolving with tool[%d].surface...", op->tool);
    image *profile = cam_gentoolprofile(op->tool - 1, r.size, s0->width, op->z_max);
    image *sc = profile ? img_scalarconvo(s0, profile, 0, -99999.0f, 0.0f) : nullptr;
    img_free(profile);
    img_free(s0);
    if (sc && !(op->flags & camop_confine)) {
        image *b = cam_borderimage(sc, r.size, r.origin, r.frac, 1);
        img_free(sc);
        sc = b;
    }
    if (!sc) {
        sys_error("cam_horizontal: no cut surface");
        return 0;
    }
    r.surf = sc;
    horz_mapping(r);
    return 1;
}

// Bridges are traced on a copy small enough to keep them few.
int horz_reduce(horz_run &r)
{
    const int w = r.surf->width, h = r.surf->height;
    const float f = 2.5f * std::fmin(std::pow((float)h, 0.75f) / h, std::pow((float)w, 0.75f) / w);
    if (f < 1.0f) {
        const int rw = std::max(1, (int)(f * w)), rh = std::max(1, (int)(f * h));
        r.reduced = img_rescalescalar(r.surf, rw, rh);
        sys_log("...downscaled %dx%d pathsurf to %dx%d", w, h, rw, rh);
    } else {
        r.reduced = img_copy(r.surf);
    }
    if (!r.reduced)
        sys_error("cam_horizontal: no reduced surface");
    return r.reduced != nullptr;
}

// ---------------------------------------------------------------- one level

// The level's region to clear as a signed distance in project units:
// negative inside the region, so the iso-line at -d lies d inside it.
image *horz_distance(const horz_run &r, const image *mask)
{
    const float px = r.size[0] / (float)mask->width;
    return img_scalardistsmooth(mask, -px, 0.0f);
}

// Bridges join the level's holes to their outlines; drawn into the distance
// field as boundary, they turn the rings round an island into one ring with
// the outline's. 0 after the failure's error line.
int horz_bridges(horz_run &r, image *dist, float t)
{
    const float rpx = r.size[0] / (float)r.reduced->width;
    contour *k = cont_fromimage(r.reduced, t, r.sizevec, r.originvec, 0.9995f, 2.0f * rpx, 20.0f * rpx, 0);
    if (!k) {
        sys_error("cam_horizontal: no bridging contour");
        return 0;
    }
    sys_log("...contoured polys:%d verts:%d", (int)k->numpolys, (int)cam_genvertcount(k));
    if (k->numpolys == 0) {
        r.bridging = 0;
        cont_free(k);
        return 1;
    }
    for (uint32_t p = 0; p < k->numpolys; p++)
        if (!k->closed[p]) {
            cont_free(k);
            sys_error("cam_horizontal: encountered non-closed polylines!");
            return 0;
        }
    contour *b = con_bridgepolys(k);
    cont_free(k);
    if (!b) {
        sys_error("cam_horizontal: no bridges");
        return 0;
    }
    sys_log("...generated %d bridges", (int)b->numpolys);
    const uint32_t verts = cam_genvertcount(b);
    for (uint32_t i = 0; i < verts; i++)
        b->verts[i * 3 + 2] = 1.0f;
    if (r.op->cont && b->numpolys)
        con_append(b, r.op->cont);
    image *img = img_allocfloat("brdgs", r.surf->width, r.surf->height);
    if (!img) {
        cont_free(b);
        return 0;
    }
    // Z 1 draws the bridges at full height into the 0..1 image.
    const float size[3] = {r.sizevec[0], r.sizevec[1], 1.0f}, origin[3] = {r.originvec[0], r.originvec[1], 0.0f};
    const float *v = b->verts;
    for (uint32_t p = 0; p < b->numpolys; v += b->vertcount[p] * 3, p++)
        img_rasterizepolymax(img, size, origin, (int)b->vertcount[p], v, nullptr);
    cont_free(b);
    sys_log("...rasterized bridges");
    image *aa = img_scalarfxaa(img);
    img_free(img);
    if (!aa)
        return 0;
    sys_log("...anti-aliased bridges");
    image *bd = horz_distance(r, aa);
    img_free(aa);
    if (!bd)
        return 0;
    sys_log("...calculated bridge distances");
    img_scalarblend(dist, bd, img_blendmaximum, 1.0f);
    img_free(bd);
    sys_log("...blended pathsurf/bridge distances");
    return 1;
}

// The halved distance field the offset rings are traced on; null
// after a failure's error line.
image *horz_field(horz_run &r, const image *mask, float t)
{
    image *dist = horz_distance(r, mask);
    if (!dist)
        return nullptr;
    sys_log("...calculated distances");
    if (r.bridging && !horz_bridges(r, dist, t)) {
        img_free(dist);
        return nullptr;
    }
    const camop *op = r.op;
    if (op->aux[1] > 0.0001f) {
        image *b = img_scalarblur(dist, op->aux[1] * (float)r.surf->width / r.size[0], 1);
        img_free(dist);
        dist = b;
        if (!dist)
            return nullptr;
    }
    image *half = img_rescalescalar(dist, std::max(1, dist->width / 2), std::max(1, dist->height / 2));
    img_free(dist);
    if (half)
        sys_log("...downscaled distances");
    return half;
}

void horz_rect(const horiz_node &n, float *rect)
{
    rect[0] = rect[2] = n.verts[0];
    rect[1] = rect[3] = n.verts[1];
    for (int i = 1; i < n.count; i++) {
        rect[0] = std::min(rect[0], n.verts[i * 3]);
        rect[1] = std::min(rect[1], n.verts[i * 3 + 1]);
        rect[2] = std::max(rect[2], n.verts[i * 3]);
        rect[3] = std::max(rect[3], n.verts[i * 3 + 1]);
    }
}

void horz_lognode(const horiz_node &n, int id)
{
    float rect[4];
    horz_rect(n, rect);
    sys_log(" [%d] = verts:%d area:%f rect:(%f,%f)(%f,%f)", id, n.count, n.area, rect[0], rect[1], rect[2], rect[3]);
}

// An offset ring held by no ring of the step before: the diagnostics, logged
// only. The working contour is left alone: the viewport reads it without a
// lock while this runs on a worker.
void horz_orphan(const horz_run &r, int id)
{
    sys_log(" !!!! UNABLE TO FIND OUTER LEAF FOR NODE %d !!!!", id);
    const horiz_node &n = r.nodes[id];
    horz_lognode(n, id);
    for (int p : r.prev) {
        const horiz_node &q = r.nodes[p];
        horz_lognode(q, p);
        const float d = poly_sidepoly(n.count, n.verts, 1, q.count, q.verts, 1, 0);
        sys_log(d > 0.0f ? " %d inside %d (dist:%f)" : " %d outside %d (dist:%f)", id, p, d);
    }
}

// The previous-step ring that encloses node id most tightly, -1 none.
int horz_enclosing(const horz_run &r, int id)
{
    const horiz_node &n = r.nodes[id];
    int best = -1;
    float bestd = 1e8f;
    for (int p : r.prev) {
        const horiz_node &q = r.nodes[p];
        if (q.area < n.area)
            continue;
        const float d = poly_sidepolycmp(n.count, n.verts, 1, q.count, q.verts, 1, 0);
        if (d > -0.5f * r.s && d < bestd) {
            bestd = d;
            best = p;
        }
    }
    if (best >= 0)
        sys_debuglog(" [%d].inner += n[%d] (%f side)", best, id, bestd);
    return best;
}

void horz_pushroot(horz_run &r, int lev, int id)
{
    r.nodes[id].perimeter = 1;
    r.nodes[id].nextroot = r.zroots[lev];
    r.zroots[lev] = id;
    sys_debuglog("leaves[%d] = zroots[%d] += n[%d]", (int)r.cur.size(), lev, id);
}

// A new ring node for one polyline at level z; -1 after the overflow line.
int horz_newnode(horz_run &r, const float *v, int count, int closed, float area, float z)
{
    if (r.num >= horz_maxnodes) {
        sys_log("cam_horizontal: ring node table overflow (%d rings)", horz_maxnodes);
        return -1;
    }
    float *copy = (float *)sys_malloc((int32_t)(count * 3 * sizeof(float)));
    if (!copy)
        return -1;
    for (int i = 0; i < count; i++) {
        copy[i * 3] = v[i * 3];
        copy[i * 3 + 1] = v[i * 3 + 1];
        copy[i * 3 + 2] = z; // rings are cut and clipped at their level's height
    }
    const int id = r.num++;
    r.nodes[id] = horiz_node{-1, -1, -1, -1, -1, -1, closed, 0, area, z, count, copy, 0};
    return id;
}

// The polylines of one offset step d become ring nodes, each joining the
// ring that encloses it. 0 after a failure.
int horz_step(horz_run &r, int lev, const contour *k, float d, float z)
{
    if (r.op->cont)
        con_append((contour *)k, r.op->cont);
    r.cur.clear();
    const float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += k->vertcount[p] * 3, p++) {
        const int count = (int)k->vertcount[p];
        const float area = cont_polyarea(v, count);
        if (std::fabs(area) < r.minarea || count < 2) {
            sys_log(" ...discarded malformed polyline verts:%d area:%f", count, area);
            continue;
        }
        if ((int)r.cur.size() >= horz_maxstep) {
            sys_log("cam_horizontal: ring list of one step overflow (%d rings)", horz_maxstep);
            return 0;
        }
        const int id = horz_newnode(r, v, count, (int)k->closed[p], area, z);
        if (id < 0)
            return 0;
        if (d == 0.0f) {
            horz_pushroot(r, lev, id);
        } else {
            const int parent = horz_enclosing(r, id);
            if (parent >= 0) {
                r.nodes[id].list4 = r.nodes[parent].child;
                r.nodes[parent].child = id;
            } else if (d < 1.5f * r.s) {
                horz_pushroot(r, lev, id);
            } else {
                horz_orphan(r, id);
                return 0;
            }
        }
        r.cur.push_back(id);
    }
    return 1;
}

// Every island of the level joins the smallest pocket around it.
void horz_islands(horz_run &r, int lev)
{
    for (int i = r.zroots[lev]; i >= 0; i = r.nodes[i].nextroot) {
        horiz_node &n = r.nodes[i];
        if (n.area > 0.0f)
            continue;
        int best = -1;
        for (int p = r.zroots[lev]; p >= 0; p = r.nodes[p].nextroot) {
            const horiz_node &q = r.nodes[p];
            if (q.area <= 0.0f || q.area < -n.area)
                continue;
            if (poly_sidepoly(n.count, n.verts, 1, q.count, q.verts, 1, 0) <= 0.0f)
                continue;
            if (best < 0 || q.area < r.nodes[best].area)
                best = p;
        }
        if (best < 0) {
            sys_log("island node[%d] has no pocket node it belongs too!", i);
            continue;
        }
        sys_debuglog("node[%d/%f].island += node[%d/%f]", best, r.nodes[best].area, i, n.area);
        n.list2 = r.nodes[best].list2;
        r.nodes[best].list2 = i;
    }
    // Pockets lead the level's chain: an island is cut with its pocket,
    // after the pocket's inner rings, and only one without a pocket alone.
    std::vector<int32_t> roots;
    for (int i = r.zroots[lev]; i >= 0; i = r.nodes[i].nextroot)
        roots.push_back(i);
    std::stable_partition(roots.begin(), roots.end(), [&](int32_t i) { return r.nodes[i].area > 0.0f; });
    r.zroots[lev] = -1;
    for (size_t k = roots.size(); k-- > 0;) {
        r.nodes[roots[k]].nextroot = r.zroots[lev];
        r.zroots[lev] = roots[k];
    }
}

// The level's boundary rings, then the offset rings d inside them.
int horz_rings(horz_run &r, int lev, const image *mask, const image *field, float z)
{
    contour *k = cont_fromimage(mask, 0.5f, r.sizevec, r.originvec, cam_maxdot, cam_minlen, cam_maxlen, 0);
    if (!k)
        return 0;
    sys_log("...contoured pathsurf z:%2.2f polys:%d", z, (int)k->numpolys);
    contour *c = r.op->cont;
    uint32_t keeppolys = 0, keepverts = 0;
    for (float d = 0.0f;;) {
        const int ok = horz_step(r, lev, k, d, z);
        cont_free(k);
        k = nullptr;
        if (!ok)
            return 0;
        if (d == 0.0f && c) {
            keeppolys = c->numpolys;
            keepverts = c->numverts;
        }
        if (r.finishing || !field)
            break;
        d += r.s;
        if (d > r.limit)
            break;
        r.prev = r.cur;
        k = cont_fromimage(field, -d, r.sizevec, r.originvec, cam_maxdot, cam_minlen, cam_maxlen, 0);
        if (!k)
            return 0;
        sys_log("...contoured dist:%2.2f polys:%d", d, (int)k->numpolys);
        if (k->numpolys == 0) {
            cont_free(k);
            break;
        }
    }
    if (c) {
        c->numpolys = keeppolys;
        c->numverts = keepverts;
    }
    return 1;
}

// Level lev at z: mask, distance field, rings, islands. 0 after a failure.
int horz_level(horz_run &r, int lev, float z)
{
    const float t = (z + r.origin[2]) / r.size[2] + 0.0001f;
    image *mask = img_scalarath(r.surf, t, 1);
    if (!mask)
        return 0;
    sys_log("...thresholded pathsurf z:%f (%f)", z, t);
    image *field = nullptr;
    if (!r.finishing) {
        field = horz_field(r, mask, t);
        if (!field) {
            img_free(mask);
            return 0;
        }
    }
    r.zroots[lev] = -1;
    r.zlevel[lev] = z;
    r.levelfirst[lev] = r.num;
    const int ok = horz_rings(r, lev, mask, field, z);
    img_free(mask);
    img_free(field);
    if (!ok)
        return 0;
    r.levelfirst[lev + 1] = r.num;
    horz_islands(r, lev);
    sys_log("...completed zlevel[%d] @Z:%f", lev, z);
    return 1;
}

// The level after z (the first from the minimum depth); the last one is
// the bottom, B.
float horz_nextlevel(const cam_gen *g, float z)
{
    return std::fmax(g->z1, z - g->doc);
}

int horz_islastlevel(const cam_gen *g, float z)
{
    return std::fabs(z - g->z1) < 0.0001f;
}

// The levels are counted before any is built, so a run with more than the
// table holds is refused at once rather than after hundreds of levels.
int horz_countlevels(const cam_gen *g)
{
    int n = 1;
    for (float z = horz_nextlevel(g, g->z0); !horz_islastlevel(g, z); z = horz_nextlevel(g, z))
        if (++n > horz_maxlevels) {
            sys_log("cam_horizontal: level table overflow (%d levels)", horz_maxlevels);
            return 0;
        }
    return n;
}

int horz_levels(horz_run &r)
{
    const cam_gen *g = r.g;
    for (float z = horz_nextlevel(g, g->z0);; z = horz_nextlevel(g, z)) {
        if (!horz_level(r, r.numlevels, z))
            return 0;
        r.numlevels++;
        if (horz_islastlevel(g, z))
            return 1;
    }
}

// ---------------------------------------------------------------- between levels

// Can the ring of the level above hold lower ring n? A pocket below must
// fit inside a ring above of about its size or larger. An island below
// encloses the island above it or emerges inside a pocket above, so it is
// matched by the ring around or inside it whatever its turning sense.
float horz_holds(const horiz_node &n, const horiz_node &u)
{
    if (n.area > 0.0f) {
        if (n.area > 1.05f * u.area)
            return -9999999.0f;
        return poly_sidepolycmp(n.count, n.verts, 1, u.count, u.verts, 1, 0);
    }
    return poly_sidepoly(n.count, n.verts, 1, u.count, u.verts, 1, 0);
}

// Every top ring below the first level lies in a ring of the level
// above; one that does not means the levels disagree.
int horz_upper(horz_run &r)
{
    sys_log("finding upper nodes... %d", (int)sys_memtotal);
    for (int lev = 1; lev < r.numlevels; lev++)
        for (int i = r.zroots[lev]; i >= 0; i = r.nodes[i].nextroot) {
            const horiz_node &n = r.nodes[i];
            float bestd = 9999999.0f;
            int best = -1;
            for (int u = r.levelfirst[lev - 1]; u < r.levelfirst[lev]; u++) {
                const float d = horz_holds(n, r.nodes[u]);
                if (d > -0.1f && d < bestd) {
                    bestd = d;
                    best = u;
                }
            }
            if (best >= 0)
                continue;
            sys_log(" node[%d] is lower to none !!! verts:%d area:%f (%f,%f,%f)", i, n.count, n.area, n.verts[0],
                    n.verts[1], n.verts[2]);
            for (int u = r.levelfirst[lev - 1]; u < r.levelfirst[lev]; u++)
                sys_log(" nodes[%d] verts:%d area:%f side:%f", u, r.nodes[u].count, r.nodes[u].area,
                        horz_holds(n, r.nodes[u]));
            sys_error("node[%d] area:%f is lower to none!", i, n.area);
            return 0;
        }
    return 1;
}

// Finishing follows each wall down, ring to the ring below it.
void horz_inner(horz_run &r)
{
    for (int lev = 0; lev + 1 < r.numlevels; lev++)
        for (int i = r.levelfirst[lev]; i < r.levelfirst[lev + 1]; i++) {
            horiz_node &n = r.nodes[i];
            float bestd = 9999999.0f;
            int best = -1;
            for (int m = r.levelfirst[lev + 1]; m < r.levelfirst[lev + 2]; m++) {
                const horiz_node &q = r.nodes[m];
                if (q.area > n.area)
                    continue;
                const float d = poly_sidepolycmp(q.count, q.verts, 1, n.count, n.verts, 1, 0);
                if (d > -0.05f && d < bestd) {
                    bestd = d;
                    best = m;
                }
            }
            if (best < 0) {
                sys_log("node[%d] has no island below it...", i);
                continue;
            }
            sys_debuglog("node[%d/%f].inner += node[%d/%f]", i, n.area, best, r.nodes[best].area);
            n.list5 = best;
        }
}

// ---------------------------------------------------------------- output

// The steepness mask, 1 where the surface is at least aux[0]
// degrees steep; null after a failure.
image *horz_tangents(const horz_run &r)
{
    const image *s = r.surf;
    image *tan = img_allocfloat("tangents", s->width, s->height);
    if (!tan)
        return nullptr;
    const float *p = (const float *)s->pixels;
    float *o = (float *)tan->pixels;
    const int w = s->width, h = s->height;
    const float k = r.size[2] / (r.size[0] / (float)w);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int xl = std::max(x - 1, 0), xr = std::min(x + 1, w - 1);
            const int yu = std::max(y - 1, 0), yd = std::min(y + 1, h - 1);
            const float dx = 0.5f * (p[y * w + xr] - p[y * w + xl]), dy = 0.5f * (p[yd * w + x] - p[yu * w + x]);
            o[y * w + x] = std::sqrt(dx * dx + dy * dy) * k;
        }
    image *blur = img_scalarblur(tan, 1.0f, 1);
    img_free(tan);
    if (!blur)
        return nullptr;
    image *mask = img_scalarath(blur, std::tan(r.op->aux[0] * (float)M_PI / 180.0f), 1);
    img_free(blur);
    return mask;
}

// Finishing output: each level's rings, walked down the walls. 0 after a
// failure.
int horz_finish(horz_run &r, int *dirsign, float linkdist2, float linkz)
{
    image *mask = nullptr;
    if (r.op->aux[0] > 0.0f) {
        mask = horz_tangents(r);
        if (!mask)
            return 0;
    }
    // Mask 1 (steep) maps far above every ring and 0 far below it, so the
    // clip keeps the rings over the steep parts.
    cam_clip clip{mask, {r.sizevec[0], r.sizevec[1], 2e6f}, {r.originvec[0], r.originvec[1], -1e6f}};
    sys_log("horizontal finishing recursion... (max area:%f)", r.amax);
    float last[3] = {0.0f, 0.0f, 0.0f};
    for (int lev = 0; lev < r.numlevels; lev++)
        cam_rootcuts(last, r.op, dirsign, 0, 1, last, r.zroots[lev], r.nodes.data(), linkdist2, linkz, r.amax,
                     mask ? &clip : nullptr);
    sys_log("...completed recursion");
    img_free(mask);
    return 1;
}

// Offset output: medial axes for the helical entries, then each level's
// pockets.
int horz_offsets(horz_run &r, int *dirsign, float linkdist2, float linkz)
{
    const cam_gen *g = r.g;
    if (r.op->entry == 2) {
        for (int lev = 0; lev < r.numlevels; lev++)
            for (int i = r.zroots[lev]; i >= 0; i = r.nodes[i].nextroot) {
                if (r.nodes[i].area <= 0.0f)
                    continue; // islands are marked with their pocket
                contour *c = cont_new();
                if (!c)
                    return 0;
                for (int k = i; k >= 0; k = r.nodes[k].list2)
                    cont_addpoly(c, r.nodes[k].verts, r.nodes[k].count, 1, k, "cam_horizontal");
                contour *axis = con_medialaxis(c, 2.0f * g->u * g->t->flutediameter, 0.995f, 0.0f,
                                               g->u * g->t->flutediameter);
                cont_free(c);
                if (!axis)
                    return 0;
                r.axes.push_back(axis);
                cam_marksubtree((uint64_t)(uintptr_t)axis, r.nodes.data(), i);
            }
        sys_debuglog(" + + + + + + + + + %3.3fmb currently allocated + + + + + + + + + ",
                     (double)sys_memtotal / (1024.0 * 1024.0));
    }
    float last[3] = {0.0f, 0.0f, 0.0f};
    for (int lev = 0; lev < r.numlevels; lev++) {
        // A level's first ring is never linked from the level above: the
        // tool would reach it through stock the new level has not cleared.
        const float away[3] = {1e9f, 1e9f, last[2]};
        cam_helicalentry(last, r.op, dirsign, 0, away, r.zroots[lev], r.nodes.data(), linkdist2, linkz);
    }
    return 1;
}

} // namespace

void camop_horizontaljob(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_horizontal", "CAMOP_HORIZONTAL"))
        return;
    cam_horizontal(&g);
}

// Stepover, mode and the perimeter area.
static int horz_derive(horz_run &r)
{
    cam_gen *g = r.g;
    // A negative stepover would run the offsets outward, out of the region;
    // 0 is finishing.
    if (!(g->step >= 0.0f) || !std::isfinite(g->step)) {
        sys_log("cam_horizontal: stepover %f must not be negative (step %f)", g->step, r.op->step);
        return 0;
    }
    r.s = g->step;
    if (r.s != 0.0f) {
        r.limit = std::fmax(g->size[0], g->size[1]);
    } else {
        sys_log("horizontal-finishing toolpath...");
        r.finishing = 1;
        r.limit = 0.0f;
        r.s = 9999999.0f;
    }
    const float cd = g->u * g->t->diameter;
    const float w = g->size[0], h = g->size[1];
    r.amax = (w - (3.0f * w / (float)g->width + cd)) * 0.999f * (h - (3.0f * h / (float)g->height + cd));
    sys_log("max area:%f size:%fx%f (stock:%f tooldia:%f)", r.amax, w, h, r.op->stock, cd);
    r.minarea = 0.0001f / (g->scale * g->scale);
    return 1;
}

void cam_horizontal(cam_gen *g)
{
    horz_run r;
    r.g = g;
    r.op = g->op;
    r.nodes.resize(horz_maxnodes);
    if (!horz_derive(r) || !horz_countlevels(g)) {
        horz_fail(r);
        return;
    }
    if (!horz_surface(r) || (!r.finishing && !horz_reduce(r)) || !horz_levels(r) || !horz_upper(r)) {
        horz_fail(r);
        return;
    }
    if (r.finishing)
        horz_inner(r);
    const camop *op = r.op;
    float linkdist2 = 0.0f, linkz = 0.0f;
    if (op->flags & camop_linkcuts) {
        const float reach = r.finishing ? 1.5f * 2.3f * op->z_doc : 1.5f * r.s;
        linkdist2 = reach * reach;
        linkz = 2.3f * op->z_doc;
    }
    sys_log("link distance:%f z:%f", linkdist2, linkz);
    if (!cam_genclaim(g, 1)) {
        horz_free(r);
        return;
    }
    int dirsign = op->dir == 1 ? -1 : 1;
    const int ok =
        r.finishing ? horz_finish(r, &dirsign, linkdist2, linkz) : horz_offsets(r, &dirsign, linkdist2, linkz);
    if (!ok) {
        horz_fail(r);
        return;
    }
    toolpath_engagepaths(g->slot);
    sys_log("...toolpath generated");
    horz_free(r);
    cam_genend(g, 0, nullptr);
}
