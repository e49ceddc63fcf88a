// Stamping: the clipped copy against a brute-force reference, exact quarter
// turns, multi-resolution stamping, mirroring, threshold and invert,
// footprints under a pixel, and the vector stamp.
#include "img/stamp.h"

#include "img/vector.h"
#include "imgfixture.h"
#include "sys/config.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

class Stamp : public ImgTest<2> {};

TEST_F(Stamp, SimpleStampMatchesABruteForceCopy)
{
    const int w = 5, h = 5, tw = 4, th = 4;
    image *src = imgfixture_field("s", w, h, [](int x, int y) { return (float)(1 + x + 10 * y); });
    struct Case {
        const char *what;
        int ox, oy;
    };
    const Case cases[] = {
        {"(-2, -3) puts source (2, 3) at (0, 0)", -2, -3},
        {"offset by the target width copies nothing", tw, 0},
        {"hanging off the bottom right", 1, 2},
        {"hanging off the top right", 2, -1},
        {"left of the target", -w, 0},
        {"above the target", 0, -h},
        {"extreme offsets", INT_MIN, INT_MAX},
        {"extreme offsets the other way", INT_MAX, INT_MIN},
    };
    for (const Case &c : cases) {
        image *target = imgfixture_field("t", tw, th, [](int, int) { return -1.0f; });
        img_simplestamp(src, target, img_stampoffset(c.ox, c.oy));
        for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) {
                int64_t sx = (int64_t)x - c.ox, sy = (int64_t)y - c.oy;
                bool inside = sx >= 0 && sx < w && sy >= 0 && sy < h;
                float want = inside ? imgfixture_at(src, (int)sx, (int)sy) : -1.0f;
                EXPECT_EQ(imgfixture_at(target, x, y), want) << c.what << " at " << x << "," << y;
            }
        img_free(target);
    }
    img_free(src);
}

TEST(StampMatrix, QuarterTurnsAreExact)
{
    const float kx = 0.5f, ky = -2.0f, cx = 3.0f, cy = 7.5f;
    struct Case {
        float angles[3];
        float m00, m01, m10, m11;
    };
    const Case cases[] = {
        {{0, 360, -720}, kx, 0, 0, ky},
        {{90, -270, 450}, 0, -ky, kx, 0},
        {{180, -180, 540}, -kx, 0, 0, -ky},
        {{270, -90, 630}, 0, ky, -kx, 0},
    };
    for (const Case &c : cases)
        for (float angle : c.angles) {
            float m[9];
            img_stampmatrix(angle, kx, ky, cx, cy, m);
            const float want[9] = {c.m00, c.m01, 0, c.m10, c.m11, 0, cx, cy, 0};
            for (int i = 0; i < 9; i++)
                EXPECT_EQ(m[i], want[i]) << "angle " << angle << " element " << i;
        }
    float m[9];
    img_stampmatrix(45, kx, ky, cx, cy, m);
    const float r = std::sqrt(0.5f);
    EXPECT_NEAR(m[0], kx * r, 1e-6f);
    EXPECT_NEAR(m[1], -ky * r, 1e-6f);
    EXPECT_NEAR(m[3], kx * r, 1e-6f);
    EXPECT_NEAR(m[4], ky * r, 1e-6f);
}

TEST_F(Stamp, QuarterTurnStampsAgreeAndTurnTheSource)
{
    image *src = imgfixture_field("s", 4, 4, [](int x, int y) { return (float)(x + 10 * y); });
    const float position[3] = {4, 4, 0}, size[3] = {4, 4, 1};
    std::vector<std::vector<float>> results;
    for (float angle : {90.0f, -270.0f, 450.0f}) {
        image *target = imgfixture_field("t", 8, 8, [](int, int) { return -1.0f; });
        img_superstamp(src, target, position, size, angle, -999999.0f, 0);
        const float *p = (const float *)target->pixels;
        results.emplace_back(p, p + 64);
        img_free(target);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
    // At 90 degrees target (x, y) reads source (y - 2, 6 - x). The source's
    // last row and column carry 0.0001 of their inner neighbours.
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            bool inside = y >= 2 && y < 6 && x >= 3 && x <= 6;
            float want = inside ? imgfixture_at(src, y - 2, 6 - x) : -1.0f;
            EXPECT_NEAR(results[0][(size_t)y * 8 + x], want, 2e-3f) << x << "," << y;
        }
    img_free(src);
}

static float st_wave(int x, int y)
{
    return 0.5f + 0.4f * std::sin(x * 0.7f) * std::cos(y * 0.3f);
}

TEST_F(Stamp, ADenseSourceIsShrunkFirst)
{
    image *src = imgfixture_field("s", 100, 100, st_wave);
    image *target = imgfixture_field("t", 50, 50, [](int, int) { return -5.0f; });
    const float position[3] = {25, 25, 0}, size[3] = {50, 50, 1};
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture cap;
    img_superstamp(src, target, position, size, 0, -999999.0f, 0);
    cfg_seti(cfg_debuginfo, 0);
    EXPECT_TRUE(cap.contains(">> superstamp: downscaled srcimg (")) << cap.text();
    // Each target pixel is the mean of its 2 x 2 block of the source.
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 50; x++) {
            float mean = (imgfixture_at(src, 2 * x, 2 * y) + imgfixture_at(src, 2 * x + 1, 2 * y) + imgfixture_at(src, 2 * x, 2 * y + 1) +
                          imgfixture_at(src, 2 * x + 1, 2 * y + 1)) / 4;
            ASSERT_NEAR(imgfixture_at(target, x, y), mean, 2e-4f) << x << "," << y;
        }
    img_free(target);
    img_free(src);
}

TEST_F(Stamp, ASparseSourceIsSampledDirectly)
{
    image *src = imgfixture_field("s", 100, 100, st_wave);
    image *target = imgfixture_field("t", 200, 200, [](int, int) { return -5.0f; });
    const float position[3] = {100, 100, 0}, size[3] = {200, 200, 1};
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture cap;
    img_superstamp(src, target, position, size, 0, -999999.0f, 0);
    cfg_seti(cfg_debuginfo, 0);
    EXPECT_FALSE(cap.contains("downscaled")) << cap.text();
    // Half a source pixel per target pixel: even pixels hit source pixels,
    // odd ones fall half way between.
    for (int j = 0; j < 99; j++)
        for (int i = 0; i < 99; i++) {
            float a = imgfixture_at(src, i, j), b = imgfixture_at(src, i + 1, j), c = imgfixture_at(src, i, j + 1),
                  d = imgfixture_at(src, i + 1, j + 1);
            ASSERT_NEAR(imgfixture_at(target, 2 * i, 2 * j), a, 1e-6f) << i << "," << j;
            ASSERT_NEAR(imgfixture_at(target, 2 * i + 1, 2 * j), (a + b) / 2, 1e-6f) << i << "," << j;
            ASSERT_NEAR(imgfixture_at(target, 2 * i + 1, 2 * j + 1), (a + b + c + d) / 4, 1e-6f) << i << "," << j;
        }
    img_free(target);
    img_free(src);
}

TEST_F(Stamp, NegativeWidthMirrors)
{
    image *src = imgfixture_field("s", 100, 100, [](int x, int) { return (float)x; });
    struct Case {
        const char *what;
        float width;
        int first; // target column that receives source column 0
        int step;  // +1 plain, -1 mirrored
    };
    const Case cases[] = {
        {"plain: columns 50 .. 149", 100, 50, 1},
        {"mirrored: columns 150 down to 51", -100, 150, -1},
    };
    for (const Case &c : cases) {
        image *target = imgfixture_field("t", 200, 100, [](int, int) { return -1.0f; });
        const float position[3] = {100, 50, 0}, size[3] = {c.width, 100, 1};
        img_superstamp(src, target, position, size, 0, -999999.0f, 0);
        for (int j = 0; j < 100; j++)
            EXPECT_NEAR(imgfixture_at(target, c.first + c.step * j, 10), (float)j, 1e-3f) << c.what << " column " << j;
        EXPECT_EQ(imgfixture_at(target, c.first - c.step, 10), -1.0f) << c.what;
        EXPECT_EQ(imgfixture_at(target, c.first + c.step * 100, 10), -1.0f) << c.what;
        img_free(target);
    }
    img_free(src);
}

TEST_F(Stamp, ThresholdAndInvert)
{
    struct Case {
        const char *what;
        float threshold;
        int invert;
        float s;
        float want; // with value factor 2 and offset 0.1; -1 is the untouched target
    };
    const Case cases[] = {
        {"below the threshold leaves the target", 0.5f, 0, 0.4f, -1.0f},
        {"at or above replaces it", 0.5f, 0, 0.6f, 0.6f * 2 + 0.1f},
        {"inverted: (1 - s) sd + pz", 0.5f, 1, 0.6f, 0.4f * 2 + 0.1f},
        {"inverted, still below the threshold", 0.5f, 1, 0.4f, -1.0f},
        {"everything stamped", -999999.0f, 0, 0.0f, 0.1f},
    };
    for (const Case &c : cases) {
        image *src = imgfixture_field("s", 4, 4, [&](int, int) { return c.s; });
        image *target = imgfixture_field("t", 4, 4, [](int, int) { return -1.0f; });
        const float position[3] = {2, 2, 0.1f}, size[3] = {4, 4, 2};
        img_superstamp(src, target, position, size, 0, c.threshold, c.invert);
        for (int i = 0; i < 16; i++)
            EXPECT_NEAR(imgfixture_at(target, i % 4, i / 4), c.want, 1e-6f) << c.what << " pixel " << i;
        img_free(target);
        img_free(src);
    }
}

TEST_F(Stamp, FootprintsUnderAPixelStampOnePixel)
{
    image *src = imgfixture_field("s", 10, 10, st_wave);
    double sum = 0;
    for (int i = 0; i < 100; i++)
        sum += imgfixture_at(src, i % 10, i / 10);
    struct Case {
        const char *what;
        float w, h;
    };
    const Case cases[] = {
        {"zero size", 0, 0},
        {"fractions", 0.3f, -0.2f},
        {"NaN width", NAN, 0.5f},
        {"tiny, mirrored", -0.5f, 1e-30f},
    };
    for (const Case &c : cases) {
        image *target = imgfixture_field("t", 11, 11, [](int, int) { return -1.0f; });
        const float position[3] = {5, 5, 0}, size[3] = {c.w, c.h, 1};
        img_superstamp(src, target, position, size, 0, -999999.0f, 0);
        for (int y = 0; y < 11; y++)
            for (int x = 0; x < 11; x++) {
                if (x == 5 && y == 5)
                    EXPECT_NEAR(imgfixture_at(target, x, y), sum / 100, 1e-4) << c.what;
                else
                    EXPECT_EQ(imgfixture_at(target, x, y), -1.0f) << c.what << " at " << x << "," << y;
            }
        img_free(target);
    }
    img_free(src);
}

TEST_F(Stamp, AShrinkThatCannotBeAllocatedStampsNothing)
{
    image *src = imgfixture_field("s", 100, 100, st_wave);
    image *target = imgfixture_field("t", 8, 8, [](int, int) { return -1.0f; });
    // Shrinking in y while the width asks for billions of columns.
    const float position[3] = {4, 4, 0}, size[3] = {3e9f, 50, 1};
    testlog_capture cap;
    img_superstamp(src, target, position, size, 0, -999999.0f, 0);
    EXPECT_TRUE(cap.contains("img_superstamp: cannot shrink \"s\"")) << cap.text();
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(imgfixture_at(target, i % 8, i / 8), -1.0f) << i;
    img_free(target);
    img_free(src);
}

static img_vec st_vecat(const image *img, int x, int y)
{
    return ((const img_vec *)img->pixels)[(size_t)y * img->width + x];
}

TEST_F(Stamp, VectorStampScalesAndOffsetsComponents)
{
    struct Case {
        const char *what;
        float sd, pz;
        int base;      // source component at (x, y): base + 10 x, and -(base + 10 y)
        int wantscale; // target = wantscale x source + wantoffset, saturated
        int wantoffset;
    };
    const Case cases[] = {
        {"value factor 2 doubles", 2, 0, 1, 2, 0},
        {"offset 1 adds 1", 1, 1, 1, 1, 1},
        {"doubling past 16 bits saturates", 2, 0, 20000, 2, 0},
    };
    for (const Case &c : cases) {
        std::vector<img_vec> v(16);
        for (int i = 0; i < 16; i++)
            v[i] = {(int16_t)(c.base + 10 * (i % 4)), (int16_t)-(c.base + 10 * (i / 4))};
        image *src = img_alloc("v", 4, 4, 4, v.data());
        image *target = img_alloc("t", 8, 8, 4);
        const float position[3] = {4, 4, c.pz}, size[3] = {4, 4, c.sd};
        img_vecsuperstamp(src, target, position, size, 0);
        // Target (x, y) reads source (x - 2, y - 2); the source's last row and
        // column are mixed with their neighbours, so they are left out.
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++) {
                img_vec got = st_vecat(target, x, y);
                bool inside = x >= 2 && x < 5 && y >= 2 && y < 5;
                bool stamped = x >= 2 && x < 6 && y >= 2 && y < 6;
                if (!stamped) {
                    EXPECT_EQ(got.x, 0) << c.what << " at " << x << "," << y;
                    EXPECT_EQ(got.y, 0) << c.what << " at " << x << "," << y;
                }
                if (!inside)
                    continue;
                img_vec s = st_vecat(src, x - 2, y - 2);
                int wx = c.wantscale * s.x + c.wantoffset, wy = c.wantscale * s.y + c.wantoffset;
                EXPECT_EQ(got.x, wx > 32767 ? 32767 : wx) << c.what << " at " << x << "," << y;
                EXPECT_EQ(got.y, wy < -32768 ? -32768 : wy) << c.what << " at " << x << "," << y;
            }
        img_free(target);
        img_free(src);
    }
}

TEST_F(Stamp, VectorStampShrinksADenseSource)
{
    image *src = img_alloc("v", 4, 4, 4, std::vector<img_vec>(16, {300, -300}).data());
    image *target = img_alloc("t", 4, 4, 4);
    const float position[3] = {2, 2, 0}, size[3] = {2, 2, 1};
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture cap;
    img_vecsuperstamp(src, target, position, size, 0);
    cfg_seti(cfg_debuginfo, 0);
    EXPECT_TRUE(cap.contains(">> downscaled source images (")) << cap.text();
    EXPECT_EQ(st_vecat(target, 1, 1).x, 300);
    EXPECT_EQ(st_vecat(target, 1, 1).y, -300);
    EXPECT_EQ(st_vecat(target, 3, 3).x, 0);
    img_free(target);
    img_free(src);
}
