// Layer blobs and the replay of undo/redo events. Reading is split in two:
// a blob is first staged (record and data read into temporaries, every size
// checked by the bounded reader), then installed into the slot layout, which
// cannot fail. So a damaged or truncated blob is refused before any slot
// moves, and the slot layout, numlayers and numlayertypes stay right.
#include "project/undo.h"

#include "geom/model.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "img/chunk.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"
#include "project/transform.h"
#include "render/draw.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "sys/thread.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

int32_t project_selectlayer = -1;
int16_t project_pathpanels[4] = {};
layer_gizmorecord layer_gizmostate = {};
int32_t view_canvaschanged = 0;

static int layer_defaultmeshmodel(int mesh)
{
    if (mesh < 0 || mesh >= mdl_maxmodels)
        return -1;
    int rm = r_modelnew();
    if (rm < 0)
        return -1;
    mesh_drawtris(&models[mesh]);
    r_modelend();
    return rm;
}

// A named upload hands back a live slot unchanged: the old texture goes
// first, so the surface shows the selection just made.
static void project_defaultselectiontexture(const image *img)
{
    int32_t &slot = project_canvas.selectiontexture;
    if (slot != -1)
        r_freetexture(slot);
    slot = img_texture("selection", img, 1);
}

int (*layer_meshmodel)(int mesh) = layer_defaultmeshmodel;
void (*job_refreshtexture)(void *slot) = job_layerrefreshtex;
void (*project_selectiontexture)(const image *img) = project_defaultselectiontexture;

static const char *const event_names[event_types] = {
    "null event",        "canvas state",    "fit canvas",      "layer state", "layer swapnext",
    "layer addremove",   "layer addmulti",  "layer mergedown", "layer data",  "raster selection"};

static bool layer_slotok(int slot, const char *caller)
{
    if (slot >= 0 && slot < project_maxlayers)
        return true;
    sys_log("%s: layer slot %d out of range", caller, slot);
    return false;
}

// ------------------------------------------------------------- writing

// A text-layer without a text object writes a record marked free (font -1).
static void layer_writetext(msg_stream *m, int32_t text)
{
    text_object t{};
    t.font = -1;
    t.texture = -1;
    if (text >= 0 && text < text_maxobjects && text_objects)
        t = text_objects[text];
    msg_write(m, &t, (int32_t)sizeof(t));
}

int layer_write(msg_stream *m, int slot)
{
    if (!layer_slotok(slot, "layer_write"))
        return 0;
    const project_layer &l = project.layers[slot];
    msg_write(m, &l, (int32_t)sizeof(l));
    sys_debuglog("...wrote layer[%d] %.3fx%.3fx%.3f (%db)", slot, l.size[0], l.size[1], l.size[2], m->position);
    switch (l.type) {
    case layer_raster:
        img_write(m, l.data.img);
        break;
    case layer_paths:
        if (l.data.pth) {
            msg_writepath(m, l.data.pth);
        } else {
            // A paths-layer always reads back with a path: an empty one.
            path *empty = path_new();
            if (!empty) {
                m->failed = 1;
                return 0;
            }
            msg_writepath(m, empty);
            path_free(empty);
        }
        break;
    case layer_model:
        model_write(m, l.data.mesh, 0);
        break;
    case layer_text:
        layer_writetext(m, l.data.text);
        break;
    default:
        sys_debuglog("failed to write layer data (type:%d)", l.type);
        return !m->failed;
    }
    sys_debuglog("...wrote layer[%d] data (%db)", slot, m->position);
    return !m->failed;
}

int layer_write(int slot)
{
    return layer_write(&msg_main, slot);
}

uint8_t *layer_blob(int slot, int32_t *size)
{
    msg_stream m;
    if (!msg_alloc(&m)) {
        sys_log("layer_blob: no buffer for layer[%02d]", slot);
        return nullptr;
    }
    if (!layer_write(&m, slot)) {
        sys_free(m.buffer);
        return nullptr;
    }
    *size = m.position;
    return m.buffer;
}

// ------------------------------------------------------------- staging

// A layer blob read and checked, not yet in a slot.
struct layer_staged {
    project_layer record;
    image *img = nullptr;
    path *pth = nullptr;
    int32_t mesh = -1;
    text_object text;
    bool ok = false;
};

static void layer_discard(layer_staged &s)
{
    img_free(s.img);
    path_free(s.pth);
    mdl_free(s.mesh);
    s.img = nullptr;
    s.pth = nullptr;
    s.mesh = -1;
    s.ok = false;
}

static bool layer_stagedata(msg_stream *m, layer_staged &s)
{
    switch (s.record.type) {
    case layer_raster:
        s.img = img_read(m, img_pack16);
        // A raster-layer written without an image reads back as one.
        return !m->failed;
    case layer_paths:
        s.pth = path_read(m, 0, path_formraw);
        return s.pth != nullptr;
    case layer_model:
        s.mesh = model_read(m, 0);
        return s.mesh >= 0;
    case layer_text:
        return msg_read(m, &s.text, (int32_t)sizeof(s.text)) && !m->failed;
    default:
        sys_log("layer_read: bad layer type:%d", s.record.type);
        return false;
    }
}

// Reads a layer blob into s; false (logged, nothing kept) when it is bad.
static bool layer_stage(msg_stream *m, layer_staged &s)
{
    s = layer_staged{};
    if (!msg_read(m, &s.record, (int32_t)sizeof(s.record)) || m->failed) {
        sys_log("layer_read: the layer record passes the end of the blob");
        return false;
    }
    s.record.name[project_maxname - 1] = '\0';
    if (!layer_stagedata(m, s) || m->failed) {
        sys_log("layer_read: the data of a layer of type %d cannot be read", s.record.type);
        layer_discard(s);
        return false;
    }
    s.ok = true;
    return true;
}

// The text object of a staged text-layer in a free slot: string (forced
// terminated), hash, font and sizes from the blob; image and texture never.
static int32_t layer_installtext(const text_object &b)
{
    if (!text_objects || b.font < 0 || !sys_fontlist || b.font >= sys_fontcount) {
        if (b.font != -1)
            sys_log("layer_read: text font %d is not a font", b.font);
        return -1;
    }
    int slot = 0;
    while (slot < text_maxobjects && text_objects[slot].font >= 0)
        slot++;
    if (slot == text_maxobjects) {
        sys_error("text_alloc: overflow!");
        return -1;
    }
    text_object &t = text_objects[slot];
    t.busy = 0;
    t.updated = 0;
    img_free(t.img);
    t.img = nullptr;
    t.texture = -1;
    memcpy(t.text, b.text, sizeof(t.text));
    t.text[text_maxchars - 1] = '\0';
    t.hash = b.hash;
    t.font = b.font;
    sys_fontlist[b.font].uses++;
    t.ptsize = b.ptsize;
    t.drawsize = b.drawsize;
    t.spacing = b.spacing;
    return slot;
}

// Puts a staged layer into a free slot; the staged data belongs to the
// slot afterwards.
static void layer_install(layer_staged &s, int slot)
{
    project_layer &l = project.layers[slot];
    l = s.record;
    l.data.img = nullptr;
    l.rendermodel = -1;
    switch (l.type) {
    case layer_raster:
        l.data.img = s.img;
        break;
    case layer_paths:
        l.data.pth = s.pth;
        break;
    case layer_model:
        l.data.mesh = s.mesh;
        project_meshuses[s.mesh]++;
        l.rendermodel = layer_meshmodel ? layer_meshmodel(s.mesh) : -1;
        break;
    case layer_text:
        l.data.text = layer_installtext(s.text);
        break;
    }
    s.img = nullptr;
    s.pth = nullptr;
    s.mesh = -1;
    s.ok = false;
    sys_debuglog("...read layer[%d] type:%d %.3fx%.3fx%.3f", slot, l.type, l.size[0], l.size[1], l.size[2]);
    l.depth = nullptr;
    l.stale = 1;
    numlayertypes[l.type]++;
    numlayers++;
}

int layer_read(msg_stream *m, int slot)
{
    if (!layer_slotok(slot, "layer_read"))
        return 0;
    layer_staged s;
    if (!layer_stage(m, s))
        return 0;
    layer_install(s, slot);
    return 1;
}

int layer_read(int slot)
{
    return layer_read(&msg_main, slot);
}

// ---------------------------------------------------------- adding layers

static void layer_queueadd(int slot)
{
    msg_stream m;
    if (!msg_alloc(&m)) {
        sys_log("layer_event: no buffer for layer[%02d]", slot);
        return;
    }
    layer_write(&m, slot);
    sys_log("layer[%02d] event (remove:%d)", slot, 0);
    if (!m.failed)
        event_queue(event_layeraddremove, slot, 0, nullptr, (uint32_t)m.position, m.buffer);
    sys_free(m.buffer);
}

void layer_event(int slot)
{
    if (layer_slotok(slot, "layer_event"))
        layer_queueadd(slot);
}

static bool project_newdata(int slot)
{
    project_layer &l = project.layers[slot];
    if (l.type == layer_paths) {
        l.data.pth = path_new();
        return l.data.pth != nullptr;
    }
    if (l.type == layer_raster) {
        char name[32];
        snprintf(name, sizeof(name), "raster%02d", slot);
        l.data.img = img_allocfloat(name, project.pixelwidth, project.pixelheight);
        if (!l.data.img)
            return false;
        memset(l.data.img->pixels, 0, (size_t)project.pixelwidth * (size_t)project.pixelheight * 4);
        l.stale = 1;
        project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
        return true;
    }
    float f = cfg_getf(cfg_canvasquality);
    int font = project_textfont >= 0 ? project_textfont : 0;
    l.data.text = text_alloc(font, 25.0f, 0.0f, ((1.0f - f) * 0.1f + f) * (float)project.ppi, "Text");
    l.size[0] = l.size[1] = 0.0f;
    return l.data.text >= 0;
}

int project_addlayer(int type)
{
    if (type != layer_raster && type != layer_paths && type != layer_text) {
        sys_log("project_addlayer: cannot add a layer of type %d", type);
        return -1;
    }
    int slot = project_layeralloc(type);
    if (slot < 0)
        return -1;
    project.layers[slot].groups = 1u << project_layergroup;
    if (!project_newdata(slot)) {
        sys_log("project_addlayer: no data for layer[%02d]", slot);
        project_layerfree(slot);
        return -1;
    }
    project_countgroups();
    layer_queueadd(slot);
    return slot;
}

static int layer_addpaths(const char *name, float ratio)
{
    path *p = path_read(&msg_main, 0, path_formq1);
    if (!p)
        return -1;
    int slot = project_layeralloc(layer_paths);
    if (slot < 0) {
        path_free(p);
        return -1;
    }
    project_layer &l = project.layers[slot];
    path_normalize(p, path_box{-0.5f, -0.5f, 0.5f, 0.5f});
    l.data.pth = p;
    l.aspect = 1.0f;
    l.stale = 1;
    project_layerfitsize(slot);
    project_layername(slot, name && name[0] ? name : "PathsLayer");
    l.aspect = ratio;
    l.groups = 1u << project_layergroup;
    project_layerfitsize(slot);
    return slot;
}

static int layer_addraster(const char *name, float ratio)
{
    image *img = img_read(&msg_main, img_prml);
    if (!img)
        return -1;
    int slot = project_layeralloc(layer_raster);
    if (slot < 0) {
        img_free(img);
        return -1;
    }
    project_layer &l = project.layers[slot];
    l.data.img = img;
    l.stale = 1;
    l.aspect = (float)img->height / (float)img->width;
    project_layerfitsize(slot);
    project_layername(slot, name && name[0] ? name : "RasterLayer");
    l.size[2] = ratio * l.size[0];
    l.groups = 1u << project_layergroup;
    return slot;
}

int layer_addfrombuffer(int kind, const char *name, float ratio)
{
    double start = sys_seconds();
    int slot = kind == 1 ? layer_addraster(name, ratio) : layer_addpaths(name, ratio);
    if (slot < 0)
        return 0;
    const char *what = kind == 1 ? "image" : "paths";
    sys_log("...parsed %s to layer[%02d] \"%s\" (%2.2fs)", what, slot, project.layers[slot].name,
            sys_seconds() - start);
    layer_queueadd(slot);
    project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
    sys_status("...added layer \"%s\"", project.layers[slot].name);
    return 1;
}

void project_moveorigin(const float size[3], const float fractions[3])
{
    const float delta[2] = {size[0] * fractions[0] - project.size[0] * project.originfrac[0],
                            size[1] * fractions[1] - project.size[1] * project.originfrac[1]};
    sys_log("origin delta = %f, %f, %f", delta[0], delta[1], 0.0);
    for (project_layer &l : project.layers) {
        if (l.type == layer_free)
            continue;
        l.pos[0] += delta[0];
        l.pos[1] += delta[1];
        l.stale = 1;
    }
}

// -------------------------------------------------------- blob writers

void project_writecanvasblob(uint8_t out[project_canvasblobbytes])
{
    float f[7];
    memcpy(f, project.size, 12);
    memcpy(f + 3, project.originfrac, 12);
    f[6] = project.zfill;
    memcpy(out, f, 28);
    memcpy(out + 28, &project.ppi, 4);
}

int project_writefitblob(msg_stream *m)
{
    msg_writevec(m, project.originoffset);
    msg_writevec(m, project.size);
    for (const project_layer &l : project.layers)
        msg_writevec(m, l.pos);
    return !m->failed;
}

int layer_writepathedit(msg_stream *m, int slot)
{
    if (!layer_slotok(slot, "layer_writepathedit"))
        return 0;
    const project_layer &l = project.layers[slot];
    if (l.type != layer_paths || !l.data.pth) {
        sys_log("layer_writepathedit: layer[%02d] holds no path", slot);
        return 0;
    }
    msg_writepath(m, l.data.pth);
    writepathselections(m);
    msg_writevec(m, l.pos);
    msg_writevec(m, l.size);
    for (int16_t f : project_pathpanels)
        msg_writeshort(m, f);
    return !m->failed;
}

int layer_writemerge(msg_stream *m, int merged, int upper)
{
    if (upper < 1 || upper >= project_maxlayers) {
        sys_log("layer_writemerge: no layer pair at %d", upper);
        return 0;
    }
    msg_writeint(m, merged ? 1 : 0);
    if (merged)
        return layer_write(m, upper - 1);
    return layer_write(m, upper) && layer_write(m, upper - 1);
}

int layer_writemulti(msg_stream *m, const int32_t *slots, int n, int layers)
{
    for (int i = 0; i < n; i++) {
        msg_writeint(m, slots[i]);
        if (layers && !layer_write(m, slots[i]))
            return 0;
    }
    return !m->failed;
}

// ------------------------------------------------------------ slot layout

// Opens a place at slot i: the free slot 63 comes to i, the layers from i
// on move one toward the end. Refused (logged) while slot 63 holds a layer.
static bool layer_openplace(int i)
{
    project_layer *l = project.layers;
    if (l[project_maxlayers - 1].type != layer_free) {
        sys_log("project_applystate: no free slot to open a place at %d", i);
        return false;
    }
    std::rotate(l + i, l + project_maxlayers - 1, l + project_maxlayers);
    return true;
}

void layer_closegap(int i)
{
    project_layer *l = project.layers;
    std::rotate(l + i, l + i + 1, l + project_maxlayers);
}

static void project_canvasrequest()
{
    project_updatecanvas(1, canvas_view, (uint32_t)project_layergroup);
}

// --------------------------------------------------------------- replay

static int replay_canvas(int32_t size, const void *data)
{
    if (!data || size < project_canvasblobbytes) {
        sys_log("project_applystate: canvas blob of %d bytes", size);
        return 0;
    }
    float f[7];
    memcpy(f, data, sizeof(f));
    float d2 = 0.0f;
    for (int i = 0; i < 3; i++)
        d2 += (f[i] - project.size[i]) * (f[i] - project.size[i]);
    if (d2 > 0.0001f)
        project_moveorigin(f, f + 3);
    memcpy(project.size, f, 12);
    memcpy(project.originfrac, f + 3, 12);
    project.zfill = f[6];
    project_canvasrequest();
    return 1;
}

static int replay_fit(int32_t size, const void *data)
{
    if (!data || size < project_fitblobbytes) {
        sys_log("project_applystate: fit blob of %d bytes", size);
        return 0;
    }
    msg_stream m;
    msg_readfrom(&m, data, size);
    msg_readvec(&m, project.originoffset);
    msg_readvec(&m, project.size);
    for (project_layer &l : project.layers)
        msg_readvec(&m, l.pos);
    project_freecanvas(0, 0, 1, 0);
    project_canvasrequest();
    return 1;
}

static int replay_layerstate(int aux, int32_t size, const void *data)
{
    if (!data || size < layer_recordbytes || !layer_slotok(aux, "project_applystate")) {
        sys_log("project_applystate: layer state of %d bytes", size);
        return 0;
    }
    project_layer b;
    memcpy(&b, data, sizeof(b));
    project_layer &l = project.layers[aux];
    memcpy(l.name, b.name, sizeof(l.name));
    l.name[project_maxname - 1] = '\0';
    layer_copystate(l, b);
    project_selectlayer = aux;
    if (aux == project_selectedlayer)
        layer_loadeditor(&l);
    l.stale = 1;
    project_canvasrequest();
    return 1;
}

static int replay_swap(int aux)
{
    printf("project_applystate: ET_LAYERSWAPNEXT...\n");
    if (aux < 0 || aux >= project_maxlayers) {
        sys_log("project_applystate: no layer pair at %d", aux);
        return 0;
    }
    if (aux < project_maxlayers - 1) {
        project_swaplayers(aux);
        if (project_selectedlayer == aux)
            project_selectlayer = aux + 1;
        else if (project_selectedlayer == aux + 1)
            project_selectlayer = aux;
    }
    project_canvasrequest();
    return 1;
}

static int replay_addremove(int aux, int32_t size, const void *data)
{
    if (!layer_slotok(aux, "project_applystate"))
        return 0;
    if (data) {
        sys_log("ADDING LAYER");
        msg_stream m;
        msg_readfrom(&m, data, size);
        layer_staged s;
        if (!layer_stage(&m, s))
            return 0;
        if (!layer_openplace(aux)) {
            layer_discard(s);
            return 0;
        }
        layer_install(s, aux);
    } else {
        sys_log("REMOVING LAYER %d (selected:%d)", aux, project_selectedlayer);
        project_layerfree(aux);
        layer_closegap(aux);
    }
    project_selectlayer = -1;
    project_canvasrequest();
    return 1;
}

// Reads n slot numbers, each followed by a staged layer when layers is set.
static bool replay_readmulti(msg_stream *m, int n, bool layers, std::vector<int32_t> &slots,
                             std::vector<layer_staged> &staged)
{
    for (int i = 0; i < n; i++) {
        int32_t slot = msg_readint(m);
        if (m->failed || slot < 0 || slot >= project_maxlayers) {
            sys_log("project_applystate: bad slot %d in a multiple layer blob", slot);
            return false;
        }
        slots.push_back(slot);
        if (layers) {
            staged.emplace_back();
            if (!layer_stage(m, staged.back())) {
                staged.pop_back();
                return false;
            }
        }
    }
    return true;
}

// Redo inserts the layers in list order; undo takes them away in reverse.
static int replay_multi(int undo, int n, int32_t size, const void *data)
{
    if (!data || n < 0 || n > project_maxlayers) {
        sys_log("project_applystate: %d layers without a blob", n);
        return 0;
    }
    msg_stream m;
    msg_readfrom(&m, data, size);
    std::vector<int32_t> slots;
    std::vector<layer_staged> staged;
    bool ok = replay_readmulti(&m, n, !undo, slots, staged);
    // Each insert takes the free slot 63, and the one before it moves up
    // into 63: n inserts need the last n slots free.
    for (int i = project_maxlayers - n; ok && !undo && i < project_maxlayers; i++) {
        if (project.layers[i].type != layer_free) {
            sys_log("project_applystate: no room for %d layers", n);
            ok = false;
        }
    }
    if (!ok) {
        for (layer_staged &s : staged)
            layer_discard(s);
        return 0;
    }
    if (undo) {
        // The exact inverse of redo's inserts: the last inserted goes first,
        // so every slot names the layer redo put there.
        for (int i = n - 1; i >= 0; i--) {
            project_layerfree(slots[i]);
            layer_closegap(slots[i]);
        }
    } else {
        for (int i = 0; i < n; i++) {
            layer_openplace(slots[i]);
            layer_install(staged[i], slots[i]);
        }
    }
    project_selectlayer = -1;
    view_redraw = 1;
    return 1;
}

static int replay_merge(int aux, int32_t size, const void *data)
{
    if (!data || aux < 1 || aux >= project_maxlayers) {
        sys_log("project_applystate: merge at %d without a blob", aux);
        return 0;
    }
    msg_stream m;
    msg_readfrom(&m, data, size);
    uint32_t merged = (uint32_t)msg_readint(&m);
    layer_staged a, b;
    bool ok = layer_stage(&m, a) && (merged || layer_stage(&m, b));
    if (ok && !merged && project.layers[project_maxlayers - 1].type != layer_free) {
        sys_log("project_applystate: no free slot to open a place at %d", aux);
        ok = false;
    }
    if (!ok || m.failed) {
        layer_discard(a);
        layer_discard(b);
        return 0;
    }
    if (merged) {
        project_layerfree(aux);
        project_layerfree(aux - 1);
        layer_closegap(aux);
        layer_install(a, aux - 1);
        project_selectlayer = aux - 1;
    } else {
        layer_openplace(aux);
        project_layerfree(aux - 1);
        layer_install(a, aux);
        layer_install(b, aux - 1);
        project_selectlayer = aux;
    }
    project_canvasrequest();
    return 1;
}

// The paths-edit blob, read whole before the layer changes.
static int replay_pathedit(int aux, int32_t size, const void *data)
{
    msg_stream m;
    msg_readfrom(&m, data, size);
    path *p = path_read(&m, 0, path_formraw);
    if (!p)
        return 0;
    p_selectionlists sel;
    if (!p_readselections(&m, p, &sel)) {
        path_free(p);
        return 0;
    }
    float pos[3], sz[3];
    int16_t panels[4];
    msg_readvec(&m, pos);
    msg_readvec(&m, sz);
    for (int16_t &f : panels)
        f = msg_readshort(&m);
    if (m.failed) {
        sys_log("project_applystate: the paths-edit blob ends early");
        p_freeselections(&sel);
        path_free(p);
        return 0;
    }
    project_layer &l = project.layers[aux];
    p_clearselection(l.data.pth);
    path_free(l.data.pth);
    l.data.pth = p;
    p_applyselections(p, &sel);
    p_freeselections(&sel);
    memcpy(l.pos, pos, sizeof(pos));
    memcpy(l.size, sz, sizeof(sz));
    memcpy(project_pathpanels, panels, sizeof(panels));
    return 1;
}

// A layer blob replacing a raster- or text-layer's data and record.
static int replay_layerblob(int aux, int32_t size, const void *data)
{
    msg_stream m;
    msg_readfrom(&m, data, size);
    layer_staged s;
    if (!layer_stage(&m, s))
        return 0;
    project_layerfree(aux);
    layer_install(s, aux);
    return 1;
}

static void replay_refreshtexture(int aux)
{
    project_layer &l = project.layers[aux];
    memcpy(layer_gizmostate.pos, l.pos, sizeof(l.pos));
    memcpy(layer_gizmostate.size, l.size, sizeof(l.size));
    layer_gizmostate.rotation = l.rotation;
    layer_refreshtexture(aux);
}

static int replay_layerdata(int aux, int32_t size, const void *data)
{
    if (!layer_slotok(aux, "project_applystate"))
        return 0;
    int type = project.layers[aux].type;
    if ((type == layer_paths || type == layer_raster || type == layer_text) && !data) {
        sys_log("project_applystate: layer data without a blob");
        return 0;
    }
    if (type == layer_paths && !replay_pathedit(aux, size, data))
        return 0;
    if ((type == layer_raster || type == layer_text) && !replay_layerblob(aux, size, data))
        return 0;
    if (aux == project_selectedlayer)
        replay_refreshtexture(aux);
    project_canvasrequest();
    project_selectlayer = aux;
    return 1;
}

static int replay_selection(int32_t size, const void *data)
{
    if (data) {
        if (project_rastertool < 0 || project_selectedlayer < 0)
            return 1;
        msg_stream m;
        msg_readfrom(&m, data, size);
        image *img = img_read(&m, img_pack16);
        if (!img || m.failed) {
            sys_log("project_applystate: the selection image cannot be read");
            img_free(img);
            return 0;
        }
        img_free(selectionmap);
        selectionmap = img;
        if (project_selectiontexture)
            project_selectiontexture(selectionmap);
        sys_debuglog("restored selection");
    } else {
        img_free(selectionmap);
        selectionmap = nullptr;
        image *all = img_allocfloat("selection", 2, 2);
        if (all) {
            std::fill((float *)all->pixels, (float *)all->pixels + 4, 1.0f);
            if (project_selectiontexture)
                project_selectiontexture(all);
            img_free(all);
        }
        sys_debuglog("cleared selection");
    }
    view_redraw = 1;
    return 1;
}

static int replay_bytype(int undo, int type, int aux, int32_t size, const void *data)
{
    switch (type) {
    case event_null:
        return 1;
    case event_canvasstate:
        return replay_canvas(size, data);
    case event_fitcanvas:
        return replay_fit(size, data);
    case event_layerstate:
        return replay_layerstate(aux, size, data);
    case event_layerswapnext:
        return replay_swap(aux);
    case event_layeraddremove:
        return replay_addremove(aux, size, data);
    case event_layeraddmulti:
        return replay_multi(undo, aux, size, data);
    case event_layermergedown:
        return replay_merge(aux, size, data);
    case event_layerdata:
        return replay_layerdata(aux, size, data);
    default:
        return replay_selection(size, data);
    }
}

int project_applystate(int undo, int type, int aux, int32_t size, const void *data)
{
    const char *name = type >= 0 && type < event_types ? event_names[type] : "unknown";
    sys_log("applying event: %s (type:%d aux:%d size:%d)", name, type, aux, size);
    int ok = 0;
    if (type < 0 || type >= event_types) {
        sys_error("unknown event type %d", type);
    } else if (size < 0 || (size > 0 && !data)) {
        sys_log("project_applystate: blob of %d bytes", size);
    } else {
        ok = replay_bytype(undo, type, aux, data ? size : 0, data);
        if (!ok)
            sys_log("project_applystate: %s event refused, the project is as it was", name);
        if (ok && type >= event_canvasstate && type <= event_layerstate)
            view_canvaschanged = 1;
    }
    project_changetime = (float)sys_seconds();
    project_saved = 0;
    return ok;
}
