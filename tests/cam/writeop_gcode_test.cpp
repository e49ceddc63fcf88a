// Whole operations written through shipped posts and read back by LinuxCNC's
// rs274: two operations of hand-built, compiled cuts, each repeated on a
// 2x2 grid. rs274 must accept the program, and its straight moves must end
// where the offset toolpath points do in the post's units, at the feed rate
// of each point's code, with the tool of its operation.
#include "cam/cam.h"
#include "cam/cnc.h"
#include "cam/compile.h"
#include "cam/engage.h"
#include "cam/writeop.h"
#include "camtest.h"
#include "gcodetest.h"
#include "rs274.h"
#include "sys/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Where the machine is expected to go, in post units.
struct writeop_expect {
    int feed;
    double end[3];
    double rate;
    int tool;
};

// A compiled point read back from a slot: kind, code and the floats of
// its axes (arc pairs skipped: compilation makes none).
struct writeop_point {
    uint32_t kind, code;
    float values[3];
};

std::vector<writeop_point> writeop_points(const toolpath &tp)
{
    std::vector<writeop_point> out;
    size_t at = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++) {
        const move &mv = tp.moves[m];
        for (uint32_t i = 0; i < mv.count; i++) {
            writeop_point p = {mv.kind, mv.code, {0, 0, 0}};
            for (int a = 0; a < 3; a++)
                if (mv.code & (1u << a))
                    p.values[a] = tp.parms[at++];
            at += 2 * (size_t)__builtin_popcount(mv.code & 0x38u);
            out.push_back(p);
        }
    }
    return out;
}

class WriteOpGcode : public ToolpathTest {
protected:
    fs::path dir;
    std::string program;
    void SetUp() override
    {
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-writeopgcode-" + std::to_string(getpid()));
        fs::create_directories(dir);
        program = (dir / "prog.ngc").string();
    }
    void TearDown() override
    {
        if (cncout.text)
            cnc_end(program.c_str());
        for (camop &op : cam_ops) {
            op.type = 0;
            op.toolpath = -1;
        }
        ToolpathTest::TearDown();
        fs::remove_all(dir);
    }

    // A plain cut, a ramped one, a linked ring and a direct entry, shifted
    // in Y, compiled with a safe height of 0.25.
    static int cuts(float shift)
    {
        int slot = claim();
        const float plain[] = {0.5f, 0.25f, -0.3f, 1.5f, 0.25f, -0.3f, 1.5f, 1.125f, -0.3f};
        const float ramp[] = {2, 0.5f, -0.2f, 3, 0.5f, -0.2f, 3, 1.5f, -0.2f};
        const float ring[] = {3, 1.5f, -0.2f, 3.5f, 1.5f, -0.2f, 3.5f, 2, -0.2f, 3, 2, -0.2f};
        const float direct[] = {0.75f, 2.5f, -0.1f, 2.25f, 2.75f, -0.15f};
        struct piece {
            const float *verts;
            int count, engage, link, closed;
        };
        const piece pieces[] = {{plain, 3, 0, 0, 0}, {ramp, 3, 1, 0, 0}, {ring, 4, 0, 1, 1}, {direct, 2, 3, 0, 0}};
        float end[3];
        for (const piece &p : pieces) {
            std::vector<float> v(p.verts, p.verts + p.count * 3);
            for (int i = 0; i < p.count; i++)
                v[i * 3 + 1] += shift;
            toolpath_addpath(end, slot, p.engage, p.link, p.closed, 0, 1, p.count, v.data());
        }
        engage_cutz = 0;
        engage_slope = 0.2f;
        toolpath_engagepaths(slot);
        EXPECT_EQ(toolpath_compile(slot, 0.25f), 1);
        return slot;
    }

    static void setop(int i, int tool, int slot)
    {
        camop &op = cam_ops[i];
        op.type = 1;
        op.tool = tool;
        op.speed = 12000 + 2000 * tool;
        op.coolant = 3;
        op.engagefeed = 10 * tool;
        op.feed = 25 * tool;
        op.toolpath = slot;
    }

    // The moves rs274 should make for operation op written on the grid,
    // worked out from the slot's points alone: the serpentine order, the
    // offset, the unit factor, the post's resolution (a point that moves no
    // axis by a step is no move).
    static void expect(std::vector<writeop_expect> &want, double at[3], int op, const float offset[3],
                       const int grid[2], const float spacing[2], double factor, double step)
    {
        const camop &rec = cam_ops[op];
        std::vector<writeop_point> points = writeop_points(toolpaths[rec.toolpath]);
        for (int r = 0; r < grid[1]; r++)
            for (int k = 0; k < grid[0]; k++) {
                int column = r % 2 ? grid[0] - 1 - k : k;
                const double base[3] = {offset[0] + column * (double)spacing[0], offset[1] + r * (double)spacing[1],
                                        offset[2]};
                for (const writeop_point &p : points) {
                    double next[3] = {at[0], at[1], at[2]};
                    bool moved = false;
                    for (int a = 0; a < 3; a++)
                        if (p.code & (1u << a)) {
                            next[a] = (base[a] + p.values[a]) * factor;
                            moved |= std::llround(next[a] / step) != std::llround(at[a] / step);
                        }
                    if (!moved)
                        continue;
                    for (int a = 0; a < 3; a++)
                        at[a] = next[a];
                    int feed = p.kind == move_feed;
                    double rate = feed ? (p.code & move_engage ? rec.engagefeed : rec.feed) * factor : 0;
                    want.push_back({feed, {next[0], next[1], next[2]}, rate, rec.tool});
                }
            }
    }
};

} // namespace

TEST_F(WriteOpGcode, RepeatedOperationsMoveWhereTheOffsetToolpathDoes)
{
    struct Case {
        const char *post;
        int units;     // the project's: 1 inches, 2 metric
        double factor; // project to post units
        int metric;    // the post's units
        int tools;     // the post writes tool words (GRBL changes by hand)
    };
    const Case cases[] = {
        {"GRBL (Inches)", 1, 1.0, 0, 0},
        {"LinuxCNC (mm)", 1, 25.4, 1, 1},
        {"LinuxCNC (mm)", 2, 1.0, 1, 1},
        {"GRBL (Inches)", 2, 1 / 25.4, 0, 0},
    };
    setop(0, 1, cuts(0));
    setop(1, 2, cuts(0.375f));
    const int grid[2] = {2, 2};
    const float spacing[2] = {5.5f, 4.25f}, offset[3] = {1.25f, -0.5f, 0.125f};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.post) + (c.units == 1 ? ", inch project" : ", metric project"));
        ASSERT_EQ(cfg_settext(cfg_postpath, (std::string("posts/") + c.post + ".txt").c_str()), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin(c.post, c.units), 1);
        float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
        int points = 0;
        for (int op = 0; op < 2; op++)
            points += cam_writeoperation(op ? "second" : "first", op, offset, grid, spacing, pos, second);
        ASSERT_GT(cnc_end(program.c_str()), 0);
        int decimals = (int)std::lround(var_variables[postvars[cnc_motiondecimals]].numbers[0]);
        int feeddecimals = (int)std::lround(var_variables[postvars[cnc_feeddecimals]].numbers[0]);
        double step = std::pow(10.0, -decimals);

        std::vector<writeop_expect> want;
        double at[3] = {0, 0, 0};
        size_t total = 0;
        for (int op = 0; op < 2; op++) {
            expect(want, at, op, offset, grid, spacing, c.factor, step);
            total += 4 * writeop_points(toolpaths[cam_ops[op].toolpath]).size();
        }
        EXPECT_EQ((size_t)points, total);

        rs274_result run = rs274_run(program);
        ASSERT_EQ(run.status, 0) << run.canon;
        EXPECT_EQ(run.metric, c.metric);
        EXPECT_EQ(run.arcs, 0);
        std::vector<rs274_move> got = gcodetest_moved(run.moves, step);
        ASSERT_EQ(got.size(), want.size()) << run.canon;
        for (size_t i = 0; i < got.size(); i++) {
            SCOPED_TRACE("move " + std::to_string(i));
            EXPECT_EQ(got[i].feed, want[i].feed);
            EXPECT_EQ(got[i].tool, c.tools ? want[i].tool : 0);
            for (int a = 0; a < 3; a++)
                EXPECT_NEAR(got[i].end[a], want[i].end[a], step) << "axis " << a;
            if (want[i].feed) {
                EXPECT_NEAR(got[i].rate, want[i].rate, std::pow(10.0, -feeddecimals));
            }
        }
    }
}
