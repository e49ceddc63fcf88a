// Exported programs checked by an independent interpreter: LinuxCNC's rs274
// reads each program and prints the canonical moves it would make. Every
// shipped post must give a program it accepts, and its straight moves must
// end where the toolpath's moves do. A missing rs274 fails these tests.
#include "cam/cnc.h"
#include "cam/compile.h"
#include "cam/engage.h"
#include "camtest.h"
#include "rs274.h"
#include "sys/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vec3 = std::array<double, 3>;

const char *const gcode_posts[] = {
    "GRBL (Inches)", "GRBL (mm)", "LinuxCNC (Inches)", "LinuxCNC (mm)", "Tool Changer M6 (Inches)",
    "Tool Changer M6 (mm)", "Generic ISO (numbered)",
};

std::string gcode_read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A compiled point: its kind, the axes it sets and the full position.
struct gcode_point {
    uint32_t kind, axes;
    float pos[3];
};

std::vector<gcode_point> gcode_points(const toolpath &tp)
{
    std::vector<gcode_point> out;
    float pos[3] = {0, 0, 0};
    size_t at = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++) {
        const move &mv = tp.moves[m];
        for (uint32_t i = 0; i < mv.count; i++) {
            for (int a = 0; a < 3; a++)
                if (mv.code & (1u << a))
                    pos[a] = tp.parms[at++];
            for (int pair = 3; pair < 6; pair++)
                if (mv.code & (1u << pair))
                    at += 2;
            out.push_back({mv.kind, mv.code & 7u, {pos[0], pos[1], pos[2]}});
        }
    }
    return out;
}

class Gcode : public ToolpathTest {
protected:
    fs::path dir;
    std::string program, post;
    void SetUp() override
    {
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-gcode-" + std::to_string(getpid()));
        fs::create_directories(dir);
        program = (dir / "prog.ngc").string();
        post = (dir / "post.txt").string();
    }
    void TearDown() override
    {
        ToolpathTest::TearDown();
        fs::remove_all(dir);
    }

    // Runs rs274 on the program: its exit status, the endpoints of its
    // straight moves into ends.
    static int rs274(const std::string &path, std::vector<vec3> *ends = nullptr)
    {
        rs274_result r = rs274_run(path);
        EXPECT_NE(r.status, -1) << r.canon;
        for (const rs274_move &m : r.moves)
            if (ends)
                ends->push_back({m.end[0], m.end[1], m.end[2]});
        return r.status;
    }

    // The hand-built slots, compiled: a plunge, a ramp, a linked closed
    // ring, a direct entry and sub-resolution steps; the second slot is the
    // first shifted, for a second tool.
    std::vector<gcode_point> slotmoves(float shift)
    {
        int slot = claim();
        float end[3];
        const float plunge[] = {0, 0, -0.5f, 2, 0, -0.5f, 2, 1, -0.5f};
        const float ramp[] = {3, 0, -0.4f, 5, 0, -0.4f, 5, 2, -0.4f};
        const float ring[] = {5, 2, -0.4f, 6, 2, -0.4f, 6, 3, -0.4f, 5, 3, -0.4f};
        const float direct[] = {8, 1, -0.3f, 9, 1, -0.3f};
        const float tiny[] = {10, 0, -0.2f, 10.00001f, 0, -0.2f, 10.00002f, 0.00001f, -0.2f, 10.00003f, 0.00001f,
                              -0.20001f, 11, 0, -0.2f};
        struct piece {
            const float *verts;
            int count, engage, link, closed;
        };
        const piece pieces[] = {{plunge, 3, 0, 0, 0}, {ramp, 3, 1, 0, 0}, {ring, 4, 0, 1, 1},
                                {direct, 2, 3, 0, 0}, {tiny, 5, 0, 0, 0}};
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
        return gcode_points(toolpaths[slot]);
    }

    // Feeds points through the open program, collecting where each written
    // move ends in post units.
    static void feed(const std::vector<gcode_point> &points, float rate, vec3 &at, std::vector<vec3> &want)
    {
        for (const gcode_point &p : points) {
            float pos[3] = {p.pos[0], p.pos[1], p.pos[2]};
            int wrote = p.kind == move_rapid ? cnc_rapid(pos, p.axes) : cnc_linear(pos, rate, p.axes);
            if (!wrote)
                continue;
            for (int a = 0; a < 3; a++)
                if (p.axes >> a & 1)
                    at[a] = pos[a];
            want.push_back(at);
        }
    }

    static void compare(const std::vector<vec3> &got, const std::vector<vec3> &want, double tolerance)
    {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++)
            for (int a = 0; a < 3; a++)
                ASSERT_NEAR(got[i][a], want[i][a], tolerance) << "move " << i << " axis " << a;
    }
};

} // namespace

TEST_F(Gcode, EveryShippedPostMovesWhereTheToolpathDoes)
{
    std::vector<gcode_point> first = slotmoves(0), second = slotmoves(4);
    ASSERT_GT(first.size(), 20u);
    for (const char *name : gcode_posts) {
        SCOPED_TRACE(name);
        ASSERT_EQ(cfg_settext(cfg_postpath, (std::string("posts/") + name + ".txt").c_str()), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin(name, 1), 1); // an inch project
        vec3 at = {0, 0, 0};
        std::vector<vec3> want;
        cnc_spindle(1, 12000);
        feed(first, 30, at, want);
        cncout.lasttool = 2;
        cnc_coolanttool(2);
        cnc_spindle(1, 16000);
        feed(second, 20, at, want);
        ASSERT_GT(cnc_end(program.c_str()), 0);
        std::vector<vec3> got;
        ASSERT_EQ(rs274(program, &got), 0) << gcode_read(program);
        int decimals = (int)lround(var_variables[postvars[cnc_motiondecimals]].numbers[0]);
        compare(got, want, std::max(pow(10.0, -decimals), 1e-4));
    }
}

// Relative coordinates, modal and not: 10,000 steps of 0.00037 mm at three
// decimals must not drift, and unchanged axes must not move.
TEST_F(Gcode, RelativeStepsDoNotDrift)
{
    std::string base = gcode_read("posts/GRBL (mm).txt");
    for (int modal = 0; modal <= 1; modal++) {
        SCOPED_TRACE(modal);
        std::ofstream(post) << base << "UseRelativeCoord 1\nModalCoord " << modal << "\n";
        ASSERT_EQ(cfg_settext(cfg_postpath, post.c_str()), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin("relative", 2), 1);
        vec3 at = {0, 0, 0};
        std::vector<vec3> want;
        std::vector<gcode_point> points;
        points.push_back({move_rapid, 7, {0, 0, 1}});
        points.push_back({move_feed, 4, {0, 0, -0.5f}});
        for (int i = 1; i <= 10000; i++)
            points.push_back({move_feed, 3, {0.00037f * i, 0.5f, -0.5f}});
        feed(points, 500, at, want);
        ASSERT_GT(cnc_end(program.c_str()), 0);
        std::vector<vec3> got;
        ASSERT_EQ(rs274(program, &got), 0);
        compare(got, want, 1e-3);
        ASSERT_FALSE(got.empty());
        EXPECT_NEAR(got.back()[0], 3.7, 1e-3);
    }
}

// The interpreter itself refuses what the engine must never write.
TEST_F(Gcode, InterpreterRefusesExponentsAndNestedComments)
{
    const char *programs[] = {"G21 G90\nG0 X1e-05\nM30\n", "G21\n( Post: GRBL (Inches) v1.10 )\nM30\n"};
    for (const char *text : programs) {
        std::ofstream(program) << text;
        EXPECT_EQ(rs274(program), 1) << text;
    }
    std::ofstream(program) << "G21\n( Post: GRBL [Inches] v1.10 )\nG0 X0.00001\nM30\n";
    EXPECT_EQ(rs274(program), 0);
}

// GRBL 1.1 reads a small set of words, one motion word a line, and needs a
// feed before its first feed move.
TEST_F(Gcode, GrblProgramsUseOnlyGrblWords)
{
    std::vector<gcode_point> first = slotmoves(0);
    static const std::regex word("([A-Z])([-+]?[0-9.]+)");
    static const std::regex allowed("G(0|1|2|3|4|17|18|19|20|21|90|91|93|94)|M(0|1|2|3|4|5|7|8|9|30)|[FSTXYZIJKRPN].*");
    for (const char *name : {"GRBL (Inches)", "GRBL (mm)"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(cfg_settext(cfg_postpath, (std::string("posts/") + name + ".txt").c_str()), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin(name, 1), 1);
        vec3 at = {0, 0, 0};
        std::vector<vec3> want;
        cnc_spindle(1, 12000);
        feed(first, 30, at, want);
        cncout.lasttool = 2;
        cnc_coolanttool(2);
        ASSERT_GT(cnc_end(program.c_str()), 0);
        std::string text = gcode_read(program);
        EXPECT_EQ(text.find("null"), std::string::npos);
        EXPECT_FALSE(std::regex_search(text, std::regex("[0-9]e[-+]?[0-9]"))) << "no exponent";
        std::stringstream lines(text);
        std::string line;
        bool fed = false, linear = false;
        while (std::getline(lines, line)) {
            std::string code = std::regex_replace(line, std::regex("\\(.*\\)"), "");
            int motions = 0;
            for (std::sregex_iterator it(code.begin(), code.end(), word), end; it != end; ++it) {
                std::string w = (*it)[0];
                EXPECT_TRUE(std::regex_match(w, allowed)) << w << " in " << line;
                std::string letter = (*it)[1];
                double value = std::stod((*it)[2]);
                if (letter == "G" && (value == 0 || value == 1 || value == 2 || value == 3)) {
                    motions++;
                    linear = value == 1;
                }
                if (letter == "F")
                    fed = true;
            }
            EXPECT_LE(motions, 1) << line;
            if (linear)
                EXPECT_TRUE(fed) << "a feed word comes with or before the first G1: " << line;
        }
    }
}
