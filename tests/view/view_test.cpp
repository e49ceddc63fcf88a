// The viewport's frame pass: which phases run under each busy state, the
// spinners and their characters, the set-up values the drawing phases read
// (gloss, view direction), the busy cursor and the pointer kept during a
// raster-edit drag.
#include "viewfixture.h"

#include "geom/vec.h"
#include "sys/log.h"

#include <set>

namespace {

std::vector<int> phases_seen;

class ViewFrame : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        export_busy = 0;
        trace_busy = 0;
        project.generating[0] = project.generating[1] = 0;
        layer_genkind = 0;
        layer_gendone = 0;
        project_canvasjob.updating = 0;
        project_canvasjob.requested = 0;
        jobmode = 0;
        cam_simgenerating = 0;
        project_savebusy = 0;
        project_savingbackup = 0;
        view_rasterdrag = 0;
        sys_statustext[0] = 0;
        view_phasehook = [](int n) { phases_seen.push_back(n); };
    }
    void TearDown() override
    {
        view_phasehook = nullptr;
        export_busy = 0;
        trace_busy = 0;
        project.generating[0] = 0;
        layer_genkind = 0;
        project_canvasjob.updating = 0;
        project_savebusy = 0;
        project_savingbackup = 0;
        view_rasterdrag = 0;
        ViewProject::TearDown();
    }
    std::set<int> frame()
    {
        phases_seen.clear();
        view_frame();
        return std::set<int>(phases_seen.begin(), phases_seen.end());
    }
};

TEST_F(ViewFrame, PhasesRunInTheirOrder)
{
    frame();
    // The axes (19) go into the view buffer before its copy (18).
    std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 19, 18, 20, 21};
    EXPECT_EQ(phases_seen, expected);
}

TEST_F(ViewFrame, ExportSpinnerSkipsTracedPathsUntilTheFrameAfter)
{
    export_busy = 1;
    sys_time = 1.35;
    std::set<int> ran = frame();
    EXPECT_FALSE(ran.count(3));
    EXPECT_STREQ(sys_statustext, "exporting... \\");
    EXPECT_EQ(gui_cursor, 3);
    export_busy = 0;
    trace_busy = 1;
    ran = frame();
    EXPECT_FALSE(ran.count(3)) << "tracing skips it too";
    EXPECT_STREQ(sys_statustext, "tracing paths... \\");
    trace_busy = 0;
    EXPECT_TRUE(frame().count(3));
}

TEST_F(ViewFrame, GenerationAndCanvasSkipTheirSteps)
{
    struct Case {
        const char *name;
        int generating, genkind, gendone, canvasbusy;
        int first, last; // skipped steps, inclusive; 0 none
    };
    const Case cases[] = {
        {"idle", 0, 0, 0, 0, 0, 0},
        {"layer generator", 1, 0, 0, 0, 5, 11},
        {"raster generator running", 0, 2, 0, 0, 5, 11},
        {"raster generator's result waits", 0, 2, 1, 0, 0, 0},
        {"canvas busy", 0, 0, 0, 1, 7, 11},
        {"both", 1, 0, 0, 1, 5, 11},
    };
    for (const Case &c : cases) {
        project.generating[0] = c.generating;
        layer_genkind = c.genkind;
        layer_gendone = c.gendone;
        project_canvasjob.updating = c.canvasbusy;
        std::set<int> ran = frame();
        for (int step = 5; step <= 12; step++) {
            if (step == 10)
                continue;
            bool skipped = c.first && step >= c.first && step <= c.last;
            EXPECT_EQ(ran.count(step), skipped ? 0u : 1u) << c.name << " step " << step;
        }
        EXPECT_TRUE(ran.count(12) && ran.count(21)) << c.name;
    }
}

TEST_F(ViewFrame, SpinnerTurnsEveryStep)
{
    struct Case {
        double t, step;
        char c;
    };
    const Case cases[] = {{0.05, 0.1, '-'},  {0.15, 0.1, '\\'}, {0.25, 0.1, '|'}, {0.35, 0.1, '/'},
                          {0.45, 0.1, '-'},  {0.05, 0.2, '-'},  {0.25, 0.2, '\\'}, {0.45, 0.2, '|'},
                          {0.65, 0.2, '/'},  {0.85, 0.2, '-'}};
    for (const Case &c : cases)
        EXPECT_EQ(view_spinchar(c.t, c.step), c.c) << c.t << " by " << c.step;
}

TEST_F(ViewFrame, GlossValues)
{
    struct Case {
        float g, exponent, strength;
    };
    const Case cases[] = {{0.0f, 2.0f, 0.0f}, {0.5f, 17.5625f, 0.5f}, {1.0f, 500.0f, 2.0f}};
    for (const Case &c : cases) {
        cfg_setf(cfg_gloss, c.g);
        frame();
        EXPECT_FLOAT_EQ(view_setup.glossexponent, c.exponent) << c.g;
        EXPECT_FLOAT_EQ(view_setup.glossstrength, c.strength) << c.g;
        EXPECT_FLOAT_EQ(view_setup.gloss, c.g);
    }
}

TEST_F(ViewFrame, SetUpValues)
{
    const float size[3] = {10.0f, 4.0f, 2.0f}, frac[3] = {0.5f, 0.25f, 1.0f};
    memcpy(project.size, size, sizeof(size));
    memcpy(project.originfrac, frac, sizeof(frac));
    view_camera.rotation[0] = 30.0f;
    view_camera.rotation[2] = 60.0f;
    view_camera.distance = 8.0f;
    cfg_seti(cfg_perspective, 1);
    cfg_setf(cfg_fov, 60.0f);
    frame();
    EXPECT_FLOAT_EQ(view_setup.origin[0], -5.0f);
    EXPECT_FLOAT_EQ(view_setup.origin[1], -1.0f);
    EXPECT_FLOAT_EQ(view_setup.origin[2], -2.0f);
    EXPECT_NEAR(view_setup.viewscale, 8.0f * std::tan(M_PI / 6.0), 1e-5);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(view_setup.camvec[i], 0.0f) << "perspective, axis " << i;
    cfg_seti(cfg_perspective, 0);
    frame();
    EXPECT_FLOAT_EQ(view_setup.viewscale, 8.0f);
    float saved[3][3];
    memcpy(saved, view_basis, sizeof(saved));
    vec3_anglevectors(view_camera.rotation);
    for (int i = 0; i < 3; i++)
        EXPECT_FLOAT_EQ(view_setup.camvec[i], view_basis[view_forward][i]) << "ortho, axis " << i;
    const float light[3] = {cfg_getf(cfg_lightpitch), 0.0f, -cfg_getf(cfg_lightyaw)};
    vec3_anglevectors(light);
    for (int i = 0; i < 3; i++)
        EXPECT_FLOAT_EQ(view_setup.light[i], view_basis[view_up][i]) << "light, axis " << i;
    memcpy(view_basis, saved, sizeof(saved));
}

TEST_F(ViewFrame, BusyCursor)
{
    struct Case {
        const char *name;
        int canvasbusy, mode, generating, drag, save, backup;
        int cursor;
        const char *status;
    };
    const Case cases[] = {
        {"idle", 0, 0, 0, 0, 0, 0, 1, ""},
        {"composing for the view", 1, 1, 0, 0, 0, 0, 3, ""},
        {"composing in mode 2", 1, 2, 0, 0, 0, 0, 1, ""},
        {"generating", 0, 0, 1, 0, 0, 0, 3, ""},
        {"composing during a raster drag", 1, 1, 0, 1, 0, 0, 0, ""},
        {"saving", 0, 0, 0, 0, 1, 0, 3, "saving project... -"},
        {"backing up", 0, 0, 0, 0, 1, 1, 3, "saving backup... -"},
    };
    sys_time = 0.05;
    for (const Case &c : cases) {
        gui_cursor = 1;
        sys_statustext[0] = 0;
        project_canvasjob.updating = c.canvasbusy;
        jobmode = c.mode;
        project.generating[0] = c.generating;
        view_rasterdrag = c.drag;
        project_savebusy = c.save;
        project_savingbackup = c.backup;
        frame();
        EXPECT_EQ(gui_cursor, c.cursor) << c.name;
        EXPECT_STREQ(sys_statustext, c.status) << c.name;
    }
}

TEST_F(ViewFrame, RasterDragKeepsThePointerUntilItEnds)
{
    view_rasterdrag = 1;
    frame();
    EXPECT_EQ(gui_cursor, 0);
    EXPECT_EQ(view_capture, 1);
    EXPECT_EQ(view_dragstates[0], 1u);
    view_rasterdrag = 0;
    frame();
    EXPECT_EQ(view_capture, 0);
    EXPECT_EQ(view_dragstates[0], 0u);
}

TEST_F(ViewFrame, DrawingSetUpLeavesTheStackAsItFoundIt)
{
    project.scale = 0.03937008f;
    frame();
    EXPECT_EQ(vrec.stack.size(), 1u);
}

} // namespace
