// An offset pocket written through a shipped post and read back by
// LinuxCNC's rs274: the program must be accepted, its straight moves must
// end where the compiled toolpath points do in millimetres, and the carve
// simulator, fed rs274's moves, must leave the islands and walls standing
// and the floor no deeper than the final depth.
#include "cam/cnc.h"
#include "carvetest.h"
#include "gcodetest.h"
#include "pocketingfixture.h"

#include <cmath>

namespace {

bool boxislands(float x, float y)
{
    return x > 0.1f && x < 0.9f && y > 0.15f && y < 0.85f && std::hypot(x - 0.32f, y - 0.5f) > 0.09f &&
           std::hypot(x - 0.68f, y - 0.5f) > 0.09f;
}

using PocketingGcode = GcodeTest<PocketTest>;

} // namespace

TEST_F(PocketingGcode, RampedPocketReadByRs274LeavesTheIslands)
{
    const int n = 64;
    formulacanvas(n, boxislands);
    op.entry = 1;
    op.dir = 2;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0) << "the job failed";
    gcodetest_publish(op);

    const double factor = 25.4;
    const std::string program = (dir / "pocket.ngc").string();
    ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, "pocket", "LinuxCNC (mm)", project.units));
    const double step = gcodetest_resolution();

    rs274_result run = rs274_run(program);
    ASSERT_EQ(run.status, 0) << run.canon;
    EXPECT_EQ(run.metric, 1);
    std::vector<gcodetest_move> want;
    double at[3] = {0, 0, 0};
    const double unshifted[3] = {0, 0, 0};
    gcodetest_expect(want, at, op.toolpath, unshifted, factor, step);
    ASSERT_FALSE(want.empty());
    ASSERT_NO_FATAL_FAILURE(gcodetest_expectsame(gcodetest_made(run.moves, step), want, step));

    // rs274's moves, back in inches, carved into the canvas's stock.
    const carve_canvas canvas = gcodetest_pocketcanvas(n, boxislands);
    carve_grid carved = canvas.grid(canvas.top());
    carve_run(carved, carve_toolof(1, 1.0), gcodetest_carvemoves(run, factor));
    const carve_grid target = canvas.world();
    const double rounding = step / factor;
    int below = 0, bitten = 0, left = 0;
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++) {
            below += carved.at(i, j) < 0.75 - rounding - 1e-4;
            // Away from the walls' edge pixels, walls stay and the floor is cut.
            bool edge = false;
            for (int y = std::max(0, j - 1); y <= std::min(n - 1, j + 1); y++)
                for (int x = std::max(0, i - 1); x <= std::min(n - 1, i + 1); x++)
                    edge |= target.at(x, y) != target.at(i, j);
            if (edge)
                continue;
            if (target.at(i, j) == 1.0)
                bitten += carved.at(i, j) < 1.0 - 1e-4;
        }
    // The floor is cut, but for a pixel's edge along the walls and the
    // box's corners, which a round cutter cannot reach.
    const double r = tooldiameter / 2, e = 1.5 / n;
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++) {
            const double x = carved.cx(i), y = carved.cy(j);
            const bool corner = (x < 0.1 + r || x > 0.9 - r) && (y < 0.15 + r || y > 0.85 - r);
            const bool inside = x > 0.1 + e && x < 0.9 - e && y > 0.15 + e && y < 0.85 - e &&
                                std::hypot(x - 0.32, y - 0.5) > 0.09 + e && std::hypot(x - 0.68, y - 0.5) > 0.09 + e;
            left += inside && !corner && carved.at(i, j) > 0.75 + rounding + 1e-4;
        }
    EXPECT_EQ(below, 0) << "cut below the final depth";
    EXPECT_EQ(bitten, 0) << "wall or island pixels cut";
    EXPECT_EQ(left, 0) << "floor left uncut";
}
