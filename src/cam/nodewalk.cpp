// Tree walks over nested offset outlines. Each walk decides the order of the
// rings, links a ring to the previous cut at depth only when the tool stays
// inside cleared material (close enough, small Z step), and otherwise
// enters by plunge, ramp or helix. A helix that cannot be made always falls
// back to a ramp: linking after a failed helix would drag the bit through
// uncut stock to the ring.
#include "cam/nodewalk.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/medial.h"
#include "img/image.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

// --- shared internals -------------------------------------------------------

// Index of the vertex nearest pos in x, y with its squared distance;
// 0 and 9999999 when there are no vertices.
static int nodes_nearest(const float *pos, int count, const float *verts, float *d2)
{
    int best = 0;
    *d2 = 9999999.0f;
    for (int i = 0; i < count; i++) {
        float dx = verts[i * 3] - pos[0], dy = verts[i * 3 + 1] - pos[1];
        float d = dx * dx + dy * dy;
        if (d < *d2) {
            *d2 = d;
            best = i;
        }
    }
    return best;
}

// A cut may follow the previous one at depth only with "Link Cuts" on, a
// start close enough and a small enough change of Z.
static int nodes_linkable(const camop *op, float d2, float maxd2, float dz, float maxdz)
{
    return (op->flags & 0x4) && d2 < maxd2 && std::fabs(dz) < maxdz;
}

// The entry into a cut from *start: a helix when asked and possible, else a
// ramp. Returns the cut's link: 1 after an entry cut, faillink when none
// could be made (the start then stays).
static int nodes_enter(int slot, int helix, float radius, int ramplink, int faillink, int dir, int *start, int m,
                       const float *verts)
{
    if (helix && cam_addhelicalengage(slot, dir, *start, m, verts, radius) == 1)
        return 1;
    int r = toolpath_addramp(slot, ramplink, dir, *start, m, verts);
    if (r < 0)
        return faillink;
    *start = r;
    return 1;
}

static void nodes_logaddpath(int slot, int node, int count, int start, float d2, int direct, int closed)
{
    sys_log("toolpath_addpath[%d] = node[%d] verts:%d start:%d dist:%f direct:%d closed:%d",
            (int)toolpaths[slot].num_paths + 1, node, count, start, std::sqrt(d2), direct, closed);
}

static void nodes_mixedflip(const camop *op, int *dirsign)
{
    if (op->dir == 2)
        *dirsign = -*dirsign;
}

static float nodes_scale()
{
    return img_refscale > 0.0f ? img_refscale : 1.0f;
}

static float nodes_flutediameter(const camop *op)
{
    if (op->tool < 1 || op->tool > cam_maxtools)
        return 0.0f;
    const tool &t = cam_tools[op->tool - 1];
    return t.flutediameter * cam_unitsfactor(t.units, nodes_scale());
}

// Medial-axis vertices carry their clearance radius in z. Offset pockets
// pick the vertex nearest a ring point that is as close as possible to a
// clearance of 64 r; none when that vertex is no wider than the helix.
static int nodes_besthelix_ring(const contour *maxis, int count, const float *ring, float r, float *best)
{
    float bestv = 3.4e38f;
    int found = -1;
    uint32_t total = 0;
    for (uint32_t p = 0; p < maxis->numpolys; p++)
        total += maxis->vertcount[p];
    for (uint32_t k = 0; k < total; k++) {
        const float *a = maxis->verts + k * 3;
        for (int i = 0; i < count; i++) {
            float dx = ring[i * 3] - a[0], dy = ring[i * 3 + 1] - a[1], dr = 64.0f * r - a[2];
            float v = dr * dr + dx * dx + dy * dy;
            if (v < bestv) {
                bestv = v;
                found = (int)k;
            }
        }
    }
    if (found < 0)
        return 0;
    const float *a = maxis->verts + found * 3;
    if (a[2] <= r) {
        sys_log("...bestpos too small  (%f < %f)", a[2], r);
        return 0;
    }
    sys_log("...bestpos = vert[%d] (%f > %f)", found, a[2], r);
    best[0] = a[0];
    best[1] = a[1];
    return 1;
}

// Horizontal offsets take the widest medial-axis vertex inside the pocket,
// and only when it leaves room for a helix twice over.
static int nodes_besthelix_widest(const contour *maxis, int count, const float *ring, float r, float *best)
{
    float widest = 0.0f;
    int found = -1, k = 0;
    for (uint32_t p = 0; p < maxis->numpolys; p++)
        for (uint32_t i = 0; i < maxis->vertcount[p]; i++, k++) {
            const float *a = maxis->verts + k * 3;
            if (a[2] > widest && cont_contains(ring, count, a[0], a[1])) {
                widest = a[2];
                found = k;
            }
        }
    if (found < 0)
        return 0;
    const float *a = maxis->verts + found * 3;
    sys_log("best maxis vert = %f,%f,%f", a[0], a[1], a[2]);
    if (a[2] <= 2.0f * r)
        return 0;
    best[0] = a[0];
    best[1] = a[1];
    return 1;
}

// --- conformal ----------------------------------------------------------------

void bitree_walk(const bitree_node *n, void (*callback)(uint64_t value))
{
    for (; n; n = n->right) {
        bitree_walk(n->left, callback);
        callback(n->value);
    }
}

void cam_addpathlogged(float out[3], const cam_pathrequest *r)
{
    sys_debuglog("addpath: e%d c%d s%d d%d num%d", r->entry, r->closed, r->start, r->dir, r->count);
    toolpath_addpath(out, r->slot, r->entry, 0, r->closed, r->start, r->dir, r->count, r->verts);
}

// --- profiling ----------------------------------------------------------------

int32_t cam_nodedepth(int node, int32_t depth, const prof_node *nodes)
{
    int32_t deepest = depth;
    const prof_node &n = nodes[node];
    for (int c = n.inner; c >= 0; c = nodes[c].next)
        if ((nodes[c].area > 0.0f) == (n.area > 0.0f))
            deepest = std::max(deepest, cam_nodedepth(c, depth + 1, nodes));
    return deepest;
}

float cam_nodemindist(int node, float cap, int ref, const prof_node *nodes)
{
    const float *p = nodes[ref].verts;
    float best = cap;
    for (int n = node; n >= 0; n = nodes[n].next) {
        const prof_node &k = nodes[n];
        // Islands never hold a node: only a pocket can parent it.
        if (k.area > 0.0f && k.count >= 2) {
            float d = con_nearestpoint(p, 1, k.count, k.verts, 0);
            if (d > 0.0f && d < best)
                best = d;
        }
        if (k.inner >= 0)
            best = std::min(best, cam_nodemindist(k.inner, cap, ref, nodes));
    }
    return best;
}

// The loop resampled with tabs: after each spacing of cut the path rises to
// the tab top for the tab's length where the top is above the loop. Every
// stretch between two phase changes or corners takes the height of its
// middle, so a change that falls on a corner is one clean vertical step.
// Positions are kept in double: rounding must not let a tab flicker off.
static void nodes_tabulate(const prof_node &n, const cam_tabs *tabs, std::vector<float> &out)
{
    const double period = (double)tabs->spacing + tabs->length;
    auto push = [&](float x, float y, float z) {
        size_t k = out.size();
        if (k >= 3 && out[k - 3] == x && out[k - 2] == y && out[k - 1] == z)
            return;
        out.insert(out.end(), {x, y, z});
    };
    double s = 0.0;
    for (int i = 0; i < n.count; i++) {
        const float *a = n.verts + i * 3, *b = n.verts + ((i + 1) % n.count) * 3;
        const double dx = b[0] - a[0], dy = b[1] - a[1], len = std::sqrt(dx * dx + dy * dy);
        if (len <= 0.0)
            continue;
        std::vector<double> cuts = {s};
        for (double k = std::floor(s / period);; k += 1.0) {
            const double starttab = k * period + tabs->spacing, endtab = (k + 1.0) * period;
            if (starttab > s && starttab < s + len)
                cuts.push_back(starttab);
            if (endtab > s && endtab < s + len)
                cuts.push_back(endtab);
            if (endtab >= s + len)
                break;
        }
        cuts.push_back(s + len);
        for (size_t j = 0; j + 1 < cuts.size(); j++) {
            const double mid = 0.5 * (cuts[j] + cuts[j + 1]);
            const bool intab = mid - std::floor(mid / period) * period >= tabs->spacing;
            const float z = intab && tabs->top > a[2] ? tabs->top : a[2];
            for (double at : {cuts[j], cuts[j + 1]}) {
                const double t = (at - s) / len;
                push((float)(a[0] + dx * t), (float)(a[1] + dy * t), z);
            }
        }
        s += len;
    }
    if (!out.empty())
        out.insert(out.end(), {out[0], out[1], out[2]});
}

// Steps 5 to 7 for one node: start, link, entry and the cut.
static void nodes_profilecut(float out[3], camop *op, int id, int *dirsign, int *rampstart, const float last[3],
                             int firstlevel, float linkdist2, int count, const float *verts, prof_node *nodes)
{
    const prof_node &n = nodes[id];
    int slot = op->toolpath;
    float d2;
    int start = nodes_nearest(last, count, verts, &d2);
    int linkable = (op->flags & 0x4) && d2 < linkdist2;
    int link = 0;
    if (linkable)
        link = (n.outermost && !firstlevel) || n.inner >= 0;
    if (op->entry != 1) {
        toolpath_addpath(out, slot, 0, link, 1, start, *dirsign, count, verts);
    } else if (!n.outermost || n.inner != -1) {
        if (!link)
            link = nodes_enter(slot, 0, 0.0f, 0, 0, *dirsign, &start, count, verts);
        toolpath_addpath(out, slot, 0, link, 1, start, *dirsign, count, verts);
    } else {
        int from = op->dir == 2 ? *rampstart : 0;
        if (from < 0 || from >= count)
            from = 0;
        int ramplink = firstlevel ? 0 : link;
        link = nodes_enter(slot, 0, 0.0f, ramplink, ramplink, *dirsign, &from, count, verts);
        *rampstart = from;
        start = from;
        // The whole loop from the ramp's end round to it again, the ramp's
        // stretch included, so no part of the level is left uncut.
        toolpath_addpath(out, slot, 0, link, 1, start, *dirsign, count, verts);
    }
    sys_log("path #%d dist:%f max:%f direct:%s", (int)toolpaths[slot].num_paths, std::sqrt(d2), std::sqrt(linkdist2),
            link ? "true" : "false");
}

static int nodes_outputone(float out[3], camop *op, int id, int *dirsign, int *rampstart, float *last, float z,
                           int firstlevel, int lastlevel, float linkdist2, const cam_tabs *tabs, prof_node *nodes);

int cam_outputnodes(float out[3], camop *op, int node, int *dirsign, int *rampstart, const float last[3], float z,
                    int firstlevel, int lastlevel, float linkdist2, const cam_tabs *tabs, prof_node *nodes)
{
    float pos[3] = {last[0], last[1], last[2]};
    int ok = 1;
    for (int cur = node; cur >= 0 && ok;) {
        ok = nodes_outputone(pos, op, cur, dirsign, rampstart, pos, z, firstlevel, lastlevel, linkdist2, tabs, nodes);
        int nxt = nodes[cur].islands;
        if (nxt < 0 || nodes[nxt].depth >= nodes[cur].depth)
            break;
        sys_log("post-visiting subtree node[%d] depth:%d", nxt, nodes[nxt].depth);
        cur = nxt;
    }
    out[0] = pos[0];
    out[1] = pos[1];
    out[2] = pos[2];
    return ok;
}

static int nodes_outputone(float out[3], camop *op, int id, int *dirsign, int *rampstart, float *last, float z,
                           int firstlevel, int lastlevel, float linkdist2, const cam_tabs *tabs, prof_node *nodes)
{
    prof_node &n = nodes[id];
    int tabbed = tabs && tabs->top > z + 0.002f / nodes_scale();
    if (tabbed && !n.outermost)
        return 1;
    if (tabbed)
        n.inner = -2;
    auto visit = [&](int k) {
        return k < 0 || cam_outputnodes(last, op, k, dirsign, rampstart, last, z, firstlevel, lastlevel, linkdist2,
                                        tabs, nodes);
    };
    if (!visit(n.pockets))
        return 0;
    if (n.islands >= 0 && nodes[n.islands].depth >= n.depth) {
        sys_log("pre-visiting subtree node[%d] depth:%d area:%f...", n.islands, nodes[n.islands].depth,
                nodes[n.islands].area);
        if (!visit(n.islands))
            return 0;
    }
    if (!visit(n.next))
        return 0;
    if (n.inner >= 0) {
        if (!visit(n.inner))
            return 0;
        nodes_mixedflip(op, dirsign);
    }
    sys_log("outputting node[%d] verts:%d area:%f...", id, n.count, n.area);
    if (n.count < 2)
        return 1;
    for (int i = 0; i < n.count; i++)
        n.verts[i * 3 + 2] = z;
    const float *verts = n.verts;
    int count = n.count;
    std::vector<float> tabbedloop;
    if (tabbed) {
        nodes_tabulate(n, tabs, tabbedloop);
        contour *c = tabs->cont;
        c->numpolys = 0;
        c->numverts = 0;
        if (!cont_addpoly(c, tabbedloop.data(), (uint32_t)tabbedloop.size() / 3, 1, id, "cam_outputnodes")) {
            sys_log("cam_outputnodes: tabbed loop of node[%d] does not fit (%d verts)", id,
                    (int)tabbedloop.size() / 3);
            return 0;
        }
        count = (int)c->vertcount[0] - 1;
        verts = c->verts;
        sys_log("...tabulated %d verts to %d verts", n.count, count);
    }
    // A ramped outline is cut whole on every level, the last included, so
    // the last level needs no stretch of its own.
    (void)lastlevel;
    nodes_profilecut(out, op, id, dirsign, rampstart, last, firstlevel, linkdist2, count, verts, nodes);
    return 1;
}

// --- horizontal offsets -------------------------------------------------------

void cam_marksubtree(uint64_t value, horiz_node *nodes, int node)
{
    for (int n = node; n >= 0; n = nodes[n].list2) {
        nodes[n].mark = value;
        cam_marksubtree(value, nodes, nodes[n].child);
        cam_marksubtree(value, nodes, nodes[n].list4);
    }
}

struct horiz_ctx {
    camop *op;
    int *dirsign;
    horiz_node *nodes;
    float linkdist2, maxdz, maxperimarea;
    const cam_clip *clip; // rootcuts only
    int helical;          // helicalentry: choose helixes
    float helixr;
};

static void horiz_walk(horiz_ctx *w, float *pos, int relation, int first, int node, int top);

// One polyline of a node: start, link, entry, cut.
static void horiz_cutpoly(horiz_ctx *w, float *pos, int id, int first, int relation, int count, int closed,
                          const float *verts)
{
    camop *op = w->op;
    const horiz_node &n = w->nodes[id];
    int slot = op->toolpath;
    int m = closed ? count - 1 : count;
    float d2;
    int start = nodes_nearest(pos, m, verts, &d2);
    float scale = nodes_scale();
    int link = !first && nodes_linkable(op, d2, w->linkdist2, n.cutz - pos[2], w->maxdz);
    engage_cutz = link ? n.cutz : n.cutz + 0.04f / scale;
    sys_debuglog("%s = %f < %f (relate:%d)", link ? "LINK" : "RAPID", d2, w->linkdist2, relation);
    sys_log("engage cutz = %f", engage_cutz);
    int helix = 0;
    if (w->helical && op->entry == 2 && n.area > 0.0f && !n.perimeter && (n.child < 0 || !link) && closed) {
        sys_log("finding best helical entry cut position... (node:%d)", id);
        contour *maxis = cont_new();
        float best[2];
        // At Z 0 the axis's Z is the clearance radius itself.
        std::vector<float> flat(verts, verts + count * 3);
        for (int i = 0; i < count; i++)
            flat[i * 3 + 2] = 0.0f;
        if (maxis && cont_addpoly(maxis, flat.data(), count, 1, 0, "cam_helicalentry")) {
            // No inscribed circle is wider than half the ring's box; the
            // outline is sampled finely enough to place a helix.
            float lo[2] = {verts[0], verts[1]}, hi[2] = {verts[0], verts[1]};
            for (int i = 1; i < count; i++)
                for (int a = 0; a < 2; a++) {
                    lo[a] = std::min(lo[a], verts[i * 3 + a]);
                    hi[a] = std::max(hi[a], verts[i * 3 + a]);
                }
            const float span = std::max(hi[0] - lo[0], hi[1] - lo[1]);
            contour *axis = con_medialaxis(maxis, 0.5f * span + 0.0001f, 0.995f, 0.0f,
                                           std::max(w->helixr, span / 64.0f));
            if (axis && nodes_besthelix_widest(axis, m, verts, w->helixr, best))
                helix = 1;
            cont_free(axis);
        }
        cont_free(maxis);
        if (helix) {
            start = nodes_nearest(best, m, verts, &d2);
            engage_cutz = n.cutz + 0.04f / scale;
        }
    }
    if (op->entry >= 1 && m >= 2) {
        if (!helix)
            sys_log(link ? "directly ramping into cut..." : "rapiding to and ramping into cut...");
        sys_log("generating ramp for %d verts...", m);
        int entered = nodes_enter(slot, helix, w->helixr, link, link, *w->dirsign, &start, m, verts);
        if (helix && entered)
            sys_log("...created helix");
        link = entered;
    }
    nodes_logaddpath(slot, id, m, start, d2, link, closed);
    toolpath_addpath(pos, slot, 0, link, closed, start, *w->dirsign, m, verts);
}

static void horiz_cutnode(horiz_ctx *w, float *pos, int id, int first, int relation)
{
    horiz_node &n = w->nodes[id];
    if ((w->op->flags & 0x40) && n.perimeter && n.area > w->maxperimarea) {
        sys_log("skipping perimeter node[%d].area:%f (max:%f)", id, n.area, w->maxperimarea);
        n.count = 0;
        return;
    }
    sys_debuglog("keeping root node[%d].area:%f (max:%f)", id, n.area, w->maxperimarea);
    for (int i = 0; i < n.count; i++)
        n.verts[i * 3 + 2] = n.cutz;
    contour *clipped = nullptr;
    if (w->clip && w->clip->img) {
        contour *one = cont_new();
        if (one && cont_addpoly(one, n.verts, n.count, n.closed, id, "cam_rootcuts"))
            clipped = con_sampleimage(w->clip->img, one, w->clip->size, w->clip->origin);
        cont_free(one);
        if (!clipped || clipped->numpolys == 0) {
            cont_free(clipped);
            nodes_mixedflip(w->op, w->dirsign);
            n.count = 0;
            return;
        }
        const float *v = clipped->verts;
        for (uint32_t p = 0; p < clipped->numpolys; p++) {
            horiz_cutpoly(w, pos, id, first, relation, clipped->vertcount[p], clipped->closed[p], v);
            first = 0;
            v += clipped->vertcount[p] * 3;
        }
        cont_free(clipped);
    } else {
        horiz_cutpoly(w, pos, id, first, relation, n.count, n.closed, n.verts);
    }
    nodes_mixedflip(w->op, w->dirsign);
    n.count = 0;
}

static void horiz_walk(horiz_ctx *w, float *pos, int relation, int first, int node, int top)
{
    horiz_node *nodes = w->nodes;
    for (int id = node; id >= 0; id = top ? nodes[id].nextroot : -1) {
        horiz_node &n = nodes[id];
        if (n.count == 0)
            continue;
        if (n.child >= 0)
            horiz_walk(w, pos, 2, 0, n.child, 0);
        if (n.area > 0.0f && n.list2 >= 0)
            horiz_walk(w, pos, 1, 1, n.list2, 0);
        if (n.count > 0)
            horiz_cutnode(w, pos, id, first, relation);
        if (n.list4 >= 0)
            horiz_walk(w, pos, 3, 0, n.list4, 0);
        if (n.list5 >= 0)
            horiz_walk(w, pos, 5, 0, n.list5, 0);
        if (n.list3 >= 0)
            horiz_walk(w, pos, 4, 0, n.list3, 0);
        if (n.area <= 0.0f && n.list2 >= 0)
            horiz_walk(w, pos, 1, 1, n.list2, 0);
        first = 1; // every root after the first starts with a retract
    }
}

float *cam_rootcuts(float out[3], camop *op, int *dirsign, int relation, int first, const float last[3], int node,
                    horiz_node *nodes, float linkdist2, float maxdz, float maxperimarea, const cam_clip *clip)
{
    horiz_ctx w{op, dirsign, nodes, linkdist2, maxdz, maxperimarea, clip, 0, 0.0f};
    float pos[3] = {last[0], last[1], last[2]};
    horiz_walk(&w, pos, relation, first, node, 1);
    out[0] = pos[0];
    out[1] = pos[1];
    out[2] = pos[2];
    return out;
}

float *cam_helicalentry(float out[3], camop *op, int *dirsign, int relation, const float last[3], int node,
                        horiz_node *nodes, float linkdist2, float maxdz)
{
    horiz_ctx w{op, dirsign, nodes, linkdist2, maxdz, 3.4e38f, nullptr, 1, nodes_flutediameter(op) * 0.333f};
    float pos[3] = {last[0], last[1], last[2]};
    horiz_walk(&w, pos, relation, 0, node, 1);
    out[0] = pos[0];
    out[1] = pos[1];
    out[2] = pos[2];
    return out;
}

// --- offset pockets -----------------------------------------------------------

// Step 6 for one polyline of a ring.
static void pocket_cutpoly(float *pos, camop *op, const contour *maxis, int *dirsign, int id, const pocket_node &n,
                           float prevz, float joindist2, int count, int closed, const float *verts)
{
    int slot = op->toolpath;
    int m = closed ? count - 1 : count;
    float r = nodes_flutediameter(op) * 0.25f;
    int candidate = closed && m > 2;
    if (candidate && op->entry == 2 && n.inner < 0 && n.area > 0.0f && maxis) {
        sys_log("finding best helical entry cut position...");
        float best[2];
        candidate = nodes_besthelix_ring(maxis, m, verts, r, best);
        if (candidate) {
            pos[0] = best[0];
            pos[1] = best[1];
        }
    } else if (candidate && op->entry == 2 && !maxis) {
        candidate = 0;
    }
    float d2 = 9999999.0f;
    int start = 0;
    if (candidate)
        start = nodes_nearest(pos, m, verts, &d2);
    int link = 0;
    if (n.inner >= 0 && (op->flags & 0x4) && d2 < joindist2) {
        link = 1;
    } else if (op->entry != 0 && m >= 2) {
        engage_cutz = prevz + 0.04f / nodes_scale();
        sys_log("engage cutz = %f", engage_cutz);
        int helix = op->entry == 2 && candidate;
        if (helix)
            sys_log("...adding entry helix");
        int root = n.leaf && n.inner < 0 && d2 < joindist2;
        if (root)
            sys_log("node[%d].root=true distsqr=%f < maxdist=%f", id, d2, joindist2);
        link = nodes_enter(slot, helix, r, root, 0, *dirsign, &start, m, verts);
    }
    nodes_logaddpath(slot, id, m, start, d2, link, closed);
    toolpath_addpath(pos, slot, 0, link, closed, start, *dirsign, m, verts);
}

void cam_helicalentrypos(float out[3], camop *op, const contour *maxis, int *dirsign, int node, const float start[3],
                         float z, float prevz, float joindist2, pocket_node *nodes, const cam_clip *rest)
{
    if (node < 0) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    pocket_node &n = nodes[node];
    float pos[3] = {start[0], start[1], start[2]};
    if (n.inner >= 0) {
        cam_helicalentrypos(pos, op, maxis, dirsign, n.inner, start, z, prevz, joindist2, nodes, rest);
        nodes_mixedflip(op, dirsign);
    }
    for (int i = 0; i < n.count; i++)
        n.verts[i * 3 + 2] = z;
    // Without a prepared rest surface the ring is cut as traced.
    if ((op->flags & 0x1) && rest && rest->img) {
        contour *one = cont_new();
        contour *draped = nullptr;
        if (one && cont_addpoly(one, n.verts, n.count, n.closed, node, "cam_helicalentrypos"))
            draped = con_sampleimage(rest->img, one, rest->size, rest->origin);
        cont_free(one);
        if (draped) {
            const float *v = draped->verts;
            for (uint32_t p = 0; p < draped->numpolys; p++) {
                pocket_cutpoly(pos, op, nullptr, dirsign, node, n, prevz, joindist2, draped->vertcount[p],
                               draped->closed[p], v);
                v += draped->vertcount[p] * 3;
            }
            cont_free(draped);
        }
    } else if (n.count > 0) {
        pocket_cutpoly(pos, op, (op->flags & 0x1) ? nullptr : maxis, dirsign, node, n, prevz, joindist2, n.count,
                       n.closed, n.verts);
    }
    if (n.next >= 0)
        cam_helicalentrypos(pos, op, maxis, dirsign, n.next, pos, z, prevz, joindist2, nodes, rest);
    if (n.island >= 0) {
        cam_helicalentrypos(pos, op, maxis, dirsign, n.island, pos, z, prevz, joindist2, nodes, rest);
        nodes_mixedflip(op, dirsign);
    }
    out[0] = pos[0];
    out[1] = pos[1];
    out[2] = pos[2];
}

// --- trochoidal start cuts ----------------------------------------------------

void cam_addnodepaths(camop *op, startcut_node *nodes, int first)
{
    for (int i = first; i >= 0; i = nodes[i].next) {
        startcut_node &n = nodes[i];
        if (n.count && n.verts) {
            if (op->cont)
                cont_addpoly(op->cont, n.verts, n.count, 0, -1, "cam_addnodepaths");
            if (n.count >= 2) {
                float end[3];
                toolpath_addpath(end, op->toolpath, 0, (int)n.link, 0, 0, 1, (int)n.count, n.verts);
            }
            free(n.verts);
            n.verts = nullptr;
        }
        if (n.child >= 0)
            cam_addnodepaths(op, nodes, n.child);
    }
}
