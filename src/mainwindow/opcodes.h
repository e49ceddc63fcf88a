// The operation editor's two branches whose settings do not fit three plain
// numbers: 2D Profile Milling packs its cut width and tabs into 16-bit codes
// of AUX[1] and AUX[2], Tessellated Carving its grid and cuts into halves of
// AUX[0] and AUX[1]. The codecs here are pure and fix the layout that the
// generators decode (cam/profiling.h, cam/tessellate.h); the two draw
// functions are the branches' rows in the editor.
#pragma once
#include <cstdint>

// The four profile codes; each holds 0..65535 over a range in inches.
enum opcodes_field : int {
    opcodes_width,   // width of cuts, quadratic over 0..8 inches
    opcodes_spacing, // tab spacing, 0..24 inches
    opcodes_length,  // tab length, 0..1 inch
    opcodes_height,  // tab height, 0..0.5 inch
    opcodes_fields,
};
constexpr uint32_t opcodes_max = 65535;

// The code of a value in project units, scale being inches per project
// unit: a negative value gives 0, one above the field's range 65535, and
// one that is not a finite number -1 (the caller keeps the code it had).
int32_t opcodes_encode(int field, float value, float scale);
// The value of a code in project units; the tab spacing is snapped to the
// step the units show (0.001 inch, 0.1 mm).
float opcodes_decode(int field, uint32_t code, float scale, int32_t units);

// AUX words as the editor keeps them (uint32_t, a float's bits where the
// word holds a number): the bits of a float and back, one of a word's two
// unsigned halves, and the word with one half replaced.
uint32_t opcodes_bits(float value);
float opcodes_float(uint32_t word);
uint32_t opcodes_half(uint32_t word, int high);
uint32_t opcodes_withhalf(uint32_t word, int high, uint32_t value);

// Tessellated Carving's three sliders as the editor holds them while they
// are dragged.
struct opcodes_tess {
    float cols, rows, cuts;
};
// Reads the sliders from AUX[0] (high half: cuts) and AUX[1] (low: columns,
// high: rows).
opcodes_tess opcodes_tessread(const uint32_t aux[3]);
// Writes them back as int(value + 0.5), keeping the shape in AUX[0]'s low
// half.
void opcodes_tesswrite(uint32_t aux[3], const opcodes_tess &t);
// The gap knob's top: the tile size min(x / columns, y / rows), columns and
// rows taken to the nearest whole number (at least 1).
float opcodes_tessgapmax(float sizex, float sizey, float cols, float rows);

// The branches' rows, drawn into the current layout from the editor's
// working copy: 2D Profile Milling's and Tessellated Carving's.
void opcodes_profile(void);
void opcodes_tessellation(void);
