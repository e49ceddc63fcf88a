// Entry cuts and ordering: ramp and helix geometry against hand-worked
// figures, their limits, the nearest-next property of the sort, and where
// entry cuts land in the sorted order.
#include "cam/engage.h"

#include "cam/tool.h"
#include "cam/toolpath.h"
#include "camtest.h"
#include "project/project.h"
#include "testlog.h"

#include <cmath>
#include <random>
#include <vector>

class Engage : public ToolpathTest {
protected:
    void SetUp() override
    {
        engage_cutz = 0.5f;
        engage_slope = 0.25f;
        engage_flag = 1;
        engage_helixradius = 0.1f;
    }
    static const toolpath_path &path(int slot, uint32_t i) { return toolpaths[slot].paths[i]; }
    static const float *vert(int slot, uint32_t i, uint32_t k)
    {
        return toolpaths[slot].verts + (toolpaths[slot].paths[i].first + k) * 3;
    }
};

static const float square[12] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};

TEST_F(Engage, ClosedRampDescendsAlongThePath)
{
    int slot = claim();
    EXPECT_EQ(toolpath_addramp(slot, 0, 1, 0, 4, square, 1), 2);
    ASSERT_EQ(toolpaths[slot].num_paths, 1u);
    ASSERT_EQ(path(slot, 0).count, 3u);
    EXPECT_EQ(path(slot, 0).flags, ENGAGE_RAMP);
    const float heights[] = {0.5f, 0.25f, 0.0f};
    for (int k = 0; k < 3; k++)
        EXPECT_FLOAT_EQ(vert(slot, 0, k)[2], heights[k]);

    // A vertex within 0.001 of its neighbour adds no ramp vertex.
    const float crowded[15] = {0, 0, 0, 1, 0, 0, 1.0005f, 0.0005f, 0, 1, 1, 0, 0, 1, 0};
    EXPECT_EQ(toolpath_addramp(slot, 1, 1, 0, 5, crowded, 1), 3);
    ASSERT_EQ(path(slot, 1).count, 3u);
    EXPECT_EQ(path(slot, 1).flags, ENGAGE_RAMP | PATH_LINK);
}

TEST_F(Engage, RampsThatNeverReachTheCutAddNothing)
{
    int slot = claim();
    testlog_capture log;
    engage_slope = 0.0f;
    EXPECT_EQ(toolpath_addramp(slot, 0, 1, 0, 4, square, 1), -1);
    EXPECT_TRUE(log.contains("toolpath_addramp verts overflow!"));
    EXPECT_TRUE(log.contains("...failed to generate ramp"));
    EXPECT_EQ(toolpaths[slot].num_paths, 0u);
    // A polyline whose vertices all coincide cannot descend either, and the
    // walk still ends.
    const float point[12] = {};
    engage_slope = 0.25f;
    EXPECT_EQ(toolpath_addramp(slot, 0, 1, 0, 4, point, 1), -1);
    EXPECT_EQ(toolpaths[slot].num_paths, 0u);
    EXPECT_EQ(toolpaths[slot].num_verts, 0u);
}

TEST_F(Engage, OpenRampClimbsToExactlyTheTop)
{
    int slot = claim();
    engage_cutz = 0.3f;
    const float line[9] = {0, 0, 0, 1, 0, 0, 2, 0, 0};
    EXPECT_EQ(toolpath_addramp(slot, 0, 1, 0, 3, line, 0), 2);
    ASSERT_EQ(path(slot, 0).count, 3u);
    EXPECT_EQ(vert(slot, 0, 0)[2], 0.3f);
    EXPECT_FLOAT_EQ(vert(slot, 0, 0)[0], 1.2f);
    EXPECT_FLOAT_EQ(vert(slot, 0, 1)[2], 0.25f);
    EXPECT_EQ(vert(slot, 0, 2)[0], 0.0f); // ends at the path's first vertex
    EXPECT_EQ(vert(slot, 0, 2)[2], 0.0f);

    // A short path is climbed back and forth.
    engage_cutz = 1.0f;
    const float stub[6] = {0, 0, 0, 1, 0, 0};
    EXPECT_GE(toolpath_addramp(slot, 0, -1, 0, 2, stub, 0), 0);
    EXPECT_EQ(path(slot, 1).count, 6u);
    EXPECT_EQ(vert(slot, 1, 0)[2], 1.0f);
    EXPECT_EQ(vert(slot, 1, 5)[0], 1.0f); // reverse starts at the last vertex
}

// An open path that climbs faster than the ramp: each ramp vertex keeps at
// least the path's own height there, so the ramp never runs below the cut
// surface the path follows.
TEST_F(Engage, OpenRampNeverDropsBelowThePath)
{
    int slot = claim();
    engage_cutz = 0.6f;
    const float climb[12] = {0, 0, 0, 1, 0, 0.5f, 2, 0, 0.55f, 3, 0, 0.55f};
    EXPECT_GE(toolpath_addramp(slot, 0, 1, 0, 4, climb, 0), 0);
    ASSERT_EQ(toolpaths[slot].num_paths, 1u);
    const uint32_t n = path(slot, 0).count;
    for (uint32_t k = 0; k < n; k++) {
        const float *v = vert(slot, 0, k);
        const float x = v[0];
        const float below = x <= 1 ? 0.5f * x : x <= 2 ? 0.5f + 0.05f * (x - 1) : 0.55f;
        EXPECT_GE(v[2], below - 1e-6f) << "ramp vertex " << k << " at x " << x;
    }
    EXPECT_EQ(vert(slot, 0, 0)[2], 0.6f);
}

TEST_F(Engage, HelixLimits)
{
    int slot = claim();
    const float *p = square;
    struct Case {
        float cutz, slope;
        int result;
        uint32_t paths;
    };
    // One point climbs 2 pi 0.1 / 18 x slope.
    const Case cases[] = {
        {0.0f, 0.25f, 1, 0},    // already at the top: nothing needed
        {-1.0f, 0.25f, 1, 0},
        {0.5f, 0.25f, 1, 1},    // 58 points
        {0.5f, 0.0001f, 0, 1},  // 143,240 points
        {0.5f, 0.0f, 0, 1},
    };
    testlog_capture log;
    for (const Case &c : cases) {
        engage_cutz = c.cutz;
        engage_slope = c.slope;
        EXPECT_EQ(cam_addhelicalengage(slot, 1, 0, 4, p, 0.1f), c.result) << c.cutz << " " << c.slope;
        EXPECT_EQ(toolpaths[slot].num_paths, c.paths);
    }
    const toolpath_path &h = path(slot, 0);
    EXPECT_EQ(h.flags, ENGAGE_HELIX);
    EXPECT_EQ(vert(slot, 0, h.count - 1)[2], 0.0f); // ends at the start's height
    EXPECT_GE(vert(slot, 0, 0)[2], 0.5f - 0.0349f * 0.25f);
}

TEST_F(Engage, HelixOfMoreThan1023StepsIsRefused)
{
    int slot = claim();
    float step = (float)(0.1 * 2.0 * M_PI / 18.0 * 0.25);
    engage_cutz = step * 1022.5f;
    EXPECT_EQ(cam_addhelicalengage(slot, -1, 0, 4, square, 0.1f), 1);
    EXPECT_EQ(path(slot, 0).count, 1023u);
    engage_cutz = step * 1023.5f;
    testlog_capture log;
    EXPECT_EQ(cam_addhelicalengage(slot, -1, 0, 4, square, 0.1f), 0);
    EXPECT_TRUE(log.contains("cam_addhelix: path vertex buffer overflow!"));
    EXPECT_EQ(toolpaths[slot].num_paths, 1u);
}

TEST_F(Engage, SortingASortedSlotChangesNothing)
{
    int slot = claim();
    float end[3];
    toolpath_addpath(end, slot, 0, 0, 0, 1, 4, square);
    toolpath_engagepaths(slot);
    const float pos[3] = {7, 8, 9};
    float out[3];
    toolpath_sortpaths(out, slot, pos, 1, 0, 1.0f);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[2], 9.0f);
    EXPECT_EQ(toolpaths[slot].num_sorted, 1u);
    toolpath_engagepaths(slot);
    EXPECT_EQ(toolpaths[slot].num_sorted, 1u);
}

TEST_F(Engage, SortChoosesDirectionsAndLinks)
{
    int slot = claim();
    const float a[6] = {10, 0, 0, 11, 0, 0};
    const float b[6] = {3, 0, 0, 1, 0, 0}; // its last vertex is nearer
    float end[3], out[3];
    toolpath_addpath(end, slot, 0, 1, 0, 0, 1, 2, a);
    toolpath_addpath(end, slot, 0, 1, 0, 0, 1, 2, b);
    const float origin[3] = {0, 0, 0};
    // bidir: b first, reversed, linked only when linkdist allows.
    toolpath_sortpaths(out, slot, origin, 1, 0, 0.0f);
    const toolpath &tp = toolpaths[slot];
    EXPECT_EQ(toolpath_sortedpath(tp.sorted[0]), 1u);
    EXPECT_EQ(toolpath_sorteddir(tp.sorted[0]), -1);
    EXPECT_EQ(toolpath_sortedpath(tp.sorted[1]), 0u);
    EXPECT_EQ(out[0], 11.0f);
    EXPECT_EQ(tp.paths[0].flags & PATH_LINK, 0) << "linkdist 0 links nothing";
    EXPECT_EQ(tp.paths[1].flags & PATH_LINK, 0);

    // bidir 0, mode 0: the first unsorted path goes first, forward.
    int second = claim();
    toolpath_addpath(end, second, 0, 0, 0, 1, 2, a);
    toolpath_addpath(end, second, 0, 0, 0, 1, 2, b);
    toolpath_sortpaths(out, second, origin, 0, 0, 100.0f);
    const toolpath &tq = toolpaths[second];
    EXPECT_EQ(toolpath_sortedpath(tq.sorted[0]), 0u);
    EXPECT_EQ(toolpath_sorteddir(tq.sorted[0]), 1);
    EXPECT_EQ(toolpath_sorteddir(tq.sorted[1]), 1);
    EXPECT_EQ(tq.paths[1].flags & PATH_LINK, PATH_LINK) << "within linkdist";
}

TEST_F(Engage, RampsTakeTheirPlaceAndFailedRampsDropTheLink)
{
    int slot = claim();
    float end[3], out[3];
    const float far[12] = {5, 5, 0, 6, 5, 0, 6, 6, 0, 5, 6, 0};
    toolpath_addpath(end, slot, 1, 0, 1, 0, 1, 4, square);
    toolpath_addpath(end, slot, 1, 1, 1, 0, 1, 4, far);
    const float origin[3] = {0, 0, 0};
    engage_slope = 0.25f;
    toolpath_sortpaths(out, slot, origin, 0, 0, 0.0f);
    const toolpath &tp = toolpaths[slot];
    // Ramp (path 2), square, ramp (path 3), far square.
    ASSERT_EQ(tp.num_sorted, 4u);
    const uint32_t order[] = {2, 0, 3, 1};
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(toolpath_sortedpath(tp.sorted[k]), order[k]) << k;
    EXPECT_EQ(tp.paths[2].flags, ENGAGE_RAMP | PATH_SORTED);
    EXPECT_EQ(tp.paths[0].flags, PATH_LINK | PATH_CLOSED | PATH_SORTED);

    int second = claim();
    toolpath_addpath(end, second, 1, 1, 1, 0, 1, 4, far);
    engage_slope = 0.0f;
    testlog_capture log;
    toolpath_sortpaths(out, second, origin, 1, 0, 0.0f);
    EXPECT_EQ(toolpaths[second].num_paths, 1u);
    EXPECT_EQ(toolpaths[second].paths[0].flags, ENGAGE_RAMP | PATH_CLOSED | PATH_SORTED);
}

TEST_F(Engage, HelixPathsGetARealHelixOrAPlunge)
{
    for (int engage : {0, 1}) {
        int slot = claim();
        float end[3];
        toolpath_addpath(end, slot, 2, 1, 1, 0, 1, 4, square);
        engage_cutz = 0.5f;
        engage_slope = 0.25f;
        if (engage)
            toolpath_engagepaths(slot);
        else {
            const float origin[3] = {0, 0, 0};
            float out[3];
            toolpath_sortpaths(out, slot, origin, 1, 0, 0.0f);
        }
        const toolpath &tp = toolpaths[slot];
        ASSERT_EQ(tp.num_paths, 2u);
        ASSERT_EQ(tp.num_sorted, 2u);
        EXPECT_EQ(toolpath_sortedpath(tp.sorted[0]), 1u);
        EXPECT_EQ(tp.paths[1].flags, ENGAGE_HELIX | PATH_SORTED);
        EXPECT_EQ(tp.paths[0].flags, PATH_LINK | PATH_CLOSED | PATH_SORTED);
        // The helix ends at the start's height, within its radius of it.
        const float *last = vert(slot, 1, tp.paths[1].count - 1);
        EXPECT_EQ(last[2], 0.0f);
        EXPECT_LE(std::hypot(last[0], last[1]), 2.0f * engage_helixradius + 1e-6f);

        // Already at the top: no helix, and the path is plunged into.
        int flat = claim();
        toolpath_addpath(end, flat, 2, 1, 1, 0, 1, 4, square);
        engage_cutz = 0.0f;
        toolpath_engagepaths(flat);
        EXPECT_EQ(toolpaths[flat].num_paths, 1u);
        EXPECT_EQ(toolpaths[flat].num_sorted, 1u);
        EXPECT_EQ(toolpaths[flat].paths[0].flags, PATH_CLOSED | PATH_SORTED);
        toolpath_free(slot);
        toolpath_free(flat);
    }
}

// Each choice of the bidirectional sort is no farther from the tool than
// either end of any path still unsorted at that moment.
TEST_F(Engage, SortIsNearestNext)
{
    std::mt19937 rng(22);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    int slot = claim();
    const int n = 300;
    float end[3];
    for (int i = 0; i < n; i++) {
        float line[9];
        for (float &v : line)
            v = u(rng);
        toolpath_addpath(end, slot, 0, 0, 0, 1, 3, line);
    }
    const float start[3] = {0, 0, 0};
    float out[3];
    toolpath_sortpaths(out, slot, start, 1, 0, 0.0f);
    const toolpath &tp = toolpaths[slot];
    ASSERT_EQ(tp.num_sorted, (uint32_t)n);
    std::vector<bool> done(n);
    float pos[3] = {0, 0, 0};
    auto d2 = [&](uint32_t p, uint32_t k) {
        const float *v = tp.verts + (tp.paths[p].first + k) * 3;
        double s = 0;
        for (int a = 0; a < 3; a++)
            s += ((double)v[a] - pos[a]) * ((double)v[a] - pos[a]);
        return s;
    };
    for (int k = 0; k < n; k++) {
        uint32_t p = toolpath_sortedpath(tp.sorted[k]);
        int dir = toolpath_sorteddir(tp.sorted[k]);
        ASSERT_FALSE(done[p]);
        double chosen = d2(p, dir >= 1 ? 0 : 2);
        for (int q = 0; q < n; q++)
            if (!done[q]) {
                EXPECT_LE(chosen, d2(q, 0) * (1 + 1e-5)) << "choice " << k;
                EXPECT_LE(chosen, d2(q, 2) * (1 + 1e-5)) << "choice " << k;
            }
        done[p] = true;
        const float *e = tp.verts + (tp.paths[p].first + (dir >= 1 ? 2 : 0)) * 3;
        for (int a = 0; a < 3; a++)
            pos[a] = e[a];
    }
    EXPECT_EQ(out[0], pos[0]);
}

TEST_F(Engage, InvalidSlotsAreRefused)
{
    testlog_capture log;
    EXPECT_EQ(toolpath_addramp(-1, 0, 1, 0, 4, square, 1), -1);
    EXPECT_EQ(cam_addhelicalengage(10, 1, 0, 4, square, 0.1f), -1);
    const float pos[3] = {1, 2, 3};
    float out[3];
    toolpath_sortpaths(out, 3, pos, 1, 0, 0.0f);
    EXPECT_EQ(out[1], 2.0f);
    toolpath_engagepaths(-1);
    EXPECT_TRUE(log.contains("toolpath_addramp: invalid toolpath slot -1"));
    EXPECT_TRUE(log.contains("cam_addhelicalengage: invalid toolpath slot 10"));
    EXPECT_TRUE(log.contains("toolpath_sortpaths: invalid toolpath slot 3"));
    EXPECT_TRUE(log.contains("toolpath_engagepaths: invalid toolpath slot -1"));
}

TEST(EngageSettings, HelixRadiusIsAQuarterOfTheFluteDiameterInProjectUnits)
{
    struct Case {
        uint32_t projectunits;
        int toolunits;
        float d, radius;
    };
    const Case cases[] = {
        {1, 1, 0.25f, 0.0625f},
        {1, 2, 6.0f, 6.0f * 0.25f * 0.03937008f}, // metric tool, inch project
        {2, 1, 0.25f, 0.25f * 0.25f * 25.4f},     // inch tool, metric project
        {2, 2, 6.0f, 1.5f},
    };
    for (const Case &c : cases) {
        project.units = c.projectunits;
        cam_settool(4, "helix", 1, c.toolunits, 2, c.d, 1.0f, 0.0f, 2.0f, 20.0f);
        engage_sethelixradius(4);
        EXPECT_FLOAT_EQ(engage_helixradius, c.radius) << c.projectunits << " " << c.toolunits;
    }
    testlog_capture log;
    engage_sethelixradius(0);
    EXPECT_EQ(engage_helixradius, 0.0f);
    EXPECT_TRUE(log.contains("engage_sethelixradius: no tool 0"));
}

// The orderings pass the path's own vertices to the entry cuts; appending
// the entry cut may move that array.
TEST_F(Engage, EntryCutsSurviveTheirSlotGrowing)
{
    for (int engage : {1, 2}) {
        for (int closed : {0, 1}) {
            int slot = claim();
            std::vector<float> line(4094 * 3);
            for (int i = 0; i < 4094; i++) {
                line[i * 3] = (float)(i % 7);
                line[i * 3 + 1] = (float)(i / 7);
            }
            float end[3];
            toolpath_addpath(end, slot, engage, 0, closed, 0, 1, 4094, line.data());
            ASSERT_EQ(toolpaths[slot].sz_verts, 4096u);
            engage_cutz = 0.5f;
            engage_slope = 0.25f;
            toolpath_engagepaths(slot);
            EXPECT_EQ(toolpaths[slot].num_paths, 2u) << engage << " " << closed;
            EXPECT_GT(toolpaths[slot].sz_verts, 4096u);
            toolpath_free(slot);
        }
    }
}
