// Tools and the tool library. The cutting diameter is what every generator
// offsets by, so it is derived in one place for the tool records and the
// library's sort alike.
#include "cam/tool.h"

#include "cam/cam.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/waits.h"

#include <cmath>
#include <cstdio>
#include <cstring>

tool cam_tools[cam_maxtools];
int cam_numtools = 0;
uint8_t cam_toollibview[256];

constexpr double tool_pi = 3.14159265358979323846;

// The library's value arrays, in the order they follow the names.
enum toollib_value { lib_type, lib_flutes, lib_length, lib_flutediameter, lib_flutelength, lib_aux, lib_ramp, lib_values };

float cam_tooldiameter(int type, float d, float *flutelength, float aux, float keep)
{
    double a = aux * tool_pi / 180.0;
    double l = *flutelength;
    switch (type) {
    case tool_cylinder:
        return d;
    case tool_tapered:
        return (float)(tan(a) * 2.0 * l + d);
    case tool_vbit:
        *flutelength = (float)((d / 2.0) / tan(a / 2.0));
        return d;
    case tool_taperball:
        // d is the ball radius; the cone touches the ball where its slope
        // meets the sphere, at (d cos a, d (1 - sin a)) from the tip.
        return (float)(2.0 * d * cos(a) + 2.0 * (l - (1.0 - sin(a)) * d) * tan(a));
    }
    return keep;
}

static int tool_valid(int n, const char *fn)
{
    if (n >= 1 && n <= cam_maxtools)
        return 1;
    sys_log("%s: no tool %d", fn, n);
    return 0;
}

static int tool_readersbusy()
{
    if (project.updatingcanvas)
        return 1;
    for (const camop &op : cam_ops)
        if (op.generating)
            return 1;
    return 0;
}

static void tool_logline(int n)
{
    const tool &t = cam_tools[n - 1];
    sys_log("cam_settool: tool%d type%d units:%d dia:%f fdia%f flen%f faux%f len%f ramp%f", n, t.type, t.units,
            t.diameter, t.flutediameter, t.flutelength, t.aux, t.length, t.rampangle);
}

// Operations that use a changed tool must be generated again.
static void tool_markops(int n)
{
    for (projop &e : project.ops)
        if (e.tool == n && e.camop >= 0 && e.camop < cam_maxops && cam_ops[e.camop].type != 0)
            e.current = 0;
    project_changetime = (float)sys_seconds();
    project_saved = 0;
}

int cam_settool(int n, const char *name, int type, int units, int flutes, float flutediameter, float flutelength,
                float aux, float length, float rampangle)
{
    if (!tool_valid(n, "cam_settool"))
        return 0;
    // A generator may need the frame mutex for a GPU step: the main thread
    // lets it go while it waits.
    if (!sys_waitunlocked([] { return !tool_readersbusy(); }, tool_busylimit, "cam_settool")) {
        sys_log("cam_settool: tool%d kept, a toolpath is still being calculated", n);
        sys_status("...busy: try again when the toolpath is calculated");
        return 0;
    }
    // A running save reads the tool without a lock.
    if (!project_waitsave()) {
        sys_log("cam_settool: tool%d kept, a save still runs", n);
        return 0;
    }
    tool &t = cam_tools[n - 1];
    int before = t.type;
    t.type = type;
    t.units = units;
    t.flutes = flutes;
    t.length = length;
    t.flutelength = flutelength;
    t.flutediameter = flutediameter;
    t.aux = aux;
    t.rampangle = rampangle;
    if (type < tool_none || type > tool_taperball)
        sys_error("cam_settool(%d): unknown tool type %d", n, type);
    t.diameter = cam_tooldiameter(type, flutediameter, &t.flutelength, aux, t.diameter);
    tool_logline(n);
    if (before == tool_none && type != tool_none)
        cam_numtools++;
    else if (before != tool_none && type == tool_none)
        cam_numtools--;
    snprintf(project.tools[n - 1].name, sizeof(project.tools[n - 1].name), "%s", name ? name : "");
    if (type == tool_none)
        return 1;
    tool_markops(n);
    sys_status("...set tool%02d \"%s\"", n, project.tools[n - 1].name);
    return 1;
}

float cam_toolparam(int n)
{
    return tool_valid(n, "cam_toolparam") ? cam_tools[n - 1].diameter : 0.0f;
}

int cam_toolunits(int n)
{
    return tool_valid(n, "cam_toolunits") ? cam_tools[n - 1].units : 0;
}

int cam_tooltype(int n)
{
    return tool_valid(n, "cam_tooltype") ? cam_tools[n - 1].type : 0;
}

float cam_toolunitsfactor(int n)
{
    int units = cam_toolunits(n);
    if (units == 2 && project.units == 1)
        return 0.03937008f;
    if (units == 1 && project.units == 2)
        return 25.4f;
    return 1.0f;
}

void cam_settooldefaults()
{
    float length = 0.0f, flutelength = 0.0f, flutediameter = 0.0f;
    if (project.units == 1) {
        sys_log("tools to inch defaults");
        length = 1.5f, flutelength = 1.0f, flutediameter = 0.25f;
    } else if (project.units == 2) {
        sys_log("tools to metric defaults");
        length = 75.0f, flutelength = 25.0f, flutediameter = 6.0f;
    }
    for (int n = 1; n <= cam_maxtools; n++) {
        cam_tools[n - 1] = tool{tool_none, (int32_t)project.units, 2, length, flutelength, flutediameter, 0.0f,
                                20.0f, flutediameter};
        projtool &e = project.tools[n - 1];
        snprintf(e.name, sizeof(e.name), "None");
        for (int32_t &op : e.ops)
            op = -1;
        tool_logline(n);
    }
    cam_numtools = 0;
}

static uint8_t *lib_value(int array, int slot)
{
    return cfg + cfg_toolvalues + array * cfg_toolcount * 4 + slot * 4;
}

static int32_t lib_geti(int array, int slot)
{
    int32_t v;
    memcpy(&v, lib_value(array, slot), 4);
    return v;
}

static float lib_getf(int array, int slot)
{
    float v;
    memcpy(&v, lib_value(array, slot), 4);
    return v;
}

static float lib_key(int column, int slot)
{
    int type = lib_geti(lib_type, slot);
    float d = lib_getf(lib_flutediameter, slot), l = lib_getf(lib_flutelength, slot);
    float aux = lib_getf(lib_aux, slot);
    if (column == 2)
        return (float)type;
    // A metric tool is stored with its type negated; its shape is the same.
    float diameter = cam_tooldiameter(type < 0 ? -type : type, d, &l, aux, 0.0f);
    return column == 3 ? diameter : l;
}

void cam_sorttoollib(int column, int sign)
{
    if (column == 1) {
        for (int i = 0; i < cfg_toolcount; i++)
            cam_toollibview[i] = (uint8_t)(sign >= 1 ? i : cfg_toolcount - 1 - i);
        return;
    }
    if (column < 2 || column > 4) {
        sys_log("cam_sorttoollib: no column %d", column);
        return;
    }
    float keys[cfg_toolcount];
    for (int slot = 0; slot < cfg_toolcount; slot++)
        keys[slot] = lib_key(column, slot) * (float)sign;
    // Bubble passes; an empty slot only ever moves back, behind the filled.
    for (int swapped = 1; swapped;) {
        swapped = 0;
        for (int i = 0; i + 1 < cfg_toolcount; i++) {
            int a = cam_toollibview[i], b = cam_toollibview[i + 1];
            if (lib_geti(lib_type, b) == 0)
                continue;
            if (lib_geti(lib_type, a) != 0 && !(keys[b] < keys[a]))
                continue;
            cam_toollibview[i] = (uint8_t)b;
            cam_toollibview[i + 1] = (uint8_t)a;
            swapped = 1;
        }
    }
}

void cam_swaplibtools(int i)
{
    if (i < 0 || i + 1 >= cfg_toolcount) {
        sys_log("cam_swaplibtools: no view position %d", i);
        return;
    }
    int a = cam_toollibview[i], b = cam_toollibview[i + 1];
    auto swap = [](uint8_t *x, uint8_t *y, int bytes) {
        uint8_t t[cfg_toolnamesize];
        memcpy(t, x, bytes);
        memcpy(x, y, bytes);
        memcpy(y, t, bytes);
    };
    swap(cfg + cfg_toolnames + a * cfg_toolnamesize, cfg + cfg_toolnames + b * cfg_toolnamesize, cfg_toolnamesize);
    for (int v = 0; v < lib_values; v++)
        swap(lib_value(v, a), lib_value(v, b), 4);
}
