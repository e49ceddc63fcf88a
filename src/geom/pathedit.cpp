// Path editing, fitting, drawing and picking. Knot slots may move when the
// knot array grows, so every routine that adds knots holds knots by index
// and looks them up again after each allocation. Every walk along links is
// bounded by the slot count, as in geom/path.cpp.
//
// Contents: insertion; joining; polyline fitting; knot reduction; drawing;
// nearest curve; point at length.
#include "geom/pathedit.h"

#include "geom/path.h"
#include "render/draw.h"
#include "sys/log.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

float *vec3_lerp(float out[3], const float a[3], const float b[3], float t)
{
    for (int i = 0; i < 3; i++)
        out[i] = a[i] * (1.0f - t) + b[i] * t;
    return out;
}

static bool pathedit_livecurve(const path *p, int c)
{
    return c >= 0 && c < p->csz && p->cused[c];
}

static bool pathedit_liveknot(const path *p, int k)
{
    return k >= 0 && k < p->ksz && p->kused[k];
}

// Squared 2D distance from (x, y) to the segment a..b at t, evaluated in
// single precision as the drawing does.
static float pathedit_segdist2(const knot &a, const knot &b, float t, const float point[2])
{
    float q[3];
    bezier_point(q, a.pos, a.h2, b.h1, b.pos, t);
    float dx = q[0] - point[0], dy = q[1] - point[1];
    return dx * dx + dy * dy;
}

// ---------------------------------------------------------------- insertion

// The parameter of the segment point nearest to point: a coarse scan of 63
// samples, then 64 halving steps.
static double pathedit_nearestt(const knot &a, const knot &b, const float point[2])
{
    double t = 0.0;
    float best = 9999999.0f;
    for (int i = 1; i <= 63; i++) {
        float d = pathedit_segdist2(a, b, (float)(i * 0.015625), point);
        if (d < best) {
            best = d;
            t = i * 0.015625;
        }
    }
    double step = 1.0 / 128.0;
    for (int i = 0; i < 64; i++, step *= 0.5) {
        float lo = pathedit_segdist2(a, b, (float)(t - step), point);
        float hi = pathedit_segdist2(a, b, (float)(t + step), point);
        t = hi <= lo ? t + step : t - step;
    }
    return t;
}

// Splits the segment a..b at t by de Casteljau, putting the middle point
// and its handles on knot k.
static void pathedit_split(knot &a, knot &k, knot &b, float t)
{
    float p01[3], p12[3], p23[3], p012[3], p123[3], mid[3];
    vec3_lerp(p01, a.pos, a.h2, t);
    vec3_lerp(p12, a.h2, b.h1, t);
    vec3_lerp(p23, b.h1, b.pos, t);
    vec3_lerp(p012, p01, p12, t);
    vec3_lerp(p123, p12, p23, t);
    vec3_lerp(mid, p012, p123, t);
    memcpy(a.h2, p01, sizeof(p01));
    memcpy(b.h1, p23, sizeof(p23));
    memcpy(k.h1, p012, sizeof(p012));
    memcpy(k.h2, p123, sizeof(p123));
    memcpy(k.pos, mid, sizeof(mid));
}

int path_insertcurveknot(path *p, int c, int a, const float point[3])
{
    // Everything is checked before a knot is taken, so a refusal leaves the
    // path as it was.
    if (!pathedit_livecurve(p, c) || p->curves[c].tail == -1) {
        sys_log("path_insertcurveknot: curve %d has no knots", c);
        return -1;
    }
    if (a != -1 && !pathedit_liveknot(p, a)) {
        sys_log("path_insertcurveknot: knot %d is not on the curve", a);
        return -1;
    }
    if (a != -1 && p->knots[a].next == -1) {
        sys_error("path_insertcurveknot: previous knot next == NULL!");
        return -1;
    }
    int k = path_addknot(p);
    if (k < 0)
        return -1;
    knot &n = p->knots[k];
    n.prev = a;
    if (a == -1) {
        curve &s = p->curves[c];
        n.next = s.tail;
        p->knots[s.tail].prev = k;
        s.tail = k;
        for (int i = 0; i < 3; i++)
            n.pos[i] = n.h1[i] = n.h2[i] = point[i];
        return k;
    }
    int b = p->knots[a].next;
    knot &ka = p->knots[a];
    knot &kb = p->knots[b];
    double t = pathedit_nearestt(ka, kb, point);
    kb.prev = k;
    n.next = b;
    ka.next = k;
    pathedit_split(ka, n, kb, (float)t);
    return k;
}

// ---------------------------------------------------------------- joining

static float pathedit_dist3(const float a[3], const float b[3])
{
    float d = 0.0f;
    for (int i = 0; i < 3; i++)
        d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

// Links a new knot n beyond the end knot d of curve c (d = -1: the curve
// had no knots and n becomes both ends).
static void pathedit_attach(path *p, int c, int d, int n, bool athead)
{
    curve &s = p->curves[c];
    knot &kn = p->knots[n];
    if (d == -1) {
        s.head = s.tail = n;
        return;
    }
    if (athead) {
        kn.prev = d;
        p->knots[d].next = n;
        s.head = n;
        sys_debuglog("...path[%d].head[%d].next = %d", c, d, n);
        sys_debuglog("...path[%d].head = %d", c, n);
    } else {
        kn.next = d;
        p->knots[d].prev = n;
        s.tail = n;
        sys_debuglog("...path[%d].tail[%d].prev = %d", c, d, n);
        sys_debuglog("...path[%d].tail = %d", c, n);
    }
}

// The modes: which end of the source to start from and the way to walk it,
// and which end of the destination to extend.
//   mode 0: source tail along next, onto the head
//   mode 1: source head along prev, onto the head
//   mode 2: source tail along next, onto the tail
//   mode 3: source head along prev, onto the tail
int path_appendcurves(path *p, int src, int dst, int mode, float tolerance)
{
    if (!pathedit_livecurve(p, src) || !pathedit_livecurve(p, dst) || src == dst) {
        sys_log("path_appendcurves: cannot join curve %d to curve %d", src, dst);
        return 0;
    }
    if (p->curves[src].closed || p->curves[dst].closed) {
        sys_log("path_appendcurves: curves must both be non-closed");
        return 0;
    }
    if (mode < 0 || mode > 3) {
        sys_log("path_appendcurves: no mode %d", mode);
        return 0;
    }
    const bool fromhead = mode == 1 || mode == 3;
    const bool athead = mode == 0 || mode == 1;
    // The new knots run against the source's own order in modes 1 and 2.
    const bool swap = mode == 1 || mode == 2;
    int s = fromhead ? p->curves[src].head : p->curves[src].tail;
    int d = athead ? p->curves[dst].head : p->curves[dst].tail;
    sys_debuglog("appending path[%d] to path[%d] (mode:%d src%d->dst%d %d/%d)", src, dst, mode, s, d, p->knum,
                 p->ksz);
    if (s != -1 && s == d) {
        sys_log("SRC/DEST KNOTS!!! path[%d].%s->path[%d].%s knot=%d", src, fromhead ? "head" : "tail", dst,
                athead ? "head" : "tail", s);
        return 0;
    }
    // The source chain is bounded by its slots as they were: knots added
    // here go to the destination, never to the chain being walked.
    const int32_t bound = p->ksz;
    for (int32_t walked = 0; s != -1 && walked < bound; walked++) {
        int next = fromhead ? p->knots[s].prev : p->knots[s].next;
        bool last = next == -1;
        if (!last && d != -1 && pathedit_dist3(p->knots[s].pos, p->knots[d].pos) <= tolerance) {
            const knot &ks = p->knots[s];
            float *to = athead ? p->knots[d].h2 : p->knots[d].h1;
            const float *from = athead ? (swap ? ks.h1 : ks.h2) : (swap ? ks.h2 : ks.h1);
            memcpy(to, from, 3 * sizeof(float));
        } else {
            int n = path_addknot(p);
            if (n < 0)
                return 0;
            knot &kn = p->knots[n];
            const knot &ks = p->knots[s];
            memcpy(kn.pos, ks.pos, sizeof(kn.pos));
            memcpy(kn.h1, swap ? ks.h2 : ks.h1, sizeof(kn.h1));
            memcpy(kn.h2, swap ? ks.h1 : ks.h2, sizeof(kn.h2));
            pathedit_attach(p, dst, d, n, athead);
            d = n;
        }
        s = next;
    }
    return 1;
}

// ---------------------------------------------------------------- fitting

// One fitting sample: chord parameter and position.
struct pathedit_sample {
    double u, x, y;
};

// Least-squares P1 and P2 over samples, ends p0 and p3 fixed. False when
// the system is singular (every sample at one parameter).
static bool pathedit_solve(const std::vector<pathedit_sample> &s, const float p0[3], const float p3[3],
                           float p1[3], float p2[3])
{
    double c11 = 0, c12 = 0, c22 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (const pathedit_sample &q : s) {
        double u = q.u, w = 1.0 - u;
        double b1 = 3.0 * u * w * w, b2 = 3.0 * u * u * w;
        double e0 = w * w * w, e3 = u * u * u;
        double rx = q.x - p0[0] * e0 - p3[0] * e3;
        double ry = q.y - p0[1] * e0 - p3[1] * e3;
        c11 += b1 * b1;
        c12 += b1 * b2;
        c22 += b2 * b2;
        x1 += b1 * rx;
        x2 += b2 * rx;
        y1 += b1 * ry;
        y2 += b2 * ry;
    }
    double det = c11 * c22 - c12 * c12;
    if (!(std::fabs(det) > 1e-300))
        return false;
    p1[0] = (float)((x1 * c22 - x2 * c12) / det);
    p1[1] = (float)((y1 * c22 - y2 * c12) / det);
    p2[0] = (float)((x2 * c11 - x1 * c12) / det);
    p2[1] = (float)((y2 * c11 - y1 * c12) / det);
    p1[2] = p2[2] = 0.0f;
    return std::isfinite(p1[0]) && std::isfinite(p1[1]) && std::isfinite(p2[0]) && std::isfinite(p2[1]);
}

// Fits one cubic to n points of stride 3 (the chord-length parameters, three
// extra samples on each interval). Points that all coincide give no chord
// lengths: the handles then lie on the end points.
static void pathedit_fit(int n, const float *v, float out[4][3])
{
    memcpy(out[0], v, 3 * sizeof(float));
    memcpy(out[3], v + 3 * (n - 1), 3 * sizeof(float));
    std::vector<double> u((size_t)n, 0.0);
    for (int i = 1; i < n; i++)
        u[i] = u[i - 1] + std::hypot((double)v[3 * i] - v[3 * i - 3], (double)v[3 * i + 1] - v[3 * i - 2]);
    double total = u[(size_t)n - 1];
    bool solved = false;
    if (total > 0.0 && std::isfinite(total)) {
        std::vector<pathedit_sample> s;
        s.reserve((size_t)n * 4);
        for (int i = 0; i < n; i++) {
            u[i] /= total;
            s.push_back({u[i], v[3 * i], v[3 * i + 1]});
            if (i == 0)
                continue;
            for (double f : {0.333, 0.666, 0.999})
                s.push_back({u[i - 1] + f * (u[i] - u[i - 1]), v[3 * i - 3] + f * ((double)v[3 * i] - v[3 * i - 3]),
                             v[3 * i - 2] + f * ((double)v[3 * i + 1] - v[3 * i - 2])});
        }
        solved = pathedit_solve(s, out[0], out[3], out[1], out[2]);
    }
    if (!solved) {
        memcpy(out[1], out[0], 3 * sizeof(float));
        memcpy(out[2], out[3], 3 * sizeof(float));
        out[1][2] = out[2][2] = 0.0f;
    }
}

void path_fitpoly(int n, const float *verts, float out[4][3])
{
    if (n < 2 || !verts) {
        sys_log("path_fitpoly: %d points do not make a curve", n);
        memset(out, 0, 4 * 3 * sizeof(float));
        if (n == 1 && verts)
            for (int i = 0; i < 4; i++)
                memcpy(out[i], verts, 3 * sizeof(float));
        return;
    }
    pathedit_fit(n, verts, out);
}

// Distance from q to the cubic: a coarse scan of 15 samples, then 16
// halving steps.
static double pathedit_cubicdist(const float c[4][3], const double q[2])
{
    auto dist2 = [&](double t) {
        float pt[3];
        bezier_point(pt, c[0], c[1], c[2], c[3], (float)t);
        double dx = pt[0] - q[0], dy = pt[1] - q[1];
        return dx * dx + dy * dy;
    };
    double t = 0.0, best = 9999999.0;
    for (int i = 1; i <= 15; i++) {
        double d = dist2(i * 0.0625);
        if (d < best) {
            best = d;
            t = i * 0.0625;
        }
    }
    double step = 0.03125;
    for (int i = 0; i < 16; i++, step *= 0.5)
        t = dist2(t - step) < dist2(t + step) ? t - step : t + step;
    return std::sqrt(dist2(t));
}

// The error of a fitted window: the largest d1 + d2 over its interior
// vertices, d1 from the vertex and d2 from its midpoint with the next.
static double pathedit_windowerror(const float *v, int w, const float c[4][3])
{
    double worst = 0.0;
    for (int i = 1; i <= w - 2; i++) {
        const float *a = v + 3 * i, *b = v + 3 * (i + 1);
        double q1[2] = {a[0], a[1]};
        double q2[2] = {a[0] * 0.5 + b[0] * 0.5, a[1] * 0.5 + b[1] * 0.5};
        double e = pathedit_cubicdist(c, q1) + pathedit_cubicdist(c, q2);
        worst = e > worst ? e : worst;
    }
    return worst;
}

// The piecewise fit: windows of 4 and more vertices grow while their cubic
// stays within the tolerance; the largest passing one becomes a segment.
static int pathedit_fitpiecewise(path *p, int c, int n, const float *v, float tolerance, int wmax)
{
    double limit = (double)tolerance * 0.01;
    int s = 0;
    while (s < n) {
        int best = 0;
        float bestc[4][3], fit[4][3];
        for (int w = 4; w < wmax && w <= n - s; w++) {
            pathedit_fit(w, v + 3 * s, fit);
            if (pathedit_windowerror(v + 3 * s, w, fit) > limit)
                break;
            best = w;
            memcpy(bestc, fit, sizeof(fit));
        }
        if (best == 0) {
            s++;
            if (path_prependknot(p, c, v + 3 * s) < 0)
                return 0;
        } else {
            int head = p->curves[c].head;
            memcpy(p->knots[head].h2, bestc[1], sizeof(bestc[1]));
            int k = path_prependknot(p, c, bestc[3]);
            if (k < 0)
                return 0;
            memcpy(p->knots[k].h1, bestc[2], sizeof(bestc[2]));
            s += best - 1;
        }
        if (n - s < 5) {
            for (int i = s + 1; i < n; i++)
                if (path_prependknot(p, c, v + 3 * i) < 0)
                    return 0;
            break;
        }
    }
    return 1;
}

int addcurvepoly(path *p, int n, const float *verts, int closed, float tolerance)
{
    if (n < 2 || !verts)
        return -1;
    double root = std::sqrt((double)n);
    int wmax = root > 5.0 ? (int)root : 5;
    double start = sys_seconds();
    int c = path_newcurve(p);
    if (c < 0)
        return -1;
    if (path_prependknot(p, c, verts) < 0)
        return c;
    sys_debuglog("addcurvepoly: curve[%d] (verts:%d max:%d)", c, n, wmax);
    if (n > 4 && tolerance != 0.0f) {
        pathedit_fitpiecewise(p, c, n, verts, tolerance, wmax);
    } else {
        for (int i = 1; i < n; i++)
            if (path_prependknot(p, c, verts + 3 * i) < 0)
                break;
    }
    p->curves[c].closed = closed;
    int knots = 0;
    for (int k = p->curves[c].tail; k != -1 && knots < p->ksz; k = p->knots[k].next)
        knots++;
    sys_log("...built path[%d] knots:%d from %d verts (%.4fs)", c, knots, n, sys_seconds() - start);
    return c;
}

// ---------------------------------------------------------------- reduction

// Shoelace area of a polygon of m points (x, y at stride 3).
static float pathedit_area(const float *const *pts, int m)
{
    float sum = 0.0f;
    for (int j = 0; j < m; j++) {
        const float *a = pts[j], *b = pts[(j + 1) % m];
        sum += b[0] * a[1] - a[0] * b[1];
    }
    return std::fabs(sum * 0.5f);
}

static float pathedit_removalcost(const knot &a, const knot &b, const knot &c)
{
    const float *s1[4] = {a.pos, a.h2, b.h1, b.pos};
    const float *s2[4] = {b.pos, b.h2, c.h1, c.pos};
    const float *tri[3] = {a.pos, b.pos, c.pos};
    return pathedit_area(s1, 4) + pathedit_area(s2, 4) + 2.0f * pathedit_area(tri, 3);
}

// Replaces the two segments a..b..c by one cubic fitted to 15 samples of
// them, and frees b.
static void pathedit_removeknot(path *p, int a, int b, int c)
{
    knot &ka = p->knots[a], &kb = p->knots[b], &kc = p->knots[c];
    float pts[15][3];
    memcpy(pts[0], ka.pos, sizeof(pts[0]));
    for (int i = 1; i <= 6; i++)
        bezier_point(pts[i], ka.pos, ka.h2, kb.h1, kb.pos, (float)i / 7.0f);
    memcpy(pts[7], kb.pos, sizeof(pts[7]));
    for (int i = 1; i <= 6; i++)
        bezier_point(pts[7 + i], kb.pos, kb.h2, kc.h1, kc.pos, (float)i / 7.0f);
    memcpy(pts[14], kc.pos, sizeof(pts[14]));
    float fit[4][3];
    pathedit_fit(15, &pts[0][0], fit);
    memcpy(ka.h2, fit[1], sizeof(fit[1]));
    memcpy(kc.h1, fit[2], sizeof(fit[2]));
    ka.h2[2] = kc.h1[2] = 0.0f;
    ka.next = c;
    kc.prev = a;
    memset(kb.pos, 0, sizeof(kb.pos));
    memset(kb.h1, 0, sizeof(kb.h1));
    memset(kb.h2, 0, sizeof(kb.h2));
    path_freeknot(p, b);
}

int path_reduceknots(path *p, int c, float maxarea)
{
    if (!pathedit_livecurve(p, c))
        return 0;
    double start = sys_seconds();
    int n = 0;
    for (int k = p->curves[c].tail; k != -1 && n < p->ksz; k = p->knots[k].next)
        n++;
    if (n < 4)
        return 0;
    int removed = 0;
    while (n - removed > (removed > 3 ? removed : 3)) {
        float best = 9999999.0f;
        int ba = -1, bb = -1, bc = -1;
        int a = p->curves[c].tail;
        for (int i = 0; i + 2 < n - removed; i++) {
            int b = p->knots[a].next, cc = p->knots[b].next;
            float cost = pathedit_removalcost(p->knots[a], p->knots[b], p->knots[cc]);
            if (cost < best) {
                best = cost;
                ba = a, bb = b, bc = cc;
            }
            a = b;
        }
        if (bb == -1 || !(best < maxarea))
            break;
        pathedit_removeknot(p, ba, bb, bc);
        removed++;
    }
    sys_debuglog("removed %d knots from curve[%d], maxarea:%f... (elapsed %.3fs)", removed, c, maxarea,
                 sys_seconds() - start);
    return removed;
}

// ---------------------------------------------------------------- drawing

// Emits one segment's points; false when the vertex limit was reached.
static bool pathedit_drawsegment(const knot &a, const knot &b, float stepfactor, int &emitted)
{
    r_vertex(a.pos[0], a.pos[1], 0.0f);
    emitted++;
    float len = std::hypot(b.pos[0] - a.pos[0], b.pos[1] - a.pos[1]) +
                std::hypot(b.pos[0] - b.h1[0], b.pos[1] - b.h1[1]) + std::hypot(a.h2[0] - a.pos[0], a.h2[1] - a.pos[1]);
    float step = len != 0.0f ? (1.0f / std::sqrt(len)) * stepfactor : FLT_MAX;
    // The vertex limit also ends a step too small (or not positive) to
    // reach t = 1.
    for (float t = step; t < 1.0f; t += step) {
        if (emitted > path_maxdrawverts)
            return false;
        float q[3];
        bezier_point(q, a.pos, a.h2, b.h1, b.pos, t);
        r_vertex(q[0], q[1], 0.0f);
        emitted++;
    }
    r_vertex(b.pos[0], b.pos[1], 0.0f);
    emitted++;
    return true;
}

int path_drawcurves(const path *p, int c, float stepfactor, const float color[4])
{
    if (!pathedit_livecurve(p, c))
        return 1;
    r_color(color[0], color[1], color[2], color[3]);
    r_begin(r_linestrip);
    int emitted = 0, result = 1;
    int a = p->curves[c].tail;
    for (int32_t n = 0; a != -1 && p->knots[a].next != -1 && n < p->ksz; n++) {
        if (emitted > path_maxdrawverts)
            break;
        if (!pathedit_drawsegment(p->knots[a], p->knots[p->knots[a].next], stepfactor, emitted)) {
            result = 0;
            break;
        }
        a = p->knots[a].next;
    }
    r_end();
    return result;
}

int path_draw(const path *p, float stepfactor, const float color[4], const float selcolor[4])
{
    int result = 1;
    for (int pass = 0; pass < 2; pass++) {
        int c = p->ctail;
        for (int32_t n = 0; c != -1 && n < p->csz; n++, c = p->curves[c].next) {
            bool selected = (p->csel[c >> 3] >> (c & 7)) & 1;
            if (selected != (pass == 1))
                continue;
            if (!path_drawcurves(p, c, stepfactor, pass ? selcolor : color)) {
                result = 0;
                if (pass == 1)
                    return 0;
            }
        }
    }
    return result;
}

// ---------------------------------------------------------------- picking

// The squared distance from point to the segment a..b: a coarse scan of
// steps - 1 samples, then steps halving moves.
static float pathedit_segmentdist(const knot &a, const knot &b, const float point[2], int steps)
{
    float best = 9999999.0f;
    double t = 0.5;
    for (int i = 1; i < steps; i++) {
        float d = pathedit_segdist2(a, b, (float)((double)i / steps), point);
        if (d < best) {
            best = d;
            t = (double)i / steps;
        }
    }
    double step = 1.0 / (2.0 * steps);
    for (int i = 0; i < steps; i++, step *= 0.5) {
        float lo = pathedit_segdist2(a, b, (float)(t - step), point);
        float hi = pathedit_segdist2(a, b, (float)(t + step), point);
        t = lo < hi ? t - step : t + step;
    }
    return pathedit_segdist2(a, b, (float)t, point);
}

int path_nearestcurve(const path *p, const float point[2], int coarse, int selectedonly, float *distance, int *knot)
{
    int steps = coarse ? 20 : 32;
    float best = 9999999.0f;
    int bestcurve = -1, bestknot = -1;
    int c = p->ctail;
    for (int32_t n = 0; c != -1 && n < p->csz; n++, c = p->curves[c].next) {
        if (selectedonly && !((p->csel[c >> 3] >> (c & 7)) & 1))
            continue;
        int a = p->curves[c].tail;
        for (int32_t m = 0; a != -1 && p->knots[a].next != -1 && m < p->ksz; m++) {
            float d = pathedit_segmentdist(p->knots[a], p->knots[p->knots[a].next], point, steps);
            if (d < best) {
                best = d;
                bestcurve = c;
                bestknot = a;
            }
            a = p->knots[a].next;
        }
    }
    if (bestcurve != -1) {
        if (distance)
            *distance = std::sqrt(best);
        if (knot)
            *knot = bestknot;
    }
    return bestcurve;
}

// ---------------------------------------------------------------- length

// The derivative of the segment at t, without the factor 3, z 0.
static void pathedit_direction(float out[3], const knot &a, const knot &b, float t)
{
    float u = 1.0f - t;
    for (int i = 0; i < 2; i++) {
        float q0 = a.h2[i] - a.pos[i], q1 = b.h1[i] - a.h2[i], q2 = b.pos[i] - b.h1[i];
        float l0 = q0 * u + q1 * t, l1 = q1 * u + q2 * t;
        out[i] = l0 * u + l1 * t;
    }
    out[2] = 0.0f;
}

// Walks the curve in steps of 0.001 per segment, summing scaled distances;
// stops at the first sample where the sum exceeds target and reports its
// segment and parameter. Returns the whole length when target is not met.
static double pathedit_walklength(const path *p, int c, float aspect, double target, int *seg, float *t)
{
    double sum = 0.0;
    int a = p->curves[c].tail;
    for (int32_t n = 0; a != -1 && p->knots[a].next != -1 && n < p->ksz; n++) {
        const knot &ka = p->knots[a], &kb = p->knots[ka.next];
        float prev[3];
        bezier_point(prev, ka.pos, ka.h2, kb.h1, kb.pos, 0.0f);
        for (int i = 1; i <= 1000; i++) {
            float q[3];
            bezier_point(q, ka.pos, ka.h2, kb.h1, kb.pos, (float)i * 0.001f);
            double dx = ((double)q[0] - prev[0]) / aspect, dy = ((double)q[1] - prev[1]) * aspect;
            double dz = (double)q[2] - prev[2];
            sum += std::sqrt(dx * dx + dy * dy + dz * dz);
            memcpy(prev, q, sizeof(q));
            if (sum > target) {
                *seg = a;
                *t = (float)i * 0.001f - 0.0005f;
                return sum;
            }
        }
        a = ka.next;
    }
    return sum;
}

void path_pointatlength(float out[3], const path *p, int c, float f, float aspect, float direction[3])
{
    float dir[3] = {0, 0, 0};
    out[0] = out[1] = out[2] = 0.0f;
    if (!pathedit_livecurve(p, c) || p->curves[c].tail == -1 || p->knots[p->curves[c].tail].next == -1) {
        if (direction)
            memcpy(direction, dir, sizeof(dir));
        return;
    }
    const knot &tail = p->knots[p->curves[c].tail];
    const knot &head = p->knots[p->curves[c].head];
    if (f <= 0.0f) {
        memcpy(out, tail.pos, 3 * sizeof(float));
        pathedit_direction(dir, tail, p->knots[tail.next], 0.0001f);
    } else if (f >= 1.0f) {
        memcpy(out, head.pos, 3 * sizeof(float));
        dir[0] = head.pos[0] - head.h1[0];
        dir[1] = head.pos[1] - head.h1[1];
    } else {
        int seg = -1;
        float t = 0.0f;
        double length = pathedit_walklength(p, c, aspect, INFINITY, &seg, &t);
        pathedit_walklength(p, c, aspect, length * f, &seg, &t);
        if (seg == -1) {
            // Rounding left the sum just short of the target: the head.
            memcpy(out, head.pos, 3 * sizeof(float));
            dir[0] = head.pos[0] - head.h1[0];
            dir[1] = head.pos[1] - head.h1[1];
        } else {
            const knot &a = p->knots[seg], &b = p->knots[a.next];
            bezier_point(out, a.pos, a.h2, b.h1, b.pos, t);
            out[2] = 0.0f;
            pathedit_direction(dir, a, b, t);
        }
    }
    if (direction)
        memcpy(direction, dir, sizeof(dir));
}
