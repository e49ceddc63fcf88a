// The Parallel generator and the line-generator steps it shares. Contents:
// the cut surface and working geometry; clipping a level; plain emission;
// the cut lines; pocket emission (pockets, chains of cuts per line, the
// smallest enclosing pocket, the sweep); the generator itself.
#include "cam/parallel.h"

#include "cam/engage.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/poly.h"
#include "img/convolve.h"
#include "img/image.h"
#include "sys/log.h"

#include <cmath>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------- surface

void camop_linesmapping(cam_lines *w)
{
    cam_genmapping(w->size, w->origin, w->sizevec, w->originvec);
}

void camop_linesgeometry(const cam_gen *g, cam_lines *w)
{
    memcpy(w->size, g->size, sizeof(w->size));
    memcpy(w->origin, g->origin, sizeof(w->origin));
    memcpy(w->frac, g->frac, sizeof(w->frac));
    camop_linesmapping(w);
}

static image *lines_stock(const cam_gen *g)
{
    const camop *op = g->op;
    if (op->stock > 0.0001f) {
        sys_log("convolving with leave-stock (%f)...", op->stock);
        return cam_leavestock(g->ref, g->size, op->stock);
    }
    return img_alloc(g->ref->name, g->ref->width, g->ref->height, g->ref->bytesperpixel, g->ref->pixels);
}

image *camop_cutsurface(const cam_gen *g, cam_lines *w)
{
    const camop *op = g->op;
    image *s0 = lines_stock(g);
    if (s0 && (op->flags & camop_confine)) {
        image *cropped = cam_cropborder(s0, w->size, w->origin, w->frac, g->u * g->t->diameter * 0.5f);
        img_free(s0);
        s0 = cropped;
        camop_linesmapping(w);
    }
    if (!s0) {
        sys_error("%s: no working surface", g->fn);
        return nullptr;
    }
    sys_log("convolving with tool[%d].surface...", op->tool);
    image *profile = cam_gentoolprofile(op->tool - 1, w->size, s0->width, op->z_max);
    image *sc = profile ? img_scalarconvo(s0, profile, 0, -99999.0f, 0.0f) : nullptr;
    img_free(s0);
    img_free(profile);
    if (!sc)
        sys_error("%s: no cut surface", g->fn);
    return sc;
}

// ---------------------------------------------------------------- one level

contour *camop_cliplevel(const cam_gen *g, const cam_lines *w, const image *sc, const contour *lines, float z,
                         float zprev)
{
    sys_log("contouring %d paths... @z %f->%f", (int)lines->numpolys, zprev, z);
    contour *k = con_simplify(sc, lines, w->sizevec, w->originvec, z, zprev, cam_maxdot, cam_minlen, cam_maxlen);
    if (!k)
        return nullptr;
    sys_log("...%d polylines, %d verts", (int)k->numpolys, (int)cam_genvertcount(k));
    if (g->op->cont)
        con_append(k, g->op->cont);
    return k;
}

contour *camop_drapelevel(const cam_lines *w, const image *sc, const contour *lines, float z, float zprev)
{
    sys_log("contouring paths... @z %f->%f", zprev, z);
    contour *k = con_simplify(sc, lines, w->sizevec, w->originvec, z, zprev, cam_maxdot, cam_minlen, cam_maxlen);
    if (k)
        sys_log("...%d polylines, %d verts", (int)k->numpolys, (int)cam_genvertcount(k));
    return k;
}

contour *camop_restclip(const cam_gen *g, contour *k)
{
    if (!(g->op->flags & camop_rest) || !cam_restsurface || !k)
        return k;
    sys_log("clipping paths...");
    cam_lines canvas;
    camop_linesgeometry(g, &canvas);
    contour *clipped = con_sampleimage(cam_restsurface, k, canvas.sizevec, canvas.originvec);
    if (!clipped)
        return k; // logged by the clip; the unclipped cuts stay safe to run
    sys_log("... %d polylines, %d verts", (int)clipped->numpolys, (int)cam_genvertcount(clipped));
    cont_free(k);
    return clipped;
}

float camop_linkdistsqr(const cam_gen *g)
{
    const float a = 2.0f * g->step * 1.5f * g->scale;
    const float d = a * a / (g->scale * g->scale);
    sys_log("maxdistsqr = %f", d);
    return d;
}

static float lines_distsqr(const float *a, const float *b)
{
    const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return dx * dx + dy * dy + dz * dz;
}

void camop_emitplain(const cam_gen *g, const contour *k, float maxdistsqr)
{
    const camop *op = g->op;
    float end[3] = {0, 0, 0};
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++) {
        const uint32_t n = k->vertcount[i];
        const bool linked = i > 0 && op->dir == 2 && (op->flags & camop_linkcuts) &&
                            lines_distsqr(v, end) < maxdistsqr && k->link[i] != k->link[i - 1];
        if (n > 1) {
            float last[3];
            toolpath_addpath(last, g->slot, linked ? 0 : op->entry, linked ? 1 : 0, 0, 0, 1, (int)n, v);
        }
        memcpy(end, v + 3 * (size_t)(n - 1), sizeof(end));
    }
}

// ---------------------------------------------------------------- cut lines

contour *camop_parallellines(const cam_gen *g, const cam_lines *w)
{
    const camop *op = g->op;
    const float box[4] = {-w->origin[0], -w->origin[1], w->size[0] - w->origin[0], w->size[1] - w->origin[1]};
    sys_log("parallel: xmin=%f ymin=%f", box[0], box[1]);
    sys_log("parallel: xmax=%f ymax=%f", box[2], box[3]);
    float degrees = std::fmod(op->aux[0], 360.0f);
    if (degrees < 0.0f)
        degrees += 360.0f;
    const int q = degrees < 90.0f ? 0 : degrees < 180.0f ? 1 : degrees < 270.0f ? 2 : 3;
    const double a = M_PI * op->aux[0] / 180.0;
    const float u[3] = {(float)-std::cos(a), (float)std::sin(a), 0.0f};
    const double v[2] = {g->step * std::sin(a), g->step * std::cos(a)};
    // Walked in doubles: a stepover far below the canvas size would stall a
    // float point. Each walk is bounded by the contour's capacity anyway.
    double p[2] = {(box[0] + box[2]) * 0.5, (box[1] + box[3]) * 0.5};
    float at[3], ca[3], cb[3];
    auto crosses = [&] {
        at[0] = (float)p[0], at[1] = (float)p[1], at[2] = 0.0f;
        return poly_parallel(at, u, box, q, ca, cb);
    };
    int back = 0;
    for (; crosses() && back <= cont_maxpolys; back++)
        p[0] -= v[0], p[1] -= v[1];
    p[0] += v[0], p[1] += v[1];
    contour *c = back > cont_maxpolys ? nullptr : cont_new();
    if (!c) {
        sys_log("%s: no cut lines for stepover %f", g->fn, g->step);
        return nullptr;
    }
    sys_log("paths pt:%f,%f vec:%f,%f  rect:%f,%f %f,%f", p[0], p[1], u[0], u[1], box[0], box[1], box[2], box[3]);
    for (int32_t line = 0; crosses(); line++) {
        const bool reversed = op->dir == 1 || (op->dir == 2 && line % 2 == 0);
        const float seg[6] = {reversed ? cb[0] : ca[0], reversed ? cb[1] : ca[1], 0.0f,
                              reversed ? ca[0] : cb[0], reversed ? ca[1] : cb[1], 0.0f};
        if (!cont_addpoly(c, seg, 2, 0, line, g->fn)) {
            cont_free(c);
            return nullptr;
        }
        p[0] += v[0], p[1] += v[1];
    }
    return c;
}

// ---------------------------------------------------------------- pocket emission

namespace {
struct pocket_cut {
    int32_t first; // index of the cut's first vertex in the clipped contour
    int32_t next;  // next cut of the same line, -1 ends the chain
    int32_t pocket;
    uint32_t used;
    uint32_t count;
    int32_t line;
};
struct pocket_line {
    int32_t head;
    int32_t remaining;
};
// One level's pocket emission; w is the last point, kept across levels.
struct pocket_run {
    const cam_gen *g;
    const contour *k;
    float maxdistsqr;
    float *w;
    std::vector<pocket_cut> cuts;
    std::vector<pocket_line> lines;
    int gsign = 1;
    float lmax = 999999.0f;
};
} // namespace

static const float *pocket_vert(const pocket_run &r, int cut, int which)
{
    const pocket_cut &c = r.cuts[cut];
    return r.k->verts + 3 * ((size_t)c.first + (which ? c.count - 1 : 0));
}

static float pocket_nearer(const pocket_run &r, int cut, const float *p)
{
    return std::fmin(lines_distsqr(pocket_vert(r, cut, 0), p), lines_distsqr(pocket_vert(r, cut, 1), p));
}

static float pocket_length(const pocket_run &r, int cut)
{
    return std::sqrt(lines_distsqr(pocket_vert(r, cut, 0), pocket_vert(r, cut, 1)));
}

// Step 3: every line's cuts threaded last to first.
static void pocket_chains(pocket_run &r)
{
    uint32_t first = 0;
    for (uint32_t i = 0; i < r.k->numpolys; first += r.k->vertcount[i], i++) {
        pocket_cut &c = r.cuts[i];
        c = {(int32_t)first, -1, -1, 0, r.k->vertcount[i], r.k->link[i]};
        if (c.line < 0 || c.line >= (int32_t)r.lines.size() - 1)
            continue; // no line of ours: left out like a cut without a pocket
        c.next = r.lines[c.line].head;
        r.lines[c.line].head = (int32_t)i;
    }
}

// Step 4: the smallest pocket that holds the cut's centre; of equal areas the later.
static void pocket_assign(pocket_run &r, const contour *pk, const std::vector<float> &area,
                          const std::vector<uint32_t> &firsts)
{
    for (size_t i = 0; i < r.cuts.size(); i++) {
        const float *a = pocket_vert(r, (int)i, 0), *b = pocket_vert(r, (int)i, 1);
        const float centre[3] = {(a[0] + b[0]) * 0.5f, (a[1] + b[1]) * 0.5f, (a[2] + b[2]) * 0.5f};
        float best = 1e8f;
        for (uint32_t p = 0; p < pk->numpolys; p++) {
            if (!(area[p] >= 0.0f) || pk->vertcount[p] <= 4 || area[p] > best)
                continue;
            const float d = con_nearestpoint(centre, pk->closed[p], (int)pk->vertcount[p],
                                             pk->verts + 3 * (size_t)firsts[p], 0);
            sys_debuglog("cut[%d] pocket[%d] dist = %f", (int)i, (int)p, d);
            if (d > -0.001f) {
                r.cuts[i].pocket = (int32_t)p;
                best = area[p];
            }
        }
        if (r.cuts[i].pocket < 0)
            sys_log("cut[%d] has no pocket! center:%.3f,%.3f start:%.3f,%.3f end:%.3f,%.3f", (int)i, centre[0],
                    centre[1], a[0], a[1], b[0], b[1]);
        else
            sys_debuglog("cut[%d] added to pocket[%d]", (int)i, r.cuts[i].pocket);
    }
}

static void pocket_emit(pocket_run &r, int cut, int pocket, int *c, int *resume)
{
    const camop *op = r.g->op;
    pocket_cut &pc = r.cuts[cut];
    const float *start = pocket_vert(r, cut, r.gsign > 0 ? 0 : 1);
    const bool linked = (op->flags & camop_linkcuts) && lines_distsqr(r.w, start) < r.maxdistsqr;
    toolpath_addpath(r.w, r.g->slot, linked ? 0 : op->entry, linked ? 1 : 0, 0, 0, r.gsign, (int)pc.count,
                     r.k->verts + 3 * (size_t)pc.first);
    sys_debuglog("...cut[%d] added as path[%d] for pocket[%d]", cut, (int)toolpaths[r.g->slot].num_paths, pocket);
    r.lines[pc.line].remaining--;
    pc.used = 1;
    *c = cut;
    r.lmax = pocket_length(r, cut) + 0.75f * r.g->u * r.g->t->diameter;
    if (r.lines[pc.line].remaining > 0 && (*resume < 0 || *resume > pc.line))
        *resume = pc.line;
}

// The unused cut of line j in the pocket that is nearest W (fresh start) or
// that best continues cut c; the first in chain order wins ties. -1 if none.
static int pocket_pick(const pocket_run &r, int j, int pocket, int c, float *score)
{
    int best = -1;
    float bestscore = 0.0f;
    for (int32_t i = r.lines[j].head; i >= 0; i = r.cuts[i].next) {
        if (r.cuts[i].pocket != pocket || r.cuts[i].used)
            continue;
        const float s = c < 0 ? pocket_nearer(r, i, r.w)
                              : pocket_nearer(r, i, pocket_vert(r, c, 0)) + pocket_nearer(r, i, pocket_vert(r, c, 1));
        if (best < 0 || s < bestscore)
            best = i, bestscore = s;
    }
    *score = bestscore;
    return best;
}

// Step 5 for one pocket: lines swept in order, each cut continuing the chain
// of the last when near and not much longer, else a fresh start nearest W;
// after a break the sweep resumes at the first line that still has cuts.
static void pocket_sweep(pocket_run &r, int pocket)
{
    sys_debuglog("emitting cuts for pocket[%d]", pocket);
    for (pocket_line &l : r.lines) {
        l.remaining = 0;
        for (int32_t i = l.head; i >= 0; i = r.cuts[i].next)
            l.remaining += r.cuts[i].pocket == pocket;
    }
    const int nlines = (int)r.lines.size(); // the last is the empty sentinel
    int c = -1, resume = -1;
    for (int j = 0; j < nlines;) {
        float score;
        const int pick = pocket_pick(r, j, pocket, c, &score);
        if (pick >= 0 && c < 0) {
            if (r.g->op->dir == 2) {
                const bool lastnearer = lines_distsqr(pocket_vert(r, pick, 1), r.w) <=
                                        lines_distsqr(pocket_vert(r, pick, 0), r.w);
                r.gsign = lastnearer ? -1 : 1;
            }
            pocket_emit(r, pick, pocket, &c, &resume);
            j++;
            continue;
        }
        if (pick >= 0) {
            const float near = std::fmin(pocket_nearer(r, pick, pocket_vert(r, c, 0)),
                                         pocket_nearer(r, pick, pocket_vert(r, c, 1)));
            if (pocket_length(r, pick) < r.lmax && near < r.maxdistsqr) {
                pocket_emit(r, pick, pocket, &c, &resume);
                j++;
                continue;
            }
            c = -1;
            r.lmax = 9999999.0f;
            if (resume < 0)
                continue; // line j again, as a fresh start
        }
        if (resume >= 0) {
            c = -1;
            j = resume;
            resume = -1;
        } else {
            j++;
        }
    }
}

// Steps 1 and 2: the regions of the bordered surface below the previous
// level, nearest-next from W, with their signed areas (open ones take no
// cuts). Null when they cannot be traced.
static contour *pocket_trace(const cam_gen *g, const image *bc, const cam_lines *b, float zprev, float *w,
                             std::vector<float> &area, std::vector<uint32_t> &firsts)
{
    const float t = (zprev + b->origin[2]) / b->size[2] + 0.0001f;
    const float px = b->size[0] / bc->width;
    contour *p0 = cont_fromimage(bc, t, b->sizevec, b->originvec, 0.9995f, 3.0f * px, 16.0f * px, 0);
    if (!p0)
        return nullptr;
    float from[3] = {w[0], w[1], w[2]};
    contour *pk = cont_newfrompolys(p0, from);
    cont_free(p0);
    if (!pk)
        return nullptr;
    if (g->op->cont)
        con_append(pk, g->op->cont);
    area.assign(pk->numpolys, -1.0f);
    firsts.assign(pk->numpolys, 0);
    uint32_t first = 0;
    for (uint32_t p = 0; p < pk->numpolys; first += pk->vertcount[p], p++) {
        firsts[p] = first;
        const float *v = pk->verts + 3 * (size_t)first;
        if (!pk->closed[p]) {
            sys_log("pocket[%d] is a non-closed polyline!!!", (int)p);
            continue;
        }
        area[p] = cont_polyarea(v, pk->vertcount[p]);
        sys_log("pocket[%d] area:%f verts:%d org:%.3f,%.3f", (int)p, area[p], (int)pk->vertcount[p], v[0], v[1]);
    }
    return pk;
}

static void camop_emitpockets(const cam_gen *g, const contour *k, int nlines, const image *bc,
                              const cam_lines *b, float zprev, float maxdistsqr, float *w)
{
    std::vector<float> area;
    std::vector<uint32_t> firsts;
    contour *pk = pocket_trace(g, bc, b, zprev, w, area, firsts);
    if (!pk) {
        sys_log("%s: no pockets @z %f; the level's cuts are left out", g->fn, zprev);
        return;
    }
    pocket_run r{g, k, maxdistsqr, w, std::vector<pocket_cut>(k->numpolys),
                 std::vector<pocket_line>((size_t)nlines + 1, pocket_line{-1, 0})};
    pocket_chains(r);
    pocket_assign(r, pk, area, firsts);
    for (uint32_t p = 0; p < pk->numpolys; p++)
        pocket_sweep(r, (int)p);
    cont_free(pk);
}

// ---------------------------------------------------------------- generator

namespace {
// What one run holds, freed together on every way out.
struct parallel_work {
    image *sc = nullptr, *bc = nullptr;
    contour *lines = nullptr;
    void release()
    {
        img_free(sc);
        img_free(bc);
        cont_free(lines);
        sc = bc = nullptr;
        lines = nullptr;
    }
    ~parallel_work() { release(); }
};
} // namespace

static int parallel_prepare(cam_gen *g, cam_lines *w, cam_lines *b, parallel_work &work)
{
    camop_linesgeometry(g, w);
    if (!cam_gencheckstep(g))
        return 0;
    work.sc = camop_cutsurface(g, w);
    work.lines = work.sc ? camop_parallellines(g, w) : nullptr;
    if (!work.lines) {
        cam_genfail(g);
        return 0;
    }
    if (!cam_genclaim(g, 1))
        return 0;
    *b = *w;
    work.bc = cam_borderimage(work.sc, b->size, b->origin, b->frac, 1);
    if (!work.bc) {
        sys_error("%s: no bordered surface", g->fn);
        cam_genfail(g);
        return 0;
    }
    camop_linesmapping(b);
    return 1;
}

void camop_parallel(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_parallel", "CAMOP_PARALLEL"))
        return;
    cam_lines w, b;
    parallel_work work;
    if (!parallel_prepare(&g, &w, &b, work))
        return;
    const float maxdistsqr = camop_linkdistsqr(&g);
    float last[3] = {0.0f, 0.0f, 0.0f};
    for (float zprev = g.z0, z = cam_gennextlevel(&g, zprev);; zprev = z, z = cam_gennextlevel(&g, z)) {
        contour *k = camop_restclip(&g, camop_cliplevel(&g, &w, work.sc, work.lines, z, zprev));
        if (k && k->numpolys) {
            if (g.op->flags & camop_sortpaths)
                camop_emitpockets(&g, k, (int)work.lines->numpolys, work.bc, &b, zprev, maxdistsqr, last);
            else
                camop_emitplain(&g, k, maxdistsqr);
            cam_genengage(&g, zprev);
            toolpath_engagepaths(g.slot);
        }
        cont_free(k);
        if (cam_genleveldone(&g, z))
            break;
    }
    work.release(); // before the operation is published as done
    cam_genend(&g, 0, nullptr);
}
