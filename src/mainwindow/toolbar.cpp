// The toolbar strip. Each button is drawn from its state in this frame: an
// action that cannot run now is a plain label with the same icon and no
// name. A key acts as a click only on the frame it goes down with Ctrl held,
// and only where the button itself could be clicked.
#include "mainwindow/toolbar.h"

#include "gui/dialog.h"
#include "render/drawstate.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/numbers.h"
#include "gui/sector.h"
#include "gui/textedit/textedit.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "mainwindow/fileactions.h"
#include "mainwindow/menus.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/framing.h"
#include "view/modes.h"
#include "view/readout.h"
#include "view/view.h"

#include <cmath>
#include <cstdio>

constexpr int32_t toolbar_id = 10900; // buttons: this plus their place in the strip
constexpr int toolbar_keye = 5, toolbar_keyr = 18, toolbar_keys = 19, toolbar_keyz = 26;
constexpr float toolbar_finestinch = 1.0f / 32.0f, toolbar_coarsestinch = 1.0f;

enum toolbar_slot {
    tb_new, tb_open, tb_save, tb_export,
    tb_home, tb_mode, tb_projection, tb_hidetoolpath, tb_occlude,
    tb_grid, tb_snap, tb_coarser, tb_finer,
    tb_measure, tb_undo, tb_redo, tb_tutorials,
};

static int32_t toolbar_idof(toolbar_slot b)
{
    return toolbar_id + (int32_t)b;
}

// Ctrl and the letter, the letter down on this frame and up on the last.
static int toolbar_ctrlkey(int letter)
{
    return input_keyframe[key_ctrl] && input_keyframe[letter] && !input_keyprev[letter];
}

static int toolbar_button(toolbar_slot b, const char *name, int icon, const char *tooltip)
{
    if (name)
        gui_elementid("%s", name);
    gui_tooltip("%s", tooltip);
    return gui_iconbutton(toolbar_idof(b), icon, 0, gui_interfacefont, nullptr);
}

static void toolbar_label(int icon)
{
    gui_label(icon, 0, gui_interfacefont, nullptr);
}

// ------------------------------------------------------------ project buttons

static void toolbar_save()
{
    int busy = project_savebusy.load() != 0;
    int clean = project_hasfile && !fileact_unsaved();
    if (busy || clean || fileact_blocked()) {
        toolbar_label(busy ? 363 : 52);
        if (toolbar_ctrlkey(toolbar_keys) && fileact_blocked())
            fileact_refuse("save the project");
        return;
    }
    char tip[2300];
    if (project_hasfile)
        snprintf(tip, sizeof(tip), "Save project to: \"%s\"\n(CTRL+S)", project.path);
    else
        snprintf(tip, sizeof(tip), "Save project as...\n(CTRL+S)");
    if (toolbar_button(tb_save, "project_save", 52, tip) | toolbar_ctrlkey(toolbar_keys))
        fileact_save();
}

static void toolbar_project()
{
    if (fileact_blocked()) {
        toolbar_label(39);
        toolbar_label(45);
    } else {
        if (toolbar_button(tb_new, "project_new", 39, "Create a new blank project."))
            fileact_new();
        if (toolbar_button(tb_open, "project_open", 45, "Open an existing project from disk."))
            fileact_open();
    }
    toolbar_save();
    if (toolbar_button(tb_export, "gcode_export", 351, "Export project G-code.\n(CTRL+E)") |
        toolbar_ctrlkey(toolbar_keye))
        fileact_exportgcode();
}

// ------------------------------------------------------------ view buttons

static int toolbar_viewbusy()
{
    return view_dragstates[0] || view_dragstates[1] || view_dragstates[2];
}

// While the camera is turned in 2D the mode button blinks at 2.5 Hz to say
// the view will not turn.
static int toolbar_turning2d()
{
    int button = cfg_geti(cfg_swapcamerabuttons) ? key_mouseleft : key_mouseright;
    return cfg_geti(cfg_viewmode2d) && gui_hotid == -1 && gui_activeid == -1 && !toolbar_viewbusy() &&
           input_keyframe[button];
}

static void toolbar_viewmode()
{
    int flat = cfg_geti(cfg_viewmode2d);
    if (toolbar_turning2d()) {
        int shown = (int)(sys_time * 5.0) % 2 == 0;
        if (shown)
            toolbar_label(134);
        else
            gui_popsector();
        return;
    }
    if (!toolbar_button(tb_mode, "view_mode", flat ? 134 : 135,
                        flat ? "Switch to 3D view mode." : "Switch to 2D view mode."))
        return;
    cfg_seti(cfg_viewmode2d, !flat);
    view_redraw = 1;
    if (flat) {
        view_reset(2);
        sys_status("3D view mode active");
    } else {
        cfg_seti(cfg_perspective, 0);
        sys_status("2D view mode active");
    }
}

// Orthographic and perspective frame the same canvas: the distance is scaled
// by the tangent of half the field of view, and back.
static void toolbar_projection()
{
    if (cfg_geti(cfg_viewmode2d)) {
        toolbar_label(128);
        return;
    }
    int perspective = cfg_geti(cfg_perspective);
    if (!toolbar_button(tb_projection, "view_projection", perspective ? 129 : 128,
                        perspective ? "Switch to Orthographic Projection." : "Switch to Perspective Projection."))
        return;
    float t = tanf(cfg_getf(cfg_fov) * 0.5f * (float)M_PI / 180.0f);
    if (perspective) {
        view_camera.distance *= t;
        cfg_seti(cfg_perspective, 0);
        sys_status("orthogonal view active");
    } else {
        view_camera.distance /= t;
        cfg_seti(cfg_perspective, 1);
        sys_status("perspective view active");
    }
    view_redraw = 1;
}

static void toolbar_toolpaths()
{
    int shown = view_toolpathsvisible;
    if (toolbar_button(tb_hidetoolpath, "view_hidetoolpath", shown ? 87 : 88,
                       shown ? "Hide Toolpaths." : "Show Toolpaths.")) {
        view_toolpathsvisible = !shown;
        view_redraw = 1;
        sys_status(shown ? "toolpath drawing disabled" : "toolpath drawing enabled");
    }
    static const int icons[3] = {158, 133, 132};
    static const char *const tips[3] = {"Always Showing Toolpaths.", "Hiding Occluded Toolpaths.",
                                        "Showing Occluded Toolpaths."};
    static const char *const statuses[3] = {"drawing all toolpaths", "hiding occluded toolpaths",
                                            "showing occluded toolpaths"};
    int mode = cfg_geti(cfg_toolpathocclusion);
    if (mode < 0 || mode > 2)
        mode = 0;
    if (toolbar_button(tb_occlude, "view_occludetoolpath", icons[mode], tips[mode])) {
        mode = (mode + 1) % 3;
        cfg_seti(cfg_toolpathocclusion, mode);
        view_redraw = 1;
        sys_status("%s", statuses[mode]);
    }
}

static void toolbar_toggle(toolbar_slot b, const char *name, int field, const int icons[2],
                           const char *const tips[2], const char *const statuses[2])
{
    int on = cfg_geti(field) != 0;
    if (!toolbar_button(b, name, icons[on], tips[on]))
        return;
    cfg_seti(field, !on);
    view_redraw = 1;
    sys_status("%s", statuses[!on]);
}

float toolbar_gridstep(float step, int units, int up)
{
    if (units == 1) {
        float g = up ? step * 2.0f : step * 0.5f;
        return fminf(fmaxf(g, toolbar_finestinch), toolbar_coarsestinch);
    }
    if (units == 2)
        return gui_nicestep(step, up);
    return step;
}

void toolbar_gridtext(char *out, int cap, float step, int units)
{
    if (units == 1)
        snprintf(out, (size_t)cap, "1/%d\" grid = %.3f\"", (int)(1.0f / step + 0.5f), step);
    else
        snprintf(out, (size_t)cap, "1/%dcm grid = %.2fmm", (int)(10.0f / step + 0.5f), step);
}

static void toolbar_gridsteps()
{
    int units = (int)project.units;
    if (units != 1 && units != 2) {
        toolbar_label(140);
        toolbar_label(141);
        return;
    }
    int coarser = toolbar_button(tb_coarser, nullptr, 140, "Coarser grid.");
    int finer = toolbar_button(tb_finer, nullptr, 141, "Finer grid.");
    if (!coarser && !finer)
        return;
    float g = cfg_getf(cfg_gridsubdiv);
    float next = toolbar_gridstep(g, units, coarser);
    if (next == g)
        return;
    cfg_setf(cfg_gridsubdiv, next);
    view_redraw = 1;
    char text[64];
    toolbar_gridtext(text, (int)sizeof(text), next, units);
    sys_status("%s", text);
}

static void toolbar_view()
{
    if (toolbar_button(tb_home, "view_home", 32, "Return camera to default\nposition and orientation.")) {
        view_reset(2);
        sys_status("home view");
    }
    toolbar_viewmode();
    toolbar_projection();
    toolbar_toolpaths();
    gui_popsector();
    static const int gridicons[2] = {119, 118}, snapicons[2] = {139, 138};
    static const char *const gridtips[2] = {"Show grid plane.", "Hide grid plane."};
    static const char *const gridstatus[2] = {"show-grid disabled", "show-grid enabled"};
    static const char *const snaptips[2] = {"Enable snap-to-grid.", "Disable snap-to-grid."};
    static const char *const snapstatus[2] = {"snap-to-grid disabled", "snap-to-grid enabled"};
    toolbar_toggle(tb_grid, "view_showgrid", cfg_showgrid, gridicons, gridtips, gridstatus);
    toolbar_toggle(tb_snap, "view_snaptogrid", cfg_snaptogrid, snapicons, snaptips, snapstatus);
    toolbar_gridsteps();
}

// ------------------------------------------------------------ measure, undo, redo

static void toolbar_measure()
{
    int editing = project_rastertool != -1 || project_pathslayeredit != -1 || project_textlayeredit != -1;
    if (editing || toolbar_viewbusy() || view_capture) {
        view_measuretool.on = 0;
        toolbar_label(550);
        return;
    }
    int on = view_measuretool.on != 0;
    if (!toolbar_button(tb_measure, "view_measure", on ? 551 : 550,
                        on ? "Disable distance measure tool." : "Enable distance measure tool."))
        return;
    view_redraw = 1;
    if (on) {
        view_measuretool.on = 0;
        return;
    }
    view_measuretool.on = 1;
    view_measuretool.present = 0;
    if (gui_selectedlayer != -1)
        gui_selectedlayer = -1;
    sys_status("left-click first point");
}

// Undo and redo replay canvas events; none may run while a job reads or
// writes the layers.
static int toolbar_canstep()
{
    return projectmode == 1 && !project_canvasjob.updating.load() && !project.generating[0].load() &&
           !project.generating[1].load() && !project_savebusy.load();
}

static void toolbar_step(toolbar_slot b, const char *name, int icon, const char *tip, int possible, int letter,
                         int32_t *request)
{
    if (!possible) {
        toolbar_label(icon);
        return;
    }
    int key = !text_editstate.string && toolbar_ctrlkey(letter);
    if (toolbar_button(b, name, icon, tip) | key) {
        *request = 1;
        gui_unappliedchanges = 0;
    }
}

static void toolbar_undoredo()
{
    int can = toolbar_canstep();
    toolbar_step(tb_undo, "canvas_undo", 53, "Undo Canvas Action\n(CTRL+Z).", can && event_position > event_oldest,
                 toolbar_keyz, &gui_undorequest);
    toolbar_step(tb_redo, "canvas_redo", 54, "Redo Canvas Action\n(CTRL+R).", can && event_end > event_position,
                 toolbar_keyr, &gui_redorequest);
}

static void toolbar_tutorials()
{
    if (gui_dialogid == 28) {
        toolbar_label(35);
        return;
    }
    if (toolbar_button(tb_tutorials, nullptr, 35, "Show Interactive Tutorials."))
        menus_opentutorials();
}

void toolbar_draw()
{
    const gui_rect *strip = gui_topsector();
    if (!strip)
        return;
    double b = strip->h, gap = 0.01;
    gui_rowsector(toolbar_cells, 0.1, b, b, b, b, gap, b, b, b, b, b, gap, b, b, b, b, gap, b, gap, b, b, gap, b,
                  1.0);
    gui_popsector();
    toolbar_project();
    gui_popsector();
    toolbar_view();
    gui_popsector();
    toolbar_measure();
    gui_popsector();
    toolbar_undoredo();
    gui_popsector();
    toolbar_tutorials();
    gui_popsector();
}
