// Dithered stippling judged by the independent carve simulator: over tiles
// of sixteen tones the carved share of each tile falls as the tone rises
// (Spearman's rho from scipy), and each plunge of a V-bit or a tapered tool
// carves a hole of its stipple's size.
#include "cam/stipple2.h"

#include "stipplefixture.h"
#include "testchild.h"
#include "testlog.h"

#include <cmath>
#include <sstream>
#include <vector>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, top_frac[3] = {0, 0, 1}; // top at z = 0

// Tones 0 .. 15 / 16 scattered over a 4 x 4 grid of tiles.
const int tile_tone[16] = {7, 12, 2, 9, 14, 0, 11, 5, 3, 10, 15, 6, 8, 1, 13, 4};

double spearman(const std::vector<std::array<double, 2>> &pairs)
{
    std::ostringstream f;
    f.precision(9);
    for (const auto &p : pairs)
        f << p[0] << " " << p[1] << "\n";
    const std::vector<double> rho = testchild_asknumbers("cam/stipple2_spearman.py", f.str());
    return rho.empty() ? NAN : rho[0];
}
} // namespace

using Stipple2Carve = Stipple2Test;

TEST_F(Stipple2Carve, CarvedShareFallsAsTheToneRises)
{
    cam_settool(1, "V 90 1/2", tool_vbit, 1, 2, 0.5f, 0, 90, 1.5f, 20);
    usecanvas(carve_makecanvas(96, 96, canvas_size, top_frac, [](double u, double v) {
        return tile_tone[std::min(3, (int)(v * 4)) * 4 + std::min(3, (int)(u * 4))] / 16.0;
    }));
    setop(0.03f, 0.09f, 0.5f);
    testlog_capture log;
    ASSERT_TRUE(rungenerator(camop_stipple2));
    ASSERT_GE(op.toolpath, 0) << log.text();
    // A grid twice as fine as the canvas.
    carve_grid g = canvas.grid(0.0);
    g.w *= 2, g.h *= 2, g.px /= 2, g.py /= 2;
    g.z.assign((size_t)g.w * g.h, 0.0);
    carve_run(g, carve_toolof(1, 0.5), carve_frommoves(op.toolpath));
    std::vector<std::array<double, 2>> pairs;
    for (int t = 0; t < 16; t++) {
        const int tx = t % 4, ty = t / 4, side = g.w / 4;
        int cut = 0;
        for (int j = ty * side; j < (ty + 1) * side; j++)
            for (int i = tx * side; i < (tx + 1) * side; i++)
                cut += g.at(i, j) < -1e-4;
        pairs.push_back({(double)cut / (side * side), tile_tone[t] / 16.0});
    }
    const double rho = spearman(pairs);
    ASSERT_FALSE(std::isnan(rho)) << "/usr/bin/python3 tests/cam/stipple2_spearman.py failed (needs python3-scipy)";
    EXPECT_LE(rho, -0.8);
}

TEST_F(Stipple2Carve, EachHoleHasItsStipplesSize)
{
    struct ToolCase {
        const char *name;
        int type;
        float diameter, flutes, angle;
    };
    const ToolCase tools[] = {{"V 90 1/2", tool_vbit, 0.5f, 0, 90},
                              {"tapered 1/32 tip 10deg", tool_tapered, 0.03125f, 0.3f, 10}};
    usecanvas(carve_makecanvas(64, 64, canvas_size, top_frac, [](double u, double) { return u; }));
    for (const ToolCase &t : tools) {
        cam_settool(1, t.name, t.type, 1, 2, t.diameter, t.flutes, t.angle, 1.5f, 20);
        const float radius = 0.06f; // every stipple this size
        setop(2 * radius, 2 * radius, 0.5f);
        testlog_capture log;
        ASSERT_TRUE(rungenerator(camop_stipple2)) << t.name;
        ASSERT_GE(op.toolpath, 0) << t.name << log.text();
        const std::vector<carve_point> moves = carve_frommoves(op.toolpath);
        const carve_tool cutter = carve_toolof(1, 0.5);
        int holes = 0;
        for (size_t k = 1; k < moves.size() && holes < 6; k++) {
            if (moves[k].kind != carve_point::feed || moves[k].z > -1e-4)
                continue;
            // The plunge alone, on a fine grid around it.
            carve_grid g;
            g.w = g.h = 64, g.px = g.py = 0.25 / 64;
            g.x0 = moves[k].x - 0.125, g.y0 = moves[k].y + 0.125;
            g.z.assign((size_t)g.w * g.h, 0.0);
            carve_stamp(g, cutter, moves[k].x, moves[k].y, moves[k].z);
            int cut = 0;
            for (double z : g.z)
                cut += z < -1e-9;
            const double r = std::sqrt(cut * g.px * g.py / M_PI);
            EXPECT_NEAR(r, radius, 2.0 / 64) << t.name << " hole at " << moves[k].x << "," << moves[k].y;
            holes++;
        }
        EXPECT_EQ(holes, 6) << t.name;
        toolpath_free(op.toolpath);
    }
}
