// The operations mode's panel and the Operation Type chooser. Contents:
//   tables     - type icons, chooser categories and the chooser's type cells
//   new op     - the tool and depth rules, New Operation
//   select     - loading an entry into the editor, its layer group
//   chooser    - dialog 22: categories, the grid of types, Cancel
//   rows       - the list with move, include, show and remove buttons
// An entry is in use while it has a camop; New Operation only selects a
// free entry and names it, and Apply (the editor's) makes it in use, so an
// entry never applied leaves no row once deselected.
#include "mainwindow/operations.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "geom/plane.h"
#include "gui/calls.h"
#include "gui/dialog.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "mainwindow/dialogs.h"
#include "mainwindow/layerspanel.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/optypes.h"
#include "project/canvas.h"
#include "project/project.h"
#include "render/drawstate.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/modes.h"
#include "view/view.h"

#include <cmath>
#include <cstdio>
#include <cstring>

// Element ids: the head button, the chooser's members, then eight per row.
enum operations_id : int32_t {
    ops_new = 15000,
    ops_category = 15010, // + category 0..2
    ops_type = 15020,     // + type 0..17
    ops_cancel = 15040,
    ops_rows = 15100, // + entry * 8 + cell
};
enum operations_cell { cell_name, cell_up, cell_down, cell_exclude, cell_showhide, cell_remove };

constexpr float operations_buttonheight = 30.0f;
constexpr float operations_rowheight = layerspanel_rowheight;
constexpr float operations_numberwidth = 26.0f;
constexpr float operations_togglewidth = 21.0f;
constexpr float operations_typeheight = 56.0f; // two lines: name and subtitle

// ------------------------------------------------------------------ tables

const int operations_typeicons[18] = {100, 81, 366, 298, 134, 304, 149, 369, 119,
                                      132, 128, 124, 89, 141, 150, 125, 394, 146};

const operations_category operations_categories[3] = {
    {"opcategory_contouring", "3D Contouring", {1, 2, 3, 4, 9, 13, 12, 0}},
    {"opcategory_milling", "2D/2.5D Milling", {10, 7, 15, 14, 8, 0}},
    {"opcategory_specialty", "Specialty Cuts", {6, 5, 11, 16, 17, 0}},
};

struct operations_typecell {
    const char *name, *subtitle, *tooltip;
};

static const operations_typecell operations_typecells[18] = {
    {nullptr, nullptr, nullptr},
    {"optype_parallel", nullptr, "3D carving parallel line cutpaths.\nUse: roughing/finishing reliefs, halftones."},
    {"optype_chevron", nullptr, "3D carving zig-zag pattern cutpaths.\nUse: textured finishes, decorative reliefs."},
    {"optype_spiral", nullptr, "3D carving spiral cutpath.\nUse: round reliefs, bowls, decorative finishes."},
    {"optype_labyrinth", nullptr,
     "3D carving unicursal maze cutpaths.\nUse: textured backgrounds, decorative finishes."},
    {"optype_stipple", nullptr,
     "Stipple plunge-cuts varied in diameter,\noffset along canvas gradients.\nUse: stippled images, halftone "
     "engraving."},
    {"optype_medialaxis", "V-Carving/B-Carving",
     "Medial-axis carving from a Z-plane\ncontour or a paths-layer.\nUse: V-carved lettering, signs, inlays."},
    {"optype_horzmill", "Horizontal Milling",
     "2.5D horizontal milling at each\ncutting depth's Z-plane.\nUse: roughing, terraces, horizontal finishing."},
    {"optype_profile", "Profiling",
     "2D milling along a Z-plane contour\nor a paths-layer.\nUse: cutting out parts, outlines, grooves."},
    {"optype_conformal", nullptr,
     "Parallel lines displaced along\ncanvas gradients.\nUse: form-following textures, engraved images."},
    {"optype_offset", "Pocketing",
     "2D horizontal milling within a Z-plane\ncontour or a paths-layer.\nUse: pockets, recesses, clearing areas."},
    {"optype_stipple2", nullptr,
     "Stipple plunge-cuts varied in\ndiameter and density.\nUse: dithered images, halftone engraving."},
    {"optype_paths", nullptr,
     "2D milling or 3D carving along\na paths-layer.\nUse: engraved lines, grooves, drawn paths."},
    {"optype_tess", nullptr, "Concentric-shape pattern cutpaths.\nUse: tiled textures, decorative patterns."},
    {"optype_troch", "Trochoidal Milling",
     "2.5D trochoidal milling at\neach cutting depth.\nUse: roughing hard materials with an even tool load."},
    {"optype_troch2", "Trochoidal Pocketing",
     "2D trochoidal milling within a\ncontour or paths-layer.\nUse: pockets and slots in hard materials."},
    {"optype_holedrill", nullptr, "Peck-drills of circular features.\nUse: holes, dowel and mounting points."},
    {"optype_fillet", nullptr,
     "Parallel fillet cuts around a\ncontour or paths-layer(s).\nUse: rounded edges, fillets, coves."},
};

int operations_categoryof(int t)
{
    for (int c = 0; c < 3; c++)
        for (int t2 : operations_categories[c].types)
            if (t2 != 0 && t2 == t)
                return c;
    return 0;
}

// The right column's panel of the operation editor.
constexpr int32_t operations_editorpanel = 6;

static void operations_deselect()
{
    gui_selectedop = -1;
    if (gui_sidepanel == operations_editorpanel)
        gui_sidepanel = 0;
}

static bool operations_inuse(int index)
{
    return index >= 0 && index < cam_maxprojectops && project.ops[index].camop != -1;
}

// ------------------------------------------------------------------ new op

float operations_unitstep(int32_t units)
{
    return units == 1 ? 0.001f : units == 2 ? 0.1f : 1.0f;
}

int operations_newtool(int remembered)
{
    auto defined = [](int n) { return n >= 1 && n <= cam_maxtools && cam_tools[n - 1].type != tool_none; };
    if (defined(remembered))
        return remembered;
    for (int n = 1; n <= cam_maxtools; n++)
        if (defined(n))
            return n;
    return remembered;
}

float operations_newcutdepth(int tool, float remembered)
{
    float d = remembered;
    if (tool >= 1 && tool <= cam_maxtools && cam_tools[tool - 1].type != tool_none)
        d = fminf(d, cam_tools[tool - 1].flutelength * cam_toolunitsfactor(tool));
    return snap_step(d, operations_unitstep((int32_t)project.units));
}

float operations_newmaxdepth(float remembered)
{
    return snap_step(fminf(remembered, project.size[2]), operations_unitstep((int32_t)project.units));
}

// ------------------------------------------------------------------ editor

// A new operation's working copy: the remembered defaults, the tool and
// depth rules, and nothing of the type yet.
static void operations_loadnew(int index)
{
    opeditor_record &e = opeditor;
    snprintf(e.name, sizeof(e.name), "%s", project.ops[index].name);
    e.type = e.loadedtype = 0;
    e.group = project_layergroup;
    opeditor_loaddefaults(&e);
    e.entry = 0;
    e.stock = 0.0f;
    e.aux[0] = e.aux[1] = e.aux[2] = 0;
    e.contourmode = 0;
    e.outline = e.islands = e.typeoption = e.ignoretool = e.invert = 0;
    e.tool = operations_newtool(e.tool);
    optypes_forgetlayers();
    e.z_doc = operations_newcutdepth(e.tool, e.z_doc);
    e.z_max = operations_newmaxdepth(e.z_max);
    e.z_min = snap_step(e.z_min, operations_unitstep((int32_t)project.units));
    opeditor_settexts(&e, (int32_t)project.units);
}

static void operations_loadentry(const projop &entry)
{
    opeditor_record &e = opeditor;
    snprintf(e.name, sizeof(e.name), "%s", entry.name);
    opeditor_load(&e, &cam_ops[entry.camop]);
    optypes_forgetlayers();
    e.loadedtype = e.type;
    e.group = entry.group;
    opeditor_settexts(&e, (int32_t)project.units);
}

// Dialog 22 on the edited type and its category.
static void operations_opentypes(int32_t isnew)
{
    opeditor.choosetype = opeditor.type;
    opeditor.choosecategory = operations_categoryof(opeditor.type);
    opeditor.isnew = isnew;
    gui_setdialog(operations_typedialog);
}

static const char operations_notoolstext[] =
    "The project does not have any defined tools.\n\nDefine a tool or load a previously saved one from the Tool "
    "Library in the Project Tools mode.\n\nTool definitions previously saved to the Tool Library can also be "
    "directly loaded from the library for an operation by clicking the Tool Library button next to the "
    "operation's Tool parameter. This will automatically choose an unused tool index to load the tool definition "
    "to.";

void operations_new()
{
    sys_log("newop: project tools = %d", cam_numtools);
    if (cam_numtools == 0)
        gui_calls->messagebox("New Operation", operations_notoolstext, 0, 4, 0);
    int index = 0;
    while (index < cam_maxprojectops && operations_inuse(index))
        index++;
    if (index == cam_maxprojectops) {
        gui_calls->messagebox("Kerfmill", "The project has reached its maximum allowed number of operations!", 0, 4,
                              0);
        return;
    }
    gui_selectedop = index;
    gui_sidepanel = operations_editorpanel;
    gui_unappliedchanges = 1;
    snprintf(project.ops[index].name, sizeof(project.ops[index].name), "operation%02d", index + 1);
    operations_loadnew(index);
    operations_opentypes(1);
}

// ------------------------------------------------------------------ select

void operations_select(int index)
{
    if (!operations_inuse(index))
        return;
    if (gui_dialogid == operations_typedialog) {
        gui_setdialog(0);
        opeditor.isnew = 0;
    }
    sys_status("...selected operation #%02d", index + 1);
    gui_unappliedchanges = 0;
    gui_selectedop = index;
    gui_sidepanel = operations_editorpanel;
    view_redraw = 1;
    const projop &e = project.ops[index];
    operations_loadentry(e);
    if (e.group == project_layergroup)
        return;
    if (project_canvasjob.updating.load()) {
        sys_log("!!! project_updatecanvas() while already updating !!!");
        return;
    }
    project_layergroup = e.group;
    project_updatecanvas(0, canvas_view, (uint32_t)e.group);
}

// ----------------------------------------------------------------- chooser

void operations_choosetype(int type)
{
    if (type < 1 || type >= camop_types)
        return;
    opeditor_record &e = opeditor;
    e.choosetype = type;
    if (type != e.type) {
        e.type = type;
        if (type != e.loadedtype)
            optypes_settype(type);
        opeditor_settexts(&e, (int32_t)project.units);
        e.loadedtype = type;
    }
    e.isnew = 0;
    view_redraw = 1;
    gui_setdialog(0);
}

void operations_canceltype()
{
    if (opeditor.isnew && opeditor.choosetype == 0)
        operations_deselect();
    opeditor.isnew = 0;
    gui_setdialog(0);
}

static void operations_categorytabs(int open)
{
    gui_rowsector(3, 1.0, 1.0, 1.0);
    for (int c = 0; c < 3; c++) {
        const operations_category &k = operations_categories[c];
        if (c == open) {
            gui_centerlabel(gui_interfacefont, "%s", k.label);
            continue;
        }
        gui_elementid("%s", k.name);
        if (gui_button(ops_category + c, gui_interfacefont, 1, "%s", k.label))
            opeditor.choosecategory = c;
    }
}

// One type's cell: 1 when it was clicked.
static int operations_drawtype(int t, int chosen)
{
    const operations_typecell &c = operations_typecells[t];
    char label[96];
    if (c.subtitle)
        snprintf(label, sizeof(label), "%s\n ( %s )", camop_typenames[t], c.subtitle);
    else
        snprintf(label, sizeof(label), "%s", camop_typenames[t]);
    gui_tooltip("%s", c.tooltip);
    if (t == chosen) {
        gui_label(operations_typeicons[t], 0, gui_interfacefont, "%s", label);
        return 0;
    }
    gui_elementid("%s", c.name);
    return gui_iconbutton(ops_type + t, operations_typeicons[t], 0, gui_interfacefont, "%s", label);
}

void operations_typechooser()
{
    if (projectmode != 3) {
        operations_canceltype();
        return;
    }
    const int open = opeditor.choosecategory >= 0 && opeditor.choosecategory < 3 ? opeditor.choosecategory : 0;
    const int *types = operations_categories[open].types;
    int count = 0;
    while (count < 8 && types[count])
        count++;
    const int pairs = (count + 1) / 2;
    // The tabs, the pairs of types, "Cancel", then an empty row of no
    // height whose place measures the window.
    gui_colsector(2, (double)dialogs_rowheight, 1.0);
    operations_categorytabs(open);
    for (int p = 0; p < pairs; p++) {
        gui_colsector(2, (double)operations_typeheight, 1.0);
        gui_rowsector(2, 1.0, 1.0);
        for (int i = 2 * p; i < 2 * p + 2; i++) {
            if (i >= count) {
                gui_popframe(0);
                continue;
            }
            if (operations_drawtype(types[i], opeditor.choosetype)) {
                operations_choosetype(types[i]);
                return;
            }
        }
    }
    gui_colsector(3, (double)dialogs_rowheight, 0.0, 1.0);
    gui_elementid("dialog_cancel");
    if (gui_iconbutton(ops_cancel, 102, 0, gui_interfacefont, "Cancel"))
        operations_canceltype();
}

// -------------------------------------------------------------------- rows

static int32_t operations_rowid(int index, int cell)
{
    return ops_rows + index * 8 + cell;
}

// The canvas models show the operations' toolpaths: they are made again.
static void operations_freemodels()
{
    project_freecanvas(0, 0, 1, 0);
}

static void operations_changed()
{
    view_redraw = 1;
    project_changetime = (float)sys_seconds();
}

static void operations_name(int index)
{
    const projop &e = project.ops[index];
    const gui_rect *cell = gui_topsector();
    char shown[project_maxname + 4];
    layerspanel_fitname(shown, sizeof(shown), e.name, cell ? cell->w : 0.0f, gui_interfacefont);
    const int32_t type = operations_inuse(index) ? cam_ops[e.camop].type : opeditor.type;
    const int icon = operations_typeicons[type >= 0 && type < camop_types ? type : 0];
    if (index == gui_selectedop) {
        gui_label(icon, 0, gui_interfacefont, "%s", shown);
        return;
    }
    gui_elementid("operation%02d", index + 1);
    if (gui_iconbutton(operations_rowid(index, cell_name), icon, 0, gui_interfacefont, "%s", shown))
        operations_select(index);
}

// A move button, or its icon alone where the move cannot be made now.
static int operations_movebutton(int offered, int index, int cell, int icon, const char *tooltip)
{
    gui_tooltip("%s", tooltip);
    if (!offered) {
        gui_label(icon, 0, gui_interfacefont, nullptr);
        return 0;
    }
    gui_elementid("op%02d_%s", index + 1, cell == cell_up ? "moveup" : "movedown");
    return gui_iconbutton(operations_rowid(index, cell), icon, 0, gui_interfacefont, nullptr);
}

static void operations_moves(int index)
{
    const int idle = cam_generatingop == -1;
    if (operations_movebutton(idle && index > 0, index, cell_up, 120, "Move operation up.") &&
        cam_swapoperations(index - 1)) {
        gui_selectedop = index - 1;
        operations_freemodels();
    }
    const int down = idle && index <= cam_maxprojectops - 2 && operations_inuse(index + 1);
    if (operations_movebutton(down, index, cell_down, 121, "Move operation down.") && cam_swapoperations(index)) {
        gui_selectedop = index + 1;
        operations_freemodels();
    }
}

static void operations_toggles(int index)
{
    projop &e = project.ops[index];
    gui_elementid("op%02d_exclude", index + 1);
    gui_tooltip("%s", e.include ? "Exclude from simulation\nand exported G-code."
                                : "Include in simulation and\nexported G-code.");
    if (gui_iconbutton(operations_rowid(index, cell_exclude), e.include ? 147 : 146, 0, gui_interfacefont, nullptr)) {
        e.include = !e.include;
        operations_changed();
        operations_freemodels();
    }
    gui_elementid("op%02d_showhide", index + 1);
    gui_tooltip("%s", e.show ? "Hide toolpath." : "Show toolpath.");
    if (gui_iconbutton(operations_rowid(index, cell_showhide), e.show ? 87 : 88, 0, gui_interfacefont, nullptr)) {
        e.show = !e.show;
        operations_changed();
    }
    gui_elementid("op%02d_remove", index + 1);
    gui_tooltip("Remove operation from project.");
    if (!gui_iconbutton(operations_rowid(index, cell_remove), 76, 0, gui_interfacefont, nullptr))
        return;
    if (gui_calls->messagebox("Kerfmill", "Are you sure you want to remove this operation?", 2, 4, 0) != 1)
        return;
    if (!cam_removeoperation(index, 1))
        return;
    operations_freemodels();
    operations_deselect();
    operations_changed();
}

static void operations_row(int index)
{
    gui_colsector(2, (double)operations_rowheight, 1.0);
    const int selected = index == gui_selectedop;
    const double t = operations_togglewidth;
    if (selected)
        gui_rowsector(7, (double)operations_numberwidth, 1.0, t, t, t, t, t);
    else
        gui_rowsector(5, (double)operations_numberwidth, 1.0, t, t, t);
    gui_centerlabel(gui_interfacefont, "%02d", index + 1);
    operations_name(index);
    if (!operations_inuse(index)) {
        // A new operation not applied yet: nothing to move, toggle or remove.
        for (int k = selected ? 5 : 3; k > 0; k--)
            gui_popframe(0);
        return;
    }
    if (selected)
        operations_moves(index);
    operations_toggles(index);
}

void operations_panel()
{
    if (!gui_topsector())
        return;
    gui_colsector(2, (double)operations_buttonheight, 1.0);
    gui_tooltip("Create a new CNC operation and specify its\nparameters to calculate its toolpath.");
    if (cam_generatingop != -1) {
        gui_label(112, 0, gui_interfacefont, "New Operation");
    } else {
        gui_elementid("operations_newoperation");
        if (gui_iconbutton(ops_new, 112, 0, gui_interfacefont, "New Operation"))
            operations_new();
    }
    gui_colsector(2, 6.0, 1.0);
    gui_popsector();
    int rows = 0;
    for (int i = 0; i < cam_maxprojectops; i++) {
        if (!operations_inuse(i) && i != gui_selectedop)
            break;
        operations_row(i);
        rows++;
    }
    if (rows == 0) {
        gui_colsector(2, (double)operations_rowheight, 1.0);
        gui_centerlabel(gui_interfacefont, "( No Project Operations )");
    }
    gui_popframe(0);
}
