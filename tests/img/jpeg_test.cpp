// The JPEG writer checked against libjpeg: it decodes our files, its own
// encoder at the same quality writes the same tables, and our lossy output
// is as close to the source as its own. Also the byte layout (607 header
// bytes, stuffing, edge repetition) and the bounded output.
#include "img/jpeg.h"

#include "jpegref.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

struct jpegtest_error {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void jpegtest_exit(j_common_ptr cinfo)
{
    longjmp(((jpegtest_error *)cinfo->err)->jump, 1);
}

// Decodes a JPEG file with libjpeg into 3-byte pixels of the given colour
// space; false on any error or warning (a corrupt scan warns).
bool jpegtest_decode(const bytes &file, int &w, int &h, bytes &out, J_COLOR_SPACE space = JCS_RGB)
{
    jpeg_decompress_struct cinfo;
    jpegtest_error err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegtest_exit;
    err.mgr.output_message = [](j_common_ptr) {};
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), (unsigned long)file.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = space;
    jpeg_start_decompress(&cinfo);
    w = (int)cinfo.output_width;
    h = (int)cinfo.output_height;
    out.assign((size_t)w * h * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + (size_t)cinfo.output_scanline * w * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    bool clean = err.mgr.num_warnings == 0;
    jpeg_destroy_decompress(&cinfo);
    return clean;
}

// The quantisation and Huffman tables of a file, by table id (Huffman:
// class x 16 + id), each as its bytes after the id byte.
struct jpegtest_tables {
    std::map<int, bytes> quant, huff;
};

jpegtest_tables jpegtest_parsetables(const bytes &f)
{
    jpegtest_tables t;
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xDA) {
        size_t len = (size_t)(f[p + 2] << 8 | f[p + 3]), q = p + 4, end = p + 2 + len;
        if (f[p + 1] == 0xDB) {
            for (; q < end; q += 65)
                t.quant[f[q] & 15] = bytes(f.begin() + (long)q + 1, f.begin() + (long)q + 65);
        } else if (f[p + 1] == 0xC4) {
            while (q < end) {
                int count = 0;
                for (int i = 1; i <= 16; i++)
                    count += f[q + i];
                t.huff[f[q]] = bytes(f.begin() + (long)q + 1, f.begin() + (long)q + 17 + count);
                q += 17 + count;
            }
        }
        p = end;
    }
    return t;
}

bytes jpegtest_encode(const bytes &px, int w, int h, int bpp, int quality)
{
    bytes out((size_t)img_jpegbound(w, h));
    int32_t n = img_writejpeg(px.data(), w, h, bpp, out.data(), (int32_t)out.size(), quality);
    out.resize(n > 0 ? (size_t)n : 0);
    return out;
}

// Smooth colour ramps: every channel changes by a few levels a pixel.
bytes jpegtest_smooth(int w, int h, int bpp)
{
    bytes px((size_t)w * h * bpp);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < bpp; c++)
                px[((size_t)y * w + x) * bpp + c] =
                    (uint8_t)(128 + 90 * std::sin(0.05 * (x + 1) * (c + 1) + 0.03 * y * (3 - c)));
    return px;
}

// Photo-like: broad shapes, edges and grain.
bytes jpegtest_photo(int w, int h)
{
    bytes px((size_t)w * h * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) {
                seed = seed * 1664525u + 1013904223u;
                double v = 110 + 60 * std::sin(x * 0.07 + c) * std::cos(y * 0.05) + ((x / 13 + y / 9) % 2) * 40 +
                           (double)(seed >> 27) - 16;
                px[((size_t)y * w + x) * 3 + c] = (uint8_t)std::clamp(v, 0.0, 255.0);
            }
    return px;
}

double jpegtest_meanerror(const bytes &a, const bytes &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++)
        sum += std::abs((int)a[i] - (int)b[i]);
    return sum / (double)a.size();
}

} // namespace

TEST(Jpeg, TablesMatchLibjpegAtTheSameQuality)
{
    struct Case {
        int quality, libjpegquality;
    };
    const Case cases[] = {{0, 90}, {1, 1}, {-5, 1}, {25, 25}, {50, 50}, {70, 70}, {90, 90}, {100, 100}, {150, 100}};
    bytes px = jpegtest_smooth(16, 16, 3);
    for (const Case &c : cases) {
        jpegtest_tables ours = jpegtest_parsetables(jpegtest_encode(px, 16, 16, 3, c.quality));
        jpegtest_tables theirs = jpegtest_parsetables(jpegref_encode(px.data(), 16, 16, c.libjpegquality));
        EXPECT_EQ(ours.quant, theirs.quant) << "quality " << c.quality;
        EXPECT_EQ(ours.huff, theirs.huff) << "quality " << c.quality;
        ASSERT_EQ(ours.quant.size(), 2u);
        ASSERT_EQ(ours.huff.size(), 4u);
    }
    jpegtest_tables best = jpegtest_parsetables(jpegtest_encode(px, 16, 16, 3, 100));
    jpegtest_tables worst = jpegtest_parsetables(jpegtest_encode(px, 16, 16, 3, -5));
    EXPECT_EQ(best.quant[0], bytes(64, 1));
    EXPECT_EQ(best.quant[1], bytes(64, 1));
    EXPECT_EQ(worst.quant[0], bytes(64, 255));
}

TEST(Jpeg, HeadersTake607BytesBeforeTheScan)
{
    bytes px = {10, 200, 30};
    bytes f = jpegtest_encode(px, 1, 1, 3, 100);
    ASSERT_GT(f.size(), 609u);
    const uint8_t soi_app0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    EXPECT_EQ(memcmp(f.data(), soi_app0, sizeof(soi_app0)), 0);
    const uint8_t sos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
    EXPECT_EQ(memcmp(f.data() + img_jpegheadersize - sizeof(sos), sos, sizeof(sos)), 0);
    EXPECT_EQ(f[f.size() - 2], 0xFF);
    EXPECT_EQ(f[f.size() - 1], 0xD9);
    // One block per component: a handful of scan bytes.
    EXPECT_LT(f.size(), 640u);
}

TEST(Jpeg, SmoothImagesDecodeWithinTwoLevelsAtQuality100)
{
    struct Case {
        int w, h, bpp;
    };
    const Case cases[] = {{1, 1, 3}, {9, 7, 3}, {8, 8, 1}, {17, 31, 4}, {64, 48, 3}, {130, 3, 1}, {3, 70, 4}};
    for (const Case &c : cases) {
        bytes px = jpegtest_smooth(c.w, c.h, c.bpp);
        bytes f = jpegtest_encode(px, c.w, c.h, c.bpp, 100);
        int w = 0, h = 0;
        bytes rgb;
        ASSERT_TRUE(jpegtest_decode(f, w, h, rgb)) << c.w << "x" << c.h << "@" << c.bpp;
        ASSERT_EQ(w, c.w);
        ASSERT_EQ(h, c.h);
        int worst = 0;
        for (int i = 0; i < c.w * c.h; i++)
            for (int ch = 0; ch < 3; ch++) {
                int want = px[(size_t)i * c.bpp + (c.bpp == 1 ? 0 : ch)];
                worst = std::max(worst, std::abs(want - (int)rgb[(size_t)i * 3 + ch]));
            }
        EXPECT_LE(worst, 2) << c.w << "x" << c.h << "@" << c.bpp;
    }
}

TEST(Jpeg, LossyOutputIsAsCloseAsLibjpegsOwn)
{
    const int qualities[] = {25, 50, 75, 90};
    const int w = 96, h = 72;
    bytes px = jpegtest_photo(w, h);
    for (int q : qualities) {
        int dw, dh;
        bytes ours, theirs;
        ASSERT_TRUE(jpegtest_decode(jpegtest_encode(px, w, h, 3, q), dw, dh, ours));
        ASSERT_TRUE(jpegtest_decode(jpegref_encode(px.data(), w, h, q), dw, dh, theirs));
        double e = jpegtest_meanerror(px, ours), ref = jpegtest_meanerror(px, theirs);
        EXPECT_LT(e, ref * 1.05 + 0.1) << "quality " << q;
    }
}

TEST(Jpeg, PartialBlocksRepeatTheLastColumnAndRow)
{
    const int w = 9, h = 7;
    bytes px = jpegtest_photo(w, h), padded(16 * 8 * 3);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            memcpy(&padded[((size_t)y * 16 + x) * 3], &px[((size_t)std::min(y, h - 1) * w + std::min(x, w - 1)) * 3],
                   3);
    bytes a = jpegtest_encode(px, w, h, 3, 90), b = jpegtest_encode(padded, 16, 8, 3, 90);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(std::equal(a.begin() + img_jpegheadersize, a.end(), b.begin() + img_jpegheadersize));
}

TEST(Jpeg, GreyImagesCarryNoChroma)
{
    const int w = 21, h = 13;
    bytes px = jpegtest_smooth(w, h, 1);
    int dw, dh;
    bytes ycc;
    ASSERT_TRUE(jpegtest_decode(jpegtest_encode(px, w, h, 1, 70), dw, dh, ycc, JCS_YCbCr));
    for (int i = 0; i < w * h; i++) {
        ASSERT_EQ(ycc[(size_t)i * 3 + 1], 128) << i;
        ASSERT_EQ(ycc[(size_t)i * 3 + 2], 128) << i;
    }
}

TEST(Jpeg, EveryFFInTheScanIsStuffed)
{
    const int w = 64, h = 64;
    bytes px((size_t)w * h * 3);
    uint32_t seed = 99;
    for (uint8_t &b : px) {
        seed = seed * 1664525u + 1013904223u;
        b = (uint8_t)(seed >> 24);
    }
    bytes f = jpegtest_encode(px, w, h, 3, 100);
    ASSERT_FALSE(f.empty());
    int ffs = 0;
    for (size_t i = img_jpegheadersize; i + 2 < f.size(); i++) {
        if (f[i] != 0xFF)
            continue;
        ffs++;
        ASSERT_EQ(f[i + 1], 0x00) << "at " << i;
        i++;
    }
    EXPECT_GT(ffs, 10);
    int dw, dh;
    bytes rgb;
    EXPECT_TRUE(jpegtest_decode(f, dw, dh, rgb));
    EXPECT_LE((int64_t)f.size(), img_jpegbound(w, h));
}

TEST(Jpeg, RefusesBadArguments)
{
    struct Case {
        const char *name;
        bool pixels;
        int w, h, bpp;
        bool output;
    };
    const Case cases[] = {
        {"two bytes per pixel", true, 4, 4, 2, true}, {"five bytes per pixel", true, 4, 4, 5, true},
        {"no bytes per pixel", true, 4, 4, 0, true},  {"no pixels", false, 4, 4, 3, true},
        {"zero width", true, 0, 4, 3, true},          {"zero height", true, 4, 0, 3, true},
        {"no output", true, 4, 4, 3, false},          {"too wide for SOF0", true, 65536, 1, 3, true},
    };
    bytes px(16 * 5, 77);
    for (const Case &c : cases) {
        bytes out(4096, 0xAB);
        int32_t n = img_writejpeg(c.pixels ? px.data() : nullptr, c.w, c.h, c.bpp, c.output ? out.data() : nullptr,
                                  (int32_t)out.size(), 90);
        EXPECT_EQ(n, -1) << c.name;
        EXPECT_EQ(out, bytes(4096, 0xAB)) << c.name;
    }
}

TEST(Jpeg, NeverWritesPastTheCapacity)
{
    const int w = 16, h = 16;
    bytes px = jpegtest_photo(w, h);
    bytes full = jpegtest_encode(px, w, h, 3, 100);
    ASSERT_GT(full.size(), 700u);
    // A w x h x 3 buffer is what callers used to pass; it is too small here.
    ASSERT_GT(full.size(), (size_t)w * h * 3);
    struct Case {
        int32_t capacity;
        int32_t result;
    };
    const Case cases[] = {{0, -1},
                          {img_jpegheadersize - 1, -1},
                          {w * h * 3, -1},
                          {(int32_t)full.size() - 1, -1},
                          {(int32_t)full.size(), (int32_t)full.size()}};
    for (const Case &c : cases) {
        bytes out((size_t)c.capacity + 64, 0xAB);
        EXPECT_EQ(img_writejpeg(px.data(), w, h, 3, out.data(), c.capacity, 100), c.result) << c.capacity;
        EXPECT_EQ(bytes(out.begin() + c.capacity, out.end()), bytes(64, 0xAB)) << c.capacity;
        if (c.result > 0)
            EXPECT_EQ(bytes(out.begin(), out.begin() + c.result), full);
    }
}
