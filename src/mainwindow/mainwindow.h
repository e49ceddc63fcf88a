// The main window's pass: once a frame it lays the whole window out on the
// sector stack, draws the open dialog, the menus, the mode tabs, the mode's
// panel, the toolbar, the right column and the status strip, and acts at once
// on their clicks. Panels are reached through one table, so each panel's
// component fills its own entry and tests put recording stand-ins in place.
#pragma once
#include <cstdint>

// Layout constants of the window, in pixels.
constexpr float mainwindow_statusheight = 34.0f;
constexpr float mainwindow_menuheight = 20.0f;
constexpr float mainwindow_gap = 6.0f;
constexpr float mainwindow_tabheight = 38.0f;
constexpr float mainwindow_tabgap = 3.0f;
constexpr float mainwindow_titleheight = 38.0f;
constexpr float mainwindow_toolbarheight = 38.0f;
constexpr float mainwindow_smalltoolbarheight = 21.0f;
constexpr int32_t mainwindow_windowid = 10300;
constexpr int32_t mainwindow_tabid = 10301; // the four tabs take 10301..10304
constexpr float mainwindow_linewidth = 2.0f;

// The panels the pass places. Each takes the top sector of the stack as its
// area and pops exactly it; an entry left null is a panel not built yet, and
// its area stays empty.
enum mainwindow_panelid : int {
    panel_canvas,     // mode panels, by projectmode 1..4
    panel_tools,
    panel_operations,
    panel_simulation,
    panel_tooldiagram, // view area, side panel 5 without dialog 16: draws only for a tool type
    panel_rasteredit,  // + project_rastertool 0..8
    panel_pathsedit = panel_rasteredit + 9,
    panel_textedit,
    panel_side,        // + gui_sidepanel 0..8; 0 and 1 stay null
    // Drawn after the main window while a tutorial runs: it opens its own
    // window and is given no cell.
    panel_tutorialbar = panel_side + 9,
    panel_count,
};
typedef void (*mainwindow_panelfn)();
extern mainwindow_panelfn mainwindow_panels[panel_count];

// Start-up: aims the GUI pass at the main window and, when the element-file
// seam is set, starts its recorder.
void mainwindow_start();
// The pass; fps is the frame rate of the last second.
void gui_mainwindow(int fps);
