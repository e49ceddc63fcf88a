// Image chunks: the byte layouts of each kind (built here by hand), the
// pack16 writer's rounding, the "no image" chunk, chunks that claim more
// bytes than the blob holds, the read position after every chunk, ".qcsf"
// files read through the chunk reader, and texture coordinates to heights.
#include "img/chunk.h"

#include "img/png.h"
#include "img/primal.h"
#include "sys/file.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include "testlog.h"
#include "testmsg.h"
#include "testtemp.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// A blob assembled by hand, little-endian.
struct blob {
    bytes b;
    blob &u32(uint32_t v)
    {
        for (int i = 0; i < 4; i++)
            b.push_back((uint8_t)(v >> (8 * i)));
        return *this;
    }
    blob &u16(uint32_t v)
    {
        b.push_back((uint8_t)v);
        b.push_back((uint8_t)(v >> 8));
        return *this;
    }
    blob &raw(const bytes &v)
    {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
};

// Packs 10-bit samples low bit first, as the format lays them out.
bytes chunktest_pack10(const std::vector<uint32_t> &samples)
{
    bytes out((samples.size() * 10 + 7) / 8, 0);
    for (size_t i = 0; i < samples.size(); i++)
        for (int bit = 0; bit < 10; bit++)
            if (samples[i] >> bit & 1)
                out[(i * 10 + bit) / 8] |= (uint8_t)(1 << ((i * 10 + bit) % 8));
    return out;
}

image *chunktest_scalar(const std::vector<float> &values, int w, int h)
{
    return img_alloc("field", w, h, 4, values.data());
}

float chunktest_pixel(const image *img, int i)
{
    return ((const float *)img->pixels)[i];
}

class Chunk : public testing::Test {
protected:
    void TearDown() override { testmsg_reset(); }
    // Points the message buffer at the blob, as a loader does.
    void readfrom(const bytes &b) { msg_readfrom(b.data(), (int32_t)b.size()); }
};

} // namespace

TEST_F(Chunk, NoImageChunksAreFourBytes)
{
    const int kinds[] = {img_raw, img_png, img_pack10, img_pack16};
    bytes b = blob().u32(0).u32(0xABCD).b;
    for (int kind : kinds) {
        testlog_capture log;
        readfrom(b);
        EXPECT_EQ(img_read(kind), nullptr) << kind;
        EXPECT_EQ(msg_position, 4) << kind;
        EXPECT_EQ(msg_failed, 0) << kind;
        EXPECT_FALSE(log.contains("img_read")) << kind;
    }
    ASSERT_EQ(msg_alloc(64), 1);
    EXPECT_EQ(img_write(nullptr), 0);
    EXPECT_EQ(msg_position, 4);
    EXPECT_EQ(bytes(msg_buffer, msg_buffer + 4), bytes(4, 0));
}

TEST_F(Chunk, Pack16StoresMinusOneToTwoIn16Bits)
{
    struct Case {
        float value;
        uint16_t sample;
        float back;
    };
    const Case cases[] = {
        {0.0f, 21845, 0.0f},      {1.0f, 43690, 1.0f},  {0.5f, 32768, 32768.0f / 65535.0f * 3.0f - 1.0f},
        {-3.0f, 0, -1.0f},        {5.0f, 65535, 2.0f},  {-1.0f, 0, -1.0f},
        {2.0f, 65535, 2.0f},      {NAN, 0, -1.0f},      {0.25f, 27306, 27306.0f / 65535.0f * 3.0f - 1.0f},
    };
    const int n = sizeof(cases) / sizeof(cases[0]);
    std::vector<float> values;
    for (const Case &c : cases)
        values.push_back(c.value);
    image *img = chunktest_scalar(values, n, 1);
    ASSERT_EQ(msg_alloc(16), 1);
    testlog_capture log;
    EXPECT_EQ(img_write(img), 12 + 2 * n);
    EXPECT_TRUE(log.contains("img_write: \"field\" 9x1x4 (0.02kb, 2.000bpp)"));
    bytes written(msg_buffer, msg_buffer + msg_position);
    sys_free(msg_buffer);
    msg_capacity = 0;
    EXPECT_EQ(bytes(written.begin(), written.begin() + 12), blob().u32(n).u32(1).u32(4).b);
    for (int i = 0; i < n; i++)
        EXPECT_EQ(written[12 + 2 * i] | written[13 + 2 * i] << 8, cases[i].sample) << cases[i].value;

    readfrom(written);
    image *back = img_read(img_pack16);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(msg_position, (int32_t)written.size());
    EXPECT_EQ(std::string(back->name), "PK16B9x1");
    for (int i = 0; i < n; i++)
        EXPECT_EQ(chunktest_pixel(back, i), cases[i].back) << cases[i].value;
    EXPECT_TRUE(log.contains("img_read: \"PK16B9x1\" 9x1x4 img_pack16 (0.02k bytes)"));
    img_free(back);
    img_free(img);
}

TEST_F(Chunk, Pack10ReadsTenBitSamplesWithoutPassingTheData)
{
    // 3 x 3 samples take 11.25 bytes: 12 after the header, and the last
    // sample ends inside them. The blob ends right there.
    std::vector<uint32_t> samples = {0, 1023, 512, 1, 1000, 0, 1023, 7, 300};
    bytes data = chunktest_pack10(samples);
    ASSERT_EQ(data.size(), 12u);
    bytes b = blob().u32(3).u32(3).u32(4).raw(data).b;
    testlog_capture log;
    readfrom(b);
    image *img = img_read(img_pack10);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(msg_position, 24);
    EXPECT_EQ(std::string(img->name), "PK10B3x3");
    EXPECT_TRUE(log.contains("reading 12 bytes for 3x3..."));
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(chunktest_pixel(img, i), (float)samples[i] / 1023.0f) << i;
    EXPECT_EQ(chunktest_pixel(img, 1), 1.0f);
    img_free(img);
}

TEST_F(Chunk, RawAndPngChunksGiveTheirPixels)
{
    struct Case {
        int w, h, bpp;
    };
    const Case cases[] = {{3, 2, 3}, {1, 1, 1}, {5, 4, 4}, {7, 3, 2}};
    for (const Case &c : cases) {
        image *src = img_alloc("src", c.w, c.h, c.bpp);
        for (int i = 0; i < c.w * c.h * c.bpp; i++)
            src->pixels[i] = (uint8_t)(i * 37 + 11);
        size_t n = (size_t)c.w * c.h * c.bpp;
        int32_t pngsize = 0;
        uint8_t *png = img_writepng(src, &pngsize);
        ASSERT_NE(png, nullptr);
        bytes b = blob().u32(c.w).u32(c.h).u32(c.bpp).raw(bytes(src->pixels, src->pixels + n)).u32(pngsize).b;
        b.insert(b.end(), png, png + pngsize);
        sys_free(png);

        readfrom(b);
        image *raw = img_read(img_raw);
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(msg_position, (int32_t)(12 + n));
        EXPECT_EQ(std::string(raw->name), "RAW" + std::to_string(c.w) + "x" + std::to_string(c.h));
        EXPECT_EQ(memcmp(raw->pixels, src->pixels, n), 0);
        image *fromfile = img_read(img_png);
        ASSERT_NE(fromfile, nullptr) << c.bpp;
        EXPECT_EQ(msg_position, (int32_t)b.size());
        EXPECT_EQ(std::string(fromfile->name), "PNG" + std::to_string(c.w) + "x" + std::to_string(c.h));
        if (c.bpp == 2) {
            // SDL2_image widens grey with alpha to grey, grey, grey, alpha.
            ASSERT_EQ(fromfile->bytesperpixel, 4);
            for (int i = 0; i < c.w * c.h; i++) {
                const uint8_t *s = src->pixels + 2 * i, *d = fromfile->pixels + 4 * i;
                EXPECT_EQ(bytes(d, d + 4), bytes({s[0], s[0], s[0], s[1]})) << i;
            }
        } else {
            ASSERT_EQ(fromfile->bytesperpixel, c.bpp);
            EXPECT_EQ(memcmp(fromfile->pixels, src->pixels, n), 0) << c.bpp;
        }
        img_free(fromfile);
        img_free(raw);
        img_free(src);
    }
}

TEST_F(Chunk, FailedDecodesStillEndPastTheChunk)
{
    // A sequence of chunks, some broken inside but with honest sizes: each
    // read ends at the next chunk and the blob reads to its end.
    bytes garbage = {0x89, 'P', 'N', 'G', 1, 2, 3};
    struct Step {
        int kind;
        bool image;
        size_t size;
    };
    blob b;
    b.u32(2).u32(1).u32(1).raw({9, 8});               // raw 2x1 grey
    b.u32(0);                                          // pack16: no image
    b.u32(2).u32(2).u32(2).raw(bytes(8, 1));           // pack16 claiming 2 bytes a pixel
    b.u32((uint32_t)garbage.size()).raw(garbage);      // png that does not decode
    b.u32(1).u32(1).u32(4).raw(chunktest_pack10({5})); // pack10 1x1
    const Step steps[] = {{img_raw, true, 14}, {img_pack16, false, 4}, {img_pack16, false, 20},
                          {img_png, false, 11}, {img_pack10, true, 14}};
    readfrom(b.b);
    int32_t at = 0;
    for (const Step &s : steps) {
        testlog_capture log;
        image *img = img_read(s.kind);
        at += (int32_t)s.size;
        EXPECT_EQ(img != nullptr, s.image) << "kind " << s.kind << " ending at " << at;
        EXPECT_EQ(msg_position, at) << "kind " << s.kind;
        if (!s.image && s.size > 4)
            EXPECT_TRUE(log.contains("img_read: failed to read image!"));
        img_free(img);
    }
    EXPECT_EQ(msg_position, (int32_t)b.b.size());
    EXPECT_EQ(msg_failed, 0);
}

// A PNG chunk's picture header is read before any decoder sees the bytes:
// a few bytes declaring a huge picture, or a picture of another format, are
// refused without decoding, and the read still ends past the chunk.
TEST_F(Chunk, PngChunksAreCheckedBeforeDecoding)
{
    image *one = img_alloc("one", 1, 1, 1);
    int32_t pngsize = 0;
    uint8_t *png = img_writepng(one, &pngsize);
    img_free(one);
    ASSERT_NE(png, nullptr);
    // The same file with IHDR saying 65535 x 65535 and a matching CRC, so a
    // decoder would take the header at its word.
    bytes huge(png, png + pngsize);
    sys_free(png);
    for (int i : {16, 20}) {
        huge[(size_t)i] = huge[(size_t)i + 1] = 0;
        huge[(size_t)i + 2] = huge[(size_t)i + 3] = 0xFF;
    }
    uLong crc = crc32(0, huge.data() + 12, 17);
    for (int i = 0; i < 4; i++)
        huge[(size_t)(29 + i)] = (uint8_t)(crc >> (24 - 8 * i));
    // A whole 1 x 1 GIF, which SDL2_image would decode happily.
    bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                 ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};
    struct Case {
        const char *name;
        bytes file;
        const char *line;
    };
    const Case cases[] = {
        {"65535 x 65535 PNG", huge, "img_read: \"img_png chunk\" declares 65535x65535 pixels"},
        {"GIF", gif, "img_read: \"img_png chunk\" is not a PNG image"},
        {"PNG cut inside its header", bytes(huge.begin(), huge.begin() + 20),
         "img_read: \"img_png chunk\" has a damaged header"},
    };
    for (const Case &c : cases) {
        bytes b = blob().u32((uint32_t)c.file.size()).raw(c.file).u32(0).b;
        testlog_capture log;
        readfrom(b);
        EXPECT_EQ(img_read(img_png), nullptr) << c.name;
        EXPECT_EQ(msg_position, (int32_t)b.size() - 4) << c.name;
        EXPECT_EQ(msg_failed, 0) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name << "\n" << log.text();
        EXPECT_FALSE(log.contains("sys_loadimagemem")) << c.name;
    }
}

TEST_F(Chunk, SizesBeyondTheBlobAreRefused)
{
    struct Case {
        const char *name;
        int kind;
        bytes chunk;
    };
    const Case cases[] = {
        {"raw of 4 MB", img_raw, blob().u32(1000).u32(1000).u32(4).raw(bytes(16, 1)).b},
        {"raw of 4G x 4G", img_raw, blob().u32(0xFFFFFFFF).u32(0xFFFFFFFF).u32(0xFFFFFFFF).b},
        {"raw of huge channels", img_raw, blob().u32(2).u32(2).u32(0x7FFFFFFF).raw(bytes(16, 1)).b},
        {"png of 1 MB", img_png, blob().u32(1000000).raw(bytes(16, 1)).b},
        {"png of 4 GB", img_png, blob().u32(0xFFFFFFFF).b},
        {"pack10 one byte short", img_pack10, blob().u32(3).u32(3).u32(4).raw(bytes(11, 1)).b},
        {"pack16 one byte short", img_pack16, blob().u32(3).u32(1).u32(4).raw(bytes(5, 1)).b},
        {"pack16 of 4G x 4G", img_pack16, blob().u32(0xFFFFFFFF).u32(0xFFFFFFFF).u32(4).b},
        {"header cut short", img_pack16, blob().u32(3).u16(1).b},
        {"prml header cut short", img_prml, blob().u16(9).u16(2).b},
        {"prml stream past the end", img_prml, blob().u16(9).u16(2).u16(2).u32(1000).u32(100).u32(0x05080A07).b},
    };
    for (const Case &c : cases) {
        uint64_t mem = sys_memused();
        readfrom(c.chunk);
        EXPECT_EQ(img_read(c.kind), nullptr) << c.name;
        EXPECT_EQ(msg_position, (int32_t)c.chunk.size()) << c.name;
        EXPECT_EQ(msg_failed, 1) << c.name;
        EXPECT_EQ(sys_memused(), mem) << c.name;
    }
}

TEST_F(Chunk, KindsWithoutAReaderAreRefused)
{
    const int kinds[] = {img_pack8, img_zlib, img_qrnt, img_dimg, img_jpeg, 10, -1};
    bytes b = blob().u32(1).u32(1).u32(4).u32(0).b;
    for (int kind : kinds) {
        testlog_capture log;
        readfrom(b);
        EXPECT_EQ(img_read(kind), nullptr) << kind;
        EXPECT_TRUE(log.contains("img_read: no reader for image kind " + std::to_string(kind)));
        EXPECT_EQ(msg_failed, 1) << kind;
    }
}

TEST_F(Chunk, QcsfFilesAndPrmlChunksReadTheSamePayload)
{
    std::vector<float> values(40 * 25);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = 0.5f + 0.4f * std::sin((float)i * 0.01f);
    image *src = chunktest_scalar(values, 40, 25);
    int32_t size = 0;
    uint8_t *payload = primal_encode(src, &size);
    ASSERT_NE(payload, nullptr);

    // Inside a blob, followed by another chunk.
    bytes b(payload, payload + size);
    b.insert(b.end(), {0, 0, 0, 0});
    readfrom(b);
    testlog_capture log;
    image *chunk = img_read(img_prml);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(msg_position, size);
    EXPECT_TRUE(log.contains("img_read: \"QCSF40x25\" 40x25x4 img_prml"));

    // As a file on disk, loaded whole and read as one chunk.
    const std::string path = testtemp_file("qcsf");
    ASSERT_FALSE(path.empty());
    std::ofstream(path, std::ios::binary).write((const char *)payload, size);
    int32_t filesize = 0;
    void *file = file_load(path.c_str(), &filesize, 0, INT32_MAX);
    remove(path.c_str());
    ASSERT_NE(file, nullptr);
    msg_readfrom(file, filesize);
    image *loaded = img_read(img_prml);
    sys_free(file);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(std::string(loaded->name), "QCSF40x25");
    EXPECT_EQ(memcmp(loaded->pixels, chunk->pixels, 40 * 25 * 4), 0);
    for (size_t i = 0; i < values.size(); i++)
        EXPECT_NEAR(chunktest_pixel(loaded, (int)i), values[i], 0.01f) << i;

    img_free(loaded);
    img_free(chunk);
    sys_free(payload);
    img_free(src);
}

TEST_F(Chunk, TextureCoordinatesBecomeSampledHeights)
{
    // Source heights rise with x: 0, 1, 2, 3 across every row.
    std::vector<float> ramp(4 * 3);
    for (int i = 0; i < 12; i++)
        ramp[(size_t)i] = (float)(i % 4);
    image *src = chunktest_scalar(ramp, 4, 3);
    struct Case {
        uint16_t u, v;
        float height;
    };
    const Case cases[] = {
        {0, 0, 0.0f},          // untouched
        {16384, 0, 1.0f},      // x = 1
        {24576, 30000, 1.5f},  // x = 1.5
        {65535, 65535, 3.0f},  // clamped to the last column
        {0, 40000, 0.0f},      // only v: the first column
    };
    const int n = sizeof(cases) / sizeof(cases[0]);
    image *coords = img_alloc("uv", n, 1, 4);
    for (int i = 0; i < n; i++) {
        uint8_t *p = coords->pixels + 4 * i;
        p[0] = (uint8_t)cases[i].u;
        p[1] = (uint8_t)(cases[i].u >> 8);
        p[2] = (uint8_t)cases[i].v;
        p[3] = (uint8_t)(cases[i].v >> 8);
    }
    img_u16tofloat(coords, src);
    for (int i = 0; i < n; i++)
        EXPECT_NEAR(chunktest_pixel(coords, i), cases[i].height, 1e-3) << i;
    img_free(coords);
    img_free(src);
}
