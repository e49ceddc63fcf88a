// Distance fades and the CPU inflation: the fade's radius and gain
// modulation through a straight ramp, the one-pixel hemisphere, a random
// field against the per-pixel definition, the degenerate radii and rows, and
// refused arguments.
#include "img/fade.h"

#include "geom/profile.h"
#include "imgfixture.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

class Fade : public ImgTest<4> {
protected:
    image *field(int w, int h, const std::vector<float> &values)
    {
        return keep(img_alloc("fade", w, h, 4, values.data()));
    }
};

TEST_F(Fade, RampWithoutArcsIsStraight)
{
    // The fade tests lean on this: radii 0 over a unit ramp leave values be.
    std::vector<float> v = {-0.5f, 0, 0.25f, 0.6f, 1, 1.5f};
    arc_fit((int)v.size(), v.data(), 0, 0, 1, 1);
    const float expect[] = {0, 0, 0.25f, 0.6f, 1, 1};
    for (size_t i = 0; i < v.size(); i++)
        EXPECT_NEAR(v[i], expect[i], 1e-5f);
}

TEST_F(Fade, DistanceFadesThroughRadiusAndGain)
{
    struct Case {
        const char *what;
        float distance, modulation, radiusmod, gainmod, gain;
        float expect;
    };
    const Case cases[] = {
        {"zero modulation: the profile times the gain", 2, 0, 1, 1, 2, 2 * 0.8f},
        {"beyond the radius", 12, 0, 1, 1, 2, 0},
        {"local radius halved", 2, 0.5f, 1, 0, 1, 0.6f},
        {"local radius factor 0 fades to 0", 0, 1, 1, 0, 1, 0},
        {"negative local radius factor fades to 0", 0, 0.8f, 2, 0, 1, 0},
        {"factor above 1 keeps the radius", 2, -1, 1, 0, 1, 0.8f},
        {"gain halved by the modulation", 5, 0.5f, 0, 1, 1, 0.25f},
        {"a negative gain clamps to 0", 2, 0, 0, 0, -1, 0},
    };
    const int w = 13, h = 9;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        image *a = field(w, h, std::vector<float>(w * h, c.distance));
        image *b = field(w, h, std::vector<float>(w * h, c.modulation));
        ASSERT_EQ(img_scalardistfade(a, b, 1, 0, 0, 1, 10, c.gain, c.radiusmod, c.gainmod), 0);
        for (int i = 0; i < w * h; i++)
            ASSERT_NEAR(((float *)a->pixels)[i], c.expect, 1e-5f) << "pixel " << i;
    }
}

TEST_F(Fade, DistanceFadeRefusesBadArguments)
{
    image *a = field(4, 4, std::vector<float>(16, 1));
    image *b = field(4, 3, std::vector<float>(12, 0));
    testlog_capture cap;
    EXPECT_EQ(img_scalardistfade(a, b, 1, 0, 0, 1, 10, 1, 0, 0), -1);
    EXPECT_EQ(img_scalardistfade(a, a, 1, 0, 0, 1, 0, 1, 0, 0), -1);
    EXPECT_TRUE(cap.contains("img_scalardistfade: modulation 4x3 does not match 4x4"));
    EXPECT_TRUE(cap.contains("img_scalardistfade: bad fade radius 0.000000"));
    EXPECT_EQ(imgfixture_at(a, 1, 1), 1);
}

TEST_F(Fade, InflatingOnePixelGivesAHemisphere)
{
    struct Case {
        const char *what;
        float value, maxradius, heightscale;
    };
    const Case cases[] = {
        {"radius 4 pixels", 2, 6, 2},
        {"radius 3.5 pixels", 3.5f, 8, 1},
        {"maximum radius 0 leaves nothing", 2, 0, 2},
    };
    const int w = 21, h = 17, cx = 10, cy = 8;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> v(w * h, 0);
        v[cy * w + cx] = c.value;
        image *f = field(w, h, v);
        ASSERT_EQ(img_scalarinflatedist(f, c.maxradius, c.heightscale), 0);
        float r = c.maxradius > 0 ? c.value * c.heightscale : 0;
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                float d2 = (float)((x - cx) * (x - cx) + (y - cy) * (y - cy));
                float expect = std::sqrt(std::max(r * r - d2, 0.0f)) / c.heightscale;
                ASSERT_NEAR(imgfixture_at(f, x, y), expect, 1e-5f) << x << "," << y;
            }
        }
    }
}

// The inflation one pixel at a time: whole-pixel offsets inside the
// maximum radius, clipped to the field, radii not capped.
static std::vector<float> fd_inflatereference(const image *img, float maxradius, float hs)
{
    const int w = img->width, h = img->height;
    std::vector<float> out((size_t)w * h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            double best = -999999.0;
            for (int sy = 0; sy < h; sy++) {
                for (int sx = 0; sx < w; sx++) {
                    double d2 = (sx - x) * (sx - x) + (sy - y) * (sy - y);
                    if (d2 < (double)maxradius * maxradius) {
                        double r = imgfixture_at(img, sx, sy) * hs;
                        best = std::max(best, r * r - d2);
                    }
                }
            }
            out[(size_t)y * w + x] = best < 0 ? 0.0f : (float)(std::sqrt(best) / hs);
        }
    }
    return out;
}

TEST_F(Fade, InflationMatchesThePerPixelDefinition)
{
    struct Case {
        int w, h;
        float maxradius, heightscale;
    };
    const Case cases[] = {{15, 12, 3.5f, 1.7f}, {9, 1, 2, 3}, {4, 20, 6, 0.5f}, {11, 7, 100, 1}};
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(-0.5f, 3.0f);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        std::vector<float> v((size_t)c.w * c.h);
        for (float &x : v)
            x = d(rng);
        image *f = field(c.w, c.h, v);
        std::vector<float> expect = fd_inflatereference(f, c.maxradius, c.heightscale);
        ASSERT_EQ(img_scalarinflatedist(f, c.maxradius, c.heightscale), 0);
        for (size_t i = 0; i < expect.size(); i++)
            ASSERT_NEAR(((float *)f->pixels)[i], expect[i], 1e-4f) << "pixel " << i;
    }
}

TEST_F(Fade, InflationRefusesBadArguments)
{
    image *f = field(4, 4, std::vector<float>(16, 1));
    testlog_capture cap;
    EXPECT_EQ(img_scalarinflatedist(f, 2, 0), -1);
    EXPECT_EQ(img_scalarinflatedist(f, -1, 1), -1);
    EXPECT_EQ(img_scalarinflatedist(f, NAN, 1), -1);
    EXPECT_EQ(img_scalarinflatedist(nullptr, 2, 1), -1);
    EXPECT_EQ(cap.count("img_scalarinflatedist: bad radius"), 3);
    EXPECT_EQ(imgfixture_at(f, 2, 2), 1);
}
