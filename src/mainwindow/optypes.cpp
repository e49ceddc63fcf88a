// The operation editor's type options: the branches of the 17 operation
// types, the rows several of them share, and the defaults a change of type
// loads. The profile and tessellation branches pack their values into
// 16-bit codes and live in opcodes.cpp.
#include "mainwindow/optypes.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "geom/plane.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/textfield.h"
#include "gui/widgets/values.h"
#include "mainwindow/opcodes.h"
#include "mainwindow/opeditor.h"
#include "project/layer.h"
#include "project/project.h"
#include "render/drawstate.h"
#include "gui/calls.h"
#include "sys/log.h"
#include "view/modes.h"
#include "view/oppreview.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr float optypes_rowheight = 30.0f;
constexpr float optypes_knobheight = 40.0f;

enum : int32_t {
    id_angle = 14200,
    id_angleup,
    id_angledown,
    id_anglereset,
    id_contourinput,
    id_invert,
    id_contourz,
    id_contourzreset,
    id_pathslayer,
    id_pathsalert,
    id_chevw,
    id_chevh,
    id_spiralx,
    id_spiralxreset,
    id_spiraly,
    id_spiralyreset,
    id_spiralr,
    id_spiralrreset,
    id_variance,
    id_mirror, // 4 entries
    id_advec = id_mirror + 4,
    id_advecreset,
    id_advecinfo,
    id_mindia,
    id_maxdia,
    id_depthoffset,
    id_depthoffsetreset,
    id_smoothing,
    id_minsurf,
    id_noedges,
    id_perturb,
    id_perturbsmooth,
    id_thresh,
    id_light,
    id_dark,
    id_followcanvas,
    id_tooloffs,
    id_trochdir,
    id_diaerror,
    id_layeritem = 14300, // + layer slot
};

const char *const optypes_contournames[3] = {"Trace Canvas", "Paths-Layer", "All Paths-Layers"};

// Each branch with a picker keeps its layer slot, -1 until found.
int32_t optypes_layerslot[camop_types];
// Float views of the AUX words the viewport reads this frame.
float optypes_preview[3];

void optypes_row(float h = optypes_rowheight)
{
    gui_colsector(2, (double)h, 1.0);
}

void optypes_changed()
{
    gui_unappliedchanges = 1;
}

// A checkbox on one of the record's flag variables.
void optypes_flagbox(const char *name, int32_t id, const char *label, const char *tip, int32_t *flag)
{
    gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    const int v = gui_checkbox(id, *flag, label);
    if (v != *flag) {
        *flag = v;
        optypes_changed();
    }
}

float auxf(int i)
{
    return opeditor_auxf(opeditor, i);
}

void setauxf(int i, float v)
{
    if (auxf(i) != v || std::isnan(auxf(i))) {
        opeditor_setauxf(opeditor, i, v);
        optypes_changed();
    }
}

void optypes_auxtext(int i)
{
    opeditor_formatlength(opeditor.auxtext[i], auxf(i), (int32_t)project.units);
}

int optypes_reset(const char *name, int32_t id, const char *tip)
{
    gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    return gui_iconbutton(id, 65, 0, gui_interfacefont, " ");
}

// A knob on AUX[i] that shows the value x 100 and stores it x 0.01.
void optypes_percentknob(const char *name, int32_t id, const char *fmt, const char *tip, int i, float lo, float hi,
                         float speed)
{
    gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    setauxf(i, gui_valueknob(id, fmt, auxf(i) * 100.0f, lo, hi, speed) * 0.01f);
}

void optypes_angle(const char *tip)
{
    optypes_row(optypes_knobheight);
    gui_rowsector(4, 1.0, 60.0, 60.0, (double)optypes_rowheight);
    gui_tooltip("%s", tip);
    gui_elementid("op_cutangle");
    setauxf(0, gui_valueknob(id_angle, "Cut Angle: %.2f", auxf(0), -180.0f, 180.0f, 0.25f));
    gui_tooltip("Increment angle by 11.25 degrees.");
    if (gui_button(id_angleup, gui_interfacefont, 1, "+11.25"))
        setauxf(0, optypes_anglestep(auxf(0), 1));
    gui_tooltip("Decrement angle by 11.25 degrees.");
    if (gui_button(id_angledown, gui_interfacefont, 1, "-11.25"))
        setauxf(0, optypes_anglestep(auxf(0), 0));
    if (optypes_reset("op_cutangle_reset", id_anglereset, "Reset angle to zero degrees."))
        setauxf(0, 0.0f);
}

// A length field on AUX[i] with its text.
void optypes_lengthfield(const char *name, int32_t id, const char *label, const char *tip, int i, uint32_t flags)
{
    gui_tooltip("%s", tip);
    gui_elementid("%s", name);
    if (!gui_textfield(id, 0, label, opeditor_lengthsuffix(), opeditor.auxtext[i], flags, opeditor_textsize - 1))
        return;
    float v;
    if (sscanf(opeditor.auxtext[i], "%f", &v) == 1 && std::isfinite(v))
        setauxf(i, v);
    optypes_auxtext(i);
}

void optypes_chevron()
{
    optypes_row();
    gui_rowsector(3, 90.0, 1.0, 1.0);
    gui_label(0, 0, gui_interfacefont, "Dimensions:");
    optypes_lengthfield("op_chev_width", id_chevw, "W", "Width of chevron pattern.", 1, 1 | 4);
    optypes_lengthfield("op_chev_height", id_chevh, "H", "Height of chevron pattern.", 2, 1 | 4);
    optypes_angle("Angle of chevron cuts.");
}

void optypes_spiral()
{
    const char *names[2][2] = {{"op_spiral_x", "op_spiral_x_reset"}, {"op_spiral_y", "op_spiral_y_reset"}};
    const char *fmts[2] = {"X: %.1f%%", "Y: %.1f%%"};
    const char *tips[2] = {"Reset spiral center X to middle of canvas.", "Reset spiral center Y to middle of canvas."};
    for (int i = 0; i < 2; i++) {
        optypes_row(optypes_knobheight);
        gui_rowsector(2, 1.0, (double)optypes_rowheight);
        optypes_percentknob(names[i][0], id_spiralx + 2 * i, fmts[i], "Spiral center as a percentage\nof the canvas from its middle.", i, -50.0f, 50.0f, 0.1f);
        if (optypes_reset(names[i][1], id_spiralxreset + 2 * i, tips[i]))
            setauxf(i, 0.0f);
    }
    if (project.units == 1 || project.units == 2) {
        optypes_row(optypes_knobheight);
        gui_rowsector(2, 1.0, (double)optypes_rowheight);
        char fmt[32];
        const bool inch = project.units == 1;
        snprintf(fmt, sizeof(fmt), inch ? "Radius %%.2f%s" : "Radius %%.1f%s", opeditor_lengthsuffix());
        gui_tooltip("Maximum spiral radius\n(zero = no limit).");
        gui_elementid("op_spiral_radius");
        setauxf(2, gui_valueknob(id_spiralr, fmt, auxf(2), 0.0f, std::fmax(project.size[0], project.size[1]),
                                 inch ? 0.01f : 0.5f));
        if (optypes_reset("op_spiral_reset", id_spiralrreset, "No spiral radius limit."))
            setauxf(2, 0.0f);
    }
    for (int i = 0; i < 3; i++) {
        optypes_preview[i] = auxf(i);
        oppreview_spiral[i] = &optypes_preview[i];
    }
}

void optypes_labyrinth()
{
    optypes_row(optypes_knobheight);
    gui_tooltip("Randomness/disorder of labyrinth.");
    gui_elementid("op_maze_variance");
    setauxf(1, gui_valueknob(id_variance, "Variance: %2.0f", auxf(1), 1.0f, 32.0f, 1.0f));
    optypes_row();
    gui_valuetext(gui_interfacefont, 0, "Maze Symmetry:");
    const char *names[4] = {"op_maze_mirror_x", "op_maze_mirror_y", "op_maze_mirror_90", "op_maze_mirror_180"};
    const char *labels[4] = {"horizontal", "vertical", "90 degrees", "180 degrees"};
    optypes_row();
    gui_rowsector(2, 1.0, 1.0);
    for (int b = 0; b < 4; b++) {
        if (b == 2) {
            optypes_row();
            gui_rowsector(2, 1.0, 1.0);
        }
        gui_elementid("%s", names[b]);
        const int on = (opeditor.aux[2] >> b) & 1;
        if (gui_checkbox(id_mirror + b, on, labels[b]) != on) {
            opeditor.aux[2] ^= 1u << b;
            optypes_changed();
        }
    }
}

// The two stipple diameters: *lo and *hi are the minimum and the maximum.
void optypes_stipplediameters(float *lo, float *hi, bool dithered)
{
    opeditor_record &r = opeditor;
    optypes_row(optypes_knobheight);
    gui_rowsector(2, 1.0, 1.0);
    if (!opeditor_toolvalid(r.tool)) {
        gui_tooltip("Minimum stipple diameter.\n(Choose a tool first!)");
        gui_elementid("op_stip_mindia");
        gui_valueknob(id_mindia, "Min Dia %.1f", 0.0f, -1.0f, 1.0f, 0.1f);
        gui_tooltip("Maximum stipple diameter.\n(Choose a tool first!)");
        gui_elementid("op_stip_maxdia");
        gui_valueknob(id_maxdia, "Max Dia %.1f", 0.0f, -1.0f, 1.0f, 0.1f);
        return;
    }
    const float d = cam_toolparam(r.tool) * cam_toolunitsfactor(r.tool);
    if (dithered) {
        *lo = std::fmax(*lo, 0.0f);
        if (*lo > *hi)
            *hi = *lo;
    }
    const bool metric = project.units != 1;
    const float speed = metric ? 0.1f : 0.005f;
    const float lomax = !dithered && metric ? *hi : d, himin = !dithered && metric ? *lo : 0.0f;
    gui_tooltip("Minimum stipple diameter.");
    gui_elementid("op_stip_mindia");
    float v = gui_valueknob(id_mindia, metric ? "Min Dia %0.1fmm" : "Min Dia %.3f\"", *lo, 0.0f, lomax, speed);
    if (v != *lo) {
        *lo = v;
        optypes_changed();
    }
    gui_tooltip("Maximum stipple diameter.");
    gui_elementid("op_stip_maxdia");
    v = gui_valueknob(id_maxdia, metric ? "Max Dia %0.1fmm" : "Max Dia %.3f\"", *hi, himin, d, speed);
    if (v != *hi) {
        *hi = v;
        optypes_changed();
    }
    *hi = std::fmin(*hi, d);
    if (*lo > *hi)
        *lo = *hi;
}

void optypes_stippling()
{
    optypes_row(optypes_knobheight);
    gui_rowsector(3, 1.0, (double)optypes_rowheight, (double)optypes_rowheight);
    optypes_percentknob("op_stip1_advec", id_advec, "Advection: %.0f%%", "Moves stipples along the canvas slope.", 0,
                        -100.0f, 100.0f, 1.0f);
    if (optypes_reset("op_stip1_advec_reset", id_advecreset, "Reset advection to zero."))
        setauxf(0, 0.0f);
    gui_infobutton(id_advecinfo,
                   "Advection moves stipples across the canvas. Positive values move them from high areas toward "
                   "deep areas, with high areas giving small stipples: dark stipples on a light ground. Negative "
                   "values move them the other way and invert their size.");
    float lo = auxf(1), hi = auxf(2);
    optypes_stipplediameters(&lo, &hi, false);
    setauxf(1, lo);
    setauxf(2, hi);
}

void optypes_depthoffset()
{
    optypes_row();
    gui_rowsector(2, 1.0, (double)optypes_rowheight);
    optypes_lengthfield("op_depthoffset", id_depthoffset, "Depth Offset",
                        "Depth to offset generated cutpaths to.\nZero equals top of project's canvas.", 1, 4 | 8);
    if (optypes_reset("op_depthoffset_reset", id_depthoffsetreset, "Reset depth offset\nto top of project.")) {
        setauxf(1, 0.0f);
        optypes_auxtext(1);
    }
}

void optypes_smoothing(const char *tip)
{
    const bool inch = project.units == 1;
    optypes_row();
    gui_rowsector(2, 110.0, 1.0);
    gui_label(0, 0, gui_interfacefont, "Smoothing: %.*f%s", inch ? 2 : 1, (double)auxf(1), opeditor_lengthsuffix());
    gui_tooltip("%s", tip);
    gui_elementid("op_smoothing");
    setauxf(1, gui_valueslider(id_smoothing, "%.2f", auxf(1), 0.0f, inch ? 0.25f : 6.5f, inch ? 0.01f : 0.1f));
}

void optypes_offsetmilling()
{
    opeditor_record &r = opeditor;
    if (r.step > 0.0f) {
        optypes_smoothing("Inner cut smoothing radius to reduce\nspikes in forces exerted on machine.");
        return;
    }
    if (r.step != 0.0f)
        return;
    optypes_row(optypes_knobheight);
    gui_tooltip("Minimum surface-steepness angle to\ngenerate horizontal finishing cuts for.");
    gui_elementid("op_horz_minsurf");
    setauxf(0, gui_valueknob(id_minsurf, "Min. Surface Angle: %2.2fdeg", auxf(0), 0.0f, 80.0f, 0.05f));
    optypes_row();
    optypes_flagbox("op_horz_noedges", id_noedges, "Ignore Perimeter",
                    "Prevent creation of cuts along the\ninside of the canvas perimeter.", &r.typeoption);
}

void optypes_conformal()
{
    optypes_angle("Angle of form-following cuts.");
    optypes_row(optypes_knobheight);
    gui_rowsector(2, 1.0, 1.0);
    gui_tooltip("Amount canvas gradient field\ndisplaces cutpath shape.");
    gui_elementid("op_conf_perturb");
    setauxf(1, gui_valueknob(id_perturb, "Perturb Amount: %1.2f", auxf(1), 0.0f, 1.0f, 0.01f));
    gui_tooltip("Amount to smooth the\ndisplacement of cutpaths.");
    gui_elementid("op_conf_smoothing");
    setauxf(2, gui_valueknob(id_perturbsmooth, "Perturb Smoothing: %2.1f", auxf(2), 1.0f, 32.0f, 0.1f));
}

void optypes_dithered()
{
    opeditor_record &r = opeditor;
    optypes_row(optypes_knobheight);
    optypes_percentknob("op_stip2_thresh", id_thresh, "Threshold: %.1f%%",
                        "Threshold beneath which stipples\nare to be placed at. Higher\nvalues yield more stipples.", 0,
                        0.0f, 100.0f, 0.1f);
    optypes_row(optypes_knobheight);
    gui_rowsector(2, 1.0, 1.0);
    optypes_percentknob("op_stip2_light", id_light, "Lighten: %.0f",
                        "Amount to decrease stipple potential\naround each placed stipple.", 1, 5.0f, 95.0f, 1.0f);
    optypes_percentknob("op_stip2_dark", id_dark, "Darken: %.0f",
                        "Amount to increase stipple potential\nwhere stipples are not placed.", 2, 5.0f, 95.0f, 1.0f);
    optypes_stipplediameters(&r.step, &r.z_doc, true);
}

// Paths Carving keeps the uid in AUX[0], its options in AUX[1]'s bits.
void optypes_pathscarving()
{
    opeditor_record &r = opeditor;
    optypes_pathspicker(0);
    optypes_row();
    gui_rowsector(2, 1.0, 1.0);
    gui_tooltip("Cut along canvas surface instead\nof at fixed Z cutting depths.");
    gui_elementid("op_pcut_followcanvas");
    const int follow = r.aux[1] & 1;
    if (gui_checkbox(id_followcanvas, follow, "Follow Canvas") != follow) {
        r.aux[1] ^= 1u;
        optypes_changed();
    }
    if (!(r.aux[1] & 1)) {
        r.aux[1] &= ~2u;
        gui_label(0, 0, gui_interfacefont, "Tool Offset");
        return;
    }
    const int offs = (r.aux[1] >> 1) & 1;
    gui_tooltip("Cutpaths are offset by cutter geometry\nto prevent cuts from intersecting canvas.");
    gui_elementid("op_pcut_tooloffs_%s", offs ? "disable" : "enable");
    if (gui_checkbox(id_tooloffs, offs, "Tool Offset") != offs) {
        r.aux[1] ^= 2u;
        optypes_changed();
    }
}

void optypes_trochoidal(int word, const char *name, const char *label, const char *tip)
{
    opeditor_record &r = opeditor;
    optypes_row();
    if (r.dir != 2) {
        gui_centerlabel(gui_interfacefont, "Currently no options for operation.");
        return;
    }
    const int climb = auxf(word) >= 0.5f;
    gui_tooltip("%s", tip);
    gui_elementid("%s", name ? name : climb ? "op_troch_conv" : "op_troch_climb");
    if (gui_iconbutton(id_trochdir, 0, 0, gui_interfacefont, label, climb ? "Climb" : "Conventional"))
        setauxf(word, climb ? 0.0f : 1.0f);
}

// Types 6, 10, 15, 16, 17: the contour input with the uid in AUX[2].
void optypes_contourinput(int invert)
{
    optypes_contourrow(invert);
    if (opeditor.contourmode == 0)
        optypes_contourheight();
    else if (opeditor.contourmode == 1)
        optypes_pathspicker(2);
}

} // namespace

float optypes_anglestep(float degrees, int up)
{
    const float v = up ? std::fmin(degrees + 11.25f, 180.0f) : std::fmax(degrees - 11.25f, -180.0f);
    return snap_step(v, 11.25f);
}

void optypes_cyclecontour()
{
    opeditor_record &r = opeditor;
    const int word = r.type == 8 ? 0 : 2;
    r.contourmode = (r.contourmode + 1) % 3;
    if (r.contourmode == 1) {
        sys_log("contour source: paths-layer");
        r.aux[word] = 0;
        if (r.type >= 0 && r.type < camop_types)
            optypes_layerslot[r.type] = -1;
    } else if (r.contourmode == 2) {
        sys_log("contour source: all paths-layers");
    } else {
        sys_log("contour source: canvas trace");
        opeditor_setauxf(r, 0, 0.5f * project.size[2]);
        optypes_auxtext(0);
    }
    optypes_changed();
}

void optypes_contourrow(int invert)
{
    opeditor_record &r = opeditor;
    optypes_row();
    if (invert)
        gui_rowsector(2, 1.0, 90.0);
    gui_tooltip("Cycle between possible contour input modes for generating cutpaths.");
    gui_elementid("op_contourinput");
    const int m = r.contourmode >= 0 && r.contourmode <= 2 ? r.contourmode : 0;
    if (gui_iconbutton(id_contourinput, 0, 0, gui_interfacefont, "Contour: %s", optypes_contournames[m]))
        optypes_cyclecontour();
    if (invert) {
        optypes_flagbox("op_invertcontour", id_invert, "Invert",
                        "Invert contour input so that outer-most contours\nare treated as islands instead of pockets.",
                        &r.invert);
    }
    if (r.contourmode == 2) {
        r.aux[r.type == 8 ? 0 : 2] = (uint32_t)r.group;
        oppreview_pathslayer = -2;
    }
}

void optypes_contourheight()
{
    opeditor_record &r = opeditor;
    const bool carved = r.type == 6 || r.type == 8;
    char fmt[48];
    const float z = project.size[2];
    snprintf(fmt, sizeof(fmt), "Contour Z: %%.%df%s/%.1f%%%%", (int)(project.units == 1 ? 4 : project.units == 2 ? 2 : 0),
             opeditor_lengthsuffix(), z > 0.0f ? (double)(100.0f * auxf(0) / z) : 0.0);
    optypes_row(optypes_knobheight);
    gui_rowsector(2, 1.0, (double)optypes_rowheight);
    gui_tooltip("%s", carved ? "Z-height to contour canvas for\nextracting shapes to be carved."
                             : "Z-height to contour canvas for\nextracting shapes to be milled.");
    gui_elementid("op_contour_z");
    setauxf(0, gui_valueknob(id_contourz, fmt, auxf(0), 0.0f, z, project.units == 1 ? 0.001f : 0.01f));
    if (optypes_reset("op_contour_z_reset", id_contourzreset,
                      r.type == 6 ? "Set contouring height to exact\nvertical middle of canvas."
                                  : "Set contouring Z-height to exact\nvertical middle of canvas.")) {
        setauxf(0, 0.5f * z);
        optypes_auxtext(0);
    }
    optypes_preview[0] = auxf(0);
    oppreview_contourz = &optypes_preview[0];
    oppreview_contourmode = r.type;
}

// Step 1 of the picker: the cached slot follows the stored uid; a uid no
// layer has any more is reported once and forgotten.
static int optypes_findlayer(int word)
{
    opeditor_record &r = opeditor;
    int32_t &slot = optypes_layerslot[r.type];
    const uint32_t uid = r.aux[word];
    const bool none = r.type == 12 ? uid == 0xFFFFFFFFu : uid == 0;
    if (none)
        return -1;
    if (slot >= 0 && slot < project_maxlayers && project.layers[slot].uid == uid &&
        project.layers[slot].type == layer_paths)
        return slot;
    sys_log("op%02d \"%s\" paths-layer.id:%08X != layer[%02d].id:%08X", gui_selectedop, opeditor.name, uid, slot,
            slot >= 0 && slot < project_maxlayers ? project.layers[slot].uid : 0u);
    const int found = project_findlayeruid(uid);
    if (found >= 0 && project.layers[found].type == layer_paths) {
        slot = found;
        sys_log("...reacquired paths-layer.id:%08X == layer[%02d]", uid, found);
        return found;
    }
    slot = -1;
    gui_calls->messagebox(camop_typenames[r.type], "The paths-layer that was previously used by this operation cannot be found!",
                   0, 4, 0);
    if (r.type == 12) {
        r.aux[0] = 0xFFFFFFFFu;
        r.aux[2] = 0xFFFFFFFFu;
    } else {
        r.aux[word] = 0;
    }
    return -1;
}

void optypes_pathspicker(int word)
{
    opeditor_record &r = opeditor;
    if (r.type < 0 || r.type >= camop_types)
        return;
    const int slot = optypes_findlayer(word);
    const uint32_t bit = 1u << (r.group >= 0 && r.group < project_maxgroups ? r.group : 0);
    int count = 0;
    for (int i = 0; i < project_maxlayers; i++)
        count += project.layers[i].type == layer_paths && (project.layers[i].groups & bit);
    optypes_row();
    if (slot < 0)
        gui_rowsector(2, 1.0, (double)optypes_rowheight);
    const gui_rect *cell = gui_topsector();
    const float rows = (float)(count ? count : 1);
    gui_tooltip("Paths-layer to take contours from.");
    gui_elementid("op_pathslayer");
    if (gui_dropdown(id_pathslayer, 0.0f, 20.0f, cell ? cell->w : 200.0f, rows * optypes_rowheight, "Paths-Layer: %s",
                     slot >= 0 ? project.layers[slot].name : "( Select Paths-Layer )")) {
        if (!count)
            gui_label(0, 0, gui_interfacefont, "No paths-layers in group %d", r.group);
        for (int i = 0, n = 0; i < project_maxlayers; i++) {
            const project_layer &l = project.layers[i];
            if (l.type != layer_paths || !(l.groups & bit))
                continue;
            if (++n < count)
                optypes_row();
            gui_elementid("op_layer%02d", i);
            if (gui_radiobutton(id_layeritem + i, slot == i, gui_interfacefont, "%s", l.name)) {
                optypes_layerslot[r.type] = i;
                r.aux[word] = l.uid;
                if (r.type == 12)
                    r.aux[2] = (uint32_t)i;
                sys_log("op[%d] selected layer[%d].uid=%08X", gui_selectedop, i, l.uid);
                optypes_changed();
            }
        }
        gui_endwindow();
    }
    if (slot < 0)
        gui_alertbutton(id_pathsalert, "A valid paths-layer must be selected. Only paths-layers included in the "
                                       "operation's currently selected Layer Group are shown.");
    oppreview_pathslayer = optypes_layerslot[r.type];
}

void optypes_forgetlayers()
{
    for (int32_t &s : optypes_layerslot)
        s = -1;
}

void optypes_draw()
{
    opeditor_record &r = opeditor;
    switch (r.type) {
    case 1:
        optypes_angle("Angle of parallel cuts.");
        break;
    case 2:
        optypes_chevron();
        break;
    case 3:
        optypes_spiral();
        break;
    case 4:
        optypes_labyrinth();
        break;
    case 5:
        optypes_stippling();
        break;
    case 6:
        optypes_contourinput(1);
        optypes_depthoffset();
        break;
    case 7:
        optypes_offsetmilling();
        break;
    case 8:
        opcodes_profile();
        break;
    case 9:
        optypes_conformal();
        break;
    case 10:
        optypes_contourinput(1);
        optypes_smoothing("Inner-cut smoothing radius to reduce\nspikes in forces exerted on machine.");
        break;
    case 11:
        optypes_dithered();
        break;
    case 12:
        optypes_pathscarving();
        break;
    case 13:
        opcodes_tessellation();
        break;
    case 14:
        optypes_trochoidal(0, "op_trochdir", "Spiral Cut Direction: %s",
                           "Direction of spiral cut that\neach pocket begins with.");
        break;
    case 15:
        optypes_contourinput(1);
        if (r.dir == 2)
            optypes_trochoidal(1, nullptr, "Spiral Direction: %s",
                               "Direction of initial spiral cut that each pocket\nbegins with with for a Mixed cutting "
                               "direction.");
        break;
    case 16:
        optypes_contourinput(0);
        optypes_row(optypes_knobheight);
        optypes_percentknob("op_diametererror", id_diaerror, "Diameter Deviation: %.1f%%",
                            "Fraction of tool diameter that circular contours are allowed to deviate\nby before "
                            "being excluded from generated drilling toolpath.",
                            1, 0.0f, 100.0f, 0.1f);
        break;
    case 17:
        optypes_contourinput(1);
        break;
    default:
        break;
    }
}

void optypes_settype(int t)
{
    opeditor_record &r = opeditor;
    const int32_t units = (int32_t)project.units;
    r.type = t;
    r.contourmode = 0;
    opeditor_loadtypevalues(&r, t);
    if (t >= 0 && t < camop_types)
        optypes_layerslot[t] = -1;
    // 1. Chevron size by units.
    if (t == 2 && (units == 1 || units == 2)) {
        opeditor_setauxf(r, 1, units == 1 ? 0.5f : 10.0f);
        opeditor_setauxf(r, 2, units == 1 ? 0.5f : 10.0f);
    }
    // 2. Dithered stipple diameters from the tool.
    if (t == 11) {
        const float d = opeditor_toolvalid(r.tool)
                            ? 0.25f * cam_toolparam(r.tool) * cam_toolunitsfactor(r.tool)
                            : (units == 1 ? 0.125f : 3.0f);
        r.step = r.z_doc = d;
        r.percent = 0;
    }
    // 3. Linking and sorting.
    if (t == 7) {
        r.link = 1;
        r.sort = 0;
    } else if (t == 8 || t == 10) {
        r.sort = 0;
    } else if (t == 6) {
        r.sort = 1;
    }
    // 4. The entry method.
    if (!(r.entry == 2 && (t == 7 || t == 10)))
        r.entry = t == 5 || t == 11 ? 0 : 1;
    // 5. Contour heights and the profile's resets.
    if (t == 6 || t == 8 || t == 10 || t == 15)
        opeditor_setauxf(r, 0, 0.5f * project.size[2]);
    if (t == 8) {
        r.step = r.stock = 0.0f;
        r.outline = r.islands = 0;
    }
    // 6. Paths Carving's empty uid; tessellation sliders from their codes.
    if (t == 12) {
        r.aux[0] = 0xFFFFFFFFu;
        r.aux[2] = 0;
    }
    if (t == 13) {
        r.tesscuts = (float)(r.aux[0] >> 16);
        r.tesscols = (float)(r.aux[1] & 0xFFFF);
        r.tessrows = (float)(r.aux[1] >> 16);
    }
    // 7. Texts of the fields that show values.
    opeditor_settexts(&r, units);
    for (int i = 0; i < 3; i++)
        optypes_auxtext(i);
}
