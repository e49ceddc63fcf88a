// The operation editor's working copy: one record for the whole program,
// loaded from a camop (or from the remembered defaults by New Operation),
// edited by the editor's rows and read back by Apply. The rows of the
// common parameters are drawn here too (opeditor.cpp); the type options
// live in optypes.h. Other panels set only the tool (opeditor_tool).
#pragma once
#include <cstdint>
#include <cstring>

struct camop;

constexpr int opeditor_textsize = 64; // bytes of a field's text, 63 typed

// The editor's text buffers of the common fields, in drawing order.
enum opeditor_textfield : int {
    opeditor_speedtext,
    opeditor_feedtext,
    opeditor_engagetext,
    opeditor_doctext,
    opeditor_mintext,
    opeditor_maxtext,
    opeditor_steptext,
    opeditor_safetext,
    opeditor_stocktext, // Leave Stock, Offset or Retract by type
    opeditor_texts,
};

struct opeditor_record {
    // Values applied to the camop fields of the same meaning.
    int32_t type;    // 0..17
    int32_t coolant; // 0 none, 1 off, 2 mist, 3 flood
    int32_t tool;    // project tool 1..10, 0 or -1 none
    int32_t engagefeed, feed, speed;
    int32_t dir;   // 0 conventional, 1 climb, 2 mixed
    int32_t entry; // 0 plunge, 1 ramp, 2 helical
    float stock, step, z_doc, z_max, z_min, z_safe;
    // AUX[0..2] as the words the generators read: a float's bits (memcpy),
    // a layer uid, a bit mask or two 16-bit codes, by type.
    uint32_t aux[3];
    // Flag variables, each 0 or 1 (bits of camop.flags, see opeditor_flags).
    int32_t rest;       // 0x0001
    int32_t sort;       // 0x0002
    int32_t link;       // 0x0004, Hole Drilling: full retract
    int32_t edges;      // 0x0008, include edges or confine cuts
    int32_t outline;    // 0x0010, 2D Profile Milling only
    int32_t islands;    // 0x0020, 2D Profile Milling only
    int32_t typeoption; // 0x0040, remove partials (13) or ignore perimeter (7)
    int32_t ignoretool; // 0x0080
    int32_t percent;    // 0x0400, stepover in percent of the tool diameter
    int32_t invert;     // 0x0800
    int32_t contourmode; // 0 trace canvas, 1 paths-layer (0x0200), 2 all paths-layers (0x2000)
    int32_t group;       // layer group 0..9, kept in the projop entry
    char name[opeditor_textsize];
    char text[opeditor_texts][opeditor_textsize];
    // Texts of the type options' fields: the AUX word each one shows
    // (contour height, chevron width and height, depth offset) and the four
    // profile values (width of cuts, tab spacing, length, height).
    char auxtext[3][opeditor_textsize];
    char proftext[4][opeditor_textsize];
    // Tessellated Carving's sliders while they are dragged; the codes in
    // aux are the state.
    float tesscols, tessrows, tesscuts;
    int32_t loadedtype;     // the type the record was last loaded with
    int32_t choosetype;     // dialog 22: the type shown as chosen
    int32_t choosecategory; // dialog 22: the open category tab
    int32_t isnew;          // set by New Operation until a type is chosen or it is deselected
};

inline opeditor_record opeditor{};
// Project tool number 1..10, 0 none: the tool editor's Apply and the tool
// library's Load point it at the tool they wrote, so a new operation starts
// with it.
inline int32_t &opeditor_tool = opeditor.tool;

// An AUX word read or written as the float it holds.
inline float opeditor_auxf(const opeditor_record &r, int i)
{
    float v;
    std::memcpy(&v, &r.aux[i], sizeof(v));
    return v;
}
inline void opeditor_setauxf(opeditor_record &r, int i, float v)
{
    std::memcpy(&r.aux[i], &v, sizeof(v));
}

// Types whose contours may come from paths-layers (flags 0x0200, 0x2000).
int opeditor_takescontours(int type);
// Loads values, AUX words and flag variables from op; name, group, texts
// and the dialog fields are left as they are.
void opeditor_load(opeditor_record *r, const camop *op);
// The camop flags word of r: 0x0010/0x0020 only for type 8, 0x0040 only for
// types 7 and 13, 0x0200/0x2000 only for the types taking contours.
uint32_t opeditor_flags(const opeditor_record *r);
// Copies values, AUX words and the flags word into op (the camop fields
// Apply fills from the editor).
void opeditor_store(const opeditor_record *r, camop *op);

// Remembered defaults in cfg. loaddefaults reads the common values and the
// five remembered switches; loadtypevalues reads AUX[0..2] last applied
// for type (1..17); savedefaults writes all of them for r's type.
void opeditor_loaddefaults(opeditor_record *r);
void opeditor_loadtypevalues(opeditor_record *r, int type);
void opeditor_savedefaults(const opeditor_record *r);

// Rewrites the common fields' texts from the values for the project's
// units: integers "%d", lengths with the units' decimals and trailing
// zeros trimmed, a percent stepover "%.1f".
void opeditor_settexts(opeditor_record *r, int32_t units);
// A length written the way the editor's fields show it.
void opeditor_formatlength(char *text, float value, int32_t units);

// ---- the editor's rows (right column, side panel 6) ----

// The unit suffix of lengths: blank, the inch sign or "mm".
const char *opeditor_lengthsuffix();
// Tool 1..10 with a type other than none.
int opeditor_toolvalid(int tool);
// Whether the type offers entry method 0 plunge, 1 ramp or 2 helical.
int opeditor_entryoffered(int type, int entry);
// The tool clamps of the depth of cut and the maximum-depth limits, texts
// rewritten; box shows the clamp's message (never while a drop-down is open).
void opeditor_limitdoc(opeditor_record &r, int box);
void opeditor_limitmaxdepth(opeditor_record &r, int box);
// The stepover switches between a distance and percent of the tool.
void opeditor_steptopercent(opeditor_record &r);
void opeditor_steptophysical(opeditor_record &r);
// The two checks of the misc block, each frame.
void opeditor_misccheck(opeditor_record &r);
// Speed to Ignore Tool Lengths, and the "Miscellaneous Options:" block.
void opeditor_commonrows();
void opeditor_miscblock();
// Side panel 6: the rows of the operation being edited (gui_selectedop).
void opeditor_panel();
