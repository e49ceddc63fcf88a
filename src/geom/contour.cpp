// Contour records: allocation with the full vertex buffer, the one checked
// append every producer goes through, nearest-next ordering, bridges between
// outlines and holes, and the two producers that start from the canvas: the
// iso-line of a field and the closed curves of the paths-layers.
#include "geom/contour.h"

#include "geom/path.h"
#include "geom/poly.h"
#include "img/contour.h"
#include "project/layer.h"
#include "project/transform.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

int cont_count = 0;
int cont_polyroom = cont_maxpolys;

// Contours are made and freed on workers and the main thread alike.
static void cont_countadd(int n)
{
    std::atomic_ref<int>(cont_count).fetch_add(n);
}

contour *cont_new()
{
    contour *c = (contour *)sys_calloc(1, sizeof(contour));
    if (!c) {
        sys_error("cont_new: failed to allocate contour");
        return nullptr;
    }
    c->verts = (float *)sys_malloc(cont_maxverts * 3 * (int32_t)sizeof(float));
    if (!c->verts) {
        sys_error("cont_new: failed to allocate vertices array");
        sys_free(c);
        return nullptr;
    }
    cont_countadd(1);
    return c;
}

void cont_free(contour *c)
{
    if (!c)
        return;
    sys_free(c->verts);
    sys_free(c);
    cont_countadd(-1);
}

// ---------------------------------------------------------------- appending

// Recounts a numverts of 0 from the polylines' counts.
static void cont_recount(contour *c)
{
    if (c->numverts)
        return;
    uint64_t sum = 0;
    for (uint32_t i = 0; i < c->numpolys && i < (uint32_t)cont_maxpolys; i++)
        sum += c->vertcount[i];
    c->numverts = (uint32_t)std::min<uint64_t>(sum, UINT32_MAX);
}

static bool cont_hasroom(contour *c, uint64_t polys, uint64_t verts, const char *caller)
{
    cont_recount(c);
    const int room = std::clamp(cont_polyroom, 1, cont_maxpolys);
    if (c->numpolys + polys > (uint64_t)room || c->numverts + verts > (uint64_t)cont_maxverts) {
        sys_log("%s: contour full at %u polylines, %u verts; %llu more verts refused", caller, c->numpolys,
                c->numverts, (unsigned long long)verts);
        return false;
    }
    return true;
}

int cont_addpoly(contour *c, const float *verts, uint32_t count, uint32_t closed, int32_t link, const char *caller)
{
    if (count == 0) {
        sys_log("%s: polyline without points refused", caller);
        return 0;
    }
    if (!cont_hasroom(c, 1, count, caller))
        return 0;
    uint32_t i = c->numpolys;
    c->vertcount[i] = count;
    c->closed[i] = closed;
    c->link[i] = link;
    memcpy(c->verts + 3 * (size_t)c->numverts, verts, (size_t)count * 3 * sizeof(float));
    c->numpolys++;
    c->numverts += count;
    return 1;
}

uint32_t con_append(contour *src, contour *dst)
{
    if (src->numpolys == 0) {
        sys_debuglog("con_append: src contour has no polylines!");
        return 0;
    }
    cont_recount(src);
    if (src->numverts == 0) {
        sys_debuglog("con_append: src contour has no verts!");
        return 0;
    }
    if (src->numpolys > (uint32_t)cont_maxpolys || src->numverts > (uint32_t)cont_maxverts ||
        !cont_hasroom(dst, src->numpolys, src->numverts, "con_append"))
        return 0;
    const uint32_t at = dst->numpolys;
    memcpy(dst->vertcount + at, src->vertcount, src->numpolys * sizeof(uint32_t));
    memcpy(dst->link + at, src->link, src->numpolys * sizeof(int32_t));
    memcpy(dst->closed + at, src->closed, src->numpolys * sizeof(uint32_t));
    memcpy(dst->verts + 3 * (size_t)dst->numverts, src->verts, (size_t)src->numverts * 3 * sizeof(float));
    dst->numpolys += src->numpolys;
    dst->numverts += src->numverts;
    return src->numverts;
}

float cont_polyarea(const float *v, uint32_t count)
{
    if (count < 2)
        return 0.0f;
    double sum = 0.0;
    for (uint32_t j = 0; j + 1 < count; j++)
        sum += (double)v[3 * j + 3] * v[3 * j + 1] - (double)v[3 * j] * v[3 * j + 4];
    return (float)(0.5 * sum);
}

// ---------------------------------------------------------------- ordering

// First point of each polyline of c.
static std::vector<uint32_t> cont_starts(const contour *c)
{
    std::vector<uint32_t> first(c->numpolys);
    uint32_t at = 0;
    for (uint32_t i = 0; i < c->numpolys; i++) {
        first[i] = at;
        at += c->vertcount[i];
    }
    return first;
}

// The unused polyline nearest to (px, py) and its entry point; -1 when none
// lies nearer than 1e11 (squared).
static int cont_nearest(const contour *src, const std::vector<uint32_t> &first, float px, float py, uint32_t *entry)
{
    float best = 1e11f;
    int chosen = -1;
    for (uint32_t i = 0; i < src->numpolys; i++) {
        if (src->link[i] != 0 || src->vertcount[i] == 0)
            continue;
        uint32_t n = src->closed[i] ? src->vertcount[i] : 1;
        for (uint32_t j = 0; j < n; j++) {
            const float *v = src->verts + 3 * (size_t)(first[i] + j);
            float dx = v[0] - px, dy = v[1] - py, d = dx * dx + dy * dy;
            if (d < best) {
                best = d;
                chosen = (int)i;
                *entry = j;
            }
        }
    }
    return chosen;
}

contour *cont_newfrompolys(contour *src, float *point)
{
    contour *out = cont_new();
    if (!out || src->numpolys == 0)
        return out;
    const std::vector<uint32_t> first = cont_starts(src);
    for (uint32_t i = 0; i < src->numpolys; i++)
        src->link[i] = 0;
    std::vector<float> turned;
    for (uint32_t pass = 0; pass < src->numpolys; pass++) {
        uint32_t s = 0;
        int i = cont_nearest(src, first, point[0], point[1], &s);
        if (i < 0)
            continue;
        const uint32_t n = src->vertcount[i];
        const float *v = src->verts + 3 * (size_t)first[i];
        sys_debuglog("adding poly[%d] verts:%u start:%u (%f,%f) to (%f,%f)", i, n, s, v[3 * s], v[3 * s + 1],
                     point[0], point[1]);
        const float *copy = v, *end = v + 3 * (size_t)(n - 1);
        if (s > 0) {
            // Points s .. n-2, then 0 .. s: the ring begins and ends at s.
            turned.assign(v + 3 * (size_t)s, v + 3 * (size_t)(n - 1));
            turned.insert(turned.end(), v, v + 3 * (size_t)(s + 1));
            copy = turned.data();
            end = v + 3 * (size_t)s;
        }
        if (!cont_addpoly(out, copy, n, s > 0 ? 1 : src->closed[i], -1, "cont_newfrompolys"))
            break;
        out->link[out->numpolys - 1] = i;
        src->link[i] = 1;
        memcpy(point, end, 3 * sizeof(float));
    }
    return out;
}

// ---------------------------------------------------------------- bridging

// Quadrant of (x, y) around (px, py), numbered counter-clockwise.
static int cont_quadrant(float x, float y, float px, float py)
{
    bool right = x > px, up = y > py;
    return up ? (right ? 0 : 1) : (right ? 3 : 2);
}

// Winding by quadrant changes: a full turn about the point sums to +-4. A
// step across two quadrants counts +-2 by the side the step passes the point.
bool cont_contains(const float *v, uint32_t count, float px, float py)
{
    if (count < 2)
        return false;
    int total = 0, q = cont_quadrant(v[0], v[1], px, py);
    for (uint32_t j = 1; j < count; j++) {
        const float *a = v + 3 * (j - 1), *b = v + 3 * j;
        int r = cont_quadrant(b[0], b[1], px, py), d = r - q;
        if (d == 3)
            d = -1;
        else if (d == -3)
            d = 1;
        else if (d == 2 || d == -2) {
            double cross = ((double)a[0] - px) * ((double)b[1] - py) - ((double)a[1] - py) * ((double)b[0] - px);
            d = cross > 0 ? 2 : -2;
        }
        total += d;
        q = r;
    }
    return std::abs(total) == 4;
}

namespace {

// One polyline of the ascending-area working set.
struct bridge_poly {
    uint32_t src;   // index in the source contour
    const float *v; // its points
    uint32_t n;
    float area;
    int32_t link; // polyline of the working set it is bridged to, -1 none
};

struct bridge_hit {
    float r = 3.4e38f;
    float to[3] = {0, 0, 0};
    int target = -1;
};

} // namespace

// May polyline i be bridged to k (by their areas and containment)?
static bool bridge_candidate(const bridge_poly &i, const bridge_poly &k)
{
    if (k.n < 2)
        return false;
    if (i.area > 0)
        return k.area <= 0 && std::fabs(k.area) <= i.area && cont_contains(i.v, i.n, k.v[0], k.v[1]);
    if (k.area > 0)
        return k.area >= std::fabs(i.area) && cont_contains(k.v, k.n, i.v[0], i.v[1]);
    return !cont_contains(k.v, k.n, i.v[0], i.v[1]) && !cont_contains(i.v, i.n, k.v[0], k.v[1]);
}

// Smallest radius of a circle tangent at the origin of frame (u along the
// base segment, v along its normal, centre (0, r)) that touches the segment
// a-b, with the touching point; false when none does.
static bool bridge_touch(const double *a, const double *b, double *r, int *end, double *tu)
{
    const double du = b[0] - a[0], dv = b[1] - a[1];
    bool found = false;
    auto take = [&](double radius, int which, double u) {
        if (radius >= 0 && (!found || radius < *r)) {
            *r = radius;
            *end = which;
            *tu = u;
            found = true;
        }
    };
    if (a[1] > 0.0001)
        take((a[0] * a[0] + a[1] * a[1]) / (2 * a[1]), 0, a[0]);
    if (b[1] > 0.0001)
        take((b[0] * b[0] + b[1] * b[1]) / (2 * b[1]), 1, b[0]);
    const double lo = std::min(a[1], b[1]), hi = std::max(a[1], b[1]);
    if (std::fabs(du) < 0.0001 && std::fabs(dv) > 0.0001) {
        double u = std::fabs(a[0]);
        if (u >= lo && u <= hi)
            take(u, 2, a[0]);
    } else if (std::fabs(dv) < 0.0001 && std::fabs(du) > 0.0001) {
        if (std::min(a[0], b[0]) <= 0 && std::max(a[0], b[0]) >= 0 && a[1] > 0.0001)
            take(a[1] / 2, 2, 0);
    } else if (std::fabs(du) >= 0.0001 && std::fabs(dv) >= 0.0001) {
        // The circle tangent to the segment's line: the distance from the
        // centre (0, r) to the line equals r, for either side of the line.
        const double len = std::sqrt(du * du + dv * dv), nu = -dv / len, nv = du / len;
        const double c = nu * a[0] + nv * a[1];
        for (double sign : {1.0, -1.0}) {
            double den = nv - sign;
            if (std::fabs(den) < 1e-12)
                continue;
            double radius = c / den, off = nv * radius - c, u = -off * nu;
            if (u >= std::min(a[0], b[0]) && u <= std::max(a[0], b[0]))
                take(radius, 2, u);
        }
    }
    return found;
}

// The nearest touch over every segment of candidate k from base point m with
// unit direction d and normal nrm.
static void bridge_against(const bridge_poly &k, int kindex, const float *m, const double *d, const double *nrm,
                           bridge_hit &hit)
{
    for (uint32_t j = 0; j + 1 < k.n; j++) {
        const float *q0 = k.v + 3 * j, *q1 = q0 + 3;
        double a[2] = {(q0[0] - m[0]) * d[0] + (q0[1] - m[1]) * d[1], (q0[0] - m[0]) * nrm[0] + (q0[1] - m[1]) * nrm[1]};
        double b[2] = {(q1[0] - m[0]) * d[0] + (q1[1] - m[1]) * d[1], (q1[0] - m[0]) * nrm[0] + (q1[1] - m[1]) * nrm[1]};
        double r;
        int end;
        double u;
        if (!bridge_touch(a, b, &r, &end, &u) || !(r < hit.r))
            continue;
        hit.r = (float)r;
        hit.target = kindex;
        const float *p = end == 0 ? q0 : q1;
        if (end == 2) {
            hit.to[0] = 0.5f * (q0[0] + q1[0]);
            hit.to[1] = 0.5f * (q0[1] + q1[1]);
            hit.to[2] = k.v[2];
        } else
            memcpy(hit.to, p, sizeof(hit.to));
    }
}

// Does the chain of links from k come back to i?
static bool bridge_loops(const std::vector<bridge_poly> &w, int k, int i)
{
    for (size_t steps = 0; k >= 0 && steps <= w.size(); steps++, k = w[k].link)
        if (k == i)
            return true;
    return false;
}

// Sorts the closed polylines by ascending absolute area; one of several with
// the same absolute area (the highest index) takes part.
static std::vector<bridge_poly> bridge_sort(contour *src, std::span<const float> area)
{
    const std::vector<uint32_t> first = cont_starts(src);
    std::vector<bridge_poly> w;
    float last = 0.0f;
    for (uint32_t pass = 0; pass < src->numpolys; pass++) {
        int take = -1;
        for (uint32_t i = 0; i < src->numpolys; i++) {
            float a = std::fabs(area[i]);
            if (src->closed[i] && a > last && (take < 0 || a <= std::fabs(area[take])))
                take = (int)i;
        }
        if (take < 0) {
            sys_log("skipping poly[%u]...", pass);
            continue;
        }
        last = std::fabs(area[take]);
        w.push_back({(uint32_t)take, src->verts + 3 * (size_t)first[take], src->vertcount[take], area[take], -1});
        sys_log("...added poly[%d] area=%f", take, area[take]);
    }
    return w;
}

// The bridge of working polyline i: over its segments, the smallest circle.
static void bridge_one(std::vector<bridge_poly> &w, int i, contour *out)
{
    const bridge_poly &p = w[i];
    bridge_hit best;
    float from[3] = {0, 0, 0};
    for (uint32_t j = 0; j + 1 < p.n; j++) {
        const float *a = p.v + 3 * j, *b = a + 3;
        double dx = (double)b[0] - a[0], dy = (double)b[1] - a[1], len = std::sqrt(dx * dx + dy * dy);
        if (len < 0.0001) {
            sys_log("SKIPPING POLY[%d] SEG[%u]", i, j);
            continue;
        }
        const float m[3] = {0.5f * (a[0] + b[0]), 0.5f * (a[1] + b[1]), 0.5f * (a[2] + b[2])};
        const double d[2] = {dx / len, dy / len}, nrm[2] = {dy / len, -dx / len};
        bridge_hit hit;
        for (int k = 0; k < (int)w.size(); k++)
            if (k != i && bridge_candidate(p, w[k]))
                bridge_against(w[k], k, m, d, nrm, hit);
        if (hit.target < 0 || bridge_loops(w, hit.target, i) || !(hit.r < best.r))
            continue;
        best = hit;
        memcpy(from, m, sizeof(from));
    }
    if (best.target < 0)
        return;
    const bridge_poly &t = w[best.target];
    sys_log("bridged poly%d.verts%u area:%3.4f -> poly%d.verts%u area:%3.4f (rad:%f) ( %3.4f %3.4f )->( %3.4f "
            "%3.4f )",
            i, p.n, p.area, best.target, t.n, t.area, best.r, from[0], from[1], best.to[0], best.to[1]);
    const float seg[6] = {from[0], from[1], from[2], best.to[0], best.to[1], best.to[2]};
    if (cont_addpoly(out, seg, 2, 0, -1, "con_bridgepolys"))
        w[i].link = best.target;
}

contour *con_bridgepolys(contour *src)
{
    float *buffer = (float *)sys_malloc((int32_t)(std::max(src->numpolys, 1u) * sizeof(float)));
    if (!buffer) {
        sys_error("con_bridgepolys: failed to allocate polyline area buffer!");
        return nullptr;
    }
    std::span<float> area(buffer, src->numpolys);
    const std::vector<uint32_t> first = cont_starts(src);
    for (uint32_t i = 0; i < src->numpolys; i++) {
        src->link[i] = -1;
        area[i] = cont_polyarea(src->verts + 3 * (size_t)first[i], src->vertcount[i]);
        sys_log(" poly[%u].verts:%u area:%f", i, src->vertcount[i], area[i]);
    }
    std::vector<bridge_poly> w = bridge_sort(src, area);
    sys_free(buffer);
    contour *out = cont_new();
    if (!out)
        return nullptr;
    uint32_t verts = 0;
    for (const bridge_poly &p : w)
        verts += p.n;
    sys_debuglog("con_bridgepolys: %d polys, %u verts", (int)w.size(), verts);
    for (int i = 0; i < (int)w.size(); i++) {
        if (w[i].n <= 4) {
            sys_debuglog("SKIPPING SMALL POLY[%d]", i);
            continue;
        }
        bridge_one(w, i, out);
    }
    return out;
}

// ---------------------------------------------------------------- producers

static bool cont_finitefield(const image *img)
{
    const float *p = (const float *)img->pixels;
    const size_t n = (size_t)img->width * img->height;
    for (size_t i = 0; i < n; i++)
        if (!std::isfinite(p[i]))
            return false;
    return true;
}

contour *cont_fromimage(const image *img, float t, const float *scale, const float *offset, float dotmin,
                        float lenmin, float lenmax, int smooth)
{
    if (!img_isscalar(img, "cont_fromimage"))
        return cont_new();
    if (!cont_finitefield(img)) {
        sys_log("cont_fromimage: \"%s\" holds values that are not finite; nothing traced", img->name);
        return cont_new();
    }
    contour *c = img_contour(img, t, scale, offset, dotmin, lenmin, lenmax, smooth ? 1 : 0);
    return c ? c : cont_new();
}

// The closed curves of one paths-layer, mapped and thinned, appended to out.
static void cont_layercurves(int slot, contour *out)
{
    const project_layer &l = project.layers[slot];
    const float canvas = project.size[0] + project.size[1];
    const float span = std::max(l.size[0] + l.size[1], 0.0001f);
    const float k = project.scale > 0 ? project.scale : 1.0f;
    const path *p = l.data.pth;
    for (int c = p->ctail, n = 0; c >= 0; c = p->curves[c].next, n++) {
        if (!p->curves[c].closed) {
            sys_debuglog("skipping non-closed curve%02d...", n);
            continue;
        }
        int count = 0;
        float *v = path_curveverts(p, c, 0.015f * canvas / span, &count);
        if (!v) {
            sys_log("failed to generate poly from curve%02d", n);
            continue;
        }
        sys_log("...generated %d verts for curve%02d (closed:%s)", count, n, "Y");
        for (int i = 0; i < count; i++)
            layer_localtoworld(v + 3 * i, v + 3 * i, slot);
        int m = count > 2 ? poly_vertdot(count, v, 0.9995f, 0.0005f / k, 0.25f / k) : count;
        sys_debuglog("...transformed and simplified %d -> %d verts (closed:%d)", count, m, 1);
        float theta = 0.0f;
        for (int i = 0; i + 1 < m; i++) {
            float dx = v[3 * i + 3] - v[3 * i], dy = v[3 * i + 4] - v[3 * i + 1];
            theta += dx * dx + dy * dy;
        }
        if (m >= 2 && theta > 9.999999e-09f && cont_addpoly(out, v, (uint32_t)m, 1, -1, "cont_fromlayerpaths"))
            sys_debuglog("...added %d verts from curve%02d (theta:%f closed:%d)", m, n, theta, 1);
        sys_free(v);
    }
}

contour *cont_fromlayerpaths(int group)
{
    const double start = sys_seconds();
    contour *out = cont_new();
    if (!out)
        return nullptr;
    if (group < 0 || group > 9) {
        sys_log("cont_fromlayerpaths: no layer group %d", group);
        return out;
    }
    int used = 0;
    for (int slot = 0; slot < project_maxlayers; slot++) {
        const project_layer &l = project.layers[slot];
        if (l.type != layer_paths || !(l.groups & (1u << group)) || (l.flags & layer_hidden) || !l.data.pth)
            continue;
        sys_log("generating contours from layer[%d] paths...", slot);
        cont_layercurves(slot, out);
        used++;
    }
    sys_log("generated %u paths, %u verts from %d layers (elapsed %.3fs)", out->numpolys, out->numverts, used,
            sys_seconds() - start);
    return out;
}
