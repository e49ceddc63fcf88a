// Chevron, Spiral and Conformal carving judged by the independent carve
// simulator: with a ball nose, a V-bit and a flat end mill, over a relief
// of a bump, a plateau and a ripple (40 px, where a gouge of 0.03 inch
// still shows), their compiled moves never cut below it.
#include "cam/chevron.h"
#include "cam/conformal.h"
#include "cam/spiral.h"

#include "parallelfixture.h"
#include "testlog.h"

#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0

// A bump, a plateau with sloped walls and a ripple: slopes every way, each
// pixel's rise small enough for a shallow gouge to show.
double relief(double u, double v)
{
    const double bump = 0.1 + 0.3 * std::exp(-((u - 0.35) * (u - 0.35) + (v - 0.4) * (v - 0.4)) / 0.08);
    const double e = 0.3 - std::max(std::fabs(u - 0.72), std::fabs(v - 0.7));
    const double plateau = 0.1 + std::clamp(e, 0.0, 0.2);
    return std::max(bump, plateau) + 0.03 * std::sin(9 * u) * std::cos(7 * v);
}
} // namespace

class LineGenCarve : public ParallelTest {};

TEST_F(LineGenCarve, NoCutterGougesTheRelief)
{
    struct Gen {
        const char *name;
        int type;
        camop_generator fn;
        float aux[3];
    };
    const Gen gens[] = {
        {"chevron", 2, camop_chevron, {25, 0.3f, 0.2f}},
        {"spiral", 3, camop_spiral, {0.1f, -0.05f, 0}},
        {"conformal", 9, camop_conformal, {30, 1.5f, 0}},
    };
    const carve_toolcase tools[] = {
        {"ball 1/8", tool_cylinder, 0.125f, 1.0f, 0.0625f},
        {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f},
        {"flat 1/8", tool_cylinder, 0.125f, 1.0f, 0.0f},
    };
    usecanvas(carve_makecanvas(40, 40, canvas_size, canvas_frac, relief));
    const double tol = carve_pixelchange(canvas.world()) + 1e-4;
    testlog_capture log;
    for (const Gen &g : gens)
        for (const carve_toolcase &t : tools) {
            carve_settool(t);
            resetop();
            op.type = g.type;
            op.step = 0.1f, op.z_max = 0.45f, op.z_doc = 0.45f, op.z_min = 0.0f; // one level
            op.flags = camop_anydoc | camop_linkcuts, op.entry = 1, op.dir = 2;
            memcpy(op.aux, g.aux, sizeof(op.aux));
            ASSERT_TRUE(rungenerator(g.fn)) << g.name << " " << t.name;
            ASSERT_GE(op.toolpath, 0) << g.name << " " << t.name;
            ASSERT_NE(toolpaths[op.toolpath].moves, nullptr) << g.name << " " << t.name;
            carve_grid carved = canvas.grid(canvas.top() + 1.0);
            carve_run(carved, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
            const carve_gouge gouge = carve_deepest(carved, canvas.world());
            EXPECT_LE(gouge.depth, tol) << g.name << ", " << t.name << " at pixel " << gouge.i << "," << gouge.j;
            toolpath_free(op.toolpath);
        }
}

// A ridge narrower than the link distance crosses every line; at the second
// level it stands above the first, splitting each line in two: the pieces
// on either side must not be joined by a feed through it.
TEST_F(LineGenCarve, NoLinkCutsThroughANarrowRidge)
{
    const struct {
        const char *name;
        camop_generator fn;
        int type;
        float aux[3];
    } gens[] = {{"chevron", camop_chevron, 2, {0, 0.5f, 0.1f}}, {"conformal", camop_conformal, 9, {0, 0, 0}}};
    usecanvas(carve_makecanvas(48, 48, canvas_size, canvas_frac,
                               [](double u, double) { return std::fabs(u - 0.5) < 0.02 ? 0.9 : 0.1; }));
    // A feed through the ridge cuts 0.35 below its top; grazing its vertical
    // faces, sampled once a pixel, takes a few hundredths.
    const double tol = 0.1;
    cam_settool(1, "flat 1/16", tool_cylinder, 1, 2, 0.0625f, 1.0f, 0.0f, 1.5f, 20.0f);
    testlog_capture log;
    for (const auto &g : gens) {
        resetop();
        op.type = g.type;
        op.step = 0.3f, op.z_max = 0.4f, op.z_doc = 0.2f, op.z_min = 0.0f; // links up to 0.45 long
        op.flags = camop_anydoc | camop_linkcuts, op.entry = 0, op.dir = 2;
        memcpy(op.aux, g.aux, sizeof(op.aux));
        ASSERT_TRUE(rungenerator(g.fn)) << g.name;
        ASSERT_GE(op.toolpath, 0) << g.name;
        carve_grid carved = canvas.grid(canvas.top() + 1.0);
        carve_run(carved, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
        const carve_gouge gouge = carve_deepest(carved, canvas.world());
        EXPECT_LE(gouge.depth, tol) << g.name << " at pixel " << gouge.i << "," << gouge.j;
        toolpath_free(op.toolpath);
    }
}
