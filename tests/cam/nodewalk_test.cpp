// Node-tree walks: tree depth and parent distance, the link decision of
// each walk (a wrong link drags the bit through uncut stock), entries by
// ramp and helix with the ramp taking over from a helix that cannot be made,
// tabs below the tab top, and the start-cut and horizontal-offset trees.
#include "cam/nodewalk.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "camtest.h"
#include "geom/contour.h"
#include "geom/medial.h"
#include "img/image.h"
#include "testlog.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Square loop of side 2h round (cx, cy) starting at its (-h, -h) corner: a
// pocket (positive signed area) or an island. With repeat the first point
// closes the loop.
std::vector<float> square(float cx, float cy, float h, bool pocket, bool repeat = false)
{
    std::vector<float> v = {cx - h, cy - h, 0, cx + h, cy - h, 0, cx + h, cy + h, 0, cx - h, cy + h, 0};
    if ((cont_polyarea(v.data(), 4) > 0) != pocket)
        v = {cx - h, cy - h, 0, cx - h, cy + h, 0, cx + h, cy + h, 0, cx + h, cy - h, 0};
    if (repeat)
        v.insert(v.end(), v.begin(), v.begin() + 3);
    return v;
}

prof_node profnode(std::vector<float> &v, int outermost)
{
    prof_node n{};
    n.nextroot = n.inner = n.islands = n.next = n.pockets = -1;
    n.one = 1;
    n.outermost = outermost;
    n.area = cont_polyarea(v.data(), (uint32_t)v.size() / 3);
    n.count = (int)v.size() / 3;
    n.verts = v.data();
    return n;
}

class NodeWalk : public ToolpathTest {
protected:
    camop op{};
    float savedscale = 1.0f;
    testlog_capture log;

    void SetUp() override
    {
        savedscale = img_refscale;
        img_refscale = 1.0f;
        engage_slope = 0.36397023f;
        engage_flag = 1;
        settool(0.25f);
        op.tool = 1;
        op.dir = 0;
        op.toolpath = claim();
    }
    void TearDown() override
    {
        img_refscale = savedscale;
        cont_free(op.cont);
        op.cont = nullptr;
        ToolpathTest::TearDown();
    }
    static void settool(float flutediameter)
    {
        cam_settool(1, "flat", tool_cylinder, 1, 2, flutediameter, 0.5f, 0.0f, 1.5f, 20.0f);
    }
    const toolpath &tp() const { return toolpaths[op.toolpath]; }
    const float *first(uint32_t path) const { return tp().verts + tp().paths[path].first * 3; }
    int countflag(uint8_t flag) const
    {
        int k = 0;
        for (uint32_t i = 0; i < tp().num_paths; i++)
            k += (tp().paths[i].flags & flag) != 0;
        return k;
    }
};

} // namespace

TEST_F(NodeWalk, TreeDepthCountsOnlyInnerNodesOfTheSameSign)
{
    auto outer = square(0, 0, 4, true), mid = square(0, 0, 3, true), hole = square(0, 0, 1, false),
         in = square(0, 0, 2, true);
    prof_node nodes[4] = {profnode(outer, 1), profnode(mid, 0), profnode(hole, 0), profnode(in, 0)};
    EXPECT_EQ(cam_nodedepth(3, 5, nodes), 5); // no inner nodes

    nodes[0].inner = 2; // island first on the list: skipped, its sibling counted
    nodes[2].next = 1;
    nodes[1].inner = 3;
    EXPECT_EQ(cam_nodedepth(0, 0, nodes), 2);
    nodes[2].inner = 3; // below an island nothing is counted
    nodes[2].next = -1;
    EXPECT_EQ(cam_nodedepth(0, 0, nodes), 0);
}

TEST_F(NodeWalk, ParentDistanceIgnoresIslandsAndKeepsTheCap)
{
    auto hole = square(0, 0, 2, false), pocket = square(10, 0, 2, true), ref = square(0, 0, 0.5f, true),
         inside = square(10, 0, 1, true);
    prof_node nodes[4] = {profnode(hole, 0), profnode(pocket, 1), profnode(ref, 0), profnode(inside, 0)};
    nodes[0].next = 1;
    // The reference lies inside the island and outside the pocket: cap.
    EXPECT_FLOAT_EQ(cam_nodemindist(0, 50.0f, 2, nodes), 50.0f);
    // Inside the pocket it counts, as a squared distance.
    float d = cam_nodemindist(0, 50.0f, 3, nodes);
    EXPECT_NEAR(d, 1.0f, 1e-4f); // (9, -1) lies 1 from the walls x = 8 and y = -2
    EXPECT_FLOAT_EQ(cam_nodemindist(0, 0.5f, 3, nodes), 0.5f);
}

TEST_F(NodeWalk, ProfileLinkDecision)
{
    struct Case {
        const char *name;
        uint32_t flags;
        float lastx; // the ring's nearest vertex is (-1, -1)
        int outermost, firstlevel, inner;
        int link;
    } const cases[] = {
        {"links off", 0x0, -1.1f, 1, 0, 0, 0},
        {"too far", 0x4, -3.0f, 1, 0, 0, 0},
        {"outermost below the first level", 0x4, -1.1f, 1, 0, 0, 1},
        {"outermost on the first level", 0x4, -1.1f, 1, 1, 0, 0},
        {"inner ring with inner nodes", 0x4, -1.1f, 0, 1, 1, 1},
        {"inner ring without", 0x4, -1.1f, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        toolpath_free(op.toolpath);
        op.toolpath = claim();
        op.flags = c.flags;
        op.entry = 0;
        auto ring = square(0, 0, 1, true), empty = square(0, 0, 0.5f, true);
        prof_node nodes[2] = {profnode(ring, c.outermost), profnode(empty, 0)};
        nodes[1].count = 0; // an inner node with nothing left to cut
        nodes[0].inner = c.inner ? 1 : -1;
        const float last[3] = {c.lastx, -1.0f, 0.0f};
        float out[3];
        int dir = 1, rampstart = 0;
        ASSERT_EQ(cam_outputnodes(out, &op, 0, &dir, &rampstart, last, -0.1f, c.firstlevel, 0, 1.0f, nullptr, nodes),
                  1);
        ASSERT_EQ(tp().num_paths, 1u);
        EXPECT_EQ((tp().paths[0].flags & PATH_LINK) != 0, c.link != 0);
        // Every cut starts at the vertex nearest the previous end.
        EXPECT_FLOAT_EQ(first(0)[0], -1.0f);
        EXPECT_FLOAT_EQ(first(0)[1], -1.0f);
        EXPECT_FLOAT_EQ(first(0)[2], -0.1f);
    }
}

TEST_F(NodeWalk, BelowTheTabTopOnlyTheOutermostOutlineIsCutWithTabs)
{
    auto ring = square(0, 0, 2, true), in = square(0, 0, 1, true);
    contour *tabcont = cont_new();
    ASSERT_NE(tabcont, nullptr);
    const cam_tabs tabs{1.0f, 0.5f, -0.3f, tabcont};
    for (float z : {-0.2f, -0.5f}) {
        SCOPED_TRACE(z);
        toolpath_free(op.toolpath);
        op.toolpath = claim();
        prof_node nodes[2] = {profnode(ring, 1), profnode(in, 0)};
        nodes[0].inner = 1;
        const float last[3] = {0, 0, 0};
        float out[3];
        int dir = 1, rampstart = 0;
        ASSERT_EQ(cam_outputnodes(out, &op, 0, &dir, &rampstart, last, z, 0, 0, 0.01f, &tabs, nodes), 1);
        int above = 0;
        for (uint32_t i = 0; i < tp().num_verts; i++)
            above += tp().verts[i * 3 + 2] > z + 0.001f;
        if (z > tabs.top) {
            EXPECT_EQ(tp().num_paths, 2u); // inner ring, then the outline, no tabs
            EXPECT_EQ(above, 0);
        } else {
            ASSERT_EQ(tp().num_paths, 1u);
            EXPECT_EQ(nodes[0].inner, -2);
            // Perimeter 16 in periods of 1 cut + 0.5 tab: ten tabs, each a
            // rise to the top and a drop back at the same point.
            int rises = 0, drops = 0;
            for (uint32_t i = 1; i < tp().num_verts; i++) {
                const float *a = tp().verts + (i - 1) * 3, *b = tp().verts + i * 3;
                if (a[0] == b[0] && a[1] == b[1] && b[2] > a[2] + 0.1f)
                    rises++;
                if (a[0] == b[0] && a[1] == b[1] && b[2] < a[2] - 0.1f)
                    drops++;
            }
            EXPECT_EQ(rises, 10);
            EXPECT_EQ(drops, 10);
            EXPECT_GE(above, 20);
            for (uint32_t i = 0; i < tp().num_verts; i++) {
                float zz = tp().verts[i * 3 + 2];
                EXPECT_TRUE(std::fabs(zz - z) < 1e-5f || std::fabs(zz - tabs.top) < 1e-5f) << zz;
            }
        }
    }
    cont_free(tabcont);
}

TEST_F(NodeWalk, PocketRingEntries)
{
    struct Case {
        const char *name;
        int entry;
        uint32_t flags;
        float flutediameter;
        float halfside;   // 0: a ring of one vertex
        float axisradius; // clearance at the ring's centre
        int hasinner;
        float startx; // the nearest ring vertex is (-h, -h)
        int ramps, helixes, link;
    } const cases[] = {
        {"one vertex: no entry", 2, 0x0, 0.25f, 0.0f, 1.0f, 0, -1.0f, 0, 0, 0},
        {"narrow innermost ring ramps", 2, 0x0, 0.25f, 1.0f, 0.05f, 0, -1.0f, 1, 0, 1},
        {"wide innermost ring takes a helix", 2, 0x0, 0.25f, 1.0f, 0.9f, 0, -1.0f, 0, 1, 1},
        {"failed helix falls back to a ramp", 2, 0x0, 0.001f, 1.0f, 0.9f, 0, -1.0f, 1, 0, 1},
        {"outer ring joins within the distance", 1, 0x4, 0.25f, 1.0f, 0.9f, 1, -1.05f, 0, 0, 1},
        {"outer ring too far ramps", 1, 0x4, 0.25f, 1.0f, 0.9f, 1, -3.0f, 1, 0, 1},
        {"plunge", 0, 0x0, 0.25f, 1.0f, 0.9f, 0, -1.0f, 0, 0, 0},
    };
    contour *axis = cont_new();
    ASSERT_NE(axis, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        toolpath_free(op.toolpath);
        op.toolpath = claim();
        settool(c.flutediameter);
        op.entry = c.entry;
        op.flags = c.flags;
        axis->numpolys = 0;
        axis->numverts = 0;
        const float centre[3] = {0, 0, c.axisradius};
        ASSERT_EQ(cont_addpoly(axis, centre, 1, 0, 0, "test"), 1);
        std::vector<float> ring = c.halfside > 0 ? square(0, 0, c.halfside, true, true)
                                                 : std::vector<float>{-1, -1, 0, -1, -1, 0};
        pocket_node nodes[2]{};
        nodes[0] = {-1, -1, -1, 1, 1, 4.0f, 0.0f, (int)ring.size() / 3, ring.data()};
        nodes[1] = {-1, -1, -1, 1, 1, 1.0f, 0.0f, 0, nullptr};
        if (c.hasinner) {
            nodes[0].inner = 1;
            nodes[0].leaf = 0;
        }
        const float start[3] = {c.startx, -1.0f, -0.1f};
        float out[3];
        int dir = 1;
        cam_helicalentrypos(out, &op, axis, &dir, 0, start, -0.2f, -0.1f, 0.01f, nodes, nullptr);
        EXPECT_EQ(countflag(ENGAGE_RAMP), c.ramps);
        EXPECT_EQ(countflag(ENGAGE_HELIX), c.helixes);
        if (c.halfside == 0) {
            EXPECT_EQ(tp().num_paths, 0u); // a single vertex is never a path
            continue;
        }
        ASSERT_GE(tp().num_paths, 1u);
        const toolpath_path &cut = tp().paths[tp().num_paths - 1];
        EXPECT_EQ((cut.flags & PATH_LINK) != 0, c.link != 0);
        EXPECT_EQ(cut.count, 5u);
    }
    cont_free(axis);
}

TEST_F(NodeWalk, StartCutTreeDepthFirstAndFreed)
{
    op.cont = cont_new();
    ASSERT_NE(op.cont, nullptr);
    auto block = [](std::initializer_list<float> v) {
        float *p = (float *)malloc(v.size() * sizeof(float));
        std::memcpy(p, v.begin(), v.size() * sizeof(float));
        return p;
    };
    startcut_node nodes[3]{};
    nodes[0] = {1, 2, 2, block({0, 0, 0, 1, 0, 0}), 0, 0, 0};
    nodes[1] = {-1, -1, 1, block({5, 5, 0}), 0, 0, 0}; // one vertex: contour only
    nodes[2] = {-1, -1, 2, block({2, 0, 0, 3, 0, 0}), 0, 0, 1};
    cam_addnodepaths(&op, nodes, 0);
    EXPECT_EQ(op.cont->numpolys, 3u);
    ASSERT_EQ(tp().num_paths, 2u);
    EXPECT_FLOAT_EQ(first(1)[0], 2.0f); // the child before the sibling
    EXPECT_TRUE(tp().paths[1].flags & PATH_LINK);
    for (const startcut_node &n : nodes)
        EXPECT_EQ(n.verts, nullptr);
}

TEST_F(NodeWalk, RootCutsSkipCutAndOversizedPerimeterNodes)
{
    auto big = square(0, 0, 10, true, true), done = square(0, 0, 5, true, true), keep = square(0, 0, 1, true, true);
    horiz_node nodes[3]{};
    auto init = [](horiz_node &n, std::vector<float> &v, int nextroot, int perimeter) {
        n = {nextroot, -1, -1, -1, -1, -1, 1, perimeter, cont_polyarea(v.data(), (uint32_t)v.size() / 3 - 1),
             -0.1f, (int)v.size() / 3, v.data(), 0};
    };
    init(nodes[0], big, 1, 1);
    init(nodes[1], done, 2, 0);
    init(nodes[2], keep, -1, 1);
    nodes[1].count = 0;
    op.flags = 0x40;
    const float last[3] = {0, 0, 0};
    float out[3];
    int dir = 1;
    cam_rootcuts(out, &op, &dir, 0, 0, last, 0, nodes, 0.01f, 0.1f, 50.0f, nullptr);
    ASSERT_EQ(tp().num_paths, 1u);
    EXPECT_FLOAT_EQ(std::fabs(first(0)[0]), 1.0f);
    EXPECT_TRUE(log.contains("skipping perimeter node[0]"));
    for (const horiz_node &n : nodes)
        EXPECT_EQ(n.count, 0);

    // Marks reach the children and fourth lists along the second-list chain.
    nodes[0].list2 = 1;
    nodes[1].child = 2;
    cam_marksubtree(7, nodes, 0);
    for (const horiz_node &n : nodes)
        EXPECT_EQ(n.mark, 7u);
}

TEST_F(NodeWalk, BinaryTreeWalksInOrder)
{
    bitree_node a{1, 0, nullptr, nullptr}, c{3, 0, nullptr, nullptr}, e{5, 0, nullptr, nullptr};
    bitree_node b{2, 0, &c, &a}, d{4, 0, &e, nullptr};
    c.right = &d;
    static std::vector<uint64_t> seen;
    seen.clear();
    bitree_walk(&b, [](uint64_t v) { seen.push_back(v); });
    EXPECT_EQ(seen, (std::vector<uint64_t>{1, 2, 3, 4, 5}));
}

namespace {

// A 0.7 x 0.4 rectangle traced from a 128 px image of a unit canvas, as the
// generators trace their outlines: a pocket ring (positive area, closed,
// first point repeated) whose medial axis runs through its middle with a
// clearance of 0.2 and down the diagonals to the corners.
struct traced_ring {
    std::vector<float> verts;
    contour *cont = nullptr;
    static constexpr float lo[2] = {0.15f, 0.3f}, hi[2] = {0.85f, 0.7f};
    traced_ring()
    {
        const int w = 128;
        image *img = img_allocfloat("ring", w, w);
        float *p = (float *)img->pixels;
        for (int j = 0; j < w; j++)
            for (int i = 0; i < w; i++) {
                const float x = (i + 0.5f) / w, y = 1.0f - (j + 0.5f) / w;
                p[j * w + i] = x > lo[0] && x < hi[0] && y > lo[1] && y < hi[1] ? 1.0f : 0.0f;
            }
        const float scale[3] = {1, -1, 1}, offset[3] = {0, 1, 0};
        contour *k = cont_fromimage(img, 0.5f, scale, offset, 2.0f, 0.0f, 1e9f, 0);
        img_free(img);
        if (k && k->numpolys == 1) {
            verts.assign(k->verts, k->verts + k->vertcount[0] * 3);
            if (verts[0] != verts[verts.size() - 3] || verts[1] != verts[verts.size() - 2])
                verts.insert(verts.end(), {verts[0], verts[1], verts[2]});
            for (size_t i = 2; i < verts.size(); i += 3)
                verts[i] = 0.0f; // the axis adds each clearance to the ring's Z
            if (cont_polyarea(verts.data(), (uint32_t)verts.size() / 3) < 0)
                for (size_t a = 0, b = verts.size() - 3; a < b; a += 3, b -= 3)
                    std::swap_ranges(verts.begin() + a, verts.begin() + a + 3, verts.begin() + b);
            cont = cont_new();
            cont_addpoly(cont, verts.data(), (uint32_t)verts.size() / 3, 1, 0, "test");
        }
        cont_free(k);
    }
    ~traced_ring() { cont_free(cont); }
    int count() const { return (int)verts.size() / 3; }
    // Distance from (x, y) to the nearest corner of the rectangle.
    static float corner(float x, float y)
    {
        float best = 1e9f;
        for (float cx : {lo[0], hi[0]})
            for (float cy : {lo[1], hi[1]})
                best = std::min(best, std::hypot(x - cx, y - cy));
        return best;
    }
};

} // namespace

// The helix of an offset pocket goes to the medial-axis point whose clearance
// is nearest 64 r less its distance to the ring (about 32 r) when that point
// is wider than the helix radius r; the horizontal offsets take the widest
// point, and only when it is wider than twice their helix radius. Either
// way the helix stays inside the ring.
TEST_F(NodeWalk, HelixChoiceOnATracedRing)
{
    traced_ring ring;
    ASSERT_NE(ring.cont, nullptr) << "the rectangle traced to one ring";
    contour *axis = con_medialaxis(ring.cont, 0.5f, 1.0f, 0.0f, 0.02f);
    ASSERT_NE(axis, nullptr);
    float widest = 0.0f;
    for (uint32_t k = 0; k < axis->numverts; k++)
        widest = std::max(widest, axis->verts[k * 3 + 2]);
    ASSERT_NEAR(widest, 0.2f, 0.01f) << "the axis reaches the middle of the rectangle";

    struct Case {
        const char *name;
        int horizontal; // 0: offset pocket ring, 1: horizontal-offset node
        float flutediameter;
        int helix;
        float clearance; // of the point chosen (0: none logged)
        int nearcorner;  // the cut starts within 0.12 of a corner (-1: a ramp's start, not chosen)
    } const cases[] = {
        {"pocket: every clearance far below 32 r takes the widest", 0, 0.25f, 1, 0.2f, 0},
        {"pocket: a clearance near 32 r beats the widest", 0, 0.01f, 1, 0.08f, 1},
        {"pocket: wider than r though not 2 r takes a helix", 0, 0.6f, 1, 0.2f, 0},
        {"pocket: no wider than r ramps", 0, 0.84f, 0, 0.0f, -1},
        {"horizontal: the widest point", 1, 0.25f, 1, 0.2f, 0},
        {"horizontal: the widest point however small the helix", 1, 0.01f, 1, 0.2f, 0},
        {"horizontal: wider than r but not 2 r ramps", 1, 0.4f, 0, 0.2f, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        toolpath_free(op.toolpath);
        op.toolpath = claim();
        settool(c.flutediameter);
        op.entry = 2;
        op.flags = 0;
        testlog_capture caught;
        std::vector<float> verts = ring.verts;
        const float start[3] = {0.5f, 0.5f, 0.0f};
        float out[3];
        int dir = 1;
        if (c.horizontal) {
            horiz_node n{-1, -1, -1, -1, -1, -1, 1, 0, cont_polyarea(verts.data(), ring.count() - 1),
                         -0.1f, ring.count(), verts.data(), 0};
            cam_helicalentry(out, &op, &dir, 0, start, 0, &n, 0.0001f, 0.01f);
        } else {
            pocket_node n{-1, -1, -1, 1, 1, cont_polyarea(verts.data(), ring.count() - 1), 0.0f, ring.count(),
                          verts.data()};
            cam_helicalentrypos(out, &op, axis, &dir, 0, start, -0.1f, -0.1f, 0.0001f, &n, nullptr);
        }
        EXPECT_EQ(countflag(ENGAGE_HELIX), c.helix);
        EXPECT_EQ(countflag(ENGAGE_RAMP), 1 - c.helix);
        if (c.clearance > 0.0f) {
            // The pocket line names the vertex first, the horizontal one x, y.
            const std::string key = c.horizontal ? "best maxis vert = " : "] (";
            std::string t = caught.text();
            size_t at = t.find(key);
            ASSERT_NE(at, std::string::npos) << t;
            at += key.size();
            if (c.horizontal)
                at = t.find(',', t.find(',', at) + 1) + 1;
            EXPECT_NEAR(std::strtof(t.c_str() + at, nullptr), c.clearance, 0.025f);
        }
        ASSERT_EQ(tp().num_paths, 2u);
        const float *s = first(1);
        if (c.nearcorner >= 0)
            EXPECT_EQ(ring.corner(s[0], s[1]) < 0.12f, c.nearcorner != 0) << s[0] << "," << s[1];
        if (c.helix) {
            const toolpath_path &h = tp().paths[0];
            for (uint32_t v = 0; v < h.count; v++) {
                const float *p = tp().verts + (h.first + v) * 3;
                EXPECT_TRUE(cont_contains(ring.verts.data(), ring.count(), p[0], p[1])) << p[0] << "," << p[1];
            }
        }
    }
    cont_free(axis);
}
