// DXF import: drawings written by ezdxf whose every fitted point list must
// match ezdxf's own constructions, the reader's edge cases, and damaged or
// hostile files that must end in a logged error with what was read kept.
#include "mainwindow/import/dxf.h"

#include "geom/path.h"
#include "geom/pathedit.h"
#include "project/layer.h"
#include "sys/config.h"
#include "sys/mem.h"

#include "importfixtures.h"
#include "testenv.h"
#include "testfolder.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// What reached the path fitter.
struct fitcall {
    const path *p;
    std::vector<float> pts;
    int closed;
    float tolerance;
};
std::vector<fitcall> calls;
bool realfit = true; // fit for real, or one knot per point (cheap)

int recordcall(path *p, int n, const float *verts, int closed, float tolerance)
{
    calls.push_back({p, std::vector<float>(verts, verts + 3 * n), closed, tolerance});
    return addcurvepoly(p, n, verts, closed, realfit ? tolerance : 0);
}

struct Dxf : testing::Test {
    testlog_capture quiet; // the import logs a line per curve
    testfolder dir{"dxf"};
    scoped_env env;
    path *paths[dxf_maxlayers] = {};
    int count = 0;
    void SetUp() override
    {
        calls.clear();
        realfit = true;
        dxf_addcurve = recordcall;
        cfg_setf(cfg_dxftolerance, 0.5f);
        cfg_setf(cfg_dxfautojoin, 0.0f);
        numlayers = 0;
        env.set("KERFMILL_MSGBOX_ANSWERS", "no");
    }
    void TearDown() override
    {
        release();
        dxf_addcurve = addcurvepoly;
        cfg_setf(cfg_dxftolerance, 0.0f);
        numlayers = 0;
    }
    void release()
    {
        for (int i = 0; i < count; i++)
            path_free(paths[i]);
        count = 0;
        calls.clear();
    }
    int load(const std::string &text)
    {
        release();
        count = dxf_loadtext("C:\\drawings/part.dxf", text.data(), (int32_t)text.size(), paths);
        return count;
    }
};

// Pairs as a DXF writes them: code line, value line.
std::string pairs(std::initializer_list<std::pair<int, std::string>> list)
{
    std::string s;
    for (const auto &p : list)
        s += std::to_string(p.first) + "\n" + p.second + "\n";
    return s;
}

std::string layertable(const std::vector<std::string> &names)
{
    std::string s = pairs({{0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "LAYER"}, {70, std::to_string(names.size())}});
    for (const std::string &n : names)
        s += pairs({{0, "LAYER"}, {2, n}, {70, "0"}});
    return s + pairs({{0, "ENDTAB"}, {0, "ENDSEC"}});
}

std::string entities(const std::string &body)
{
    return pairs({{0, "SECTION"}, {2, "ENTITIES"}}) + body + pairs({{0, "ENDSEC"}, {0, "EOF"}});
}

std::string line(double x1, double y1, double x2, double y2, const std::string &layer = "0")
{
    return pairs({{0, "LINE"}, {8, layer}, {10, std::to_string(x1)}, {20, std::to_string(y1)}, {30, "0.0"},
                  {11, std::to_string(x2)}, {21, std::to_string(y2)}, {31, "0.0"}});
}

// Every fitted point list of the ezdxf drawings matches ezdxf's arcs,
// ellipses, bulges and B-splines in points, closed flag and tolerance.
TEST_F(Dxf, EzdxfDrawingsMatchEzdxfConstructions)
{
    std::vector<fixture_record> recs = fixtures_make(dir.path.string(), {"dxf", dir.path.string(), "0.5"});
    ASSERT_FALSE(recs.empty());
    for (size_t r = 0; r < recs.size();) {
        ASSERT_EQ(recs[r].fields[0], "file");
        std::string name = recs[r].fields[1];
        SCOPED_TRACE(name);
        double size = recs[r].num(2), tolerance = recs[r].num(3);
        std::vector<fixture_record> want;
        for (r++; r < recs.size() && recs[r].fields[0] == "call"; r++)
            want.push_back(recs[r]);
        release();
        count = sys_loadDXF(dir.at(name).c_str(), paths);
        ASSERT_EQ(calls.size(), want.size());
        std::vector<std::pair<int, const path *>> layerpaths;
        for (size_t i = 0; i < want.size(); i++) {
            SCOPED_TRACE("call " + std::to_string(i));
            const fitcall &c = calls[i];
            const fixture_record &w = want[i];
            int n = (int)w.num(3);
            ASSERT_EQ((int)c.pts.size(), 3 * n);
            EXPECT_EQ(c.closed, (int)w.num(2));
            EXPECT_NEAR(c.tolerance, tolerance, 1e-6 * tolerance);
            for (int k = 0; k < n; k++) {
                ASSERT_NEAR(c.pts[3 * k], w.num(4 + 2 * k), 1e-5 * size) << "point " << k;
                ASSERT_NEAR(c.pts[3 * k + 1], w.num(5 + 2 * k), 1e-5 * size) << "point " << k;
                ASSERT_EQ(c.pts[3 * k + 2], 0.0f);
            }
            // One path per layer, in layer order.
            if (layerpaths.empty() || layerpaths.back().first != (int)w.num(1))
                layerpaths.push_back({(int)w.num(1), c.p});
            EXPECT_EQ(c.p, layerpaths.back().second);
        }
        ASSERT_EQ(count, (int)layerpaths.size());
        for (int i = 0; i < count; i++)
            EXPECT_EQ(paths[i], layerpaths[(size_t)i].second);
    }
}

TEST_F(Dxf, ReaderEdgeCases)
{
    const std::string walls = layertable({"0", "WALLS"});
    struct Case {
        const char *what;
        std::string text;
        float autojoin;
        std::vector<int> points; // point count of each fitted list
        std::vector<int> closed;
    };
    const Case cases[] = {
        {"one line", layertable({"0"}) + entities(line(0, 0, 10, 0)), 0, {2}, {0}},
        {"exact continuation chains", layertable({"0"}) + entities(line(0, 0, 10, 0) + line(10, 0, 10, 5)), 0, {3}, {0}},
        {"a gap does not chain", layertable({"0"}) + entities(line(0, 0, 10, 0) + line(10.001, 0, 10, 5)), 0,
         {2, 2}, {0, 0}},
        {"a gap within the join distance chains", layertable({"0"}) + entities(line(0, 0, 10, 0) + line(10.001, 0, 10, 5)),
         0.2f, {4}, {0}},
        {"closed LWPOLYLINE repeats its first point",
         layertable({"0"}) + entities(pairs({{0, "LWPOLYLINE"}, {8, "0"}, {90, "3"}, {70, "1"}, {10, "0"}, {20, "0"},
                                             {10, "4"}, {20, "0"}, {10, "4"}, {20, "3"}})),
         0, {4}, {1}},
        {"layer names match without case, numbers as numbers",
         layertable({"0", "Walls"}) + entities(line(0, 0, 1, 0, "WALLS") + line(5, 5, 6, 6, "0")), 0, {2, 2}, {0, 0}},
        {"keywords match only in their own case",
         layertable({"0"}) + entities(pairs({{0, "line"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"}}) + line(0, 0, 2, 0)),
         0, {2}, {0}},
        {"number tokens and padded codes",
         layertable({"0"}) + entities(pairs({{0, "LINE"}, {8, "0"}}) + "  10\n1e-05\n 20\n0.00000000E+00\n11\n-1.5E+02\n21\n2\n"),
         0, {2}, {0}},
        {"unknown characters make ignored pairs",
         layertable({"0"}) + entities(pairs({{0, "LINE"}, {8, "0"}, {1, "\x01weird"}, {10, "0"}, {20, "0"}, {11, "3"}, {21, "0"}})),
         0, {2}, {0}},
        {"no EOF ends at the text's end", layertable({"0"}) + pairs({{0, "SECTION"}, {2, "ENTITIES"}}) + line(0, 0, 1, 1), 0,
         {2}, {0}},
        {"a cut entity keeps what came before", layertable({"0"}) + pairs({{0, "SECTION"}, {2, "ENTITIES"}}) +
                                                     line(0, 0, 1, 1) + "0\nLINE\n8\n0\n10\n5\n20\n",
         0, {2}, {0}},
        {"a VERTEX's flags do not open a closed POLYLINE",
         layertable({"0"}) + entities(pairs({{0, "POLYLINE"}, {8, "0"}, {66, "1"}, {10, "0"}, {20, "0"}, {70, "1"},
                                             {0, "VERTEX"}, {8, "0"}, {10, "1"}, {20, "1"}, {70, "0"},
                                             {0, "VERTEX"}, {8, "0"}, {10, "5"}, {20, "1"}, {70, "0"},
                                             {0, "VERTEX"}, {8, "0"}, {10, "5"}, {20, "4"}, {70, "0"}, {0, "SEQEND"}})),
         0, {4}, {1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        cfg_setf(cfg_dxfautojoin, c.autojoin);
        load(c.text);
        ASSERT_EQ(calls.size(), c.points.size());
        for (size_t i = 0; i < calls.size(); i++) {
            EXPECT_EQ((int)calls[i].pts.size() / 3, c.points[i]);
            EXPECT_EQ(calls[i].closed, c.closed[i]);
        }
    }
}

TEST_F(Dxf, NumberTokensReadExactly)
{
    load(layertable({"0"}) + entities(pairs({{0, "LINE"}, {8, "0"}}) + "  10\n1e-05\n 20\n0.00000000E+00\n11\n-1.5E+02\n21\n2\n"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FLOAT_EQ(calls[0].pts[0], 1e-05f);
    EXPECT_EQ(calls[0].pts[1], 0.0f);
    EXPECT_FLOAT_EQ(calls[0].pts[3], -150.0f);
    EXPECT_FLOAT_EQ(calls[0].pts[4], 2.0f);
}

// Parse errors end the parse with a logged error; what came before stays.
TEST_F(Dxf, DamagedFilesAreLoggedAndKeepWhatWasRead)
{
    const std::string good = layertable({"0"}) + pairs({{0, "SECTION"}, {2, "ENTITIES"}}) + line(0, 0, 1, 1);
    struct Case {
        const char *what;
        std::string text;
        int fitted;
        const char *logged;
    };
    const Case cases[] = {
        {"no leading zero code", "2\nSECTION\n", 0, "dxf_parse: expected zero groupcode (part.dxf:"},
        {"neither SECTION nor EOF", "0\nLINE\n", 0, "dxf_parse: expected SECTION or EOF"},
        {"a group code with a decimal point", good + "10.0\n5\n", 1, "dxf_parse: token not a group code (part.dxf:"},
        {"the binary sentinel", std::string("AutoCAD Binary DXF\r\n\x1a\0\0\x01\x02", 26), 0, "token not a group code"},
        {"a byte order mark", "\xEF\xBB\xBF" + good, 0, "token not a group code"},
        {"ENTITIES only", entities(line(0, 0, 1, 1) + line(3, 3, 4, 4, "GHOST")), 0,
         "dropped 2 entities on layers the LAYER table does not declare: \"0\" (1), \"GHOST\" (1)"},
        {"an undeclared layer", layertable({"0"}) + entities(line(0, 0, 1, 1) + line(3, 3, 4, 4, "GHOST")), 1,
         "dropped 1 entities on layers the LAYER table does not declare: \"GHOST\" (1)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        uint64_t memory = sys_memtotal;
        load(c.text);
        EXPECT_EQ((int)calls.size(), c.fitted);
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        release();
        EXPECT_EQ(sys_memtotal, memory);
    }
}

TEST_F(Dxf, LayersUpTo1024KeepTheirEntities)
{
    std::vector<std::string> names;
    for (int i = 0; i < 1025; i++)
        names.push_back("L" + std::to_string(i));
    {
        testlog_capture log;
        load(layertable(names) + entities(line(0, 0, 1, 1, "L3")));
        EXPECT_TRUE(log.contains("DXF layers overflow! (max allowed = 1024)"));
        EXPECT_EQ(calls.size(), 0u);
    }
    names.pop_back();
    load(layertable(names) + entities(line(0, 0, 1, 1, "L1000") + line(5, 5, 6, 6, "L130")));
    EXPECT_EQ(count, 1); // the answer "no" is ignored: 1024 layers are forced into one
    ASSERT_EQ(calls.size(), 2u);
}

TEST_F(Dxf, SplineDamage)
{
    auto spline = [](const std::string &head, const std::string &knots, const std::string &points) {
        return layertable({"0"}) + entities(pairs({{0, "SPLINE"}, {8, "0"}}) + head + knots + points);
    };
    std::string knots9 = pairs({{40, "0"}, {40, "0"}, {40, "0"}, {40, "0"}, {40, "0.5"}, {40, "1"}, {40, "1"}, {40, "1"}, {40, "1"}});
    std::string points5 = pairs({{10, "0"}, {20, "0"}, {10, "1"}, {20, "2"}, {10, "2"}, {20, "0"}, {10, "3"}, {20, "2"}, {10, "4"}, {20, "0"}});
    struct Case {
        const char *what;
        std::string text;
        int fitted;
        const char *logged;
    };
    const Case cases[] = {
        {"73=0 then points", spline(pairs({{71, "3"}, {72, "9"}, {73, "0"}}), knots9, points5), 1, ""},
        {"no 72 and 73 at all", spline(pairs({{71, "3"}}), knots9, points5), 1, ""},
        {"72=2 with 5 knots", spline(pairs({{71, "1"}, {72, "2"}, {73, "3"}}),
                                     pairs({{40, "0"}, {40, "0"}, {40, "1"}, {40, "2"}, {40, "2"}}),
                                     pairs({{10, "0"}, {20, "0"}, {10, "1"}, {20, "1"}, {10, "2"}, {20, "0"}})),
         0, "knots overflow for spline[0]"},
        {"surplus weights", spline(pairs({{71, "3"}, {72, "9"}, {73, "5"}}) + pairs({{41, "1"}, {41, "2"}, {41, "1"}, {41, "1"}, {41, "1"}, {41, "7"}}), knots9, points5),
         1, "weights overflow for spline[0]"},
        {"degree 0", spline(pairs({{71, "0"}}), knots9, points5), 0, "skipping spline[0]: degree out of range"},
        {"too few points", spline(pairs({{71, "3"}}), knots9, pairs({{10, "0"}, {20, "0"}, {10, "1"}, {20, "1"}})), 0,
         "skipping spline[0]: fewer control points than degree + 1"},
        {"zero knot range", spline(pairs({{71, "1"}}), pairs({{40, "1"}, {40, "1"}, {40, "1"}, {40, "1"}}),
                                   pairs({{10, "0"}, {20, "0"}, {10, "1"}, {20, "1"}})),
         0, "zero knot range"},
        {"no control points", spline(pairs({{71, "3"}, {74, "2"}}), "", pairs({{11, "0"}, {21, "0"}, {11, "1"}, {21, "1"}})), 0,
         "no control points"},
        {"a count larger than the file", spline(pairs({{71, "3"}, {72, "2000000000"}, {73, "2000000000"}}), knots9, points5), 1,
         "is more than the file holds"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        load(c.text);
        ASSERT_EQ((int)calls.size(), c.fitted);
        for (const fitcall &f : calls)
            for (float v : f.pts)
                ASSERT_TRUE(std::isfinite(v));
        if (*c.logged)
            EXPECT_TRUE(log.contains(c.logged)) << log.text();
    }
}

// Weights pair with control points by position, before or after them.
TEST_F(Dxf, WeightsPairWithPointsByPosition)
{
    std::string knots = pairs({{40, "0"}, {40, "0"}, {40, "0"}, {40, "1"}, {40, "1"}, {40, "1"}});
    std::string before = pairs({{41, "1"}, {41, "5"}, {41, "1"}}) +
                         pairs({{10, "0"}, {20, "0"}, {10, "1"}, {20, "2"}, {10, "2"}, {20, "0"}});
    std::string after = pairs({{10, "0"}, {20, "0"}, {41, "1"}, {10, "1"}, {20, "2"}, {41, "5"}, {10, "2"}, {20, "0"}, {41, "1"}});
    std::vector<std::vector<float>> got;
    for (const std::string &body : {before, after}) {
        load(layertable({"0"}) + entities(pairs({{0, "SPLINE"}, {8, "0"}, {71, "2"}, {72, "6"}, {73, "3"}}) + knots + body));
        ASSERT_EQ(calls.size(), 1u);
        got.push_back(calls[0].pts);
    }
    EXPECT_EQ(got[0], got[1]);
    // The rational quadratic Bezier (0,0) (1,2) (2,0) with weights 1, 5, 1
    // passes (1, 5/3) at its middle parameter, which the 177 samples hit.
    ASSERT_EQ(got[0].size(), 3u * 177);
    EXPECT_NEAR(got[0][3 * 88], 1.0f, 1e-6);
    EXPECT_NEAR(got[0][3 * 88 + 1], 5.0f / 3.0f, 1e-6);
}

// Counts far past 16 bits: many entities, long polylines, and chains that
// go on in a new one when full instead of dropping the rest of the layer.
TEST_F(Dxf, LargeCountsDoNotWrap)
{
    realfit = false;
    std::string many;
    for (int i = 0; i < 40000; i++)
        many += line(i, 0, i + 1, 0);
    testlog_capture log;
    load(layertable({"0"}) + entities(many));
    EXPECT_EQ(log.count("polyline chain overflow!!!"), 19);
    ASSERT_EQ(calls.size(), 20u);
    for (size_t i = 0; i < 19; i++)
        EXPECT_EQ(calls[i].pts.size() / 3, 2049u);
    EXPECT_EQ(calls[19].pts.size() / 3, 40000u - 19 * 2048 + 1);
    EXPECT_EQ(calls[19].pts[3 * 1088], 40000.0f);

    std::string lw = pairs({{0, "LWPOLYLINE"}, {8, "0"}, {90, "70000"}, {70, "0"}});
    for (int i = 0; i < 70000; i++)
        lw += pairs({{10, std::to_string(i % 1000)}, {20, std::to_string(i / 1000)}});
    load(layertable({"0"}) + entities(lw));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pts.size(), 3u * 70000);
}

// A drawing of one point has no size; counts that divide by it stay bounded.
TEST_F(Dxf, OnePointDrawing)
{
    load(layertable({"0"}) +
         entities(pairs({{0, "LWPOLYLINE"}, {8, "0"}, {10, "3"}, {20, "3"}, {42, "1"}, {10, "3"}, {20, "3"}, {42, "1e+30"}, {10, "3"}, {20, "3"}}) +
                  pairs({{0, "CIRCLE"}, {8, "0"}, {10, "3"}, {20, "3"}, {40, "0"}}) +
                  pairs({{0, "ARC"}, {8, "0"}, {10, "3"}, {20, "3"}, {40, "0"}, {50, "0"}, {51, "7200"}})));
    for (const fitcall &f : calls) {
        EXPECT_LE(f.pts.size() / 3, 1000u);
        for (float v : f.pts)
            ASSERT_EQ(v == 3.0f || v == 0.0f, true);
    }
}

TEST_F(Dxf, LongLineIsCutNotFatal)
{
    std::string text = layertable({"0"}) + pairs({{0, "SECTION"}, {2, "ENTITIES"}}) + "999\n" + std::string(1000000, 'x') +
                       "\n" + line(0, 0, 1, 1) + "1\n" + std::string(1000000, '7') + "\n" + pairs({{0, "ENDSEC"}, {0, "EOF"}});
    load(text);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Dxf, CombiningLayers)
{
    std::string three = layertable({"A", "B", "C"}) + entities(line(0, 0, 1, 0, "A") + line(0, 1, 1, 1, "B") + line(0, 2, 1, 2, "C"));
    struct Case {
        int projectlayers;
        const char *answer;
        int paths;
        const char *box;
    };
    const Case cases[] = {
        {62, "ok", 1, "sys_messagebox \"Combining DXF Geometry\""},
        {0, "yes", 1, "sys_messagebox \"Combine DXF Geometry\""},
        {0, "no", 3, "sys_messagebox \"Combine DXF Geometry\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answer);
        scoped_env answers;
        answers.set("KERFMILL_MSGBOX_ANSWERS", c.answer);
        numlayers = c.projectlayers;
        testlog_capture log;
        load(three);
        EXPECT_EQ(count, c.paths);
        EXPECT_TRUE(log.contains(c.box));
        int curves = 0;
        for (int i = 0; i < count; i++)
            curves += paths[i]->cnum;
        EXPECT_EQ(curves, 3);
    }
}

// The settings are read clamped to 0..1.
TEST_F(Dxf, SettingsAreClamped)
{
    const std::string text = layertable({"0"}) + entities(line(0, 0, 10, 0) + line(0, 5, 10, 5));
    struct Case {
        float setting;
        double factor; // of the size 10
    };
    const Case cases[] = {{7.0f, 0.0002}, {-3.0f, 0.00005}, {std::nanf(""), 0.00005}, {1.0f, 0.0002}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        cfg_setf(cfg_dxftolerance, c.setting);
        cfg_setf(cfg_dxfautojoin, c.setting);
        load(text);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_NEAR(calls[0].tolerance, 10 * c.factor, 1e-9);
        EXPECT_EQ(paths[0]->cnum, 2); // ends 5 apart never join
    }
}

// admesh writes a mesh as 3DFACEs, none of which this reader keeps.
TEST_F(Dxf, AdmeshDxfHasNoPaths)
{
    // A tetrahedron.
    const char *faces[4][3] = {{"0 0 0", "0 1 0", "1 0 0"}, {"0 0 0", "1 0 0", "0 0 1"},
                               {"0 0 0", "0 0 1", "0 1 0"}, {"1 0 0", "0 1 0", "0 0 1"}};
    std::string stl = "solid t\n";
    for (const auto &f : faces)
        stl += std::string("facet normal 0 0 0\nouter loop\nvertex ") + f[0] + "\nvertex " + f[1] + "\nvertex " + f[2] +
               "\nendloop\nendfacet\n";
    std::ofstream(dir.at("t.stl")) << stl << "endsolid t\n";
    ASSERT_EQ(testchild_run({"admesh", "--write-dxf=" + dir.at("t.dxf"), dir.at("t.stl")}, 60, "/dev/null"), 0);
    testlog_capture log;
    EXPECT_EQ(sys_loadDXF(dir.at("t.dxf").c_str(), paths), 0);
    EXPECT_TRUE(log.contains("parsed dxf:"));
    EXPECT_EQ(calls.size(), 0u);
}

TEST_F(Dxf, AutoJoinClosesAndJoinsCurves)
{
    cfg_setf(cfg_dxfautojoin, 1.0f);
    // Two arcs of a circle's halves: their ends meet, and the joined curve's
    // own ends meet too.
    testlog_capture log;
    load(layertable({"0"}) + entities(pairs({{0, "ARC"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "5"}, {50, "0"}, {51, "180"}}) +
                                      pairs({{0, "ARC"}, {8, "0"}, {10, "0"}, {20, "0"}, {40, "5"}, {50, "180"}, {51, "360"}})));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(paths[0]->cnum, 1);
    int c = paths[0]->ctail;
    EXPECT_EQ(paths[0]->curves[c].closed, 1);
    EXPECT_TRUE(log.contains("...closed path["));
}

} // namespace
