// The main window's pass, in its fixed order: reset, the side panel of this
// frame, the full-screen window, the open dialog, then the layout from top
// left to bottom right (menus, mode tabs, panel title and body, toolbar,
// view area, right column, status strip) and the flush. What a panel draws
// is its own component's; the pass only gives it its cell.
#include "mainwindow/mainwindow.h"

#include "cam/cam.h"
#include "gui/dialog.h"
#include "gui/drawlist.h"
#include "render/drawstate.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/tutorial.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "mainwindow/dialogs.h"
#include "mainwindow/elements.h"
#include "mainwindow/layerspanel.h"
#include "mainwindow/menus.h"
#include "mainwindow/operations.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/statusline.h"
#include "mainwindow/toolbar.h"
#include "mainwindow/tooldiagram.h"
#include "mainwindow/tools.h"
#include "project/editor.h"
#include "project/project.h"
#include "project/undo.h"
#include "sys/config.h"
#include "sys/log.h"
#include "view/modes.h"
#include "view/backup.h"
#include "view/simview.h"
#include "view/view.h"

mainwindow_panelfn mainwindow_panels[panel_count];

// The built panels take their entries before any pass runs.
static const int mainwindow_registered = [] {
    mainwindow_panels[panel_tools] = tools_panel;
    mainwindow_panels[panel_side + 5] = tools_editor;
    mainwindow_panels[panel_side + 6] = opeditor_panel;
    mainwindow_panels[panel_tooldiagram] = tooldiagram_panel;
    return 1;
}();

// The layer whose properties the side panel shows, -1 none.
static int32_t mainwindow_panellayer = -1;

struct mainwindow_tab {
    const char *name;
    int32_t mode;
    int icon;
    const char *title; // tooltip and panel title
    const char *status;
};

static const mainwindow_tab mainwindow_tabs[4] = {
    {"projectmode_canvas", 1, 47, "Project Canvas", "setup canvas, create/edit layers"},
    {"projectmode_tools", 2, 68, "Project Tools", "create/edit tool definitions"},
    {"projectmode_operations", 3, 112, "Project Operations", "create/edit CNC operations"},
    {"projectmode_simulation", 4, 49, "Project Simulation", "simulate CNC operations"},
};

void mainwindow_start()
{
    gui_mainwindowpass = gui_mainwindow;
    mainwindow_panels[panel_canvas] = layerspanel_draw;
    mainwindow_panels[panel_operations] = operations_panel;
    // The viewport's backup must not write while a dialog is open.
    view_dialogid = [] { return gui_dialogid; };
    elements_start();
}

// Takes the panel's cell: its function draws in it, or it stays empty.
static void mainwindow_panel(int which)
{
    if (which >= 0 && which < panel_count && mainwindow_panels[which])
        mainwindow_panels[which]();
    else
        gui_popframe(0);
}

// Step 1.
static void mainwindow_reset()
{
    gui_linewidth = mainwindow_linewidth;
    gui_sectorcount = 0;
    gui_depth = 0;
    gui_sectors[0] = {};
    if (gui_hotid == 0)
        gui_hotid = -1;
}

// Step 2, after taking the selection an undo replay left pending.
static void mainwindow_choosesidepanel()
{
    if (project_selectlayer != -1) {
        gui_selectedlayer = project_selectlayer;
        project_selectlayer = -1;
    }
    int32_t layer = project_selectedlayer;
    if (layer == -1) {
        if (gui_sidepanel == 4)
            gui_sidepanel = 0;
        mainwindow_panellayer = -1;
        return;
    }
    if (projectmode == 1) {
        if (gui_sidepanel != 4 || mainwindow_panellayer != layer) {
            gui_sidepanel = 4;
            mainwindow_panellayer = layer;
            gui_unappliedchanges = 0;
            layer_loadeditor(&project.layers[layer]);
        }
        return;
    }
    gui_selectedlayer = -1;
    gui_sidepanel = 0;
    mainwindow_panellayer = -1;
}

// A tab can be clicked unless it is the current mode, an operation
// generates, or (for every tab but the simulation's) the simulation plays or
// is being updated.
static int mainwindow_tabenabled(int32_t mode)
{
    if (mode == projectmode || cam_generatingop != -1)
        return 0;
    return mode == 4 || (!sim_playing && !sim_updating);
}

static void mainwindow_switchmode(const mainwindow_tab &t)
{
    projectmode = t.mode;
    gui_sidepanel = 0;
    switch (t.mode) {
    case 1:
        gui_selectedop = -1;
        gui_selectedlayer = -1;
        break;
    case 2:
        gui_selectedtool = -1;
        break;
    default:
        gui_selectedop = -1;
        sim_playing = 0;
        break;
    }
    view_redraw = 1;
    sys_status("%s", t.status);
}

static void mainwindow_drawtabs()
{
    gui_rowsector(6, 0.5, 38.0, 38.0, 38.0, 38.0, 0.5);
    gui_popframe(0);
    for (int i = 0; i < 4; i++) {
        const mainwindow_tab &t = mainwindow_tabs[i];
        gui_tooltip("%s", t.title);
        if (!mainwindow_tabenabled(t.mode)) {
            gui_label(t.icon, 0, gui_interfacefont, "%s", "");
            continue;
        }
        gui_elementid("%s", t.name);
        if (gui_iconbutton(mainwindow_tabid + i, t.icon, 0, gui_interfacefont, "%s", ""))
            mainwindow_switchmode(t);
    }
    gui_popframe(0);
}

// Items 3 to 7 of the layout: the left column below the status strip's
// split and the work area's.
static void mainwindow_leftcolumn()
{
    gui_colsector(2, (double)mainwindow_menuheight, 1.0);
    menus_draw();
    gui_colsector(4, (double)mainwindow_gap, (double)mainwindow_tabheight, (double)mainwindow_tabgap, 1.0);
    gui_popsector();
    mainwindow_drawtabs();
    gui_popsector();
    gui_colsector(2, (double)mainwindow_titleheight, 1.0);
    if (projectmode >= 1 && projectmode <= 4) {
        const mainwindow_tab &t = mainwindow_tabs[projectmode - 1];
        gui_label(t.icon, 0, gui_interfacefont, "%s", t.title);
        mainwindow_panel(panel_canvas + projectmode - 1);
    } else {
        gui_popframe(0);
        gui_popframe(0);
    }
}

// The first of the raster-edit, paths-edit and text-edit panels that is on,
// else the property panel of the side panel.
static int mainwindow_rightpanel()
{
    if (project_rastertool >= 0 && project_rastertool <= 8)
        return panel_rasteredit + project_rastertool;
    if (project_pathslayeredit != -1)
        return panel_pathsedit;
    if (project_textlayeredit != -1)
        return panel_textedit;
    if (gui_sidepanel >= 2 && gui_sidepanel <= 8)
        return panel_side + gui_sidepanel;
    return -1;
}

// Item 8 to 10: toolbar, view area and right column.
static void mainwindow_rightarea()
{
    float toolbar = cfg_geti(cfg_smallviewbuttons) ? mainwindow_smalltoolbarheight : mainwindow_toolbarheight;
    gui_colsector(2, (double)toolbar, 1.0);
    toolbar_draw();
    gui_rowsector(2, 1.0, (double)cfg_geti(cfg_rightpanelwidth));
    if (gui_sidepanel == 5 && gui_dialogid != 16)
        mainwindow_panel(panel_tooldiagram);
    else
        gui_popframe(0);
    mainwindow_panel(mainwindow_rightpanel());
}

void gui_mainwindow(int fps)
{
    mainwindow_reset();
    mainwindow_choosesidepanel();
    gui_beginwindow(mainwindow_windowid, 0.0f, 0.0f, 1.0f, 1.0f, 1, nullptr);
    dialogs_draw();
    gui_colsector(2, 1.0, (double)mainwindow_statusheight);
    gui_rowsector(2, (double)cfg_geti(cfg_leftpanelwidth), 1.0);
    mainwindow_leftcolumn();
    mainwindow_rightarea();
    statusline_draw(fps);
    gui_end();
    if (tut_current != -1 && mainwindow_panels[panel_tutorialbar])
        mainwindow_panels[panel_tutorialbar]();
    elements_endframe();
}
