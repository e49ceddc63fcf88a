// The FSE coder against libzstd's FSE functions, an independent coder of the
// same block layout: each side decodes the other's blocks byte for byte, for
// text, float heightfields, skewed and uniform random bytes, every size from
// 2 to 257 and every table log. Then the refusals (runs, incompressible
// data) and damaged blocks, which must give error codes, never a crash.
#include "sys/fse.h"

#include <zstd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// libzstd 1.5.4 builds these into its static archive without installing
// fse.h; the declarations are those of that release.
extern "C" {
size_t FSE_normalizeCount(short *normalizedCounter, unsigned tableLog, const unsigned *count, size_t srcSize,
                          unsigned maxSymbolValue, unsigned useLowProbCount);
size_t FSE_writeNCount(void *buffer, size_t bufferSize, const short *normalizedCounter, unsigned maxSymbolValue,
                       unsigned tableLog);
size_t FSE_buildCTable_wksp(unsigned *ct, const short *normalizedCounter, unsigned maxSymbolValue, unsigned tableLog,
                            void *workSpace, size_t wkspSize);
size_t FSE_compress_usingCTable(void *dst, size_t dstCapacity, const void *src, size_t srcSize, const unsigned *ct);
size_t FSE_readNCount(short *normalizedCounter, unsigned *maxSymbolValuePtr, unsigned *tableLogPtr,
                      const void *rBuffer, size_t rBuffSize);
size_t FSE_buildDTable_wksp(unsigned *dt, const short *normalizedCounter, unsigned maxSymbolValue, unsigned tableLog,
                            void *workSpace, size_t wkspSize);
size_t FSE_decompress_wksp_bmi2(void *dst, size_t dstCapacity, const void *cSrc, size_t cSrcSize, unsigned maxLog,
                                void *workSpace, size_t wkspSize, int bmi2);
}

namespace {

using bytes = std::vector<uint8_t>;

// libzstd's coder with the table log given (0: the one its own single-call
// coder would pick, 11 capped by the input); empty when it refuses.
bytes zstd_encode(const bytes &src, unsigned log = 0)
{
    unsigned count[256] = {};
    unsigned maxsym = 0;
    for (uint8_t b : src) {
        count[b]++;
        maxsym = std::max<unsigned>(maxsym, b);
    }
    if (!log)
        log = 11;
    short norm[256];
    if (ZSTD_isError(FSE_normalizeCount(norm, log, count, src.size(), maxsym, src.size() >= 2048)))
        return {};
    bytes out(src.size() * 2 + 1024);
    size_t header = FSE_writeNCount(out.data(), out.size(), norm, maxsym, log);
    if (ZSTD_isError(header))
        return {};
    std::vector<unsigned> ct(1 + (1 << 11) + 256 * 2);
    std::vector<unsigned> wksp(16384);
    if (ZSTD_isError(FSE_buildCTable_wksp(ct.data(), norm, maxsym, log, wksp.data(), wksp.size() * 4)))
        return {};
    size_t body = FSE_compress_usingCTable(out.data() + header, out.size() - header, src.data(), src.size(), ct.data());
    if (ZSTD_isError(body) || body == 0)
        return {};
    out.resize(header + body);
    return out;
}

// libzstd's decoder; empty on an error.
bytes zstd_decode(const bytes &block, size_t n)
{
    bytes out(n);
    std::vector<unsigned> wksp(32768);
    size_t r = FSE_decompress_wksp_bmi2(out.data(), n, block.data(), block.size(), 12, wksp.data(), wksp.size() * 4, 0);
    if (ZSTD_isError(r))
        return {};
    out.resize(r);
    return out;
}

bytes fse_encode(const bytes &src, size_t *result = nullptr)
{
    bytes out(src.size() * 2 + 64);
    size_t r = FSE_compress(out.data(), out.size(), src.data(), src.size());
    if (result)
        *result = r;
    if (FSE_isError(r) || r <= 1)
        return {};
    out.resize(r);
    return out;
}

bytes fse_decode(const bytes &block, size_t cap, size_t *result = nullptr)
{
    bytes out(cap);
    size_t r = FSE_decompress(out.data(), cap, block.data(), block.size());
    if (result)
        *result = r;
    if (FSE_isError(r))
        return {};
    out.resize(r);
    return out;
}

bytes text_bytes(size_t n)
{
    const std::string para = "The router follows the toolpath from the safe height, plunges at the engage feed "
                             "and cuts the pocket in levels of the depth of cut; every level leaves the stock "
                             "to be taken by the finishing pass, 0.25 mm at 18000 rpm. ";
    bytes out;
    for (size_t i = 0; out.size() < n; i++)
        out.push_back((uint8_t)para[(i * 7 + i / para.size()) % para.size()]);
    return out;
}

// A smooth height field's float bytes, as raster layers carry them.
bytes heightfield_bytes(int w, int h)
{
    bytes out;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float v = 0.5f + 0.25f * std::sin(x * 0.05f) * std::cos(y * 0.07f) + 0.001f * (float)((x * y) % 7);
            uint8_t b[4];
            memcpy(b, &v, 4);
            out.insert(out.end(), b, b + 4);
        }
    return out;
}

// Geometric-like bytes over alphabet values, most of them small.
bytes skewed_bytes(size_t n, unsigned alphabet, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::geometric_distribution<int> g(0.3);
    bytes out(n);
    for (uint8_t &b : out)
        b = (uint8_t)(std::min<int>(g(rng), (int)alphabet - 1));
    return out;
}

bytes uniform_bytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    bytes out(n);
    for (uint8_t &b : out)
        b = (uint8_t)rng();
    return out;
}

} // namespace

TEST(Fse, EachSideDecodesTheOthersBlocks)
{
    struct Case {
        const char *name;
        bytes data;
    };
    const Case cases[] = {
        {"text", text_bytes(20000)},
        {"float heightfield", heightfield_bytes(96, 64)},
        {"skewed random", skewed_bytes(50000, 256, 1)},
        {"skewed, few values", skewed_bytes(3000, 6, 2)},
        {"two values", skewed_bytes(1000, 2, 3)},
    };
    for (const Case &c : cases) {
        bytes ours = fse_encode(c.data);
        ASSERT_FALSE(ours.empty()) << c.name;
        EXPECT_EQ(zstd_decode(ours, c.data.size()), c.data) << c.name << ": libzstd decoding ours";
        EXPECT_EQ(fse_decode(ours, c.data.size()), c.data) << c.name << ": ours decoding ours";
        bytes theirs = zstd_encode(c.data);
        ASSERT_FALSE(theirs.empty()) << c.name;
        EXPECT_EQ(fse_decode(theirs, c.data.size()), c.data) << c.name << ": ours decoding libzstd's";
        // Normalising differently may cost a little, never much.
        EXPECT_LE(ours.size(), theirs.size() + theirs.size() / 50 + 8) << c.name;
    }
}

TEST(Fse, EverySizeFrom2To257RoundTripsBothWays)
{
    for (size_t n = 2; n <= 257; n++) {
        bytes data = skewed_bytes(n, 16, (uint32_t)n);
        data[0] = 0; // never a run of one value
        data[n - 1] = 5;
        size_t r = 0;
        bytes ours = fse_encode(data, &r);
        ASSERT_FALSE(FSE_isError(r)) << n;
        if (n >= 64) {
            EXPECT_FALSE(ours.empty()) << n;
        }
        if (!ours.empty()) {
            EXPECT_LT(ours.size(), n - 1) << n;
            EXPECT_EQ(zstd_decode(ours, n), data) << n;
            EXPECT_EQ(fse_decode(ours, n), data) << n;
        }
        bytes theirs = zstd_encode(data, std::max(5u, std::min(11u, 64u - (unsigned)__builtin_clzll(n - 1) + 1)));
        if (n < 16 && theirs.empty())
            continue; // too few bytes for its normaliser
        ASSERT_FALSE(theirs.empty()) << n;
        EXPECT_EQ(fse_decode(theirs, n), data) << n << ": ours decoding libzstd's";
    }
}

TEST(Fse, DecodesTheirBlocksAtEveryTableLog)
{
    bytes data = skewed_bytes(6000, 16, 7);
    for (unsigned log = 5; log <= 12; log++) {
        bytes theirs = zstd_encode(data, log);
        ASSERT_FALSE(theirs.empty()) << log;
        EXPECT_EQ((theirs[0] & 15u) + 5, log);
        EXPECT_EQ(fse_decode(theirs, data.size()), data) << log;
    }
}

TEST(Fse, RefusesRunsAndIncompressibleData)
{
    struct Case {
        const char *name;
        bytes data;
        size_t result;
    };
    bytes distinct(200);
    for (size_t i = 0; i < distinct.size(); i++)
        distinct[i] = (uint8_t)i;
    const Case cases[] = {
        {"constant bytes", bytes(5000, 0x41), 1},
        {"two equal bytes", bytes(2, 7), 1},
        {"one byte", bytes(1, 9), 0},
        {"every value once", distinct, 0},
        {"uniform random", uniform_bytes(100000, 11), 0},
    };
    for (const Case &c : cases) {
        bytes out(c.data.size() * 2 + 64);
        EXPECT_EQ(FSE_compress(out.data(), out.size(), c.data.data(), c.data.size()), c.result) << c.name;
    }
    // libzstd codes the uniform bytes anyway; we still read its block.
    bytes uniform = uniform_bytes(100000, 11);
    bytes theirs = zstd_encode(uniform);
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(fse_decode(theirs, uniform.size()), uniform);
}

TEST(Fse, DamagedBlocksGiveErrorCodes)
{
    bytes data = text_bytes(4000);
    bytes good = fse_encode(data);
    ASSERT_FALSE(good.empty());
    struct Case {
        const char *name;
        bytes block;
        size_t cap;
    };
    bytes log13 = good;
    log13[0] = (uint8_t)((log13[0] & 0xf0) | 8); // accuracy log 13
    bytes nomark = good;
    nomark.back() = 0;
    // A valid header of one value's whole table, then an end mark alone.
    bytes shortstream = {0x00, 0x21, 0x01};
    const Case cases[] = {
        {"empty", {}, data.size()},
        {"header only", bytes(good.begin(), good.begin() + 3), data.size()},
        {"accuracy log 13", log13, data.size()},
        {"no end mark", nomark, data.size()},
        {"destination too small", good, data.size() / 2},
        {"stream shorter than the two states", shortstream, data.size()},
    };
    for (const Case &c : cases) {
        size_t r = 0;
        fse_decode(c.block, c.cap, &r);
        EXPECT_TRUE(FSE_isError(r)) << c.name;
        EXPECT_STRNE(FSE_getErrorName(r), FSE_getErrorName(0)) << c.name;
    }
    // Flipped bytes anywhere: an error or some bytes, never a read or write
    // outside the buffers (the sanitizers watch).
    for (size_t i = 0; i < good.size(); i += 7) {
        bytes flipped = good;
        flipped[i] ^= 0x5a;
        size_t r = 0;
        bytes out = fse_decode(flipped, data.size(), &r);
        EXPECT_TRUE(FSE_isError(r) || r <= data.size()) << i;
    }
}
