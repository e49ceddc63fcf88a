// Tessellated carving: the levels, the tile pattern (its centre and border
// values, the four-pixel loop against the per-pixel one), the rings checked
// by shapely (nesting, period, size, gap), the start and direction of the
// cuts, and the bad input a loaded project may carry, each ending through the
// failure notice with the CAM mutex free.
#include "cam/tessellate.h"

#include "cam/compile.h"
#include "gentest.h"
#include "testchild.h"
#include "testlog.h"

#include <unistd.h>

#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1};

void setaux(camop &op, int shape, int cuts, int cols, int rows, float gap)
{
    const uint32_t a0 = (uint32_t)(uint16_t)shape | (uint32_t)(uint16_t)cuts << 16;
    const uint32_t a1 = (uint32_t)(uint16_t)cols | (uint32_t)(uint16_t)rows << 16;
    memcpy(&op.aux[0], &a0, 4);
    memcpy(&op.aux[1], &a1, 4);
    op.aux[2] = gap;
}
} // namespace

class Tessellate : public GenTest {
protected:
    void flatcanvas(int w, int h, float level = 0.5f)
    {
        setcanvas(std::vector<float>((size_t)w * h, level), w, h, canvas_size, canvas_frac);
    }
    void setop(int shape, int cuts, int cols, int rows, float gap)
    {
        resetop();
        op.type = 13;
        op.z_max = 0.1f, op.z_doc = 0.1f, op.dir = 1;
        setaux(op, shape, cuts, cols, rows, gap);
    }
    // The frame's view of the installed canvas, as the generator sees it.
    cam_gen genof()
    {
        cam_gen g{};
        g.op = &op;
        g.fn = "test";
        g.ref = img_refimage.load();
        g.width = g.ref->width, g.height = g.ref->height;
        memcpy(g.size, img_refsize, sizeof(g.size));
        memcpy(g.origin, img_reforigin, sizeof(g.origin));
        memcpy(g.frac, img_reforiginfrac, sizeof(g.frac));
        g.scale = 1.0f;
        return g;
    }
    bool rings(tess_rings *r)
    {
        tess_params p;
        cam_gen g = genof();
        return tess_unpack(&op, &p, "test") && tess_buildrings(&g, p, r);
    }
    // A run that must fail: it ends, leaves no toolpath, raises the notice
    // and frees the CAM mutex (a second lock would otherwise hang the test).
    void expectfailure(const char *what)
    {
        ASSERT_TRUE(rungenerator()) << what;
        EXPECT_EQ(op.toolpath, -1) << what;
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << what;
        EXPECT_TRUE(mutexfree()) << what << ": the CAM mutex is still held";
    }
};

TEST_F(Tessellate, LevelsStartHalfAStepInWithoutAGap)
{
    struct Case {
        int cuts;
        float gap;
        std::vector<float> levels; // below 1, where shapes can reach
    };
    const Case cases[] = {
        {1, 0.0f, {0.5f}},
        {4, 0.0f, {0.125f, 0.375f, 0.625f, 0.875f}},
        {1, 0.1f, {0.0f}}, // the next, 1.5, lies above every shape
    };
    for (const Case &c : cases) {
        float first, step;
        tess_levels(c.cuts, c.gap, &first, &step);
        std::vector<float> got;
        for (float l = first; l < 1.0f; l += step)
            got.push_back(l);
        EXPECT_EQ(got, c.levels) << c.cuts << " cuts, gap " << c.gap;
    }
    // With a gap and one cut only level 0 yields rings; 1.5 stops the run.
    flatcanvas(64, 64);
    setop(tess_quads, 1, 4, 4, 0.05f);
    testlog_capture log;
    tess_rings r;
    ASSERT_TRUE(rings(&r));
    EXPECT_EQ(r.nodes.size(), 16u);
    EXPECT_EQ(log.count("...contoured 16 polylines @0.000"), 1);
    EXPECT_EQ(log.count("...contoured 0 polylines @1.500"), 1);
}

TEST_F(Tessellate, QuadsPeakAtTheCentreAndReachZeroOrBelowOnTheBorder)
{
    // 64 x 64 pixels of 4 x 4 tiles: a tile is 16 pixels, its centre at 8.
    for (float g : {0.0f, 2.0f}) {
        image *tile = tess_drawtile(tess_quads, 64, 64, 4, 4, g, 1);
        ASSERT_NE(tile, nullptr);
        const float *f = (const float *)tile->pixels;
        EXPECT_FLOAT_EQ(f[8 * 64 + 8], 1.0f) << "gap " << g;
        EXPECT_FLOAT_EQ(f[8 * 64 + 16], -g / (16.0f - g)) << "left border, gap " << g;
        EXPECT_FLOAT_EQ(f[16 * 64 + 24], -g / (16.0f - g)) << "top border, gap " << g;
        img_free(tile);
    }
}

TEST_F(Tessellate, FourPixelLoopEqualsThePerPixelFormula)
{
    for (int shape = tess_quads; shape <= tess_circles; shape++)
        for (float g : {0.0f, 1.5f}) {
            image *wide = tess_drawtile(shape, 77, 41, 3, 2, g, 1);
            image *one = tess_drawtile(shape, 77, 41, 3, 2, g, 0);
            ASSERT_TRUE(wide && one);
            EXPECT_EQ(memcmp(wide->pixels, one->pixels, 77 * 41 * sizeof(float)), 0) << "shape " << shape;
            float lo = 1e9f, hi = -1e9f;
            for (int i = 0; i < 77 * 41; i++)
                lo = std::fmin(lo, ((float *)one->pixels)[i]), hi = std::fmax(hi, ((float *)one->pixels)[i]);
            EXPECT_GT(hi, 0.8f) << "shape " << shape << " reaches near 1";
            EXPECT_LT(lo, 0.2f) << "shape " << shape << " falls to its border";
            img_free(wide);
            img_free(one);
        }
}

TEST_F(Tessellate, BadInputEndsThroughTheFailureNotice)
{
    flatcanvas(64, 64);
    struct Case {
        const char *what;
        int cuts, cols, rows;
        float zdoc;
    };
    const Case cases[] = {
        {"no cuts", 0, 4, 4, 0.1f},     {"no columns", 3, 0, 4, 0.1f},   {"no rows", 3, 4, 0, 0.1f},
        {"negative columns", 3, -2, 4, 0.1f}, {"negative rows", 3, 4, -1, 0.1f},
        {"depth of cut 0", 3, 4, 4, 0.0f}, {"negative depth of cut", 3, 4, 4, -0.1f},
    };
    for (const Case &c : cases) {
        setop(tess_quads, c.cuts, c.cols, c.rows, 0.0f);
        op.z_doc = c.zdoc;
        expectfailure(c.what);
    }
}

TEST_F(Tessellate, RingOverflowIsRefusedNotWrittenPast)
{
    struct Case {
        const char *what;
        int w, cols, cuts; // canvas side in pixels, tiles across and down, cuts per tile
    };
    const Case cases[] = {
        {"40 x 40 Quads at 6 cuts: 9,600 rings", 480, 40, 6},
        {"50 x 50 Quads at 1 cut: 2,500 in one level", 400, 50, 1},
    };
    for (const Case &c : cases) {
        flatcanvas(c.w, c.w);
        setop(tess_quads, c.cuts, c.cols, c.cols, 0.0f);
        testlog_capture log;
        expectfailure(c.what);
        EXPECT_EQ(log.count("more than 8192 rings"), 1) << c.what;
    }
}

TEST_F(Tessellate, RefusedTileImageEndsTheRun)
{
    flatcanvas(64, 64);
    setop(tess_quads, 2, 4, 4, 0.0f);
    // Every free image slot taken: the tile, the first image of the run, is refused.
    std::vector<image *> fill;
    while (image *img = img_alloc("fill", 1, 1, 4))
        fill.push_back(img);
    testlog_capture log;
    expectfailure("image table full");
    for (image *img : fill)
        img_free(img);
    EXPECT_EQ(log.count("no 128x128 tile image"), 1);
    EXPECT_EQ(log.count("contouring start"), 0) << "nothing is scaled or contoured";
}

namespace {
// The chains of r (innermost ring first) as JSON arrays of [x, y] points.
std::string chainsjson(const tess_rings &r)
{
    std::ostringstream s;
    s.precision(7);
    s << "[";
    for (size_t l = 0; l < r.leaves.size(); l++) {
        s << (l ? "," : "") << "[";
        bool firstring = true;
        for (int j = r.leaves[l]; j >= 0; j = r.nodes[j].inner) {
            const std::vector<float> &v = r.nodes[j].verts;
            s << (firstring ? "" : ",") << "[";
            for (size_t i = 0; i + 2 < v.size(); i += 3)
                s << (i ? "," : "") << "[" << v[i] << "," << v[i + 1] << "]";
            s << "]";
            firstring = false;
        }
        s << "]";
    }
    s << "]";
    return s.str();
}

// shapely's verdict on a request: the fault lines, then "shapes N".
std::vector<std::string> shapelyverdict(const std::string &request)
{
    return testchild_ask("cam/tessellate_shapely.py", request);
}
} // namespace

// Every whole shape carries its cuts as closed, nested rings; shapes repeat
// with the tile period; Quads rings shrink with the level; a gap separates
// neighbouring outer rings by itself.
TEST_F(Tessellate, RingsNestRepeatAndKeepTheirSizeAndGap)
{
    const int w = 96;
    const float pixel = canvas_size[0] / w;
    flatcanvas(w, w);
    struct Case {
        int shape, cuts, cols, rows;
        float gap;
        int rowperiod;
    };
    const Case cases[] = {
        {tess_quads, 4, 4, 3, 0.0f, 1},     {tess_quads, 2, 4, 3, 0.1f, 1},
        {tess_triangles, 2, 3, 3, 0.0f, 2}, {tess_diamonds, 3, 3, 3, 0.0f, 1},
        {tess_diamonds2, 2, 3, 2, 0.0f, 2}, {tess_hexagons, 3, 3, 2, 0.05f, 2},
        {tess_circles, 3, 3, 2, 0.0f, 2},
    };
    std::string requests = "[";
    for (const Case &c : cases) {
        setop(c.shape, c.cuts, c.cols, c.rows, c.gap);
        tess_rings r;
        ASSERT_TRUE(rings(&r)) << "shape " << c.shape;
        float first, step;
        tess_levels(c.cuts, c.gap, &first, &step);
        std::ostringstream req;
        req << (&c == cases ? "" : ",") << "{\"canvas\":[0,0," << canvas_size[0] << "," << canvas_size[1]
            << "],\"pixel\":" << pixel << ",\"tilex\":" << canvas_size[0] / c.cols
            << ",\"tiley\":" << canvas_size[1] / c.rows << ",\"rowperiod\":" << c.rowperiod
            << ",\"cuts\":" << c.cuts << ",\"gap\":" << c.gap
            << ",\"quads\":" << (c.shape == tess_quads && c.gap == 0.0f ? "true" : "false") << ",\"first\":" << first
            << ",\"step\":" << step << ",\"chains\":" << chainsjson(r) << "}";
        requests += req.str();
    }
    const std::vector<std::string> verdict = shapelyverdict(requests + "]");
    ASSERT_FALSE(verdict.empty()) << "/usr/bin/python3 tests/cam/tessellate_shapely.py failed (needs python3-shapely)";
    size_t at = 0;
    for (const Case &c : cases) {
        std::vector<std::string> faults;
        for (; at < verdict.size() && verdict[at].rfind("shapes ", 0) != 0; at++)
            faults.push_back(verdict[at]);
        ASSERT_LT(at, verdict.size()) << "no verdict for shape " << c.shape;
        EXPECT_TRUE(faults.empty()) << "shape " << c.shape << ": " << faults.size() << " faults, first: " << faults[0];
        EXPECT_GE(std::stoi(verdict[at].substr(7)), 2) << "shape " << c.shape << ": whole shapes checked";
        at++;
    }
}

namespace {
using pts = std::vector<std::array<float, 3>>;
pts pathpoints(const toolpath &tp, uint32_t i)
{
    pts out;
    for (uint32_t k = 0; k < tp.paths[i].count; k++) {
        const float *v = tp.verts + 3 * ((size_t)tp.paths[i].first + k);
        out.push_back({v[0], v[1], v[2]});
    }
    return out;
}
pts polypoints(const contour *c, uint32_t i)
{
    size_t first = 0;
    for (uint32_t j = 0; j < i; j++)
        first += c->vertcount[j];
    pts out;
    for (uint32_t k = 0; k < c->vertcount[i]; k++) {
        const float *v = c->verts + 3 * (first + k);
        out.push_back({v[0], v[1], v[2]});
    }
    return out;
}
double shoelace(const pts &p)
{
    double s = 0;
    for (size_t i = 0; i + 1 < p.size(); i++)
        s += (double)p[i][0] * p[i + 1][1] - (double)p[i + 1][0] * p[i][1];
    return s;
}
} // namespace

// Tiles cut off by the canvas edge give open polylines: skipped with flag
// 0x40, else cut from the end the direction argument picks. Rings start at
// their vertex nearest the last cut's end; with direction 2 the argument
// alternates from one cut to the next, across chains and passes.
TEST_F(Tessellate, CutsStartWhereTheDirectionAndTheLastEndSay)
{
    flatcanvas(64, 64);
    const struct {
        int dir;
        uint32_t flags;
    } runs[] = {{1, 0u}, {2, 0u}, {2, camop_removepartials}};
    for (const auto &run : runs) {
        const int dir = run.dir;
        const uint32_t flags = run.flags;
        {
            SCOPED_TRACE("direction " + std::to_string(dir) + (flags ? ", partial shapes removed" : ""));
            setop(tess_circles, 2, 3, 2, 0.0f);
            op.dir = dir, op.flags = flags;
            op.z_doc = 0.05f; // two passes
            op.cont = cont_new();
            testlog_capture log;
            ASSERT_TRUE(rungenerator());
            ASSERT_GE(op.toolpath, 0);
            const toolpath &tp = toolpaths[op.toolpath];
            ASSERT_EQ(tp.num_paths, op.cont->numpolys) << "one cut per pass piece";
            int open = 0, closed = 0;
            for (uint32_t i = 0; i < tp.num_paths; i++) {
                const pts path = pathpoints(tp, i), poly = polypoints(op.cont, i);
                const int arg = dir == 2 && i % 2 ? -1 : 1;
                if (!(tp.paths[i].flags & PATH_CLOSED)) {
                    open++;
                    EXPECT_EQ(path.front(), arg == 1 ? poly.front() : poly.back()) << "open cut " << i;
                    continue;
                }
                closed++;
                const int n = (int)poly.size() - 1; // the ring repeats its first point
                int start = -1;
                for (int k = 0; k < n && start < 0; k++)
                    if (poly[k] == path.front())
                        start = k;
                ASSERT_GE(start, 0) << "ring " << i << " starts on one of its points";
                EXPECT_EQ(path[1], poly[((start + arg) % n + n) % n]) << "ring " << i << " runs with the argument";
                if (i > 0) {
                    const auto end = pathpoints(tp, i - 1).back();
                    auto d2 = [&](const std::array<float, 3> &p) {
                        return (p[0] - end[0]) * (p[0] - end[0]) + (p[1] - end[1]) * (p[1] - end[1]);
                    };
                    for (int k = 0; k < n; k++)
                        ASSERT_LE(d2(path.front()), d2(poly[k])) << "ring " << i << " starts nearest the last end";
                }
            }
            EXPECT_GT(closed, 4);
            if (flags) {
                EXPECT_EQ(open, 0);
                EXPECT_GT(log.count("ignoring non-closed poly"), 0);
            } else {
                EXPECT_GT(open, 0);
            }
            toolpath_free(op.toolpath);
        }
    }
}

TEST_F(Tessellate, EqualDepthsGiveOnePassPerChain)
{
    flatcanvas(64, 64);
    setop(tess_quads, 2, 4, 3, 0.0f);
    op.z_min = op.z_max = 0.1f;
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    EXPECT_EQ(log.count("contouring paths... @z"), 12) << "4 x 3 tiles, one chain each";
    // Direction 2 over two passes: each cut runs against the one before.
    setop(tess_quads, 2, 2, 2, 0.0f);
    op.dir = 2, op.z_doc = 0.05f;
    ASSERT_TRUE(rungenerator());
    const toolpath &tp = toolpaths[op.toolpath];
    ASSERT_EQ(tp.num_paths, 16u) << "4 tiles x 2 rings x 2 passes";
    for (uint32_t i = 1; i < tp.num_paths; i++)
        EXPECT_LT(shoelace(pathpoints(tp, i)) * shoelace(pathpoints(tp, i - 1)), 0.0) << "cut " << i;
}
