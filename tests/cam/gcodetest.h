// Test helper for generator runs written through a shipped post and read
// back by rs274: a fixture layer over a generator fixture that gives each
// test the post machinery and a scratch folder, and the steps every such
// test takes between a generated toolpath and rs274's moves.
#pragma once
#include "cam/cam.h"
#include "cam/cnc.h"
#include "cam/writeop.h"
#include "rs274.h"
#include "sys/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>

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

// Writes operation record 0 once, unshifted, through the shipped post of
// that name for a project in units, as the program at path. Fatal failures
// stop the caller only through ASSERT_NO_FATAL_FAILURE.
inline void gcodetest_write(const std::string &path, const char *what, const char *post = "LinuxCNC (mm)",
                            int units = 1)
{
    ASSERT_EQ(cfg_settext(cfg_postpath, (std::string("posts/") + post + ".txt").c_str()), 1);
    ASSERT_EQ(cnc_loadpost(), 1);
    ASSERT_EQ(cnc_begin(post, units), 1);
    const int grid[2] = {1, 1};
    const float spacing[2] = {0, 0}, offset[3] = {0, 0, 0};
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
