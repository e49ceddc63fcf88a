// Post-processor variables (a post-processor script names them, the output
// engine addresses them by position, so the registration order is fixed) and
// the output engine: numbering, number words, comments, block runs, the
// first moves, and posts with faults.
#include "cam/cnc.h"

#include "sys/config.h"
#include "sys/mem.h"
#include "sys/var.h"
#include "testlog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

TEST(PostVars, RegisteredInTheirFixedOrder)
{
    ASSERT_EQ(cnc_init(), 1);
    struct Case {
        int position;
        const char *name;
    };
    const Case cases[] = {
        {0, "Version"},     {1, "FileExtension"}, {2, "ReadStart"},     {21, "Units"},
        {42, "ArcFormat"},  {48, "ArcMaxAngle"},  {49, "CodeRapid"},    {68, "RegisterX"},
        {78, "PrefixBlock"}, {88, "LinearBlock"}, {90, "CNC_SEQUENCE"}, {104, "CNC_GCODE"},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(cnc_postvarnames[c.position], c.name);
        EXPECT_EQ(postvars[c.position], var_find(c.name)) << c.name;
    }
    std::set<int> ids(postvars, postvars + cnc_postvarcount);
    EXPECT_EQ(ids.size(), (size_t)cnc_postvarcount) << "every name is its own variable";
    EXPECT_EQ(ids.count(-1), 0u);
    // A second start finds the same variables.
    int first = postvars[50];
    ASSERT_EQ(cnc_init(), 1);
    EXPECT_EQ(postvars[50], first);
}

// The output engine, driven through real post files: the shipped GRBL (mm)
// post with lines of a test appended (a later statement overrides an
// earlier one), the program saved to a scratch folder and read back.
namespace {

namespace fs = std::filesystem;

std::string cnc_readfile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Cnc : public testing::Test {
protected:
    fs::path dir;
    std::string post, out;
    void SetUp() override
    {
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-cnc-" + std::to_string(getpid()));
        fs::create_directories(dir);
        post = (dir / "post.txt").string();
        out = (dir / "prog.nc").string();
    }
    void TearDown() override
    {
        cnc_realloc = sys_realloc;
        if (cncout.text)
            cnc_end(out.c_str());
        fs::remove_all(dir);
    }
    // Loads the shipped post with extra statements after it.
    int load(const std::string &extra, const char *base = "posts/GRBL (mm).txt")
    {
        std::string text = cnc_readfile(base);
        EXPECT_FALSE(text.empty()) << base;
        std::ofstream(post, std::ios::binary) << text << extra;
        EXPECT_EQ(cfg_settext(cfg_postpath, post.c_str()), 1);
        return cnc_loadpost();
    }
    std::string finish()
    {
        EXPECT_GT(cnc_end(out.c_str()), 0);
        return cnc_readfile(out);
    }
    // The program's lines without the comment lines.
    static std::vector<std::string> blocks(const std::string &text)
    {
        std::vector<std::string> lines;
        std::stringstream s(text);
        std::string line;
        while (std::getline(s, line))
            if (line.find('(') == std::string::npos)
                lines.push_back(line);
        return lines;
    }
};

} // namespace

// The lines between the prefix and the postfix, for a list of feed moves.
TEST_F(Cnc, EdgeCasesOfNumberingAndModalWords)
{
    struct Case {
        const char *name;
        const char *post;
        std::vector<std::array<float, 3>> moves;
        std::vector<std::string> lines; // the prefix block first, M30 last
    };
    const Case cases[] = {
        {"numbering off by a negative start", "UseSequenceNums 1\nSequenceStart -1\n",
         {{1, 0, 0}},
         {"G21 G90 G17", "G1 X1 Y0 Z0 F100", "M30"}},
        {"four digits from 10 by 10", "UseSequenceNums 1\nSequenceDigits 4\nSequenceStart 10\n",
         {{1, 0, 0}, {2, 0, 0}},
         {"N0010 G21 G90 G17", "N0020 G1 X1 Y0 Z0 F100", "N0030 X2", "N0040 M30"}},
        {"Y-only moves", "", {{1, 1, -1}, {1, 2, -1}, {1, 3, -1}},
         {"G21 G90 G17", "G1 X1 Y1 Z-1 F100", "Y2", "Y3", "M30"}},
        {"a move under half the resolution", "", {{1, 1, 1}, {1.0004f, 1.0004f, 0.9996f}, {1.0006f, 1, 1}},
         {"G21 G90 G17", "G1 X1 Y1 Z1 F100", "X1.001", "M30"}},
        {"relative, no repeated distance", "UseRelativeCoord 1\nModalCoord 0\n",
         {{1, 1, 0}, {2, 1, 0}, {2, 1.5f, 0}},
         {"G21 G91 G17", "G1 X1 Y1 Z0 F100", "X1", "Y0.5", "M30"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(load(c.post + std::string("UseComments 0\n")), 1);
        ASSERT_EQ(cnc_begin("Test", 2), 1);
        for (auto m : c.moves)
            cnc_linear(m.data(), 100);
        std::vector<std::string> got = blocks(finish());
        EXPECT_EQ(got, c.lines);
    }
}

TEST_F(Cnc, NumbersAreFixedPointAtThePostsDecimals)
{
    struct Case {
        const char *post;
        float x, feed;
        const char *line;
    };
    const Case cases[] = {
        {"MotionDecimals 5\n", 0.00001f, 100, "G1 X0.00001 F100"},
        {"MotionDecimals 4\n", -0.00004f, 100, "G1 X0 F100"},
        {"MotionDecimals 4\n", 1234.5625f, 100, "G1 X1234.5625 F100"},
        {"FeedMax 2000000\n", 1, 1e6f, "G1 X1 F1000000"},
        {"UsePlusSign 1\n", 1.5f, 100, "G1 X+1.5 F+100"},
        {"MotionTrailingZeroes 1\nFeedTrailingZeroes 1\nFeedDecimals 1\n", 1.5f, 100, "G1 X1.500 F100.0"},
        {"MotionTrailingZeroes 1\n", 0.0f, 100, "G1 X0.000 F100"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(load(c.post + std::string("UseComments 0\n")), 1);
        ASSERT_EQ(cnc_begin("Test", 2), 1);
        float pos[3] = {c.x, 0, 0};
        ASSERT_EQ(cnc_linear(pos, c.feed, 1), 1);
        std::vector<std::string> got = blocks(finish());
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[1], c.line);
    }
    // Numbers named in templates take the same form.
    char field[64];
    var_formatnumber(1e6, 3, 0, field, sizeof(field));
    EXPECT_STREQ(field, "1000000");
    var_formatnumber(0.00001, 5, 0, field, sizeof(field));
    EXPECT_STREQ(field, "0.00001");
}

TEST_F(Cnc, InchProjectThroughAMetricPost)
{
    ASSERT_EQ(load("UseComments 0\n"), 1);
    ASSERT_EQ(cnc_begin("Test", 1), 1);
    cnc_spindle(1, 12000);
    cnc_spindle(1, 12000); // the same state: one block
    float pos[3] = {1, 0.5f, -0.25f};
    cnc_linear(pos, 10);
    EXPECT_FLOAT_EQ(pos[0], 25.4f);
    std::vector<std::string> got = blocks(finish());
    const std::vector<std::string> want = {"G21 G90 G17", "M3 S12000", "G1 X25.4 Y12.7 Z-6.35 F254", "M5", "M30"};
    EXPECT_EQ(got, want);
}

TEST_F(Cnc, BlockRunsCollapseWithoutMergingLines)
{
    ASSERT_EQ(load("UseComments 0\n"), 1);
    ASSERT_EQ(cnc_begin("Test", 2), 1);
    cnc_block(" G0  Z5 \n");
    cnc_block("G0 X1 \n \nG1 Z-1\n");
    cnc_comment(" Post: GRBL (Inches) v1.10 \n"); // comments are off: nothing
    std::vector<std::string> got = blocks(finish());
    const std::vector<std::string> want = {"G21 G90 G17", "G0 Z5", "G0 X1", "G1 Z-1", "M30"};
    EXPECT_EQ(got, want);
}

TEST_F(Cnc, CommentsCannotNestOrEndEarly)
{
    ASSERT_EQ(load(""), 1);
    ASSERT_EQ(cnc_begin("GRBL (Inches)", 1), 1);
    cnc_comment(" op (pocket) \n2 ");
    std::string text = finish();
    EXPECT_NE(text.find("( Post: GRBL [Inches] v1.10 )\n"), std::string::npos) << text;
    EXPECT_NE(text.find("( op [pocket]  2 )\n"), std::string::npos) << text;
}

TEST_F(Cnc, FirstMoveWritesOnlyTheAxesItSets)
{
    ASSERT_EQ(load("UseComments 0\nModalCoord 0\n"), 1);
    ASSERT_EQ(cnc_begin("Test", 2), 1);
    float up[3] = {0, 0, 5};
    cnc_rapid(up, 4);
    float over[3] = {3, 4, 5};
    cnc_rapid(over, 3);
    // A tool change may move the machine: every word is written again.
    cncout.lasttool = 2;
    cnc_coolanttool(2);
    float again[3] = {3, 4, 5};
    cnc_rapid(again, 7);
    float cut[3] = {3, 5, 5};
    cnc_linear(cut, 100, 7);
    std::vector<std::string> got = blocks(finish());
    const std::vector<std::string> want = {"G21 G90 G17", "G0 Z5", "X3 Y4 Z5", "M0", "G0 X3 Y4 Z5", "G1 X3 Y5 Z5 F100", "M30"};
    EXPECT_EQ(got, want);
}

// Posts with faults: each either loads and writes a program or is refused
// with a reason that names the file and the cause.
TEST_F(Cnc, BadPostsAreRefusedOrHarmless)
{
    struct Case {
        const char *name;
        std::string extra;
        bool loads;
        const char *logged; // part of the refusal, when refused
    };
    const Case cases[] = {
        {"unterminated quote", "CodeRapid \"G0\nCodeLinear \"G1\"\n", false, "Line: "},
        {"unknown variable", "NoSuchThing 5\n", true, ""},
        {"unknown escape", "RapidBlock \"[CNC_GCODE]\\q[EndOfBlock]\"\n", false, "\"RapidBlock\" does not expand"},
        {"missing bracket", "LinearBlock \"[CNC_GCODE][CNC_X\"\n", false, "\"LinearBlock\" does not expand"},
        {"self reference", "PrefixBlock \"[PrefixBlock]\"\n", false, "\"PrefixBlock\" does not expand"},
        {"long line", "// " + std::string(1100, 'x') + "\n", true, ""},
        {"text for a number", "FeedMax fast\n", false, "\"FeedMax\" must be a number"},
        {"no rapid block", "", false, "\"RapidBlock\" is not set"},
        {"zero scale", "MotionScaleY 0\n", false, "\"MotionScaleY\" must not be 0"},
        {"seven decimals", "MotionDecimals 7\n", false, "\"MotionDecimals\" must be 0 to 6"},
        {"units 2", "Units 2\n", false, "\"Units\""},
        {"no spindle limit", "SpeedMax 0\n", false, "\"SpeedMax\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = cnc_readfile("posts/GRBL (mm).txt");
        if (std::string(c.name) == "no rapid block")
            text.erase(text.find("RapidBlock"), text.find('\n', text.find("RapidBlock")) - text.find("RapidBlock"));
        std::ofstream(post, std::ios::binary) << text << c.extra;
        ASSERT_EQ(cfg_settext(cfg_postpath, post.c_str()), 1);
        testlog_capture log;
        int ok = cnc_loadpost();
        EXPECT_EQ(ok, c.loads ? 1 : 0);
        if (!ok) {
            EXPECT_TRUE(log.contains(c.logged)) << c.logged;
            EXPECT_TRUE(log.contains("post.txt")) << "names the file";
            continue;
        }
        ASSERT_EQ(cnc_begin("Test", 2), 1);
        float pos[3] = {1, 2, 3};
        cnc_linear(pos, 100);
        std::string program = finish();
        EXPECT_NE(program.find("G1 X1 Y2 Z3 F100\n"), std::string::npos) << program;
    }
}

TEST_F(Cnc, LineEndsAndByteOrderMarkGiveThePlainProgram)
{
    std::string plain = cnc_readfile("posts/GRBL (mm).txt");
    std::string crlf;
    for (char ch : plain)
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    std::string programs[3];
    const std::string posts[3] = {plain, crlf, "\xEF\xBB\xBF" + plain};
    for (int i = 0; i < 3; i++) {
        std::ofstream(post, std::ios::binary) << posts[i];
        ASSERT_EQ(cfg_settext(cfg_postpath, post.c_str()), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin("Test", 2), 1);
        float pos[3] = {1, 2, 3};
        cnc_linear(pos, 100);
        programs[i] = finish();
    }
    EXPECT_EQ(programs[1], programs[0]);
    EXPECT_EQ(programs[2], programs[0]);
    EXPECT_EQ(programs[0].find('\r'), std::string::npos);
}

TEST_F(Cnc, FailedSaveLeavesNoProgram)
{
    ASSERT_EQ(load(""), 1);
    ASSERT_EQ(cnc_begin("Test", 2), 1);
    EXPECT_EQ(cnc_begin("Again", 2), 0);
    std::string bad = (dir / "missing" / "prog.nc").string();
    EXPECT_EQ(cnc_end(bad.c_str()), 0);
    EXPECT_FALSE(fs::exists(bad));
    EXPECT_EQ(cncout.text, nullptr);
}

// A program that lost text when its buffer could not grow has a hole: it is
// never written, whatever was at the path stays, and the next program starts
// clean.
TEST_F(Cnc, RefusedGrowthWritesNoProgram)
{
    ASSERT_EQ(load(""), 1);
    std::ofstream(out, std::ios::binary) << "the previous program";
    ASSERT_EQ(cnc_begin("Test", 2), 1);
    testlog_capture log;
    cnc_realloc = [](void *, int32_t) -> void * { return nullptr; };
    float pos[3] = {0, 0, -1};
    for (int i = 0; i < 100000 && !cncout.failure; i++) {
        pos[0] = i * 0.01f;
        cnc_linear(pos, 100);
    }
    ASSERT_NE(cncout.failure, nullptr);
    EXPECT_GT(cncout.length, cnc_startcapacity / 2);
    const int32_t kept = cncout.length;
    // Later text that would fit is not appended after the hole either.
    cnc_realloc = sys_realloc;
    cnc_comment(" short ");
    EXPECT_EQ(cncout.length, kept);
    EXPECT_EQ(cnc_end(out.c_str()), 0);
    EXPECT_EQ(cncout.text, nullptr);
    EXPECT_EQ(cnc_readfile(out), "the previous program");
    EXPECT_TRUE(log.contains("[ ERROR ] cnc_reserve: the output buffer could not grow (65536 bytes)")) << log.text();
    EXPECT_TRUE(log.contains("[ ERROR ] cnc_end: " + out + " not written: the output buffer could not grow"));

    ASSERT_EQ(cnc_begin("Test", 2), 1);
    cnc_linear(pos, 100);
    EXPECT_NE(finish().find("G1 X"), std::string::npos);
}

TEST_F(Cnc, TheConfiguredDefaultOpensTheShippedPost)
{
    ASSERT_EQ(cfg_settext(cfg_postpath, "posts\\GRBL (Inches).txt"), 1);
    EXPECT_EQ(cnc_loadpost(), 1);
}
