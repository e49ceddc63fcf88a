// The Canvas Layers panel. Top to bottom: the three head buttons, the
// actions block of the selected layer, the four common actions, then the
// list (title, group row, rows with the highest slot on top). Each item
// peels its own cell off the top of the panel's sector, so a block of any
// height can stand between them. A disabled action is a plain label with the
// same icon and text and no element name.
#include "mainwindow/layerspanel.h"

#include "geom/path.h"
#include "gui/dialog.h"
#include "gui/element.h"
#include "gui/sector.h"
#include "gui/textedit/textedit.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/values.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"
#include "project/undo.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/event.h"
#include "sys/input.h"
#include "sys/log.h"
#include "view/modes.h"
#include "view/view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

const char *const layer_typenames[layer_types] = {"None", "Raster", "Paths", "Model", "Text"};
const int layer_typeicons[layer_types] = {100, 40, 89, 79, 136};

constexpr float layerspanel_buttonheight = 30.0f;
constexpr float layerspanel_titleheight = 38.0f;
constexpr float layerspanel_grouprowheight = 21.0f;
constexpr float layerspanel_groupwidth = 20.0f;
constexpr float layerspanel_togglewidth = 21.0f;
constexpr int layerspanel_keydelete = 78;
constexpr int layerspanel_tracedialog = 17;
constexpr int layerspanel_adddialog = 14;

// Element ids: the head and common actions, the group cells, the scroll
// bar, then four per layer slot (name, group toggle, show/hide, remove).
enum layerspanel_id : int32_t {
    lp_properties = 13000,
    lp_appearance,
    lp_addlayer,
    lp_duplicate,
    lp_mergedown,
    lp_moveup,
    lp_movedown,
    lp_group = 13010,
    lp_scroll = 13020,
    lp_rows = 13100,
};

static int32_t layerspanel_rowid(int slot, int cell)
{
    return lp_rows + slot * 4 + cell;
}

// Splits the panel's remaining sector: a cell of h pixels on top, the rest
// below it for the items that follow.
static void layerspanel_take(float h)
{
    gui_colsector(2, (double)h, 1.0);
}

static bool layerspanel_inuse(int slot)
{
    return slot >= 0 && slot < project_maxlayers && project.layers[slot].type != layer_free;
}

// ------------------------------------------------------------------ head

struct layerspanel_headbutton {
    const char *name;
    int32_t id;
    int icon;
    const char *label, *tooltip;
};

static const layerspanel_headbutton layerspanel_heads[3] = {
    {"canvas_properties", lp_properties, 80, "Canvas Properties",
     "Sets project size, machine-origin,\ncanvas resolution, etc..."},
    {"canvas_appearance", lp_appearance, 71, "Canvas Appearance", "Set project's canvas Z-gradient coloration."},
    {"canvas_addlayer", lp_addlayer, 50, "Add Layer",
     "Add a new layer to the project canvas. Load\nexisting media, browse user-submitted content,\nor create a "
     "blank layer of a specified type."},
};

// The canvas editor's load arrives with the canvas property panels; until
// then Canvas Properties only opens their place.
static void layerspanel_head()
{
    for (const layerspanel_headbutton &b : layerspanel_heads) {
        layerspanel_take(layerspanel_buttonheight);
        gui_elementid("%s", b.name);
        gui_tooltip("%s", b.tooltip);
        if (!gui_iconbutton(b.id, b.icon, 0, gui_interfacefont, "%s", b.label))
            continue;
        if (b.id == lp_addlayer) {
            gui_setdialog(layerspanel_adddialog);
        } else {
            gui_sidepanel = b.id == lp_properties ? 2 : 3;
            gui_selectedlayer = -1;
        }
    }
    layerspanel_take(6.0f);
    gui_popsector();
}

// The label of the actions block; the blocks of the canvas and of each
// layer type come with their own panels and draw nothing before.
static void layerspanel_actions(int sel)
{
    layerspanel_take(layerspanel_buttonheight);
    if (sel == -1)
        gui_label(81, 0, gui_interfacefont, "Canvas Actions");
    else
        gui_label(81, 0, gui_interfacefont, "%s-Layer Actions", layer_typenames[project.layers[sel].type]);
}

// ------------------------------------------------------------- duplicate

// The text object's font as its place in the alphabetical order, -1 none.
static int layerspanel_fontposition(int32_t font)
{
    for (int p = 0; sys_fontorder && p < sys_fontcount; p++)
        if (sys_fontorder[p] == font)
            return p;
    return -1;
}

static bool layerspanel_copytext(project_layer &to, const project_layer &from)
{
    int t = from.data.text;
    int position = text_objects && t >= 0 && t < text_maxobjects ? layerspanel_fontposition(text_objects[t].font) : -1;
    int copy = -1;
    if (position >= 0) {
        const text_object &o = text_objects[t];
        float q = cfg_getf(cfg_canvasquality);
        copy = text_alloc(position, o.ptsize, o.spacing, (float)project.ppi * (q + (1.0f - q) * 0.1f), o.text);
    }
    if (copy < 0) {
        sys_log("...failed to duplicate text[%d]", t);
        return false;
    }
    sys_log("...duplicated text[%d] to text[%d]", t, copy);
    to.data.text = copy;
    return true;
}

// The copy's own data by type. A model-layer shares the mesh but gets its
// own render model: each layer frees its render model with its slot.
static bool layerspanel_copydata(int slot, const project_layer &from)
{
    project_layer &to = project.layers[slot];
    switch (from.type) {
    case layer_raster:
        to.data.img = img_copy(from.data.img);
        return to.data.img != nullptr;
    case layer_paths:
        to.data.pth = from.data.pth ? path_copy(from.data.pth) : nullptr;
        if (!to.data.pth)
            return false;
        layer_bounds(slot);
        return true;
    case layer_model:
        if (from.data.mesh < 0 || from.data.mesh >= project_maxmeshes)
            return false;
        to.data.mesh = from.data.mesh;
        project_meshuses[to.data.mesh]++;
        to.rendermodel = layer_meshmodel ? layer_meshmodel(to.data.mesh) : -1;
        return true;
    case layer_text:
        return layerspanel_copytext(to, from);
    default:
        return false;
    }
}

// Copies the record onto the new slot with every handle cleared first, so
// that freeing a failed copy releases nothing of the source's.
static void layerspanel_copyrecord(int slot, const project_layer &from)
{
    project_layer &to = project.layers[slot];
    uint32_t uid = to.uid;
    to = from;
    to.uid = uid;
    to.data.img = nullptr;
    if (from.type == layer_model || from.type == layer_text)
        to.data.mesh = -1;
    to.depth = nullptr;
    to.rendermodel = -1;
    project_layername(slot, from.name);
}

static void layerspanel_askgroup(project_layer &l)
{
    uint32_t bit = 1u << project_layergroup;
    if (l.groups & bit)
        return;
    if (sys_messagebox("Layer Group",
                       "The duplicated layer does not belong to the current Layer Group. Would you like for it to be "
                       "included?",
                       2, 5, 0) == 1)
        l.groups |= bit;
}

int layerspanel_duplicate()
{
    int s = project_selectedlayer;
    if (s < 0 || s >= project_maxlayers) {
        sys_error("No layer selected!");
        return -1;
    }
    if (project.layers[s].type == layer_free) {
        sys_error("Selected layer is null!");
        return -1;
    }
    int n = project_layeralloc(project.layers[s].type);
    if (n < 0)
        return -1;
    // The new slot stands right after the source, which moved down by one
    // when the free slot was below it.
    int src = n > s ? s : s - 1;
    const project_layer &from = project.layers[src];
    sys_log("copying layer %d (%s) to layer %d", src, from.name, n);
    layerspanel_copyrecord(n, from);
    if (!layerspanel_copydata(n, from)) {
        sys_log("layerspanel_duplicate: the data of layer[%02d] could not be copied", src);
        project_layerfree(n);
        layer_closegap(n);
        return -1;
    }
    project_layer &l = project.layers[n];
    if (from.depth && !(l.depth = img_copy(from.depth)))
        sys_log("layerspanel_duplicate: no copy of layer[%02d]'s depth map; it is generated again", src);
    l.stale = 1;
    gui_selectedlayer = n;
    layerspanel_askgroup(l);
    project_countgroups();
    layer_event(n);
    return n;
}

// ------------------------------------------------------- common actions

static int layerspanel_action(int enabled, const char *name, int32_t id, int icon, const char *label,
                              const char *tooltip)
{
    if (!enabled) {
        gui_label(icon, 0, gui_interfacefont, "%s", label);
        return 0;
    }
    gui_elementid("%s", name);
    gui_tooltip("%s", tooltip);
    return gui_iconbutton(id, icon, 0, gui_interfacefont, "%s", label);
}

static int layerspanel_canmerge(int sel)
{
    if (sel <= 0 || !layerspanel_inuse(sel))
        return 0;
    int type = project.layers[sel].type;
    return (type == layer_raster || type == layer_paths) && project.layers[sel - 1].type == type;
}

static int layerspanel_busy()
{
    return project.generating[0].load() || project.generating[1].load() || project_canvasjob.updating.load() ||
           project_savebusy.load() || layer_texrefreshes.load();
}

static bool layerspanel_shown(const project_layer &l)
{
    return !(l.flags & layer_hidden) && (l.groups >> project_layergroup & 1u);
}

// Swaps slots pair and pair + 1 with its undo event; the selection follows
// the moved layer to to.
static void layerspanel_swap(int pair, int to)
{
    if (!project_swaplayers(pair))
        return;
    event_queue(event_layerswapnext, pair, 0, nullptr, 0, nullptr);
    gui_selectedlayer = to;
    if (layerspanel_shown(project.layers[to]))
        project_updatecanvas(1, canvas_view, (uint32_t)project_layergroup);
}

static void layerspanel_move(int up)
{
    int s = project_selectedlayer;
    if (s < 0 || s >= project_maxlayers)
        return;
    if (up && s <= project_maxlayers - 2 && project.layers[s + 1].type != layer_free)
        layerspanel_swap(s, s + 1);
    else if (!up && s > 0 && s - 1 <= project_maxlayers - 2)
        layerspanel_swap(s - 1, s - 1);
}

static void layerspanel_common(int sel)
{
    int on = sel != -1;
    layerspanel_take(layerspanel_buttonheight);
    if (layerspanel_action(on, "canvas_duplicatelayer", lp_duplicate, 42, "Duplicate Layer",
                           "Create an exact duplicate\nof the currently active layer."))
        layerspanel_duplicate();
    layerspanel_take(layerspanel_buttonheight);
    if (layerspanel_action(on && layerspanel_canmerge(sel), "canvas_mergedownlayer", lp_mergedown, 73,
                           "Merge Down Layer", "Merge active layer with\nlower layer of same type."))
        project_mergedownlayer = project_selectedlayer;
    int move = on && !layerspanel_busy();
    layerspanel_take(layerspanel_buttonheight);
    gui_rowsector(2, 0.5, 0.5);
    if (layerspanel_action(move, "canvas_moveuplayer", lp_moveup, 120, "Move Up", "Move layer up in layers list."))
        layerspanel_move(1);
    if (layerspanel_action(move, "canvas_movedownlayer", lp_movedown, 121, "Move Down",
                           "Move layer down in layers list."))
        layerspanel_move(0);
}

// ---------------------------------------------------------------- list

layerspanel_window layerspanel_visiblerows(float height, int count, float scroll)
{
    layerspanel_window w = {0, -1, 0};
    if (count <= 0)
        return w;
    int n = (int)(height / layerspanel_rowheight - 1.0f);
    if (n < 0)
        return w;
    w.first = (int)((float)std::max(0, count - n - 1) * scroll + 0.5f);
    w.last = std::min(w.first + n, count - 1);
    w.scrolls = w.first > 0 || w.last < count - 1;
    return w;
}

void layerspanel_fitname(char *out, int outsize, const char *name, float cellwidth, int font)
{
    int fit = font_charatx(font, cellwidth - layerspanel_rowheight, "%s", name);
    int length = (int)strlen(name);
    if (length <= fit)
        snprintf(out, (size_t)outsize, "%s", name);
    else if (fit < 4)
        snprintf(out, (size_t)outsize, "...");
    else
        snprintf(out, (size_t)outsize, "%.*s...", fit - 4, name);
}

static void layerspanel_groups()
{
    layerspanel_take(layerspanel_grouprowheight);
    gui_rowsector(11, 1.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0, 20.0);
    gui_valuetext(gui_interfacefont, 0, "Group:");
    int busy = project_canvasjob.updating.load() || project.generating[0].load() || project.generating[1].load();
    for (int g = 0; g < project_maxgroups; g++) {
        gui_tooltip("Show layer group %d.\n( %d layers )", g, (int)project_canvasjob.groupcount[g]);
        if (busy || g == project_layergroup) {
            gui_centerlabel(gui_interfacefont, "%1d", g);
            continue;
        }
        gui_elementid("canvas_layergroup%d", g);
        if (gui_button(lp_group + g, gui_interfacefont, 1, "%1d", g)) {
            if (project_canvasjob.updating.load())
                sys_log("!!! project_updatecanvas() while already updating !!!");
            project_layergroup = g;
            project_updatecanvas(0, canvas_view, (uint32_t)g);
        }
    }
}

// Step 7 of a row: the undo event of a group or visibility change and the
// canvas update, or only a redraw while the trace dialog holds a layer.
static void layerspanel_statechanged(int slot, const project_layer &old)
{
    project_layer &l = project.layers[slot];
    event_queue(event_layerstate, slot, layer_recordbytes, &old, layer_recordbytes, &l);
    l.stale = 1;
    if (gui_dialogid == layerspanel_tracedialog && gui_dialoglayer != -1)
        view_redraw = 1;
    else
        project_updatecanvas(1, canvas_view, (uint32_t)project_layergroup);
}

static void layerspanel_name(int slot)
{
    project_layer &l = project.layers[slot];
    const gui_rect *cell = gui_topsector();
    char shown[project_maxname + 4];
    layerspanel_fitname(shown, sizeof(shown), l.name, cell ? cell->w : 0.0f, gui_interfacefont);
    int icon = layer_typeicons[l.type];
    if (slot == gui_selectedlayer && gui_sidepanel == 4) {
        gui_label(icon, 0, gui_interfacefont, "%s", shown);
        return;
    }
    gui_elementid("layer%02d", slot);
    gui_tooltip("Select %s-layer", layer_typenames[l.type]);
    if (gui_iconbutton(layerspanel_rowid(slot, 0), icon, 0, gui_interfacefont, "%s", shown)) {
        gui_selectedlayer = slot;
        gui_layerfromlist = 1;
    }
}

static void layerspanel_grouptoggle(int slot)
{
    project_layer &l = project.layers[slot];
    int member = (int)(l.groups >> project_layergroup & 1u);
    gui_elementid("layer%02dgroup", slot);
    gui_tooltip("Click to %s group %d.", member ? "exclude layer from" : "include layer in", project_layergroup);
    if (!gui_iconbutton(layerspanel_rowid(slot, 1), member ? 147 : 146, 0, gui_interfacefont, nullptr))
        return;
    sys_log("toggled layer group (%d)", member);
    project_layer old = l;
    l.groups ^= 1u << project_layergroup;
    sys_log("toggled layer[%02d] group inclusions (%04X)", slot, l.groups);
    layerspanel_statechanged(slot, old);
}

static void layerspanel_showhide(int slot)
{
    project_layer &l = project.layers[slot];
    int hidden = (int)(l.flags & layer_hidden);
    gui_elementid("layer%02d_showhide", slot);
    gui_tooltip("%s", hidden ? "Global show/enable layer." : "Global hide/disable layer.");
    if (!gui_iconbutton(layerspanel_rowid(slot, 2), hidden ? 88 : 87, 0, gui_interfacefont, nullptr))
        return;
    project_layer old = l;
    l.flags ^= layer_hidden;
    layerspanel_statechanged(slot, old);
}

// The selected layer in its type's edit mode cannot be removed.
static int layerspanel_editing(int slot)
{
    if (slot != project_selectedlayer)
        return 0;
    switch (project.layers[slot].type) {
    case layer_raster:
        return project_rastertool != -1;
    case layer_paths:
        return project_pathslayeredit != -1;
    case layer_text:
        return project_textlayeredit != -1;
    default:
        return 0;
    }
}

static int layerspanel_deletekey()
{
    return input_keyframe[layerspanel_keydelete] && !input_keyprev[layerspanel_keydelete] && !text_editstate.string &&
           project_pathslayeredit == -1;
}

static void layerspanel_remove(int slot)
{
    if (layerspanel_editing(slot)) {
        gui_label(76, 0, gui_interfacefont, nullptr);
        return;
    }
    gui_elementid("layer%02d_remove", slot);
    gui_tooltip("Delete layer from project's canvas.");
    int click = gui_iconbutton(layerspanel_rowid(slot, 3), 76, 0, gui_interfacefont, nullptr);
    if (!click && !(slot == project_selectedlayer && layerspanel_deletekey()))
        return;
    char question[160];
    snprintf(question, sizeof(question), "Are you sure you want to delete layer[%02d] \"%s\" ?", slot,
             project.layers[slot].name);
    if (sys_messagebox("Delete Layer", question, 2, 5, 0) == 1)
        project_removelayer = slot;
}

static void layerspanel_row(int slot)
{
    layerspanel_take(layerspanel_rowheight);
    if (!layerspanel_inuse(slot)) {
        gui_centerlabel(gui_interfacefont, "ERROR");
        return;
    }
    gui_rowsector(4, 1.0, (double)layerspanel_togglewidth, (double)layerspanel_togglewidth,
                  (double)layerspanel_togglewidth);
    layerspanel_name(slot);
    layerspanel_grouptoggle(slot);
    layerspanel_showhide(slot);
    layerspanel_remove(slot);
}

// The rows under the title and the group row; pops what is left of the panel.
static void layerspanel_rows()
{
    int count = numlayers;
    if (count <= 0) {
        layerspanel_take(layerspanel_rowheight);
        gui_centerlabel(gui_interfacefont, "( No Canvas Layers )");
        gui_popframe(0);
        return;
    }
    const gui_rect *area = gui_topsector();
    layerspanel_window w = layerspanel_visiblerows(area ? area->h : 0.0f, count, gui_layerscroll);
    if (w.scrolls)
        gui_rowsector(2, 1.0, (double)layerspanel_scrollwidth);
    for (int k = w.first; k <= w.last; k++)
        layerspanel_row(count - 1 - k);
    gui_popframe(0);
    if (!w.scrolls)
        return;
    gui_scrollposition = gui_layerscroll;
    gui_scrollextent = (float)count * layerspanel_rowheight;
    gui_layerscroll = std::clamp(gui_scrollbar(lp_scroll), 0.0f, 1.0f);
}

static void layerspanel_list()
{
    layerspanel_take(layerspanel_titleheight);
    gui_label(51, 0, gui_interfacefont, "Canvas Layers (%d)", numlayers);
    layerspanel_groups();
    layerspanel_take(3.0f);
    gui_popsector();
    layerspanel_rows();
}

void layerspanel_draw()
{
    int sel = layerspanel_inuse(gui_selectedlayer) ? gui_selectedlayer : -1;
    layerspanel_head();
    layerspanel_actions(sel);
    layerspanel_common(sel);
    layerspanel_list();
}
