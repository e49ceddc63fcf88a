// Polygon fill and quad UV rasterisation: the square ring and its coverage,
// an unclosed ring, accumulation, spans left of the image, the bounds, the
// active-edge limit and refused input; the quad's middle, its overlap rule,
// wrapping and clamping, an affine quad against its exact inverse, and a
// collapsed quad.
#include "img/rasterize.h"

#include "imgfixture.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

class Rasterize : public testing::Test {
protected:
    std::vector<image *> images;

    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
    }
    image *make(int w, int h)
    {
        images.push_back(img_alloc("raster", w, h, 4));
        return images.back();
    }
};

static std::vector<float> rz_ring(const std::vector<std::pair<float, float>> &points)
{
    std::vector<float> v;
    for (const auto &p : points)
        v.insert(v.end(), {p.first, p.second, 0.0f});
    return v;
}

// The square with corners (2, 2) and (6, 6) at 8 x 8 subsamples: a whole
// pixel gains 1.0, and the right end of every span adds one subsample
// column of pixel 6.
static float rz_square(int x, int y)
{
    if (y < 2 || y > 5)
        return 0.0f;
    return x >= 2 && x <= 5 ? 1.0f : x == 6 ? 0.125f : 0.0f;
}

TEST_F(Rasterize, FillAddsEvenOddCoverage)
{
    const std::vector<float> closed = rz_ring({{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2}});
    const std::vector<float> open = rz_ring({{2, 2}, {6, 2}, {6, 6}, {2, 6}});
    // A second square wholly left of the image, joined to the first along
    // rows (those edges share a row and are dropped).
    const std::vector<float> twoparts = rz_ring({{-10, 2}, {-6, 2}, {-6, 6}, {-10, 6}, {-10, 2}, {2, 2}, {6, 2},
                                                 {6, 6}, {2, 6}, {2, 2}, {-10, 2}});
    struct Case {
        const char *what;
        const std::vector<float> *ring;
        int calls;
        float factor; // times the square's coverage
    };
    const Case cases[] = {
        {"closed square", &closed, 1, 1.0f},
        {"first corner not repeated: one edge a row, nothing filled", &open, 1, 0.0f},
        {"two calls add up", &closed, 2, 2.0f},
        {"a part left of the image leaves the rest filled", &twoparts, 1, 1.0f},
    };
    const float size[2] = {10.0f, 10.0f}, origin[2] = {0.0f, 0.0f};
    for (const Case &c : cases) {
        image *img = make(10, 10);
        int count = (int)c.ring->size() / 3;
        for (int i = 0; i < c.calls; i++)
            ASSERT_EQ(img_scalarfillpoly(img, size, origin, count, c.ring->data(), 8, nullptr), 0) << c.what;
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < 10; x++)
                EXPECT_EQ(imgfixture_at(img, x, y), c.factor * rz_square(x, y)) << c.what << " at " << x << "," << y;
    }
}

TEST_F(Rasterize, FillMapsWorldUnitsAndReportsBounds)
{
    // World (10, 20) .. (15, 25) over a 10 x 10 image: two pixels a unit.
    const float size[2] = {5.0f, 5.0f}, origin[2] = {10.0f, 20.0f};
    const std::vector<float> ring = rz_ring({{11, 21}, {13, 21}, {13, 23}, {11, 23}, {11, 21}});
    image *img = make(10, 10);
    int bounds[4] = {0, 0, 0, 0};
    ASSERT_EQ(img_scalarfillpoly(img, size, origin, 5, ring.data(), 8, bounds), 0);
    EXPECT_EQ(bounds[0], 2);
    EXPECT_EQ(bounds[1], 2);
    EXPECT_EQ(bounds[2], 6);
    EXPECT_EQ(bounds[3], 6);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 10; x++)
            EXPECT_EQ(imgfixture_at(img, x, y), rz_square(x, y)) << x << "," << y;

    // Fractional corners, partly outside: floor and ceil, not clipped.
    const std::vector<float> tri = rz_ring({{9.2f, 20.6f}, {16.1f, 21.3f}, {12.0f, 25.9f}, {9.2f, 20.6f}});
    ASSERT_EQ(img_scalarfillpoly(make(10, 10), size, origin, 4, tri.data(), 4, bounds), 0);
    EXPECT_EQ(bounds[0], -2);
    EXPECT_EQ(bounds[1], 1);
    EXPECT_EQ(bounds[2], 13);
    EXPECT_EQ(bounds[3], 12);
}

// A comb of 300 teeth: every vertical edge is active on the same rows, and
// the tops are staggered so that they join the table left to right.
TEST_F(Rasterize, FillKeepsAtMost256ActiveEdgesAndReportsTheRest)
{
    std::vector<std::pair<float, float>> points;
    for (int i = 0; i < 300; i += 2) {
        points.push_back({(float)i, 9.0f});
        points.push_back({(float)i, 1.0f + i * 0.001f});
        points.push_back({(float)i + 1, 1.0f + (i + 1) * 0.001f});
        points.push_back({(float)i + 1, 9.0f});
    }
    points.push_back(points.front());
    const std::vector<float> ring = rz_ring(points);
    image *img = make(310, 10);
    const float size[2] = {310.0f, 10.0f}, origin[2] = {0.0f, 0.0f};
    testlog_capture log;
    ASSERT_EQ(img_scalarfillpoly(img, size, origin, (int)points.size(), ring.data(), 1, nullptr), 0);
    EXPECT_TRUE(log.contains("active edges overflow! y=1, edges=256, edge=256")) << log.text();
    EXPECT_EQ(log.count("[ ERROR ] active edges overflow!"), 1);
    for (int x = 0; x < 310; x++)
        EXPECT_EQ(imgfixture_at(img, x, 5), x < 256 ? 1.0f : 0.0f) << x;
}

TEST_F(Rasterize, FillRefusesBadInput)
{
    const std::vector<float> ring = rz_ring({{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2}});
    const std::vector<float> far = rz_ring({{2, 2}, {6, 2}, {6, 1e30f}, {2, 2}});
    const float size[2] = {10.0f, 10.0f}, flat[2] = {10.0f, 0.0f}, origin[2] = {0.0f, 0.0f};
    images.push_back(img_alloc("rgb", 10, 10, 3));
    image *rgb = images.back();
    image *img = make(10, 10);
    struct Case {
        const char *what;
        image *target;
        const float *size;
        int count;
        const float *verts;
        int subsamples;
        const char *line;
    };
    const Case cases[] = {
        {"colour image", rgb, size, 5, ring.data(), 8, "img_scalarfillpoly: \"rgb\" has 3 bytes per pixel"},
        {"no vertices", img, size, 0, ring.data(), 8, "img_scalarfillpoly: no vertices (0)"},
        {"zero subsamples", img, size, 5, ring.data(), 0, "img_scalarfillpoly: bad subsample count 0"},
        {"flat world", img, flat, 5, ring.data(), 8, "img_scalarfillpoly: bad world size"},
        {"vertex far out", img, size, 4, far.data(), 8, "img_scalarfillpoly: vertex 2 "},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        EXPECT_EQ(img_scalarfillpoly(c.target, c.size, origin, c.count, c.verts, c.subsamples, nullptr), -1)
            << c.what;
        EXPECT_TRUE(log.contains(c.line)) << c.what << "\n" << log.text();
    }
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(((const float *)img->pixels)[i], 0.0f);
}

static void rz_uv(const image *img, int x, int y, uint16_t *u, uint16_t *v)
{
    const uint16_t *p = (const uint16_t *)img->pixels + ((size_t)y * img->width + x) * 2;
    *u = p[0];
    *v = p[1];
}

static const float rz_square8[12] = {0, 0, 0, 8, 0, 0, 0, 8, 0, 8, 8, 0};
static const float rz_size8[3] = {8.0f, 8.0f, 1.0f};
static const float rz_origin0[3] = {0.0f, 0.0f, 0.0f};

TEST_F(Rasterize, QuadWritesTheInverseBilinearCoordinates)
{
    image *img = make(8, 8);
    const float uv[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    ASSERT_EQ(img_scalarrasterquad(img, rz_size8, rz_origin0, rz_square8, uv, 1), 0);
    uint16_t u, v;
    rz_uv(img, 4, 4, &u, &v);
    EXPECT_EQ(u, 32768);
    EXPECT_EQ(v, 32768);
    // Every pixel position p = (x, y) of the square maps to (x / 8, y / 8);
    // u = 0 exactly is not nearer the middle than an empty pixel.
    for (int y = 0; y < 8; y++) {
        for (int x = 1; x < 8; x++) {
            rz_uv(img, x, y, &u, &v);
            EXPECT_EQ(u, (uint16_t)(x / 8.0 * 65535.0 + 0.5)) << x << "," << y;
            EXPECT_EQ(v, (uint16_t)(y / 8.0 * 65535.0 + 0.5)) << x << "," << y;
        }
    }
    // An overlapping quad whose u is 0.9 there loses to the stored 0.5.
    const float far[8] = {0.9f, 0.3f, 0.9f, 0.3f, 0.9f, 0.3f, 0.9f, 0.3f};
    ASSERT_EQ(img_scalarrasterquad(img, rz_size8, rz_origin0, rz_square8, far, 1), 0);
    rz_uv(img, 4, 4, &u, &v);
    EXPECT_EQ(u, 32768);
    EXPECT_EQ(v, 32768);
}

TEST_F(Rasterize, QuadWrapsOrClampsWhatItStores)
{
    struct Case {
        const char *what;
        float value;
        int clamp;
        uint16_t want;
    };
    const Case cases[] = {
        {"1.25 wraps to 0.25", 1.25f, 0, 16384},     {"1.25 clamps to 1", 1.25f, 1, 65535},
        {"-0.25 wraps to 0.75", -0.25f, 0, 49151},   {"-0.25 clamps to 0", -0.25f, 1, 0},
        {"0.5 is kept either way", 0.5f, 0, 32768},  {"0.5 is kept either way", 0.5f, 1, 32768},
    };
    for (const Case &c : cases) {
        image *img = make(8, 8);
        // u stays 0.5 so the pixel accepts the sample; v carries the value.
        const float uv[8] = {0.5f, c.value, 0.5f, c.value, 0.5f, c.value, 0.5f, c.value};
        ASSERT_EQ(img_scalarrasterquad(img, rz_size8, rz_origin0, rz_square8, uv, c.clamp), 0) << c.what;
        uint16_t u, v;
        rz_uv(img, 3, 5, &u, &v);
        EXPECT_EQ(u, 32768) << c.what;
        EXPECT_EQ(v, c.want) << c.what;
    }
    // u is weighed before it is wrapped: 1.25 is farther from the middle
    // than an empty pixel's 0.
    image *img = make(8, 8);
    const float wide[8] = {1.25f, 0.5f, 1.25f, 0.5f, 1.25f, 0.5f, 1.25f, 0.5f};
    ASSERT_EQ(img_scalarrasterquad(img, rz_size8, rz_origin0, rz_square8, wide, 0), 0);
    uint16_t u, v;
    rz_uv(img, 3, 5, &u, &v);
    EXPECT_EQ(u, 0);
    EXPECT_EQ(v, 0);
}

// A parallelogram is mapped affinely, so its inverse is exact: p = P0 + s
// (P1 - P0) + t (P2 - P0), with u = s and v = t.
TEST_F(Rasterize, QuadMatchesTheExactInverseOfAParallelogram)
{
    const float verts[12] = {1, 1, 0, 13, 3, 0, 3, 12, 0, 15, 14, 0};
    const float uv[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    const float size[3] = {16.0f, 16.0f, 1.0f};
    image *img = make(16, 16);
    ASSERT_EQ(img_scalarrasterquad(img, size, rz_origin0, verts, uv, 1), 0);
    int inside = 0;
    for (int y = 0; y < 16; y++) {
        for (int x = 0; x < 16; x++) {
            // Solve [12 2; 2 11] (s, t) = (x - 1, y - 1).
            double det = 12.0 * 11.0 - 2.0 * 2.0;
            double s = ((x - 1) * 11.0 - 2.0 * (y - 1)) / det, t = (12.0 * (y - 1) - 2.0 * (x - 1)) / det;
            uint16_t u, v;
            rz_uv(img, x, y, &u, &v);
            if (s < 0.05 || s > 0.95 || t < 0.05 || t > 0.95)
                continue; // edge pixels depend on the rounding of the spans
            inside++;
            EXPECT_NEAR(u, s * 65535.0, 1.0) << x << "," << y;
            EXPECT_NEAR(v, t * 65535.0, 1.0) << x << "," << y;
        }
    }
    EXPECT_GT(inside, 60);
}

TEST_F(Rasterize, QuadCollapsedIntoOneRowOrRefusedDrawsNothing)
{
    image *img = make(8, 8);
    const float flat[12] = {0, 2.1f, 0, 8, 2.2f, 0, 0, 2.7f, 0, 8, 2.9f, 0};
    const float uv[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    ASSERT_EQ(img_scalarrasterquad(img, rz_size8, rz_origin0, flat, uv, 1), 0);
    images.push_back(img_alloc("rgb", 8, 8, 3));
    testlog_capture log;
    EXPECT_EQ(img_scalarrasterquad(images.back(), rz_size8, rz_origin0, rz_square8, uv, 1), -1);
    EXPECT_TRUE(log.contains("img_scalarrasterquad: not a UV map"));
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(((const uint32_t *)img->pixels)[i], 0u);
}
