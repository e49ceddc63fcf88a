// Test helper for the offset-pocket tests: the shapes and checks of
// pocketing_shapely.py (shapely as the oracle), a canvas or a paths-layer
// made from a shape, and the cut paths of a finished toolpath read back.
#pragma once
#include "cam/pocketing.h"
#include "geom/path.h"
#include "project/layer.h"

#include "gentest.h"
#include "testchild.h"
#include "testtemp.h"

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

// The oracle's answer: per key, its lines of numbers in order.
using pocket_answer = std::map<std::string, std::vector<std::vector<double>>>;

inline pocket_answer pocket_shapely(const std::string &request)
{
    const std::string in = testtemp_file("pkq"), out = testtemp_file("pka");
    std::ofstream(in) << request;
    pocket_answer result;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/cam/pocketing_shapely.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream s(line);
            std::string key;
            s >> key;
            std::vector<double> numbers;
            double v;
            while (s >> v)
                numbers.push_back(v);
            result[key].push_back(numbers);
        }
    }
    remove(in.c_str());
    remove(out.c_str());
    return result;
}

// One cut path read back: its flags and vertices (x, y, z).
struct pocket_cut {
    uint8_t flags;
    std::vector<float> verts;
    bool entry() const { return flags & (ENGAGE_RAMP | ENGAGE_HELIX); }
};

inline std::vector<pocket_cut> pocket_cuts(int slot)
{
    std::vector<pocket_cut> out;
    const toolpath &tp = toolpaths[slot];
    for (uint32_t i = 0; i < tp.num_paths; i++) {
        const toolpath_path &p = tp.paths[i];
        out.push_back({p.flags, std::vector<float>(tp.verts + (size_t)p.first * 3,
                                                   tp.verts + ((size_t)p.first + p.count) * 3)});
    }
    return out;
}

class PocketTest : public GenTest {
protected:
    static constexpr float tooldiameter = 0.08f;
    float projectsize[3] = {0, 0, 0};
    bool sizesaved = false;
    float engagecutz = 0.0f;
    int engageflag = 0;
    void SetUp() override
    {
        GenTest::SetUp();
        if (!sizesaved) { // tests that start afresh call SetUp again
            std::memcpy(projectsize, project.size, sizeof(projectsize));
            engagecutz = engage_cutz;
            engageflag = engage_flag;
        }
        sizesaved = true;
        project.size[0] = project.size[1] = project.size[2] = 1.0f; // the paths-layers' canvas
        op.type = 10;
        op.aux[0] = 0.875f; // between the floor (0.75) and the top (1)
        op.z_doc = 0.1f;
        op.z_max = 0.25f;
        op.step = 40.0f;
        op.flags = camop_percentstep;
        tool &t = cam_tools[0];
        t.type = tool_cylinder;
        t.flutediameter = t.diameter = tooldiameter;
        t.aux = 0.0f; // flat end
    }
    void TearDown() override
    {
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        std::memcpy(project.size, projectsize, sizeof(projectsize));
        // The generator leaves its last entry height in the shared engage
        // settings; the next test starts from what this one found.
        engage_cutz = engagecutz;
        engage_flag = engageflag;
        GenTest::TearDown();
    }
    float step() const { return tooldiameter * op.step * 0.01f; }

    // Installs the n x n canvas of a shape (1 x 1 x 1, origin at the lower
    // left corner, the region at 0.75, the rest at 1) and returns its rings;
    // heights, when given, receives the field.
    std::vector<std::vector<double>> shapecanvas(const std::string &shape, int n, std::vector<float> *heights = nullptr)
    {
        pocket_answer a = pocket_shapely("{\"op\":\"canvas\",\"shape\":\"" + shape + "\",\"n\":" + std::to_string(n) +
                                         ",\"top\":1,\"floor\":0.75}");
        std::vector<std::vector<double>> rings;
        if (a["field"].size() != 1 || a["field"][0].size() != (size_t)n * n) {
            ADD_FAILURE() << "shapely (python3-shapely) did not answer";
            return rings;
        }
        std::vector<float> f(a["field"][0].begin(), a["field"][0].end());
        const float size[3] = {1, 1, 1}, frac[3] = {0, 0, 0};
        setcanvas(f, n, n, size, frac);
        if (heights)
            *heights = f;
        for (auto &r : a["ring"])
            rings.emplace_back(r.begin() + 1, r.end()); // the pass number first
        return rings;
    }

    // An n x n canvas of 1 x 1 x 1: the floor (0.75) where inside(x, y)
    // holds, else the top.
    static void formulacanvas(int n, const std::function<bool(float, float)> &inside)
    {
        std::vector<float> f((size_t)n * n);
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++)
                f[(size_t)j * n + i] = inside((i + 0.5f) / n, 1.0f - (j + 0.5f) / n) ? 0.75f : 1.0f;
        const float size[3] = {1, 1, 1}, frac[3] = {0, 0, 0};
        setcanvas(f, n, n, size, frac);
    }

    // A paths-layer at the world origin holding the rings as closed curves;
    // op reads it by its uid.
    void pathslayer(const std::vector<std::vector<double>> &rings, uint32_t uid = 0x5EED0010)
    {
        int slot = project_layeralloc(layer_paths);
        ASSERT_GE(slot, 0);
        project_layer &l = project.layers[slot];
        l.uid = uid;
        l.pos[0] = l.pos[1] = l.pos[2] = 0;
        l.size[0] = l.size[1] = l.size[2] = 1;
        l.rotation = 0;
        l.data.pth = path_new();
        for (const auto &r : rings) {
            int c = path_newcurve(l.data.pth);
            for (size_t i = 0; i + 1 < r.size(); i += 2) {
                const float p[3] = {(float)r[i], (float)r[i + 1], 0};
                path_prependknot(l.data.pth, c, p);
            }
            l.data.pth->curves[c].closed = 1;
        }
        op.flags |= camop_pathslayer;
        int32_t word = (int32_t)uid;
        std::memcpy(&op.aux[2], &word, sizeof(word));
    }
};
