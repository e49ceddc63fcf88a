// 2.5D offset milling and horizontal finishing on small synthetic canvases:
// the levels, the depth step and stepover the run derives, the perimeter
// area, the link settings, finishing rings (one per outline and level, the
// steepness mask), islands, and the inputs that must end through the
// failure exit (tables overflowed, no depth step, a negative stepover)
// with the next operation still running.
#include "cam/horizontal.h"

#include "gentest.h"
#include "sys/config.h"
#include "testchild.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

// Levels the run reports, in order.
std::vector<float> reportedlevels(const std::string &log)
{
    static const std::regex line(R"(\.\.\.completed zlevel\[(\d+)\] @Z:([-0-9.]+))");
    std::vector<float> out;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
        out.push_back(std::stof((*it)[2]));
    return out;
}

// The levels from the canvas top T down to T - zmax, D apart.
std::vector<float> expectedlevels(float top, float zmin, float zmax, float d)
{
    const float b = top - zmax;
    std::vector<float> out;
    for (float z = std::fmax(top - zmin - d, b);; z = std::fmax(b, z - d)) {
        out.push_back(z);
        if (std::fabs(z - b) < 0.0001f)
            return out;
    }
}

// A field of n x n pixels at height 1 with the pixels where pit(x, y) holds
// at height 0.
std::vector<float> pits(int n, const std::function<bool(int, int)> &pit)
{
    std::vector<float> f((size_t)n * n, 1.0f);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            if (pit(x, y))
                f[(size_t)y * n + x] = 0.0f;
    return f;
}

// A bowl (its level regions are discs), with a round boss standing in it
// when boss is set; u, v in 0..1 across the canvas.
float bowl(double u, double v, bool boss)
{
    const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5);
    double h = std::min(1.0, 0.15 + 6.0 * std::max(0.0, r2 - 0.02));
    if (boss)
        h = std::max(h, 0.95 - 20.0 * std::max(0.0, std::sqrt(r2) - 0.06));
    return (float)h;
}

struct ring {
    float z, d, area;
    std::vector<float> pts; // x, y
};

// horizontal_scipy.py's answer for the rings: one number each, or none when
// the reference did not answer.
std::vector<double> reference(const char *mode, const std::vector<float> &field, int n, const float size[3],
                              const float origin[3], float radius, const std::vector<ring> &rings)
{
    std::ostringstream q;
    q << "{\"mode\":\"" << mode << "\",\"w\":" << n << ",\"h\":" << n << ",\"radius\":" << radius;
    q << ",\"size\":[" << size[0] << "," << size[1] << "," << size[2] << "],\"origin\":[" << origin[0] << ","
      << origin[1] << "," << origin[2] << "],\"field\":[";
    for (size_t i = 0; i < field.size(); i++)
        q << (i ? "," : "") << field[i];
    q << "],\"rings\":[";
    for (size_t r = 0; r < rings.size(); r++) {
        q << (r ? "," : "") << "{\"z\":" << rings[r].z << ",\"d\":" << rings[r].d << ",\"pts\":[";
        for (size_t i = 0; i < rings[r].pts.size(); i++)
            q << (i ? "," : "") << rings[r].pts[i];
        q << "]}";
    }
    q << "]}";
    return testchild_asknumbers("cam/horizontal_scipy.py", q.str());
}

class Horizontal : public GenTest {
protected:
    void SetUp() override
    {
        GenTest::SetUp();
        op.type = 7;
        op.step = 0.0f;
        op.z_doc = 0.2f;
        op.z_max = 0.5f;
        cam_settool(1, "flat 1/16", tool_cylinder, 1, 2, 0.0625f, 1.0f, 0.0f, 1.5f, 20.0f);
    }
    // A canvas of n x n pixels over side x side x 1 with its top at z = 1.
    void canvas(const std::vector<float> &f, int n, float side = 1.0f)
    {
        const float size[3] = {side, side, 1.0f}, frac[3] = {0, 0, 0};
        setcanvas(f, n, n, size, frac);
    }
    const toolpath &tp() const { return toolpaths[op.toolpath]; }
    // The closed paths of the toolpath (the rings; entry cuts are open).
    std::vector<ring> rings() const
    {
        std::vector<ring> out;
        for (uint32_t p = 0; p < tp().num_paths; p++) {
            if (!(tp().paths[p].flags & PATH_CLOSED))
                continue;
            const float *v = tp().verts + tp().paths[p].first * 3;
            ring r{v[2], 0.0f, cont_polyarea(v, tp().paths[p].count), {}};
            for (uint32_t k = 0; k < tp().paths[p].count; k++)
                r.pts.insert(r.pts.end(), {v[k * 3], v[k * 3 + 1]});
            out.push_back(r);
        }
        return out;
    }
    // The run ended through the failure exit: nothing generated, the notice
    // pending, and the next operation runs (the CAM mutex is free).
    void expectfailed(const char *what)
    {
        SCOPED_TRACE(what);
        EXPECT_EQ(op.generating.load(), 0u);
        EXPECT_EQ(op.toolpath, -1);
        const std::vector<std::string> n = notices();
        EXPECT_EQ(std::count(n.begin(), n.end(), "Operation Toolpath Failure"), 1);
    }
    void expectnextruns()
    {
        resetop();
        op.type = 7, op.z_doc = 0.2f, op.z_max = 0.2f;
        canvas(pits(8, [](int x, int y) { return x > 2 && x < 6 && y > 2 && y < 6; }), 8);
        ASSERT_TRUE(rungenerator(nullptr, 20.0)) << "the CAM mutex was left locked";
        EXPECT_GE(op.toolpath, 0);
        EXPECT_TRUE(notices().empty());
    }
};

} // namespace

TEST_F(Horizontal, LevelsStepFromTheFirstDepthDownToTheBottom)
{
    struct Case {
        const char *what;
        float zmin, zmax, doc, flutes;
        int units;
        uint32_t flags;
        float d; // the depth step the case must give
    };
    const Case cases[] = {
        {"depth of cut", 0.0f, 0.5f, 0.2f, 1.0f, 1, 0, 0.2f},
        {"from the minimum depth", 0.15f, 0.5f, 0.2f, 1.0f, 1, 0, 0.2f},
        {"limited by the flutes", 0.0f, 0.5f, 0.3f, 0.1f, 1, 0, 0.1f},
        {"flutes ignored with 0x80", 0.0f, 0.5f, 0.3f, 0.1f, 1, camop_anydoc, 0.3f},
        {"metric flutes on an inch canvas", 0.0f, 0.5f, 0.3f, 5.0f, 2, 0, 5.0f * 0.03937008f},
        {"minimum within one step of the maximum", 0.45f, 0.5f, 0.2f, 1.0f, 1, 0, 0.2f},
    };
    canvas(std::vector<float>(16 * 16, 0.0f), 16);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        cam_settool(1, "flat", tool_cylinder, c.units, 2, 0.0625f, c.flutes, 0.0f, 1.5f, 20.0f);
        op.z_min = c.zmin, op.z_max = c.zmax, op.z_doc = c.doc, op.flags = c.flags;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const std::vector<float> got = reportedlevels(log.text()), want = expectedlevels(1.0f, c.zmin, c.zmax, c.d);
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < want.size(); k++)
            EXPECT_NEAR(got[k], want[k], 1e-5f) << "level " << k;
        // One ring (the region's outline) per level, each at its level.
        ASSERT_EQ(tp().num_paths, want.size());
        for (uint32_t p = 0; p < tp().num_paths; p++)
            for (uint32_t v = 0; v < tp().paths[p].count; v++)
                EXPECT_NEAR(tp().verts[(tp().paths[p].first + v) * 3 + 2], want[p], 1e-5f);
        toolpath_free(op.toolpath);
    }
}

TEST_F(Horizontal, StepoverAndLinkSettings)
{
    struct Case {
        const char *what;
        int type;
        float flutediameter, aux, step, doc;
        uint32_t flags;
        float dist2, height;
    };
    const float doc = 0.2f;
    const Case cases[] = {
        {"percent of a cylinder's diameter", tool_cylinder, 0.125f, 0.0f, 40.0f, doc,
         camop_linkcuts | camop_percentstep, 0.075f * 0.075f, 2.3f * doc},
        // A tapered ball's flute diameter is its ball's radius: 40% of twice it.
        {"percent of a tapered ball", tool_taperball, 0.03125f, 5.0f, 40.0f, doc,
         camop_linkcuts | camop_percentstep, 0.0375f * 0.0375f, 2.3f * doc},
        {"finishing", tool_cylinder, 0.0625f, 0.0f, 0.0f, doc, camop_linkcuts, 1.5f * 2.3f * doc * 1.5f * 2.3f * doc,
         2.3f * doc},
        {"finishing unlinked", tool_cylinder, 0.0625f, 0.0f, 0.0f, doc, 0, 0.0f, 0.0f},
    };
    canvas(pits(16, [](int x, int y) { return x > 4 && x < 11 && y > 4 && y < 11; }), 16);
    static const std::regex line(R"(link distance:([-0-9.]+) z:([-0-9.]+))");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        cam_settool(1, c.what, c.type, 1, 2, c.flutediameter, 1.0f, c.aux, 1.5f, 20.0f);
        op.step = c.step, op.z_doc = c.doc, op.z_max = c.doc, op.flags = c.flags;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const std::string text = log.text();
        std::smatch m;
        ASSERT_TRUE(std::regex_search(text, m, line));
        EXPECT_NEAR(std::stof(m[1]), c.dist2, 1e-6f);
        EXPECT_NEAR(std::stof(m[2]), c.height, 1e-6f);
        toolpath_free(op.toolpath);
    }
}

TEST_F(Horizontal, PerimeterAreaLeavesThreePixelsAndTheToolAcross)
{
    const int w = 1000, h = 500;
    const float size[3] = {10, 5, 1}, frac[3] = {0, 0, 0};
    setcanvas(std::vector<float>((size_t)w * h, 0.0f), w, h, size, frac);
    cam_settool(1, "flat 1/4", tool_cylinder, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f);
    op.z_max = op.z_doc;
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    float amax = 0;
    ASSERT_EQ(std::sscanf(log.text().substr(log.text().find("max area:")).c_str(), "max area:%f", &amax), 1);
    EXPECT_NEAR(amax, 9.72f * 0.999f * 4.72f, 1e-4f);
}

TEST_F(Horizontal, FinishingCutsOneRingPerOutlineAndLevel)
{
    // Two square pits with upright walls through every level.
    canvas(pits(32, [](int x, int y) { return y > 4 && y < 27 && ((x > 3 && x < 13) || (x > 18 && x < 28)); }), 32);
    op.z_max = 0.6f, op.cont = cont_new();
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    const std::vector<float> levels = reportedlevels(log.text());
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_EQ(tp().num_paths, 6u);
    EXPECT_EQ(op.cont->numpolys, 6u) << "the outlines stay in the working contour";
    EXPECT_FALSE(log.contains("...contoured dist")) << "no offsets";
    EXPECT_FALSE(log.contains("bridges")) << "no bridges";
}

TEST_F(Horizontal, SteepnessMaskKeepsTheRingsOfSteepWalls)
{
    // A 30-degree cone: its outline at every level lies on the slope.
    const int n = 40;
    const float side = 2.0f, slope = std::tan(30.0f * (float)M_PI / 180.0f);
    std::vector<float> f((size_t)n * n);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            const float dx = (x + 0.5f) * side / n - 1.0f, dy = (y + 0.5f) * side / n - 1.0f;
            f[(size_t)y * n + x] = std::fmax(0.1f, 0.9f - slope * std::sqrt(dx * dx + dy * dy));
        }
    canvas(f, n, side);
    cam_settool(1, "flat 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0f, 1.5f, 20.0f);
    struct Case {
        float minangle;
        uint32_t rings;
    };
    const Case cases[] = {{20.0f, 3}, {40.0f, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.minangle);
        op.z_min = 0.1f, op.z_doc = 0.1f, op.z_max = 0.4f, op.aux[0] = c.minangle;
        op.flags = 0x40; // the canvas perimeter is left alone
        ASSERT_TRUE(rungenerator());
        notices();
        if (!c.rings) {
            EXPECT_TRUE(op.toolpath < 0 || tp().num_paths == 0) << "nothing to cut";
            toolpath_free(op.toolpath);
            continue;
        }
        ASSERT_GE(op.toolpath, 0);
        ASSERT_EQ(tp().num_paths, c.rings);
        for (uint32_t p = 0; p < tp().num_paths; p++)
            EXPECT_TRUE(tp().paths[p].flags & PATH_CLOSED) << "ring " << p << " whole";
        toolpath_free(op.toolpath);
    }
}

TEST_F(Horizontal, BossInsideAPocketIsAnIslandOfThatPocket)
{
    // A pocket with a boss in its middle, and a second pocket beside it.
    canvas(pits(40, [](int x, int y) {
               const bool first = x > 3 && x < 24 && y > 3 && y < 36 && !(x > 10 && x < 17 && y > 14 && y < 25);
               return first || (x > 27 && x < 37 && y > 3 && y < 36);
           }),
           40);
    cam_settool(1, "fine", tool_cylinder, 1, 2, 0.0001f, 1.0f, 0.0f, 1.5f, 20.0f);
    const int saved = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 1);
    for (float step : {0.0f, 0.05f}) {
        SCOPED_TRACE(step);
        testlog_capture log;
        op.step = step, op.z_max = 0.2f;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const std::string text = log.text();
        static const std::regex top(R"(leaves\[\d+\] = zroots\[0\] \+= n\[(\d+)\])");
        static const std::regex island(R"(node\[(\d+)/([-0-9.]+)\]\.island \+= node\[(\d+)/([-0-9.]+)\])");
        int tops = 0;
        for (std::sregex_iterator it(text.begin(), text.end(), top), end; it != end; ++it)
            tops++;
        EXPECT_EQ(tops, 3) << "two pockets and the boss";
        std::smatch m;
        ASSERT_TRUE(std::regex_search(text, m, island));
        // The pocket round the boss, not the smaller one beside it: the
        // first pocket's area less the boss's.
        const float px = 1.0f / 40;
        EXPECT_NEAR(std::stof(m[2]), (20 * 32 - 6 * 10) * px * px, 0.07f);
        EXPECT_NEAR(std::stof(m[4]), -6 * 10 * px * px, 0.01f);
        EXPECT_FALSE(log.contains("has no pocket node"));
        toolpath_free(op.toolpath);
    }
    cfg_seti(cfg_debuginfo, saved);
}

TEST_F(Horizontal, RefusedInputEndsThroughTheFailureExit)
{
    struct Case {
        const char *what;
        float doc, step, flutes;
        const char *line;
    };
    const Case cases[] = {
        {"no depth of cut", 0.0f, 0.05f, 1.0f, "depth of cut 0.000000 must be above 0"},
        {"flutes of no length", 0.2f, 0.05f, 0.0f, "depth of cut 0.000000 must be above 0"},
        {"negative stepover", 0.2f, -0.05f, 1.0f, "cam_horizontal: stepover -0.050000 must not be negative"},
    };
    canvas(pits(8, [](int x, int y) { return x > 2 && x < 6 && y > 2 && y < 6; }), 8);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        cam_settool(1, "flat", tool_cylinder, 1, 2, 0.0625f, c.flutes, 0.0f, 1.5f, 20.0f);
        op.z_doc = c.doc, op.step = c.step;
        ASSERT_TRUE(rungenerator(nullptr, 20.0));
        expectfailed(c.what);
        EXPECT_TRUE(log.contains(c.line));
        EXPECT_FALSE(log.contains("...thresholded")) << "refused before the first level";
    }
    cam_settool(1, "flat", tool_cylinder, 1, 2, 0.0625f, 1.0f, 0.0f, 1.5f, 20.0f);
    expectnextruns();
}

TEST_F(Horizontal, FullTablesEndTheRunCleanly)
{
    struct Case {
        const char *what;
        int n, pitch, levels;
        const char *line;
    };
    // Single-pixel pits under a cutter far finer than a pixel, in finishing:
    // one ring per pit and level.
    const Case cases[] = {
        {"ring nodes", 110, 5, 20, "cam_horizontal: ring node table overflow (8192 rings)"},
        {"rings of one step", 125, 5, 1, "cam_horizontal: ring list of one step overflow (512 rings)"},
        {"levels", 8, 8, 1100, "cam_horizontal: level table overflow (1024 levels)"},
    };
    cam_settool(1, "fine", tool_cylinder, 1, 2, 0.0001f, 1.0f, 0.0f, 1.5f, 20.0f);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        // Four units across, so that a pit's ring is well above the least area kept.
        canvas(pits(c.n, [&](int x, int y) { return x % c.pitch == 2 && y % c.pitch == 2; }), c.n, 4.0f);
        op.step = 0.0f, op.z_max = 0.55f, op.z_doc = 0.55f / c.levels, op.cont = cont_new();
        ASSERT_TRUE(rungenerator(nullptr, 60.0));
        expectfailed(c.what);
        EXPECT_TRUE(log.contains(c.line));
        cont_free(op.cont);
        op.cont = nullptr;
    }
    expectnextruns();
}


TEST_F(Horizontal, FinishingRingsFollowTheSurfaceGrownByTheCutter)
{
    const int n = 48;
    const float size[3] = {2, 2, 0.5f}, frac[3] = {0, 0, 1}, origin[3] = {0, 0, 0.5f};
    std::vector<float> f((size_t)n * n);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            f[(size_t)y * n + x] = bowl((x + 0.5) / n, (y + 0.5) / n, true);
    setcanvas(f, n, n, size, frac);
    cam_settool(1, "flat 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0f, 1.5f, 20.0f);
    op.z_max = 0.3f, op.z_doc = 0.1f;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    const std::vector<ring> found = rings();
    ASSERT_EQ(found.size(), 6u) << "the bowl's wall and the boss at three levels";
    const std::vector<double> h = reference("hausdorff", f, n, size, origin, 0.0625f, found);
    ASSERT_EQ(h.size(), found.size()) << "the reference (python3-scipy, -skimage, -shapely) did not answer";
    for (size_t r = 0; r < h.size(); r++)
        EXPECT_LE(h[r], size[0] / n) << "ring " << r << " at z " << found[r].z;
}

TEST_F(Horizontal, OffsetRingsLieTheirStepsInsideTheRegion)
{
    const int n = 48;
    const float size[3] = {2, 2, 0.5f}, frac[3] = {0, 0, 1}, origin[3] = {0, 0, 0.5f};
    std::vector<float> f((size_t)n * n);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            f[(size_t)y * n + x] = bowl((x + 0.5) / n, (y + 0.5) / n, false);
    setcanvas(f, n, n, size, frac);
    cam_settool(1, "flat 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0f, 1.5f, 20.0f);
    const float s = 0.1f;
    op.step = s, op.z_max = 0.2f, op.z_doc = 0.2f;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    // One region without holes: ring k, by falling area, is k steps in.
    std::vector<ring> found = rings();
    std::sort(found.begin(), found.end(), [](const ring &a, const ring &b) { return a.area > b.area; });
    ASSERT_GE(found.size(), 3u);
    for (size_t k = 0; k < found.size(); k++)
        found[k].d = k * s;
    const std::vector<double> worst = reference("edt", f, n, size, origin, 0.0625f, found);
    ASSERT_EQ(worst.size(), found.size()) << "the reference (python3-scipy) did not answer";
    for (size_t k = 0; k < worst.size(); k++)
        EXPECT_LE(worst[k], 2 * size[0] / n) << "ring " << k;
}

TEST_F(Horizontal, OrphanRingEndsTheRunWithItsDiagnostics)
{
    // A pin one pixel wide in a pocket, too fine for the bridging copy: the
    // hole round it is below the least ring area at the first offset and
    // above it at the second, which then has no ring of its kind before it.
    const int n = 64;
    canvas(pits(n, [](int x, int y) { return x >= 12 && x < 52 && y >= 12 && y < 52 && !(x == 32 && y == 32); }), n,
           0.064f);
    cam_settool(1, "fine", tool_cylinder, 1, 2, 0.0001f, 1.0f, 0.0f, 1.5f, 20.0f);
    op.step = 0.0035f, op.z_max = 0.5f, op.z_doc = 0.5f, op.cont = cont_new();
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    expectfailed("orphan");
    EXPECT_TRUE(log.contains(" !!!! UNABLE TO FIND OUTER LEAF FOR NODE"));
    // The orphan and each ring of the step before, with where it lies.
    const std::string text = log.text();
    EXPECT_TRUE(std::regex_search(text, std::regex(R"( \[\d+\] = verts:\d+ area:-[0-9.]+ rect:)")));
    EXPECT_TRUE(std::regex_search(text, std::regex(R"( \d+ (inside|outside) \d+ \(dist:)")));
    ASSERT_GE(op.cont->numpolys, 2u) << "the step's rings, then the orphan";
}

TEST_F(Horizontal, BridgingEndsAtTheFirstLevelWithoutOutlines)
{
    // A pit 0.3 deep: the first level has its outline, the second and third
    // lie below it and have none; the bridging copy is traced at the first
    // two levels only.
    std::vector<float> f((size_t)24 * 24);
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 24; x++)
            f[(size_t)y * 24 + x] = x > 5 && x < 18 && y > 5 && y < 18 ? 0.7f : 1.0f;
    canvas(f, 24);
    op.step = 0.05f, op.z_doc = 0.2f, op.z_max = 0.6f;
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    EXPECT_EQ(reportedlevels(log.text()).size(), 3u);
    EXPECT_EQ(log.count("...contoured polys:"), 2);
    EXPECT_EQ(log.count("...contoured polys:0 verts:0"), 1);
}

TEST_F(Horizontal, NoFreeToolpathSlotEndsTheRun)
{
    canvas(pits(16, [](int x, int y) { return x > 3 && x < 12 && y > 3 && y < 12; }), 16);
    for (int i = 0; i < toolpath_maxslots; i++)
        ASSERT_GE(toolpath_new(), 0);
    testlog_capture log;
    ASSERT_TRUE(rungenerator(nullptr, 20.0));
    expectfailed("no slot");
    EXPECT_TRUE(log.contains("cam_horizontal: no free toolpath slot"));
}

TEST_F(Horizontal, IslandsThroughAndBelowALevelBelongToTheLevelAbove)
{
    // A pocket with two bosses: one with upright walls through both levels
    // (the same island at each), one whose top lies between the levels (an
    // island only at the second). Each is held by the level above.
    std::vector<float> f((size_t)32 * 32, 1.0f);
    for (int y = 4; y < 28; y++)
        for (int x = 4; x < 28; x++) {
            const bool upright = x >= 8 && x < 13 && y >= 8 && y < 24;
            const bool low = x >= 19 && x < 24 && y >= 8 && y < 24;
            f[(size_t)y * 32 + x] = upright ? 1.0f : low ? 0.7f : 0.0f;
        }
    canvas(f, 32);
    cam_settool(1, "fine", tool_cylinder, 1, 2, 0.0001f, 1.0f, 0.0f, 1.5f, 20.0f);
    op.z_doc = 0.2f, op.z_max = 0.4f; // levels at 0.8 and 0.6
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    EXPECT_FALSE(log.contains("is lower to none"));
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(tp().num_paths, 5u) << "pocket and boss, then pocket and both bosses";
}
