// Parametric kernels, the blur through convolution and the CPU masked blur:
// profile values at known distances, kernel sizes and aspect, the box and
// smooth blurs against their definitions, the masked blur against a
// one-pixel-at-a-time reference (cap, one zero radius, edges), and the
// path choice and refusals.
#include "img/blur.h"

#include "geom/profile.h"
#include "imgfixture.h"
#include "render/gl.h"
#include "sys/config.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

// Four workers for the whole suite, so bands really run on them.
class Blur : public ImgTest<4> {
protected:
    image *field(int w, int h, const std::vector<float> &values)
    {
        return keep(img_alloc("field", w, h, 4, values.data()));
    }
};

TEST_F(Blur, ParametricProfiles)
{
    struct Probe {
        int x, y;
        float value;
    };
    struct Case {
        const char *what;
        int profile;
        float aspect, diameter, depth, a, b, c;
        int width, height;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {"box of 0.04", img_profilebox, 1, 4, 0, 0, 1, 0, 5, 5, {{0, 0, 0.04f}, {2, 2, 0.04f}, {4, 3, 0.04f}}},
        {"smooth cone at 0, half and full radius", img_profilesmooth, 1, 4, 0, 1, 1, 0, 5, 5,
         {{2, 2, 1.0f}, {3, 2, 0.5f}, {4, 2, 0.0f}, {2, 0, 0.0f}}},
        {"aspect 2 doubles the height", img_profilesmooth, 2, 4, 0, 1, 1, 0, 5, 9,
         {{2, 4, 1.0f}, {2, 6, 0.5f}, {2, 8, 0.0f}, {3, 4, 0.5f}}},
        {"smooth cone to a power, scaled", img_profilesmooth, 1, 4, 0, 2, 3, 0, 5, 5, {{2, 2, 3.0f}, {3, 2, 0.75f}}},
        {"tapered rim of 45 degrees", img_profiletapered, 1, 4.5f, 1, 45, 1, 2, 9, 9,
         {{4, 4, 0.0f}, {6, 4, 0.0f}, {7, 4, -0.75f}, {8, 4, -2.0f}, {8, 8, -2.0f}}},
        {"rounded rim", 1, 1, 6, 0, 1, 1, -0.5f, 7, 7, {{3, 3, 0.0f}, {5, 3, 0.0f}, {6, 3, -1.0f}, {0, 0, -0.5f}}},
        {"zero diameter leaves the middle", img_profilesmooth, 1, 0, 0, 1, 1, 0, 1, 1, {{0, 0, 1.0f}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        image *k = keep(img_scalarparametric(c.profile, c.aspect, c.diameter, c.depth, c.a, c.b, c.c));
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->width, c.width);
        EXPECT_EQ(k->height, c.height);
        EXPECT_EQ(std::string(k->name), "para" + std::to_string(c.width) + "x" + std::to_string(c.height));
        for (const Probe &p : c.probes)
            EXPECT_NEAR(imgfixture_at(k, p.x, p.y), p.value, 1e-5f) << "pixel " << p.x << "," << p.y;
    }
}

TEST_F(Blur, GaussianSumsToItsScaleAndFallsOff)
{
    image *k = keep(img_scalarparametric(img_profilegauss, 1.5f, 8, 0, 1, 2, 0));
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->width, 9);
    ASSERT_EQ(k->height, 13);
    double sum = 0;
    for (int y = 0; y < k->height; y++)
        for (int x = 0; x < k->width; x++)
            sum += imgfixture_at(k, x, y);
    EXPECT_NEAR(sum, 2.0, 1e-5);
    EXPECT_GT(imgfixture_at(k, 4, 6), imgfixture_at(k, 5, 6));
    EXPECT_FLOAT_EQ(imgfixture_at(k, 3, 6), imgfixture_at(k, 5, 6));
    // The same offset counts less along the stretched axis.
    EXPECT_GT(imgfixture_at(k, 4, 7), imgfixture_at(k, 5, 6));
}

TEST_F(Blur, ParametricRefusesUnusableSizes)
{
    testlog_capture cap;
    EXPECT_EQ(img_scalarparametric(img_profilebox, 0, 4, 0, 0, 1, 0), nullptr);
    EXPECT_EQ(img_scalarparametric(img_profilebox, 1, -4, 0, 0, 1, 0), nullptr);
    EXPECT_EQ(img_scalarparametric(img_profilebox, 1, NAN, 0, 0, 1, 0), nullptr);
    EXPECT_EQ(img_scalarparametric(img_profilebox, 1, 1e9f, 0, 0, 1, 0), nullptr);
    EXPECT_EQ(cap.count("img_scalarparametric: no kernel"), 4);
}

TEST_F(Blur, BoxBlurAveragesTheNeighbourhoodRepeatingEdges)
{
    image *img = random("field", 7, 5, 11, -1, 2);
    image *out = keep(img_scalarblur(img, 1, 0));
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "field.cnv[para3x3]");
    for (int y = 0; y < 5; y++) {
        for (int x = 0; x < 7; x++) {
            float sum = 0;
            for (int j = -1; j <= 1; j++)
                for (int i = -1; i <= 1; i++)
                    sum += imgfixture_at(img, std::clamp(x + i, 0, 6), std::clamp(y + j, 0, 4));
            EXPECT_NEAR(imgfixture_at(out, x, y), sum / 9, 1e-5f) << x << "," << y;
        }
    }
}

TEST_F(Blur, SmoothBlurKeepsAUniformFieldAndAZeroRadiusCopies)
{
    image *flat = field(9, 6, std::vector<float>(54, 0.7f));
    image *smooth = keep(img_scalarblur(flat, 2.5f, 1));
    ASSERT_NE(smooth, nullptr);
    EXPECT_STREQ(smooth->name, "field.cnv[para7x7]");
    for (int i = 0; i < 54; i++)
        EXPECT_NEAR(((float *)smooth->pixels)[i], 0.7f, 1e-5f);
    image *img = random("field", 5, 4, 3, 0, 1);
    image *same = keep(img_scalarblur(img, 0, 1));
    ASSERT_NE(same, nullptr);
    for (int i = 0; i < 20; i++)
        EXPECT_FLOAT_EQ(((float *)same->pixels)[i], ((float *)img->pixels)[i]);
    testlog_capture cap;
    EXPECT_EQ(img_scalarblur(img, -1, 0), nullptr);
    EXPECT_TRUE(cap.contains("img_scalarblur: bad radius"));
}

TEST(BlurFalloff, TableIsTheSmoothstepOfTheDistance)
{
    float table[img_falloffsize];
    img_fillfalloff(table);
    EXPECT_FLOAT_EQ(table[0], 1.0f);
    EXPECT_FLOAT_EQ(table[256], 0.5f); // distance 16 of 32
    EXPECT_NEAR(table[1023], 0.0f, 1e-5f);
    for (int k = 1; k < img_falloffsize; k++)
        ASSERT_LE(table[k], table[k - 1]);
}

// The masked blur one pixel at a time, one loop over every tap, as plainly
// as possible: radii capped at 32, then scaled by the mask and capped again;
// an axis of zero scaled radius has only the offset 0.
static std::vector<float> bl_maskreference(const image *img, const image *mask, float xr, float yr)
{
    float table[img_falloffsize];
    img_fillfalloff(table);
    xr = std::min(xr, 32.0f);
    yr = std::min(yr, 32.0f);
    const int w = img->width, h = img->height;
    std::vector<float> out((size_t)w * h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            float m = imgfixture_at(mask, x, y);
            float rx = std::min(xr * m, 32.0f), ry = std::min(yr * m, 32.0f);
            if (rx + ry < 0.01f) {
                out[(size_t)y * w + x] = imgfixture_at(img, x, y);
                continue;
            }
            int hx = (int)std::ceil(rx), hy = (int)std::ceil(ry);
            double wsum = 0, vsum = 0;
            for (int j = -hy; j <= hy; j++) {
                for (int i = -hx; i <= hx; i++) {
                    float sx = rx > 0 ? i * 31 / rx : 0, sy = ry > 0 ? j * 31 / ry : 0;
                    float s = sx * sx + sy * sy;
                    float wt = table[std::min((int)std::min(s, 2000.0f), 1023)];
                    wsum += wt;
                    int px = x + i, py = y + j;
                    if (px >= 0 && px < w && py >= 0 && py < h && imgfixture_at(img, px, py) >= 0)
                        vsum += wt * imgfixture_at(img, px, py);
                }
            }
            out[(size_t)y * w + x] = (float)(vsum / wsum);
        }
    }
    return out;
}

TEST_F(Blur, MaskBlurMatchesThePerPixelDefinition)
{
    struct Case {
        const char *what;
        int w, h;
        float xr, yr;
        float masklo, maskhi;
    };
    const Case cases[] = {
        {"round radius, varying mask", 23, 17, 3, 3, 0, 1},
        {"x radius 0 blurs only along y", 19, 21, 0, 4, 0.2f, 1},
        {"y radius 0 blurs only along x", 21, 9, 2.5f, 0, 0.2f, 1},
        {"elliptic radius", 30, 12, 5, 1.5f, 0, 1},
        {"radii above 32 are capped", 70, 5, 40, 40, 0.5f, 1},
        {"a taller field than bands", 6, 40, 2, 2, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        image *img = random("field", c.w, c.h, 5 + c.w, -0.3f, 1.0f); // some negative values act as 0
        image *mask = random("field", c.w, c.h, 9 + c.h, c.masklo, c.maskhi);
        std::vector<float> expect = bl_maskreference(img, mask, c.xr, c.yr);
        image *out = keep(img_scalarmaskblur(img, mask, c.xr, c.yr));
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out->name, img->name);
        for (size_t i = 0; i < expect.size(); i++)
            ASSERT_NEAR(((float *)out->pixels)[i], expect[i], 5e-5f) << "pixel " << i;
    }
}

TEST_F(Blur, MaskBlurZeroMaskCopiesAndBordersDarken)
{
    image *img = random("field", 12, 10, 21, 0, 1);
    image *zero = field(12, 10, std::vector<float>(120, 0.0f));
    image *copy = keep(img_scalarmaskblur(img, zero, 6, 6));
    ASSERT_NE(copy, nullptr);
    for (int i = 0; i < 120; i++)
        EXPECT_EQ(((float *)copy->pixels)[i], ((float *)img->pixels)[i]);

    image *ones = field(12, 10, std::vector<float>(120, 1.0f));
    image *out = keep(img_scalarmaskblur(ones, ones, 2, 2));
    ASSERT_NE(out, nullptr);
    EXPECT_NEAR(imgfixture_at(out, 6, 5), 1.0f, 1e-6f);
    EXPECT_LT(imgfixture_at(out, 0, 5), 0.99f);
    EXPECT_LT(imgfixture_at(out, 0, 0), imgfixture_at(out, 0, 5));
}

TEST_F(Blur, MaskBlurUnderOneMegapixelOfWorkStaysOnTheCpu)
{
    const int saved[4] = {cfg_geti(cfg_gpuconvo), gl_framebuffers, gl_maxtexturesize, gl_maxrenderbuffersize};
    cfg_seti(cfg_gpuconvo, 1);
    gl_framebuffers = 1;
    gl_maxtexturesize = gl_maxrenderbuffersize = 4096;
    image *img = random("field", 100, 100, 2, 0, 1);
    image *mask = random("field", 100, 100, 4, 0, 1);
    testlog_capture cap;
    image *out = keep(img_scalarmaskblur(img, mask, 8, 8));
    cfg_seti(cfg_gpuconvo, saved[0]);
    gl_framebuffers = saved[1];
    gl_maxtexturesize = saved[2];
    gl_maxrenderbuffersize = saved[3];
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(cap.contains("CPU image masked blur img=(100,100) rad=(8.000000,8.000000) Mpx=0.610352"));
}

TEST_F(Blur, MaskBlurRefusesBadArguments)
{
    image *img = random("field", 8, 8, 1, 0, 1);
    image *small = random("field", 4, 8, 1, 0, 1);
    image *bytes = keep(img_alloc("bytes", 8, 8, 1));
    testlog_capture cap;
    EXPECT_EQ(img_scalarmaskblur(img, small, 2, 2), nullptr);
    EXPECT_EQ(img_scalarmaskblur(img, bytes, 2, 2), nullptr);
    EXPECT_EQ(img_scalarmaskblur(img, img, -1, 2), nullptr);
    EXPECT_EQ(img_scalarmaskblur(img, img, 2, INFINITY), nullptr);
    EXPECT_TRUE(cap.contains("img_scalarmaskblur: mask 4x8 does not match image 8x8"));
    EXPECT_TRUE(cap.contains("not a scalar field"));
    EXPECT_EQ(cap.count("img_scalarmaskblur: bad radii"), 2);
}
