// The axes pass: both models rebuilt after a units change in the first
// frame without canvas or layer work, the axes drawn into the view buffer at
// the project's origin with a size that follows the camera distance, the
// anchors of the labels, and the gizmo absent at mode 2.
#include "viewfixture.h"

#include "project/canvas.h"
#include "testlog.h"
#include "view/axes.h"
#include "view/gizmo.h"
#include "view/readout.h"

#include <cmath>

namespace {

class AxesPass : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        memset(view_setup.origin, 0, sizeof(view_setup.origin));
        gizmo_canvasstate = 2;
        project_canvasjob.updating = 0;
        view_axesfree(); // slots of an earlier test's recorder
        pass(10.0f);
    }
    void TearDown() override
    {
        project_canvasjob.updating = 0;
        layer_genkind = 0;
        gizmo_canvasstate = 0;
        memset(gizmo_canvasoffset, 0, sizeof(gizmo_canvasoffset));
        ViewProject::TearDown();
    }
    // One pass at camera distance d, orthographic and looking down.
    static void pass(float d)
    {
        orthocamera(d, 0.0, 0.0);
        view_camera.distance = d;
        view_setup.viewscale = d;
        vrec.clear();
        view_axes();
    }
};

TEST_F(AxesPass, UnitsChangeRebuildsBothModelsOnceNoCanvasWorkIsBusy)
{
    int axes = view_axesmodel(), gizmo = view_axesgizmomodel();
    ASSERT_GE(axes, 0);
    ASSERT_GE(gizmo, 0);
    project.scale = 1.0f / 25.4f;
    struct Case {
        const char *what;
        int canvas, layers;
        bool rebuilt;
    };
    const Case cases[] = {
        {"canvas being composed", 1, 0, false},
        {"layer being generated", 0, 1, false},
        {"nothing busy", 0, 0, true},
    };
    for (const Case &c : cases) {
        project_canvasjob.updating = c.canvas;
        layer_genkind = c.layers;
        layer_gendone = 0;
        testlog_capture log;
        pass(10.0f);
        EXPECT_EQ(log.text().find("regenaxes: scale=1.000000") != std::string::npos, c.rebuilt) << c.what;
        EXPECT_EQ(vrec.models[view_axesmodel()].ended, true) << c.what;
    }
    EXPECT_FALSE(vrec.models[axes].used) << "the old axes model freed";
    EXPECT_FALSE(vrec.models[gizmo].used) << "the old gizmo model freed";
    const vrec_model &m = vrec.models[view_axesmodel()];
    ASSERT_EQ(m.prims.size(), 1u);
    EXPECT_EQ(m.prims[0].kind, r_lines);
    EXPECT_EQ(m.prims[0].verts[1].a, 0) << "each axis fades out to its tip";
    EXPECT_EQ(vrec.models[view_axesgizmomodel()].prims.size(), 5u);
    testlog_capture log;
    pass(10.0f);
    EXPECT_EQ(log.text().find("regenaxes"), std::string::npos) << "no change, no rebuild";
}

// On screen the axes keep their length at any zoom; they stand at the
// project's origin, in the view buffer.
TEST_F(AxesPass, ConstantSizeAtTheOriginInTheViewBuffer)
{
    view_setup.origin[0] = -2.0f; // the origin 2 units into the canvas
    float lengths[2];
    int k = 0;
    for (float d : {5.0f, 50.0f}) {
        pass(d);
        ASSERT_EQ(vrec.modeldrawrecs.size(), 1u);
        const vrec_drawnmodel &draw = vrec.modeldrawrecs[0];
        EXPECT_EQ(draw.slot, view_axesmodel());
        EXPECT_EQ(draw.state.viewbound, 1);
        EXPECT_EQ(draw.state.caps[vcap_depthtest], 0);
        EXPECT_EQ(draw.state.caps[vcap_fog], 0);
        EXPECT_EQ(draw.state.linewidth, 2.5f);
        EXPECT_NEAR(draw.modelview[0], 0.15 * d, 1e-5);
        EXPECT_NEAR(draw.modelview[12], 2.0, 1e-6);
        // Window fractions: 1000 x 500 pixels, the camera's half height d.
        lengths[k++] = (view_axisends[0].x - view_axisorigin.x) * 1000.0f;
        EXPECT_NEAR(view_axisends[1].y, view_axisorigin.y - 0.5f * 0.15f * 1.08f, 1e-5f) << "Y points up the window";
    }
    EXPECT_NEAR(lengths[0], lengths[1], 0.01f);
    EXPECT_NEAR(lengths[0], 1000.0f * 0.5f * 0.15f * 1.08f / 2.0f, 0.01f);
    EXPECT_EQ(vrec.state.viewbound, 0);
}

TEST_F(AxesPass, GizmoAbsentAtModeTwo)
{
    gizmo_canvasoffset[0] = 1.5f;
    gizmo_canvasoffset[1] = -0.5f;
    struct Case {
        int32_t mode;
        bool drawn;
    };
    for (const Case &c : {Case{2, false}, Case{0, true}, Case{1, true}}) {
        gizmo_canvasstate = c.mode;
        pass(10.0f);
        bool found = false;
        for (const vrec_drawnmodel &d : vrec.modeldrawrecs)
            if (d.slot == view_axesgizmomodel()) {
                found = true;
                EXPECT_NEAR(d.modelview[12], -1.5, 1e-6);
                EXPECT_NEAR(d.modelview[13], 0.5, 1e-6);
                EXPECT_EQ(d.state.viewbound, 1);
            }
        EXPECT_EQ(found, c.drawn) << "mode " << c.mode;
    }
}

} // namespace
