// Test helper: a Parallel run over a canvas made from a formula, leaving
// the operation's compiled toolpath in op.toolpath for the test to read
// (its paths, its moves, or the G-code written from it).
#pragma once
#include "cam/parallel.h"
#include "carvetest.h"
#include "gentest.h"

#include <array>
#include <vector>

class ParallelTest : public CarveTest {
protected:
    // Runs Parallel on op; true when it ended with a compiled toolpath.
    bool runparallel()
    {
        op.type = 1;
        if (!rungenerator(camop_parallel))
            return false;
        return op.toolpath >= 0 && toolpaths[op.toolpath].moves != nullptr;
    }
    using vert = std::array<float, 3>;
    // The vertices of path i of the slot, in the order they are cut.
    std::vector<vert> pathverts(uint32_t i) const
    {
        const toolpath &tp = toolpaths[op.toolpath];
        std::vector<vert> out;
        for (uint32_t k = 0; k < tp.paths[i].count; k++) {
            const float *v = tp.verts + 3 * ((size_t)tp.paths[i].first + k);
            out.push_back({v[0], v[1], v[2]});
        }
        return out;
    }
    uint32_t numpaths() const { return toolpaths[op.toolpath].num_paths; }

    // The line generators' set-up: tool 1 a 1/16 flat end mill over a flat
    // canvas of w x h pixels and the given size, its top at z = 0.
    void flatcanvas(int w, int h, const float size[3])
    {
        static const float top[3] = {0, 0, 1};
        cam_settool(1, "flat 1/16", tool_cylinder, 1, 2, 0.0625f, 0.5f, 0.0f, 1.5f, 20.0f);
        usecanvas(carve_makecanvas(w, h, size, top, [](double, double) { return 0.0; }));
    }
    // op as one level 0.1 deep of generator type in direction dir at
    // stepover step; op.cont receives the lines the generator makes.
    void lineop(int type, int dir, float step)
    {
        resetop();
        op.type = type;
        op.step = step, op.z_max = 0.1f, op.z_doc = 0.1f;
        op.dir = dir;
        op.cont = cont_new();
    }
    // Runs gen on op; true when it left a toolpath with moves.
    bool runlines(camop_generator gen) { return rungenerator(gen) && op.toolpath >= 0 && toolpaths[op.toolpath].moves; }
    // Frees what a line generator's run left.
    void done()
    {
        cont_free(op.cont);
        op.cont = nullptr;
        toolpath_free(op.toolpath);
    }
};
