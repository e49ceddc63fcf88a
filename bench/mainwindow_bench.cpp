// One frame of the main window on the recording table, counting calls only,
// in each of the four modes with the File menu open; the 2,000-element
// reference frame of guiscene.h runs beside it for comparison.
#include "guiscene.h"
#include "mainwindow/mainwindow.h"
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
