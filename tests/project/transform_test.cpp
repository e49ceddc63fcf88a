// Layer transforms: world to layer frame and back (quarter turns exact,
// mirrors, random layers), and an edit applied through the raster selection
// map, checked against pixel places worked out here from the layer's frame.
#include "project/transform.h"

#include "img/image.h"
#include "project/layer.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

class Transforms : public testing::Test {
protected:
    testlog_capture log;
    image *owned[4] = {};
    int nowned = 0;

    void SetUp() override
    {
        memset(&project.layers[0], 0, sizeof(project_layer) * 2);
        project.size[0] = 8;
        project.size[1] = 8;
        project.size[2] = 1;
        selectionmap = nullptr;
    }
    void TearDown() override
    {
        selectionmap = nullptr;
        memset(&project.layers[0], 0, sizeof(project_layer) * 2);
        for (int i = 0; i < nowned; i++)
            img_free(owned[i]);
    }
    project_layer &layer(float rotation, uint32_t flags, float sx = 2, float sy = 2)
    {
        project_layer &l = project.layers[0];
        l.type = layer_raster;
        l.rotation = rotation;
        l.flags = flags;
        l.pos[0] = 3;
        l.pos[1] = -1;
        l.pos[2] = 0.5f;
        l.size[0] = sx;
        l.size[1] = sy;
        l.size[2] = 1;
        l.crop[2] = l.crop[3] = 1;
        return l;
    }
    image *keep(image *img)
    {
        owned[nowned++] = img;
        return img;
    }
};

// ------------------------------------------------------------ frame mapping

TEST_F(Transforms, QuarterTurnsLandAxisPointsExactlyOnAxes)
{
    struct Case {
        const char *what;
        float rotation;
        uint32_t flags;
        float world[3]; // a world offset from the layer position
        float local[3];
    };
    // The layer is 2 x 2: a world offset of 2 along a canvas axis is one
    // layer unit along a layer axis. Positive turns are clockwise.
    const Case cases[] = {
        {"no turn", 0, 0, {2, 0, 0}, {1, 0, 0}},
        {"quarter turn: canvas +y is layer -x", 90, 0, {0, 2, 0}, {-1, 0, 0}},
        {"quarter turn: canvas +x is layer +y", 90, 0, {2, 0, 0}, {0, 1, 0}},
        {"half turn", 180, 0, {2, 0, 0}, {-1, 0, 0}},
        {"three quarters", 270, 0, {0, 2, 0}, {1, 0, 0}},
        {"within 0.0001 of a quarter", 90.00005f, 0, {0, 2, 0}, {-1, 0, 0}},
        {"quarter turn mirrored in x", 90, layer_mirrorx, {0, 2, 0}, {1, 0, 0}},
        {"half turn mirrored in y", 180, layer_mirrory, {0, 2, 0}, {0, 1, 0}},
        {"z only moves", 0, 0, {0, 0, 3}, {0, 0, 3}},
    };
    for (const Case &c : cases) {
        const project_layer &l = layer(c.rotation, c.flags);
        const float world[3] = {l.pos[0] + c.world[0], l.pos[1] + c.world[1], l.pos[2] + c.world[2]};
        float local[3], back[3];
        layer_worldtolocal(local, world, 0);
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(local[k], c.local[k]) << c.what << " axis " << k;
        if (c.world[2] != 0)
            continue; // only the way back scales z
        layer_localtoworld(back, c.local, 0);
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(back[k], world[k]) << c.what << " back, axis " << k;
    }
}

TEST_F(Transforms, FullTurnIsComputedNotTakenAsExact)
{
    layer(360, 0);
    const float world[3] = {3, 1, 0.5f}; // two units along canvas +y
    float local[3];
    layer_worldtolocal(local, world, 0);
    EXPECT_NEAR(local[1], 1.0f, 1e-6);
    // sin(2 pi) in double leaves a trace on x that the exact turns never do.
    EXPECT_NE(local[0], 0.0f);
    EXPECT_NEAR(local[0], 0.0f, 1e-12);
}

TEST_F(Transforms, WorldToLocalAndBackOnRandomLayers)
{
    std::mt19937 rng(26);
    std::uniform_real_distribution<float> pos(-50, 50), size(0.2f, 30), ang(-720, 720), off(-40, 40);
    for (int i = 0; i < 4000; i++) {
        project_layer &l = layer(i % 10 == 0 ? 90.0f * (i % 7) : ang(rng), (uint32_t)(i % 4) * 4, size(rng),
                                 size(rng));
        l.pos[0] = pos(rng);
        l.pos[1] = pos(rng);
        l.pos[2] = pos(rng);
        const float world[3] = {off(rng), off(rng), off(rng)};
        float local[3], back[3];
        layer_worldtolocal(local, world, 0);
        layer_localtoworld(back, local, 0);
        const double scale = std::max({1.0, (double)std::fabs(world[0]), (double)std::fabs(world[1])});
        EXPECT_NEAR(back[0], world[0], 1e-5 * scale) << i;
        EXPECT_NEAR(back[1], world[1], 1e-5 * scale) << i;
        EXPECT_NEAR(back[2], world[2], 1e-5 * std::max(1.0f, std::fabs(world[2]))) << i;
    }
}

TEST_F(Transforms, BadSlotGivesZerosAndALogLine)
{
    const float p[3] = {1, 2, 3};
    float out[3] = {9, 9, 9};
    layer_worldtolocal(out, p, -1);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_TRUE(log.contains("layer_worldtolocal"));
    out[0] = 9;
    layer_localtoworld(out, p, project_maxlayers);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_TRUE(log.contains("layer_localtoworld"));
}

// ------------------------------------------------------- selection edits

// A 64 x 64 raster layer 4 x 4 units large centred at (4, 4) of the 8 x 8
// canvas, over a 64 x 64 selection map: one map pixel is 1/8 unit.
constexpr int side = 64;

image *filled(const char *name, float v)
{
    image *img = img_allocfloat(name, side, side);
    float *p = (float *)img->pixels;
    for (int k = 0; k < side * side; k++)
        p[k] = v;
    return img;
}

TEST_F(Transforms, EmptySelectionKeepsAndFullSelectionCopies)
{
    project_layer &l = layer(30, layer_mirrorx, 4, 4);
    l.pos[0] = l.pos[1] = 4;
    l.data.img = keep(filled("layer", 0.25f));
    image *edited = keep(filled("edited", 0.75f));
    struct Case {
        float weight, expect;
    };
    for (const Case &c : {Case{0, 0.25f}, Case{1, 0.75f}}) {
        float *p = (float *)l.data.img->pixels;
        for (int k = 0; k < side * side; k++)
            p[k] = 0.25f;
        image *map = filled("selection", c.weight);
        selectionmap = map;
        layer_applyselection(0, edited);
        int wrong = 0;
        for (int k = 0; k < side * side; k++)
            wrong += p[k] != c.expect;
        EXPECT_EQ(wrong, 0) << "selection weight " << c.weight;
        selectionmap = nullptr;
        img_free(map);
    }
}

TEST_F(Transforms, SelectionOnATurnedOrMirroredLayerEditsTheSelectedPixels)
{
    struct Case {
        float rotation;
        uint32_t flags;
    };
    const Case cases[] = {{0, 0}, {0, layer_mirrorx}, {0, layer_mirrory}, {0, layer_mirrorx | layer_mirrory},
                          {90, 0}, {90, layer_mirrorx}, {30, layer_mirrory}, {210, layer_mirrorx}};
    // Selected: the canvas rectangle x 2..4, y 4.5..6, part of the layer.
    const float sx0 = 2, sx1 = 4, sy0 = 4.5f, sy1 = 6;
    image *map = keep(filled("selection", 0));
    float *m = (float *)map->pixels;
    for (int row = 0; row < side; row++)
        for (int col = 0; col < side; col++) {
            const float x = (col + 0.5f) / 8, y = 8 - (row + 0.5f) / 8;
            m[row * side + col] = x > sx0 && x < sx1 && y > sy0 && y < sy1 ? 1.0f : 0.0f;
        }
    image *edited = keep(filled("edited", 1));
    for (const Case &c : cases) {
        project_layer &l = layer(c.rotation, c.flags, 4, 4);
        l.pos[0] = l.pos[1] = 4;
        image *img = filled("layer", 0);
        l.data.img = img;
        selectionmap = map;
        layer_applyselection(0, edited);
        const double r = c.rotation * 3.14159265358979323846 / 180;
        const double mx = c.flags & layer_mirrorx ? -1 : 1, my = c.flags & layer_mirrory ? -1 : 1;
        int inside = 0, wrong = 0;
        const float *p = (const float *)img->pixels;
        for (int j = 0; j < side; j++)
            for (int i = 0; i < side; i++) {
                // Where pixel (i, j) shows on the canvas: row 0 at the top
                // of the layer, axes (cos r, -sin r) and (sin r, cos r).
                const double a = 4 * ((i + 0.5) / side - 0.5) * mx, b = 4 * (0.5 - (j + 0.5) / side) * my;
                const double x = 4 + a * std::cos(r) + b * std::sin(r), y = 4 - a * std::sin(r) + b * std::cos(r);
                // Two map pixels of margin keep sampling conventions out.
                const double e = 0.25;
                const bool in = x > sx0 + e && x < sx1 - e && y > sy0 + e && y < sy1 - e;
                const bool out = x < sx0 - e || x > sx1 + e || y < sy0 - e || y > sy1 + e;
                inside += in;
                // Bilinear weights in float may sum to one less an ulp.
                if ((in && std::fabs(p[j * side + i] - 1.0f) > 1e-6f) || (out && p[j * side + i] != 0.0f))
                    wrong++;
            }
        EXPECT_GT(inside, 100) << c.rotation << " flags " << c.flags;
        EXPECT_EQ(wrong, 0) << c.rotation << " flags " << c.flags;
        selectionmap = nullptr;
        l.data.img = nullptr;
        img_free(img);
    }
}

TEST_F(Transforms, SelectionSizeMismatchIsLoggedAndChangesNothing)
{
    project_layer &l = layer(0, 0, 4, 4);
    l.data.img = keep(filled("layer", 0.5f));
    selectionmap = keep(filled("selection", 1));
    image *small = keep(img_allocfloat("edited", 8, 8));
    layer_applyselection(0, small);
    EXPECT_TRUE(log.contains("layer_applyselection: edited image 8x8 does not match the layer's 64x64"));
    EXPECT_EQ(((float *)l.data.img->pixels)[0], 0.5f);
    selectionmap = nullptr;
}

} // namespace
