// Cut rasterisation judged by the independent carve simulator: the depth
// map of compiled Parallel toolpaths and of a hand-built slot (links, a
// ramp, a dive and a helix-like spiral) equals the carve of the same moves
// as (top - z) / Sz, on canvases whose origin sits at a corner and at the
// middle top; and playback stopped at a fraction of the cut length equals
// the carve of that much of the cut paths.
#include "cam/simraster.h"

#include "cam/compile.h"
#include "cam/simulate.h"
#include "parallelfixture.h"

#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f};
const float corner_frac[3] = {0, 0, 0}, middle_frac[3] = {0.5f, 0.5f, 1}; // top at z = 0.5 and at z = 0
const double pixel = 2.0 / 64;

const carve_toolcase tools[] = {
    {"flat 1/8", tool_cylinder, 0.125f, 1.0f, 0.0f},
    {"ball 1/8", tool_cylinder, 0.125f, 1.0f, 0.0625f},
    {"V 90deg 1/4", tool_vbit, 0.25f, 0.0f, 90.0f},
};

double dome(double u, double v)
{
    const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.45) * (v - 0.45);
    return 0.2 + 0.7 * std::sqrt(std::max(0.0, 0.16 - r2)) / 0.4;
}

// Cut paths in units of the canvas (0..1 of x and y, depth below the top
// as a fraction of z): a ramp into a linked line, a reverse slope, a closed
// square and a spiral diving as it turns.
struct unitpath {
    std::vector<std::array<double, 3>> v;
    int dir;
    uint8_t flags;
};
std::vector<unitpath> mixedpaths()
{
    std::vector<unitpath> p;
    p.push_back({{{0.1, 0.1, 0.0}, {0.4, 0.15, 0.3}}, 1, 0});
    p.push_back({{{0.4, 0.15, 0.3}, {0.9, 0.2, 0.3}, {0.9, 0.4, 0.35}}, 1, PATH_LINK});
    p.push_back({{{0.1, 0.9, 0.4}, {0.5, 0.5, 0.1}, {0.8, 0.85, 0.2}}, -1, PATH_LINK});
    p.push_back({{{0.6, 0.5, 0.5}, {0.75, 0.5, 0.5}, {0.75, 0.65, 0.5}, {0.6, 0.65, 0.5}, {0.6, 0.5, 0.5}}, 1,
                 PATH_CLOSED});
    unitpath spiral{{}, 1, 0};
    for (int k = 0; k <= 48; k++) {
        const double a = k * M_PI / 8, r = 0.15 - 0.002 * k;
        spiral.v.push_back({0.3 + r * std::cos(a), 0.55 + r * std::sin(a), 0.05 + 0.01 * k});
    }
    p.push_back(spiral);
    return p;
}
} // namespace

class SimRasterCarve : public ParallelTest {
protected:
    void TearDown() override
    {
        cam_ops[0].toolpath = -1;
        ParallelTest::TearDown();
    }
    void usebox(const float frac[3])
    {
        usecanvas(carve_makecanvas(64, 64, canvas_size, frac, dome));
        for (int i = 0; i < 3; i++) {
            project.size[i] = canvas_size[i];
            project.originoffset[i] = -frac[i] * canvas_size[i];
        }
        project.aspect = 1.0f;
        sim_width = sim_height = 64;
    }
    // The depth map of the slot's first length of cut, from the start.
    static image *depthmap(int slot, double length)
    {
        cam_ops[0].toolpath = slot, cam_ops[0].tool = 1, cam_ops[0].generating = 0;
        float size[3], origin[3];
        sim_canvasbox(size, origin);
        int path = 0, move = 0;
        double fraction = 0.0;
        return cam_rasteroplength(0, &path, &move, &fraction, &length, size, origin, nullptr, nullptr, 0, nullptr);
    }
    // The largest amount by which the map leaves the range of the carve's
    // depth (below the top, as a fraction of Sz) over the pixel and its
    // eight neighbours: lines are drawn into whole pixels, so an edge of the
    // cut may sit one pixel off, and that is all the map may differ by.
    double worst(const image *map, const carve_grid &g) const
    {
        auto depth = [&](int i, int j) { return std::max(0.0, (canvas.top() - g.at(i, j)) / canvas.size[2]); };
        double w = 0;
        const float *px = (const float *)map->pixels;
        for (int j = 0; j < g.h; j++)
            for (int i = 0; i < g.w; i++) {
                double lo = 1e9, hi = -1e9;
                for (int dj = -1; dj <= 1; dj++)
                    for (int di = -1; di <= 1; di++) {
                        const int x = std::clamp(i + di, 0, g.w - 1), y = std::clamp(j + dj, 0, g.h - 1);
                        lo = std::min(lo, depth(x, y)), hi = std::max(hi, depth(x, y));
                    }
                const double v = px[(size_t)j * g.w + i], off = std::max({0.0, lo - v, v - hi});
                w = std::max(w, off);
            }
        return w;
    }
    // The cutter's height change across one pixel, as depth: what making
    // the profile at the map's pixel pitch may add (a V's tip falls between
    // pixel centres).
    double onepixel(double maxdepth) const
    {
        return carve_toolof(1, maxdepth).maxrise(pixel) / canvas.size[2] + 1e-5;
    }
    // A slot of the unit paths placed on this canvas.
    int makeslot(const std::vector<unitpath> &paths) const
    {
        const int slot = toolpath_new();
        for (const unitpath &p : paths) {
            std::vector<float> v;
            for (const auto &q : p.v) {
                v.push_back((float)(q[0] * canvas.size[0] - canvas.originx()));
                v.push_back((float)(q[1] * canvas.size[1] - canvas.originy()));
                v.push_back((float)(canvas.top() - q[2] * canvas.size[2]));
            }
            const int idx = toolpath_appendverts(slot, p.flags, (int)p.v.size(), v.data(), 0, p.dir);
            toolpath_pushsorted(slot, (uint32_t)idx, p.dir);
        }
        return slot;
    }
};

TEST_F(SimRasterCarve, ParallelDepthMapEqualsTheCarve)
{
    for (const float *frac : {corner_frac, middle_frac}) {
        usebox(frac);
        for (const carve_toolcase &t : tools) {
            SCOPED_TRACE(testing::Message() << t.name << ", origin " << frac[0] << "," << frac[1] << "," << frac[2]);
            carve_settool(t);
            resetop();
            op.step = 0.06f, op.z_max = 0.45f, op.z_doc = 0.25f;
            op.flags = camop_sortpaths | camop_linkcuts | camop_anydoc, op.entry = 1, op.dir = 2;
            ASSERT_TRUE(runparallel());
            image *map = depthmap(op.toolpath, 1e9);
            ASSERT_NE(map, nullptr);
            carve_grid g = canvas.grid(canvas.top());
            carve_run(g, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
            EXPECT_LE(worst(map, g), onepixel(op.z_max));
            img_free(map);
            toolpath_free(op.toolpath);
            op.toolpath = -1;
        }
    }
}

TEST_F(SimRasterCarve, HandBuiltSlotEqualsTheCarve)
{
    for (const float *frac : {corner_frac, middle_frac}) {
        usebox(frac);
        for (const carve_toolcase &t : tools) {
            SCOPED_TRACE(testing::Message() << t.name << ", origin " << frac[0] << "," << frac[1] << "," << frac[2]);
            carve_settool(t);
            const int slot = makeslot(mixedpaths());
            ASSERT_EQ(toolpath_compile(slot, (float)canvas.top() + 0.1f), 1);
            image *map = depthmap(slot, 1e9);
            ASSERT_NE(map, nullptr);
            carve_grid g = canvas.grid(canvas.top());
            carve_run(g, carve_toolof(1, 0.5), carve_frommoves(slot));
            EXPECT_LE(worst(map, g), onepixel(0.5));
            img_free(map);
            toolpath_free(slot);
        }
    }
}

// The carve of the first part of the cut paths, walked in their sorted
// order with the links into linked paths, stopping length into the cut.
static carve_grid carvefirst(const carve_canvas &canvas, int slot, double length)
{
    const toolpath &tp = toolpaths[slot];
    std::vector<carve_point> pts;
    double left = length;
    for (uint32_t s = 0; s < tp.num_sorted && left > 0; s++) {
        const toolpath_path &p = tp.paths[toolpath_sortedpath(tp.sorted[s])];
        const bool fwd = toolpath_sorteddir(tp.sorted[s]) > 0;
        auto vert = [&](uint32_t k) {
            const float *v = tp.verts + 3 * ((size_t)p.first + (fwd ? k : p.count - 1 - k));
            return carve_point{carve_point::feed, v[0], v[1], v[2]};
        };
        carve_point a = vert(0);
        if (!(s > 0 && (p.flags & PATH_LINK)))
            a.kind = carve_point::start;
        pts.push_back(a);
        for (uint32_t k = 1; k < p.count && left > 0; k++) {
            carve_point b = vert(k);
            const double d = std::sqrt(std::pow(b.x - a.x, 2) + std::pow(b.y - a.y, 2) + std::pow(b.z - a.z, 2));
            if (d >= left) {
                const double f = left / d;
                b = {carve_point::feed, a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
            }
            left -= d;
            pts.push_back(b);
            a = b;
        }
    }
    carve_grid g = canvas.grid(canvas.top());
    carve_run(g, carve_toolof(1, 0.5), pts);
    return g;
}

TEST_F(SimRasterCarve, PlaybackAtAFractionEqualsTheCarveOfThatMuch)
{
    usebox(middle_frac);
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
    const int slot = makeslot(mixedpaths());
    double total = 0;
    for (uint32_t k = 0; k < toolpaths[slot].num_paths; k++) {
        const toolpath_path &p = toolpaths[slot].paths[k];
        for (uint32_t i = 1; i < p.count; i++) {
            const float *a = toolpaths[slot].verts + 3 * ((size_t)p.first + i - 1), *b = a + 3;
            total += std::sqrt(std::pow(b[0] - a[0], 2.0) + std::pow(b[1] - a[1], 2.0) + std::pow(b[2] - a[2], 2.0));
        }
    }
    for (double f : {0.1, 0.27, 0.5, 0.73, 0.95}) {
        SCOPED_TRACE(f);
        image *map = depthmap(slot, f * total);
        ASSERT_NE(map, nullptr);
        EXPECT_LE(worst(map, carvefirst(canvas, slot, f * total)), onepixel(0.5));
        img_free(map);
    }
    toolpath_free(slot);
}
