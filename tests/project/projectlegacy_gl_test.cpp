// Project files of versions 1 to 43. A writer here builds each version from
// the file layout alone (blocks by their first version, the body in place
// before 19, zlib for 19, 36 and 37, FSE through libzstd's own functions
// otherwise); a table says which values each version carries and which
// defaults the loader must supply. Operation migrations are checked row by
// row, and cut or inflated-wrong files are refused without a change.
#include "cam/cam.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/model.h"
#include "geom/path.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "render/fontfixture.h"
#include "render/glcontext.h"
#include "render/text.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "testlog.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// libzstd builds its FSE functions into the static archive without a header.
extern "C" {
size_t FSE_normalizeCount(short *normalizedCounter, unsigned tableLog, const unsigned *count, size_t srcSize,
                          unsigned maxSymbolValue, unsigned useLowProbCount);
size_t FSE_writeNCount(void *buffer, size_t bufferSize, const short *normalizedCounter, unsigned maxSymbolValue,
                       unsigned tableLog);
size_t FSE_buildCTable_wksp(unsigned *ct, const short *normalizedCounter, unsigned maxSymbolValue, unsigned tableLog,
                            void *workSpace, size_t wkspSize);
size_t FSE_compress_usingCTable(void *dst, size_t dstCapacity, const void *src, size_t srcSize, const unsigned *ct);
}

namespace {

using bytes = std::vector<uint8_t>;
constexpr uint32_t pl_magic = 0x5A17C3E9;
const char *const pl_font = "/usr/share/fonts/truetype/ocr-a/OCRACondensed.ttf";

bytes pl_fse(const bytes &src)
{
    unsigned count[256] = {}, maxsym = 0;
    for (uint8_t b : src) {
        count[b]++;
        maxsym = std::max<unsigned>(maxsym, b);
    }
    const unsigned log = 11;
    short norm[256];
    bytes out(src.size() * 2 + 1024);
    std::vector<unsigned> ct(1 + (1 << log) + 256 * 2), wksp(16384);
    if (ZSTD_isError(FSE_normalizeCount(norm, log, count, src.size(), maxsym, src.size() >= 2048)))
        return {};
    size_t header = FSE_writeNCount(out.data(), out.size(), norm, maxsym, log);
    if (ZSTD_isError(header) ||
        ZSTD_isError(FSE_buildCTable_wksp(ct.data(), norm, maxsym, log, wksp.data(), wksp.size() * 4)))
        return {};
    size_t body = FSE_compress_usingCTable(out.data() + header, out.size() - header, src.data(), src.size(), ct.data());
    if (ZSTD_isError(body) || body == 0)
        return {};
    out.resize(header + body);
    return out;
}

struct pl_out {
    bytes b;
    void u8(uint8_t v) { b.push_back(v); }
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; i++)
            b.push_back((uint8_t)(v >> (8 * i)));
    }
    void i32(int32_t v) { u32((uint32_t)v); }
    void f32(float f)
    {
        uint32_t v;
        memcpy(&v, &f, 4);
        u32(v);
    }
    void name64(const char *s)
    {
        char field[64] = {};
        strncpy(field, s, 63);
        b.insert(b.end(), field, field + 64);
    }
    void text(const char *s) { b.insert(b.end(), s, s + strlen(s) + 1); }
    void put(const bytes &o) { b.insert(b.end(), o.begin(), o.end()); }
};

// A grey PNG of the pixel rows, made with zlib and its CRC.
bytes pl_png(int w, int h, const std::vector<uint8_t> &px)
{
    auto chunk = [](bytes &out, const char *type, const bytes &data) {
        pl_out len;
        for (int i = 3; i >= 0; i--)
            len.u8((uint8_t)(data.size() >> (8 * i)));
        out.insert(out.end(), len.b.begin(), len.b.end());
        bytes td(type, type + 4);
        td.insert(td.end(), data.begin(), data.end());
        out.insert(out.end(), td.begin(), td.end());
        uint32_t crc = (uint32_t)crc32(0, td.data(), (uInt)td.size());
        for (int i = 3; i >= 0; i--)
            out.push_back((uint8_t)(crc >> (8 * i)));
    };
    bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    bytes ihdr = {0, 0, (uint8_t)(w >> 8), (uint8_t)w, 0, 0, (uint8_t)(h >> 8), (uint8_t)h, 8, 0, 0, 0, 0};
    chunk(out, "IHDR", ihdr);
    bytes raw;
    for (int y = 0; y < h; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), px.begin() + y * w, px.begin() + (y + 1) * w);
    }
    uLongf n = compressBound((uLong)raw.size());
    bytes z(n);
    compress(z.data(), &n, raw.data(), (uLong)raw.size());
    z.resize(n);
    chunk(out, "IDAT", z);
    chunk(out, "IEND", {});
    return out;
}

// A path of 8 curve and 8 knot slots holding one open curve of two knots,
// in the form of the version: raw with old bit sets up to 16, raw to 36,
// then every value by the point formula.
void pl_path(pl_out &o, int v)
{
    for (int32_t x : {0, 0, 1, 8, 1, 2, 8, 2})
        o.i32(x);
    if (v < 17)
        o.u8(0xFF), o.u8(0xFF); // (8 >> 3) + (8 >> 3) bytes of selection bits
    for (int c = 0; c < 8; c++)
        for (int32_t x : {c ? -1 : 1, c ? -1 : 0, -1, -1, 0, 0})
            o.i32(x);
    const float knots[2][6] = {{-0.5f, -0.5f, -0.5f, -0.5f, -0.25f, -0.5f}, {0.5f, 0.5f, 0.25f, 0.5f, 0.5f, 0.5f}};
    for (int k = 0; k < 8; k++) {
        int32_t prev = k == 1 ? 0 : -1, next = k == 0 ? 1 : -1;
        if (v < 37) {
            for (int i = 0; i < 9; i++)
                o.f32(k < 2 && i % 3 != 2 ? knots[k][i / 3 * 2 + i % 3] : 0.0f);
        } else {
            for (int i = 0; i < 6; i++) {
                float x = k < 2 ? knots[k][i] : 0.0f;
                uint16_t q = (uint16_t)(int32_t)((double)((x + 1.0f) * 0.5f * 65535.0f) + 0.5);
                o.u8((uint8_t)q), o.u8((uint8_t)(q >> 8));
            }
        }
        o.i32(prev), o.i32(next);
    }
}

// One triangle over the unit cube's corners (0,0,0), (1,0,0), (0,1,1):
// floats before version 20, then 16-bit vertices and normals.
void pl_model(pl_out &o, int v)
{
    for (uint32_t x : {3u, 1u, 3u, 1u})
        o.u32(x);
    for (float x : {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f})
        o.f32(x);
    const float verts[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    for (const auto &p : verts)
        for (float x : p) {
            if (v < 20)
                o.f32(x);
            else
                o.u8(x ? 0xFF : 0), o.u8(x ? 0xFF : 0);
        }
    if (v < 20) {
        o.u32(0), o.u32(1), o.u32(2);
        o.f32(0.0f), o.f32(0.0f), o.f32(1.0f);
    } else {
        o.u8(0x00), o.u8(0x80), o.u8(0x00), o.u8(0x80); // normal x and y 0: z comes back 1
        o.u32(0), o.u32(1), o.u32(2);
    }
}

// One operation entry's stored values; the fixture's defaults are a
// profile (type 1) on tool 1 with its toolpath in slot 0.
struct pl_op {
    int32_t type = 1, tool = 1, feed = 50;
    float step = 0.1f, aux[3] = {200.0f, 0.0f, 0.0f};
    int32_t entry = 1;
    float stock = 0.01f;
};

struct pl_file {
    bytes data;
    int32_t layerat = -1;             // where layer 0's data starts (body or file)
    std::vector<size_t> boundaries; // ends of the header blocks
};

constexpr int pl_w = 24, pl_h = 12;

// Builds a file of version v from the layout: header blocks by their first
// version, then the body.
pl_file pl_make(int v, const pl_op &op = {}, uint32_t units = 1, uint32_t tool2units = 2)
{
    pl_file f;
    pl_out o;
    auto mark = [&] { f.boundaries.push_back(o.b.size()); };
    o.u32(pl_magic);
    o.i32(v);
    for (float x : {12.0f, 8.0f, 0.5f, 0.5f, 0.5f, 1.0f})
        o.f32(x);
    for (int i = 0; i < 7; i++)
        o.u32(40 + i);
    for (int t = 0; t < 10; t++) {
        o.name64(t < 2 ? (t ? "T2" : "T1") : "");
        o.u8(t == 0 ? 1 : t == 1 ? 3 : 0);
        o.u8(0), o.u8(0), o.u8(0);
        for (float x : {1.5f, 1.0f, t == 1 ? 6.35f : 0.25f, t == 1 ? 90.0f : 0.0f})
            o.f32(x);
    }
    for (int i = 0; i < 10; i++) {
        o.name64(i == 0 ? "Op0" : "");
        if (i) {
            o.i32(-1);
            o.b.insert(o.b.end(), 60, 0);
            continue;
        }
        for (int32_t x : {op.type, op.tool, op.feed, 10000, 0})
            o.i32(x);
        for (float x : {op.step, 0.05f, 0.0f, -0.5f, 0.25f, op.aux[0], op.aux[1], op.aux[2]})
            o.f32(x);
        o.i32(0), o.u32(1), o.u32(1);
    }
    mark();
    auto block = [&](int from, auto body) {
        if (v >= from) {
            body();
            mark();
        }
    };
    auto ten = [&](auto first, auto rest) {
        o.u32(first);
        for (int i = 1; i < 10; i++)
            o.u32(rest);
    };
    block(2, [&] { o.u32(units); });
    block(3, [&] { o.u32(v < 12 ? 1 : 0); });
    block(4, [&] { o.u32(0), o.u32(0); });
    block(5, [&] { ten(30u, 0u); });
    block(6, [&] { o.f32(op.stock), o.b.insert(o.b.end(), 36, 0); });
    block(7, [&] { ten((uint32_t)op.entry, 0u); });
    block(8, [&] { ten(1u, 0u); });
    block(10, [&] { ten(8u, 0u), o.u32(3); });
    block(11, [&] {
        for (int t = 0; t < 10; t++)
            o.f32(10.0f);
    });
    block(12, [&] {
        o.i32(100), o.i32(64);
        for (int i = 0; i < 64; i++) {
            int type = i == 0 ? 1 : i == 1 && v >= 14 ? 4 : i == 2 ? 2 : i == 3 ? 3 : 0;
            o.name64(type == 1 ? "R" : type == 4 ? "T" : type == 2 ? "P" : type == 3 ? "M" : "Unused Layer");
            for (int32_t x : {type, 0, 0, 3})
                o.i32(x);
            for (float x : {0.0f, 0.5f, 6.0f, 4.0f, 0.0f, 12.0f, 6.0f, 0.5f, 0.0f, 0.0f, 0.0f})
                o.f32(x);
        }
    });
    block(13, [&] {
        for (int i = 0; i < 64; i++)
            for (float x : {0.1f, 0.2f, 0.9f, 0.8f})
                o.f32(x);
    });
    block(15, [&] { o.f32(0.25f); });
    block(18, [&] {
        for (int t = 0; t < 10; t++)
            o.u32(t == 1 ? tool2units : units);
    });
    auto sixtyfour = [&](uint32_t first, uint32_t rest) {
        o.u32(first);
        for (int i = 1; i < 64; i++)
            o.u32(rest);
    };
    block(22, [&] { sixtyfour(0xABCD1234u, 0xFFFFFFFFu); });
    block(29, [&] { sixtyfour(6u, 0u), ten(2u, 0u); });
    block(31, [&] {
        for (float x : {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.7f, 0.7f, 0.2f, 0.2f, 0.2f, 0.3f, 0.4f})
            o.f32(x);
    });
    block(33, [&] { o.u8(1), o.u8(0); });
    block(39, [&] {
        o.u32(1);
        for (int i = 0; i < 19; i++)
            o.f32(0.5f);
    });
    block(41, [&] { ten(3u, 3u); });
    block(43, [&] {
        for (float x : {0.9f, 0.8f, 0.7f, 0.3f, 0.2f, 0.1f})
            o.f32(x);
    });

    pl_out body;
    std::vector<uint8_t> px(pl_w * pl_h);
    for (size_t i = 0; i < px.size(); i++)
        px[i] = (uint8_t)(i * 7);
    size_t base = v < 19 ? o.b.size() : 0; // where the body's offsets count from
    if (v < 12) {
        body.text("image");
        f.layerat = (int32_t)(base + body.b.size());
        if (v < 6) {
            body.u32(pl_w), body.u32(pl_h), body.u32(1);
            body.b.insert(body.b.end(), px.begin(), px.end());
        } else {
            bytes png = pl_png(pl_w, pl_h, px);
            body.u32((uint32_t)png.size());
            body.put(png);
        }
    } else {
        if (v >= 14) {
            // One font, stored whole, and one text object on it: an integer
            // size step before 35, no spacing before 25.
            std::ifstream ff(pl_font, std::ios::binary);
            bytes font((std::istreambuf_iterator<char>(ff)), std::istreambuf_iterator<char>());
            body.u32(1);
            body.text("OCRACondensed");
            body.u32((uint32_t)font.size());
            body.put(font);
            body.u32(1);
            body.u32(0), body.u32(0);
            if (v < 35)
                body.u32(8);
            else
                body.f32(12.0f);
            if (v >= 25)
                body.f32(1.5f);
            body.text("Hi");
        }
        f.layerat = (int32_t)(base + body.b.size());
        if (v < 19) {
            bytes png = pl_png(pl_w, pl_h, px);
            body.u32((uint32_t)png.size());
            body.put(png);
        } else {
            body.u32(pl_w), body.u32(pl_h), body.u32(4);
            for (uint8_t p : px) {
                uint16_t q = (uint16_t)((p / 255.0f + 1.0f) / 3.0f * 65535.0f + 0.5f);
                body.u8((uint8_t)q), body.u8((uint8_t)(q >> 8));
            }
        }
        body.u32(v >= 14 ? 0 : pl_magic); // the text-layer's text-object slot
        pl_path(body, v);
        pl_model(body, v);
        for (int i = 4; i < 64; i++)
            body.u32(pl_magic);
    }
    body.text("[toolpaths]");
    body.u32(1);
    body.u32(0);
    if (v >= 10) {
        body.u32(1);
        if (v < 16)
            body.u8(0), body.u8(0), body.u8(1), body.u8(0);
        else if (v < 24)
            body.u8(0), body.u8(0), body.u8(0), body.u8(0), body.u8(1), body.u8(0), body.u8(0), body.u8(0);
        else
            body.u8(0), body.u8(0), body.u8(0), body.u8(0), body.u8(1);
    }
    body.u32(1);
    body.u32(0), body.u32(2);
    if (v < 24)
        body.u32(1), body.b.insert(body.b.end(), 12, 0);
    else
        body.u8(1);
    body.u32(2);
    for (float x : {1.0f, 1.0f, 0.0f, 2.0f, 1.0f, -0.1f})
        body.f32(x);
    body.text("[simimage0]");
    if (v >= 40) { // 10-bit samples 0, 511, 1023
        body.u32(3), body.u32(1), body.u32(4);
        const uint16_t q[3] = {0, 511, 1023};
        uint64_t bits = q[0] | (uint64_t)q[1] << 10 | (uint64_t)q[2] << 20;
        for (int i = 0; i < 4; i++)
            body.u8((uint8_t)(bits >> (8 * i)));
    } else if (v >= 19) {
        body.u32(3), body.u32(1), body.u32(4);
        for (uint16_t q : {21845, 43690, 65535})
            body.u8((uint8_t)q), body.u8((uint8_t)(q >> 8));
    } else if (v >= 6) {
        bytes png = pl_png(3, 1, {0, 128, 255});
        body.u32((uint32_t)png.size());
        body.put(png);
    } else {
        body.u32(3), body.u32(1), body.u32(1);
        body.u8(0), body.u8(128), body.u8(255);
    }

    if (v < 19) {
        o.put(body.b);
    } else {
        o.u32((uint32_t)body.b.size());
        bytes code;
        if (v == 19 || v == 36 || v == 37) {
            uLongf n = compressBound((uLong)body.b.size());
            code.resize(n);
            compress(code.data(), &n, body.b.data(), (uLong)body.b.size());
            code.resize(n);
        } else {
            code = pl_fse(body.b);
        }
        o.put(code);
    }
    f.data = o.b;
    return f;
}

// The layer-uid hash a layer without a stored uid gets, from its seed.
uint32_t pl_uid(uint32_t seed)
{
    uint64_t h = seed * 0x376f195577a223dbull;
    h ^= h >> 3;
    h *= 0x5adec7c65b334517ull;
    h ^= h << 9;
    h *= 0x65b6af102d59c6cbull;
    h ^= h >> 17;
    h *= 0x2432d07b704652a1ull;
    h ^= h << 23;
    return (uint32_t)h;
}

// With KERFMILL_FUZZ_SEEDS naming a folder, each fixture is also written
// there as a seed of the project_load fuzz target: a 0 byte (the file as
// it stands) and the file.
void pl_seed(int v, const bytes &file)
{
    const char *folder = getenv("KERFMILL_FUZZ_SEEDS");
    if (!folder || !*folder)
        return;
    std::ofstream out(std::string(folder) + "/legacy-v" + std::to_string(v), std::ios::binary);
    out.put(0);
    out.write((const char *)file.data(), (std::streamsize)file.size());
}

class ProjectLegacy : public GlTest {
protected:
    fontfixture fonts;
    testlog_capture log;
    std::string dir;
    void SetUp() override
    {
        GlTest::SetUp();
        r_cleartextures();
        fonts.start({pl_font});
        ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
        fonts.startworkers();
        memcpy(cfg, cfg_defaults, cfg_size);
        dir = (std::filesystem::temp_directory_path() / ("kerfmill-pl-" + std::to_string(getpid()))).string();
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
    }
    std::string save(const bytes &b, const char *name = "v.kfm")
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write((const char *)b.data(), (std::streamsize)b.size());
        return path;
    }
};

} // namespace

// The first version of each stored value; below it the loader's default.
TEST_F(ProjectLegacy, EveryVersionLoadsItsBlocksAndDefaultsTheRest)
{
    for (int v = 1; v <= 43; v++) {
        SCOPED_TRACE(testing::Message() << "version " << v);
        pl_file f = pl_make(v);
        pl_seed(v, f.data);
        ASSERT_EQ(project_load(save(f.data).c_str(), 1), 1) << log.text();
        const camop &r = cam_ops[0];
        EXPECT_EQ(r.engagefeed, v >= 5 ? 30 : 50) << "engage feed = feed";
        EXPECT_FLOAT_EQ(r.stock, v >= 6 ? 0.01f : 0.0f);
        EXPECT_EQ(r.entry, v >= 7 ? 1 : 0);
        EXPECT_EQ(r.coolant, v >= 8 ? 1 : 2);
        EXPECT_EQ(r.flags, v >= 10 ? 8u : 0u);
        EXPECT_FLOAT_EQ(r.aux[0], 20.0f) << "an angle of 200 loses 180";
        EXPECT_FLOAT_EQ(cam_tools[0].rampangle, v >= 11 ? 10.0f : 15.0f);
        EXPECT_EQ(cam_tools[1].units, v >= 18 ? 2 : 1) << "tool units from the project's";
        EXPECT_EQ(cam_tools[0].flutes, v >= 41 ? 3 : 2);
        EXPECT_EQ(project.ops[0].group, v >= 29 ? 2 : 0);
        EXPECT_EQ(project_layergroup, v >= 33 ? 1 : 0);
        EXPECT_EQ(project.renderstyle, v >= 39 ? 1u : 0u);
        EXPECT_FLOAT_EQ(project.zfill, v >= 15 ? 0.25f : 0.0f);

        ASSERT_EQ(numlayers, v >= 14 ? 4 : v >= 12 ? 3 : 1);
        if (v >= 14) {
            ASSERT_EQ(project.layers[1].type, layer_text);
            const text_object &t = text_objects[project.layers[1].data.text];
            EXPECT_STREQ(t.text, "Hi");
            EXPECT_FLOAT_EQ(t.ptsize, v >= 35 ? 12.0f : 2.0f * std::sqrt(8.5f)) << "point size";
            EXPECT_FLOAT_EQ(t.spacing, v >= 25 ? 1.5f : 0.0f);
        }
        if (v >= 12) {
            const project_layer &pl = project.layers[2];
            ASSERT_EQ(pl.type, layer_paths);
            EXPECT_EQ(pl.groups, v >= 34 ? 0u : 0x3FFu) << "paths-layers in every group before 34";
            const path *pa = pl.data.pth;
            ASSERT_EQ(pa->knum, 2);
            const float tol = v >= 37 ? 2.0f / 65535.0f : 0.0f;
            EXPECT_NEAR(pa->knots[0].pos[0], -0.5f, tol);
            EXPECT_NEAR(pa->knots[0].h2[0], -0.25f, tol) << "handles by the point formula";
            EXPECT_NEAR(pa->knots[1].h1[0], 0.25f, tol);
            EXPECT_NEAR(pa->knots[1].pos[1], 0.5f, tol);
        }
        if (v >= 12) {
            const project_layer &ml = project.layers[3];
            ASSERT_EQ(ml.type, layer_model);
            const model &mo = models[ml.data.mesh];
            ASSERT_EQ(mo.num_verts, 3u);
            ASSERT_EQ(mo.num_faces, 1u);
            EXPECT_FLOAT_EQ(mo.verts[7], 1.0f);
            EXPECT_FLOAT_EQ(mo.verts[8], 1.0f);
            EXPECT_EQ(mo.faces[0].c, 2u);
            EXPECT_NEAR(mo.faces[0].normal[2], 1.0f, 1e-4f);
        }
        const image *sim = project.ops[0].simulation;
        ASSERT_NE(sim, nullptr) << "simulation image";
        EXPECT_EQ(sim->width, 3);
        EXPECT_EQ(sim->height, 1);
        const project_layer &l = project.layers[0];
        ASSERT_EQ(l.type, layer_raster);
        ASSERT_NE(l.data.img, nullptr);
        EXPECT_EQ(l.data.img->width, pl_w);
        EXPECT_EQ(l.data.img->height, pl_h);
        if (v < 12) {
            EXPECT_EQ(project.ppi, 10) << "2 pixels an inch rounded up to a multiple of 10";
            EXPECT_EQ(l.flags, v >= 3 ? 16u : 0u) << "invert flag";
            EXPECT_EQ(l.smooth, v >= 10 ? 3 : 0) << "detail";
            EXPECT_FLOAT_EQ(l.aspect, 0.5f);
            EXPECT_EQ(l.groups, 1u);
        } else {
            EXPECT_EQ(project.ppi, 100);
            EXPECT_FLOAT_EQ(l.crop[1], v >= 13 ? 0.2f : 0.0f);
            EXPECT_FLOAT_EQ(l.crop[2], v >= 13 ? 0.9f : 1.0f);
            EXPECT_EQ(l.uid, v >= 22 ? 0xABCD1234u : pl_uid((uint32_t)f.layerat)) << "seed = data position + slot";
            EXPECT_EQ(l.groups, v >= 29 ? 6u : 1u);
        }

        const toolpath &tp = toolpaths[0];
        ASSERT_NE(tp.verts, nullptr);
        if (v >= 10) { // older files have none; compiling sorts them
            EXPECT_EQ(tp.num_sorted, 1u);
            EXPECT_EQ(toolpath_sortedpath(tp.sorted[0]), 0u);
            EXPECT_EQ(toolpath_sorteddir(tp.sorted[0]), 1);
        }
        ASSERT_EQ(tp.num_paths, 1u);
        EXPECT_EQ(tp.paths[0].count, 2u);
        EXPECT_EQ(tp.paths[0].flags, 1);
        ASSERT_EQ(tp.num_verts, 2u);
        const float shift[3] = {6.0f, 4.0f, 0.5f}; // origin fraction x size before 42
        for (int k = 0; k < 3; k++)
            EXPECT_FLOAT_EQ(tp.verts[3 + k], (v < 42 ? shift[k] : 0.0f) + (k == 0 ? 2.0f : k == 1 ? 1.0f : -0.1f));

        if (v >= 31) {
            EXPECT_FLOAT_EQ(project.canvascolor[0][0], 0.1f);
            EXPECT_FLOAT_EQ(project.colorcurve[1], 0.4f);
        }
        if (v == 31 || v == 32) { // 31 stored the simulation colours the other way round
            EXPECT_FLOAT_EQ(project.simcolor[0][0], v == 31 ? 0.2f : 0.7f);
            EXPECT_FLOAT_EQ(project.simcolor[1][0], v == 31 ? 0.7f : 0.2f);
        }
        if (v >= 39 && v < 43) { // wood grain kept in the simulation colours
            EXPECT_FLOAT_EQ(project.woodcolor[0][0], 0.2f);
            EXPECT_FLOAT_EQ(project.woodcolor[1][0], 0.7f);
        }
        if (v >= 43) {
            EXPECT_FLOAT_EQ(project.woodcolor[0][0], 0.9f);
            EXPECT_FLOAT_EQ(project.woodcolor[1][2], 0.1f);
        }
        EXPECT_TRUE(log.contains("v" + std::string(v < 10 ? "0" : "") + std::to_string(v) + ","));
    }
}

// One row per line of the migration table: the stored record and what the
// loader must make of it.
TEST_F(ProjectLegacy, OperationMigrations)
{
    struct Case {
        const char *what;
        int version;
        pl_op stored;
        uint32_t units, tool2units;
        int type;
        float step, aux[3], stock;
        uint32_t flags;
        const char *logline;
    };
    const float dia = 0.25f;
    const Case cases[] = {
        {"T6 V11 aux2 cleared, aux3 -1, aux1 x size z, stock 0", 11, {6, 1, 50, 0.1f, {2, 5, 7}, 1, 0.3f}, 1, 2,
         6, 0.1f, {1.0f, 0, -1}, 0.0f, 8, nullptr},
        {"T6 V26 aux3 -1 only", 26, {6, 1, 50, 0.1f, {2, 5, 7}, 1, 0.3f}, 1, 2, 6, 0.1f, {2, 5, -1}, 0.3f, 8, nullptr},
        {"T3 V17 aux3 0", 17, {3, 1, 50, 0.1f, {2, 5, 7}, 1, 0.3f}, 1, 2, 3, 0.1f, {2, 5, 0}, 0.3f, 8, nullptr},
        {"T10 V16 aux2 minus half the flute, aux1 x z, then stock from aux2", 16, {10, 1, 50, 0.1f, {2, 5, 7}, 1, 0.3f},
         1, 2, 10, 0.1f, {1.0f, 0, 7}, 5.0f - dia / 2, 8, nullptr},
        {"T7 V24 aux2 0", 24, {7, 1, 50, 0.1f, {2, 5, 7}, 1, 0.3f}, 1, 2, 7, 0.1f, {2, 0, 7}, 0.3f, 8, nullptr},
        {"T13 V22 cut count packed with the shape", 22, {13, 1, 50, 3.6f, {2, 5, 7}, 1, 0.3f}, 1, 2, 13, 0.0f,
         {NAN, 5, 7}, 0.3f, 8, "reformatted tessellate op: shape=2 cuts=4"},
        {"T5 V18 becomes 11 and is not rescaled", 18, {5, 1, 50, 0.1f, {2, 0.5f, 0.25f}, 1, 0.3f}, 1, 2, 11, 0.1f,
         {2, 0.5f, 0.25f}, 0.3f, 8, nullptr},
        {"T5 V25 metric tool in an inch project", 25, {5, 2, 50, 0.1f, {2, 0.5f, 0.25f}, 1, 0.3f}, 1, 2, 5, 0.1f,
         {2, 0.5f * 0.25f, std::min(0.25f, 0.75f * 0.25f)}, 0.3f, 8, nullptr},
        {"T5 V17 inch tool as it stands", 17, {5, 1, 50, 0.1f, {2, 0.5f, 0.25f}, 1, 0.3f}, 1, 2, 5, 0.1f,
         {2, 0.5f * dia, std::min(dia, 0.75f * dia)}, 0.3f, 8, nullptr},
        {"T1 aux1 200 -> 20", 44 - 1, {1, 1, 50, 0.1f, {200, 5, 7}, 1, 0.3f}, 1, 2, 1, 0.1f, {20, 5, 7}, 0.3f, 8,
         nullptr},
        {"T9 aux1 179 kept", 43, {9, 1, 50, 0.1f, {179, 5, 7}, 1, 0.3f}, 1, 2, 9, 0.1f, {179, 5, 7}, 0.3f, 8, nullptr},
        {"V9 entry method above 127 is flag 4", 9, {2, 1, 50, 0.1f, {2, 5, 7}, 131, 0.3f}, 1, 2, 2, 0.1f, {2, 5, 7},
         0.3f, 4, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture caught;
        pl_file f = pl_make(c.version, c.stored, c.units, c.tool2units);
        ASSERT_EQ(project_load(save(f.data).c_str(), 1), 1) << caught.text();
        const camop &r = cam_ops[0];
        EXPECT_EQ(r.type, c.type);
        EXPECT_FLOAT_EQ(r.step, c.step);
        for (int k = 0; k < 3; k++)
            if (!std::isnan(c.aux[k]))
                EXPECT_FLOAT_EQ(r.aux[k], c.aux[k]) << "aux " << k + 1;
        if (c.version >= 6)
            EXPECT_FLOAT_EQ(r.stock, c.stock);
        EXPECT_EQ(r.flags & 4, c.flags & 4);
        if (c.logline)
            EXPECT_TRUE(caught.contains(c.logline)) << caught.text();
    }
    // The type 13 cut count: high half 4 (3.6 rounded), low half the shape 2.
    pl_file f = pl_make(22, {13, 1, 50, 3.6f, {2, 5, 7}, 1, 0.3f});
    ASSERT_EQ(project_load(save(f.data).c_str(), 1), 1);
    uint32_t bits;
    memcpy(&bits, &cam_ops[0].aux[0], 4);
    EXPECT_EQ(bits, 2u | 4u << 16);
}

TEST_F(ProjectLegacy, TypeEightBeforeVersion21MovesItsStock)
{
    struct Case {
        float stock;
        uint32_t flags;
    };
    const Case cases[] = {{0.0f, 0}, {0.02f, 16}, {-0.02f, 16 | 32}};
    for (const Case &c : cases) {
        pl_file f = pl_make(20, {8, 1, 50, 0.1f, {2, 1.2f, 7}, 1, c.stock});
        ASSERT_EQ(project_load(save(f.data).c_str(), 1), 1) << log.text();
        const camop &r = cam_ops[0];
        EXPECT_EQ(r.flags & 48, c.flags) << c.stock;
        EXPECT_FLOAT_EQ(r.stock, 0.1f) << "the stored stepover";
        EXPECT_FLOAT_EQ(r.step, 0.0f);
        EXPECT_FLOAT_EQ(r.aux[0], 2.0f) << "aux 1 is scaled by size z only up to 17";
        uint32_t bits;
        memcpy(&bits, &r.aux[1], 4);
        EXPECT_EQ(bits, (uint32_t)(1.2f / 24.0f * 65535.0f + 0.5f) << 16);
    }
}

// Cuts at every block boundary and inside the body, an oversized image and
// zlib bodies that inflate short or long: refused, the project unchanged.
TEST_F(ProjectLegacy, DamagedOldFilesAreRefusedAndChangeNothing)
{
    pl_file keep = pl_make(44 - 1);
    ASSERT_EQ(project_load(save(keep.data, "keep.kfm").c_str(), 1), 1);
    const uint32_t uid = project.layers[0].uid;
    const int layers = numlayers;
    struct Case {
        std::string name;
        bytes file;
    };
    std::vector<Case> cases;
    for (int v : {1, 5, 11, 12, 18, 19, 30, 36, 43}) {
        pl_file f = pl_make(v);
        for (size_t n : f.boundaries)
            if (n < f.data.size())
                cases.push_back({"v" + std::to_string(v) + " cut at " + std::to_string(n),
                                 bytes(f.data.begin(), f.data.begin() + (long)n)});
        if (v < 19) {
            cases.push_back({"v" + std::to_string(v) + " cut in the body",
                             bytes(f.data.begin(), f.data.end() - 9)});
            bytes big = f.data;
            for (int i = 0; i < 4; i++)
                big[f.layerat + i] = 0x7F; // image size far past the file
            cases.push_back({"v" + std::to_string(v) + " oversized image chunk", big});
        }
    }
    // zlib: the size word above and below what the body inflates to.
    pl_file z = pl_make(36);
    size_t word = z.boundaries.back();
    for (int delta : {1, -1}) {
        bytes b = z.data;
        uint32_t n = (uint32_t)(b[word] | b[word + 1] << 8 | b[word + 2] << 16 | (uint32_t)b[word + 3] << 24);
        n += (uint32_t)delta;
        for (int i = 0; i < 4; i++)
            b[word + i] = (uint8_t)(n >> (8 * i));
        cases.push_back({delta > 0 ? "zlib body inflates short" : "zlib body inflates long", b});
    }
    cases.push_back({"zlib body cut", bytes(z.data.begin(), z.data.end() - 5)});
    bytes zero = pl_make(20).data;
    memset(zero.data() + 8, 0, 4);
    cases.push_back({"zero canvas width", zero});
    for (const Case &c : cases) {
        testlog_capture caught;
        EXPECT_EQ(project_load(save(c.file, "bad.kfm").c_str(), 1), 0) << c.name;
        EXPECT_TRUE(caught.contains("not loaded, the open project is unchanged")) << c.name;
        EXPECT_EQ(project.layers[0].uid, uid) << c.name;
        EXPECT_EQ(numlayers, layers) << c.name;
    }
}
