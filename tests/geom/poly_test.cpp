// Polyline thinning and the cone stamp into a scalar field.
#include "geom/poly.h"

#include "img/image.h"
#include "sys/thread.h"
#include "testlog.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using poly_points = std::vector<std::array<float, 3>>;

static poly_points poly_line(int n, float step)
{
    poly_points p;
    for (int i = 0; i < n; i++)
        p.push_back({i * step, 0, 0});
    return p;
}

TEST(Poly, VertdotShortInputsKeepTheirPoints)
{
    poly_points two = {{{1, 2, 3}}, {{4, 5, 6}}};
    EXPECT_EQ(poly_vertdot(2, two[0].data(), 0.9f, 10, 0.1f), 2);
    EXPECT_EQ(two[1], (std::array<float, 3>{4, 5, 6}));
    poly_points one = {{{1, 2, 3}}};
    EXPECT_EQ(poly_vertdot(1, one[0].data(), 0.9f, 10, 0.1f), 1);
    EXPECT_EQ(poly_vertdot(0, nullptr, 0.9f, 10, 0.1f), 0);
}

TEST(Poly, VertdotTable)
{
    struct Case {
        const char *what;
        poly_points in;
        float dotlimit, minlen, maxlen;
        poly_points out;
    };
    const Case cases[] = {
        {"straight line thinned to its ends", poly_line(11, 1), 0.9f, 0, 100, {{{0, 0, 0}}, {{10, 0, 0}}}},
        {"right-angle corner kept",
         {{{0, 0, 0}}, {{1, 0, 0}}, {{2, 0, 0}}, {{3, 0, 0}}, {{3, 1, 0}}, {{3, 2, 0}}, {{3, 3, 0}}},
         0.5f, 0, 100,
         {{{0, 0, 0}}, {{3, 0, 0}}, {{3, 3, 0}}}},
        {"long run split at the maximum length", poly_line(11, 1), 0.9f, 0, 2.5f,
         {{{0, 0, 0}}, {{2.5f, 0, 0}}, {{5, 0, 0}}, {{7.5f, 0, 0}}, {{10, 0, 0}}}},
        {"splits never overwrite an unread corner",
         {{{0, 0, 0}}, {{1, 0, 0}}, {{2, 0, 0}}, {{10, 0, 0}}, {{10, 5, 0}}}, 0.5f, 0, 2.5f,
         {{{0, 0, 0}}, {{2.5f, 0, 0}}, {{5, 0, 0}}, {{10, 0, 0}}, {{10, 5, 0}}}},
        {"short sharper step moves the kept corner",
         {{{0, 0, 0}}, {{4, 0, 0}}, {{4.3f, 0.1f, 0}}, {{4.3f, 4, 0}}}, 0.99f, 1, 100,
         {{{0, 0, 0}}, {{4.3f, 0.1f, 0}}, {{4.3f, 4, 0}}}},
        {"the first point is never replaced",
         {{{0, 0, 0}}, {{0.5f, 0, 0}}, {{0.5f, 4, 0}}}, 0.9f, 1, 100,
         {{{0, 0, 0}}, {{0.5f, 4, 0}}}},
        {"height counts twice in the length",
         {{{0, 0, 0}}, {{0.8f, 0, 0.4f}}, {{0.8f, 4, 0.4f}}}, 0.5f, 1, 100,
         {{{0, 0, 0}}, {{0.8f, 0, 0.4f}}, {{0.8f, 4, 0.4f}}}},
    };
    for (const Case &c : cases) {
        poly_points p = c.in;
        int n = poly_vertdot((int)p.size(), p[0].data(), c.dotlimit, c.minlen, c.maxlen);
        ASSERT_EQ(n, (int)c.out.size()) << c.what;
        for (int i = 0; i < n; i++)
            for (int j = 0; j < 3; j++)
                EXPECT_NEAR(p[i][j], c.out[i][j], 1e-5f) << c.what << " point " << i;
    }
}

// A scalar field with its own pixel buffer, outside the image table.
struct poly_field {
    std::vector<float> values;
    image img{};
    poly_field(int w, int h, unsigned seed) : values((size_t)w * h)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(-1.0f, 1.5f);
        for (float &v : values)
            v = d(rng);
        img.width = w;
        img.height = h;
        img.bytesperpixel = 4;
        img.pixels = (uint8_t *)values.data();
    }
};

// The field raised to the cone by brute force, in double precision.
static std::vector<float> poly_bruteforce(const poly_field &f, const float *size, const float *rel)
{
    std::vector<float> out = f.values;
    double sx = (double)size[0] / f.img.width, sy = (double)size[1] / f.img.height;
    for (int y = 0; y < f.img.height; y++)
        for (int x = 0; x < f.img.width; x++) {
            double cone = rel[2] - std::hypot(x * sx - rel[0], y * sy - rel[1]);
            float &v = out[(size_t)y * f.img.width + x];
            if (cone > v)
                v = (float)cone;
        }
    return out;
}

static void poly_expectcone(int w, int h)
{
    poly_field f(w, h, 7u + w * 31u + h);
    const float size[2] = {3.7f, 7.5f}, origin[2] = {-1, 2};
    float point[3] = {0.5f, 4.0f, 1.2f};
    const float rel[3] = {1.5f, 2.0f, 1.2f};
    std::vector<float> expect = poly_bruteforce(f, size, rel);
    ASSERT_EQ(poly_maxdistpoint(&f.img, size, origin, point), 0);
    EXPECT_FLOAT_EQ(point[0], rel[0]);
    EXPECT_FLOAT_EQ(point[1], rel[1]);
    EXPECT_FLOAT_EQ(point[2], rel[2]);
    for (size_t i = 0; i < expect.size(); i++)
        ASSERT_NEAR(f.values[i], expect[i], 2e-6f) << w << "x" << h << " pixel " << i;
}

// The bands go to a running worker pool, as in the program.
class Cone : public WorkerPoolTest<2> {};

TEST_F(Cone, MatchesBruteForceForBandShapes)
{
    struct Case {
        int w, h;
    };
    // 150 rows: bands of 3 and empty bands at the end; 10 rows: one-row bands;
    // 640 rows: every band full; 1 row: only band 0.
    const Case cases[] = {{37, 150}, {23, 10}, {9, 640}, {50, 1}, {1, 64}};
    for (const Case &c : cases)
        poly_expectcone(c.w, c.h);
}

TEST(ConeAlone, CompletesWithoutWorkers)
{
    ASSERT_EQ(sys_numthreads, 0);
    poly_expectcone(31, 200);
}

TEST(ConeAlone, RefusesUnusableFields)
{
    poly_field f(4, 4, 1);
    const float size[2] = {1, 1}, origin[2] = {0, 0};
    float point[3] = {0.5f, 0.5f, 1};
    image bytes = f.img;
    bytes.bytesperpixel = 1;
    const float flat[2] = {1, 0};
    testlog_capture cap;
    EXPECT_EQ(poly_maxdistpoint(nullptr, size, origin, point), -1);
    EXPECT_EQ(poly_maxdistpoint(&bytes, size, origin, point), -1);
    EXPECT_EQ(poly_maxdistpoint(&f.img, flat, origin, point), -1);
    EXPECT_EQ(cap.count("poly_maxdistpoint: field is not a scalar field"), 2);
    EXPECT_TRUE(cap.contains("poly_maxdistpoint: bad world size"));
    EXPECT_EQ(point[0], 0.5f); // untouched when refused
}
