// Dialog switching: the Trace dialog's canvas requests on the way in and out,
// the Along Path(s) preview flag, the element state every switch lets go,
// the Upload Layer set-up by layer type, and the Content Library's index
// fetched once per 300 s against a server on 127.0.0.1 (and not twice while
// a fetch still runs).
#include "gui/dialog.h"

#include "../project/undofixture.h"
#include "../sys/httpserver.h"
#include "geom/contour.h"
#include "geom/topolys.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "online/conlib.h"
#include "online/upload.h"
#include "project/canvas.h"
#include "sys/config.h"
#include "sys/download.h"
#include "sys/thread.h"
#include "sys/waits.h"
#include "testlog.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

namespace {

struct canvasrequest {
    uint32_t requested, rebuild, mode, group;
    bool operator==(const canvasrequest &o) const
    {
        return requested == o.requested && (!requested || (rebuild == o.rebuild && mode == o.mode && group == o.group));
    }
};

canvasrequest takerequest()
{
    project_canvasjobrecord &c = project_canvasjob;
    canvasrequest r = {c.requested.load(), c.rebuildmodels.load(), c.mode.load(), c.group.load()};
    c.requested = 0;
    return r;
}

// UndoProject::SetUp begins with a TearDown: the suites below add their own
// start and end through begin and end, which run only in between.
class DialogSwitch : public UndoProject {
public:
    bool started = false;
    virtual void begin() {}
    virtual void end() {}

    void SetUp() override
    {
        UndoProject::SetUp();
        gui_dialogid = 0;
        gui_dialoglayer = -1;
        gui_alongpathspreview = 0;
        project_layergroup = 3;
        project_canvasjob.requested = 0;
        memcpy(cfg, cfg_defaults, cfg_size);
        started = true;
        begin();
    }
    void TearDown() override
    {
        if (started)
            end();
        started = false;
        gui_dialogid = 0;
        gui_dialoglayer = -1;
        project_canvasjob.requested = 0;
        project_layergroup = 0;
        UndoProject::TearDown();
    }
};

} // namespace

TEST_F(DialogSwitch, LeavingTraceRecomposesOnlyWithARecordedLayer)
{
    struct Case {
        bool layer; // selected when Trace opened
        int next;
    };
    const Case cases[] = {{true, 0}, {true, 8}, {true, 21}, {true, 17}, {false, 0}, {false, 8}};
    int slot = rasterlayer(0.2f);
    for (const Case &c : cases) {
        project_selectedlayer = c.layer ? slot : -1;
        gui_setdialog(17);
        takerequest();
        project_selectedlayer = -1; // what counts is the layer recorded on the way in
        gui_setdialog(c.next);
        canvasrequest got = takerequest();
        EXPECT_EQ(got, (canvasrequest{c.layer ? 1u : 0u, 0, canvas_view, 3}))
            << "layer " << c.layer << " next " << c.next;
        gui_setdialog(0);
    }
}

TEST_F(DialogSwitch, OpeningTraceKeepsTheHeightInsideTheCanvas)
{
    struct Case {
        float height;
        bool layer;
        float expected;
    };
    // The canvas is 1.5 deep.
    const Case cases[] = {
        {0.7f, true, 0.7f},  {0.0f, true, 0.75f},  {1.5f, false, 0.75f}, {-0.1f, true, 0.75f},
        {2.0f, false, 0.75f}, {NAN, true, 0.75f}, {1.49f, false, 1.49f},
    };
    int slot = rasterlayer(0.2f);
    for (const Case &c : cases) {
        gui_setdialog(0);
        takerequest();
        cfg_setf(cfg_tracezplane, c.height);
        project_selectedlayer = c.layer ? slot : -1;
        gui_setdialog(17);
        EXPECT_EQ(cfg_getf(cfg_tracezplane), c.expected) << c.height;
        EXPECT_EQ(takerequest(), (canvasrequest{c.layer ? 1u : 0u, 0, canvas_onelayer, 3})) << c.height;
        EXPECT_EQ(gui_dialoglayer, c.layer ? slot : -1);
    }
}

TEST_F(DialogSwitch, LeavingAlongPathsClearsItsPreview)
{
    gui_setdialog(21);
    gui_alongpathspreview = 1;
    gui_setdialog(21);
    EXPECT_EQ(gui_alongpathspreview, 0);
    gui_setdialog(8);
    gui_alongpathspreview = 1;
    gui_setdialog(9);
    EXPECT_EQ(gui_alongpathspreview, 1) << "only leaving Along Path(s) clears it";
    gui_setdialog(21);
    gui_setdialog(0);
    EXPECT_EQ(gui_alongpathspreview, 0);
}

TEST_F(DialogSwitch, EverySwitchLetsGoOfTheElements)
{
    int slot = rasterlayer(0.2f);
    for (int n : {8, 0, 14, 17, 21, 28, 30, 0}) {
        project_selectedlayer = slot;
        gui_hotid = 11;
        gui_activeid = 12;
        gui_openid = 13;
        gui_setdialog(n);
        EXPECT_EQ(gui_dialogid, n);
        EXPECT_EQ(gui_dialoglayer, slot);
        EXPECT_EQ(gui_hotid, -1) << n;
        EXPECT_EQ(gui_activeid, -1) << n;
        EXPECT_EQ(gui_openid, -1) << n;
    }
}

// ------------------------------------------------------------ Upload Layer

namespace {

struct topolyscall {
    int layer;
    float tolerance;
};
std::vector<topolyscall> topolyscalls;
std::mutex jobslock;
std::vector<void *> jobarguments;

contour *recordtopolys(int layer, float tolerance, int closedonly, int selectedonly, int applyrotation)
{
    topolyscalls.push_back({layer, tolerance});
    return path_topolys(layer, tolerance, closedonly, selectedonly, applyrotation);
}

void recordjob(void *argument)
{
    {
        std::lock_guard<std::mutex> lock(jobslock);
        jobarguments.push_back(argument);
    }
    job_genlayuppreview(argument);
}

class UploadDialog : public DialogSwitch {
public:
    void begin() override
    {
        sys_threadsinit();
        sys_threadsstart(2);
        conlib_topolys = recordtopolys;
        conlib_previewjob = recordjob;
        topolyscalls.clear();
        jobarguments.clear();
    }
    void end() override
    {
        sys_threadsquit();
        sys_threadsdone();
        conlib_topolys = path_topolys;
        conlib_previewjob = job_genlayuppreview;
        conlib_quit();
    }
    static bool jobdone()
    {
        return sys_waituntil([] { return conlib_layup.previewjob.load(std::memory_order_acquire) == -1; }, 10.0,
                             "UploadDialog") == 1;
    }
};

} // namespace

TEST_F(UploadDialog, OtherLayerTypesLeaveEveryDialogClosed)
{
    int slots[3] = {modellayer(1.0f), textlayer("Kerf", 0), -1};
    for (int slot : slots) {
        testlog_capture cap;
        gui_setdialog(8);
        project_selectedlayer = slot;
        gui_setdialog(30);
        EXPECT_EQ(gui_dialogid, 0) << slot;
        EXPECT_TRUE(cap.contains("!!! selected layer is not raster/paths !!!")) << slot;
    }
    EXPECT_TRUE(topolyscalls.empty());
    EXPECT_TRUE(jobarguments.empty());
}

TEST_F(UploadDialog, RasterLayerQueuesThePreviewWithoutPolylines)
{
    int slot = rasterlayer(0.2f);
    snprintf(project.layers[slot].name, sizeof(project.layers[slot].name), "%s",
             "A raster-layer whose name runs to 45 letters!");
    ASSERT_EQ(strlen(project.layers[slot].name), 45u);
    conlib_layup.preview = img_alloc("old preview", 4, 4, 4);
    conlib_layup.previewtexture = 7; // a free texture slot: let go all the same
    snprintf(conlib_layup.description, sizeof(conlib_layup.description), "old");
    project_selectedlayer = slot;
    gui_setdialog(30);
    ASSERT_TRUE(jobdone());
    EXPECT_EQ(gui_dialogid, 30);
    EXPECT_EQ(conlib_layup.layer, slot);
    EXPECT_STREQ(conlib_layup.name, "A raster-layer whose name runs to 45 le");
    EXPECT_STREQ(conlib_layup.description, "");
    EXPECT_EQ(conlib_layup.flags, 0u);
    EXPECT_EQ(conlib_layup.preview, nullptr);
    EXPECT_EQ(conlib_layup.previewtexture, -1);
    EXPECT_TRUE(topolyscalls.empty());
    ASSERT_EQ(jobarguments.size(), 1u);
    EXPECT_EQ(jobarguments[0], nullptr);
}

TEST_F(UploadDialog, PathsLayerPolylinesFollowItsCurveCount)
{
    for (int n : {1, 8, 24}) {
        topolyscalls.clear();
        jobarguments.clear();
        int slot = pathslayer(n - 1, 0.0f); // n - 1 open curves and a closed one
        ASSERT_EQ(project.layers[slot].data.pth->cnum, n);
        project_selectedlayer = slot;
        gui_setdialog(30);
        ASSERT_TRUE(jobdone());
        EXPECT_EQ(gui_dialogid, 30);
        EXPECT_EQ(conlib_layup.flags, 1u);
        ASSERT_EQ(topolyscalls.size(), 1u);
        EXPECT_EQ(topolyscalls[0].layer, slot);
        EXPECT_FLOAT_EQ(topolyscalls[0].tolerance, 0.02f * sqrtf((float)n));
        ASSERT_EQ(jobarguments.size(), 1u);
        EXPECT_NE(jobarguments[0], nullptr);
        project_layerfree(slot);
    }
}

// --------------------------------------------------------- Content Library

namespace {

class LibraryDialog : public DialogSwitch {
public:
    testserver server;
    char savedhost[sizeof(online_host)];
    static constexpr const char *indexpath = "/Kerfmill/lib/index.dat";

    void begin() override
    {
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        EXPECT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
        sys_downloadinit();
        sys_threadsinit();
        sys_threadsstart(2);
        EXPECT_TRUE(server.start());
        memcpy(savedhost, online_host, sizeof(savedhost));
        snprintf(online_host, sizeof(online_host), "127.0.0.1:%d", server.port);
        conlib_list = {nullptr, 0, 0.0, 0, 0, 0, -1, -1};
        sys_time = 1000.0;
    }
    void end() override
    {
        server.release = true;
        server.stop();
        sys_threadsquit();
        sys_threadsdone();
        sys_downloadquit();
        curl_global_cleanup();
        memcpy(online_host, savedhost, sizeof(savedhost));
        conlib_quit();
    }
    // Pumps as the frame loop does until no download is active.
    static bool pumpall()
    {
        return sys_waituntil(
                   [] {
                       sys_downloadpump();
                       return sys_downloadactive == 0;
                   },
                   20.0, "LibraryDialog") == 1;
    }
};

} // namespace

TEST_F(LibraryDialog, IndexFetchedOncePerFiveMinutes)
{
    conlib_list.shown = 5;
    conlib_list.count = 6;
    conlib_list.pages = 7;
    conlib_list.selection = 3;
    gui_setdialog(29);
    EXPECT_EQ(conlib_list.shown + conlib_list.count + conlib_list.pages, 0);
    EXPECT_EQ(conlib_list.selection, -1);
    ASSERT_TRUE(pumpall());
    EXPECT_EQ(server.requests(indexpath), 1);
    ASSERT_NE(conlib_list.index, nullptr);
    EXPECT_EQ(conlib_list.indexsize, testserver::indexbytes);
    EXPECT_EQ(conlib_list.indextime, 1000.0);
    EXPECT_EQ(conlib_list.slot, -1);

    // Within 300 s nothing is asked and the list is left as the browser
    // left it; after that the index is fetched and the list starts afresh.
    struct Case {
        double time;
        int requests, selection;
        double indextime;
    };
    const Case cases[] = {{1299.0, 1, 2, 1000.0}, {1301.0, 2, -1, 1301.0}};
    for (const Case &c : cases) {
        conlib_list.selection = 2;
        sys_time = c.time;
        gui_setdialog(0);
        gui_setdialog(29);
        ASSERT_TRUE(pumpall());
        EXPECT_EQ(server.requests(indexpath), c.requests) << c.time;
        EXPECT_EQ(conlib_list.selection, c.selection) << c.time;
        EXPECT_EQ(conlib_list.indextime, c.indextime) << c.time;
    }
}

TEST_F(LibraryDialog, NoSecondFetchWhileTheFirstRuns)
{
    server.holdindex = true;
    gui_setdialog(29);
    ASSERT_NE(conlib_list.slot, -1);
    ASSERT_EQ(sys_waituntil([this] { return server.holding == 1; }, 10.0, "LibraryDialog"), 1);
    gui_setdialog(0);
    gui_setdialog(29);
    sys_downloadpump();
    EXPECT_EQ(sys_downloadactive.load(), 1);
    server.release = true;
    ASSERT_TRUE(pumpall());
    EXPECT_EQ(server.requests(indexpath), 1);
    EXPECT_NE(conlib_list.index, nullptr);
}

TEST_F(LibraryDialog, FailedFetchHoldsNoIndexAndIsAskedAgain)
{
    testlog_capture cap;
    testclosedport closed;
    ASSERT_GT(closed.port, 0);
    snprintf(online_host, sizeof(online_host), "127.0.0.1:%d", closed.port);
    gui_setdialog(29);
    ASSERT_TRUE(pumpall());
    EXPECT_EQ(conlib_list.index, nullptr);
    EXPECT_TRUE(cap.contains("conlib_takeindex: no index received"));
    gui_setdialog(0);
    gui_setdialog(29);
    ASSERT_TRUE(pumpall());
    EXPECT_EQ(cap.count("conlib_takeindex: no index received"), 2);
}
