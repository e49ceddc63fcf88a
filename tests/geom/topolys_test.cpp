// Curves of a paths-layer as polylines: the slot checks, a turned layer
// converted with and without its rotation (the layer itself never written),
// open curves kept or skipped, and a path past the contour's polyline limit
// refused instead of overrunning it.
#include "geom/topolys.h"

#include "geom/contour.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "project/layer.h"
#include "project/project.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
struct cont_deleter {
    void operator()(contour *c) const { cont_free(c); }
};
using cont_ptr = std::unique_ptr<contour, cont_deleter>;

class PathToPolys : public testing::Test {
protected:
    void SetUp() override
    {
        project.size[0] = project.size[1] = 10;
        project.size[2] = 1;
        project.scale = 1;
        p_selcurves.count = -1;
    }
    void TearDown() override
    {
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
    }
    // A 4 x 2 paths-layer at (5, 5) turned by rotation, with a closed square
    // (local +-0.25) and an open line.
    int layer(float rotation)
    {
        int slot = project_layeralloc(layer_paths);
        project_layer &l = project.layers[slot];
        l.pos[0] = l.pos[1] = 5;
        l.size[0] = 4, l.size[1] = 2, l.size[2] = 1;
        l.rotation = rotation;
        l.data.pth = path_new();
        const float sq[5][2] = {{-0.25f, -0.25f}, {0.25f, -0.25f}, {0.25f, 0.25f}, {-0.25f, 0.25f}, {-0.25f, -0.25f}};
        int c = path_newcurve(l.data.pth);
        for (const auto &q : sq) {
            const float p[3] = {q[0], q[1], 0};
            path_prependknot(l.data.pth, c, p);
        }
        l.data.pth->curves[c].closed = 1;
        c = path_newcurve(l.data.pth);
        for (float x : {-0.5f, 0.5f}) {
            const float p[3] = {x, 0.4f, 0};
            path_prependknot(l.data.pth, c, p);
        }
        return slot;
    }
};

float pp_maxx(const contour *c, uint32_t count)
{
    float m = -1e9f;
    for (uint32_t i = 0; i < count; i++)
        m = std::max(m, c->verts[3 * i]);
    return m;
}
} // namespace

TEST_F(PathToPolys, SlotsThatAreNoPathsLayerGiveNothing)
{
    int raster = project_layeralloc(layer_raster);
    for (int slot : {-1, raster, project_maxlayers}) {
        cont_ptr c(path_topolys(slot, 0.025f, 0, 0, 1));
        ASSERT_NE(c, nullptr) << slot;
        EXPECT_EQ(c->numpolys, 0u) << slot;
    }
}

// The square is 2 x 1 on the canvas; a quarter turn makes it 1 x 2;
// without the rotation applied it keeps them, and the layer keeps its turn.
TEST_F(PathToPolys, RotationAppliedOrNot)
{
    struct Case {
        int apply, closedonly;
        uint32_t polys;
        float maxx;
    };
    const Case cases[] = {{1, 1, 1, 5.5f}, {0, 1, 1, 6.0f}, {1, 0, 2, 5.5f}};
    int slot = layer(90);
    for (const Case &k : cases) {
        cont_ptr c(path_topolys(slot, 0.025f, k.closedonly, 0, k.apply));
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->numpolys, k.polys);
        EXPECT_TRUE(c->closed[0]);
        EXPECT_NEAR(pp_maxx(c.get(), c->vertcount[0]), k.maxx, 1e-4f) << k.apply;
        EXPECT_EQ(project.layers[slot].rotation, 90.0f);
    }
}

// More closed curves than a contour holds polylines: refused whole.
TEST_F(PathToPolys, PastThePolylineLimitIsRefused)
{
    int slot = layer(0);
    path *p = project.layers[slot].data.pth;
    for (int i = 0; i < cont_maxpolys; i++) {
        int c = path_newcurve(p);
        const float x = -0.45f + 0.9f * (i % 256) / 256, y = -0.45f + 0.9f * (i / 256) / 256;
        const float tri[4][3] = {{x, y, 0}, {x + 0.003f, y, 0}, {x, y + 0.003f, 0}, {x, y, 0}};
        for (const auto &q : tri)
            path_prependknot(p, c, q);
        p->curves[c].closed = 1;
    }
    testlog_capture log;
    EXPECT_EQ(path_topolys(slot, 0.5f, 1, 0, 1), nullptr);
    EXPECT_TRUE(log.contains("path_topolys: layer[")) << "refusal not logged";
}
