// Conformal carving: on a flat canvas the iso-lines are straight, at the cut
// angle, a stepover apart; with the ramp's weight gone they are the
// iso-lines of the half-size canvas as scikit-image traces them; pieces come
// in ascending source line, reversed within a line; and a canvas too small
// for the ramp or a zero stepover is refused.
#include "cam/conformal.h"

#include "parallelfixture.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <vector>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, top_frac[3] = {0, 0, 1};

struct line {
    int32_t level;
    std::vector<std::array<double, 2>> p;
};

std::vector<line> lines_of(const contour *c)
{
    std::vector<line> out;
    const float *v = c->verts;
    for (uint32_t i = 0; i < c->numpolys; v += 3 * (size_t)c->vertcount[i], i++) {
        line l{c->link[i], {}};
        for (uint32_t k = 0; k < c->vertcount[i]; k++)
            l.p.push_back({v[3 * k], v[3 * k + 1]});
        out.push_back(l);
    }
    return out;
}
} // namespace

class Conformal : public ParallelTest {
protected:
    void SetUp() override
    {
        ParallelTest::SetUp();
        flatcanvas(64, 64, canvas_size);
    }
    // op.cont receives every traced iso-line.
    void setop(float angle, float perturb, int dir, float step)
    {
        lineop(9, dir, step);
        op.aux[0] = angle, op.aux[1] = perturb;
    }
    bool run() { return runlines(camop_conformal); }
};

TEST_F(Conformal, FlatCanvasGivesStraightLinesAtTheCutAngleAStepoverApart)
{
    const double px = 2.0 / 32; // a pixel of the half-size canvas
    const float angle = 135.0f; // neither axis-aligned nor in the first quadrant
    testlog_capture log;
    const float step = 0.2f;
    setop(angle, 0, 0, step);
    ASSERT_TRUE(run()) << angle;
    const std::vector<line> ls = lines_of(op.cont);
    ASSERT_GE(ls.size(), 4u) << angle;
    const double a = angle * M_PI / 180.0;
    const double along[2] = {std::cos(a), -std::sin(a)}, across[2] = {std::sin(a), std::cos(a)};
    std::map<int32_t, double> offset; // level -> mean offset across the lines
    for (const line &l : ls) {
        ASSERT_GE(l.p.size(), 2u);
        double lo = 1e9, hi = -1e9, sum = 0;
        for (const auto &q : l.p) {
            const double o = q[0] * across[0] + q[1] * across[1];
            lo = std::min(lo, o), hi = std::max(hi, o), sum += o;
        }
        EXPECT_LT(hi - lo, 1e-3) << angle << ": a line bends";
        const auto &f = l.p.front(), &b = l.p.back();
        const double len = std::hypot(b[0] - f[0], b[1] - f[1]);
        EXPECT_NEAR(std::fabs((b[0] - f[0]) * along[0] + (b[1] - f[1]) * along[1]), len, 1e-3) << angle;
        offset[l.level] = sum / l.p.size();
    }
    double prev = 0;
    bool first = true;
    for (const auto &[level, o] : offset) {
        if (!first)
            EXPECT_NEAR(std::fabs(o - prev), step, px) << angle << " level " << level;
        prev = o, first = false;
    }
    done();
}

// Segments between consecutive points of one polyline each.
using segment = std::array<double, 4>;
double segdistance(const std::array<double, 2> &q, const std::vector<segment> &segs)
{
    double best = 1e30;
    for (const segment &s : segs) {
        const double dx = s[2] - s[0], dy = s[3] - s[1], len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? ((q[0] - s[0]) * dx + (q[1] - s[1]) * dy) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(q[0] - s[0] - t * dx, q[1] - s[1] - t * dy));
    }
    return best;
}

TEST_F(Conformal, FullPerturbationTracesTheHalfSizeCanvasLikeScikitImage)
{
    // A cone, linear away from its apex, where sampling it at half size
    // and reducing it agree; every level stays 1.5 px or more away from
    // touching the apex, an edge or a corner of the half-size canvas.
    auto cone = [](double u, double v) { return 0.71 - 0.96 * std::hypot(u - 0.5, v - 0.5); };
    usecanvas(carve_makecanvas(64, 64, canvas_size, top_frac, cone));
    testlog_capture log;
    setop(20, 4, 0, 0.25f);
    ASSERT_TRUE(run());
    // Ours in pixels of the half-size canvas (column, row), as segments per level.
    std::map<int32_t, std::vector<segment>> mine;
    std::map<int32_t, std::vector<std::array<double, 2>>> minepts;
    for (const line &l : lines_of(op.cont))
        for (size_t k = 0; k < l.p.size(); k++) {
            const std::array<double, 2> q = {l.p[k][0] / 2 * 32 - 0.5, (2 - l.p[k][1]) / 2 * 32 - 0.5};
            if (k > 0) {
                const auto &b = minepts[l.level].back();
                mine[l.level].push_back({b[0], b[1], q[0], q[1]});
            }
            minepts[l.level].push_back(q);
        }
    ASSERT_GE(mine.size(), 3u);
    const std::string in = testtemp_file("cfq"), out = testtemp_file("cfa");
    {
        std::ofstream s(in);
        s.precision(9);
        s << 32 << " " << 32 << " " << mine.size() << "\n";
        for (const auto &m : mine)
            s << m.first / 1000.0 << "\n";
        for (int j = 0; j < 32; j++)
            for (int i = 0; i < 32; i++)
                s << cone((i + 0.5) / 32, (j + 0.5) / 32) << "\n";
    }
    const int status = testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/cam/conformal_skimage.py", in, out}, 120);
    std::vector<std::vector<segment>> ref;
    std::vector<std::vector<std::array<double, 2>>> refpts;
    {
        std::ifstream s(out);
        for (std::string word; s >> word;) {
            if (word == "level") {
                s >> word;
                ref.emplace_back(), refpts.emplace_back();
                continue;
            }
            if (word == "line") {
                refpts.back().push_back({1e30, 1e30}); // no segment across lines
                continue;
            }
            const double r = std::stod(word);
            double c;
            s >> c;
            const auto &b = refpts.back().back();
            if (b[0] < 1e29)
                ref.back().push_back({b[0], b[1], c, r});
            refpts.back().push_back({c, r});
        }
    }
    remove(in.c_str());
    remove(out.c_str());
    ASSERT_EQ(status, 0) << "/usr/bin/python3 tests/cam/conformal_skimage.py failed (needs python3-skimage)";
    ASSERT_EQ(ref.size(), mine.size());
    size_t i = 0;
    for (const auto &[level, segs] : mine) {
        ASSERT_FALSE(ref[i].empty()) << "level " << level;
        for (const auto &q : minepts[level])
            EXPECT_LE(segdistance(q, ref[i]), 1.0) << "level " << level << " point " << q[0] << "," << q[1];
        for (const auto &q : refpts[i])
            if (q[0] < 1e29)
                EXPECT_LE(segdistance(q, segs), 1.0) << "level " << level << " reference " << q[0] << "," << q[1];
        i++;
    }
    done();
}

// A wall across the middle of the canvas, above the one level, cuts every
// horizontal line into a left and a right piece.
TEST_F(Conformal, PiecesComeInAscendingSourceLineReversedWithinALine)
{
    usecanvas(carve_makecanvas(64, 64, canvas_size, top_frac,
                               [](double u, double) { return std::fabs(u - 0.5) < 0.1 ? 1.0 : 0.0; }));
    for (int dir : {0, 1}) {
        testlog_capture log;
        // Perturb 0: the wall does not bend the lines; angle 0: lines along
        // x. The wall stands above the first level at the second, where it
        // cuts every line in two.
        setop(0, 0, dir, 0.3f);
        op.z_max = 0.2f;
        ASSERT_TRUE(run()) << dir;
        const toolpath &tp = toolpaths[op.toolpath];
        ASSERT_GE(tp.num_paths, 8u);
        double lasty = -1e9;
        float lastlevel = 1e9f;
        int travel = 0, pairs = 0;
        for (uint32_t i = 0; i < tp.num_paths; i++) {
            const std::vector<vert> v = pathverts(i);
            float level = 1e9f;
            for (const vert &p : v)
                level = std::min(level, p[2]);
            if (std::fabs(level - lastlevel) > 1e-4)
                lasty = -1e9; // a new level starts from the first line again
            lastlevel = level;
            const double y = v.front()[1];
            const int t = v.back()[0] > v.front()[0] ? 1 : -1;
            if (i == 0)
                travel = t;
            EXPECT_EQ(t, travel) << "dir " << dir << ": every piece runs one way";
            EXPECT_GE(y, lasty - 1e-4) << "dir " << dir << ": lines in ascending source order";
            if (std::fabs(y - lasty) < 1e-4) {
                // The second piece of a line: before the first along its
                // source (conventional), so behind it as cut; climb cuts the
                // source backwards, so it lies ahead.
                const std::vector<vert> p = pathverts(i - 1);
                const double ahead = (v.front()[0] - p.front()[0]) * travel;
                EXPECT_LT(ahead * (dir == 0 ? 1 : -1), 0.0) << "dir " << dir << " path " << i;
                pairs++;
            }
            lasty = y;
        }
        EXPECT_GE(pairs, 4) << "dir " << dir;
        done();
    }
}

// Mixed direction: each piece starts at its end nearer where the last ended,
// and with Link Cuts is fed into when that end lies within 1.5 stepovers,
// but never across a wall (0.2 wide, 0.26 with the cutter) from a piece of
// its own line. At the second level both walls stand above the first.
TEST_F(Conformal, MixedStartsEachPieceAtTheEndNearerTheLast)
{
    usecanvas(carve_makecanvas(64, 64, canvas_size, top_frac, [](double u, double) {
        return std::fabs(u - 0.35) < 0.05 || std::fabs(u - 0.65) < 0.05 ? 1.0 : 0.0;
    }));
    testlog_capture log;
    setop(0, 0, 2, 0.35f);
    op.z_max = 0.2f;
    op.flags = camop_linkcuts;
    ASSERT_TRUE(run());
    const toolpath &tp = toolpaths[op.toolpath];
    ASSERT_GE(tp.num_paths, 6u);
    auto lowest = [](const std::vector<vert> &v) {
        float z = 1e9f;
        for (const vert &p : v)
            z = std::min(z, p[2]);
        return z;
    };
    int linked = 0, across = 0;
    for (uint32_t i = 1; i < tp.num_paths; i++) {
        const std::vector<vert> prev = pathverts(i - 1), cur = pathverts(i);
        if (std::fabs(lowest(cur) - lowest(prev)) > 1e-4)
            continue; // each level starts afresh
        const vert &e = prev.back();
        auto d2 = [&](const vert &p) {
            return (p[0] - e[0]) * (p[0] - e[0]) + (p[1] - e[1]) * (p[1] - e[1]) + (p[2] - e[2]) * (p[2] - e[2]);
        };
        EXPECT_LE(d2(cur.front()), d2(cur.back())) << "path " << i;
        const bool sameline = std::fabs(cur.front()[1] - e[1]) < 1e-4;
        const bool near = d2(cur.front()) < 0.525f * 0.525f;
        EXPECT_EQ((tp.paths[i].flags & PATH_LINK) != 0, near && !sameline) << "path " << i;
        linked += near && !sameline;
        across += near && sameline;
    }
    EXPECT_GT(linked, 0);
    EXPECT_GT(across, 0) << "some pieces of one line should meet across a wall";
    done();
}

// A line contour that fills keeps the lines traced before it: the stop is
// logged and the run ends with those lines cut, as a run with room cuts
// them. A flat canvas traces one line per level, so four fit in four.
TEST_F(Conformal, AFullLineContourKeepsTheLinesTracedBeforeIt)
{
    struct cut {
        std::vector<line> lines;
        std::vector<std::vector<vert>> paths;
    };
    auto runwith = [&](int room) {
        cut out;
        testlog_capture log;
        setop(0, 0, 0, 0.2f);
        cont_polyroom = room;
        const bool ran = run();
        cont_polyroom = cont_maxpolys;
        EXPECT_TRUE(ran) << room << log.text();
        EXPECT_EQ(log.contains("camop_conformal: line contour full at level"), room < cont_maxpolys) << room;
        EXPECT_TRUE(notices().empty()) << room;
        EXPECT_TRUE(mutexfree()) << room << ": the CAM mutex is still held";
        if (ran) {
            out.lines = lines_of(op.cont);
            for (uint32_t i = 0; i < numpaths(); i++)
                out.paths.push_back(pathverts(i));
        }
        done();
        return out;
    };
    const cut all = runwith(cont_maxpolys), full = runwith(4);
    ASSERT_GT(all.lines.size(), 8u) << "the canvas should hold more lines than the room left";
    ASSERT_EQ(all.paths.size(), all.lines.size());
    ASSERT_EQ(full.lines.size(), 4u);
    ASSERT_EQ(full.paths.size(), full.lines.size()) << "every kept line is cut";
    for (size_t i = 0; i < full.lines.size(); i++) {
        EXPECT_EQ(full.lines[i].level, all.lines[i].level) << "line " << i;
        EXPECT_EQ(full.lines[i].p, all.lines[i].p) << "line " << i;
        EXPECT_EQ(full.paths[i], all.paths[i]) << "path " << i;
    }
}

TEST_F(Conformal, UnusableValuesEndThroughTheFailureNotice)
{
    struct Case {
        const char *name;
        int w, h;
        float angle, step;
        const char *line;
    };
    const Case cases[] = {
        {"zero stepover", 64, 64, 0, 0, "camop_conformal: stepover 0.000000 must be above 0"},
        {"2 px canvas", 2, 2, 90, 0.1f, "camop_conformal: a canvas of 2 x 2 pixels is too small for the ramp"},
        {"no span along the ramp", 4, 4, 90, 0.1f, "is too small for the ramp (span 0.000000)"},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        usecanvas(carve_makecanvas(c.w, c.h, canvas_size, top_frac, [](double, double) { return 0.0; }));
        setop(c.angle, 0, 0, c.step);
        ASSERT_TRUE(rungenerator(camop_conformal)) << c.name;
        EXPECT_EQ(op.toolpath, -1) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name << log.text();
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << c.name;
        cont_free(op.cont);
        op.cont = nullptr;
    }
}

TEST(Bitree, WalksKeysAscendingEqualKeysLastInsertedFirst)
{
    ASSERT_TRUE(bitree_new(6));
    const int32_t keys[6] = {3, 1, 3, 2, 1, 3};
    for (int i = 0; i < 6; i++)
        ASSERT_NE(bitree_insert((uint64_t)i, keys[i]), nullptr);
    testlog_capture log;
    EXPECT_EQ(bitree_insert(6, 0), nullptr);
    EXPECT_FALSE(bitree_new(2)) << "one tree at a time";
    static std::vector<uint64_t> order;
    order.clear();
    bitree_walk(bitree_root(), [](uint64_t v) { order.push_back(v); });
    EXPECT_EQ(order, (std::vector<uint64_t>{4, 1, 3, 5, 2, 0}));
    bitree_free();
    EXPECT_TRUE(bitree_new(1));
    bitree_free();
}
