// Drilling judged from the drawn canvas: which outlines become holes (area,
// roundness and the enclosing circle's diameter against the bit), where
// their centres lie, the pecks each hole is drilled in, the nearest-next
// order, the hole table's limit and the runs that end without a toolpath.
#include "cam/drillholes.h"
#include "geom/path.h"
#include "gentest.h"
#include "project/layer.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A drawn shape centred at (x, y) in world units: a disk of radius r whose
// edge may wave inward by up to 2 wave r over lobes lobes, or (square set)
// an axis-aligned square of side 2 r.
struct shape {
    float x, y, r;
    bool square = false;
    float wave = 0.0f;
    int lobes = 0;
};

// A canvas of w x h pixels of side p whose top lies at z = 0 and bottom at
// z = -1: material at full height, the shapes cut to the bottom, with
// anti-aliased edges.
void drawcanvas(int w, int h, float p, const std::vector<shape> &shapes)
{
    std::vector<float> field((size_t)w * h, 1.0f);
    for (const shape &s : shapes) {
        // Only the pixels near the shape can change.
        const int i0 = std::max(0, (int)((s.x - s.r) / p) - 2), i1 = std::min(w, (int)((s.x + s.r) / p) + 3);
        const int j0 = std::max(0, (int)(h - (s.y + s.r) / p) - 2), j1 = std::min(h, (int)(h - (s.y - s.r) / p) + 3);
        for (int j = j0; j < j1; j++)
            for (int i = i0; i < i1; i++) {
                const float dx = (i + 0.5f) * p - s.x, dy = (h - j - 0.5f) * p - s.y;
                const float edge = s.r * (1 - s.wave + s.wave * std::cos(s.lobes * std::atan2(dy, dx)));
                const float d = s.square ? std::fmax(std::fabs(dx), std::fabs(dy)) - s.r : std::hypot(dx, dy) - edge;
                float &f = field[(size_t)j * w + i];
                f = std::fmin(f, std::clamp(d / p + 0.5f, 0.0f, 1.0f));
            }
    }
    const float size[3] = {w * p, h * p, 1.0f}, frac[3] = {0, 0, 1};
    image *img = img_allocfloat("drillcanvas", w, h);
    ASSERT_NE(img, nullptr);
    memcpy(img->pixels, field.data(), field.size() * sizeof(float));
    img_setrefimage(img, size, frac, 1.0f, 0, sys_seconds());
    img_free(img);
}

struct peck {
    float x, y, from, to;
    bool linked;
};

// The slot's cut paths in order, each checked to be a vertical 2-point move.
std::vector<peck> pecksof(int slot)
{
    std::vector<peck> out;
    const toolpath &tp = toolpaths[slot];
    for (uint32_t i = 0; i < tp.num_paths; i++) {
        const toolpath_path &p = tp.paths[i];
        EXPECT_EQ(p.count, 2u) << "path " << i;
        if (p.count != 2)
            continue;
        const float *v = tp.verts + 3 * (size_t)p.first;
        EXPECT_EQ(v[0], v[3]) << "path " << i << " is not vertical";
        EXPECT_EQ(v[1], v[4]) << "path " << i << " is not vertical";
        out.push_back({v[0], v[1], v[2], v[5], (p.flags & PATH_LINK) != 0});
    }
    return out;
}

} // namespace

class DrillHoles : public GenTest {
protected:
    void SetUp() override
    {
        GenTest::SetUp();
        drillop();
    }
    void drillop()
    {
        resetop();
        op.type = 16;
        op.aux[0] = 0.5f; // the threshold: half way down the canvas
        op.aux[1] = 0.05f;
        op.z_max = 0.35f, op.z_doc = 0.1f, op.stock = 0.02f;
    }
    void tool(float diameter) { cam_settool(1, "drill", tool_cylinder, 1, 2, diameter, 1.0f, 0.0f, 1.5f, 20.0f); }
};

// Circles of D, 1.05 D, 1.2 D and 2 D and a square of the bit's area, with
// the bit D = 200 pixels across: only the first two are holes.
TEST_F(DrillHoles, DrillsOnlyTheOutlinesTheBitFits)
{
    const float p = 0.0025f, D = 0.5f;
    tool(D);
    const std::vector<shape> drawn = {{0.35f, 1.55f, 0.5f * D},        {0.95f, 1.55f, 0.525f * D},
                                      {1.6f, 1.5f, 0.6f * D},          {0.6f, 0.6f, D},
                                      {1.55f, 0.55f, 0.5f * D * std::sqrt((float)M_PI) / 2, true}};
    drawcanvas(800, 740, p, drawn);
    ASSERT_TRUE(rungenerator());
    ASSERT_EQ(drill_numholes, 2);
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE("drawn circle " + std::to_string(k));
        int found = -1;
        for (int i = 0; i < drill_numholes; i++)
            if (std::hypot(drill_holes[i].x - drawn[k].x, drill_holes[i].y - drawn[k].y) < p)
                found = i;
        ASSERT_GE(found, 0) << "no hole within a pixel of the drawn centre";
        EXPECT_NEAR(drill_holes[found].r, drawn[k].r, p);
    }
    ASSERT_GE(op.toolpath, 0);
    const std::vector<peck> pecks = pecksof(op.toolpath);
    const float bottoms[] = {-0.1f, -0.2f, -0.3f, -0.35f};
    ASSERT_EQ(pecks.size(), 8u);
    for (size_t i = 0; i < pecks.size(); i++) {
        const int k = (int)(i % 4);
        EXPECT_NEAR(pecks[i].to, bottoms[k], 1e-5) << "peck " << i;
        EXPECT_NEAR(pecks[i].from, k == 0 ? 0.0f : bottoms[k - 1] + op.stock, 1e-5) << "peck " << i;
        EXPECT_EQ(pecks[i].linked, k > 0) << "peck " << i;
    }
    EXPECT_TRUE(notices().empty());
}

TEST_F(DrillHoles, EdgeCases)
{
    const float p = 1.0f / 64, D = 0.5f, r = D / 2;
    struct Case {
        const char *what;
        std::vector<shape> drawn;
        float aux1, doc;
        uint32_t flags;
        int holes;
        std::vector<float> from, to; // the first hole's pecks
        std::vector<bool> linked;
    };
    const Case cases[] = {
        // 85 % of the bit's area and its enclosing circle, but far from round.
        {"a wavy outline that fits the bit is no hole", {{1, 1, 2 * r, false, 0.08f, 10}}, 0.05f, 0.1f, 0, 0, {}, {},
         {}},
        {"aux[1] = 0 keeps the circle within 0.5 % only", {{0.5f, 1, r}, {1.4f, 1, 1.02f * r}}, 0.0f, 0.1f, 0, 1,
         {0.0f, -0.08f, -0.18f, -0.28f}, {-0.1f, -0.2f, -0.3f, -0.35f}, {false, true, true, true}},
        {"a depth of cut beyond the depth is one plunge", {{1, 1, r}}, 0.05f, 1.0f, 0, 1, {0.0f}, {-0.35f}, {false}},
        {"full retract: every peck from the previous bottom, unlinked", {{1, 1, r}}, 0.05f, 0.15f, 0x4, 1,
         {0.0f, -0.15f, -0.3f}, {-0.15f, -0.3f, -0.35f}, {false, false, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        tool(c.holes ? D : 2 * D);
        drawcanvas(128, 128, p, c.drawn);
        drillop();
        op.aux[1] = c.aux1, op.z_doc = c.doc, op.flags = c.flags;
        ASSERT_TRUE(rungenerator());
        EXPECT_EQ(op.generating, 0u);
        EXPECT_EQ(op.progress, 1.0f);
        EXPECT_TRUE(notices().empty()) << "no match is no failure";
        ASSERT_EQ(drill_numholes, c.holes);
        if (c.holes == 0) {
            EXPECT_EQ(op.toolpath, -1) << "no hole, no toolpath";
            continue;
        }
        ASSERT_GE(op.toolpath, 0);
        const std::vector<peck> pecks = pecksof(op.toolpath);
        ASSERT_EQ(pecks.size(), c.to.size());
        for (size_t i = 0; i < pecks.size(); i++) {
            EXPECT_NEAR(pecks[i].from, c.from[i], 1e-5) << "peck " << i;
            EXPECT_NEAR(pecks[i].to, c.to[i], 1e-5) << "peck " << i;
            EXPECT_EQ(pecks[i].linked, c.linked[i]) << "peck " << i;
        }
        toolpath_free(op.toolpath);
    }
}

// Flag 0x2: nearest first from (0, 0), then nearest to the hole before.
TEST_F(DrillHoles, NearestNextFromTheOrigin)
{
    const float p = 1.0f / 64, D = 0.25f;
    tool(D);
    const std::vector<shape> drawn = {{1.7f, 1.7f, D / 2}, {0.3f, 1.7f, D / 2}, {1.0f, 0.3f, D / 2},
                                      {0.3f, 0.3f, D / 2}, {1.7f, 0.3f, D / 2}};
    drawcanvas(128, 128, p, drawn);
    op.flags = 0x2, op.z_doc = 1.0f;
    ASSERT_TRUE(rungenerator());
    ASSERT_EQ(drill_numholes, 5);
    const int order[] = {3, 2, 4, 0, 1};
    const std::vector<peck> pecks = pecksof(op.toolpath);
    ASSERT_EQ(pecks.size(), 5u);
    for (int k = 0; k < 5; k++) {
        EXPECT_NEAR(pecks[k].x, drawn[order[k]].x, p) << "hole " << k;
        EXPECT_NEAR(pecks[k].y, drawn[order[k]].y, p) << "hole " << k;
    }
}

// The hole table holds 1,024 holes: the rest are logged and not drilled.
TEST_F(DrillHoles, HolesBeyondTheTableAreLoggedAndSkipped)
{
    const float p = 0.01f, D = 0.08f;
    tool(D);
    std::vector<shape> drawn;
    for (int j = 0; j < 33; j++)
        for (int i = 0; i < 34; i++)
            drawn.push_back({(i + 0.5f) * 0.12f, (j + 0.5f) * 0.12f, D / 2});
    ASSERT_EQ(drawn.size(), 1122u);
    drawcanvas(408, 396, p, drawn);
    op.aux[1] = 0.2f, op.z_doc = 1.0f;
    ASSERT_TRUE(rungenerator());
    EXPECT_EQ(drill_numholes, drill_maxholes);
    ASSERT_GE(op.toolpath, 0);
    EXPECT_EQ(toolpaths[op.toolpath].num_paths, (uint32_t)drill_maxholes);
    EXPECT_EQ(quiet.count("hole table full"), (int)drawn.size() - drill_maxholes);
    EXPECT_TRUE(notices().empty());
}

// A depth of cut of 0 would peck forever: the frame refuses it.
TEST_F(DrillHoles, NoDepthOfCutIsRefused)
{
    tool(0.5f);
    drawcanvas(128, 128, 1.0f / 64, {{1, 1, 0.25f}});
    for (float doc : {0.0f, -0.1f}) {
        op.z_doc = doc;
        ASSERT_TRUE(rungenerator(nullptr, 20.0));
        EXPECT_EQ(op.toolpath, -1);
        const auto n = notices();
        ASSERT_EQ(n.size(), 1u);
        EXPECT_EQ(n[0], "Operation Toolpath Failure");
    }
}

// A paths-layer's circles are holes whichever way round they were drawn.
TEST_F(DrillHoles, PathsCirclesEitherWayRound)
{
    const float D = 0.5f;
    tool(D);
    drawcanvas(128, 128, 1.0f / 64, {});
    project.size[0] = project.size[1] = 2, project.size[2] = 1;
    project.scale = 1.0f;
    const int slot = project_layeralloc(layer_paths);
    ASSERT_GE(slot, 0);
    project_layer &l = project.layers[slot];
    l.pos[0] = l.pos[1] = 1;
    l.size[0] = l.size[1] = 2, l.size[2] = 1;
    l.data.pth = path_new();
    // Four cubic quarters of radius 0.125 (layer units: a quarter of the
    // bit's diameter across the 2-inch layer), one circle each way round.
    const float k = 0.5523f * 0.125f, rr = 0.125f;
    for (int way : {1, -1}) {
        const float cx = way > 0 ? -0.25f : 0.25f;
        const int c = path_newcurve(l.data.pth);
        for (int q = 0; q <= 4; q++) {
            const float a = way * q * (float)M_PI / 2, ux = std::cos(a), uy = std::sin(a);
            const float p[3] = {cx + rr * ux, rr * uy, 0};
            const int kn = path_prependknot(l.data.pth, c, p);
            const float tx = -uy * way, ty = ux * way; // direction of travel
            l.data.pth->knots[kn].h1[0] = p[0] - k * tx, l.data.pth->knots[kn].h1[1] = p[1] - k * ty;
            l.data.pth->knots[kn].h2[0] = p[0] + k * tx, l.data.pth->knots[kn].h2[1] = p[1] + k * ty;
        }
        l.data.pth->curves[c].closed = 1;
    }
    const uint32_t uid = l.uid;
    op.flags = 0x200, op.z_doc = 1.0f;
    std::memcpy(&op.aux[2], &uid, sizeof(uid));
    ASSERT_TRUE(rungenerator());
    project_layerfree(slot);
    ASSERT_EQ(drill_numholes, 2);
    for (int i = 0; i < 2; i++) {
        EXPECT_NEAR(std::fabs(drill_holes[i].x - 1), 0.5f, 1e-3) << "hole " << i;
        EXPECT_NEAR(drill_holes[i].y, 1.0f, 1e-3) << "hole " << i;
        EXPECT_NEAR(drill_holes[i].r, D / 2, 2e-3) << "hole " << i;
    }
    EXPECT_NE(drill_holes[0].x, drill_holes[1].x);
}
