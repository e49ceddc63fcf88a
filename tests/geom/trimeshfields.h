// Test helper: the height fields the triangulator tests mesh (a fixed-seed
// random field, a smooth terrain and a bump standing on the border), and
// the structural checks every finished mesh must pass.
#pragma once
#include "geom/trimesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

struct trimesh_field {
    const char *name;
    int w, h;
    float tau;
    std::vector<float> z;
};

inline std::vector<trimesh_field> trimesh_fields()
{
    std::vector<trimesh_field> out;
    trimesh_field rnd{"random", 40, 33, 0.2f, {}};
    std::mt19937 gen(41);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < rnd.w * rnd.h; i++)
        rnd.z.push_back(unit(gen));
    out.push_back(rnd);
    trimesh_field terrain{"terrain", 64, 57, 0.01f, {}};
    for (int y = 0; y < terrain.h; y++)
        for (int x = 0; x < terrain.w; x++)
            terrain.z.push_back((float)(0.5 + 0.25 * std::sin(x * 0.21) * std::cos(y * 0.17) +
                                        0.12 * std::sin(x * 0.05 + y * 0.09) + 0.05 * std::cos(x * 0.7 - y * 0.4)));
    out.push_back(terrain);
    // The worst points lie on the lower border, where an edge-blind scan
    // never looks.
    trimesh_field bump{"bump on border", 50, 30, 0.02f, {}};
    for (int y = 0; y < bump.h; y++)
        for (int x = 0; x < bump.w; x++) {
            const double dx = x - 21.0, dy = y;
            bump.z.push_back((float)std::exp(-(dx * dx + dy * dy) / 30.0));
        }
    out.push_back(bump);
    return out;
}

// Twins point at each other across the same two vertices; every triangle has
// area and turns the same way; the areas cover the grid exactly.
inline void trimesh_expectsound(const trimesh &m, const char *what)
{
    double sum = 0;
    for (int64_t t = 0; t < m.numtris; t++) {
        const trimesh_tri &tri = m.tris[t];
        const trimesh_vert &a = m.verts[tri.v[0]], &b = m.verts[tri.v[1]], &c = m.verts[tri.v[2]];
        const double cross = ((double)b.x - a.x) * ((double)c.y - a.y) - ((double)b.y - a.y) * ((double)c.x - a.x);
        EXPECT_LT(cross, 0.0) << what << ": triangle " << t << " has no area or turns the other way";
        sum += -cross / 2;
        for (int k = 0; k < 3; k++) {
            const int32_t e = tri.twin[k];
            if (e < 0)
                continue;
            const trimesh_tri &u = m.tris[e / 3];
            ASSERT_EQ(u.twin[e % 3], (int32_t)(t * 3 + k)) << what << ": twin of " << t << "." << k;
            EXPECT_EQ(u.v[e % 3], tri.v[(k + 1) % 3]) << what;
            EXPECT_EQ(u.v[(e % 3 + 1) % 3], tri.v[k]) << what;
        }
    }
    EXPECT_NEAR(sum, (double)(m.w - 1) * (m.h - 1), 1e-6) << what;
}
