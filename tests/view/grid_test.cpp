// The grid pass: one rebuild of the tile after a step or units change, in
// any frame; tiles of the units' size that cover the view around the
// camera's centre, also left of the origin; the fog by camera pitch and
// projection; the lift to the layer being edited; and the drawing into the
// view buffer, only in re-rendered frames with the grid shown.
#include "viewfixture.h"

#include "cam/simmodels.h"
#include "project/editor.h"
#include "view/grid.h"

#include <algorithm>
#include <cmath>

namespace {

int grid_rebuilds = 0;
constexpr int fakegrid = 7; // a grid model slot as regengridmodel would leave it

class GridPass : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        view_gridrebuild = [] { grid_rebuilds++; };
        sim_gridmodel = fakegrid;
        project.units = 1;
        memset(view_setup.origin, 0, sizeof(view_setup.origin));
        view_setup.viewscale = view_camera.distance;
        cfg_seti(cfg_perspective, 0);
        project_selectedlayer = -1;
        project_pathslayeredit = -1;
        project_rastertool = -1;
        pass(); // whatever an earlier test left remembered
    }
    void TearDown() override
    {
        sim_gridmodel = -1;
        project_pathslayeredit = -1;
        ViewProject::TearDown();
    }
    static void pass()
    {
        vrec.clear();
        grid_rebuilds = 0;
        view_grid();
    }
    // The x (or y) places of the drawn tiles.
    static std::vector<double> places(int axis)
    {
        std::vector<double> out;
        for (const vrec_drawnmodel &d : vrec.modeldrawrecs)
            if (d.slot == fakegrid)
                out.push_back(d.modelview[12 + axis]);
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }
};

TEST_F(GridPass, OneRebuildAfterAStepOrUnitsChange)
{
    struct Case {
        const char *what;
        void (*change)();
        int rebuilt;
    };
    const Case cases[] = {
        {"nothing changed", [] {}, 0},
        {"finer step", [] { cfg_setf(cfg_gridsubdiv, 0.125f); }, 1},
        {"metric units", [] { project.scale = 1.0f / 25.4f; }, 1},
        {"a frame that only copies the view", [] { view_rebuilt = 0; cfg_setf(cfg_gridsubdiv, 1.0f); }, 1},
    };
    for (const Case &c : cases) {
        c.change();
        pass();
        EXPECT_EQ(grid_rebuilds, c.rebuilt) << c.what;
        pass();
        EXPECT_EQ(grid_rebuilds, 0) << c.what << ": the next frame";
    }
}

// The tiles sit the tile size apart and, whatever the camera's centre,
// cover the half-width of the view on both sides of it.
TEST_F(GridPass, TilesOfTheUnitsCoverTheView)
{
    struct Case {
        const char *what;
        uint32_t units;
        float scale, distance, centre[2];
        double tile;
    };
    const Case cases[] = {
        {"inches", 1, 1.0f, 10.0f, {0.0f, 0.0f}, 12.0},
        {"inches, centre left of and below the origin", 1, 1.0f, 10.0f, {-31.0f, -5.0f}, 12.0},
        {"metric", 2, 1.0f / 25.4f, 10.0f, {2.0f, 1.0f}, 100.0},
        {"metric, centre far to the left", 2, 1.0f / 25.4f, 4.0f, {-40.0f, 3.0f}, 100.0},
    };
    for (const Case &c : cases) {
        project.units = c.units;
        project.scale = c.scale;
        view_camera.distance = c.distance;
        view_camera.centre[0] = c.centre[0];
        view_camera.centre[1] = c.centre[1];
        pass();
        for (int axis = 0; axis < 2; axis++) {
            std::vector<double> at = places(axis);
            ASSERT_GE(at.size(), 2u) << c.what;
            for (size_t i = 1; i < at.size(); i++)
                EXPECT_NEAR(at[i] - at[i - 1], c.tile, 1e-6) << c.what;
            // The view reaches distance d either side of the centre (in
            // inches; the recorder draws in project units).
            double centre = c.centre[axis] / c.scale, reach = c.distance / c.scale;
            EXPECT_LE(at.front(), centre - reach) << c.what << " axis " << axis;
            EXPECT_GE(at.back() + c.tile, centre + reach) << c.what << " axis " << axis;
        }
    }
}

TEST_F(GridPass, FogByPitchAndProjection)
{
    struct Case {
        const char *what;
        int perspective;
        float pitch, distance, density;
    };
    const Case cases[] = {
        {"perspective, straight down", 1, 0.0f, 8.0f, 0.2f / 8.0f},
        {"perspective, level", 1, 90.0f, 8.0f, 0.45f / 8.0f},
        {"orthographic, straight down", 0, 0.0f, 8.0f, 0.01f},
        {"orthographic, level", 0, 90.0f, 8.0f, 0.02f},
        {"orthographic, 30 degrees", 0, 30.0f, 50.0f, 0.015f},
    };
    for (const Case &c : cases) {
        cfg_seti(cfg_perspective, c.perspective);
        view_camera.rotation[0] = c.pitch;
        view_camera.distance = c.distance;
        pass();
        ASSERT_FALSE(vrec.modeldrawrecs.empty()) << c.what;
        const vrec_state &s = vrec.modeldrawrecs[0].state;
        EXPECT_NEAR(s.fogdensity, c.density, 1e-6f) << c.what;
        EXPECT_EQ(s.caps[vcap_fog], 1) << c.what;
        EXPECT_EQ(s.fogcolour[3], 0.0f) << c.what;
        EXPECT_EQ(vrec.state.caps[vcap_fog], 0) << c.what << ": fog is the grid's only";
    }
}

TEST_F(GridPass, LiftedToTheLayerBeingEdited)
{
    project.layers[2].pos[2] = 0.3f;
    project.size[2] = 0.5f;
    view_setup.origin[2] = -0.25f; // the origin half-way up the block
    struct Case {
        const char *what;
        int32_t selected, pathsedit, rastertool;
        double z;
    };
    const Case cases[] = {
        {"no editing: at the origin's height", 2, -1, -1, 0.25},
        {"path editing", 2, 2, -1, 0.3},
        {"a raster tool", 2, -1, 4, 0.3},
        {"a raster tool without a selected layer", -1, -1, 4, 0.25},
        {"the layer tool, no raster editing", 2, -1, 1, 0.25},
    };
    for (const Case &c : cases) {
        project_selectedlayer = c.selected;
        project_pathslayeredit = c.pathsedit;
        project_rastertool = c.rastertool;
        pass();
        ASSERT_FALSE(vrec.modeldrawrecs.empty()) << c.what;
        for (const vrec_drawnmodel &d : vrec.modeldrawrecs)
            EXPECT_NEAR(d.modelview[14], c.z, 1e-6) << c.what;
    }
}

// The grid goes into the view buffer, added to what is there, without
// depth test, in the configured width; the matrix is left as found.
TEST_F(GridPass, DrawnIntoTheViewBufferInReRenderedFramesWhenShown)
{
    cfg_setf(cfg_gridthickness, 3.0f);
    pass();
    ASSERT_FALSE(vrec.modeldrawrecs.empty());
    for (const vrec_drawnmodel &d : vrec.modeldrawrecs) {
        EXPECT_EQ(d.state.viewbound, 1);
        EXPECT_EQ(d.state.caps[vcap_depthtest], 0);
        EXPECT_EQ(d.state.caps[vcap_blend], 1);
        EXPECT_EQ(d.state.blendsrc, vgl_srcalpha);
        EXPECT_EQ(d.state.blenddst, vgl_one);
        EXPECT_EQ(d.state.linewidth, 3.0f);
    }
    EXPECT_EQ(vrec.state.viewbound, 0);
    EXPECT_EQ(vrec.stack.size(), 1u);

    cfg_seti(cfg_showgrid, 0);
    pass();
    EXPECT_TRUE(vrec.modeldrawrecs.empty()) << "grid hidden";
    cfg_seti(cfg_showgrid, 1);
    view_rebuilt = 0;
    pass();
    EXPECT_TRUE(vrec.modeldrawrecs.empty()) << "a frame that only copies the view";
}

TEST(GridTile, SizeByUnits)
{
    EXPECT_EQ(view_gridtile(0), 1.0f);
    EXPECT_EQ(view_gridtile(1), 12.0f);
    EXPECT_EQ(view_gridtile(2), 100.0f);
    EXPECT_EQ(view_gridtile(9), 1.0f) << "unknown units index nothing past the table";
}

} // namespace
