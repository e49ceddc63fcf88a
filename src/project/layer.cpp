// Layer slots. A slot is free while its type is 0; freeing leaves a hole
// that the next allocation fills, and placement after the selected layer
// moves the slots between by one, so a layer is found again by its uid, not
// by its slot. Every slot argument is checked before the table is touched.
#include "project/layer.h"

#include "geom/model.h"
#include "geom/path.h"
#include "geom/plane.h"
#include "img/image.h"
#include "render/draw.h"
#include "render/text.h"
#include "sys/frame.h"
#include "sys/log.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

int32_t numlayers = 0;
int32_t numlayertypes[layer_types] = {};
uint32_t project_meshuses[project_maxmeshes] = {};

levels_curve rasteredit_levels = {{{0.0f, 0.0f}, {0.5f, 0.5f}, {1.0f, 1.0f}}, 3, 0};
int32_t rasteredit_levelsmode = 0;
int32_t rasteredit_levelspoints = 3;
float rasteredit_tilecount = 2.0f;
float rasteredit_tilerows = 2.0f;
float rasteredit_tilefill[2] = {1.0f, 1.0f};
float rasteredit_tileradius = 1.0f;
float rasteredit_ringphase = 0.0f;
float rasteredit_quantlevels = 4.0f;
int32_t rasteredit_quanthq = 0;

static const char *const layer_basenames[layer_types] = {"", "RasterLayer", "PathsLayer", "ModelLayer",
                                                         "TextLayer"};

static bool layer_checkslot(int slot, const char *caller)
{
    if (slot >= 0 && slot < project_maxlayers)
        return true;
    sys_log("%s: layer slot %d out of range", caller, slot);
    return false;
}

static void layer_setname(project_layer &l, const char *name)
{
    snprintf(l.name, sizeof(l.name), "%s", name);
}

// ------------------------------------------------------------- allocation

uint32_t project_layeruid(uint32_t seed)
{
    uint64_t h = seed * 0x376f195577a223dbull;
    h ^= h >> 3;
    h *= 0x5adec7c65b334517ull;
    h ^= h << 9;
    h *= 0x65b6af102d59c6cbull;
    h ^= h >> 17;
    h *= 0x2432d07b704652a1ull;
    h ^= h << 23;
    return (uint32_t)h;
}

// Hundredths of a second of the frame time, wrapped to 32 bits, plus type
// and slot: layers made in one frame still differ.
static uint32_t layer_uidseed(int type, int slot)
{
    double t = std::floor(100.0 * sys_time.load());
    uint32_t ticks = t >= 0.0 && t < 1.8e19 ? (uint32_t)(uint64_t)t : 0u;
    return ticks + (uint32_t)type + (uint32_t)slot;
}

// The seed alone repeats within a frame (type 2 in slot 5 and type 1 in
// slot 6 both add 7), and operations find their layer by uid: step the seed
// until no other live layer holds the hash, nor the free-slot value.
static uint32_t layer_uniqueuid(uint32_t seed, int slot)
{
    for (;; seed++) {
        uint32_t uid = project_layeruid(seed);
        if (uid == 0xFFFFFFFFu)
            continue;
        bool taken = false;
        for (int i = 0; i < project_maxlayers && !taken; i++)
            taken = i != slot && project.layers[i].type != layer_free &&
                    project.layers[i].uid == uid;
        if (!taken)
            return uid;
    }
}

static void layer_setup(project_layer &l, int type, int slot)
{
    const project_record &p = project;
    l.type = type;
    l.blend = layer_blendmaximum;
    l.zfill = 0.0f;
    l.pos[0] = 0.5f * p.size[0];
    l.pos[1] = 0.5f * p.size[1];
    l.pos[2] = 0.0f;
    std::copy(p.size, p.size + 3, l.size);
    l.tilt[0] = l.tilt[1] = 0.0f;
    l.rotation = 0.0f;
    l.crop[0] = l.crop[1] = 0.0f;
    l.crop[2] = l.crop[3] = 1.0f;
    l.flags = 0;
    l.stale = 1;
    // A handle left over from the slot's last use would make a later free
    // release another layer's mesh or text.
    l.data.img = nullptr;
    if (type == layer_model || type == layer_text)
        l.data.mesh = -1;
    l.rendermodel = -1;
    l.uid = layer_uniqueuid(layer_uidseed(type, slot), slot);
}

// Moves the new layer in slot from to the place after the selected layer;
// the layers between shift by one toward where it came from. Returns its
// slot: selected + 1 when it came from above, selected when it came from
// below (the selected layer has then moved down to selected - 1).
static int layer_place(int from, int selected)
{
    project_layer *l = project.layers;
    if (selected < 0 || selected >= project_maxlayers || selected == from)
        return from;
    if (from > selected) {
        std::rotate(l + selected + 1, l + from, l + from + 1);
        return selected + 1;
    }
    std::rotate(l + from, l + from + 1, l + selected + 1);
    return selected;
}

int project_layeralloc(int type)
{
    if (type <= layer_free || type >= layer_types) {
        sys_log("project_layeralloc: invalid layer type:%d", type);
        return -1;
    }
    int slot = 0;
    while (slot < project_maxlayers && project.layers[slot].type != layer_free)
        slot++;
    if (slot == project_maxlayers) {
        sys_error("project_layeralloc: canvas layers overflow!");
        return -1;
    }
    layer_setup(project.layers[slot], type, slot);
    project_layername(slot, layer_basenames[type]);
    slot = layer_place(slot, project_selectedlayer);
    numlayertypes[type]++;
    numlayers++;
    project_changetime = (float)sys_seconds();
    project_saved = 0;
    return slot;
}

// ------------------------------------------------------------------- free

static void layer_freemodel(project_layer &l)
{
    int mesh = l.data.mesh;
    if (mesh >= 0 && mesh < project_maxmeshes) {
        if (project_meshuses[mesh] > 0)
            project_meshuses[mesh]--;
        if (project_meshuses[mesh] == 0)
            mdl_free(mesh);
    } else if (mesh != -1) {
        sys_log("project_layerfree: mesh %d out of range", mesh);
    }
    r_modelfree(l.rendermodel);
    l.rendermodel = -1;
}

// Releases what the slot owns by its type; false for a type that is none of
// the four.
static bool layer_freedata(project_layer &l)
{
    switch (l.type) {
    case layer_raster:
        img_free(l.data.img);
        return true;
    case layer_paths:
        path_free(l.data.pth);
        return true;
    case layer_model:
        layer_freemodel(l);
        return true;
    case layer_text:
        if (l.data.text >= 0 && l.data.text < text_maxobjects && text_objects)
            text_release(l.data.text);
        return true;
    default:
        sys_error("project_layerfree: invalid layer type:%d!", l.type);
        return false;
    }
}

static void layer_reset(project_layer &l)
{
    l.type = layer_free;
    l.flags = 0;
    l.smooth = 0;
    l.blend = layer_blendmaximum;
    l.zfill = 1.0f;
    std::fill(l.pos, l.pos + 3, 0.0f);
    std::fill(l.size, l.size + 3, 0.0f);
    l.tilt[0] = l.tilt[1] = 0.0f;
    l.rotation = 0.0f;
    l.data.img = nullptr;
    l.uid = 0xFFFFFFFFu;
}

// Takes one from a counter; a counter below zero is repaired and reported.
static void layer_uncount(int32_t &counter, const char *message)
{
    if (--counter < 0) {
        sys_error("%s", message);
        counter = 0;
    }
}

void project_layerfree(int slot)
{
    if (!layer_checkslot(slot, "project_layerfree"))
        return;
    // A running save reads the slot's data without a lock.
    project_waitsave();
    project_layer &l = project.layers[slot];
    sys_debuglog("layerfree[%d]...", slot);
    layer_setname(l, "Unused Layer");
    img_free(l.depth);
    l.depth = nullptr;
    int type = l.type;
    bool known = layer_freedata(l);
    layer_reset(l);
    // An unknown type was never counted: the counters stay as they are.
    if (known) {
        char message[64];
        snprintf(message, sizeof(message), "Project numlayertypes[%d] less than zero!", type);
        layer_uncount(numlayertypes[type], message);
        layer_uncount(numlayers, "Project numlayers less than zero!");
    }
    project_changetime = (float)sys_seconds();
    project_saved = 0;
}

// ------------------------------------------------------------------ names

static bool layer_nameclash(int slot, const char *name)
{
    for (int i = 0; i < project_maxlayers; i++) {
        if (i != slot && strncmp(project.layers[i].name, name, project_maxname) == 0)
            return true;
    }
    return false;
}

// The base without a trailing "_" and two digits, cut to the 63 characters
// of a name.
static void layer_stem(char *stem, const char *base)
{
    size_t n = strlen(base);
    if (n >= 3 && base[n - 3] == '_' && isdigit((unsigned char)base[n - 2]) && isdigit((unsigned char)base[n - 1]))
        n -= 3;
    n = std::min(n, (size_t)project_maxname - 1);
    memcpy(stem, base, n);
    stem[n] = '\0';
}

// The first free name of the stem, its numbered forms after it; false when
// all 64 numbers are taken. A numbered name keeps 60 characters of the stem
// so that the suffix fits.
static bool layer_freename(int slot, const char *stem, char *name)
{
    snprintf(name, project_maxname, "%s", stem);
    for (int n = -1;;) {
        bool clash = layer_nameclash(slot, name);
        n++;
        if (!clash && name[0])
            return true;
        if (n >= project_maxlayers)
            return false;
        snprintf(name, project_maxname, "%.60s_%02d", stem, n);
    }
}

const char *project_layername(int slot, const char *base)
{
    if (!layer_checkslot(slot, "project_layername"))
        return nullptr;
    if (!base) {
        sys_log("project_layername: no base name");
        return nullptr;
    }
    char stem[project_maxname], name[project_maxname];
    layer_stem(stem, base);
    sys_debuglog("layername fragment = %s", stem);
    if (!layer_freename(slot, stem, name)) {
        sys_error("project_layername: overflow!");
        snprintf(name, sizeof(name), "UnnamedLayer");
    }
    sys_log("layer[%d].name = %s", slot, name);
    layer_setname(project.layers[slot], name);
    return project.layers[slot].name;
}

const char *project_layernamefrompath(int slot, const char *path)
{
    if (!layer_checkslot(slot, "project_layernamefrompath"))
        return nullptr;
    if (!path) {
        sys_log("project_layernamefrompath: no path");
        return nullptr;
    }
    const char *file = path;
    for (const char *c = path; *c; c++) {
        if (*c == '\\' || *c == '/')
            file = c + 1;
    }
    if (file == path)
        sys_log("filepath excludes directories: %s", path);
    size_t len = strlen(file), keep = len >= 31 ? 30 : len;
    char name[project_maxname];
    for (size_t i = 0; i < keep; i++) {
        unsigned char c = (unsigned char)file[i];
        name[i] = c < 32 || c >= 128 ? '?' : (char)c;
    }
    snprintf(name + keep, sizeof(name) - keep, "%s", len >= 31 ? "..." : "");
    return project_layername(slot, name);
}

// ----------------------------------------------------------- size and place

void project_layerfitsize(int slot)
{
    if (!layer_checkslot(slot, "project_layerfitsize"))
        return;
    project_layer &l = project.layers[slot];
    const float *canvas = project.size;
    sys_log("project aspect: %f", project.aspect);
    sys_log("layer aspect: %f", l.aspect);
    if (project.aspect > l.aspect) {
        l.size[0] = canvas[0];
        l.size[1] = l.size[0] * l.aspect;
    } else if (l.aspect > project.aspect) {
        l.size[1] = canvas[1];
        l.size[0] = l.size[1] / l.aspect;
    } else {
        l.size[0] = canvas[0];
        l.size[1] = canvas[1];
    }
    sys_log("layer[%d] fitsize = %3.2f %3.2f", slot, l.size[0], l.size[1]);
}

int project_findlayeruid(uint32_t uid)
{
    // A free slot holds no layer, whatever its uid word says.
    for (int i = 0; i < project_maxlayers; i++) {
        if (project.layers[i].type != layer_free && project.layers[i].uid == uid)
            return i;
    }
    sys_log("...unknown layer uid:%08X", uid);
    return -1;
}

int project_swaplayers(int i)
{
    if (i < 0 || i >= project_maxlayers - 1) {
        sys_log("project_swaplayers: no slot pair at %d", i);
        return 0;
    }
    std::swap(project.layers[i], project.layers[i + 1]);
    return 1;
}

// ---------------------------------------------------------- frame mapping

// The layer's axes in the world: x along (cos, -sin), y along (sin, cos) of
// the rotation, each negated by its mirror flag.
static void layer_axes(const project_layer *l, double *ax, double *ay)
{
    double s, c;
    math_exactsincos(l->rotation, &s, &c);
    double mx = l->flags & layer_mirrorx ? -1.0 : 1.0, my = l->flags & layer_mirrory ? -1.0 : 1.0;
    ax[0] = c * mx;
    ax[1] = -s * mx;
    ay[0] = s * my;
    ay[1] = c * my;
}

void layer_transformpoint(float *out, const float *p, const project_layer *layer)
{
    double ax[2], ay[2];
    layer_axes(layer, ax, ay);
    double x = (double)p[0] * layer->size[0], y = (double)p[1] * layer->size[1];
    out[0] = (float)(x * ax[0] + y * ay[0] + layer->pos[0]);
    out[1] = (float)(x * ax[1] + y * ay[1] + layer->pos[1]);
    out[2] = p[2] * layer->size[2] + layer->pos[2];
}

// A box side thinner than 0.001 becomes 0.1 layer units wide (0.05 either
// side of its centre) so the layer keeps a size it can be picked by.
static void layer_widen(float &lo, float &hi, float size, char axis)
{
    if (hi - lo >= 0.001f)
        return;
    float centre = 0.5f * (lo + hi), half = 0.05f / size;
    if (!std::isfinite(half))
        half = 0.05f;
    lo = centre - half;
    hi = centre + half;
    sys_log("...clamped %c-bounds: %f, %f", axis, lo, hi);
}

void layer_copystate(project_layer &to, const project_layer &from)
{
    to.flags = from.flags;
    to.smooth = from.smooth;
    to.blend = from.blend;
    to.zfill = from.zfill;
    to.aspect = from.aspect;
    memcpy(to.pos, from.pos, sizeof(to.pos));
    memcpy(to.size, from.size, sizeof(to.size));
    memcpy(to.tilt, from.tilt, sizeof(to.tilt));
    to.rotation = from.rotation;
    memcpy(to.crop, from.crop, sizeof(to.crop));
    to.groups = from.groups;
}

void layer_bounds(int slot)
{
    if (!layer_checkslot(slot, "layer_bounds"))
        return;
    project_layer &l = project.layers[slot];
    if (l.type != layer_paths || !l.data.pth) {
        sys_log("layer_bounds: layer %d holds no path", slot);
        return;
    }
    path_box b = path_bounds(l.data.pth);
    sys_log("layer%02d bounds(%f,%f)(%f,%f)", slot, b.minx, b.miny, b.maxx, b.maxy);
    if (std::fabs(b.maxx - b.minx) > 99999.0f || std::fabs(b.maxy - b.miny) > 99999.0f) {
        sys_log("defaulting layer to project size...");
        l.pos[0] = 0.5f * project.size[0];
        l.pos[1] = 0.5f * project.size[1];
        l.pos[2] = 0.0f;
        std::copy(project.size, project.size + 3, l.size);
        l.rotation = 0.0f;
        return;
    }
    layer_widen(b.minx, b.maxx, l.size[0], 'X');
    layer_widen(b.miny, b.maxy, l.size[1], 'Y');
    path_normalize(l.data.pth, b);
    // The box's centre, moved to the layer's centre, takes the position with
    // it; the drawn path stays in place.
    double ax[2], ay[2];
    layer_axes(&l, ax, ay);
    double cx = 0.5 * ((double)b.minx + b.maxx) * l.size[0], cy = 0.5 * ((double)b.miny + b.maxy) * l.size[1];
    l.pos[0] = (float)(l.pos[0] + cx * ax[0] + cy * ay[0]);
    l.pos[1] = (float)(l.pos[1] + cx * ax[1] + cy * ay[1]);
    l.size[0] *= b.maxx - b.minx;
    l.size[1] *= b.maxy - b.miny;
}
