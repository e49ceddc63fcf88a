// Mesh models: the table, vertex merging through the hash, both byte forms,
// and damaged blobs refused with the table and memory as they were.
#include "geom/model.h"

#include "mainwindow/meshimport.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include "testlog.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Models : testing::Test {
    void TearDown() override
    {
        for (int i = 0; i < mdl_maxmodels; i++)
            mdl_free(i);
        vbucket_free();
    }
};

// A model of n random vertices and faces over them, with random normals.
int randommodel(std::mt19937 &rng, int n, float zspan)
{
    std::uniform_real_distribution<float> u(-3.0f, 5.0f);
    int slot = mdl_alloc();
    EXPECT_TRUE(mdl_reserve(4, 4));
    for (int i = 0; i < n; i++) {
        float p[3] = {u(rng), u(rng), 1.25f + zspan * u(rng)};
        mdl_vert(p);
    }
    for (int i = 0; i < n; i++) {
        int f = mdl_face((uint32_t)(rng() % n), (uint32_t)(rng() % n), (uint32_t)(rng() % n));
        float nx = u(rng) / 8, ny = u(rng) / 8;
        float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
        models[slot].faces[f].normal[0] = nx;
        models[slot].faces[f].normal[1] = ny;
        models[slot].faces[f].normal[2] = i % 2 ? -nz : nz;
    }
    return slot;
}

std::vector<uint8_t> written(int slot, int quantised)
{
    msg_stream m;
    EXPECT_TRUE(msg_alloc(&m, 64));
    EXPECT_TRUE(model_write(&m, slot, quantised));
    std::vector<uint8_t> b(m.buffer, m.buffer + m.position);
    sys_free(m.buffer);
    return b;
}

int readback(const std::vector<uint8_t> &b, int quantised)
{
    msg_stream m;
    msg_readfrom(&m, b.data(), (int32_t)b.size());
    return model_read(&m, quantised);
}

} // namespace

TEST_F(Models, RawFormIsBitExact)
{
    std::mt19937 rng(5);
    int a = randommodel(rng, 100, 1.0f);
    int b = readback(written(a, 0), 0);
    ASSERT_GE(b, 0);
    const model &x = models[a], &y = models[b];
    EXPECT_EQ(y.sz_verts, x.sz_verts);
    EXPECT_EQ(y.sz_faces, x.sz_faces);
    EXPECT_EQ(y.num_verts, 100u);
    EXPECT_EQ(y.num_faces, 100u);
    EXPECT_EQ(memcmp(x.min, y.min, 12), 0);
    EXPECT_EQ(memcmp(x.max, y.max, 12), 0);
    EXPECT_EQ(memcmp(x.verts, y.verts, 100 * 12), 0);
    EXPECT_EQ(memcmp(x.faces, y.faces, 100 * sizeof(model_face)), 0);
}

TEST_F(Models, QuantisedFormKeepsVerticesWithinOneStep)
{
    std::mt19937 rng(9);
    int a = randommodel(rng, 200, 0.0f); // flat: every z equal
    std::vector<uint8_t> bytes = written(a, 1);
    EXPECT_EQ(bytes.size(), 40u + 200 * 6 + 200 * 16);
    int b = readback(bytes, 1);
    ASSERT_GE(b, 0);
    const model &x = models[a], &y = models[b];
    for (uint32_t v = 0; v < 200; v++) {
        for (int i = 0; i < 2; i++)
            ASSERT_NEAR(y.verts[3 * v + i], x.verts[3 * v + i], (x.max[i] - x.min[i]) / 65535 * 1.01f);
        ASSERT_EQ(y.verts[3 * v + 2], x.min[2]);
    }
    for (uint32_t f = 0; f < 200; f++) {
        const model_face &p = x.faces[f], &q = y.faces[f];
        EXPECT_EQ(q.a, p.a);
        EXPECT_EQ(q.c, p.c);
        EXPECT_NEAR(q.normal[0], p.normal[0], 2e-5);
        // The z component comes back from the unit length: never negative.
        EXPECT_NEAR(q.normal[2], std::fabs(p.normal[2]), 1e-3);
    }
}

// The quantised words, read from the written bytes: in range they are the
// formula's (scaled in single precision, rounded in double); beyond the
// bounds or beyond a unit normal they clamp instead of wrapping around.
TEST_F(Models, QuantisedWordsAndClamps)
{
    struct Case {
        float x, nx;
        uint16_t qx, qnx;
    };
    const Case cases[] = {
        {0.0f, 0.0f, 0, 32768},     {2.0f, 1.0f, 65535, 65535}, {1.0f, -1.0f, 32768, 0},
        {0.5f, 0.5f, 16384, 49151}, {3.0f, 1.5f, 65535, 65535}, {-1.0f, -3.0f, 0, 0},
    };
    const int n = (int)(sizeof(cases) / sizeof(cases[0]));
    int a = mdl_alloc();
    ASSERT_TRUE(mdl_reserve(8, 8));
    for (const Case &c : cases) {
        float p[3] = {c.x, 0, 0};
        int v = mdl_vert(p);
        int f = mdl_face((uint32_t)v, (uint32_t)v, (uint32_t)v);
        models[a].faces[f].normal[0] = c.nx;
    }
    // Bounds narrower than the vertices, as a caller may leave them.
    const float lo[3] = {0, 0, 0}, hi[3] = {2, 0, 0};
    memcpy(models[a].min, lo, sizeof(lo));
    memcpy(models[a].max, hi, sizeof(hi));
    std::vector<uint8_t> b = written(a, 1);
    ASSERT_EQ(b.size(), 40u + n * 6 + n * 16);
    auto word = [&](size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); };
    for (int i = 0; i < n; i++) {
        EXPECT_EQ(word(40 + 6 * i), cases[i].qx) << "x " << cases[i].x;
        EXPECT_EQ(word(40 + 6 * i + 2), 0) << "flat y";
        EXPECT_EQ(word(40 + 6 * n + 16 * i), cases[i].qnx) << "nx " << cases[i].nx;
    }
}

TEST_F(Models, TheThirtyThirdModelFailsWithBothLines)
{
    std::mt19937 rng(1);
    int a = randommodel(rng, 3, 1.0f);
    std::vector<uint8_t> bytes = written(a, 1);
    for (int i = 1; i < mdl_maxmodels; i++)
        ASSERT_GE(mdl_alloc(), 0);
    EXPECT_EQ(mdl_count, mdl_maxmodels);
    testlog_capture log;
    int count = mdl_count;
    EXPECT_EQ(readback(bytes, 1), -1);
    EXPECT_TRUE(log.contains("mdl_alloc: overflow"));
    EXPECT_TRUE(log.contains("mdl_read: models array overflow!"));
    EXPECT_EQ(mdl_count, count);
}

TEST_F(Models, BitEqualCubeCornersMergeToEightVertices)
{
    ASSERT_TRUE(vbucket_alloc());
    mdl_alloc();
    ASSERT_TRUE(mdl_reserve(36, 12));
    testlog_capture log;
    // 12 triangles of a unit cube, every corner given again for each face.
    const int tri[12][3] = {{0, 1, 3}, {0, 3, 2}, {4, 6, 7}, {4, 7, 5}, {0, 4, 5}, {0, 5, 1},
                            {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 5, 7}, {1, 7, 3}};
    for (auto &t : tri) {
        int v[3];
        for (int i = 0; i < 3; i++) {
            int c = t[i];
            float p[3] = {(float)(c & 1), (float)(c >> 1 & 1), (float)(c >> 2 & 1)};
            v[i] = mdl_vert(p);
            ASSERT_GE(v[i], 0);
        }
        mdl_face((uint32_t)v[0], (uint32_t)v[1], (uint32_t)v[2]);
    }
    EXPECT_EQ(models[mdl_current].num_verts, 8u);
    EXPECT_EQ(models[mdl_current].num_faces, 12u);
    EXPECT_FALSE(log.contains("hash["));
}

namespace {

// The bucket of a point, computed here from the hash's definition, to find
// fixtures that share one bucket.
int bucketof(const float p[3])
{
    const double k[3] = {11111117.0, 55555553.0, 71111111.0};
    uint64_t h = 0;
    for (int i = 0; i < 3; i++)
        h ^= (uint64_t)(((double)std::fabs(p[i]) + 1.0) * k[i]);
    return (int)(h & 0xFFFFF);
}

// Distinct points, all in one bucket and far apart: x values between 0.5
// and 2 whose x term has the low bits of the first one's (float steps there
// move the term by about one, so a close float hits it exactly), each with
// every sign of x, y and z, since the hash takes magnitudes.
std::vector<std::array<float, 3>> samebucket(int want)
{
    const float y = 0.25f, z = 0.5f;
    auto term = [](float x) { return (uint64_t)(((double)std::fabs(x) + 1.0) * 11111117.0) & 0xFFFFF; };
    uint64_t target = term(0.5f);
    std::vector<float> xs;
    for (int m = 0; m < 64 && xs.size() * 8 < (size_t)want; m++) {
        double guess = ((double)(m << 20) + (double)target + 0.5) / 11111117.0 - 1.0;
        if (guess < 0.5 || guess >= 2.0)
            continue;
        float x = std::nextafter((float)guess, 0.0f);
        for (int step = 0; step < 8; step++, x = std::nextafter(x, 3.0f))
            if (term(x) == target) {
                xs.push_back(x);
                break;
            }
    }
    std::vector<std::array<float, 3>> pts;
    for (float x : xs)
        for (int s = 0; s < 8; s++)
            pts.push_back({s & 1 ? -x : x, s & 2 ? -y : y, s & 4 ? -z : z});
    return pts;
}

} // namespace

TEST_F(Models, FullBucketRefusesTheSixtyFifthVertex)
{
    std::vector<std::array<float, 3>> pts = samebucket(65);
    ASSERT_GE(pts.size(), 65u) << "no fixture found";
    for (auto &p : pts)
        ASSERT_EQ(bucketof(p.data()), bucketof(pts[0].data()));
    ASSERT_TRUE(vbucket_alloc());
    mdl_alloc();
    ASSERT_TRUE(mdl_reserve(8, 8));
    for (int i = 0; i < 64; i++)
        ASSERT_EQ(mdl_vert(pts[i].data()), i);
    EXPECT_EQ(mdl_vert(pts[64].data()), -1);
    EXPECT_EQ(mdl_lastbucket, bucketof(pts[64].data()));
    // A copy of a stored vertex still merges once the bucket is full, and a
    // bit-equal one writes no line.
    testlog_capture log;
    EXPECT_EQ(mdl_vert(pts[3].data()), 3);
    EXPECT_FALSE(log.contains(" hash["));
}

TEST_F(Models, BadPointsAndMissingModelsAreRefused)
{
    testlog_capture log;
    float p[3] = {0, 0, 0};
    mdl_current = -1;
    EXPECT_EQ(mdl_vert(p), -1);
    mdl_alloc();
    ASSERT_TRUE(mdl_reserve(2, 2));
    for (float bad : {NAN, INFINITY, -INFINITY}) {
        float q[3] = {0, bad, 0};
        EXPECT_EQ(mdl_vert(q), -1);
    }
    EXPECT_TRUE(log.contains("mdl_vert: refused a non-finite point"));
    // A hash product beyond 2^64 still gives a bucket.
    ASSERT_TRUE(vbucket_alloc());
    float huge[3] = {3e30f, 0, 0};
    EXPECT_EQ(mdl_vert(huge), 0);
    EXPECT_EQ(mdl_vert(huge), 0);
}

TEST_F(Models, DamagedBlobsAreRefused)
{
    std::mt19937 rng(2);
    int a = randommodel(rng, 10, 1.0f);
    std::vector<uint8_t> raw = written(a, 0), quant = written(a, 1);
    mdl_free(a);
    auto setword = [](std::vector<uint8_t> b, int offset, uint32_t v) {
        for (int i = 0; i < 4; i++)
            b[(size_t)offset + i] = (uint8_t)(v >> (8 * i));
        return b;
    };
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        int quantised;
    };
    const Case cases[] = {
        {"num_verts above sz_verts", setword(raw, 8, 1000), 0},
        {"num_faces above sz_faces", setword(raw, 12, 0xFFFFFFFF), 0},
        {"counts beyond the blob", setword(setword(raw, 0, 4000000), 8, 4000000), 0},
        {"face past the vertices", setword(raw, 40 + 10 * 12, 10), 0},
        {"quantised face past the vertices", setword(quant, 40 + 10 * 6 + 4, 99), 1},
    };
    testlog_capture log;
    uint64_t mem = sys_memused();
    int count = mdl_count;
    for (const Case &c : cases) {
        EXPECT_EQ(readback(c.bytes, c.quantised), -1) << c.what;
        EXPECT_EQ(mdl_count, count) << c.what;
        EXPECT_EQ(sys_memused(), mem) << c.what;
    }
    for (auto [whole, q] : {std::pair{raw, 0}, std::pair{quant, 1}})
        for (size_t len = 0; len < whole.size(); len++) {
            std::vector<uint8_t> part(whole.begin(), whole.begin() + (long)len);
            ASSERT_EQ(readback(part, q), -1) << len;
            ASSERT_EQ(sys_memused(), mem) << len;
            ASSERT_EQ(mdl_count, count) << len;
        }
    // A capacity far beyond the count is cut back, not allocated.
    int b = readback(setword(raw, 0, 0x10000000), 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(models[b].sz_verts, 10u);
    EXPECT_EQ(mdl_count, count + 1);
}
