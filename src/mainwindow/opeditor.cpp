// The operation editor's working copy and its common rows: loading it from a
// camop and building the flags word back (the two must agree bit for bit,
// or an operation cuts with switches the user never saw), the remembered
// defaults in cfg, and the rows of speeds, feeds, depths and stepover.
#include "mainwindow/opeditor.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/numbers.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/textfield.h"
#include "mainwindow/optypes.h"
#include "project/project.h"
#include "render/drawstate.h"
#include "sys/config.h"
#include "sys/convert.h"
#include "gui/calls.h"
#include "view/modes.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

// ---- working copy ----

int opeditor_takescontours(int type)
{
    return type == 6 || type == 8 || type == 10 || type == 15 || type == 16 || type == 17;
}

// The values the record and a camop share by name, either way.
template <class To, class From> static void opeditor_copyvalues(To &to, const From &from)
{
    to.type = from.type;
    to.coolant = from.coolant;
    to.tool = from.tool;
    to.engagefeed = from.engagefeed;
    to.feed = from.feed;
    to.speed = from.speed;
    to.dir = from.dir;
    to.entry = from.entry;
    to.stock = from.stock;
    to.step = from.step;
    to.z_doc = from.z_doc;
    to.z_max = from.z_max;
    to.z_min = from.z_min;
    to.z_safe = from.z_safe;
}

void opeditor_load(opeditor_record *r, const camop *op)
{
    opeditor_copyvalues(*r, *op);
    std::memcpy(r->aux, op->aux, sizeof(r->aux));
    const uint32_t f = op->flags;
    r->rest = (f & 0x0001) != 0;
    r->sort = (f & 0x0002) != 0;
    r->link = (f & 0x0004) != 0;
    r->edges = (f & 0x0008) != 0;
    r->outline = (f & 0x0010) != 0;
    r->islands = (f & 0x0020) != 0;
    r->typeoption = (f & 0x0040) != 0;
    r->ignoretool = (f & 0x0080) != 0;
    r->percent = (f & 0x0400) != 0;
    r->invert = (f & 0x0800) != 0;
    r->contourmode = (f & 0x0200) ? 1 : (f & 0x2000) ? 2 : 0;
    r->loadedtype = op->type;
}

uint32_t opeditor_flags(const opeditor_record *r)
{
    uint32_t f = 0;
    f |= r->rest ? 0x0001u : 0u;
    f |= r->sort ? 0x0002u : 0u;
    f |= r->link ? 0x0004u : 0u;
    f |= r->edges ? 0x0008u : 0u;
    f |= r->ignoretool ? 0x0080u : 0u;
    f |= r->percent ? 0x0400u : 0u;
    f |= r->invert ? 0x0800u : 0u;
    // The type-specific bits mean something else, or nothing, to the other
    // generators: a switch left over from an earlier type must not reach them.
    if (r->type == 8) {
        f |= r->outline ? 0x0010u : 0u;
        f |= r->islands ? 0x0020u : 0u;
    }
    if (r->type == 7 || r->type == 13)
        f |= r->typeoption ? 0x0040u : 0u;
    if (opeditor_takescontours(r->type))
        f |= r->contourmode == 1 ? 0x0200u : r->contourmode == 2 ? 0x2000u : 0u;
    return f;
}

void opeditor_store(const opeditor_record *r, camop *op)
{
    opeditor_copyvalues(*op, *r);
    std::memcpy(op->aux, r->aux, sizeof(op->aux));
    op->flags = opeditor_flags(r);
}

// ---- remembered defaults ----

// Where each remembered value lives in cfg. The switches are kept as 0 or 1.
static const struct {
    int offset;
    int32_t opeditor_record::*field;
} opeditor_remembereds[] = {
    {cfg_opcoolant, &opeditor_record::coolant}, {cfg_optool, &opeditor_record::tool},
    {cfg_opengagefeed, &opeditor_record::engagefeed}, {cfg_opfeed, &opeditor_record::feed},
    {cfg_opspeed, &opeditor_record::speed}, {cfg_opdir, &opeditor_record::dir},
    {cfg_oprest, &opeditor_record::rest}, {cfg_opsort, &opeditor_record::sort},
    {cfg_oplink, &opeditor_record::link}, {cfg_opedges, &opeditor_record::edges},
    {cfg_oppercent, &opeditor_record::percent},
};
static const struct {
    int offset;
    float opeditor_record::*field;
} opeditor_rememberedlengths[] = {
    {cfg_opstock, &opeditor_record::stock}, {cfg_opstep, &opeditor_record::step},
    {cfg_opdoc, &opeditor_record::z_doc},   {cfg_opmaxdepth, &opeditor_record::z_max},
    {cfg_opmindepth, &opeditor_record::z_min}, {cfg_opsafe, &opeditor_record::z_safe},
};

void opeditor_loaddefaults(opeditor_record *r)
{
    for (const auto &v : opeditor_remembereds)
        r->*v.field = cfg_geti(v.offset);
    for (const auto &v : opeditor_rememberedlengths)
        r->*v.field = cfg_getf(v.offset);
    for (int32_t *flag : {&r->rest, &r->sort, &r->link, &r->edges, &r->percent})
        *flag = *flag != 0;
}

void opeditor_loadtypevalues(opeditor_record *r, int type)
{
    if (type < 1 || type > cfg_opcount)
        return;
    for (int k = 0; k < 3; k++)
        std::memcpy(&r->aux[k], cfg + cfg_opvalues + 4 * (cfg_opcount * k + type - 1), 4);
}

void opeditor_savedefaults(const opeditor_record *r)
{
    cfg_seti(cfg_oplasttype, r->type);
    for (const auto &v : opeditor_remembereds)
        cfg_seti(v.offset, r->*v.field);
    for (const auto &v : opeditor_rememberedlengths)
        cfg_setf(v.offset, r->*v.field);
    if (r->type >= 1 && r->type <= cfg_opcount)
        for (int k = 0; k < 3; k++)
            std::memcpy(cfg + cfg_opvalues + 4 * (cfg_opcount * k + r->type - 1), &r->aux[k], 4);
}

// ---- texts ----

void opeditor_formatlength(char *text, float value, int32_t units)
{
    snprintf(text, opeditor_textsize, "%.*f", (int)gui_unitdecimals(units, value), (double)value);
    str_trimzeros(text);
}

void opeditor_settexts(opeditor_record *r, int32_t units)
{
    snprintf(r->text[opeditor_speedtext], opeditor_textsize, "%d", r->speed);
    snprintf(r->text[opeditor_feedtext], opeditor_textsize, "%d", r->feed);
    snprintf(r->text[opeditor_engagetext], opeditor_textsize, "%d", r->engagefeed);
    opeditor_formatlength(r->text[opeditor_doctext], r->z_doc, units);
    opeditor_formatlength(r->text[opeditor_mintext], r->z_min, units);
    opeditor_formatlength(r->text[opeditor_maxtext], r->z_max, units);
    if (r->percent)
        snprintf(r->text[opeditor_steptext], opeditor_textsize, "%.1f", (double)r->step);
    else
        opeditor_formatlength(r->text[opeditor_steptext], r->step, units);
    opeditor_formatlength(r->text[opeditor_safetext], r->z_safe, units);
    opeditor_formatlength(r->text[opeditor_stocktext], r->stock, units);
}

// ---- common rows ----

namespace {

constexpr float opeditor_rowheight = 30.0f;
constexpr int32_t opeditor_maxrate = 32768; // speeds and feeds

// Element ids of the editor's own widgets.
enum : int32_t {
    id_speed = 14000,
    id_coolant,
    id_coolantitem, // 4 entries
    id_feed = id_coolantitem + 4,
    id_dir,
    id_diritem, // 3 entries
    id_engage = id_diritem + 3,
    id_entry,
    id_entryitem, // 3 entries
    id_doc = id_entryitem + 3,
    id_min,
    id_minreset,
    id_max,
    id_maxreset,
    id_step,
    id_stepzero,
    id_stepswitch,
    id_safe,
    id_stock,
    id_stockreset,
    id_offsettoolrad,
    id_ignoretool,
    id_link,
    id_sort,
    id_rest,
    id_pad,
    id_edges,
};

const char *const opeditor_coolants[4] = {"None", "Off", "Mist", "Flood"};
const char *const opeditor_coolantnames[4] = {"opcoolant_none", "opcoolant_off", "opcoolant_mist",
                                              "opcoolant_flood"};
const char *const opeditor_dirs[3] = {"Conventional", "Climb", "Mixed"};
const char *const opeditor_entries[3] = {"Plunge", "Ramp", "Helical"};
const char *const opeditor_entrynames[3] = {"opentry_plunge", "opentry_ramp", "opentry_helical"};

bool opeditor_is(int type, std::initializer_list<int> types)
{
    for (int t : types)
        if (t == type)
            return true;
    return false;
}

void opeditor_row(float h = opeditor_rowheight)
{
    gui_colsector(2, (double)h, 1.0);
}

// Inside a drop-down's window: every entry but the last takes a row.
void opeditor_listrow(int i, int n)
{
    if (i < n - 1)
        opeditor_row();
}

void opeditor_changed()
{
    gui_unappliedchanges = 1;
}

} // namespace

const char *opeditor_lengthsuffix()
{
    return project.units == 1 ? "\"" : project.units == 2 ? "mm" : "";
}

static const char *opeditor_feedsuffix()
{
    return project.units == 1 ? "IPM" : project.units == 2 ? "MMPM" : "null";
}

int opeditor_toolvalid(int tool)
{
    return tool >= 1 && tool <= cam_maxtools && cam_tools[tool - 1].type != tool_none;
}

// Tool values compared with editor values are taken into project units.
static float opeditor_toollength(int tool, float value)
{
    return value * cam_toolunitsfactor(tool);
}

// The depth of cut the flutes allow: the flute length, or for Medial-Axis
// Carving with a cylinder the absolute corner radius.
static float opeditor_flutelimit(const opeditor_record &r)
{
    const tool &t = cam_tools[r.tool - 1];
    if (r.type == 6 && t.type == tool_cylinder)
        return opeditor_toollength(r.tool, std::fabs(t.aux));
    return opeditor_toollength(r.tool, t.flutelength);
}

static int opeditor_clamptool(const opeditor_record &r)
{
    return !r.ignoretool && opeditor_toolvalid(r.tool);
}

// No box while a drop-down is open: its window would lose the click.
static void opeditor_box(const char *caption, const char *text)
{
    if (gui_openid == -1)
        gui_calls->messagebox(caption, text, 0, 4, 0);
}

void opeditor_limitdoc(opeditor_record &r, int box)
{
    if (opeditor_clamptool(r)) {
        const float limit = opeditor_flutelimit(r);
        if (r.z_doc > limit) {
            r.z_doc = limit;
            if (box)
                opeditor_box("Cut Depth",
                             "The cutting depth per pass was restricted to the flute length of the tool to avoid "
                             "crashing the shank into the workpiece. Enable 'Ignore Tool Lengths' to disable this "
                             "restriction.");
        }
    }
    opeditor_formatlength(r.text[opeditor_doctext], r.z_doc, (int32_t)project.units);
}

void opeditor_limitmaxdepth(opeditor_record &r, int box)
{
    if (opeditor_clamptool(r)) {
        const float limit = opeditor_toollength(r.tool, cam_tools[r.tool - 1].length);
        if (r.z_max > limit) {
            r.z_max = limit;
            if (box)
                opeditor_box("Max Depth",
                             "The maximum cutting depth was restricted to the total length of the tool to avoid "
                             "crashing the chuck into the top-plane of the workpiece. Enable 'Ignore Tool Lengths' "
                             "to disable this restriction.");
        }
    }
    if (!opeditor_is(r.type, {6, 8, 10, 15, 16}))
        r.z_max = std::fmin(r.z_max, project.size[2] - r.stock);
    r.z_max = std::fmin(r.z_max, project.size[2]);
    opeditor_formatlength(r.text[opeditor_maxtext], r.z_max, (int32_t)project.units);
}

// Project units per percent of the tool's diameter, 0 without a tool.
static float opeditor_percentunit(const opeditor_record &r)
{
    if (!opeditor_toolvalid(r.tool))
        return 0.0f;
    const tool &t = cam_tools[r.tool - 1];
    const float d = t.type == tool_taperball ? t.flutediameter * 2.0f : cam_toolparam(r.tool);
    return opeditor_toollength(r.tool, d) * 0.01f;
}

void opeditor_steptopercent(opeditor_record &r)
{
    const float unit = opeditor_percentunit(r);
    r.step = unit > 0.0f ? r.step / unit : 25.0f;
    r.percent = 1;
    snprintf(r.text[opeditor_steptext], opeditor_textsize, "%.2f", (double)r.step);
}

void opeditor_steptophysical(opeditor_record &r)
{
    const float unit = opeditor_percentunit(r);
    if (unit > 0.0f)
        r.step *= unit;
    else
        r.step = project.units == 1 ? 0.1f : 2.0f;
    r.percent = 0;
    opeditor_formatlength(r.text[opeditor_steptext], r.step, (int32_t)project.units);
}

// Labyrinth Carving's cells cannot be finer than the maze grid allows.
static void opeditor_labyrinthminimum(opeditor_record &r)
{
    float least = std::fmax(project.size[0], project.size[1]) / 2048.0f;
    if (r.percent) {
        const float unit = opeditor_percentunit(r);
        if (unit > 0.0f)
            least /= unit;
    }
    r.step = std::fmax(r.step, least);
}

// An integer rate field: "%d", at most 32768.
static void opeditor_ratefield(const char *name, int32_t id, const char *label, const char *suffix, int text,
                               int32_t *value)
{
    opeditor_record &r = opeditor;
    gui_elementid("%s", name);
    if (!gui_textfield(id, 0, label, suffix, r.text[text], 2 | 4 | 8, opeditor_textsize - 1))
        return;
    int v;
    if (sscanf(r.text[text], "%d", &v) == 1) {
        *value = v > opeditor_maxrate ? opeditor_maxrate : v;
        opeditor_changed();
    }
    snprintf(r.text[text], opeditor_textsize, "%d", *value);
}

// A length field; 1 when an edit ended with a number.
static int opeditor_lengthfield(const char *name, int32_t id, const char *label, int text, uint32_t flags,
                                float *value)
{
    opeditor_record &r = opeditor;
    gui_elementid("%s", name);
    if (!gui_textfield(id, 0, label, opeditor_lengthsuffix(), r.text[text], flags, opeditor_textsize - 1))
        return 0;
    float v;
    if (sscanf(r.text[text], "%f", &v) != 1 || !std::isfinite(v)) {
        opeditor_formatlength(r.text[text], *value, (int32_t)project.units);
        return 0;
    }
    *value = v;
    opeditor_changed();
    return 1;
}

// A reset glyph; 1 on a click.
static int opeditor_reset(const char *name, int32_t id, const char *tip)
{
    if (tip)
        gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    return gui_iconbutton(id, 65, 0, gui_interfacefont, " ");
}

// A drop-down of radio buttons choosing *value among count labels; names
// null leaves the entries unnamed, and an entry the type does not offer is
// a plain label.
struct opeditor_choice {
    const char *name, *head, *tip;
    int32_t id;
    const char *const *labels, *const *names;
    int count;
};

static void opeditor_choicelist(const opeditor_choice &c, int32_t *value, int (*offered)(int type, int entry))
{
    const int v = *value >= 0 && *value < c.count ? *value : 0;
    const gui_rect *cell = gui_topsector();
    gui_tooltip("%s", c.tip);
    gui_elementid("%s", c.name);
    if (!gui_dropdown(c.id, 0.0f, 20.0f, cell ? cell->w : 160.0f, (float)c.count * opeditor_rowheight, c.head,
                      c.labels[v]))
        return;
    for (int i = 0; i < c.count; i++) {
        opeditor_listrow(i, c.count);
        if (offered && !offered(opeditor.type, i)) {
            gui_label(0, 0, gui_interfacefont, "%s", c.labels[i]);
            continue;
        }
        if (c.names)
            gui_elementid("%s", c.names[i]);
        if (gui_radiobutton(c.id + 1 + i, v == i, gui_interfacefont, "%s", c.labels[i])) {
            *value = i;
            opeditor_changed();
        }
    }
    gui_endwindow();
}

static void opeditor_coolantrow()
{
    const opeditor_choice c = {"op_coolant", "Coolant: %s",
                               "Coolant for the operation. \"None\" leaves\ncoolant commands out of its G-code.",
                               id_coolant, opeditor_coolants, opeditor_coolantnames, 4};
    opeditor_choicelist(c, &opeditor.coolant, nullptr);
}

static void opeditor_dirrow()
{
    if (opeditor.type != 16) {
        const opeditor_choice c = {"op_dir", "Dir: %s", "Cutting direction.", id_dir, opeditor_dirs, nullptr, 3};
        opeditor_choicelist(c, &opeditor.dir, nullptr);
        return;
    }
    const gui_rect *cell = gui_topsector();
    gui_tooltip("Cutting direction.");
    gui_elementid("op_dir");
    if (gui_dropdown(id_dir, 0.0f, 20.0f, cell ? cell->w : 160.0f, opeditor_rowheight, "Dir: N/A")) {
        gui_centerlabel(gui_interfacefont, "Not Applicable");
        gui_endwindow();
    }
}

// Which entry methods a type offers: a label cannot be chosen, but a value
// chosen earlier stays selected.
int opeditor_entryoffered(int type, int entry)
{
    if (entry == 1)
        return !opeditor_is(type, {5, 6, 11, 14, 15, 16, 17});
    if (entry == 2)
        return opeditor_is(type, {7, 10, 14, 15});
    return 1;
}

static void opeditor_entryrow()
{
    const opeditor_choice c = {"op_entry", "Entry: %s",
                               "How each cut is entered: straight down,\nalong a ramp or along a helix.", id_entry,
                               opeditor_entries, opeditor_entrynames, 3};
    opeditor_choicelist(c, &opeditor.entry, opeditor_entryoffered);
}

// Speed | Coolant, Feed | Dir, Engage | Entry.
static void opeditor_raterows()
{
    opeditor_record &r = opeditor;
    opeditor_row();
    gui_rowsector(2, 1.0, 1.0);
    gui_tooltip("Spindle rotations-per-minute.");
    opeditor_ratefield("op_speed", id_speed, "Speed", "RPM", opeditor_speedtext, &r.speed);
    opeditor_coolantrow();
    opeditor_row();
    gui_rowsector(2, 1.0, 1.0);
    gui_tooltip("Cutting feed rate.");
    opeditor_ratefield("op_feed", id_feed, "Feed", opeditor_feedsuffix(), opeditor_feedtext, &r.feed);
    opeditor_dirrow();
    opeditor_row();
    gui_rowsector(2, 1.0, 1.0);
    gui_tooltip("Feed rate of entry cuts and of\nfeeding into a linked cut.");
    opeditor_ratefield("op_engage", id_engage, "Engage", opeditor_feedsuffix(), opeditor_engagetext,
                       &r.engagefeed);
    opeditor_entryrow();
}

// Cut Depth, Min Depth and Max Depth, each with its reset at the row's end.
static void opeditor_depthcolumn()
{
    opeditor_record &r = opeditor;
    const int32_t units = (int32_t)project.units;
    gui_colsector(3, 1.0, 1.0, 1.0);
    if (opeditor_is(r.type, {5, 11, 17})) {
        gui_valuetext(gui_interfacefont, 0, "Cut Depth: N/A");
    } else {
        gui_tooltip("Thickness of each layer of cuts.");
        if (opeditor_lengthfield("op_cutdepth", id_doc, "Cut Depth", opeditor_doctext, 4 | 8, &r.z_doc))
            opeditor_limitdoc(r, 1);
    }
    gui_rowsector(2, 1.0, (double)opeditor_rowheight);
    gui_tooltip("Depth below the canvas top\nthat cutting starts at.");
    if (opeditor_lengthfield("op_mindepth", id_min, "Min Depth", opeditor_mintext, 4 | 8, &r.z_min))
        opeditor_formatlength(r.text[opeditor_mintext], r.z_min, units);
    if (opeditor_reset("op_mindepth_reset", id_minreset, "Zero out Min Depth.")) {
        r.z_min = 0.0f;
        snprintf(r.text[opeditor_mintext], opeditor_textsize, "0.0");
        opeditor_changed();
    }
    if (opeditor_is(r.type, {5, 11})) {
        gui_valuetext(gui_interfacefont, 0, "Max Depth: N/A");
        return;
    }
    gui_rowsector(2, 1.0, (double)opeditor_rowheight);
    gui_tooltip("Deepest cutting depth below the canvas top.");
    if (opeditor_lengthfield("op_maxdepth", id_max, "Max Depth", opeditor_maxtext, 4 | 8, &r.z_max))
        opeditor_limitmaxdepth(r, 1);
    if (opeditor_reset("op_maxdepth_reset", id_maxreset, "Set Max Depth to the canvas depth.")) {
        r.z_max = project.size[2];
        opeditor_limitmaxdepth(r, 1);
        opeditor_changed();
    }
}

static void opeditor_stepoverrow()
{
    opeditor_record &r = opeditor;
    if (opeditor_is(r.type, {6, 11, 12, 13, 16})) {
        gui_valuetext(gui_interfacefont, 0, "Stepover: N/A");
        return;
    }
    const bool finishing = r.type == 7;
    gui_rowsector(finishing ? 3 : 2, 1.0, (double)opeditor_rowheight, (double)opeditor_rowheight);
    if (finishing)
        gui_tooltip("Spacing between neighboring\ncuts as a physical distance.\n\nZero enables surface-only\n"
                    "horizontal-finishing cuts.");
    else
        gui_tooltip("Spacing between neighboring cuts.");
    gui_elementid("op_stepover");
    if (r.percent) {
        if (gui_textfield(id_step, 0, "Stepover", "%", r.text[opeditor_steptext], 1 | 4, opeditor_textsize - 1)) {
            float v;
            if (sscanf(r.text[opeditor_steptext], "%f", &v) == 1 && std::isfinite(v)) {
                r.step = v;
                if (r.type == 4)
                    opeditor_labyrinthminimum(r);
                opeditor_changed();
            }
            snprintf(r.text[opeditor_steptext], opeditor_textsize, "%.1f", (double)r.step);
        }
    } else if (gui_textfield(id_step, 0, "Stepover", opeditor_lengthsuffix(), r.text[opeditor_steptext], 4 | 8,
                             opeditor_textsize - 1)) {
        float v;
        if (sscanf(r.text[opeditor_steptext], "%f", &v) == 1 && std::isfinite(v)) {
            r.step = v;
            if (r.type == 4)
                opeditor_labyrinthminimum(r);
            opeditor_changed();
        }
        opeditor_formatlength(r.text[opeditor_steptext], r.step, (int32_t)project.units);
    }
    if (finishing && opeditor_reset("op_stepover_zero", id_stepzero, "Zero cut stepover enabling\nhorizontal-finishing mode.")) {
        r.step = 0.0f;
        snprintf(r.text[opeditor_steptext], opeditor_textsize, "0.0");
        opeditor_changed();
    }
    gui_tooltip("%s", r.percent ? "Stepover as a physical distance." : "Stepover as a percentage\nof the tool's diameter.");
    gui_elementid("%s", r.percent ? "op_stepover_physical" : "op_stepover_percentage");
    if (gui_iconbutton(id_stepswitch, r.percent ? (project.units == 2 ? 71 : 70) : 72, 0, gui_interfacefont, " ")) {
        if (r.percent)
            opeditor_steptophysical(r);
        else
            opeditor_steptopercent(r);
        opeditor_changed();
    }
}

// The stock slot: Leave Stock, Offset or Retract by type.
static void opeditor_stockrow()
{
    opeditor_record &r = opeditor;
    if (opeditor_is(r.type, {5, 11})) {
        gui_valuetext(gui_interfacefont, 0, "Leave Stock: N/A");
        return;
    }
    if (r.type == 16) {
        if (r.link) {
            gui_valuetext(gui_interfacefont, 0, "Retract: N/A");
            return;
        }
        gui_tooltip("Distance to retract between pecks.");
        if (opeditor_lengthfield("op_retract", id_stock, "Retract", opeditor_stocktext, 4 | 8, &r.stock))
            opeditor_formatlength(r.text[opeditor_stocktext], r.stock, (int32_t)project.units);
        return;
    }
    const bool offset = opeditor_is(r.type, {6, 8, 10, 15, 17});
    gui_rowsector(r.type == 8 ? 3 : 2, 1.0, (double)opeditor_rowheight, (double)opeditor_rowheight);
    if (offset) {
        gui_tooltip("Distance to horizontally offset cut\npaths. Can be a negative value.");
        if (opeditor_lengthfield("op_offset", id_stock, "Offset", opeditor_stocktext, 8, &r.stock))
            opeditor_formatlength(r.text[opeditor_stocktext], r.stock, (int32_t)project.units);
    } else {
        gui_tooltip("Material to leave for later operations.");
        if (opeditor_lengthfield("op_stock", id_stock, "Leave Stock", opeditor_stocktext, 4 | 8, &r.stock)) {
            r.z_max = std::fmin(r.z_max, project.size[2] - r.stock);
            opeditor_formatlength(r.text[opeditor_maxtext], r.z_max, (int32_t)project.units);
            opeditor_formatlength(r.text[opeditor_stocktext], r.stock, (int32_t)project.units);
        }
    }
    if (opeditor_reset(offset ? "op_offset_reset" : "op_stock_reset", id_stockreset,
                       offset ? "Zero out Offset." : "Zero out Leave Stock.")) {
        r.stock = 0.0f;
        snprintf(r.text[opeditor_stocktext], opeditor_textsize, "0.0");
        opeditor_changed();
    }
    if (r.type == 8) {
        gui_tooltip("Offset by the tool's radius.");
        gui_elementid("op_offset_toolrad");
        if (gui_iconbutton(id_offsettoolrad, 73, 0, gui_interfacefont, " ") && opeditor_toolvalid(r.tool)) {
            r.stock = opeditor_toollength(r.tool, cam_toolparam(r.tool)) * 0.5f;
            opeditor_formatlength(r.text[opeditor_stocktext], r.stock, (int32_t)project.units);
            opeditor_changed();
        }
    }
}

// Stepover, Rapid Height and the stock slot.
static void opeditor_stepcolumn()
{
    opeditor_record &r = opeditor;
    gui_colsector(3, 1.0, 1.0, 1.0);
    opeditor_stepoverrow();
    gui_tooltip("Height above the canvas top to\nretract to before rapid moves.");
    if (opeditor_lengthfield("op_rapidheight", id_safe, "Rapid Height", opeditor_safetext, 8, &r.z_safe))
        opeditor_formatlength(r.text[opeditor_safetext], r.z_safe, (int32_t)project.units);
    opeditor_stockrow();
}

static void opeditor_ignoretoolrow()
{
    opeditor_record &r = opeditor;
    opeditor_row();
    gui_tooltip("Let depths exceed the tool's\nflute and total lengths.");
    gui_elementid("op_ignoretool");
    const int v = gui_checkbox(id_ignoretool, r.ignoretool, "Ignore Tool Lengths");
    if (v == r.ignoretool)
        return;
    r.ignoretool = v;
    opeditor_changed();
    if (v || !opeditor_toolvalid(r.tool))
        return;
    r.z_doc = std::fmin(r.z_doc, opeditor_flutelimit(r));
    r.z_max = std::fmin(r.z_max, opeditor_toollength(r.tool, cam_tools[r.tool - 1].length));
    opeditor_formatlength(r.text[opeditor_doctext], r.z_doc, (int32_t)project.units);
    opeditor_formatlength(r.text[opeditor_maxtext], r.z_max, (int32_t)project.units);
}

// A switch of the misc block: a checkbox named by the action of a click,
// or a plain label when the type cannot use it.
static void opeditor_switch(const char *name, int32_t id, const char *label, const char *tip, int offered,
                            int32_t *value)
{
    opeditor_row();
    if (!offered) {
        gui_label(0, 0, gui_interfacefont, "%s", label);
        return;
    }
    if (tip)
        gui_tooltip("%s", tip);
    gui_elementid("%s_%s", name, *value ? "disable" : "enable");
    const int v = gui_checkbox(id, *value, label);
    if (v != *value) {
        *value = v;
        opeditor_changed();
    }
}

void opeditor_miscblock()
{
    opeditor_record &r = opeditor;
    const int t = r.type;
    opeditor_row();
    gui_label(0, 0, gui_interfacefont, "Miscellaneous Options:");
    if (t == 16)
        opeditor_switch("op_retract", id_link, "Full Retract",
                        "Rapid to Safe Z above canvas between each drill peck,\notherwise feeds upward between pecks "
                        "by the\nRetract distance specified above.",
                        1, &r.link);
    else
        opeditor_switch("op_link", id_link, "Link Cuts", "Feed directly between neighboring\ncuts instead of retracting.",
                        !opeditor_is(t, {0, 1, 5, 11}), &r.link);
    opeditor_switch("op_sort", id_sort, "Distance Sort", "Order cuts by the distance between them.", 1, &r.sort);
    const bool first = gui_selectedop == 0;
    opeditor_switch("op_rest", id_rest, "Rest-Machining", "Cut only what earlier operations left.",
                    !first && !opeditor_is(t, {5, 8, 11, 12, 13, 14, 15, 16, 17}), &r.rest);
    if (opeditor_is(t, {6, 8})) {
        if (r.contourmode != 0)
            r.edges = 0;
        const bool offered = r.contourmode == 0 && (t == 6 || !r.outline || !r.islands);
        opeditor_switch("op_edges", id_edges, "Include Edges", "Include the canvas edges as contours.", offered,
                        &r.edges);
    } else {
        if (opeditor_is(t, {5, 11, 16, 17}))
            r.edges = 0;
        opeditor_switch("op_pad", id_pad, "Confine Cuts",
                        "Restrict cutpaths to a distance from canvas\nedges equal to the tool radius, preventing\n"
                        "cuts outside the canvas boundary.",
                        !opeditor_is(t, {5, 11, 16, 17}), &r.edges);
    }
    opeditor_misccheck(r);
}

void opeditor_misccheck(opeditor_record &r)
{
    if (r.type != 7)
        return;
    if (r.rest && r.step == 0.0f) {
        gui_calls->messagebox("Kerfmill",
                       "Rest-machining cannot be used with horizontal finishing (stepover is set to zero to indicate "
                       "finishing).",
                       0, 4, 0);
        r.rest = 0;
    }
    if (r.sort && !r.rest) {
        gui_calls->messagebox("Cut Distance Sorting",
                       "Sorting cuts is under construction but can still be used in combination with REST machining "
                       "to reduce total run-time.",
                       0, 3, 0);
        r.sort = 0;
    }
}

void opeditor_commonrows()
{
    opeditor_raterows();
    opeditor_row(3.0f * opeditor_rowheight);
    gui_rowsector(2, 1.0, 1.0);
    opeditor_depthcolumn();
    opeditor_stepcolumn();
    opeditor_ignoretoolrow();
}

void opeditor_panel()
{
    if (!gui_topsector())
        return;
    if (gui_selectedop < 0 || gui_selectedop >= project_maxops) {
        gui_popframe(0);
        return;
    }
    // The head (name, type, tool and layer group) goes here, above the
    // common rows, with Apply.
    opeditor_commonrows();
    opeditor_row();
    gui_label(0, 0, gui_interfacefont, "%s Options:",
              opeditor.type >= 0 && opeditor.type < camop_types ? camop_typenames[opeditor.type] : "None");
    optypes_draw();
    opeditor_miscblock();
    // The Apply and Done buttons follow here with the head.
    gui_popframe(0);
}
