// Parallel carving judged by the independent carve simulator: the compiled
// moves of every cutter type, in both emission modes, with and without leave
// stock, never cut below the relief (plus stock); a ball nose leaves no more
// than its scallop; cuts stay between the levels and entries start where
// they should; pocket emission loses no clipped piece silently. Nothing is
// thinned (maxdot 1, minlen 0) unless a test says so.
#include "cam/parallel.h"

#include "cam/compile.h"
#include "parallelfixture.h"
#include "testlog.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
const double pixel = 2.0 / 64;

const carve_relief fixtures[] = {
    {"dome",
     [](double u, double v) {
         const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.45) * (v - 0.45);
         return 0.2 + 0.7 * std::sqrt(std::max(0.0, 0.16 - r2)) / 0.4;
     }},
    {"ridge", [](double u, double v) { return std::max(0.1, 0.9 - 3.0 * std::fabs(u - v)); }},
    {"sine",
     [](double u, double v) { return 0.5 + 0.3 * std::sin(2 * M_PI * 2 * u) * std::cos(2 * M_PI * 1.5 * v); }},
    // A square plateau whose walls rise one unit per unit (0.5 of depth per field unit).
    {"45-degree walls",
     [](double u, double v) {
         const double e = 0.6 - std::max(std::fabs(2 * u - 1), std::fabs(2 * v - 1));
         return (std::clamp(e, 0.0, 0.35) + 0.05) / 0.5;
     }},
};

const carve_toolcase tools[] = {
    {"flat 1/8", tool_cylinder, 0.125f, 1.0f, 0.0f},
    {"ball 1/8", tool_cylinder, 0.125f, 1.0f, 0.0625f},
    {"tapered 1/32 tip 10deg", tool_tapered, 0.03125f, 1.0f, 10.0f},
    {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f},
    {"tapered ball r1/64 5deg", tool_taperball, 0.015625f, 1.0f, 5.0f},
};

} // namespace

class ParallelCarve : public ParallelTest {
protected:
    // Carves the compiled toolpath with tool 1 as an analytic cutter.
    carve_grid carve(double maxdepth)
    {
        carve_grid g = canvas.grid(canvas.top() + 1.0);
        carve_run(g, carve_toolof(1, maxdepth), carve_frommoves(op.toolpath));
        return g;
    }
    // The deepest the carve goes below the relief raised by the stock.
    carve_gouge gouge(const carve_grid &carved, double stock)
    {
        carve_grid floor = canvas.world();
        for (double &z : floor.z)
            z += stock;
        return carve_deepest(carved, floor);
    }
    void setop(int tool, uint32_t flags, float stock)
    {
        (void)tool;
        resetop();
        // Two levels, whatever the flutes: the second is cut from the first.
        op.step = 0.06f, op.z_max = 0.45f, op.z_doc = 0.25f, op.z_min = 0.0f;
        op.flags = flags | camop_anydoc, op.stock = stock, op.entry = 1, op.dir = 2;
    }
};

TEST_F(ParallelCarve, NoCutterGougesTheRelief)
{
    // Every cutter meets all four pairings of emission and stock, one per
    // fixture, and every fixture meets each pairing at least once.
    const struct {
        uint32_t flags;
        float stock;
    } pairings[4] = {{0u, 0.0f}, {camop_sortpaths | camop_linkcuts, 0.03f},
                     {camop_sortpaths | camop_linkcuts, 0.0f}, {0u, 0.03f}};
    for (int fi = 0; fi < 4; fi++) {
        const carve_relief &f = fixtures[fi];
        usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, f.height));
        const double tol = carve_pixelchange(canvas.world()) + 1e-4;
        for (int ti = 0; ti < 5; ti++) {
            const carve_toolcase &t = tools[ti];
            const auto &pair = pairings[(fi + ti) % 4];
            carve_settool(t);
            setop(1, pair.flags, pair.stock);
            if (!(pair.flags & camop_sortpaths))
                op.z_doc = op.z_max; // plain emission: one level is enough
            ASSERT_TRUE(runparallel()) << f.name << " " << t.name;
            const carve_gouge g = gouge(carve(op.z_max), pair.stock);
            EXPECT_LE(g.depth, tol) << f.name << ", " << t.name << (pair.flags ? ", pockets" : ", plain")
                                    << ", stock " << pair.stock << " at pixel " << g.i << "," << g.j;
            toolpath_free(op.toolpath);
        }
    }
}

// Between two passes a ball of radius R leaves a cusp of s^2 / 8R; the
// clip's one-pixel sampling may add s p / 2R.
TEST_F(ParallelCarve, BallNoseResidualStaysWithinTheScallop)
{
    struct Case {
        const char *name;
        double (*height)(double u, double v);
        float zmax;
    };
    const Case cases[] = {
        {"flat floor", [](double, double) { return 0.0; }, 0.3f},
        {"gentle dome",
         [](double u, double v) { return 0.3 + 0.2 * (1.0 - 2.0 * ((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5))); },
         0.5f},
    };
    const double r = 0.0625, s = 0.05;
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 2 * r, 1.0f, r, 1.5f, 20.0f);
    for (const Case &c : cases) {
        usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, c.height));
        resetop();
        op.step = (float)s, op.z_max = c.zmax, op.z_doc = 0.5f;
        ASSERT_TRUE(runparallel()) << c.name;
        const carve_grid carved = carve(op.z_max);
        carve_grid target = canvas.world();
        for (double &z : target.z)
            z = std::max(z, canvas.top() - c.zmax);
        double worst = 0;
        for (int j = 0; j < carved.h; j++)
            for (int i = 0; i < carved.w; i++) {
                const double x = carved.cx(i), y = carved.cy(j);
                if (x < 0.15 || x > 1.8 || y < 0.15 || y > 1.85)
                    continue; // the ends of the lines and the outermost lines
                worst = std::max(worst, carved.at(i, j) - target.at(i, j));
            }
        EXPECT_LE(worst, s * s / (8 * r) + s * pixel / (2 * r)) << c.name;
        EXPECT_GT(worst, 0.0) << c.name << ": a scallop is there at all";
        toolpath_free(op.toolpath);
    }
}

// Cutting moves stay between the final depth and the start of the first
// level; entry ramps begin no higher than 0.04 inch above it.
TEST_F(ParallelCarve, CutsStayBetweenTheLevelsAndEntriesStartLow)
{
    usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, fixtures[2].height));
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
    for (uint32_t flags : {0u, camop_sortpaths}) {
        // Plunged entries: every feed move that is no plunge is a cut.
        setop(1, flags, 0.0f);
        op.z_min = 0.05f, op.entry = 0;
        ASSERT_TRUE(runparallel());
        const double ztop = canvas.top() - op.z_min, zfinal = canvas.top() - op.z_max;
        const toolpath &tp = toolpaths[op.toolpath];
        float pos[3] = {0, 0, 0};
        size_t at = 0;
        int cuts = 0;
        for (uint32_t m = 0; m < tp.num_moves; m++) {
            const move &mv = tp.moves[m];
            for (uint32_t k = 0; k < mv.count; k++) {
                for (int axis = 0; axis < 3; axis++)
                    if (mv.code & (1u << axis))
                        pos[axis] = tp.parms[at++];
                if (mv.kind != move_feed || (mv.code & move_engage))
                    continue;
                cuts++;
                EXPECT_LE(pos[2], ztop + 1e-5) << "cut move " << m;
                EXPECT_GE(pos[2], zfinal - 1e-5) << "cut move " << m;
            }
        }
        EXPECT_GT(cuts, 100);
        toolpath_free(op.toolpath);

        // Ramped entries: the ramps are paths of their own, starting up to
        // 0.04 above the level before theirs.
        op.entry = 1;
        ASSERT_TRUE(runparallel());
        float highest = -1e9f;
        for (uint32_t i = 0; i < numpaths(); i++)
            for (const vert &p : pathverts(i)) {
                EXPECT_LE(p[2], ztop + 0.04 + 1e-5) << "path " << i;
                EXPECT_GE(p[2], zfinal - 1e-5) << "path " << i;
                highest = std::max(highest, p[2]);
            }
        EXPECT_GT(highest, ztop + 0.02) << "ramps start above the first level's top";
        toolpath_free(op.toolpath);
    }
}

// Pocket emission adds every clipped piece that plain emission adds, each
// once, except those it logs as having no pocket.
TEST_F(ParallelCarve, PocketEmissionEmitsEachPieceOnceOrLogsIt)
{
    using key = std::array<int, 4>;
    auto keyof = [&](uint32_t i) {
        std::vector<vert> v = pathverts(i);
        key a = {(int)std::lround(v.front()[0] * 1e4), (int)std::lround(v.front()[1] * 1e4),
                 (int)std::lround(v.back()[0] * 1e4), (int)std::lround(v.back()[1] * 1e4)};
        key b = {a[2], a[3], a[0], a[1]};
        return std::min(a, b);
    };
    cam_settool(1, "V 90", tool_vbit, 1, 2, 0.25f, 0.0f, 90.0f, 1.5f, 20.0f);
    for (const carve_relief &f : fixtures) {
        usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, f.height));
        std::map<key, int> plain;
        setop(1, 0, 0.0f);
        op.entry = 0;
        ASSERT_TRUE(runparallel());
        for (uint32_t i = 0; i < numpaths(); i++)
            plain[keyof(i)]++;
        toolpath_free(op.toolpath);

        setop(1, camop_sortpaths, 0.0f);
        op.entry = 0;
        testlog_capture log;
        ASSERT_TRUE(runparallel());
        for (uint32_t i = 0; i < numpaths(); i++) {
            auto it = plain.find(keyof(i));
            ASSERT_TRUE(it != plain.end() && it->second > 0) << f.name << ": path " << i << " is no piece, or twice";
            it->second--;
        }
        int left = 0;
        for (const auto &e : plain)
            left += e.second;
        EXPECT_EQ(left, log.count("has no pocket!")) << f.name;
        toolpath_free(op.toolpath);
    }
}

// With the thinning an operation gets by default (simplify 50 %, minimum
// and maximum segments 0.001 and 0.25), thinned cuts may cross the relief a
// little; the deepest such gouge is a figure to watch, not a limit.
TEST_F(ParallelCarve, DeepestGougeWithDefaultThinning)
{
    cam_maxdot = 1.0f - (float)std::pow(0.5 * 0.15, 2.5);
    cam_minlen = 0.001f;
    cam_maxlen = 0.25f;
    double deepest = 0;
    std::string where;
    for (const carve_relief &f : fixtures) {
        usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, f.height));
        for (const carve_toolcase &t : {tools[1], tools[3]}) {
            carve_settool(t);
            setop(1, 0, 0.0f);
            ASSERT_TRUE(runparallel());
            const carve_gouge g = gouge(carve(op.z_max), 0.0);
            if (g.depth > deepest)
                deepest = g.depth, where = std::string(f.name) + ", " + t.name;
            toolpath_free(op.toolpath);
        }
    }
    printf("deepest gouge with default thinning: %.5f (%s)\n", deepest, where.c_str());
    RecordProperty("deepest_gouge", std::to_string(deepest));
}
