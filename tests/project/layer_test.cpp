// Layer slots: allocation with its overflow, placement after the selected
// layer and identity; release by type with the shared meshes and text
// objects; names; fitting; uid search; swaps; paths-layer bounds and the
// layer frame mapping, the latter checked against a matrix built here.
#include "project/layer.h"

#include "geom/model.h"
#include "geom/path.h"
#include "img/image.h"
#include "render/draw.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/frame.h"
#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

class Layers : public testing::Test {
protected:
    testlog_capture log;

    void SetUp() override
    {
        for (int i = 0; i < project_maxlayers; i++) {
            project_layer &l = project.layers[i];
            memset(&l, 0, sizeof(l));
            snprintf(l.name, sizeof(l.name), "Unused Layer");
            l.uid = 0xFFFFFFFFu;
        }
        numlayers = 0;
        memset(numlayertypes, 0, sizeof(numlayertypes));
        memset(project_meshuses, 0, sizeof(project_meshuses));
        project_selectedlayer = -1;
        project_saved = 1;
        project.size[0] = 12;
        project.size[1] = 6;
        project.size[2] = 1.5f;
        project.aspect = project.size[1] / project.size[0];
        sys_time = 1.0;
    }
    void TearDown() override
    {
        for (int i = 0; i < project_maxlayers; i++) {
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        }
        for (int i = 0; i < mdl_maxmodels; i++)
            mdl_free(i);
        project_selectedlayer = -1;
        sys_time = 0.0;
    }
    // Fills every slot with a raster-layer; returns their uids by slot.
    std::vector<uint32_t> fill()
    {
        std::vector<uint32_t> uids;
        for (int i = 0; i < project_maxlayers; i++) {
            sys_time = 1.0 + i;
            EXPECT_EQ(project_layeralloc(layer_raster), i);
            uids.push_back(project.layers[i].uid);
        }
        return uids;
    }
};

// ------------------------------------------------------------- allocation

TEST_F(Layers, AllocationSetsUpANewLayerOnTheCanvas)
{
    int slot = project_layeralloc(layer_paths);
    ASSERT_EQ(slot, 0);
    const project_layer &l = project.layers[0];
    EXPECT_EQ(l.type, layer_paths);
    EXPECT_STREQ(l.name, "PathsLayer");
    EXPECT_EQ(l.blend, 3);
    EXPECT_EQ(l.zfill, 0.0f);
    EXPECT_EQ(l.pos[0], 6.0f);
    EXPECT_EQ(l.pos[1], 3.0f);
    EXPECT_EQ(l.pos[2], 0.0f);
    EXPECT_EQ(l.size[0], 12.0f);
    EXPECT_EQ(l.size[1], 6.0f);
    EXPECT_EQ(l.size[2], 1.5f);
    EXPECT_EQ(l.crop[2], 1.0f);
    EXPECT_EQ(l.crop[3], 1.0f);
    EXPECT_EQ(l.stale, 1u);
    EXPECT_EQ(l.rendermodel, -1);
    EXPECT_EQ(numlayers, 1);
    EXPECT_EQ(numlayertypes[layer_paths], 1);
    EXPECT_EQ(project_saved, 0u);
    // A slot reused by a model-layer starts without a mesh.
    project_layerfree(0);
    ASSERT_EQ(project_layeralloc(layer_model), 0);
    EXPECT_EQ(project.layers[0].data.mesh, -1);
}

TEST_F(Layers, The65thAllocationFailsAndChangesNothing)
{
    fill();
    std::vector<project_layer> before(project.layers, project.layers + project_maxlayers);
    project_saved = 1;
    EXPECT_EQ(project_layeralloc(layer_raster), -1);
    EXPECT_TRUE(log.contains("[ ERROR ] project_layeralloc: canvas layers overflow!"));
    EXPECT_EQ(memcmp(before.data(), project.layers, sizeof(project.layers)), 0);
    EXPECT_EQ(numlayers, 64);
    EXPECT_EQ(numlayertypes[layer_raster], 64);
    EXPECT_EQ(project_saved, 1u);
}

TEST_F(Layers, InvalidTypesAreRefused)
{
    for (int type : {-1, 0, 5, 99}) {
        EXPECT_EQ(project_layeralloc(type), -1) << type;
        EXPECT_TRUE(log.contains("project_layeralloc: invalid layer type:" + std::to_string(type))) << type;
    }
    EXPECT_EQ(numlayers, 0);
    EXPECT_EQ(project.layers[0].type, layer_free);
}

// The table is full, one slot is freed and a layer is selected; the new
// layer lands right after the selected one and the layers between move by
// one toward the freed slot.
TEST_F(Layers, PlacementPutsTheNewLayerAfterTheSelectedOne)
{
    struct Case {
        int selected, firstfree, slot;
        int from, to; // old slots from..to move by shift
        int shift;
    };
    const Case cases[] = {
        {3, 7, 4, 4, 6, +1},
        {63, 10, 63, 11, 63, -1},
        {6, 7, 7, 0, -1, 0},  // already after the selected layer
        {-1, 20, 20, 0, -1, 0}, // none selected
        {10, 3, 10, 4, 10, -1}, // freed slot below: the selected layer moves down
        {0, 63, 1, 1, 62, +1},
    };
    for (const Case &c : cases) {
        SetUp();
        std::vector<uint32_t> uids = fill();
        project_layerfree(c.firstfree);
        project_selectedlayer = c.selected;
        sys_time = 500.0;
        int slot = project_layeralloc(layer_text);
        ASSERT_EQ(slot, c.slot) << c.selected << "/" << c.firstfree;
        EXPECT_EQ(project.layers[slot].type, layer_text);
        for (int old = 0; old < project_maxlayers; old++) {
            if (old == c.firstfree)
                continue;
            int now = old >= c.from && old <= c.to ? old + c.shift : old;
            EXPECT_EQ(project.layers[now].uid, uids[old]) << "layer " << old << " case " << c.selected << "/"
                                                          << c.firstfree;
        }
        if (c.selected >= 0)
            EXPECT_EQ(project.layers[slot - 1].uid, uids[c.selected]) << c.selected;
        TearDown();
    }
}

// Expected identities computed outside the program with Python from the
// hash chain (64-bit wraparound, low 32 bits kept):
//   h = s * 0x376f195577a223db; h ^= h >> 3; h *= 0x5adec7c65b334517;
//   h ^= h << 9; h *= 0x65b6af102d59c6cb; h ^= h >> 17;
//   h *= 0x2432d07b704652a1; h ^= h << 23
TEST_F(Layers, UidsComeFromTheFrameTimeTypeAndSlot)
{
    EXPECT_EQ(project_layeruid(101), 0x44D34C5Eu);
    EXPECT_EQ(project_layeruid(0xFFFFFFFFu), 0xF827D3DCu);
    EXPECT_EQ(project_layeruid(5), 0x0B32A08Cu);
    EXPECT_EQ(project_layeruid(12), 0xB6239FA7u);
    sys_time = 1.0; // seed 100 + raster 1 + slot 0
    ASSERT_EQ(project_layeralloc(layer_raster), 0);
    EXPECT_EQ(project.layers[0].uid, 0x44D34C5Eu);
    for (int i = 1; i < 6; i++)
        ASSERT_EQ(project_layeralloc(layer_raster), i);
    sys_time = 0.049; // 4.9 hundredths keep their integer part: 4 + paths 2 + slot 6
    ASSERT_EQ(project_layeralloc(layer_paths), 6);
    EXPECT_EQ(project.layers[6].uid, 0xB6239FA7u);
    // 4294967300 hundredths wrap to 4: 4 + raster 1 + slot 7 = 12 again,
    // which slot 6 holds; a repeated uid would let an operation find the
    // wrong layer, so the seed steps on to 13.
    sys_time = 42949673.0;
    ASSERT_EQ(project_layeralloc(layer_raster), 7);
    EXPECT_EQ(project.layers[7].uid, 0xB5A54186u);
    // Same frame: paths in slot 8 and raster in slot 9 share seed 4 + 10;
    // the first keeps it, the second takes 15's.
    sys_time = 0.04;
    ASSERT_EQ(project_layeralloc(layer_paths), 8);
    ASSERT_EQ(project_layeralloc(layer_raster), 9);
    EXPECT_EQ(project.layers[8].uid, project_layeruid(14));
    EXPECT_EQ(project.layers[9].uid, project_layeruid(15));
}

// ------------------------------------------------------------------- free

TEST_F(Layers, AFreedSlotTakesItsResetValues)
{
    int slot = project_layeralloc(layer_raster);
    project_layer &l = project.layers[slot];
    l.data.img = img_allocfloat("layer", 4, 4);
    l.depth = img_allocfloat("depth", 4, 4);
    ASSERT_TRUE(l.data.img && l.depth);
    image *img = l.data.img, *depth = l.depth;
    l.flags = layer_mirrorx | layer_hidden;
    l.smooth = 5;
    l.blend = 1;
    l.rotation = 30;
    l.tilt[0] = 10;
    l.groups = 6;
    project_saved = 1;
    project_changetime = 0;
    sys_time = 9.0;
    project_layerfree(slot);
    EXPECT_STREQ(l.name, "Unused Layer");
    EXPECT_EQ(l.type, layer_free);
    EXPECT_EQ(l.flags, 0u);
    EXPECT_EQ(l.smooth, 0);
    EXPECT_EQ(l.blend, 3);
    EXPECT_EQ(l.zfill, 1.0f);
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(l.pos[k], 0.0f);
        EXPECT_EQ(l.size[k], 0.0f);
    }
    EXPECT_EQ(l.tilt[0], 0.0f);
    EXPECT_EQ(l.rotation, 0.0f);
    EXPECT_EQ(l.data.img, nullptr);
    EXPECT_EQ(l.depth, nullptr);
    EXPECT_EQ(l.uid, 0xFFFFFFFFu);
    EXPECT_EQ(img->pixels, nullptr);
    EXPECT_EQ(depth->pixels, nullptr);
    EXPECT_EQ(numlayers, 0);
    EXPECT_EQ(numlayertypes[layer_raster], 0);
    EXPECT_EQ(project_saved, 0u);
    EXPECT_GT(project_changetime, 0.0f);
}

TEST_F(Layers, AFreedPathsLayerGivesItsPathBack)
{
    uint64_t before = sys_memused();
    int slot = project_layeralloc(layer_paths);
    project.layers[slot].data.pth = path_new();
    ASSERT_TRUE(project.layers[slot].data.pth);
    project_layerfree(slot);
    EXPECT_EQ(sys_memused(), before);
}

// Two model-layers share one mesh: the first freed keeps it, the last frees
// it; each gives back its own render model.
TEST_F(Layers, TheLastModelLayerOfAMeshFreesIt)
{
    int mesh = mdl_alloc();
    ASSERT_GE(mesh, 0);
    ASSERT_TRUE(mdl_reserve(4, 4));
    int a = project_layeralloc(layer_model), b = project_layeralloc(layer_model);
    int rmodels[2] = {r_modelnew(), r_modelnew()};
    ASSERT_TRUE(rmodels[0] >= 0 && rmodels[1] >= 0);
    project.layers[a].data.mesh = project.layers[b].data.mesh = mesh;
    project.layers[a].rendermodel = rmodels[0];
    project.layers[b].rendermodel = rmodels[1];
    project_meshuses[mesh] = 2;
    project_layerfree(a);
    EXPECT_EQ(project_meshuses[mesh], 1u);
    EXPECT_NE(models[mesh].sz_verts, 0u);
    EXPECT_EQ(r_models[rmodels[0]].maxcalls, 0u);
    EXPECT_NE(r_models[rmodels[1]].maxcalls, 0u);
    project_layerfree(b);
    EXPECT_EQ(project_meshuses[mesh], 0u);
    EXPECT_EQ(models[mesh].sz_verts, 0u);
    EXPECT_EQ(r_models[rmodels[1]].maxcalls, 0u);
    EXPECT_EQ(numlayertypes[layer_model], 0);
}

TEST_F(Layers, ATextLayerGivesBackItsTextSlotAndTheFontsUse)
{
    ASSERT_EQ(text_init(), 1);
    sys_fontlist = (sys_fontrecord *)sys_calloc(2, (int32_t)sizeof(sys_fontrecord));
    ASSERT_TRUE(sys_fontlist);
    sys_fontcount = 1;
    sys_fontlist[0].uses = 2;
    text_object &t = text_objects[5];
    t.font = 0;
    t.img = img_alloc("text", 3, 2, 3);
    ASSERT_TRUE(t.img);
    image *img = t.img;
    int slot = project_layeralloc(layer_text);
    project.layers[slot].data.text = 5;
    project_layerfree(slot);
    EXPECT_EQ(t.font, -1);
    EXPECT_EQ(t.img, nullptr);
    EXPECT_EQ(img->pixels, nullptr);
    EXPECT_EQ(t.texture, -1);
    EXPECT_EQ(sys_fontlist[0].uses, 1);
    text_quit();
    sys_free(sys_fontlist);
    sys_fontlist = nullptr;
    sys_fontcount = 0;
}

TEST_F(Layers, NegativeCountersAreRepairedAndReported)
{
    int slot = project_layeralloc(layer_raster);
    numlayers = 0;
    numlayertypes[layer_raster] = 0;
    project_layerfree(slot);
    EXPECT_TRUE(log.contains("[ ERROR ] Project numlayertypes[1] less than zero!"));
    EXPECT_TRUE(log.contains("[ ERROR ] Project numlayers less than zero!"));
    EXPECT_EQ(numlayers, 0);
    EXPECT_EQ(numlayertypes[layer_raster], 0);
}

// A slot of a type none of the four was never counted: the error is logged,
// the slot reset, and the counters of the real layers stay.
TEST_F(Layers, AnUnknownTypeIsReportedAndCountsNothing)
{
    project_layeralloc(layer_raster);
    project.layers[3].type = 9;
    project_layerfree(3);
    EXPECT_TRUE(log.contains("[ ERROR ] project_layerfree: invalid layer type:9!"));
    EXPECT_EQ(project.layers[3].type, layer_free);
    EXPECT_EQ(numlayers, 1);
    EXPECT_EQ(numlayertypes[layer_raster], 1);
    EXPECT_FALSE(log.contains("less than zero"));
}

// Every slot argument outside the table is refused with a line and leaves
// the table as it was (a write past it would stop the sanitizer build).
TEST_F(Layers, SlotsOutsideTheTableAreRefused)
{
    fill();
    std::vector<project_layer> before(project.layers, project.layers + project_maxlayers);
    for (int slot : {-1, 64, 1000, -100000}) {
        project_layerfree(slot);
        EXPECT_EQ(project_layername(slot, "Name"), nullptr);
        EXPECT_EQ(project_layernamefrompath(slot, "a/b.png"), nullptr);
        project_layerfitsize(slot);
        layer_bounds(slot);
    }
    for (int i : {-1, 63, 64})
        EXPECT_EQ(project_swaplayers(i), 0) << i;
    EXPECT_EQ(memcmp(before.data(), project.layers, sizeof(project.layers)), 0);
    for (const char *caller : {"project_layerfree", "project_layername", "project_layernamefrompath",
                               "project_layerfitsize", "layer_bounds"})
        EXPECT_EQ(log.count(std::string(caller) + ": layer slot"), 4) << caller;
    EXPECT_EQ(log.count("project_swaplayers: no slot pair"), 3);
    EXPECT_EQ(numlayers, 64);
}

// ------------------------------------------------------------------ names

TEST_F(Layers, NamesAreMadeUniqueWithNumbers)
{
    EXPECT_STREQ(project.layers[project_layeralloc(layer_raster)].name, "RasterLayer");
    EXPECT_STREQ(project.layers[project_layeralloc(layer_raster)].name, "RasterLayer_00");
    EXPECT_STREQ(project.layers[project_layeralloc(layer_raster)].name, "RasterLayer_01");
    struct Case {
        const char *base, *name;
    };
    const std::string long70(70, 'L');
    const Case cases[] = {
        {"Photo_07", "Photo"},
        {"Photo_07", "Photo_00"}, // slot 3 holds Photo
        {"RasterLayer_05", "RasterLayer_02"},
        {"Photo_7", "Photo_7"},
        {"_07", "_00"},
        {"Scan_1x", "Scan_1x"},
        {long70.c_str(), nullptr}, // 63 characters
        {long70.c_str(), nullptr}, // 60 characters and _00
    };
    int slot = 3;
    for (const Case &c : cases) {
        const char *name = project_layername(slot, c.base);
        ASSERT_EQ(name, project.layers[slot].name);
        if (c.name)
            EXPECT_STREQ(name, c.name) << c.base;
        slot++;
    }
    EXPECT_EQ(std::string(project.layers[slot - 2].name), std::string(63, 'L'));
    EXPECT_EQ(std::string(project.layers[slot - 1].name), std::string(60, 'L') + "_00");
    // A slot keeps its own name when named again.
    EXPECT_STREQ(project_layername(0, "RasterLayer"), "RasterLayer");
    EXPECT_TRUE(log.contains("layer[4].name = Photo_00"));
}

TEST_F(Layers, NamesFromPathsTakeTheFileNameCleanedAndCut)
{
    struct Case {
        const char *path, *name;
        bool nofolder;
    };
    const std::string forty = "abcdefghijklmnopqrstuvwxyz0123456789.png";
    const std::string thirty = forty.substr(0, 30);
    const std::string thirtyone(31, 'q');
    const std::string want40 = thirty + "...";
    const std::string want31 = std::string(30, 'q') + "...";
    const std::string path40 = "C:\\scans\\" + forty;
    const Case cases[] = {
        {"C:\\Users\\me\\photo.png", "photo.png", false},
        {"/home/me/pictures/scan.png", "scan.png", false},
        {"mixed/dir\\last.png", "last.png", false},
        {"plain.png", "plain.png", true},
        {path40.c_str(), want40.c_str(), false},
        {thirtyone.c_str(), want31.c_str(), true},
        {thirty.c_str(), thirty.c_str(), true},
        {"dir/\x01" "a\xe9" "b\x7f" "c", "?a?b\x7f" "c", false},
        {"dir/Photo_07", "Photo", false},
    };
    int slot = 0;
    for (const Case &c : cases) {
        testlog_capture one;
        const char *name = project_layernamefrompath(slot, c.path);
        ASSERT_NE(name, nullptr) << c.path;
        EXPECT_STREQ(name, c.name) << c.path;
        EXPECT_EQ(one.contains(std::string("filepath excludes directories: ") + c.path), c.nofolder) << c.path;
        slot++;
    }
}

// ------------------------------------------------------- size, uid, swaps

// The canvas aspect is height over width like the layer's: on a 2 x 1
// canvas a layer fills the width or the height by its own aspect.
TEST_F(Layers, FitSizeKeepsTheLayerAspectInsideTheCanvas)
{
    project.size[0] = 2;
    project.size[1] = 1;
    project.size[2] = 0.7f;
    project.aspect = 0.5f;
    struct Case {
        float aspect, x, y;
    };
    const Case cases[] = {{0.25f, 2, 0.5f}, {0.5f, 2, 1}, {1, 1, 1}, {2, 0.5f, 1}};
    int slot = project_layeralloc(layer_raster);
    for (const Case &c : cases) {
        project_layer &l = project.layers[slot];
        l.aspect = c.aspect;
        l.size[2] = 0.3f;
        project_layerfitsize(slot);
        EXPECT_FLOAT_EQ(l.size[0], c.x) << c.aspect;
        EXPECT_FLOAT_EQ(l.size[1], c.y) << c.aspect;
        EXPECT_EQ(l.size[2], 0.3f) << c.aspect;
    }
    EXPECT_TRUE(log.contains("project aspect: 0.500000"));
    EXPECT_TRUE(log.contains("layer[0] fitsize = 0.50 1.00"));
}

TEST_F(Layers, UidsFindTheirLayersAcrossSwaps)
{
    std::vector<uint32_t> uids = fill();
    ASSERT_EQ(project_swaplayers(10), 1);
    ASSERT_EQ(project_swaplayers(62), 1);
    EXPECT_EQ(project_findlayeruid(uids[10]), 11);
    EXPECT_EQ(project_findlayeruid(uids[11]), 10);
    EXPECT_EQ(project_findlayeruid(uids[63]), 62);
    EXPECT_EQ(project_findlayeruid(uids[0]), 0);
    project_layerfree(20);
    EXPECT_EQ(project_findlayeruid(uids[20]), -1);
    // A free slot's word of all bits set names no layer.
    EXPECT_EQ(project_findlayeruid(0xFFFFFFFFu), -1);
    EXPECT_TRUE(log.contains("...unknown layer uid:FFFFFFFF"));
    EXPECT_EQ(project_findlayeruid(0xDEADBEEFu), -1);
    EXPECT_TRUE(log.contains("...unknown layer uid:DEADBEEF"));
}

// ------------------------------------------------------------ frame mapping

project_layer layers_frame(float rotation, uint32_t flags)
{
    project_layer l{};
    l.rotation = rotation;
    l.flags = flags;
    l.size[0] = l.size[1] = l.size[2] = 2;
    return l;
}

TEST_F(Layers, TransformPointEdgeCases)
{
    struct Case {
        const char *what;
        float rotation;
        uint32_t flags;
        float p[3];
        float out[3];
        bool exact;
    };
    const float h = std::sqrt(0.5f);
    const Case cases[] = {
        {"quarter turn within 0.0001", 90.00005f, 0, {0.5f, 0, 0.25f}, {0, -1, 0.5f}, true},
        {"quarter turn of y", 90.0f, 0, {0, 0.5f, 0}, {1, 0, 0}, true},
        {"half turn", 180.0f, 0, {0.5f, 0.25f, 0}, {-1, -0.5f, 0}, true},
        {"three quarters", 270.0f, 0, {0.5f, 0.25f, 0}, {-0.5f, 1, 0}, true},
        {"near zero", -0.00005f, 0, {0, 0.5f, 0}, {0, 1, 0}, true},
        {"45 degrees", 45.0f, 0, {0.5f, 0, 0}, {h, -h, 0}, false},
        {"mirror x", 0.0f, layer_mirrorx, {0.5f, 0.25f, 1}, {-1, 0.5f, 2}, true},
        {"mirror y", 0.0f, layer_mirrory, {0.5f, 0.25f, 1}, {1, -0.5f, 2}, true},
        {"both mirrors", 0.0f, layer_mirrorx | layer_mirrory, {0.5f, 0.25f, 0}, {-1, -0.5f, 0}, true},
        {"mirror x then a quarter turn", 90.0f, layer_mirrorx, {0.5f, 0.25f, 0}, {0.5f, 1, 0}, true},
    };
    for (const Case &c : cases) {
        project_layer l = layers_frame(c.rotation, c.flags);
        float out[3];
        layer_transformpoint(out, c.p, &l);
        for (int k = 0; k < 3; k++) {
            if (c.exact)
                EXPECT_EQ(out[k], c.out[k]) << c.what << " axis " << k;
            else
                EXPECT_NEAR(out[k], c.out[k], 1e-6) << c.what << " axis " << k;
        }
    }
    // 360 is turned through sine and cosine: a trace of x is left.
    project_layer l = layers_frame(360.0f, 0);
    const float p[3] = {0, 0.5f, 0};
    float out[3];
    layer_transformpoint(out, p, &l);
    EXPECT_NE(out[0], 0.0f);
    EXPECT_NEAR(out[0], 0.0f, 1e-12);
}

// The world point as a 3 x 3 homogeneous matrix product: translate x rotate
// x mirror x scale, in double precision.
void layers_matrix(double m[3][3], const project_layer &l)
{
    double t = l.rotation * 3.14159265358979323846 / 180.0;
    double mx = l.flags & layer_mirrorx ? -1 : 1, my = l.flags & layer_mirrory ? -1 : 1;
    const double s[3][3] = {{l.size[0] * mx, 0, 0}, {0, l.size[1] * my, 0}, {0, 0, 1}};
    const double r[3][3] = {{std::cos(t), std::sin(t), 0}, {-std::sin(t), std::cos(t), 0}, {0, 0, 1}};
    const double tr[3][3] = {{1, 0, l.pos[0]}, {0, 1, l.pos[1]}, {0, 0, 1}};
    double rs[3][3] = {};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            for (int k = 0; k < 3; k++)
                rs[i][j] += r[i][k] * s[k][j];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            m[i][j] = 0;
            for (int k = 0; k < 3; k++)
                m[i][j] += tr[i][k] * rs[k][j];
        }
}

TEST_F(Layers, TransformPointMatchesTheLayerMatrix)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> pos(-20, 20), size(0.1f, 15), ang(-720, 720), unit(-0.7f, 0.7f);
    for (int i = 0; i < 2000; i++) {
        project_layer l = layers_frame(i % 8 == 0 ? 90.0f * (i % 5) : ang(rng), (uint32_t)(i % 4) * 4);
        for (int k = 0; k < 3; k++) {
            l.pos[k] = pos(rng);
            l.size[k] = size(rng);
        }
        double m[3][3];
        layers_matrix(m, l);
        const float p[3] = {unit(rng), unit(rng), unit(rng)};
        float out[3];
        layer_transformpoint(out, p, &l);
        double wx = m[0][0] * p[0] + m[0][1] * p[1] + m[0][2];
        double wy = m[1][0] * p[0] + m[1][1] * p[1] + m[1][2];
        double tol = 1e-5 * std::max(1.0, std::max(std::fabs(wx), std::fabs(wy)));
        EXPECT_NEAR(out[0], wx, tol) << i;
        EXPECT_NEAR(out[1], wy, tol) << i;
        EXPECT_NEAR(out[2], (double)p[2] * l.size[2] + l.pos[2], 1e-5) << i;
    }
}

// ------------------------------------------------------------ layer bounds

class LayerBounds : public Layers {
protected:
    int slot = -1;
    path *pth = nullptr;

    void SetUp() override
    {
        Layers::SetUp();
        slot = project_layeralloc(layer_paths);
        pth = path_new();
        ASSERT_TRUE(pth);
        project.layers[slot].data.pth = pth;
    }
    // Every point of every live knot (position and both handles).
    std::vector<std::array<float, 3>> points() const
    {
        std::vector<std::array<float, 3>> out;
        for (int k = 0; k < pth->ksz; k++) {
            if (!pth->kused[k])
                continue;
            const knot &n = pth->knots[k];
            for (const float *v : {n.pos, n.h1, n.h2})
                out.push_back({v[0], v[1], v[2]});
        }
        return out;
    }
    std::vector<std::array<float, 3>> world() const
    {
        std::vector<std::array<float, 3>> out;
        for (const auto &p : points()) {
            std::array<float, 3> w;
            layer_transformpoint(w.data(), p.data(), &project.layers[slot]);
            out.push_back(w);
        }
        return out;
    }
};

TEST_F(LayerBounds, AnEmptyPathTakesTheCanvas)
{
    project_layer &l = project.layers[slot];
    l.pos[0] = 1;
    l.pos[2] = 0.4f;
    l.size[0] = 3;
    l.rotation = 30;
    layer_bounds(slot);
    EXPECT_TRUE(log.contains("defaulting layer to project size..."));
    EXPECT_EQ(l.pos[0], 6.0f);
    EXPECT_EQ(l.pos[1], 3.0f);
    EXPECT_EQ(l.pos[2], 0.0f);
    EXPECT_EQ(l.size[0], 12.0f);
    EXPECT_EQ(l.size[1], 6.0f);
    EXPECT_EQ(l.size[2], 1.5f);
    EXPECT_EQ(l.rotation, 0.0f);
}

// A vertical line has no width: its box is widened to 0.05 / size either
// side, so the layer becomes 0.1 units wide around the line.
TEST_F(LayerBounds, AThinPathIsWidenedAroundItsLine)
{
    project_layer &l = project.layers[slot];
    l.size[0] = 4;
    l.size[1] = 2;
    int c = path_newcurve(pth);
    const float a[3] = {0.25f, -0.3f, 0}, b[3] = {0.25f, 0.2f, 0};
    path_prependknot(pth, c, a);
    path_prependknot(pth, c, b);
    std::vector<std::array<float, 3>> before = world();
    layer_bounds(slot);
    EXPECT_TRUE(log.contains("...clamped X-bounds: 0.237500, 0.262500"));
    EXPECT_FALSE(log.contains("clamped Y-bounds"));
    EXPECT_NEAR(l.size[0], 0.1f, 1e-6);
    EXPECT_FLOAT_EQ(l.size[1], 1.0f);
    std::vector<std::array<float, 3>> after = world();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); i++)
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(after[i][k], before[i][k], 1e-5) << i;
}

// Rotated and mirrored layers: the path is normalised into -0.5..0.5 and the
// layer moved and sized so that every knot stays where it was in the world.
TEST_F(LayerBounds, KnotsKeepTheirWorldPositions)
{
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> u(-0.3f, 0.9f), z(0, 1);
    for (float rotation : {0.0f, 90.0f, 180.0f, 270.0f, 30.0f, -123.4f}) {
        for (uint32_t flags : {0u, layer_mirrorx, layer_mirrory, layer_mirrorx | layer_mirrory}) {
            path_free(pth);
            pth = path_new();
            ASSERT_TRUE(pth);
            project_layer &l = project.layers[slot];
            l.data.pth = pth;
            l.rotation = rotation;
            l.flags = flags;
            l.pos[0] = 3.5f, l.pos[1] = -1.25f, l.pos[2] = 0.5f;
            l.size[0] = 7, l.size[1] = 2.5f, l.size[2] = 1;
            for (int curve = 0; curve < 3; curve++) {
                int c = path_newcurve(pth);
                for (int k = 0; k < 4; k++) {
                    const float p[3] = {u(rng), u(rng), z(rng)};
                    int n = path_prependknot(pth, c, p);
                    for (int axis = 0; axis < 2; axis++) {
                        pth->knots[n].h1[axis] += 0.1f * u(rng);
                        pth->knots[n].h2[axis] -= 0.1f * u(rng);
                    }
                }
            }
            std::vector<std::array<float, 3>> before = world();
            layer_bounds(slot);
            std::vector<std::array<float, 3>> after = world();
            ASSERT_EQ(after.size(), before.size());
            for (size_t i = 0; i < after.size(); i++)
                for (int k = 0; k < 3; k++)
                    EXPECT_NEAR(after[i][k], before[i][k], 1e-5) << rotation << " flags " << flags << " point " << i;
            path_box b = path_bounds(pth);
            EXPECT_NEAR(b.minx, -0.5f, 1e-5);
            EXPECT_NEAR(b.maxx, 0.5f, 1e-5);
            EXPECT_NEAR(b.miny, -0.5f, 1e-5);
            EXPECT_NEAR(b.maxy, 0.5f, 1e-5);
        }
    }
}

TEST_F(LayerBounds, OtherLayersAreLeftAlone)
{
    int raster = project_layeralloc(layer_raster);
    project_layer before = project.layers[raster];
    layer_bounds(raster);
    EXPECT_TRUE(log.contains("layer_bounds: layer 1 holds no path"));
    EXPECT_EQ(memcmp(&before, &project.layers[raster], sizeof(before)), 0);
}

} // namespace
