// Contour producers and their bad input: the iso-line of a field (blocks,
// holes, regions against the border, short curves dropped, non-finite fields
// refused, points checked against scikit-image), the maximum raster of a
// polyline, draping within a depth window, surface clipping wholly below and
// above, polylines of no points refused, and the closed curves of the
// paths-layers of a layer group.
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/path.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "project/layer.h"
#include "sys/frame.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>
#include <vector>

namespace {
struct cont_deleter {
    void operator()(contour *c) const { cont_free(c); }
};
using cont_ptr = std::unique_ptr<contour, cont_deleter>;
struct img_deleter {
    void operator()(image *i) const { img_free(i); }
};
using img_ptr = std::unique_ptr<image, img_deleter>;

// A w x h field of 0 with the given pixel boxes {x0, y0, x1, y1} (ends
// excluded) set to value.
img_ptr cs_field(int w, int h, std::initializer_list<std::array<int, 4>> boxes, float value = 1)
{
    img_ptr f(img_allocfloat("field", w, h));
    float *p = (float *)f->pixels;
    for (int i = 0; i < w * h; i++)
        p[i] = 0;
    for (const auto &b : boxes)
        for (int y = b[1]; y < b[3]; y++)
            for (int x = b[0]; x < b[2]; x++)
                p[y * w + x] = value;
    return f;
}

double cs_area(const contour *c, uint32_t i)
{
    uint32_t first = 0;
    for (uint32_t k = 0; k < i; k++)
        first += c->vertcount[k];
    return cont_polyarea(c->verts + 3 * first, c->vertcount[i]);
}
} // namespace

// Traced at 0.5 in pixel units (scale w, h), unthinned: the crossings lie
// half way between pixel centres, so an n x n block is an n x n square with
// its four corners cut by triangles of area 1/8, and a hole of zeros is the
// same shape turned the other way.
TEST(ContourSources, FromImageTracesBlocksAndHoles)
{
    struct Case {
        const char *what;
        std::vector<std::array<int, 4>> ones, zeros; // boxes set to 1, then back to 0
        int side;                  // field side in pixels
        std::vector<double> areas; // unsigned in pixels, largest first
        bool opposite;             // the second turns against the first
    };
    const Case cases[] = {
        {"7 x 7 block", {{4, 4, 11, 11}}, {}, 16, {48.5}, false},
        {"block with a 3 x 3 hole", {{4, 4, 11, 11}}, {{6, 6, 9, 9}}, 16, {48.5, 8.5}, true},
        {"two blocks", {{1, 1, 8, 8}, {10, 10, 13, 13}}, {}, 16, {48.5, 8.5}, false},
        // Measured in field widths, a lone pixel's diamond on a 3072 field
        // (9.2e-4 long, area over length 5.8e-5) is both short and narrow;
        // the block (8.7e-3 long) is not.
        {"short and narrow dropped", {{4, 4, 11, 11}, {13, 2, 14, 3}}, {}, 3072, {48.5}, false},
    };
    const float offset[3] = {0, 0, 0};
    for (const Case &c : cases) {
        const float scale[3] = {(float)c.side, (float)c.side, 1};
        img_ptr f = cs_field(c.side, c.side, {});
        float *p = (float *)f->pixels;
        for (const auto &b : c.ones)
            for (int y = b[1]; y < b[3]; y++)
                for (int x = b[0]; x < b[2]; x++)
                    p[y * c.side + x] = 1;
        for (const auto &b : c.zeros)
            for (int y = b[1]; y < b[3]; y++)
                for (int x = b[0]; x < b[2]; x++)
                    p[y * c.side + x] = 0;
        cont_ptr out(cont_fromimage(f.get(), 0.5f, scale, offset, 2.0f, 0, 1e9f, 0));
        ASSERT_NE(out, nullptr) << c.what;
        ASSERT_EQ(out->numpolys, c.areas.size()) << c.what;
        std::vector<double> areas;
        for (uint32_t i = 0; i < out->numpolys; i++)
            areas.push_back(cs_area(out.get(), i));
        std::vector<double> sorted = areas;
        std::sort(sorted.begin(), sorted.end(), [](double a, double b) { return std::fabs(a) > std::fabs(b); });
        for (size_t i = 0; i < sorted.size(); i++)
            EXPECT_NEAR(std::fabs(sorted[i]), c.areas[i], 1e-3) << c.what << " polyline " << i;
        if (sorted.size() == 2)
            EXPECT_EQ(sorted[0] * sorted[1] < 0, c.opposite) << c.what;
        for (uint32_t i = 0; i < out->numpolys; i++)
            EXPECT_TRUE(out->closed[i]) << c.what;
    }
}

// A block that runs into the image's side has no crossing there, so its
// outline is open. The scan meets the block's top edge first (pixel row 1);
// the walk goes forward from that start to one end of the outline, then
// backward from the start to the other, and the two runs are joined into one
// polyline that keeps the inside on the same side as a closed outline (the
// right, walking with y growing by row). Crossings of 0 and 1 at 0.5 lie on
// pixel boundaries: whole numbers in the image plane.
TEST(ContourSources, FromImageJoinsARegionOnTheBorder)
{
    struct Case {
        const char *what;
        std::array<int, 4> block;
        std::vector<std::array<float, 2>> points;
    };
    const Case cases[] = {
        // Start (0.5, 2) is an end: forward finds nothing beyond the side.
        {"against the first column",
         {0, 2, 3, 5},
         {{0.5f, 5}, {1.5f, 5}, {2.5f, 5}, {3, 4.5f}, {3, 3.5f}, {3, 2.5f}, {2.5f, 2}, {1.5f, 2}, {0.5f, 2}}},
        // Start (5.5, 2) is the second point: (6.5, 2) comes from the
        // backward run; the last column's edges are not examined.
        {"against the last column",
         {5, 2, 8, 5},
         {{6.5f, 2}, {5.5f, 2}, {5, 2.5f}, {5, 3.5f}, {5, 4.5f}, {5.5f, 5}, {6.5f, 5}}},
        // Against the last row, whose horizontal edges are not examined:
        // start (2.5, 5) lies inside the run; forward goes down the left side.
        {"against the last row",
         {2, 5, 5, 8},
         {{5, 6.5f}, {5, 5.5f}, {4.5f, 5}, {3.5f, 5}, {2.5f, 5}, {2, 5.5f}, {2, 6.5f}}},
    };
    const float scale[3] = {8, 8, 1}, offset[3] = {0, 0, 0};
    for (const Case &c : cases) {
        img_ptr f = cs_field(8, 8, {c.block});
        cont_ptr out(cont_fromimage(f.get(), 0.5f, scale, offset, 2.0f, 0, 1e9f, 0));
        ASSERT_NE(out, nullptr) << c.what;
        ASSERT_EQ(out->numpolys, 1u) << c.what;
        EXPECT_FALSE(out->closed[0]) << c.what;
        ASSERT_EQ(out->vertcount[0], c.points.size()) << c.what;
        for (size_t k = 0; k < c.points.size(); k++) {
            EXPECT_NEAR(out->verts[3 * k], c.points[k][0], 1e-5) << c.what << " point " << k;
            EXPECT_NEAR(out->verts[3 * k + 1], c.points[k][1], 1e-5) << c.what << " point " << k;
            EXPECT_EQ(out->verts[3 * k + 2], 0.5f) << c.what << " point " << k;
        }
    }
}

TEST(ContourSources, FromImageRefusesNonFiniteFieldsWithAnEmptyContour)
{
    const float scale[3] = {16, 16, 1}, offset[3] = {0, 0, 0};
    for (float bad : {NAN, INFINITY}) {
        img_ptr f = cs_field(16, 16, {{4, 4, 11, 11}});
        ((float *)f->pixels)[3] = bad;
        testlog_capture log;
        cont_ptr out(cont_fromimage(f.get(), 0.5f, scale, offset, 2.0f, 0, 1e9f, 0));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->numpolys, 0u);
        EXPECT_TRUE(log.contains("cont_fromimage:"));
    }
}

// A 16 x 16 field over the world box 0..16 (one unit a pixel, z 0..1).
TEST(ContourSources, RasterizePolyMaxRaisesNeverLowersAndSkipsOutside)
{
    const float size[3] = {16, 16, 1}, origin[3] = {0, 0, 0};
    struct Case {
        const char *what;
        std::vector<float> verts;
        int rect[4];
        int raised; // pixels that change
    };
    // The field is 0 but for pixel (5, 8), which holds 0.9.
    const Case cases[] = {
        {"level run along row 8", {2.5f, 8.5f, 0.5f, 12.5f, 8.5f, 0.5f}, {2, 8, 13, 9}, 10},
        {"run leaving the field on both sides", {-5.5f, 3.5f, 0.25f, 20.5f, 3.5f, 0.25f}, {-5, 3, 21, 4}, 16},
        {"column", {7.5f, 1.5f, 0.75f, 7.5f, 4.5f, 0.75f}, {7, 1, 8, 5}, 4},
        {"wholly outside", {-9, -9, 1, -3, -4, 1}, {-9, -9, -2, -3}, 0},
    };
    for (const Case &c : cases) {
        img_ptr f = cs_field(16, 16, {});
        float *p = (float *)f->pixels;
        p[8 * 16 + 5] = 0.9f;
        int rect[4] = {};
        img_rasterizepolymax(f.get(), size, origin, (int)c.verts.size() / 3, c.verts.data(), rect);
        for (int k = 0; k < 4; k++)
            EXPECT_EQ(rect[k], c.rect[k]) << c.what << " bound " << k;
        int raised = 0;
        for (int i = 0; i < 256; i++)
            if (i != 8 * 16 + 5 && p[i] != 0)
                raised++;
        EXPECT_EQ(raised, c.raised) << c.what;
        EXPECT_EQ(p[8 * 16 + 5], 0.9f) << c.what << ": never lowered";
    }
    // A single point reports the empty box and raises its own pixel.
    img_ptr f = cs_field(16, 16, {});
    const float one[3] = {3.5f, 2.5f, 0.5f};
    int rect[4] = {};
    img_rasterizepolymax(f.get(), size, origin, 1, one, rect);
    EXPECT_EQ(rect[0], 99999);
    EXPECT_EQ(rect[3], -99999);
    EXPECT_EQ(((float *)f->pixels)[2 * 16 + 3], 0.5f);
}

// A level polyline at height 0.5 over a flat field: kept whole (and closed)
// when the surface is above it, dropped when the surface is below.
TEST(ContourSources, SampleImageWhollyBelowAndAbove)
{
    const float size[3] = {16, 16, 1}, origin[3] = {0, 0, 0};
    const float ring[] = {2, 2, 0.5f, 2, 12, 0.5f, 12, 12, 0.5f, 12, 2, 0.5f, 2, 2, 0.5f};
    struct Case {
        float surface;
        uint32_t polys;
    };
    for (const Case &c : {Case{0.8f, 1}, Case{0.2f, 0}}) {
        img_ptr f = cs_field(16, 16, {{0, 0, 16, 16}}, c.surface);
        cont_ptr src(cont_new());
        ASSERT_EQ(cont_addpoly(src.get(), ring, 5, 1, 3, "test"), 1);
        cont_ptr out(con_sampleimage(f.get(), src.get(), size, origin));
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(out->numpolys, c.polys) << "surface " << c.surface;
        if (c.polys) {
            EXPECT_TRUE(out->closed[0]);
            EXPECT_EQ(out->link[0], 3);
            EXPECT_NEAR(std::fabs(cont_polyarea(out->verts, out->vertcount[0])), 100, 1e-3);
        }
    }
}

TEST(ContourSources, PolylinesWithoutPointsAreRefused)
{
    cont_ptr c(cont_new());
    const float p[3] = {1, 2, 3};
    testlog_capture log;
    EXPECT_EQ(cont_addpoly(c.get(), p, 0, 0, -1, "caller_name"), 0);
    EXPECT_TRUE(log.contains("caller_name"));
    EXPECT_EQ(c->numpolys, 0u);
    // Nearest point of 0 or 1 points is the no-answer distance.
    EXPECT_EQ(con_nearestpoint(p, 0, 0, p, 0), 9999999.0f);
    EXPECT_EQ(con_nearestpoint(p, 0, 1, p, 0), 9999999.0f);
}

namespace {
std::vector<float> cs_poly(const contour *c, uint32_t i)
{
    uint32_t first = 0;
    for (uint32_t k = 0; k < i; k++)
        first += c->vertcount[k];
    return std::vector<float>(c->verts + 3 * first, c->verts + 3 * (first + c->vertcount[i]));
}
} // namespace

// Draping over a 32 x 32 field on the world box 0..32 (one unit a pixel,
// heights 0..1), so samples fall on whole pixel coordinates. Thinning keeps
// corners only (dot limit 0.99) or nothing is thinned (limit 2).
TEST(ContourSources, SimplifyDrapesWithinTheWindow)
{
    const float size[3] = {32, 32, 1}, origin[3] = {0, 0, 0};
    const float ring[] = {4, 4, 0, 4, 20, 0, 20, 20, 0, 20, 4, 0, 4, 4, 0};
    struct Case {
        const char *what;
        float surface, zmin, zmax;
        uint32_t polys;
    };
    const Case cases[] = {
        {"window holding the whole surface", 0.5f, 0, 1, 1},
        {"zmax below the surface", 0.8f, 0, 0.5f, 0},
    };
    for (const Case &c : cases) {
        img_ptr f = cs_field(32, 32, {{0, 0, 32, 32}}, c.surface);
        cont_ptr src(cont_new());
        ASSERT_EQ(cont_addpoly(src.get(), ring, 5, 1, -1, "test"), 1);
        ASSERT_EQ(cont_addpoly(src.get(), ring, 1, 0, -1, "test"), 1); // one point: passed over
        cont_ptr out(con_simplify(f.get(), src.get(), size, origin, c.zmin, c.zmax, 0.99f, 0, 1e9f));
        ASSERT_NE(out, nullptr) << c.what;
        ASSERT_EQ(out->numpolys, c.polys) << c.what;
        if (!c.polys)
            continue;
        EXPECT_TRUE(out->closed[0]) << c.what;
        EXPECT_EQ(out->link[0], 0) << c.what;
        std::vector<float> q = cs_poly(out.get(), 0);
        ASSERT_EQ(q.size(), 15u) << c.what << ": the four corners and the closing point";
        for (int k = 0; k < 15; k++)
            EXPECT_NEAR(q[k], k % 3 == 2 ? c.surface : ring[k], 1e-5) << c.what << " value " << k;
    }
}

// A level line along row 10 over a V-shaped valley, height |x - 16| / 16
// (exact in binary, bilinear sampling is linear between pixel centres):
// below zmin = 4.5 / 16 the line is held at zmin, and the dip begins and
// ends exactly where the surface passes zmin, at x = 11.5 and 20.5.
TEST(ContourSources, SimplifyHoldsADipAtZmin)
{
    const float size[3] = {32, 32, 1}, origin[3] = {0, 0, 0};
    img_ptr f = cs_field(32, 32, {});
    float *p = (float *)f->pixels;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++)
            p[y * 32 + x] = std::fabs(x + 0.5f - 16) / 16;
    const float zmin = 4.5f / 16, line[] = {2, 10, 0, 30, 10, 0};
    cont_ptr src(cont_new());
    ASSERT_EQ(cont_addpoly(src.get(), line, 2, 0, -1, "test"), 1);
    ASSERT_EQ(cont_addpoly(src.get(), line, 2, 0, -1, "test"), 1);
    cont_ptr out(con_simplify(f.get(), src.get(), size, origin, zmin, 1, 2.0f, 0, 1e9f));
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->numpolys, 2u);
    std::vector<float> expect; // x, z
    for (int x = 2; x <= 30; x++) {
        if (x == 12)
            expect.insert(expect.end(), {11.5f, zmin});
        if (x == 21)
            expect.insert(expect.end(), {20.5f, zmin});
        expect.insert(expect.end(), {(float)x, std::max(std::fabs(x - 16.0f) / 16, zmin)});
    }
    for (uint32_t i = 0; i < 2; i++) {
        EXPECT_FALSE(out->closed[i]);
        EXPECT_EQ(out->link[i], (int32_t)i);
        std::vector<float> q = cs_poly(out.get(), i);
        ASSERT_EQ(q.size() / 3, expect.size() / 2);
        for (size_t k = 0; k < expect.size() / 2; k++) {
            EXPECT_NEAR(q[3 * k], expect[2 * k], 1e-4) << "point " << k;
            EXPECT_NEAR(q[3 * k + 1], 10, 1e-4) << "point " << k;
            EXPECT_NEAR(q[3 * k + 2], expect[2 * k + 1], 1e-6) << "point " << k;
        }
    }
}

// A run back and forth along one row, 2,400 legs of 58 pixels (139,201
// samples): the first 131,072 samples are thinned as soon as they wait, once,
// and the result still holds every turn with the path's full length.
TEST(ContourSources, SimplifyThinsLongPiecesPreemptively)
{
    const float size[3] = {64, 64, 1}, origin[3] = {0, 0, 0};
    img_ptr f = cs_field(64, 64, {{0, 0, 64, 64}}, 0.5f);
    constexpr int legs = 2400;
    std::vector<float> run;
    for (int k = 0; k <= legs; k++)
        run.insert(run.end(), {k % 2 ? 60.0f : 2.0f, 10, 0});
    cont_ptr src(cont_new());
    ASSERT_EQ(cont_addpoly(src.get(), run.data(), legs + 1, 0, -1, "test"), 1);
    testlog_capture log;
    cont_ptr out(con_simplify(f.get(), src.get(), size, origin, 0, 1, 0.99f, 0, 1e9f));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(log.count("pre-emptively simplifying 131072->"), 1) << log.text();
    ASSERT_EQ(out->numpolys, 1u);
    std::vector<float> q = cs_poly(out.get(), 0);
    const size_t n = q.size() / 3;
    // Thinning in two runs keeps the point where the first run stopped.
    EXPECT_GE(n, (size_t)legs + 1);
    EXPECT_LE(n, (size_t)legs + 2);
    double length = 0;
    int turns = 0;
    for (size_t k = 1; k < n; k++) {
        EXPECT_NEAR(q[3 * k + 1], 10, 1e-4);
        EXPECT_EQ(q[3 * k + 2], 0.5f);
        length += std::fabs(q[3 * k] - q[3 * k - 3]);
        if (k + 1 < n && (q[3 * k] - q[3 * k - 3]) * (q[3 * k + 3] - q[3 * k]) < 0)
            turns++;
    }
    EXPECT_EQ(turns, legs - 1);
    EXPECT_NEAR(length, 58.0 * legs, 0.05);
    EXPECT_NEAR(q[0], 2, 1e-4);
    EXPECT_NEAR(q[3 * n - 3], 2, 1e-4);
}

// ---------------------------------------------------------------- layer paths

namespace {
class LayerPaths : public testing::Test {
protected:
    testlog_capture quiet; // the layer table's own lines

    void SetUp() override
    {
        for (int i = 0; i < project_maxlayers; i++) {
            project_layer &l = project.layers[i];
            memset(&l, 0, sizeof(l));
            snprintf(l.name, sizeof(l.name), "Unused Layer");
            l.uid = 0xFFFFFFFFu;
        }
        numlayers = 0;
        memset(numlayertypes, 0, sizeof(numlayertypes));
        project_selectedlayer = -1;
        project.size[0] = 12;
        project.size[1] = 6;
        project.size[2] = 1;
        project.scale = 1;
        sys_time = 1.0;
    }
    void TearDown() override
    {
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        project_selectedlayer = -1;
        sys_time = 0.0;
    }
    // A paths-layer centred at (x, y), w x h, unturned, in the groups of
    // mask, holding the given curves of straight segments (local -0.5..0.5);
    // a closed curve repeats its first point.
    int layer(float x, float y, float w, float h, uint32_t mask, uint32_t flags,
              const std::vector<std::pair<std::vector<std::array<float, 2>>, bool>> &curves)
    {
        int slot = project_layeralloc(layer_paths);
        EXPECT_GE(slot, 0);
        project_layer &l = project.layers[slot];
        l.pos[0] = x, l.pos[1] = y, l.size[0] = w, l.size[1] = h, l.size[2] = 1;
        l.rotation = 0;
        l.groups = mask;
        l.flags = flags;
        l.data.pth = path_new();
        for (const auto &[pts, closed] : curves) {
            int c = path_newcurve(l.data.pth);
            for (const auto &q : pts) {
                const float p[3] = {q[0], q[1], 0};
                path_prependknot(l.data.pth, c, p);
            }
            l.data.pth->curves[c].closed = closed;
        }
        return slot;
    }
};
} // namespace

// Four paths-layers and a raster-layer: a visible layer in group 2 with a
// closed square and an open line, a hidden one in group 2, one only in group
// 3, and a visible triangle in groups 2 and 5. Each group takes the closed
// curves of its visible paths-layers, in slot order, mapped to the canvas
// (pos + size * local).
TEST_F(LayerPaths, OnlyClosedCurvesOfVisibleLayersInTheGroup)
{
    const std::vector<std::array<float, 2>> square = {{-0.4f, -0.4f}, {0.4f, -0.4f}, {0.4f, 0.4f}, {-0.4f, 0.4f},
                                                      {-0.4f, -0.4f}};
    const std::vector<std::array<float, 2>> line = {{-0.5f, 0.45f}, {0.5f, 0.45f}};
    const std::vector<std::array<float, 2>> triangle = {{-0.4f, -0.4f}, {0.4f, -0.4f}, {0, 0.4f}, {-0.4f, -0.4f}};
    layer(6, 3, 4, 2, 1u << 2, 0, {{square, true}, {line, false}});   // 3.2 x 1.6 at (4.4, 2.2)
    layer(6, 3, 8, 4, 1u << 2, layer_hidden, {{square, true}});       // hidden
    layer(9, 4, 2, 1, 1u << 3, 0, {{square, true}});                  // 1.6 x 0.8 at (8.2, 3.6)
    ASSERT_GE(project_layeralloc(layer_raster), 0);                   // not a paths-layer
    project.layers[3].groups = 1u << 2;
    layer(2, 2, 2, 2, (1u << 2) | (1u << 5), 0, {{triangle, true}});  // (1.2, 1.2) (2.8, 1.2) (2, 2.8)
    struct Case {
        int group;
        std::vector<std::array<float, 5>> polys; // area, box min x, min y, max x, max y
        int layers;
    };
    const Case cases[] = {
        {2, {{5.12f, 4.4f, 2.2f, 7.6f, 3.8f}, {1.28f, 1.2f, 1.2f, 2.8f, 2.8f}}, 2},
        {3, {{1.28f, 8.2f, 3.6f, 9.8f, 4.4f}}, 1},
        {5, {{1.28f, 1.2f, 1.2f, 2.8f, 2.8f}}, 1},
        {9, {}, 0},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        cont_ptr out(cont_fromlayerpaths(c.group));
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(out->numpolys, c.polys.size()) << "group " << c.group;
        EXPECT_TRUE(log.contains("from " + std::to_string(c.layers) + " layers")) << log.text();
        for (uint32_t i = 0; i < out->numpolys; i++) {
            const auto &e = c.polys[i];
            EXPECT_TRUE(out->closed[i]);
            EXPECT_EQ(out->link[i], -1);
            std::vector<float> q = cs_poly(out.get(), i);
            ASSERT_GE(q.size(), 12u);
            EXPECT_EQ(q[0], q[q.size() - 3]) << "a closed polyline ends on its first point";
            EXPECT_EQ(q[1], q[q.size() - 2]);
            EXPECT_NEAR(std::fabs(cont_polyarea(q.data(), (uint32_t)q.size() / 3)), e[0], 1e-3)
                << "group " << c.group << " polyline " << i;
            float box[4] = {1e9f, 1e9f, -1e9f, -1e9f};
            for (size_t k = 0; k < q.size(); k += 3) {
                box[0] = std::min(box[0], q[k]), box[1] = std::min(box[1], q[k + 1]);
                box[2] = std::max(box[2], q[k]), box[3] = std::max(box[3], q[k + 1]);
            }
            for (int k = 0; k < 4; k++)
                EXPECT_NEAR(box[k], e[k + 1], 1e-4) << "group " << c.group << " polyline " << i << " bound " << k;
        }
    }
}

// ---------------------------------------------------------------- scikit-image

// Random smooth fields traced with thinning and smoothing off: every traced
// point is one of find_contours' points (tests/geom/skimage_reference.py)
// moved by half a pixel (its indices count from pixel centres), and every
// one of those is traced, but for the points on the last row and column,
// whose edges the tracer does not examine.
TEST(ContourSources, FromImageMatchesScikitImage)
{
    std::mt19937 rng(1213);
    std::uniform_real_distribution<float> freq(0.05f, 0.3f), phase(0, 6.283f), level(-0.5f, 0.5f);
    const std::array<int, 2> sides[] = {{48, 40}, {33, 57}, {64, 64}, {21, 30}, {50, 35}, {40, 48}};
    for (const auto &side : sides) {
        const int w = side[0], h = side[1];
        float fx[4], fy[4], ph[4];
        for (int k = 0; k < 4; k++)
            fx[k] = freq(rng), fy[k] = freq(rng), ph[k] = phase(rng);
        img_ptr f = cs_field(w, h, {});
        float *p = (float *)f->pixels;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                float v = 0;
                for (int k = 0; k < 4; k++)
                    v += 0.5f * std::sin(fx[k] * x + fy[k] * y * (k % 2 ? -1 : 1) + ph[k]);
                p[y * w + x] = v;
            }
        const float t = level(rng);
        const std::string in = testtemp_file("skq"), out = testtemp_file("ska");
        {
            std::ofstream s(in);
            s.precision(9);
            s << w << " " << h << " " << t << "\n";
            for (int i = 0; i < w * h; i++)
                s << p[i] << "\n";
        }
        const int status =
            testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/geom/skimage_reference.py", in, out}, 120);
        std::vector<std::array<double, 2>> ref;
        {
            std::ifstream s(out);
            double r, c;
            while (s >> r >> c)
                if (r != h - 1 && c != w - 1)
                    ref.push_back({c + 0.5, r + 0.5});
        }
        remove(in.c_str());
        remove(out.c_str());
        ASSERT_EQ(status, 0) << "/usr/bin/python3 tests/geom/skimage_reference.py failed (needs python3-skimage)";
        ASSERT_FALSE(ref.empty()) << w << "x" << h;

        // The field was written at 9 digits: read back the same floats.
        const float scale[3] = {(float)w, (float)h, 1}, offset[3] = {0, 0, 0};
        cont_ptr c(cont_fromimage(f.get(), t, scale, offset, 2.0f, 0, 1e9f, 0));
        ASSERT_NE(c, nullptr);
        std::vector<std::array<double, 2>> mine;
        for (uint32_t i = 0; i < c->numverts; i++)
            mine.push_back({c->verts[3 * i], c->verts[3 * i + 1]});
        auto unmatched = [](const std::vector<std::array<double, 2>> &a, const std::vector<std::array<double, 2>> &b) {
            int missing = 0;
            for (const auto &q : a) {
                double best = 1e30;
                for (const auto &r : b)
                    best = std::min(best, std::hypot(q[0] - r[0], q[1] - r[1]));
                if (best > 1e-4) {
                    ADD_FAILURE() << "no match for (" << q[0] << ", " << q[1] << "): nearest " << best;
                    missing++;
                }
            }
            return missing;
        };
        EXPECT_EQ(unmatched(mine, ref), 0) << w << "x" << h << " traced points";
        EXPECT_EQ(unmatched(ref, mine), 0) << w << "x" << h << " scikit-image points";
    }
}
