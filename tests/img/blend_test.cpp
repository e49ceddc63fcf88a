// Blending: every mode on the same-size and the resampling path, bilinear
// resampling of a small source, the vector blend, rectangles (clipped) and
// every row of a tall image blended once by its band.
#include "img/blend.h"

#include "img/vector.h"
#include "imgfixture.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

class Blend : public ImgTest<2> {};

static image *bt_filled(const char *name, int w, int h, float v)
{
    std::vector<float> values((size_t)w * h, v);
    return img_alloc(name, w, h, 4, values.data());
}

TEST_F(Blend, EveryModeOnBothPaths)
{
    struct Case {
        const char *what;
        int mode;
        float t, s, f;
        float same, resampled; // the value of every target pixel afterwards
    };
    const Case cases[] = {
        {"additive", 0, 0.5f, 0.25f, 2, 1.0f, 1.0f},
        {"subtractive", 1, 0.5f, 0.25f, 2, 0.0f, 0.0f},
        {"multiply", 2, 0.5f, 0.25f, 2, 0.25f, 0.25f},
        {"maximum", 3, 0.5f, 0.25f, 2, 0.5f, 0.5f},
        {"minimum", 4, 0.5f, 0.25f, 2, 0.5f, 0.5f},
        {"difference", 5, 0.5f, 0.25f, 2, 0.0f, 0.0f},
        {"mix: 0.5 (1 - 2) + 0.5", 6, 0.5f, 0.25f, 2, 0.0f, 0.0f},
        {"larger, a tie keeps the target", 7, 0.5f, 0.25f, 2, 0.5f, 0.5f},
        {"larger takes s, or s f when resampled", 7, -0.3f, 0.2f, 2, 0.2f, 0.4f},
        {"smaller, a tie keeps the target", 8, 0.5f, 0.25f, 2, 0.5f, 0.5f},
        {"smaller takes s, or s f when resampled", 8, -0.3f, 0.1f, 2, 0.1f, 0.2f},
        {"mode 10 changes nothing", 10, 0.5f, 0.25f, 2, 0.5f, 0.5f},
        {"a negative mode changes nothing", -1, 0.5f, 0.25f, 2, 0.5f, 0.5f},
        {"additive, no clamping", 0, 0.9f, 0.5f, 1, 1.4f, 1.4f},
    };
    // The 4 x 4 table, resampled from 2 x 2, and 13 wide so that rows run in
    // whole vector blocks and a tail.
    struct Shape {
        int tw, th, sw, sh;
        bool resampled;
    };
    const Shape shapes[] = {{4, 4, 4, 4, false}, {4, 4, 2, 2, true}, {13, 3, 13, 3, false}};
    for (const Case &c : cases) {
        for (const Shape &sh : shapes) {
            image *target = bt_filled("t", sh.tw, sh.th, c.t);
            image *source = bt_filled("s", sh.sw, sh.sh, c.s);
            img_scalarblend(target, source, c.mode, c.f);
            float want = sh.resampled ? c.resampled : c.same;
            for (int i = 0; i < sh.tw * sh.th; i++)
                EXPECT_NEAR(imgfixture_at(target, i % sh.tw, i / sh.tw), want, 1e-6f)
                    << c.what << " " << sh.tw << "x" << sh.th << (sh.resampled ? " resampled" : "") << " pixel " << i;
            img_free(source);
            img_free(target);
        }
    }
}

TEST_F(Blend, ResamplingMapsPixelIndexesBilinearly)
{
    const float values[4] = {0, 1, 2, 3};
    image *source = img_alloc("s", 2, 2, 4, values);
    image *target = bt_filled("t", 4, 4, 0);
    img_scalarblend(target, source, 0, 1);
    struct Case {
        int x, y;
        float want;
    };
    const Case cases[] = {
        {0, 0, 0.0f}, // target pixel 0 samples source position 0
        {1, 0, 0.5f},
        {0, 1, 1.0f},
        {1, 1, 1.5f}, // source position (0.5, 0.5): the mean of all four
    };
    for (const Case &c : cases)
        EXPECT_FLOAT_EQ(imgfixture_at(target, c.x, c.y), c.want) << c.x << "," << c.y;
    img_free(target);
    img_free(source);
}

TEST_F(Blend, VectorBlend)
{
    struct Case {
        const char *what;
        img_vec t, s, want;
        int tolerance;
    };
    const Case cases[] = {
        {"a zero source leaves the target", {120, -40}, {0, 0}, {120, -40}, 0},
        {"a zero target takes the source", {0, 0}, {-7, 300}, {-7, 300}, 0},
        {"equal lengths at a right angle mix evenly", {100, 0}, {0, 100}, {50, 50}, 1},
        {"the longer length wins, directions by length", {300, 0}, {0, 100}, {225, 75}, 1},
        {"opposite equal vectors cancel", {500, 0}, {-500, 0}, {0, 0}, 1},
    };
    for (const Case &c : cases) {
        for (int srcside : {4, 2}) {
            image *target = img_alloc("t", 4, 4, 4, std::vector<img_vec>(16, c.t).data());
            image *source = img_alloc("s", srcside, srcside, 4, std::vector<img_vec>(16, c.s).data());
            img_scalarblend(target, source, img_blendvector, 1);
            // Pixels (0, 0) and (1, 1) sample the small source at whole and
            // half positions, where the bilinear weights are exact.
            for (int i : {0, 5}) {
                img_vec got = ((const img_vec *)target->pixels)[i];
                EXPECT_NEAR(got.x, c.want.x, c.tolerance) << c.what << " source side " << srcside;
                EXPECT_NEAR(got.y, c.want.y, c.tolerance) << c.what << " source side " << srcside;
            }
            img_free(source);
            img_free(target);
        }
    }
}

TEST_F(Blend, RectangleIsClippedToTheTarget)
{
    struct Case {
        const char *what;
        int rect[4];
        int x0, y0, x1, y1; // the pixels that change
    };
    const Case cases[] = {
        {"inside", {1, 2, 3, 4}, 1, 2, 3, 4},
        {"whole target", {0, 0, 6, 5}, 0, 0, 6, 5},
        {"reaching past every edge", {-3, -2, 60, 50}, 0, 0, 6, 5},
        {"wholly outside", {7, 0, 9, 5}, 0, 0, 0, 0},
        {"inside out", {4, 4, 2, 2}, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        image *target = bt_filled("t", 6, 5, 1);
        image *source = bt_filled("s", 6, 5, 2);
        img_blendrect(target, source, 0, c.rect);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 6; x++) {
                bool inside = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
                EXPECT_EQ(imgfixture_at(target, x, y), inside ? 3.0f : 1.0f) << c.what << " at " << x << "," << y;
            }
        img_free(source);
        img_free(target);
    }
}

TEST_F(Blend, EveryRowIsBlendedOnceByItsBand)
{
    for (bool resampled : {false, true}) {
        image *target = bt_filled("t", 11, 101, 0);
        image *source = resampled ? bt_filled("s", 7, 7, 1) : bt_filled("s", 11, 101, 1);
        img_scalarblend(target, source, 0, 1);
        const int rect[4] = {0, 10, 11, 90};
        img_blendrect(target, source, 0, rect);
        for (int y = 0; y < 101; y++)
            for (int x = 0; x < 11; x++)
                ASSERT_FLOAT_EQ(imgfixture_at(target, x, y), y >= 10 && y < 90 ? 2.0f : 1.0f)
                    << (resampled ? "resampled" : "same size") << " at " << x << "," << y;
        img_free(source);
        img_free(target);
    }
}

TEST_F(Blend, RefusesImagesItCannotRead)
{
    image *field = bt_filled("f", 2, 2, 0);
    image *colour = img_alloc("c", 2, 2, 3);
    image *empty = img_alloc("e", 0, 2, 4);
    struct Case {
        const char *what;
        image *target;
        const image *source;
        const char *line;
    };
    const Case cases[] = {
        {"no source", field, nullptr, "img_scalarblend: no image"},
        {"colour source", field, colour, "not a scalar field"},
        {"empty source", field, empty, "img_scalarblend: source \"e\" is empty"},
    };
    for (const Case &c : cases) {
        testlog_capture cap;
        img_scalarblend(c.target, c.source, 0, 1);
        EXPECT_TRUE(cap.contains(c.line)) << c.what << "\n" << cap.text();
        EXPECT_EQ(imgfixture_at(field, 0, 0), 0.0f) << c.what;
    }
    img_free(empty);
    img_free(colour);
    img_free(field);
}
