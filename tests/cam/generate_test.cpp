// The generator frame: the levels and unit factor it derives, the wait for
// the reference heightfield and its cancellation, the values it refuses
// before claiming a slot, and what an operation looks like once its
// generator ended, whichever way. A small generator of this file runs the
// frame with one straight cut per level.
#include "cam/generate.h"

#include "cam/engage.h"
#include "cam/genflags.h"
#include "cam/toolpath.h"
#include "gentest.h"
#include "sys/main.h"
#include "testlog.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

// What the last run of gen_levels saw.
static std::vector<float> gen_seenlevels;
static float gen_seenu;
static int gen_addcuts = 1;

// A generator that steps by the stepover and cuts one line per level.
static void gen_levels(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "gen_levels", "CAMOP_TESTLEVELS"))
        return;
    gen_seenu = g.u;
    if (!cam_gencheckstep(&g) || !cam_genclaim(&g, 1))
        return;
    gen_seenlevels.clear();
    for (float zprev = g.z0, z = cam_gennextlevel(&g, zprev);; zprev = z, z = cam_gennextlevel(&g, z)) {
        gen_seenlevels.push_back(z);
        cam_genengage(&g, zprev);
        const float line[6] = {0.0f, 0.0f, z, 1.0f, 0.0f, z};
        float end[3];
        if (gen_addcuts)
            toolpath_addpath(end, g.slot, 0, 0, 0, 0, 1, 2, line);
        if (cam_genlastlevel(&g, z) || gen_seenlevels.size() > 1000)
            break;
    }
    const float start[3] = {0, 0, 0};
    cam_genend(&g, 1, start);
}

// The engage settings and canvas top a generator finds after the prologue.
static float gen_seencutz, gen_seentop;
static int gen_seenflag;

static void gen_engage(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "gen_engage", "CAMOP_TESTENGAGE"))
        return;
    gen_seencutz = engage_cutz;
    gen_seenflag = engage_flag;
    gen_seentop = g.top;
    cam_genfail(&g);
}

class GenFrame : public GenTest {
protected:
    void SetUp() override
    {
        GenTest::SetUp();
        gen_addcuts = 1;
        gen_seenlevels.clear();
        cam_settool(1, "flat", tool_cylinder, 1, 2, 0.25f, 0.5f, 0.0f, 1.5f, 20.0f);
        const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
        setcanvas(std::vector<float>(16 * 16, 0.5f), 16, 16, size, frac);
    }
};

TEST_F(GenFrame, LevelsStepByTheDepthOfCutOrTheFluteLength)
{
    struct Case {
        float z_min, z_max, z_doc;
        uint32_t flags;
        std::vector<float> levels; // below the canvas top, which is at 0
    };
    const Case cases[] = {
        {0.3f, 0.3f, 0.1f, 0, {-0.3f}},                      // one level, at the final depth
        {0.0f, 0.25f, 0.1f, 0, {-0.1f, -0.2f, -0.25f}},      // the last level is the final depth
        {0.0f, 1.2f, 0.9f, 0, {-0.5f, -1.0f, -1.2f}},        // cut to the flute length of 0.5
        {0.0f, 1.2f, 0.9f, camop_anydoc, {-0.9f, -1.2f}},    // unless the flutes are not the limit
        {0.1f, 0.3f, 0.15f, 0, {-0.25f, -0.3f}},             // from the starting depth down
    };
    for (const Case &c : cases) {
        resetop();
        op.z_min = c.z_min, op.z_max = c.z_max, op.z_doc = c.z_doc, op.flags = c.flags;
        ASSERT_TRUE(rungenerator(gen_levels));
        ASSERT_EQ(gen_seenlevels.size(), c.levels.size()) << c.z_max << " " << c.z_doc;
        for (size_t i = 0; i < c.levels.size(); i++)
            EXPECT_NEAR(gen_seenlevels[i], c.levels[i], 1e-5) << i;
        EXPECT_FLOAT_EQ(op.progress, 1.0f);
        EXPECT_GE(op.toolpath, 0);
        EXPECT_TRUE(notices().empty());
        toolpath_free(op.toolpath);
    }
}

TEST_F(GenFrame, ToolUnitsFollowTheReferenceScale)
{
    struct Case {
        int toolunits;
        float scale, u;
    };
    const Case cases[] = {
        {2, 1.0f, 0.03937008f}, // metric tool, inch canvas
        {1, 1.0f / 25.4f, 25.4f}, // inch tool, metric canvas
        {1, 1.0f, 1.0f},
        {2, 1.0f / 25.4f, 1.0f},
    };
    const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
    for (const Case &c : cases) {
        setcanvas(std::vector<float>(16 * 16, 0.5f), 16, 16, size, frac, c.scale);
        cam_settool(1, "flat", tool_cylinder, c.toolunits, 2, 0.25f, 0.5f, 0.0f, 1.5f, 20.0f);
        resetop();
        ASSERT_TRUE(rungenerator(gen_levels));
        EXPECT_FLOAT_EQ(gen_seenu, c.u) << c.toolunits << " " << c.scale;
        toolpath_free(op.toolpath);
    }
}

// A generator that adds entry cuts without setting their height must not
// start them where the run before it left off, deep in the stock.
TEST_F(GenFrame, EachRunStartsWithEntriesAboveTheStock)
{
    engage_cutz = -0.75f;
    engage_flag = 1;
    ASSERT_TRUE(rungenerator(gen_engage));
    EXPECT_FLOAT_EQ(gen_seencutz, gen_seentop + 0.04f);
    EXPECT_EQ(gen_seenflag, 0);
}

TEST_F(GenFrame, QueuedBeforeTheCanvasItWaitsThenRuns)
{
    const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
    img_setrefimage(nullptr, size, frac, 1.0f, 0, 0.0);
    op.generating = 1;
    op.time = (float)sys_seconds();
    std::thread worker(gen_levels, (void *)&op);
    SDL_Delay(250);
    EXPECT_EQ(op.generating.load(), 1u) << "it must wait for the canvas";
    setcanvas(std::vector<float>(16 * 16, 0.5f), 16, 16, size, frac);
    bool done = waitidle(10.0);
    EXPECT_TRUE(done);
    if (!done) {
        worker.detach();
        return;
    }
    worker.join();
    EXPECT_FLOAT_EQ(op.progress, 1.0f);
    EXPECT_GE(op.toolpath, 0);
}

TEST_F(GenFrame, ARefusedCanvasEndsTheWaitSilently)
{
    const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
    img_setrefimage(nullptr, size, frac, 1.0f, 0, 0.0);
    op.generating = 1;
    op.progress = 0.25f;
    std::thread worker(gen_levels, (void *)&op);
    SDL_Delay(150);
    auto t0 = std::chrono::steady_clock::now();
    cam_canvasfailed = 1;
    bool done = waitidle(2.0);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_TRUE(done);
    if (!done) {
        worker.detach();
        return;
    }
    worker.join();
    EXPECT_LT(waited, 1.0) << "one 100 ms step, with room for a loaded machine";
    EXPECT_EQ(cam_canvasfailed.load(), 0u) << "the next generator must wait again";
    EXPECT_FLOAT_EQ(op.progress, 0.25f);
    EXPECT_EQ(op.toolpath, -1);
    EXPECT_TRUE(notices().empty());
}

// A run takes only the reference of its own group composed after it was
// queued: another group's, or its own group's from before the Apply, would
// cut the wrong relief.
TEST_F(GenFrame, OnlyItsOwnGroupsNewerReferenceIsCut)
{
    const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
    const double before = sys_seconds();
    img_setrefimage(nullptr, size, frac, 1.0f, 0, 0.0);
    op.group = 3;
    op.applied = sys_seconds();
    op.generating = 1;
    std::thread worker(gen_levels, (void *)&op);
    struct Case {
        const char *what;
        int32_t group;
        double composed;
        bool taken;
    };
    const Case cases[] = {
        {"another group's, newer", 4, sys_seconds(), false},
        {"its own group's, from before the queuing", 3, before, false},
        {"its own group's, newer", 3, sys_seconds(), true},
    };
    for (const Case &c : cases) {
        image *img = img_allocfloat("composed", 16, 16);
        std::fill((float *)img->pixels, (float *)img->pixels + 256, 0.5f);
        img_setrefimage(img, size, frac, 1.0f, c.group, c.composed);
        img_free(img);
        EXPECT_EQ(waitidle(c.taken ? 10.0 : 0.3), c.taken) << c.what;
    }
    if (op.generating) {
        sys_quit = 1; // ends the wait, so the thread can be joined
        waitidle(5.0);
        sys_quit = 0;
    }
    worker.join();
    EXPECT_GE(op.toolpath, 0);
}

// A run whose composition never comes ends, idle, at the quit (within a
// second, so the shutdown is not held up) or at the wait's limit, which is
// logged.
TEST_F(GenFrame, AWaitWithoutItsCanvasEnds)
{
    struct Case {
        const char *what;
        bool quit;
        double limit;
        const char *logged; // null: nothing about the wait
    };
    const Case cases[] = {
        {"quit", true, 300.0, nullptr},
        {"limit", false, 0.2, "gen_waitcanvas: gave up waiting after 0s"},
    };
    const double saved = gen_canvaslimit;
    for (const Case &c : cases) {
        testlog_capture log;
        const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
        img_setrefimage(nullptr, size, frac, 1.0f, 0, 0.0);
        gen_canvaslimit = c.limit;
        op.generating = 1;
        op.toolpath = -1;
        std::thread worker(gen_levels, (void *)&op);
        SDL_Delay(100);
        auto t0 = std::chrono::steady_clock::now();
        if (c.quit)
            sys_quit = 1;
        bool done = waitidle(c.quit ? 1.0 : 5.0);
        double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sys_quit = 0;
        EXPECT_TRUE(done) << c.what;
        if (!done) {
            worker.detach();
            break;
        }
        worker.join();
        EXPECT_LT(waited, 1.0) << c.what;
        EXPECT_EQ(op.toolpath, -1) << c.what;
        EXPECT_EQ(log.contains("gen_waitcanvas: gave up"), c.logged != nullptr) << c.what;
        if (c.logged)
            EXPECT_TRUE(log.contains(c.logged)) << log.text();
        EXPECT_TRUE(notices().empty()) << c.what;
    }
    gen_canvaslimit = saved;
}

TEST_F(GenFrame, NoPathsStillFinishesWithTheNotice)
{
    gen_addcuts = 0;
    testlog_capture log;
    ASSERT_TRUE(rungenerator(gen_levels));
    EXPECT_FLOAT_EQ(op.progress, 1.0f);
    EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
    EXPECT_TRUE(log.contains("has no cutpaths!"));
}

// Every value that would loop forever or make a program the controller
// refuses ends the run before a slot is claimed, with a line naming it.
TEST_F(GenFrame, UnusableValuesTakeTheFailureExit)
{
    struct Case {
        const char *what;
        void (*spoil)(camop &op);
        const char *logged;
    };
    const Case cases[] = {
        {"z_doc 0", [](camop &o) { o.z_doc = 0.0f; }, "depth of cut"},
        {"z_doc negative", [](camop &o) { o.z_doc = -0.1f; }, "depth of cut"},
        {"flute length 0", [](camop &) { cam_tools[0].flutelength = 0.0f; }, "depth of cut"},
        {"z_doc far below the span", [](camop &o) { o.z_doc = 1e-9f; }, "depth of cut 0.000000 gives"},
        {"stepover 0", [](camop &o) { o.step = 0.0f; }, "stepover"},
        {"stepover % of no diameter",
         [](camop &o) {
             o.flags |= camop_percentstep;
             o.step = 50.0f;
             cam_tools[0].diameter = 0.0f;
         },
         "stepover"},
        {"stepover NaN", [](camop &o) { o.step = NAN; }, "stepover"},
        {"z_max infinite", [](camop &o) { o.z_max = INFINITY; }, "z_max is"},
        {"z_min NaN", [](camop &o) { o.z_min = NAN; }, "z_min is"},
        {"angle NaN", [](camop &o) { o.aux[0] = NAN; }, "aux[0] is"},
        {"tool type 5", [](camop &) { cam_tools[0].type = 5; }, "tool1 has unknown type 5"},
        {"tool 11", [](camop &o) { o.tool = 11; }, "no tool 11"},
        {"feed 0", [](camop &o) { o.feed = 0; }, "feed 0"},
        {"plunge feed negative", [](camop &o) { o.engagefeed = -5; }, "feed 60 / plunge feed -5"},
    };
    for (const Case &c : cases) {
        resetop();
        cam_settool(1, "flat", tool_cylinder, 1, 2, 0.25f, 0.5f, 0.0f, 1.5f, 20.0f);
        c.spoil(op);
        testlog_capture log;
        ASSERT_TRUE(rungenerator(gen_levels, 10.0)) << c.what;
        EXPECT_TRUE(log.contains(std::string("gen_levels: ") + c.logged)) << c.what << "\n" << log.text();
        EXPECT_EQ(op.toolpath, -1) << c.what;
        EXPECT_EQ(toolpath_count, 0) << c.what;
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << c.what;
    }
}

TEST_F(GenFrame, NoFreeSlotTakesTheFailureExit)
{
    std::vector<int> taken;
    for (int i = 0; i < toolpath_maxslots; i++)
        taken.push_back(toolpath_new());
    ASSERT_EQ(taken.back(), toolpath_maxslots - 1);
    ASSERT_TRUE(rungenerator(gen_levels, 10.0));
    EXPECT_EQ(op.toolpath, -1);
    std::vector<std::string> shown = notices();
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Operation Toolpath Failure"), shown.end());
    for (int i = 0; i < toolpath_maxslots; i++)
        EXPECT_EQ(toolpaths[i].num_paths, 0u) << "nothing written into slot " << i;
}

// Paths-layer input: a uid no layer carries is logged and gives no
// polylines; a known layer gives none either until paths become polylines.
TEST_F(GenFrame, PathsLayerInputYieldsNoPolylinesYet)
{
    std::vector<std::pair<int32_t, uint32_t>> saved;
    for (project_layer &l : project.layers) {
        saved.push_back({l.type, l.uid});
        l.type = 0;
    }
    project.layers[3].type = 2;
    project.layers[3].uid = 0x1234ABCD;
    for (uint32_t uid : {0x1234ABCDu, 0x0BADF00Du}) {
        cam_gen g{};
        g.op = &op;
        op.flags = camop_pathslayer;
        memcpy(&op.aux[2], &uid, sizeof(uid));
        testlog_capture log;
        contour *c = cam_geninput(&g);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->numpolys, 0u);
        cont_free(c);
        EXPECT_EQ(log.contains("...unknown layer uid:0BADF00D"), uid == 0x0BADF00Du);
        EXPECT_EQ(log.contains("(layer:03 id:1234ABCD)"), uid == 0x1234ABCDu);
    }
    for (int i = 0; i < project_maxlayers; i++)
        project.layers[i].type = saved[i].first, project.layers[i].uid = saved[i].second;
    op.flags = 0;
    cam_gen g{};
    g.op = &op;
    EXPECT_EQ(cam_geninput(&g), nullptr) << "the canvas is the input";
}

TEST(CamopTable, EveryTypeHasARowAndOnlyBuiltGeneratorsQueue)
{
    EXPECT_STREQ(camop_table[7].jobname, "cam_offset");
    EXPECT_STREQ(camop_table[10].jobname, "cam_offset");
    EXPECT_STRNE(camop_table[7].logname, camop_table[10].logname);
    for (int type = 0; type < camop_types; type++) {
        ASSERT_NE(camop_table[type].jobname, nullptr) << type;
        if (camop_table[type].generator)
            continue;
        camop op{};
        op.type = type;
        testlog_capture log;
        EXPECT_EQ(camop_queue(&op, 0), -1) << type;
        EXPECT_EQ(op.generating.load(), 0u);
        EXPECT_TRUE(log.contains("camop_queue: no generator for operation type " + std::to_string(type)));
    }
    camop op{};
    op.type = camop_types;
    EXPECT_EQ(camop_queue(&op, 0), -1);
}
