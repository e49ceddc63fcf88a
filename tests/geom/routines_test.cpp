// Shared geometry routines checked against independent computations made
// here: box turning against the corners turned in double precision, line
// clipping against a parametric (slab) clip, slerp against the angle it must
// turn, and the triangle-tree walk against triangle counts, areas and the
// field's samples.
#include "geom/plane.h"
#include "geom/poly.h"
#include "geom/tritree.h"
#include "geom/vec.h"

#include "img/image.h"
#include "img/resample.h"
#include "render/draw.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr double routines_pi = 3.14159265358979323846;

TEST(Routines, SnapStepRoundsHalvesUpward)
{
    struct Case {
        float v, step, out;
    };
    const Case cases[] = {
        {1.25f, 0.5f, 1.5f}, {-0.3f, 1.0f, 0.0f}, {0.75f, 0.5f, 1.0f},  {-0.75f, 0.5f, -0.5f},
        {7.0f, 2.5f, 7.5f},  {3.3f, 0.0f, 3.3f},  {-1.2f, -0.5f, -1.0f},
    };
    for (const Case &c : cases)
        EXPECT_FLOAT_EQ(snap_step(c.v, c.step), c.out) << c.v << " by " << c.step;
}

TEST(Routines, ManhattanSumsTheAxisDistances)
{
    const float a[3] = {1, -2, 3}, b[3] = {-1.5f, 2, 3.25f};
    EXPECT_FLOAT_EQ(vec3_manhattan(a, b), 2.5f + 4 + 0.25f);
    EXPECT_FLOAT_EQ(vec3_manhattan(b, a), 6.75f);
    EXPECT_EQ(vec3_manhattan(a, a), 0.0f);
}

// Exactly 0 and +-1 near the quarter turns; everything else (360 and -90
// among them) through sine and cosine.
TEST(Routines, ExactSinCosOnlyNearTheFourQuarterTurns)
{
    struct Case {
        double deg;
        bool exact;
        double s, c;
    };
    const Case cases[] = {
        {0.0, true, 0, 1},         {0.00005, true, 0, 1},     {-0.00009, true, 0, 1},
        {90.00005, true, 1, 0},    {89.99991, true, 1, 0},    {180.0, true, 0, -1},
        {270.00009, true, -1, 0},  {90.0002, false, 0, 0},    {360.0, false, 0, 0},
        {-90.0, false, 0, 0},      {45.0, false, 0, 0},       {-270.0, false, 0, 0},
    };
    for (const Case &c : cases) {
        double s = 7, k = 7;
        math_exactsincos(c.deg, &s, &k);
        if (c.exact) {
            EXPECT_EQ(s, c.s) << c.deg;
            EXPECT_EQ(k, c.c) << c.deg;
            continue;
        }
        EXPECT_NEAR(s, std::sin(c.deg * routines_pi / 180.0), 1e-12) << c.deg;
        EXPECT_NEAR(k, std::cos(c.deg * routines_pi / 180.0), 1e-12) << c.deg;
        // Computed values at the turns outside the exact set are not the
        // rounded ones: 360 keeps a tiny sine, -90 a tiny cosine.
        EXPECT_TRUE(s != std::round(s) || k != std::round(k)) << c.deg;
    }
}

TEST(Routines, BoundsRotateEnclosesTheTurnedCorners)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-50, 50), ext(0, 30), ang(-400, 400);
    for (int i = 0; i < 500; i++) {
        float x0 = pos(rng), y0 = pos(rng);
        float box[4] = {x0, y0, x0 + ext(rng), y0 + ext(rng)};
        float angle = i < 4 ? 90.0f * i : ang(rng);
        double t = angle * routines_pi / 180.0, cx = (box[0] + box[2]) / 2.0, cy = (box[1] + box[3]) / 2.0;
        double lo[2] = {1e30, 1e30}, hi[2] = {-1e30, -1e30};
        for (double x : {(double)box[0], (double)box[2]}) {
            for (double y : {(double)box[1], (double)box[3]}) {
                double tx = cx + (x - cx) * std::cos(t) + (y - cy) * std::sin(t);
                double ty = cy - (x - cx) * std::sin(t) + (y - cy) * std::cos(t);
                lo[0] = std::min(lo[0], tx), lo[1] = std::min(lo[1], ty);
                hi[0] = std::max(hi[0], tx), hi[1] = std::max(hi[1], ty);
            }
        }
        float out[4];
        bounds_rotate(out, box, angle);
        const double want[4] = {lo[0], lo[1], hi[0], hi[1]};
        for (int k = 0; k < 4; k++)
            EXPECT_NEAR(out[k], want[k], 2e-5) << "angle " << angle << " side " << k;
    }
}

TEST(Routines, SlerpStaysUnitAndTurnsByTheFraction)
{
    std::mt19937 rng(11);
    std::normal_distribution<float> g;
    std::uniform_real_distribution<float> frac(0, 1);
    auto unit = [&](float *v) {
        float r[3] = {g(rng), g(rng), g(rng)};
        vec3_normalize(v, r);
    };
    // The angle between two vectors, well conditioned at small angles.
    auto angle = [](const float *a, const float *b) {
        double cx = (double)a[1] * b[2] - (double)a[2] * b[1], cy = (double)a[2] * b[0] - (double)a[0] * b[2],
               cz = (double)a[0] * b[1] - (double)a[1] * b[0];
        double d = (double)a[0] * b[0] + (double)a[1] * b[1] + (double)a[2] * b[2];
        return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), d);
    };
    for (int i = 0; i < 1000; i++) {
        float a[3], b[3], out[3];
        unit(a);
        unit(b);
        float t = frac(rng);
        EXPECT_EQ(vec3_slerp(out, a, b, t), out);
        double whole = angle(a, b);
        EXPECT_NEAR(std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]), 1.0, 1e-5);
        EXPECT_NEAR(angle(a, out), t * whole, 1e-5) << i;
        EXPECT_NEAR(angle(out, b), (1 - t) * whole, 1e-5) << i;
    }
}

// Unit vectors whose dot product, taken from their float components, lies
// just outside -1..1: acos alone would give NaN.
TEST(Routines, SlerpOfEqualOrOppositeVectorsStaysFinite)
{
    const float a[3] = {0.6f, 0.8f, 0.0f}, neg[3] = {-0.6f, -0.8f, 0.0f};
    ASSERT_GT((double)a[0] * a[0] + (double)a[1] * a[1], 1.0);
    for (float t : {0.0f, 0.3f, 1.0f}) {
        float out[3];
        vec3_slerp(out, a, a, t);
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(out[k], a[k], 1e-6) << t;
        vec3_slerp(out, a, neg, t);
        for (int k = 0; k < 3; k++)
            EXPECT_TRUE(std::isfinite(out[k])) << t;
    }
}

// ------------------------------------------------------------ line clipping

struct clipend {
    double s;
    int edge; // 0 left, 1 top, 2 right, 3 bottom
};

// The slab clip of the infinite line o + s d to the box: the entry and exit
// parameters with the box side each lies on; false when the line misses.
bool routines_slabclip(const float *o, const float *d, const float *box, clipend *in, clipend *out)
{
    in->s = -1e300;
    out->s = 1e300;
    const int lowedge[2] = {0, 3}, highedge[2] = {2, 1};
    for (int k = 0; k < 2; k++) {
        double t0 = (box[k] - o[k]) / (double)d[k], t1 = (box[k + 2] - o[k]) / (double)d[k];
        clipend lo = {t0, lowedge[k]}, hi = {t1, highedge[k]};
        if (t0 > t1)
            std::swap(lo, hi);
        if (lo.s > in->s)
            *in = lo;
        if (hi.s < out->s)
            *out = hi;
    }
    return in->s < out->s;
}

TEST(Routines, ParallelClipMatchesTheSlabClipFromItsStartEdge)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-10, 10), dirs(-1, 1);
    int hits = 0, misses = 0;
    for (int i = 0; i < 4000; i++) {
        float x0 = u(rng), y0 = u(rng);
        float box[4] = {x0, y0, x0 + 0.5f + std::fabs(u(rng)), y0 + 0.5f + std::fabs(u(rng))};
        float o[3] = {u(rng), u(rng), u(rng)}, d[3] = {dirs(rng), dirs(rng), dirs(rng)};
        if (std::fabs(d[0]) < 1e-3f || std::fabs(d[1]) < 1e-3f)
            continue;
        int start = i % 4;
        float a[3], b[3];
        int got = poly_parallel(o, d, box, start, a, b);
        clipend in, out;
        if (!routines_slabclip(o, d, box, &in, &out)) {
            EXPECT_EQ(got, 0) << i;
            misses++;
            continue;
        }
        ASSERT_EQ(got, 1) << i;
        hits++;
        // The end on the edge met first going round from the start edge is a.
        auto from = [&](int e) { return (e - start + 4) % 4; };
        const clipend &first = from(in.edge) <= from(out.edge) ? in : out;
        const clipend &second = &first == &in ? out : in;
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(a[k], o[k] + first.s * d[k], 1e-5) << i << " axis " << k;
            EXPECT_NEAR(b[k], o[k] + second.s * d[k], 1e-5) << i << " axis " << k;
        }
    }
    EXPECT_GT(hits, 500);
    EXPECT_GT(misses, 500);
}

// A line along the box's diagonal crosses two edges at each corner; from
// every start edge the result is the whole diagonal, never one corner twice.
TEST(Routines, ParallelClipThroughCornersGivesTheWholeDiagonal)
{
    const float box[4] = {0, 0, 4, 2}, o[3] = {-2, -1, 0}, d[3] = {2, 1, 0};
    const float lo[2] = {0, 0}, hi[2] = {4, 2};
    for (int start = 0; start < 4; start++) {
        float a[3], b[3];
        ASSERT_EQ(poly_parallel(o, d, box, start, a, b), 1) << start;
        bool forward = a[0] == lo[0] && a[1] == lo[1] && b[0] == hi[0] && b[1] == hi[1];
        bool backward = a[0] == hi[0] && a[1] == hi[1] && b[0] == lo[0] && b[1] == lo[1];
        EXPECT_TRUE(forward || backward) << start << ": " << a[0] << "," << a[1] << " " << b[0] << "," << b[1];
    }
    // Touching a single corner gives no chord.
    const float touch[3] = {4, 2, 0}, across[3] = {1, -1, 0};
    float a[3], b[3];
    EXPECT_EQ(poly_parallel(touch, across, box, 0, a, b), 0);
}

// ---------------------------------------------------------- triangle tree

class TriangleTree : public testing::Test {
protected:
    testlog_capture quiet; // the renderer's start-up line
    image *field = nullptr;
    int model = -1;
    static constexpr int width = 33, height = 17;

    void SetUp() override
    {
        r_initdraw();
        field = img_allocfloat("tree field", width, height);
        ASSERT_TRUE(field);
        float *px = (float *)field->pixels;
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> u(0, 1);
        for (int i = 0; i < width * height; i++)
            px[i] = u(rng);
        model = r_modelnew();
        ASSERT_GE(model, 0);
        r_begin(r_triangles);
    }
    void TearDown() override
    {
        if (r_primitive != -1)
            r_end();
        r_modelfree(model);
        img_free(field);
        r_quitdraw();
    }
    // Ends the primitive and gives the recorded vertices.
    const r_model &recorded()
    {
        r_end();
        return r_models[model];
    }
};

// A tree of the given depth; leafchance decides, below the root, whether a
// node stops early.
std::vector<toolpath_treenode> routines_tree(std::mt19937 &rng, int depth, float leafchance)
{
    std::vector<toolpath_treenode> nodes;
    std::uniform_real_distribution<float> u(0, 1);
    std::function<int(int)> grow = [&](int level) {
        int me = (int)nodes.size();
        nodes.push_back({{-1, -1}, {0, 0, 0, 0, 0}});
        if (level < depth && (level == 0 || u(rng) >= leafchance)) {
            int left = grow(level + 1);
            int right = grow(level + 1);
            nodes[me].child[0] = left;
            nodes[me].child[1] = right;
        }
        return me;
    };
    grow(0);
    return nodes;
}

int routines_leaves(const std::vector<toolpath_treenode> &nodes)
{
    int n = 0;
    for (const toolpath_treenode &t : nodes)
        n += t.child[0] == -1;
    return n;
}

TEST_F(TriangleTree, FullTreesGiveTwoToTheDepthTriangles)
{
    std::mt19937 rng(1);
    for (int depth = 0; depth <= 6; depth++) {
        std::vector<toolpath_treenode> nodes = routines_tree(rng, depth, 0.0f);
        toolpath_tree tree = {{1, 1, 1}, {0, 0, 0}, width, height, field, nodes.data(), (int32_t)nodes.size()};
        const float a[3] = {0, 0, 0.5f}, b[3] = {width - 1.0f, 0, 0.5f}, c[3] = {width - 1.0f, height - 1.0f, 0.5f};
        const float colour[4] = {1, 1, 1, 1};
        uint32_t before = r_models[model].numverts;
        ASSERT_EQ(toolpath_renderhelper(&tree, 0, a, b, c, colour), 1) << depth;
        EXPECT_EQ(recorded().numverts - before, 3u << depth) << depth;
        r_begin(r_triangles);
    }
}

// Random trees: the leaves tile the root triangle in x and y, every vertex
// that is not a root corner lies at a height the field gives at its point,
// and drawn points are scaled and offset with texture coordinates from the
// field position.
TEST_F(TriangleTree, LeavesTileTheRootAndMidpointsSampleTheField)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> ux(0, width - 1), uy(0, height - 1);
    const float scale[3] = {0.5f, -0.25f, 2.0f}, offset[3] = {3, 7, -1};
    for (int round = 0; round < 20; round++) {
        std::vector<toolpath_treenode> nodes = routines_tree(rng, 8, 0.3f);
        toolpath_tree tree = {{scale[0], scale[1], scale[2]}, {offset[0], offset[1], offset[2]}, width, height,
                              field, nodes.data(), (int32_t)nodes.size()};
        const float root[3][3] = {{ux(rng), uy(rng), 0.25f}, {ux(rng), uy(rng), 0.5f}, {ux(rng), uy(rng), 0.75f}};
        const float colour[4] = {0.2f, 1.5f, -1.0f, 0.5f};
        if (round)
            r_begin(r_triangles);
        uint32_t first = r_models[model].numverts;
        ASSERT_EQ(toolpath_renderhelper(&tree, 0, root[0], root[1], root[2], colour), 1);
        const r_model &m = recorded();
        uint32_t count = m.numverts - first;
        ASSERT_EQ(count, 3u * routines_leaves(nodes)) << round;
        auto field_point = [&](uint32_t v, int k) { return (m.positions[3 * v + k] - offset[k]) / scale[k]; };
        auto area = [](const float p[3][2]) {
            return 0.5 * std::fabs((double)(p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) -
                                   (double)(p[2][0] - p[0][0]) * (p[1][1] - p[0][1]));
        };
        const float rootxy[3][2] = {{root[0][0], root[0][1]}, {root[1][0], root[1][1]}, {root[2][0], root[2][1]}};
        double sum = 0.0;
        for (uint32_t t = first; t < m.numverts; t += 3) {
            float tri[3][2];
            for (int j = 0; j < 3; j++)
                tri[j][0] = field_point(t + j, 0), tri[j][1] = field_point(t + j, 1);
            sum += area(tri);
        }
        EXPECT_NEAR(sum, area(rootxy), 1e-3 * area(rootxy)) << round;
        for (uint32_t v = first; v < m.numverts; v++) {
            float x = field_point(v, 0), y = field_point(v, 1), z = field_point(v, 2);
            bool corner = false;
            for (const auto &r : root)
                corner |= std::fabs(x - r[0]) < 1e-4f && std::fabs(y - r[1]) < 1e-4f;
            if (!corner)
                EXPECT_NEAR(z, img_samplescalar(field, x, height - y), 1e-5) << round << " vertex " << v;
            EXPECT_NEAR(m.texcoords[2 * v] / 4096.0f, x / width, 1.0f / 4096) << v;
            EXPECT_NEAR(m.texcoords[2 * v + 1] / 4096.0f, 1.0f - y / height, 1.0f / 4096) << v;
            const uint8_t *rgba = m.colors + 4 * v;
            EXPECT_EQ(rgba[0], (uint8_t)(0.2f * 255.0f));
            EXPECT_EQ(rgba[1], 255);
            EXPECT_EQ(rgba[2], 0);
            EXPECT_EQ(rgba[3], 127);
        }
    }
}

// Node -1, a node past the table and a tree whose links loop draw nothing
// and end.
TEST_F(TriangleTree, MissingAndLoopingNodesEndWithoutDrawing)
{
    const toolpath_treenode loop[1] = {{{0, 0}, {0, 0, 0, 0, 0}}};
    const toolpath_treenode leaf[1] = {{{-1, -1}, {0, 0, 0, 0, 0}}};
    const float a[3] = {0, 0, 0}, b[3] = {8, 0, 0}, c[3] = {8, 8, 0}, colour[4] = {1, 1, 1, 1};
    toolpath_tree looping = {{1, 1, 1}, {0, 0, 0}, width, height, field, loop, 1};
    toolpath_tree single = {{1, 1, 1}, {0, 0, 0}, width, height, field, leaf, 1};
    testlog_capture log;
    EXPECT_EQ(toolpath_renderhelper(&single, -1, a, b, c, colour), 0);
    EXPECT_EQ(toolpath_renderhelper(&single, 1, a, b, c, colour), 0);
    EXPECT_EQ(toolpath_renderhelper(&looping, 0, a, b, c, colour), 0);
    EXPECT_EQ(recorded().numverts, 0u);
    EXPECT_TRUE(log.contains("toolpath_renderhelper: bad node 1"));
}

} // namespace
