// The GUI frame benchmark's counterpart in Debian's Dear ImGui: 2,000 buttons
// in 20 windows of 100, from NewFrame to Render, with no renderer (the draw
// data is built and left unused). Run beside gui_bench for the ratio.
#include <imgui.h>

#include <benchmark/benchmark.h>

#include <cstdio>

static void BM_ImguiFrame2000(benchmark::State &state)
{
    ImGui::CreateContext();
    ImGuiIO &io = ImGui::GetIO();
    io.DisplaySize = ImVec2(800.0f, 600.0f);
    io.DeltaTime = 1.0f / 60.0f;
    io.IniFilename = nullptr;
    unsigned char *pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height); // builds the font atlas
    io.MousePos = ImVec2(300.0f, 300.0f);
    char label[32];
    for (auto _ : state) {
        ImGui::NewFrame();
        for (int w = 0; w < 20; w++) {
            ImGui::SetNextWindowPos(ImVec2((float)(w % 5) * 160.0f + 2.0f, (float)(w / 5) * 150.0f + 2.0f));
            ImGui::SetNextWindowSize(ImVec2(150.0f, 2000.0f));
            snprintf(label, sizeof(label), "window%02d", w);
            ImGui::Begin(label);
            for (int row = 0; row < 100; row++) {
                snprintf(label, sizeof(label), "Button##row%02d_%03d", w, row);
                ImGui::Button(label);
            }
            ImGui::End();
        }
        ImGui::Render();
        benchmark::DoNotOptimize(ImGui::GetDrawData());
    }
    state.counters["elements"] = benchmark::Counter(2000.0, benchmark::Counter::kIsIterationInvariantRate);
    ImGui::DestroyContext();
}
BENCHMARK(BM_ImguiFrame2000)->Unit(benchmark::kMicrosecond);
