// Trochoidal milling: the edge cases of the start cuts and of the 2D
// generator on small canvases, the inputs it must refuse, and a replay of
// its cuts by a disc rasteriser of its own checked against scipy's exact
// distance transform: no cut near the walls, engagement held to the
// stepover, the reachable area cleared.
#include "cam/compile.h"
#include "cam/startcuts.h"
#include "cam/trochoidal.h"
#include "geom/drape.h"
#include "pocketingfixture.h"
#include "sys/config.h"
#include "testtemp.h"

#include <cmath>
#include <set>

namespace {

constexpr int canvas_n = 80;

// The cut paths of one level (every vertex at z), in order, each with the
// link from the path before it when it is fed into at depth.
struct troch_level {
    float z;
    std::vector<pocket_cut> cuts;
};

std::vector<troch_level> levels(const std::vector<pocket_cut> &cuts)
{
    std::vector<troch_level> out;
    for (const pocket_cut &c : cuts) {
        const float z = c.verts.back();
        if (out.empty() || std::fabs(out.back().z - z) > 1e-5f)
            out.push_back({z, {}});
        out.back().cuts.push_back(c);
    }
    return out;
}

// Pixels (row 0 at the far y edge) of an n x n canvas of 1 x 1.
struct troch_raster {
    int n;
    std::vector<uint8_t> cut;
    explicit troch_raster(int size) : n(size), cut((size_t)size * size, 0) {}
    // Marks every pixel whose centre lies within rad of the segment a-b;
    // returns the pixels newly marked.
    std::vector<int> sweep(const float *a, const float *b, float rad)
    {
        std::vector<int> fresh;
        const float p = 1.0f / n;
        const float x0 = std::fmin(a[0], b[0]) - rad, x1 = std::fmax(a[0], b[0]) + rad;
        const float y0 = std::fmin(a[1], b[1]) - rad, y1 = std::fmax(a[1], b[1]) + rad;
        for (int j = std::max(0, (int)((1.0f - y1) / p) - 1); j <= std::min(n - 1, (int)((1.0f - y0) / p) + 1); j++)
            for (int i = std::max(0, (int)(x0 / p) - 1); i <= std::min(n - 1, (int)(x1 / p) + 1); i++) {
                const float x = (i + 0.5f) * p, y = 1.0f - (j + 0.5f) * p;
                const float dx = b[0] - a[0], dy = b[1] - a[1];
                const float l2 = dx * dx + dy * dy;
                float t = l2 > 0 ? ((x - a[0]) * dx + (y - a[1]) * dy) / l2 : 0.0f;
                t = std::fmin(1.0f, std::fmax(0.0f, t));
                const float ex = a[0] + t * dx - x, ey = a[1] + t * dy - y;
                if (ex * ex + ey * ey <= rad * rad && !cut[(size_t)j * n + i]) {
                    cut[(size_t)j * n + i] = 1;
                    fresh.push_back(j * n + i);
                }
            }
        return fresh;
    }
    // Chamfer distance (pixels) of every pixel from the marked ones.
    std::vector<float> distances() const
    {
        std::vector<float> d((size_t)n * n);
        for (size_t i = 0; i < d.size(); i++)
            d[i] = cut[i] ? 0.0f : 1e9f;
        const float o = 1.0f, g = 1.41421356f;
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++) {
                float &v = d[(size_t)j * n + i];
                if (i > 0) v = std::fmin(v, d[(size_t)j * n + i - 1] + o);
                if (j > 0) v = std::fmin(v, d[(size_t)(j - 1) * n + i] + o);
                if (i > 0 && j > 0) v = std::fmin(v, d[(size_t)(j - 1) * n + i - 1] + g);
                if (i + 1 < n && j > 0) v = std::fmin(v, d[(size_t)(j - 1) * n + i + 1] + g);
            }
        for (int j = n - 1; j >= 0; j--)
            for (int i = n - 1; i >= 0; i--) {
                float &v = d[(size_t)j * n + i];
                if (i + 1 < n) v = std::fmin(v, d[(size_t)j * n + i + 1] + o);
                if (j + 1 < n) v = std::fmin(v, d[(size_t)(j + 1) * n + i] + o);
                if (i + 1 < n && j + 1 < n) v = std::fmin(v, d[(size_t)(j + 1) * n + i + 1] + g);
                if (i > 0 && j + 1 < n) v = std::fmin(v, d[(size_t)(j + 1) * n + i - 1] + g);
            }
        return d;
    }
};

struct troch_oracle {
    std::vector<double> edt, reach;
};

troch_oracle scipy_reference(const std::vector<float> &mask, int n, float r, float stock, float step)
{
    const std::string in = testtemp_file("trq"), out = testtemp_file("tra");
    {
        std::ofstream f(in);
        f << n << " " << r << " " << stock << " " << step << "\n";
        for (float v : mask)
            f << (v > 0.5f ? 1 : 0) << " ";
        f << "\n";
    }
    troch_oracle o;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/cam/trochoid_scipy.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        std::string key;
        double v;
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream s(line);
            s >> key;
            auto &dst = key == "edt" ? o.edt : o.reach;
            while (s >> v)
                dst.push_back(v);
        }
    }
    remove(in.c_str());
    remove(out.c_str());
    return o;
}

// scipy's distance at a point between pixel centres (bilinear), less the
// half pixel from a material pixel's centre to its edge.
float walldistance(const std::vector<double> &edt, float x, float y)
{
    const int n = canvas_n;
    x = std::fmin(n - 1.001f, std::fmax(0.0f, x));
    y = std::fmin(n - 1.001f, std::fmax(0.0f, y));
    const int i = (int)x, j = (int)y;
    const float fx = x - i, fy = y - j;
    auto at = [&](int a, int b) { return (float)edt[(size_t)b * n + a]; };
    const float top = at(i, j) * (1 - fx) + at(i + 1, j) * fx;
    const float bottom = at(i, j + 1) * (1 - fx) + at(i + 1, j + 1) * fx;
    return top * (1 - fy) + bottom * fy - 0.5f;
}

class Trochoid : public PocketTest {
protected:
    float savedstep = 10.0f;
    void SetUp() override
    {
        PocketTest::SetUp();
        savedstep = cfg_getf(cfg_trochoidstep);
        cfg_setf(cfg_trochoidstep, 10.0f);
        op.type = 15;
        startcut_heading = 0.0f;
    }
    void TearDown() override
    {
        cfg_setf(cfg_trochoidstep, savedstep);
        PocketTest::TearDown();
    }
    // Mask of formulacanvas: 1 material, 0 pocket.
    static std::vector<float> maskof(int n, const std::function<bool(float, float)> &inside)
    {
        std::vector<float> m((size_t)n * n);
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++)
                m[(size_t)j * n + i] = inside((i + 0.5f) / n, 1.0f - (j + 0.5f) / n) ? 0.0f : 1.0f;
        return m;
    }
    float pixelstep() const { return std::fmax(step(), 3.0f / canvas_n); }
};

// A rectangle with a round island off its centre.
bool islandpocket(float x, float y)
{
    const bool rect = x > 0.1f && x < 0.9f && y > 0.15f && y < 0.85f;
    const float dx = x - 0.62f, dy = y - 0.5f;
    return rect && dx * dx + dy * dy > 0.1f * 0.1f;
}

// An arc of a loop: its vertices on the circle through its last three,
// the radius z and the angle step a (degrees) between them. A lead-in
// vertex (inside the circle) is not counted.
struct troch_arc {
    int count = 0;
    float z = 0.0f, step = 0.0f;
};

troch_arc arcof(const std::vector<float> &v)
{
    troch_arc arc;
    const size_t n = v.size() / 3;
    if (n < 3)
        return arc;
    const double ax = v[n * 3 - 9], ay = v[n * 3 - 8], bx = v[n * 3 - 6], by = v[n * 3 - 5];
    const double cx = v[n * 3 - 3], cy = v[n * 3 - 2];
    const double d = 2.0 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
    if (std::fabs(d) < 1e-12)
        return arc;
    const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (a2 * (by - cy) + b2 * (cy - ay) + c2 * (ay - by)) / d;
    const double uy = (a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / d;
    arc.z = (float)std::hypot(cx - ux, cy - uy);
    for (size_t i = 0; i < n; i++)
        arc.count += std::fabs(std::hypot(v[i * 3] - ux, v[i * 3 + 1] - uy) - arc.z) < 0.02 * arc.z;
    arc.step = (float)(2.0 * std::asin(std::fmin(1.0, std::hypot(cx - bx, cy - by) / (2.0 * arc.z))) * 180.0 / M_PI);
    return arc;
}

TEST_F(Trochoid, ReplayKeepsWallsEngagementAndCoverage)
{
    formulacanvas(canvas_n, islandpocket);
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    EXPECT_GT(toolpaths[op.toolpath].num_moves, 0u);
    const std::vector<float> mask = maskof(canvas_n, islandpocket);
    const float px = 1.0f / canvas_n, r = 0.5f * tooldiameter, S = pixelstep();
    troch_oracle o = scipy_reference(mask, canvas_n, r / px, 0.0f, S / px);
    ASSERT_EQ(o.edt.size(), mask.size()) << "scipy (python3-scipy) did not answer";
    std::vector<troch_level> lv = levels(pocket_cuts(op.toolpath));
    ASSERT_EQ(lv.size(), 3u); // 0.1, 0.2 and 0.25 deep
    {
        SCOPED_TRACE("arcs of fewer than 3 vertices, or of half sweep x radius 1 or less, are not cut");
        int arcs = 0;
        for (const troch_level &l : lv)
            for (size_t i = 1; i < l.cuts.size(); i++, arcs++) { // the opening first
                const troch_arc arc = arcof(l.cuts[i].verts);
                EXPECT_GE(arc.count, 3) << "cut " << i;
                // A sweep of count - 1 steps at most (one more than its
                // vertices span when it ends with the loop).
                EXPECT_GT(0.5f * (float)(arc.count - 1) * arc.step * arc.z, 1.0f)
                    << "cut " << i << ": " << arc.count << " vertices " << arc.step << " degrees apart, radius "
                    << arc.z;
            }
        EXPECT_GT(arcs, 20);
    }
    for (const troch_level &l : lv) {
        troch_raster ras(canvas_n);
        float worstwall = 1e9f, worstdepth = 0.0f;
        const float *prev = nullptr;
        bool opening = true;
        for (const pocket_cut &c : l.cuts) {
            const size_t nv = c.verts.size() / 3;
            for (size_t i = 0; i < nv; i++) {
                const float *v = &c.verts[i * 3];
                worstwall = std::fmin(worstwall, walldistance(o.edt, v[0] / px - 0.5f, (1.0f - v[1]) / px - 0.5f));
            }
            // The material each cut meets: how far its new pixels lie from
            // what was cut before it.
            const std::vector<float> before = ras.distances();
            std::vector<int> fresh;
            auto add = [&](const float *a, const float *b) {
                std::vector<int> f = ras.sweep(a, b, r);
                fresh.insert(fresh.end(), f.begin(), f.end());
            };
            if ((c.flags & PATH_LINK) && prev)
                add(prev, &c.verts[0]);
            for (size_t i = 0; i + 1 < nv; i++)
                add(&c.verts[i * 3], &c.verts[i * 3 + 3]);
            if (!opening)
                for (int k : fresh)
                    if (mask[k] < 0.5f)
                        worstdepth = std::fmax(worstdepth, before[k]);
            opening = false; // the opening spiral cuts full width on its first turn
            prev = &c.verts[(nv - 1) * 3];
        }
        EXPECT_GE(worstwall, r / px - 1.0f) << "level " << l.z;
        EXPECT_LE(worstdepth, S / px + 1.0f) << "level " << l.z;
        int reach = 0, cleared = 0;
        troch_raster uncut(canvas_n);
        for (size_t k = 0; k < mask.size(); k++)
            if (o.reach[k] > 0.5) {
                reach++;
                cleared += ras.cut[k];
                uncut.cut[k] = ras.cut[k] || o.reach[k] < 0.5;
            } else {
                uncut.cut[k] = 1;
            }
        EXPECT_GE(cleared, 0.97 * reach) << "level " << l.z << ": " << cleared << " of " << reach;
        // No uncut patch wider than the stepover.
        const std::vector<float> inside = uncut.distances();
        float widest = 0.0f;
        for (float d : inside)
            widest = std::fmax(widest, d);
        EXPECT_LE(2.0f * widest, S / px + 2.0f) << "level " << l.z;
    }
}

} // namespace

namespace {

// Turning sense of an open polyline: the sign of its summed cross products.
int turnsense(const std::vector<float> &v)
{
    double sum = 0.0;
    for (size_t i = 3; i + 3 < v.size(); i += 3)
        sum += (double)(v[i] - v[i - 3]) * (v[i + 4] - v[i + 1]) - (double)(v[i + 1] - v[i - 2]) * (v[i + 3] - v[i]);
    return sum > 0 ? 1 : (sum < 0 ? -1 : 0);
}

// A disc pocket of radius rad about the centre of the canvas.
std::function<bool(float, float)> discpocket(float rad)
{
    return [rad](float x, float y) { return (x - 0.5f) * (x - 0.5f) + (y - 0.5f) * (y - 0.5f) < rad * rad; };
}

// A medial axis of polylines given as x, y, clearance triples.
contour *axisof(const std::vector<std::vector<float>> &polys)
{
    contour *c = cont_new();
    for (const auto &p : polys)
        cont_addpoly(c, p.data(), (uint32_t)(p.size() / 3), 0, -1, "test");
    return c;
}

// The cut paths of a toolpath as a set of vertex lists, the toolpath freed:
// two runs that emit the same arcs in other trees compare equal.
std::multiset<std::vector<float>> troch_takecuts(int slot)
{
    std::multiset<std::vector<float>> out;
    if (slot < 0)
        return out;
    for (const pocket_cut &c : pocket_cuts(slot))
        out.insert(c.verts);
    toolpath_free(slot);
    return out;
}

} // namespace

// The opening and the walk on hand-made medial axes: a narrow pocket gets a
// helix of its own radius, an entry height at the level gives no helix, and
// a branch inside what is cut already is not walked.
TEST_F(Trochoid, StartCutsOpeningAndWalk)
{
    formulacanvas(48, [](float, float) { return false; });
    const float size[3] = {1, 1, 1}, origin[3] = {0, 0, 0};
    const float S = 0.05f, z = 0.8f, cell = 1.0f / 48;
    struct Case {
        const char *name;
        std::vector<std::vector<float>> axis;
        float zprev;
        float helixradius; // expected helix radius; 0 none
        float firstradius; // radius of the first spiral vertex at the level
        size_t paths;      // what the whole call adds
    };
    const float R = 0.02f; // below 0.666 S
    const Case cases[] = {
        {"narrow pocket", {{0.5f, 0.5f, R}}, 1.0f, R, R, 1},
        {"entry height at the level", {{0.5f, 0.5f, 0.2f}}, z - 0.04f, 0.0f, 0.0f, 1},
        {"branch inside the opening", {{0.5f, 0.5f, 0.2f}, {0.55f, 0.5f, 0.1f, 0.6f, 0.5f, 0.08f}}, 1.0f,
         0.666f * S, 0.666f * S, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        op.entry = 2;
        op.toolpath = toolpath_new();
        ASSERT_GE(op.toolpath, 0);
        contour *axis = axisof(c.axis);
        int sign = 1;
        testlog_capture log;
        EXPECT_EQ(cam_startcuts(&op, axis, size, origin, &sign, S, z, c.zprev, cell), 1);
        cont_free(axis);
        std::vector<pocket_cut> cuts = pocket_cuts(op.toolpath);
        ASSERT_EQ(cuts.size(), c.paths);
        const std::vector<float> &v = cuts[0].verts;
        size_t k = 0;
        for (; k < v.size() / 3 && v[k * 3 + 2] > z + 1e-6f; k++) {
            EXPECT_NEAR(std::hypot(v[k * 3] - 0.5f, v[k * 3 + 1] - 0.5f), c.helixradius, 1e-4f);
            if (k > 0)
                EXPECT_LT(v[k * 3 + 2], v[k * 3 - 1]); // always descending
        }
        EXPECT_EQ(k > 0, c.helixradius > 0.0f) << k << " helix vertices";
        ASSERT_LT(k, v.size() / 3);
        EXPECT_NEAR(std::hypot(v[k * 3] - 0.5f, v[k * 3 + 1] - 0.5f), c.firstradius, 1e-4f);
        // The spiral and circle end on the widest clearance.
        EXPECT_NEAR(std::hypot(v[v.size() - 3] - 0.5f, v[v.size() - 2] - 0.5f), c.axis[0][2], 1e-4f);
        toolpath_free(op.toolpath);
    }
}

// Inputs that end the run through the failure notice with the mutex
// released: the next operation still runs.
TEST_F(Trochoid, RefusedInputsReleaseTheFrame)
{
    struct Case {
        const char *name;
        int type;
        float angle;
        float doc;
        const char *line;
    };
    const Case cases[] = {
        {"angular step 0", 15, 0.0f, 0.1f, "cam_trochpock: angular step 0.000000 must be above 0"},
        {"negative angular step", 15, -10.0f, 0.1f, "cam_trochpock: angular step -10.000000 must be above 0"},
        {"2.5D angular step 0", 14, 0.0f, 0.1f, "cam_trochoidal: angular step 0.000000 must be above 0"},
        {"depth of cut 0", 15, 10.0f, 0.0f, "depth of cut 0.000000 must be above 0"},
        {"negative depth of cut", 15, 10.0f, -0.1f, "depth of cut -0.100000 must be above 0"},
        {"2.5D depth of cut 0", 14, 10.0f, 0.0f, "depth of cut 0.000000 must be above 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        op.type = c.type;
        formulacanvas(48, discpocket(0.3f));
        cfg_setf(cfg_trochoidstep, c.angle);
        op.z_doc = c.doc;
        testlog_capture log;
        ASSERT_TRUE(rungenerator(nullptr, 20.0));
        EXPECT_TRUE(log.contains(c.line));
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
        EXPECT_EQ(op.toolpath, -1);
        cfg_setf(cfg_trochoidstep, 10.0f);
        op.z_doc = 0.1f;
        ASSERT_TRUE(rungenerator(nullptr, 20.0)) << "the next operation did not run";
        ASSERT_GE(op.toolpath, 0);
        EXPECT_GT(toolpaths[op.toolpath].num_paths, 0u);
        EXPECT_TRUE(notices().empty());
        TearDown();
    }
    SetUp();
}

// Edge cases of the 2D generator on small canvases.
TEST_F(Trochoid, GeneratorEdgeCases)
{
    // aux: the sign of dir 2, in aux[1] (type 15) or aux[0] (type 14).
    auto run = [&](const std::function<bool(float, float)> &shape, int dir, float aux, float step, int type = 15) {
        resetop();
        PocketTest::SetUp();
        op.type = type;
        startcut_heading = 0.0f;
        formulacanvas(48, shape);
        op.dir = dir;
        op.aux[type == 15 ? 1 : 0] = aux;
        op.step = step;
        EXPECT_TRUE(rungenerator(nullptr, 30.0));
        std::vector<pocket_cut> cuts = op.toolpath >= 0 ? pocket_cuts(op.toolpath) : std::vector<pocket_cut>{};
        return cuts;
    };
    {
        SCOPED_TRACE("dir 0 and 1 turn every loop in opposite senses");
        std::vector<pocket_cut> a = run(islandpocket, 0, 0.0f, 40.0f);
        std::vector<pocket_cut> b = run(islandpocket, 1, 0.0f, 40.0f);
        ASSERT_GT(a.size(), 3u);
        std::set<int> sa, sb;
        for (const pocket_cut &c : a)
            if (c.verts.size() >= 9)
                sa.insert(turnsense(c.verts));
        for (const pocket_cut &c : b)
            if (c.verts.size() >= 9)
                sb.insert(turnsense(c.verts));
        EXPECT_EQ(sa.size(), 1u);
        EXPECT_EQ(sb.size(), 1u);
        EXPECT_NE(*sa.begin(), *sb.begin());
        SCOPED_TRACE("dir 2 with aux[1] 0 opens every level with the sign of dir 0");
        std::vector<troch_level> lv2 = levels(run(islandpocket, 2, 0.0f, 40.0f));
        ASSERT_EQ(lv2.size(), 3u);
        for (const troch_level &l : lv2)
            EXPECT_EQ(turnsense(l.cuts[0].verts), *sa.begin());
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
    {
        SCOPED_TRACE("2.5D: dir 2 opens every pocket with the sign aux[0] gives");
        struct Case {
            int dir;
            float aux0;
            int like; // the dir whose sense every opening takes
        };
        const Case cases[] = {{2, 0.0f, 0}, {2, 1.0f, 1}};
        int sense[2] = {0, 0};
        for (int d = 0; d < 2; d++) {
            std::vector<troch_level> lv = levels(run(islandpocket, d, 0.0f, 40.0f, 14));
            ASSERT_EQ(lv.size(), 3u);
            sense[d] = turnsense(lv[0].cuts[0].verts);
        }
        ASSERT_NE(sense[0], sense[1]);
        for (const Case &c : cases) {
            SCOPED_TRACE("aux[0] " + std::to_string(c.aux0));
            std::vector<troch_level> lv = levels(run(islandpocket, c.dir, c.aux0, 40.0f, 14));
            ASSERT_EQ(lv.size(), 3u);
            for (const troch_level &l : lv)
                EXPECT_EQ(turnsense(l.cuts[0].verts), sense[c.like]);
        }
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
    {
        SCOPED_TRACE("a stepover under 3 pixels cuts as 3 pixels");
        const float three = 3.0f / 48 / tooldiameter * 100.0f; // percent of the diameter
        std::vector<pocket_cut> a = run(islandpocket, 0, 0.0f, 1.0f);
        std::vector<pocket_cut> b = run(islandpocket, 0, 0.0f, three);
        ASSERT_GT(a.size(), 3u);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); i++)
            EXPECT_EQ(a[i].verts.size(), b[i].verts.size());
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
    struct Case {
        const char *name;
        std::function<bool(float, float)> shape;
    };
    const Case empty[] = {
        {"an empty input", [](float, float) { return false; }},
        {"a pocket too small for any loop", discpocket(0.05f)},
    };
    // What an empty slot's compilation says decides the notice.
    const int probe = toolpath_new();
    const bool compiles = toolpath_compile(probe, 1.1f) != 0;
    toolpath_free(probe);
    for (const Case &c : empty) {
        SCOPED_TRACE(c.name);
        notices();
        std::vector<pocket_cut> cuts = run(c.shape, 0, 0.0f, 40.0f);
        ASSERT_GE(op.toolpath, 0);
        EXPECT_TRUE(cuts.empty());
        EXPECT_EQ(notices().empty(), compiles);
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
}

// Pockets and islands of the 2D generator's outlines on hand-made squares
// (pockets clockwise, of positive area as the outlines are traced; islands
// anticlockwise): an island goes to the smallest pocket around it; one
// outside every pocket is left out with its log line, and the pocket is cut
// as if it were not there.
TEST_F(Trochoid, IslandsFindTheirPocket)
{
    auto square = [](float x, float y, float side, bool island) {
        std::vector<float> v;
        const float c[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (int k = 0; k <= 4; k++) {
            const int i = island ? k % 4 : (4 - k) % 4;
            v.insert(v.end(), {x + c[i][0] * side, y + c[i][1] * side, 0.0f});
        }
        return v;
    };
    struct Case {
        const char *name;
        std::vector<std::vector<float>> polys;
        std::vector<int> owner;
        const char *line; // logged, or null for none
    };
    const Case cases[] = {
        {"an island in its pocket", {square(0, 0, 10, false), square(2, 2, 2, true)}, {0, 0}, nullptr},
        {"an island outside every pocket",
         {square(0, 0, 10, false), square(20, 2, 2, true)},
         {0, -1},
         "cam_trochpock: failed to find pocket for island node[1]"},
        {"a pocket larger than the island but not around it",
         {square(0, 0, 10, false), square(12, 0, 3, false), square(13, 1, 1, true), square(4, 4, 1, true)},
         {0, 1, 1, 0},
         nullptr},
        {"islands of nested pockets",
         {square(0, 0, 20, false), square(2, 2, 16, true), square(4, 4, 12, false), square(6, 6, 2, true)},
         {0, 0, 2, 2},
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        contour *k = cont_new();
        for (const std::vector<float> &p : c.polys)
            cont_addpoly(k, p.data(), (uint32_t)(p.size() / 3), 1, -1, "test");
        std::vector<int> owner(c.polys.size(), 99);
        testlog_capture log;
        const int dropped = troch_islandroots(k, owner.data());
        cont_free(k);
        EXPECT_EQ(owner, c.owner);
        EXPECT_EQ(dropped, (int)std::count(c.owner.begin(), c.owner.end(), -1));
        if (c.line)
            EXPECT_TRUE(log.contains(c.line));
        else
            EXPECT_FALSE(log.contains("failed to find pocket"));
    }
}

// A tree that fills its table is emitted and a new one started under an
// empty root: with room for two arcs a tree, the same arcs are cut as with
// the whole table, none lost and none twice.
TEST_F(Trochoid, AFullArcTreeIsEmittedAndRestarted)
{
    auto arcs = [&](int room, bool *filled) {
        resetop();
        PocketTest::SetUp();
        op.type = 15;
        startcut_heading = 0.0f;
        formulacanvas(canvas_n, islandpocket);
        startcut_treenodes = room;
        testlog_capture log;
        EXPECT_TRUE(rungenerator(nullptr, 60.0));
        startcut_treenodes = startcut_maxnodes;
        *filled = log.contains("cam_startcuts: arc tree full");
        return troch_takecuts(op.toolpath);
    };
    bool filled = false;
    const std::multiset<std::vector<float>> whole = arcs(startcut_maxnodes, &filled);
    EXPECT_FALSE(filled);
    EXPECT_GT(whole.size(), 20u);
    // Room for two arcs: loops of two arcs fill it.
    const std::multiset<std::vector<float>> small = arcs(3, &filled);
    EXPECT_TRUE(filled);
    EXPECT_TRUE(small == whole) << small.size() << " cuts against " << whole.size();
}

// A walk that comes back head-on to what it cut: a U-shaped branch whose
// last leg runs down onto the band the first branch cleared. Its loops
// there split into an arc each side of the band, loop after loop, so a
// tree with room for a few arcs fills in the middle of a loop. The arcs
// cut are those of the whole table, whatever the room.
TEST_F(Trochoid, AFullArcTreeEmittedInTheMiddleOfALoop)
{
    formulacanvas(48, [](float, float) { return false; });
    const float size[3] = {1, 1, 1}, origin[3] = {0, 0, 0};
    std::vector<float> band, u;
    for (int i = 0; i <= 14; i++)
        band.insert(band.end(), {0.15f + 0.05f * i, 0.5f, i == 7 ? 0.06f : 0.05f});
    const float corners[4][2] = {{0.3f, 0.5f}, {0.3f, 0.85f}, {0.7f, 0.85f}, {0.7f, 0.5f}};
    for (int leg = 0; leg < 3; leg++)
        for (int i = 0; i < 10; i++) {
            const float t = i / 10.0f;
            u.insert(u.end(), {corners[leg][0] + (corners[leg + 1][0] - corners[leg][0]) * t,
                               corners[leg][1] + (corners[leg + 1][1] - corners[leg][1]) * t, 0.05f});
        }
    u.insert(u.end(), {corners[3][0], corners[3][1], 0.05f});
    auto arcs = [&](int room, bool *filled) {
        op.entry = 0;
        op.toolpath = toolpath_new();
        startcut_heading = 0.0f;
        startcut_treenodes = room;
        contour *axis = axisof({band, u});
        int sign = 1;
        testlog_capture log;
        EXPECT_EQ(cam_startcuts(&op, axis, size, origin, &sign, 0.01f, 0.8f, 1.0f, 1.0f / 96), 1);
        startcut_treenodes = startcut_maxnodes;
        cont_free(axis);
        *filled = log.contains("cam_startcuts: arc tree full");
        return troch_takecuts(op.toolpath);
    };
    bool filled = false;
    const std::multiset<std::vector<float>> whole = arcs(startcut_maxnodes, &filled);
    EXPECT_FALSE(filled);
    for (int room : {4, 5, 7}) {
        SCOPED_TRACE("room for " + std::to_string(room - 1) + " arcs");
        const std::multiset<std::vector<float>> small = arcs(room, &filled);
        EXPECT_TRUE(filled);
        EXPECT_TRUE(small == whole) << small.size() << " cuts against " << whole.size();
    }
}

namespace {

// Even-odd inside test of a point against closed polylines (x, y, z).
bool insidepolys(float x, float y, const std::vector<std::vector<float>> &polys)
{
    bool in = false;
    for (const std::vector<float> &v : polys) {
        const size_t n = v.size() / 3;
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            const float *a = &v[i * 3], *b = &v[j * 3];
            if ((a[1] > y) != (b[1] > y) && x < a[0] + (b[0] - a[0]) * (y - a[1]) / (b[1] - a[1]))
                in = !in;
        }
    }
    return in;
}

// Distance from a point to the nearest edge of closed polylines.
float edgedistance(float x, float y, const std::vector<std::vector<float>> &polys)
{
    float best = 1e9f;
    for (const std::vector<float> &v : polys) {
        const size_t n = v.size() / 3;
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            const float ax = v[j * 3], ay = v[j * 3 + 1], dx = v[i * 3] - ax, dy = v[i * 3 + 1] - ay;
            const float l2 = dx * dx + dy * dy;
            float t = l2 > 0.0f ? ((x - ax) * dx + (y - ay) * dy) / l2 : 0.0f;
            t = std::fmin(1.0f, std::fmax(0.0f, t));
            best = std::fmin(best, std::hypot(ax + t * dx - x, ay + t * dy - y));
        }
    }
    return best;
}

float enclosedarea(const std::vector<std::vector<float>> &polys)
{
    double a = 0.0;
    for (const std::vector<float> &v : polys) {
        const size_t n = v.size() / 3;
        double s = 0.0;
        for (size_t i = 0, j = n - 1; i < n; j = i++)
            s += (double)v[j * 3] * v[i * 3 + 1] - (double)v[i * 3] * v[j * 3 + 1];
        a += 0.5 * s;
    }
    return (float)std::fabs(a); // the island winds against the pocket
}

float outlinelength(const std::vector<std::vector<float>> &polys)
{
    float l = 0.0f;
    for (const std::vector<float> &v : polys)
        for (size_t i = 0, n = v.size() / 3, j = n - 1; i < n; j = i++)
            l += std::hypot(v[i * 3] - v[j * 3], v[i * 3 + 1] - v[j * 3 + 1]);
    return l;
}

} // namespace

// On a flat-floored pocket with vertical walls the 2.5D generator slices
// the same pocket at every level and cuts it like the 2D generator, but
// not to the pixel: a vertical wall is a one-pixel step in the surface the
// cutter's kernel raises, and the anti-aliased threshold puts each slice's
// edge at the fraction of that step where the level falls, so a deeper
// slice's edge lies further toward the floor pixel, up to one pixel from
// where a shallow one lies; the 2D outline comes from a distance field at
// one place. So every slice is linked under the one above it; the area
// between a slice's outlines differs from the 2D generator's by at most
// one pixel along their length; and the 2.5D generator clears as much of
// the reach of its own outlines (the region they enclose grown by the
// cutter radius) as the 2D generator does of its own, within 1%.
TEST_F(Trochoid, ReliefGeneratorCutsAFlatPocketLikeTheFlatOne)
{
    struct Run {
        std::vector<troch_raster> cleared;
        std::vector<std::vector<std::vector<float>>> outlines; // per level: the pocket and its island
    };
    auto run = [&](int type) {
        resetop();
        PocketTest::SetUp();
        startcut_heading = 0.0f;
        op.type = type;
        op.cont = cont_new();
        formulacanvas(canvas_n, islandpocket);
        EXPECT_TRUE(rungenerator(nullptr, 60.0));
        Run out;
        if (op.toolpath < 0)
            return out;
        for (const troch_level &l : levels(pocket_cuts(op.toolpath))) {
            troch_raster ras(canvas_n);
            const float *prev = nullptr;
            for (const pocket_cut &c : l.cuts) {
                if ((c.flags & PATH_LINK) && prev) // fed at depth from the cut before
                    ras.sweep(prev, &c.verts[0], 0.5f * tooldiameter);
                for (size_t i = 0; i + 3 < c.verts.size(); i += 3)
                    ras.sweep(&c.verts[i], &c.verts[i + 3], 0.5f * tooldiameter);
                prev = &c.verts[c.verts.size() - 3];
            }
            out.cleared.push_back(ras);
        }
        // The outlines come first in the working contour, two to a level:
        // once for all levels (2D) or per level (2.5D).
        const float *v = op.cont->verts;
        const uint32_t want = type == 15 ? 2u : 6u;
        for (uint32_t p = 0; p < op.cont->numpolys && p < want; v += op.cont->vertcount[p] * 3, p++) {
            if (p % 2 == 0)
                out.outlines.emplace_back();
            out.outlines.back().emplace_back(v, v + op.cont->vertcount[p] * 3);
        }
        toolpath_free(op.toolpath);
        return out;
    };
    const Run flat = run(15);
    testlog_capture log;
    const Run relief = run(14);
    // Every slice is linked under the one above it, the island under its pocket.
    EXPECT_FALSE(log.contains("is lower to none"));
    EXPECT_FALSE(log.contains("has no pocket node"));
    ASSERT_EQ(flat.cleared.size(), 3u);
    ASSERT_EQ(relief.cleared.size(), flat.cleared.size());
    ASSERT_EQ(flat.outlines.size(), 1u);
    ASSERT_EQ(relief.outlines.size(), 3u);
    const float px = 1.0f / canvas_n, r = 0.5f * tooldiameter;
    // The share of its outlines' reach a level's cuts clear; the reach ends
    // a pixel short of the cutter's rim, where chords and pixel centres
    // decide rather than the loops.
    auto share = [&](const troch_raster &cut, const std::vector<std::vector<float>> &polys) {
        int reach = 0, cleared = 0;
        for (int j = 0; j < canvas_n; j++)
            for (int i = 0; i < canvas_n; i++) {
                const float x = (i + 0.5f) * px, y = 1.0f - (j + 0.5f) * px;
                if (insidepolys(x, y, polys) || edgedistance(x, y, polys) <= r - px) {
                    reach++;
                    cleared += cut.cut[(size_t)j * canvas_n + i];
                }
            }
        return (double)cleared / std::max(reach, 1);
    };
    const std::vector<std::vector<float>> &flatpolys = flat.outlines[0];
    const float flatarea = enclosedarea(flatpolys), flatlength = outlinelength(flatpolys);
    for (size_t l = 0; l < 3; l++) {
        SCOPED_TRACE("level " + std::to_string(l));
        const std::vector<std::vector<float>> &polys = relief.outlines[l];
        EXPECT_NEAR(enclosedarea(polys), flatarea, flatlength * px);
        const double flatshare = share(flat.cleared[l], flatpolys);
        EXPECT_GE(flatshare, 0.97);
        EXPECT_GE(share(relief.cleared[l], polys), flatshare - 0.01);
    }
}
