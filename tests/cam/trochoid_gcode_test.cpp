// A trochoidal pocket written through a shipped post and read back by
// rs274: the program must be accepted, make as many feed moves as the
// compiled toolpath, and the carve simulator, fed rs274's moves, must leave
// the island and the walls standing and cut nothing below the final depth.
#include "cam/cnc.h"
#include "cam/startcuts.h"
#include "cam/writeop.h"
#include "carvetest.h"
#include "gcodetest.h"
#include "pocketingfixture.h"
#include "rs274.h"
#include "sys/config.h"

#include <cmath>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

bool roundisland(float x, float y)
{
    return x > 0.1f && x < 0.9f && y > 0.15f && y < 0.85f && std::hypot(x - 0.62f, y - 0.5f) > 0.1f;
}

class TrochoidGcode : public PocketTest {
protected:
    fs::path dir;
    std::string program;
    float savedstep = 10.0f;
    void SetUp() override
    {
        PocketTest::SetUp();
        savedstep = cfg_getf(cfg_trochoidstep);
        cfg_setf(cfg_trochoidstep, 10.0f);
        startcut_heading = 0.0f;
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-trochgcode-" + std::to_string(getpid()));
        fs::create_directories(dir);
        program = (dir / "trochoid.ngc").string();
    }
    void TearDown() override
    {
        if (cncout.text)
            cnc_end(program.c_str());
        cam_ops[0].type = 0;
        cam_ops[0].toolpath = -1;
        cfg_setf(cfg_trochoidstep, savedstep);
        PocketTest::TearDown();
        fs::remove_all(dir);
    }
    // One run of the generator of type through the millimetre post.
    void checkpocket(int type, bool walls);
};

} // namespace

TEST_F(TrochoidGcode, PocketReadByRs274LeavesTheIsland)
{
    for (int type : {15, 14}) {
        SCOPED_TRACE("type " + std::to_string(type));
        TearDown();
        SetUp();
        checkpocket(type, true);
    }
}

// The 2.5D generator on a relief (a sloped dome and pockets at two depths)
// carved from its compiled moves: nothing is cut below the relief, and the
// pockets are cut.
// At 0.9 the dome's top joins the wall once the slice is opened by the
// stepover: the outline runs round a narrow neck that the loops must not
// cross.
TEST_F(TrochoidGcode, ReliefIsNeverGouged)
{
    const int n = 64;
    const float size[3] = {1, 1, 1}, frac[3] = {0, 0, 0};
    carve_canvas canvas = carve_makecanvas(n, n, size, frac, [](double u, double v) {
        double h = 1.0;
        if (u > 0.08 && u < 0.92 && v > 0.1 && v < 0.9)
            h = 0.8; // the wide pocket
        if (u > 0.6 && u < 0.85 && v > 0.3 && v < 0.7)
            h = 0.62; // a deeper one inside it
        const double d = std::hypot(u - 0.3, v - 0.5);
        if (d < 0.15)
            h = std::max(h, 1.0 - 1.2 * d); // a dome standing in the wide pocket
        return h;
    });
    setcanvas(canvas.field, n, n, size, frac);
    op.type = 14;
    op.z_max = 0.38f; // the last level on the deeper floor
    op.z_doc = 0.1f;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0) << "the job failed";
    carve_grid carved = canvas.grid(canvas.top());
    carve_run(carved, carve_toolof(1, 1.0), carve_frommoves(op.toolpath));
    const carve_grid target = canvas.world();
    // The relief is judged once per pixel, walls included: a cut may meet a
    // pixel by up to the relief's change across one pixel about it (the
    // slope of the dome, a wall's full step where the outline traced between
    // pixels puts the cutter's edge), never below its lowest neighbour.
    int gouged = 0, deep = 0, deepcut = 0;
    double worst = 0.0;
    int worsti = -1, worstj = -1;
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++) {
            double lowest = target.at(i, j);
            for (int y = std::max(0, j - 1); y <= std::min(n - 1, j + 1); y++)
                for (int x = std::max(0, i - 1); x <= std::min(n - 1, i + 1); x++)
                    lowest = std::min(lowest, target.at(x, y));
            const double below = lowest - carved.at(i, j);
            gouged += below > 1e-4;
            if (below > worst)
                worst = below, worsti = i, worstj = j;
            if (std::fabs(target.at(i, j) - 0.62) < 1e-6) {
                deep++;
                deepcut += carved.at(i, j) < 0.62 + 1e-3;
            }
        }
    EXPECT_EQ(gouged, 0) << "deepest gouge " << worst << " at pixel " << worsti << "," << worstj;
    EXPECT_GE(deepcut, deep / 2) << "the deeper pocket was not reached";
}

void TrochoidGcode::checkpocket(int type, bool walls)
{
    const int n = 64;
    formulacanvas(n, roundisland);
    op.type = type;
    op.entry = 2;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0) << "the job failed";
    gcodetest_publish(op);
    const double factor = 25.4;
    ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, "trochoid", "LinuxCNC (mm)", project.units));
    rs274_result run = rs274_run(program);
    ASSERT_EQ(run.status, 0) << run.canon;
    EXPECT_EQ(run.metric, 1);
    int feeds = 0;
    for (const rs274_move &m : run.moves)
        feeds += m.feed;
    EXPECT_GT(feeds, 100);

    const carve_canvas canvas = gcodetest_pocketcanvas(n, roundisland);
    carve_grid carved = canvas.grid(canvas.top());
    carve_run(carved, carve_toolof(1, 1.0), gcodetest_carvemoves(run, factor));
    const carve_grid target = canvas.world();
    int below = 0, bitten = 0, cut = 0, floor = 0;
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++) {
            below += carved.at(i, j) < 0.75 - 1e-3;
            // Within two pixels of a wall's edge: the outline is traced
            // between pixels and its chords may pass a pixel inside a
            // curved wall.
            bool edge = false;
            for (int y = std::max(0, j - 2); y <= std::min(n - 1, j + 2); y++)
                for (int x = std::max(0, i - 2); x <= std::min(n - 1, i + 2); x++)
                    edge |= target.at(x, y) != target.at(i, j);
            if (edge)
                continue;
            if (target.at(i, j) == 1.0)
                bitten += carved.at(i, j) < 1.0 - 1e-3;
            else {
                floor++;
                cut += carved.at(i, j) < 0.75 + 1e-3;
            }
        }
    EXPECT_EQ(below, 0) << "cut below the final depth";
    if (walls)
        EXPECT_EQ(bitten, 0) << "wall or island pixels cut";
    EXPECT_GE(cut, 0.9 * floor) << "floor left uncut";
}
