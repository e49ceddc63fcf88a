// One run of 2.5D offset milling and one of horizontal finishing written
// through a shipped post and read back by LinuxCNC's rs274: the program must
// be accepted, and the carve simulator, fed rs274's moves, must carve what
// the compiled toolpath carves, without cutting into the relief.
#include "cam/cnc.h"
#include "cam/horizontal.h"
#include "carvetest.h"
#include "gcodetest.h"
#include "gentest.h"

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0

// A bowl with a round boss standing in it.
double bowlwithboss(double u, double v)
{
    const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5);
    const double boss = 0.95 - 20.0 * std::max(0.0, std::sqrt(r2) - 0.06);
    return std::max(std::min(1.0, 0.15 + 6.0 * std::max(0.0, r2 - 0.02)), boss);
}
} // namespace

class HorizontalGcode : public GcodeTest<GenTest> {
protected:
    carve_canvas canvas{};
    void SetUp() override
    {
        GcodeTest<GenTest>::SetUp();
        canvas = carve_makecanvas(40, 40, canvas_size, canvas_frac, bowlwithboss);
        setcanvas(canvas.field, canvas.w, canvas.h, canvas.size, canvas.frac);
    }
};

TEST_F(HorizontalGcode, BothModesAreAcceptedByRs274AndCarveAlike)
{
    const double mm = 25.4;
    cam_settool(1, "flat 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0f, 1.5f, 20.0f);
    for (float step : {0.06f, 0.0f}) {
        const std::string what = step > 0 ? "offsets" : "finishing";
        SCOPED_TRACE(what);
        resetop();
        op.type = 7, op.entry = 1, op.step = step, op.z_max = 0.3f, op.z_doc = 0.15f, op.flags = camop_linkcuts;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        camop &rec = gcodetest_publish(op);
        const std::string program = (dir / (what + ".ngc")).string();
        ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, what.c_str()));
        rs274_result run = rs274_run(program);
        ASSERT_EQ(run.status, 0) << run.canon;
        EXPECT_EQ(run.metric, 1);
        ASSERT_GT(run.moves.size(), 20u);

        // The replay in inches, its first move only placing the cutter.
        std::vector<carve_point> replay;
        for (const rs274_move &m : run.moves)
            replay.push_back({replay.empty() ? carve_point::start : m.feed ? carve_point::feed : carve_point::rapid,
                              m.end[0] / mm, m.end[1] / mm, m.end[2] / mm});
        const carve_tool cutter = carve_toolof(1, op.z_max);
        carve_grid fromprogram = canvas.grid(canvas.top() + 1.0), fromslot = canvas.grid(canvas.top() + 1.0);
        carve_run(fromprogram, cutter, replay);
        carve_run(fromslot, cutter, carve_frommoves(op.toolpath));
        double apart = 0;
        for (size_t k = 0; k < fromslot.z.size(); k++)
            apart = std::max(apart, std::fabs(fromprogram.z[k] - fromslot.z[k]));
        EXPECT_LE(apart, 0.001) << "the program carves what the toolpath does";
        const carve_gouge g = carve_deepest(fromprogram, canvas.world());
        EXPECT_LE(g.depth, carve_pixelchange(canvas.world()) + 0.001) << "at pixel " << g.i << "," << g.j;
        toolpath_free(op.toolpath);
        rec.type = 0, rec.toolpath = -1;
    }
}
