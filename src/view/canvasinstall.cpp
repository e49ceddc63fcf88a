// Starting and installing canvas compositions. The busy flag is claimed by
// compare-exchange here and in the rectangle job, so that the two can never
// both start and rewrite the same cached depth maps.
#include "view/canvasinstall.h"
#include "view/layerfollow.h"
#include "view/simview.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include "cam/cam.h"
#include "cam/simulate.h"
#include "img/image.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "project/canvas.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/tracepaths.h"
#include "project/transform.h"
#include "project/layertex.h"
#include "project/undo.h"
#include "render/texture.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

static void canvas_giveback()
{
    sys_mutexguard g(project_mutex);
    project_canvasjob.inprogress -= 1;
}

// Moves each free slot to the end by swaps (used layers keep their order)
// and re-measures the visible text-layers of group at resolution s; a text
// whose size changed makes its layer stale.
static void view_preparelayers(uint32_t group, float s)
{
    for (int i = 0; i < project_maxlayers - 1; i++) {
        if (project.layers[i].type == layer_free)
            for (int j = i; j < project_maxlayers - 1; j++)
                project_swaplayers(j);
        project_layer &l = project.layers[i];
        if (l.type != layer_text || (l.flags & layer_hidden) || !((l.groups >> group) & 1u) || !text_objects ||
            l.data.text < 0 || l.data.text >= text_maxobjects)
            continue;
        if (text_setptsize(l.data.text, text_objects[l.data.text].ptsize, s)) {
            sys_log("refreshing text-layer[%d]...", i);
            std::atomic_ref<uint32_t>(l.stale).store(1, std::memory_order_release);
        }
    }
}

// The selection map at w x h, the canvas pixel size, for the mix and the brush.
static void view_fitselection(int w, int h)
{
    if (!selectionmap || w < 1 || h < 1 || (selectionmap->width == w && selectionmap->height == h))
        return;
    sys_log("rescaling selectionmap: %dx%d -> %dx%d", selectionmap->width, selectionmap->height, w, h);
    image *scaled = img_rescalescalar(selectionmap, w, h);
    if (!scaled)
        return;
    img_free(selectionmap);
    selectionmap = scaled;
}

int view_startcanvas()
{
    project_canvasjobrecord &c = project_canvasjob;
    if (!c.requested.load(std::memory_order_acquire) || c.updating.load() ||
        c.pendingcanvas.load(std::memory_order_acquire))
        return 0;
    sys_log("updating canvas... %f", project_changetime.load());
    uint32_t clear = 0;
    if (!c.updating.compare_exchange_strong(clear, 1)) {
        // A rectangle job claimed it between the test and here; next frame.
        sys_log("!!!!! canvas update already in progress !!!!!");
        return 0;
    }
    uint32_t mode = c.mode, group = c.group % project_maxgroups;
    float s = (float)project.ppi;
    if ((mode & ~4u) == 1) {
        float q = cfg_getf(cfg_canvasquality);
        s *= q + 0.1f * (1.0f - q);
    }
    view_textscale = s;
    if (project_changetime != 0.0f)
        view_preparelayers(group, s);
    if (mode == 1) // the size the last composition stored; no job runs now
        view_fitselection(project.pixelwidth, project.pixelheight);
    jobmode.store(mode);
    jobrebuild.store(c.rebuildmodels);
    sys_log("starting canvas update job...");
    c.requested.store(0);
    if (sys_threadjob("updatecanvas", job_updatecanvas, (void *)(uintptr_t)group) < 0) {
        sys_log("view_startcanvas: the job was not queued, request kept");
        jobmode.store(0);
        jobrebuild.store(0);
        c.requested.store(1);
        c.updating.store(0);
        return 0;
    }
    return 1;
}

int view_startcanvasrect(const float *area)
{
    const image *canvas = project_canvas.img;
    if (!canvas || !area)
        return 0;
    int W = canvas->width, H = canvas->height;
    auto clampto = [](double v, int hi) { return (int32_t)std::clamp(v, 0.0, (double)hi); };
    const int32_t r[4] = {clampto(std::floor(area[0] * W), W), clampto(std::floor((1.0 - area[3]) * H), H),
                          clampto(std::ceil(area[2] * W), W), clampto(std::ceil((1.0 - area[1]) * H), H)};
    if (r[2] <= r[0] || r[3] <= r[1])
        return 0;
    view_fitselection(W, H);
    // The job carries its rectangle and hands it back with its result: a
    // second request before the paste cannot move the first.
    canvas_rectrequest *request = new (std::nothrow) canvas_rectrequest{{r[0], r[1], r[2], r[3]}, 0};
    if (!request) {
        sys_log("view_startcanvasrect: no memory for the request");
        return 0;
    }
    if (sys_threadjob("updatecanvasrect", job_updatecanvasrect, request) < 0) {
        delete request;
        return 0;
    }
    return 1;
}

static bool view_installbusy()
{
    return project.generating[0] || project.generating[1] || project_savebusy || cam_simgenerating.load();
}

void (*view_slices)(int n, int flip, int direction) = project_canvasslices;
static int install_uploaddepth(const image *img)
{
    return img_texture("depthtexture", img, 1);
}
int (*view_uploaddepth)(const image *img) = install_uploaddepth;
void (*view_freetexture)(int slot) = r_freetexture;

// The install's own record of what it installed: the size of the last full
// view canvas (the job keeps its own for its rebuild test), the stacks to
// rebuild and the canvas whose texture is still to be made.
static float install_lastsize[3];
static int install_rebuildstacks = 0;
static const image *install_fresh = nullptr;

// Mode 1 step 5: the simulation was made for the old size; it is built anew.
static void install_resetsimulation()
{
    sys_log("updating simulation size/offset/zscale...");
    project_canvasrecord &pc = project_canvas;
    if (pc.simtexture != -1) {
        view_freetexture(pc.simtexture);
        pc.simtexture = -1;
    }
    for (int32_t &m : pc.simmodels)
        if (m != -1) {
            view_calls->modelfree(m);
            m = -1;
        }
    sim_depthmapsize();
    sim_regenerate = 1;
    sim_simop = -2;
}

// Mode 1 step 7: no operation cuts below the canvas; simulation images
// made for another size are out of date (their time no longer matches).
static void install_fitoperations(bool sizechanged, bool first)
{
    sys_log("updating operation max z depths...");
    for (int i = 0; i < project_maxops; i++) {
        projop &o = project.ops[i];
        if (o.camop < 0 || o.camop >= cam_maxops)
            continue;
        if (sizechanged && o.simulation && !first) {
            sys_log("updating operation[%d] simulation depthmap", i);
            o.simtime = o.created - 1.0f;
        }
        float &zmax = cam_ops[o.camop].z_max;
        if (zmax > project.size[2])
            zmax = project.size[2];
    }
}

// Modes 1 and 5: the composed image becomes the displayed canvas.
static bool install_view(image *img, uint32_t arg)
{
    if (!project_freecanvas(1, 0, (int)arg, 0))
        return false; // installed by a later frame
    project_canvas.img = img;
    const float *size = project.size;
    float dx = size[0] - install_lastsize[0], dy = size[1] - install_lastsize[1], dz = size[2] - install_lastsize[2];
    bool changed = dx * dx + dy * dy + dz * dz > 0.0001f;
    if (changed)
        memcpy(install_lastsize, size, sizeof(install_lastsize));
    for (int i = 0; i < 3; i++) {
        cfg_setf(cfg_canvassize + 4 * i, size[i]);
        cfg_setf(cfg_canvasorigin + 4 * i, project.originfrac[i]);
        project.originoffset[i] = -(project.originfrac[i] * size[i]);
    }
    project.aspect = (float)img->height / (float)img->width;
    sys_log("setcanvas:%dx%d sz:%3.3fx%3.3fx%3.3f org:%1.2f,%1.2f,%1.2f", img->width, img->height, size[0], size[1],
            size[2], project.originfrac[0], project.originfrac[1], project.originfrac[2]);
    if (changed)
        install_resetsimulation();
    if (arg) {
        install_rebuildstacks = 1;
        project.generating[0] = 0;
        view_camera.centre[2] = size[2] * 0.5f * project.scale;
    }
    uint32_t &installs = project_canvasjob.installs;
    install_fitoperations(changed, installs == 0);
    install_fresh = img;
    sys_log("...project_setcanvasdepth done");
    if (installs != 0) {
        project_changetime = (float)sys_seconds();
        project_saved = 0;
    }
    installs++;
    return true;
}

// Mode 4: the composed canvas as a new raster-layer of the current group,
// its heights spread over 0..1 with the layer's depth keeping their scale.
// Whatever fails, the image is either the layer's or freed.
static void install_tolayer(image *img)
{
    int slot = project_layeralloc(layer_raster);
    if (slot < 0) {
        sys_log("project_setcanvasdepth: no free layer slot, the canvas copy is dropped");
        img_free(img);
        return;
    }
    project_layer &l = project.layers[slot];
    l.data.img = img;
    l.stale = 1;
    l.aspect = (float)img->height / (float)img->width;
    project_layerfitsize(slot);
    l.groups = 1u << (uint32_t)(project_layergroup % project_maxgroups);
    float *px = (float *)img->pixels;
    size_t n = (size_t)img->width * (size_t)img->height;
    float m = -1.0e7f;
    for (size_t i = 0; i < n; i++)
        m = std::max(m, px[i]);
    sys_log("maximum canvas-to-layer value:%f", m);
    if (m > 0.0001f) {
        for (size_t i = 0; i < n; i++)
            px[i] *= 1.0f / m;
        l.size[2] *= m;
    }
    layer_event(slot);
}

void project_setcanvasdepth()
{
    project_canvasjobrecord &c = project_canvasjob;
    image *img = c.pendingcanvas.load(std::memory_order_acquire);
    if (!img || view_installbusy())
        return;
    switch (jobmode.load()) {
    case canvas_view:
    case canvas_onelayer:
        if (!install_view(img, jobrebuild.load()))
            return;
        break;
    case canvas_operation:
        // Tagged, so that each generator takes only its own group's relief
        // composed after its queuing.
        img_setrefimage(img, project.size, project.originfrac, project.scale, (int32_t)c.composedgroup, c.composed);
        img_free(img);
        break;
    case canvas_trace: {
        // The tracing job owns a copy: the map itself goes with the result.
        image *copy = img_alloc(img->name, img->width, img->height, img->bytesperpixel, img->pixels);
        if (copy && sys_threadjob(nullptr, job_tracetopaths, copy) < 0) {
            sys_log("project_setcanvasdepth: tracing job refused");
            img_free(copy);
        }
        img_free(img);
        break;
    }
    case canvas_tolayer:
        install_tolayer(img);
        break;
    default:
        img_free(img);
        break;
    }
    c.pendingcanvas.store(nullptr, std::memory_order_release);
    jobmode.store(0);
    jobrebuild.store(0);
    canvas_giveback();
}

void project_setcanvasdepthrect()
{
    project_canvasjobrecord &c = project_canvasjob;
    image *rect = c.pendingrect.load(std::memory_order_acquire);
    if (!rect || view_installbusy())
        return;
    if (project_canvas.img)
        img_simplestamp(rect, project_canvas.img, img_stampoffset(c.rect[0], c.rect[1]));
    img_free(rect);
    if (jobrebuild.load()) {
        install_rebuildstacks = 1;
        project.generating[0] = 0;
    }
    install_fresh = project_canvas.img;
    sys_debuglog("...project_setcanvasdepthrect done");
    c.pendingrect.store(nullptr, std::memory_order_release);
    jobrebuild.store(0);
    canvas_giveback();
}

void view_slicecounts(float size[3], int counts[3])
{
    float f = cfg_getf(cfg_canvasgeometry);
    if (!(f >= 0.0f && f <= 1.0f)) {
        float held = std::isfinite(f) ? std::clamp(f, 0.0f, 1.0f) : 0.5f;
        sys_log("view_slicecounts: detail factor %f held to %f", f, held);
        f = held;
    }
    double e = cfg_geti(cfg_highquality) ? 2.0 : 1.0;
    double p = std::pow((double)f, e);
    counts[2] = (int)(32.0 * (1.0 - p) + 256.0 * p);
    double k = counts[2] / 3.0 / (double)size[2];
    for (int i = 0; i < 2; i++)
        counts[i] = (int)std::clamp(std::floor((double)size[i] * k), 1.0, (double)view_maxslices);
}

// Step 9, stacks: the slice counts of the stacks across X, Y and Z, which
// the surface draws for the view direction. A canvas without depth has no
// volume to slice. (Recorded as render models the stacks drew nothing once
// other models had been recorded before them; they are drawn from their
// counts instead.)
static void install_buildstacks()
{
    project_canvasrecord &pc = project_canvas;
    install_rebuildstacks = 0;
    for (int32_t &m : pc.models)
        if (m != -1) {
            view_calls->modelfree(m);
            m = -1;
        }
    float size[3] = {project.size[0], project.size[1], project.size[2]};
    if (!(size[0] > 0.0f && size[1] > 0.0f && size[2] > 0.0f && std::isfinite(size[0] + size[1] + size[2]))) {
        sys_log("view_canvasmodels: canvas %fx%fx%f has no volume, no slice stacks", size[0], size[1], size[2]);
        memset(pc.slices, 0, sizeof(pc.slices));
        return;
    }
    sys_log("creating canvas slice-stack models...");
    view_slicecounts(size, pc.slices);
    sys_log("slicestacks: X#%d Y#%d Z#%d", pc.slices[0], pc.slices[1], pc.slices[2]);
    sys_log("...canvas models created");
    view_redraw = 1;
}

void view_canvasmodels()
{
    if (install_rebuildstacks)
        install_buildstacks();
    if (!install_fresh)
        return;
    project_canvasrecord &pc = project_canvas;
    if (install_fresh == pc.img) {
        if (pc.depthtexture != -1)
            view_freetexture(pc.depthtexture);
        pc.depthtexture = view_uploaddepth(pc.img);
        sys_debuglog("created canvas depth texture (%dx%d)", pc.img->width, pc.img->height);
        sys_log("...updated canvas (%.4fs)", sys_seconds() - project_canvasjob.starttime);
        view_redraw = 1;
    }
    install_fresh = nullptr;
}

// A refused canvas is reported here, on the main thread, never by the job.
static void view_reportrefusal()
{
    uint32_t report = project_canvasjob.refused.exchange(0, std::memory_order_acquire);
    if (!report)
        return;
    jobmode.store(0);
    jobrebuild.store(0);
    if (report == 1 && sys_messagebox("Kerfmill",
                       "Failed to create a canvas heightmap due to being oversized. This could mean a corrupted "
                       "configuration file. Would you like to try defaulting the user configuration? (This will "
                       "default the config file and Kerfmill will quit.)",
                       2, 4, 0)) {
        config_default();
        sys_quit.store(1);
    }
}

void view_canvasframe()
{
    view_reportrefusal();
    // A result waits while a layer generator or a save reads what its
    // install replaces: a later frame takes it, the main thread never waits.
    if (view_installbusy())
        sys_debuglog("canvas install deferred: gen%d saving:%d",
                     (int)(project.generating[0] || project.generating[1]), (int)project_savebusy);
    else if (project_canvasjob.pendingcanvas.load(std::memory_order_acquire))
        project_setcanvasdepth();
    else if (project_canvasjob.pendingrect.load(std::memory_order_acquire))
        project_setcanvasdepthrect();
    view_startcanvas();
}
