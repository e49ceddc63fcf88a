// Tiling and tilting: grid copies with their gaps and fill clamping (a plane
// as the source, so each value says where it was sampled), the circular
// ring's size, gaps and mirroring, and tilted planes.
#include "img/tile.h"

#include "imgfixture.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

class Tile : public ImgTest<0> {};

// A source whose value names its position: 0.5 + 0.01 x + 0.1 y. Bilinear
// sampling is exact on a plane, so the value expected where an output pixel
// samples (x, y) follows from the plane alone, with the sampler's clamp to
// 0 .. side - 1.0001 (the last pixel mixed with 0.0001 of its neighbour).
static float tl_plane(double x, double y)
{
    return (float)(0.5 + 0.01 * x + 0.1 * y);
}

static float tl_planeat(const image *src, double x, double y)
{
    auto clamp = [](double v, int side) { return std::clamp(v, 0.0, side - 1.0001); };
    return tl_plane(clamp(x, src->width), clamp(y, src->height));
}

TEST_F(Tile, GridCopiesAndGaps)
{
    // source: the source x position a column samples (row y samples row y), or
    // -1 for a gap.
    struct Case {
        const char *what;
        int columns;
        float fill;
        const char *logline;
        float (*source)(int x);
    };
    const Case cases[] = {
        {"one tile reproduces the source", 1, 1, "tiling 100x20 at 1x1 1.000000x1.000000",
         [](int x) { return (float)x; }},
        {"two tiles side by side at half width", 2, 1, "tiling 100x20 at 2x1 1.000000x1.000000",
         [](int x) { return 2.0f * (x % 50); }},
        {"fill 0.5 with two columns", 2, 0.5f, "tiling 100x20 at 2x1 0.500000x1.000000",
         [](int x) { return x <= 33 ? 3.0f * x : x >= 67 ? 3.0f * x - 200 : -1.0f; }},
        {"fill 0 counts as 0.01", 2, 0, "tiling 100x20 at 2x1 0.010000x1.000000",
         [](int x) { return x == 0 ? 0.0f : -1.0f; }},
        // Cells of 100 / 3, copies 25 wide, kx = 11 / 12: a column samples 4u
        // with u = 11x / 12 mod 100 / 3, between pixels.
        {"three columns at fill 0.75", 3, 0.75f, "tiling 100x20 at 3x1 0.750000x1.000000",
         [](int x) {
             double sx = std::fmod(11.0 * x / 3, 400.0 / 3);
             return sx < 100 ? (float)sx : -1.0f;
         }},
    };
    image *src = keep(imgfixture_field("src", 100, 20, [](int x, int y) { return tl_plane(x, y); }));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture cap;
        image *out = keep(img_scalartile2d(src, c.columns, 1, c.fill, 1));
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out->name, "src.rp2d");
        EXPECT_TRUE(cap.contains(c.logline));
        for (int y = 0; y < 20; y++) {
            for (int x = 0; x < 100; x++) {
                float sx = c.source(x);
                float expect = sx < 0 ? 0.0f : tl_planeat(src, sx, y);
                ASSERT_NEAR(imgfixture_at(out, x, y), expect, 1e-4f) << x << "," << y;
            }
        }
    }
    testlog_capture cap;
    EXPECT_EQ(img_scalartile2d(src, 0, 1, 1, 1), nullptr);
    EXPECT_TRUE(cap.contains("img_scalartile2d: no tiles 0x1"));
}

TEST_F(Tile, GridRowsCompressLikeColumns)
{
    image *src = keep(imgfixture_field("src", 10, 60, [](int x, int y) { return tl_plane(x, y); }));
    image *out = keep(img_scalartile2d(src, 1, 3, 1, 0.75f));
    ASSERT_NE(out, nullptr);
    // Cells of 20 rows, each copy 15 rows long; ky = (60 - 5) / 60 = 11 / 12,
    // so row y samples 4v with v = 11y / 12 mod 20, between pixels.
    for (int y = 0; y < 60; y++) {
        double sy = std::fmod(11.0 * y / 3, 80.0);
        for (int x = 0; x < 10; x++) {
            float expect = sy < 60 ? tl_planeat(src, x, sy) : 0.0f;
            ASSERT_NEAR(imgfixture_at(out, x, y), expect, 1e-4f) << x << "," << y;
        }
    }
}

TEST_F(Tile, CircularRingSizeGapsAndMirror)
{
    image *square = random("src", 50, 50, 4, 0.1f, 1.0f);
    image *ring = keep(img_scalartilecircular(square, 4, 100, 1, 0));
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring->width, 358);
    EXPECT_EQ(ring->height, 358);
    EXPECT_STREQ(ring->name, "src.rpcl");
    EXPECT_EQ(imgfixture_at(ring, 179, 179), 0); // the hole in the middle

    // A source whose value is its row: the first row lies on the outer rim,
    // and on the inner rim when the radius is negative.
    std::vector<float> rows(20 * 20);
    for (int i = 0; i < 400; i++)
        rows[i] = (float)(i / 20);
    image *ramp = keep(img_alloc("ramp", 20, 20, 4, rows.data()));
    image *out = keep(img_scalartilecircular(ramp, 6, 40, 1, 0));
    image *mirror = keep(img_scalartilecircular(ramp, 6, -40, 1, 0));
    ASSERT_NE(out, nullptr);
    ASSERT_NE(mirror, nullptr);
    int half = out->width / 2;
    float inner = imgfixture_at(out, half + 25, half), outer = imgfixture_at(out, half + 55, half);
    EXPECT_GT(inner, outer + 4);
    EXPECT_NEAR(imgfixture_at(mirror, half + 25, half), outer, 1e-3f);
    EXPECT_NEAR(imgfixture_at(mirror, half + 55, half), inner, 1e-3f);

    // Fill 0.5: half of every copy's arc is a gap.
    image *gaps = keep(img_scalartilecircular(ramp, 6, 40, 0.5f, 0));
    ASSERT_NE(gaps, nullptr);
    int filled = 0, onring = 0;
    for (int a = 0; a < 360; a++) {
        double t = a * M_PI / 180;
        int x = half + (int)std::lround(40 * std::cos(t)), y = half - (int)std::lround(40 * std::sin(t));
        onring++;
        filled += imgfixture_at(gaps, x, y) != 0;
    }
    EXPECT_NEAR(filled, onring / 2, 12);
    testlog_capture cap;
    EXPECT_EQ(img_scalartilecircular(square, 0, 100, 1, 0), nullptr);
    EXPECT_EQ(img_scalartilecircular(square, 4, 1e9f, 1, 0), nullptr);
    EXPECT_TRUE(cap.contains("img_scalartilecircular: bad ring of 0 copies"));
    EXPECT_TRUE(cap.contains("is too large"));
}

TEST_F(Tile, TiltedPlanes)
{
    struct Case {
        const char *what;
        int w, h;
        float ax, ay, scale;
        const char *name;
        float slopex, slopey; // rise per pixel along x and along y
    };
    const Case cases[] = {
        {"flat", 8, 6, 0, 0, 1, "tilt0_0", 0, 0},
        {"45 degrees about y rises one per pixel along x", 10, 4, 0, 45, 1, "tilt0_45", 1, 0},
        {"30 degrees about x, scaled", 6, 9, 30.7f, 0, 2, "tilt30_0", 0, 2 * std::tan(30.7f * (float)M_PI / 180)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        image *t = keep(img_scalartilt(c.w, c.h, c.ax, c.ay, c.scale));
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t->name, c.name);
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++)
                ASSERT_NEAR(imgfixture_at(t, x, y), (x - c.w * 0.5f) * c.slopex + (y - c.h * 0.5f) * c.slopey, 1e-5f);
    }
    EXPECT_EQ(imgfixture_at(images[1], 5, 2), 0); // column w / 2
}
