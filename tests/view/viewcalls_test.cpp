// The viewport's call seam: the real table is the default, and the test
// table's projection is the GL's (a point projected and brought back lands
// where it started, under either camera), with models recorded by slot.
#include "viewrecorder.h"

#include "view/viewcalls.h"

#include <gtest/gtest.h>

namespace {

TEST(ViewCalls, RealTableIsTheDefault)
{
    EXPECT_EQ(view_calls, &view_realcalls);
}

TEST(ViewCalls, RecorderProjectsAndUnprojectsAsTheGlWould)
{
    struct Case {
        const char *name;
        bool perspective;
    };
    const Case cases[] = {{"ortho", false}, {"perspective", true}};
    for (const Case &c : cases) {
        vrec.reset();
        if (c.perspective)
            vrec_perspective(vrec.projection, 1.5, 0.5, 3.0, 2.0, 20.0);
        else
            vrec_ortho(vrec.projection, 1.5, 4.0, 3.0, 2.0);
        vrec_translate(1.0f, 2.0f, 0.0f);
        vrec_rotate(30.0f, 0.0f, 0.0f, -1.0f);
        vrec_scale(2.0f, 3.0f, 1.0f);
        const float in[3] = {0.25f, -0.5f, 0.5f};
        float screen[3], back[3];
        vrec_project(screen, in);
        vrec_unproject(back, screen);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(back[i], in[i], 1e-4) << c.name << " axis " << i;
        // The centre of the camera's view lands in the middle of the screen.
        vrec_identity(vrec.top());
        const float centre[3] = {3.0f, 2.0f, 0.0f};
        vrec_project(screen, centre);
        EXPECT_NEAR(screen[0], 0.0f, 1e-6) << c.name;
        EXPECT_NEAR(screen[1], 0.0f, 1e-6) << c.name;
    }
}

TEST(ViewCalls, RecorderKeepsModelContentsAndStateByDraw)
{
    vrec.reset();
    const view_vertex v[2] = {{0, 0, 0, 255, 0, 0, 255, 0, 0}, {1, 1, 0, 0, 255, 0, 255, 1, 1}};
    int slot = vrec_modelnew();
    vrec_primitive(1, v, 2);
    vrec_modelend();
    vrec_linewidth(3.0f);
    vrec_enable(vcap_blend, 1);
    vrec_primitive(2, v, 2);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(vrec.models[slot].prims.size(), 1u);
    EXPECT_EQ(vrec.models[slot].prims[0].kind, 1);
    ASSERT_EQ(vrec.primitives.size(), 1u);
    EXPECT_EQ(vrec.primitives[0].state.linewidth, 3.0f);
    EXPECT_EQ(vrec.primitives[0].state.caps[vcap_blend], 1);
    EXPECT_EQ(vrec_uniformfloat("progress", 1, &v[0].x), 0) << "no program bound";
    vrec_bindshader(4);
    EXPECT_EQ(vrec_uniformfloat("progress", 1, &v[0].x), 1);
    EXPECT_EQ(vrec.uniforms["progress"][0], 0.0f);
}

} // namespace
