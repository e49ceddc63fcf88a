// Colour, word and number-text conversions.
#include "sys/convert.h"

#include <cstring>

uint8_t *color_tobytes(uint8_t out[3], const float in[3])
{
    for (int i = 0; i < 3; i++) {
        float v = in[i];
        // Written so that NaN also lands on 0 instead of an undefined cast.
        out[i] = !(v > 0.0f) ? 0 : v >= 1.0f ? 255 : (uint8_t)(v * 255.0f + 0.5f);
    }
    return out;
}

float *color_tofloats(float out[3], const uint8_t in[3])
{
    for (int i = 0; i < 3; i++)
        out[i] = in[i] / 255.0f;
    return out;
}

void str_encodeword(uint32_t value, char out[6])
{
    for (int i = 0; i < 5; i++)
        out[i] = (char)(32 + ((value >> (26 - 6 * i)) & 63));
    out[5] = 0;
}

void str_trimzeros(char *text)
{
    char *point = strrchr(text, '.');
    if (!point)
        return;
    // An exponent or unit after the digits would lose real zeros.
    size_t digits = strspn(point + 1, "0123456789");
    if (point[1 + digits] != 0 || digits < 2)
        return;
    for (char *c = point + digits; c > point + 1 && *c == '0'; c--)
        *c = 0;
}
