// The axes and the grid on the real renderer: the X axis drawn under the
// frame loop's own projection reaches the same screen distance from the
// origin at camera distances 5 and 50, and the grid and tool models hold
// the vertices their shapes call for, a project without units switched to
// inches on the way.
#include "render/glcontext.h"

#include "cam/simmodels.h"
#include "cam/tool.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/texture.h"
#include "sys/config.h"
#include "testlog.h"
#include "view/axes.h"
#include "view/camera.h"
#include "view/gizmo.h"
#include "view/readout.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int shotw = 640, shoth = 480;

class AxesGridGl : public GlTest {
protected:
    gltest_target target;

    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        ASSERT_EQ(target.make(shotw, shoth, 4, 0, true), 1);
        target.bindasrenderer(shotw, shoth);
        memcpy(cfg, cfg_defaults, cfg_size);
        sys_drawable[0] = shotw;
        sys_drawable[1] = shoth;
        view_calls = &view_realcalls;
        view_direct = 1; // the test's target stays bound
        project.scale = 1.0f;
        project.units = 1;
        memset(view_setup.origin, 0, sizeof(view_setup.origin));
        gizmo_canvasstate = 2; // only the axes, none of the gizmo's red
        view_axesfree();
    }
    void TearDown() override
    {
        view_axesfree();
        r_modelfree(sim_gridmodel);
        sim_gridmodel = -1;
        target.free();
        r_quitdraw();
    }

    struct reach {
        float drawn;  // farthest bright red pixel from the origin, pixels
        float anchor; // X label anchor from the origin, pixels
    };
    // The axes at camera distance d, measured on screen.
    static reach axesat(float d, int perspective)
    {
        cfg_seti(cfg_perspective, perspective);
        view_camera = {{55.0f, 0.0f, 30.0f}, d, {0.0f, 0.0f, 0.0f}};
        view_setprojection();
        float fov = cfg_getf(cfg_fov) * (float)(M_PI / 180.0);
        view_setup.viewscale = perspective ? d * std::tan(fov * 0.5f) : d;
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        view_axes();
        const float zero[3] = {0.0f, 0.0f, 0.0f};
        float o[3];
        r_project(o, zero);
        float ox = (o[0] * 0.5f + 0.5f) * shotw, oy = (o[1] * 0.5f + 0.5f) * shoth; // rows bottom up
        std::vector<uint8_t> px(shotw * shoth * 4);
        glReadPixels(0, 0, shotw, shoth, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        reach r = {0.0f, 0.0f};
        for (int y = 0; y < shoth; y++)
            for (int x = 0; x < shotw; x++) {
                const uint8_t *p = &px[(y * shotw + x) * 4];
                if (p[0] > 100 && p[1] < 40 && p[2] < 40)
                    r.drawn = std::max(r.drawn, std::hypot(x + 0.5f - ox, y + 0.5f - oy));
            }
        float ax = view_axisends[0].x * shotw, ay = (1.0f - view_axisends[0].y) * shoth;
        r.anchor = std::hypot(ax - ox, ay - oy);
        return r;
    }
};

TEST_F(AxesGridGl, XTipKeepsItsScreenDistanceWhileZooming)
{
    for (int perspective : {1, 0}) {
        reach near = axesat(5.0f, perspective), far = axesat(50.0f, perspective);
        EXPECT_GT(near.drawn, 12.0f) << "perspective " << perspective << ": the X axis is drawn";
        EXPECT_NEAR(near.drawn, far.drawn, 1.0f) << "perspective " << perspective;
        EXPECT_NEAR(near.anchor, far.anchor, 1.0f) << "perspective " << perspective;
        EXPECT_GT(near.anchor, near.drawn) << "the label sits past the faded tip";
    }
}

TEST_F(AxesGridGl, GridTileOfAProjectWithoutUnitsIsAnInchTile)
{
    project.units = 0;
    cfg_setf(cfg_gridsubdiv, 1e-9f);
    testlog_capture log;
    regengridmodel();
    EXPECT_NE(log.text().find("defaulting project units to inches (was 0)"), std::string::npos) << log.text();
    EXPECT_EQ(project.units, 1u);
    EXPECT_EQ(cfg_getf(cfg_gridsubdiv), 0.25f);
    ASSERT_GE(sim_gridmodel, 0);
    EXPECT_EQ(r_models[sim_gridmodel].numverts, 5u * 4u) << "5 lines each way on a 1-unit tile";

    cfg_setf(cfg_gridsubdiv, -1.0f);
    regengridmodel();
    EXPECT_EQ(r_models[sim_gridmodel].numverts, 49u * 4u) << "a 12-inch tile in quarters";
    EXPECT_EQ(cfg_getf(cfg_gridsubdiv), 0.25f) << "the step in use is kept";
}

TEST_F(AxesGridGl, ToolModelHoldsItsStripsAndRing)
{
    tool t = {};
    t.type = tool_cylinder;
    t.units = 1;
    t.flutediameter = 0.25f;
    t.flutelength = 1.0f;
    t.length = 1.5f;
    const float green[4] = {0.2f, 0.9f, 0.2f, 1.0f};
    int slot = sim_gentoolmodel(t, green);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(r_models[slot].numcalls, 25u) << "24 strips and the ring";
    EXPECT_EQ(r_models[slot].numverts, 24u * 7u + 24u);
    r_modelfree(slot);
}

} // namespace
