// Colour, word and number-text conversions.
#include "sys/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

TEST(Convert, ColorToBytesClampsAndRoundsHalfUp)
{
    struct Case {
        float in[3];
        uint8_t out[3];
    };
    const Case cases[] = {
        {{0.5f, -1.0f, 2.0f}, {128, 0, 255}},
        {{0.0f, 1.0f, 0.998f}, {0, 255, 254}},
        {{1.0f / 255, 0.001f, NAN}, {1, 0, 0}},
    };
    for (const Case &c : cases) {
        uint8_t out[3];
        EXPECT_EQ(color_tobytes(out, c.in), out);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(out[i], c.out[i]) << c.in[i];
    }
}

TEST(Convert, ColorBytesSurviveTheRoundTrip)
{
    for (int b = 0; b < 256; b++) {
        uint8_t in[3] = {(uint8_t)b, (uint8_t)(255 - b), 0}, back[3];
        float f[3];
        EXPECT_EQ(color_tofloats(f, in), f);
        EXPECT_FLOAT_EQ(f[0], b / 255.0f);
        color_tobytes(back, f);
        ASSERT_EQ(memcmp(back, in, 3), 0) << b;
    }
}

TEST(Convert, EncodeWordGivesFivePrintableCharacters)
{
    struct Case {
        uint32_t value;
        const char *text;
    };
    const Case cases[] = {
        {0, "     "},
        {0xFFFFFFFF, "_____"},
        {0x00000003, "     "},          // the two lowest bits are not encoded
        {0x04000000, "!    "},          // bit 26: lowest bit of the first group
        {0x00000004, "    !"},          // bit 2: lowest bit of the last group
        {0x80000000, "@    "},
    };
    for (const Case &c : cases) {
        char out[6];
        memset(out, 'x', sizeof(out));
        str_encodeword(c.value, out);
        EXPECT_STREQ(out, c.text) << std::hex << c.value;
    }
}

TEST(Convert, TrimZerosKeepsOneDigitAfterThePoint)
{
    struct Case {
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {"1.2500", "1.25"}, {"3.000", "3.0"}, {"10.0", "10.0"}, {"100", "100"},
        {"0.00", "0.0"},    {"2.05", "2.05"}, {"1.5e10", "1.5e10"}, {"1.2.300", "1.2.3"},
        {"", ""},           {".00", ".0"},
    };
    for (const Case &c : cases) {
        char text[32];
        strcpy(text, c.in);
        str_trimzeros(text);
        EXPECT_STREQ(text, c.out) << c.in;
    }
}
