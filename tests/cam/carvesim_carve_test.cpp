// The carve simulator's own footing: the analytic cutters have the shapes
// their geometry gives, a stamp cuts exactly under the cutter, and the brute
// dilation of a single spike is the cutter turned upside down.
#include "carvesim.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(CarveSim, CuttersHaveTheirGeometricShape)
{
    struct Case {
        const char *name;
        carve_tool t;
        double r, height;
    };
    const Case cases[] = {
        {"flat", carve_flat(0.5), 0.2, 0.0},
        {"ball at its rim", carve_ballnose(0.5), 0.25, 0.25},
        {"ball at 0.15", carve_ballnose(0.5), 0.15, 0.25 - 0.2},
        {"bull corner", carve_bullnose(1.0, 0.1), 0.5, 0.1},
        {"V 90", carve_vee(1.0, 90.0), 0.3, 0.3},
        {"V 60", carve_vee(1.0, 60.0), 0.2, 0.2 * std::sqrt(3.0)},
        {"tapered tip", carve_tapered(0.2, 45.0, 1.0), 0.1, 0.0},
        {"tapered flank", carve_tapered(0.2, 45.0, 1.0), 0.4, 0.3},
        // A 0-degree taper over a ball is a ball nose.
        {"tapered ball 0deg", carve_taperball(0.25, 0.0, 1.0), 0.15, 0.25 - 0.2},
        // On the cone of 45 degrees: the tangent point sits at r cos 45.
        {"tapered ball cone", carve_taperball(1.0, 45.0, 3.0), 1.5,
         1.0 - std::sqrt(0.5) + (1.5 - std::sqrt(0.5))},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(c.t.height(c.r), c.height, 1e-8) << c.name;
    EXPECT_NEAR(carve_taperball(1.0, 45.0, 3.0).radius, std::sqrt(0.5) + (3.0 - 1.0 + std::sqrt(0.5)), 1e-9);
}

TEST(CarveSim, AStampCutsOnlyUnderTheCutter)
{
    carve_grid g;
    g.w = g.h = 21;
    g.px = g.py = 0.1;
    g.x0 = 0, g.y0 = 2.1;
    g.z.assign(21 * 21, 0.0);
    const carve_tool ball = carve_ballnose(1.0);
    carve_stamp(g, ball, 1.05, 1.05, -0.5); // over the centre of pixel (10, 10)
    EXPECT_NEAR(g.at(10, 10), -0.5, 1e-12);
    EXPECT_NEAR(g.at(13, 10), -0.5 + 0.5 - std::sqrt(0.25 - 0.09), 1e-12);
    EXPECT_EQ(g.at(16, 10), 0.0) << "beyond the cutting radius";
    EXPECT_EQ(g.at(14, 14), 0.0) << "0.566 from the axis";
}

TEST(CarveSim, DilatingASpikeGivesTheCutterUpsideDown)
{
    carve_grid g;
    g.w = g.h = 15;
    g.px = g.py = 0.05;
    g.y0 = 0.75;
    g.z.assign(15 * 15, -10.0);
    g.at(7, 7) = 0.0;
    const carve_tool vee = carve_vee(0.5, 90.0);
    carve_grid d = carve_dilate(g, vee);
    EXPECT_NEAR(d.at(7, 7), 0.0, 1e-12);
    EXPECT_NEAR(d.at(10, 7), -0.15, 1e-12);
    EXPECT_NEAR(d.at(9, 9), -std::hypot(0.1, 0.1), 1e-12);
    EXPECT_LT(d.at(7, 14), -9.0) << "out of reach of the spike";
}
