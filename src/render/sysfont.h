// System fonts: the TrueType and OpenType files of the machine, listed
// through fontconfig at start-up and named, sorted and indexed by the
// "cachefontnames" job; FreeType faces opened from memory into a 512-entry
// face table with the glyph positions of the last measured string; text
// measured and rendered into 8-bit coverage and RGB buffers for text-layers.
// Every FreeType call and every use of a face entry happens under the
// sysfont mutex (sys_fontmutex), whichever thread makes it.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>

constexpr int sys_maxfaces = 512;         // face entries, and system-font slots
constexpr int sys_maxglyphs = 1024;       // glyph positions of one measured string
constexpr int sys_maxfontfiles = 16384;   // font records, and listed files
constexpr int sys_namepixels = 12;        // pixel size fonts are opened at to be named
constexpr int32_t sys_maxfontbytes = 67108864; // largest font file read (big CJK faces stay well below)

struct sys_glyphpos {
    int32_t x, y;   // 26.6 fixed point
    uint32_t glyph; // FreeType glyph index
};

struct sys_faceentry {
    int32_t size;             // pixel size the face was set to
    int32_t glyphcount;       // of the last measured string
    int32_t xoffset, yoffset; // 26.6, added to every position when drawing
    sys_glyphpos glyphs[sys_maxglyphs];
    FT_Face face;             // null while the entry is free
};

// A font file of the machine. Path kind 0: a file name inside
// sys_fontfolder; 1: a full path.
struct sys_fontrecord {
    char *name;      // "<family> <style>"; null until named, or when the file failed
    char *path;
    int32_t kind;
    int32_t cacheid; // font-cache entry id
    int32_t uses;    // text objects using the font
};

extern FT_Library sys_ftlibrary;
extern int sys_ftready;                // FreeType started
extern sys_faceentry *sys_facetable;   // sys_maxfaces entries; null before start-up
extern int32_t sys_fontslot[sys_maxfaces]; // face entry of each system-font slot, -1 free
extern sys_fontrecord *sys_fontlist;   // sys_maxfontfiles records; null before start-up
extern int32_t sys_fontcount;          // records in use
extern int32_t *sys_fontorder;         // alphabetical position -> record index
extern int32_t sys_fontletter[26];     // first alphabetical position of each letter, -1 none
extern int32_t sys_fontdefault;        // alphabetical position of the default text-layer font, -1
extern char *sys_fontfiles[sys_maxfontfiles]; // the listing being read
extern int32_t sys_fontfilecount;
extern char sys_fontfolder[1024];      // the folder of path-kind 0 records, ending in "/"
extern int sys_fontmutex;              // mutex ids, -1 until start-up creates them
extern int font_cachemutex;

// The "ttf..." start: FreeType and the zeroed face table. 0 on failure
// (reported).
int sys_initfreetype();
// The "text..." start: the font cache reset, the font records from
// fontconfig's listing, the text objects, then the sysfont and font-cache
// mutexes. 0 when the fonts cannot be listed.
int sys_initfonts();
// The "text..." and "ttf..." shutdown steps; the first frees the text
// objects and the font cache first.
void sys_quitfonts();
void sys_quitfreetype();

// 1 for a file name ending ".ttf" or ".otf" in any case.
int sys_isfontfile(const char *name);
// Font files of the system (inside sys_fontfolder, listed as names relative
// to it) and of the user (full paths) into sys_fontfiles; the count, or -1.
int sys_enumsystemfonts();
int sys_enumuserfonts();
// Frees every text of sys_fontfiles and sets the count to 0.
void sys_freefonts();

// Body of the "cachefontnames" job: names every record by opening its file
// once, then sorts and indexes the names.
void job_cachefontnames(void *arg);
// Stable sort of sys_fontorder: unnamed fonts first, then by name without
// regard to case.
void sys_sortfonts();
// Walks the alphabetical order: logs the named fonts, fills the first-letter
// table and picks the default text-layer font.
void sys_indexfonts();

// Opens a face from memory at a pixel size; the data must outlive the face.
// Takes the sysfont mutex itself. The system-font slot, or -1 (reported).
int sys_loadfontmem(const uint8_t *data, int32_t size, int pixelsize);
// Closes the slot's face and frees the face entry and the slot.
void sys_closefont(int slot);
// Family and style of an open slot; "" (reported) without a face.
const char *sys_fontname(int slot);
const char *sys_fontstyle(int slot);

// Measures a UTF-8 text (cut at sys_maxglyphs characters) and records its
// glyph positions, one per character (a line feed's has no glyph of its own);
// spacing s adds trunc(max advance x s x |s|) per character. A line feed
// moves down by the face's line spacing.
void ttf_textsize(int slot, const char *text, float spacing, int *width, int *height);
// The extent of a text object's first n bytes as its font draws them, and
// the size of the character that follows (a blank at the end): where a
// caret after n bytes stands and how large it is. Takes the sysfont mutex.
// 1, or 0 (logged) with zeros when the object or its cached face is missing.
int ttf_textwidthn(int textslot, int n, int extent[2], int charsize[2]);
// The text as width x height coverage bytes (sys_malloc), or null.
uint8_t *ttf_textdraw(int slot, const char *text, float spacing, int *width, int *height);
// The text as width x height x 3 grey RGB bytes (sys_malloc), or null.
uint8_t *sys_fontdraw(int slot, const char *text, float spacing, int *width, int *height);
