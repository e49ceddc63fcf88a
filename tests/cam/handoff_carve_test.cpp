// Generators queued on the workers as the window queues them: two Parallel
// runs on two layer groups back to back, the second group's composition
// installed while the first still cuts. Each run must cut the relief of its
// own group, judged by the independent carve simulator, and the install must
// free nothing the first run reads (the address checker watches).
#include "cam/parallel.h"

#include "carvetest.h"
#include "sys/thread.h"

#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0

double handoff_dome(double u, double v)
{
    const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.45) * (v - 0.45);
    return 0.2 + 0.7 * std::sqrt(std::max(0.0, 0.16 - r2)) / 0.4;
}

double handoff_ridge(double u, double v)
{
    return std::max(0.1, 0.9 - 3.0 * std::fabs(u - v));
}
} // namespace

class HandoffCarve : public CarveTest {
protected:
    camop first{}, second{};
    static void SetUpTestSuite()
    {
        sys_threadsinit();
        sys_threadsstart(2);
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
    }
    // A Parallel operation of many thin levels, so that its run lasts.
    void parallelop(camop &o)
    {
        resetop();
        op.type = 1;
        op.step = 0.02f, op.z_max = 0.45f, op.z_doc = 0.03f, op.z_min = 0.0f;
        op.flags = camop_anydoc | camop_sortpaths | camop_linkcuts;
        o.type = op.type, o.coolant = op.coolant, o.tool = op.tool, o.engagefeed = op.engagefeed;
        o.feed = op.feed, o.speed = op.speed, o.dir = op.dir, o.entry = op.entry, o.stock = op.stock;
        o.step = op.step, o.z_doc = op.z_doc, o.z_max = op.z_max, o.z_min = op.z_min, o.z_safe = op.z_safe;
        o.flags = op.flags;
        o.cont = nullptr, o.model = -1, o.toolpath = -1;
    }
    static void install(const carve_canvas &c, int32_t group)
    {
        image *img = img_allocfloat("composed", c.w, c.h);
        ASSERT_NE(img, nullptr);
        memcpy(img->pixels, c.field.data(), c.field.size() * sizeof(float));
        img_setrefimage(img, c.size, c.frac, 1.0f, group, sys_seconds());
        img_free(img);
    }
    static bool until(const std::function<bool()> &done, double seconds)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            SDL_Delay(1);
        }
        return true;
    }
    // How deep the slot's cut reaches below relief c.
    static double gouge(int slot, const carve_canvas &c)
    {
        carve_grid g = c.grid(c.top() + 1.0);
        carve_run(g, carve_toolof(1, 0.45), carve_frommoves(slot));
        return carve_deepest(g, c.world()).depth;
    }
};

TEST_F(HandoffCarve, EachRunCutsItsOwnGroupsRelief)
{
    cam_settool(1, "flat 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0f, 1.5f, 20.0f);
    const carve_canvas dome = carve_makecanvas(96, 96, canvas_size, canvas_frac, handoff_dome);
    const carve_canvas ridge = carve_makecanvas(96, 96, canvas_size, canvas_frac, handoff_ridge);
    parallelop(first);
    parallelop(second);
    ASSERT_GE(camop_queue(&first, 1), 0);
    ASSERT_GE(camop_queue(&second, 2), 0);
    install(dome, 1);
    ASSERT_TRUE(until([&] { return first.progress.load() > 0.0f || !first.generating.load(); }, 60.0));
    EXPECT_EQ(first.generating.load(), 1u) << "the install must come while the first run cuts";
    install(ridge, 2);
    ASSERT_TRUE(until([&] { return !first.generating.load() && !second.generating.load(); }, 120.0));
    ASSERT_GE(first.toolpath, 0);
    ASSERT_GE(second.toolpath, 0);
    const double tol = std::max(carve_pixelchange(dome.world()), carve_pixelchange(ridge.world())) + 1e-4;
    EXPECT_LE(gouge(first.toolpath, dome), tol) << "the first group's run";
    EXPECT_LE(gouge(second.toolpath, ridge), tol) << "the second group's run";
    // The two reliefs differ enough that a run cutting the other's shows.
    EXPECT_GT(gouge(first.toolpath, ridge), 3 * tol);
    EXPECT_GT(gouge(second.toolpath, dome), 3 * tol);
    cont_free(first.cont);
    cont_free(second.cont);
}
