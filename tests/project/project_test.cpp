// The project's start and shutdown: a start whose surface shaders do not
// load fails and leaves nothing behind, and the shutdown's wait for
// background work ends after its bound. The lifecycle: units switching,
// saving by name, as the backup and through the dialog, titles, the waits
// of a new project, a save and a reset, and the state a reset leaves.
#include "project/project.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "img/image.h"
#include "platform/seam.h"
#include "project/genraster.h"
#include "project/undo.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

// Without a GL context no shader program can be made, as on a driver
// without shader support.
TEST(Project, StartWithoutShadersFailsAndLeavesNothing)
{
    testlog_capture log;
    uint64_t mem = sys_memused();
    EXPECT_EQ(project_init(), 0);
    EXPECT_TRUE(log.contains("[ ERROR ] project_init: the surface shaders failed to load")) << log.text();
    EXPECT_EQ(project_mutex, -1);
    EXPECT_EQ(project_brush, nullptr);
    EXPECT_EQ(sys_memused(), mem);
}

TEST(Project, WaitForBackgroundWorkHasABound)
{
    struct Case {
        const char *what;
        bool busy;
        int clearafterms; // -1: the flag is never cleared
        double limit;
        int result;
    };
    const Case cases[] = {
        {"idle", false, -1, 10.0, 1},
        {"work that ends", true, 50, 30.0, 1},
        {"work that never ends", true, -1, 0.2, 0},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        project_savebusy = c.busy ? 1 : 0;
        std::thread clearer;
        if (c.clearafterms >= 0)
            clearer = std::thread([&] {
                SDL_Delay((Uint32)c.clearafterms);
                project_savebusy = 0;
            });
        EXPECT_EQ(project_waitidle(c.limit), c.result) << c.what;
        if (clearer.joinable())
            clearer.join();
        EXPECT_EQ(log.contains("project_quit: sleeping..."), c.busy) << c.what;
        EXPECT_EQ(log.contains("project_quit: background work still running after"), c.result == 0) << c.what;
        project_savebusy = 0;
    }
}

// ---------------------------------------------------------------- lifecycle

namespace {

// The configuration's six lengths held in PROJUNITS, in the order the
// default canvas size, the path length limits and the further length sit.
const int lc_lengths[6] = {cfg_canvassize, cfg_canvassize + 4, cfg_canvassize + 8,
                           cfg_pathminlength, cfg_pathmaxlength, cfg_value276};

class Lifecycle : public testing::Test {
protected:
    testlog_capture quiet;
    std::string dir;
    float selectionpixels[4] = {};
    int selectionwidth = 0, selectionheight = 0;
    static Lifecycle *current;

    void SetUp() override
    {
        memcpy(cfg, cfg_defaults, cfg_size);
        dir = (std::filesystem::temp_directory_path() / ("kerfmill-lc-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(dir);
        snprintf(sys_configpath, sizeof(sys_configpath), "%s/config.bin", dir.c_str());
        current = this;
        project_selectiontexture = [](const image *img) {
            current->selectionwidth = img->width;
            current->selectionheight = img->height;
            memcpy(current->selectionpixels, img->pixels, sizeof(current->selectionpixels));
        };
        sys_threadsinit();
        sys_threadsstart(2);
        project.units = 1;
    }
    void TearDown() override
    {
        project_waitsave();
        sys_threadsquit();
        sys_threadsdone();
        sys_quit = 0;
        project_reset();
        sys_configpath[0] = 0;
        std::filesystem::remove_all(dir);
    }
    std::string file(const char *name) const { return dir + "/" + name; }
    // Waits for the save job, then takes its outcome as the frame would.
    static void waitsave()
    {
        for (int i = 0; i < 1000 && project_savebusy; i++)
            SDL_Delay(10);
        ASSERT_EQ(project_savebusy.load(), 0);
        project_takesave();
    }
};
Lifecycle *Lifecycle::current = nullptr;

} // namespace

TEST_F(Lifecycle, UnitsConvertTheConfigurationLengthsOnlyWhenTheyDiffer)
{
    const float inch[6] = {12, 12, 0.5f, 0.001f, 0.25f, 0.1f};
    struct Case {
        int projunits, units;
        float grid, scale, viewfactor, factor; // factor: lengths after / before
    };
    const Case cases[] = {
        {1, 1, 0.25f, 1.0f, 1.0f, 1.0f},
        {1, 2, 2.5f, 0.03937008f, 25.0f, 25.4f},
        {2, 2, 2.5f, 0.03937008f, 25.0f, 1.0f},
        {2, 1, 0.25f, 1.0f, 1.0f, 1.0f / 25.4f},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        cfg_seti(cfg_projunits, c.projunits);
        for (int i = 0; i < 6; i++)
            cfg_setf(lc_lengths[i], inch[i]);
        project_setunits((uint32_t)c.units);
        SCOPED_TRACE(testing::Message() << "PROJUNITS " << c.projunits << " -> units " << c.units);
        EXPECT_EQ(project.units, (uint32_t)c.units);
        EXPECT_EQ(cfg_geti(cfg_projunits), c.units);
        EXPECT_FLOAT_EQ(cfg_getf(cfg_gridsubdiv), c.grid);
        EXPECT_FLOAT_EQ(project.scale, c.scale);
        EXPECT_FLOAT_EQ(project_viewunitfactor, c.viewfactor);
        for (int i = 0; i < 6; i++)
            EXPECT_FLOAT_EQ(cfg_getf(lc_lengths[i]), inch[i] * c.factor) << "length " << i;
        EXPECT_EQ(log.contains("#### "), c.factor != 1.0f);
        EXPECT_FALSE(log.contains("[ ERROR ]")) << log.text();
    }
}

TEST_F(Lifecycle, InchesToMetricAndBackRestoresAllSixLengths)
{
    const float inch[6] = {24, 18, 1.25f, 0.002f, 0.5f, 0.1f};
    cfg_seti(cfg_projunits, 1);
    for (int i = 0; i < 6; i++)
        cfg_setf(lc_lengths[i], inch[i]);
    project_setunits(2);
    project_setunits(1);
    for (int i = 0; i < 6; i++)
        EXPECT_NEAR(cfg_getf(lc_lengths[i]), inch[i], inch[i] * 1e-6) << "length " << i;
}

TEST_F(Lifecycle, SaveAsNamesTheFileAndTheTitle)
{
    struct Case {
        const char *chosen, *written, *titlename;
    };
    const Case cases[] = {
        {"plan.txt", "plan.txt.kfm", "plan.txt.kfm"},
        {"plan.KFM", "plan.KFM", "plan.KFM"},
        {"plan", "plan.kfm", "plan.kfm"},
        {"plan.Kfm", "plan.Kfm", "plan.Kfm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chosen);
        testlog_capture log;
        std::string answer = file(c.chosen);
        setenv("KERFMILL_DIALOG_PATHS", answer.c_str(), 1);
        plat_seamreset();
        ASSERT_EQ(proj_saveas(), 1);
        waitsave();
        EXPECT_TRUE(std::filesystem::exists(file(c.written))) << log.text();
        EXPECT_EQ(std::string(project.path), file(c.written));
        EXPECT_EQ(std::string(cfg_gettext(cfg_projectpath)), file(c.written));
        EXPECT_EQ(std::string(sys_title), std::string(SYS_TITLE) + " - " + c.titlename + " (Inches)");
        EXPECT_EQ(project_hasfile, 1u);
        std::filesystem::remove(file(c.written));
        for (const auto &e : std::filesystem::directory_iterator(dir))
            EXPECT_EQ(e.path().extension(), ".bin") << "stray file " << e.path();
    }
    setenv("KERFMILL_DIALOG_PATHS", "", 1);
}

TEST_F(Lifecycle, SaveAsProposesTheKnownPathAsAKfmAndACancelSavesNothing)
{
    testlog_capture log;
    snprintf(project.path, sizeof(project.path), "%s", file("old.plan.txt").c_str());
    setenv("KERFMILL_DIALOG_PATHS", "\n", 1);
    plat_seamreset();
    EXPECT_EQ(proj_saveas(), 0);
    EXPECT_TRUE(log.contains("failed to get filesave path")) << log.text();
    EXPECT_TRUE(log.contains("proposing [" + file("old.plan.kfm") + "]")) << log.text();
    EXPECT_EQ(project_savebusy.load(), 0);
    setenv("KERFMILL_DIALOG_PATHS", "", 1);
}

TEST_F(Lifecycle, SaveJobsReportTheirOutcome)
{
    struct Case {
        const char *what;
        bool backup, writable;
        const char *expect;
    };
    const Case cases[] = {
        {"named", false, true, "...saved project ("},
        {"named into a missing folder", false, false, "[ ERROR ] Failed to save project file!"},
        {"backup", true, true, "...saved backup ("},
        {"backup into a missing folder", true, false, "...failed to save backup!"},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        std::string path = c.writable ? file("s.kfm") : file("missing/s.kfm");
        ASSERT_EQ(project_save(path.c_str(), c.backup), 1) << c.what;
        waitsave();
        EXPECT_TRUE(log.contains(c.expect)) << c.what << "\n" << log.text();
        EXPECT_EQ(std::filesystem::exists(path), c.writable) << c.what;
        EXPECT_EQ(project_savingbackup.load(), c.backup ? 1 : 0) << c.what;
        if (!c.backup) // the title names the file only once it is written
            EXPECT_EQ(std::string(sys_title) == std::string(SYS_TITLE) + " - s.kfm (Inches)", c.writable) << c.what;
        std::filesystem::remove(path);
        sys_settitle("%s", SYS_TITLE);
    }
}

namespace {

// Holds both workers, so that a save queued behind them waits while the
// test changes the project, as a user can while a save runs.
struct lc_workerhold {
    std::atomic<int> started{0};
    std::atomic<bool> release{false};
    static void job(void *arg)
    {
        auto *h = (lc_workerhold *)arg;
        h->started++;
        for (int i = 0; i < 1000 && !h->release; i++)
            SDL_Delay(10);
    }
    void hold()
    {
        for (int i = 0; i < 2; i++)
            sys_threadjob("hold", job, this);
        for (int i = 0; i < 1000 && started < 2; i++)
            SDL_Delay(1);
        ASSERT_EQ(started.load(), 2);
    }
};

} // namespace

// The marks change only from the written file: a failed save keeps the
// previous name and title and leaves the project unsaved, so New, Open and
// quit still ask; a change made while the save ran keeps its stamp.
TEST_F(Lifecycle, SaveOutcomeSetsTheMarksOnlyAfterAGoodWrite)
{
    struct Case {
        const char *what;
        const char *folder; // "ok", "readonly" or "missing"
        float before;       // project_changetime when the save is asked for
        bool change;        // a change while the save runs
        bool written;
    };
    const Case cases[] = {
        {"good write of changes", "ok", 0.5f, false, true},
        {"good write, changed meanwhile", "ok", 0.5f, true, true},
        {"read-only folder, clean project", "readonly", 0.0f, false, false},
        {"read-only folder, changes", "readonly", 0.5f, false, false},
        {"missing folder, clean project", "missing", 0.0f, false, false},
        {"missing folder, changed meanwhile", "missing", 0.5f, true, false},
    };
    // Root writes into any folder whatever its mode; nobody creates files in procfs.
    std::filesystem::create_directories(file("ro"));
    std::filesystem::permissions(file("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const std::string readonly = geteuid() == 0 ? "/proc" : file("ro");
    const std::string previous = file("previous.kfm");
    const float meanwhile = 12345.0f;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        std::string folder = !strcmp(c.folder, "ok") ? dir : !strcmp(c.folder, "readonly") ? readonly : file("missing");
        std::string path = folder + "/plan.kfm";
        snprintf(project.path, sizeof(project.path), "%s", previous.c_str());
        snprintf(project_filename, sizeof(project_filename), "previous.kfm");
        sys_settitle("%s - previous.kfm (Inches)", SYS_TITLE);
        project_hasfile = 1;
        project_changetime = c.before;
        project_saved = c.before == 0.0f ? 1 : 0;
        lc_workerhold h;
        h.hold();
        ASSERT_EQ(project_save(path.c_str(), 0), 1);
        if (c.change) {
            project_changetime = meanwhile;
            project_saved = 0;
        }
        h.release = true;
        for (int i = 0; i < 1000 && project_savebusy; i++)
            SDL_Delay(10);
        ASSERT_EQ(project_savebusy.load(), 0);
        // Until the frame takes the outcome, nothing names the new file.
        EXPECT_STREQ(project.path, previous.c_str());
        EXPECT_EQ(std::string(sys_title), std::string(SYS_TITLE) + " - previous.kfm (Inches)");
        project_takesave();
        EXPECT_EQ(std::filesystem::exists(path), c.written) << log.text();
        std::string named = c.written ? path : previous;
        EXPECT_STREQ(project.path, named.c_str());
        EXPECT_STREQ(project_filename, c.written ? "plan.kfm" : "previous.kfm");
        EXPECT_EQ(std::string(sys_title),
                  std::string(SYS_TITLE) + (c.written ? " - plan.kfm (Inches)" : " - previous.kfm (Inches)"));
        EXPECT_EQ(project_hasfile, 1u);
        if (c.change)
            EXPECT_EQ(project_changetime.load(), meanwhile);
        else if (c.written)
            EXPECT_EQ(project_changetime.load(), 0.0f);
        else
            EXPECT_TRUE(project_changetime != 0.0f && project_changetime != c.before) << project_changetime;
        // The quit asks while project_saved is 0; New and Open while the stamp is set.
        EXPECT_EQ(project_saved, c.written && !c.change ? 1u : 0u);
        EXPECT_EQ(log.contains("[ ERROR ] Failed to save project file!"), !c.written) << log.text();
        std::filesystem::remove(path);
    }
    std::filesystem::permissions(file("ro"), std::filesystem::perms::owner_all);
}

TEST_F(Lifecycle, BackupLeavesTheTitleAndTheNamedStateAlone)
{
    sys_settitle("%s (%s)", SYS_TITLE, "Inches");
    project_hasfile = 0;
    ASSERT_EQ(project_save(file("backup.kfm").c_str(), 1), 1);
    waitsave();
    EXPECT_EQ(std::string(sys_title), std::string(SYS_TITLE) + " (Inches)");
    EXPECT_EQ(project_hasfile, 0u);
}

// A save, a new project or a reset started while other work runs waits for
// it: the flag is cleared by another thread after a delay, and the call
// must not have returned before.
TEST_F(Lifecycle, NewSaveAndResetWaitForRunningWork)
{
    struct Case {
        const char *what;
        std::function<void()> set, clear, call;
        bool framemutex;
    };
    const std::string path = file("w.kfm");
    const Case cases[] = {
        {"new while saving", [] { project_savebusy = 1; }, [] { project_savebusy = 0; }, [] { project_new(); }, false},
        {"save while saving", [] { project_savebusy = 1; }, [] { project_savebusy = 0; },
         [&] { project_save(path.c_str(), 0); }, false},
        {"reset while simulating", [] { project.ops[3].simbusy = 1; }, [] { project.ops[3].simbusy = 0; },
         [] { project_reset(); }, true},
        {"reset while generating a layer", [] { project.generating[1] = 1; }, [] { project.generating[1] = 0; },
         [] { project_reset(); }, true},
    };
    sys_framemutex = sys_createmutex();
    for (const Case &c : cases) {
        c.set();
        std::atomic<bool> cleared{false};
        if (c.framemutex)
            sys_lockmutex(sys_framemutex);
        // The clearing job needs the frame mutex, as the simulation's GPU work does.
        std::thread clearer([&] {
            SDL_Delay(150);
            if (c.framemutex)
                sys_lockmutex(sys_framemutex);
            cleared = true;
            c.clear();
            if (c.framemutex)
                sys_unlockmutex(sys_framemutex);
        });
        c.call();
        EXPECT_TRUE(cleared) << c.what;
        clearer.join();
        if (c.framemutex)
            sys_unlockmutex(sys_framemutex);
        waitsave();
    }
    sys_destroymutex(sys_framemutex);
    sys_framemutex = -1;
}

// A reset while a toolpath is calculated never frees the slot the generator
// fills: it waits for the run, or refuses (logged, with the status) when
// the run outlasts the wait and leaves the slot to it.
TEST_F(Lifecycle, ResetNeverFreesUnderARunningGenerator)
{
    struct Case {
        const char *what;
        int runms; // the generator's remaining run
        int reset;
    };
    const Case cases[] = {
        {"ends within the wait", 100, 1},
        {"outlasts the wait", 900, 0},
    };
    const double saved = project_worklimit;
    project_worklimit = 0.5;
    for (const Case &c : cases) {
        testlog_capture log;
        camop &op = cam_ops[2];
        op.type = 1;
        op.toolpath = toolpath_new();
        ASSERT_GE(op.toolpath, 0);
        project.ops[0].camop = 2;
        const int slot = op.toolpath;
        op.generating = 1;
        std::thread generator([&] {
            SDL_Delay((Uint32)c.runms);
            toolpaths[slot].verts[0] = 1.0f; // the run fills its slot to the end
            op.generating.store(0, std::memory_order_release);
        });
        EXPECT_EQ(project_reset(), c.reset) << c.what;
        if (!c.reset) {
            EXPECT_NE(toolpaths[slot].verts, nullptr) << c.what;
            EXPECT_EQ(project.ops[0].camop, 2) << c.what;
            EXPECT_TRUE(log.contains("project_reset: gave up waiting after 0s")) << log.text();
            EXPECT_TRUE(log.contains("project_reset: a toolpath or its simulation is still being calculated")) << c.what;
            EXPECT_STREQ(sys_statustext, "...busy: try again when the toolpath is calculated");
        }
        generator.join();
        EXPECT_EQ(project_reset(), 1) << c.what;
        EXPECT_EQ(toolpaths[slot].verts, nullptr) << c.what;
        EXPECT_EQ(op.type, 0) << c.what;
    }
    project_worklimit = saved;
}

TEST_F(Lifecycle, ResetLeavesTheDefaultProject)
{
    testlog_capture log;
    cam_tools[0].type = tool_cylinder;
    for (int i = 0; i < cam_maxprojectops; i++)
        cam_ops[i].type = 1;
    project_selectedlayer = 5;
    project_layergroup = 3;
    project_saved = 0;
    project_hasfile = 1;
    snprintf(project.path, sizeof(project.path), "/x/y.kfm");
    cfg_setf(cfg_canvassize, 20.0f);
    cfg_setf(cfg_canvassize + 4, 10.0f);
    // A generated layer the view never installed belongs to the old project.
    layer_genrequest.result = img_allocfloat("genlayer", 4, 4);
    ASSERT_NE(layer_genrequest.result, nullptr);
    layer_genkind = 3;
    layer_gendone = 1;
    project_reset();
    EXPECT_EQ(layer_genrequest.result, nullptr);
    EXPECT_EQ(layer_genkind.load(), 0);
    EXPECT_EQ(layer_gendone.load(), 0);
    EXPECT_EQ(selectionwidth, 2);
    EXPECT_EQ(selectionheight, 2);
    for (float v : selectionpixels)
        EXPECT_EQ(v, 1.0f);
    for (int i = 0; i < cam_maxprojectops; i++)
        EXPECT_EQ(project.ops[i].camop, -1) << "operation " << i;
    EXPECT_EQ(cam_tools[0].type, tool_none);
    EXPECT_EQ(project_selectedlayer, -1);
    EXPECT_EQ(project_layergroup, 0);
    EXPECT_EQ(project_saved, 1u);
    EXPECT_EQ(project_hasfile, 0u);
    EXPECT_STREQ(project.path, "");
    EXPECT_FLOAT_EQ(project.size[0], 20.0f);
    EXPECT_FLOAT_EQ(project.aspect, 0.5f);
    EXPECT_STREQ(sys_statustext, "initialized default project");
}

TEST_F(Lifecycle, ANewProjectIsUntitledInTheConfiguredUnits)
{
    cfg_seti(cfg_units, 2);
    project_new();
    EXPECT_EQ(std::string(sys_title), std::string(SYS_TITLE) + " (Metric)");
    EXPECT_EQ(project.units, 2u);
    EXPECT_EQ(project_changetime, 0.0f);
    cfg_seti(cfg_units, 1);
    project_new();
    EXPECT_EQ(std::string(sys_title), std::string(SYS_TITLE) + " (Inches)");
}

// A new project takes its surface colours from the configuration: the canvas
// pair, the simulation pair and the wood-grain pair. Left unfilled, every
// new canvas was drawn black.
TEST_F(Lifecycle, ResetFillsTheSurfaceColoursFromTheConfiguration)
{
    struct Case {
        const char *what;
        const float *colour;
        int from;
    };
    const Case cases[] = {
        {"canvas top", project.canvascolor[0], cfg_viewcolor1},
        {"canvas bottom", project.canvascolor[1], cfg_viewcolor2},
        {"simulation top", project.simcolor[0], cfg_viewcolor3},
        {"simulation bottom", project.simcolor[1], cfg_viewcolor4},
        {"wood grain", project.woodcolor[0], cfg_appearcolor1},
        {"grain ring", project.woodcolor[1], cfg_appearcolor2},
    };
    // Each field its own values, so a swapped pair shows.
    for (size_t i = 0; i < std::size(cases); i++)
        for (int k = 0; k < 3; k++)
            cfg_setf(cases[i].from + 4 * k, 0.1f * (float)i + 0.01f * (float)(k + 1));
    project_reset();
    for (size_t i = 0; i < std::size(cases); i++)
        for (int k = 0; k < 3; k++)
            EXPECT_FLOAT_EQ(cases[i].colour[k], 0.1f * (float)i + 0.01f * (float)(k + 1))
                << cases[i].what << " component " << k;

    // The built-in configuration gives a canvas that is not black.
    memcpy(cfg, cfg_defaults, cfg_size);
    project_reset();
    EXPECT_GT(project.canvascolor[0][0] + project.canvascolor[0][1] + project.canvascolor[0][2], 0.0f);
}
