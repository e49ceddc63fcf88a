// "Export Triangle Mesh" of a 4096 x 4096 relief on a 12 x 12 x 0.5 canvas
// to a binary STL: the whole job (meshing to a twentieth of a pixel's width,
// assembling and writing) and the writing of the meshed model alone, with
// the triangle count and the file's size. The file goes to $TMPDIR (or
// /tmp) and is removed.
#include "benchsetup.h"
#include "cam/export.h"
#include "geom/model.h"
#include "project/meshexport.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static bench_tables bench_setup(false);

constexpr int bench_side = 4096;

// The relief: the shared smooth field with a raised dome in the middle and
// a flat border at 0, as a carving has.
static image *bench_relief()
{
    image *img = bench_field("relief", bench_side, 0.3f);
    float *p = (float *)img->pixels;
    const float c = bench_side / 2.0f, r = bench_side / 3.0f;
    for (int y = 0; y < bench_side; y++)
        for (int x = 0; x < bench_side; x++) {
            float &h = p[(size_t)y * bench_side + x];
            const float d2 = ((x - c) * (x - c) + (y - c) * (y - c)) / (r * r);
            if (d2 < 1.0f)
                h = std::fmax(h, 0.2f + 0.8f * std::sqrt(1.0f - d2));
            if (x < 64 || y < 64 || x >= bench_side - 64 || y >= bench_side - 64)
                h = 0.0f;
        }
    return img;
}

static std::string bench_path()
{
    const char *dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kerfmill-bench-relief.stl";
}

static void bench_canvas()
{
    project.size[0] = project.size[1] = 12.0f;
    project.size[2] = 0.5f;
    project.originoffset[0] = project.originoffset[1] = project.originoffset[2] = 0.0f;
}

static double bench_filesize(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    fseek(f, 0, SEEK_END);
    const double size = (double)ftell(f);
    fclose(f);
    return size;
}

static void bench_stlexport(benchmark::State &state)
{
    bench_canvas();
    image *relief = bench_relief();
    const std::string path = bench_path();
    snprintf(export_path, sizeof(export_path), "%s", path.c_str());
    double bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        image *copy = img_copy(relief); // the job owns and frees its image
        state.ResumeTiming();
        trimesh_generate(copy);
        state.PauseTiming();
        bytes = bench_filesize(path);
        remove(path.c_str());
        state.ResumeTiming();
    }
    img_free(relief);
    state.counters["triangles"] = bytes > 84 ? (bytes - 84) / 50 : 0;
    state.counters["MB"] = bytes / 1048576.0;
}
BENCHMARK(bench_stlexport)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// The STL assembled and written from a model already meshed.
static void bench_stlwrite(benchmark::State &state)
{
    bench_canvas();
    image *relief = bench_relief();
    const int slot = model_fromimage(relief);
    img_free(relief);
    if (slot < 0) {
        state.SkipWithError("meshing failed");
        return;
    }
    const std::string path = bench_path();
    int64_t bytes = 0;
    for (auto _ : state) {
        bytes = model_save(slot, path.c_str());
        state.PauseTiming();
        remove(path.c_str());
        state.ResumeTiming();
    }
    state.counters["triangles"] = (double)models[slot].num_faces;
    state.counters["MB"] = (double)bytes / 1048576.0;
    mdl_free(slot);
}
BENCHMARK(bench_stlwrite)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();
