// Paths Carving judged against the drawn curves: cut points on the Beziers
// (evaluated here), flat levels at their heights, draped cuts inside their
// level's band, the direction rules, the closed curve's nearest start, and
// the runs that cut nothing or are refused.
#include "pathsfixture.h"

#include <cmath>
#include <vector>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0

// A dome in the middle of a flat top half way down.
double dome(double u, double v)
{
    const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5);
    return 0.5 + 0.4 * std::exp(-r2 / 0.05);
}
} // namespace

class PathsCut : public PathsTest {
protected:
    void SetUp() override
    {
        PathsTest::SetUp();
        usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, dome));
        addlayer();
        op.type = 12, op.z_max = 0.2f, op.z_doc = 0.1f;
        cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
    }
    void options(uint32_t bits) { std::memcpy(&op.aux[1], &bits, sizeof(bits)); }
    struct cut {
        std::vector<std::array<float, 3>> v;
    };
    std::vector<cut> cuts() const
    {
        std::vector<cut> out;
        const toolpath &tp = toolpaths[op.toolpath];
        for (uint32_t i = 0; i < tp.num_paths; i++) {
            cut c;
            for (uint32_t k = 0; k < tp.paths[i].count; k++) {
                const float *v = tp.verts + 3 * (size_t)(tp.paths[i].first + k);
                c.v.push_back({v[0], v[1], v[2]});
            }
            out.push_back(c);
        }
        return out;
    }
};

// Flat: every level cuts the curves at its own height, on the curves.
TEST_F(PathsCut, FlatLevelsFollowTheCurves)
{
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    const auto s = samples();
    const float px = canvas_size[0] / 64;
    const std::vector<cut> c = cuts();
    ASSERT_EQ(c.size(), 6u) << "three curves on two levels";
    for (size_t i = 0; i < c.size(); i++) {
        const float level = i < 3 ? -0.1f : -0.2f;
        for (const auto &v : c[i].v) {
            EXPECT_LE(nearest(s, v.data()), px) << "cut " << i << " leaves the curve at " << v[0] << ", " << v[1];
            EXPECT_NEAR(v[2], level, 1e-5) << "cut " << i;
        }
    }
    EXPECT_TRUE(notices().empty());
}

// Draped, with and without the cutter's widening: on the curves in x and y,
// and every cut inside the band between its level and the one above.
TEST_F(PathsCut, DrapedCutsStayInTheirBand)
{
    const float px = canvas_size[0] / 64;
    const auto s = samples();
    for (uint32_t bits : {pathscut_surface, pathscut_surface | pathscut_cutter}) {
        SCOPED_TRACE(bits);
        resetop();
        op.type = 12, op.z_max = 0.3f, op.z_doc = 0.1f;
        std::memcpy(&op.aux[0], &uid, sizeof(uid));
        options(bits);
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const std::vector<cut> c = cuts();
        ASSERT_FALSE(c.empty());
        const float bands[][2] = {{-0.1f, 0.0f}, {-0.2f, -0.1f}, {-0.3f, -0.2f}};
        int deep = 0;
        for (size_t i = 0; i < c.size(); i++) {
            float lo = 1e9f, hi = -1e9f;
            for (const auto &v : c[i].v) {
                EXPECT_LE(nearest(s, v.data()), px) << "cut " << i;
                lo = std::min(lo, v[2]), hi = std::max(hi, v[2]);
            }
            bool inside = false;
            for (const auto &b : bands)
                inside |= lo >= b[0] - 1e-5f && hi <= b[1] + 1e-5f;
            EXPECT_TRUE(inside) << "cut " << i << " spans " << lo << " .. " << hi;
            deep += lo < -0.21f;
        }
        EXPECT_GT(deep, 0) << "the dome's flanks reach the last level";
        toolpath_free(op.toolpath);
    }
}

TEST_F(PathsCut, DirectionRules)
{
    // Where each open curve's cut begins, per level: first point or last.
    struct Case {
        const char *what;
        int dir;
        float zmax;
        bool firstend[2][2]; // [level][curve]: true when it begins at the curve's first point
        size_t levels;
    };
    const Case cases[] = {
        {"forward", 0, 0.2f, {{true, true}, {true, true}}, 2},
        {"reversed", 1, 0.2f, {{false, false}, {false, false}}, 2},
        {"alternating, each level starting opposite", 2, 0.2f, {{true, false}, {false, true}}, 2},
        {"z_min = z_max: one level at Z1", 0, 0.0f, {{true, true}, {true, true}}, 1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        resetop();
        op.type = 12, op.z_max = k.zmax, op.z_doc = 0.1f, op.dir = k.dir;
        std::memcpy(&op.aux[0], &uid, sizeof(uid));
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const std::vector<cut> c = cuts();
        ASSERT_EQ(c.size(), 3 * k.levels);
        for (size_t level = 0; level < k.levels; level++)
            for (size_t curve = 0; curve < 2; curve++) {
                const auto &first = c[3 * level + curve].v.front();
                const auto want = curveend(curve, !k.firstend[level][curve]);
                EXPECT_NEAR(first[0], want[0], 1e-4) << "level " << level << " curve " << curve;
                EXPECT_NEAR(first[1], want[1], 1e-4) << "level " << level << " curve " << curve;
                EXPECT_NEAR(first[2], -std::min(0.1f * (level + 1), std::max(k.zmax, 0.0f)), 1e-5);
            }
        toolpath_free(op.toolpath);
    }
}

// The closed curve is entered at its point nearest the end of the cut
// before it, the end of the second open curve.
TEST_F(PathsCut, ClosedCurveStartsNearestThePreviousEnd)
{
    op.z_max = 0.1f;
    ASSERT_TRUE(rungenerator());
    const std::vector<cut> c = cuts();
    ASSERT_EQ(c.size(), 3u);
    const auto &ring = c[2].v;
    const auto &from = c[1].v.back();
    float best = 1e9f;
    for (const auto &v : ring)
        best = std::min(best, std::hypot(v[0] - from[0], v[1] - from[1]));
    EXPECT_NEAR(std::hypot(ring.front()[0] - from[0], ring.front()[1] - from[1]), best, 1e-6);
    EXPECT_EQ(ring.front(), ring.back()) << "a closed cut returns to its start";
}

TEST_F(PathsCut, NothingToCutOrRefused)
{
    struct Case {
        const char *what;
        uint32_t uid;
        float doc;
        bool slot; // a toolpath slot is left
    };
    const Case cases[] = {
        {"a uid no layer carries gives no polylines", 0x7ffffff1u, 0.1f, true},
        {"no depth of cut: refused", 0, 0.0f, false},
        {"a negative depth of cut: refused", 0, -0.05f, false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        resetop();
        op.type = 12, op.z_max = 0.2f, op.z_doc = k.doc;
        const uint32_t u = k.uid ? k.uid : uid;
        std::memcpy(&op.aux[0], &u, sizeof(u));
        ASSERT_TRUE(rungenerator(nullptr, 20.0));
        EXPECT_EQ(op.generating, 0u);
        if (k.slot) {
            ASSERT_GE(op.toolpath, 0) << quiet.text();
            EXPECT_EQ(toolpaths[op.toolpath].num_paths, 0u);
            toolpath_free(op.toolpath);
        } else {
            EXPECT_EQ(op.toolpath, -1);
        }
        const auto n = notices();
        ASSERT_EQ(n.size(), 1u) << "an empty toolpath does not compile";
        EXPECT_EQ(n[0], "Operation Toolpath Failure");
    }
}

// A layer uid is any 32-bit pattern; one that reads as a float NaN is a
// layer like any other, not a bad threshold.
TEST_F(PathsCut, UidThatReadsAsNaNIsCarved)
{
    uid = 0x7fc00001u;
    project.layers[slot].uid = uid;
    std::memcpy(&op.aux[0], &uid, sizeof(uid));
    ASSERT_TRUE(std::isnan(op.aux[0]));
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    EXPECT_EQ(toolpaths[op.toolpath].num_paths, 6u);
    EXPECT_TRUE(notices().empty());
}

// Flag 0x2: nearest-next from the first curve's start. The first curve ends
// nearer the closed curve than the second curve's start, so the closed one
// comes second, entered at its point nearest that end.
TEST_F(PathsCut, NearestNextOrder)
{
    op.z_max = 0.1f, op.flags = 0x2;
    ASSERT_TRUE(rungenerator());
    const std::vector<cut> c = cuts();
    ASSERT_EQ(c.size(), 3u);
    const auto end0 = curveend(0, true), start1 = curveend(1, false);
    EXPECT_EQ(c[1].v.front(), c[1].v.back()) << "the closed curve is cut second";
    EXPECT_NEAR(c[2].v.front()[0], start1[0], 1e-4);
    EXPECT_NEAR(c[2].v.front()[1], start1[1], 1e-4);
    float best = 1e9f;
    for (const auto &v : c[1].v)
        best = std::min(best, std::hypot(v[0] - end0[0], v[1] - end0[1]));
    EXPECT_NEAR(std::hypot(c[1].v.front()[0] - end0[0], c[1].v.front()[1] - end0[1]), best, 1e-5);
}
