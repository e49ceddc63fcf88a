// Copy to Raster-Layer of a text-layer: the table of pixel sizes, smoothing
// margins, inversion, crops and mirrors against the text object's own image
// read pixel by pixel, and the exits that must leave the generator free.
#include "project/textmodeldepth.h"

#include "img/image.h"
#include "project/genraster.h"
#include "project/project.h"
#include "render/text.h"
#include "sys/config.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

constexpr int td_w = 20, td_h = 10; // the text object's rendered image

// Grey level of the rendered text at (x, y): every pixel distinct.
int td_grey(int x, int y) { return (x * 7 + y * 23) % 251; }

class TextDepth : public ::testing::Test {
protected:
    text_object texts[text_maxobjects] = {};
    text_object *savedtexts = nullptr;
    image *rendered = nullptr;
    float quality = 1.0f;

    void SetUp() override
    {
        memset(project.layers, 0, sizeof(project.layers));
        project.ppi = 100;
        project.scale = 1.0f;
        savedtexts = text_objects;
        for (text_object &t : texts)
            t.font = -1;
        text_objects = texts;
        rendered = img_alloc("txtimg", td_w, td_h, 3);
        for (int y = 0; y < td_h; y++)
            for (int x = 0; x < td_w; x++)
                memset(rendered->pixels + (y * td_w + x) * 3, td_grey(x, y), 3);
        texts[5].font = 0;
        texts[5].ptsize = 12.0f;
        texts[5].img = rendered;
        quality = cfg_getf(cfg_canvasquality);
        cfg_setf(cfg_canvasquality, 1.0f);
        layer_genkind = 0;
        layer_gendone = 0;
    }
    void TearDown() override
    {
        img_free(rendered);
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        text_objects = savedtexts;
        memset(project.layers, 0, sizeof(project.layers));
        cfg_setf(cfg_canvasquality, quality);
        layer_genkind = 0;
        layer_gendone = 0;
    }
    // A text-layer in slot 2 and the request as the main window fills it.
    project_layer &textlayer(float sx, float sy, float smooth)
    {
        project_layer &l = project.layers[2];
        l.type = layer_text;
        l.data.text = 5;
        l.size[0] = sx, l.size[1] = sy, l.size[2] = 0.5f;
        l.crop[2] = l.crop[3] = 1.0f;
        l.smooth = (int)smooth;
        layer_genrequest = {};
        layer_genrequest.layer = 2;
        layer_genrequest.size[0] = sx, layer_genrequest.size[1] = sy, layer_genrequest.size[2] = 0.5f;
        layer_genrequest.chamfer = smooth;
        layer_genkind = 6;
        return l;
    }
};

TEST_F(TextDepth, SizesMarginsInversionCropsAndMirrors)
{
    struct {
        const char *what;
        float sx, sy, smooth;
        uint32_t flags;
        float crop[4];
        int w, h;              // expected pixel size
        int (*source)(int, int); // source pixel of result pixel, encoded x + y * 100
        bool inverted;
    } cases[] = {
        {"same size", 0.2f, 0.1f, 0, 0, {0, 0, 1, 1}, 20, 10, [](int x, int y) { return x + y * 100; }, false},
        {"inverted", 0.2f, 0.1f, 0, layer_invert, {0, 0, 1, 1}, 20, 10, [](int x, int y) { return x + y * 100; },
         true},
        {"mirror x, right half shown", 0.1f, 0.1f, 0, layer_mirrorx, {0.5f, 0, 1, 1}, 10, 10,
         [](int x, int y) { return (9 - x) + y * 100; }, false},
        {"right half shown", 0.1f, 0.1f, 0, 0, {0.5f, 0, 1, 1}, 10, 10,
         [](int x, int y) { return (10 + x) + y * 100; }, false},
        {"mirror y, bottom half shown", 0.2f, 0.05f, 0, layer_mirrory, {0, 0, 1, 0.5f}, 20, 5,
         [](int x, int y) { return x + (4 - y) * 100; }, false},
        {"bottom half shown", 0.2f, 0.05f, 0, 0, {0, 0, 1, 0.5f}, 20, 5,
         [](int x, int y) { return x + (5 + y) * 100; }, false},
        {"doubled", 0.4f, 0.2f, 0, 0, {0, 0, 1, 1}, 40, 20, nullptr, false},
        {"smooth 0.9 takes no margin", 0.4f, 0.2f, 0.9f, 0, {0, 0, 1, 1}, 40, 20, nullptr, false},
        {"smooth 3.4", 0.4f, 0.2f, 3.4f, 0, {0, 0, 1, 1}, 46, 26, nullptr, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        project_layer &l = textlayer(c.sx, c.sy, c.smooth);
        l.flags = c.flags;
        memcpy(l.crop, c.crop, sizeof(l.crop));
        layer_textdepth(nullptr);
        ASSERT_EQ(layer_gendone.load(), 1);
        EXPECT_EQ(layer_genkind.load(), 6) << "the viewport clears it once installed";
        EXPECT_EQ(project.generating[0].load(), 0);
        image *r = layer_genrequest.result;
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(r->bytesperpixel, 4);
        EXPECT_EQ(r->width, c.w);
        EXPECT_EQ(r->height, c.h);
        // The margin keeps the text at its size: the extents grow with it.
        const float grow = c.smooth >= 1.0f ? 2.0f * std::floor(c.smooth + 0.5f) / 100.0f : 0.0f;
        EXPECT_NEAR(layer_genrequest.size[0], c.sx + grow, 1e-6);
        EXPECT_NEAR(layer_genrequest.size[1], c.sy + grow, 1e-6);
        const float *p = (const float *)r->pixels;
        if (c.source) {
            int wrong = 0;
            for (int y = 0; y < c.h; y++)
                for (int x = 0; x < c.w; x++) {
                    int s = c.source(x, y);
                    float v = td_grey(s % 100, s / 100) / 255.0f;
                    // Neighbouring source pixels differ by 7/255 or more: a
                    // resampling hair is not a wrong pixel.
                    if (std::fabs(p[y * c.w + x] - (c.inverted ? 1.0f - v : v)) > 2e-3f)
                        wrong++;
                }
            EXPECT_EQ(wrong, 0);
        }
        if (c.smooth >= 1.0f) {
            // The margin starts at zero and the blur spreads into it.
            EXPECT_GT(p[3 * c.w + 3], 0.0f);
            EXPECT_LT(p[0], p[3 * c.w + 3]);
        }
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        layer_gendone = 0;
    }
}

TEST_F(TextDepth, MissingTextOrSizeLeavesTheGeneratorFree)
{
    struct {
        const char *what;
        int text;
        float sx;
        int type;
    } cases[] = {
        {"no text object", -1, 0.2f, layer_text},
        {"a free text object", 7, 0.2f, layer_text},
        {"zero width", 5, 0.001f, layer_text},
        {"not a text-layer", 5, 0.2f, layer_raster},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        project_layer &l = textlayer(c.sx, 0.1f, 0);
        l.data.text = c.text;
        l.type = c.type;
        layer_textdepth(nullptr);
        EXPECT_EQ(layer_genkind.load(), 0);
        EXPECT_EQ(layer_gendone.load(), 0);
        EXPECT_EQ(project.generating[0].load(), 0);
        EXPECT_EQ(layer_genrequest.result, nullptr);
        EXPECT_TRUE(log.contains("layer_textdepth: "));
    }
}

} // namespace
