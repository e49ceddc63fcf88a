// The heightmap triangulator on a 4096 x 4096 fixed-seed terrain meshed to
// a maximum error of 0.001 of its height range: seconds, triangles and
// megapixels a second; beside it, CGAL's Delaunay triangulation of the same
// final vertices.
#include "benchsetup.h"
#include "geom/trimesh.h"

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

constexpr int bench_side = 4096;

static bench_tables bench_setup(false);

// Octaves of waves of random direction and phase, each half the height of
// the last at twice its frequency.
static std::vector<float> bench_terrain(int side)
{
    std::mt19937 gen(20261211);
    std::uniform_real_distribution<float> angle(0, 6.2831853f), phase(0, 6.2831853f);
    struct wave {
        float kx, ky, ph, amp;
    };
    std::vector<wave> waves;
    float freq = 2.0f / side, amp = 1.0f;
    for (int octave = 0; octave < 9; octave++, freq *= 2, amp *= 0.5f)
        for (int k = 0; k < 3; k++) {
            const float a = angle(gen);
            waves.push_back({freq * 6.2831853f * std::cos(a), freq * 6.2831853f * std::sin(a), phase(gen), amp});
        }
    std::vector<float> z((size_t)side * side);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            float h = 0;
            for (const wave &w : waves)
                h += w.amp * std::sin(w.kx * x + w.ky * y + w.ph);
            z[(size_t)y * side + x] = h;
        }
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    const float base = *lo, span = *hi - *lo;
    for (float &h : z)
        h = (h - base) / span;
    return z;
}

// FNV-1a over the vertex and triangle arrays: a change to the meshing's
// speed must leave this figure as it was.
static double bench_meshhash(const trimesh *m)
{
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&](const void *p, size_t n) {
        for (size_t i = 0; i < n; i++)
            hash = (hash ^ ((const unsigned char *)p)[i]) * 1099511628211ull;
    };
    mix(m->verts, (size_t)m->numverts * sizeof(trimesh_vert));
    for (int64_t t = 0; t < m->numtris; t++)
        mix(m->tris[t].v, sizeof(m->tris[t].v));
    return (double)(hash >> 12); // 52 bits, exact in a counter
}

static void bench_trimesh(benchmark::State &state)
{
    static const std::vector<float> terrain = bench_terrain(bench_side);
    std::unique_ptr<trimesh> m(new trimesh{});
    double mesh = 0, cgal = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        trimesh_mesh(m.get(), terrain.data(), bench_side, bench_side, 0.001f);
        auto t1 = std::chrono::steady_clock::now();
        mesh += std::chrono::duration<double>(t1 - t0).count();
        state.PauseTiming();
        using kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
        std::vector<kernel::Point_2> pts;
        pts.reserve((size_t)m->numverts);
        for (int64_t i = 0; i < m->numverts; i++)
            pts.emplace_back(m->verts[i].x, m->verts[i].y);
        auto c0 = std::chrono::steady_clock::now();
        CGAL::Delaunay_triangulation_2<kernel> dt(pts.begin(), pts.end());
        cgal += std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
        state.counters["cgal_triangles"] = (double)dt.number_of_faces();
        state.ResumeTiming();
    }
    const double n = (double)state.iterations();
    state.counters["seconds"] = mesh / n;
    state.counters["triangles"] = (double)m->numtris;
    state.counters["vertices"] = (double)m->numverts;
    state.counters["Mpx_per_s"] = (double)bench_side * bench_side / 1e6 / (mesh / n);
    state.counters["cgal_seconds"] = cgal / n;
    state.counters["mesh_hash"] = bench_meshhash(m.get());
    trimesh_free(m.get());
}
BENCHMARK(bench_trimesh)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
