// Path editing: curves fitted to polylines checked with the test's own
// Bezier evaluation and least-squares residuals, knot insertion against the
// original shape, the join modes and their refusals, knot reduction,
// picking and the point at a fraction of the length.
#include "geom/pathedit.h"

#include "geom/path.h"
#include "sys/mem.h"

#include "testlog.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

using pt = std::array<double, 2>;

// The cubic Bernstein form, in double precision: our own evaluation.
pt cubic(const float *p0, const float *p1, const float *p2, const float *p3, double t)
{
    double u = 1.0 - t;
    double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
    return {b0 * p0[0] + b1 * p1[0] + b2 * p2[0] + b3 * p3[0], b0 * p0[1] + b1 * p1[1] + b2 * p2[1] + b3 * p3[1]};
}

std::vector<int> walk(const path *p, int c)
{
    std::vector<int> k;
    for (int i = p->curves[c].tail; i != -1 && (int)k.size() <= p->ksz; i = p->knots[i].next)
        k.push_back(i);
    return k;
}

// Dense samples of a whole curve.
std::vector<pt> dense(const path *p, int c, int per)
{
    std::vector<pt> s;
    std::vector<int> k = walk(p, c);
    for (size_t i = 0; i + 1 < k.size(); i++) {
        const knot &a = p->knots[k[i]], &b = p->knots[k[i + 1]];
        for (int j = 0; j <= per; j++)
            s.push_back(cubic(a.pos, a.h2, b.h1, b.pos, (double)j / per));
    }
    return s;
}

double nearest(const std::vector<pt> &s, double x, double y)
{
    double best = 1e300;
    for (const pt &q : s)
        best = std::min(best, std::hypot(q[0] - x, q[1] - y));
    return best;
}

std::vector<float> line(int n, float dx, float dy)
{
    std::vector<float> v;
    for (int i = 0; i < n; i++)
        v.insert(v.end(), {i * dx, i * dy, 0.0f});
    return v;
}

} // namespace

TEST(PathEdit, FewVerticesOrNoToleranceMakePlainKnots)
{
    struct Case {
        int n;
        float tolerance;
        int curve; // -1 refused, else the knots expected
    };
    const Case cases[] = {{1, 1.0f, -1}, {0, 1.0f, -1}, {2, 1.0f, 2}, {4, 1.0f, 4}, {30, 0.0f, 30}};
    for (const Case &cs : cases) {
        path *p = path_new();
        std::vector<float> v = line(cs.n > 0 ? cs.n : 1, 0.1f, 0.05f);
        int c = addcurvepoly(p, cs.n, v.data(), 0, cs.tolerance);
        if (cs.curve == -1) {
            EXPECT_EQ(c, -1) << cs.n;
            EXPECT_EQ(p->cnum, 0);
        } else {
            ASSERT_GE(c, 0);
            std::vector<int> k = walk(p, c);
            ASSERT_EQ((int)k.size(), cs.curve) << cs.n;
            for (int i = 0; i < cs.curve; i++)
                for (int j = 0; j < 3; j++) {
                    EXPECT_EQ(p->knots[k[i]].pos[j], v[3 * i + j]);
                    EXPECT_EQ(p->knots[k[i]].h1[j], v[3 * i + j]);
                    EXPECT_EQ(p->knots[k[i]].h2[j], v[3 * i + j]);
                }
        }
        path_free(p);
    }
}

TEST(PathEdit, CollinearVerticesGiveSixteenKnots)
{
    path *p = path_new();
    std::vector<float> v = line(100, 0.01f, 0.0f);
    int c = addcurvepoly(p, 100, v.data(), 0, 0.5f);
    std::vector<int> k = walk(p, c);
    ASSERT_EQ(k.size(), 16u);
    // Vertex 0, every eighth vertex from 8 to 96, then 97..99.
    std::vector<int> at = {0};
    for (int i = 8; i <= 96; i += 8)
        at.push_back(i);
    at.insert(at.end(), {97, 98, 99});
    for (size_t i = 0; i < k.size(); i++)
        EXPECT_FLOAT_EQ(p->knots[k[i]].pos[0], v[3 * at[i]]) << i;
    EXPECT_EQ(p->knum, 16);
    path_free(p);
}

TEST(PathEdit, FittedCurvesStayWithinTolerance)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> turn(-0.3f, 0.3f);
    for (int trial = 0; trial < 12; trial++) {
        // A smooth wandering polyline: the heading changes a little per
        // vertex.
        int n = 40 + (int)(rng() % 160);
        std::vector<float> v;
        float x = 0, y = 0, heading = 0, bend = turn(rng);
        for (int i = 0; i < n; i++) {
            v.insert(v.end(), {x, y, 0.0f});
            if (i % 25 == 0)
                bend = turn(rng) * 0.2f;
            heading += bend;
            x += 0.02f * std::cos(heading);
            y += 0.02f * std::sin(heading);
        }
        float tolerance = 0.05f + 0.1f * (float)(trial % 4);
        path *p = path_new();
        int c = addcurvepoly(p, n, v.data(), 0, tolerance);
        ASSERT_GE(c, 0);
        const int per = 2000;
        std::vector<pt> s = dense(p, c, per);
        // The largest gap between neighbouring samples bounds the error of
        // measuring by samples.
        double gap = 0;
        for (size_t i = 1; i < s.size(); i++)
            gap = std::max(gap, std::hypot(s[i][0] - s[i - 1][0], s[i][1] - s[i - 1][1]));
        for (int i = 0; i < n; i++)
            EXPECT_LE(nearest(s, v[3 * i], v[3 * i + 1]), tolerance * 0.01 + gap) << trial << " vertex " << i;
        EXPECT_LT(p->knum, n) << "fitting removed no knots";
        path_free(p);
    }
}

namespace {

// The samples the fit is defined over: chord-length parameters and three
// extra samples on each interval.
struct fitsample {
    double u, x, y;
};

std::vector<fitsample> fitsamples(const std::vector<float> &v)
{
    int n = (int)v.size() / 3;
    std::vector<double> u(n, 0.0);
    for (int i = 1; i < n; i++)
        u[i] = u[i - 1] + std::hypot(v[3 * i] - v[3 * i - 3], v[3 * i + 1] - v[3 * i - 2]);
    std::vector<fitsample> s;
    for (int i = 0; i < n; i++) {
        u[i] /= u[n - 1];
        s.push_back({u[i], v[3 * i], v[3 * i + 1]});
        if (i > 0)
            for (double f : {0.333, 0.666, 0.999})
                s.push_back({u[i - 1] + f * (u[i] - u[i - 1]), v[3 * i - 3] + f * (v[3 * i] - v[3 * i - 3]),
                             v[3 * i - 2] + f * (v[3 * i + 1] - v[3 * i - 2])});
    }
    return s;
}

double residual(const std::vector<fitsample> &s, const float c[4][3])
{
    double sum = 0;
    for (const fitsample &q : s) {
        pt p = cubic(c[0], c[1], c[2], c[3], q.u);
        sum += (p[0] - q.x) * (p[0] - q.x) + (p[1] - q.y) * (p[1] - q.y);
    }
    return sum;
}

} // namespace

TEST(PathEdit, FitIsALeastSquaresMinimum)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int trial = 0; trial < 20; trial++) {
        int n = 3 + (int)(rng() % 12);
        std::vector<float> v;
        for (int i = 0; i < n; i++)
            v.insert(v.end(), {(float)i * 0.3f + u(rng) * 0.1f, std::sin((float)i * 0.5f) + u(rng) * 0.1f, 0.0f});
        float c[4][3];
        path_fitpoly(n, v.data(), c);
        EXPECT_EQ(c[0][0], v[0]);
        EXPECT_EQ(c[3][1], v[3 * n - 2]);
        std::vector<fitsample> s = fitsamples(v);
        double base = residual(s, c);
        for (int handle : {1, 2})
            for (int axis : {0, 1})
                for (float d : {-1e-4f, 1e-4f}) {
                    float moved[4][3];
                    memcpy(moved, c, sizeof(c));
                    moved[handle][axis] += d;
                    EXPECT_GE(residual(s, moved), base * (1 - 1e-9)) << trial << " P" << handle << " axis " << axis;
                }
    }
}

TEST(PathEdit, CoincidentPointsPutHandlesOnTheEnds)
{
    std::vector<float> v = {0.25f, -0.5f, 1.0f, 0.25f, -0.5f, 1.0f, 0.25f, -0.5f, 1.0f};
    float c[4][3];
    path_fitpoly(3, v.data(), c);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(c[i][0], 0.25f) << i;
        EXPECT_EQ(c[i][1], -0.5f) << i;
        EXPECT_TRUE(std::isfinite(c[i][2]));
    }
    // A curve fitted through a polyline that stops and turns back on
    // itself stays finite too.
    path *p = path_new();
    std::vector<float> w(3 * 12, 0.0f);
    int c2 = addcurvepoly(p, 12, w.data(), 0, 1.0f);
    for (int k : walk(p, c2))
        for (int j = 0; j < 3; j++)
            ASSERT_TRUE(std::isfinite(p->knots[k].h1[j]) && std::isfinite(p->knots[k].h2[j]));
    path_free(p);
}

namespace {

// An S-shaped open curve of three knots.
path *scurve(int *c)
{
    path *p = path_new();
    *c = path_newcurve(p);
    const float pts[3][3] = {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}};
    for (auto &q : pts)
        path_prependknot(p, *c, q);
    std::vector<int> k = walk(p, *c);
    p->knots[k[0]].h2[0] = 0.5f, p->knots[k[0]].h2[1] = -0.4f;
    p->knots[k[1]].h1[0] = 0.4f, p->knots[k[1]].h1[1] = 1.3f;
    p->knots[k[1]].h2[0] = 1.6f, p->knots[k[1]].h2[1] = 0.7f;
    p->knots[k[2]].h1[0] = 1.7f, p->knots[k[2]].h1[1] = -0.5f;
    return p;
}

} // namespace

TEST(PathEdit, InsertionKeepsTheShape)
{
    const float clicks[][3] = {{0.3f, 0.2f, 0}, {0.9f, 1.5f, 0}, {1.8f, 0.4f, 0}, {-5, -5, 0}};
    for (auto &click : clicks) {
        int c;
        path *p = scurve(&c);
        std::vector<int> before = walk(p, c);
        // The original segments, kept for comparison.
        std::vector<knot> orig;
        for (int k : before)
            orig.push_back(p->knots[k]);
        int seg = click[0] < 1.0f ? 0 : 1;
        int k = path_insertcurveknot(p, c, before[seg], click);
        ASSERT_GE(k, 0);
        std::vector<int> after = walk(p, c);
        ASSERT_EQ(after.size(), 4u);
        EXPECT_EQ(after[seg + 1], k);
        const knot &a = orig[seg], &b = orig[seg + 1];
        // Where the knot lies on the original segment: a fine search.
        double t0 = 0, best = 1e300;
        for (int i = 0; i <= 200000; i++) {
            pt q = cubic(a.pos, a.h2, b.h1, b.pos, i / 200000.0);
            double d = std::hypot(q[0] - p->knots[k].pos[0], q[1] - p->knots[k].pos[1]);
            if (d < best)
                best = d, t0 = i / 200000.0;
        }
        EXPECT_LT(best, 1e-5);
        const knot &na = p->knots[after[seg]], &nk = p->knots[k], &nb = p->knots[after[seg + 2]];
        for (int i = 0; i <= 50; i++) {
            double s = i / 50.0;
            pt o1 = cubic(a.pos, a.h2, b.h1, b.pos, t0 * s);
            pt n1 = cubic(na.pos, na.h2, nk.h1, nk.pos, s);
            pt o2 = cubic(a.pos, a.h2, b.h1, b.pos, t0 + (1 - t0) * s);
            pt n2 = cubic(nk.pos, nk.h2, nb.h1, nb.pos, s);
            EXPECT_NEAR(n1[0], o1[0], 1e-5);
            EXPECT_NEAR(n1[1], o1[1], 1e-5);
            EXPECT_NEAR(n2[0], o2[0], 1e-5);
            EXPECT_NEAR(n2[1], o2[1], 1e-5);
        }
        path_free(p);
    }
}

TEST(PathEdit, InsertionRefusals)
{
    testlog_capture log;
    int c;
    path *p = scurve(&c);
    std::vector<int> k = walk(p, c);
    const float at[3] = {5, 5, 0};
    int knum = p->knum;
    // After the head: reported, nothing taken.
    EXPECT_EQ(path_insertcurveknot(p, c, k[2], at), -1);
    EXPECT_TRUE(log.contains("path_insertcurveknot: previous knot next == NULL!"));
    // A knotless curve, a knot that is not in use, a curve that is not.
    int empty = path_newcurve(p);
    EXPECT_EQ(path_insertcurveknot(p, empty, -1, at), -1);
    EXPECT_EQ(path_insertcurveknot(p, c, 200, at), -1);
    EXPECT_EQ(path_insertcurveknot(p, 20, -1, at), -1);
    EXPECT_EQ(p->knum, knum);
    EXPECT_EQ(walk(p, c), k);
    EXPECT_EQ(p->curves[empty].head, -1);
    EXPECT_EQ(p->curves[empty].tail, -1);
    // Before the tail: the point itself becomes the new tail.
    int t = path_insertcurveknot(p, c, -1, at);
    ASSERT_GE(t, 0);
    EXPECT_EQ(p->curves[c].tail, t);
    EXPECT_EQ(p->knots[t].next, k[0]);
    EXPECT_EQ(p->knots[k[0]].prev, t);
    EXPECT_EQ(p->knots[t].pos[0], 5.0f);
    path_free(p);
}

namespace {

// Two open curves along x: dst 0..2 and src starting at start, three knots
// each one apart; every knot's handles are pos -/+ (0.1, 0.2) so handle
// swaps show.
path *twocurves(float start, int *src, int *dst)
{
    path *p = path_new();
    *dst = path_newcurve(p);
    *src = path_newcurve(p);
    for (int i = 0; i < 3; i++) {
        float a[3] = {(float)i, 0, 0}, b[3] = {start + (float)i, 0, 0};
        int ka = path_prependknot(p, *dst, a);
        int kb = path_prependknot(p, *src, b);
        for (int k : {ka, kb}) {
            p->knots[k].h1[0] -= 0.1f, p->knots[k].h1[1] -= 0.2f;
            p->knots[k].h2[0] += 0.1f, p->knots[k].h2[1] += 0.2f;
        }
    }
    return p;
}

std::vector<float> xs(const path *p, int c)
{
    std::vector<float> x;
    for (int k : walk(p, c))
        x.push_back(p->knots[k].pos[0]);
    return x;
}

} // namespace

TEST(PathEdit, JoinModes)
{
    struct Case {
        int mode;
        float start;             // source's first x
        std::vector<float> xs;   // destination after the join
        bool swapped;            // copied knots have h1 and h2 exchanged
    };
    const Case cases[] = {
        {0, 3, {0, 1, 2, 3, 4, 5}, false},
        {1, 3, {0, 1, 2, 5, 4, 3}, true},
        {2, -3, {-1, -2, -3, 0, 1, 2}, true},
        {3, -3, {-3, -2, -1, 0, 1, 2}, false},
    };
    for (const Case &cs : cases) {
        int src, dst;
        path *p = twocurves(cs.start, &src, &dst);
        ASSERT_EQ(path_appendcurves(p, src, dst, cs.mode, 1e-6f), 1) << cs.mode;
        EXPECT_EQ(xs(p, dst), cs.xs) << cs.mode;
        EXPECT_EQ(xs(p, src).size(), 3u) << "the source stays";
        for (int k : walk(p, dst)) {
            const knot &n = p->knots[k];
            bool copied = n.pos[0] < 0 || n.pos[0] > 2;
            float h1dy = n.h1[1] - n.pos[1];
            EXPECT_FLOAT_EQ(h1dy, copied && cs.swapped ? 0.2f : -0.2f) << cs.mode << " x " << n.pos[0];
        }
        EXPECT_EQ(p->knum, 9);
        path_free(p);
    }
}

TEST(PathEdit, JoinMergesACoincidentEnd)
{
    int src, dst;
    path *p = twocurves(2, &src, &dst);
    int head = p->curves[dst].head;
    int first = p->curves[src].tail;
    p->knots[first].h2[0] = 7, p->knots[first].h2[1] = 8;
    ASSERT_EQ(path_appendcurves(p, src, dst, 0, 1e-6f), 1);
    EXPECT_EQ(xs(p, dst), (std::vector<float>{0, 1, 2, 3, 4}));
    // The shared point is not duplicated: its outgoing handle is the
    // source's.
    EXPECT_EQ(walk(p, dst)[2], head);
    EXPECT_EQ(p->knots[head].h2[0], 7.0f);
    EXPECT_EQ(p->knots[head].h2[1], 8.0f);
    path_free(p);
}

TEST(PathEdit, JoinRefusals)
{
    struct Case {
        const char *what;
        int mode;
        int closesrc, closedst;
        bool self;
    };
    const Case cases[] = {
        {"closed source", 0, 1, 0, false}, {"closed destination", 0, 0, 1, false}, {"mode 4", 4, 0, 0, false},
        {"mode -1", -1, 0, 0, false},      {"a curve onto itself", 0, 0, 0, true},
    };
    for (const Case &cs : cases) {
        int src, dst;
        path *p = twocurves(3, &src, &dst);
        p->curves[src].closed = cs.closesrc;
        p->curves[dst].closed = cs.closedst;
        int knum = p->knum;
        EXPECT_EQ(path_appendcurves(p, cs.self ? dst : src, dst, cs.mode, 0.0f), 0) << cs.what;
        EXPECT_EQ(xs(p, dst), (std::vector<float>{0, 1, 2})) << cs.what;
        EXPECT_EQ(p->knum, knum) << cs.what;
        path_free(p);
    }
    // The same knot at both chosen ends (a knot shared by two curves).
    testlog_capture log;
    int src, dst;
    path *p = twocurves(3, &src, &dst);
    int shared = p->curves[dst].head;
    p->curves[src].tail = shared;
    EXPECT_EQ(path_appendcurves(p, src, dst, 0, 0.0f), 0);
    EXPECT_TRUE(log.contains("SRC/DEST KNOTS!!!"));
    path_free(p);
    // A knotless source joins as nothing.
    p = twocurves(3, &src, &dst);
    int empty = path_newcurve(p);
    EXPECT_EQ(path_appendcurves(p, empty, dst, 0, 0.0f), 1);
    EXPECT_EQ(xs(p, dst), (std::vector<float>{0, 1, 2}));
    path_free(p);
}

TEST(PathEdit, ReductionRespectsItsCap)
{
    struct Case {
        int knots;
        float maxarea;
        int most;
    };
    const Case cases[] = {{3, 1e9f, 0}, {10, 1e9f, 5}, {10, 0.0f, 0}, {40, 1e9f, 20}};
    for (const Case &cs : cases) {
        path *p = path_new();
        std::vector<float> v;
        for (int i = 0; i < cs.knots; i++)
            v.insert(v.end(), {(float)i, std::sin((float)i), 0.0f});
        int c = addcurvepoly(p, cs.knots, v.data(), 0, 0.0f);
        int removed = path_reduceknots(p, c, cs.maxarea);
        EXPECT_LE(removed, cs.most) << cs.knots;
        if (cs.maxarea == 0.0f || cs.knots < 4)
            EXPECT_EQ(removed, 0);
        else
            EXPECT_GT(removed, 0);
        std::vector<int> k = walk(p, c);
        EXPECT_EQ((int)k.size(), cs.knots - removed);
        EXPECT_EQ(p->knum, cs.knots - removed);
        // The ends stay.
        EXPECT_EQ(p->knots[k.front()].pos[0], 0.0f);
        EXPECT_EQ(p->knots[k.back()].pos[0], (float)(cs.knots - 1));
        path_free(p);
    }
}

TEST(PathEdit, NearestCurveAndPointAtLength)
{
    path *p = path_new();
    std::vector<float> a = line(3, 1.0f, 0.0f);             // y = 0, x 0..2
    std::vector<float> b = {0, 1, 0, 2, 1, 0};             // y = 1, x 0..2
    int ca = addcurvepoly(p, 3, a.data(), 0, 0.0f);
    int cb = addcurvepoly(p, 2, b.data(), 0, 0.0f);
    struct Case {
        float x, y;
        int coarse, selected;
        int curve, knot; // knot: index along the curve's walk
        float distance;
    };
    p->csel[cb >> 3] |= (uint8_t)(1 << (cb & 7));
    const Case cases[] = {
        {1.5f, 0.2f, 0, 0, ca, 1, 0.2f},
        {0.5f, 0.9f, 1, 0, cb, 0, 0.1f},
        {1.5f, 0.1f, 0, 1, cb, 0, 0.9f},
    };
    for (const Case &cs : cases) {
        float pt2[2] = {cs.x, cs.y}, d = -1;
        int k = -1;
        EXPECT_EQ(path_nearestcurve(p, pt2, cs.coarse, cs.selected, &d, &k), cs.curve);
        EXPECT_EQ(k, walk(p, cs.curve)[cs.knot]);
        EXPECT_NEAR(d, cs.distance, 1e-4);
    }
    // Point at half the length of a straight curve: its midpoint, within
    // half a length sample (1,000 per segment, here up to 0.003 long).
    float out[3], dir[3];
    path_pointatlength(out, p, cb, 0.5f, 1.0f, dir);
    EXPECT_NEAR(out[0], 1.0f, 0.0016);
    EXPECT_NEAR(out[1], 1.0f, 1e-6);
    EXPECT_GT(dir[0], 0.0f);
    path_pointatlength(out, p, ca, 1.0f, 1.0f, nullptr);
    EXPECT_EQ(out[0], 2.0f);
    path_free(p);
    path *none = path_new();
    float q[2] = {0, 0};
    EXPECT_EQ(path_nearestcurve(none, q, 0, 0, nullptr, nullptr), -1);
    path_free(none);
}
