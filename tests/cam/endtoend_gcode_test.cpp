// The program's main road, end to end: a relief milled by Parallel, the
// compiled toolpath written as one operation repeated on a 2x2 grid through
// shipped posts, and the program read back by LinuxCNC's rs274. rs274 must
// accept it, its moves must end where the offset toolpath points do in the
// post's units, and the independent carve simulator, fed rs274's moves,
// must find no copy of the relief cut into.
#include "cam/cam.h"
#include "cam/cnc.h"
#include "cam/writeop.h"
#include "gcodetest.h"
#include "parallelfixture.h"
#include "sys/config.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

// 2 x 2 x 0.5 inch, top at z = 0, 64 px: a hill beside a diagonal ridge on
// a floor, so the cuts meet slopes in every direction and creases where
// the ball cannot reach.
const float relief_size[3] = {2, 2, 0.5f}, relief_frac[3] = {0, 0, 1};
double relief_height(double u, double v)
{
    const double hill = 0.65 * std::exp(-((u - 0.4) * (u - 0.4) + (v - 0.45) * (v - 0.45)) / 0.03);
    const double ridge = 0.5 - 2.0 * std::fabs(u + v - 1.3);
    return 0.15 + std::max({hill, ridge, 0.0});
}

// The repetitions: copies 2.5 and 2.25 inch apart (whole pixels, so every
// copy's pixels fall on one grid), clear of each other by more than the
// cutter, the whole grid lowered a little.
const int grid[2] = {2, 2};
const float spacing[2] = {2.5f, 2.25f}, offset[3] = {0.5f, 0.25f, -0.0625f};

// Where one repetition of the relief lies: column and row of the grid.
struct copyat {
    int column, row;
    double x() const { return offset[0] + column * (double)spacing[0]; }
    double y() const { return offset[1] + row * (double)spacing[1]; }
};

// The copies in the order the writer visits them: rows from the first,
// every other row walked back.
std::vector<copyat> endtoend_copies()
{
    std::vector<copyat> out;
    for (int r = 0; r < grid[1]; r++)
        for (int k = 0; k < grid[0]; k++)
            out.push_back({r % 2 ? grid[0] - 1 - k : k, r});
    return out;
}

// The moves the program should make, worked out from the compiled slot
// alone, every copy in turn.
std::vector<gcodetest_move> endtoend_expect(int slot, double factor, double step)
{
    std::vector<gcodetest_move> out;
    double at[3] = {0, 0, 0};
    for (const copyat &c : endtoend_copies()) {
        const double base[3] = {c.x(), c.y(), offset[2]};
        gcodetest_expect(out, at, slot, base, factor, step);
    }
    return out;
}

} // namespace

class EndToEnd : public GcodeTest<ParallelTest> {
protected:
    std::string program;

    // The sheet all copies are cut from: one grid over the whole 2x2 layout
    // with a margin of a few pixels, so rs274's moves are carved once, with
    // the passages between copies, and a cut meant for one copy that
    // reached into another would show.
    static constexpr int margin = 8;
    struct sheet_t {
        carve_grid carved, floor;
        int stepx, stepy; // pixels between neighbouring copies
        // Sheet column and row of the copy's pixel (i, j).
        int col(const copyat &c, int i) const { return margin + c.column * stepx + i; }
        int row(const copyat &c, int j) const { return margin + (grid[1] - 1 - c.row) * stepy + j; }
    };

    void SetUp() override
    {
        GcodeTest<ParallelTest>::SetUp();
        program = (dir / "relief.ngc").string();
    }

    // The relief (lowered by the offset) at every copy, uncut stock above,
    // nothing to keep outside the copies.
    sheet_t makesheet() const
    {
        const carve_grid relief = canvas.world();
        sheet_t s;
        s.stepx = (int)std::lround(spacing[0] / relief.px);
        s.stepy = (int)std::lround(spacing[1] / relief.py);
        carve_grid &g = s.carved;
        g.px = relief.px, g.py = relief.py;
        g.w = relief.w + (grid[0] - 1) * s.stepx + 2 * margin;
        g.h = relief.h + (grid[1] - 1) * s.stepy + 2 * margin;
        g.x0 = offset[0] + relief.x0 - margin * g.px;
        g.y0 = offset[1] + relief.y0 + (grid[1] - 1) * (double)spacing[1] + margin * g.py;
        g.z.assign((size_t)g.w * g.h, canvas.top() + offset[2] + 1.0);
        s.floor = g;
        s.floor.z.assign(g.z.size(), -1e9);
        for (const copyat &c : endtoend_copies())
            for (int j = 0; j < relief.h; j++)
                for (int i = 0; i < relief.w; i++)
                    s.floor.at(s.col(c, i), s.row(c, j)) = relief.at(i, j) + offset[2];
        return s;
    }
};

TEST_F(EndToEnd, ReliefMilledByParallelIsWrittenReadByRs274AndCarvedWithoutGouge)
{
    // A 1/8 ball in two levels, pocket emission with linked cuts, ramped
    // entries, alternating directions; nothing thinned.
    usecanvas(carve_makecanvas(64, 64, relief_size, relief_frac, relief_height));
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
    op.step = 0.06f, op.z_min = 0.0f, op.z_max = 0.45f, op.z_doc = 0.25f;
    op.flags = camop_sortpaths | camop_linkcuts, op.entry = 1, op.dir = 2;
    ASSERT_TRUE(runparallel());
    gcodetest_publish(op);

    const carve_tool ball = carve_toolof(1, op.z_max);
    // The relief's own change across a pixel plus 1e-4, as for every
    // generator; each post adds its rounding below.
    const double tol = carve_pixelchange(canvas.world()) + 1e-4;

    struct Case {
        const char *post;
        double factor; // inch project to post units
        int metric;
    };
    const Case cases[] = {
        {"GRBL (Inches)", 1.0, 0},
        {"LinuxCNC (mm)", 25.4, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.post);
        ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, "relief", c.post, project.units, offset, grid, spacing));
        const double step = gcodetest_resolution();

        // rs274 reads the program ...
        rs274_result run = rs274_run(program);
        ASSERT_EQ(run.status, 0) << run.canon;
        EXPECT_EQ(run.metric, c.metric);

        // ... and goes where the offset toolpath points do.
        const std::vector<gcodetest_move> want = endtoend_expect(op.toolpath, c.factor, step);
        ASSERT_NO_FATAL_FAILURE(gcodetest_expectsame(gcodetest_made(run.moves, step), want, step));

        // The simulator carves rs274's moves, back in inches, into one sheet
        // under all four copies. Its first move leaves an unknown place: it
        // only places the cutter.
        std::vector<carve_point> moves;
        for (const rs274_move &m : run.moves) {
            const carve_point::kind_t kind = moves.empty() ? carve_point::start
                                             : m.feed      ? carve_point::feed
                                                           : carve_point::rapid;
            moves.push_back({kind, m.end[0] / c.factor, m.end[1] / c.factor, m.end[2] / c.factor});
        }
        sheet_t sheet = makesheet();
        carve_run(sheet.carved, ball, moves);
        const carve_gouge g = carve_deepest(sheet.carved, sheet.floor);
        const double rounding = step / c.factor / 2; // half a resolution step, in inches
        EXPECT_LE(g.depth, tol + rounding) << "at sheet pixel " << g.i << "," << g.j;

        // Every copy is milled all over to its final level: away from the
        // canvas edges (where the lines end) nothing is left more than 0.05
        // above the relief, room for the ball's scallops (0.022 at this
        // stepover) and its creases; the first level alone would leave 0.175
        // on the floor.
        const int inner = (int)std::ceil(0.15 / sheet.carved.px);
        for (const copyat &cp : endtoend_copies()) {
            double left = 0;
            for (int j = inner; j < canvas.h - inner; j++)
                for (int i = inner; i < canvas.w - inner; i++) {
                    const int si = sheet.col(cp, i), sj = sheet.row(cp, j);
                    left = std::max(left, sheet.carved.at(si, sj) - sheet.floor.at(si, sj));
                }
            EXPECT_LE(left, 0.05) << "copy at column " << cp.column << ", row " << cp.row;
        }
    }
}
