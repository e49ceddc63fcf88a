// Dialog switching. The toolkit's one door to the project and the online
// services: the Trace dialog recomposes the canvas around its layer, and the
// content-library dialogs fetch the index or prepare the upload when they open.
#include "gui/dialog.h"

#include "gui/element.h"
#include "gui/gui.h"
#include "online/conlib.h"
#include "project/canvas.h"
#include "project/project.h"
#include "sys/config.h"

int32_t gui_dialogid = 0;
int32_t gui_dialoglayer = -1;
int32_t gui_alongpathspreview = 0;

enum dialog_numbers : int32_t {
    dialog_trace = 17,
    dialog_alongpaths = 21,
    dialog_library = 29,
    dialog_upload = 30,
};

static void dialog_teardown(int32_t leaving)
{
    if (leaving == dialog_trace && gui_dialoglayer != -1)
        project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
    if (leaving == dialog_alongpaths)
        gui_alongpathspreview = 0;
}

// The trace height must lie inside the canvas; the canvas shows the layer
// alone while the dialog is open.
static void dialog_opentrace()
{
    float depth = project.size[2], z = cfg_getf(cfg_tracezplane);
    if (!(z > 0.0f && z < depth))
        cfg_setf(cfg_tracezplane, depth / 2.0f);
    if (project_selectedlayer != -1)
        project_updatecanvas(0, canvas_onelayer, (uint32_t)project_layergroup);
}

void gui_setdialog(int32_t n)
{
    dialog_teardown(gui_dialogid);
    if (n == dialog_library)
        conlib_openlibrary();
    else if (n == dialog_upload && !conlib_openupload(project_selectedlayer))
        n = 0;
    else if (n == dialog_trace)
        dialog_opentrace();
    gui_dialoglayer = project_selectedlayer;
    gui_dialogid = n;
    gui_activeid = gui_openid = gui_hotid = -1;
}
