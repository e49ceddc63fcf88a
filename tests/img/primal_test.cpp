// The primal codec: round trips within the error bound the payload itself
// states (read back with zlib, not with our reader), the node count of a
// constant field, hand-built payloads of every earlier version, the blank
// field of a newer one, and damaged payloads refused without leaks.
#include "img/primal.h"

#include "sys/mem.h"

#include "testlog.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

uint32_t get16(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

uint32_t get32(const uint8_t *p)
{
    return get16(p) | get16(p + 2) << 16;
}

void put16(bytes &b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void put32(bytes &b, size_t at, uint32_t v)
{
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}

float bound(uint32_t q)
{
    return (float)q / 65535.0f * 2.0f - 1.0f;
}

enum fieldkind { constant, ramp, bumps, noise, outofrange };

// A scalar field image of the given kind; the caller frees it.
image *primaltest_field(int w, int h, fieldkind kind)
{
    image *img = img_allocfloat("field", w, h);
    float *px = (float *)img->pixels;
    uint32_t seed = 7;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            seed = seed * 1664525u + 1013904223u;
            float r = (float)(seed >> 8) / 16777216.0f;
            float v = 0;
            switch (kind) {
            case constant: v = 0.37f; break;
            case ramp: v = (float)(x + y) / (float)(w + h); break;
            case bumps:
                v = 0.5f + 0.3f * std::sin(x * 0.05f) * std::cos(y * 0.07f) +
                    0.2f * std::exp(-((x - w / 3.0f) * (x - w / 3.0f) + (y - h / 2.0f) * (y - h / 2.0f)) / 200.0f);
                break;
            case noise: v = r; break;
            case outofrange: v = -0.5f + 2.0f * r; break;
            }
            px[(size_t)y * w + x] = v;
        }
    return img;
}

// A payload's body inflated by zlib, with the header fields it depends on.
struct primaltest_body {
    int width, height, blocksize;
    uint32_t treesize;
    bytes body;
};

primaltest_body primaltest_inflate(const bytes &payload)
{
    primaltest_body b = {(int)get16(&payload[2]), (int)get16(&payload[4]), payload[16], 0, {}};
    b.body.resize(get32(&payload[10]));
    uLongf n = (uLongf)b.body.size();
    EXPECT_EQ(uncompress(b.body.data(), &n, &payload[18], get32(&payload[6])), Z_OK);
    EXPECT_EQ(n, (uLongf)b.body.size());
    b.treesize = get32(b.body.data());
    return b;
}

bytes primaltest_encode(const image *img)
{
    int32_t size = 0;
    uint8_t *p = primal_encode(img, &size);
    bytes out(p, p + size);
    sys_free(p);
    return out;
}

// Wraps a body into a payload: the 18-byte header for version 9 (with the
// given parameters), the 10-byte one otherwise.
bytes primaltest_wrap(int version, int w, int h, const bytes &body, const int params[4])
{
    uLongf n = compressBound((uLong)body.size());
    bytes stream(n);
    compress2(stream.data(), &n, body.data(), (uLong)body.size(), 9);
    size_t head = version == 9 ? 18 : 10;
    bytes out(head + n);
    put16(out, 0, (uint32_t)version);
    put16(out, 2, (uint32_t)w);
    put16(out, 4, (uint32_t)h);
    put32(out, 6, (uint32_t)n);
    if (version == 9) {
        put32(out, 10, (uint32_t)body.size());
        for (int i = 0; i < 4; i++)
            out[14 + i] = (uint8_t)params[i];
    }
    memcpy(out.data() + head, stream.data(), n);
    return out;
}

// A tree part from its root table and node words.
bytes primaltest_tree(const std::vector<uint32_t> &roots, const std::vector<uint16_t> &nodes)
{
    bytes t(4 + 4 * roots.size() + 2 * nodes.size());
    put32(t, 0, (uint32_t)t.size());
    for (size_t i = 0; i < roots.size(); i++)
        put32(t, 4 + 4 * i, roots[i]);
    for (size_t i = 0; i < nodes.size(); i++)
        put16(t, 4 + 4 * roots.size() + 2 * i, nodes[i]);
    return t;
}

image *primaltest_read(const bytes &payload, int32_t *used)
{
    return primal_read(payload.empty() ? nullptr : payload.data(), (int32_t)payload.size(), used);
}

} // namespace

TEST(Primal, RoundTripStaysWithinEachBlocksStep)
{
    struct Case {
        int w, h;
        fieldkind kind;
        float meanerror; // the smooth ones must come back close on average
    };
    const Case cases[] = {
        {1, 1, bumps, 1e-4f},     {128, 128, ramp, 1e-3f},  {129, 130, bumps, 1e-3f}, {300, 200, bumps, 1e-3f},
        {77, 51, noise, 0.02f},   {64, 64, outofrange, 1.0f}, {10, 300, constant, 1e-4f},
    };
    for (const Case &c : cases) {
        image *src = primaltest_field(c.w, c.h, c.kind);
        bytes payload = primaltest_encode(src);
        ASSERT_GT(payload.size(), 18u);
        int32_t used = 0;
        image *out = primaltest_read(payload, &used);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(used, (int32_t)payload.size());
        EXPECT_EQ(std::string(out->name), "QCSF" + std::to_string(c.w) + "x" + std::to_string(c.h));
        ASSERT_EQ(out->width, c.w);
        ASSERT_EQ(out->height, c.h);
        ASSERT_EQ(out->bytesperpixel, 4);

        primaltest_body b = primaltest_inflate(payload);
        int nbx = (c.w + 9) / 10;
        const float *s = (const float *)src->pixels, *d = (const float *)out->pixels;
        double sum = 0;
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++) {
                const uint8_t *blk = &b.body[b.treesize + ((size_t)(y / 10) * nbx + x / 10) * 104];
                float step = (bound(get16(blk + 2)) - bound(get16(blk))) / 31.0f;
                float want = std::clamp(s[(size_t)y * c.w + x], 0.0f, 1.0f), got = d[(size_t)y * c.w + x];
                ASSERT_GE(got, 0.0f);
                ASSERT_LE(got, 1.0f);
                ASSERT_LE(std::fabs(got - want), step + 3.0f / 65535.0f) << c.w << "x" << c.h << " at " << x << "," << y;
                sum += std::fabs(got - want);
            }
        EXPECT_LT(sum / (c.w * c.h), c.meanerror) << c.w << "x" << c.h;
        img_free(out);
        img_free(src);
    }
}

TEST(Primal, ConstantFieldStoresOneLeafPerRoot)
{
    struct Case {
        int w, h, gw, gh;
    };
    const Case cases[] = {{1, 1, 2, 2}, {128, 1, 2, 2}, {129, 1, 3, 2}, {300, 200, 4, 3}, {128, 129, 2, 3}};
    for (const Case &c : cases) {
        image *src = primaltest_field(c.w, c.h, constant);
        testlog_capture log;
        bytes payload = primaltest_encode(src);
        EXPECT_TRUE(log.contains("primal encode: " + std::to_string(c.w) + "x" + std::to_string(c.h) + " = " +
                                 std::to_string(c.gw) + "x" + std::to_string(c.gh) + " mips..."));
        const uint8_t params[4] = {7, 8, 10, 5};
        EXPECT_EQ(memcmp(&payload[14], params, 4), 0);
        primaltest_body b = primaltest_inflate(payload);
        int roots = c.gw * c.gh;
        // N = Gw x Gh: the size word counts itself, the root table and N words.
        EXPECT_EQ(b.treesize, (uint32_t)(4 + 4 * roots + 2 * roots)) << c.w << "x" << c.h;
        size_t blocks = (size_t)((c.w + 9) / 10) * ((c.h + 9) / 10);
        ASSERT_EQ(b.body.size(), b.treesize + blocks * 104);
        for (size_t i = 0; i < blocks; i++) {
            const uint8_t *blk = &b.body[b.treesize + i * 104];
            EXPECT_EQ(get16(blk), get16(blk + 2));
            EXPECT_EQ(std::count(blk + 4, blk + 104, 0), 100);
        }
        img_free(src);
    }
}

TEST(Primal, EarlierVersionsDecodeWithTheirParameters)
{
    // d, b, B, k of each version, as the format fixes them.
    struct Case {
        int version, depth, bits, block, delta;
    };
    const Case cases[] = {{0, 6, 7, 12, 5}, {1, 6, 8, 12, 5}, {2, 6, 7, 10, 5}, {3, 6, 8, 10, 5}, {4, 6, 8, 8, 4},
                          {5, 6, 8, 12, 5}, {6, 6, 8, 12, 5}, {7, 6, 8, 12, 5}, {8, 7, 8, 10, 5}, {9, 7, 8, 10, 5}};
    const int w = 30, h = 20;
    for (const Case &c : cases) {
        int gw = ((1 << c.depth) - 1 + w) / (1 << c.depth) + 1, gh = ((1 << c.depth) - 1 + h) / (1 << c.depth) + 1;
        std::vector<uint32_t> roots;
        std::vector<uint16_t> nodes;
        for (int i = 0; i < gw * gh; i++) {
            roots.push_back((uint32_t)i);
            nodes.push_back(100); // every root a leaf of value 100 / (2^b - 1)
        }
        bytes body = primaltest_tree(roots, nodes);
        int blocks = ((w + c.block - 1) / c.block) * ((h + c.block - 1) / c.block);
        for (int i = 0; i < blocks; i++) {
            bytes blk(4 + c.block * c.block, 3); // every step 3
            put16(blk, 0, 30000);
            put16(blk, 2, 36000);
            body.insert(body.end(), blk.begin(), blk.end());
        }
        const int params[4] = {c.depth, c.bits, c.block, c.delta};
        int32_t used = 0;
        image *img = primaltest_read(primaltest_wrap(c.version, w, h, body, params), &used);
        ASSERT_NE(img, nullptr) << "version " << c.version;
        float want = 100.0f / (float)((1 << c.bits) - 1) + bound(30000) +
                     (bound(36000) - bound(30000)) * 3.0f / (float)((1 << c.delta) - 1);
        const float *px = (const float *)img->pixels;
        for (int i = 0; i < w * h; i++)
            ASSERT_NEAR(px[i], want, 1e-6) << "version " << c.version << " pixel " << i;
        img_free(img);
    }
}

TEST(Primal, HandBuiltVersion4TreeInterpolatesStoredPoints)
{
    // Depth 6: four roots over one 64-pixel cell. The top-left root is inner:
    // its record holds 0, child 1 (its own point) a leaf 0, child 2 (the
    // point at pixel 32, 0) a leaf 255, children 3 and 4 not stored. Every
    // other root is 0. Inside the first quadrant that gives x/32 (1 - y/32).
    std::vector<uint16_t> nodes = {0x8001, 0, 0, 255, 0xFFFF, 0xFFFF, 0, 0, 0};
    bytes body = primaltest_tree({0, 6, 7, 8}, nodes);
    const int w = 16, h = 8;
    for (int bx = 0; bx < 2; bx++) {
        bytes blk(68, 0);
        put16(blk, 0, bx ? 0 : 29491);     // -1.0 or about -0.1
        put16(blk, 2, bx ? 32767 : 36044); // about 0.0 or 0.1
        for (int i = 0; i < 64; i++)
            blk[4 + i] = (uint8_t)(bx ? 15 : (i % 8 + i / 8) % 16);
        body.insert(body.end(), blk.begin(), blk.end());
    }
    int32_t used = 0;
    bytes payload = primaltest_wrap(4, w, h, body, nullptr);
    image *img = primaltest_read(payload, &used);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(used, (int32_t)payload.size());
    const float *px = (const float *)img->pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint8_t *blk = &body[body.size() - 136 + (x / 8) * 68];
            float lo = bound(get16(blk)), hi = bound(get16(blk + 2));
            float delta = lo + (hi - lo) * (float)blk[4 + (y % 8) * 8 + x % 8] / 15.0f;
            float want = std::clamp(x / 32.0f * (1.0f - y / 32.0f) + delta, 0.0f, 1.0f);
            ASSERT_NEAR(px[(size_t)y * w + x], want, 1e-5) << x << "," << y;
        }
    img_free(img);
}

TEST(Primal, NewerVersionGivesABlankFieldAndTheMessage)
{
    bytes payload(10 + 6, 0xEE);
    put16(payload, 0, 10);
    put16(payload, 2, 5);
    put16(payload, 4, 3);
    put32(payload, 6, 4); // two bytes follow the stream: not part of it
    testlog_capture log;
    int32_t used = 0;
    image *img = primaltest_read(payload, &used);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(used, 14);
    EXPECT_EQ(std::string(img->name), "QCSF5x3");
    EXPECT_EQ(img->width * img->height, 15);
    EXPECT_EQ(std::count(img->pixels, img->pixels + 60, 0), 60);
    EXPECT_TRUE(log.contains("[ ERROR ] Primal-encoding v10 is newer than is supported (v09). Please update "
                             "Kerfmill to the latest version!"));
    img_free(img);
}

// Runs the reader on a damaged payload: it must refuse, leak nothing and
// leave the image table as it was.
static void primaltest_expectrefused(const bytes &payload, const std::string &what)
{
    uint64_t mem = sys_memused();
    int images = img_count;
    int32_t used = 0;
    image *img = primaltest_read(payload, &used);
    EXPECT_EQ(img, nullptr) << what;
    img_free(img);
    EXPECT_EQ(sys_memused(), mem) << what;
    EXPECT_EQ(img_count, images) << what;
}

TEST(Primal, TruncatedPayloadsAreRefused)
{
    image *src = primaltest_field(64, 48, bumps);
    bytes payload = primaltest_encode(src);
    img_free(src);
    const size_t cuts[] = {0, 1, 9, 10, 17, 18, 19, payload.size() / 2, payload.size() - 1};
    for (size_t cut : cuts) {
        int32_t used = 0;
        bytes part(payload.begin(), payload.begin() + (long)cut);
        EXPECT_EQ(primaltest_read(part, &used), nullptr) << cut;
        EXPECT_EQ(used, -1) << cut; // the stream runs past what is there
        primaltest_expectrefused(part, "cut at " + std::to_string(cut));
    }
}

TEST(Primal, OversizedOrImpossibleHeaderFieldsAreRefused)
{
    image *src = primaltest_field(40, 30, bumps);
    bytes good = primaltest_encode(src);
    img_free(src);
    struct Case {
        const char *name;
        size_t at;
        int size; // 1, 2 or 4 bytes
        uint32_t value;
    };
    const Case cases[] = {
        {"width and height beyond any canvas", 2, 4, 0xFFFFFFFF},
        {"zero width", 2, 2, 0},
        {"larger width", 2, 2, 41},
        {"taller", 4, 2, 31},
        {"body of 4 GB", 10, 4, 0xFFFFFFFF},
        {"body of 2 GB", 10, 4, 0x7FFFFFFF},
        {"body one byte short", 10, 4, 0},
        {"depth 200", 14, 1, 200},
        {"depth 1", 14, 1, 1},
        {"no value bits", 15, 1, 0},
        {"16 value bits", 15, 1, 16},
        {"no block size", 16, 1, 0},
        {"block size 9", 16, 1, 9},
        {"no delta bits", 17, 1, 0},
        {"9 delta bits", 17, 1, 9},
        {"version 8 reads a 10-byte header", 0, 2, 8},
    };
    for (const Case &c : cases) {
        bytes bad = good;
        uint32_t v = c.value;
        if (std::string(c.name) == "body one byte short")
            v = get32(&good[10]) - 1;
        for (int i = 0; i < c.size; i++)
            bad[c.at + i] = (uint8_t)(v >> (8 * i));
        primaltest_expectrefused(bad, c.name);
    }
}

TEST(Primal, FlippedBytesAreRefusedOrGiveAField)
{
    image *src = primaltest_field(50, 40, bumps);
    bytes good = primaltest_encode(src);
    img_free(src);
    uint64_t mem = sys_memused();
    int images = img_count;
    int refused = 0, tried = 0;
    for (size_t at = 0; at < good.size(); at += (at < 18 ? 1 : 3)) {
        bytes bad = good;
        bad[at] ^= 0x5A;
        int32_t used = 0;
        image *img = primaltest_read(bad, &used);
        bool newer = get16(bad.data()) > 9;
        if (at >= 18) // inside the stream: zlib's check refuses the change
            EXPECT_EQ(img, nullptr) << "byte " << at;
        if (img && !newer)
            ADD_FAILURE() << "flipped header byte " << at << " decoded";
        refused += img == nullptr;
        tried++;
        img_free(img);
    }
    EXPECT_GT(refused, tried - 3);
    EXPECT_EQ(sys_memused(), mem);
    EXPECT_EQ(img_count, images);
}

TEST(Primal, DamagedTreePartsAreRefused)
{
    // A valid 16 x 8 version 9 payload (depth 7, four leaf roots), then the
    // same with one fault each.
    const int params[4] = {7, 8, 10, 5};
    auto payload = [&](const std::vector<uint32_t> &roots, const std::vector<uint16_t> &nodes, int blocks,
                       int sizedelta) {
        bytes body = primaltest_tree(roots, nodes);
        put32(body, 0, (uint32_t)((int)body.size() + sizedelta));
        body.resize(body.size() + (size_t)blocks * 104, 0);
        return primaltest_wrap(9, 16, 8, body, params);
    };
    int32_t used = 0;
    image *img = primaltest_read(payload({0, 1, 2, 3}, {10, 20, 30, 40}, 2, 0), &used);
    ASSERT_NE(img, nullptr);
    img_free(img);

    struct Case {
        const char *name;
        std::vector<uint32_t> roots;
        std::vector<uint16_t> nodes;
        int blocks, sizedelta;
    };
    const Case cases[] = {
        {"root beyond the nodes", {0, 1, 2, 9}, {10, 20, 30, 40}, 2, 0},
        {"root not stored", {0, 1, 2, 3}, {10, 20, 30, 0xFFFF}, 2, 0},
        {"inner offset beyond the nodes", {0, 1, 2, 3}, {0x8001, 20, 30, 40}, 2, 0},
        {"largest inner offset", {0, 1, 2, 3}, {0xFFFE, 20, 30, 40}, 2, 0},
        {"inner offset of zero", {0, 1, 2, 3, 4, 5}, {0x8000, 20, 30, 40, 1, 1}, 2, 0},
        {"size word past the body", {0, 1, 2, 3}, {10, 20, 30, 40}, 2, 1000},
        {"size word inside the root table", {0, 1, 2, 3}, {10, 20, 30, 40}, 2, -8},
        {"odd node bytes", {0, 1, 2, 3}, {10, 20, 30, 40}, 2, -1},
        {"one delta block missing", {0, 1, 2, 3}, {10, 20, 30, 40}, 1, 0},
        {"one delta block missing after unused nodes", {0, 1, 2, 3}, std::vector<uint16_t>(64, 50), 1, 0},
    };
    for (const Case &c : cases)
        primaltest_expectrefused(payload(c.roots, c.nodes, c.blocks, c.sizedelta), c.name);
}

TEST(Primal, EncoderRefusesWhatTheHeaderCannotHold)
{
    struct Case {
        const char *name;
        int w, h, bpp;
    };
    const Case cases[] = {{"colour image", 8, 8, 3}, {"wider than 16 bits", 65536, 1, 4}, {"no pixels", 0, 5, 4}};
    for (const Case &c : cases) {
        image *img = img_alloc("x", c.w, c.h, c.bpp);
        int32_t size = 99;
        EXPECT_EQ(primal_encode(img, &size), nullptr) << c.name;
        EXPECT_EQ(size, 0) << c.name;
        img_free(img);
    }
    int32_t size = 99;
    EXPECT_EQ(primal_encode(nullptr, &size), nullptr);
    EXPECT_EQ(size, 0);
}
