// Canvas and layer outlines: the block outline only while no button is
// held, the selected layer's box only beyond the thresholds of a real edit
// (a 359-degree turn counts as 1 degree), raster tools that hide the boxes
// but keep the screen outlines fresh, the grey paths during path editing,
// and a layer without area.
#include "viewfixture.h"

#include "render/draw.h"

#include "view/mouse.h"
#include "view/outlines.h"

namespace {

class Outlines : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        orthocamera(3.0, 6.0, 3.0);
        view_setup.viewscale = 3.0f;
    }
    static int boxes()
    {
        return (int)vrec.of(r_lines).size();
    }
    static int placed(int s, float x)
    {
        project_layer &l = project.layers[s];
        const float pos[3] = {x, 3.0f, 0.0f}, size[3] = {2.0f, 2.0f, 0.5f};
        memcpy(l.pos, pos, sizeof(pos));
        memcpy(l.size, size, sizeof(size));
        l.groups = 1;
        return s;
    }
    static void select(int s)
    {
        project_selectedlayer = gui_selectedlayer = s;
        layer_loadeditor(&project.layers[s]);
    }
    static void pass()
    {
        vrec.clear();
        view_layeroutlines();
    }
};

TEST_F(Outlines, BlockOutlineOnlyWhileNoButtonIsHeld)
{
    for (int button : {0, key_mouseleft, key_mousemiddle, key_mouseright}) {
        memset(input_keyframe, 0, sizeof(input_keyframe));
        if (button)
            input_keyframe[button] = 1;
        vrec.clear();
        view_blockoutline();
        auto loops = vrec.of(r_lineloop);
        EXPECT_EQ(loops.size(), button ? 0u : 2u) << "button " << button;
        if (!button) {
            const view_vertex &v = loops[0]->verts[0];
            EXPECT_EQ(v.b, 255);
            EXPECT_EQ(loops[0]->state.caps[vcap_blend], 1);
            EXPECT_EQ(loops[0]->state.caps[vcap_depthtest], 0);
            EXPECT_EQ(loops[0]->state.viewbound, 1);
            EXPECT_FLOAT_EQ((float)loops[1]->modelview[0], 12.0f) << "scaled by the canvas size";
        }
    }
    view_rebuilt = 0;
    vrec.clear();
    view_blockoutline();
    EXPECT_TRUE(vrec.primitives.empty()) << "only in re-rendered frames";
}

TEST_F(Outlines, SelectedLayerShowsItsOldBoxOnlyWhenReallyEdited)
{
    int other = placed(rasterlayer(0.1f), 3.0f);
    int s = placed(rasterlayer(0.2f), 8.0f);
    (void)other;
    struct Case {
        const char *name;
        float dpos, dsize, dtilt, drot;
        bool box;
    };
    const Case cases[] = {
        {"unchanged", 0, 0, 0, 0, false},
        {"moved 0.00005", 0.00005f, 0, 0, 0, false},
        {"moved 0.0002", 0.0002f, 0, 0, 0, true},
        {"sized 0.0002", 0, 0.0002f, 0, 0, true},
        {"tilted 0.05", 0, 0, 0.05f, 0, false},
        {"tilted 0.2", 0, 0, 0.2f, 0, true},
        {"turned 0.05", 0, 0, 0, 0.05f, false},
        {"turned 359 (1 degree)", 0, 0, 0, 359.0f, true},
        {"turned 359.95 (0.05 degree)", 0, 0, 0, 359.95f, false},
    };
    for (const Case &c : cases) {
        select(s);
        layer_editor.pos[0] += c.dpos;
        layer_editor.size[1] += c.dsize;
        layer_editor.tilt[0] += c.dtilt;
        layer_editor.rotation += c.drot;
        pass();
        EXPECT_EQ(boxes(), c.box ? 2 : 1) << c.name;
    }
    EXPECT_FLOAT_EQ(view_anglediff(359.0f, 0.0f), -1.0f);
}

TEST_F(Outlines, GizmoDragHidesTheOtherBoxes)
{
    placed(rasterlayer(0.1f), 3.0f);
    int s = placed(rasterlayer(0.2f), 8.0f);
    select(s);
    gizmo_layergrab = 3;
    pass();
    EXPECT_EQ(boxes(), 0);
    gizmo_layergrab = 0;
}

TEST_F(Outlines, RasterToolsDrawNoBoxesYetRefreshTheOutlines)
{
    int s = placed(rasterlayer(0.1f), 3.0f);
    int sel = placed(rasterlayer(0.1f), 8.0f);
    select(sel);
    for (int tool = 2; tool <= 8; tool++) {
        project_rastertool = tool;
        memset(view_outlines, 0, sizeof(view_outlines));
        pass();
        EXPECT_EQ(boxes(), 0) << "tool " << tool;
        EXPECT_TRUE(vrec.paths.empty()) << "tool " << tool;
        // (3 - 1) / 6 - 1 in device x for the left edge of the layer at 3.
        EXPECT_NEAR(view_outlines[s].bottom[0][0], 2.0f / 6.0f - 1.0f, 1e-5) << "tool " << tool;
        EXPECT_NEAR(view_outlines[sel].bottom[0][0], 7.0f / 6.0f - 1.0f, 1e-5) << "tool " << tool;
    }
    project_rastertool = 1;
    pass();
    EXPECT_EQ(boxes(), 1) << "the selection tool keeps them";
}

TEST_F(Outlines, PathEditingShowsOtherPathsOnlyWhenAsked)
{
    int edited = placed(pathslayer(1, 0.0f), 2.0f);
    int other = placed(pathslayer(1, 0.0f), 6.0f);
    int raster = placed(rasterlayer(0.1f), 10.0f);
    (void)raster;
    select(edited);
    layer_editor.pos[0] += 1.0f; // being moved: still never drawn while editing its paths
    project_pathslayeredit = 0;
    for (int all : {0, 1}) {
        cfg_seti(cfg_showallpaths, all);
        pass();
        EXPECT_EQ(boxes(), 0) << all;
        ASSERT_EQ(vrec.paths.size(), all ? 1u : 0u) << all;
        if (all) {
            EXPECT_EQ(vrec.paths[0].p, project.layers[other].data.pth);
            EXPECT_FLOAT_EQ(vrec.paths[0].colour[0], 0.7f);
            EXPECT_FLOAT_EQ(vrec.paths[0].state.linewidth, 1.5f);
            float b = 3.0f / 2.0f;
            EXPECT_NEAR(vrec.paths[0].stepfactor, 0.14f * std::sqrt(b), 0.14f * std::sqrt(b) * 0.002f);
        }
    }
}

TEST_F(Outlines, MirroredPathsAndLayerWithoutArea)
{
    int s = placed(pathslayer(1, 0.0f), 6.0f);
    project.layers[s].flags |= layer_mirrorx;
    pass();
    ASSERT_EQ(vrec.paths.size(), 1u);
    EXPECT_FLOAT_EQ((float)vrec.paths[0].modelview[0], -2.0f) << "scaled by -1 and the size";
    project.layers[s].size[0] = project.layers[s].size[1] = 0.0f;
    pass();
    EXPECT_TRUE(vrec.paths.empty());
    for (const auto &p : view_outlines[s].bottom)
        EXPECT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]));
    testlog_capture quiet;
    EXPECT_EQ(view_picklayer(0.0f, 0.0f), -1) << "nothing to click on";
}

} // namespace
