// Compilation: the move runs of small slots, a replay of large random slots
// through a decoder written here from the move format alone, the run-time
// estimate against hand-worked figures, and refusal of damaged slots.
#include "cam/compile.h"

#include "cam/engage.h"
#include "cam/toolpath.h"
#include "camtest.h"
#include "testlog.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// One decoded point: its kind and code, and the position after it.
struct point {
    uint32_t kind, code;
    float pos[3];
};

// Reads the slot's moves as raw 32-bit words: kind, code, count per run;
// each point's floats follow in the parameter array for the bits 1, 2, 4
// (one float each) and 8, 16, 32 (two floats each).
std::vector<point> decode(const toolpath &tp)
{
    std::vector<point> out;
    const uint32_t *words = (const uint32_t *)(const void *)tp.moves;
    float pos[3] = {0, 0, 0};
    size_t at = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++) {
        uint32_t kind = words[m * 3], code = words[m * 3 + 1], count = words[m * 3 + 2];
        for (uint32_t i = 0; i < count; i++) {
            for (int axis = 0; axis < 3; axis++)
                if (code & (1u << axis))
                    pos[axis] = tp.parms[at++];
            for (int pair = 3; pair < 6; pair++)
                if (code & (1u << pair))
                    at += 2;
            point p{kind, code, {pos[0], pos[1], pos[2]}};
            out.push_back(p);
        }
    }
    EXPECT_EQ(at, tp.num_parms);
    return out;
}

std::vector<uint32_t> runcodes(const toolpath &tp)
{
    std::vector<uint32_t> codes;
    const uint32_t *words = (const uint32_t *)(const void *)tp.moves;
    for (uint32_t m = 0; m < tp.num_moves; m++)
        codes.push_back(words[m * 3 + 1]);
    return codes;
}

} // namespace

class Compile : public ToolpathTest {};

static const float segment[6] = {1, 1, -0.5f, 4, 5, -0.5f};
static const float other[6] = {10, 0, -1, 10, 2, -1};

TEST_F(Compile, TwoPathsGiveRetractTraversePlungeAndCut)
{
    int slot = claim();
    float end[3];
    toolpath_addpath(end, slot, 0, 0, 0, 1, 2, segment);
    toolpath_addpath(end, slot, 0, 0, 0, 1, 2, other);
    testlog_capture log;
    ASSERT_EQ(toolpath_compile(slot, 0.25f), 1);
    EXPECT_TRUE(log.contains("sorted list defaulting to linear order..."));
    const std::vector<uint32_t> expected = {4, 3, 68, 135, 4, 3, 68, 135, 4};
    EXPECT_EQ(runcodes(toolpaths[slot]), expected);
    // Cuts only: the plunges to -0.5 and -1 count in neither total.
    EXPECT_NEAR(toolpaths[slot].feeds, 5.0 + 2.0, 1e-6);
    double rapids = 0.25 + std::hypot(1.0, 1.0) + 0.75 + std::hypot(6.0, 5.0) + 1.25;
    EXPECT_NEAR(toolpaths[slot].rapids, rapids, 1e-5);

    EXPECT_EQ(toolpath_compile(slot, 0.25f), 0);
    EXPECT_TRUE(log.contains("toolpath_compile: toolpath0 already has moves buffer!"));
}

TEST_F(Compile, LinksAndEntryKinds)
{
    struct Case {
        int engage, link;
        std::vector<uint32_t> codes;
    };
    // A lone path is entered from the safe height even when linked; a
    // second linked path is fed into.
    const Case cases[] = {
        {0, 1, {4, 3, 68, 135, 71, 135, 4}},
        {1, 1, {4, 3, 68, 199, 71, 199, 4}},
        {3, 0, {7, 199, 7, 199, 4}},
    };
    engage_cutz = -100.0f; // below every path: ramps fail and keep their flags
    for (const Case &c : cases) {
        int slot = claim();
        float end[3];
        toolpath_addpath(end, slot, c.engage, c.link, 0, 0, 1, 2, segment);
        toolpath_addpath(end, slot, c.engage, c.link, 0, 0, 1, 2, other);
        toolpath_engagepaths(slot);
        ASSERT_EQ(toolpath_compile(slot, 1.0f), 1);
        EXPECT_EQ(runcodes(toolpaths[slot]), c.codes) << c.engage;
        EXPECT_NEAR(toolpaths[slot].feeds, 7.0, 1e-6) << "links are not cuts";
        toolpath_free(slot);
    }
    int lone = claim();
    float end[3];
    toolpath_addpath(end, lone, 0, 1, 0, 0, 1, 2, segment);
    ASSERT_EQ(toolpath_compile(lone, 1.0f), 1);
    const std::vector<uint32_t> retract = {4, 3, 68, 135, 4};
    EXPECT_EQ(runcodes(toolpaths[lone]), retract);
}

// Random slots replayed through the decoder: every point is where the walk
// of the sorted paths puts it, and the totals are the summed lengths.
TEST_F(Compile, RandomSlotsReplayExactly)
{
    std::mt19937 rng(2201);
    std::uniform_real_distribution<float> coord(-20.0f, 20.0f);
    for (int round = 0; round < 2; round++) {
        int slot = claim();
        const int n = 10000;
        float end[3];
        for (int i = 0; i < n; i++) {
            int count = 2 + (int)(rng() % 6);
            std::vector<float> v(count * 3);
            for (float &f : v)
                f = coord(rng);
            toolpath_addpath(end, slot, (int)(rng() % 4), (int)(rng() % 2), (int)(rng() % 2), (int)(rng() % count),
                             (int)(rng() % 2), count, v.data());
        }
        toolpath &tp = toolpaths[slot];
        // A random order with random directions.
        std::vector<uint32_t> order(n);
        for (int i = 0; i < n; i++)
            order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        for (uint32_t p : order)
            toolpath_pushsorted(slot, p, (rng() % 2) ? 1 : -1);
        const float safez = 3.5f;
        ASSERT_EQ(toolpath_compile(slot, safez), 1);

        std::vector<point> expected;
        double feeds = 0.0, rapids = 0.0;
        float pos[3] = {0, 0, 0};
        auto go = [&](uint32_t kind, uint32_t code, const float *to) {
            point pt{kind, code, {pos[0], pos[1], pos[2]}};
            memcpy(pt.pos, to, sizeof(pt.pos));
            double len = std::sqrt(std::pow((double)to[0] - pos[0], 2) + std::pow((double)to[1] - pos[1], 2) +
                                   std::pow((double)to[2] - pos[2], 2));
            if (kind == 1)
                rapids += len;
            else if (code & 0x80)
                feeds += len;
            memcpy(pos, to, sizeof(pos));
            expected.push_back(pt);
        };
        for (int k = 0; k < n; k++) {
            uint32_t p = toolpath_sortedpath(tp.sorted[k]);
            int dir = toolpath_sorteddir(tp.sorted[k]);
            const toolpath_path &path = tp.paths[p];
            const float *first = tp.verts + path.first * 3;
            int count = (int)path.count;
            const float *s = dir >= 1 ? first : first + (count - 1) * 3;
            if (k == 0 || !(path.flags & 0x01)) {
                if (path.flags & 0x20) {
                    go(1, 7, s);
                } else {
                    float up[3] = {pos[0], pos[1], safez}, over[3] = {s[0], s[1], safez};
                    go(1, 4, up);
                    go(1, 3, over);
                    go(2, 68, s);
                }
            } else {
                go(2, 71, s);
            }
            uint32_t code = (path.flags & 0x2C) ? 199 : 135;
            for (int i = 1; i < count; i++)
                go(2, code, dir >= 1 ? first + i * 3 : first + (count - 1 - i) * 3);
        }
        float up[3] = {pos[0], pos[1], safez};
        go(1, 4, up);

        std::vector<point> got = decode(tp);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); i++) {
            ASSERT_EQ(got[i].kind, expected[i].kind) << i;
            ASSERT_EQ(got[i].code, expected[i].code) << i;
            ASSERT_EQ(memcmp(got[i].pos, expected[i].pos, sizeof(got[i].pos)), 0) << i;
        }
        EXPECT_NEAR(tp.feeds, feeds, 1e-9 * feeds);
        EXPECT_NEAR(tp.rapids, rapids, 1e-9 * rapids);
        toolpath_free(slot);
    }
}

TEST_F(Compile, EtaOfRapidRuns)
{
    // Rapid 100/min, accel 25: full speed 5/3 after t = 1/15 s and d = 1/18.
    struct Case {
        double length, seconds;
    };
    const double twod = 1.0 / 9.0;
    const Case cases[] = {{twod, 2.0 / 15.0}, {1.0, 0.6667}, {0.02, 2.0 * std::sqrt(0.02 / 25.0)}};
    for (const Case &c : cases) {
        int slot = claim();
        // Retract (0), traverse L, plunge, one unit of cut at 60/min, retract (0).
        const float line[6] = {(float)c.length, 0, 0, (float)c.length + 1.0f, 0, 0};
        float end[3];
        toolpath_addpath(end, slot, 0, 0, 0, 1, 2, line);
        ASSERT_EQ(toolpath_compile(slot, 0.0f), 1);
        EXPECT_NEAR(toolpath_eta(slot, 60.0f, 100.0f, 25.0f) - 1.0, c.seconds, 1e-4) << c.length;
        toolpath_free(slot);
    }
}

TEST_F(Compile, EtaStaysFiniteForZeroRates)
{
    int slot = claim();
    const float line[6] = {2, 0, 0, 3, 0, 0};
    float end[3];
    toolpath_addpath(end, slot, 0, 0, 0, 1, 2, line);
    ASSERT_EQ(toolpath_compile(slot, 0.0f), 1);
    struct Case {
        float feed, rapid, accel;
        double seconds;
    };
    const Case cases[] = {
        {60.0f, 120.0f, 0.0f, 1.0 + 1.0},    // no acceleration: 2 units at 2/s
        {60.0f, 120.0f, -5.0f, 1.0 + 1.0},
        {60.0f, 0.0f, 25.0f, 1.0},           // rapids untimed
        {0.0f, 120.0f, 0.0f, 1.0},           // cuts untimed
        {-1.0f, -1.0f, -1.0f, 0.0},
    };
    testlog_capture log;
    for (const Case &c : cases) {
        double eta = toolpath_eta(slot, c.feed, c.rapid, c.accel);
        EXPECT_TRUE(std::isfinite(eta));
        EXPECT_NEAR(eta, c.seconds, 1e-6) << c.feed << " " << c.rapid << " " << c.accel;
    }
    EXPECT_TRUE(log.contains("toolpath_eta: feed rate"));
    EXPECT_TRUE(log.contains("toolpath_eta: rapid rate"));
    EXPECT_EQ(toolpath_eta(-1, 60.0f, 100.0f, 25.0f), 0.0);
    EXPECT_EQ(toolpath_eta(10, 60.0f, 100.0f, 25.0f), 0.0);
}

TEST_F(Compile, DamagedSlotsAreRefused)
{
    struct Case {
        const char *what;
        void (*damage)(toolpath &);
        const char *line;
    };
    const Case cases[] = {
        {"sorted entry past the paths", [](toolpath &tp) { toolpath_setsorted(tp.sorted[1], 7, 1); },
         "sorted[1] names path 7 of 2"},
        {"path past the vertices", [](toolpath &tp) { tp.paths[1].count = 100; }, "path[1] verts 2+100 out of range"},
        {"path start past the vertices", [](toolpath &tp) { tp.paths[0].first = 0xFFFFFFF0u; },
         "path[0] verts 4294967280+2 out of range"},
        {"more sorted than paths", [](toolpath &tp) { tp.num_sorted = 5; }, "header out of range"},
        {"more vertices than room", [](toolpath &tp) { tp.num_verts = tp.sz_verts + 1; }, "header out of range"},
    };
    for (const Case &c : cases) {
        int slot = claim();
        float end[3];
        toolpath_addpath(end, slot, 0, 0, 0, 1, 2, segment);
        toolpath_addpath(end, slot, 0, 0, 0, 1, 2, other);
        toolpath_engagepaths(slot);
        c.damage(toolpaths[slot]);
        testlog_capture log;
        EXPECT_EQ(toolpath_compile(slot, 1.0f), 0) << c.what;
        EXPECT_TRUE(log.contains(c.line)) << c.what;
        EXPECT_EQ(toolpaths[slot].moves, nullptr);
        EXPECT_EQ(toolpaths[slot].parms, nullptr);
        toolpath_free(slot);
    }
    testlog_capture log;
    EXPECT_EQ(toolpath_compile(-1, 1.0f), 0);
    EXPECT_EQ(toolpath_compile(10, 1.0f), 0);
    EXPECT_TRUE(log.contains("toolpath_compile: invalid toolpath slot 10"));
    int empty = claim();
    EXPECT_EQ(toolpath_compile(empty, 1.0f), 0);
    EXPECT_TRUE(log.contains("toolpath_compile: toolpath0 has no cutpaths!"));
}
