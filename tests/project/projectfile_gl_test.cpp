// The project file: a small project with a layer of each type, a text
// object, two tools and two operations with toolpaths and a simulation
// image is saved; the header is checked field by field by a reader of the
// layout written here, the body section by section; loading and saving
// again gives the same bytes, and a copy kept in tests/data loads to the
// same state. Damaged files of every kind are refused and leave the open
// project as it was. GL: a model-layer gets a render model on load.
#include "cam/cam.h"
#include "cam/compile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/model.h"
#include "geom/path.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "render/fontfixture.h"
#include "sys/config.h"
#include "sys/fse.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

const char *const pft_font = "/usr/share/fonts/truetype/ocr-a/OCRACondensed.ttf";
constexpr uint32_t pft_magic = 0x5A17C3E9;

bytes pft_readfile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void pft_writefile(const std::string &path, const bytes &b)
{
    std::ofstream f(path, std::ios::binary);
    f.write((const char *)b.data(), (std::streamsize)b.size());
}

// Little-endian fields in file order, as the layout describes them.
struct pft_reader {
    const bytes &b;
    size_t at = 0;
    bool over = false;
    uint32_t u32()
    {
        if (at + 4 > b.size()) {
            over = true;
            return 0;
        }
        uint32_t v = b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
        at += 4;
        return v;
    }
    int32_t i32() { return (int32_t)u32(); }
    float f32()
    {
        uint32_t v = u32();
        float f;
        memcpy(&f, &v, 4);
        return f;
    }
    uint16_t u16()
    {
        uint16_t v = (uint16_t)(b[at] | b[at + 1] << 8);
        at += 2;
        return v;
    }
    std::string name64()
    {
        std::string s((const char *)&b[at], strnlen((const char *)&b[at], 64));
        for (size_t i = s.size(); i < 64; i++)
            EXPECT_EQ(b[at + i], 0) << "byte " << i << " after the name \"" << s << "\"";
        at += 64;
        return s;
    }
    std::string text()
    {
        size_t end = at;
        while (end < b.size() && b[end])
            end++;
        std::string s((const char *)&b[at], end - at);
        at = end + 1;
        return s;
    }
    void skip(size_t n) { at += n; }
};

// The body of a file: decoded, or taken as stored when the raw bit is set.
bytes pft_body(const bytes &file)
{
    pft_reader r{file, (size_t)projfile_headerbytes};
    uint32_t word = r.u32();
    uint32_t n = word & 0x7FFFFFFFu;
    if (word & 0x80000000u)
        return bytes(file.begin() + r.at, file.end());
    bytes body(n);
    size_t got = FSE_decompress(body.data(), n, file.data() + r.at, file.size() - r.at);
    EXPECT_EQ(got, n);
    return body;
}

// A file with the same header and another body, coded as the writer codes it.
bytes pft_withbody(const bytes &file, const bytes &body, bool raw = false)
{
    bytes out(file.begin(), file.begin() + projfile_headerbytes);
    bytes code(body.size() * 2 + 64);
    size_t r = raw ? 0 : FSE_compress(code.data(), code.size(), body.data(), body.size());
    uint32_t word = (uint32_t)body.size();
    if (r <= 1 || FSE_isError(r)) {
        word |= 0x80000000u;
        code = body;
    } else {
        code.resize(r);
    }
    for (int i = 0; i < 4; i++)
        out.push_back((uint8_t)(word >> (8 * i)));
    out.insert(out.end(), code.begin(), code.end());
    return out;
}

// What a failed load must leave untouched.
struct pft_snapshot {
    std::vector<std::string> names;
    std::vector<int> types;
    std::vector<uint32_t> uids;
    std::vector<std::string> tools, ops;
    int layers;
    float size[3];
    static pft_snapshot take()
    {
        pft_snapshot s;
        for (const project_layer &l : project.layers) {
            s.names.push_back(l.name);
            s.types.push_back(l.type);
            s.uids.push_back(l.uid);
        }
        for (const projtool &t : project.tools)
            s.tools.push_back(t.name);
        for (const projop &o : project.ops)
            s.ops.push_back(o.name);
        s.layers = numlayers;
        memcpy(s.size, project.size, sizeof(s.size));
        return s;
    }
    bool operator==(const pft_snapshot &o) const
    {
        return names == o.names && types == o.types && uids == o.uids && tools == o.tools && ops == o.ops &&
               layers == o.layers && memcmp(size, o.size, sizeof(size)) == 0;
    }
};

class ProjectFile : public GlTest {
protected:
    fontfixture fonts;
    testlog_capture log;
    std::string dir;

    void SetUp() override
    {
        GlTest::SetUp();
        r_cleartextures();
        fonts.start({pft_font});
        ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
        fonts.startworkers();
        memcpy(cfg, cfg_defaults, cfg_size);
        sys_time = 5.0;
        dir = (std::filesystem::temp_directory_path() / ("kerfmill-pf-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(dir);
        project_reset();
    }
    void TearDown() override
    {
        project_reset();
        std::filesystem::remove_all(dir);
        fonts.stop();
        stopworkercontext();
        freetextures();
        sys_time = 0.0;
    }
    std::string file(const char *name) const { return dir + "/" + name; }

    // The project the tests save: canvas 120 x 80 x 12 mm, layers 0..3 of
    // types raster, paths, model and text, two tools, two operations.
    void build()
    {
        const float size[3] = {120, 80, 12}, frac[3] = {0, 0, 1};
        memcpy(project.size, size, sizeof(size));
        memcpy(project.originfrac, frac, sizeof(frac));
        for (int i = 0; i < 6; i++)
            project.viewwords[i] = 100 + i;
        project.cfgword = 77;
        project.units = 2;
        project.ppi = 50;
        project.zfill = 0.25f;
        for (int i = 0; i < 6; i++) {
            (&project.canvascolor[0][0])[i] = 0.1f * i;
            (&project.simcolor[0][0])[i] = 0.05f * i;
            (&project.woodcolor[0][0])[i] = 1.0f - 0.1f * i;
        }
        project.colorcurve[0] = 1.5f;
        project.colorcurve[1] = 2.5f;
        project_layergroup = 3;
        project.renderstyle = 1;
        for (int i = 0; i < 19; i++)
            project.rendersettings[i] = 0.01f * i;

        ASSERT_EQ(project_layeralloc(layer_raster), 0);
        image *img = img_allocfloat("raster", 8, 6);
        for (int i = 0; i < 48; i++)
            ((float *)img->pixels)[i] = (float)(i % 8 + i / 8) / 16.0f;
        project.layers[0].data.img = img;
        project.layers[0].aspect = 0.75f;
        const float crop[4] = {0.1f, 0.2f, 0.9f, 1.0f};
        memcpy(project.layers[0].crop, crop, sizeof(crop));
        project.layers[0].groups = 5;
        project.layers[0].flags = layer_invert;

        ASSERT_EQ(project_layeralloc(layer_paths), 1);
        path *p = path_new();
        int c = path_newcurve(p);
        for (float x : {-0.5f, 0.0f, 0.5f}) {
            const float pt[3] = {x, x * x - 0.25f, 0.0f};
            path_prependknot(p, c, pt);
        }
        project.layers[1].data.pth = p;
        project.layers[1].groups = 1;

        ASSERT_EQ(project_layeralloc(layer_model), 2);
        int mesh = mdl_alloc();
        ASSERT_GE(mesh, 0);
        ASSERT_TRUE(mdl_reserve(4, 4));
        const float v[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        for (auto &q : v)
            mdl_vert(q);
        mdl_face(0, 1, 2);
        mdl_face(0, 1, 3);
        project.layers[2].data.mesh = mesh;
        project_meshuses[mesh]++;
        project.layers[2].groups = 2;

        ASSERT_EQ(project_layeralloc(layer_text), 3);
        int text = text_alloc(0, 24.0f, 0.5f, (float)project.ppi, "Kerf");
        ASSERT_GE(text, 0);
        project.layers[3].data.text = text;
        project.layers[3].groups = 1;

        cam_settool(1, "Flat 6", tool_cylinder, 2, 2, 6.0f, 20.0f, 0.0f, 50.0f, 12.0f);
        cam_settool(2, "Vee 90", tool_vbit, 2, 1, 12.0f, 0.0f, 90.0f, 40.0f, 15.0f);
        for (int k = 0; k < 2; k++) {
            projop &e = project.ops[k];
            snprintf(e.name, sizeof(e.name), "Op %d", k + 1);
            e.camop = k;
            e.tool = k + 1;
            e.include = 1;
            e.show = (uint32_t)k;
            e.group = k;
            project.tools[k].ops[0] = k;
            camop &r = cam_ops[k];
            r.type = k == 0 ? 1 : 3;
            r.coolant = 2;
            r.tool = k + 1;
            r.engagefeed = 300 + k;
            r.feed = 1000 + k;
            r.speed = 18000;
            r.dir = k;
            r.entry = 1;
            r.stock = 0.2f;
            r.step = 2.0f;
            r.z_doc = 1.5f;
            r.z_max = 6.0f;
            r.z_min = 0.0f;
            r.z_safe = 5.0f;
            r.aux[0] = 45.0f;
            r.aux[1] = k;
            r.aux[2] = -1.0f;
            r.flags = 4u << k;
            r.model = -1;
            r.toolpath = toolpath_new();
            ASSERT_EQ(r.toolpath, k);
            const float verts[4][3] = {{0, 0, -1}, {10, 0, -1}, {10, 10, -2}, {0, 10, -2}};
            ASSERT_EQ(toolpath_appendverts(r.toolpath, 0, 4, &verts[0][0], 0, 1), 0);
            ASSERT_EQ(toolpath_appendverts(r.toolpath, 0, 2, &verts[1][0], 0, 1), 1);
            toolpath_pushsorted(r.toolpath, 1, 1);
            toolpath_pushsorted(r.toolpath, 0, -1);
        }
        image *sim = img_allocfloat("sim", 3, 1);
        const float simpx[3] = {0.0f, 0.5f, 1.0f};
        memcpy(sim->pixels, simpx, sizeof(simpx));
        project.ops[0].simulation = sim;
    }
};

} // namespace

TEST_F(ProjectFile, HeaderFieldsAndBodySections)
{
    build();
    std::string path = file("plan.kfm");
    int32_t n = project_write(path.c_str(), nullptr);
    bytes b = pft_readfile(path);
    ASSERT_GT(n, 0);
    ASSERT_EQ((size_t)n, b.size());
    pft_reader r{b};
    EXPECT_EQ(r.u32(), pft_magic);
    EXPECT_EQ(r.i32(), 44);
    for (float v : {120.0f, 80.0f, 12.0f, 0.0f, 0.0f, 1.0f})
        EXPECT_EQ(r.f32(), v);
    for (uint32_t v = 100; v < 106; v++)
        EXPECT_EQ(r.u32(), v);
    EXPECT_EQ(r.u32(), 77u);
    // Tool entries, 84 bytes.
    EXPECT_EQ(r.at, 60u);
    EXPECT_EQ(r.name64(), "Flat 6");
    EXPECT_EQ(r.u32(), 1u); // type byte and three zeros
    for (float v : {50.0f, 20.0f, 6.0f, 0.0f})
        EXPECT_EQ(r.f32(), v);
    EXPECT_EQ(r.name64(), "Vee 90");
    EXPECT_EQ(r.u32(), 3u);
    EXPECT_EQ(r.f32(), 40.0f);
    r.skip(12); // a V-bit's flute length is derived from its angle
    r.at = 60 + 84 * 10;
    // Operation entries, 128 bytes.
    EXPECT_EQ(r.name64(), "Op 1");
    for (int32_t v : {1, 1, 1000, 18000, 0})
        EXPECT_EQ(r.i32(), v);
    for (float v : {2.0f, 1.5f, 6.0f, 0.0f, 5.0f, 45.0f, 0.0f, -1.0f})
        EXPECT_EQ(r.f32(), v);
    for (uint32_t v : {0u, 1u, 0u})
        EXPECT_EQ(r.u32(), v);
    r.at = 900 + 128;
    EXPECT_EQ(r.name64(), "Op 2");
    EXPECT_EQ(r.i32(), 3);
    r.at = 900 + 128 * 2;
    EXPECT_EQ(r.name64(), "");
    EXPECT_EQ(r.i32(), -1);
    for (int i = 0; i < 60; i++)
        EXPECT_EQ(b[r.at + i], 0) << "unused operation entry byte " << i;
    r.at = 2180;
    EXPECT_EQ(r.u32(), 2u); // units
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_EQ(r.i32(), 300); // engage feeds
    EXPECT_EQ(r.i32(), 301);
    r.skip(32);
    EXPECT_EQ(r.f32(), 0.2f); // stock
    r.skip(36);
    EXPECT_EQ(r.i32(), 1); // entry method
    r.skip(36);
    EXPECT_EQ(r.i32(), 2); // coolant
    r.skip(36);
    EXPECT_EQ(r.u32(), 4u); // flags
    EXPECT_EQ(r.u32(), 8u);
    r.skip(36);
    EXPECT_EQ(r.f32(), 12.0f); // ramp angles
    EXPECT_EQ(r.f32(), 15.0f);
    r.skip(32);
    // Layer table at 2440.
    EXPECT_EQ(r.at, 2440u);
    EXPECT_EQ(r.i32(), 50);
    EXPECT_EQ(r.i32(), 64);
    const char *names[4] = {"RasterLayer", "PathsLayer", "ModelLayer", "TextLayer"};
    for (int i = 0; i < 4; i++) {
        size_t start = r.at;
        EXPECT_EQ(r.name64(), names[i]);
        EXPECT_EQ(r.i32(), i + 1);
        EXPECT_EQ(r.u32(), i == 0 ? layer_invert : 0u);
        r.at = start + 124;
    }
    r.at = 2448 + 124 * 4;
    EXPECT_EQ(r.name64(), "Unused Layer");
    EXPECT_EQ(r.i32(), 0);
    r.at = 10384; // crops
    for (float v : {0.1f, 0.2f, 0.9f, 1.0f})
        EXPECT_EQ(r.f32(), v);
    r.at = 11408;
    EXPECT_EQ(r.f32(), 0.25f);
    EXPECT_EQ(r.u32(), 2u); // tool units
    r.at = 11452;
    EXPECT_EQ(r.u32(), project.layers[0].uid);
    EXPECT_EQ(r.u32(), project.layers[1].uid);
    r.at = 11708;
    for (uint32_t g : {5u, 1u, 2u, 1u})
        EXPECT_EQ(r.u32(), g);
    r.at = 11708 + 256;
    EXPECT_EQ(r.u32(), 0u); // operation layer groups
    EXPECT_EQ(r.u32(), 1u);
    r.at = 12004;
    EXPECT_EQ(r.f32(), 0.0f);
    EXPECT_EQ(r.f32(), 0.1f);
    r.at = 12004 + 48;
    EXPECT_EQ(r.f32(), 1.5f);
    EXPECT_EQ(r.f32(), 2.5f);
    EXPECT_EQ(r.u16(), 3u); // current layer group: 2 bytes, so what follows is unaligned
    EXPECT_EQ(r.at, 12062u);
    EXPECT_EQ(r.u32(), 1u);
    EXPECT_EQ(r.f32(), 0.0f);
    EXPECT_EQ(r.f32(), 0.01f);
    r.at = 12142;
    EXPECT_EQ(r.i32(), 2); // flutes
    EXPECT_EQ(r.i32(), 1);
    r.at = 12182;
    EXPECT_EQ(r.f32(), 1.0f);
    EXPECT_EQ(r.f32(), 0.9f);
    r.at = 12206;

    bytes body = pft_body(b);
    pft_reader s{body};
    EXPECT_EQ(s.u32(), 1u); // one font, stored whole
    EXPECT_FALSE(s.text().empty());
    bytes font = pft_readfile(pft_font);
    ASSERT_EQ(s.u32(), font.size());
    EXPECT_TRUE(std::equal(font.begin(), font.end(), body.begin() + (long)s.at));
    s.skip(font.size());
    EXPECT_EQ(s.u32(), 1u); // one text object
    EXPECT_EQ(s.u32(), (uint32_t)project.layers[3].data.text);
    EXPECT_EQ(s.u32(), 0u);
    EXPECT_EQ(s.f32(), 24.0f);
    EXPECT_EQ(s.f32(), 0.5f);
    EXPECT_EQ(s.text(), "Kerf");
    // Layer data: the raster's pack16 chunk first.
    EXPECT_EQ(s.u32(), 8u);
    EXPECT_EQ(s.u32(), 6u);
    EXPECT_EQ(s.u32(), 4u);
    uint16_t first = (uint16_t)(body[s.at] | body[s.at + 1] << 8);
    EXPECT_EQ(first, (uint16_t)(1.0 / 3.0 * 65535 + 0.5)); // height 0 over -1..2
    // From the toolpaths back: the last section is the one simulation image.
    size_t at = std::string(body.begin(), body.end()).rfind("[simimage0]");
    ASSERT_NE(at, std::string::npos);
    pft_reader sim{body, at + 12};
    EXPECT_EQ(sim.u32(), 3u);
    EXPECT_EQ(sim.u32(), 1u);
    EXPECT_EQ(sim.u32(), 4u);
    EXPECT_EQ(body.size() - sim.at, 4u + 12u + 4u) << "4 bytes of samples, then \"[simimage1]\" and no image";
    uint32_t packed = body[sim.at] | body[sim.at + 1] << 8 | body[sim.at + 2] << 16 | (uint32_t)body[sim.at + 3] << 24;
    EXPECT_EQ(packed & 0x3FF, 0u);
    EXPECT_EQ((packed >> 10) & 0x3FF, 511u);
    EXPECT_EQ((packed >> 20) & 0x3FF, 1023u);
    size_t tp = std::string(body.begin(), body.end()).rfind("[toolpaths]");
    ASSERT_NE(tp, std::string::npos);
    pft_reader t{body, tp + 12};
    EXPECT_EQ(t.u32(), 2u); // count = slots written
    EXPECT_EQ(t.u32(), 0u); // slot 0
    EXPECT_EQ(t.u32(), 2u); // sorted entries
}

TEST_F(ProjectFile, EmptyProjectAndNameRules)
{
    // No text objects: counts 0 and 0; each free slot costs its magic word.
    std::string path = file("empty");
    ASSERT_GT(project_write(path.c_str(), nullptr), 0);
    bytes b = pft_readfile(path + ".kfm");
    bytes body = pft_body(b);
    pft_reader r{body};
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_EQ(r.u32(), 0u);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(r.u32(), pft_magic) << i;
    EXPECT_EQ(r.text(), "[toolpaths]");
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_EQ(r.at, body.size());

    struct Case {
        const char *given, *written;
    };
    const Case cases[] = {
        {"plan", "plan.kfm"},
        {"plan.KFM", "plan.KFM"},
        {"plan.kfm", "plan.kfm"},
        {"a.kfm.d/plan", "a.kfm.d/plan"},
        {"plan.txt", "plan.txt.kfm"},
    };
    std::filesystem::create_directories(file("a.kfm.d"));
    for (const Case &c : cases) {
        EXPECT_GT(project_write(file(c.given).c_str(), nullptr), 0) << c.given;
        EXPECT_TRUE(std::filesystem::exists(file(c.written))) << c.given;
    }
}

TEST_F(ProjectFile, LoadAndSaveAgainGiveTheSameBytes)
{
    build();
    std::string a = file("a.kfm"), b = file("b.kfm");
    ASSERT_GT(project_write(a.c_str(), nullptr), 0);
    ASSERT_EQ(project_load(a.c_str(), 1), 1);
    EXPECT_EQ(numlayers, 4);
    EXPECT_EQ(project.layers[2].type, layer_model);
    EXPECT_GE(project.layers[2].rendermodel, 0);
    EXPECT_EQ(std::string(text_objects[project.layers[3].data.text].text), "Kerf");
    EXPECT_GE(text_objects[project.layers[3].data.text].font, font_systemcount) << "a data font";
    EXPECT_EQ(cam_ops[1].feed, 1001);
    EXPECT_EQ(toolpaths[1].num_paths, 2u);
    EXPECT_GT(cam_ops[0].eta, 0.0f);
    image *sim = project.ops[0].simulation;
    ASSERT_NE(sim, nullptr);
    EXPECT_NEAR(((float *)sim->pixels)[1], 511.0f / 1023.0f, 1e-6);
    ASSERT_GT(project_write(b.c_str(), nullptr), 0);
    EXPECT_EQ(pft_readfile(a), pft_readfile(b));
}

TEST_F(ProjectFile, GoldenCopyLoadsToTheSameState)
{
    std::string golden = std::string(KERFMILL_TESTS_DIR) + "/data/project44.kfm";
    ASSERT_EQ(project_load(golden.c_str(), 1), 1);
    EXPECT_EQ(numlayers, 4);
    const int types[4] = {layer_raster, layer_paths, layer_model, layer_text};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(project.layers[i].type, types[i]) << i;
    EXPECT_EQ(project.layers[0].data.img->width, 8);
    EXPECT_NEAR(((float *)project.layers[0].data.img->pixels)[9], 2.0f / 16.0f, 1e-4);
    EXPECT_EQ(project.layers[1].data.pth->knum, 3);
    EXPECT_EQ(models[project.layers[2].data.mesh].num_faces, 2u);
    EXPECT_EQ(std::string(project.tools[1].name), "Vee 90");
    EXPECT_EQ(cam_tools[1].type, tool_vbit);
    EXPECT_EQ(std::string(project.ops[1].name), "Op 2");
    EXPECT_EQ(cam_ops[1].type, 3);
    EXPECT_EQ(project.ops[1].tool, 2);
    EXPECT_EQ(project_layergroup, 3);
    EXPECT_EQ(project.ppi, 50);
    EXPECT_EQ(std::string(project.path), golden);
    EXPECT_EQ(std::string(project_filename), "project44.kfm");
    std::string again = file("again.kfm");
    ASSERT_GT(project_write(again.c_str(), nullptr), 0);
    EXPECT_EQ(pft_readfile(again), pft_readfile(golden));
}

TEST_F(ProjectFile, BackupLoadsUntitledNamedFileTitled)
{
    build();
    std::string path = file("named.kfm");
    ASSERT_GT(project_write(path.c_str(), nullptr), 0);
    sys_time = 42.0;
    ASSERT_EQ(project_load(path.c_str(), 0), 1);
    EXPECT_EQ(project_hasfile, 0u);
    EXPECT_STREQ(project.path, "");
    EXPECT_GT(project_changetime, 0.0f);
    EXPECT_EQ(project_saved, 1u);
    ASSERT_EQ(project_load(path.c_str(), 1), 1);
    EXPECT_EQ(project_hasfile, 1u);
    EXPECT_EQ(std::string(project.path), path);
    EXPECT_EQ(project_changetime, 0.0f);
    EXPECT_STREQ(cfg_gettext(cfg_projectpath), path.c_str());
}

TEST_F(ProjectFile, NoiseBodyIsStoredRawAndLoads)
{
    // A raster of noise: no byte value reaches n/128 times often enough to
    // code, so the body goes raw instead of failing the save.
    ASSERT_EQ(project_layeralloc(layer_raster), 0);
    image *img = img_allocfloat("noise", 96, 96);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 2.0f);
    for (int i = 0; i < 96 * 96; i++)
        ((float *)img->pixels)[i] = u(rng);
    project.layers[0].data.img = img;
    const float sample = ((float *)img->pixels)[100];
    std::string path = file("noise.kfm");
    int32_t n = project_write(path.c_str(), nullptr);
    ASSERT_GT(n, 0);
    bytes b = pft_readfile(path);
    pft_reader r{b, (size_t)projfile_headerbytes};
    uint32_t word = r.u32();
    EXPECT_TRUE(word & 0x80000000u);
    EXPECT_EQ(b.size() - r.at, word & 0x7FFFFFFFu);
    ASSERT_EQ(project_load(path.c_str(), 1), 1);
    ASSERT_EQ(project.layers[0].type, layer_raster);
    EXPECT_NEAR(((float *)project.layers[0].data.img->pixels)[100], sample, 3.0f / 65535);
}

TEST_F(ProjectFile, FailedSaveLeavesThePreviousFileWhole)
{
    std::string path = file("keep.kfm");
    ASSERT_GT(project_write(path.c_str(), nullptr), 0);
    bytes before = pft_readfile(path);
    build();
    // A folder where the temporary file should go: the write fails.
    std::filesystem::create_directories(path + ".tmp");
    EXPECT_EQ(project_write(path.c_str(), nullptr), 0);
    EXPECT_EQ(pft_readfile(path), before);
    EXPECT_EQ(project_write(file("missing/x.kfm").c_str(), nullptr), 0);
    EXPECT_GE(log.count("...unable to open"), 1);
}

TEST_F(ProjectFile, DamagedFilesAreRefusedAndChangeNothing)
{
    build();
    std::string good = file("good.kfm");
    ASSERT_GT(project_write(good.c_str(), nullptr), 0);
    const bytes file0 = pft_readfile(good);
    const bytes body = pft_body(file0);
    const std::string bs(body.begin(), body.end());
    // Body offsets of the sections, found by their contents.
    bytes font = pft_readfile(pft_font);
    size_t fontcount = 0, textcount = bs.find('\0', 4) + 1 + 4 + font.size();
    size_t layers = textcount + 4 + 16 + 5;
    size_t toolpaths = bs.rfind("[toolpaths]"), sim0 = bs.rfind("[simimage0]");
    auto put = [](bytes b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++)
            b[at + i] = (uint8_t)(v >> (8 * i));
        return b;
    };
    auto cut = [](const bytes &b, size_t n) { return bytes(b.begin(), b.begin() + (long)n); };
    auto flip = [](bytes b, size_t at) {
        b[at] ^= 0x5A;
        return b;
    };

    struct Case {
        std::string name;
        bytes file;
        const char *message; // a log line the refusal gives
    };
    std::vector<Case> cases = {
        {"wrong magic", put(file0, 0, 0x12345678), "Unable to recognized the project file"},
        {"version 45", put(file0, 4, 45), "from a newer version"},
        {"version 0", put(file0, 4, 0), "version 0 refused"},
        {"layer count 65", put(file0, 2444, 65), "layer count 65 refused"},
        {"layer type 5", put(file0, 2448 + 64, 5), "layer type 5 refused"},
        {"toolpath slot 10 in an operation", put(file0, 900 + 116, 10), "toolpath slot 10 refused"},
        {"size word above the decoded size", put(file0, projfile_headerbytes, (uint32_t)body.size() + 1),
         "decoded body size"},
        {"size word below the decoded size", put(file0, projfile_headerbytes, (uint32_t)body.size() - 1),
         "body does not decode"},
        {"font count past the bytes", pft_withbody(file0, put(body, fontcount, 0x7FFFFFF)), "font count"},
        {"font index past the fonts", pft_withbody(file0, put(body, textcount + 8, 1)), "font index 1 refused"},
        {"text slot 64", pft_withbody(file0, put(body, textcount + 4, 64)), "text-object slot 64 refused"},
        {"image past the body", pft_withbody(file0, put(body, layers + 4, 100000)), "raster data of layer 0"},
        {"toolpath count 11", pft_withbody(file0, put(body, toolpaths + 12, 11)), "toolpath count 11 refused"},
        {"toolpath slot 10", pft_withbody(file0, put(body, toolpaths + 16, 10)), "toolpath slot 10 refused"},
        {"vertex count past the body", pft_withbody(file0, put(body, sim0 - 4 - 72, 0x1000000)), "refused"},
        // Toolpath 0: sorted count at +20 (2 entries), path count at +34 (2 paths of 9 bytes), 6 vertices.
        {"sorted count past the body", pft_withbody(file0, put(body, toolpaths + 20, 0x100000)),
         "sorted count 1048576 refused"},
        {"sorted entry past the cut paths", pft_withbody(file0, put(body, toolpaths + 24, 5)),
         "sorted entry past the cut paths of toolpath 0"},
        {"path count past the body", pft_withbody(file0, put(body, toolpaths + 34, 0x100000)),
         "path count 1048576 refused"},
        {"cut path past the vertices", pft_withbody(file0, put(body, toolpaths + 38 + 4, 7)),
         "cut path past the vertices of toolpath 0"},
        {"unterminated text", pft_withbody(file0, cut(body, textcount + 22)), "refused"},
        {"raw size word above the bytes", put(pft_withbody(file0, body, true), projfile_headerbytes,
                                              0x80000000u | (uint32_t)(body.size() + 1)),
         "raw body size"},
    };
    // Cut at every header block boundary and at every section of the body.
    int32_t at = 0;
    for (int i = 0; i < projfile_blockcount; i++) {
        at += projfile_blocks[i].size;
        cases.push_back({"cut after block " + std::to_string(i + 1), cut(file0, (size_t)at),
                         i + 1 < projfile_blockcount ? "shorter than its header" : "without a body"});
    }
    for (size_t n : {(size_t)4, textcount, layers, toolpaths, toolpaths + 12, sim0, body.size() - 1})
        cases.push_back({"body cut at " + std::to_string(n), pft_withbody(file0, cut(body, n)), "project_load: "});
    for (size_t i = projfile_headerbytes + 4; i < file0.size(); i += file0.size() / 23)
        cases.push_back({"coded byte " + std::to_string(i) + " flipped", flip(file0, i), "project_load: "});

    const pft_snapshot before = pft_snapshot::take();
    std::string bad = file("bad.kfm"), after = file("after.kfm");
    for (const Case &c : cases) {
        pft_writefile(bad, c.file);
        testlog_capture caught;
        EXPECT_EQ(project_load(bad.c_str(), 1), 0) << c.name;
        EXPECT_GE(caught.count(c.message), 1) << c.name;
        EXPECT_TRUE(pft_snapshot::take() == before) << c.name;
        // Written again, the open project gives the very bytes it gave before.
        ASSERT_GT(project_write(after.c_str(), nullptr), 0) << c.name;
        EXPECT_TRUE(pft_readfile(after) == file0) << c.name;
        EXPECT_STREQ(sys_statustext, "...failed to load project") << c.name;
    }
}

// A good file that the program cannot take in, found out only while
// installing it: here every font record is taken, so its data font has
// none. The open project stays as it was, byte for byte.
TEST_F(ProjectFile, AFileThatCannotBeInstalledChangesNothing)
{
    build();
    std::string good = file("good.kfm"), after = file("after.kfm");
    ASSERT_GT(project_write(good.c_str(), nullptr), 0);
    const bytes file0 = pft_readfile(good);
    const int32_t count = sys_fontcount, systemcount = font_systemcount;
    sys_fontcount = font_systemcount = sys_maxfontfiles;
    testlog_capture caught;
    EXPECT_EQ(project_load(good.c_str(), 1), 0);
    sys_fontcount = count;
    font_systemcount = systemcount;
    EXPECT_GE(caught.count("data fonts beyond the font table, count 1 refused"), 1) << caught.text();
    ASSERT_GT(project_write(after.c_str(), nullptr), 0);
    EXPECT_TRUE(pft_readfile(after) == file0);
    EXPECT_EQ(numlayers, 4);
}

// A load frees the toolpath slots and images that generators and step-image
// jobs fill: it waits for them, bounded, and refuses when they still run.
TEST_F(ProjectFile, LoadWaitsForRunningWorkAndRefusesAtTheLimit)
{
    build();
    std::string good = file("good.kfm"), after = file("after.kfm");
    ASSERT_GT(project_write(good.c_str(), nullptr), 0);
    const bytes file0 = pft_readfile(good);
    project_reset(); // an empty project is open
    std::string empty = file("empty.kfm");
    ASSERT_GT(project_write(empty.c_str(), nullptr), 0);
    const bytes emptybytes = pft_readfile(empty);
    struct Case {
        const char *what;
        std::function<void(int)> set; // 1 sets the flag, 0 clears it
        int clearafterms;             // -1: still running at the limit
        const char *status;
    };
    const Case cases[] = {
        {"generator", [](int v) { cam_ops[5].generating = (uint32_t)v; }, -1,
         "...busy: try again when the toolpath is calculated"},
        {"step-image job", [](int v) { project.ops[2].simbusy = v; }, -1,
         "...busy: try again when the toolpath is calculated"},
        {"save", [](int v) { project_savebusy = v; }, -1, "...busy: try again when the background work is done"},
        {"generator that ends", [](int v) { cam_ops[5].generating = (uint32_t)v; }, 100, "...loaded 'good.kfm'"},
    };
    const double limit = project_worklimit;
    project_worklimit = 0.5;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture caught;
        c.set(1);
        std::atomic<bool> cleared{false};
        std::thread clearer;
        if (c.clearafterms >= 0)
            clearer = std::thread([&] {
                SDL_Delay((Uint32)c.clearafterms);
                cleared = true;
                c.set(0);
            });
        auto start = std::chrono::steady_clock::now();
        int loaded = project_load(good.c_str(), 1);
        auto took = std::chrono::steady_clock::now() - start;
        if (clearer.joinable())
            clearer.join();
        c.set(0);
        EXPECT_EQ(loaded, c.clearafterms >= 0 ? 1 : 0);
        EXPECT_EQ(std::string(sys_statustext).rfind(c.status, 0), 0u) << sys_statustext;
        EXPECT_LT(took, std::chrono::seconds(5));
        ASSERT_GT(project_write(after.c_str(), nullptr), 0);
        if (loaded) {
            EXPECT_TRUE(cleared) << "loaded while the generator ran";
            EXPECT_TRUE(pft_readfile(after) == file0);
        } else {
            EXPECT_TRUE(pft_readfile(after) == emptybytes);
            EXPECT_GE(caught.count("project_reset: gave up waiting after"), 1) << caught.text();
        }
    }
    project_worklimit = limit;
}

// A slot whose vertex block is larger than the file's 32-bit size word can
// say: refused before anything is written, the previous file left whole.
// The counts are set by hand: the writer refuses before it reads a vertex.
TEST_F(ProjectFile, ToolpathTooLargeForTheFileRefusesTheSave)
{
    build();
    std::string path = file("plan.kfm");
    ASSERT_GT(project_write(path.c_str(), nullptr), 0);
    const bytes file0 = pft_readfile(path);
    const uint32_t kept = toolpaths[1].num_verts;
    // The first vertex count past 2^31 - 1 bytes, and one whose 12 bytes a
    // vertex wrap to 8 in 32 bits (a short block under the full count).
    for (uint32_t verts : {178956971u, 357913942u}) {
        testlog_capture caught;
        toolpaths[1].num_verts = verts;
        EXPECT_EQ(project_write(path.c_str(), nullptr), 0) << verts;
        toolpaths[1].num_verts = kept;
        EXPECT_GE(caught.count("project_write: toolpath 1 is too large for a project file"), 1) << caught.text();
        EXPECT_TRUE(pft_readfile(path) == file0) << verts;
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
}

TEST_F(ProjectFile, SaveFailsWhenATextFontCannotBeCached)
{
    // A text object in a font whose file is gone: the save gives up at once
    // (logged) instead of waiting for the cache forever, and writes nothing.
    fontfixture_copy copy(pft_font);
    int font = sys_fontcount++;
    sys_fontlist[font] = {nullptr, sys_strdup(copy.path.c_str()), 1, 0, 0};
    font_systemcount = sys_fontcount;
    std::filesystem::remove(copy.path);
    text_object &o = text_objects[7];
    snprintf(o.text, sizeof(o.text), "gone");
    o.font = font;
    o.ptsize = 12.0f;
    std::string path = file("font.kfm");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(project_write(path.c_str(), nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "the wait has a bound";
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_GE(log.count("project_write: font["), 1);
    o.font = -1;
}

TEST_F(ProjectFile, ChangesWaitForARunningSave)
{
    // The save reads layers, tools and operations without a lock: freeing or
    // replacing them waits until the save-busy flag clears.
    build();
    struct Case {
        const char *name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"layer free", [] { project_layerfree(0); }},
        {"tool change", [] { cam_settool(1, "Other", tool_cylinder, 2, 2, 3.0f, 10.0f, 0.0f, 30.0f, 10.0f); }},
        {"operation removal", [] { cam_removeoperation(1); }},
    };
    for (const Case &c : cases) {
        project_savebusy = 1;
        std::atomic<bool> cleared{false};
        std::thread saver([&] {
            SDL_Delay(100);
            cleared = true;
            project_savebusy = 0;
        });
        c.change();
        EXPECT_TRUE(cleared) << c.name << " went ahead during the save";
        saver.join();
    }
}
