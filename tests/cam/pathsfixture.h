// Test helper for Paths Carving: a 2 x 2 inch canvas from a formula and a
// paths-layer over all of it holding two open cubic curves and one closed
// one, with each curve also sampled densely by the test's own evaluation of
// its Bezier segments (placed on the canvas through the layer's frame).
#pragma once
#include "cam/pathscut.h"
#include "carvetest.h"
#include "geom/path.h"
#include "gentest.h"
#include "project/layer.h"
#include "project/transform.h"

#include <array>
#include <cstring>
#include <vector>

class PathsTest : public GenTest {
protected:
    struct bez {
        float p0[2], c1[2], c2[2], p1[2];
    };
    // Curve segments in the layer's own units (-0.5..0.5 across the layer).
    const std::vector<std::vector<bez>> curves = {
        {{{-0.4f, -0.3f}, {-0.1f, 0.45f}, {0.1f, -0.45f}, {0.4f, 0.3f}}},
        {{{-0.4f, 0.35f}, {-0.2f, 0.45f}, {0.1f, 0.2f}, {0.3f, 0.42f}}},
        {{{0.1f, -0.4f}, {0.3f, -0.4f}, {0.4f, -0.3f}, {0.4f, -0.1f}},
         {{0.4f, -0.1f}, {0.4f, 0.1f}, {0.3f, 0.1f}, {0.1f, 0.1f}},
         {{0.1f, 0.1f}, {-0.1f, 0.1f}, {-0.2f, 0.0f}, {-0.2f, -0.15f}},
         {{-0.2f, -0.15f}, {-0.2f, -0.3f}, {-0.1f, -0.4f}, {0.1f, -0.4f}}},
    };
    const int curveclosed[3] = {0, 0, 1};
    int slot = -1;
    uint32_t uid = 0;
    carve_canvas canvas{};

    void TearDown() override
    {
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        GenTest::TearDown();
    }
    void usecanvas(const carve_canvas &c)
    {
        canvas = c;
        setcanvas(c.field, c.w, c.h, c.size, c.frac);
        memcpy(project.size, c.size, sizeof(project.size));
        project.scale = 1.0f;
    }
    // The layer over the whole canvas; its uid goes into aux[0].
    void addlayer()
    {
        slot = project_layeralloc(layer_paths);
        ASSERT_GE(slot, 0);
        project_layer &l = project.layers[slot];
        l.pos[0] = (float)(canvas.size[0] / 2 - canvas.originx());
        l.pos[1] = (float)(canvas.size[1] / 2 - canvas.originy());
        l.size[0] = canvas.size[0], l.size[1] = canvas.size[1], l.size[2] = 1;
        l.rotation = 0;
        l.data.pth = path_new();
        for (size_t c = 0; c < curves.size(); c++) {
            int k = path_newcurve(l.data.pth);
            int prev = -1;
            for (const bez &b : curves[c]) {
                if (prev < 0)
                    prev = knotat(k, b.p0);
                std::memcpy(l.data.pth->knots[prev].h2, b.c1, 2 * sizeof(float));
                prev = knotat(k, b.p1);
                std::memcpy(l.data.pth->knots[prev].h1, b.c2, 2 * sizeof(float));
            }
            l.data.pth->curves[k].closed = curveclosed[c];
        }
        uid = l.uid;
        std::memcpy(&op.aux[0], &uid, sizeof(uid));
    }
    int knotat(int curve, const float *p)
    {
        const float q[3] = {p[0], p[1], 0};
        return path_prependknot(project.layers[slot].data.pth, curve, q);
    }
    // Every curve sampled at 400 points a segment, on the canvas.
    std::vector<std::array<float, 2>> samples() const
    {
        std::vector<std::array<float, 2>> out;
        for (const auto &curve : curves)
            for (const bez &b : curve)
                for (int i = 0; i <= 400; i++) {
                    const double t = i / 400.0, u = 1 - t;
                    float local[3] = {0, 0, 0};
                    for (int a = 0; a < 2; a++)
                        local[a] = (float)(u * u * u * b.p0[a] + 3 * u * u * t * b.c1[a] + 3 * u * t * t * b.c2[a] +
                                           t * t * t * b.p1[a]);
                    float world[3];
                    layer_localtoworld(world, local, slot);
                    out.push_back({world[0], world[1]});
                }
        return out;
    }
    // The first and last point of curve c on the canvas.
    std::array<float, 2> curveend(size_t c, bool last) const
    {
        const bez &b = last ? curves[c].back() : curves[c].front();
        const float local[3] = {last ? b.p1[0] : b.p0[0], last ? b.p1[1] : b.p0[1], 0};
        float world[3];
        layer_localtoworld(world, local, slot);
        return {world[0], world[1]};
    }
    static float nearest(const std::vector<std::array<float, 2>> &s, const float *v)
    {
        float best = 1e9f;
        for (const auto &q : s)
            best = std::min(best, std::hypot(q[0] - v[0], q[1] - v[1]));
        return best;
    }
};
