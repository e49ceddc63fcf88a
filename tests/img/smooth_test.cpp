// Distance-field smoothing: the half-valued edge column, fractional edge
// seeds, fields without seeds, a single row, a disc against brute-force
// Euclidean distances, and the release of the result when the temporary
// image cannot be had.
#include "img/smooth.h"

#include "imgfixture.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

class Smooth : public ImgTest<0> {
protected:
    image *field(int w, int h, const std::vector<float> &values)
    {
        return keep(img_alloc("mask", w, h, 4, values.data()));
    }
};

// Columns left of edge are 0, the edge column holds edgevalue, the rest 1.
static std::vector<float> sm_edge(int w, int h, int edge, float edgevalue)
{
    std::vector<float> v((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            v[(size_t)y * w + x] = x < edge ? 0.0f : x == edge ? edgevalue : 1.0f;
    return v;
}

TEST_F(Smooth, EdgeColumnsSeedBothSides)
{
    struct Case {
        const char *what;
        float edgevalue;
        float inside, outside; // offsets of the distances measured from the edge column
    };
    const Case cases[] = {
        {"a 0.5 column is at distance 0 on both sides", 0.5f, 0, 0},
        {"a 0.75 column is an inside seed at 0.25 and an outside one at -0.25", 0.75f, 0.25f, -0.25f},
    };
    const int w = 11, h = 6, edge = 5;
    const float scale = 0.5f, offset = 0.25f;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        image *img = field(w, h, sm_edge(w, h, edge, c.edgevalue));
        image *out = keep(img_scalardistsmooth(img, scale, offset));
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out->name, "mask.smth");
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                int j = x - edge;
                float expect = j > 0    ? offset - scale * (j + c.inside)
                               : j < 0 ? offset + scale * (-j + c.outside)
                                       : offset - scale * c.inside;
                ASSERT_NEAR(imgfixture_at(out, x, y), expect, 1e-5f) << x << "," << y;
            }
        }
    }
}

TEST_F(Smooth, FieldsWithoutSeedsAndSingleRows)
{
    struct Case {
        const char *what;
        int w, h;
        std::vector<float> values, expect; // expect: distances before scale and offset
    };
    const float far = img_smoothfar;
    const Case cases[] = {
        {"all inside: no inside seed", 3, 2, std::vector<float>(6, 1), std::vector<float>(6, far)},
        {"all outside: no outside seed", 3, 2, std::vector<float>(6, 0), std::vector<float>(6, -far)},
        {"one row keeps its own seeds", 4, 1, {0, 0.25f, 0.75f, 1}, {-far, -0.25f, 0.25f, far}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        image *out = keep(img_scalardistsmooth(field(c.w, c.h, c.values), 2, 1));
        ASSERT_NE(out, nullptr);
        for (size_t i = 0; i < c.expect.size(); i++)
            EXPECT_FLOAT_EQ(((float *)out->pixels)[i], 1 - 2 * c.expect[i]) << "pixel " << i;
    }
}

TEST_F(Smooth, DiscMatchesBruteForceDistances)
{
    const int w = 41, h = 37;
    std::vector<float> v((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            v[(size_t)y * w + x] = std::hypot(x - 19.3, y - 17.8) < 12.5 ? 1.0f : 0.0f;
    image *out = keep(img_scalardistsmooth(field(w, h, v), 1, 0));
    ASSERT_NE(out, nullptr);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            // Distance to the nearest pixel of the other kind.
            bool in = v[(size_t)y * w + x] > 0;
            double best = 1e9;
            for (int sy = 0; sy < h; sy++)
                for (int sx = 0; sx < w; sx++)
                    if ((v[(size_t)sy * w + sx] > 0) != in)
                        best = std::min(best, std::hypot(sx - x, sy - y));
            double expect = in ? -best : best;
            ASSERT_NEAR(imgfixture_at(out, x, y), expect, 0.02) << x << "," << y;
        }
    }
}

TEST_F(Smooth, NoTemporarySlotReleasesTheResult)
{
    image *img = field(4, 4, std::vector<float>(16, 1));
    // Fill the table but for one slot: the result takes it, the temporary finds none.
    std::vector<image *> fill;
    {
        testlog_capture quiet;
        for (image *p; (p = img_alloc("fill", 1, 1, 4));)
            fill.push_back(p);
    }
    img_free(fill.back());
    fill.pop_back();
    int before = img_count;
    testlog_capture cap;
    EXPECT_EQ(img_scalardistsmooth(img, 1, 0), nullptr);
    EXPECT_TRUE(cap.contains("img_scalardistsmooth: failed to allocate temporary image"));
    EXPECT_EQ(img_count, before);
    for (image *p : fill)
        img_free(p);
}
