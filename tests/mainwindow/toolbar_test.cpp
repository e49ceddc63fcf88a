// The toolbar: view toggles with their statuses, grid steps, measure, undo
// and redo conditions, the keys, the project buttons under a running
// generator and the export opener.
#include "mainwindow/fileactions.h"
#include "shellscene.h"
#include "sys/main.h"
#include "sys/thread.h"

#include <cmath>

namespace {

using Toolbar = ShellScene;

constexpr int key_e = 5, key_r = 18, key_s = 19, key_z = 26;

// The unnamed grid-step buttons, found by their place after the snap toggle.
const rec_element *gridbutton(int finer)
{
    for (size_t i = 0; i + 2 < harness_elements.size(); i++)
        if (harness_elements[i].name == "view_snaptogrid")
            return &harness_elements[i + 1 + finer];
    return nullptr;
}

int clickgrid(int finer)
{
    const rec_element *e = gridbutton(finer);
    if (!e || e->id <= 0)
        return 0;
    harness_clickrect(e->rect);
    return 1;
}

TEST_F(Toolbar, TwoDimensionalViewIsOrthographicAndTheProjectionInert)
{
    cfg_seti(cfg_viewmode2d, 0);
    cfg_seti(cfg_perspective, 1);
    harness_frame();
    ASSERT_TRUE(harness_click("view_mode"));
    EXPECT_EQ(cfg_geti(cfg_viewmode2d), 1);
    EXPECT_EQ(cfg_geti(cfg_perspective), 0);
    EXPECT_EQ(status(), "2D view mode active");
    EXPECT_FALSE(harness_present("view_projection")) << "a label in 2D";
    cfg_seti(cfg_perspective, 0);
    view_camera.rotation[0] = 10.0f;
    ASSERT_TRUE(harness_click("view_mode"));
    EXPECT_EQ(cfg_geti(cfg_viewmode2d), 0);
    EXPECT_EQ(status(), "3D view mode active");
    EXPECT_FLOAT_EQ(view_camera.rotation[0], 45.0f) << "back in 3D, the camera takes its default angles";
    EXPECT_TRUE(harness_present("view_projection"));
}

TEST_F(Toolbar, ProjectionTwiceReturnsTheCameraDistance)
{
    cfg_seti(cfg_viewmode2d, 0);
    cfg_seti(cfg_perspective, 1);
    view_camera.distance = 37.25f;
    harness_frame();
    ASSERT_TRUE(harness_click("view_projection"));
    EXPECT_EQ(cfg_geti(cfg_perspective), 0);
    EXPECT_EQ(status(), "orthogonal view active");
    EXPECT_NEAR(view_camera.distance, 37.25 * tan(cfg_getf(cfg_fov) * M_PI / 360.0), 1e-4);
    ASSERT_TRUE(harness_click("view_projection"));
    EXPECT_EQ(cfg_geti(cfg_perspective), 1);
    EXPECT_EQ(status(), "perspective view active");
    EXPECT_NEAR(view_camera.distance / 37.25f, 1.0, 1e-6);
}

TEST_F(Toolbar, TogglesFlipTheirSettingWithTheirStatus)
{
    struct Case {
        const char *name;
        std::function<int()> value;
        const char *off, *on; // status after turning off, on
    };
    const Case cases[] = {
        {"view_hidetoolpath", [] { return (int)view_toolpathsvisible; }, "toolpath drawing disabled",
         "toolpath drawing enabled"},
        {"view_showgrid", [] { return cfg_geti(cfg_showgrid); }, "show-grid disabled", "show-grid enabled"},
        {"view_snaptogrid", [] { return cfg_geti(cfg_snaptogrid); }, "snap-to-grid disabled", "snap-to-grid enabled"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 2; i++) {
            int before = c.value();
            view_redraw = 0;
            ASSERT_TRUE(harness_click(c.name));
            EXPECT_EQ(c.value(), !before);
            EXPECT_EQ(status(), before ? c.off : c.on);
            EXPECT_NE(view_redraw.load(), 0);
        }
    }
}

TEST_F(Toolbar, OcclusionCyclesThroughItsThreeModes)
{
    const char *statuses[3] = {"drawing all toolpaths", "hiding occluded toolpaths", "showing occluded toolpaths"};
    cfg_seti(cfg_toolpathocclusion, 0);
    for (int mode : {1, 2, 0}) {
        ASSERT_TRUE(harness_click("view_occludetoolpath"));
        EXPECT_EQ(cfg_geti(cfg_toolpathocclusion), mode);
        EXPECT_EQ(status(), statuses[mode]);
    }
}

TEST_F(Toolbar, GridStepsWalkTheirUnitsLadder)
{
    struct Case {
        int units, finer;
        float from, to;
        const char *status; // null: unchanged, nothing written
    };
    const Case cases[] = {
        {1, 1, 1.0f / 32.0f, 1.0f / 32.0f, nullptr},
        {1, 0, 1.0f, 1.0f, nullptr},
        {1, 0, 0.25f, 0.5f, "1/2\" grid = 0.500\""},
        {1, 1, 0.25f, 0.125f, "1/8\" grid = 0.125\""},
        {1, 1, 0.04f, 1.0f / 32.0f, "1/32\" grid = 0.031\""},
        {2, 0, 2.5f, 5.0f, "1/2cm grid = 5.00mm"},
        {2, 1, 2.5f, 2.0f, "1/5cm grid = 2.00mm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "units " << c.units << " from " << c.from << (c.finer ? " finer" : " coarser"));
        project.units = (uint32_t)c.units;
        cfg_setf(cfg_gridsubdiv, c.from);
        sys_status("%s", "before");
        view_redraw = 0;
        harness_frame();
        ASSERT_TRUE(clickgrid(c.finer));
        EXPECT_FLOAT_EQ(cfg_getf(cfg_gridsubdiv), c.to);
        EXPECT_EQ(status(), c.status ? c.status : "before");
        EXPECT_EQ(view_redraw.load() != 0, c.status != nullptr);
    }
    project.units = 0;
    harness_frame();
    EXPECT_EQ(gridbutton(0)->id, 0) << "no grid steps without units";
    EXPECT_EQ(gridbutton(1)->id, 0);
}

TEST_F(Toolbar, MeasureTurnsOnOnlyOutsideTheEditors)
{
    gui_selectedlayer = 4;
    ASSERT_TRUE(harness_click("view_measure"));
    EXPECT_EQ(view_measuretool.on, 1);
    EXPECT_EQ(view_measuretool.present, 0);
    EXPECT_EQ(gui_selectedlayer, -1);
    EXPECT_EQ(status(), "left-click first point");
    ASSERT_TRUE(harness_click("view_measure"));
    EXPECT_EQ(view_measuretool.on, 0);

    struct Case {
        const char *what;
        std::function<void(int)> set;
    };
    const Case cases[] = {
        {"raster edit", [](int on) { project_rastertool = on ? 1 : -1; }},
        {"paths edit", [](int on) { project_pathslayeredit = on ? 0 : -1; }},
        {"text edit", [](int on) { project_textlayeredit = on ? 2 : -1; }},
        {"viewport drag", [](int on) { view_dragstates[1] = (uint32_t)on; }},
        {"pointer captured", [](int on) { view_capture = on; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        view_measuretool.on = 1;
        c.set(1);
        harness_frame();
        EXPECT_FALSE(harness_present("view_measure"));
        EXPECT_EQ(view_measuretool.on, 0) << "the tool goes off";
        c.set(0);
        harness_frame();
        EXPECT_TRUE(harness_present("view_measure"));
    }
}

TEST_F(Toolbar, UndoAndRedoOnlyWhenTheyCanRun)
{
    struct Case {
        const char *what;
        std::function<void()> set;
        bool undo, redo;
    };
    const Case cases[] = {
        {"middle of the ring", [] {}, true, true},
        {"tools mode", [] { projectmode = 2; }, false, false},
        {"simulation mode", [] { projectmode = 4; }, false, false},
        {"canvas updating", [] { project_canvasjob.updating = 1; }, false, false},
        {"layer generating", [] { project.generating[1] = 1; }, false, false},
        {"saving", [] { project_savebusy = 1; }, false, false},
        {"at the oldest", [] { event_position = event_oldest; }, false, true},
        {"at the newest", [] { event_position = event_end; }, true, false},
        {"empty ring", [] { event_oldest = event_position = event_end = 0; }, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        projectmode = 1;
        project_canvasjob.updating = 0;
        project.generating[0] = project.generating[1] = 0;
        project_savebusy = 0;
        event_oldest = 3, event_position = 5, event_end = 8;
        c.set();
        harness_frame();
        EXPECT_EQ(harness_present("canvas_undo"), c.undo);
        EXPECT_EQ(harness_present("canvas_redo"), c.redo);
    }
    project_savebusy = 0;
    projectmode = 1;
    event_oldest = 3, event_position = 5, event_end = 8;
    for (const char *name : {"canvas_undo", "canvas_redo"}) {
        harness_frame();
        gui_undorequest = gui_redorequest = 0;
        gui_unappliedchanges = 1;
        ASSERT_TRUE(harness_click(name));
        EXPECT_EQ(gui_undorequest, std::string(name) == "canvas_undo");
        EXPECT_EQ(gui_redorequest, std::string(name) == "canvas_redo");
        EXPECT_EQ(gui_unappliedchanges, 0) << "the open editor reloads";
    }
}

TEST_F(Toolbar, KeysActOnTheFrameTheyGoDown)
{
    event_oldest = 0, event_position = 2, event_end = 4;
    harness_frame();
    ctrlkey(key_z);
    EXPECT_EQ(gui_undorequest, 1);
    gui_undorequest = 0;
    harness_frame();
    EXPECT_EQ(gui_undorequest, 0) << "held is not down";
    ctrlrelease(key_z);

    harness_press(key_z); // no Ctrl
    harness_frame();
    EXPECT_EQ(gui_undorequest, 0);
    harness_release(key_z);
    harness_frame();

    char field[16] = "abc";
    text_editstate.string = field;
    ctrlkey(key_z);
    ctrlrelease(key_z);
    ctrlkey(key_r);
    ctrlrelease(key_r);
    EXPECT_EQ(gui_undorequest, 0) << "not while a text is edited";
    EXPECT_EQ(gui_redorequest, 0);
    text_editstate.string = nullptr;
    ctrlkey(key_r);
    EXPECT_EQ(gui_redorequest, 1);
    ctrlrelease(key_r);
}

TEST_F(Toolbar, CtrlSSavesOnlyWhileSaveIsAButton)
{
    struct Case {
        const char *what;
        uint32_t hasfile;
        float changed;
        int busy, generating;
        bool button;
    };
    const Case cases[] = {
        {"untitled", 0, 0.0f, 0, -1, true},
        {"named with changes", 1, 4.0f, 0, -1, true},
        {"named without changes", 1, 0.0f, 0, -1, false},
        {"saving", 0, 4.0f, 1, -1, false},
        {"generating", 0, 4.0f, 0, 0, false},
    };
    sys_threadsinit();
    sys_threadsstart(1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture each;
        snprintf(project.path, sizeof(project.path), "%s", dir.at("missing/p.kfm").c_str());
        project_hasfile = c.hasfile;
        project_changetime = c.changed;
        project_savebusy = c.busy;
        cam_generatingop = c.generating;
        harness_frame();
        EXPECT_EQ(harness_present("project_save"), c.button);
        ctrlkey(key_s);
        ctrlrelease(key_s);
        if (c.busy)
            project_savebusy = 0; // the flag stood for a save that never ran
        project_waitsave();
        bool tried = each.contains("failed to get filesave path") || each.contains("Failed to save project file");
        EXPECT_EQ(tried, c.button) << each.text();
    }
    sys_threadsquit();
    sys_threadsdone();
    sys_quit = 0;
    EXPECT_NE(status().find("while an operation is being generated"), std::string::npos) << status();
}

TEST_F(Toolbar, ProjectButtonsAreLabelsWhileAnOperationGenerates)
{
    project_changetime = 4.0f;
    const char *names[] = {"project_new", "project_open", "project_save"};
    for (int generating : {-1, 1}) {
        cam_generatingop = generating;
        harness_frame();
        for (const char *name : names)
            EXPECT_EQ(harness_present(name), generating == -1) << name;
        EXPECT_TRUE(harness_present("gcode_export"));
    }
}

TEST_F(Toolbar, TheSmallStripHasSmallButtons)
{
    for (int small : {0, 1}) {
        cfg_seti(cfg_smallviewbuttons, small);
        harness_frame();
        const rec_element *e = harness_find("view_home");
        ASSERT_TRUE(e);
        float side = small ? 21.0f : 38.0f, sp = (float)gui_spacing;
        EXPECT_FLOAT_EQ(e->rect.w + sp, side);
        EXPECT_FLOAT_EQ(e->rect.h + sp, side);
    }
}

TEST_F(Toolbar, ExportOpensTheDialogWithItsWorkingValues)
{
    struct Case {
        const char *post;
        uint32_t units;
        float spacing[2];
        const char *name, *texts[2];
    };
    const Case cases[] = {
        {"posts\\GRBL (Inches).txt", 1, {0.0f, 0.125f}, "GRBL (Inches).txt", {"0.0", "0.125"}},
        {"posts/GRBL (mm).txt", 2, {2.5f, 10.0f}, "GRBL (mm).txt", {"2.5", "10.0"}},
        {"bare.txt", 0, {3.0f, 0.0f}, "bare.txt", {"3", "0"}},
    };
    env.set("KERFMILL_MSGBOX_ANSWERS", "ok");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.post);
        cfg_settext(cfg_postpath, c.post);
        project.units = c.units;
        cfg_setf(cfg_exportspacingx, c.spacing[0]);
        cfg_setf(cfg_exportspacingy, c.spacing[1]);
        cfg_seti(cfg_exportrepeatx, 3);
        cfg_seti(cfg_exportrepeaty, 7);
        gui_setdialog(0);
        harness_frame();
        ctrlkey(key_e);
        ctrlrelease(key_e);
        EXPECT_EQ(gui_dialogid, 20);
        EXPECT_STREQ(fileact_export.postname, c.name);
        EXPECT_STREQ(fileact_export.spacing[0], c.texts[0]);
        EXPECT_STREQ(fileact_export.spacing[1], c.texts[1]);
        EXPECT_EQ(fileact_export.repeat[0], 3.0f);
        EXPECT_EQ(fileact_export.repeat[1], 7.0f);
    }
    gui_setdialog(0);
    harness_frame();
    ASSERT_TRUE(harness_click("gcode_export"));
    EXPECT_EQ(gui_dialogid, 20) << "the button opens it too";
}

TEST_F(Toolbar, TutorialsButtonIsALabelWhileItsDialogIsOpen)
{
    auto tutorials = [] {
        for (const rec_element &e : harness_elements)
            if (e.id == 10916)
                return true;
        return false;
    };
    EXPECT_TRUE(tutorials());
    gui_setdialog(28);
    harness_frame();
    EXPECT_FALSE(tutorials());
}

} // namespace
