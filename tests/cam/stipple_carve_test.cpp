// Standard Stippling judged by the independent carve simulator: on a canvas
// of one value v every carved hole's top radius is v rmin + (1 - v) rmax,
// capped at the cutter's radius, within a pixel, for V, tapered,
// tapered-ball and corner-radius cutters.
#include "stipplefixture.h"

#include <cmath>

namespace {
const float canvas_size[3] = {1, 1, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
constexpr int canvas_px = 96;
const double pixel = 1.0 / canvas_px;
} // namespace

class StippleCarve : public StippleTest {};

TEST_F(StippleCarve, HoleRadiusFollowsTheValue)
{
    struct Case {
        const char *name;
        int type;
        float flutediameter, flutelength, aux;
        float value;
        double cap; // the cutter's radius at the top
    };
    const Case cases[] = {
        {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f, 0.3f, 0.125},
        {"V 60deg 1/4", tool_vbit, 0.25f, 0.0f, 60.0f, 0.7f, 0.125},
        {"tapered 1/32 tip 10deg", tool_tapered, 0.03125f, 0.4f, 10.0f, 0.3f, 1.0},
        // Its flutes end 0.4 up, where the cone is rb cos a + (0.4 - (1 - sin a) rb) tan a wide.
        {"tapered ball r1/64 5deg capped", tool_taperball, 0.015625f, 0.4f, 5.0f, 0.5f,
         0.015625 * std::cos(5 * M_PI / 180) +
             (0.4 - (1 - std::sin(5 * M_PI / 180)) * 0.015625) * std::tan(5 * M_PI / 180)},
        {"tapered ball r1/64 5deg", tool_taperball, 0.015625f, 0.4f, 5.0f, 0.9f, 1.0},
        {"bull nose 0.2 corner 0.06", tool_cylinder, 0.2f, 0.5f, 0.06f, 0.5f, 0.1},
        {"ball 1/8 capped", tool_cylinder, 0.125f, 0.5f, 0.0625f, 0.1f, 0.0625},
    };
    const float dmin = 0.06f, dmax = 0.18f;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        cam_settool(1, c.name, c.type, 1, 2, c.flutediameter, c.flutelength, c.aux, 1.5f, 20.0f);
        usecanvas(carve_makecanvas(canvas_px, canvas_px, canvas_size, canvas_frac,
                                   [&c](double, double) { return c.value; }));
        stipple(0.25f, 0.0f, dmin, dmax);
        ASSERT_TRUE(runstipple());
        const std::vector<dot> holes = dots();
        ASSERT_GT(holes.size(), 4u);
        carve_grid g = canvas.grid(canvas.top());
        carve_run(g, carve_toolof(1, 1.0), carve_frommoves(op.toolpath));
        const double expect = std::min((double)(c.value * dmin / 2 + (1 - c.value) * dmax / 2), c.cap);
        for (const dot &d : holes) {
            // The farthest cut pixel centre within half a spacing.
            double r = 0;
            for (int j = 0; j < g.h; j++)
                for (int i = 0; i < g.w; i++) {
                    const double dist = std::hypot(g.cx(i) - d.x, g.cy(j) - d.y);
                    if (dist < 0.125 && g.at(i, j) < canvas.top() - 1e-6)
                        r = std::max(r, dist);
                }
            EXPECT_NEAR(r, expect, pixel) << "hole at " << d.x << "," << d.y;
        }
    }
}
