// Codes of the profile and tessellation branches. The generators decode the
// same bits (cam/profiling.h reads the profile codes, tess_unpack the
// tessellation halves), so every encoder here is checked against them
// rather than against the decoders of this file.
//   codecs  - the four profile codes and the AUX word halves
//   rows    - the two branches of the operation editor
#include "mainwindow/opcodes.h"

#include "geom/plane.h"

#include <cmath>
#include <cstring>

// ------------------------------------------------------------------ codecs

// Each code's range in inches; the width alone is quadratic, finer near 0.
static const float opcodes_ranges[opcodes_fields] = {8.0f, 24.0f, 1.0f, 0.5f};

// Decimals the units show: none, inches, metric.
static const int opcodes_unitdecimals[3] = {0, 4, 2};

int32_t opcodes_encode(int field, float value, float scale)
{
    if (field < 0 || field >= opcodes_fields || !std::isfinite(value) || !std::isfinite(scale) || scale <= 0.0f)
        return -1;
    if (value <= 0.0f)
        return 0;
    // Computed in double so a range's top lands on 65535 and not one
    // below it through float rounding.
    double f = (double)value * scale / opcodes_ranges[field];
    if (f >= 1.0)
        return (int32_t)opcodes_max;
    if (field == opcodes_width)
        f = std::sqrt(f);
    return (int32_t)(f * opcodes_max + 0.5);
}

float opcodes_decode(int field, uint32_t code, float scale, int32_t units)
{
    if (field < 0 || field >= opcodes_fields || !(scale > 0.0f))
        return 0.0f;
    float f = (float)(code & opcodes_max) / (float)opcodes_max;
    if (field == opcodes_width)
        f *= f;
    float v = f * opcodes_ranges[field] / scale;
    if (field != opcodes_spacing)
        return v;
    int d = opcodes_unitdecimals[units >= 0 && units <= 2 ? units : 0];
    return snap_step(v, std::pow(0.1f, (float)(d - 1)));
}

uint32_t opcodes_bits(float value)
{
    uint32_t u;
    std::memcpy(&u, &value, sizeof(u));
    return u;
}

float opcodes_float(uint32_t word)
{
    float f;
    std::memcpy(&f, &word, sizeof(f));
    return f;
}

uint32_t opcodes_half(uint32_t word, int high)
{
    return high ? word >> 16 : word & 0xffffu;
}

uint32_t opcodes_withhalf(uint32_t word, int high, uint32_t value)
{
    value &= 0xffffu;
    return high ? (word & 0xffffu) | value << 16 : (word & 0xffff0000u) | value;
}

opcodes_tess opcodes_tessread(const uint32_t aux[3])
{
    return {(float)opcodes_half(aux[1], 0), (float)opcodes_half(aux[1], 1), (float)opcodes_half(aux[0], 1)};
}

// A slider's value as its half stores it: rounded, and never below 0 or
// above what 16 bits hold.
static uint32_t opcodes_slidercode(float v)
{
    if (!(v > 0.0f))
        return 0;
    return v >= (float)opcodes_max ? opcodes_max : (uint32_t)(v + 0.5f);
}

void opcodes_tesswrite(uint32_t aux[3], const opcodes_tess &t)
{
    aux[0] = opcodes_withhalf(aux[0], 1, opcodes_slidercode(t.cuts));
    aux[1] = opcodes_withhalf(aux[1], 0, opcodes_slidercode(t.cols));
    aux[1] = opcodes_withhalf(aux[1], 1, opcodes_slidercode(t.rows));
}

float opcodes_tessgapmax(float sizex, float sizey, float cols, float rows)
{
    float c = std::fmax(std::floor(cols + 0.5f), 1.0f), r = std::fmax(std::floor(rows + 0.5f), 1.0f);
    return std::fmin(sizex / c, sizey / r);
}

// -------------------------------------------------------------------- rows

void opcodes_profile(void) {}

void opcodes_tessellation(void) {}
