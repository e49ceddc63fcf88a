// The layer loaders. Everything a file could make wrong is found before the
// layer table is touched where it can be (no image, a mesh without extent,
// a vector shape without a box), so a refused file leaves no layer and no
// undo event behind. Sizes come from the project's units: a canvas has
// size x ppi x scale pixels, so "one image pixel per canvas pixel" is
// width / (ppi x scale) project units, in inch and metric projects alike.
#include "mainwindow/import/loaders.h"

#include "geom/model.h"
#include "geom/path.h"
#include "gui/dialog.h"
#include "img/adjust.h"
#include "img/image.h"
#include "img/imagefile.h"
#include "img/svg.h"
#include "mainwindow/import/dxf.h"
#include "mainwindow/import/modelload.h"
#include "project/canvas.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/undo.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/event.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "view/modes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

// Filter lists: pairs of description and patterns, each ended by a NUL.
static const char loaders_imagefilter[] =
    "All Images\0*.jpg;*.jpeg;*.png;*.webp;*.bmp;*.tga;*.gif;*.tiff;*.svg;*.qcsf\0"
    "Quarnite Compressed Scalar Field (.qcsf)\0*.qcsf\0"
    "Compressed Images\0*.jpg;*.jpeg;*.png;*.webp;*.gif\0"
    "Uncompressed Images\0*.bmp;*.tga;*.svg\0"
    "JPEG Images (.jpg/.jpeg)\0*.jpg;*.jpeg\0"
    "PNG Images (.png)\0*.png\0"
    "WebP Images (.webp)\0*.webp\0"
    "Bitmap Images (.bmp)\0*.bmp\0"
    "Targa Images (.tga)\0*.tga\0"
    "GIF Images (.gif)\0*.gif\0"
    "TIFF Images (.tif/.tiff)\0*.tif;*.tiff\0"
    "SVG Images (.svg)\0*.svg\0";
static const char loaders_vectorfilter[] = "All Vectors (.svg/.dxf)\0*.svg;*.dxf\0"
                                           "SVG Images (.svg)\0*.svg\0"
                                           "DXF Drawings (.dxf)\0*.dxf\0";
static const char loaders_modelfilter[] = "All Models (.stl/.obj)\0*.stl;*.obj\0"
                                          "Stereolithography Model (.stl)\0*.stl\0"
                                          "OBJ Models (.obj)\0*.obj\0";

// The chosen file, kept while the loader runs, and when it was chosen: the
// loaders' timing lines count from there.
static char loaders_file[sys_dialogpathmax];
static double loaders_start;

// ------------------------------------------------------------ common steps

// Asks for the file: its path, or null when the dialog was cancelled. The
// choice becomes the next dialog's starting file and, while the project is
// untitled, the project's path: later proposals start there, but with
// project_hasfile still 0 a save asks for a name of its own.
static const char *loaders_ask(const char *caller, const char *title, const char *filter)
{
    char start[sys_dialogpathmax];
    snprintf(start, sizeof(start), "%s", cfg_gettext(cfg_openpath));
    if (!file_opendialog(title, start, filter)) {
        sys_log("failed to get fileopen path");
        return nullptr;
    }
    snprintf(loaders_file, sizeof(loaders_file), "%s", file_lastopenpath);
    if (!cfg_settext(cfg_openpath, loaders_file))
        sys_log("%s: path too long to keep as the starting file", caller);
    loaders_start = sys_seconds();
    sys_log("%s: %s", caller, loaders_file);
    if (!project.path[0])
        snprintf(project.path, sizeof(project.path), "%s", loaders_file);
    return loaders_file;
}

// What every successful load ends with. Like every change to a layer, the
// new layer asks for a composition: without it the canvas would not show
// the loaded file until some later edit.
static void loaders_done()
{
    project_countgroups();
    project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
    gui_setdialog(0);
}

// A single new layer: its undo event, the selection, the dialog closed.
static int loaders_donelayer(int slot)
{
    layer_event(slot);
    gui_selectedlayer = slot;
    loaders_done();
    return 1;
}

// The slot of a new image or model layer; -1, with nothing selected, when
// the table is full (the allocator has reported it).
static int loaders_alloc(int type)
{
    int slot = project_layeralloc(type);
    if (slot < 0)
        gui_selectedlayer = -1;
    return slot;
}

static void loaders_setgroup(project_layer &l)
{
    l.groups = 1u << project_layergroup;
}

// The project units of one canvas pixel along each axis of a file's own
// scale: 1 / (ppi x inches per unit).
static float loaders_pixelunits()
{
    return 1.0f / ((float)project.ppi * project.scale);
}

// ------------------------------------------------------------------ images

static int loaders_imagefailed()
{
    sys_status("...failed to load image");
    gui_selectedlayer = -1;
    return 0;
}

int layer_loadimage()
{
    const char *file = loaders_ask("layer_loadimage", "Open Image", loaders_imagefilter);
    if (!file)
        return 0;
    image *loaded = img_load(file, 1);
    if (!loaded)
        return loaders_imagefailed();
    image *img = img_scalarautolevel(loaded);
    img_free(loaded);
    if (!img)
        return loaders_imagefailed();
    int slot = loaders_alloc(layer_raster);
    if (slot < 0) {
        img_free(img);
        return 0;
    }
    project_layer &l = project.layers[slot];
    l.data.img = img;
    l.stale = 1;
    l.aspect = (float)img->height / (float)img->width;
    if (cfg_geti(cfg_fittocanvas)) {
        project_layerfitsize(slot);
    } else {
        l.size[0] = (float)img->width * loaders_pixelunits();
        l.size[1] = (float)img->height * loaders_pixelunits();
        l.size[2] = project.size[2];
    }
    project_layernamefrompath(slot, file);
    loaders_setgroup(l);
    sys_log("...loaded image to layer[%02d] \"%s\" (%2.2fs)", slot, l.name, sys_seconds() - loaders_start);
    return loaders_donelayer(slot);
}

// ------------------------------------------------------------------ models

static int loaders_modelfailed()
{
    sys_log("...failed to load model");
    gui_selectedlayer = -1;
    return 0;
}

// The mesh's extent on each axis; false when it has none in x or y, which
// would make its aspect 0 / 0.
static bool loaders_meshextent(const model &m, float extent[3])
{
    for (int i = 0; i < 3; i++)
        extent[i] = m.max[i] - m.min[i];
    return m.num_faces > 0 && std::isfinite(extent[2]) && extent[0] > 0.0f && extent[1] > 0.0f &&
           std::isfinite(extent[0] * extent[1]);
}

// Fitted, the model keeps its proportions in z, but never reaches deeper
// than the canvas, as it never reaches beyond it in x and y.
static void loaders_sizemodel(project_layer &l, int slot, const float extent[3])
{
    if (cfg_geti(cfg_fittocanvas)) {
        project_layerfitsize(slot);
        l.size[2] = std::min(extent[2] * l.size[0] / extent[0], project.size[2]);
    } else {
        memcpy(l.size, extent, sizeof(l.size));
    }
}

int layer_loadmodel()
{
    const char *file = loaders_ask("layer_loadmodel", "Open Model", loaders_modelfilter);
    if (!file)
        return 0;
    int mesh = model_load(file);
    if (mesh < 0)
        return loaders_modelfailed();
    float extent[3];
    if (!loaders_meshextent(models[mesh], extent)) {
        sys_log("layer_loadmodel: \"%s\" has no extent in x or y (%g x %g)", file, extent[0], extent[1]);
        mdl_free(mesh);
        return loaders_modelfailed();
    }
    // The importer's room for a million vertices and faces would stay with
    // the layer, and would make the layer's blob differ after an undo.
    mdl_trim(mesh);
    int slot = loaders_alloc(layer_model);
    if (slot < 0) {
        mdl_free(mesh);
        return 0;
    }
    project_layer &l = project.layers[slot];
    l.data.mesh = mesh;
    project_meshuses[mesh]++;
    l.stale = 1;
    l.aspect = extent[1] / extent[0];
    loaders_sizemodel(l, slot, extent);
    l.rendermodel = layer_meshmodel ? layer_meshmodel(mesh) : -1;
    project_layernamefrompath(slot, file);
    loaders_setgroup(l);
    sys_log("...loaded model layer[%d] \"%s\" (%2.2fs)", slot, l.name, sys_seconds() - loaders_start);
    return loaders_donelayer(slot);
}

// ----------------------------------------------------------------- vectors

enum loaders_vectorkind { vector_unknown, vector_svg, vector_dxf };

static bool loaders_endswith(const char *file, const char *suffix)
{
    size_t n = strlen(file), m = strlen(suffix);
    return n >= m && !strcmp(file + n - m, suffix);
}

// By name as the user's files are named: lower-case anywhere, or upper-case
// at the end; "drawing.Svg" is neither.
static loaders_vectorkind loaders_kind(const char *file)
{
    if (strstr(file, ".svg") || loaders_endswith(file, ".SVG")) {
        sys_log("svg paths detected...");
        return vector_svg;
    }
    if (strstr(file, ".dxf") || loaders_endswith(file, ".DXF")) {
        sys_log("dxf paths detected...");
        return vector_dxf;
    }
    return vector_unknown;
}

// One curve of an SVG subpath: every on-curve point a knot at (x, -y, 0)
// with the control points on either side as its handles. False when the
// path ran out of room.
static bool loaders_svgcurve(path *p, const svg_path &sp, int *knots)
{
    int c = path_newcurve(p);
    if (c < 0)
        return false;
    int segments = (sp.count - 1) / 3;
    const float *pt = sp.points;
    for (int j = 0; j <= segments; j++) {
        const float *on = pt + 6 * j;
        const float pos[3] = {on[0], -on[1], 0.0f};
        int k = path_prependknot(p, c, pos);
        if (k < 0)
            return false;
        knot &n = p->knots[k];
        if (j > 0) {
            n.h1[0] = on[-2];
            n.h1[1] = -on[-1];
        }
        if (j < segments) {
            n.h2[0] = on[2];
            n.h2[1] = -on[3];
        }
        (*knots)++;
    }
    const float *last = pt + 6 * segments;
    float dx = last[0] - pt[0], dy = last[1] - pt[1];
    p->curves[c].closed = sp.closed && dx * dx + dy * dy <= 0.0001f;
    return true;
}

// Every shape of the drawing into one path; null (logged) when the path
// could not hold it.
static path *loaders_svgpath(const svg_image *svg)
{
    path *p = path_new();
    if (!p)
        return nullptr;
    int knots = 0, curves = 0, used = 0, skipped = 0;
    for (int s = 0; s < svg->shapecount; s++) {
        const svg_shape &shape = svg->shapes[s];
        const float *b = shape.bounds;
        if (b[2] - b[0] + b[3] - b[1] <= 0.00001f) {
            sys_log("!!! shape has no size, skipping...");
            skipped++;
            continue;
        }
        sys_log("shape%02d bounds:(%4.1f,%4.1f)-(%4.1f,%4.1f)", s, b[0], b[1], b[2], b[3]);
        used++;
        for (int i = 0; i < shape.pathcount; i++) {
            // A subpath without a segment draws nothing.
            if (shape.paths[i].count < 4)
                continue;
            if (!loaders_svgcurve(p, shape.paths[i], &knots)) {
                sys_log("layer_loadpaths: the drawing does not fit in a path");
                path_free(p);
                return nullptr;
            }
            curves++;
        }
    }
    sys_log("...loaded %d nodes, %d paths (%d of %d shapes)", knots, curves, used, skipped);
    return p;
}

// The drawing's paths into paths[]: how many, 0 on failure (logged).
static int loaders_readvector(const char *file, loaders_vectorkind kind, path **paths)
{
    if (kind == vector_dxf) {
        int n = sys_loadDXF(file, paths);
        sys_log("loaded \"%s\"", file);
        return n;
    }
    float dpi = cfg_geti(cfg_physicalsvgunits) ? 1.0f : (float)project.ppi;
    svg_image *svg = sys_loadSVG(file, dpi);
    if (!svg)
        return 0;
    paths[0] = loaders_svgpath(svg);
    nsvg_delete(svg);
    sys_log("loaded \"%s\"", file);
    return paths[0] ? 1 : 0;
}

// A path's box, a line's grown by 5 % of its length on every side so that
// it keeps a size. False when even that leaves it without width or height
// (a single point, or no curve at all).
static bool loaders_pathbox(const path *p, path_box *box)
{
    path_box b = path_bounds(p);
    float w = b.maxx - b.minx, h = b.maxy - b.miny;
    if (w * h < 0.001f) {
        float grow = 0.05f * std::max(w, h);
        b.minx -= grow;
        b.miny -= grow;
        b.maxx += grow;
        b.maxy += grow;
    }
    *box = b;
    w = b.maxx - b.minx;
    h = b.maxy - b.miny;
    return w > 0.0f && h > 0.0f && std::isfinite(w * h);
}

struct loaders_placed {
    uint32_t uid; // slots move while later layers are placed after the selection
    path_box box;
};

// Makes the layer of one path normalised into its box; -1 when the table is
// full (the path stays the caller's).
static int loaders_pathslayer(path *p, const path_box &box, const char *file)
{
    int slot = project_layeralloc(layer_paths);
    if (slot < 0)
        return -1;
    project_layer &l = project.layers[slot];
    path_normalize(p, box);
    l.data.pth = p;
    l.stale = 1;
    l.aspect = (box.maxy - box.miny) / (box.maxx - box.minx);
    project_layernamefrompath(slot, file);
    loaders_setgroup(l);
    sys_log("...added layer[%02d] \"%s\" (%2.2fs)", slot, l.name, sys_seconds() - loaders_start);
    sys_log(" layer[%02d].bounds = (%f,%f)(%f,%f)", slot, box.minx, box.miny, box.maxx, box.maxy);
    return slot;
}

// The scale and offset that take the summed box onto the canvas.
struct loaders_frame {
    float sx, sy, ox, oy;
    float minx, miny;
};

static loaders_frame loaders_fit(const path_box &sum, bool svg)
{
    loaders_frame f{};
    const float *canvas = project.size;
    if (cfg_geti(cfg_fittocanvas)) {
        float w = sum.maxx - sum.minx, h = sum.maxy - sum.miny, a = h / w;
        f.minx = sum.minx;
        f.miny = sum.miny;
        if (project.aspect > a) {
            f.sx = canvas[0] / w;
            f.sy = a * canvas[0] / h;
            f.oy = 0.5f * canvas[1] - 0.5f * a * canvas[0];
        } else {
            f.sy = canvas[1] / h;
            f.sx = canvas[1] / a / w;
            f.ox = 0.5f * canvas[0] - 0.5f * canvas[1] / a;
        }
        return f;
    }
    // The file's origin lands at the canvas centre. Drawing units are
    // project units in DXF, and in SVG with physical units on; without, an
    // SVG was read in canvas pixels.
    f.ox = 0.5f * canvas[0];
    f.oy = 0.5f * canvas[1];
    f.sx = f.sy = svg && !cfg_geti(cfg_physicalsvgunits) ? loaders_pixelunits() : 1.0f;
    return f;
}

static void loaders_position(int slot, const path_box &b, const loaders_frame &f)
{
    project_layer &l = project.layers[slot];
    l.pos[0] = (0.5f * (b.minx + b.maxx) - f.minx) * f.sx + f.ox;
    l.pos[1] = (0.5f * (b.miny + b.maxy) - f.miny) * f.sy + f.oy;
    l.pos[2] = 0.0f;
    l.size[0] = (b.maxx - b.minx) * f.sx;
    l.size[1] = (b.maxy - b.miny) * f.sy;
    l.size[2] = project.size[2];
    sys_log("...loaded layer[%d] \"%s\" (org:%f,%f size:%f,%f)", slot, l.name, l.pos[0], l.pos[1], l.size[0],
            l.size[1]);
}

// Layers for the n paths, placed together: the slots made, in table order.
// Every path not taken by a layer is freed.
static std::vector<int32_t> loaders_placepaths(path **paths, int n, bool svg, const char *file)
{
    std::vector<loaders_placed> placed;
    path_box sum{path_emptymin, path_emptymin, -path_emptymin, -path_emptymin};
    for (int i = 0; i < n; i++) {
        path_box box;
        if (!loaders_pathbox(paths[i], &box)) {
            sys_log("layer_loadpaths: vector shape[%d] of \"%s\" has no extent, skipping", i, file);
            path_free(paths[i]);
            continue;
        }
        sys_log("vector shape[%d] bounds = (%f,%f)(%f,%f)", i, box.minx, box.miny, box.maxx, box.maxy);
        sum = {std::min(sum.minx, box.minx), std::min(sum.miny, box.miny), std::max(sum.maxx, box.maxx),
               std::max(sum.maxy, box.maxy)};
        int slot = loaders_pathslayer(paths[i], box, file);
        if (slot < 0) {
            path_free(paths[i]);
            continue;
        }
        placed.push_back({project.layers[slot].uid, box});
    }
    std::vector<int32_t> slots;
    if (placed.empty())
        return slots;
    if (n > 1)
        sys_log(" summed paths-layer bounds = %f,%f -> %f,%f", sum.minx, sum.miny, sum.maxx, sum.maxy);
    loaders_frame f = loaders_fit(sum, svg);
    for (const loaders_placed &p : placed) {
        int slot = project_findlayeruid(p.uid);
        loaders_position(slot, p.box, f);
        slots.push_back(slot);
    }
    std::sort(slots.begin(), slots.end());
    return slots;
}

// One "layer addmulti" event for the layers made: the old blob lists their
// slots, the new one each slot with its layer. The slots go in table order,
// so that a redo, inserting them one by one, puts each back where it is.
static void loaders_queuemulti(const std::vector<int32_t> &slots)
{
    int n = (int)slots.size();
    msg_stream olds, news;
    if (!msg_alloc(&olds, 4 * n) || !msg_alloc(&news)) {
        sys_log("layer_loadpaths: no buffer for the undo event");
        sys_free(olds.buffer);
        return;
    }
    if (layer_writemulti(&olds, slots.data(), n, 0) && layer_writemulti(&news, slots.data(), n, 1))
        event_queue(event_layeraddmulti, n, (uint32_t)olds.position, olds.buffer, (uint32_t)news.position,
                    news.buffer);
    else
        sys_log("layer_loadpaths: the undo event could not be written");
    sys_free(olds.buffer);
    sys_free(news.buffer);
}

int layer_placepaths(path **paths, int n, int svg, const char *file)
{
    std::vector<int32_t> slots = loaders_placepaths(paths, n, svg != 0, file);
    if (slots.empty())
        return 0;
    loaders_queuemulti(slots);
    sys_log("...loaded %d paths-layer(s) (%2.2fs)", (int)slots.size(), sys_seconds() - loaders_start);
    return (int)slots.size();
}

int layer_loadpaths()
{
    const char *file = loaders_ask("layer_loadpaths", "Open Vector", loaders_vectorfilter);
    if (!file)
        return 0;
    loaders_vectorkind kind = loaders_kind(file);
    if (kind == vector_unknown) {
        sys_log("unknown vector format: \"%s\"", file);
        sys_status("...failed to load paths");
        return 0;
    }
    std::vector<path *> paths(dxf_maxlayers, nullptr);
    int n = loaders_readvector(file, kind, paths.data());
    if (n <= 0 || !layer_placepaths(paths.data(), n, kind == vector_svg, file)) {
        sys_status("...failed to load paths");
        return 0;
    }
    loaders_done();
    return 1;
}
