// Framing the canvas: the distance that shows it whole in either
// projection, the angles each mode leaves, the top view's rows, a drawable
// without width, and the new or loaded project's call through the project's
// hook with and without the keep-view setting.
#include "viewfixture.h"

#include "view/framing.h"

namespace {

class Framing : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        const float size[3] = {12.0f, 8.0f, 0.75f};
        memcpy(project.size, size, sizeof(size));
        project.scale = 1.0f;
        sys_drawable[0] = 1536;
        view_camera = {{10.0f, 20.0f, 30.0f}, 3.0f, {0.0f, 0.0f, 0.0f}};
    }
    void TearDown() override
    {
        project_viewreset = nullptr;
        ViewProject::TearDown();
    }
};

TEST_F(Framing, DistanceAndCentreFrameTheCanvas)
{
    struct Case {
        const char *name;
        int perspective;
        float fov, scale;
        float distance;
    };
    const Case cases[] = {
        {"orthographic", 0, 60.0f, 1.0f, 8.0f},
        {"perspective 60 degrees", 1, 60.0f, 1.0f, 8.0f / std::tan((float)M_PI / 6.0f)},
        {"metric units", 0, 60.0f, 0.03937008f, 8.0f * 0.03937008f},
    };
    for (const Case &c : cases) {
        cfg_seti(cfg_perspective, c.perspective);
        cfg_setf(cfg_fov, c.fov);
        project.scale = c.scale;
        view_reset(2);
        EXPECT_NEAR(view_camera.distance, c.distance, 1e-4) << c.name;
        EXPECT_FLOAT_EQ(view_camera.centre[0], 6.0f * c.scale) << c.name;
        EXPECT_FLOAT_EQ(view_camera.centre[1], 4.0f * c.scale) << c.name;
        EXPECT_FLOAT_EQ(view_camera.centre[2], 0.375f * c.scale) << c.name;
    }
    EXPECT_NEAR(cases[1].distance, 13.86f, 0.01f);
}

TEST_F(Framing, ModeTwoTurnsToTheDefaultAnglesOthersKeepThem)
{
    struct Case {
        int mode;
        float angles[3];
    };
    const Case cases[] = {{0, {10.0f, 20.0f, 30.0f}}, {1, {10.0f, 20.0f, 30.0f}}, {2, {45.0f, 0.0f, -22.5f}}};
    for (const Case &c : cases) {
        view_camera.rotation[0] = 10.0f;
        view_camera.rotation[1] = 20.0f;
        view_camera.rotation[2] = 30.0f;
        view_reset(c.mode);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(view_camera.rotation[i], c.angles[i]) << "mode " << c.mode << " axis " << i;
    }
}

TEST_F(Framing, NoWidthKeepsTheDistance)
{
    for (int width : {0, -5}) {
        testlog_capture local;
        sys_drawable[0] = width;
        view_camera.distance = 3.0f;
        view_reset(2);
        EXPECT_EQ(view_camera.distance, 3.0f) << width;
        EXPECT_TRUE(std::isfinite(view_camera.distance));
        EXPECT_FLOAT_EQ(view_camera.centre[0], 6.0f);
        EXPECT_TRUE(local.contains("view_reset: drawable width")) << width;
    }
}

TEST_F(Framing, TopViewRowsAtZeroAngle)
{
    view_camera.rotation[2] = 0.0f;
    view_rotation(&view_camera);
    const float rows[3][3] = {{0, 0, -1}, {0, 1, 0}, {-1, 0, 0}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            EXPECT_FLOAT_EQ(view_axisrows[i][j] + 0.0f, rows[i][j]) << i << "," << j;
}

TEST_F(Framing, ProjectCallKeepsTheViewOnlyWhenAsked)
{
    project_viewreset = view_reset;
    for (int keep : {0, 1}) {
        cfg_seti(cfg_keepview, keep);
        view_camera.rotation[0] = 10.0f;
        project_frameview();
        EXPECT_EQ(view_camera.rotation[0], keep ? 10.0f : 45.0f) << keep;
        EXPECT_FLOAT_EQ(view_camera.distance, 8.0f) << keep;
    }
}

} // namespace
