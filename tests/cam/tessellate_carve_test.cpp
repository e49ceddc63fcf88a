// Tessellated and labyrinth carving judged by the independent carve
// simulator: the compiled moves of a ball, a V and a flat cutter never cut
// below the relief, over a dome and a ridge, with ramped entries.
#include "cam/labyrinth.h"
#include "cam/tessellate.h"

#include "carvetest.h"
#include "gentest.h"

#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0

const carve_relief fixtures[] = {
    {"dome",
     [](double u, double v) {
         const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.45) * (v - 0.45);
         return 0.2 + 0.7 * std::sqrt(std::max(0.0, 0.16 - r2)) / 0.4;
     }},
    {"ridge", [](double u, double v) { return std::max(0.1, 0.9 - 3.0 * std::fabs(u - v)); }},
};

const carve_toolcase tools[] = {
    {"ball 1/8", tool_cylinder, 0.125f, 1.0f, 0.0625f},
    {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f},
    {"flat 1/8", tool_cylinder, 0.125f, 1.0f, 0.0f},
};

} // namespace

class TextureCarve : public CarveTest {
protected:
    double gouge()
    {
        carve_grid g = canvas.grid(canvas.top() + 1.0);
        carve_run(g, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
        return carve_deepest(g, canvas.world()).depth;
    }
    void setcommon()
    {
        resetop();
        op.z_max = 0.45f, op.z_doc = 0.45f, op.flags = camop_anydoc, op.entry = 1;
    }
};

TEST_F(TextureCarve, NeitherOperationGougesTheRelief)
{
    int n = 0;
    for (const carve_relief &f : fixtures) {
        usecanvas(carve_makecanvas(64, 64, canvas_size, canvas_frac, f.height));
        const double tol = carve_pixelchange(canvas.world()) + 1e-4;
        for (const carve_toolcase &t : tools) {
            carve_settool(t);
            // Hexagons with a gap, two rings a shape, linked rings on every other pairing.
            setcommon();
            op.type = 13, op.dir = 2;
            const uint32_t a0 = tess_hexagons | 2u << 16, a1 = 3u | 2u << 16;
            memcpy(&op.aux[0], &a0, 4);
            memcpy(&op.aux[1], &a1, 4);
            op.aux[2] = 0.05f;
            if (n % 2)
                op.flags |= camop_linkcuts;
            ASSERT_TRUE(rungenerator(cam_tessellate)) << f.name << " " << t.name;
            ASSERT_GE(op.toolpath, 0) << f.name << " " << t.name;
            ASSERT_GT(toolpaths[op.toolpath].num_moves, 50u) << f.name << " " << t.name;
            EXPECT_LE(gouge(), tol) << "tessellation, " << f.name << ", " << t.name;
            toolpath_free(op.toolpath);

            // A maze of 0.1 cells in two passes, in order or nearest-next.
            setcommon();
            op.type = 4, op.step = 0.1f, op.z_doc = 0.25f, op.aux[1] = 2.0f;
            if (n % 2)
                op.flags |= camop_sortpaths | camop_linkcuts;
            ASSERT_TRUE(rungenerator(camop_labyrinthjob)) << f.name << " " << t.name;
            ASSERT_GE(op.toolpath, 0) << f.name << " " << t.name;
            ASSERT_GT(toolpaths[op.toolpath].num_moves, 50u) << f.name << " " << t.name;
            EXPECT_LE(gouge(), tol) << "labyrinth, " << f.name << ", " << t.name;
            toolpath_free(op.toolpath);
            n++;
        }
        EXPECT_TRUE(notices().empty()) << f.name;
    }
}
