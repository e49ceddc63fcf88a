// Test helper between the program and the carve simulator: reference-style
// fields made from formulas, their world heights as simulator grids, a
// compiled toolpath slot read back as simulator moves, and a tool record
// read as an analytic cutter. The conversions are the test's own reading of
// the records; the simulator itself never sees them.
#pragma once
#include "cam/compile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "carvesim.h"
#include "gentest.h"
#include "img/image.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

// The most the relief changes between neighbouring pixels: the tolerance of
// judging a cut sampled once per pixel.
inline double carve_pixelchange(const carve_grid &t)
{
    double worst = 0;
    for (int j = 0; j < t.h; j++)
        for (int i = 0; i < t.w; i++) {
            if (i + 1 < t.w)
                worst = std::max(worst, std::fabs(t.at(i + 1, j) - t.at(i, j)));
            if (j + 1 < t.h)
                worst = std::max(worst, std::fabs(t.at(i, j + 1) - t.at(i, j)));
        }
    return worst;
}

// A canvas of w x h pixels over size (x, y, z) with the origin at frac of the
// size; heights 0..1 of size z. Row 0 lies at the canvas's largest y.
struct carve_canvas {
    int w, h;
    float size[3], frac[3];
    std::vector<float> field;
    double originx() const { return size[0] * frac[0]; }
    double originy() const { return size[1] * frac[1]; }
    double originz() const { return size[2] * frac[2]; }
    double top() const { return size[2] - originz(); }
    // An empty grid over the canvas (row 0 at the top edge).
    carve_grid grid(double fill) const
    {
        carve_grid g;
        g.w = w, g.h = h;
        g.px = size[0] / w, g.py = size[1] / h;
        g.x0 = -originx();
        g.y0 = size[1] - originy();
        g.z.assign((size_t)w * h, fill);
        return g;
    }
    // World heights of a 0..1 field of this canvas's size.
    carve_grid world(const float *f) const
    {
        carve_grid g = grid(0.0);
        for (size_t k = 0; k < g.z.size(); k++)
            g.z[k] = f[k] * size[2] - originz();
        return g;
    }
    carve_grid world() const { return world(field.data()); }
};

// A field from a formula of the pixel centre in units of the canvas
// (u, v in 0..1, v = 0 at the top row).
inline carve_canvas carve_makecanvas(int w, int h, const float size[3], const float frac[3],
                                     const std::function<double(double, double)> &f)
{
    carve_canvas c{w, h, {size[0], size[1], size[2]}, {frac[0], frac[1], frac[2]}, {}};
    c.field.resize((size_t)w * h);
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            c.field[(size_t)j * w + i] = (float)std::clamp(f((i + 0.5) / w, (j + 0.5) / h), 0.0, 1.0);
    return c;
}

// The moves of a compiled slot: runs of points that give only the axes
// their code names, starting from the origin as the machine does.
inline std::vector<carve_point> carve_frommoves(int slot)
{
    std::vector<carve_point> out;
    const toolpath &tp = toolpaths[slot];
    double pos[3] = {0, 0, 0};
    size_t at = 0;
    bool placed = false;
    for (uint32_t m = 0; m < tp.num_moves; m++) {
        const move &mv = tp.moves[m];
        for (uint32_t k = 0; k < mv.count; k++) {
            for (int axis = 0; axis < 3; axis++)
                if (mv.code & (1u << axis))
                    pos[axis] = tp.parms[at++];
            carve_point::kind_t kind = mv.kind == move_rapid ? carve_point::rapid : carve_point::feed;
            // The first move leaves an unknown place: it only places the cutter.
            out.push_back({placed ? kind : carve_point::start, pos[0], pos[1], pos[2]});
            placed = true;
        }
    }
    return out;
}

// Tool n (1-based) as an analytic cutter, its flutes cut at maxdepth.
inline carve_tool carve_toolof(int n, double maxdepth)
{
    const tool &t = cam_tools[n - 1];
    const double flutes = std::min((double)t.flutelength, maxdepth);
    switch (t.type) {
    case tool_cylinder:
        return carve_bullnose(t.flutediameter, t.aux);
    case tool_tapered:
        return carve_tapered(t.flutediameter, t.aux, flutes);
    case tool_vbit:
        return carve_vee(std::min((double)t.flutediameter, 2 * flutes * std::tan(t.aux * M_PI / 360.0)), t.aux);
    case tool_taperball:
        return carve_taperball(t.flutediameter, t.aux, flutes);
    }
    return carve_flat(0.0);
}

// A relief of a table of cases: its name and its height over the unit
// square (u right, v up).
struct carve_relief {
    const char *name;
    double (*height)(double u, double v);
};

// A cutter of a table of cases, in the tool record's terms.
struct carve_toolcase {
    const char *name;
    int type;
    float flutediameter, flutelength, aux;
};

// Makes the case tool 1: two flutes, inch units.
inline void carve_settool(const carve_toolcase &t)
{
    cam_settool(1, t.name, t.type, 1, 2, t.flutediameter, t.flutelength, t.aux, 1.5f, 20.0f);
}

// A generator fixture over a canvas made by carve_makecanvas, kept for the
// simulator to judge the cuts against.
class CarveTest : public GenTest {
protected:
    carve_canvas canvas{};
    void usecanvas(const carve_canvas &c)
    {
        canvas = c;
        setcanvas(c.field, c.w, c.h, c.size, c.frac);
    }
};
