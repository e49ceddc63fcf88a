// Mouse tracking and layer picking in the view. The press record and the
// motion measure decide what a release is; a click (left) picks the layer
// whose screen outline holds the pointer, the smallest when several do, so
// a small layer lying on a large one can always be reached; a right click
// drops the selection. Picking writes the main window's gui_selectedlayer,
// which the layer follow-up then loads into the editor.
#include "view/mouse.h"

#include "geom/drape.h"
#include "geom/plane.h"
#include "gui/gui.h"
#include "project/brush.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/transform.h"
#include "sys/config.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/modes.h"
#include "view/readout.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <cmath>
#include <limits>

view_pressrecord view_press;
float view_motion = 0.0f;
int32_t view_mousestill = 1;
float view_hover[3];
int32_t view_hoverinside = 0;
view_outlinerecord view_outlines[project_maxlayers];

static int32_t mouse_nocapture() { return 0; }
int32_t (*view_windowcapture)() = mouse_nocapture;

int view_ownsmouse()
{
    return gui_hotid == -1 && gui_activeid == -1 && !view_windowcapture() && !view_gizmodrag[0] &&
           !view_gizmodrag[1];
}

void view_snap(float *point)
{
    if (!cfg_geti(cfg_snaptogrid))
        return;
    float step = cfg_getf(cfg_gridsubdiv);
    for (int i = 0; i < 2; i++)
        point[i] = snap_step(point[i] + view_setup.origin[i], step) - view_setup.origin[i];
}

void view_projectoutline(int slot)
{
    static const float corners[5][2] = {{-0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, -0.5f}, {-0.5f, -0.5f}, {-0.5f, 0.5f}};
    view_outlinerecord &o = view_outlines[slot];
    for (int i = 0; i < 5; i++) {
        const float bottom[3] = {corners[i][0], corners[i][1], 0.0f}, top[3] = {corners[i][0], corners[i][1], 1.0f};
        view_calls->project(o.bottom[i], bottom);
        view_calls->project(o.top[i], top);
        o.bottom[i][2] = o.top[i][2] = 0.0f;
    }
}

static void mouse_store()
{
    view_press = {(float)input_mouse[0], (float)input_mouse[1], view_camera.distance};
}

static void mouse_measure()
{
    float dx = (float)input_mouse[0] - view_press.x, dy = (float)input_mouse[1] - view_press.y;
    float dd = view_camera.distance - view_press.distance;
    view_motion = 0.00005f * std::sqrt(dx * dx + dy * dy + dd * dd);
    view_mousestill = view_motion <= 0.0001f;
}

// The canvas (or in project mode 4 the simulation) under the pointer.
static void mouse_hover()
{
    const image *field = projectmode == 4 ? project_canvas.simulation : project_canvas.img;
    view_hoverinside = 0;
    if (!field) {
        view_hover[0] = view_hover[1] = view_hover[2] = std::numeric_limits<float>::infinity();
    } else {
        view_screentoheightfield(view_hover, field, (float)input_mouse[0], (float)input_mouse[1],
                                 projectmode == 4);
        view_hoverinside = view_hover[0] >= 0.0f && view_hover[0] <= project.size[0] && view_hover[1] >= 0.0f &&
                           view_hover[1] <= project.size[1];
        for (int i = 0; i < 3; i++)
            view_hover[i] += view_setup.origin[i];
    }
    for (int i = 0; i < 3; i++)
        view_cursorpoint[i] = view_hover[i];
}

int view_picklayer(float x, float y)
{
    const float point[3] = {x, y, 0.0f};
    float bestarea = 999999.0f;
    int best = -1;
    for (int i = 0; i < project_maxlayers; i++) {
        const project_layer &l = project.layers[i];
        if (l.type == layer_free || (l.flags & layer_hidden) || !((l.groups >> project_layergroup) & 1u) ||
            i == gui_selectedlayer)
            continue;
        // A layer without area has a collapsed outline, which the distance
        // measure finds no side of: it would be "inside" everywhere.
        float area = l.size[0] * l.size[1];
        if (!(area > 0.0f))
            continue;
        float d = con_nearestpoint(point, 1, 5, &view_outlines[i].bottom[0][0], 0);
        if (!(d > 0.0f))
            continue;
        sys_log("clicking layer[%d] (area:%f dist:%f)", i, area, d);
        if (area <= bestarea) {
            bestarea = area;
            best = i;
        }
    }
    return best;
}

// No edit mode is active: picking would fight the edit's own clicks.
static int mouse_noeditmode()
{
    return project_rastertool == -1 && project_pathslayeredit < 0 && project_textlayeredit == -1;
}

// An edit mode without a layer to edit: reported once as it begins.
static void mouse_checkedit()
{
    static int reported = 0;
    int orphan = gui_selectedlayer == -1 && (project_rastertool != -1 || project_pathslayeredit != -1);
    if (orphan && !reported)
        sys_log("!!! FAIL set:%d active:%d raster:%d curves:%d", gui_selectedlayer, -1, project_rastertool,
                project_pathslayeredit);
    reported = orphan;
}

static void mouse_click(int button)
{
    if (!view_mousestill || !mouse_noeditmode() || !view_ownsmouse())
        return;
    if (button == key_mouseright) {
        gui_selectedlayer = -1;
        return;
    }
    float w = sys_drawable[0] > 0 ? (float)sys_drawable[0] : 1.0f;
    float h = sys_drawable[1] > 0 ? (float)sys_drawable[1] : 1.0f;
    int picked = view_picklayer(2.0f * (float)input_mouse[0] / w - 1.0f, 1.0f - 2.0f * (float)input_mouse[1] / h);
    if (picked >= 0)
        gui_selectedlayer = picked;
}

static int mouse_pressed(int key) { return input_keyframe[key] && !input_keyprev[key]; }
static int mouse_released(int key) { return !input_keyframe[key] && input_keyprev[key]; }

void view_mouse()
{
    mouse_hover();
    mouse_measure();
    if (projectmode != 1)
        return;
    mouse_checkedit();
    if (mouse_pressed(key_mouseleft))
        mouse_store();
    else if (mouse_released(key_mouseleft))
        mouse_click(key_mouseleft);
    if (mouse_pressed(key_mouseright))
        mouse_store();
    else if (mouse_released(key_mouseright))
        mouse_click(key_mouseright);
}
