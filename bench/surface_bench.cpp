// The canvas surface on the real renderer (llvmpipe under Xvfb): the install
// of a 4096 x 4096 canvas at full detail (256 slices), its slice counts and
// depth texture, beside one plain upload of the same image; one canvas pass
// at 1920 x 1080, at full detail and simplified; and direct mode's read-back
// of a 1920 x 1080 view beside the full-window quad that shows it every
// frame. Each pass ends with glFinish, so the driver's work is in the time.
#include "benchgl.h"
#include "benchsetup.h"
#include "../tests/view/surfacescene.h"

#include "project/canvas.h"
#include "project/project.h"
#include "project/surfaceshaders.h"
#include "render/shader.h"
#include "sys/config.h"
#include "view/backup.h"
#include "view/canvasinstall.h"
#include "view/modes.h"
#include "view/surface.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

static bench_tables bench_surfacetables(false);

constexpr int bench_side = 4096;
constexpr int bench_w = 1920, bench_h = 1080;
static const float bench_size[3] = {8.0f, 8.0f, 1.0f};

// The window-sized target the passes draw into: the benchmark's own window
// is a small hidden one.
struct bench_target {
    GLuint fbo = 0;
    bool make()
    {
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        r_newframebufferrenderbuffer(2, bench_w, bench_h, 4, 0);
        r_newframebufferrenderbuffer(1, bench_w, bench_h, 1, 1);
        return r_checkframebuffer() == 1;
    }
};

// GL, shaders, the view's program and quad, and the project's canvas
// settings, once for the run. False when something could not be had.
static bool bench_startsurface()
{
    static bool ok = [] {
        if (!bench_startgl("surface bench"))
            return false;
        static bench_target target;
        if (!target.make())
            return false;
        memcpy(cfg, cfg_defaults, cfg_size);
        cfg_seti(cfg_highquality, 0);
        cfg_setf(cfg_canvasgeometry, 1.0f);
        if (project_mutex < 0)
            project_mutex = sys_createmutex();
        if (project_loadshaders() != 1)
            return false;
        view_init();
        if (view_shader < 0 || view_quadmodel < 0)
            return false;
        if (surfacescene_set(bench_size, bench_side, bench_side) < 0)
            return false;
        sys_drawable[0] = bench_w;
        sys_drawable[1] = bench_h;
        glViewport(0, 0, bench_w, bench_h);
        return true;
    }();
    return ok;
}

// One install as a finished composition is taken: the image becomes the
// canvas, then the frame's model step builds the slice counts and the depth
// texture.
static void bench_install(image *img)
{
    project_canvasjob.inprogress = 1;
    project_canvasjob.pendingcanvas.store(img);
    jobmode.store(canvas_view);
    jobrebuild.store(1);
    project_setcanvasdepth();
    view_canvasmodels();
    glFinish();
}

// The canvas the pass and the read-back draw, installed once.
static image *bench_source()
{
    static image *source = bench_field("canvas", bench_side, 0.0f);
    return source;
}

static bool bench_installed()
{
    if (!bench_startsurface())
        return false;
    if (project_canvas.depthtexture < 0) {
        image *src = bench_source();
        bench_install(img_alloc("canvas", src->width, src->height, src->bytesperpixel, src->pixels));
    }
    return project_canvas.depthtexture >= 0;
}

static void BM_CanvasInstall_4096_Detail1(benchmark::State &state)
{
    if (!bench_installed()) {
        state.SkipWithError("no GL context, shaders or canvas");
        return;
    }
    image *src = bench_source();
    for (auto _ : state) {
        state.PauseTiming();
        image *img = img_alloc("canvas", src->width, src->height, src->bytesperpixel, src->pixels);
        state.ResumeTiming();
        bench_install(img);
    }
    state.counters["slices X"] = project_canvas.slices[0];
    state.counters["slices Y"] = project_canvas.slices[1];
    state.counters["slices Z"] = project_canvas.slices[2];
    if (project_canvas.depthtexture < 0)
        state.SkipWithError("no depth texture");
}
BENCHMARK(BM_CanvasInstall_4096_Detail1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The same image uploaded alone: the install's own cost is the difference.
static void BM_TextureUpload_4096(benchmark::State &state)
{
    if (!bench_installed()) {
        state.SkipWithError("no GL context, shaders or canvas");
        return;
    }
    for (auto _ : state) {
        int slot = img_texture("uploadbench", bench_source(), 1);
        glFinish();
        if (slot < 0) {
            state.SkipWithError("upload failed");
            break;
        }
        r_freetexture(slot);
    }
}
BENCHMARK(BM_TextureUpload_4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The canvas seen straight down, filling the target: every slice of the
// stack covers the whole window. Argument 1 is the full detail (the 256
// slices across Z), 0 the simplified drawing's 32 slices.
static void BM_CanvasPass_1920x1080(benchmark::State &state)
{
    view_fastview = state.range(0) ? 0 : 1;
    if (!bench_installed()) {
        state.SkipWithError("no GL context, shaders or canvas");
        return;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, bench_size[0], 0.0, bench_size[1], -10.0, 10.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    view_rebuilt = 1;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        view_drawsurface();
        glFinish();
    }
    view_fastview = 0;
    state.counters["slices"] = state.range(0) ? project_canvas.slices[2] : 32;
    state.counters["Mpixels/s"] =
        benchmark::Counter((double)bench_w * bench_h * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CanvasPass_1920x1080)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The read-back of a re-rendered frame, its textures already made.
static void BM_DirectReadBack_1920x1080(benchmark::State &state)
{
    if (!bench_startsurface()) {
        state.SkipWithError("no GL context or shaders");
        return;
    }
    view_readback();
    for (auto _ : state)
        view_readback();
    if (view_rgbtexture < 0 || view_readdepthtexture < 0)
        state.SkipWithError("no read-back textures");
}
BENCHMARK(BM_DirectReadBack_1920x1080)->Unit(benchmark::kMillisecond)->UseRealTime();

// What every idle frame costs instead: the read-back textures drawn over the
// window by the full-window quad, colour and depth.
static void BM_FullWindowQuad_1920x1080(benchmark::State &state)
{
    if (!bench_startsurface()) {
        state.SkipWithError("no GL context or shaders");
        return;
    }
    view_readback();
    if (view_rgbtexture < 0 || view_readdepthtexture < 0) {
        state.SkipWithError("no read-back textures");
        return;
    }
    for (auto _ : state) {
        view_showimage(view_rgbtexture, view_readdepthtexture);
        glFinish();
    }
}
BENCHMARK(BM_FullWindowQuad_1920x1080)->Unit(benchmark::kMillisecond)->UseRealTime();
