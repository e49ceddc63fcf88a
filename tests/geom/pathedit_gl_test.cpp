// Drawing paths on a real context: the vertices each curve emits, counted by
// the renderer, and the per-curve limit that ends a strip whose step is too
// small to finish.
#include "geom/path.h"
#include "geom/pathedit.h"
#include "render/draw.h"
#include "render/glcontext.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class PathDraw : public GlTest {
protected:
    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        r_vertsdrawn = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(r_primitive, -1);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
};

const float white[4] = {1, 1, 1, 1};
const float red[4] = {1, 0, 0, 1};

// A straight curve of the given knots along x, handles on the knots.
path *straight(int knots, float length)
{
    path *p = path_new();
    int c = path_newcurve(p);
    for (int i = 0; i < knots; i++) {
        float v[3] = {length * (float)i / (float)(knots - 1), 0, 0};
        path_prependknot(p, c, v);
    }
    return p;
}

} // namespace

TEST_F(PathDraw, SegmentsEmitTheirSteps)
{
    // One segment of length 1 (L = 1): step = factor; points at step,
    // 2 step, ... below 1, plus both ends.
    struct Case {
        float factor;
        uint32_t verts;
    };
    const Case cases[] = {{0.25f, 5}, {0.1f, 11}, {2.0f, 2}};
    for (const Case &cs : cases) {
        path *p = straight(2, 1.0f);
        r_vertsdrawn = 0;
        EXPECT_EQ(path_draw(p, cs.factor, white, red), 1);
        EXPECT_EQ(r_vertsdrawn, cs.verts) << cs.factor;
        path_free(p);
    }
}

TEST_F(PathDraw, SelectedAndUnselectedCurvesAreAllDrawn)
{
    path *p = straight(3, 1.0f);
    float v[3] = {0, 1, 0};
    int c = path_newcurve(p);
    path_prependknot(p, c, v);
    v[0] = 1;
    path_prependknot(p, c, v);
    p->csel[c >> 3] |= (uint8_t)(1 << (c & 7));
    EXPECT_EQ(path_draw(p, 4.0f, white, red), 1);
    // Two segments of the first curve and one of the second, ends only.
    EXPECT_EQ(r_vertsdrawn, 6u);
    path_free(p);
}

TEST_F(PathDraw, VertexLimitEndsTheStrip)
{
    struct Case {
        const char *what;
        int knots;
        float factor;
        int result; // 0: stopped inside a segment, 1: between segments
    };
    const Case cases[] = {
        // A step that never reaches 1 in one segment.
        {"zero step", 2, 0.0f, 0},
        {"tiny step", 2, 1e-9f, 0},
        // 600,000 segments of two vertices each pass the limit between
        // segments.
        {"many segments", 600001, 1e6f, 1},
    };
    for (const Case &cs : cases) {
        path *p = straight(cs.knots, 1.0f);
        r_vertsdrawn = 0;
        EXPECT_EQ(path_drawcurves(p, p->ctail, cs.factor, white), cs.result) << cs.what;
        EXPECT_GE(r_vertsdrawn, (uint32_t)path_maxdrawverts) << cs.what;
        EXPECT_LE(r_vertsdrawn, (uint32_t)path_maxdrawverts + 3) << cs.what;
        EXPECT_EQ(r_primitive, -1) << cs.what;
        // path_draw passes the curve's answer on.
        EXPECT_EQ(path_draw(p, cs.factor, white, red), cs.result) << cs.what;
        path_free(p);
    }
}
