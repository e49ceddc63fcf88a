// The simulation jobs: the depth-map size and its clamps, the four step
// images, dirty rectangles from touched cells, full builds and updates
// played in stretches against one rasterisation of the summed length, and
// the bounded waits for step images that never come.
#include "cam/simulate.h"

#include "cam/compile.h"
#include "img/blend.h"
#include "cam/simraster.h"
#include "simtest.h"
#include "sys/config.h"
#include "sys/main.h"

#include <cmath>
#include <random>
#include <thread>

namespace {
// Cut paths over a 5 x 3 x 1 canvas: a ramp into a linked line, a reverse
// slope, a closed square and a helix-like spiral that dives as it turns.
std::vector<sim_poly> mixedpaths()
{
    std::vector<sim_poly> p;
    p.push_back({{{0.3f, 0.3f, 1.0f}, {1.3f, 0.4f, 0.8f}}, 1, 0});
    p.push_back({{{1.3f, 0.4f, 0.8f}, {4.6f, 0.5f, 0.8f}, {4.6f, 1.0f, 0.75f}}, 1, PATH_LINK});
    p.push_back({{{0.4f, 2.6f, 0.7f}, {2.0f, 1.2f, 0.9f}, {4.0f, 2.5f, 0.85f}}, -1, PATH_LINK});
    p.push_back({{{3.0f, 1.5f, 0.6f}, {3.5f, 1.5f, 0.6f}, {3.5f, 2.0f, 0.6f}, {3.0f, 2.0f, 0.6f}, {3.0f, 1.5f, 0.6f}},
                 1, PATH_CLOSED});
    sim_poly spiral;
    for (int k = 0; k <= 48; k++) {
        const double a = k * M_PI / 8, r = 0.4 - 0.005 * k;
        spiral.v.push_back({(float)(1.5 + r * std::cos(a)), (float)(1.8 + r * std::sin(a)), (float)(0.95 - 0.005 * k)});
    }
    p.push_back(spiral);
    return p;
}

double pathslength(const std::vector<sim_poly> &polys)
{
    double sum = 0;
    for (const sim_poly &p : polys)
        for (size_t k = 1; k < p.v.size(); k++)
            sum += std::sqrt(std::pow(p.v[k][0] - p.v[k - 1][0], 2.0) + std::pow(p.v[k][1] - p.v[k - 1][1], 2.0) +
                             std::pow(p.v[k][2] - p.v[k - 1][2], 2.0));
    return sum;
}

float maxdiff(const image *a, const image *b)
{
    float worst = 0;
    const float *pa = (const float *)a->pixels, *pb = (const float *)b->pixels;
    for (size_t i = 0; i < (size_t)a->width * a->height; i++)
        worst = std::max(worst, std::fabs(pa[i] - pb[i]));
    return worst;
}
} // namespace

class Simulate : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        const float size[3] = {5, 3, 1}, frac[3] = {0, 0, 0};
        usebox(size, frac, 100, 60);
        cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
        project.ops[0].camop = 0;
        project.ops[0].include = 1;
        snprintf(project.ops[0].name, sizeof(project.ops[0].name), "mixed");
    }
    // One rasterisation of the first length of the slot, from the start.
    static image *whole(double length)
    {
        float size[3], origin[3];
        sim_canvasbox(size, origin);
        int path = 0, move = 0;
        double fraction = 0.0;
        return cam_rasteroplength(0, &path, &move, &fraction, &length, size, origin, nullptr, nullptr, 0, nullptr);
    }
    static void startplayback()
    {
        sim_state.op = 0, sim_state.fraction = 1.0, sim_state.playback = 1;
        sim_state.path = 0, sim_state.move = 0, sim_state.position = 0.0;
    }
    static void makesteps()
    {
        sim_jobcount = 1;
        project.ops[0].simbusy = 1;
        job_projgenopsimimage(&project.ops[0]);
    }
};

TEST_F(Simulate, DepthmapSizeFollowsTheBudgetAndClamps)
{
    const int saved = cfg_geti(cfg_value348);
    struct Case {
        int n;
        float aspect;
        int w, h; // 0: clamped, only checked against the bounds
    };
    const Case cases[] = {
        {1024, 2.0f, 724, 1448}, {1024, 1.0f, 1024, 1024}, {1024, 0.5f, 1448, 724}, {0, 1.0f, 0, 0},
        {1024, 0.0f, 0, 0},     {100000, 1.0f, 0, 0},    {1024, 1e9f, 0, 0},      {1024, NAN, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " at aspect " << c.aspect);
        cfg_seti(cfg_value348, c.n);
        project.aspect = c.aspect;
        sim_depthmapsize();
        if (c.w) {
            EXPECT_EQ(sim_width, c.w);
            EXPECT_EQ(sim_height, c.h);
        }
        EXPECT_GE(sim_width, 1);
        EXPECT_GE(sim_height, 1);
        EXPECT_LE((int64_t)sim_width * sim_height, sim_maxpixels);
    }
    cfg_seti(cfg_value348, saved);
}

TEST_F(Simulate, StepImagesCoverEachQuarter)
{
    const std::vector<sim_poly> polys = mixedpaths();
    const int slot = makeslot(polys);
    useslot(slot);
    ASSERT_EQ(toolpath_compile(slot, 1.2f), 1);
    const double feeds = toolpaths[slot].feeds;
    ASSERT_GT(feeds, 0.0);
    makesteps();
    const projop &e = project.ops[0];
    EXPECT_EQ(e.simbusy.load(), 0);
    EXPECT_EQ(sim_jobcount.load(), 0);
    ASSERT_EQ(e.simulation, e.steps[3].img);
    for (int k = 0; k < 4; k++) {
        SCOPED_TRACE(k + 1);
        ASSERT_NE(e.steps[k].img, nullptr);
        EXPECT_NEAR(e.steps[k].length, (k + 1) * feeds / 4, 1e-9);
        if (k < 3) {
            image *ref = whole(std::min((k + 1) * feeds / 4, pathslength(polys)));
            ASSERT_NE(ref, nullptr);
            EXPECT_LE(maxdiff(e.steps[k].img, ref), 1e-6f);
            img_free(ref);
        }
    }
    EXPECT_EQ(e.steps[3].path, -1);
    image *ref = whole(1e9);
    EXPECT_LE(maxdiff(e.steps[3].img, ref), 1e-6f);
    img_free(ref);
}

TEST_F(Simulate, AnEmptyToolpathGetsFourBlankSteps)
{
    useslot(makeslot({}));
    makesteps();
    const projop &e = project.ops[0];
    for (const projsimstep &s : e.steps) {
        ASSERT_NE(s.img, nullptr);
        EXPECT_STREQ(s.img->name, "blksim");
        EXPECT_EQ(s.img->width, sim_width);
        EXPECT_EQ(s.img->height, sim_height);
        const float *px = (const float *)s.img->pixels;
        EXPECT_TRUE(std::all_of(px, px + (size_t)sim_width * sim_height, [](float v) { return v == 0.0f; }));
    }
}

TEST_F(Simulate, TouchedCellsBecomeMergedRectangles)
{
    struct Case {
        const char *name;
        std::vector<std::array<int, 2>> cells; // column, row
        std::vector<std::array<int, 4>> rects;
    };
    const Case cases[] = {
        {"nothing touched", {}, {}},
        {"three rows of one column", {{5, 2}, {5, 3}, {5, 4}}, {{5, 2, 5, 4}}},
        {"two runs in a row", {{1, 0}, {2, 0}, {5, 0}}, {{1, 0, 2, 0}, {5, 0, 5, 0}}},
        {"an L shape", {{3, 0}, {3, 1}, {3, 2}, {4, 2}, {5, 2}, {6, 2}}, {{3, 0, 3, 1}, {3, 2, 6, 2}}},
        {"equal runs two rows apart", {{2, 0}, {2, 2}}, {{2, 0, 2, 0}, {2, 2, 2, 2}}},
        {"two columns side by side", {{1, 7}, {1, 8}, {3, 7}, {3, 8}}, {{1, 7, 1, 8}, {3, 7, 3, 8}}},
        {"the whole grid", {}, {{0, 0, 15, 15}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int32_t cells[sim_cells * sim_cells] = {};
        for (const auto &p : c.cells)
            cells[p[1] * sim_cells + p[0]] = 1;
        if (c.rects.size() == 1 && c.cells.empty())
            std::fill(cells, cells + sim_cells * sim_cells, 2);
        int32_t rects[sim_maxrects][4];
        const int n = sim_dirtyrects(cells, sim_cells, rects);
        ASSERT_EQ(n, (int)c.rects.size());
        for (int k = 0; k < n; k++)
            EXPECT_EQ((std::array<int, 4>{rects[k][0], rects[k][1], rects[k][2], rects[k][3]}), c.rects[k]) << k;
    }
}

// Played in stretches through the update path, the map equals one
// rasterisation of the summed length; the map is 100 x 60, so cells do not
// fall on whole pixels.
TEST_F(Simulate, StretchesAddUpToOneRasterisation)
{
    const std::vector<sim_poly> polys = mixedpaths();
    useslot(makeslot(polys));
    const double total = pathslength(polys);
    std::mt19937 rng(34);
    std::vector<std::vector<double>> plays;
    for (int k : {1, 3, 7})
        plays.push_back(std::vector<double>(k, 0.9 * total / k));
    std::uniform_real_distribution<double> any(0.001, 0.2 * total);
    std::vector<double> random;
    for (double sum = 0; sum < 0.95 * total; sum += random.back())
        random.push_back(any(rng));
    plays.push_back(random);
    for (const std::vector<double> &play : plays) {
        SCOPED_TRACE(testing::Message() << play.size() << " stretches");
        img_free(project_canvas.simulation);
        project_canvas.simulation = img_alloc("sim_image", sim_width, sim_height, 4);
        startplayback();
        double sum = 0;
        for (double len : play) {
            sim_state.remaining = len;
            sim_state.busy = 1;
            project_gensimulation(nullptr);
            EXPECT_EQ(sim_state.busy.load(), 0);
            EXPECT_EQ(cam_simgenerating.load(), 0u);
            sum += len;
        }
        image *ref = whole(sum);
        ASSERT_NE(ref, nullptr);
        EXPECT_LE(maxdiff(project_canvas.simulation, ref), 1e-6f);
        img_free(ref);
    }
}

TEST_F(Simulate, TinyRemainderAddsNothing)
{
    useslot(makeslot(mixedpaths()));
    project_canvas.simulation = img_alloc("sim_image", sim_width, sim_height, 4);
    startplayback();
    for (double len : {0.0001, 0.00005, 0.0}) {
        sim_state.remaining = len;
        project_gensimulation(nullptr);
        EXPECT_EQ(sim_state.numrects, 0);
        EXPECT_EQ(sim_state.path, 0);
        EXPECT_EQ(sim_state.position, 0.0);
    }
    const float *px = (const float *)project_canvas.simulation->pixels;
    EXPECT_TRUE(std::all_of(px, px + (size_t)sim_width * sim_height, [](float v) { return v == 0.0f; }));
}

// A full build takes the earlier operations whole (those included), jumps
// by the last step the playback covers and rasterises the rest.
TEST_F(Simulate, FullBuildUsesStepsAndIncludedOperations)
{
    const std::vector<sim_poly> polys = mixedpaths();
    const int slot = makeslot(polys);
    useslot(slot);
    ASSERT_EQ(toolpath_compile(slot, 1.2f), 1);
    makesteps();
    const double feeds = toolpaths[slot].feeds;
    struct Case {
        const char *name;
        int include0;
        double fraction, remaining;
        double expect; // length of the one rasterisation it must equal, -1: all blank
    };
    const Case cases[] = {
        {"playback past step 2", 1, 1.0, 0.6 * feeds, 0.6 * feeds},
        {"playback inside step 1", 1, 1.0, 0.1 * feeds, 0.1 * feeds},
        {"no playback", 1, 1.0, 0.0, -1},
        {"a tiny remainder", 1, 1.0, 0.0001, -1},
        {"through the selected operation", 1, -1.0, 0.0, 1e9},
        {"excluded operation played whole", 0, -1.0, 0.0, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        img_free(project_canvas.simulation);
        project_canvas.simulation = nullptr;
        project.ops[0].include = c.include0;
        startplayback();
        sim_state.fraction = c.fraction, sim_state.remaining = c.remaining;
        project_gensimulation(nullptr);
        ASSERT_NE(project_canvas.simulation, nullptr);
        EXPECT_EQ(sim_state.numrects, 1);
        image *ref = c.expect < 0 ? img_alloc("blank", sim_width, sim_height, 4) : whole(c.expect);
        ASSERT_NE(ref, nullptr);
        EXPECT_LE(maxdiff(project_canvas.simulation, ref), 1e-6f);
        img_free(ref);
    }
}

// Step images that never come: the build gives up after the wait limit
// with the error, and at once when the program quits.
TEST_F(Simulate, WaitForStepImagesIsBounded)
{
    testlog_capture log;
    sim_waitlimit = 0.3, sim_waitpoll = 0.05;
    project.ops[0].simbusy = 1;
    project.ops[1].camop = 1;
    sim_state.op = 1, sim_state.fraction = 1.0, sim_state.playback = 0;
    for (int quit : {0, 1}) {
        SCOPED_TRACE(quit ? "quit" : "limit");
        sys_quit = quit;
        img_free(project_canvas.simulation);
        project_canvas.simulation = nullptr;
        sim_state.busy = 1;
        std::thread job(project_gensimulation, nullptr);
        const double t0 = sys_seconds();
        while (sim_state.busy.load() && sys_seconds() - t0 < 10.0)
            SDL_Delay(5);
        const bool ended = sim_state.busy.load() == 0;
        ended ? job.join() : job.detach();
        ASSERT_TRUE(ended);
        EXPECT_TRUE(log.contains("...op0 had no simulation image, skipping..."));
        EXPECT_EQ(log.count("cut depthmap for operation \"mixed\" failed to generate"), 1);
    }
    sys_quit = 0;
    project.ops[0].simbusy = 0;
    sim_waitlimit = 30.0, sim_waitpoll = 0.5;
}

// Step-image jobs of three operations run beside the depth-map job that
// waits for them; the map is the deepest of the three whole operations.
TEST_F(Simulate, StepJobsAndTheDepthMapJobRunTogether)
{
    const std::vector<sim_poly> polys = mixedpaths();
    std::vector<image *> whole3;
    int slots[3];
    for (int k = 0; k < 3; k++) {
        std::vector<sim_poly> shifted = polys;
        for (sim_poly &p : shifted)
            for (auto &v : p.v)
                v[0] = std::min(4.9f, v[0] + 0.2f * k), v[2] -= 0.05f * k;
        const int slot = slots[k] = makeslot(shifted);
        ASSERT_EQ(toolpath_compile(slot, 1.2f), 1);
        useslot(slot);
        whole3.push_back(whole(1e9));
        project.ops[k].camop = k, project.ops[k].include = 1;
        project.ops[k].simbusy = 1;
    }
    for (int k = 0; k < 3; k++)
        cam_ops[k].toolpath = slots[k], cam_ops[k].tool = 1, cam_ops[k].generating = 0;
    sim_jobcount = 3;
    sim_state.op = 3, sim_state.fraction = 1.0, sim_state.playback = 0;
    project.ops[3].camop = -1;
    sim_state.busy = 1;
    sim_waitpoll = 0.01;
    std::vector<std::thread> jobs;
    jobs.emplace_back(project_gensimulation, nullptr);
    for (int k = 0; k < 3; k++)
        jobs.emplace_back(job_projgenopsimimage, &project.ops[k]);
    const double t0 = sys_seconds();
    while ((sim_state.busy.load() || sim_jobcount.load()) && sys_seconds() - t0 < 30.0)
        SDL_Delay(5);
    const bool ended = sim_state.busy.load() == 0 && sim_jobcount.load() == 0;
    for (std::thread &t : jobs)
        ended ? t.join() : t.detach();
    sim_waitpoll = 0.5;
    ASSERT_TRUE(ended);
    ASSERT_NE(project_canvas.simulation, nullptr);
    image *want = img_alloc("deepest", sim_width, sim_height, 4);
    for (image *w : whole3) {
        img_scalarblend(want, w, img_blendmaximum, 1.0f);
        img_free(w);
    }
    EXPECT_LE(maxdiff(project_canvas.simulation, want), 1e-6f);
    img_free(want);
    for (int k = 1; k < 3; k++)
        cam_ops[k].toolpath = -1;
}
