// 2.5D offset milling and horizontal finishing judged by the independent
// carve simulator: the compiled moves of every cutter type, in both modes,
// with and without leave stock, never cut below the relief (plus stock),
// and every ring lies at its level's height.
#include "cam/horizontal.h"

#include "cam/compile.h"
#include "carvetest.h"
#include "gentest.h"

#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
const int side = 40;

const carve_relief fixtures[] = {
    // A dome: every level's outline is an island round it.
    {"dome",
     [](double u, double v) {
         const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.45) * (v - 0.45);
         return 0.1 + 0.85 * std::sqrt(std::max(0.0, 0.16 - r2)) / 0.4;
     }},
    // A bowl with a round boss standing in it: a pocket with an island.
    {"bowl with a boss",
     [](double u, double v) {
         const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5);
         const double boss = 0.95 - 20.0 * std::max(0.0, std::sqrt(r2) - 0.06);
         return std::max(std::min(1.0, 0.15 + 6.0 * std::max(0.0, r2 - 0.04)), boss);
     }},
};

const carve_toolcase tools[] = {
    {"flat 1/8", tool_cylinder, 0.125f, 1.0f, 0.0f},
    {"ball 1/8", tool_cylinder, 0.125f, 1.0f, 0.0625f},
    {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f},
    {"tapered ball r1/64 5deg", tool_taperball, 0.015625f, 1.0f, 5.0f},
};

using HorizontalCarve = CarveTest;

} // namespace

TEST_F(HorizontalCarve, NoCutterGougesTheReliefAndRingsLieAtTheirLevel)
{
    // Two levels, 0.2 and 0.4 below the top. Each cutter meets both modes
    // and both stocks, and each fixture every cutter in one of the modes.
    const float levels[2] = {-0.2f, -0.4f};
    for (int ti = 0; ti < 4; ti++)
        for (int mode = 0; mode < 2; mode++) {
            const carve_toolcase &t = tools[ti];
            const carve_relief &f = fixtures[(ti + mode) % 2];
            const float stock = (ti + mode) % 2 ? 0.02f : 0.0f;
            SCOPED_TRACE(std::string(f.name) + ", " + t.name + (mode ? ", finishing" : ", offsets") + ", stock " +
                         std::to_string(stock));
            usecanvas(carve_makecanvas(side, side, canvas_size, canvas_frac, f.height));
            carve_settool(t);
            resetop();
            op.type = 7, op.step = mode ? 0.0f : 0.06f, op.z_max = 0.4f, op.z_doc = 0.2f, op.stock = stock;
            op.flags = camop_linkcuts | camop_anydoc, op.entry = 1, op.dir = 2;
            ASSERT_TRUE(rungenerator());
            ASSERT_GE(op.toolpath, 0);
            const toolpath &tp = toolpaths[op.toolpath];
            ASSERT_NE(tp.moves, nullptr);
            int rings = 0;
            for (uint32_t p = 0; p < tp.num_paths; p++) {
                if (!(tp.paths[p].flags & PATH_CLOSED))
                    continue; // entry cuts descend to the ring
                const float z = tp.verts[tp.paths[p].first * 3 + 2];
                EXPECT_TRUE(std::fabs(z - levels[0]) < 1e-5f || std::fabs(z - levels[1]) < 1e-5f) << z;
                for (uint32_t v = 1; v < tp.paths[p].count; v++)
                    ASSERT_NEAR(tp.verts[(tp.paths[p].first + v) * 3 + 2], z, 1e-5f) << "path " << p;
                rings++;
            }
            EXPECT_GE(rings, 2);
            carve_grid carved = canvas.grid(canvas.top() + 1.0);
            carve_run(carved, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
            carve_grid floor = canvas.world();
            for (double &z : floor.z)
                z += stock;
            const carve_gouge g = carve_deepest(carved, floor);
            EXPECT_LE(g.depth, carve_pixelchange(canvas.world()) + 1e-4) << "at pixel " << g.i << "," << g.j;
            toolpath_free(op.toolpath);
        }
}
