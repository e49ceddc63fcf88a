// Shapes From Paths and Stroke Paths: the edge cases as a table run through
// the command and the job on real workers, then the images against shapely
// and scipy (tests/project/genraster_reference.py): filled area, chamfer and
// fillet heights by the exact distance transform, the stroke's section by
// the distance to the curve; and the exits that must leave the generator
// free to start again.
#include "project/genraster.h"

#include "geom/contour.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "geom/profile.h"
#include "geom/topolys.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "sys/main.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using ring = std::vector<std::array<float, 2>>;

// A square of half side r about (x, y), turning with dir, first point repeated.
ring gr_square(float x, float y, float r, bool reverse = false)
{
    ring q = {{x - r, y - r}, {x + r, y - r}, {x + r, y + r}, {x - r, y + r}, {x - r, y - r}};
    if (reverse)
        std::reverse(q.begin(), q.end());
    return q;
}

ring gr_polygon(float x, float y, float r, int n)
{
    ring q;
    for (int i = 0; i <= n; i++) {
        float a = 2.0f * (float)M_PI * (i % n) / n;
        q.push_back({x + r * std::cos(a), y + r * std::sin(a)});
    }
    return q;
}

struct gr_answer {
    double area = -1;
    std::vector<float> linedist, edt;
};

// Runs the reference; area -1 when it fails (the caller names the package).
gr_answer gr_reference(const std::vector<ring> &rings, const std::vector<ring> &lines, const float *grid,
                       const std::vector<int> &mask)
{
    const std::string in = testtemp_file("grq"), out = testtemp_file("gra");
    auto list = [](std::ostream &o, const std::vector<ring> &rs) {
        o << "[";
        for (size_t i = 0; i < rs.size(); i++) {
            o << (i ? "," : "") << "[";
            for (size_t k = 0; k < rs[i].size(); k++)
                o << (k ? "," : "") << "[" << rs[i][k][0] << "," << rs[i][k][1] << "]";
            o << "]";
        }
        o << "]";
    };
    {
        std::ofstream f(in);
        f.precision(9);
        f << "{\"rings\":";
        list(f, rings);
        f << ",\"lines\":";
        list(f, lines);
        f << ",\"grid\":[" << grid[0] << "," << grid[1] << "," << grid[2] << "," << grid[3] << "," << grid[4]
          << "," << grid[5] << "],\"mask\":[";
        for (size_t i = 0; i < mask.size(); i++)
            f << (i ? "," : "") << mask[i];
        f << "]}";
    }
    gr_answer a;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/project/genraster_reference.py", in, out}, 120) ==
        0) {
        std::ifstream f(out);
        size_t n = 0;
        f >> a.area >> n;
        a.linedist.resize(n);
        for (float &v : a.linedist)
            f >> v;
        f >> n;
        a.edt.resize(n);
        for (float &v : a.edt)
            f >> v;
    }
    remove(in.c_str());
    remove(out.c_str());
    return a;
}

class GenRaster : public WorkerPoolTest<2> {
protected:
    void SetUp() override
    {
        project_selectedlayer = -1;
        project.size[0] = project.size[1] = 10;
        project.size[2] = 1;
        project.scale = 1;
        project.ppi = 10;
        p_selcurves.count = -1;
        layer_gensettings = {0, 1, 0, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f};
        layer_genkind = 0;
        layer_gendone = 0;
    }
    void TearDown() override
    {
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        project_selectedlayer = -1;
        p_selcurves.count = -1;
        layer_genkind = 0;
        layer_gendone = 0;
    }
    // A selected paths-layer laid 1:1 over the canvas (world = local x 10 +
    // 5), holding the given world curves of straight segments; a closed one
    // repeats its first point.
    int layer(const std::vector<std::pair<ring, bool>> &curves)
    {
        int slot = project_layeralloc(layer_paths);
        EXPECT_GE(slot, 0);
        project_layer &l = project.layers[slot];
        l.pos[0] = l.pos[1] = 5;
        l.size[0] = l.size[1] = 10;
        l.size[2] = 1;
        l.rotation = 0;
        l.data.pth = path_new();
        for (const auto &[pts, closed] : curves) {
            int c = path_newcurve(l.data.pth);
            for (const auto &q : pts) {
                const float p[3] = {(q[0] - 5) / 10, (q[1] - 5) / 10, 0};
                path_prependknot(l.data.pth, c, p);
            }
            l.data.pth->curves[c].closed = closed;
        }
        project_selectedlayer = slot;
        return slot;
    }
    // The command and its job; true when a result came. The wait is bounded.
    bool run(int shape, float chamfer = 45, float zorigin = 0, float zsize = 0)
    {
        project_genrasterpathslayer(shape, chamfer, zorigin, zsize);
        for (int i = 0; i < 3000 && layer_genkind && !layer_gendone; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return layer_gendone.load() == 1;
    }
    const float *px() const { return (const float *)layer_genrequest.result->pixels; }
    // Pixel grid of the request for the reference: corner, size, pixels.
    std::array<float, 6> grid() const
    {
        const layer_genrequestrecord &r = layer_genrequest;
        return {r.centre[0] - r.size[0] / 2, r.centre[1] + r.size[1] / 2, r.size[0], r.size[1], (float)r.width,
                (float)r.height};
    }
};

float gr_pixel(const image *img, double x, double y, const std::array<float, 6> &g)
{
    int i = (int)((x - g[0]) / g[2] * g[4]), j = (int)((g[1] - y) / g[3] * g[5]);
    EXPECT_TRUE(i >= 0 && j >= 0 && i < img->width && j < img->height) << x << "," << y;
    i = std::clamp(i, 0, img->width - 1);
    j = std::clamp(j, 0, img->height - 1);
    return ((const float *)img->pixels)[(size_t)j * img->width + i];
}

} // namespace

// Rings and their walls, exteriors, a chamfer too narrow for its height, a
// lifted origin, open curves and a selection: each a layer, a command and
// what the request holds.
TEST_F(GenRaster, EdgeCases)
{
    struct Case {
        const char *what;
        std::vector<std::pair<ring, bool>> curves;
        int shape;
        int exterior;
        float zorigin;
        int select; // curve to select in path editing, -1 none
        bool result;
        std::array<float, 2> probe; // world point and the height it holds (x, y, h); h < 0 skips
        float height;
        float zsize;  // expected size z of the result, < 0 unchecked
        const char *line; // a log line that must appear, or null
    };
    const ring outer = gr_square(5, 5, 3), inner = gr_square(5, 5, 1);
    const ring open = {{2, 2}, {8, 3}, {5, 8}};
    const Case cases[] = {
        {"ring fills as a ring", {{outer, true}, {inner, true}}, 1, 0, 0, -1, true, {5, 5}, 0, 1, nullptr},
        {"ring wall is full", {{outer, true}, {inner, true}}, 1, 0, 0, -1, true, {2.5f, 5}, 1, 1, nullptr},
        {"exterior rises outside", {{inner, true}}, 1, 1, 0, -1, true, {1, 1}, 1, 1, nullptr},
        {"exterior hole inside", {{inner, true}}, 1, 1, 0, -1, true, {5, 5}, 0, 1, nullptr},
        // 1 unit wide at 45 degrees reaches 0.5 of the 1 unit height.
        {"narrow chamfer lowers the layer", {{gr_square(5, 5, 0.5f), true}}, 2, 0, 0, -1, true, {5, 5}, 1, 0.45f,
         nullptr},
        {"z origin lifts the inside", {{inner, true}}, 1, 0, 0.5f, -1, true, {5, 5}, 1, 1.5f, "offsetting genraster"},
        {"z origin keeps the hole", {{outer, true}, {inner, true}}, 1, 0, 0.5f, -1, true, {5, 5}, -1, 1.5f, nullptr},
        {"open curves give no shapes", {{open, false}}, 1, 0, 0, -1, false, {0, 0}, -1, -1,
         "No closed-paths were found"},
        {"stroke takes open curves", {{open, false}}, 5, 0, 0, -1, true, {5, 8}, 1, -1, nullptr},
        {"only the selected curve", {{outer, true}, {gr_square(5, 5, 0.5f), true}}, 1, 0, 0, 1, true, {5, 5}, 1, 1,
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        layer_gensettings.exterior = c.exterior;
        int slot = layer(c.curves);
        if (c.select >= 0) {
            path *p = project.layers[slot].data.pth;
            p_clearselection(p);
            int k = p->ctail;
            for (int i = 0; i < c.select; i++)
                k = p->curves[k].next;
            path_selectcurve(p, k);
        }
        testlog_capture log;
        ASSERT_EQ(run(c.shape, 45, c.zorigin), c.result) << log.text();
        EXPECT_EQ(layer_genkind.load(), c.result ? c.shape : 0);
        if (c.line)
            EXPECT_TRUE(log.contains(c.line)) << log.text();
        if (!c.result)
            continue;
        const layer_genrequestrecord &r = layer_genrequest;
        EXPECT_EQ(r.polylines, nullptr);
        EXPECT_EQ(r.zorigin, 0.0f);
        if (c.zsize >= 0)
            EXPECT_NEAR(r.size[2], c.zsize, 0.1f); // a pixel of distance
        if (c.exterior) {
            EXPECT_FLOAT_EQ(r.size[0], 10);
            EXPECT_FLOAT_EQ(r.centre[0], 5);
        }
        if (c.select >= 0)
            EXPECT_NEAR(r.size[0], 1.02f, 1e-4f);
        if (c.height >= 0)
            EXPECT_NEAR(gr_pixel(r.result, c.probe[0], c.probe[1], grid()), c.height, 0.02f);
        else if (c.zorigin > 0)
            EXPECT_NEAR(gr_pixel(r.result, c.probe[0], c.probe[1], grid()), 0.0f, 1e-6f);
    }
}

TEST_F(GenRaster, NoSelectedLayerAndWrongType)
{
    testlog_capture log;
    project_genrasterpathslayer(1, 45, 0, 0);
    EXPECT_TRUE(log.contains("No selected layer!"));
    project_selectedlayer = project_layeralloc(layer_raster);
    project_genrasterpathslayer(1, 45, 0, 0);
    EXPECT_EQ(layer_genkind.load(), 0);
}

// Coverage x pixel area against shapely's even-odd area: nested rings,
// an island inside a hole, a many-sided disc beside them.
TEST_F(GenRaster, CoverageMatchesShapelyArea)
{
    const std::vector<ring> rings = {gr_square(4, 5, 3), gr_square(4, 5, 1.8f, true), gr_polygon(4, 5, 0.9f, 40),
                                     gr_polygon(8.2f, 5, 1.0f, 7)};
    std::vector<std::pair<ring, bool>> curves;
    for (const ring &r : rings)
        curves.push_back({r, true});
    project.ppi = 30; // the fill's edge quantisation stays well inside the bound
    layer(curves);
    ASSERT_TRUE(run(1));
    const layer_genrequestrecord &r = layer_genrequest;
    const auto g = grid();
    gr_answer a = gr_reference(rings, {}, g.data(), {});
    ASSERT_GT(a.area, 0) << "/usr/bin/python3 with python3-shapely and python3-scipy is needed";
    double sum = 0;
    for (int i = 0; i < r.width * r.height; i++)
        sum += px()[i];
    const double pixel = (double)r.size[0] / r.width * r.size[1] / r.height;
    EXPECT_NEAR(sum * pixel, a.area, 0.005 * a.area);
}

// On a wall wide enough to reach full height, chamfer and fillet heights
// follow the exact distance transform of the mask within one pixel of
// distance.
TEST_F(GenRaster, ChamferAndFilletFollowTheDistance)
{
    struct Case {
        int shape;
        float angle;
    };
    const Case cases[] = {{2, 45}, {2, 60}, {3, 45}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shape * 100 + (int)c.angle);
        TearDown();
        SetUp();
        layer({{gr_square(5, 5, 4), true}, {gr_square(5, 5, 1), true}});
        ASSERT_TRUE(run(c.shape, c.angle));
        const layer_genrequestrecord &r = layer_genrequest;
        ASSERT_NEAR(r.size[2], 1.0f, 1e-4f); // full height reached, nothing rescaled
        std::vector<int> mask(r.width * r.height);
        for (size_t i = 0; i < mask.size(); i++)
            mask[i] = px()[i] > 0;
        const auto g = grid();
        gr_answer a = gr_reference({}, {}, g.data(), mask);
        ASSERT_EQ(a.edt.size(), mask.size()) << "/usr/bin/python3 with python3-scipy is needed";
        const double hpx = 10.0 * r.size[2];
        const double k = c.shape == 2 ? std::tan(c.angle * M_PI / 180) : 1.0;
        auto f = [&](double d) {
            double t = std::clamp(d * k / hpx, 0.0, 1.0);
            return c.shape == 2 ? t : std::sqrt(1 - (1 - t) * (1 - t));
        };
        int checked = 0;
        for (int j = 1; j + 1 < r.height; j++)
            for (int i = 1; i + 1 < r.width; i++) {
                const size_t n = (size_t)j * r.width + i;
                // Pixels fully inside: their neighbours are covered too.
                if (a.edt[n] < 2.0f)
                    continue;
                const double d = a.edt[n] - 0.5; // centre to the edge, not to the next centre
                EXPECT_GE(px()[n], f(d - 1) - 1e-3) << i << "," << j;
                EXPECT_LE(px()[n], f(d + 1) + 1e-3) << i << "," << j;
                checked++;
            }
        EXPECT_GT(checked, 1000);
    }
}

// A stroke along an open curve: 1 on the curve, the profile of arc_fit over
// shapely's distance across it, 0 beyond the half width.
TEST_F(GenRaster, StrokeFollowsTheDistanceToTheCurve)
{
    const ring curve = {{2, 2}, {6, 3}, {8, 7}};
    layer_gensettings.brushouterradius = 0.3f;
    layer_gensettings.brushinnerradius = -0.2f;
    layer_gensettings.brushprofile = 0.3f;
    layer({{curve, false}});
    ASSERT_TRUE(run(5));
    const layer_genrequestrecord &r = layer_genrequest;
    const auto g = grid();
    gr_answer a = gr_reference({}, {curve}, g.data(), {});
    ASSERT_EQ(a.linedist.size(), (size_t)r.width * r.height) << "/usr/bin/python3 with python3-shapely is needed";
    const float p = r.size[0] / r.width, s = 1.0f / (0.5f - p);
    const float peak = r.size[2] / 1.0f; // the job scaled the peak to 1 and the height by it
    const layer_genrastersettings &st = layer_gensettings;
    auto profile = [&](float d) {
        float v = 1 - std::max(d, 0.0f) * s;
        arc_fit(1, &v, st.brushouterradius, st.brushinnerradius, 1 - 0.999f * st.brushprofile * st.brushprofile,
                1.0f * st.brushvalue * s);
        return std::clamp(v, 0.0f, 1.0f) * st.brushvalue;
    };
    for (size_t n = 0; n < a.linedist.size(); n++) {
        const float d = a.linedist[n], h = px()[n] * peak;
        EXPECT_GE(h, profile(d + p) - 2e-3f) << n << " at distance " << d;
        EXPECT_LE(h, profile(d - p) + 2e-3f) << n << " at distance " << d;
    }
}

// Exits without a result leave no generator running: a stroke of under two
// pixels (kept one pixel wide, never the whole layer), a layer too large
// for the image table, and the job refused.
TEST_F(GenRaster, FailuresFreeTheGenerator)
{
    layer({{{{2, 2}, {8, 3}}, false}});
    layer_gensettings.brushsize = 0.15f; // 1.5 pixels
    {
        testlog_capture log;
        ASSERT_TRUE(run(5));
        EXPECT_TRUE(log.contains("is too narrow")) << log.text();
        const layer_genrequestrecord &r = layer_genrequest;
        int lit = 0;
        for (int i = 0; i < r.width * r.height; i++)
            lit += px()[i] > 0;
        EXPECT_LT(lit, r.width * r.height / 4);
    }
    TearDown();
    SetUp();
    layer({{gr_square(5, 5, 3), true}});
    project.ppi = 200000; // 1.2 million pixels a side
    {
        testlog_capture log;
        EXPECT_FALSE(run(2));
        EXPECT_EQ(layer_genkind.load(), 0);
        EXPECT_EQ(project.generating[0].load(), 0);
        EXPECT_EQ(layer_genrequest.polylines, nullptr);
    }
    project.ppi = 10;
    sys_quit = 1; // the job queue refuses every job
    {
        testlog_capture log;
        project_genrasterpathslayer(1, 45, 0, 0);
        sys_quit = 0;
        EXPECT_TRUE(log.contains("the job was refused")) << log.text();
        EXPECT_EQ(layer_genkind.load(), 0);
        EXPECT_EQ(layer_genrequest.polylines, nullptr);
    }
    layer_genkind = 6; // another generator runs: nothing is started
    project_genrasterpathslayer(1, 45, 0, 0);
    EXPECT_EQ(layer_genkind.load(), 6);
}
