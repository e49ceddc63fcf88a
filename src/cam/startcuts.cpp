// Trochoidal start cuts. The cut map holds per cell how far inside the
// discs cut so far it lies (negative outside them); a loop at a medial-axis
// point sweeps the circle of that point's clearance and keeps only the arcs
// over cells still below 0, so no arc re-cuts cleared floor and none cuts
// deeper into material than the walk's advance.
#include "cam/startcuts.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/nodewalk.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/poly.h"
#include "img/image.h"
#include "img/resample.h"
#include "sys/config.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

float startcut_heading = 0.0f;
int startcut_treenodes = startcut_maxnodes;

namespace {

constexpr float sc_deg = 3.14159265f / 180.0f;
constexpr int sc_maxloops = 100000; // loops at one vertex: far above what any advance needs

struct sc_run {
    camop *op;
    int slot;
    float scale;
    float A;
    float step;
    float z;
    float cell;
    float mapo[3]; // world of cut-map cell (0, 0)
    image *cuts = nullptr;
    startcut_node nodes[startcut_maxnodes];
    int numnodes = 0;
    std::vector<int> prevarcs, arcs; // arcs: this loop's, in the current tree
    int made = 0;                    // arcs this loop made, in any tree
    int trees = 0;
    int loops = 0;
};

float sc_wrap360(float a)
{
    a = std::fmod(a, 360.0f);
    return a < 0.0f ? a + 360.0f : a;
}

float sc_wrap180(float a)
{
    a = sc_wrap360(a);
    return a > 180.0f ? a - 360.0f : a;
}

float sc_sample(const sc_run &r, float x, float y)
{
    return img_samplescalar(r.cuts, (x - r.mapo[0]) / r.cell, (y - r.mapo[1]) / r.cell);
}

void sc_disc(sc_run &r, float x, float y, float rad)
{
    float pt[3] = {x, y, rad};
    const float size[3] = {r.cuts->width * r.cell, r.cuts->height * r.cell, 0.0f};
    poly_maxdistpoint(r.cuts, size, r.mapo, pt);
}

void sc_resettree(sc_run &r)
{
    std::memset(r.nodes, 0, sizeof(r.nodes));
    r.nodes[0].next = -1;
    r.nodes[0].child = -1;
    r.nodes[0].midangle = 180.0f;
    r.nodes[0].halfsweep = 180.0f;
    r.numnodes = 1;
    r.prevarcs.clear();
}

// Cuts what the tree holds and starts an empty one.
void sc_emit(sc_run &r)
{
    if (r.numnodes > 1) {
        cam_addnodepaths(r.op, r.nodes, 0);
        r.trees++;
    }
    sc_resettree(r);
}

// Puts a finished arc into the tree under the previous loop's arc it
// overlaps most (the root when the tree holds no loop yet).
void sc_addarc(sc_run &r, std::vector<float> &v, float start, float t, float heading, int s, int link, float rad)
{
    const float sweep = sc_wrap360(t - start);
    const float half = 0.5f * sweep;
    if (v.size() < 9 || half * rad <= 1.0f)
        return;
    if (r.numnodes >= std::clamp(startcut_treenodes, 2, startcut_maxnodes)) {
        // Emit what the tree holds rather than write past the table; the
        // arc then starts the next tree under its root. This loop's arcs
        // so far went with the tree: none of them can be a parent now.
        sys_log("cam_startcuts: arc tree full, emitting %d arcs", r.numnodes - 1);
        sc_emit(r);
        r.arcs.clear();
    }
    const float mid = sc_wrap360((float)s * (start + half) + heading);
    int parent = 0;
    float best = -99999.0f;
    for (int k : r.prevarcs) {
        const startcut_node &p = r.nodes[k];
        const float score = (p.halfsweep + half - std::fabs(sc_wrap180(p.midangle - mid))) / half;
        if (score > best) {
            best = score;
            parent = k;
        }
    }
    float *verts = (float *)std::malloc(v.size() * sizeof(float));
    if (!verts) {
        sys_log("cam_startcuts: no memory for an arc of %d verts", (int)(v.size() / 3));
        return;
    }
    std::memcpy(verts, v.data(), v.size() * sizeof(float));
    const int n = r.numnodes++;
    startcut_node &node = r.nodes[n];
    node.next = r.nodes[parent].child;
    node.child = -1;
    node.count = (uint32_t)(v.size() / 3);
    node.verts = verts;
    node.midangle = mid;
    node.halfsweep = half;
    node.link = (uint32_t)link;
    r.nodes[parent].child = n;
    r.arcs.push_back(n);
    r.made++;
}

struct sc_loopstate {
    float c[2];  // previous loop centre
    float cz;    // its clearance
    int have;    // a previous loop exists
};

// One loop at p of clearance rad; returns the arcs it made.
int sc_loop(sc_run &r, sc_loopstate &ls, const float *p, float rad, float w, int *dirsign)
{
    const float rho = std::fmax(w, ls.have ? 0.5f * (rad + ls.cz) : rad);
    const float dx = ls.c[0] - p[0], dy = ls.c[1] - p[1];
    const int linked = ls.have && std::hypot(dx, dy) < 1.5f * rho;
    float heading = startcut_heading;
    if (linked) {
        if (std::fabs(dx) < 1e-7f && dy > 0.9999999f) {
            heading = 0.0f;
        } else if (std::fabs(dy) < 1e-12f) {
            heading = dx > 0.0f ? 270.0f : 90.0f;
        } else {
            heading = std::atan(-dx / dy) / sc_deg;
            if (dy < 0.0f)
                heading += 180.0f;
            if (heading < 0.0f)
                heading += 360.0f;
        }
        startcut_heading = heading;
    } else {
        sc_emit(r);
    }
    const int s = *dirsign >= 0 ? 1 : -1;
    const float a = r.A / (r.scale * rad + 1.0f);
    r.arcs.clear();
    r.made = 0;
    std::vector<float> v;
    float end = 1080.0f, start = 0.0f;
    int inarc = 0, opened = 0;
    float prev[3] = {0, 0, 0};
    int prevcut = 1;
    float t = 0.0f;
    for (int i = 0; t <= end + 0.5f * a; i++, t = (float)i * a) {
        const float ang = ((float)s * t + heading) * sc_deg;
        const float q[3] = {p[0] - std::sin(ang) * rad, p[1] + std::cos(ang) * rad, r.z};
        const int cut = sc_sample(r, q[0], q[1]) >= 0.0f;
        if (i > 0 && prevcut && !cut) {
            v.clear();
            if (!linked)
                v.insert(v.end(), {0.2f * p[0] + 0.8f * prev[0], 0.2f * p[1] + 0.8f * prev[1], r.z});
            v.insert(v.end(), prev, prev + 3);
            v.insert(v.end(), q, q + 3);
            start = t;
            inarc = 1;
            if (!opened)
                end = t + 360.0f - a;
            opened = 1;
        } else if (inarc && !cut) {
            v.insert(v.end(), q, q + 3);
        } else if (inarc && cut) {
            v.insert(v.end(), q, q + 3);
            sc_addarc(r, v, start, t, heading, s, linked, rad);
            inarc = 0;
        }
        std::memcpy(prev, q, sizeof(prev));
        prevcut = cut;
        if (!opened && t >= 1080.0f)
            break;
    }
    if (inarc)
        sc_addarc(r, v, start, t, heading, s, linked, rad);
    sc_disc(r, p[0], p[1], rad);
    r.loops++;
    const int made = r.made;
    if (made) {
        if (r.op->dir == 2)
            *dirsign = -*dirsign;
        ls.c[0] = p[0];
        ls.c[1] = p[1];
        ls.cz = rad;
        ls.have = 1;
        if (made == 1)
            sc_emit(r);
        else
            r.prevarcs = r.arcs;
    }
    return made;
}

// The uncut width at a point: its clearance less how deep the cuts reach.
float sc_uncut(const sc_run &r, const float *v)
{
    return v[2] - sc_sample(r, v[0], v[1]);
}

float sc_need(float z, float step)
{
    return z >= step ? step : std::fmax(z, 0.5f * step);
}

// The point at t of the way from a to b with the clearance it surely has:
// a clearance changes no faster than the distance moved, so the larger of
// the two ends' clearances less the distance to each. Interpolating it
// instead would let a loop between two wide vertices reach across a
// narrowing between them (a wall's corner, a peninsula) into the wall.
void sc_between(float *q, const float *a, const float *b, float t)
{
    q[0] = a[0] + (b[0] - a[0]) * t;
    q[1] = a[1] + (b[1] - a[1]) * t;
    const float da = std::hypot(q[0] - a[0], q[1] - a[1]), db = std::hypot(q[0] - b[0], q[1] - b[1]);
    q[2] = std::fmax(0.0f, std::fmax(a[2] - da, b[2] - db));
}

// Walks one medial-axis polyline from vertex first on, looping wherever the
// uncut width reaches the stepover; the point of each loop is backed off
// toward the last loop (or vertex) to where the uncut width just reaches it.
void sc_walk(sc_run &r, sc_loopstate &ls, const float *pv, int n, int first, int *dirsign)
{
    float from[3];
    std::memcpy(from, pv + first * 3, sizeof(from));
    for (int k = 0; k < n; k++) {
        const float *v = pv + ((first + k) % n) * 3;
        for (int guard = 0; guard < sc_maxloops; guard++) {
            const float w = sc_need(v[2], r.step);
            if (sc_uncut(r, v) < w)
                break;
            float p[3];
            if (k == 0 && guard == 0) {
                std::memcpy(p, v, sizeof(p));
            } else {
                float lo = 0.0f, hi = 1.0f;
                for (int h = 0; h < 12; h++) {
                    const float mid = 0.5f * (lo + hi);
                    float q[3];
                    sc_between(q, from, v, mid);
                    if (sc_uncut(r, q) >= sc_need(q[2], r.step))
                        hi = mid;
                    else
                        lo = mid;
                }
                sc_between(p, from, v, hi);
                if (hi >= 0.99975586f && guard > 0)
                    std::memcpy(p, v, sizeof(p)); // the last stretch: loop at the vertex itself
            }
            sc_loop(r, ls, p, p[2], sc_need(p[2], r.step), dirsign);
            std::memcpy(from, p, sizeof(from));
        }
        std::memcpy(from, v, sizeof(from));
    }
}

// The opening: helix (entry 2) down to the level, spiral out to radius R
// one stepover per turn, one closing circle.
void sc_opening(sc_run &r, const float *c, float R, int s, float zprev)
{
    std::vector<float> buf;
    buf.reserve(16384 * 3);
    float radius = 0.0f, angle = 0.0f;
    engage_cutz = zprev + 0.04f / r.scale;
    sys_log("engage cutz = %f", engage_cutz);
    if (r.op->entry == 2) {
        sys_log("generating helical entry cut...");
        const float h = std::fmin(0.666f * r.step, R);
        const float ah = 2.0f * r.A / (r.scale * h + 1.0f);
        const float drop = 3.14159265f * 2.0f * h * ah / 360.0f * engage_slope;
        int made = 0;
        if (drop > 0.0f && std::isfinite(drop)) {
            for (float hz = engage_cutz; hz > r.z; hz -= drop) {
                angle += ah;
                const float a = (float)s * angle * sc_deg;
                buf.insert(buf.end(), {c[0] - std::sin(a) * h, c[1] + std::cos(a) * h, hz});
                made++;
            }
        }
        sys_log("...%d helix entry verts", made);
        if (made)
            radius = h;
        else
            angle = 0.0f;
    }
    sys_log("generating spiral start cut...");
    float a = r.A / (r.scale * radius + 1.0f);
    while (radius < R) {
        const float ang = (float)s * angle * sc_deg;
        buf.insert(buf.end(), {c[0] - std::sin(ang) * radius, c[1] + std::cos(ang) * radius, r.z});
        a = r.A / (r.scale * radius + 1.0f);
        angle += a;
        radius += a / 360.0f * r.step;
    }
    sys_log("generating circle cut... (%d verts)", (int)(buf.size() / 3));
    for (float t = 0.0f; t <= 360.0f; t += a) {
        const float ang = (float)s * (angle + t) * sc_deg;
        buf.insert(buf.end(), {c[0] - std::sin(ang) * R, c[1] + std::cos(ang) * R, r.z});
    }
    sys_log("adding cuts... (%d verts)", (int)(buf.size() / 3));
    if (buf.size() / 3 != 1) {
        float out[3];
        toolpath_addpath(out, r.slot, 0, 0, 0, 0, 1, (int)(buf.size() / 3), buf.data());
        if (r.op->cont)
            cont_addpoly(r.op->cont, buf.data(), (uint32_t)(buf.size() / 3), 0, -1, "cam_startcuts");
    }
}

// The cells of the working box's cut map (x0, y0, x1, y1; at least one)
// that the pocket can touch. Every loop and every sample lies within the
// clearance of some axis vertex, so the map need only cover those discs
// (and a cell more for the bilinear samples); a map of the whole canvas
// per pocket, raised at every loop, made many small pockets cost as many
// canvases.
void sc_mapbox(const contour *m, const float *mapo, float cell, const float *size, int *box)
{
    const int mw = std::max(1, (int)std::ceil(size[0] / cell)), mh = std::max(1, (int)std::ceil(size[1] / cell));
    float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f};
    for (uint32_t i = 0; i < m->numverts; i++) {
        const float *v = m->verts + i * 3, z = std::fmax(v[2], 0.0f);
        for (int k = 0; k < 2; k++) {
            lo[k] = std::fmin(lo[k], v[k] - z);
            hi[k] = std::fmax(hi[k], v[k] + z);
        }
    }
    const int n[2] = {mw, mh};
    for (int k = 0; k < 2; k++) {
        const float a = (lo[k] - mapo[k]) / cell - 2.0f, b = (hi[k] - mapo[k]) / cell + 3.0f;
        int i0 = std::isfinite(a) ? (int)std::clamp(std::floor(a), 0.0f, (float)n[k] - 1.0f) : 0;
        int i1 = std::isfinite(b) ? (int)std::clamp(std::ceil(b), 0.0f, (float)n[k]) : n[k];
        if (i1 <= i0)
            i1 = i0 + 1;
        box[k] = i0;
        box[k + 2] = i1;
    }
}

// The vertex with the largest clearance (the first of equal ones).
int sc_widest(const contour *m, int *poly, int *vert)
{
    float best = -1e30f;
    int found = 0;
    const float *v = m->verts;
    for (uint32_t p = 0; p < m->numpolys; v += m->vertcount[p] * 3, p++)
        for (uint32_t i = 0; i < m->vertcount[p]; i++)
            if (v[i * 3 + 2] > best) {
                best = v[i * 3 + 2];
                *poly = (int)p;
                *vert = (int)i;
                found = 1;
            }
    return found;
}

} // namespace

int cam_startcuts(camop *op, const contour *maxis, const float *size, const float *origin, int *dirsign, float step,
                  float z, float zprev, float cell)
{
    const float A = cfg_getf(cfg_trochoidstep);
    if (!(A > 0.0f) || !std::isfinite(A)) {
        sys_log("cam_startcuts: angular step %f must be above 0", A);
        return 0;
    }
    if (!(step > 0.0f) || !(cell > 0.0f) || !std::isfinite(step) || !std::isfinite(cell)) {
        sys_log("cam_startcuts: stepover %f and cell %f must be above 0", step, cell);
        return 0;
    }
    int cp = 0, cv = 0;
    if (!maxis || !sc_widest(maxis, &cp, &cv))
        return 1;
    sc_run *r = new (std::nothrow) sc_run;
    if (!r) {
        sys_log("cam_startcuts: no memory for the start-cut tree");
        return 0;
    }
    r->op = op;
    r->slot = op->toolpath;
    r->scale = img_refscale > 0.0f ? img_refscale : 1.0f;
    r->A = A;
    r->step = step;
    r->z = z;
    r->cell = cell;
    r->mapo[0] = -origin[0];
    r->mapo[1] = -origin[1];
    r->mapo[2] = 0.0f;
    uint32_t first = 0;
    for (int p = 0; p < cp; p++)
        first += maxis->vertcount[p];
    const float *cv3 = maxis->verts + (first + cv) * 3;
    const float c[2] = {cv3[0], cv3[1]};
    const float R = cv3[2];
    sys_log("vert[%d] %fx%f spiralrad:%f", (int)(first + cv), c[0], c[1], R);
    const int s = *dirsign >= 0 ? 1 : -1;
    sc_opening(*r, c, R, s, zprev);
    int box[4];
    sc_mapbox(maxis, r->mapo, cell, size, box);
    const int mw = box[2] - box[0], mh = box[3] - box[1];
    r->mapo[0] += (float)box[0] * cell;
    r->mapo[1] += (float)box[1] * cell;
    r->cuts = img_allocfloat("cuts", mw, mh);
    if (!r->cuts) {
        sys_log("cam_startcuts: no cut map of %dx%d", mw, mh);
        delete r;
        return 0;
    }
    std::fill_n((float *)r->cuts->pixels, (size_t)r->cuts->width * r->cuts->height, -100000000.0f);
    sc_disc(*r, c[0], c[1], R);
    sc_resettree(*r);
    sys_log("walking %d maxis polys...", (int)maxis->numpolys);
    sc_loopstate ls{{c[0], c[1]}, R, 1};
    int walked = 0, verts = 0;
    // The spiral's polyline first, from its centre on; the others from
    // where they touch the cuts, once the cuts reach within S of them.
    std::vector<uint32_t> starts(maxis->numpolys);
    for (uint32_t p = 0, o = 0; p < maxis->numpolys; o += maxis->vertcount[p], p++)
        starts[p] = o;
    sc_walk(*r, ls, maxis->verts + starts[cp] * 3, (int)maxis->vertcount[cp], cv, dirsign);
    walked++;
    verts += (int)maxis->vertcount[cp];
    for (uint32_t p = 0; p < maxis->numpolys; p++) {
        if ((int)p == cp || maxis->vertcount[p] == 0)
            continue;
        const float *pv = maxis->verts + starts[p] * 3;
        const int n = (int)maxis->vertcount[p];
        int best = -1;
        float bestcut = -1e30f;
        for (int i = 0; i < n; i++) {
            const float cut = sc_sample(*r, pv[i * 3], pv[i * 3 + 1]);
            if (cut > bestcut) {
                bestcut = cut;
                best = i;
            }
        }
        if (best < 0 || pv[best * 3 + 2] - bestcut > step) {
            sys_log("island poly[%d] surrounded by cuts!", (int)p);
            continue;
        }
        sys_debuglog(" poly[%d] start = vert[%d] %f,%f,%f dist:%f", (int)p, best, pv[best * 3], pv[best * 3 + 1],
                     pv[best * 3 + 2], bestcut);
        sc_walk(*r, ls, pv, n, best, dirsign);
        walked++;
        verts += n;
    }
    sc_emit(*r);
    sys_log("...walked %d medial-axis polys (%d verts)", walked, verts);
    sys_log("...%d loops in %d arc trees", r->loops, r->trees);
    img_free(r->cuts);
    delete r;
    return 1;
}
