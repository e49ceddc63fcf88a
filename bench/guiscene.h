// The GUI benchmarks' reference frame: 2,000 elements (20 windows of 100
// rows, each row a split, a name, the element check, a framed box and a
// text) on the recording table, counting calls only. Every benchmark that
// times a frame of its own registers this one beside it, so both figures
// come from the same run.
#pragma once
#include "../tests/gui/guiharness.h"

#include <benchmark/benchmark.h>

inline void gui_benchscene()
{
    for (int w = 0; w < 20; w++) {
        gui_beginwindow(w + 1, (float)(w % 5) * 160.0f + 2.0f, (float)(w / 5) * 150.0f + 2.0f, 150.0f, 2000.0f, 1,
                        nullptr);
        gui_colsector(100, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0,
                      20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0,
                      20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0,
                      20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0,
                      20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0,
                      20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0,
                      20.0, 20.0, 20.0, 20.0, 20.0);
        for (int row = 0; row < 100; row++) {
            gui_rowsector(2, 40.0, 1.0);
            const gui_rect *cell = gui_topsector();
            gui_rect r = *cell;
            gui_popframe(0);
            gui_elementid("row%02d_%03d", w, row);
            gui_element(w * 100 + row + 1, r, 0);
            gui_addbox(r, 0.5f, 0.5f, 0.6f, 1.0f, 1);
            gui_addtext((int)r.x + 2, (int)r.y + 2, 1, 0.0f, 1, 1, 1, "Button", r);
            gui_popframe(0);
        }
        gui_endwindow();
    }
}

inline void BM_GuiFrame2000(benchmark::State &state)
{
    harness_start();
    gui_elementhook = nullptr;
    harness_rec.counting = true;
    harness_scene = gui_benchscene;
    harness_move(300, 300);
    for (auto _ : state)
        harness_frame();
    state.counters["elements"] = benchmark::Counter(2000.0, benchmark::Counter::kIsIterationInvariantRate);
    harness_stop();
}
BENCHMARK(BM_GuiFrame2000)->Unit(benchmark::kMicrosecond);
