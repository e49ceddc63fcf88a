// Layer depth maps: the edge cases of each layer type as a table, and random
// raster-layers against a reference that takes every pixel back through the
// layer's frame and samples the raster bilinearly; the rectangle rebuild
// against the whole map.
#include "project/layerdepth.h"

#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "render/text.h"
#include "sys/config.h"
#include "testlog.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int ld_w = 80, ld_h = 60; // map of the 8 x 6 x 2 canvas

float ld_at(const image *img, int x, int y)
{
    return ((const float *)img->pixels)[(size_t)y * img->width + x];
}

// Plain bilinear sample with the position held inside the field.
float ld_bilinear(const std::vector<float> &v, int w, int h, double x, double y)
{
    x = std::fmin(std::fmax(x, 0.0), w - 1.0);
    y = std::fmin(std::fmax(y, 0.0), h - 1.0);
    int x0 = std::min((int)x, w - 2 < 0 ? 0 : w - 2), y0 = std::min((int)y, h - 2 < 0 ? 0 : h - 2);
    int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    double fx = x - x0, fy = y - y0;
    return (float)(v[y0 * w + x0] * (1 - fx) * (1 - fy) + v[y0 * w + x1] * fx * (1 - fy) +
                   v[y1 * w + x0] * (1 - fx) * fy + v[y1 * w + x1] * fx * fy);
}

// The expected map of a raster-layer: per pixel the layer frame inverted
// (centre, turn, extent, mirrors), the crop's part of the raster with its
// tilt plane added, sampled bilinearly and mapped to heights; the Z fill
// outside. near marks pixels within a hair of the footprint's edge.
struct ld_expect {
    std::vector<float> z;
    std::vector<int> near;
};

ld_expect ld_reference(const project_layer &l, const image *raster)
{
    bool mx = l.flags & layer_mirrorx, my = l.flags & layer_mirrory, inv = l.flags & layer_invert;
    double cx0 = mx ? 1 - l.crop[2] : l.crop[0], cx1 = mx ? 1 - l.crop[0] : l.crop[2];
    double cy0 = my ? l.crop[1] : 1 - l.crop[3], cy1 = my ? l.crop[3] : 1 - l.crop[1];
    int W = raster->width, H = raster->height;
    int c0 = (int)std::lround(cx0 * W), c1 = (int)std::lround(cx1 * W);
    int r0 = (int)std::lround(cy0 * H), r1 = (int)std::lround(cy1 * H);
    int w = c1 - c0, h = r1 - r0;
    std::vector<float> part((size_t)w * h);
    double ax = l.tilt[0], ay = l.tilt[1];
    if (my)
        ax = -ax;
    if (mx)
        ay = -ay;
    if (l.blend == 1)
        ax = -ax, ay = -ay;
    double k = l.size[0] / w / l.size[2];
    double tx = std::tan(ay * M_PI / 180.0) * k, ty = std::tan(ax * M_PI / 180.0) * k;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            double t = (i - w / 2.0) * tx + (j - h / 2.0) * ty;
            double d = ((const float *)raster->pixels)[(size_t)(r0 + j) * W + c0 + i];
            part[(size_t)j * w + i] = (float)(inv ? d - t : d + t);
        }
    double z0 = l.pos[2] / project.size[2], dz = l.size[2] / project.size[2];
    if (l.blend == 1)
        z0 = 1 - z0 - dz;
    double px = l.pos[0] / project.size[0] * ld_w, py = (1 - l.pos[1] / project.size[1]) * ld_h;
    double sx = l.size[0] / project.size[0] * ld_w, sy = l.size[1] / project.size[1] * ld_h;
    double a = l.rotation * M_PI / 180.0;
    ld_expect e{std::vector<float>((size_t)ld_w * ld_h, l.zfill), std::vector<int>((size_t)ld_w * ld_h, 0)};
    for (int y = 0; y < ld_h; y++)
        for (int x = 0; x < ld_w; x++) {
            double dx = x - px, dy = y - py;
            double u = (dx * std::cos(a) + dy * std::sin(a)) / sx, v = (-dx * std::sin(a) + dy * std::cos(a)) / sy;
            if (mx)
                u = -u;
            if (my)
                v = -v;
            double s = (u + 0.5) * w, t = (v + 0.5) * h;
            size_t i = (size_t)y * ld_w + x;
            e.near[i] = std::fabs(s) < 1e-3 || std::fabs(s - w) < 1e-3 || std::fabs(t) < 1e-3 ||
                        std::fabs(t - h) < 1e-3;
            if (s < 0 || t < 0 || s >= w || t >= h)
                continue;
            double val = ld_bilinear(part, w, h, s, t);
            e.z[i] = (float)(z0 + (inv ? 1 - val : val) * dz);
        }
    return e;
}

class LayerDepth : public WorkerPoolTest<2> {
protected:
    std::vector<image *> images;
    text_object texts[text_maxobjects] = {};
    text_object *savedtexts = nullptr;

    void SetUp() override
    {
        memset(project.layers, 0, sizeof(project.layers));
        project.size[0] = 8.0f, project.size[1] = 6.0f, project.size[2] = 2.0f;
        project.ppi = 100;
        project.scale = 1.0f;
        project.pixelwidth = ld_w, project.pixelheight = ld_h;
        project_selectedlayer = -1;
        project_rastertool = -1;
        jobmode = 0;
        savedtexts = text_objects;
        for (text_object &t : texts)
            t.font = -1;
        text_objects = texts;
    }
    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
        for (project_layer &l : project.layers)
            img_free(l.depth);
        memset(project.layers, 0, sizeof(project.layers));
        text_objects = savedtexts;
        project_rastertool = -1;
        project_selectedlayer = -1;
        jobmode = 0;
    }
    image *keep(image *img)
    {
        images.push_back(img);
        return img;
    }
    // A raster of 2 x 2 blocks: the last row and column of any crop on
    // even pixels repeat their neighbours, so any reading of the edge agrees.
    image *raster(int w, int h, std::mt19937 &rng, float lo = 0.0f, float hi = 1.0f)
    {
        std::uniform_real_distribution<float> d(lo, hi);
        image *img = keep(img_allocfloat("raster", w, h));
        float *p = (float *)img->pixels;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                p[y * w + x] = y % 2 ? p[(y - 1) * w + x] : x % 2 ? p[y * w + x - 1] : d(rng);
        return img;
    }
    project_layer &layer(int slot, int type)
    {
        project_layer &l = project.layers[slot];
        memset(&l, 0, sizeof(l));
        l.type = type;
        l.zfill = 0.125f;
        l.pos[0] = 4.0f, l.pos[1] = 3.0f, l.pos[2] = 0.5f;
        l.size[0] = 4.0f, l.size[1] = 2.0f, l.size[2] = 1.0f;
        l.crop[2] = l.crop[3] = 1.0f;
        if (type == layer_model || type == layer_text)
            l.data.mesh = -1;
        return l;
    }
};

// Random raster-layers: the whole map against the reference, and a random
// rectangle rebuilt in place against the whole map.
TEST_F(LayerDepth, RasterLayersMatchTheReferenceAndTheirRectangles)
{
    std::mt19937 rng(24);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int n = 0; n < 40; n++) {
        image *img = raster(16, 16, rng);
        project_layer &l = layer(0, layer_raster);
        l.data.img = img;
        l.pos[0] = 3.0f + 2.0f * u(rng) + 0.0137f;
        l.pos[1] = 2.0f + 2.0f * u(rng) + 0.0071f;
        l.pos[2] = 0.5f * u(rng);
        // At least 17 pixels each way: the raster is no denser than its footprint.
        l.size[0] = 1.7f + 2.0f * u(rng), l.size[1] = 1.7f + 1.5f * u(rng), l.size[2] = 0.5f + u(rng);
        l.rotation = n % 4 == 0 ? 90.0f * (float)(n % 3) : 360.0f * u(rng) - 180.0f;
        l.flags = (n & 1 ? layer_mirrorx : 0) | (n & 2 ? layer_mirrory : 0) | (n % 5 == 1 ? layer_invert : 0);
        l.blend = n % 3 == 2 ? 1 : 0;
        if (n % 4 == 3) {
            l.crop[0] = 0.125f * (float)(int)(3 * u(rng)), l.crop[2] = 1.0f - 0.125f * (float)(int)(3 * u(rng));
            l.crop[1] = 0.125f * (float)(int)(3 * u(rng)), l.crop[3] = 1.0f - 0.125f * (float)(int)(3 * u(rng));
        }
        if (n % 3 == 1)
            l.tilt[0] = 20.0f * u(rng) - 10.0f, l.tilt[1] = 20.0f * u(rng) - 10.0f;
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        ASSERT_NE(map, nullptr);
        ld_expect e = ld_reference(l, img);
        float worst = 0.0f;
        for (int i = 0; i < ld_w * ld_h; i++)
            if (!e.near[i])
                worst = std::fmax(worst, std::fabs(((float *)map->pixels)[i] - e.z[i]));
        EXPECT_LE(worst, 1e-5f) << "layer " << n;

        l.depth = img_copy(map);
        int x0 = (int)(u(rng) * ld_w), y0 = (int)(u(rng) * ld_h);
        int32_t rect[4] = {x0, y0, x0 + 1 + (int)(u(rng) * (ld_w - x0)), y0 + 1 + (int)(u(rng) * (ld_h - y0))};
        float *c = (float *)l.depth->pixels;
        for (int i = 0; i < ld_w * ld_h; i++)
            c[i] = -7.0f; // whatever was there before must not survive inside
        l.stale = 1;
        layer_generatedepth(0, rect);
        EXPECT_EQ(l.stale, 0u);
        float rworst = 0.0f;
        for (int y = rect[1]; y < rect[3]; y++)
            for (int x = rect[0]; x < rect[2]; x++)
                rworst = std::fmax(rworst, std::fabs(ld_at(l.depth, x, y) - ld_at(map, x, y)));
        EXPECT_LE(rworst, 1e-5f) << "layer " << n;
        // Outside the rectangle the map is left alone.
        if (rect[0] > 0)
            EXPECT_EQ(ld_at(l.depth, rect[0] - 1, rect[1]), -7.0f) << "layer " << n;
        if (rect[3] < ld_h)
            EXPECT_EQ(ld_at(l.depth, rect[0], rect[3]), -7.0f) << "layer " << n;
        img_free(l.depth);
        l.depth = nullptr;
    }
}

// Smoothing blurs both paths by the same full-resolution radius: a rebuilt
// rectangle leaves no step against the whole map.
TEST_F(LayerDepth, SmoothedRectangleMatchesTheWholeMap)
{
    std::mt19937 rng(7);
    project_layer &l = layer(0, layer_raster);
    l.data.img = raster(16, 8, rng);
    l.smooth = 3;
    image *map = keep(layer_gendepth(0, ld_w, ld_h));
    ASSERT_NE(map, nullptr);
    l.depth = img_copy(map);
    int32_t rect[4] = {25, 20, 50, 40};
    layer_generatedepth(0, rect);
    float worst = 0.0f;
    for (int y = 0; y < ld_h; y++)
        for (int x = 0; x < ld_w; x++)
            worst = std::fmax(worst, std::fabs(ld_at(l.depth, x, y) - ld_at(map, x, y)));
    EXPECT_LE(worst, 1e-5f);
}

// The edge cases of each type, on a 4 x 2 raster stamped one raster pixel
// per map pixel: its footprint is columns 38..41 and rows 29..30.
TEST_F(LayerDepth, EdgeCases)
{
    std::vector<float> values = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.5f, 0.0f, 0.25f};
    image *img = keep(img_alloc("r", 4, 2, 4, values.data()));
    auto rasterlayer = [&]() -> project_layer & {
        project_layer &l = layer(0, layer_raster);
        l.data.img = img;
        l.pos[0] = 4.0f, l.pos[1] = 3.0f, l.pos[2] = 0.0f;
        l.size[0] = 0.4f, l.size[1] = 0.2f, l.size[2] = 0.5f; // 4 x 2 pixels, z range 0.25
        return l;
    };
    // Row y of the footprint, four pixels from column x0, against the
    // expected heights; the stamp's edge reads its last pixel at 1e-4 short.
    auto row = [&](const image *map, int y, std::vector<float> want, int x0 = 38) {
        for (int i = 0; i < 4; i++)
            if (std::fabs(ld_at(map, x0 + i, 29 + y) - want[i]) > 1e-4f)
                return ::testing::AssertionFailure() << "pixel " << i << ": " << ld_at(map, x0 + i, 29 + y);
        return ::testing::AssertionSuccess();
    };
    {
        layer(0, layer_paths);
        EXPECT_EQ(layer_gendepth(0, ld_w, ld_h), nullptr);
        layer(0, layer_raster);
        EXPECT_EQ(layer_gendepth(0, ld_w, ld_h), nullptr);
        project_layer &m = layer(0, layer_model);
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        ASSERT_NE(map, nullptr);
        for (int i = 0; i < ld_w * ld_h; i++)
            ASSERT_EQ(((float *)map->pixels)[i], m.zfill);
        EXPECT_EQ(layer_gendepth(-1, ld_w, ld_h), nullptr);
    }
    {
        rasterlayer();
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        EXPECT_TRUE(row(map, 0, {0.0f, 0.0625f, 0.125f, 0.1875f}));
        EXPECT_EQ(ld_at(map, 37, 29), 0.125f); // Z fill outside
    }
    {
        rasterlayer().crop[2] = 0.5f; // left half stretched over the footprint
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        EXPECT_TRUE(row(map, 0, {0.0f, 0.03125f, 0.0625f, 0.0625f}));
        project_layer &l = rasterlayer();
        l.crop[2] = 0.5f;
        l.flags = layer_mirrorx; // the right half, mirrored
        map = keep(layer_gendepth(0, ld_w, ld_h));
        // Mirrored, the footprint's half-open side is its left one.
        EXPECT_TRUE(row(map, 0, {0.1875f, 0.1875f, 0.15625f, 0.125f}, 39));
    }
    {
        project_layer &l = rasterlayer();
        l.tilt[0] = 0.00005f, l.tilt[1] = 0.00004f; // below the tilt test: untouched
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        EXPECT_TRUE(row(map, 0, {0.0f, 0.0625f, 0.125f, 0.1875f}));
    }
    {
        rasterlayer().flags = layer_removebottom;
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        EXPECT_EQ(ld_at(map, 38, 29), 0.125f); // value 0 leaves the Z fill
        EXPECT_NEAR(ld_at(map, 41, 29), 0.1875f, 1e-4f);
    }
    {
        rasterlayer().flags = layer_invert; // 1 lands at the base, 0 at the top
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        EXPECT_TRUE(row(map, 1, {0.0f, 0.125f, 0.25f, 0.1875f}));
    }
    {
        project_layer &l = rasterlayer();
        l.blend = 1; // "Subtractive", z 0, size z 0.25 of the canvas
        image *map = keep(layer_gendepth(0, ld_w, ld_h));
        EXPECT_TRUE(row(map, 0, {0.75f, 0.8125f, 0.875f, 0.9375f}));
    }
}

// A text-layer of no size takes it from its image once and keeps it.
TEST_F(LayerDepth, TextLayerSizedFromItsImage)
{
    std::vector<uint8_t> rgb(19 * 9 * 3, 255);
    texts[3].font = 0;
    texts[3].img = keep(img_alloc("text", 19, 9, 3, rgb.data()));
    project_layer &l = layer(0, layer_text);
    l.data.text = 3;
    l.size[0] = l.size[1] = 0.0f;
    image *map = keep(layer_gendepth(0, ld_w, ld_h));
    ASSERT_NE(map, nullptr);
    EXPECT_FLOAT_EQ(l.size[0], 0.2f);
    EXPECT_FLOAT_EQ(l.size[1], 0.1f);
    EXPECT_FLOAT_EQ(ld_at(map, 40, 30), 0.75f); // white at the top of z 0.5 + 0.5
    keep(layer_gendepth(0, ld_w, ld_h));
    EXPECT_FLOAT_EQ(l.size[0], 0.2f);
    l.data.text = -1; // missing text: the Z fill map
    map = keep(layer_gendepth(0, ld_w, ld_h));
    EXPECT_EQ(ld_at(map, 40, 30), l.zfill);
    texts[3].img = nullptr;
    texts[3].font = -1;
}

// A preview changes the selected layer's map only.
TEST_F(LayerDepth, QuantisePreviewOnlyOnTheSelectedLayer)
{
    std::mt19937 rng(3);
    image *img = raster(16, 8, rng);
    for (int slot : {0, 1}) {
        project_layer &l = layer(slot, layer_raster);
        l.data.img = img;
    }
    image *before = keep(layer_gendepth(1, ld_w, ld_h));
    project_rastertool = 8;
    rasteredit_quantlevels = 2.4f;
    project_selectedlayer = 0;
    image *selected = keep(layer_gendepth(0, ld_w, ld_h));
    image *other = keep(layer_gendepth(1, ld_w, ld_h));
    EXPECT_EQ(memcmp(before->pixels, other->pixels, (size_t)ld_w * ld_h * 4), 0);
    EXPECT_NE(memcmp(before->pixels, selected->pixels, (size_t)ld_w * ld_h * 4), 0);
    // Two levels: every height inside the footprint is the base or the top.
    float v = ld_at(selected, 40, 30);
    EXPECT_TRUE(std::fabs(v - 0.25f) < 1e-6f || std::fabs(v - 0.75f) < 1e-6f) << v;
}

// A footprint under one pixel still gets a raster of at least 1 x 1.
TEST_F(LayerDepth, TinyFootprintStillStamps)
{
    std::mt19937 rng(5);
    project_layer &l = layer(0, layer_raster);
    l.data.img = raster(8, 8, rng, 1.0f, 1.0f);
    l.size[0] = 0.001f, l.size[1] = 0.001f;
    testlog_capture log;
    image *map = keep(layer_gendepth(0, ld_w, ld_h));
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(log.contains("canvas-space dimensions: 1x1")) << log.text();
    EXPECT_FLOAT_EQ(ld_at(map, 40, 30), 0.75f);
}

} // namespace
