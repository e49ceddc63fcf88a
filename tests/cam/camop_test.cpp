// Operation bookkeeping: reordering and removal keep the tools' lists of
// operations true, and removing a generating operation never waits for it.
#include "cam/cam.h"

#include "cam/toolpath.h"
#include "img/image.h"
#include "project/project.h"
#include "testlog.h"
#include "workerpool.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

// Ten operations; operation i uses tool i % 3 + 1 and is named "op<i>".
static void ops_fill()
{
    for (projtool &t : project.tools)
        for (int32_t &place : t.ops)
            place = -1;
    for (int i = 0; i < project_maxops; i++) {
        projop &e = project.ops[i];
        static_cast<projopfields &>(e) = projopfields{};
        snprintf(e.name, sizeof(e.name), "op%d", i);
        e.tool = i % 3 + 1;
        int32_t *ops = project.tools[e.tool - 1].ops;
        int k = 0;
        while (ops[k] != -1)
            k++;
        ops[k] = i;
    }
}

// The operations each tool's list names, and the ones naming the tool.
static void ops_expectlists()
{
    for (int t = 1; t <= 3; t++) {
        std::set<int> listed, using_;
        for (int32_t place : project.tools[t - 1].ops)
            if (place >= 0)
                listed.insert(place);
        for (int i = 0; i < project_maxops; i++)
            if (project.ops[i].tool == t)
                using_.insert(i);
        EXPECT_EQ(listed, using_) << "tool " << t;
    }
}

TEST(Operations, RemovingWithCompactKeepsTheOrderAndRenumbersTheTools)
{
    ops_fill();
    project.simlastop = 6;
    testlog_capture log;
    cam_removeoperation(3, 1);
    EXPECT_TRUE(log.contains("tool 1 -= op3"));
    const char *names[] = {"op0", "op1", "op2", "op4", "op5", "op6", "op7", "op8", "op9", "op3"};
    for (int i = 0; i < project_maxops; i++)
        EXPECT_STREQ(project.ops[i].name, names[i]) << i;
    EXPECT_EQ(project.ops[9].tool, 0);
    EXPECT_EQ(project.ops[9].camop, -1);
    ops_expectlists();
    EXPECT_EQ(project.simlastop, -1) << "the simulation restarts when an earlier operation moves";
}

// Moves operation i to tool t, keeping both lists.
static void ops_settool(int i, int t)
{
    for (int32_t &place : project.tools[project.ops[i].tool - 1].ops)
        if (place == i)
            place = -1;
    for (int32_t &place : project.tools[t - 1].ops)
        if (place == -1) {
            place = i;
            break;
        }
    project.ops[i].tool = t;
}

TEST(Operations, SwapKeepsTheListsOfOneTool)
{
    ops_fill();
    ops_settool(5, 2); // operations 4 and 5 share tool 2
    int32_t before[project_maxops];
    memcpy(before, project.tools[1].ops, sizeof(before));
    project.simlastop = 2;
    EXPECT_EQ(cam_swapoperations(4), 1);
    EXPECT_EQ(memcmp(before, project.tools[1].ops, sizeof(before)), 0);
    EXPECT_STREQ(project.ops[4].name, "op5");
    EXPECT_STREQ(project.ops[5].name, "op4");
    EXPECT_EQ(project.simlastop, 2) << "the simulation had not reached the swapped operations";
    ops_expectlists();

    // Different tools: both lists follow the move.
    EXPECT_EQ(cam_swapoperations(6), 1);
    EXPECT_STREQ(project.ops[6].name, "op7");
    ops_expectlists();

    testlog_capture log;
    EXPECT_EQ(cam_swapoperations(9), 0);
    EXPECT_EQ(cam_swapoperations(-1), 0);
    EXPECT_TRUE(log.contains("cam_swapoperations: no operations 9 and 10"));
}

// A free record as the CAM start leaves it.
static camop &ops_record(int i)
{
    camop &op = cam_ops[i];
    op.type = 0;
    op.generating = 0;
    op.cont = nullptr;
    op.model = -1;
    op.toolpath = -1;
    return op;
}

TEST(Operations, ClearingFreesWhatTheRecordGenerated)
{
    camop &op = ops_record(2);
    op.type = 10;
    op.toolpath = toolpath_new();
    ASSERT_GE(op.toolpath, 0);
    int slot = op.toolpath;
    int count = toolpath_count;
    cam_clearop(&op);
    EXPECT_EQ(op.type, 0);
    EXPECT_EQ(op.toolpath, -1);
    EXPECT_EQ(op.model, -1);
    EXPECT_EQ(toolpaths[slot].verts, nullptr);
    EXPECT_EQ(toolpath_count, count - 1);
}

using OperationsOnWorkers = WorkerPoolTest<2>;

TEST_F(OperationsOnWorkers, RemovingAGeneratingOperationReturnsAtOnce)
{
    ops_fill();
    camop &op = ops_record(6);
    op.type = 12;
    op.toolpath = toolpath_new();
    ASSERT_GE(op.toolpath, 0);
    int slot = op.toolpath;
    op.generating.store(1, std::memory_order_release);
    project.ops[1].camop = 6;
    testlog_capture log;
    cam_removeoperation(1, 0);
    // Still generating: the record and its slot are untouched.
    EXPECT_TRUE(log.contains("cam_removeoperation: op6 generating, queuing for threaded removal"));
    EXPECT_EQ(project.ops[1].camop, -1);
    EXPECT_EQ(op.type, 12);
    EXPECT_NE(toolpaths[slot].verts, nullptr);
    // The generator ends; the queued job frees the record within a bound.
    op.generating.store(0, std::memory_order_release);
    for (int i = 0; i < 500 && toolpaths[slot].verts; i++)
        SDL_Delay(10);
    EXPECT_EQ(toolpaths[slot].verts, nullptr);
    for (int i = 0; i < 100 && op.type != 0; i++)
        SDL_Delay(10);
    EXPECT_EQ(op.type, 0);
}

// A step-image job writes its entry's images and steps for its whole run:
// while it runs, neither a move nor a removal touches that entry (nor, for a
// compacting removal, any entry after it), and nothing changes at all.
TEST(Operations, EntriesUnderAStepImageJobStayPut)
{
    struct Case {
        const char *what;
        int (*call)();
        const char *logged;
    };
    const Case cases[] = {
        {"swap onto it", [] { return cam_swapoperations(3); }, "cam_swapoperations: operation 4 is making"},
        {"swap it away", [] { return cam_swapoperations(4); }, "cam_swapoperations: operation 4 is making"},
        {"remove it", [] { return cam_removeoperation(4, 0); }, "cam_removeoperation: operation 4 is making"},
        {"remove an earlier one, compacting", [] { return cam_removeoperation(1, 1); },
         "cam_removeoperation: operation 4 is making"},
    };
    for (const Case &c : cases) {
        ops_fill();
        image *step = img_allocfloat("step", 2, 2);
        ASSERT_NE(step, nullptr);
        project.ops[4].steps[0].img = step;
        project.ops[4].simbusy = 1;
        std::vector<projopfields> before(project.ops, project.ops + project_maxops);
        std::vector<projtool> tools(project.tools, project.tools + project_maxtools);
        testlog_capture log;
        EXPECT_EQ(c.call(), 0) << c.what;
        EXPECT_TRUE(log.contains(c.logged)) << c.what << ": " << log.text();
        for (int i = 0; i < project_maxops; i++) {
            const projop &e = project.ops[i];
            EXPECT_STREQ(e.name, before[i].name) << c.what << ": entry " << i;
            EXPECT_EQ(e.tool, before[i].tool) << c.what << ": entry " << i;
            EXPECT_EQ(e.steps[0].img, before[i].steps[0].img) << c.what << ": entry " << i;
        }
        EXPECT_EQ(memcmp(tools.data(), project.tools, sizeof(projtool) * project_maxtools), 0) << c.what;
        EXPECT_EQ(project.ops[4].simbusy.load(), 1) << c.what;
        project.ops[4].simbusy = 0;
        project.ops[4].steps[0].img = nullptr;
        img_free(step);
    }
    // The job ended: the same removal goes through.
    ops_fill();
    EXPECT_EQ(cam_removeoperation(1, 1), 1);
}
