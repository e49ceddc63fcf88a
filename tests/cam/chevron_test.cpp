// Chevron carving: the legs' angle to their row, each row's direction by
// `dir`, the spacing of neighbouring rows measured by shapely, the clip of
// the pattern to the canvas rectangle, and the refusals of values that
// would make the row count or the level loop meaningless.
#include "cam/chevron.h"

#include "parallelfixture.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {
const float flat_size[3] = {2, 1, 0.5f};

using polyline = std::vector<std::array<double, 2>>;

std::vector<polyline> polylines(const contour *c)
{
    std::vector<polyline> out;
    const float *v = c->verts;
    for (uint32_t i = 0; i < c->numpolys; v += 3 * (size_t)c->vertcount[i], i++) {
        polyline p;
        for (uint32_t k = 0; k < c->vertcount[i]; k++)
            p.push_back({v[3 * k], v[3 * k + 1]});
        out.push_back(p);
    }
    return out;
}

// shapely's distances between neighbouring rows; empty when python failed.
std::vector<double> shapely_rowdistances(const std::vector<polyline> &rows)
{
    const std::string in = testtemp_file("chq"), out = testtemp_file("cha");
    {
        std::ofstream f(in);
        f.precision(9);
        for (const polyline &r : rows) {
            for (const auto &p : r)
                f << p[0] << " " << p[1] << " ";
            f << "\n";
        }
    }
    std::vector<double> d;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/cam/chevron_shapely.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        for (double x; f >> x;)
            d.push_back(x);
    }
    remove(in.c_str());
    remove(out.c_str());
    return d;
}
} // namespace

class Chevron : public ParallelTest {
protected:
    void SetUp() override
    {
        ParallelTest::SetUp();
        flatcanvas(64, 32, flat_size);
    }
    // op.cont receives the unclipped pattern.
    void setop(float angle, float w, float h, int dir, float step)
    {
        lineop(2, dir, step);
        op.aux[0] = angle, op.aux[1] = w, op.aux[2] = h;
    }
    bool run() { return runlines(camop_chevron); }
};

TEST_F(Chevron, LegsMeetTheirRowAtTheChevronAngleAndRowsRunByDirection)
{
    struct Case {
        float angle, w, h;
        int dir; // 1 reverses every row, 2 every other (the first runs forward)
    };
    const Case cases[] = {
        {0, 1, 1, 0}, // 45-degree legs
        {0, 0.5f, 0.2f, 1},
        {-330, 0.3f, 0.4f, 2}, // a negative angle turns like its positive remainder
    };
    for (const Case &c : cases) {
        testlog_capture log;
        setop(c.angle, c.w, c.h, c.dir, 0.1f);
        ASSERT_TRUE(run()) << c.angle << log.text();
        const std::vector<polyline> rows = polylines(op.cont);
        ASSERT_GE(rows.size(), 3u);
        const double a = c.angle * M_PI / 180.0;
        const double along[2] = {std::cos(a), -std::sin(a)}, up[2] = {std::sin(a), std::cos(a)};
        for (size_t r = 0; r < rows.size(); r++) {
            const polyline &row = rows[r];
            ASSERT_EQ(row.size() % 11, 0u);
            const int sign = c.dir == 1 || (c.dir == 2 && r % 2) ? -1 : 1;
            for (size_t leg = 0; leg < row.size() / 11; leg++) {
                const auto &p0 = row[leg * 11], &p1 = row[leg * 11 + 10];
                const double dx = p1[0] - p0[0], dy = p1[1] - p0[1];
                const double run = dx * along[0] + dy * along[1], rise = dx * up[0] + dy * up[1];
                EXPECT_GT(run * sign, 0.0) << c.angle << " row " << r << " leg " << leg;
                EXPECT_NEAR(std::atan2(std::fabs(rise), std::fabs(run)), std::atan2(c.h, c.w), 1e-4)
                    << c.angle << " row " << r << " leg " << leg;
                EXPECT_GT(rise * (leg % 2 ? -1 : 1), 0.0) << "the first leg of a row rises, then they alternate";
            }
        }
        done();
    }
}

TEST_F(Chevron, NeighbouringRowsLieAStepoverApart)
{
    struct Case {
        float angle, w, h, step;
    };
    const Case cases[] = {{0, 1, 1, 0.1f}, {117, 0.2f, 0.5f, 0.07f}};
    for (const Case &c : cases) {
        testlog_capture log;
        setop(c.angle, c.w, c.h, 0, c.step);
        ASSERT_TRUE(run()) << c.angle;
        const std::vector<polyline> rows = polylines(op.cont);
        const std::vector<double> d = shapely_rowdistances(rows);
        ASSERT_EQ(d.size() + 1, rows.size()) << "/usr/bin/python3 tests/cam/chevron_shapely.py failed (needs python3-shapely)";
        const double n = (double)rows.size() - 1;
        for (size_t i = 0; i < d.size(); i++) {
            EXPECT_GE(d[i], c.step * (1 - 1 / n) - 1e-5) << c.angle << " rows " << i << ", " << i + 1;
            EXPECT_LE(d[i], c.step + 1e-5) << c.angle << " rows " << i << ", " << i + 1;
        }
        // Every cut stays on the canvas.
        const toolpath &tp = toolpaths[op.toolpath];
        for (uint32_t k = 0; k < tp.num_verts; k++) {
            EXPECT_GE(tp.verts[3 * k], -1e-4f);
            EXPECT_LE(tp.verts[3 * k], 2 + 1e-4f);
            EXPECT_GE(tp.verts[3 * k + 1], -1e-4f);
            EXPECT_LE(tp.verts[3 * k + 1], 1 + 1e-4f);
        }
        done();
    }
}

TEST(ChevronClip, KeepsWhatLiesInsideAndCutsAtTheBoundary)
{
    struct Case {
        const char *name;
        std::vector<float> xy;
        int closed;
        std::vector<polyline> pieces;
    };
    const float rect[4] = {0, 0, 2, 1};
    const Case cases[] = {
        {"inside, bounds included", {0, 0, 1, 0.5f, 2, 1}, 0, {{{0, 0}, {1, 0.5}, {2, 1}}}},
        {"a leg across with no vertex inside", {-1, 0.5f, 3, 0.5f}, 0, {{{0, 0.5}, {2, 0.5}}}},
        {"out, in, out", {-1, 0.5f, 1, 0.5f, 1, 2}, 0, {{{0, 0.5}, {1, 0.5}, {1, 1}}}},
        {"in, out, in", {0.5f, 0.5f, 0.5f, 3, 1.5f, 3, 1.5f, 0.5f}, 0, {{{0.5, 0.5}, {0.5, 1}}, {{1.5, 1}, {1.5, 0.5}}}},
        {"diagonal through a corner", {-1, -1, 0.5f, 0.5f}, 0, {{{0, 0}, {0.5, 0.5}}}},
        // Both edges are met at the corner: one crossing, not a piece of two equal points.
        {"a leg touching only a corner", {-1, 0, 1, 2}, 0, {{{0, 1}}}},
        {"all outside", {-1, 2, 3, 2}, 0, {}},
        // The repeated first vertex of a closed polyline is not visited again.
        {"closed", {0.5f, 0.5f, 1.5f, 0.5f, 1, 0.8f, 0.5f, 0.5f}, 1, {{{0.5, 0.5}, {1.5, 0.5}, {1, 0.8}}}},
    };
    testlog_capture log;
    contour *in = cont_new();
    for (const Case &c : cases) {
        in->numpolys = in->numverts = 0;
        std::vector<float> v;
        for (size_t i = 0; i < c.xy.size(); i += 2)
            v.insert(v.end(), {c.xy[i], c.xy[i + 1], 0.0f});
        ASSERT_TRUE(cont_addpoly(in, v.data(), (uint32_t)(v.size() / 3), (uint32_t)c.closed, 7, "test"));
        contour *out = camop_chevronclip(in, rect);
        ASSERT_NE(out, nullptr);
        const std::vector<polyline> got = polylines(out);
        ASSERT_EQ(got.size(), c.pieces.size()) << c.name;
        for (size_t i = 0; i < got.size(); i++) {
            ASSERT_EQ(got[i].size(), c.pieces[i].size()) << c.name << " piece " << i;
            EXPECT_EQ(out->link[i], 7) << c.name;
            for (size_t k = 0; k < got[i].size(); k++) {
                EXPECT_NEAR(got[i][k][0], c.pieces[i][k][0], 1e-6) << c.name << " piece " << i << " point " << k;
                EXPECT_NEAR(got[i][k][1], c.pieces[i][k][1], 1e-6) << c.name << " piece " << i << " point " << k;
            }
        }
        cont_free(out);
    }
    cont_free(in);
}

TEST_F(Chevron, UnusableValuesEndThroughTheFailureNotice)
{
    struct Case {
        const char *name;
        float w, h, step;
        const char *line;
    };
    const Case cases[] = {
        {"zero width", 0, 1, 0.1f, "camop_chevron: chevron width 0.000000 and height 1.000000 must be above 0"},
        {"negative height", 1, -1, 0.1f, "camop_chevron: chevron width 1.000000 and height -1.000000 must be above 0"},
        {"zero stepover", 1, 1, 0, "camop_chevron: stepover 0.000000 must be above 0"},
        {"too fine a stepover", 1, 1, 1e-6f, "do not fit one contour"},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        setop(0, c.w, c.h, 0, c.step);
        ASSERT_TRUE(rungenerator(camop_chevron)) << c.name;
        EXPECT_EQ(op.toolpath, -1) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name << log.text();
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << c.name;
        cont_free(op.cont);
        op.cont = nullptr;
    }
    // The mutex was released every time: a sound run follows.
    setop(0, 1, 1, 0, 0.1f);
    EXPECT_TRUE(run());
}
