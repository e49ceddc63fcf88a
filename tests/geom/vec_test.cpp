// Vector normalisation and the camera basis rows.
#include "geom/vec.h"

#include <gtest/gtest.h>

#include <cmath>

static void expect_vec(const float *got, float x, float y, float z, const char *what)
{
    EXPECT_NEAR(got[0], x, 1e-6f) << what;
    EXPECT_NEAR(got[1], y, 1e-6f) << what;
    EXPECT_NEAR(got[2], z, 1e-6f) << what;
}

TEST(Vec, NormalizeScalesToUnitLengthAndLeavesZeroAlone)
{
    struct Case {
        float in[3], out[3];
    };
    const Case cases[] = {
        {{3, 4, 0}, {0.6f, 0.8f, 0}},
        {{0, 0, -2}, {0, 0, -1}},
        {{1e-20f, 0, 0}, {1, 0, 0}},
        {{0, 0, 0}, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        float v[3] = {c.in[0], c.in[1], c.in[2]};
        vec3_normalize(v, v); // in place, as callers do
        expect_vec(v, c.out[0], c.out[1], c.out[2], "normalize");
    }
}

TEST(Vec, AngleVectorsMatchHandDerivedBasis)
{
    // Rows: forward, up, right. Pitch 0 looks straight down; pitch 90 looks
    // along +Y; yaw turns the view about Z.
    struct Case {
        float angles[3];
        float forward[3], up[3], right[3];
    };
    const float h = std::sqrt(0.5f);
    const Case cases[] = {
        {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}, {-1, 0, 0}},
        {{90, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}},
        {{0, 0, 90}, {0, 0, -1}, {-1, 0, 0}, {0, -1, 0}},
        {{90, 0, 90}, {-1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
        {{45, 0, 180}, {0, -h, -h}, {0, -h, h}, {1, 0, 0}},
        {{60, 33, 0}, {0, std::sqrt(3.0f) / 2, -0.5f}, {0, 0.5f, std::sqrt(3.0f) / 2}, {-1, 0, 0}},
    };
    for (const Case &c : cases) {
        vec3_anglevectors(c.angles);
        expect_vec(view_basis[view_forward], c.forward[0], c.forward[1], c.forward[2], "forward");
        expect_vec(view_basis[view_up], c.up[0], c.up[1], c.up[2], "up");
        expect_vec(view_basis[view_right], c.right[0], c.right[1], c.right[2], "right");
    }
}

TEST(Vec, AngleVectorsAreOrthonormalRightHanded)
{
    const float angles[][3] = {{10, 0, 20}, {-35, 5, 123}, {45, 0, -22.5f}, {170, 0, 300}};
    for (const auto &a : angles) {
        vec3_anglevectors(a);
        const float *f = view_basis[view_forward], *u = view_basis[view_up],
                    *r = view_basis[view_right];
        for (int i = 0; i < 3; i++) {
            const float *v = view_basis[i];
            EXPECT_NEAR(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 1.0f, 1e-6f);
        }
        EXPECT_NEAR(f[0] * u[0] + f[1] * u[1] + f[2] * u[2], 0.0f, 1e-6f);
        EXPECT_NEAR(f[0] * r[0] + f[1] * r[1] + f[2] * r[2], 0.0f, 1e-6f);
        // right = up x forward
        expect_vec(r, u[1] * f[2] - u[2] * f[1], u[2] * f[0] - u[0] * f[2],
                   u[0] * f[1] - u[1] * f[0], "cross");
    }
}
