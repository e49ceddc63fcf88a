// The tools mode. Contents:
//   working copy  - loading the editor from a tool, formatting its texts
//   actions       - select, choose a type, apply, remove, library, clear
//   tools panel   - the list of the ten tools on the left
//   tool editor   - the right column's fields by tool type
// A tool that reaches cam_settool is used by every generator and by the
// stepover switches that divide by its cutting diameter, so Apply refuses
// any dimension that is not a positive finite number.
#include "mainwindow/tools.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "gui/calls.h"
#include "gui/dialog.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/numbers.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/textfield.h"
#include "gui/widgets/values.h"
#include "mainwindow/dialogs.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/toollib.h"
#include "project/canvas.h"
#include "project/project.h"
#include "render/drawstate.h"
#include "sys/config.h"
#include "sys/convert.h"
#include "sys/log.h"
#include "view/modes.h"

#include <cmath>
#include <cstdio>
#include <cstring>

tools_editvalues tools_edit;
tools_edittexts tools_texts;

constexpr int32_t tools_id = 12000;    // panel buttons: this plus their place below
constexpr int32_t tools_rowid = 12010; // the ten tool rows
constexpr int32_t tools_editid = 12030; // editor members: this plus their place below
constexpr float tools_rowheight = 30.0f;
constexpr float tools_knobheight = 60.0f;

enum { id_loadlibrary, id_clearlist, id_save, id_load, id_remove };
enum {
    ed_name, ed_type, ed_typeitem, ed_units = ed_typeitem + 4, ed_flutes, ed_total, ed_flute, ed_diameter, ed_value,
    ed_ramp, ed_apply, ed_done
};
static_assert(tools_editid + ed_type == tools_typelistid);

static const char *const tools_typenames[5] = {"None", "Cylinder", "Tapered", "V-Bit", "Tapered Ball"};
static const int tools_typeicons[5] = {100, 90, 91, 92, 93};

int tools_typeicon(int type)
{
    return type >= 0 && type <= 4 ? tools_typeicons[type] : tools_typeicons[0];
}

const char *tools_typename(int type)
{
    return type >= 0 && type <= 4 ? tools_typenames[type] : tools_typenames[0];
}

int tools_busy()
{
    return cam_generatingop != -1 || project_canvasjob.updating.load() != 0;
}

// ---- working copy ----

static void tools_formatlength(char *text, int32_t units, float value)
{
    snprintf(text, tools_textmax, "%.*f", (int)gui_unitdecimals(units, value), (double)value);
    str_trimzeros(text);
}

void tools_formattexts()
{
    const tools_editvalues &e = tools_edit;
    tools_formatlength(tools_texts.total, e.units, e.length);
    tools_formatlength(tools_texts.flute, e.units, e.flutelength);
    tools_formatlength(tools_texts.diameter, e.units, e.flutediameter);
    if (e.type == tool_cylinder)
        tools_formatlength(tools_texts.value, e.units, e.value);
    else
        snprintf(tools_texts.value, tools_textmax, "%3.1f", (double)e.value);
}

void tools_loadeditor(int n)
{
    const tool &t = cam_tools[n - 1];
    tools_editvalues &e = tools_edit;
    e.type = t.type;
    e.units = t.units;
    e.flutes = (float)t.flutes;
    e.length = t.length;
    e.flutelength = t.flutelength;
    e.flutediameter = t.flutediameter;
    e.value = t.aux;
    e.rampangle = t.rampangle;
    if (t.type == tool_none) {
        snprintf(e.name, sizeof(e.name), "tool%02d", n);
        e.flutes = 2.0f;
        e.units = (int32_t)project.units;
    } else {
        snprintf(e.name, sizeof(e.name), "%s", project.tools[n - 1].name);
    }
    tools_formattexts();
}

// The type value's own range: a corner radius within half the diameter,
// the bit angle 10..170, a taper 0..90.
static float tools_clampvalue(int type, float value, float diameter)
{
    switch (type) {
    case tool_cylinder:
        return fmaxf(-0.5f * diameter, fminf(value, 0.5f * diameter));
    case tool_vbit:
        return fmaxf(10.0f, fminf(value, 170.0f));
    case tool_tapered:
    case tool_taperball:
        return fmaxf(0.0f, fminf(value, 90.0f));
    }
    return value;
}

// ---- actions ----

void tools_select(int n)
{
    gui_selectedtool = n - 1;
    gui_sidepanel = 5;
    gui_unappliedchanges = 0;
    tools_loadeditor(n);
}

void tools_deselect()
{
    gui_selectedtool = -1;
    gui_sidepanel = 0;
    gui_unappliedchanges = 0;
}

void tools_settype(int type)
{
    if (type < tool_cylinder || type > tool_taperball || type == tools_edit.type)
        return;
    tools_editvalues &e = tools_edit;
    if (e.type == tool_none) {
        e.flutes = 2.0f;
        e.units = (int32_t)project.units;
    }
    e.type = type;
    // A type never applied has nothing remembered: the values stay.
    const int i = 4 * (type - 1);
    if (cfg_getf(cfg_tooldefdiameter + i) > 0.0f) {
        e.length = cfg_getf(cfg_tooldeftotal + i);
        e.flutelength = cfg_getf(cfg_tooldefflute + i);
        e.flutediameter = cfg_getf(cfg_tooldefdiameter + i);
        e.value = cfg_getf(cfg_tooldefvalue + i);
        e.rampangle = cfg_getf(cfg_tooldeframp + i);
    }
    e.value = tools_clampvalue(type, e.value, e.flutediameter);
    tools_formattexts();
    gui_unappliedchanges = 1;
}

// The two fields whose meaning depends on the type: name, label, tooltip.
struct tools_fielddef {
    const char *name, *label, *tip;
};
static const tools_fielddef tools_typedefs[4][2] = {
    {{"tool_flutediameter", "Flute Diameter", "Width of fluted section of cutter."},
     {"tool_cornerradius", "Corner Radius",
      "Radius of rounded end mill flutes. e.g. half of flute diameter = ballnose.\nNegative values invert radius for "
      "router-style cutters."}},
    {{"tool_tipdiameter", "Tip Diameter", "Diameter of flat-tip/truncation."},
     {"tool_taperangle", "Taper Angle", "Angle between shank and flutes."}},
    {{"tool_bitdiameter", "Bit Diameter", "Diameter of widest point of cutting flutes."},
     {"tool_bitangle", "Bit Angle", "Angle of tool tip."}},
    {{"tool_ballradius", "Ball Radius", "Radius of ball-nose tip."},
     {"tool_taperangle", "Taper Angle", "Angle between shank and flutes."}},
};

// The type's two fields; an undefined type's refusals name the cylinder's.
static const tools_fielddef *tools_typefielddefs(int type)
{
    return tools_typedefs[type >= tool_cylinder && type <= tool_taperball ? type - 1 : 0];
}

// The field a tool cannot be applied with, null when it can; why is the
// box's text.
static const char *tools_fault(const tools_editvalues &e, char *why, size_t size)
{
    const tools_fielddef *defs = tools_typefielddefs(e.type);
    const char *valuelabel = defs[1].label;
    const struct {
        const char *field;
        float value;
        int positive;
    } checks[] = {
        {defs[0].label, e.flutediameter, 1},
        {"Flute Length", e.flutelength, 1},
        {"Total Length", e.length, 1},
        {valuelabel, e.value, 0},
    };
    for (const auto &c : checks) {
        if (std::isfinite(c.value) && (!c.positive || c.value > 0.0f))
            continue;
        snprintf(why, size, c.positive ? "The %s must be a number above zero." : "The %s must be a number.", c.field);
        return c.field;
    }
    // tan(90) is unbounded: the cutting diameter would be ~1e16.
    if ((e.type == tool_tapered || e.type == tool_taperball) && e.value >= 90.0f) {
        snprintf(why, size, "The Taper Angle must be below 90 degrees.");
        return valuelabel;
    }
    return nullptr;
}

int tools_apply()
{
    const int n = gui_selectedtool + 1;
    tools_editvalues &e = tools_edit;
    if (n < 1 || n > cam_maxtools || e.type == tool_none)
        return 0;
    if (e.type == tool_vbit)
        cam_tooldiameter(tool_vbit, e.flutediameter, &e.flutelength, e.value, 0.0f);
    char why[160];
    if (const char *field = tools_fault(e, why, sizeof(why))) {
        sys_log("tools_apply: tool%02d not applied, bad %s", n, field);
        gui_calls->messagebox("Tool Parameters", why, 0, 4, 0);
        return 0;
    }
    cfg_seti(cfg_lasttooltype, e.units == 1 ? e.type : -e.type);
    if (e.flutelength > e.length) {
        e.length = e.flutelength;
        tools_formatlength(tools_texts.total, e.units, e.length);
    }
    const int i = 4 * (e.type - 1);
    cfg_setf(cfg_tooldeftotal + i, e.length);
    cfg_setf(cfg_tooldefflute + i, e.flutelength);
    cfg_setf(cfg_tooldefdiameter + i, e.flutediameter);
    cfg_setf(cfg_tooldefvalue + i, e.value);
    cfg_setf(cfg_tooldeframp + i, e.rampangle);
    if (!cam_settool(n, e.name, e.type, e.units, (int)e.flutes, e.flutediameter, e.flutelength, e.value, e.length,
                     e.rampangle))
        return 0;
    gui_unappliedchanges = 0;
    opeditor_tool = n;
    return 1;
}

int tools_remove(int n)
{
    if (!gui_calls->messagebox("Delete Tool", "Are you sure you want to remove this tool from the project?", 2, 4, 0))
        return 0;
    const tool &t = cam_tools[n - 1];
    if (!cam_settool(n, "None", tool_none, t.units, t.flutes, t.flutediameter, t.flutelength, t.aux, t.length,
                     t.rampangle))
        return 0;
    if (gui_selectedtool == n - 1)
        tools_select(n);
    return 1;
}

int tools_loadlibrary()
{
    if (!gui_calls->messagebox("Load Library",
                               "Are you sure you want to load your tool library to your project's tools list?\n\n"
                               "Existing tools will be overwritten by the corresponding library slot tool "
                               "definition. Operations using existing tools will need a new tool chosen and their "
                               "toolpaths recalculated.",
                               2, 4, 0))
        return 0;
    int loaded = 0;
    for (int slot = 0; slot < cfg_toolcount && loaded < cam_maxtools; slot++) {
        toollib_slot s = toollib_read(slot);
        if (s.type == 0)
            continue;
        if (cam_settool(loaded + 1, s.name, s.type < 0 ? -s.type : s.type, s.type < 0 ? 2 : 1, s.flutes,
                        s.flutediameter, s.flutelength, s.value, s.length, s.rampangle))
            loaded++;
        else
            break;
    }
    sys_status("loaded %d tools...", loaded);
    tools_deselect();
    return loaded;
}

int tools_clearlist()
{
    if (!gui_calls->messagebox("Clear Tools",
                               "Are you sure you want to clear this project's tools list?\n\nAny project operations "
                               "will need to have their tools re-defined and toolpaths recalculated.",
                               2, 4, 0))
        return 0;
    cam_settooldefaults();
    if (gui_selectedtool >= 0)
        tools_select(gui_selectedtool + 1);
    return 1;
}

int tools_done()
{
    if (gui_unappliedchanges &&
        !gui_calls->messagebox("Discard Tool Changes?", "Discard any changes to the tool that have not been applied?",
                               2, 4, 0))
        return 0;
    tools_deselect();
    return 1;
}

// ---- tools panel ----

static void tools_row(float h)
{
    gui_colsector(2, (double)h, 1.0);
}

// A button that cannot act now is a plain label with its icon.
static int tools_button(const char *name, int32_t id, int icon, int enabled, const char *label)
{
    if (!enabled) {
        gui_label(icon, 0, gui_interfacefont, "%s", label);
        return 0;
    }
    gui_elementid("%s", name);
    return gui_iconbutton(id, icon, 0, gui_interfacefont, "%s", label);
}

static void tools_drawrow(int n)
{
    const int selected = gui_selectedtool == n - 1;
    const tool &t = cam_tools[n - 1];
    if (selected)
        gui_rowsector(5, tools_rowheight, 1.0, tools_rowheight, tools_rowheight, tools_rowheight);
    else
        gui_rowsector(2, tools_rowheight, 1.0);
    gui_centerlabel(gui_interfacefont, "%02d", n);
    gui_elementid("tool%02d", n);
    if (gui_iconbutton(tools_rowid + n, tools_typeicon(t.type), 0, gui_interfacefont, "%s",
                       project.tools[n - 1].name) &&
        !selected)
        tools_select(n);
    if (!selected)
        return;
    gui_tooltip("Save tool definition to library.");
    if (tools_button("tool_save", tools_id + id_save, 52, t.type != tool_none, ""))
        toollib_open(toollib_savemode, n);
    gui_tooltip("Load tool definition from library.");
    if (tools_button("tool_load", tools_id + id_load, 45, 1, ""))
        toollib_open(toollib_loadmode, n);
    gui_tooltip("Remove tool from project.");
    if (tools_button("tool_remove", tools_id + id_remove, 100, !tools_busy(), ""))
        tools_remove(n);
}

void tools_panel()
{
    if (!gui_topsector())
        return;
    tools_row(tools_rowheight);
    if (tools_button("tools_loadlibrary", tools_id + id_loadlibrary, 45, !tools_busy(), "Load Library to List"))
        tools_loadlibrary();
    tools_row(tools_rowheight);
    gui_tooltip("Resets the project's tools list.");
    if (tools_button("tools_clearlist", tools_id + id_clearlist, 68, !tools_busy(), "Clear Tools List"))
        tools_clearlist();
    for (int n = 1; n <= cam_maxtools; n++) {
        tools_row(tools_rowheight);
        tools_drawrow(n);
    }
    gui_popframe(0);
}

// ---- tool editor ----

// A dragged value changes the working copy and marks it unapplied.
static void tools_take(float *field, float value)
{
    if (value == *field)
        return;
    *field = value;
    gui_unappliedchanges = 1;
}

static const char *tools_unitsuffix()
{
    return tools_edit.units == 1 ? "\"" : "mm";
}

// A length field: its value follows the text when an edit ends.
static int tools_lengthfield(const char *name, int32_t id, const char *label, const char *tip, char *text,
                             float *value)
{
    tools_row(tools_rowheight);
    gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    if (!gui_textfield(id, 0, label, tools_unitsuffix(), text, 1, tools_textmax - 1))
        return 0;
    float v;
    if (sscanf(text, "%f", &v) != 1)
        return 0;
    *value = v;
    gui_unappliedchanges = 1;
    return 1;
}

// The type's value: an angle in degrees or the corner radius, clamped.
static void tools_valuefield(const char *name, const char *label, const char *tip)
{
    tools_editvalues &e = tools_edit;
    tools_row(tools_rowheight);
    gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    const char *suffix = e.type == tool_cylinder ? tools_unitsuffix() : "deg";
    if (!gui_textfield(tools_editid + ed_value, 0, label, suffix, tools_texts.value, 1, tools_textmax - 1))
        return;
    float v;
    if (sscanf(tools_texts.value, "%f", &v) == 1)
        e.value = tools_clampvalue(e.type, v, e.flutediameter);
    gui_unappliedchanges = 1;
    tools_formattexts();
}

static void tools_diameterfield(const char *name, const char *label, const char *tip)
{
    tools_editvalues &e = tools_edit;
    if (!tools_lengthfield(name, tools_editid + ed_diameter, label, tip, tools_texts.diameter, &e.flutediameter))
        return;
    e.value = tools_clampvalue(e.type, e.value, e.flutediameter);
    tools_formattexts();
}

static void tools_flutefield()
{
    tools_editvalues &e = tools_edit;
    if (e.type != tool_vbit) {
        tools_lengthfield("tool_flutelength", tools_editid + ed_flute, "Flute Length",
                          "Tool's cutting depth, the length of\nthe fluted portion of the tool.", tools_texts.flute,
                          &e.flutelength);
        return;
    }
    // The generators derive a V-bit's flute length the same way.
    float l = e.flutelength;
    cam_tooldiameter(tool_vbit, e.flutediameter, &l, e.value, 0.0f);
    if (l != e.flutelength) {
        e.flutelength = l;
        tools_formatlength(tools_texts.flute, e.units, l);
    }
    tools_row(tools_rowheight);
    gui_tooltip("Flute length calculated automatically.");
    gui_label(0, 0, gui_interfacefont, "Flute Length: %s%s", tools_texts.flute, tools_unitsuffix());
}

static void tools_typefields()
{
    const tools_fielddef *f = tools_typefielddefs(tools_edit.type);
    tools_diameterfield(f[0].name, f[0].label, f[0].tip);
    tools_valuefield(f[1].name, f[1].label, f[1].tip);
}

static void tools_typelist()
{
    tools_row(tools_rowheight);
    const gui_rect *cell = gui_topsector();
    const float w = cell ? cell->w : 200.0f;
    gui_tooltip("Tool profile shape.");
    gui_elementid("tool_type");
    if (!gui_dropdown(tools_editid + ed_type, 0.0f, 20.0f, w, 4.0f * tools_rowheight, "Type: %s",
                      tools_typename(tools_edit.type)))
        return;
    for (int type = tool_cylinder; type <= tool_taperball; type++) {
        if (type < tool_taperball)
            tools_row(tools_rowheight);
        if (gui_iconbutton(tools_editid + ed_typeitem + type - 1, tools_typeicon(type), 0, gui_interfacefont, "%s",
                           tools_typenames[type]))
            tools_settype(type);
    }
    gui_endwindow();
}

static void tools_commonfields()
{
    tools_editvalues &e = tools_edit;
    tools_row(tools_rowheight);
    gui_tooltip("Edit tool name.");
    gui_elementid("tool_name");
    if (gui_textfield(tools_editid + ed_name, 0, "Name", nullptr, e.name, 0, (int32_t)sizeof(e.name) - 1))
        gui_unappliedchanges = 1;
    tools_typelist();
    tools_row(tools_rowheight);
    gui_tooltip("Switch measurement units\nof tool's dimensions.");
    gui_elementid("tool_units");
    if (gui_iconbutton(tools_editid + ed_units, 0, 0, gui_interfacefont, "%s", e.units == 1 ? "Inches" : "Metric")) {
        e.units = e.units == 1 ? 2 : 1;
        tools_formattexts();
        gui_unappliedchanges = 1;
    }
    tools_row(tools_rowheight);
    gui_rowsector(2, 80.0, 1.0);
    gui_label(0, 0, gui_interfacefont, "Flutes:");
    gui_tooltip("The tool's number of cutting teeth.");
    gui_elementid("tool_flutes");
    tools_take(&e.flutes, gui_valueslider(tools_editid + ed_flutes, "%.0f", e.flutes, 1.0f, 12.0f, 1.0f));
    tools_lengthfield("tool_totallength", tools_editid + ed_total, "Total Length", "Distance from tool tip to chuck.",
                      tools_texts.total, &e.length);
}

static void tools_rampknob()
{
    tools_editvalues &e = tools_edit;
    tools_row(tools_knobheight);
    gui_tooltip("Angle for ramping and\nhelical entry cuts.");
    gui_elementid("tool_rampangle");
    tools_take(&e.rampangle,
               gui_valueknob(tools_editid + ed_ramp, "Ramp Angle: %2.0f", e.rampangle, 1.0f, 75.0f, 1.0f));
}

static void tools_applyrow()
{
    const tools_editvalues &e = tools_edit;
    tools_row(tools_rowheight);
    gui_rowsector(2, 1.0, 1.0);
    gui_tooltip("Apply parameters to selected tool.");
    if (tools_button("tool_apply", tools_editid + ed_apply, 66, !tools_busy() && e.type != tool_none, "Apply"))
        tools_apply();
    gui_tooltip("Deselect tool definition.");
    if (tools_button("tool_done", tools_editid + ed_done, 67, 1, "Done"))
        tools_done();
}

void tools_editor()
{
    if (!gui_topsector())
        return;
    tools_row(tools_rowheight);
    gui_label(68, 0, gui_interfacefont, "Tool Parameters");
    if (gui_selectedtool < 0 || gui_selectedtool >= cam_maxtools) {
        gui_popframe(0);
        return;
    }
    tools_commonfields();
    if (tools_edit.type != tool_none) {
        tools_flutefield();
        tools_typefields();
        tools_rampknob();
    }
    tools_applyrow();
    gui_popframe(0);
}
