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
};
