// Edge profiles: the rounded disc rim and the ramp with rounded ends.
#include "geom/profile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(Profile, StepposRegions)
{
    // A disc of radius 1 with a rim 0.25 wide, 2 deep, outside value 5.
    struct Case {
        const char *what;
        float dist, rim, expect;
    };
    const Case cases[] = {
        {"inside the disc", 0.5f, 0.25f, 0},
        {"rim start", 0.75f, 0.25f, 0},
        {"convex mid-rim", 0.875f, 0.25f, 2 * (std::sqrt(0.75f) - 1)},
        {"convex rim end, root zero", 1.0f, 0.25f, -2},
        {"beyond the rim", 1.01f, 0.25f, 5},
        {"concave rim start, root zero", 0.75f, -0.25f, 0},
        {"concave mid-rim", 0.875f, -0.25f, -2 * std::sqrt(0.75f)},
        {"concave rim end", 1.0f, -0.25f, -2},
        {"tiny rim inside its band", 1.0f - 0.00002f, 0.00005f, 0},
        {"tiny rim beyond", 1.001f, 0.00005f, 5},
        {"zero rim at the edge", 1.0f, 0.0f, 0},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(math_steppos(c.dist, 1.0f, c.rim, 2.0f, 5.0f), c.expect, 1e-5f) << c.what;
}

// Samples the ramp from below 0 to above length.
static std::vector<float> profile_sample(float r1, float r2, float length, float scale, int n)
{
    std::vector<float> v(n + 1);
    for (int i = 0; i <= n; i++)
        v[i] = length * (-0.1f + 1.2f * i / n);
    arc_fit((int)v.size(), v.data(), r1, r2, length, scale);
    return v;
}

TEST(Profile, ArcFitWithoutRadiiIsStraight)
{
    float v[] = {-1, 0, 1, 2, 3.5f, 4, 5};
    arc_fit(7, v, 0, 0, 4, 2);
    const float expect[] = {0, 0, 0.25f, 0.5f, 0.875f, 1, 1};
    for (int i = 0; i < 7; i++)
        EXPECT_NEAR(v[i], expect[i], 1e-6f) << i;
}

TEST(Profile, ArcFitRisesMonotonicallyFrom0To1)
{
    struct Case {
        float r1, r2, length, scale;
    };
    const Case cases[] = {
        {0.2f, 0.2f, 1, 1},    {0.3f, 0.1f, 1, 1},   {-0.3f, 0.3f, 1, 1}, {0.3f, -0.3f, 1, 1},
        {-0.4f, -0.4f, 2, 1},  {5, 5, 1, 1},         {-5, 5, 0.5f, 1},    {0.5f, 0.5f, 10, 1},
        {-0.05f, 0.05f, 0.1f, 1}, {0.45f, -0.45f, 3, 2}, {-1, -1, 0.2f, 0.1f},
    };
    for (const Case &c : cases) {
        std::vector<float> v = profile_sample(c.r1, c.r2, c.length, c.scale, 4000);
        for (size_t i = 0; i < v.size(); i++) {
            ASSERT_GE(v[i], -1e-6f) << c.r1 << " " << c.r2 << " at " << i;
            ASSERT_LE(v[i], 1.0f + 1e-6f) << c.r1 << " " << c.r2 << " at " << i;
            if (i > 0)
                ASSERT_GE(v[i], v[i - 1] - 1e-5f) << c.r1 << " " << c.r2 << " at " << i;
        }
        float ends[] = {0, c.length};
        arc_fit(2, ends, c.r1, c.r2, c.length, c.scale);
        EXPECT_NEAR(ends[0], 0.0f, 1e-5f) << c.r1 << " " << c.r2;
        EXPECT_NEAR(ends[1], 1.0f, 1e-4f) << c.r1 << " " << c.r2;
    }
}

TEST(Profile, ArcFitOppositeRadiiArePointSymmetric)
{
    // A concave foot and a convex head of equal size mirror each other about
    // the ramp's centre, and the foot leaves the floor level.
    const float length = 2, r = 0.3f;
    const int n = 4000;
    std::vector<float> v(n + 1), w(n + 1);
    for (int i = 0; i <= n; i++) {
        v[i] = length * i / n;
        w[i] = length - v[i];
    }
    arc_fit(n + 1, v.data(), -r, r, length, 1);
    arc_fit(n + 1, w.data(), -r, r, length, 1);
    for (int i = 0; i <= n; i++)
        ASSERT_NEAR(v[i] + w[i], 1.0f, 1e-5f) << i;
    EXPECT_LT((v[1] - v[0]) / (length / n), 0.01f);
}

TEST(Profile, ArcFitJoinsArcsAndSlopeWithoutKinks)
{
    // Slopes sampled 0.0005 apart change smoothly wherever the profile is not
    // vertical: a wrong tangent point shows as a jump. Convex feet and concave
    // heads are vertical at the ends, so those ends are left out.
    struct Case {
        float r1, r2, from, to;
    };
    const Case cases[] = {
        {-0.3f, 0.3f, 0, 1}, {0.2f, 0.2f, 0.05f, 1}, {-0.25f, -0.25f, 0, 0.95f},
        {0.3f, -0.2f, 0.05f, 0.95f}, {-0.1f, 0.4f, 0, 1},
    };
    const float length = 2;
    const int n = 4000;
    for (const Case &c : cases) {
        std::vector<float> v(n + 1);
        for (int i = 0; i <= n; i++)
            v[i] = length * (c.from + (c.to - c.from) * i / n);
        arc_fit(n + 1, v.data(), c.r1, c.r2, length, 1);
        float du = length * (c.to - c.from) / n;
        for (int i = 1; i < n; i++) {
            float s0 = (v[i] - v[i - 1]) / du, s1 = (v[i + 1] - v[i]) / du;
            ASSERT_LT(std::fabs(s1 - s0), 0.05f) << c.r1 << " " << c.r2 << " at " << i;
        }
    }
}

TEST(Profile, ArcFitDegenerateRampIsAStep)
{
    float v[] = {-1, 0, 0.5f, std::nanf("")};
    arc_fit(4, v, 0.2f, 0.2f, 0, 1);
    const float expect[] = {0, 0, 1, 0};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(v[i], expect[i]) << i;
}
