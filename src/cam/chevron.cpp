// The Chevron generator: the zig-zag pattern (rows of 11-sample legs turned
// about the canvas centre), its clip to the canvas rectangle, and the level
// loop, which cuts the clipped rows with Parallel's cut surface, rest clip
// and engage height and emits them plainly, any two pieces linkable.
#include "cam/chevron.h"

#include "cam/engage.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/plane.h"
#include "img/image.h"
#include "sys/log.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {
// The pattern's frame: turned clockwise by the angle about the placement centre.
struct chevron_frame {
    double c, s;
    double cx, cy;
    void turn(double x, double y, double *out) const
    {
        out[0] = x * c + y * s;
        out[1] = -x * s + y * c;
    }
};
} // namespace

// Steps 5 to 7: rows + 1 zig-zag rows, each of cols legs of 11 samples.
static contour *chevron_pattern(const cam_gen *g, const chevron_frame &f, const float *box, float w, float h)
{
    const camop *op = g->op;
    const double bw = (double)box[2] - box[0], bh = (double)box[3] - box[1];
    const double cols = 2.0 * std::ceil(bw / 2.0 / w);
    const double rows = std::ceil((h + bh) / (g->step / std::sin(std::atan((double)w / h))));
    // Bounded before anything is made: a fine stepover under a wide canvas
    // would pass the contour's polylines or points.
    if (!(rows + 1 <= cont_maxpolys) || !(cols >= 2) || !((rows + 1) * cols * 11 <= cont_maxverts)) {
        sys_log("%s: %.0f rows of %.0f legs do not fit one contour (stepover %f, chevron %f x %f)", g->fn,
                rows + 1, cols, g->step, w, h);
        return nullptr;
    }
    const double width = w * cols;
    sys_log("cols:%d rows:%d width:%f", (int)cols, (int)rows, width);
    sys_log("size:%fx%f", f.cx, f.cy);
    double x1[2], x2[2], y1[2], y2[2], up[2];
    f.turn(-width / 2, 0, x1), f.turn(width / 2, 0, x2);
    f.turn(0, -bh / 2 - h, y1), f.turn(0, bh / 2, y2), f.turn(0, h, up);
    sys_log("x1:%f,%f x2:%f,%f y1:%f,%f y2:%f,%f", x1[0], x1[1], x2[0], x2[1], y1[0], y1[1], y2[0], y2[1]);
    contour *c = cont_new();
    if (!c)
        return nullptr;
    const int ncols = (int)cols;
    std::vector<float> row((size_t)ncols * 33);
    int sign = op->dir == 1 ? -1 : 1;
    for (int r = 0; r <= (int)rows; r++) {
        const double t = r / rows;
        const double o[2] = {y1[0] * (1 - t) + y2[0] * t, y1[1] * (1 - t) + y2[1] * t};
        const double *from = sign > 0 ? x1 : x2, *to = sign > 0 ? x2 : x1;
        auto corner = [&](int k, double *p) {
            const double lift = (k & 1) ? 1.0 : 0.0;
            for (int a = 0; a < 2; a++)
                p[a] = from[a] + (to[a] - from[a]) * k / cols + o[a] + lift * up[a];
        };
        float *v = row.data();
        for (int k = 1; k <= ncols; k++) {
            double p0[2], p1[2];
            corner(k - 1, p0), corner(k, p1);
            for (int i = 0; i <= 10; i++, v += 3) {
                v[0] = (float)(p0[0] * (1 - i / 10.0) + p1[0] * (i / 10.0) + f.cx);
                v[1] = (float)(p0[1] * (1 - i / 10.0) + p1[1] * (i / 10.0) + f.cy);
                v[2] = 0.0f;
            }
        }
        if (!cont_addpoly(c, row.data(), (uint32_t)ncols * 11, 0, 0, g->fn)) {
            cont_free(c);
            return nullptr;
        }
        if (op->dir == 2)
            sign = -sign;
    }
    return c;
}

// ---------------------------------------------------------------- clip

static bool chevron_inside(const float *p, const float *rect)
{
    return p[0] >= rect[0] && p[0] <= rect[2] && p[1] >= rect[1] && p[1] <= rect[3];
}

// Where segment p-q crosses the rectangle's edges strictly between its ends,
// ordered along the segment; an edge parallel to it gives none.
static int chevron_crossings(const float *p, const float *q, const float *rect, float out[2][3])
{
    double hits[4][3];
    int n = 0;
    const double dx = (double)q[0] - p[0], dy = (double)q[1] - p[1];
    for (int axis = 0; axis < 2; axis++) {
        const double d = axis ? dy : dx;
        if (d == 0.0)
            continue;
        for (int side = 0; side < 2; side++) {
            const double edge = rect[axis + 2 * side];
            const double t = (edge - p[axis]) / d;
            if (!(t > 0.0 && t < 1.0))
                continue;
            const double x = p[0] + dx * t, y = p[1] + dy * t;
            const double along = axis ? x : y; // the other coordinate must lie on the edge
            if (along < rect[1 - axis] || along > rect[3 - axis])
                continue;
            hits[n][0] = t, hits[n][1] = x, hits[n][2] = y;
            n++;
        }
    }
    if (n == 0)
        return 0;
    int lo = 0, hi = 0;
    for (int i = 1; i < n; i++) {
        if (hits[i][0] < hits[lo][0])
            lo = i;
        if (hits[i][0] > hits[hi][0])
            hi = i;
    }
    // A corner is met by two edges at one point: one crossing.
    if (hits[hi][0] - hits[lo][0] <= 1e-12)
        n = 1;
    const int which[2] = {lo, hi};
    for (int i = 0; i < 2; i++)
        out[i][0] = (float)hits[which[i]][1], out[i][1] = (float)hits[which[i]][2], out[i][2] = p[2];
    return n == 1 ? 1 : 2;
}

namespace {
struct chevron_piece {
    contour *out;
    std::vector<float> v;
    bool ok = true;
    void add(const float *p) { v.insert(v.end(), p, p + 3); }
    void flush(int32_t link)
    {
        if (!v.empty() && ok)
            ok = cont_addpoly(out, v.data(), (uint32_t)(v.size() / 3), 0, link, "camop_chevronclip");
        v.clear();
    }
};
} // namespace

contour *camop_chevronclip(const contour *pattern, const float rect[4])
{
    contour *out = cont_new();
    if (!out)
        return nullptr;
    chevron_piece piece{out, {}};
    const float *v = pattern->verts;
    for (uint32_t i = 0; i < pattern->numpolys && piece.ok; v += 3 * (size_t)pattern->vertcount[i], i++) {
        const uint32_t n = pattern->vertcount[i] - (pattern->closed[i] && pattern->vertcount[i] > 1 ? 1 : 0);
        const int32_t link = pattern->link[i];
        for (uint32_t j = 0; j < n; j++) {
            const float *p = v + 3 * (size_t)j;
            if (chevron_inside(p, rect))
                piece.add(p);
            else
                piece.flush(link);
            if (j + 1 >= pattern->vertcount[i])
                break;
            float hit[2][3];
            const int hits = chevron_crossings(p, p + 3, rect, hit);
            if (hits == 1) {
                piece.add(hit[0]);
            } else if (hits == 2) {
                piece.flush(link);
                piece.add(hit[0]), piece.add(hit[1]);
                piece.flush(link);
            }
        }
        piece.flush(link);
    }
    if (!piece.ok) {
        cont_free(out);
        return nullptr;
    }
    return out;
}

// ---------------------------------------------------------------- levels

// Plain emission with the chevron's link distance, zero-length two-point
// pieces left out.
static void chevron_emit(const cam_gen *g, const contour *k, float linkdist2)
{
    const camop *op = g->op;
    float end[3] = {0, 0, 0};
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++) {
        const uint32_t n = k->vertcount[i];
        const float dx = v[0] - end[0], dy = v[1] - end[1], dz = v[2] - end[2];
        // Two pieces of one clipped row are apart because the surface rises
        // between them: a feed at depth from one to the other would cut it.
        const bool linked = i > 0 && op->dir == 2 && (op->flags & camop_linkcuts) &&
                            dx * dx + dy * dy + dz * dz < linkdist2 && k->link[i] != k->link[i - 1];
        const float *last = v + 3 * (size_t)(n - 1);
        const float lx = last[0] - v[0], ly = last[1] - v[1], lz = last[2] - v[2];
        const bool empty = n == 2 && lx * lx + ly * ly + lz * lz <= 0.0001f;
        if (n > 1 && !empty) {
            float out[3];
            toolpath_addpath(out, g->slot, linked ? 0 : op->entry, linked ? 1 : 0, 0, 0, 1, (int)n, v);
        }
        memcpy(end, last, sizeof(end));
    }
}

namespace {
struct chevron_work {
    image *sc = nullptr;
    contour *clipped = nullptr;
    ~chevron_work()
    {
        img_free(sc);
        cont_free(clipped);
    }
};
} // namespace

// Steps 2 to 9: the clipped pattern over w's rectangle; null (logged) on failure.
static contour *chevron_make(const cam_gen *g, const cam_lines *w)
{
    const camop *op = g->op;
    double a = std::fmod((double)op->aux[0], 360.0);
    if (a < 0)
        a += 360.0;
    const float rect[4] = {-w->origin[0], -w->origin[1], w->size[0] - w->origin[0], w->size[1] - w->origin[1]};
    sys_log("canvas = (%f,%f)(%f,%f)", rect[0], rect[1], rect[2], rect[3]);
    float box[4];
    bounds_rotate(box, rect, (float)-a);
    sys_log("rotated bbox = (%f,%f)(%f,%f)", box[0], box[1], box[2], box[3]);
    const double r = a * M_PI / 180.0;
    const chevron_frame f{std::cos(r), std::sin(r), 0.5 * ((double)box[0] + box[2]), 0.5 * ((double)box[1] + box[3])};
    contour *pattern = chevron_pattern(g, f, box, op->aux[1], op->aux[2]);
    if (!pattern)
        return nullptr;
    if (op->cont)
        con_append(pattern, op->cont);
    sys_log("clipping to (%f, %f) (%f, %f)", rect[0], rect[1], rect[2], rect[3]);
    contour *clipped = camop_chevronclip(pattern, rect);
    cont_free(pattern);
    if (clipped)
        sys_log("clipped contour down to %d polylines %d verts", (int)clipped->numpolys,
                (int)cam_genvertcount(clipped));
    return clipped;
}

void camop_chevron(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_chevron", "CAMOP_CHEVRON"))
        return;
    camop *op = g.op;
    cam_lines w;
    camop_linesgeometry(&g, &w);
    if (!cam_gencheckstep(&g))
        return;
    // The row count divides by both; the operation editor's values may not.
    if (!(op->aux[1] > 0.0f && op->aux[2] > 0.0f && std::isfinite(op->aux[1]) && std::isfinite(op->aux[2]))) {
        sys_log("camop_chevron: chevron width %f and height %f must be above 0", op->aux[1], op->aux[2]);
        cam_genfail(&g);
        return;
    }
    chevron_work work;
    work.sc = camop_cutsurface(&g, &w);
    work.clipped = work.sc ? chevron_make(&g, &w) : nullptr;
    if (!work.clipped) {
        cam_genfail(&g);
        return;
    }
    if (!cam_genclaim(&g, 1))
        return;
    const float a = g.step * 1.5f * g.scale, linkdist2 = a * a / (g.scale * g.scale);
    float start[3] = {-g.origin[0], -g.origin[1], -g.origin[2]};
    for (float zprev = g.z0, z = cam_gennextlevel(&g, zprev);; zprev = z, z = cam_gennextlevel(&g, z)) {
        contour *k = camop_drapelevel(&w, work.sc, work.clipped, z, zprev);
        if (k && k->numpolys) {
            k = camop_restclip(&g, k);
            chevron_emit(&g, k, linkdist2);
            cam_genorderlevel(&g, zprev, start);
        }
        cont_free(k);
        if (cam_genleveldone(&g, z))
            break;
    }
    img_free(work.sc);
    cont_free(work.clipped);
    work.sc = nullptr, work.clipped = nullptr;
    cam_genend(&g, 0, nullptr);
}
