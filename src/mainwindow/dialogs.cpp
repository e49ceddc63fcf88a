// The dialog table and the placement every dialog window shares. Bodies are
// filled in by the dialogs' own components; until one is, its dialog shows
// its title bar and a "Cancel" button, so no menu item leads to a window that
// cannot be closed.
#include "mainwindow/dialogs.h"
#include "mainwindow/toollib.h"

#include "gui/dialog.h"
#include "render/drawstate.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "mainwindow/addlayer.h"
#include "mainwindow/operations.h"
#include "project/project.h"
#include "sys/main.h"

#include <cmath>
#include <cstdio>

// The Trace dialog names the layer it traces.
static const char *dialogs_tracetitle()
{
    static char title[128];
    int32_t l = gui_dialoglayer;
    const char *name = l >= 0 && l < project_maxlayers ? project.layers[l].name : "Layer";
    snprintf(title, sizeof(title), "Trace %s to Paths-Layer", name);
    return title;
}

// In the order the pass tests them.
dialogs_entry dialogs_table[] = {
    {8, 375.0f, 0, "UI Settings", nullptr, nullptr},
    {9, 450.0f, 0, "View Settings", nullptr, nullptr},
    {10, 400.0f, 0, "Simulation Settings", nullptr, nullptr},
    {11, 400.0f, 0, "CNC/CAM Settings", nullptr, nullptr},
    {13, 350.0f, 0, "Predefined Themes", nullptr, nullptr},
    {14, 500.0f, 50, "Add Layer", nullptr, addlayer_draw},
    {15, 500.0f, 0, "Shapes From Paths", nullptr, nullptr},
    {16, 450.0f, 0, "Load Tool", toollib_title, toollib_dialog},
    {17, 400.0f, 0, "Trace %s to Paths-Layer", dialogs_tracetitle, nullptr},
    {18, 500.0f, 0, "Stroke Paths", nullptr, nullptr},
    {19, 0.0f, 0, "About", nullptr, nullptr},
    {20, 400.0f, 0, "Export G-Code", nullptr, nullptr},
    {21, 560.0f, 0, "Raster Along Path(s)", nullptr, nullptr},
    {22, 570.0f, 0, "Operation Type", nullptr, operations_typechooser},
    {23, 500.0f, 0, "Fit Canvas to Layers", nullptr, nullptr},
    {24, 450.0f, 0, "Scale by Geometry", nullptr, nullptr},
    {25, 0.0f, 0, "Character Map", nullptr, nullptr},
    {26, 450.0f, 0, "Expand/Contract Selection", nullptr, nullptr},
    {27, 450.0f, 0, "Feather Selection", nullptr, nullptr},
    {28, 470.0f, 0, "Interactive Tutorials", nullptr, nullptr},
    {29, 850.0f, 0, "Content Library", nullptr, nullptr},
    {30, 850.0f, 0, "Upload Layer", nullptr, nullptr},
};
const int dialogs_count = (int)(sizeof(dialogs_table) / sizeof(dialogs_table[0]));

dialogs_entry *dialogs_find(int32_t n)
{
    for (dialogs_entry &d : dialogs_table)
        if (d.number == n)
            return &d;
    return nullptr;
}

// A screen position of 1 px or less would be read as a fraction of the
// screen, so the lowest position is the drag's own bound of 2 px.
static float dialogs_clamp(float v, float high)
{
    return fmaxf(fminf(v, high), 2.0f);
}

// A window whose opener sets the width but whose body is not built yet
// still needs a readable width for its title and its "Cancel".
constexpr float dialogs_placeholderwidth = 400.0f;

void dialogs_place(const dialogs_entry &d)
{
    if (d.width > 0.0f)
        gui_dialogsize[0] = d.width;
    else if (!d.body)
        gui_dialogsize[0] = dialogs_placeholderwidth;
    float sw = (float)sys_drawable[0], sh = (float)sys_drawable[1];
    // The first dialog of the run opens near the middle of the screen, not
    // over the menus; later ones open where the last was left. A placed
    // dialog is never at 0, 0: the clamp keeps it 2 px from the edges.
    if (gui_dialogpos[0] == 0.0f && gui_dialogpos[1] == 0.0f) {
        gui_dialogpos[0] = 0.5f * (sw - gui_dialogsize[0]);
        gui_dialogpos[1] = 0.25f * sh;
    }
    gui_dialogpos[0] = dialogs_clamp(gui_dialogpos[0], sw - gui_dialogsize[0]);
    gui_dialogpos[1] = dialogs_clamp(gui_dialogpos[1], sh - dialogs_bottommargin);
    float h = fmaxf(gui_dialogsize[1], 2.0f * dialogs_titleheight);
    gui_beginwindow(dialogs_windowbase + d.number, gui_dialogpos[0], gui_dialogpos[1], gui_dialogsize[0], h, 1,
                    nullptr);
    gui_colsector(2, (double)dialogs_titleheight, 1.0);
    gui_glyphbutton(dialogs_titlebase + d.number, d.icon, 0, gui_interfacefont, "%s", d.titlefn ? d.titlefn() : d.title);
}

// The placeholder body: one "Cancel" row, then an empty row of no height
// left on top, whose place gives the window its measured height.
static void dialogs_placeholder()
{
    gui_colsector(3, (double)dialogs_rowheight, 0.0, 1.0);
    gui_elementid("dialog_cancel");
    if (gui_button(dialogs_cancelid, gui_interfacefont, 1, "Cancel"))
        gui_setdialog(0);
}

void dialogs_draw()
{
    dialogs_entry *d = gui_dialogid ? dialogs_find(gui_dialogid) : nullptr;
    if (!d)
        return;
    dialogs_place(*d);
    if (d->body)
        d->body();
    else
        dialogs_placeholder();
    gui_endwindow();
}
