// Test helper: a Standard Stippling run over a canvas made from a formula,
// leaving the operation's toolpath for the test to read. Each dot is one
// two-point plunge: its top and its bottom.
#pragma once
#include "cam/stipple.h"
#include "parallelfixture.h"

class StippleTest : public ParallelTest {
protected:
    // A plunge: x, y and the bottom z.
    struct dot {
        float x, y, z;
    };
    // op as a stipple of spacing step, advection a, dot diameters dmin, dmax.
    void stipple(float step, float a, float dmin, float dmax)
    {
        op.type = 5;
        op.step = step;
        op.aux[0] = a;
        op.aux[1] = dmin;
        op.aux[2] = dmax;
    }
    bool runstipple() { return rungenerator(camop_stipple) && op.toolpath >= 0; }
    std::vector<dot> dots() const
    {
        std::vector<dot> out;
        for (uint32_t i = 0; op.toolpath >= 0 && i < numpaths(); i++) {
            std::vector<vert> v = pathverts(i);
            out.push_back({v.back()[0], v.back()[1], v.back()[2]});
        }
        return out;
    }
};
