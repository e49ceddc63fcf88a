// Paths Carving draped on the canvas widened by the cutter, judged by the
// independent carve simulator: the compiled moves (ramps and links
// included) never cut below the relief plus the leave stock, for a ball and
// a wide V cutter, both of which would gouge the slopes with their tip on
// the relief.
#include "pathsfixture.h"

#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0

double ridges(double u, double v)
{
    return 0.55 + 0.2 * std::sin(2 * M_PI * 1.5 * u) * std::cos(2 * M_PI * v);
}
} // namespace

class PathsCarve : public PathsTest {};

TEST_F(PathsCarve, DrapedWithTheCutterNeverGouges)
{
    usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, ridges));
    addlayer();
    struct Case {
        const char *what;
        int type;
        float diameter, aux;
        float stock;
    };
    const Case cases[] = {
        {"ball 1/2, stock 0.02", tool_cylinder, 0.5f, 0.25f, 0.02f},
        {"V 150deg 1/4, no stock", tool_vbit, 0.25f, 150.0f, 0.0f},
    };
    const double tol = carve_pixelchange(canvas.world()) + 1e-4;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        cam_settool(1, c.what, c.type, 1, 2, c.diameter, 1.0f, c.aux, 1.5f, 20.0f);
        resetop();
        op.type = 12, op.z_max = 0.4f, op.z_doc = 0.15f, op.stock = c.stock, op.entry = 1, op.dir = 2;
        std::memcpy(&op.aux[0], &uid, sizeof(uid));
        const uint32_t bits = pathscut_surface | pathscut_cutter;
        std::memcpy(&op.aux[1], &bits, sizeof(bits));
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        ASSERT_NE(toolpaths[op.toolpath].moves, nullptr);
        carve_grid carved = canvas.grid(canvas.top() + 1.0);
        carve_run(carved, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
        carve_grid floor = canvas.world();
        for (double &z : floor.z)
            z += c.stock;
        const carve_gouge g = carve_deepest(carved, floor);
        EXPECT_LE(g.depth, tol) << "gouge at pixel " << g.i << ", " << g.j;
        int cut = 0;
        for (size_t k = 0; k < carved.z.size(); k++)
            cut += carved.z[k] < canvas.top() - 0.05;
        EXPECT_GT(cut, 100) << "the curves are carved";
        toolpath_free(op.toolpath);
    }
}
