// Tool-library export, import and clear, and dialog 16. The file is the
// configuration's block as it is; the checks of an import are the only guard
// against a foreign file, so every field that later code divides by, indexes
// with or draws is looked at before the block is copied. The dialog reads
// and writes slots only through toollib_read and toollib_write.
#include "mainwindow/toollib.h"

#include "cam/tool.h"
#include "gui/calls.h"
#include "gui/dialog.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/values.h"
#include "mainwindow/dialogs.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/tools.h"
#include "project/project.h"
#include "render/drawstate.h"
#include "view/modes.h"
#include "sys/dialog.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cmath>
#include <cstdio>
#include <cstring>

static const char toollib_filter[] = "Kerfmill Tool Library\0*.ktl\0";

// Offsets inside the block, after the 256 names.
constexpr int32_t toollib_types = cfg_toolvalues - cfg_toollib;
constexpr int32_t toollib_floats = toollib_types + 2 * 4 * cfg_toolcount; // lengths and angles
constexpr int32_t toollib_floatarrays = 5;
static_assert(toollib_floats + toollib_floatarrays * 4 * cfg_toolcount == toollib_bytes);

static void toollib_keeppath(const char *path)
{
    if (!cfg_settext(cfg_toollibpath, path))
        sys_log("toollib_keeppath: path too long to keep (%s)", path);
}

int toollib_export()
{
    if (!file_savedialog("Export Tool Library", cfg_gettext(cfg_toollibpath), toollib_filter, "ktl"))
        return 0;
    const char *path = file_lastsavepath;
    if (!file_writeall(path, cfg + cfg_toollib, toollib_bytes)) {
        sys_status("...tool library not exported: could not write \"%s\"", path);
        return 0;
    }
    toollib_keeppath(path);
    sys_status("...exported tool library");
    return 1;
}

static int32_t toollib_word(const uint8_t *block, int32_t offset)
{
    int32_t v;
    memcpy(&v, block + offset, 4);
    return v;
}

static float toollib_float(const uint8_t *block, int32_t offset)
{
    float v;
    memcpy(&v, block + offset, 4);
    return v;
}

// Why the block cannot be a tool library, or null when it can.
static const char *toollib_fault(const uint8_t *block, int32_t *slot)
{
    for (int32_t i = 0; i < cfg_toolcount; i++) {
        *slot = i + 1;
        int32_t type = toollib_word(block, toollib_types + 4 * i);
        if (type < -4 || type > 4)
            return "a tool type outside -4..4";
        for (int32_t a = 0; a < toollib_floatarrays; a++)
            if (!std::isfinite(toollib_float(block, toollib_floats + a * 4 * cfg_toolcount + 4 * i)))
                return "a length or angle that is not a number";
    }
    return nullptr;
}

int toollib_take(const uint8_t *bytes, int32_t size, const char *path)
{
    if (!bytes || size < toollib_bytes) {
        sys_log("toollib_take: \"%s\" has %d bytes, a library has %d", path, size, toollib_bytes);
        sys_status("...tool library not imported: the file is too short (%d of %d bytes)", size, toollib_bytes);
        return 0;
    }
    int32_t slot = 0;
    if (const char *fault = toollib_fault(bytes, &slot)) {
        sys_log("toollib_take: \"%s\" slot %d has %s", path, slot, fault);
        sys_status("...tool library not imported: slot %d has %s", slot, fault);
        return 0;
    }
    memcpy(cfg + cfg_toollib, bytes, toollib_bytes);
    for (int32_t i = 0; i < cfg_toolcount; i++)
        cfg[cfg_toolnames + cfg_toolnamesize * i + cfg_toolnamesize - 1] = 0;
    if (size > toollib_bytes)
        sys_log("toollib_take: \"%s\" is %d bytes, the first %d taken", path, size, toollib_bytes);
    return 1;
}

int toollib_import()
{
    if (!file_opendialog("Import Tool Library", cfg_gettext(cfg_toollibpath), toollib_filter)) {
        sys_log("failed to get fileopen path");
        return 0;
    }
    char path[sys_dialogpathmax];
    snprintf(path, sizeof(path), "%s", file_lastopenpath);
    if (!gui_calls->messagebox("Overwrite Tool Library",
                               "This will overwrite any existing tool definitions in the current tool library with "
                               "those that are contained in this file. This will not affect the current project's "
                               "tool definitions or operations.\n\nAre you sure you want to continue?",
                               2, 5, 0))
        return 0;
    int32_t size = 0;
    uint8_t *bytes = (uint8_t *)file_load(path, &size, 0, toollib_maxfile);
    if (!bytes) {
        sys_status("...tool library not imported: \"%s\" could not be read", path);
        return 0;
    }
    int taken = toollib_take(bytes, size, path);
    sys_free(bytes);
    if (!taken)
        return 0;
    toollib_keeppath(path);
    sys_status("...imported tool library");
    return 1;
}

int toollib_clear()
{
    if (!gui_calls->messagebox("Kerfmill", "Are you sure you want to clear all tools from the tool library?", 2, 4,
                               0))
        return 0;
    memcpy(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes);
    sys_log("...cleared tool library");
    config_save();
    return 1;
}

// ---- slots ----

static uint8_t *toollib_field(int array, int slot)
{
    return cfg + cfg_toolvalues + array * 4 * cfg_toolcount + slot * 4;
}

toollib_slot toollib_read(int slot)
{
    toollib_slot s = {};
    memcpy(s.name, cfg + cfg_toolnames + slot * cfg_toolnamesize, cfg_toolnamesize);
    s.name[cfg_toolnamesize - 1] = 0;
    int32_t *words[2] = {&s.type, &s.flutes};
    for (int a = 0; a < 2; a++)
        memcpy(words[a], toollib_field(a, slot), 4);
    float *floats[toollib_floatarrays] = {&s.length, &s.flutediameter, &s.flutelength, &s.value, &s.rampangle};
    for (int a = 0; a < toollib_floatarrays; a++)
        memcpy(floats[a], toollib_field(2 + a, slot), 4);
    return s;
}

void toollib_write(int slot, const toollib_slot &s)
{
    uint8_t *name = cfg + cfg_toolnames + slot * cfg_toolnamesize;
    memset(name, 0, cfg_toolnamesize);
    snprintf((char *)name, cfg_toolnamesize, "%s", s.name);
    const int32_t words[2] = {s.type, s.flutes};
    for (int a = 0; a < 2; a++)
        memcpy(toollib_field(a, slot), &words[a], 4);
    const float floats[toollib_floatarrays] = {s.length, s.flutediameter, s.flutelength, s.value, s.rampangle};
    for (int a = 0; a < toollib_floatarrays; a++)
        memcpy(toollib_field(2 + a, slot), &floats[a], 4);
}

// ---- dialog 16 ----

toollib_dialogstate toollib_state = {toollib_loadmode, 1, 1, 0.0f, 1};

// The first row reaches position 247 at the scroll's end; a page is nine
// rows of the 256.
constexpr int toollib_lastfirst = cfg_toolcount - 9;
constexpr float toollib_pagestep = 9.0f / 256.0f;

static void toollib_resort()
{
    cam_sorttoollib(toollib_state.column, toollib_state.sign);
}

void toollib_open(int mode, int target)
{
    if (target < 1 || target > cam_maxtools) {
        sys_log("toollib_open: no tool %d", target);
        return;
    }
    toollib_state.mode = mode;
    toollib_state.target = target;
    toollib_resort();
    gui_setdialog(16);
}

int toollib_sort(int column)
{
    if (column < 1 || column > 4)
        return 0;
    toollib_state.sign = column == toollib_state.column ? -toollib_state.sign : 1;
    toollib_state.column = column;
    toollib_resort();
    return 1;
}

// The editor's value fields from a type and units as stored in a slot.
static void toollib_toeditor(const toollib_slot &s)
{
    tools_editvalues &e = tools_edit;
    snprintf(e.name, sizeof(e.name), "%.31s", s.name);
    e.type = s.type < 0 ? -s.type : s.type;
    e.units = s.type < 0 ? 2 : 1;
    e.flutes = (float)s.flutes;
    e.length = s.length;
    e.flutelength = s.flutelength;
    e.flutediameter = s.flutediameter;
    e.value = s.value;
    e.rampangle = s.rampangle;
}

int toollib_loadslot(int slot)
{
    const int target = toollib_state.target;
    toollib_slot s = toollib_read(slot);
    // An empty slot would take the tool from every operation using it.
    if (s.type == 0 || tools_busy())
        return 0;
    sys_log("loading library slot #%02d \"%s\" to tool%02d", slot + 1, s.name, target);
    toollib_toeditor(s);
    const tools_editvalues &e = tools_edit;
    if (!cam_settool(target, e.name, e.type, e.units, (int)e.flutes, e.flutediameter, e.flutelength, e.value,
                     e.length, e.rampangle))
        return 0;
    if (gui_selectedtool == target - 1)
        gui_unappliedchanges = 0;
    tools_formattexts();
    gui_setdialog(0);
    sys_log("optool = %d", opeditor_tool);
    if (opeditor_tool < 1 || opeditor_tool > cam_maxtools || cam_tools[opeditor_tool - 1].type == tool_none)
        opeditor_tool = target;
    sys_status("...loaded tool from library");
    return 1;
}

int toollib_saveslot(int slot)
{
    const int n = toollib_state.target;
    if (toollib_read(slot).type != 0 &&
        !gui_calls->messagebox("Kerfmill",
                               "A tool definition already exists in this slot. Are you sure you want to overwrite it?",
                               2, 4, 0))
        return 0;
    const tool &t = cam_tools[n - 1];
    const char *name = project.tools[n - 1].name;
    sys_log("saving tool#%02d \"%s\" to library slot#%02d", n, name, slot + 1);
    toollib_slot s = {};
    snprintf(s.name, sizeof(s.name), "%s", name);
    s.type = t.units == 1 ? t.type : -t.type;
    s.flutes = t.flutes;
    s.length = t.length;
    s.flutediameter = t.flutediameter;
    s.flutelength = t.flutelength;
    s.value = t.aux;
    s.rampangle = t.rampangle;
    toollib_write(slot, s);
    config_save();
    toollib_resort();
    gui_setdialog(0);
    sys_status("...saved tool to library");
    return 1;
}

const char *toollib_title()
{
    return toollib_state.mode == toollib_savemode ? "Save Tool" : "Load Tool";
}

static void toollib_header()
{
    static const struct {
        const char *label, *tip;
    } columns[4] = {
        {"Slot#", "Sort tool definitions by library slot number."},
        {"Type", "Sort tool definitions by tool type."},
        {"Diameter", "Sort tool definitions by tool diameter."},
        {"Flute Len", "Sort tool definitions by flute length."},
    };
    gui_rowsector(5, 30.0, 1.0, 1.0, 1.0, 1.0);
    gui_tooltip("Info: Click me for usage information, tips, and tricks!");
    const char *usage = toollib_state.mode == toollib_savemode
                            ? "Select a tool library slot to save the selected project tool index's definition to."
                            : "Select a tool library slot to load its definition to the currently selected project "
                              "tool index or operation.";
    if (gui_iconbutton(toollib_id + toollib_info, 35, 0, gui_interfacefont, "%s", ""))
        gui_calls->messagebox("Usage Information", usage, 0, 3, 0);
    for (int c = 0; c < 4; c++) {
        gui_tooltip("%s", columns[c].tip);
        if (gui_iconbutton(toollib_id + toollib_column + c, 0, 0, gui_interfacefont, "%s", columns[c].label))
            toollib_sort(c + 1);
    }
}

// One row: the slot number, the slot's button and, in slot order, its moves.
static void toollib_row(int position)
{
    const int slot = cam_toollibview[position];
    const toollib_slot s = toollib_read(slot);
    const int load = toollib_state.mode != toollib_savemode, slotorder = toollib_state.column == 1;
    if (slotorder)
        gui_rowsector(4, 30.0, 1.0, 24.0, 24.0);
    else
        gui_rowsector(2, 30.0, 1.0);
    gui_centerlabel(gui_interfacefont, "%02d", slot + 1);
    const int icon = tools_typeicon(s.type < 0 ? -s.type : s.type);
    if (load && (s.type == 0 || tools_busy())) {
        gui_label(icon, 0, gui_interfacefont, "%s", s.name);
    } else {
        if (load)
            gui_tooltip("Load '%s'\nto tool index #%02d.", s.name, toollib_state.target);
        else
            gui_tooltip("Save '%s'\nto library slot #%02d.", project.tools[toollib_state.target - 1].name, slot + 1);
        gui_elementid("libslot%02d", slot + 1);
        if (gui_iconbutton(toollib_rowid + 3 * position, icon, 0, gui_interfacefont, "%s", s.name))
            load ? toollib_loadslot(slot) : toollib_saveslot(slot);
    }
    if (!slotorder)
        return;
    gui_tooltip("Move tool definition up.");
    if (position == 0)
        gui_label(81, 0, gui_interfacefont, "%s", "");
    else if (gui_iconbutton(toollib_rowid + 3 * position + 1, 81, 0, gui_interfacefont, "%s", ""))
        cam_swaplibtools(position - 1);
    gui_tooltip("Move tool definition down.");
    if (position == cfg_toolcount - 1)
        gui_label(82, 0, gui_interfacefont, "%s", "");
    else if (gui_iconbutton(toollib_rowid + 3 * position + 2, 82, 0, gui_interfacefont, "%s", ""))
        cam_swaplibtools(position);
}

int toollib_firstrow()
{
    return (int)((float)toollib_lastfirst * toollib_state.scroll + 0.5f);
}

void toollib_page(int direction)
{
    toollib_state.scroll = fmaxf(0.0f, fminf(toollib_state.scroll + (float)direction * toollib_pagestep, 1.0f));
}

static void toollib_list()
{
    gui_rowsector(2, 1.0, 20.0);
    gui_colsector(toollib_rows, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0);
    const int first = toollib_firstrow();
    for (int i = 0; i < toollib_rows; i++) {
        if (first + i < cfg_toolcount)
            toollib_row(first + i);
        else
            gui_popframe(0);
    }
    gui_scrollposition = toollib_state.scroll;
    toollib_state.scroll = gui_scrollbar(toollib_id + toollib_scroll);
}

void toollib_dialog()
{
    // The dialog belongs to the tools and operations modes.
    if (projectmode != 2 && projectmode != 3) {
        gui_setdialog(0);
        return;
    }
    gui_colsector(5, 30.0, 30.0 * toollib_rows, 30.0, 0.0, 1.0);
    toollib_header();
    toollib_list();
    gui_rowsector(3, 1.0, 1.0, 1.0);
    if (gui_iconbutton(toollib_id + toollib_pgup, 0, 0, gui_interfacefont, "%s", "PgUp"))
        toollib_page(-1);
    if (gui_iconbutton(toollib_id + toollib_pgdown, 0, 0, gui_interfacefont, "%s", "PgDown"))
        toollib_page(1);
    gui_elementid("dialog_cancel");
    if (gui_iconbutton(toollib_id + toollib_cancel, 0, 0, gui_interfacefont, "%s", "Cancel"))
        gui_setdialog(0);
}
