// The Add Layer dialog's body: six buttons in pairs (a blank layer beside
// the loader of the same type), the content library, the "Fit to Canvas"
// check box with the usage box, and "Cancel". Every action runs in the
// frame of its click; one that made a layer closes the dialog.
#include "mainwindow/addlayer.h"

#include "gui/dialog.h"
#include "gui/element.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "mainwindow/dialogs.h"
#include "mainwindow/import/loaders.h"
#include "project/project.h"
#include "project/undo.h"
#include "render/drawstate.h"
#include "sys/config.h"
#include "view/modes.h"

constexpr int32_t addlayer_librarydialog = 29; // the content library browser

enum addlayer_element : int32_t {
    addlayer_info = addlayer_id,
    addlayer_newraster,
    addlayer_loadraster,
    addlayer_newpaths,
    addlayer_loadpaths,
    addlayer_newtext,
    addlayer_loadmodel,
    addlayer_library,
    addlayer_fit,
    addlayer_cancel,
};

constexpr float addlayer_pairheight = 48.0f; // two lines of label
constexpr float addlayer_rowheight = 36.0f;

static const char addlayer_usage[] =
    "A new layer starts blank, or is loaded from an image, vector or 3d-geometry file, or taken from the "
    "online Content Library.\n\n"
    "Raster-layers and paths-layers of your own can be submitted to the Content Library for others to use.\n\n"
    "Paths-layers can also be traced from the canvas, or from raster-, text- and model-layers (Trace to "
    "Paths), and raster-layers can be generated from paths-layers by several functions.\n\n"
    "\"Fit to Canvas\" scales loaded media to fill the canvas; without it a file keeps its own scale.";

// One button of the dialog.
struct addlayer_button {
    int32_t id;
    const char *name;
    int icon;
    const char *label;
    const char *tooltip;
};

static const addlayer_button addlayer_buttons[] = {
    {addlayer_newraster, "addlayer_newraster", 40, "New Raster-Layer",
     "Create a blank raster-layer with\nthe canvas' current resolution."},
    {addlayer_loadraster, "addlayer_loadraster", 41, "Load Image/Vector\n as Raster-Layer",
     "Load an image/vector file\nas a new raster-layer."},
    {addlayer_newpaths, "addlayer_newpaths", 89, "New Paths-Layer",
     "Create a blank paths-layer\nfor drawing new paths by hand."},
    {addlayer_loadpaths, "addlayer_loadpaths", 131, "Load Vector\n as Paths-Layer",
     "Load a vector/2D-geometry\nfile as a new paths-layer."},
    {addlayer_newtext, "addlayer_newtext", 136, "New Text-Layer",
     "Create a new text-layer for adding text\nusing TrueType/OpenType fonts from the system."},
    {addlayer_loadmodel, "addlayer_loadmodel", 130, "Load Geometry\n as Model-Layer",
     "Load a 3d-geometry file\nas a new model-layer."},
    {addlayer_library, "addlayer_library", 399, "Content Library",
     "Browse user-submitted raster/paths\ncontent to add to a project's canvas."},
};

static int addlayer_press(const addlayer_button &b)
{
    gui_elementid("%s", b.name);
    gui_tooltip("%s", b.tooltip);
    return gui_iconbutton(b.id, b.icon, 0, gui_interfacefont, "%s", b.label);
}

// A blank layer becomes the selection; the dialog stays open when none
// could be made.
static int addlayer_blank(int type)
{
    gui_selectedlayer = project_addlayer(type);
    if (gui_selectedlayer == -1)
        return 0;
    gui_setdialog(0);
    return 1;
}

// The click's action: 1 when it closed the dialog.
static int addlayer_act(int32_t id)
{
    switch (id) {
    case addlayer_newraster:
        return addlayer_blank(layer_raster);
    case addlayer_loadraster:
        return layer_loadimage();
    case addlayer_newpaths:
        return addlayer_blank(layer_paths);
    case addlayer_loadpaths:
        return layer_loadpaths();
    case addlayer_newtext:
        return addlayer_blank(layer_text);
    case addlayer_loadmodel:
        return layer_loadmodel();
    default:
        gui_setdialog(addlayer_librarydialog);
        return 1;
    }
}

static void addlayer_fitrow()
{
    gui_rowsector(2, 1.0, (double)addlayer_rowheight);
    int fit = cfg_geti(cfg_fittocanvas) != 0;
    gui_elementid(fit ? "addlayer_fittocanvas_disable" : "addlayer_fittocanvas_enable");
    gui_tooltip("Scales loaded media to fit canvas.\nDisable to use file's native scaling.");
    cfg_seti(cfg_fittocanvas, gui_checkbox(addlayer_fit, fit, "Fit to Canvas"));
    gui_infobutton(addlayer_info, addlayer_usage);
}

void addlayer_draw()
{
    if (projectmode != 1) {
        gui_setdialog(0);
        return;
    }
    // Three pairs, the library alone, the check box, "Cancel", then an empty
    // row of no height whose place measures the window.
    gui_colsector(8, (double)addlayer_pairheight, (double)addlayer_pairheight, (double)addlayer_pairheight,
                  (double)addlayer_rowheight, (double)addlayer_rowheight, (double)dialogs_rowheight, 0.0, 1.0);
    for (int pair = 0; pair < 3; pair++) {
        gui_rowsector(2, 1.0, 1.0);
        for (int i = 2 * pair; i < 2 * pair + 2; i++)
            if (addlayer_press(addlayer_buttons[i]) && addlayer_act(addlayer_buttons[i].id))
                return;
    }
    if (addlayer_press(addlayer_buttons[6]) && addlayer_act(addlayer_library))
        return;
    addlayer_fitrow();
    gui_elementid("dialog_cancel");
    if (gui_iconbutton(addlayer_cancel, 102, 0, gui_interfacefont, "Cancel"))
        gui_setdialog(0);
}
