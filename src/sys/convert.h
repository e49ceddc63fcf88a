// Small conversions used by the colour pickers, number fields and the
// content-library list: colours between floats and bytes, a 32-bit word as
// five printable characters, and trimming trailing zeros of a number text.
#pragma once
#include <cstdint>

// Channels at or below 0 give 0, at or above 1 give 255, others round half up.
uint8_t *color_tobytes(uint8_t out[3], const float in[3]);
float *color_tofloats(float out[3], const uint8_t in[3]);
// Five characters ' '..'_' from bits 31..2, six bits each, then a NUL.
void str_encodeword(uint32_t value, char out[6]);
// "1.2500" becomes "1.25" and "3.000" becomes "3.0"; one digit always stays
// after the point. Texts without a point, or with anything but digits after
// it, are left alone.
void str_trimzeros(char *text);
