// One frame of the main window on the recording table, counting calls only,
// in each of the four modes with the File menu open; the 2,000-element
// reference frame of guiscene.h runs beside it for comparison. The tools
// mode's frame with the tool editor open and the view-area diagram of each
// cutter type runs too, and the canvas mode with its layers panel over a
// full table of 64 layers, and the operations mode with ten operations and
// the largest editor branch open.
#include "guiscene.h"
#include "cam/cam.h"
#include "cam/tool.h"
#include "mainwindow/opcodes.h"
#include "mainwindow/operations.h"
#include "mainwindow/layerspanel.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/tools.h"
#include "project/layer.h"
#include "view/modes.h"

#include <benchmark/benchmark.h>

static void BM_MainWindowFrame(benchmark::State &state)
{
    harness_start();
    sys_drawable[0] = 1280;
    sys_drawable[1] = 800;
    gui_mainwindowpass = gui_mainwindow;
    projectmode = (int32_t)state.range(0);
    harness_frame();
    // The menu is opened by a click on its head, as a user would.
    harness_click("menu_file");
    state.SetLabel(gui_openid != -1 ? "File menu open" : "no File menu");
    gui_elementhook = nullptr;
    harness_rec.counting = true;
    for (auto _ : state)
        harness_frame();
    harness_stop();
    projectmode = 1;
}
BENCHMARK(BM_MainWindowFrame)->DenseRange(1, 4)->Unit(benchmark::kMicrosecond);

// The tools mode with the editor in the right column and the diagram of a
// quarter-inch cutter of each type in the view area.
static void BM_ToolDiagramFrame(benchmark::State &state)
{
    struct cutter {
        float d, v, l;
    };
    static const cutter cutters[4] = {{0.25f, 0.0625f, 1.0f}, {0.125f, 10.0f, 1.0f}, {0.25f, 90.0f, 0.0f},
                                      {0.0625f, 5.0f, 1.0f}};
    harness_start();
    sys_drawable[0] = 1280;
    sys_drawable[1] = 800;
    gui_mainwindowpass = gui_mainwindow;
    projectmode = 2;
    int type = (int)state.range(0);
    const cutter &c = cutters[type - 1];
    tools_editvalues saved = tools_edit;
    tools_select(1);
    tools_edit.type = type;
    tools_edit.units = 1;
    tools_edit.flutediameter = c.d;
    tools_edit.value = c.v;
    tools_edit.flutelength = c.l;
    tools_formattexts();
    gui_sidepanel = 5;
    harness_frame();
    state.SetLabel(std::string(tools_typename(type)) + (harness_find("tool_apply") ? ", editor" : ", no editor"));
    gui_elementhook = nullptr;
    harness_rec.counting = true;
    for (auto _ : state)
        harness_frame();
    harness_stop();
    tools_edit = saved;
    tools_deselect();
    projectmode = 1;
}
BENCHMARK(BM_ToolDiagramFrame)->DenseRange(1, 4)->Unit(benchmark::kMicrosecond);

// The canvas panel with all 64 rows in the list (the window shows as many as
// fit and scrolls), the rest of the window as in mode 1 above.
static void BM_CanvasPanel64Layers(benchmark::State &state)
{
    harness_start();
    sys_drawable[0] = 1280;
    sys_drawable[1] = 800;
    gui_mainwindowpass = gui_mainwindow;
    projectmode = 1;
    for (int i = 0; i < project_maxlayers; i++)
        project_layeralloc(layer_raster);
    state.SetLabel(std::to_string(numlayers) + " layers");
    harness_frame();
    gui_elementhook = nullptr;
    harness_rec.counting = true;
    for (auto _ : state)
        harness_frame();
    harness_stop();
    for (int i = 0; i < project_maxlayers; i++)
        project_layerfree(i);
}
BENCHMARK(BM_CanvasPanel64Layers)->Unit(benchmark::kMicrosecond);

// The operations mode with ten operations listed and the largest editor
// branch open: 2D Profile Milling from a paths-layer of the current group,
// with tabs, so every row of the branch is drawn.
static void BM_OperationsFrame(benchmark::State &state)
{
    harness_start();
    sys_drawable[0] = 1280;
    sys_drawable[1] = 800;
    gui_mainwindowpass = gui_mainwindow;
    projectmode = 3;
    mainwindow_panels[panel_operations] = operations_panel; // mainwindow_start's, which the harness skips
    cam_settool(1, "flat", tool_cylinder, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f);
    const int slot = project_layeralloc(layer_paths);
    if (slot >= 0)
        project.layers[slot].groups = 1u << project_layergroup;
    for (int i = 0; i < cam_maxprojectops; i++) {
        projop &e = project.ops[i];
        snprintf(e.name, sizeof(e.name), "operation%02d", i + 1);
        e.camop = i;
        e.group = project_layergroup;
        e.include = e.show = 1;
        cam_ops[i].type = 1 + i % 17;
        cam_ops[i].tool = 1;
    }
    camop &profile = cam_ops[0];
    profile.type = 8;
    profile.flags = 0x0200;
    profile.aux[0] = opcodes_float(slot >= 0 ? project.layers[slot].uid : 0);
    profile.aux[1] = opcodes_float(1000u | 2000u << 16);
    profile.aux[2] = opcodes_float(3000u | 4000u << 16);
    harness_frame();
    harness_click("operation01");
    harness_frame();
    state.SetLabel(harness_find("op_prof_tabs_height") && harness_find("op_pathslayer") ? "profile editor, 10 rows"
                                                                                         : "no profile editor");
    gui_elementhook = nullptr;
    harness_rec.counting = true;
    for (auto _ : state)
        harness_frame();
    harness_stop();
    for (int i = 0; i < cam_maxprojectops; i++) {
        project.ops[i].camop = -1;
        cam_ops[i].type = 0, cam_ops[i].flags = 0;
    }
    if (slot >= 0)
        project_layerfree(slot);
    cam_settooldefaults();
    gui_selectedop = -1;
    gui_sidepanel = 0;
    projectmode = 1;
}
BENCHMARK(BM_OperationsFrame)->Unit(benchmark::kMicrosecond);
