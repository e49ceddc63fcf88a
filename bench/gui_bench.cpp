// One GUI frame of 2,000 elements (guiscene.h) on the recording table,
// counting calls only; then a frame of 2,000 real widgets. Reports
// the time per frame and per element or widget.
#include "guiscene.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/values.h"

#include <benchmark/benchmark.h>

#include <cstdio>

// The same 2,000 cells filled by real widgets: buttons, check boxes,
// sliders, knobs and labels in turn, each naming itself, with the values
// the caller keeps between frames.
static float gui_benchvalues[2000];
static int gui_benchchecks[2000];

static void gui_benchwidget(int i, int row)
{
    switch (row % 5) {
    case 0:
        gui_elementid("button%04d", i);
        gui_button(i + 1, 1, 1, "Button %d", row);
        break;
    case 1:
        gui_elementid("check%04d", i);
        gui_benchchecks[i] = gui_checkbox(i + 1, gui_benchchecks[i], "Check");
        break;
    case 2:
        gui_elementid("slider%04d", i);
        gui_benchvalues[i] = gui_valueslider(i + 1, "%.2f", gui_benchvalues[i], 0.0f, 100.0f, 0.5f);
        break;
    case 3:
        gui_elementid("knob%04d", i);
        gui_benchvalues[i] = gui_valueknob(i + 1, "%.1f", gui_benchvalues[i], 0.0f, 10.0f, 0.1f);
        break;
    default:
        gui_label(65, 0, 1, "Label %d", row);
        break;
    }
}

static void gui_benchwidgetscene()
{
    for (int w = 0; w < 20; w++) {
        gui_beginwindow(w + 1, (float)(w % 5) * 160.0f + 2.0f, (float)(w / 5) * 150.0f + 2.0f, 150.0f, 4000.0f, 1,
                        nullptr);
        for (int row = 99; row >= 0; row--)
            gui_sectors[gui_sectorcount++] = {(float)(w % 5) * 160.0f + 2.0f, (float)(w / 5) * 150.0f + row * 40.0f,
                                              150.0f, 40.0f};
        for (int row = 0; row < 100; row++)
            gui_benchwidget(w * 100 + row, row);
        gui_endwindow();
    }
}

static void BM_GuiWidgets2000(benchmark::State &state)
{
    harness_start();
    gui_elementhook = nullptr;
    harness_rec.counting = true;
    harness_scene = gui_benchwidgetscene;
    harness_move(300, 300);
    for (auto _ : state)
        harness_frame();
    state.counters["widgets"] = benchmark::Counter(2000.0, benchmark::Counter::kIsIterationInvariantRate);
    harness_stop();
}
BENCHMARK(BM_GuiWidgets2000)->Unit(benchmark::kMicrosecond);
