// Medial-axis carving's refusals: a tool without a cutter type has no depth
// rule, and outlines left open by the canvas edge need "Include Edges".
#include "cam/compile.h"
#include "cam/medialaxis.h"

#include "gentest.h"
#include "shapestest.h"

#include <algorithm>
#include <set>

TEST_F(GenTest, MedialAxisRefusesWhatItCannotCarve)
{
    struct Case {
        const char *name;
        int tooltype;
        int touchesedge;
        uint32_t flags;
        int fails;
        const char *line;
    } const cases[] = {
        {"no cutter type", tool_none, 0, 0, 1, "camop_medialaxis: tool1 has no cutter type"},
        {"outline open at the edge", tool_vbit, 1, 0, 1, "Encountered non-closed contours!"},
        {"edges included", tool_vbit, 1, camop_confine, 0, "generating toolpath..."},
        {"closed outline", tool_vbit, 0, 0, 0, "generating toolpath..."},
    };
    const int w = 48;
    const float size[3] = {1, 1, 0.5f}, frac[3] = {0, 0, 1};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        std::vector<float> f(w * w, 0.0f);
        for (int j = 16; j < 32; j++)
            for (int i = c.touchesedge ? 0 : 8; i < 40; i++)
                f[j * w + i] = 1.0f;
        setcanvas(f, w, w, size, frac);
        cam_settool(1, "cutter", c.tooltype, 1, 2, 0.25f, 0.5f, 60.0f, 1.5f, 20.0f);
        op.type = 6;
        op.aux[0] = 0.25f;
        op.z_doc = 0.05f;
        op.z_max = 0.1f;
        op.flags = c.flags;
        testlog_capture log;
        ASSERT_TRUE(rungenerator());
        EXPECT_TRUE(log.contains(c.line));
        if (c.fails) {
            EXPECT_EQ(op.toolpath, -1);
            std::vector<std::string> n = notices();
            EXPECT_FALSE(n.empty());
            EXPECT_EQ(n.back(), "Operation Toolpath Failure");
        } else {
            ASSERT_GE(op.toolpath, 0);
            EXPECT_GT(toolpaths[op.toolpath].num_paths, 0u);
        }
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
}

namespace {

// The highest Z the compiled moves of a slot reach: the safe height.
float highestmove(int slot)
{
    const toolpath &tp = toolpaths[slot];
    float z = -1e9f;
    size_t at = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++)
        for (uint32_t k = 0; k < tp.moves[m].count; k++)
            for (int axis = 0; axis < 3; axis++)
                if (tp.moves[m].code & (1u << axis)) {
                    if (axis == 2)
                        z = std::max(z, tp.parms[at]);
                    at++;
                }
    return z;
}

struct medpath {
    std::vector<float> v;
    float lo, hi, mean;
};

std::vector<medpath> medpaths(int slot)
{
    std::vector<medpath> out;
    const toolpath &tp = toolpaths[slot];
    for (uint32_t i = 0; i < tp.num_paths; i++) {
        medpath p{{tp.verts + tp.paths[i].first * 3, tp.verts + (tp.paths[i].first + tp.paths[i].count) * 3},
                  1e9f, -1e9f, 0.0f};
        for (size_t k = 2; k < p.v.size(); k += 3) {
            p.lo = std::min(p.lo, p.v[k]);
            p.hi = std::max(p.hi, p.v[k]);
            p.mean += p.v[k] / (float)tp.paths[i].count;
        }
        out.push_back(p);
    }
    return out;
}

// The largest distance from a vertex of a, raised by dz, to the nearest
// segment of b's paths.
float farthest(const std::vector<medpath> &a, const std::vector<medpath> &b, float dz)
{
    float worst = 0.0f;
    for (const medpath &p : a)
        for (size_t k = 0; k < p.v.size(); k += 3) {
            const float q[3] = {p.v[k], p.v[k + 1], p.v[k + 2] - dz};
            float best = 1e9f;
            for (const medpath &o : b)
                for (size_t j = 0; j + 5 < o.v.size(); j += 3) {
                    const float *s = &o.v[j], *e = &o.v[j + 3];
                    float d[3], w[3], dd = 0, t = 0;
                    for (int c = 0; c < 3; c++) {
                        d[c] = e[c] - s[c];
                        w[c] = q[c] - s[c];
                        dd += d[c] * d[c];
                        t += d[c] * w[c];
                    }
                    t = dd > 0 ? std::clamp(t / dd, 0.0f, 1.0f) : 0.0f;
                    float r = 0;
                    for (int c = 0; c < 3; c++)
                        r += (w[c] - t * d[c]) * (w[c] - t * d[c]);
                    best = std::min(best, std::sqrt(r));
                }
            worst = std::max(worst, best);
        }
    return worst;
}

} // namespace

// A wedge carved with a V-bit over three levels. Each stretch of the axis is
// cut at one level only: between that level and the one above. "Mixed"
// turns every second level round. The depth offset is a depth: it lowers
// every cut by its amount (the carving starts that far below the canvas
// top), while the safe height stays at the stock top + z_safe.
TEST_F(GenTest, MedialAxisLevelsDirectionsAndDepthOffset)
{
    const int w = 64;
    const float size[3] = {1, 1, 0.5f}, frac[3] = {0, 0, 1}; // top at z = 0
    std::vector<float> f(w * w, 0.0f);
    for (int j = 0; j < w; j++)
        for (int i = 0; i < w; i++) {
            const float x = (i + 0.5f) / w, y = (j + 0.5f) / w;
            f[j * w + i] = x > 0.15f && x < 0.85f && std::fabs(y - 0.5f) < 0.17f * (x - 0.15f) / 0.7f ? 1.0f : 0.0f;
        }
    setcanvas(f, w, w, size, frac);
    cam_settool(1, "vee", tool_vbit, 1, 2, 0.25f, 0.0f, 60.0f, 1.5f, 20.0f);
    auto run = [&](int dir, float offset) {
        resetop();
        op.type = 6;
        op.aux[0] = 0.25f;
        op.aux[1] = offset;
        op.z_doc = 0.05f;
        op.z_max = 0.15f;
        op.dir = dir;
        EXPECT_TRUE(rungenerator());
        EXPECT_GE(op.toolpath, 0) << "the job failed";
        std::vector<medpath> p = op.toolpath >= 0 ? medpaths(op.toolpath) : std::vector<medpath>{};
        const float safe = op.toolpath >= 0 ? highestmove(op.toolpath) : 0.0f;
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
        return std::make_pair(p, safe);
    };
    const auto [plain, safe] = run(0, 0.0f);
    const float levels[] = {0.0f, -0.05f, -0.1f, -0.15f};
    std::vector<int> level(plain.size());
    std::set<int> used;
    for (size_t i = 0; i < plain.size(); i++) {
        const medpath &p = plain[i];
        int k = 1;
        while (k < 3 && p.mean < levels[k] - 1e-5f)
            k++;
        level[i] = k;
        used.insert(k);
        EXPECT_GE(p.lo, levels[k] - 1e-4f) << "path " << i;
        EXPECT_LE(p.hi, levels[k - 1] + 1e-4f) << "path " << i << " cut again above its level";
    }
    EXPECT_EQ(used, (std::set<int>{1, 2, 3}));
    EXPECT_NEAR(safe, 0.1f, 1e-5f);

    const auto mixed = run(2, 0.0f).first;
    ASSERT_EQ(mixed.size(), plain.size());
    for (size_t i = 0; i < plain.size(); i++) {
        std::vector<float> want = plain[i].v;
        if (level[i] == 2)
            for (size_t a = 0, b = want.size() - 3; a < b; a += 3, b -= 3)
                std::swap_ranges(want.begin() + a, want.begin() + a + 3, want.begin() + b);
        EXPECT_EQ(mixed[i].v, want) << "path " << i << " at level " << level[i];
    }

    // The same cuts 0.05 lower: each vertex of either run lies on the
    // other's cuts moved by the offset (the band's crossing points may fall
    // a little differently).
    const auto [lowered, lsafe] = run(0, 0.05f);
    EXPECT_NEAR(lsafe, 0.1f, 1e-5f) << "the safe height stays at the stock top + z_safe";
    EXPECT_LT(farthest(lowered, plain, -0.05f), 0.003f);
    EXPECT_LT(farthest(plain, lowered, 0.05f), 0.003f);
}

// The paths inputs: a shape drawn by shapely in a paths-layer (or its
// group) is traced as drawn without a stock, and with one from a distance
// field valued at the stock: the outline then lies on shapely's buffer of
// the shape by the stock, within a pixel.
TEST_F(GenTest, MedialAxisPathsInputsAgainstShapely)
{
    const std::vector<std::vector<double>> rings = shapes_rings("blob");
    ASSERT_FALSE(rings.empty()) << "/usr/bin/python3 tests/cam/shapes_shapely.py failed (needs python3-shapely)";
    const float savedsize[3] = {project.size[0], project.size[1], project.size[2]};
    project.size[0] = project.size[1] = 1.0f;
    project.size[2] = 0.5f;
    const uint32_t uid = 0x0C0FFEE5;
    const int group = 7;
    const int slot = shapes_pathslayer(rings, uid, group);
    ASSERT_GE(slot, 0);
    const int w = 64;
    const float size[3] = {1, 1, 0.5f}, frac[3] = {0, 0, 1};
    setcanvas(std::vector<float>(w * w, 0.0f), w, w, size, frac);
    cam_settool(1, "vee", tool_vbit, 1, 2, 0.25f, 0.0f, 60.0f, 1.5f, 20.0f);
    struct Case {
        const char *name;
        uint32_t flags;
        float word;
        float stock;
    } const cases[] = {
        {"layer as drawn", camop_pathslayer, shapes_word(uid), 0.0f},
        {"layer grown by a stock", camop_pathslayer, shapes_word(uid), 0.03f},
        {"group shrunk by a stock", camop_pathsgroup, shapes_word(group), -0.03f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        op.type = 6;
        op.flags = c.flags;
        op.aux[2] = c.word;
        op.stock = c.stock;
        op.z_doc = 0.05f;
        op.z_max = 0.1f;
        op.cont = cont_new();
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0) << "the job failed";
        EXPECT_GT(toolpaths[op.toolpath].num_paths, 0u);
        // The outline is the working contour's first polyline.
        ASSERT_GE(op.cont->numpolys, 1u);
        std::ostringstream q;
        q << "[{\"op\":\"offset\",\"name\":\"blob\",\"distance\":" << c.stock << ",\"points\":[";
        for (uint32_t k = 0; k < op.cont->vertcount[0]; k++)
            q << (k ? "," : "") << "[" << op.cont->verts[k * 3] << "," << op.cont->verts[k * 3 + 1] << "]";
        q << "]}]";
        const std::vector<std::string> a = shapes_ask(q.str());
        ASSERT_EQ(a.size(), 1u);
        const std::vector<double> d = shapes_numbers(a[0]);
        ASSERT_EQ(d.size(), op.cont->vertcount[0]);
        EXPECT_LE(*std::max_element(d.begin(), d.end()), 1.0 / w);
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
    project_layerfree(slot);
    std::memcpy(project.size, savedsize, sizeof(savedsize));
}
