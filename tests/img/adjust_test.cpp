// Scalar-field adjustments: the linear map, autolevel, the anti-aliased
// threshold, hard and smooth quantisation (and its refusal of no levels) and
// the anti-aliasing filter on small steps and on a straight edge.
#include "img/adjust.h"

#include "imgfixture.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

class Adjust : public ImgTest<2> {};

static image *at_row(const std::vector<float> &v)
{
    return img_alloc("f", (int)v.size(), 1, 4, v.data());
}

TEST_F(Adjust, ClampMapsLinearlyWithoutClamping)
{
    image *img = at_row({-1, 0, 0.5f, 3});
    image *out = img_scalarclamp(img, 2, 0.25f);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "f.modb");
    const float want[4] = {-1.75f, 0.25f, 1.25f, 6.25f};
    for (int i = 0; i < 4; i++)
        EXPECT_FLOAT_EQ(imgfixture_at(out, i, 0), want[i]) << i;
    EXPECT_EQ(imgfixture_at(img, 3, 0), 3.0f) << "the source is left as it is";
    img_free(out);
    img_free(img);
}

TEST_F(Adjust, Autolevel)
{
    struct Case {
        const char *what;
        std::vector<float> values;
        bool stretched; // else a plain copy under the source's name
        std::vector<float> want;
    };
    const Case cases[] = {
        {"falling 1.0 to 0.2 stretches to 1 .. 0", {1.0f, 0.6f, 0.2f}, true, {1, 0.5f, 0}},
        {"constant: a copy", {0.3f, 0.3f}, false, {0.3f, 0.3f}},
        {"spanning 0.00005: a copy", {0.3f, 0.30005f}, false, {0.3f, 0.30005f}},
    };
    for (const Case &c : cases) {
        image *img = at_row(c.values);
        testlog_capture cap;
        image *out = img_scalarautolevel(img);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, c.stretched ? "f.modb" : "f") << c.what;
        for (size_t i = 0; i < c.want.size(); i++)
            EXPECT_NEAR(imgfixture_at(out, (int)i, 0), c.want[i], 1e-6f) << c.what << " " << i;
        EXPECT_EQ(cap.contains("scalarautolevel min:0.200000 max:1.000000"), c.stretched) << c.what;
        img_free(out);
        img_free(img);
    }
}

TEST_F(Adjust, AntiAliasedThreshold)
{
    // 3 x 3 fields; the result at the centre pixel.
    struct Case {
        const char *what;
        float values[9];
        float level;
        int centre;
        float want;
    };
    const Case cases[] = {
        {"nothing below the level: 1, even with centre", {0.6f, 0.7f, 0.8f, 0.6f, 0.9f, 0.6f, 0.7f, 0.7f, 0.7f},
         0.5f, 1, 1.0f},
        {"nothing above the level: 0", {0.1f, 0.2f, 0.3f, 0.1f, 0.2f, 0.3f, 0.1f, 0.2f, 0.3f}, 0.5f, 0, 0.0f},
        {"mixed: (p - level) / (mean above - mean below)", {0, 0, 1, 0, 0.75f, 1, 0, 1, 1}, 0.5f, 0,
         0.25f / 0.95f},
        {"mixed with centre: plus 0.5", {0, 0, 1, 0, 0.75f, 1, 0, 1, 1}, 0.5f, 1, 0.25f / 0.95f + 0.5f},
        {"values equal to the level are left out of the means", {0, 0.5f, 1, 0, 0.75f, 1, 0, 0.5f, 1}, 0.5f, 0,
         0.25f / (3.75f / 4)},
    };
    for (const Case &c : cases) {
        image *img = img_alloc("f", 3, 3, 4, c.values);
        image *out = img_scalarath(img, c.level, c.centre);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "f.ath");
        EXPECT_NEAR(imgfixture_at(out, 1, 1), c.want, 1e-6f) << c.what;
        img_free(out);
        img_free(img);
    }
}

TEST_F(Adjust, HardQuantize)
{
    image *img = at_row({0.1f, 0.125f, 0.4f, 1.0f});
    image *out = img_scalarquantize(img, 4, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "f");
    const float want[4] = {0.0f, 0.25f, 0.5f, 1.0f};
    for (int i = 0; i < 4; i++)
        EXPECT_FLOAT_EQ(imgfixture_at(out, i, 0), want[i]) << i;
    img_free(out);
    img_free(img);
}

TEST_F(Adjust, SmoothQuantizeOfAHalfPlane)
{
    // 0 on the left half, 1 on the right; one level is the threshold at 0.5.
    image *img = imgfixture_field("f", 8, 4, [](int x, int) { return x < 4 ? 0.0f : 1.0f; });
    image *out = img_scalarquantize(img, 1, 1);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "f.qnt");
    const float want[8] = {0, 0, 0, 0, 0.5f, 1, 1, 1}; // the left edge's -0.5 is clamped to 0
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            EXPECT_FLOAT_EQ(imgfixture_at(out, x, y), want[x]) << x << "," << y;
    img_free(out);

    // Four levels: the edge pixel's thresholds give 7/8, 5/8, 3/8 and 1/8,
    // whose mean is again 0.5.
    out = img_scalarquantize(img, 4, 1);
    ASSERT_NE(out, nullptr);
    for (int x = 0; x < 8; x++)
        EXPECT_FLOAT_EQ(imgfixture_at(out, x, 2), want[x]) << x;
    img_free(out);
    img_free(img);
}

TEST_F(Adjust, QuantizeRefusesNoLevels)
{
    image *img = at_row({0.1f, 0.9f});
    for (int levels : {0, -3}) {
        for (int smooth : {0, 1}) {
            testlog_capture cap;
            EXPECT_EQ(img_scalarquantize(img, levels, smooth), nullptr) << levels;
            EXPECT_TRUE(cap.contains("img_scalarquantize: " + std::to_string(levels) + " levels, need at least 1"));
        }
    }
    EXPECT_EQ(imgfixture_at(img, 0, 0), 0.1f);
    EXPECT_EQ(imgfixture_at(img, 1, 0), 0.9f);
    img_free(img);
}

TEST_F(Adjust, FxaaLeavesSmallStepsAndTheBorder)
{
    struct Case {
        const char *what;
        std::function<float(int, int)> f;
    };
    const Case cases[] = {
        {"diagonal staircase of 0.05 steps", [](int x, int y) { return 0.05f * (float)((x + y) / 2); }},
        {"checkerboard of 0.09", [](int x, int y) { return (x + y) % 2 ? 0.09f : 0.0f; }},
        {"constant", [](int, int) { return 0.7f; }},
    };
    for (const Case &c : cases) {
        image *img = imgfixture_field("f", 9, 7, c.f);
        image *out = img_scalarfxaa(img);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "f.fxa");
        for (int y = 0; y < 7; y++)
            for (int x = 0; x < 9; x++)
                EXPECT_EQ(imgfixture_at(out, x, y), imgfixture_at(img, x, y)) << c.what << " at " << x << "," << y;
        img_free(out);
        img_free(img);
    }
}

TEST_F(Adjust, FxaaSoftensAStraightStep)
{
    // A vertical step from 0 to 1 between columns 3 and 4. Its ends are never
    // found, so the sub-pixel offset applies: the neighbourhood mean stands
    // 1/3 away from the pixel, offset = (r^2 (2r - 3))^2 / 2 with r = 1/3,
    // sampled toward the other side of the step.
    image *img = imgfixture_field("f", 8, 8, [](int x, int) { return x < 4 ? 0.0f : 1.0f; });
    image *out = img_scalarfxaa(img);
    ASSERT_NE(out, nullptr);
    const double r = 1.0 / 3, k = r * r * (2 * r - 3), offset = k * k * 0.5;
    for (int y = 0; y < 8; y++) {
        bool border = y == 0 || y == 7;
        EXPECT_NEAR(imgfixture_at(out, 3, y), border ? 0.0 : offset, 1e-6) << y;
        EXPECT_NEAR(imgfixture_at(out, 4, y), border ? 1.0 : 1 - offset, 1e-6) << y;
        for (int x : {0, 1, 2, 5, 6, 7})
            EXPECT_EQ(imgfixture_at(out, x, y), imgfixture_at(img, x, y)) << x << "," << y;
    }
    img_free(out);
    img_free(img);
}
