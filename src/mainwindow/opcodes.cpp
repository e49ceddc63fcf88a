// Codes of the profile and tessellation branches. The generators decode the
// same bits (cam/profiling.h reads the profile codes, tess_unpack the
// tessellation halves), so every encoder here is checked against them
// rather than against the decoders of this file.
//   codecs  - the four profile codes and the AUX word halves
//   rows    - the two branches of the operation editor
#include "mainwindow/opcodes.h"

#include "geom/plane.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/textedit/textedit.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/textfield.h"
#include "gui/widgets/values.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/optypes.h"
#include "project/project.h"
#include "render/drawstate.h"
#include "sys/log.h"
#include "view/modes.h"

#include <cmath>
#include <cstdio>
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

enum opcodes_id : int32_t {
    oc_outline = 15500,
    oc_outlinecut,
    oc_width,
    oc_widthreset,
    oc_tabsreset,
    oc_spacing,
    oc_length,
    oc_height,
    oc_cols = 15520,
    oc_rows,
    oc_cuts,
    oc_gap,
    oc_shape,
    oc_shapeitem, // + shape 1..6
    oc_nopartials = oc_shapeitem + 7,
};

constexpr float opcodes_rowheight = 30.0f;
constexpr float opcodes_knobheight = 60.0f;
constexpr float opcodes_labelwidth = 80.0f;

static const char *const opcodes_shapenames[7] = {"none",     "Quads",    "Triangles", "Diamonds",
                                                  "Diamonds2", "Hexagons", "Circles"};
static const char *const opcodes_shapeelements[7] = {nullptr,          "tess_quads",    "tess_triangles",
                                                     "tess_diamonds",  "tess_diamonds2", "tess_hexagons",
                                                     "tess_circles"};


static void opcodes_row(float h)
{
    gui_colsector(2, (double)h, 1.0);
}

static const char *opcodes_suffix()
{
    return project.units == 1 ? "\"" : project.units == 2 ? "mm" : " ";
}

// The value a code field shows, its text rewritten when it parts from it
// by more than 0.0001 (never while the field is being typed into).
static float opcodes_shown(int field, uint32_t code)
{
    const float v = opcodes_decode(field, code, project.scale, (int32_t)project.units);
    char *text = opeditor.proftext[field];
    float shown;
    if (text_editstate.string != text && (sscanf(text, "%f", &shown) != 1 || fabsf(shown - v) > 0.0001f))
        opeditor_formatlength(text, v, (int32_t)project.units);
    return v;
}

// A code field on one half of an AUX word: a committed text is parsed and
// encoded; a text that is no finite number leaves the code as it was. The
// text follows the code after the field, so the frame an edit ends in
// parses what was typed.
static void opcodes_codefield(int field, int32_t id, const char *name, const char *label, const char *tip,
                              uint32_t flags, uint32_t *word, int high)
{
    gui_elementid("%s", name);
    gui_tooltip("%s", tip);
    char *text = opeditor.proftext[field];
    if (!gui_textfield(id, 0, label, opcodes_suffix(), text, flags, opeditor_textsize - 1)) {
        opcodes_shown(field, opcodes_half(*word, high));
        return;
    }
    float typed;
    if (sscanf(text, "%f", &typed) == 1) {
        const int32_t c = opcodes_encode(field, typed, project.scale);
        if (c >= 0)
            *word = opcodes_withhalf(*word, high, (uint32_t)c);
    }
    opeditor_formatlength(text, opcodes_decode(field, opcodes_half(*word, high), project.scale, (int32_t)project.units),
                          (int32_t)project.units);
    gui_unappliedchanges = 1;
}

static int opcodes_resetbutton(int32_t id, const char *name, const char *tip)
{
    gui_elementid("%s", name);
    gui_tooltip("%s", tip);
    return gui_iconbutton(id, 150, 0, gui_interfacefont, nullptr);
}

static void opcodes_outline(opeditor_record &e)
{
    opcodes_row(opcodes_rowheight);
    gui_rowsector(2, 1.0, 1.0);
    gui_elementid("op_outlinemode");
    gui_tooltip("Cut only outer-most pocket or island contour(s).");
    e.outline = gui_checkbox(oc_outline, e.outline, "Outline Mode");
    const char *cut = e.islands ? "Cut: Islands" : "Cut: Pockets";
    if (!e.outline) {
        gui_centerlabel(gui_interfacefont, "%s", cut);
        return;
    }
    gui_elementid("op_outlinecut");
    gui_tooltip("Whether to cut outer-most\npocket or island contours.");
    if (gui_button(oc_outlinecut, gui_interfacefont, 1, "%s", cut))
        e.islands = !e.islands;
}

void opcodes_profile(void)
{
    opeditor_record &e = opeditor;
    optypes_contourrow(1);
    if (e.contourmode == 0)
        optypes_contourheight();
    else if (e.contourmode == 1)
        optypes_pathspicker(0);
    opcodes_outline(e);
    opcodes_row(opcodes_rowheight);
    gui_rowsector(2, 1.0, (double)opcodes_rowheight);
    opcodes_codefield(opcodes_width, oc_width, "op_prof_width", "Width of Cuts",
                      "Distance between inner/outermost cutpaths with\nintermediate cutpaths created at 'stepover' "
                      "increments.\ni.e. physical width minus cutter diameter.",
                      1 | 4, &e.aux[1], 0);
    if (opcodes_resetbutton(oc_widthreset, "op_prof_width_reset", "Zero out Width of Cuts."))
        e.aux[1] = opcodes_withhalf(e.aux[1], 0, 0);
    opcodes_row(opcodes_rowheight);
    gui_rowsector(2, 1.0, (double)opcodes_rowheight);
    gui_label(0, 0, gui_interfacefont, "Tabbing Parameters:");
    if (opcodes_resetbutton(oc_tabsreset, "op_prof_tabs_reset", "Zero out Tab Spacing to disable\ntabbing functionality."))
        e.aux[1] = opcodes_withhalf(e.aux[1], 1, 0);
    opcodes_row(opcodes_rowheight);
    opcodes_codefield(opcodes_spacing, oc_spacing, "op_prof_tabs_spacing", "Spacing",
                      "Spacing between added\ntabs. Zero disables tabs.", 1 | 4, &e.aux[1], 1);
    opcodes_row(opcodes_rowheight);
    gui_rowsector(2, 1.0, 1.0);
    if (opcodes_half(e.aux[1], 1) == 0) {
        opcodes_shown(opcodes_length, opcodes_half(e.aux[2], 0));
        opcodes_shown(opcodes_height, opcodes_half(e.aux[2], 1));
        gui_valuetext(gui_interfacefont, 0, "Lg: %s%s", opeditor.proftext[opcodes_length], opcodes_suffix());
        gui_valuetext(gui_interfacefont, 0, "Ht: %s%s", opeditor.proftext[opcodes_height], opcodes_suffix());
        return;
    }
    opcodes_codefield(opcodes_length, oc_length, "op_prof_tabs_length", "Lg", "Length of added tabs.", 4 | 8,
                      &e.aux[2], 0);
    opcodes_codefield(opcodes_height, oc_height, "op_prof_tabs_height", "Ht", "Height/thickness of added tabs.",
                      4 | 8, &e.aux[2], 1);
}

// A label and a whole-number slider on one row.
static float opcodes_slider(int32_t id, const char *name, const char *label, const char *tip, float value, float top)
{
    opcodes_row(opcodes_rowheight);
    gui_rowsector(2, (double)opcodes_labelwidth, 1.0);
    gui_label(0, 0, gui_interfacefont, "%s", label);
    gui_elementid("%s", name);
    if (tip)
        gui_tooltip("%s", tip);
    return gui_valueslider(id, "%.0f", value, 1.0f, top, 1.0f);
}

static void opcodes_shapelist(opeditor_record &e)
{
    opcodes_row(opcodes_rowheight);
    const gui_rect *cell = gui_topsector();
    const float w = cell ? cell->w : 200.0f;
    const uint32_t shape = opcodes_half(e.aux[0], 0);
    gui_elementid("op_tess_shape");
    gui_tooltip("Tessellation shape pattern to generate for cutpaths.");
    if (!gui_dropdown(oc_shape, 0.0f, 20.0f, w, 6.0f * opcodes_rowheight, "Cutpath Shape: %s",
                      opcodes_shapenames[shape <= 6 ? shape : 0]))
        return;
    for (uint32_t k = 1; k <= 6; k++) {
        if (k < 6)
            opcodes_row(opcodes_rowheight);
        gui_elementid("%s", opcodes_shapeelements[k]);
        if (gui_radiobutton(oc_shapeitem + (int32_t)k, shape == k, gui_interfacefont, "%s", opcodes_shapenames[k])) {
            e.aux[0] = opcodes_withhalf(e.aux[0], 0, k);
            sys_log("selected shape[%d] = %s", (int)k, opcodes_shapenames[k]);
            gui_unappliedchanges = 1;
        }
    }
    gui_endwindow();
}

void opcodes_tessellation(void)
{
    opeditor_record &e = opeditor;
    // The sliders follow the codes whenever the codes hold other values:
    // another operation opened, or the type just chosen.
    const opcodes_tess stored = opcodes_tessread(e.aux);
    opcodes_tess t = {e.tesscols, e.tessrows, e.tesscuts};
    auto rounded = [](float v) { return (float)opcodes_slidercode(v); };
    if (rounded(t.cols) != stored.cols || rounded(t.rows) != stored.rows || rounded(t.cuts) != stored.cuts)
        t = stored;
    t.cols = opcodes_slider(oc_cols, "op_tess_cols", "Cols:", nullptr, t.cols, 16.0f);
    t.rows = opcodes_slider(oc_rows, "op_tess_rows", "Rows:", nullptr, t.rows, 16.0f);
    t.cuts = opcodes_slider(oc_cuts, "op_tess_cuts", "Cuts:", "Number of cuts per shape tile.", t.cuts, 24.0f);
    e.tesscols = t.cols, e.tessrows = t.rows, e.tesscuts = t.cuts;
    const uint32_t before[3] = {e.aux[0], e.aux[1], e.aux[2]};
    opcodes_tesswrite(e.aux, t);
    opcodes_row(opcodes_knobheight);
    gui_rowsector(2, (double)opcodes_labelwidth, 1.0);
    gui_label(0, 0, gui_interfacefont, "Gap:");
    char format[32];
    snprintf(format, sizeof(format), "%%.2f%s", opcodes_suffix());
    gui_elementid("op_tess_gap");
    gui_tooltip("Controls the distance between sets of cuts. Zero\ndefaults separation to match calculated cut "
                "stepover.");
    const float top = opcodes_tessgapmax(project.size[0], project.size[1], t.cols, t.rows);
    // A gap kept from a larger tile (fewer columns or rows) stops at this one.
    const float gap = gui_valueknob(oc_gap, format, opeditor_auxf(e, 2), 0.0f, top, project.units == 1 ? 0.01f : 0.25f);
    opeditor_setauxf(e, 2, std::fmax(0.0f, std::fmin(gap, top)));
    if (std::memcmp(before, e.aux, sizeof(before)) != 0)
        gui_unappliedchanges = 1;
    opcodes_shapelist(e);
    opcodes_row(opcodes_rowheight);
    gui_elementid("op_tess_nopartials");
    gui_tooltip("Prevents partial-shapes that lie\non canvas edges from being cut.");
    e.typeoption = gui_checkbox(oc_nopartials, e.typeoption, "Remove Partials");
}
