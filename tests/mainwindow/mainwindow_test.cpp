// The main window's pass, headless: the side panel chosen by selection and
// mode, the mode tabs and what a click on each does, the layout's
// rectangles, the dialog placement, and which panel the right column shows.
#include "mainwindowfixture.h"

#include "project/editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

// What a recording stand-in panel saw: its cell, in call order.
struct panelcall {
    int panel;
    gui_rect cell;
};
std::vector<panelcall> panelcalls;

template <int n> void recordpanel()
{
    const gui_rect *top = gui_topsector();
    panelcalls.push_back({n, top ? *top : gui_rect{}});
    gui_popframe(0);
}

template <int... n> void standins(std::integer_sequence<int, n...>)
{
    ((mainwindow_panels[n] = recordpanel<n>), ...);
}

// Every panel replaced by a stand-in that records its cell.
void recordallpanels()
{
    panelcalls.clear();
    standins(std::make_integer_sequence<int, panel_tutorialbar>{});
}

const panelcall *panelseen(int panel)
{
    for (const panelcall &c : panelcalls)
        if (c.panel == panel)
            return &c;
    return nullptr;
}

const char *const tabnames[4] = {"projectmode_canvas", "projectmode_tools", "projectmode_operations",
                                 "projectmode_simulation"};

} // namespace

// ------------------------------------------------------------ side panel

TEST_F(MainWindow, SidePanelFollowsSelectionAndMode)
{
    int a = rasterlayer(0.1f), b = rasterlayer(0.2f);
    ASSERT_GE(b, 0);
    project.layers[a].pos[0] = 1.5f;
    project.layers[b].pos[0] = 2.5f;

    // No layer: the layer panel closes, others stay.
    for (int panel : {4, 2, 6}) {
        gui_sidepanel = panel;
        harness_frame();
        EXPECT_EQ(gui_sidepanel, panel == 4 ? 0 : panel) << "panel " << panel;
    }

    // A layer in canvas mode: panel 4, the editor loaded from the layer.
    selectlayer(a);
    gui_unappliedchanges = 1;
    harness_frame();
    EXPECT_EQ(gui_sidepanel, 4);
    EXPECT_EQ(gui_unappliedchanges, 0);
    EXPECT_EQ(layer_editor.pos[0], 1.5f);

    // The same layer again keeps the editor's unapplied edit.
    gui_unappliedchanges = 1;
    layer_editor.pos[0] = 9.0f;
    harness_frames(2);
    EXPECT_EQ(gui_unappliedchanges, 1);
    EXPECT_EQ(layer_editor.pos[0], 9.0f);

    // Another layer drops it and reloads.
    selectlayer(b);
    harness_frame();
    EXPECT_EQ(gui_unappliedchanges, 0);
    EXPECT_EQ(layer_editor.pos[0], 2.5f);

    // Another mode: no layer chosen, no panel.
    for (int mode : {2, 3, 4}) {
        projectmode = mode;
        selectlayer(a);
        gui_sidepanel = 4;
        harness_frame();
        EXPECT_EQ(gui_selectedlayer, -1) << "mode " << mode;
        EXPECT_EQ(gui_sidepanel, 0) << "mode " << mode;
    }
}

TEST_F(MainWindow, PendingUndoSelectionIsTakenOnce)
{
    int a = rasterlayer(0.1f);
    project_selectlayer = a;
    harness_frame();
    EXPECT_EQ(gui_selectedlayer, a);
    EXPECT_EQ(project_selectlayer, -1);
    gui_selectedlayer = -1;
    harness_frame();
    EXPECT_EQ(gui_selectedlayer, -1);
}

// ------------------------------------------------------------------ tabs

TEST_F(MainWindow, TabsClickableByState)
{
    struct Case {
        int generating, playing, updating, mode;
        const char *present; // one letter per clickable tab: c t o s
    };
    const Case cases[] = {
        {0, 0, 0, 1, "tos"},  {0, 0, 0, 2, "cos"},  {0, 0, 0, 3, "cts"}, {0, 0, 0, 4, "cto"},
        {1, 0, 0, 1, ""},     {1, 0, 0, 4, ""},     {0, 1, 0, 1, "s"},   {0, 1, 0, 4, ""},
        {0, 0, 1, 2, "s"},    {0, 0, 1, 4, ""},     {0, 1, 1, 3, "s"},   {1, 1, 0, 2, ""},
    };
    for (const Case &c : cases) {
        cam_generatingop = c.generating ? 0 : -1;
        sim_playing = c.playing;
        sim_updating = c.updating;
        projectmode = c.mode;
        harness_frame();
        std::string present;
        for (int i = 0; i < 4; i++)
            if (harness_present(tabnames[i]))
                present += "ctos"[i];
        EXPECT_EQ(present, c.present) << "generating " << c.generating << " playing " << c.playing << " updating "
                                      << c.updating << " mode " << c.mode;
    }
}

TEST_F(MainWindow, TabClickSwitchesModeWithItsEffects)
{
    struct Case {
        int from, tab; // tab index 0..3
        int playing;   // before the click
        int op, layer, tool, playingafter;
        const char *status;
    };
    // Before each click: operation 2, layer 1, tool 3 selected, side panel 6.
    const Case cases[] = {
        {2, 0, 0, -1, -1, 3, 0, "setup canvas, create/edit layers"},
        {1, 1, 0, 2, 1, -1, 0, "create/edit tool definitions"},
        {1, 2, 0, -1, 1, 3, 0, "create/edit CNC operations"},
        {1, 3, 0, -1, 1, 3, 0, "simulate CNC operations"},
        {3, 3, 1, -1, 1, 3, 0, "simulate CNC operations"},
    };
    for (const Case &c : cases) {
        projectmode = c.from;
        sim_playing = c.playing;
        harness_frame();
        gui_selectedop = 2;
        gui_selectedlayer = 1;
        gui_selectedtool = 3;
        gui_sidepanel = 6;
        view_redraw = 0;
        sys_statustext[0] = 0;
        ASSERT_TRUE(harness_click(tabnames[c.tab])) << tabnames[c.tab];
        SCOPED_TRACE(tabnames[c.tab]);
        EXPECT_EQ(projectmode, c.tab + 1);
        EXPECT_EQ(gui_selectedop, c.op);
        EXPECT_EQ(gui_selectedlayer, c.layer);
        EXPECT_EQ(gui_selectedtool, c.tool);
        EXPECT_EQ(gui_sidepanel, 0);
        EXPECT_EQ(sim_playing, c.playingafter);
        EXPECT_EQ(view_redraw.load(), 1);
        EXPECT_STREQ(sys_statustext, c.status);
        // The tab of the new mode is a label from the next frame on.
        harness_frame();
        EXPECT_FALSE(harness_present(tabnames[c.tab]));
    }
}

// ---------------------------------------------------------------- layout

TEST_F(MainWindow, LayoutRectangles)
{
    struct Case {
        int width, height, small;
        float toolbar;
    };
    const Case cases[] = {{1280, 800, 0, 38.0f}, {800, 600, 1, 21.0f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        sys_drawable[0] = c.width;
        sys_drawable[1] = c.height;
        cfg_seti(cfg_smallviewbuttons, c.small);
        recordallpanels();
        gui_sidepanel = 5;
        harness_frame();
        float left = (float)cfg_geti(cfg_leftpanelwidth), right = (float)cfg_geti(cfg_rightpanelwidth);
        float sp = (float)gui_spacing, work = (float)c.height - 34.0f;

        // Menu row 20, gap 6, then the tab row of 38: four 38-px tabs centred
        // in the left column.
        std::vector<gui_rect> tabs;
        for (const rec_element &e : harness_elements)
            if (e.window == mainwindow_windowid && e.rect.y == 26.0f + sp && e.rect.h == 38.0f - sp)
                tabs.push_back(e.rect);
        ASSERT_EQ(tabs.size(), 4u);
        float side = (left - 4.0f * 38.0f) / 2.0f;
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(tabs[(size_t)i].x, side + 38.0f * (float)i + sp);
            EXPECT_EQ(tabs[(size_t)i].w, 38.0f - sp);
        }

        // Gap 3, the title row of 38 and the canvas panel down to the status strip.
        const panelcall *body = panelseen(panel_canvas);
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(body->cell.x, 0.0f);
        EXPECT_EQ(body->cell.y, 20.0f + 6.0f + 38.0f + 3.0f + 38.0f);
        EXPECT_EQ(body->cell.w, left);
        EXPECT_EQ(body->cell.y + body->cell.h, work);

        // The toolbar strip over the view area and the right column.
        const panelcall *view = panelseen(panel_tooldiagram), *column = panelseen(panel_side + 5);
        ASSERT_NE(view, nullptr);
        ASSERT_NE(column, nullptr);
        EXPECT_EQ(view->cell.x, left);
        EXPECT_EQ(view->cell.y, c.toolbar);
        EXPECT_EQ(view->cell.w, (float)c.width - left - right);
        EXPECT_EQ(view->cell.y + view->cell.h, work);
        EXPECT_EQ(column->cell.x, (float)c.width - right);
        EXPECT_EQ(column->cell.y, c.toolbar);
        EXPECT_EQ(column->cell.w, right);
        EXPECT_EQ(column->cell.y + column->cell.h, work);
    }
}

TEST_F(MainWindow, LinesAreDrawnTwoPixelsWide)
{
    // A panel's line, flushed with the main window.
    mainwindow_panels[panel_canvas] = [] {
        const float a[2] = {10.0f, 10.0f}, b[2] = {50.0f, 50.0f};
        gui_addline(a, b, 1.0f, 1.0f, 1.0f, 1.0f);
        gui_popframe(0);
    };
    harness_frame();
    int lines = 0;
    for (const rec_primitive &p : harness_rec.primitives)
        if (p.kind == 1 || p.kind == 2 || p.kind == 3) {
            EXPECT_EQ(p.linewidth, 2.0f);
            lines++;
        }
    EXPECT_GT(lines, 0);
}

// ---------------------------------------------------------- right column

TEST_F(MainWindow, RightColumnPrecedence)
{
    struct Case {
        int raster, pathsedit, textedit, side;
        int expected; // -1 nothing
    };
    const Case cases[] = {
        {3, 2, 0, 4, panel_rasteredit + 3}, {0, -1, -1, 4, panel_rasteredit},
        {-1, 2, 0, 4, panel_pathsedit},     {-1, -1, 0, 4, panel_textedit},
        {-1, -1, -1, 2, panel_side + 2},    {-1, -1, -1, 8, panel_side + 8},
        {-1, -1, -1, 1, -1},                {-1, -1, -1, 0, -1},
    };
    projectmode = 2; // no side-panel rule of the layer panel
    for (const Case &c : cases) {
        recordallpanels();
        project_rastertool = c.raster;
        project_pathslayeredit = c.pathsedit;
        project_textlayeredit = c.textedit;
        gui_sidepanel = c.side;
        harness_frame();
        int seen = -1;
        for (const panelcall &p : panelcalls)
            if (p.panel >= panel_rasteredit && p.panel < panel_tutorialbar)
                seen = p.panel;
        EXPECT_EQ(seen, c.expected) << "raster " << c.raster << " paths " << c.pathsedit << " text " << c.textedit
                                    << " side " << c.side;
    }
}

TEST_F(MainWindow, ModePanelByMode)
{
    for (int mode : {1, 2, 3, 4, 0, 5}) {
        recordallpanels();
        projectmode = mode;
        harness_frame();
        int seen = -1;
        for (const panelcall &p : panelcalls)
            if (p.panel <= panel_simulation)
                seen = p.panel;
        EXPECT_EQ(seen, mode >= 1 && mode <= 4 ? panel_canvas + mode - 1 : -1) << "mode " << mode;
    }
}

TEST_F(MainWindow, ToolDiagramOnlyForTheToolPanelWithoutLibrary)
{
    struct Case {
        int side, dialog;
        bool drawn;
    };
    const Case cases[] = {{5, 0, true}, {5, 16, false}, {5, 20, true}, {6, 0, false}};
    projectmode = 2;
    for (const Case &c : cases) {
        recordallpanels();
        gui_sidepanel = c.side;
        gui_setdialog(c.dialog);
        harness_frame();
        EXPECT_EQ(panelseen(panel_tooldiagram) != nullptr, c.drawn) << c.side << " " << c.dialog;
    }
}

TEST_F(MainWindow, WholeWindowFitsItsLists)
{
    // The lists are per window and a full one drops items with a log line
    // (a debug line for texts, so the debug log is on).
    cfg_seti(cfg_debuginfo, 1);
    for (int mode = 1; mode <= 4; mode++) {
        projectmode = mode;
        gui_setdialog(mode == 4 ? 22 : 0);
        harness_frames(2);
        EXPECT_EQ(log.count("overflow"), 0) << "mode " << mode;
    }
}
