// Vector images: component truncation and saturation, the bilinear sampler,
// resampling with its integer sums, and displacement and smearing of a
// scalar field.
#include "img/vector.h"

#include "imgfixture.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

class Vector : public ImgTest<2> {};

static image *vt_vectors(const char *name, int w, int h, const std::vector<img_vec> &v)
{
    return img_alloc(name, w, h, 4, v.data());
}

static image *vt_filled(int w, int h, img_vec v)
{
    return vt_vectors("v", w, h, std::vector<img_vec>((size_t)w * h, v));
}

static img_vec vt_at(const image *img, int x, int y)
{
    return ((const img_vec *)img->pixels)[(size_t)y * img->width + x];
}

static float vt_value(const image *img, int x, int y)
{
    return ((const float *)img->pixels)[(size_t)y * img->width + x];
}

TEST(VectorComponent, TruncatesAndSaturates)
{
    struct Case {
        float v;
        int16_t want;
    };
    const Case cases[] = {{0.5f, 0}, {-2.5f, -2}, {1.99f, 1}, {32767.0f, 32767}, {40000.0f, 32767},
                          {-32768.0f, -32768}, {-40000.0f, -32768}, {NAN, 0}, {INFINITY, 32767}};
    for (const Case &c : cases)
        EXPECT_EQ(img_veccomponent(c.v), c.want) << c.v;
}

TEST_F(Vector, SampleTruncatesEachComponentTowardZero)
{
    image *img = vt_vectors("v", 2, 1, {{-3, -7}, {4, 2}});
    struct Case {
        const char *what;
        float x, y;
        img_vec want;
    };
    const Case cases[] = {
        {"half way: 0.5 and -2.5", 0.5f, 0, {0, -2}},
        {"a quarter: -1.25 and -4.75", 0.25f, 0, {-1, -4}},
        {"on the first pixel", 0, 0, {-3, -7}},
        {"left of the image clamps", -5, 0, {-3, -7}},
        {"NaN counts as 0", NAN, NAN, {-3, -7}},
    };
    for (const Case &c : cases) {
        uint32_t packed = img_samplecolor(img, c.x, c.y);
        img_vec got = img_vecunpack(packed);
        EXPECT_EQ(got.x, c.want.x) << c.what;
        EXPECT_EQ(got.y, c.want.y) << c.what;
        EXPECT_EQ(packed & 0xffff, (uint32_t)(uint16_t)c.want.x) << c.what << ": x in the low half";
    }
    img_free(img);
}

TEST_F(Vector, ShrinkingTruncatesItsSums)
{
    struct Case {
        const char *what;
        int w, h, dw, dh;
        img_vec fill, want;
    };
    const Case cases[] = {
        {"(1, 1) by a factor of three keeps (1, 1)", 9, 9, 3, 3, {1, 1}, {1, 1}},
        {"three (1, 1) into two loses them", 3, 1, 2, 1, {1, 1}, {0, 0}},
        {"three (100, 100) into two keeps them", 3, 1, 2, 1, {100, 100}, {100, 100}},
        {"three (-1, -1) into two: truncated toward zero", 3, 1, 2, 1, {-1, -1}, {0, 0}},
    };
    for (const Case &c : cases) {
        image *src = vt_filled(c.w, c.h, c.fill);
        image *out = img_rescalevector(src, c.dw, c.dh);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "v.dnv") << c.what;
        for (int y = 0; y < c.dh; y++)
            for (int x = 0; x < c.dw; x++) {
                EXPECT_EQ(vt_at(out, x, y).x, c.want.x) << c.what << " at " << x << "," << y;
                EXPECT_EQ(vt_at(out, x, y).y, c.want.y) << c.what << " at " << x << "," << y;
            }
        img_free(out);
        img_free(src);
    }
}

TEST_F(Vector, ALargeShrinkOfLongVectorsKeepsTheirSign)
{
    // 90,000 pixels of 32767 sum far past 32 bits; the f32 sums round, so
    // only the magnitude is checked.
    image *src = vt_filled(300, 300, {32767, -32768});
    image *out = img_rescalevector(src, 1, 1);
    ASSERT_NE(out, nullptr);
    EXPECT_GT(vt_at(out, 0, 0).x, 32000);
    EXPECT_LT(vt_at(out, 0, 0).y, -32000);
    img_free(out);
    img_free(src);
}

TEST_F(Vector, EnlargingSamplesBilinearly)
{
    image *src = vt_vectors("v", 2, 1, {{0, 0}, {100, -100}});
    testlog_capture cap;
    image *out = img_rescalevector(src, 4, 3);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "v.upv");
    for (int y = 0; y < 3; y++) {
        EXPECT_EQ(vt_at(out, 0, y).x, 0);
        EXPECT_EQ(vt_at(out, 1, y).x, 50);
        EXPECT_EQ(vt_at(out, 1, y).y, -50);
    }
    img_free(out);
    // Same size counts as enlarging.
    out = img_rescalevector(src, 2, 1);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "v.upv");
    img_free(out);
    img_free(src);
}

// A field rising by 1 per column, 8 x 2.
static image *vt_ramp()
{
    std::vector<float> v(16);
    for (int i = 0; i < 16; i++)
        v[i] = (float)(i % 8);
    return img_alloc("ramp", 8, 2, 4, v.data());
}

TEST_F(Vector, DisplaceAndSmear)
{
    image *field = vt_ramp();
    image *zero = vt_filled(8, 2, {0, 0});
    image *right = vt_filled(8, 2, {32767, 0});
    struct Case {
        const char *what;
        image *vectors;
        float xscale;
        int mode;
        float want; // at pixel (2, 0)
    };
    const Case cases[] = {
        {"zero vectors displace to a copy", zero, 1, 0, 2.0f},
        {"zero vectors smear to a copy", zero, 1, 1, 2.0f},
        {"displace by one pixel", right, 1, 0, 3.0f},
        {"smear one pixel: five samples 0.2 apart, end excluded", right, 1, 1, 2.4f},
        {"L2 of 0.09 moves the pixel when displacing", right, 0.3f, 0, 2.3f},
        {"L2 of 0.09 leaves it when smearing", right, 0.3f, 1, 2.0f},
    };
    for (const Case &c : cases) {
        image *out = img_vecdisplace(field, c.vectors, c.xscale, 0, c.mode);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "ramp.vd");
        EXPECT_NEAR(vt_value(out, 2, 0), c.want, 1e-5f) << c.what;
        if (c.vectors == zero)
            for (int i = 0; i < 16; i++)
                EXPECT_NEAR(vt_value(out, i % 8, i / 8), (float)(i % 8), 1e-3f) << c.what << " pixel " << i;
        img_free(out);
    }
    img_free(right);
    img_free(zero);
    img_free(field);
}

TEST_F(Vector, DisplaceRefusesWhatItCannotWalk)
{
    image *field = vt_ramp();
    image *small = vt_filled(4, 2, {0, 0});
    image *colour = img_alloc("c", 8, 2, 3);
    image *vectors = vt_filled(8, 2, {1, 1});
    struct Case {
        const char *what;
        image *vectors;
        float xscale;
        const char *line;
    };
    const Case cases[] = {
        {"vectors of another size", small, 1, "img_vecdisplace: vectors \"v\" are 4x2"},
        {"colour image as vectors", colour, 1, "not a vector image"},
        {"infinite scale would never finish smearing", vectors, INFINITY, "out of range"},
        {"NaN scale", vectors, NAN, "out of range"},
    };
    for (const Case &c : cases) {
        testlog_capture cap;
        EXPECT_EQ(img_vecdisplace(field, c.vectors, c.xscale, 1, 1), nullptr) << c.what;
        EXPECT_TRUE(cap.contains(c.line)) << c.what << "\n" << cap.text();
    }
    img_free(vectors);
    img_free(colour);
    img_free(small);
    img_free(field);
}
