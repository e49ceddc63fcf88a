// Test helper: a Standard Stippling run over a canvas made from a formula,
// leaving the operation's toolpath for the test to read. Each dot is one
// two-point plunge: its top and its bottom. Dithered stippling's operation
// set-up is here too.
#pragma once
#include "cam/stipple.h"
#include "cam/stipple2.h"
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

class Stipple2Test : public ParallelTest {
protected:
    // op as dithered stippling of stipple diameters mindia to maxdia and
    // threshold thresh, cut from the top down to 0.5.
    void setop(float mindia, float maxdia, float thresh)
    {
        resetop();
        op.type = 11;
        op.step = mindia, op.z_doc = maxdia, op.z_max = 0.5f, op.z_min = 0.0f;
        op.aux[0] = thresh, op.aux[1] = 0.5f, op.aux[2] = 0.5f;
        op.flags = camop_anydoc;
    }
};
