// Raster-layer edits: expand/contract and draft angle against a grey
// dilation written out here by brute force, levels on "Remove Bottom"
// layers, circular tiling past the selection, the size-mismatch refusal,
// and degenerate settings that must leave the layer as it was with its
// undo event.
#include "project/brush.h"
#include "project/rasteredit.h"
#include "undofixture.h"

#include <cmath>
#include <functional>
#include <vector>

namespace {

class RasterEdit : public UndoProject {
public:
    void SetUp() override
    {
        UndoProject::SetUp();
        project.scale = 1.0f;
        project.ppi = 10;
        project.size[0] = project.size[1] = 20.0f;
        project.size[2] = 1.0f;
        rasteredit_zradius = 0.0f;
        rasteredit_vertical = 0.0f;
        layer_gentex.store(0);
        brush_busy.store(0);
    }

    // A raster-layer of w x h pixels and sx x sy units whose pixels come
    // from fn(x, y); selected, with the given raster tool.
    static int layer(int w, int h, float sx, float sy, int tool, std::function<float(int, int)> fn)
    {
        int s = project_layeralloc(layer_raster);
        image *img = img_allocfloat("r", w, h);
        float *px = (float *)img->pixels;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                px[y * w + x] = fn(x, y);
        project_layer &l = project.layers[s];
        l.data.img = img;
        l.size[0] = sx;
        l.size[1] = sy;
        l.size[2] = 1.0f;
        l.pos[2] = 0.0f;
        project_selectedlayer = s;
        project_rastertool = tool;
        return s;
    }
    static std::vector<float> pixels(const image *img)
    {
        const float *p = (const float *)img->pixels;
        return std::vector<float>(p, p + (size_t)img->width * img->height);
    }
    static const event &lastevent() { return event_ring[(event_position - 1) % event_slots]; }
};

// A bump and a ridge with some texture, so a dilation has something to show.
float relief(int x, int y)
{
    float dx = (float)x - 7.0f, dy = (float)y - 5.0f;
    float bump = std::max(0.0f, 0.8f - 0.05f * (dx * dx + dy * dy));
    return std::max(bump, 0.2f + 0.02f * (float)((x * 7 + y * 3) % 11));
}

// Grey dilation by a round kernel k(d), d the pixel distance, over a source
// framed by border pixels of -99999 (skipped as empty); pixels under -9999
// take nothing, and a position where no source pixel counts stays -99999.
std::vector<float> dilate(const std::vector<float> &src, int w, int h, int border, float radius,
                          std::function<float(float)> k)
{
    int bw = w + 2 * border, bh = h + 2 * border;
    std::vector<float> big((size_t)bw * bh, -99999.0f), out((size_t)bw * bh, -99999.0f);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            big[(size_t)(y + border) * bw + x + border] = src[(size_t)y * w + x];
    int c = (int)std::ceil(radius);
    for (int y = 0; y < bh; y++)
        for (int x = 0; x < bw; x++)
            for (int j = -c; j <= c; j++)
                for (int i = -c; i <= c; i++) {
                    int sx = x + i, sy = y + j;
                    float d = std::sqrt((float)(i * i + j * j));
                    if (sx < 0 || sy < 0 || sx >= bw || sy >= bh || d > radius)
                        continue;
                    float v = big[(size_t)sy * bw + sx];
                    if (v >= -9999.0f)
                        out[(size_t)y * bw + x] = std::max(out[(size_t)y * bw + x], v + k(d));
                }
    return out;
}

float maxof(const std::vector<float> &v)
{
    float m = -1e30f;
    for (float x : v)
        m = std::max(m, x);
    return m;
}

TEST_F(RasterEdit, ExpandAndContractMatchBruteForceDilation)
{
    struct Case {
        const char *name;
        int w, h;
        float sx, sy, r, zr, posz;
        int border;      // pixels added on each side
        float grow;      // units added to size x and y
        float kradius;   // kernel radius in pixels
        float rimpixels; // rounded rim width in pixels (0 none)
    };
    const Case cases[] = {
        {"expand 0.5 on 100 px / 10 units", 100, 100, 10, 10, 0.5f, 0, 0, 5, 1.0f, 5.0f, 0},
        {"contract keeps size", 24, 16, 6, 4, -0.5f, 0, 0, 0, 0.0f, 2.0f, 0},
        {"expand with a rounded rim", 24, 16, 6, 4, 1.0f, 0.5f, 0, 4, 2.0f, 4.0f, 2.0f},
        {"expand above the canvas bottom", 20, 20, 5, 5, 0.5f, 0, 0.25f, 2, 1.0f, 2.0f, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        int s = layer(c.w, c.h, c.sx, c.sy, 4, relief);
        project.layers[s].pos[2] = c.posz;
        rasteredit_hradius = c.r;
        rasteredit_zradius = c.zr;
        std::vector<float> src = pixels(project.layers[s].data.img);
        layer_processraster();
        const project_layer &l = project.layers[s];
        ASSERT_EQ(l.data.img->width, c.w + 2 * c.border);
        ASSERT_EQ(l.data.img->height, c.h + 2 * c.border);
        EXPECT_FLOAT_EQ(l.size[0], c.sx + c.grow);
        EXPECT_FLOAT_EQ(l.size[1], c.sy + c.grow);
        // The rim falls by zr over its width along a quarter circle.
        float depth = c.zr / 1.0f, rim = c.rimpixels, kr = c.kradius;
        auto kernel = [&](float d) {
            float t = d - (kr - rim);
            if (t <= 0.0f || rim == 0.0f)
                return 0.0f;
            float u = t / rim;
            return (std::sqrt(std::max(0.0f, 1.0f - u * u)) - 1.0f) * depth;
        };
        std::vector<float> want;
        if (c.r >= 0.0f) {
            want = dilate(src, c.w, c.h, c.border, kr, kernel);
        } else {
            for (float &v : src)
                v = 1.0f - v;
            want = dilate(src, c.w, c.h, 0, kr, kernel);
            for (float &v : want)
                v = 1.0f - v;
        }
        float z0 = c.posz, m = maxof(want);
        std::vector<float> got = pixels(l.data.img);
        for (size_t i = 0; i < want.size(); i++) {
            float expect = (want[i] + z0) / (m + z0);
            ASSERT_NEAR(got[i], expect, 1e-4f * std::max(1.0f, std::fabs(expect))) << "pixel " << i;
        }
        EXPECT_FLOAT_EQ(l.pos[2], 0.0f);
        EXPECT_NEAR(l.size[2], m + z0, 1e-5f);
        EXPECT_TRUE(log.contains("raster-layer expand/contract done"));
        EXPECT_EQ(lastevent().type, event_layerdata);
    }
}

TEST_F(RasterEdit, DraftAngleMatchesBruteForceCone)
{
    struct Case {
        const char *name;
        int blend;
        float keptz; // position z afterwards
    };
    const Case cases[] = {{"maximum layer", 3, 0.0f}, {"subtractive layer keeps position z", 1, 0.5f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        int s = layer(24, 24, 6, 6, 5, relief);
        project_layer &l = project.layers[s];
        l.pos[2] = 0.5f;
        l.blend = c.blend;
        rasteredit_draftangle = 30.0f;
        std::vector<float> src = pixels(l.data.img);
        layer_processraster();
        // Height range 0.5 + 1, spread tan 30 x 1.5 units, 4 pixels a unit.
        float d = 1.5f, q = std::tan(30.0f * (float)M_PI / 180.0f) * d, kr = q * 4.0f;
        int border = (int)(q / 6.0f * 24.0f);
        ASSERT_EQ(l.data.img->width, 24 + 2 * border);
        std::vector<float> want = dilate(src, 24, 24, border, kr, [&](float dist) { return -(dist / kr) * d; });
        std::vector<float> got = pixels(l.data.img);
        for (size_t i = 0; i < want.size(); i++) {
            float expect = want[i] * 1.0f / 1.5f + 0.5f / 1.5f;
            ASSERT_NEAR(got[i], expect, 1e-4f * std::max(1.0f, std::fabs(expect))) << "pixel " << i;
        }
        EXPECT_FLOAT_EQ(l.size[2], 1.5f);
        EXPECT_FLOAT_EQ(l.pos[2], c.keptz);
        EXPECT_NEAR(l.size[0], 6.0f + 2.0f * q, 1e-5f);
    }
}

TEST_F(RasterEdit, LevelsKeepEmptyPixelsOfRemoveBottomLayers)
{
    int s = layer(8, 6, 4, 3, 3, [](int x, int y) { return x < 3 ? 0.0f : 0.1f * (float)y + 0.05f; });
    project.layers[s].flags |= layer_removebottom;
    rasteredit_levels = {{{0.0f, 0.2f}, {1.0f, 1.0f}}, 2, 0};
    rasteredit_levelspoints = 2;
    rasteredit_levelsmode = 0;
    layer_processraster();
    std::vector<float> got = pixels(project.layers[s].data.img);
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 8; x++) {
            float v = x < 3 ? 0.0f : 0.2f + 0.8f * (0.1f * (float)y + 0.05f);
            EXPECT_NEAR(got[y * 8 + x], v, 1e-5f) << x << "," << y;
        }
    EXPECT_TRUE(log.contains("raster-layer adjust levels done"));
}

TEST_F(RasterEdit, CircularTilingIgnoresTheSelectionAndResizesTheLayer)
{
    int s = layer(16, 8, 4, 2, 7, relief);
    selectionmap = img_allocfloat("sel", 200, 200); // nothing selected
    rasteredit_tilecount = 6;
    rasteredit_tileradius = 2.0f;
    layer_processraster();
    const project_layer &l = project.layers[s];
    ASSERT_NE(l.data.img, nullptr);
    EXPECT_FLOAT_EQ(l.size[0], (float)l.data.img->width / 10.0f);
    EXPECT_FLOAT_EQ(l.size[1], (float)l.data.img->height / 10.0f);
    EXPECT_GT(maxof(pixels(l.data.img)), 0.1f); // the tiles, not the unselected original
    EXPECT_TRUE(log.contains("raster-layer circular-tiling done"));
}

TEST_F(RasterEdit, MismatchedResultUnderASelectionIsAbandoned)
{
    // A 100 x 100 raster on 2 x 2 units at 10 pixels a unit: the tiling is
    // scaled to 20 x 20, smaller than the raster, and has no border.
    int s = layer(100, 100, 2, 2, 6, relief);
    selectionmap = img_allocfloat("sel", 200, 200);
    std::vector<float> before = pixels(project.layers[s].data.img);
    layer_processraster();
    EXPECT_TRUE(log.contains("abandoning edit..."));
    EXPECT_TRUE(log.contains("selected raster edit size mismatch! 100x100 != 20x20 (edit:6)"));
    EXPECT_EQ(pixels(project.layers[s].data.img), before);
    EXPECT_FLOAT_EQ(project.layers[s].size[0], 2.0f);
    EXPECT_EQ(lastevent().type, event_layerdata);
}

// Settings that give no result keep the raster and the frame and still
// record one event whose two states are equal.
TEST_F(RasterEdit, DegenerateSettingsKeepTheLayerWithItsEvent)
{
    struct Case {
        const char *name;
        int tool;
        std::function<void(project_layer &)> set;
    };
    const Case cases[] = {
        {"radius 0", 4, [](project_layer &) { rasteredit_hradius = 0.0f; }},
        {"tile count 0", 6, [](project_layer &) { rasteredit_tilecount = 0.0f; }},
        {"ring count 0", 7, [](project_layer &) { rasteredit_tilecount = 0.0f; }},
        {"no levels points", 3, [](project_layer &) { rasteredit_levelspoints = 0; }},
        {"quantize to 0 levels", 8, [](project_layer &) { rasteredit_quantlevels = 0.0f; }},
        {"draft angle 90", 5, [](project_layer &) { rasteredit_draftangle = 90.0f; }},
        {"all-empty raster, expand", 4,
         [](project_layer &l) {
             rasteredit_hradius = 0.5f;
             l.flags |= layer_removebottom;
             std::fill((float *)l.data.img->pixels, (float *)l.data.img->pixels + 48, 0.0f);
         }},
        {"all-empty raster, draft", 5,
         [](project_layer &l) {
             rasteredit_draftangle = 20.0f;
             l.flags |= layer_removebottom;
             std::fill((float *)l.data.img->pixels, (float *)l.data.img->pixels + 48, 0.0f);
         }},
        {"zero-sized layer", 4, [](project_layer &l) { l.size[0] = 0.0f; }},
        {"no edit tool", 2, [](project_layer &) {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        rasteredit_hradius = 0.5f;
        rasteredit_tilecount = 2.0f;
        rasteredit_levelspoints = 3;
        rasteredit_quantlevels = 4.0f;
        rasteredit_draftangle = 30.0f;
        int s = layer(8, 6, 4, 3, c.tool, relief);
        c.set(project.layers[s]);
        std::vector<float> before = pixels(project.layers[s].data.img);
        project_layer record = project.layers[s];
        uint32_t queued = event_position;
        layer_processraster();
        const project_layer &l = project.layers[s];
        EXPECT_EQ(pixels(l.data.img), before);
        EXPECT_EQ(memcmp(l.size, record.size, sizeof(l.size)), 0);
        EXPECT_EQ(l.pos[2], record.pos[2]);
        ASSERT_EQ(event_position, queued + 1);
        const event &e = lastevent();
        EXPECT_EQ(e.type, event_layerdata);
        ASSERT_EQ(e.oldsize, e.newsize);
        EXPECT_EQ(memcmp(e.olddata, e.newdata, e.oldsize), 0);
    }
}

// A blank raster (all 0 at height 0) has no range to normalise by: the
// expansion keeps its heights finite instead of dividing by zero.
TEST_F(RasterEdit, ExpandingABlankLayerStaysFinite)
{
    int s = layer(20, 20, 5, 5, 4, [](int, int) { return 0.0f; });
    rasteredit_hradius = 0.5f;
    layer_processraster();
    const project_layer &l = project.layers[s];
    EXPECT_TRUE(rasteredit_finite(l.data.img));
    EXPECT_TRUE(std::isfinite(l.size[2]));
    EXPECT_FLOAT_EQ(l.size[0], 6.0f);
    EXPECT_EQ(l.data.img->width, 24);
}

} // namespace
