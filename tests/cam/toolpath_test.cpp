// Toolpath slots: the order vertices are copied in, the path and slot
// limits, growth, and refusal of slots and sizes that do not exist.
#include "cam/toolpath.h"

#include "camtest.h"
#include "testlog.h"

#include <cstring>
#include <vector>

// Four corners whose x is their index, so the copied order reads directly.
static const float corners[12] = {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 1, 0};

TEST_F(ToolpathTest, CopiesClosedAndOpenPolylinesInWalkOrder)
{
    struct Case {
        int closed, start, dir;
        std::vector<int> order;
        uint8_t flags;
    };
    const Case cases[] = {
        {1, 2, 1, {2, 3, 0, 1, 2}, PATH_CLOSED},
        {1, 2, -1, {2, 1, 0, 3, 2}, PATH_CLOSED},
        {0, 2, -1, {3, 2, 1, 0}, 0}, // an open path ignores start
        {0, 2, 1, {0, 1, 2, 3}, 0},
    };
    int slot = claim();
    for (const Case &c : cases) {
        float end[3];
        toolpath_addpath(end, slot, 0, c.closed, c.start, c.dir, 4, corners);
        const toolpath &tp = toolpaths[slot];
        const toolpath_path &p = tp.paths[tp.num_paths - 1];
        ASSERT_EQ(p.count, c.order.size());
        EXPECT_EQ(p.flags, c.flags);
        for (size_t k = 0; k < c.order.size(); k++)
            EXPECT_EQ(tp.verts[(p.first + k) * 3], (float)c.order[k]) << "vertex " << k;
        EXPECT_EQ(end[0], (float)c.order.back());
    }
}

TEST_F(ToolpathTest, EngageKindsAndLinkBecomeFlags)
{
    struct Case {
        int engage, link;
        uint8_t flags;
    };
    const Case cases[] = {
        {0, 0, 0}, {1, 0, ENGAGE_RAMP}, {2, 1, ENGAGE_HELIX | PATH_LINK}, {3, 0, ENGAGE_DIRECT}, {9, 1, PATH_LINK},
    };
    int slot = claim();
    testlog_capture log;
    for (const Case &c : cases) {
        float end[3];
        toolpath_addpath(end, slot, c.engage, c.link, 0, 0, 1, 2, corners);
        EXPECT_EQ(toolpaths[slot].paths[toolpaths[slot].num_paths - 1].flags, c.flags) << c.engage;
    }
    EXPECT_TRUE(log.contains("toolpath_addpath: unknown engage type 9"));
}

TEST_F(ToolpathTest, ShortPathsAndTheLastPathAreRefused)
{
    int slot = claim();
    float end[3];
    toolpath_addpath(end, slot, 0, 0, 0, 1, 1, corners);
    EXPECT_EQ(end[0], 9999999.0f);
    EXPECT_EQ(end[2], 9999999.0f);
    EXPECT_EQ(toolpaths[slot].num_paths, 0u);

    for (uint32_t i = 0; i < toolpath_maxpaths; i++)
        toolpath_addpath(end, slot, 0, 0, 0, 1, 2, corners);
    ASSERT_EQ(toolpaths[slot].num_paths, toolpath_maxpaths);
    uint32_t verts = toolpaths[slot].num_verts;
    testlog_capture log;
    toolpath_addpath(end, slot, 0, 0, 0, 1, 2, corners);
    EXPECT_TRUE(log.contains("toolpath_addpath: overflow! (start:0 dir:1 verts:2)"));
    EXPECT_EQ(end[0], 0.0f);
    EXPECT_EQ(end[1], 0.0f);
    EXPECT_EQ(end[2], 0.0f);
    EXPECT_EQ(toolpaths[slot].num_paths, toolpath_maxpaths);
    EXPECT_EQ(toolpaths[slot].num_verts, verts);
}

TEST_F(ToolpathTest, VertexArrayGrowsByHalf)
{
    int slot = claim();
    std::vector<float> line(4096 * 3);
    for (int i = 0; i < 4096; i++)
        line[i * 3] = (float)i;
    float end[3];
    toolpath_addpath(end, slot, 0, 0, 0, 1, 4095, line.data());
    EXPECT_EQ(toolpaths[slot].sz_verts, 4096u);
    toolpath_addpath(end, slot, 0, 0, 0, 1, 2, line.data());
    EXPECT_EQ(toolpaths[slot].sz_verts, 6144u);
    EXPECT_EQ(toolpaths[slot].num_verts, 4097u);
    // The vertices written before the move are intact.
    EXPECT_EQ(toolpaths[slot].verts[4094 * 3], 4094.0f);
    EXPECT_EQ(toolpaths[slot].verts[4096 * 3], 1.0f);
}

TEST_F(ToolpathTest, GrowthPastTheAllocatorsSizesIsRefused)
{
    int slot = claim();
    testlog_capture log;
    float end[3] = {1, 1, 1};
    // 300 million vertices are 3.6 GB: refused before a single one is read.
    toolpath_addpath(end, slot, 0, 0, 0, 1, 300000000, corners);
    EXPECT_TRUE(log.contains("toolpath_addpath: failed to allocate"));
    EXPECT_EQ(end[0], 0.0f);
    EXPECT_EQ(toolpaths[slot].num_paths, 0u);
    EXPECT_EQ(toolpaths[slot].num_verts, 0u);
    EXPECT_EQ(toolpaths[slot].sz_verts, 4096u);
}

TEST_F(ToolpathTest, TheEleventhSlotIsRefused)
{
    for (int i = 0; i < toolpath_maxslots; i++)
        EXPECT_EQ(toolpath_new(), i);
    EXPECT_EQ(toolpath_count, toolpath_maxslots);
    EXPECT_EQ(toolpath_new(), -1);
    toolpath_free(4);
    EXPECT_EQ(toolpath_new(), 4);
}

TEST_F(ToolpathTest, SlotsThatDoNotExistAreRefused)
{
    int slot = claim();
    testlog_capture log;
    for (int bad : {-1, 10, 99, slot + 1}) {
        float end[3] = {5, 5, 5};
        toolpath_addpath(end, bad, 0, 0, 0, 1, 2, corners);
        EXPECT_EQ(end[0], 0.0f);
        char line[64];
        snprintf(line, sizeof(line), "toolpath_addpath: invalid toolpath slot %d", bad);
        EXPECT_TRUE(log.contains(line)) << line;
    }
    EXPECT_EQ(toolpaths[slot].num_paths, 0u);
    EXPECT_EQ(toolpaths[slot + 1].verts, nullptr);
}

TEST(ToolpathSorted, EntriesKeepTheBitsTheyDoNotOwn)
{
    toolpath_sorted e;
    memset(e.bytes, 0xFF, sizeof(e.bytes));
    toolpath_setsorted(e, 0x12345, -1);
    EXPECT_EQ(toolpath_sortedpath(e), 0x12345u);
    EXPECT_EQ(toolpath_sorteddir(e), -1);
    EXPECT_EQ(e.bytes[2] & 0x80, 0x80); // bit 23 as found
    EXPECT_EQ(e.bytes[3], 0xFF);
    EXPECT_EQ(e.bytes[4], 0xFE);
    toolpath_setsorted(e, 0x7FFFFF, 1);
    EXPECT_EQ(toolpath_sortedpath(e), 0x7FFFFFu);
    EXPECT_EQ(toolpath_sorteddir(e), 1);
}
