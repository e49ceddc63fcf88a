// 2D offset milling of a 2048 x 2048 canvas (300 x 300 mm): a 260 mm square
// pocket with 20 round islands, a 6 mm flat cutter at a 40 % stepover, three
// levels of 2 mm. Beside the seconds of a whole run, its stages read from
// the run's log (distance field, bridges, ring tracing, node tree, output)
// and its ring and vertex counts; then Clipper's ClipperOffset offsetting
// the same outline by the same distances (r, r + S, r + 2S, ... until
// nothing is left), the independent counterpart of our ring generation.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/pocketing.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"

#include <benchmark/benchmark.h>
#include <clipper.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

constexpr int bench_side = 2048;
constexpr double bench_mm = 300.0;         // canvas side
constexpr double bench_box[2] = {20, 280}; // pocket, both axes
constexpr double bench_island = 8.0;       // island radius
constexpr double bench_tool = 6.0, bench_step = 0.4 * bench_tool;

static bench_tables bench_setup(true);

static bool bench_inisland(double x, double y)
{
    for (int j = 0; j < 4; j++)
        for (int i = 0; i < 5; i++)
            if (std::hypot(x - (50 + 50 * i), y - (50 + 66 * j)) < bench_island)
                return true;
    return false;
}

// The canvas: walls and islands at the top (20 mm), the pocket's floor 6 mm down.
static image *bench_canvas()
{
    image *img = img_allocfloat("pocket", bench_side, bench_side);
    float *p = (float *)img->pixels;
    const double px = bench_mm / bench_side;
    for (int j = 0; j < bench_side; j++)
        for (int i = 0; i < bench_side; i++) {
            const double x = (i + 0.5) * px, y = bench_mm - (j + 0.5) * px;
            const bool pocket = x > bench_box[0] && x < bench_box[1] && y > bench_box[0] && y < bench_box[1] &&
                                !bench_inisland(x, y);
            p[(size_t)j * bench_side + i] = pocket ? 0.7f : 1.0f;
        }
    return img;
}

// The run's log, read back for the stage times and counts.
struct bench_stages {
    double distance = 0, bridges = 0, rings = 0, tree = 0, output = 0;
    long nodes = 0, ringverts = 0, cutverts = 0;
};

static double bench_stamp(const std::string &line)
{
    return std::atof(line.c_str());
}

static bench_stages bench_readlog(const std::string &path)
{
    bench_stages s;
    std::ifstream in(path);
    double start = -1, distances = 0, firstring = -1, lastmark = 0, cutting = -1, end = 0;
    for (std::string line; std::getline(in, line);) {
        const double t = bench_stamp(line);
        if (line.find("CAMOP_POCKETING") != std::string::npos)
            start = lastmark = t;
        else if (line.find("...calculated distances") != std::string::npos)
            distances = lastmark = t;
        else if (line.find("contouring distance") != std::string::npos) {
            if (firstring < 0) {
                firstring = t;
                s.bridges = t - distances;
            }
            lastmark = t;
        } else if (line.find("...blended thresh/bridge distances") != std::string::npos) {
            s.bridges += t - lastmark;
            lastmark = t;
        } else if (line.find("...contoured dist:") != std::string::npos) {
            s.rings += t - lastmark;
        } else if (line.find("recursing cut depth") != std::string::npos && cutting < 0) {
            cutting = t;
        } else if (line.find(" = <") != std::string::npos && line.find(" verts><") != std::string::npos) {
            s.nodes++;
            s.ringverts += std::atol(line.c_str() + line.find(" = <") + 4);
        } else if (line.find("generated moves:") != std::string::npos) {
            s.cutverts = std::atol(line.c_str() + line.find("/verts:") + 7);
        } else if (line.find("ETA = ") != std::string::npos) {
            end = t;
        }
    }
    s.distance = distances - start;
    s.tree = cutting - firstring - s.rings - (s.bridges - (firstring - distances));
    s.output = end - cutting;
    return s;
}

static void bench_pocketing(benchmark::State &state)
{
    if (cam_mutex < 0)
        cam_mutex = sys_createmutex();
    project.units = 2;
    cam_settooldefaults();
    cam_settool(1, "flat 6", tool_cylinder, 2, 2, (float)bench_tool, 25.0f, 0.0f, 50.0f, 20.0f);
    engage_slope = 0.36397023f;
    cam_maxdot = 0.99846f;
    cam_minlen = 0.0f;
    cam_maxlen = 0.0f;
    image *canvas = bench_canvas();
    const float size[3] = {(float)bench_mm, (float)bench_mm, 20.0f}, frac[3] = {0, 0, 0};
    img_setrefimage(canvas, size, frac, 1.0f / 25.4f);
    img_free(canvas);
    static camop op;
    bench_stages sum;
    double total = 0.0;
    const std::string path = "/tmp/kerfmill-pocketing-bench.log";
    for (auto _ : state) {
        op.type = 10, op.tool = 1, op.feed = 1000, op.engagefeed = 300, op.entry = 1, op.dir = 0;
        op.step = 40.0f, op.flags = camop_percentstep;
        op.z_min = 0.0f, op.z_max = 6.0f, op.z_doc = 2.0f, op.z_safe = 5.0f, op.stock = 0.0f;
        op.aux[0] = 17.0f, op.aux[1] = op.aux[2] = 0.0f, op.cont = nullptr, op.toolpath = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        total += bench_runlogged(cam_pocketing, &op, path);
        bench_stages s = bench_readlog(path);
        remove(path.c_str());
        sum.distance += s.distance, sum.bridges += s.bridges, sum.rings += s.rings, sum.tree += s.tree;
        sum.output += s.output, sum.nodes = s.nodes, sum.ringverts = s.ringverts, sum.cutverts = s.cutverts;
        state.PauseTiming();
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    const double n = (double)state.iterations();
    state.counters["seconds"] = total / n;
    state.counters["distance_s"] = sum.distance / n;
    state.counters["bridges_s"] = sum.bridges / n;
    state.counters["rings_s"] = sum.rings / n;
    state.counters["tree_s"] = sum.tree / n;
    state.counters["output_s"] = sum.output / n;
    state.counters["ringgen_s"] = (sum.distance + sum.rings) / n;
    state.counters["rings"] = (double)sum.nodes;
    state.counters["ring_verts"] = (double)sum.ringverts;
    state.counters["cut_verts"] = (double)sum.cutverts;
    bench_dropcanvas();
}
BENCHMARK(bench_pocketing)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// Clipper works in integers: micrometres. Its round joins are held to a
// quarter of our pixel, the accuracy our traced rings have.
constexpr double bench_units = 1000.0;

static ClipperLib::Paths bench_outline()
{
    ClipperLib::Paths out;
    auto at = [](double x, double y) {
        return ClipperLib::IntPoint((ClipperLib::cInt)std::llround(x * bench_units),
                                    (ClipperLib::cInt)std::llround(y * bench_units));
    };
    // The outline anticlockwise, the islands clockwise (y up), as Clipper
    // tells outer outlines from holes.
    out.push_back({at(bench_box[0], bench_box[0]), at(bench_box[1], bench_box[0]), at(bench_box[1], bench_box[1]),
                   at(bench_box[0], bench_box[1])});
    for (int j = 0; j < 4; j++)
        for (int i = 0; i < 5; i++) {
            ClipperLib::Path hole;
            for (int k = 0; k < 256; k++) {
                const double a = -2 * M_PI * k / 256;
                hole.push_back(at(50 + 50 * i + bench_island * std::cos(a), 50 + 66 * j + bench_island * std::sin(a)));
            }
            out.push_back(hole);
        }
    return out;
}

static void bench_clipperoffset(benchmark::State &state)
{
    const ClipperLib::Paths outline = bench_outline();
    long rings = 0, verts = 0;
    for (auto _ : state) {
        rings = verts = 0;
        for (double d = 0;; d += bench_step) {
            ClipperLib::ClipperOffset co;
            co.ArcTolerance = 0.25 * bench_mm / bench_side * bench_units;
            co.AddPaths(outline, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
            ClipperLib::Paths ring;
            co.Execute(ring, -(bench_tool / 2 + d) * bench_units);
            if (ring.empty())
                break;
            rings += (long)ring.size();
            for (const auto &p : ring)
                verts += (long)p.size();
        }
    }
    state.counters["rings"] = (double)rings;
    state.counters["ring_verts"] = (double)verts;
}
BENCHMARK(bench_clipperoffset)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
