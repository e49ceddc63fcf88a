// The export jobs: the toolpath's SVG parsed back by python3's xml.etree
// against the polylines of the compiled moves; refusals that write nothing
// and still clear the busy flag; heightmaps reloaded within their formats'
// precision.
#include "cam/export.h"

#include "cam/compile.h"
#include "carvetest.h"
#include "img/imagefile.h"
#include "img/primal.h"
#include "simtest.h"
#include "testtemp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

namespace {
// Prints the svg's width and height, then per path element its closed flag,
// its number count and the numbers of its d attribute.
const char *svg_reader = R"PY(
import re, sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
ns = '{http://www.w3.org/2000/svg}'
assert root.tag == ns + 'svg', root.tag
print(root.get('width'), root.get('height'))
for p in root.iter(ns + 'path'):
    d = p.get('d').strip()
    nums = re.findall(r'-?\d+(?:\.\d*)?(?:[eE][-+]?\d+)?', d)
    print(int(d.endswith('Z')), len(nums), ' '.join(nums))
)PY";

struct svgpoly {
    bool closed;
    std::vector<double> nums;
};

// Runs the reader; false when python3 or the parse failed.
bool readsvg(const std::string &file, double page[2], std::vector<svgpoly> &out)
{
    const std::string script = file + ".py";
    FILE *f = fopen(script.c_str(), "w");
    if (!f)
        return false;
    fputs(svg_reader, f);
    fclose(f);
    const std::string cmd = "/usr/bin/python3 " + script + " " + file;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return false;
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;)
        text.append(buf, n);
    const int status = pclose(p);
    remove(script.c_str());
    if (status != 0)
        return false;
    std::istringstream in(text);
    in >> page[0] >> page[1];
    int closed, count;
    while (in >> closed >> count) {
        svgpoly s{closed != 0, std::vector<double>(count)};
        for (double &v : s.nums)
            in >> v;
        out.push_back(s);
    }
    return true;
}

// The feed stretches of the compiled moves as the machine runs them: each
// begins where a rapid run ends.
std::vector<std::vector<carve_point>> feedstretches(int slot)
{
    std::vector<std::vector<carve_point>> out;
    std::vector<carve_point> cur;
    const std::vector<carve_point> pts = carve_frommoves(slot);
    for (size_t k = 0; k < pts.size(); k++) {
        if (pts[k].kind == carve_point::feed) {
            cur.push_back(pts[k]);
            continue;
        }
        if (k + 1 < pts.size() && pts[k + 1].kind == carve_point::feed) {
            if (cur.size() >= 2)
                out.push_back(cur);
            cur.assign(1, pts[k]);
        }
    }
    if (cur.size() >= 2)
        out.push_back(cur);
    return out;
}

std::string tempname(const char *suffix)
{
    const std::string name = testtemp_file("export");
    remove(name.c_str());
    return name + suffix;
}

bool exists(const std::string &f)
{
    struct stat st;
    return stat(f.c_str(), &st) == 0;
}
} // namespace

class Export : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        const float size[3] = {4, 3, 1}, frac[3] = {0.5f, 0.5f, 1}; // machine X -2..2, Y -1.5..1.5, top 0
        usebox(size, frac, 64, 48);
        project.ops[0].camop = 0;
        export_busy = 1;
        export_starttime = sys_seconds();
    }
    void TearDown() override
    {
        export_slotpolls = 1000, export_slotpollms = 50;
        SimTest::TearDown();
    }
    void setpath(const std::string &f) { snprintf(export_path, sizeof(export_path), "%s", f.c_str()); }
};

TEST_F(Export, SvgHoldsTheFeedStretches)
{
    const float d = -0.1f;
    struct Case {
        const char *name;
        std::vector<sim_poly> polys;
        std::vector<bool> closed;
    };
    const Case cases[] = {
        {"two cuts with a retract between",
         {{{{-1.5f, -1.0f, d}, {0.5f, -1.0f, d}, {0.5f, 0.2f, d}}}, {{{1.0f, 1.0f, d}, {-1.0f, 1.2f, d}}}},
         {false, false}},
        // Cut at the safe height, the square's stretch starts at its own first
        // vertex and comes back to it; the linked cut after it continues the
        // stretch of the plunged square before it.
        {"a closed square, then a plunged square with a linked cut",
         {{{{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}}, 1, PATH_CLOSED},
          {{{-1.8f, -1.2f, d}, {-1.2f, -1.2f, d}, {-1.2f, -0.6f, d}, {-1.8f, -1.2f, d}}, 1, PATH_CLOSED},
          {{{1.5f, 1.0f, d}, {1.9f, 1.4f, d}}, 1, PATH_LINK}},
         {true, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int slot = makeslot(c.polys);
        useslot(slot);
        ASSERT_EQ(toolpath_compile(slot, 0.0f), 1);
        const std::string file = tempname(".svg");
        setpath(file);
        export_busy = 1;
        toolpath_contour(&project.ops[0]);
        EXPECT_EQ(export_busy.load(), 0);
        double page[2] = {};
        std::vector<svgpoly> got;
        ASSERT_TRUE(readsvg(file, page, got)) << "python3 could not read " << file;
        remove(file.c_str());
        EXPECT_NEAR(page[0], 4.0, 1e-6);
        EXPECT_NEAR(page[1], 3.0, 1e-6);
        const auto want = feedstretches(slot);
        ASSERT_EQ(got.size(), want.size());
        const double tol = 1e-6 * 4.0;
        for (size_t i = 0; i < want.size(); i++) {
            SCOPED_TRACE(i);
            const auto &w = want[i];
            EXPECT_EQ(got[i].closed, w.front().x == w.back().x && w.front().y == w.back().y &&
                                         w.front().z == w.back().z);
            if (i < c.closed.size() && c.closed[i])
                EXPECT_TRUE(got[i].closed);
            // Knot positions: the first point, then every third after the tail's handle.
            ASSERT_EQ(got[i].nums.size(), 2 + 6 * (w.size() - 1));
            for (size_t k = 0; k < w.size(); k++) {
                const size_t at = k == 0 ? 0 : 2 * (3 * k);
                EXPECT_NEAR(got[i].nums[at], w[k].x + 2.0, tol) << k;
                EXPECT_NEAR(got[i].nums[at + 1], 1.5 - w[k].y, tol) << k;
            }
        }
        toolpath_free(slot);
    }
}

TEST_F(Export, RefusalsWriteNothingAndClearTheBusyFlag)
{
    testlog_capture log;
    const std::string file = tempname(".svg");
    setpath(file);
    // No slot comes within the bound.
    export_slotpolls = 3, export_slotpollms = 1;
    cam_ops[0].toolpath = -1;
    toolpath_contour(&project.ops[0]);
    EXPECT_EQ(export_busy.load(), 0);
    EXPECT_TRUE(log.contains("failed to generate polylines from operation's toolpath!"));
    // An entry without an operation record.
    export_busy = 1;
    project.ops[1].camop = -1;
    toolpath_contour(&project.ops[1]);
    EXPECT_EQ(export_busy.load(), 0);
    // More polylines than an export holds: every short cut is its own stretch.
    std::vector<sim_poly> many;
    for (int k = 0; k <= 65536; k++) {
        const float x = -1.9f + 3.8f * (k % 256) / 256, y = -1.4f + 2.8f * (float)(k / 256) / 257;
        many.push_back({{{x, y, -0.1f}, {x + 0.005f, y, -0.1f}}});
    }
    const int slot = makeslot(many);
    useslot(slot);
    ASSERT_EQ(toolpath_compile(slot, 0.0f), 1);
    export_busy = 1;
    toolpath_contour(&project.ops[0]);
    EXPECT_EQ(export_busy.load(), 0);
    EXPECT_TRUE(log.contains("65537 polylines"));
    EXPECT_FALSE(exists(file));
    // A name that is not an .svg file.
    toolpath_free(slot);
    useslot(makeslot({{{{-1, -1, -0.1f}, {1, 1, -0.1f}}}}));
    ASSERT_EQ(toolpath_compile(cam_ops[0].toolpath, 0.0f), 1);
    setpath(tempname(".txt"));
    export_busy = 1;
    toolpath_contour(&project.ops[0]);
    EXPECT_EQ(export_busy.load(), 0);
    EXPECT_FALSE(exists(export_path));
}

TEST_F(Export, HeightmapsReloadWithinTheirPrecision)
{
    const int w = 64, h = 48;
    image *map = img_allocfloat("sim_image", w, h);
    ASSERT_NE(map, nullptr);
    float *px = (float *)map->pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            px[y * w + x] = (float)(0.5 + 0.45 * std::sin(x * 0.17) * std::cos(y * 0.11));
    // The primal codec's bound: a block's value range over 31 steps, plus
    // three 16-bit quanta.
    const int b = primal_versions[primal_version].blocksize;
    float qcsf = 0.0f;
    for (int by = 0; by < h; by += b)
        for (int bx = 0; bx < w; bx += b) {
            float lo = 1e9f, hi = -1e9f;
            for (int y = by; y < std::min(h, by + b); y++)
                for (int x = bx; x < std::min(w, bx + b); x++)
                    lo = std::min(lo, px[y * w + x]), hi = std::max(hi, px[y * w + x]);
            qcsf = std::max(qcsf, (hi - lo) / 31.0f);
        }
    struct Case {
        const char *suffix;
        float tol;
    };
    const Case cases[] = {{".qcsf", qcsf + 3.0f / 65535.0f}, {".png", 1.0f / 765.0f + 1e-6f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.suffix);
        testlog_capture log;
        const std::string file = tempname(c.suffix);
        setpath(file);
        export_busy = 1;
        project_saveheightmap(img_copy(map));
        EXPECT_EQ(export_busy.load(), 0);
        const std::string name = file.substr(file.rfind('/') + 1);
        EXPECT_TRUE(log.contains("...saved heightmap \"" + name + "\"")) << log.text();
        image *back = img_load(file.c_str(), 1);
        remove(file.c_str());
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->width, w);
        ASSERT_EQ(back->height, h);
        const float *bp = (const float *)back->pixels;
        float worst = 0.0f;
        for (int i = 0; i < w * h; i++)
            worst = std::max(worst, std::fabs(bp[i] - px[i]));
        EXPECT_LE(worst, c.tol);
        img_free(back);
    }
    testlog_capture log;
    setpath("/nonexistent-folder/heights.png");
    export_busy = 1;
    project_saveheightmap(img_copy(map));
    EXPECT_EQ(export_busy.load(), 0);
    EXPECT_TRUE(log.contains("failed to save heightmap image!"));
    img_free(map);
}
