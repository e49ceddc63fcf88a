// Data fonts: bitmap fonts made of a glyph sheet (a grid of equal cells) and
// a 273-byte metrics file of per-character advances, loaded from the program's
// "fonts" folder. Text is formatted printf-style, measured, hit-tested for the
// text cursor and drawn as textured triangles through the immediate-mode
// renderer. Fonts 21 to 29 are icon fonts whose characters are pictograms.
#pragma once
#include <cstdint>

constexpr int font_maxslots = 32;
constexpr int font_maxname = 32;   // name bytes, terminator included
constexpr int font_datsize = 273;  // bytes of a metrics file
constexpr int32_t font_maxdatbytes = 65536; // a metrics file read at all
constexpr int font_maxdraw = 1365; // characters one font_draw draws
constexpr int font_count = 30;     // fonts loaded at start-up
constexpr int font_firsticon = 21; // fonts 21..29 are icon fonts

#pragma pack(push, 1)
// The metrics file, little-endian, no header.
struct font_dat {
    int32_t sheetwidth, sheetheight; // pixels
    int32_t cellwidth, cellheight;   // pixels; the cell height is the line height
    uint8_t first;                   // character code of cell 0
    uint8_t advance[256];            // pixels per character code
};
#pragma pack(pop)
static_assert(sizeof(font_dat) == font_datsize, "the metrics file is 273 bytes");

struct font_slot {
    char name[font_maxname];
    font_dat metrics; // loaded, or the defaults
    int32_t texture;  // texture slot of the glyph sheet
    int32_t columns;  // sheet width / cell width
    int32_t rows;     // sheet height / cell height
    int32_t cells;    // columns x rows
    int32_t tabwidth; // 9 x the advance of "a"
    int32_t blend;    // 2 for a sheet with alpha, else 4 (renderer blend pairs)
};

extern font_slot font_slots[font_maxslots];
extern int font_loaded;    // slots in use, counted from 0
extern int font_textfonts; // fonts before "Latha Big": the text fonts

// The defaults of a missing or unusable metrics file: sheet 256 x 128, cell
// 16 x 16, first character 32, every advance 8.
void font_defaultdat(font_dat *dat);
// Reads "fonts/<name>.dat". A missing, short or invalid file (cells that are
// not positive or larger than the sheet) gives the defaults; returns 1 when
// the file was used, 0 for the defaults (logged).
int font_readdat(const char *name, font_dat *dat);
// Fills the next slot from its metrics and texture; the new index, or -1
// when all 32 slots are taken.
int font_addslot(const char *name, const font_dat *dat, int texture, int blend);
// Loads the glyph sheet ("fonts/<name>.png", else ".bmp", else ".tga") as a
// texture and the metrics; the font index, or -1 (a missing sheet is
// reported by name with sys_error).
int font_load(const char *name);
// The "font drawing..." start: the thirty fonts in their fixed order. 0 when
// one fails to load.
int font_init();

// Height in the high 32 bits, width in the low 32 bits, in pixels; 0 for an
// empty text or a font that is not loaded.
uint64_t font_textsize(int font, const char *format, ...) __attribute__((format(printf, 2, 3)));
// How many characters of the text fit before pixel offset x.
int font_charatx(int font, float x, const char *format, ...) __attribute__((format(printf, 3, 4)));
// Appends one glyph's two triangles to the open primitive, at the text depth
// and turned by the text angle.
void font_glyph(int font, float x, float y, uint8_t c);
// Formats and draws a text with its top-left at (x, y) in pixels; a shadow
// depth d above 0 first draws d black passes offset by d .. 1 pixels.
void font_draw(float x, float y, int shadow, int font, const char *format, ...) __attribute__((format(printf, 5, 6)));

// Places the interface tooltip for the text beside the mouse, flipping to
// the other side near the window's right and top edges.
void gui_showtooltip(const char *text);
