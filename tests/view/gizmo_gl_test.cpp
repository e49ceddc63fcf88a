// The layer gizmo on the real renderer and data fonts: the 16-pixel edge
// rule, the 6-pixel hover, the tooltip after 0.6 s of hover, the release of
// a canvas grab waiting for background work while a layer grab does not,
// the paths-layer commit without a stale mark, and a shot of the handles in
// their state colours.
#include "gui/guiglfixture.h"

#include "cam/cam.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/rasteredit.h"
#include "render/draw.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "view/gizmo.h"

#include <cstring>
#include <functional>

namespace {

constexpr int shotw = 200, shoth = 150;

class GizmoGl : public GuiGlTest {
protected:
    void SetUp() override
    {
        startgui(shotw, shoth, 0, 0);
        memset(project.layers, 0, sizeof(project.layers));
        memset(gizmo_layer, 0, sizeof(gizmo_layer));
        memset(gizmo_canvas, 0, sizeof(gizmo_canvas));
        gizmo_canvasgrab = gizmo_layergrab = gizmo_hover = 0;
        gizmo_canvasstate = 2;
        gizmo_applydrags = 1;
        gizmo_simbusy = 0;
        cam_generatingop = -1;
        project_canvasjob.updating.store(0);
        project_canvasjob.requested.store(0);
        layer_gentex.store(0);
        project_rastertool = -1;
        project_textlayeredit = -1;
        p_selcurves.count = -1;
        project_selectedlayer = -1;
        project.size[0] = 10.0f, project.size[1] = 8.0f, project.size[2] = 1.0f;
        project.ppi = 10;
        gui_tooltipstate.text[0] = 0;
        sys_time = 1.0;
    }
    void TearDown() override
    {
        target.free();
        memset(project.layers, 0, sizeof(project.layers));
        project_selectedlayer = -1;
        sys_time = 0.0;
    }
    // A selected layer of the type, its editor loaded.
    static void selectlayer(int type)
    {
        project_layer &l = project.layers[0];
        l.type = type;
        l.size[0] = 4.0f, l.size[1] = 3.0f, l.size[2] = 1.0f;
        l.crop[2] = l.crop[3] = 1.0f;
        project_selectedlayer = 0;
        layer_loadeditor(&l);
    }
    // Handle i of the layer (or canvas) table at pixel (x, y).
    static void place(layer_gizmohandle *table, int i, float x, float y)
    {
        table[i] = {x / (float)shotw, y / (float)shoth, 50.0f};
    }
    // One frame with the pointer at (mx, my) and the left button as given
    // (pressed: down this frame only).
    void frame(int mx, int my, int down, bool pressed = false)
    {
        input_mouse[0] = mx;
        input_mouse[1] = my;
        input_keys[key_mouseleft] = down;
        input_keyframe[key_mouseleft] = down;
        input_keyprev[key_mouseleft] = pressed ? 0 : down;
        gui_calls->projection(shotw, shoth);
        layer_gizmo();
    }
};

TEST_F(GizmoGl, HandlesNearTheLeftOrTopEdgeAreNotGrabbed)
{
    struct Case {
        float x, y;
        int grabbed;
    };
    const Case cases[] = {{16, 40, 1}, {15.5f, 40, 0}, {40, 16, 1}, {40, 15, 0}, {100, 100, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        gizmo_layergrab = 0;
        selectlayer(layer_raster);
        place(gizmo_layer, 3, c.x, c.y);
        frame((int)c.x, (int)c.y, 1, true);
        EXPECT_EQ(gizmo_layergrab, c.grabbed ? 3 : 0);
        frame((int)c.x, (int)c.y, 0);
        EXPECT_EQ(gizmo_layergrab, 0);
    }
}

TEST_F(GizmoGl, HoverReachesSixPixels)
{
    struct Case {
        int dx, dy;
        int hovered;
    };
    const Case cases[] = {{0, 0, 1}, {6, 6, 1}, {-6, 0, 1}, {7, 0, 0}, {0, -7, 0}};
    selectlayer(layer_raster);
    place(gizmo_layer, 4, 80, 60);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
        frame(80 + c.dx, 60 + c.dy, 0);
        EXPECT_EQ(gizmo_hover, c.hovered ? 4 : 0);
        EXPECT_EQ(gui_cursor, c.hovered ? 6 : gui_cursor);
    }
    place(gizmo_layer, 2, 120, 60);
    frame(120, 60, 0);
    EXPECT_EQ(gizmo_hover, 2);
    EXPECT_EQ(gui_cursor, 7);
}

TEST_F(GizmoGl, TooltipAfterSixTenthsOfASecond)
{
    selectlayer(layer_raster);
    place(gizmo_layer, 7, 80, 60);
    const double times[] = {1.0, 1.3, 1.59};
    for (double t : times) {
        sys_time = t;
        frame(80, 60, 0);
        EXPECT_STREQ(gui_tooltipstate.text, "") << t;
    }
    sys_time = 1.61;
    frame(80, 60, 0);
    EXPECT_STREQ(gui_tooltipstate.text, "XY-Size/Z-Angle");
    // Moving to another handle starts the delay again.
    gui_tooltipstate.text[0] = 0;
    place(gizmo_layer, 1, 140, 60);
    sys_time = 1.7;
    frame(140, 60, 0);
    sys_time = 2.2;
    frame(140, 60, 0);
    EXPECT_STREQ(gui_tooltipstate.text, "");
    sys_time = 2.35;
    frame(140, 60, 0);
    EXPECT_STREQ(gui_tooltipstate.text, "XY-Origin/Z-Origin");
}

TEST_F(GizmoGl, CanvasReleaseWaitsForBackgroundWork)
{
    struct Case {
        const char *name;
        std::function<void(int)> busy;
    };
    const Case cases[] = {
        {"composition", [](int on) { project_canvasjob.updating.store(on); }},
        {"raster processing", [](int on) { layer_gentex.store(on); }},
        {"simulation", [](int on) { gizmo_simbusy = on; }},
        {"operation generating", [](int on) { cam_generatingop = on ? 2 : -1; }},
        {"operation simulating", [](int on) { project.ops[1].simbusy.store(on); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        project.size[0] = 10.0f;
        place(gizmo_canvas, 2, 60, 50);
        frame(60, 50, 1, true);
        ASSERT_EQ(gizmo_canvasgrab, 2);
        gizmo_canvassize[0] = 12.0f, gizmo_canvassize[1] = 8.0f, gizmo_canvassize[2] = 1.0f;
        c.busy(1);
        frame(90, 90, 0);
        EXPECT_EQ(gizmo_canvasgrab, 2);
        EXPECT_EQ(input_mouse[0], 60); // held on the handle
        EXPECT_FLOAT_EQ(project.size[0], 10.0f);
        c.busy(0);
        frame(90, 90, 0);
        EXPECT_EQ(gizmo_canvasgrab, 0);
        EXPECT_FLOAT_EQ(project.size[0], 12.0f);
    }
}

TEST_F(GizmoGl, LayerReleaseCommitsWithoutWaiting)
{
    struct Case {
        int type;
        uint32_t stale;
    };
    const Case cases[] = {{layer_raster, 1}, {layer_paths, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        selectlayer(c.type);
        project.layers[0].stale = 0;
        place(gizmo_layer, 5, 70, 70);
        frame(70, 70, 1, true);
        ASSERT_EQ(gizmo_layergrab, 5);
        layer_editor.size[0] = 6.0f;
        project_canvasjob.updating.store(1);
        project_canvasjob.requested.store(0);
        frame(70, 70, 0);
        project_canvasjob.updating.store(0);
        EXPECT_EQ(gizmo_layergrab, 0);
        EXPECT_FLOAT_EQ(project.layers[0].size[0], 6.0f);
        EXPECT_EQ(project.layers[0].stale, c.stale);
        EXPECT_EQ(project_canvasjob.requested.load(), 1u);
    }
}

TEST_F(GizmoGl, NoLayerHandlesWhileEditingRasterOrText)
{
    selectlayer(layer_raster);
    place(gizmo_layer, 3, 50, 50);
    project_rastertool = 0;
    frame(50, 50, 1, true);
    EXPECT_EQ(gizmo_layergrab, 0);
    project_rastertool = -1;
    project_textlayeredit = 2;
    frame(50, 50, 1, true);
    EXPECT_EQ(gizmo_layergrab, 0);
}

// Counts pixels within 12 of the colour in a square of 17 pixels around
// (x, y).
int colourcount(const rgbimage &shot, int x, int y, const int *rgb)
{
    int n = 0;
    for (int j = y - 8; j <= y + 8; j++)
        for (int i = x - 8; i <= x + 8; i++) {
            const uint8_t *p = &shot.rgb[((size_t)j * shot.width + i) * 3];
            n += std::abs(p[0] - rgb[0]) <= 12 && std::abs(p[1] - rgb[1]) <= 12 && std::abs(p[2] - rgb[2]) <= 12;
        }
    return n;
}

TEST_F(GizmoGl, ShotShowsHandlesInTheirStateColours)
{
    selectlayer(layer_raster);
    place(gizmo_layer, 1, 40, 40);   // grabbed
    place(gizmo_layer, 4, 100, 40);  // hovered
    place(gizmo_layer, 7, 160, 40);  // idle
    place(gizmo_layer, 8, 100, 100); // idle
    glClearColor(0.3f, 0.3f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    frame(40, 40, 1, true);
    ASSERT_EQ(gizmo_layergrab, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    input_keys[key_mouseleft] = 1;
    input_keyprev[key_mouseleft] = 1;
    frame(100, 40, 1);
    rgbimage grabbed = golden_readback(shotw, shoth);
    gizmo_layergrab = 0;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    frame(100, 40, 0);
    rgbimage hovered = golden_readback(shotw, shoth);
    const int active[3] = {26, 255, 77}, idle[3] = {179, 179, 179}, dark[3] = {25, 25, 25};
    EXPECT_GT(colourcount(grabbed, 40, 40, active), 4);
    EXPECT_EQ(colourcount(grabbed, 100, 40, active), 0);
    EXPECT_GT(colourcount(grabbed, 100, 40, idle), 4);
    EXPECT_GT(colourcount(hovered, 100, 40, active), 4);
    for (const rgbimage *s : {&grabbed, &hovered}) {
        EXPECT_GT(colourcount(*s, 160, 40, idle), 4);
        EXPECT_EQ(colourcount(*s, 160, 40, active), 0);
        EXPECT_GT(colourcount(*s, 100, 100, idle), 4);
        EXPECT_GT(colourcount(*s, 160, 40, dark), 4);
    }
    namespace fs = std::filesystem;
    const fs::path out = fs::temp_directory_path() / ("kerfmill_gizmo_" + std::to_string(getpid()) + ".png");
    EXPECT_TRUE(golden_writepng(hovered, out));
    fs::remove(out);
}

} // namespace
