// Profile milling on small synthetic canvases: the offset rings against
// shapely's buffer of the outline, the cutting levels, the width-of-cuts
// steps, and the inputs that must be refused (no stepover for a width, more
// rings than the node tables hold) without writing past a table.
#include "cam/profiling.h"

#include "gentest.h"
#include "shapestest.h"
#include "testchild.h"

#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

constexpr int side = 64;
constexpr float px = 1.0f / side;

// Canvas of 1 x 1 x 1 with a raised square of pixels [lo, hi) on each axis.
std::vector<float> squarecanvas(int lo, int hi)
{
    std::vector<float> f(side * side, 0.0f);
    for (int y = lo; y < hi; y++)
        for (int x = lo; x < hi; x++)
            f[y * side + x] = 1.0f;
    return f;
}

// The bits of two 16-bit settings packed into one value, as the editor
// stores them.
float halves(uint32_t lo, uint32_t hi)
{
    uint32_t u = lo | hi << 16;
    float f;
    std::memcpy(&f, &u, sizeof(f));
    return f;
}

// The low half that gives a width of cuts W (inches, scale 1).
uint32_t widthhalf(float w)
{
    return (uint32_t)std::lround(std::sqrt(w / 8.0f) * 65535.0f);
}

// shapely's distance from each point to the outline buffered by distance.
std::vector<double> offsetdistances(const std::vector<float> &ring, float distance, const std::vector<float> &pts)
{
    std::ostringstream q;
    q << "[{\"op\":\"offset\",\"distance\":" << distance << ",\"ring\":[";
    for (size_t i = 0; i < ring.size(); i += 2)
        q << (i ? "," : "") << "[" << ring[i] << "," << ring[i + 1] << "]";
    q << "],\"points\":[";
    for (size_t i = 0; i < pts.size(); i += 3)
        q << (i ? "," : "") << "[" << pts[i] << "," << pts[i + 1] << "]";
    q << "]}]";
    return testchild_asknumbers("geom/shapely_reference.py", q.str());
}

class Profiling : public GenTest {
protected:
    void SetUp() override
    {
        GenTest::SetUp();
        op.type = 8;
        op.aux[0] = 0.5f; // contour height
        op.z_doc = 0.1f;
        op.z_max = 0.25f;
        op.step = 0.05f;
    }
    void canvas(const std::vector<float> &f, int w = side)
    {
        const float size[3] = {w * px, w * px, 1.0f}, frac[3] = {0, 0, 0};
        setcanvas(f, w, w, size, frac);
    }
};

} // namespace

TEST_F(Profiling, RingsLieAtTheOffsetAndWidthSteps)
{
    canvas(squarecanvas(22, 42));
    op.stock = 0.03f; // Offset
    op.aux[1] = halves(widthhalf(0.125f), 0); // W = 2.5 stepovers
    op.cont = cont_new();
    testlog_capture log;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0) << "the job failed";
    // Rows run down from y = 1: the square spans [22, 42) px on both axes.
    const float lo = 22 * px, hi = 42 * px, ylo = 1.0f - hi, yhi = 1.0f - lo;
    const std::vector<float> outline = {lo, ylo, hi, ylo, hi, yhi, lo, yhi, lo, ylo};
    // Levels at 0, the remainder 0.025 first, then whole stepovers.
    const float levels[] = {0.0f, 0.025f, 0.075f, 0.125f};
    ASSERT_EQ(op.cont->numpolys, 4u);
    uint32_t at = 0;
    for (int k = 0; k < 4; k++) {
        SCOPED_TRACE(levels[k]);
        std::vector<float> pts(op.cont->verts + at * 3, op.cont->verts + (at + op.cont->vertcount[k]) * 3);
        at += op.cont->vertcount[k];
        std::vector<double> d = offsetdistances(outline, op.stock + levels[k], pts);
        ASSERT_EQ(d.size(), pts.size() / 3) << "shapely (python3-shapely) did not answer";
        for (double v : d)
            EXPECT_LE(v, px);
    }

    // Every cut lies on one of the levels max(B, Z0 - kD).
    const float z0 = 1.0f, d = 0.1f, b = 1.0f - 0.25f;
    std::set<float> want = {std::fmax(b, z0 - d), std::fmax(b, z0 - 2 * d), std::fmax(b, z0 - 3 * d)}, seen;
    const toolpath &tp = toolpaths[op.toolpath];
    for (uint32_t i = 0; i < tp.num_paths; i++) {
        if (tp.paths[i].flags & (ENGAGE_RAMP | ENGAGE_HELIX))
            continue;
        for (uint32_t v = 0; v < tp.paths[i].count; v++)
            seen.insert(tp.verts[(tp.paths[i].first + v) * 3 + 2]);
    }
    EXPECT_EQ(seen, want);

    // The rings nest into one tree: at each level they are cut from the
    // widest in to the outline, and every ring runs clockwise round the part:
    // conventional milling with the spindle turning clockwise keeps the
    // material on the cutter's right.
    EXPECT_FALSE(log.contains("has no parent"));
    float lastz = 2.0f, lastarea = INFINITY;
    for (uint32_t i = 0; i < tp.num_paths; i++) {
        if (tp.paths[i].flags & (ENGAGE_RAMP | ENGAGE_HELIX))
            continue;
        const float *v = tp.verts + tp.paths[i].first * 3;
        const float area = cont_polyarea(v, tp.paths[i].count);
        if (v[2] < lastz - 1e-4f)
            lastarea = INFINITY; // a new level starts with the widest ring
        else
            EXPECT_LT(area, lastarea) << "path " << i << " is wider than the one before it";
        EXPECT_GT(area, 0.0f) << "path " << i << " runs counter-clockwise";
        lastz = v[2], lastarea = area;
    }
}

TEST_F(Profiling, RefusalsAndSingleLevels)
{
    struct Case {
        const char *name;
        float step;
        float width;
        int fails;
        uint32_t rings; // offset rings traced when it runs
    } const cases[] = {
        {"no width: the outline alone", 0.05f, 0.0f, 0, 1},
        {"no stepover and no width", 0.0f, 0.0f, 0, 1},
        {"no stepover for a width", 0.0f, 0.1f, 1, 0},
    };
    canvas(squarecanvas(22, 42));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        SetUp();
        op.step = c.step;
        op.aux[1] = halves(widthhalf(c.width), 0);
        op.cont = cont_new();
        ASSERT_TRUE(rungenerator());
        if (c.fails) {
            EXPECT_EQ(op.toolpath, -1);
            EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
        } else {
            EXPECT_GE(op.toolpath, 0);
            EXPECT_EQ(op.cont->numpolys, c.rings);
            EXPECT_TRUE(notices().empty());
        }
        cont_free(op.cont);
        op.cont = nullptr;
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
}

TEST_F(Profiling, MoreRingsThanTheTablesHoldAreRefused)
{
    struct Case {
        const char *name;
        int dots; // 0: one square offset 3,000 times
        int spacing;
        float step, width;
    } const cases[] = {
        {"900 rings a level for six levels", 30, 4, 0.002f, 0.01f},
        {"1,156 rings at one level", 34, 3, 0.05f, 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        SetUp();
        const int w = 128;
        std::vector<float> f(w * w, 0.0f);
        for (int j = 0; j < c.dots; j++)
            for (int i = 0; i < c.dots; i++)
                f[(4 + c.spacing * j) * w + 4 + c.spacing * i] = 1.0f;
        canvas(f, w);
        op.step = c.step;
        op.aux[1] = halves(widthhalf(c.width), 0);
        testlog_capture log;
        ASSERT_TRUE(rungenerator(nullptr, 120.0));
        EXPECT_EQ(op.toolpath, -1);
        EXPECT_TRUE(log.contains("camop_profiling: more than"));
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
    }
}

namespace {

// Pixel squares [lo, hi) painted in order with a value, on the 64 px canvas.
struct paint {
    int lo, hi;
    float value;
};

// Distance from (x, y) to the outline of pixel square [lo, hi), y up.
float squaredistance(float x, float y, int lo, int hi)
{
    const float a = lo * px, b = hi * px, ya = 1.0f - b, yb = 1.0f - a;
    const float dx = std::fmax(std::fmax(a - x, x - b), 0.0f), dy = std::fmax(std::fmax(ya - y, y - yb), 0.0f);
    if (dx > 0.0f || dy > 0.0f)
        return std::hypot(dx, dy);
    return std::fmin(std::fmin(x - a, b - x), std::fmin(y - ya, yb - y));
}

} // namespace

// Which outlines are cut: a raised frame with a dot in its hole traces to
// two islands (the frame's outside, the dot) and a pocket (the hole).
// Outline mode keeps the outermost pockets or islands only; an inverted
// canvas makes the whole canvas but a square an island round the canvas's
// perimeter, which is never cut.
TEST_F(Profiling, WhichOutlinesAreCut)
{
    const paint frame = {8, 56, 1.0f}, hole = {20, 44, 0.0f}, dot = {28, 36, 1.0f};
    struct Case {
        const char *name;
        std::vector<paint> canvas;
        uint32_t flags;
        std::vector<int> cut; // per outline of the canvas, 1 when cut
        int perimeter;        // the perimeter ring was discarded
    } const cases[] = {
        {"every outline", {frame, hole, dot}, 0x0, {1, 1, 1}, 0},
        {"outline mode: the outermost pocket", {frame, hole, dot}, 0x10, {0, 1, 0}, 0},
        {"outline mode: the outermost island", {frame, hole, dot}, 0x30, {1, 0, 0}, 0},
        {"inverted: the perimeter is never cut", {{20, 44, 1.0f}}, 0x800, {1}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        SetUp();
        std::vector<float> f(side * side, 0.0f);
        for (const paint &p : c.canvas)
            for (int y = p.lo; y < p.hi; y++)
                for (int x = p.lo; x < p.hi; x++)
                    f[y * side + x] = p.value;
        canvas(f);
        op.flags = c.flags;
        testlog_capture log;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0) << "the job failed";
        std::vector<int> cut(c.canvas.size(), 0);
        const toolpath &tp = toolpaths[op.toolpath];
        for (uint32_t i = 0; i < tp.num_verts; i++) {
            const float *v = tp.verts + i * 3;
            size_t near = 0;
            float best = 1e9f;
            for (size_t k = 0; k < c.canvas.size(); k++) {
                const float d = std::fabs(squaredistance(v[0], v[1], c.canvas[k].lo, c.canvas[k].hi));
                if (d < best)
                    best = d, near = k;
            }
            EXPECT_LT(best, 1.5f * px) << "a cut away from every outline at " << v[0] << "," << v[1];
            cut[near] = 1;
        }
        EXPECT_EQ(cut, c.cut);
        EXPECT_EQ(log.contains("...discarded perimeter polyline"), c.perimeter != 0);
    }
}

// The levels max(B, Z0 - kD) from Z0 = top - z_min down to B = top - z_max.
TEST_F(Profiling, CuttingLevels)
{
    struct Case {
        const char *name;
        float doc, zmin, zmax;
        std::set<float> levels; // top at 1
    } const cases[] = {
        {"a cut depth past the bottom: one level at B", 0.3f, 0.0f, 0.25f, {0.75f}},
        {"z_min lowers the start", 0.1f, 0.05f, 0.25f, {0.85f, 0.75f}},
        {"whole steps to the bottom", 0.05f, 0.1f, 0.2f, {0.85f, 0.8f}},
    };
    canvas(squarecanvas(22, 42));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        SetUp();
        op.z_doc = c.doc;
        op.z_min = c.zmin;
        op.z_max = c.zmax;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0) << "the job failed";
        std::set<float> seen;
        const toolpath &tp = toolpaths[op.toolpath];
        for (uint32_t i = 0; i < tp.num_paths; i++)
            for (uint32_t v = 0; v < tp.paths[i].count; v++)
                seen.insert(std::round(tp.verts[(tp.paths[i].first + v) * 3 + 2] * 1e5f) / 1e5f);
        std::set<float> want;
        for (float z : c.levels)
            want.insert(std::round(z * 1e5f) / 1e5f);
        EXPECT_EQ(seen, want);
    }
}

// The paths inputs: a shape drawn by shapely laid into a paths-layer, named
// by the first type-specific value (the third holds the tabs), one layer or
// its layer group. The filled shape is the side cut unless inverted, so ring
// d lies on shapely's buffer of the shape at Offset - d (inverted: d -
// Offset), within a pixel.
TEST_F(Profiling, PathsInputsRingsAgainstShapely)
{
    const std::vector<std::vector<double>> rings = shapes_rings("blob");
    ASSERT_FALSE(rings.empty()) << "/usr/bin/python3 tests/cam/shapes_shapely.py failed (needs python3-shapely)";
    const float savedsize[3] = {project.size[0], project.size[1], project.size[2]};
    project.size[0] = project.size[1] = project.size[2] = 1.0f;
    const uint32_t uid = 0x5A17C0DE;
    const int group = 4;
    const int slot = shapes_pathslayer(rings, uid, group);
    ASSERT_GE(slot, 0);
    canvas(std::vector<float>(side * side, 0.0f));
    struct Case {
        const char *name;
        uint32_t flags;
        float word;
        float sign; // of Offset - d
    } const cases[] = {
        {"one paths-layer", camop_pathslayer, shapes_word(uid), 1.0f},
        {"a layer group", camop_pathsgroup, shapes_word(group), 1.0f},
        {"one paths-layer inverted", camop_pathslayer | 0x800, shapes_word(uid), -1.0f},
    };
    const float offset = 0.03f, levels[2] = {0.0f, 0.05f};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        SetUp();
        op.flags = c.flags;
        op.aux[0] = c.word;
        op.aux[1] = halves(widthhalf(0.05f), 819);
        op.aux[2] = halves(6554, 6554); // tabs: not a layer uid
        op.stock = offset;
        op.cont = cont_new();
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0) << "the job failed";
        // Each ring matches one level; the canvas's own edge (inverted) is
        // no ring of the shape.
        std::string requests = "[";
        std::vector<std::vector<float>> polys;
        for (uint32_t p = 0, at = 0; p < op.cont->numpolys; at += op.cont->vertcount[p], p++) {
            std::vector<float> v(op.cont->verts + at * 3, op.cont->verts + (at + op.cont->vertcount[p]) * 3);
            bool edge = false;
            for (size_t k = 0; k < v.size(); k += 3)
                edge = edge || std::fmin(std::fmin(v[k], 1 - v[k]), std::fmin(v[k + 1], 1 - v[k + 1])) < 0.05f;
            if (edge)
                continue;
            polys.push_back(v);
            for (float d : levels) {
                std::ostringstream q;
                q << (requests.size() > 1 ? "," : "") << "{\"op\":\"offset\",\"name\":\"blob\",\"distance\":"
                  << c.sign * (offset - d) << ",\"points\":[";
                for (size_t k = 0; k < v.size(); k += 3)
                    q << (k ? "," : "") << "[" << v[k] << "," << v[k + 1] << "]";
                q << "]}";
                requests += q.str();
            }
        }
        const std::vector<std::string> answers = shapes_ask(requests + "]");
        ASSERT_EQ(answers.size(), polys.size() * 2);
        std::set<int> matched;
        for (size_t p = 0; p < polys.size(); p++) {
            double worst[2];
            for (int l = 0; l < 2; l++) {
                std::vector<double> d = shapes_numbers(answers[p * 2 + l]);
                worst[l] = d.empty() ? 1e9 : *std::max_element(d.begin(), d.end());
            }
            const int l = worst[0] <= worst[1] ? 0 : 1;
            EXPECT_LE(worst[l], px) << "ring " << p << " nearest the level " << levels[l];
            matched.insert(l);
        }
        EXPECT_EQ(matched, (std::set<int>{0, 1}));
    }
    project_layerfree(slot);
    std::memcpy(project.size, savedsize, sizeof(savedsize));
}

// Profiling queued as the window queues it, from a paths-layer whose uid's
// bits read as not a number (exponent all ones, about one uid in 256): the
// uid word is no number to check while flag 0x200 names a layer, but the
// same bits as a contour height still stop the run.
class ProfilingQueued : public Profiling {
protected:
    static void SetUpTestSuite()
    {
        sys_threadsinit();
        sys_threadsstart(1);
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
    }
};

TEST_F(ProfilingQueued, ALayerUidThatReadsAsNotANumberGenerates)
{
    const uint32_t uid = 0x7FC00001;
    ASSERT_FALSE(std::isfinite(shapes_word(uid)));
    const float savedsize[3] = {project.size[0], project.size[1], project.size[2]};
    project.size[0] = project.size[1] = project.size[2] = 1.0f;
    const int slot = shapes_pathslayer({{0.25, 0.25, 0.25, 0.75, 0.75, 0.75, 0.75, 0.25}}, uid, 0);
    ASSERT_GE(slot, 0);
    struct Case {
        const char *name;
        uint32_t flags;
        bool generates;
    } const cases[] = {
        {"one paths-layer", camop_pathslayer, true},
        {"the canvas traced at that height", 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        SetUp();
        op.flags = c.flags;
        op.aux[0] = shapes_word(uid);
        op.stock = 0.03f;
        op.cont = cont_new();
        ASSERT_GE(camop_queue(&op, 0), 0);
        canvas(std::vector<float>(side * side, 0.0f));
        ASSERT_TRUE(waitidle(60.0));
        EXPECT_EQ(op.toolpath >= 0, c.generates) << quiet.text();
    }
    project_layerfree(slot);
    std::memcpy(project.size, savedsize, sizeof(savedsize));
}
