// Resampling and conversions: the bilinear sampler, shrinking weights,
// same-size and mixed resampling, a brute-force area average as an
// independent reference, colour wrap, scalarize, colorize and normals.
#include "img/resample.h"

#include "imgfixture.h"
#include "sys/config.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

// Two workers for the whole suite, so the banded paths really run on them.
class Resample : public ImgTest<2> {};

static image *rs_field(const char *name, int w, int h, const std::vector<float> &values)
{
    return img_alloc(name, w, h, 4, values.data());
}

// The mean of the source over the destination pixel's box, each source pixel
// weighted by its overlap with the box, worked in double precision.
static double rs_areamean(const image *src, int dw, int dh, int x, int y, int channel, int channels)
{
    double sx = (double)src->width / dw, sy = (double)src->height / dh;
    double bx0 = x * sx, bx1 = (x + 1) * sx, by0 = y * sy, by1 = (y + 1) * sy;
    double sum = 0, area = 0;
    for (int j = 0; j < src->height; j++) {
        double oy = std::min(by1, j + 1.0) - std::max(by0, (double)j);
        if (oy <= 0)
            continue;
        for (int i = 0; i < src->width; i++) {
            double ox = std::min(bx1, i + 1.0) - std::max(bx0, (double)i);
            if (ox <= 0)
                continue;
            double v = channels ? src->pixels[((size_t)j * src->width + i) * channels + channel]
                                : imgfixture_at(src, i, j);
            sum += v * ox * oy;
            area += ox * oy;
        }
    }
    return sum / area;
}

TEST_F(Resample, SampleScalarClampsAndInterpolates)
{
    image *img = rs_field("s", 3, 2, {0, 10, 20, 30, 40, 50});
    struct Case {
        const char *what;
        float x, y, want, tol;
    };
    const Case cases[] = {
        {"pixel corner", 1, 0, 10, 0},
        {"mid of four", 0.5f, 0.5f, 20, 1e-5f},
        {"negative clamps to 0", -4, -1, 0, 0},
        {"NaN counts as 0", NAN, NAN, 0, 0},
        {"last column mixes 0.0001 of its neighbour", 2, 0, 20 - 0.001f, 2e-5f},
        {"beyond the far corner", 9, 9, 50 - 0.001f - 0.003f, 5e-5f},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(img_samplescalar(img, c.x, c.y), c.want, c.tol) << c.what;
    img_free(img);

    image *one = rs_field("one", 1, 1, {7});
    EXPECT_NEAR(img_samplescalar(one, 0.5f, 3), 7, 1e-5f);
    img_free(one);
}

TEST_F(Resample, ShrinkWeights)
{
    // Powers of ten keep each source pixel's share readable in the sum.
    const std::vector<float> five = {1, 10, 100, 1000, 10000};
    struct Case {
        const char *what;
        int sw, sh, dw, dh;
        std::vector<float> src, want;
    };
    const Case cases[] = {
        {"5 to 2 across: 1, 1, .5 / .5, 1, 1", 5, 1, 2, 1, five, {61 / 2.5f, 11050 / 2.5f}},
        {"5 to 2 down", 1, 5, 1, 2, five, {61 / 2.5f, 11050 / 2.5f}},
        {"4 to 2 averages pairs", 4, 1, 2, 1, {1, 3, 10, 30}, {2, 20}},
    };
    for (const Case &c : cases) {
        image *src = rs_field("w", c.sw, c.sh, c.src);
        image *out = img_rescalescalar(src, c.dw, c.dh);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "w.dns");
        for (size_t i = 0; i < c.want.size(); i++)
            EXPECT_FLOAT_EQ(((float *)out->pixels)[i], c.want[i]) << c.what << " " << i;
        img_free(out);
        img_free(src);
    }
}

TEST_F(Resample, SameSizeReproducesTheField)
{
    image *src = imgfixture_random("random", 100, 100, 1, 0.0f, 1.0f);
    image *out = img_rescalescalar(src, 100, 100);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "random.ups");
    for (int y = 0; y < 99; y++)
        for (int x = 0; x < 99; x++)
            ASSERT_EQ(imgfixture_at(out, x, y), imgfixture_at(src, x, y)) << x << "," << y;
    for (int i = 0; i < 99; i++) {
        EXPECT_NEAR(imgfixture_at(out, 99, i), 0.9999f * imgfixture_at(src, 99, i) + 0.0001f * imgfixture_at(src, 98, i), 1e-5f);
        EXPECT_NEAR(imgfixture_at(out, i, 99), 0.9999f * imgfixture_at(src, i, 99) + 0.0001f * imgfixture_at(src, i, 98), 1e-5f);
    }
    img_free(out);
    img_free(src);
}

TEST_F(Resample, ShrinkMatchesABruteForceAreaMean)
{
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {{37, 23, 10, 7}, {64, 64, 16, 16}, {101, 50, 100, 49}, {9, 200, 2, 3}};
    for (const Case &c : cases) {
        image *src = imgfixture_random("random", c.sw, c.sh, (unsigned)c.sw, 0.0f, 1.0f);
        image *out = img_rescalescalar(src, c.dw, c.dh);
        ASSERT_NE(out, nullptr);
        for (int y = 0; y < c.dh; y++)
            for (int x = 0; x < c.dw; x++)
                ASSERT_NEAR(imgfixture_at(out, x, y), rs_areamean(src, c.dw, c.dh, x, y, 0, 0), 1e-4)
                    << c.sw << "x" << c.sh << " at " << x << "," << y;
        img_free(out);
        img_free(src);
    }
}

TEST_F(Resample, ColourShrinkMatchesABruteForceAreaMean)
{
    image *src = img_alloc("rgba", 30, 20, 4);
    std::mt19937 rng(5);
    for (int i = 0; i < 30 * 20 * 4; i++)
        src->pixels[i] = (uint8_t)(rng() & 255);
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture cap;
    image *out = img_rescalecolor(src, 7, 6);
    cfg_seti(cfg_debuginfo, 0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "rgba.dnc");
    EXPECT_TRUE(cap.contains(">> img_rescalecolor: scaling 30,20 to 7,6")) << cap.text();
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 7; x++)
            for (int k = 0; k < 4; k++) {
                double want = std::floor(rs_areamean(src, 7, 6, x, y, k, 4) + 0.5);
                EXPECT_NEAR(out->pixels[(y * 7 + x) * 4 + k], want, 1.0) << x << "," << y << ":" << k;
            }
    img_free(out);
    img_free(src);
}

TEST_F(Resample, EnlargeReproducesAPlane)
{
    // Bilinear interpolation is exact on a plane; positions past the last
    // pixel are clamped to it.
    const int sw = 20, sh = 10, dw = 47, dh = 31;
    std::vector<float> v(sw * sh);
    for (int y = 0; y < sh; y++)
        for (int x = 0; x < sw; x++)
            v[y * sw + x] = 0.01f * x + 0.02f * y;
    image *src = rs_field("plane", sw, sh, v);
    image *out = img_rescalescalar(src, dw, dh);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "plane.ups");
    for (int y = 0; y < dh; y++)
        for (int x = 0; x < dw; x++) {
            double px = std::min((double)x * sw / dw, sw - 1.0001), py = std::min((double)y * sh / dh, sh - 1.0001);
            ASSERT_NEAR(imgfixture_at(out, x, y), 0.01 * px + 0.02 * py, 1e-5) << x << "," << y;
        }
    img_free(out);
    img_free(src);
}

TEST_F(Resample, MixedShrinkAveragesAcrossAndInterpolatesDown)
{
    // 4 x 2 to 2 x 4: columns are averaged in pairs, rows are interpolated
    // (row 0.0, 0.5, 1.0, then clamped at the last row).
    image *src = rs_field("mix", 4, 2, {0, 2, 4, 6, 10, 12, 14, 16});
    image *out = img_rescalescalar(src, 2, 4);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "mix.dns");
    const float want[4][2] = {{1, 5}, {6, 10}, {11, 15}, {11, 15}};
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 2; x++)
            EXPECT_FLOAT_EQ(imgfixture_at(out, x, y), want[y][x]) << x << "," << y;
    img_free(out);
    img_free(src);
}

TEST_F(Resample, ColourEnlargeWrapsWhereScalarClamps)
{
    image *colour = img_alloc("grey", 2, 1, 1);
    colour->pixels[0] = 0;
    colour->pixels[1] = 200;
    image *big = img_rescalecolor(colour, 4, 1);
    ASSERT_NE(big, nullptr);
    EXPECT_STREQ(big->name, "grey");
    const uint8_t want[4] = {0, 100, 200, 100}; // the last blends with the first column
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(big->pixels[i], want[i]) << i;

    image *field = rs_field("f", 2, 1, {0, 200});
    image *up = img_rescalescalar(field, 4, 1);
    EXPECT_NEAR(imgfixture_at(up, 3, 0), 200, 0.03);
    img_free(up);
    img_free(field);
    img_free(big);
    img_free(colour);
}

TEST_F(Resample, RefusesWhatItCannotResample)
{
    image *field = rs_field("f", 2, 2, {0, 1, 2, 3});
    image *colour = img_alloc("c", 2, 2, 3);
    image *wide = img_alloc("w", 2, 2, 5);
    image *empty = img_alloc("e", 0, 4, 4);
    struct Case {
        const char *what;
        image *img;
        int w, h;
        bool colour;
        const char *line;
    };
    const Case cases[] = {
        {"no image", nullptr, 4, 4, false, "img_rescalescalar: no image"},
        {"colour as scalar", colour, 4, 4, false, "not a scalar field"},
        {"zero target", field, 0, 4, false, "img_rescalescalar: cannot resample"},
        {"empty source", empty, 4, 4, false, "img_rescalescalar: cannot resample"},
        {"five channels", wide, 4, 4, true, "at most 4 are colour"},
        {"negative target", colour, -2, 4, true, "img_rescalecolor: cannot resample"},
    };
    for (const Case &c : cases) {
        testlog_capture cap;
        image *out = c.colour ? img_rescalecolor(c.img, c.w, c.h) : img_rescalescalar(c.img, c.w, c.h);
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_TRUE(cap.contains(c.line)) << c.what;
    }
    img_free(field);
    img_free(colour);
    img_free(wide);
    img_free(empty);
}

TEST_F(Resample, Scalarize)
{
    struct Case {
        int bpp;
        uint8_t bytes[3];
        float scale, offset, want;
    };
    const Case cases[] = {
        {3, {255, 0, 0}, 1, 0, 1 / 3.0f},
        {3, {255, 255, 255}, 2, -0.5f, 1.5f},
        {1, {51}, 1, 0, 0.2f},
        {1, {0}, 1, 0.25f, 0.25f},
    };
    for (const Case &c : cases) {
        image *img = img_alloc("rgb", 1, 1, c.bpp, c.bytes);
        image *out = img_scalarize(img, c.scale, c.offset);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out->name, "rgb.scl");
        EXPECT_EQ(out->bytesperpixel, 4);
        EXPECT_NEAR(imgfixture_at(out, 0, 0), c.want, 1e-6f) << c.bpp << " " << c.scale;
        img_free(out);
        img_free(img);
    }
}

TEST_F(Resample, ColorizeTruncatesComponents)
{
    const float low[3] = {1, 0, 0.2f}, high[3] = {0, 1, 0.999f};
    struct Case {
        const char *what;
        float v;
        uint8_t rgb[3];
    };
    const Case cases[] = {
        {"below 0 is low", -0.5f, {255, 0, 51}},
        {"NaN is low", NAN, {255, 0, 51}},
        {"a quarter of the way", 0.25f, {191, 63, 101}},
        {"above 1 is high; 0.999 gives 254", 7, {0, 255, 254}},
    };
    std::vector<float> values;
    for (const Case &c : cases)
        values.push_back(c.v);
    image *img = rs_field("h", (int)values.size(), 1, values);
    image *out = img_colorize(img, low, high);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "h.c8");
    EXPECT_EQ(out->bytesperpixel, 3);
    for (size_t i = 0; i < values.size(); i++)
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(out->pixels[i * 3 + k], cases[i].rgb[k]) << cases[i].what << " channel " << k;
    img_free(out);
    img_free(img);
}

TEST_F(Resample, NormalsOfRampsAndSteepSlopes)
{
    struct Case {
        const char *what;
        float slopex, slopey, scale;
        float dx, dy; // central differences at every interior pixel
        bool horizontal;
    };
    const Case cases[] = {
        {"flat", 0, 0, 1, 0, 0, false},
        {"ramp along x", 0.1f, 0, 1, -0.2f, 0, false},
        {"ramp along y", 0, 0.1f, 3, 0, -0.2f, false},
        {"slope beyond the root is horizontal", 1, 0, 1, -2, 0, true},
        {"scale 0 is flat", 0.1f, 0, 0, 0, 0, false},
    };
    const int w = 6, h = 5;
    for (const Case &c : cases) {
        std::vector<float> v(w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                v[y * w + x] = c.slopex * x + c.slopey * y;
        image *img = rs_field("ramp", w, h, v);
        image *out = img_scalarnormals(img, c.scale);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "ramp.nm");
        EXPECT_EQ(out->bytesperpixel, 12);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const float *n = (const float *)out->pixels + (y * w + x) * 3;
                bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                if (border || (c.dx == 0 && c.dy == 0)) {
                    EXPECT_EQ(n[0], 0.0f) << c.what;
                    EXPECT_EQ(n[1], 0.0f) << c.what;
                    EXPECT_EQ(n[2], 1.0f) << c.what;
                    continue;
                }
                EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-5) << c.what;
                // The horizontal part points along the difference, the
                // vertical part is what the slope leaves.
                double hlen = std::hypot(c.dx, c.dy);
                EXPECT_NEAR(n[0] * hlen, c.dx * std::hypot(n[0], n[1]), 1e-5) << c.what;
                EXPECT_NEAR(n[1] * hlen, c.dy * std::hypot(n[0], n[1]), 1e-5) << c.what;
                if (c.horizontal)
                    EXPECT_EQ(n[2], 0.0f) << c.what;
                else
                    EXPECT_GT(n[2], 0.9f) << c.what;
            }
        img_free(out);
        img_free(img);
    }
}
