// The operation writer, read back as program text: the serpentine grid of
// repetitions and its comments, the setup blocks of consecutive operations,
// the retract that comes before the move over to the next copy, arc codes
// that are tracked but never written, and the records it refuses.
#include "cam/cam.h"
#include "cam/cnc.h"
#include "cam/compile.h"
#include "cam/writeop.h"
#include "camtest.h"
#include "sys/config.h"
#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string writeop_readfile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A run of moves as the fixture lays it into a slot: count points of one
// kind and code, their floats in the order the code gives them.
struct run {
    uint32_t kind, code, count;
    std::vector<float> values;
};

// Programs through the shipped LinuxCNC (mm) post for a metric project,
// with statements of a test appended and every word repeated in every
// block (ModalCoord 0), so each line shows the full position.
class WriteOp : public ToolpathTest {
protected:
    fs::path dir;
    std::string post, out;
    void SetUp() override
    {
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-writeop-" + std::to_string(getpid()));
        fs::create_directories(dir);
        post = (dir / "post.txt").string();
        out = (dir / "prog.ngc").string();
    }
    void TearDown() override
    {
        if (cncout.text)
            cnc_end(out.c_str());
        for (camop &op : cam_ops) {
            op.type = 0;
            op.toolpath = -1;
            op.generating = 0;
        }
        ToolpathTest::TearDown();
        fs::remove_all(dir);
    }
    void open(const std::string &extra = "")
    {
        std::string text = writeop_readfile("posts/LinuxCNC (mm).txt");
        ASSERT_FALSE(text.empty());
        std::ofstream(post, std::ios::binary) << text << "ModalCoord 0\n" << extra;
        ASSERT_EQ(cfg_settext(cfg_postpath, post.c_str()), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin("Test", 2), 1);
    }
    std::vector<std::string> finish()
    {
        EXPECT_GT(cnc_end(out.c_str()), 0);
        std::vector<std::string> lines;
        std::stringstream s(writeop_readfile(out));
        std::string line;
        while (std::getline(s, line))
            lines.push_back(line);
        return lines;
    }
    // The lines from the first one equal to from up to, not including, the
    // program's closing comment.
    static std::vector<std::string> body(const std::vector<std::string> &lines, const std::string &from)
    {
        std::vector<std::string> got;
        bool in = false;
        for (const std::string &l : lines) {
            in = in || l == from;
            if (l == "( End Program )")
                break;
            if (in)
                got.push_back(l);
        }
        return got;
    }
    static void setop(int i, int tool, int speed, int coolant, int slot)
    {
        camop &op = cam_ops[i];
        op.type = 1;
        op.tool = tool;
        op.speed = speed;
        op.coolant = coolant;
        op.engagefeed = 100;
        op.feed = 300;
        op.toolpath = slot;
    }
    // A slot holding one compiled cut: (1, 1) to (2, 1) to (2, 2) at Z -0.1,
    // safe height 0.5.
    static int compiled()
    {
        int slot = claim();
        const float verts[] = {1, 1, -0.1f, 2, 1, -0.1f, 2, 2, -0.1f};
        float end[3];
        toolpath_addpath(end, slot, 0, 0, 0, 0, 1, 3, verts);
        EXPECT_EQ(toolpath_compile(slot, 0.5f), 1);
        return slot;
    }
    // A slot holding exactly the runs given.
    static int laid(const std::vector<run> &runs)
    {
        int slot = claim();
        toolpath &tp = toolpaths[slot];
        size_t floats = 0;
        for (const run &r : runs)
            floats += r.values.size();
        tp.sz_moves = (uint32_t)runs.size() + 1;
        tp.sz_parms = (uint32_t)floats + 1;
        tp.moves = (move *)sys_calloc((int32_t)tp.sz_moves, sizeof(move));
        tp.parms = (float *)sys_calloc((int32_t)tp.sz_parms, sizeof(float));
        for (const run &r : runs) {
            tp.moves[tp.num_moves++] = {r.kind, r.code, r.count};
            for (float v : r.values)
                tp.parms[tp.num_parms++] = v;
        }
        return slot;
    }
};

const float zero3[3] = {0, 0, 0};

} // namespace

// Three columns, two rows, 10 apart in X and 20 in Y: the second row runs
// back from the right, and each copy is numbered in the order it is cut.
TEST_F(WriteOp, GridIsVisitedAsASerpentine)
{
    open();
    setop(0, 1, 12000, 1, compiled());
    const int grid[2] = {3, 2};
    const float spacing[2] = {10, 20};
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    // A compiled cut is six points: retract, over, plunge, two cuts, retract.
    EXPECT_EQ(cam_writeoperation("op", 0, zero3, grid, spacing, pos, second), 6 * 6);
    EXPECT_FLOAT_EQ(pos[0], 2);
    EXPECT_FLOAT_EQ(pos[1], 22);
    EXPECT_FLOAT_EQ(pos[2], 0.5f);
    std::vector<std::string> lines = finish();
    struct Case {
        const char *comment, *over; // the repetition's comment, its move over to the cut
    };
    const Case cases[] = {
        {"(repetition 1,1 at 0.0000,0.0000)", "X1 Y1 Z0.5"},   {"(repetition 2,1 at 10.0000,0.0000)", "X11 Y1 Z0.5"},
        {"(repetition 3,1 at 20.0000,0.0000)", "X21 Y1 Z0.5"}, {"(repetition 1,2 at 20.0000,20.0000)", "X21 Y21 Z0.5"},
        {"(repetition 2,2 at 10.0000,20.0000)", "X11 Y21 Z0.5"}, {"(repetition 3,2 at 0.0000,20.0000)", "X1 Y21 Z0.5"},
    };
    std::vector<std::string> comments;
    for (const std::string &l : lines)
        if (l.find("repetition") != std::string::npos)
            comments.push_back(l);
    ASSERT_EQ(comments.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); i++) {
        EXPECT_EQ(comments[i], cases[i].comment);
        std::vector<std::string> rep = body(lines, cases[i].comment);
        ASSERT_GE(rep.size(), 3u);
        // The retract over the previous copy is dropped as no move: each copy
        // ends at the safe height.
        size_t over = i == 0 ? 2 : 1;
        EXPECT_EQ(rep[over], cases[i].over) << cases[i].comment;
    }
}

// One copy: no repetition comment; the offset moves every axis, and the
// plunge goes at the engage feed, the cut at the feed.
TEST_F(WriteOp, SingleCopyIsWrittenWithoutComment)
{
    open();
    setop(0, 1, 12000, 1, compiled());
    const int grid[2] = {1, 1};
    const float spacing[2] = {10, 20}, offset[3] = {5, 6, -1};
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    EXPECT_EQ(cam_writeoperation("op", 0, offset, grid, spacing, pos, second), 6);
    std::vector<std::string> lines = finish();
    for (const std::string &l : lines)
        EXPECT_EQ(l.find("repetition"), std::string::npos) << l;
    const std::vector<std::string> want = {"G0 Z-0.5",    "X6 Y7 Z-0.5",    "G1 X6 Y7 Z-1.1 F100", "X7 Y7 Z-1.1 F300",
                                           "X7 Y8 Z-1.1", "G0 X7 Y8 Z-0.5", "( Spindle: STOP )",   "M5"};
    EXPECT_EQ(body(lines, "G0 Z-0.5"), want);
}

// Consecutive operations: a tool change only for a new tool, a spindle block
// only for a new speed (or after a tool change stopped it), the coolant
// block every time. Operations without moves write these blocks alone.
TEST_F(WriteOp, SetupBlocksOfConsecutiveOperations)
{
    open();
    setop(0, 1, 12000, 3, -1);
    setop(1, 1, 12000, 2, -1);
    setop(2, 1, 16000, 1, -1);
    setop(3, 2, 16000, 3, -1);
    const int grid[2] = {2, 2};
    const float spacing[2] = {10, 20};
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    const char *names[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(cam_writeoperation(names[i], i, zero3, grid, spacing, pos, second), 0);
    std::vector<std::string> got = body(finish(), "(A)");
    const std::vector<std::string> want = {
        "(A)", "( Tool: 1 )", "T1 M6 G43", "( Spindle: CW 12000 )", "M3 S12000", "( Coolant: FLOOD )", "M8",
        "(B)", "( Coolant: MIST )", "M7",
        "(C)", "( Spindle: CW 16000 )", "M3 S16000", "( Coolant: OFF )", "M9",
        "(D)", "( Spindle: STOP )", "M5", "( Tool: 2 )", "T2 M6 G43", "( Spindle: CW 16000 )", "M3",
        "( Coolant: FLOOD )", "M8",
        // the program's end
        "( Coolant: OFF )", "M9", "( Spindle: STOP )", "M5",
    };
    EXPECT_EQ(got, want);
}

// A copy that ends low (no final retract) is left upward first: the first
// rapid of the next copy gives only Z and keeps the last copy's X and Y.
// The same holds from one operation to the next through pos.
TEST_F(WriteOp, FirstRapidKeepsThePreviousXY)
{
    open();
    const std::vector<run> runs = {
        {move_rapid, move_z, 1, {1}},
        {move_rapid, move_x | move_y, 1, {1, 1}},
        {move_feed, move_z | move_engage, 1, {-0.1f}},
        {move_feed, move_x | move_y | move_z | move_cut, 1, {2, 1, -0.1f}},
    };
    setop(0, 1, 12000, 1, laid(runs));
    setop(1, 1, 12000, 1, laid(runs));
    const int grid[2] = {2, 1}, one[2] = {1, 1};
    const float spacing[2] = {10, 0}, offset[3] = {0, 50, 0};
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    EXPECT_EQ(cam_writeoperation("first", 0, zero3, grid, spacing, pos, second), 8);
    EXPECT_EQ(cam_writeoperation("second", 1, offset, one, spacing, pos, second), 4);
    std::vector<std::string> lines = finish();
    std::vector<std::string> rep = body(lines, "(repetition 2,1 at 10.0000,0.0000)");
    ASSERT_GE(rep.size(), 3u);
    EXPECT_EQ(rep[1], "G0 X2 Y1 Z1");
    EXPECT_EQ(rep[2], "X11 Y1 Z1");
    std::vector<std::string> next = body(lines, "(second)");
    ASSERT_GE(next.size(), 5u);
    EXPECT_EQ(next[3], "G0 X12 Y1 Z1");
    EXPECT_EQ(next[4], "X1 Y51 Z1");
    // The very first rapid of the program: X and Y are unknown, so only Z.
    EXPECT_EQ(body(lines, "(repetition 1,1 at 0.0000,0.0000)").at(1), "G0 Z1");
}

// Arc kinds 3 and 4 and the second-point codes: their floats are read and
// tracked, nothing is written for the arcs themselves, and the move after
// them is read from the right floats.
TEST_F(WriteOp, ArcCodesAreTrackedNotWritten)
{
    struct Case {
        const char *name;
        run arc;
        float second[3];                // where the operation leaves it
        std::vector<std::string> lines; // written between the plunge and the end
    };
    // The operation is offset by (100, 200, 10); the arc starts at the
    // plunge (101, 201, 9) and a cut to (103, 203, 8) follows it.
    const Case cases[] = {
        {"XY arc, second point in XY", {3, move_x | move_y | move_xy2, 1, {4, 5, 6, 7}}, {106, 207, 9},
         {"X103 Y203 Z8 F300"}},
        {"Z arc, second point in XZ", {4, move_z | move_xz2, 1, {-3, 6, 7}}, {106, 201, 17}, {"X103 Y203 Z8 F300"}},
        {"feed, second point in YZ", {2, move_x | move_yz2, 1, {4, 6, 7}}, {104, 206, 17},
         {"X104 Y201 Z9 F300", "X103 Y203 Z8"}},
        {"two arcs in one run", {3, move_x | move_xy2, 2, {2, 3, 4, 5, 6, 7}}, {106, 207, 9}, {"X103 Y203 Z8 F300"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        open();
        const std::vector<run> runs = {
            {move_rapid, move_x | move_y | move_z, 1, {1, 1, 0}},
            {move_feed, move_z | move_engage, 1, {-1}},
            c.arc,
            {move_feed, move_x | move_y | move_z | move_cut, 1, {3, 3, -2}},
        };
        setop(0, 1, 12000, 1, laid(runs));
        const int grid[2] = {1, 1};
        const float spacing[2] = {0, 0}, offset[3] = {100, 200, 10};
        float pos[3] = {0, 0, 0}, second[3] = {-1, -1, -1};
        EXPECT_EQ(cam_writeoperation("op", 0, offset, grid, spacing, pos, second), (int)(3 + c.arc.count));
        const float end[3] = {103, 203, 8};
        for (int a = 0; a < 3; a++) {
            EXPECT_FLOAT_EQ(second[a], c.second[a]) << "axis " << a;
            EXPECT_FLOAT_EQ(pos[a], end[a]) << "axis " << a;
        }
        std::vector<std::string> want = {"G0 X101 Y201 Z10", "G1 X101 Y201 Z9 F100"};
        want.insert(want.end(), c.lines.begin(), c.lines.end());
        want.insert(want.end(), {"( Spindle: STOP )", "M5"});
        EXPECT_EQ(body(finish(), "G0 X101 Y201 Z10"), want);
        ToolpathTest::TearDown();
    }
}

// What cannot be written is refused before anything is: -1, no program
// text, a logged line naming the function. Damaged slots: runs that claim
// more floats than the slot holds, a non-finite float, counts beyond the
// room of the arrays, billions of points that give no coordinate.
TEST_F(WriteOp, RefusalsWriteNothing)
{
    const int grid[2] = {2, 2};
    const float spacing[2] = {10, 20}, nan3[3] = {NAN, 0, 0};
    const float infspacing[2] = {INFINITY, 1};
    struct Case {
        const char *name;
        int op;
        const float *offset, *spacing;
        int generating;
        const char *log;
    };
    const Case cases[] = {
        {"a record below the table", -1, zero3, spacing, 0, "cam_writeoperation: no operation in record -1"},
        {"a record above the table", cam_maxops, zero3, spacing, 0, "cam_writeoperation: no operation in record 11"},
        {"a free record", 5, zero3, spacing, 0, "cam_writeoperation: no operation in record 5"},
        {"a generating record", 0, zero3, spacing, 1, "cam_writeoperation: op0 is still generating"},
        {"a NaN offset", 0, nan3, spacing, 0, "cam_writeoperation: offset nan,"},
        {"an infinite spacing", 0, zero3, infspacing, 0, "spacing inf,1.000000"},
        {"runs beyond the floats", 1, zero3, spacing, 0, "moves need more than its 6 parms"},
        {"a NaN float", 2, zero3, spacing, 0, "cam_writeoperation: toolpath2 parm 4 is not finite"},
        {"more moves than room", 3, zero3, spacing, 0, "more moves or parms than it has room for"},
        {"points without coordinates", 4, zero3, spacing, 0, "toolpath4 move 1 gives no coordinate"},
    };
    open();
    setop(0, 1, 12000, 3, compiled());
    setop(1, 1, 12000, 3,
          laid({{move_rapid, move_x | move_y | move_z, 1, {1, 1, 0}},
                {move_feed, move_x | move_y | move_z, 3, {2, 2, -1}}}));
    setop(2, 1, 12000, 3,
          laid({{move_rapid, move_x | move_y | move_z, 1, {1, 1, 0}}, {move_feed, move_x | move_y, 1, {2, NAN}}}));
    setop(3, 1, 12000, 3, laid({{move_rapid, move_z, 1, {1}}}));
    toolpaths[cam_ops[3].toolpath].num_moves = toolpaths[cam_ops[3].toolpath].sz_moves + 1;
    setop(4, 1, 12000, 3, laid({{move_rapid, move_z, 1, {1}}, {move_feed, move_engage, 4000000000u, {}}}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cam_ops[0].generating = c.generating;
        testlog_capture log;
        int32_t before = cncout.length;
        float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
        EXPECT_EQ(cam_writeoperation("op", c.op, c.offset, grid, c.spacing, pos, second), -1);
        EXPECT_EQ(cncout.length, before);
        EXPECT_TRUE(log.contains(c.log)) << log.text();
        cam_ops[0].generating = 0;
    }
    toolpaths[cam_ops[3].toolpath].num_moves = 1;
    // No program open.
    cnc_end(out.c_str());
    testlog_capture log;
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    EXPECT_EQ(cam_writeoperation("op", 0, zero3, grid, spacing, pos, second), -1);
    EXPECT_TRUE(log.contains("cam_writeoperation: no program is open"));
}

// Rows or columns below one write the setup blocks and no moves.
TEST_F(WriteOp, EmptyGridsWriteSetupOnly)
{
    open();
    setop(0, 1, 12000, 3, compiled());
    const float spacing[2] = {10, 20};
    float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
    const int norows[2] = {2, 0}, nocolumns[2] = {0, 3};
    EXPECT_EQ(cam_writeoperation("no rows", 0, zero3, norows, spacing, pos, second), 0);
    EXPECT_EQ(cam_writeoperation("no columns", 0, zero3, nocolumns, spacing, pos, second), 0);
    const std::vector<std::string> want = {
        "(no rows)",    "( Tool: 1 )",        "T1 M6 G43", "( Spindle: CW 12000 )", "M3 S12000", "( Coolant: FLOOD )",
        "M8",           "(no columns)",       "( Coolant: FLOOD )", "M8",
        // the program's end
        "( Coolant: OFF )", "M9", "( Spindle: STOP )", "M5"};
    EXPECT_EQ(body(finish(), "(no rows)"), want);
}
