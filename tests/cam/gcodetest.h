// Test helper for generator runs written through a shipped post and read
// back by rs274: a fixture layer over a generator fixture that gives each
// test the post machinery and a scratch folder, and the steps every such
// test takes between a generated toolpath and rs274's moves.
#pragma once
#include "cam/cam.h"
#include "cam/cnc.h"
#include "cam/compile.h"
#include "cam/toolpath.h"
#include "cam/writeop.h"
#include "carvetest.h"
#include "gentest.h"
#include "rs274.h"
#include "sys/config.h"
#include "sys/var.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

// Operation record 0 as the project holds it: op's cutting fields and its
// compiled slot, ready for the writer.
inline camop &gcodetest_publish(const camop &op)
{
    camop &rec = cam_ops[0];
    rec.type = op.type, rec.tool = op.tool, rec.speed = op.speed, rec.coolant = op.coolant;
    rec.engagefeed = op.engagefeed, rec.feed = op.feed, rec.toolpath = op.toolpath;
    rec.generating = 0;
    return rec;
}

// Writes operation record 0 through the shipped post of that name for a
// project in units, as the program at path: once and unshifted, or repeated
// on a grid spacing apart from offset when these are given. Fatal failures
// stop the caller only through ASSERT_NO_FATAL_FAILURE.
inline void gcodetest_write(const std::string &path, const char *what, const char *post = "LinuxCNC (mm)",
                            int units = 1, const float *offset = nullptr, const int *grid = nullptr,
                            const float *spacing = nullptr)
{
    ASSERT_EQ(cfg_settext(cfg_postpath, (std::string("posts/") + post + ".txt").c_str()), 1);
    ASSERT_EQ(cnc_loadpost(), 1);
    ASSERT_EQ(cnc_begin(post, units), 1);
    static const int once[2] = {1, 1};
    static const float nowhere[3] = {0, 0, 0};
    offset = offset ? offset : nowhere, grid = grid ? grid : once, spacing = spacing ? spacing : nowhere;
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    ASSERT_GT(cam_writeoperation(what, 0, offset, grid, spacing, pos, second), 0);
    ASSERT_GT(cnc_end(path.c_str()), 0);
}

// rs274's moves of a program in millimetres over a w x h inch canvas whose
// top is z = 0, cut at most depth deep: more than minmoves moves, every one
// over the canvas (the post's home moves aside) and no deeper than depth,
// no feed starting higher than an entry cut does (0.04 inch over the top),
// and more than minmoves feeds.
inline void gcodetest_expectovercanvas(const rs274_result &run, double w, double h, double depth, size_t minmoves)
{
    const double mm = 25.4;
    ASSERT_GT(run.moves.size(), minmoves);
    size_t feeds = 0;
    for (const rs274_move &m : run.moves) {
        if (m.end[0] == 0 && m.end[1] == 0)
            continue; // the post's home moves
        EXPECT_GE(m.end[0], -0.01);
        EXPECT_LE(m.end[0], w * mm + 0.01);
        EXPECT_GE(m.end[1], -0.01);
        EXPECT_LE(m.end[1], h * mm + 0.01);
        EXPECT_GE(m.end[2], -depth * mm - 0.01);
        if (m.feed)
            EXPECT_LE(m.end[2], 0.04 * mm + 0.01) << "cuts and entries start at most 0.04 inch above the top";
        feeds += m.feed;
    }
    EXPECT_GT(feeds, minmoves);
}

// The post machinery and a scratch folder for the programs of one test,
// removed again with operation record 0 and any program left half-written.
template <class Base>
class GcodeTest : public Base {
protected:
    std::filesystem::path dir;
    void SetUp() override
    {
        Base::SetUp();
        ASSERT_EQ(cnc_init(), 1);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
        for (char &c : name)
            c = (char)std::tolower((unsigned char)c);
        dir = std::filesystem::temp_directory_path() / ("kerfmill-" + name + "-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override
    {
        if (cncout.text)
            cnc_end((dir / "unfinished.ngc").string().c_str());
        cam_ops[0].type = 0;
        cam_ops[0].toolpath = -1;
        Base::TearDown();
        std::filesystem::remove_all(dir);
    }
};

// A generator fixture over a 2 x 2 x 0.5 inch canvas of gentle waves, its
// top at z = 0, for programs that must stay over it.
class WavesGcodeTest : public GcodeTest<GenTest> {
protected:
    void SetUp() override
    {
        GcodeTest<GenTest>::SetUp();
        static const float size[3] = {2, 2, 0.5f}, frac[3] = {0, 0, 1};
        std::vector<float> field(64 * 64);
        for (int j = 0; j < 64; j++)
            for (int i = 0; i < 64; i++)
                field[(size_t)j * 64 + i] = 0.5f + 0.3f * std::sin(i * 0.1f) * std::cos(j * 0.12f);
        setcanvas(field, 64, 64, size, frac);
    }
    // Runs gen on op (cut at most 0.3 deep), writes it as the program what
    // and reads it back: rs274 accepts it and its moves stay over the
    // canvas (gcodetest_expectovercanvas).
    void runovercanvas(camop_generator gen, const char *what)
    {
        ASSERT_TRUE(rungenerator(gen));
        ASSERT_GE(op.toolpath, 0);
        camop &rec = gcodetest_publish(op);
        const std::string program = (dir / (std::string(what) + ".ngc")).string();
        ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, what));
        rs274_result run = rs274_run(program);
        ASSERT_EQ(run.status, 0) << run.canon;
        EXPECT_EQ(run.metric, 1);
        ASSERT_NO_FATAL_FAILURE(gcodetest_expectovercanvas(run, 2, 2, 0.3, 50));
        toolpath_free(op.toolpath);
        rec.type = 0, rec.toolpath = -1;
    }
};

// One straight move the machine should make, or did make: feed or
// traverse, and where it ends in post units.
struct gcodetest_move {
    int feed;
    double end[3];
};

// The resolution of the loaded post's motion words: a unit of its last
// decimal.
inline double gcodetest_resolution()
{
    const int decimals = (int)std::lround(var_variables[postvars[cnc_motiondecimals]].numbers[0]);
    return std::pow(10.0, -decimals);
}

// Appends the moves one copy of the compiled slot should make, worked out
// from the slot alone: each point's axes offset by base (project units) and
// scaled by factor to post units; a point that moves no axis by a
// resolution step from at (the machine's place, moved along) writes nothing.
inline void gcodetest_expect(std::vector<gcodetest_move> &out, double at[3], int slot, const double base[3],
                             double factor, double step)
{
    const toolpath &tp = toolpaths[slot];
    size_t p = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++) {
        const move &mv = tp.moves[m];
        for (uint32_t k = 0; k < mv.count; k++) {
            double next[3] = {at[0], at[1], at[2]};
            bool moved = false;
            for (int a = 0; a < 3; a++)
                if (mv.code & (1u << a)) {
                    next[a] = (base[a] + tp.parms[p++]) * factor;
                    moved |= std::llround(next[a] / step) != std::llround(at[a] / step);
                }
            if (!moved)
                continue;
            for (int a = 0; a < 3; a++)
                at[a] = next[a];
            out.push_back({mv.kind == move_feed, {next[0], next[1], next[2]}});
        }
    }
}

// rs274 repeats a move to where the machine already is (the engine writes
// every axis again after a tool change); such moves are no moves.
inline std::vector<rs274_move> gcodetest_moved(const std::vector<rs274_move> &moves, double step)
{
    std::vector<rs274_move> out;
    double at[3] = {0, 0, 0};
    for (const rs274_move &m : moves) {
        bool moved = false;
        for (int a = 0; a < 3; a++)
            moved |= std::fabs(m.end[a] - at[a]) > step / 2;
        for (int a = 0; a < 3; a++)
            at[a] = m.end[a];
        if (moved)
            out.push_back(m);
    }
    return out;
}

// rs274's straight moves less those to where the machine already is.
inline std::vector<gcodetest_move> gcodetest_made(const std::vector<rs274_move> &moves, double step)
{
    std::vector<gcodetest_move> out;
    for (const rs274_move &m : gcodetest_moved(moves, step))
        out.push_back({m.feed, {m.end[0], m.end[1], m.end[2]}});
    return out;
}

// The moves made are the moves expected, each within step of its end; the
// first five that are not are named.
inline void gcodetest_expectsame(const std::vector<gcodetest_move> &got, const std::vector<gcodetest_move> &want,
                                 double step)
{
    ASSERT_EQ(got.size(), want.size());
    int wrong = 0;
    for (size_t i = 0; i < got.size() && wrong < 5; i++) {
        bool same = got[i].feed == want[i].feed;
        for (int a = 0; a < 3; a++)
            same = same && std::fabs(got[i].end[a] - want[i].end[a]) <= step;
        if (!same)
            ADD_FAILURE() << "move " << i << ": " << (got[i].feed ? "feed to " : "rapid to ") << got[i].end[0] << ", "
                          << got[i].end[1] << ", " << got[i].end[2] << "; expected "
                          << (want[i].feed ? "feed to " : "rapid to ") << want[i].end[0] << ", " << want[i].end[1]
                          << ", " << want[i].end[2];
        wrong += !same;
    }
}

// A unit-square canvas of n x n pixels: 0.75 deep where pocket(x, y) holds
// (x, y from 0 to 1, y up), the top, 1, elsewhere.
inline carve_canvas gcodetest_pocketcanvas(int n, bool (*pocket)(float, float))
{
    carve_canvas canvas{n, n, {1, 1, 1}, {0, 0, 0}, {}};
    canvas.field.resize((size_t)n * n);
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++)
            canvas.field[(size_t)j * n + i] = pocket((i + 0.5f) / n, 1.0f - (j + 0.5f) / n) ? 0.75f : 1.0f;
    return canvas;
}

// rs274's moves, divided by factor back into project units, as carve moves.
inline std::vector<carve_point> gcodetest_carvemoves(const rs274_result &run, double factor)
{
    std::vector<carve_point> moves;
    for (const rs274_move &m : run.moves)
        moves.push_back({moves.empty() ? carve_point::start : m.feed ? carve_point::feed : carve_point::rapid,
                         m.end[0] / factor, m.end[1] / factor, m.end[2] / factor});
    return moves;
}
