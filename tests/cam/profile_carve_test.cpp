// Cut surfaces against the carve simulator's brute-force dilation: the
// leave-stock growth and the cutter profile, dilated by the image routine,
// must be the surface an analytic cutter's tip may follow over the canvas,
// within what the cutter's height changes across one pixel.
#include "cam/profile.h"

#include "carvetest.h"
#include "gentest.h"
#include "img/convolve.h"

#include <cmath>

namespace {
// Inch tools for a 2 x 2 x 0.5 inch canvas of 64 pixels (1/32 inch each).
const carve_toolcase carve_tools[] = {
    {"flat 1/4", tool_cylinder, 0.25f, 0.75f, 0.0f},
    {"ball 1/4", tool_cylinder, 0.25f, 0.75f, 0.125f},
    {"tapered 1/16 tip 10deg", tool_tapered, 0.0625f, 0.4f, 10.0f},
    {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f},
    {"tapered ball r1/32 5deg", tool_taperball, 0.03125f, 0.4f, 5.0f},
};
} // namespace

class CutSurface : public GenTest {};

TEST_F(CutSurface, EqualsTheBruteForceDilationOfTheAnalyticCutters)
{
    const float size[3] = {2, 2, 0.5f}, frac[3] = {0, 0, 1};
    const carve_canvas dome = carve_makecanvas(64, 64, size, frac, [](double u, double v) {
        const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.45) * (v - 0.45);
        return 0.2 + 0.7 * std::sqrt(std::max(0.0, 0.16 - r2)) / 0.4;
    });
    setcanvas(dome.field, dome.w, dome.h, size, frac);
    const image *ref = img_refimage.load();
    const float zmax = 0.4f;
    for (float stock : {0.0f, 0.05f}) {
        for (const carve_toolcase &c : carve_tools) {
            carve_settool(c);
            image *s0 = stock > 0 ? cam_leavestock(ref, size, stock) : img_copy(ref);
            image *k = cam_gentoolprofile(0, size, dome.w, zmax);
            ASSERT_NE(s0, nullptr);
            ASSERT_NE(k, nullptr);
            image *sc = img_scalarconvo(s0, k, 0, -99999.0f, 0.0f);
            ASSERT_NE(sc, nullptr);
            const carve_grid got = dome.world((const float *)sc->pixels);
            img_free(s0);
            img_free(k);
            img_free(sc);

            // The kernel places the cutter's edge to within a pixel: the
            // result lies between the dilations by the cutter moved a pixel
            // in and a pixel out.
            const double px = size[0] / dome.w;
            const carve_tool cutter = carve_toolof(1, zmax);
            const carve_tool sphere = carve_ballnose(2.0 * std::max(stock, 1e-6f));
            carve_grid lo = dome.world(), hi = lo;
            if (stock > 0) {
                lo = carve_dilate(lo, carve_grow(sphere, -px));
                hi = carve_dilate(hi, carve_grow(sphere, px));
                for (size_t p = 0; p < lo.z.size(); p++)
                    lo.z[p] += stock, hi.z[p] += stock;
            }
            lo = carve_dilate(lo, carve_grow(cutter, -px));
            hi = carve_dilate(hi, carve_grow(cutter, px));
            const double tol = 1e-4;
            double under = 0, over = 0, spread = 0;
            for (size_t p = 0; p < lo.z.size(); p++) {
                under = std::max(under, lo.z[p] - got.z[p]);
                over = std::max(over, got.z[p] - hi.z[p]);
                spread = std::max(spread, hi.z[p] - lo.z[p]);
            }
            EXPECT_LE(under, tol) << c.name << " stock " << stock;
            EXPECT_LE(over, tol) << c.name << " stock " << stock << " (bracket up to " << spread << ")";
        }
    }
}
