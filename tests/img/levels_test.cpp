// Levels curves in their four modes (values of the curved modes from an
// independent double-precision evaluation) with their debug line, the
// threshold, refused curves, rectangles in 0..1 units and the colour
// conversions, checked against Python's colorsys.
#include "img/levels.h"

#include "imgfixture.h"
#include "sys/config.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

class Levels : public ImgTest<2> {};

static levels_curve lt_curve(std::initializer_list<std::pair<float, float>> points)
{
    levels_curve c = {};
    for (const auto &p : points) {
        c.points[c.count][0] = p.first;
        c.points[c.count][1] = p.second;
        c.count++;
    }
    return c;
}

static image *lt_row(const std::vector<float> &v)
{
    return img_alloc("h", (int)v.size(), 1, 4, v.data());
}

static float lt_at(const image *img, int x)
{
    return ((const float *)img->pixels)[x];
}

TEST_F(Levels, IdentityCurve)
{
    levels_curve c = lt_curve({{0, 0}, {1, 1}});
    image *img = lt_row({0, 0.1f, 0.5f, 0.999f, 1, -0.5f, 1.5f});
    image *out = img_levels(img, 0, -999999.0f, &c, c.count);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "h");
    const float want[7] = {0, 0.1f, 0.5f, 0.999f, 1, 0, 1}; // outside the points: the end outputs
    for (int i = 0; i < 7; i++)
        EXPECT_FLOAT_EQ(lt_at(out, i), want[i]) << i;
    img_free(out);
    img_free(img);
}

TEST_F(Levels, CurvedModesWithTwoPointsAreLinear)
{
    levels_curve c = lt_curve({{0.2f, 0.1f}, {0.9f, 0.7f}});
    std::vector<float> values;
    for (int i = 0; i <= 20; i++)
        values.push_back((float)i / 20);
    image *img = lt_row(values);
    image *linear = img_levels(img, 0, -999999.0f, &c, 2);
    ASSERT_NE(linear, nullptr);
    for (int mode : {2, 3}) {
        image *out = img_levels(img, mode, -999999.0f, &c, 2);
        ASSERT_NE(out, nullptr);
        for (int i = 0; i <= 20; i++)
            EXPECT_EQ(lt_at(out, i), lt_at(linear, i)) << "mode " << mode << " value " << values[i];
        img_free(out);
    }
    img_free(linear);
    img_free(img);
}

TEST_F(Levels, ModesOnThreePoints)
{
    levels_curve c = lt_curve({{0.1f, 0.2f}, {0.5f, 0.9f}, {0.8f, 0.4f}});
    image *img = lt_row({0.3f, 0.65f, 0.2f, 0.05f, 0.95f, 0.5f});
    struct Case {
        int mode;
        float want[3]; // at 0.3, 0.65 and 0.2
    };
    const Case cases[] = {
        {0, {0.55f, 0.65f, 0.375f}},
        {1, {0.55f, 0.65f, 0.309375f}},
        {2, {0.67f, 0.74f, 0.465f}},
        {3, {0.5479187f, 0.6515609f, 0.3085945f}},
    };
    cfg_seti(cfg_debuginfo, 1);
    for (const Case &k : cases) {
        testlog_capture cap;
        image *out = img_levels(img, k.mode, -999999.0f, &c, 3);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(cap.contains(">> image levels complete mode:" + std::to_string(k.mode) + " (")) << cap.text();
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(lt_at(out, i), k.want[i], 1e-5f) << "mode " << k.mode << " value " << i;
        EXPECT_FLOAT_EQ(lt_at(out, 3), 0.2f) << "below the first point, mode " << k.mode;
        EXPECT_FLOAT_EQ(lt_at(out, 4), 0.4f) << "above the last point, mode " << k.mode;
        EXPECT_FLOAT_EQ(lt_at(out, 5), 0.9f) << "on a point, mode " << k.mode;
        img_free(out);
    }
    cfg_seti(cfg_debuginfo, 0);
    img_free(img);
}

TEST_F(Levels, ValuesBelowTheThresholdKeepTheirValue)
{
    levels_curve c = lt_curve({{0, 1}, {0.5f, 0.5f}, {1, 0}});
    image *img = lt_row({0.1f, 0.39f, 0.4f, 0.8f});
    for (int mode = 0; mode < 4; mode++) {
        image *out = img_levels(img, mode, 0.4f, &c, 3);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(lt_at(out, 0), 0.1f) << mode;
        EXPECT_EQ(lt_at(out, 1), 0.39f) << mode;
        EXPECT_NE(lt_at(out, 2), 0.4f) << "at the threshold the curve applies, mode " << mode;
        EXPECT_NE(lt_at(out, 3), 0.8f) << mode;
        img_free(out);
    }
    img_free(img);
}

TEST_F(Levels, PointsAtOneInputDoNotDivideByZero)
{
    levels_curve c = lt_curve({{0.5f, 0.2f}, {0.5f, 0.8f}, {1, 1}});
    image *img = lt_row({0.5f, 0.75f});
    for (int mode = 0; mode < 4; mode++) {
        image *out = img_levels(img, mode, -999999.0f, &c, 3);
        ASSERT_NE(out, nullptr);
        EXPECT_FLOAT_EQ(lt_at(out, 0), 0.2f) << mode;
        EXPECT_FALSE(std::isnan(lt_at(out, 1))) << mode;
        img_free(out);
    }
    img_free(img);
}

TEST_F(Levels, RefusesCurvesItCannotRead)
{
    levels_curve c = lt_curve({{0, 0}, {1, 1}});
    image *img = lt_row({0.5f});
    struct Case {
        const char *what;
        const levels_curve *curve;
        int n;
    };
    const Case cases[] = {
        {"more points than the record holds", &c, levels_maxpoints + 1},
        {"no points", &c, 0},
        {"no curve", nullptr, 2},
    };
    for (const Case &k : cases) {
        testlog_capture cap;
        EXPECT_EQ(img_levels(img, 0, 0, k.curve, k.n), nullptr) << k.what;
        EXPECT_TRUE(cap.contains("img_levels: " + std::to_string(k.n) + " curve points")) << k.what;
    }
    img_free(img);
}

TEST_F(Levels, SampleRectInUnitsOfTheTarget)
{
    struct Case {
        const char *what;
        float rect[4];
        int x0, y0, x1, y1; // pixels that change
    };
    const Case cases[] = {
        {"{0, 0, 1, 1} covers the target", {0, 0, 1, 1}, 0, 0, 8, 8},
        {"a middle quarter", {0.25f, 0.25f, 0.75f, 0.75f}, 2, 2, 6, 6},
        {"starts round down, ends round up", {0.3f, 0.1f, 0.55f, 0.35f}, 2, 0, 5, 3},
        {"fractions past the edges are held to it", {-1, -1, 2, 2}, 0, 0, 8, 8},
        {"NaN fractions", {NAN, NAN, NAN, NAN}, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        image *target = img_allocfloat("t", 8, 8);
        image *source = img_alloc("s", 8, 8, 4, std::vector<float>(64, 1.0f).data());
        img_samplerect(target, source, 0, c.rect);
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++) {
                bool inside = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
                EXPECT_EQ(((const float *)target->pixels)[y * 8 + x], inside ? 1.0f : 0.0f)
                    << c.what << " at " << x << "," << y;
            }
        img_free(source);
        img_free(target);
    }
}

TEST(LevelsColour, ConversionsAgreeWithColorsys)
{
    struct Case {
        float rgb[3], hsv[3];
    };
    const Case cases[] = {
        {{1, 0, 0}, {0, 1, 1}},
        {{0, 1, 1}, {0.5f, 1, 1}},
        {{0.5f, 0.5f, 0.5f}, {0, 0, 0.5f}},
        {{0.2f, 0.4f, 0.6f}, {0.5833333f, 0.6666667f, 0.6f}},
        {{0.9f, 0.1f, 0.3f}, {0.9583333f, 0.8888889f, 0.9f}},
        {{0.3f, 0.8f, 0.1f}, {0.2857143f, 0.875f, 0.8f}},
        {{1, 0.5f, 0}, {0.0833333f, 1, 1}},
        {{0.25f, 0.1f, 0.9f}, {0.6979167f, 0.8888889f, 0.9f}},
        {{0, 0, 0}, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        float hsv[3], rgb[3];
        img_rgbtohsv(hsv, c.rgb);
        img_hsvtorgb(rgb, c.hsv);
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(hsv[i], c.hsv[i], 1e-5f) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2] << " hsv " << i;
            EXPECT_NEAR(rgb[i], c.rgb[i], 1e-5f) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2] << " rgb " << i;
        }
    }
}

TEST(LevelsColour, HueWrapsByWholeTurns)
{
    const float hues[][2] = {{1.0f, 0.0f}, {-0.25f, 0.75f}, {2.5f, 0.5f}, {-1e-9f, 0.0f}};
    for (const auto &h : hues) {
        float a[3], b[3];
        const float wrapped[3] = {h[0], 0.8f, 0.6f}, plain[3] = {h[1], 0.8f, 0.6f};
        img_hsvtorgb(a, wrapped);
        img_hsvtorgb(b, plain);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(a[i], b[i], 1e-5f) << "hue " << h[0] << " channel " << i;
    }
}

TEST(LevelsColour, RoundTrip)
{
    for (int r = 0; r <= 10; r++)
        for (int g = 0; g <= 10; g++)
            for (int b = 0; b <= 10; b++) {
                const float rgb[3] = {r / 10.0f, g / 10.0f, b / 10.0f};
                float hsv[3], back[3];
                img_rgbtohsv(hsv, rgb);
                ASSERT_GE(hsv[0], 0.0f);
                ASSERT_LT(hsv[0], 1.0f);
                img_hsvtorgb(back, hsv);
                for (int i = 0; i < 3; i++)
                    ASSERT_NEAR(back[i], rgb[i], 1e-5f) << r << "," << g << "," << b << " channel " << i;
            }
}
