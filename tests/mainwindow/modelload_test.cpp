// Model import: STL files written by openscad, admesh, numpy-stl and by
// hand, an OBJ checked against an independent resolver, and damaged files
// that must fail or load in part with the table and memory as they were.
#include "mainwindow/import/modelload.h"

#include "geom/model.h"
#include "mainwindow/meshimport.h"
#include "sys/mem.h"

#include "importfixtures.h"
#include "testfolder.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct ModelLoad : testing::Test {
    testlog_capture quiet;
    testfolder dir{"modelload"};
    void TearDown() override
    {
        for (int i = 0; i < mdl_maxmodels; i++)
            mdl_free(i);
        vbucket_free();
    }
    std::string write(const std::string &name, const std::string &bytes)
    {
        std::ofstream(dir.at(name), std::ios::binary) << bytes;
        return dir.at(name);
    }
};

using tri = std::array<std::array<float, 3>, 3>;

// A binary STL: 80-byte header, count, then 50-byte records.
std::string stl_binary(const std::vector<tri> &tris, uint32_t count)
{
    std::string b(80, ' ');
    b.append((const char *)&count, 4);
    for (const tri &t : tris) {
        float rec[12] = {0, 0, 1};
        for (int v = 0; v < 3; v++)
            for (int k = 0; k < 3; k++)
                rec[3 + 3 * v + k] = t[v][k];
        b.append((const char *)rec, 48);
        b.append(2, '\0');
    }
    return b;
}

std::string stl_binary(const std::vector<tri> &tris)
{
    return stl_binary(tris, (uint32_t)tris.size());
}

const std::vector<tri> two_tris = {tri{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}, tri{{{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}};

const char *two_ascii = "solid two\n"
                        " facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
                        "  endloop\n endfacet\n"
                        " facet normal 0 0 1\n  outer loop\n   vertex 1 0 0\n   vertex 1 1 0\n   vertex 0 1 0\n"
                        "  endloop\n endfacet\nendsolid two\n";

void expect_colours_sound(const model &m)
{
    for (uint32_t i = 0; i < m.num_faces; i++)
        for (float c : m.faces[i].normal) {
            ASSERT_TRUE(std::isfinite(c)) << "face " << i;
            ASSERT_GE(c, 0.0f);
            ASSERT_LE(c, 1.0f);
        }
}

TEST_F(ModelLoad, IndependentStlFilesGiveTheirCountsAndBounds)
{
    std::vector<fixture_record> files = fixtures_make(dir.path.string(), {"stl", dir.path.string()});
    ASSERT_EQ(files.size(), 7u);
    for (const fixture_record &f : files) {
        SCOPED_TRACE(f.fields[1]);
        int slot = model_load(dir.at(f.fields[1]).c_str());
        ASSERT_GE(slot, 0);
        const model &m = models[slot];
        EXPECT_EQ(m.num_faces, (uint32_t)f.num(2));
        EXPECT_EQ(m.num_verts, (uint32_t)f.num(3));
        for (int k = 0; k < 3; k++) {
            EXPECT_FLOAT_EQ(m.min[k], (float)f.num(4 + k));
            EXPECT_FLOAT_EQ(m.max[k], (float)f.num(7 + k));
        }
        expect_colours_sound(m);
        EXPECT_EQ(vbuckets, nullptr);
        mdl_free(slot);
    }
}

// New vertices of a binary triangle are numbered from its third corner.
TEST_F(ModelLoad, BinaryNumbersCornersThreeTwoOne)
{
    for (const std::string &bytes : {stl_binary(two_tris), std::string(two_ascii)}) {
        bool binary = bytes.size() == 184;
        SCOPED_TRACE(binary ? "binary" : "ascii");
        int slot = model_load(write("two.stl", bytes).c_str());
        ASSERT_GE(slot, 0);
        const model &m = models[slot];
        ASSERT_EQ(m.num_verts, 4u);
        ASSERT_EQ(m.num_faces, 2u);
        const tri &t = two_tris[0];
        for (int v = 0; v < 3; v++) {
            int corner = binary ? 2 - v : v;
            EXPECT_EQ(0, memcmp(m.verts + 3 * v, t[corner].data(), 12)) << "vertex " << v;
        }
        model_face f = m.faces[0];
        const std::array<uint32_t, 3> want = binary ? std::array<uint32_t, 3>{2, 1, 0} : std::array<uint32_t, 3>{0, 1, 2};
        const std::array<uint32_t, 3> got = {f.a, f.b, f.c};
        EXPECT_EQ(want, got);
        mdl_free(slot);
    }
}

TEST_F(ModelLoad, ObjFacesMatchAReferenceResolver)
{
    std::vector<fixture_record> tris = fixtures_make(dir.path.string(), {"obj", dir.path.string()});
    ASSERT_EQ(tris.size(), 10u);
    int slot = model_load(dir.at("parts.obj").c_str());
    ASSERT_GE(slot, 0);
    const model &m = models[slot];
    ASSERT_EQ(m.num_faces, tris.size());
    for (size_t i = 0; i < tris.size(); i++) {
        const model_face &f = m.faces[i];
        const uint32_t idx[3] = {f.a, f.b, f.c};
        for (int v = 0; v < 3; v++)
            for (int k = 0; k < 3; k++) {
                double want = tris[i].num(1 + 3 * v + k);
                EXPECT_NEAR(m.verts[3 * idx[v] + k], want, 1e-6 * std::max(1.0, std::fabs(want)))
                    << "face " << i << " corner " << v;
            }
    }
    expect_colours_sound(m);
}

// A fan over every reference: no bound on the references of one face.
TEST_F(ModelLoad, ObjLongFaceIsFanned)
{
    std::string text = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf";
    for (int i = 0; i < 10000; i++)
        text += " " + std::to_string(1 + i % 4);
    int slot = model_load(write("fan.obj", text + "\n").c_str());
    ASSERT_GE(slot, 0);
    EXPECT_EQ(models[slot].num_faces, 9998u);
}

TEST_F(ModelLoad, ObjReferencesOutsideTheVerticesDropTheirFace)
{
    struct Case {
        const char *face;
        bool kept;
    };
    const Case cases[] = {{"f 1 2 3", true}, {"f -3 -2 -1", true}, {"f 0 1 2", false},
                          {"f 1 2 4", false}, {"f -4 -2 -1", false}, {"f 1/1/1 2/2/2 3/3/3", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.face);
        testlog_capture log;
        // A good face first, so the load itself succeeds.
        std::string text = std::string("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n") + c.face + "\n";
        int slot = model_load(write("refs.obj", text).c_str());
        ASSERT_GE(slot, 0);
        EXPECT_EQ(models[slot].num_faces, c.kept ? 2u : 1u);
        for (uint32_t i = 0; i < models[slot].num_faces; i++) {
            const model_face &f = models[slot].faces[i];
            EXPECT_LT(std::max({f.a, f.b, f.c}), models[slot].num_verts);
        }
        EXPECT_EQ(log.contains("mdl_loadOBJ: dropped 1 faces"), !c.kept);
        mdl_free(slot);
    }
}

// Faces without area and normals whose colour radicand is negative.
TEST_F(ModelLoad, FaceColoursAreNeverNan)
{
    const std::vector<tri> tris = {tri{{{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}}, tri{{{0, 0, 0}, {0, 0, 1}, {1, -1, 0}}}};
    int slot = model_load(write("colours.stl", stl_binary(tris)).c_str());
    ASSERT_GE(slot, 0);
    const model &m = models[slot];
    ASSERT_EQ(m.num_faces, 2u);
    // No area: the colour of an upward normal.
    EXPECT_FLOAT_EQ(m.faces[0].normal[0], 0.5f);
    EXPECT_FLOAT_EQ(m.faces[0].normal[1], 0.5f);
    EXPECT_NEAR(m.faces[0].normal[2], std::sqrt(0.5), 1e-6);
    // The stored order is corners 3, 2, 1 read as face (1, 2, 3): the
    // normal of the file's triangle, (1, 1, 0) / sqrt 2.
    EXPECT_NEAR(m.faces[1].normal[0], 0.5 + 0.5 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(m.faces[1].normal[1], 0.5 + 0.5 / std::sqrt(2.0), 1e-6);
    EXPECT_EQ(m.faces[1].normal[2], 0.0f);
}

// Damaged files: nothing loads, and the table and memory are as they were,
// or the faces before the damage stay.
TEST_F(ModelLoad, DamagedFiles)
{
    const float nan = std::nanf("");
    std::string truncated = stl_binary(two_tris);
    truncated.resize(84 + 75);
    std::string huge = stl_binary({}, 85899346);
    huge.append(4, '\0');
    std::string cut = std::string(two_ascii).substr(0, std::string(two_ascii).find("vertex 1 1 0"));
    struct Case {
        const char *name;
        std::string bytes;
        uint32_t faces; // 0: the load fails
        const char *logged;
    };
    const Case cases[] = {
        {"empty.stl", "", 0, "model_load: failed to read model file"},
        {"ten.stl", "solid ten\n", 0, "model_load: no faces"},
        {"short.stl", std::string(83, 'x'), 0, "model_load: no faces"},
        {"truncated.stl", truncated, 0, "model_load: no faces"},
        {"huge.stl", huge, 0, "model_load: no faces"},
        {"nan.stl", stl_binary({two_tris[0], tri{{{nan, 0, 0}, {1, 1, 1}, {2, 2, 2}}}}), 1,
         "mdl_loadSTL: dropped 1 triangles"},
        {"cut.stl", cut, 1, "mdl_loadSTL_ASCII: last facet cut after 1 vertices"},
        {"nan.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 1e+60\nf 1 2 3\nf 2 3 4\n", 1, "mdl_loadOBJ: 1 vertices refused"},
        {"noface.obj", "v 0 0 0\n", 0, "model_load: no faces"},
        {"PART.STL", stl_binary(two_tris), 2, "...loaded binary STL model (4 verts, 2 faces)"},
        {"part.st", "solid\n", 0, "model_load: file has no extension"},
        {"part.ply", "ply\n", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testlog_capture log;
        uint64_t memory = sys_memtotal;
        int count = mdl_count, cursor = mdl_cursor;
        int slot = model_load(write(c.name, c.bytes).c_str());
        if (c.faces) {
            ASSERT_GE(slot, 0);
            EXPECT_EQ(models[slot].num_faces, c.faces);
            expect_colours_sound(models[slot]);
            mdl_free(slot);
        } else {
            EXPECT_EQ(slot, -1);
            EXPECT_EQ(sys_memtotal, memory);
            EXPECT_EQ(mdl_count, count);
            EXPECT_EQ(mdl_cursor, cursor);
        }
        if (*c.logged)
            EXPECT_TRUE(log.contains(c.logged)) << log.text();
        EXPECT_EQ(vbuckets, nullptr);
    }
}

TEST_F(ModelLoad, FullTableRefusesTheModel)
{
    std::string file = write("two.stl", stl_binary(two_tris));
    ASSERT_GE(model_load(file.c_str()), 0);
    // The other slots taken without arrays: 31 more loads would hold a
    // gigabyte.
    for (int i = 1; i < mdl_maxmodels; i++)
        ASSERT_GE(mdl_alloc(), 0);
    testlog_capture log;
    uint64_t memory = sys_memtotal;
    EXPECT_EQ(model_load(file.c_str()), -1);
    EXPECT_TRUE(log.contains("mdl_alloc: overflow"));
    EXPECT_TRUE(log.contains("model_load: models overflow"));
    EXPECT_EQ(sys_memtotal, memory);
    EXPECT_EQ(mdl_count, mdl_maxmodels);
}

} // namespace
