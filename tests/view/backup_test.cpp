// The automatic backup on a fake frame clock: when a change is backed up
// (the pause, the interval, the idle program), what blocks it, the setting
// that turns the writing off, a change a worker posts, and the redraw
// requests of the fast view and the raster tool. The save job really runs
// on workers and writes the backup file.
#include "viewfixture.h"

#include "testfolder.h"
#include "view/backup.h"
#include "view/simview.h"

#include "sys/thread.h"
#include "sys/waits.h"

#include <filesystem>

namespace {

int32_t dialog_open = 0;
int32_t test_dialogid() { return dialog_open; }

class Backup : public ViewProject {
public:
    testfolder folder{"backup"};

    static void SetUpTestSuite()
    {
        sys_threadsinit();
        sys_threadsstart(2);
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
    }
    void SetUp() override
    {
        ViewProject::SetUp();
        snprintf(sys_backuppath, sizeof(sys_backuppath), "%s", folder.at("backup.kfm").c_str());
        snprintf(sys_configpath, sizeof(sys_configpath), "%s", folder.at("config.dat").c_str());
        project_canvas.img = img_allocfloat("canvas", 8, 4);
        project_changetime = 0.0f;
        project_jobchangetime = 0.0f;
        project_backupdone = 0;
        project_backuptime = 0.0f;
        dialog_open = 0;
        view_dialogid = test_dialogid;
        cam_generatingop = -1;
        view_manipulating = 0;
        view_fastview = 0;
        view_lastrastertool = -1;
        view_moved = 0;
        view_redraw = 0;
    }
    void TearDown() override
    {
        waitsave();
        img_free(project_canvas.img);
        project_canvas.img = nullptr;
        project_changetime = 0.0f;
        ViewProject::TearDown();
    }
    static void waitsave()
    {
        ASSERT_EQ(sys_waituntil([] { return project_savebusy.load() == 0 && sys_jobspending.load() == 0; }, 20.0,
                                "backup test"),
                  1);
    }
    // One frame's backup step at time t; 1 when it started a backup.
    int frameat(double t)
    {
        sys_time = t;
        testlog_capture local;
        view_backup();
        int started = local.contains("!!! backing up project !!!");
        waitsave();
        return started;
    }
    bool written() const { return std::filesystem::exists(folder.at("backup.kfm")); }
};

TEST_F(Backup, ContinuousEditsWaitForThePause)
{
    double t = 200.0;
    for (int i = 0; i < 5; i++, t += 2.9) {
        project_changetime = (float)t;
        EXPECT_EQ(frameat(t + 2.9), 0) << "edit " << i;
    }
    EXPECT_FALSE(written());
    EXPECT_EQ(frameat(t - 2.9 + 3.01), 1) << "the first still frame past 3 s";
    EXPECT_TRUE(written());
    EXPECT_EQ(project_backupdone, 1u);
    EXPECT_EQ(frameat(t + 10.0), 0) << "one backup a change";
}

TEST_F(Backup, IntervalHoldsBackupsApart)
{
    project_changetime = 200.0f;
    ASSERT_EQ(frameat(204.0), 1);
    project_changetime = 250.0f; // 46 s after the backup
    EXPECT_EQ(frameat(254.0), 0);
    EXPECT_EQ(frameat(303.9), 0);
    EXPECT_EQ(frameat(304.1), 1) << "100 s after the first";
}

TEST_F(Backup, SettingOffMarksTheChangeHandledWithoutWriting)
{
    cfg_seti(cfg_autobackup, 0);
    project_changetime = 200.0f;
    EXPECT_EQ(frameat(204.0), 0);
    EXPECT_FALSE(written());
    EXPECT_EQ(project_backupdone, 1u);
    EXPECT_FLOAT_EQ(project_backuptime, 204.0f);
    cfg_seti(cfg_autobackup, 1);
    EXPECT_EQ(frameat(400.0), 0) << "turning it on does not back up the old change";
    project_changetime = 401.0f;
    EXPECT_EQ(frameat(405.0), 1) << "a further change does";
}

TEST_F(Backup, BusyOrEditingProgramBlocksIt)
{
    struct Case {
        const char *name;
        std::function<void(int)> set;
    };
    const Case cases[] = {
        {"dialog", [](int on) { dialog_open = on ? 17 : 0; }},
        {"generating operation", [](int on) { cam_generatingop = on ? 3 : -1; }},
        {"raster tool", [](int on) { project_rastertool = on ? 2 : -1; }},
        {"path editing", [](int on) { project_pathslayeredit = on ? 0 : -1; }},
        {"text editing", [](int on) { project_textlayeredit = on ? 1 : -1; }},
        {"pending removal", [](int on) { project_removelayer = on ? 4 : -1; }},
        {"canvas update", [](int on) { project_canvasjob.updating = on; }},
        {"simulation jobs", [](int on) { sim_jobcount = on; }},
        {"simulation update", [](int on) { sim_updating = on; }},
        {"brush job", [](int on) { brush_busy = on; }},
        {"raster processing", [](int on) { layer_gentex = on; }},
        {"layer generation", [](int on) { project.generating[0] = on; }},
        {"layer drag", [](int on) { view_dragstates[1] = on; }},
        {"gizmo drag", [](int on) { view_gizmodrag[1] = on; }},
        {"save running", [](int on) { project_savebusy = on; }},
        {"no canvas", [](int on) {
             static image *kept = nullptr;
             if (on) {
                 kept = project_canvas.img;
                 project_canvas.img = nullptr;
             } else {
                 project_canvas.img = kept;
             }
         }},
    };
    double t = 300.0;
    for (const Case &c : cases) {
        project_changetime = (float)t;
        project_backuptime = 0.0f;
        project_backupdone = 0;
        c.set(1);
        sys_time = t + 500.0;
        testlog_capture local;
        view_backup();
        c.set(0);
        EXPECT_FALSE(local.contains("!!! backing up project !!!")) << c.name;
        EXPECT_EQ(project_backupdone, 0u) << c.name << ": still armed";
        EXPECT_EQ(frameat(t + 500.0), 1) << c.name << ": once it is over";
        t += 1000.0;
    }
}

TEST_F(Backup, RunningJobBlocksIt)
{
    static std::atomic<int> release{0};
    release = 0;
    sys_threadjob("hold", [](void *) { sys_waituntil([] { return release.load() != 0; }, 20.0, "hold"); }, nullptr);
    project_changetime = 200.0f;
    sys_time = 300.0;
    testlog_capture local;
    view_backup();
    EXPECT_FALSE(local.contains("!!! backing up project !!!"));
    release = 1;
    waitsave();
    EXPECT_EQ(frameat(300.0), 1);
}

TEST_F(Backup, PostedJobChangeArmsIt)
{
    project_changetime = 200.0f;
    ASSERT_EQ(frameat(204.0), 1);
    project_jobchangetime = 9.0f;
    double now = sys_seconds();
    sys_time = now;
    view_backup();
    EXPECT_EQ(project_jobchangetime.load(), 0.0f);
    EXPECT_NEAR(project_changetime.load(), now, 1.0) << "stamped now, not with the posted value";
    EXPECT_EQ(project_backupdone, 0u);
    EXPECT_EQ(frameat(204.0 + 100.5), 1) << "armed by the post, past the interval";
}

TEST_F(Backup, FastViewAndToolRedraws)
{
    struct Step {
        const char *name;
        int fastview, manipulating, dragging, tool;
        int redraw;
    };
    const Step steps[] = {
        {"setting off, idle", 0, 0, 0, -1, 0},
        {"setting off, dragging", 0, 1, 1, -1, 0},
        {"setting on while dragging", 1, 1, 1, -1, 1},
        {"still dragging", 1, 1, 1, -1, 0},
        {"drag ends", 1, 1, 0, -1, 1},
        {"after the drag", 1, 0, 0, -1, 0},
        {"a new drag", 1, 1, 1, -1, 1},
        {"setting off during it", 0, 1, 1, -1, 1},
        {"raster tool chosen", 0, 0, 0, 3, 1},
        {"same tool", 0, 0, 0, 3, 0},
        {"tool put away", 0, 0, 0, -1, 1},
    };
    for (const Step &s : steps) {
        cfg_seti(cfg_fastview, s.fastview);
        if (s.manipulating)
            view_manipulating = 1;
        view_gizmodrag[1] = s.dragging;
        project_rastertool = s.tool;
        view_redraw = 0;
        view_backup();
        EXPECT_EQ(view_redraw.load(), s.redraw) << s.name;
    }
    EXPECT_EQ(view_manipulating, 0u) << "cleared by the frame without a drag";
}

} // namespace
