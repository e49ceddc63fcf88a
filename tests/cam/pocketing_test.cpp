// Offset pockets: the ring tree against shapely's nested buffers, its
// tables refusing what does not fit (never overwriting a live leaf), the
// edge cases of the generator on small canvases, and the inputs it must
// refuse.
#include "pocketingfixture.h"
#include "sys/config.h"

#include <array>
#include <functional>
#include <set>
#include <thread>

namespace {

// Fills c (emptied first) with closed rings given as x, y pairs (z 0).
void ringcontour(contour *c, const std::vector<std::vector<double>> &rings)
{
    c->numpolys = c->numverts = 0;
    std::vector<float> v;
    for (const auto &r : rings) {
        v.clear();
        for (size_t i = 0; i + 1 < r.size(); i += 2)
            v.insert(v.end(), {(float)r[i], (float)r[i + 1], 0.0f});
        cont_addpoly(c, v.data(), (uint32_t)(v.size() / 3), 1, -1, "test");
    }
}

// A closed square of half side h about (x, y): clockwise (positive area)
// for an outline, anticlockwise for an island.
std::vector<double> square(double x, double y, double h, bool island = false)
{
    std::vector<double> s = {x - h, y - h, x - h, y + h, x + h, y + h, x + h, y - h, x - h, y - h};
    if (island)
        for (size_t i = 0; i < s.size() / 2; i += 2) {
            std::swap(s[i], s[s.size() - 2 - i]);
            std::swap(s[i + 1], s[s.size() - 1 - i]);
        }
    return s;
}

struct tree_ptr {
    pocket_tree t;
    contour *rings = cont_new(); // one for every pass: a contour is large to clear
    explicit tree_ptr(float step) { EXPECT_EQ(pocket_inittree(&t, step, 1e-9f, 1.0f), 1); }
    ~tree_ptr()
    {
        pocket_freetree(&t);
        cont_free(rings);
    }
    int pass(const std::vector<std::vector<double>> &r, float d)
    {
        ringcontour(rings, r);
        return pocket_addpass(&t, rings, d);
    }
    // Parent of every node (-1 roots and islands of the first pass).
    std::vector<int> parents() const
    {
        std::vector<int> p(t.numnodes, -1);
        for (int i = 0; i < t.numnodes; i++)
            for (int k = t.nodes[i].inner; k >= 0; k = t.nodes[k].next)
                p[k] = i;
        return p;
    }
    bool isleaf(int n) const
    {
        for (int l : t.leaves)
            if (l == n)
                return true;
        return false;
    }
};

class PocketTree : public testing::Test {
protected:
    testlog_capture quiet;
};

class Pocketing : public PocketTest {};

// Square pockets of half side h about (cx, cy) on an n x n canvas of 1 x 1.
std::vector<float> squarepockets(int n, const std::vector<std::array<float, 3>> &squares)
{
    std::vector<float> f((size_t)n * n, 1.0f);
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++) {
            float x = (i + 0.5f) / n, y = 1.0f - (j + 0.5f) / n;
            for (const auto &s : squares)
                if (std::fabs(x - s[0]) < s[2] && std::fabs(y - s[1]) < s[2])
                    f[(size_t)j * n + i] = 0.75f;
        }
    return f;
}

} // namespace

TEST_F(PocketTree, NestedBuffersHangUnderTheRingsAroundThem)
{
    const float step = 0.032f;
    for (const char *shape : {"rect2", "ring", "letter"}) {
        SCOPED_TRACE(shape);
        pocket_answer a = pocket_shapely(std::string("{\"op\":\"nested\",\"shape\":\"") + shape +
                                         "\",\"step\":0.032,\"k\":30}");
        ASSERT_FALSE(a["ring"].empty()) << "shapely (python3-shapely) did not answer";
        std::vector<std::vector<std::vector<double>>> passes;
        std::vector<int> passof;
        for (auto &r : a["ring"]) {
            size_t k = (size_t)r[0];
            passes.resize(std::max(passes.size(), k + 1));
            passes[k].emplace_back(r.begin() + 1, r.end());
            passof.push_back((int)k);
        }
        std::vector<std::set<int>> inside;
        for (auto &l : a["inside"])
            inside.emplace_back(l.begin() + 1, l.end());
        tree_ptr tree(step);
        for (size_t k = 0; k < passes.size(); k++)
            ASSERT_EQ(tree.pass(passes[k], k * step), pocket_ok) << "pass " << k;
        ASSERT_EQ(tree.t.numnodes, (int)passof.size());
        ASSERT_EQ(pocket_attachislands(&tree.t), pocket_ok);
        std::vector<int> parent = tree.parents();
        for (int n = 0; n < tree.t.numnodes; n++) {
            SCOPED_TRACE(n);
            const float area = tree.t.nodes[n].area;
            if (passof[n] == 0) {
                EXPECT_EQ(parent[n], -1);
                continue;
            }
            ASSERT_GE(parent[n], 0) << "no parent";
            EXPECT_LT(passof[parent[n]], passof[n]);
            // An outline lies inside its parent; an island's ring around its parent.
            if (area > 0)
                EXPECT_TRUE(inside[parent[n]].count(n)) << "not inside node " << parent[n];
            else
                EXPECT_TRUE(inside[n].count(parent[n])) << "not around node " << parent[n];
        }
        // Every island of the first pass belongs to the root around it.
        for (int i = 0; i < tree.t.numroots; i++) {
            int root = tree.t.roots[i];
            for (int k = tree.t.nodes[root].island; k >= 0; k = tree.t.nodes[k].island)
                EXPECT_TRUE(inside[root].count(k)) << "island " << k << " outside root " << root;
        }
    }
}

TEST_F(PocketTree, RefusesWhatDoesNotFitAndNeverReplacesALiveRing)
{
    {
        SCOPED_TRACE("tables");
        struct Case {
            const char *name;
            int roots, islands; // squares of the first pass
            int passes;         // further passes shrinking every root
            int failpass;       // the pass refused, -1 none
            const char *line;
        } const cases[] = {
            {"1,025 roots", 1025, 0, 0, 0, "more than 1024 roots"},
            {"1,025 islands", 0, 1025, 0, 0, "more than 1024 islands"},
            {"1,200 leaves in one pass", 600, 600, 0, 0, "more than 1024 new leaves"},
            {"a 4,097th ring", 100, 0, 41, 40, "more than 4096 rings"},
            {"1,024 leaves fit", 1000, 24, 0, -1, nullptr},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            testlog_capture log;
            tree_ptr tree(0.00001f);
            // Roots of distinct sizes, so each ring has one nearest larger leaf.
            auto root = [](int i, int k) {
                return square(0.5 + (i % 40) * 0.06, (i / 40) * 0.06 + 0.5, 0.005 + i * 0.00002 - k * 0.00001);
            };
            std::vector<std::vector<double>> first;
            for (int i = 0; i < c.roots; i++)
                first.push_back(root(i, 0));
            for (int i = 0; i < c.islands; i++)
                first.push_back(square(3.5 + (i % 40) * 0.02, (i / 40) * 0.02 + 0.5, 0.001, true));
            int failed = -1;
            if (tree.pass(first, 0.0f) != pocket_ok)
                failed = 0;
            for (int k = 1; k <= c.passes && failed < 0; k++) {
                std::vector<std::vector<double>> rings;
                for (int i = 0; i < c.roots; i++)
                    rings.push_back(root(i, k));
                if (tree.pass(rings, k * 0.00001f) != pocket_ok)
                    failed = k;
            }
            EXPECT_EQ(failed, c.failpass);
            EXPECT_LE(tree.t.numnodes, pocket_maxnodes);
            if (c.line)
                EXPECT_TRUE(log.contains(c.line));
        }
    }
    // One pocket shrinks ring after ring while 999 finished pockets stay
    // leaves: the running position wraps round the leaf table onto them, and
    // a ring inside one of them must still find it.
    {
        SCOPED_TRACE("wrapping leaves");
        const float s = 0.001f;
        tree_ptr tree(s);
        std::vector<std::vector<double>> first = {square(-1.0, -1.0, 0.2)};
        for (int i = 1; i < 1000; i++)
            first.push_back(square((i % 40) * 0.02, (i / 40) * 0.02, 0.005));
        ASSERT_EQ(tree.pass(first, 0.0f), pocket_ok);
        int k = 1;
        for (; k <= 40; k++)
            ASSERT_EQ(tree.pass({square(-1.0, -1.0, 0.2 - k * s)}, k * s), pocket_ok) << "pass " << k;
        for (int i = 1; i < 1000; i++)
            ASSERT_TRUE(tree.isleaf(i)) << "leaf node " << i << " was overwritten";
        // A ring inside the pocket of node 1 (its square about (0.02, 0)).
        const int before = tree.t.numnodes;
        ASSERT_EQ(tree.pass({square(0.02, 0.0, 0.005 - s)}, k * s), pocket_ok);
        EXPECT_EQ(tree.parents()[before], 1);
    }
    {
        SCOPED_TRACE("rings");
        const float s = 0.01f;
        struct Case {
            const char *name;
            float d;
            std::vector<double> ring;
            int result;
        } const cases[] = {
            {"inside the leaf", 2 * s, square(0.5, 0.5, 0.1), pocket_ok},
            {"far from every leaf", 2 * s, square(5.0, 5.0, 0.1), pocket_orphan},
            {"far from every leaf before 1.5 S: a forced root", s, square(5.0, 5.0, 0.1), pocket_ok},
            {"a tiny ring is dropped", 2 * s, {5.0, 5.0, 5.001, 5.0, 5.002, 5.0, 5.0, 5.0}, pocket_ok},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            testlog_capture log;
            tree_ptr tree(s);
            ASSERT_EQ(tree.pass({square(0.5, 0.5, 0.2), square(3.0, 3.0, 0.2)}, 0.0f), pocket_ok);
            EXPECT_EQ(tree.pass({c.ring}, c.d), c.result);
            if (c.result == pocket_orphan) {
                // The failing ring and both leaves it fits nowhere in.
                EXPECT_TRUE(log.contains(" node[2] is inner to none !!!"));
                EXPECT_EQ(log.count(" leaf["), 2);
                EXPECT_TRUE(log.contains(" = node[1] area:"));
            }
            if (c.ring.size() == 8) {
                EXPECT_EQ(tree.t.numnodes, 2);
                EXPECT_TRUE(log.contains("...discarded malformed polyline verts:4"));
            }
            if (c.d < 1.5f * s && c.result == pocket_ok && c.ring[0] > 4.0) {
                EXPECT_EQ(tree.t.numroots, 3);
                EXPECT_EQ(tree.t.nodes[2].leaf, 1);
            }
        }
    }
    {
        SCOPED_TRACE("islands");
        testlog_capture log;
        tree_ptr tree(0.01f);
        ASSERT_EQ(tree.pass({square(0.5, 0.5, 0.2), square(0.5, 0.5, 0.05, true), square(3.0, 3.0, 0.05, true)}, 0.0f),
                  pocket_ok);
        // On a worker, as in a job: the error becomes a pending notice, not a box.
        int result = 0;
        std::thread([&] { result = pocket_attachislands(&tree.t); }).join();
        EXPECT_EQ(result, pocket_orphan);
        EXPECT_TRUE(log.contains("island[1] = nodes[2] area:"));
        // The stray island and the one root it lies outside.
        EXPECT_TRUE(log.contains("node[2] vert[0] = 2.950000,"));
        EXPECT_TRUE(log.contains("root[0] = nodes[0].area = "));
        EXPECT_EQ(tree.t.nodes[0].island, 1); // the first island was attached before
        sys_notice n;
        while (sys_takenotice(&n)) {
        }
    }
}

TEST_F(Pocketing, RefusedRunsEndCleanly)
{
    {
        SCOPED_TRACE("refusals");
        struct Case {
            const char *name;
            float step;
            float diameter;
            float doc;
            uint32_t unknownuid; // paths-layer input from a uid no layer carries
            const char *line;
            int claimed;
        } const cases[] = {
            {"a stepover of 0", 0.0f, 0.08f, 0.1f, 0, "stepover 0.000000 must be above 0", 0},
            {"a percentage of a tool of no diameter", 40.0f, 0.0f, 0.1f, 0, "stepover 0.000000 must be above 0", 0},
            {"a depth of cut of 0", 40.0f, 0.08f, 0.0f, 0, "depth of cut 0.000000 must be above 0", 0},
            {"a paths-layer nobody carries", 40.0f, 0.08f, 0.1f, 0x0BADF00D, "...unknown layer uid:0BADF00D", 1},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            SetUp();
            setcanvas(squarepockets(48, {{{0.5f, 0.5f, 0.3f}}}), 48, 48, std::array<float, 3>{1, 1, 1}.data(),
                      std::array<float, 3>{0, 0, 0}.data());
            op.step = c.step;
            cam_tools[0].diameter = cam_tools[0].flutediameter = c.diameter;
            op.z_doc = c.doc;
            if (c.unknownuid) {
                op.flags |= camop_pathslayer;
                int32_t word = (int32_t)c.unknownuid;
                std::memcpy(&op.aux[2], &word, sizeof(word));
            }
            testlog_capture log;
            ASSERT_TRUE(rungenerator(nullptr, 60.0)) << "the generator did not end";
            EXPECT_TRUE(log.contains(c.line));
            EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
            if (c.claimed) {
                ASSERT_GE(op.toolpath, 0);
                EXPECT_EQ(toolpaths[op.toolpath].num_paths, 0u);
            } else {
                EXPECT_EQ(op.toolpath, -1);
            }
            for (int i = 0; i < toolpath_maxslots; i++)
                toolpath_free(i);
        }
    }
    TearDown();
    SetUp();
    // 1,156 pockets of 2 x 2 pixels: more rings in the first pass than the
    // tables hold. Refused before anything is cut, nothing written past a
    // table (the sanitizer build watches).
    {
        SCOPED_TRACE("more rings than the tables hold");
        const int n = 108;
        std::vector<float> f((size_t)n * n, 1.0f);
        for (int j = 0; j < 34; j++)
            for (int i = 0; i < 34; i++)
                for (int k = 0; k < 4; k++)
                    f[(size_t)(4 + 3 * j + k / 2) * n + 4 + 3 * i + k % 2] = 0.75f;
        const float size[3] = {1, 1, 1}, frac[3] = {0, 0, 0};
        setcanvas(f, n, n, size, frac);
        cam_tools[0].diameter = cam_tools[0].flutediameter = 0.001f;
        testlog_capture log;
        ASSERT_TRUE(rungenerator(nullptr, 120.0));
        EXPECT_EQ(op.toolpath, -1);
        EXPECT_TRUE(log.contains("pocket_addpass: more than 1024"));
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
    }
}


namespace {

bool inbox(float x, float y, float x0, float y0, float x1, float y1)
{
    return x > x0 && x < x1 && y > y0 && y < y1;
}

// A box pocket with two round islands.
bool boxislands(float x, float y)
{
    return inbox(x, y, 0.1f, 0.15f, 0.9f, 0.85f) && std::hypot(x - 0.32f, y - 0.5f) > 0.09f &&
           std::hypot(x - 0.68f, y - 0.5f) > 0.09f;
}

// Every cut vertex below the top (entries included) passes the test.
bool allcuts(int slot, const std::function<bool(float, float)> &ok, float *bad = nullptr)
{
    for (const pocket_cut &p : pocket_cuts(slot))
        for (size_t i = 0; i < p.verts.size(); i += 3)
            if (p.verts[i + 2] < 1.0f && !ok(p.verts[i], p.verts[i + 1])) {
                if (bad)
                    bad[0] = p.verts[i], bad[1] = p.verts[i + 1];
                return false;
            }
    return true;
}

} // namespace

TEST_F(Pocketing, RingPassesSmoothingAndBridges)
{
    {
        SCOPED_TRACE("smoothing and bridges");
        struct Case {
            const char *name;
            bool islands;
            float smoothing; // aux[1]
            const char *bridges;
            int blended, blurred;
        } const cases[] = {
            {"islands, smoothed", true, 0.02f, "...generated 2 bridges", 1, 1},
            {"no islands, no bridges", false, 0.0f, "...generated 0 bridges", 0, 0},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            SetUp();
            formulacanvas(48, c.islands ? boxislands : [](float x, float y) { return inbox(x, y, 0.1f, 0.15f, 0.9f, 0.85f); });
            op.aux[1] = c.smoothing;
            op.step = 80.0f; // fewer rings: only the passes' set-up is looked at
            testlog_capture log;
            const int32_t debug = cfg_geti(cfg_debuginfo);
            cfg_seti(cfg_debuginfo, 1); // the blur's kernel line is a detail line
            ASSERT_TRUE(rungenerator());
            ASSERT_GE(op.toolpath, 0);
            EXPECT_TRUE(log.contains(c.bridges));
            EXPECT_EQ(log.count("...blended thresh/bridge distances"), c.blended);
            EXPECT_EQ(log.count("radius blur kernel"), c.blurred);
            cfg_seti(cfg_debuginfo, debug);
            EXPECT_TRUE(notices().empty());
            toolpath_free(op.toolpath);
        }
    }
    TearDown();
    SetUp();
    {
        SCOPED_TRACE("first empty pass");
        // A square pocket of half side 0.3: the tool's centre keeps 0.26 from
        // its middle, so rings one stepover (0.032) apart end by the ninth.
        formulacanvas(64, [](float x, float y) { return inbox(x, y, 0.2f, 0.2f, 0.8f, 0.8f); });
        testlog_capture log;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const int passes = log.count("...contoured dist:");
        EXPECT_GE(passes, 9);
        EXPECT_LE(passes, 11);
        const std::string text = log.text();
        const size_t last = text.rfind("...contoured dist:");
        EXPECT_NE(text.find("polys:0", last), std::string::npos);
    }
}

TEST_F(Pocketing, WhereTheToolMayGo)
{
    const int n = 48;
    const float r = tooldiameter / 2, px = 1.0f / n;
    struct Case {
        const char *name;
        std::function<bool(float, float)> region;
        uint32_t flags;
        std::function<bool(float, float)> ok; // for every cut vertex
        std::function<bool(float, float)> some; // for at least one
    } const cases[] = {
        {"outside a raised disc", [](float x, float y) { return std::hypot(x - 0.5f, y - 0.5f) > 0.25f; }, 0,
         [&](float x, float y) { return std::hypot(x - 0.5f, y - 0.5f) >= 0.25f + r - px; }, nullptr},
        {"inside out: the disc itself", [](float x, float y) { return std::hypot(x - 0.5f, y - 0.5f) > 0.25f; }, 0x800,
         [&](float x, float y) { return std::hypot(x - 0.5f, y - 0.5f) <= 0.25f - r + px; }, nullptr},
        {"a pocket open to the canvas edge reaches it",
         [](float x, float y) { return x < 0.5f && y > 0.2f && y < 0.8f; }, 0,
         [&](float x, float) { return x >= -px; }, [&](float x, float) { return x < px; }},
        {"kept inside the canvas", [](float x, float y) { return x < 0.5f && y > 0.2f && y < 0.8f; }, camop_confine,
         [&](float x, float) { return x >= r - px; }, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        formulacanvas(n, c.region);
        op.step = 80.0f; // fewer rings; every one is checked
        op.flags |= c.flags;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        float bad[2] = {0, 0};
        EXPECT_TRUE(allcuts(op.toolpath, c.ok, bad)) << "at " << bad[0] << "," << bad[1];
        if (c.some)
            EXPECT_FALSE(allcuts(op.toolpath, [&](float x, float y) { return !c.some(x, y); }));
        toolpath_free(op.toolpath);
    }
}

TEST_F(Pocketing, EntriesByHelixRampOrLink)
{
    {
        SCOPED_TRACE("helix or ramp");
        struct Case {
            const char *name;
            float halfwidth; // of the pocket across y
            bool helix;
            const char *line;
        } const cases[] = {
            // Six pixel rows: the tool's centre has 0.007 either side of the middle.
            {"a slot whose ring is 0.014 wide: ramped", 3.5f / 64, false, "...bestpos too small"},
            {"a wide pocket: a helix", 0.3f, true, "...bestpos = vert"},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            SetUp();
            formulacanvas(64, [&](float x, float y) { return inbox(x, y, 0.15f, 0.5f - c.halfwidth, 0.85f, 0.5f + c.halfwidth); });
            op.entry = 2;
            op.step = 80.0f;
            testlog_capture log;
            ASSERT_TRUE(rungenerator());
            ASSERT_GE(op.toolpath, 0);
            EXPECT_TRUE(log.contains(c.line));
            int helixes = 0, ramps = 0;
            for (const pocket_cut &p : pocket_cuts(op.toolpath)) {
                helixes += (p.flags & ENGAGE_HELIX) != 0;
                ramps += (p.flags & ENGAGE_RAMP) != 0;
            }
            EXPECT_EQ(helixes > 0, c.helix);
            if (!c.helix)
                EXPECT_GT(ramps, 0);
            toolpath_free(op.toolpath);
        }
    }
    TearDown();
    SetUp();
    {
        SCOPED_TRACE("linked rings");
        const float join = 1.5f * tooldiameter * 0.8f;
        for (uint32_t flags : {0u, (uint32_t)camop_linkcuts}) {
            SCOPED_TRACE(flags);
            SetUp();
            formulacanvas(48, [](float x, float y) { return inbox(x, y, 0.2f, 0.2f, 0.8f, 0.8f); });
            op.flags |= flags;
            op.entry = 1;
            op.step = 80.0f;
            ASSERT_TRUE(rungenerator());
            ASSERT_GE(op.toolpath, 0);
            const std::vector<pocket_cut> cuts = pocket_cuts(op.toolpath);
            int direct = 0;
            for (size_t i = 1; i < cuts.size(); i++) {
                if (!(cuts[i].flags & PATH_LINK) || cuts[i].entry() || cuts[i - 1].entry())
                    continue;
                direct++;
                // Joined from where the previous ring ended, within 1.5 S.
                const std::vector<float> &a = cuts[i - 1].verts, &b = cuts[i].verts;
                const float gap = std::hypot(b[0] - a[a.size() - 3], b[1] - a[a.size() - 2]);
                EXPECT_LT(gap, join);
            }
            if (flags)
                EXPECT_GT(direct, 0);
            else
                EXPECT_EQ(direct, 0);
            toolpath_free(op.toolpath);
        }
    }
}


