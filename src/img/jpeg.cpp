// Baseline JPEG encoding: colour conversion, the scaled float DCT of the AAN
// factorisation with its scale folded into the quantisation divisors,
// zigzag ordering and Huffman coding with the standard's typical tables.
// All state lives in the call, so encodes on several threads never meet;
// every byte goes through one bounded writer.
#include "img/jpeg.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <utility>

// Natural (row-major) index of the coefficient at each zigzag position.
static constexpr uint8_t jpeg_natural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// zz(i): the zigzag position of natural index i.
static constexpr std::array<uint8_t, 64> jpeg_zigzag = [] {
    std::array<uint8_t, 64> z{};
    for (int j = 0; j < 64; j++)
        z[jpeg_natural[j]] = (uint8_t)j;
    return z;
}();

// Base quantisation tables in natural order: luminance, chrominance.
static constexpr uint8_t jpeg_lumaquant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
};
static constexpr uint8_t jpeg_chromaquant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};

// The AAN scale factors, each times 2.828427125.
static constexpr float jpeg_aan[8] = {2.828427f, 3.9231412f, 3.6955183f, 3.3258781f,
                                      2.828427f, 2.222281f,  1.5307337f, 0.7803613f};

// Typical Huffman tables: code counts per length 1..16, then the symbols.
static constexpr uint8_t jpeg_dclumacounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
static constexpr uint8_t jpeg_dcchromacounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
static constexpr uint8_t jpeg_dcvalues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
static constexpr uint8_t jpeg_aclumacounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
static constexpr uint8_t jpeg_aclumavalues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
    0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
    0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};
static constexpr uint8_t jpeg_acchromacounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
static constexpr uint8_t jpeg_acchromavalues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13,
    0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62,
    0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29,
    0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54,
    0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
    0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3,
    0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
    0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

// Code and length of every symbol of one Huffman table.
struct jpeg_codes {
    uint16_t code[256];
    uint8_t size[256];
};

// Canonical codes: within a length they count up; each longer length
// continues from the next code shifted left by one.
static constexpr jpeg_codes jpeg_buildcodes(const uint8_t *counts, const uint8_t *values)
{
    jpeg_codes t{};
    int code = 0, k = 0;
    for (int len = 1; len <= 16; len++) {
        for (int i = 0; i < counts[len - 1]; i++, k++, code++) {
            t.code[values[k]] = (uint16_t)code;
            t.size[values[k]] = (uint8_t)len;
        }
        code <<= 1;
    }
    return t;
}

static constexpr jpeg_codes jpeg_dcluma = jpeg_buildcodes(jpeg_dclumacounts, jpeg_dcvalues);
static constexpr jpeg_codes jpeg_dcchroma = jpeg_buildcodes(jpeg_dcchromacounts, jpeg_dcvalues);
static constexpr jpeg_codes jpeg_acluma = jpeg_buildcodes(jpeg_aclumacounts, jpeg_aclumavalues);
static constexpr jpeg_codes jpeg_acchroma = jpeg_buildcodes(jpeg_acchromacounts, jpeg_acchromavalues);

// Output and bit state: the newest bits at the low end of a 64-bit
// accumulator, written out 32 at a time. pos may pass cap: bytes beyond it
// are counted, never stored, so the caller learns the file did not fit.
struct jpeg_bits {
    uint8_t *out;
    int64_t cap;
    int64_t pos;
    uint64_t acc;
    int count;
};

static inline void jpeg_byte(jpeg_bits &b, uint8_t v)
{
    if (b.pos < b.cap)
        b.out[b.pos] = v;
    b.pos++;
}

static void jpeg_word(jpeg_bits &b, int v)
{
    jpeg_byte(b, (uint8_t)(v >> 8));
    jpeg_byte(b, (uint8_t)v);
}

static void jpeg_bytes(jpeg_bits &b, const uint8_t *v, int n)
{
    for (int i = 0; i < n; i++)
        jpeg_byte(b, v[i]);
}

// Writes one scan byte; a 0xFF is followed by a stuffed 0x00 so no marker
// appears in the scan.
static inline void jpeg_scanbyte(jpeg_bits &b, uint8_t c)
{
    jpeg_byte(b, c);
    if (c == 0xFF)
        jpeg_byte(b, 0);
}

// Writes the oldest 32 pending bits. Most words hold no 0xFF byte and room
// is left: those go out in one store.
static inline void jpeg_flush32(jpeg_bits &b)
{
    b.count -= 32;
    uint32_t w = (uint32_t)(b.acc >> b.count);
    uint32_t inv = ~w;
    bool hasff = ((inv - 0x01010101u) & ~inv & 0x80808080u) != 0;
    if (!hasff && b.pos + 4 <= b.cap) {
        uint8_t *o = b.out + b.pos;
        o[0] = (uint8_t)(w >> 24);
        o[1] = (uint8_t)(w >> 16);
        o[2] = (uint8_t)(w >> 8);
        o[3] = (uint8_t)w;
        b.pos += 4;
        return;
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        jpeg_scanbyte(b, (uint8_t)(w >> shift));
}

// Appends the low n bits of code (n <= 27).
static inline void jpeg_putbits(jpeg_bits &b, uint32_t code, int n)
{
    b.acc = b.acc << n | code;
    b.count += n;
    if (b.count >= 32)
        jpeg_flush32(b);
}

// Writes the complete bytes still pending; a partial byte is dropped.
static void jpeg_flushbytes(jpeg_bits &b)
{
    while (b.count >= 8) {
        b.count -= 8;
        jpeg_scanbyte(b, (uint8_t)(b.acc >> b.count));
    }
}

// Writes SOI, APP0, DQT, SOF0, DHT and SOS: 607 bytes.
static void jpeg_writeheaders(jpeg_bits &b, const uint8_t *lumaq, const uint8_t *chromaq, int width, int height)
{
    static constexpr uint8_t app0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0,
                                       1,    1,    0,    0,    1, 0,  1,   0,   0};
    jpeg_bytes(b, app0, sizeof(app0));
    static constexpr uint8_t dqt[] = {0xFF, 0xDB, 0, 132};
    jpeg_bytes(b, dqt, sizeof(dqt));
    jpeg_byte(b, 0);
    jpeg_bytes(b, lumaq, 64);
    jpeg_byte(b, 1);
    jpeg_bytes(b, chromaq, 64);
    static constexpr uint8_t sof[] = {0xFF, 0xC0, 0, 17, 8};
    jpeg_bytes(b, sof, sizeof(sof));
    jpeg_word(b, height);
    jpeg_word(b, width);
    static constexpr uint8_t comps[] = {3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    jpeg_bytes(b, comps, sizeof(comps));
    static constexpr uint8_t dht[] = {0xFF, 0xC4, 0x01, 0xA2};
    jpeg_bytes(b, dht, sizeof(dht));
    jpeg_byte(b, 0x00);
    jpeg_bytes(b, jpeg_dclumacounts, 16);
    jpeg_bytes(b, jpeg_dcvalues, 12);
    jpeg_byte(b, 0x10);
    jpeg_bytes(b, jpeg_aclumacounts, 16);
    jpeg_bytes(b, jpeg_aclumavalues, 162);
    jpeg_byte(b, 0x01);
    jpeg_bytes(b, jpeg_dcchromacounts, 16);
    jpeg_bytes(b, jpeg_dcvalues, 12);
    jpeg_byte(b, 0x11);
    jpeg_bytes(b, jpeg_acchromacounts, 16);
    jpeg_bytes(b, jpeg_acchromavalues, 162);
    static constexpr uint8_t sos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
    jpeg_bytes(b, sos, sizeof(sos));
}

// The one-dimensional scaled forward DCT (five multiplications; the output
// scale is in the divisors), run on the eight lanes of d at once: lane c
// transforms d[c], d[8 + c], ..., d[56 + c] in place. The lanes are
// independent, so the compiler runs them side by side in vector registers.
static inline void jpeg_dct(float *d)
{
    for (int c = 0; c < 8; c++) {
        float t0 = d[c] + d[56 + c], t7 = d[c] - d[56 + c];
        float t1 = d[8 + c] + d[48 + c], t6 = d[8 + c] - d[48 + c];
        float t2 = d[16 + c] + d[40 + c], t5 = d[16 + c] - d[40 + c];
        float t3 = d[24 + c] + d[32 + c], t4 = d[24 + c] - d[32 + c];

        float t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
        d[c] = t10 + t11;
        d[32 + c] = t10 - t11;
        float z1 = (t12 + t13) * 0.70710677f;
        d[16 + c] = t13 + z1;
        d[48 + c] = t13 - z1;

        float u10 = t4 + t5, u11 = t5 + t6, u12 = t6 + t7;
        float z5 = (u10 - u12) * 0.38268343f;
        float z2 = u10 * 0.5411961f + z5;
        float z4 = u12 * 1.306563f + z5;
        float z3 = u11 * 0.70710677f;
        float z11 = t7 + z3, z13 = t7 - z3;
        d[40 + c] = z13 + z2;
        d[24 + c] = z13 - z2;
        d[8 + c] = z11 + z4;
        d[56 + c] = z11 - z4;
    }
}

static inline void jpeg_transpose(float *d)
{
    for (int r = 0; r < 8; r++)
        for (int c = r + 1; c < 8; c++)
            std::swap(d[8 * r + c], d[8 * c + r]);
}

// Writes a value's code (symbol = base + category) and its category low
// bits (negative values as v - 1) in one go.
static inline void jpeg_putvalue(jpeg_bits &b, const jpeg_codes &t, int base, int v)
{
    int mag = v < 0 ? -v : v;
    int cat = std::bit_width((unsigned)mag);
    int sym = base + cat;
    uint32_t bits = (uint32_t)(v < 0 ? v - 1 : v) & ((1u << cat) - 1);
    jpeg_putbits(b, (uint32_t)t.code[sym] << cat | bits, t.size[sym] + cat);
}

// Transforms, quantises and codes one 8 x 8 block of one component, given
// transposed (d[8 x column + row]) so that both DCT passes run lane-wise:
// the first transforms the rows, the second, after the transpose, the
// columns. Returns the block's quantised DC value, the next predictor.
static int jpeg_block(jpeg_bits &b, float *d, const float *f, int prevdc, const jpeg_codes &dc,
                      const jpeg_codes &ac)
{
    jpeg_dct(d);
    jpeg_transpose(d);
    jpeg_dct(d);

    int qn[64];
    for (int i = 0; i < 64; i++) {
        float v = d[i] * f[i];
        qn[i] = (int)(v + std::copysign(0.5f, v)); // halves away from zero
    }
    int q[64];
    uint64_t nonzero = 0;
    for (int j = 0; j < 64; j++) {
        q[j] = qn[jpeg_natural[j]];
        nonzero |= (uint64_t)(q[j] != 0) << j;
    }

    jpeg_putvalue(b, dc, 0, q[0] - prevdc);
    int last = 0;
    for (nonzero &= ~(uint64_t)1; nonzero; nonzero &= nonzero - 1) {
        int i = std::countr_zero(nonzero);
        int run = i - last - 1;
        for (; run >= 16; run -= 16)
            jpeg_putbits(b, ac.code[0xF0], ac.size[0xF0]);
        jpeg_putvalue(b, ac, run << 4, q[i]);
        last = i;
    }
    if (last < 63)
        jpeg_putbits(b, ac.code[0x00], ac.size[0x00]);
    return q[0];
}

int64_t img_jpegbound(int width, int height)
{
    // Per component block: a DC code and 11 value bits, then 63 AC
    // coefficients of at most a 16-bit code and 10 value bits, all of it
    // possibly doubled by stuffing.
    constexpr int64_t blockbytes = 2 * ((11 + 11 + 63 * (16 + 10) + 7) / 8);
    int64_t blocks = (int64_t)((width + 7) / 8) * ((height + 7) / 8);
    return img_jpegheadersize + 3 * blocks * blockbytes + 4;
}

// Divisors in zigzag order from a base table and the quality scale.
static void jpeg_scaletable(const uint8_t *base, int scale, uint8_t *out)
{
    for (int i = 0; i < 64; i++)
        out[jpeg_zigzag[i]] = (uint8_t)std::clamp((base[i] * scale + 50) / 100, 1, 255);
}

// Reciprocal divisors for the DCT output, natural order, AAN scale folded in.
static void jpeg_reciprocals(const uint8_t *divisors, float *out)
{
    for (int k = 0; k < 64; k++)
        out[k] = 1.0f / ((float)divisors[jpeg_zigzag[k]] * jpeg_aan[k / 8] * jpeg_aan[k % 8]);
}

// Converts the block at (bx, by) to Y, Cb and Cr, each transposed for
// jpeg_block; positions past the right or bottom edge repeat the last
// column or row.
static void jpeg_loadblock(const uint8_t *pixels, int width, int height, int bpp, int bx, int by, float *yb,
                           float *cb, float *cr)
{
    int g = bpp == 1 ? 0 : 1, bl = bpp == 1 ? 0 : 2;
    int cols[8];
    for (int c = 0; c < 8; c++)
        cols[c] = std::min(bx + c, width - 1) * bpp;
    for (int r = 0; r < 8; r++) {
        const uint8_t *row = pixels + (size_t)std::min(by + r, height - 1) * width * bpp;
        for (int c = 0; c < 8; c++) {
            const uint8_t *p = row + cols[c];
            float R = p[0], G = p[g], B = p[bl];
            yb[8 * c + r] = 0.299f * R + 0.587f * G + 0.114f * B - 128.0f;
            cb[8 * c + r] = -0.16874f * R - 0.33126f * G + 0.5f * B;
            cr[8 * c + r] = 0.5f * R - 0.41869f * G - 0.08131f * B;
        }
    }
}

int32_t img_writejpeg(const uint8_t *pixels, int width, int height, int bytesperpixel, uint8_t *output,
                      int32_t capacity, int quality)
{
    if (!pixels || !output || width <= 0 || height <= 0 || width > 65535 || height > 65535 || capacity < 0)
        return -1;
    if (bytesperpixel != 1 && bytesperpixel != 3 && bytesperpixel != 4)
        return -1;

    int q = quality == 0 ? 90 : std::clamp(quality, 1, 100);
    int scale = q < 50 ? 5000 / q : 200 - 2 * q;
    uint8_t lumaq[64], chromaq[64];
    jpeg_scaletable(jpeg_lumaquant, scale, lumaq);
    jpeg_scaletable(jpeg_chromaquant, scale, chromaq);
    float lumaf[64], chromaf[64];
    jpeg_reciprocals(lumaq, lumaf);
    jpeg_reciprocals(chromaq, chromaf);

    jpeg_bits b = {output, capacity, 0, 0, 0};
    jpeg_writeheaders(b, lumaq, chromaq, width, height);

    int dcy = 0, dccb = 0, dccr = 0;
    float yb[64], cb[64], cr[64];
    for (int by = 0; by < height && b.pos <= b.cap; by += 8) {
        for (int bx = 0; bx < width; bx += 8) {
            jpeg_loadblock(pixels, width, height, bytesperpixel, bx, by, yb, cb, cr);
            dcy = jpeg_block(b, yb, lumaf, dcy, jpeg_dcluma, jpeg_acluma);
            dccb = jpeg_block(b, cb, chromaf, dccb, jpeg_dcchroma, jpeg_acchroma);
            dccr = jpeg_block(b, cr, chromaf, dccr, jpeg_dcchroma, jpeg_acchroma);
        }
    }

    jpeg_putbits(b, 0x7F, 7);
    jpeg_flushbytes(b);
    jpeg_byte(b, 0xFF);
    jpeg_byte(b, 0xD9);
    return b.pos <= b.cap ? (int32_t)b.pos : -1;
}
