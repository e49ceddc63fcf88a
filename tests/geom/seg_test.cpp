// Line intersection: crossings inside and outside the segments, parallel and
// degenerate pairs.
#include "geom/seg.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Seg, IntersectTable)
{
    struct Case {
        const char *what;
        double a1[3], a2[3], b1[3], b2[3];
        double x, y, flag;
    };
    const Case cases[] = {
        {"crossing diagonals", {0, 0, 0}, {2, 2, 0}, {0, 2, 0}, {2, 0, 0}, 1, 1, 0},
        {"outside both segments", {0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 2, 0}, 2, 0, 0},
        {"vertical and horizontal", {5, -1, 0}, {5, 1, 0}, {0, 3, 0}, {1, 3, 0}, 5, 3, 0},
        {"z is ignored", {0, 0, 7}, {2, 2, -3}, {0, 2, 100}, {2, 0, 1}, 1, 1, 0},
        {"thin but not short", {0, 0, 0}, {1e-10, 1, 0}, {-1, 0.5, 0}, {1, 0.5, 0}, 5e-11, 0.5, 0},
        {"barely not parallel", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1 + 1e-8, 0}, -1e8, 0, 0},
        {"parallel", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, 0, 0, -1},
        {"collinear overlapping", {0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {3, 0, 0}, 0, 0, -1},
        {"nearly parallel", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1 + 1e-10, 0}, 0, 0, -1},
        {"first pair a point", {1, 1, 0}, {1, 1, 0}, {0, 0, 0}, {2, 3, 0}, 0, 0, -1},
        {"second pair tiny", {0, 0, 0}, {1, 1, 0}, {3, 0, 0}, {3 + 1e-10, 5e-10, 0}, 0, 0, -1},
    };
    for (const Case &c : cases) {
        double out[3] = {99, 99, 99};
        seg_intersect(out, c.a1, c.a2, c.b1, c.b2);
        EXPECT_EQ(out[2], c.flag) << c.what;
        EXPECT_NEAR(out[0], c.x, 1e-12 + 1e-7 * std::fabs(c.x)) << c.what;
        EXPECT_NEAR(out[1], c.y, 1e-12) << c.what;
    }
}
