// Starting and installing canvas compositions. The busy flag is claimed by
// compare-exchange here and in the rectangle job, so that the two can never
// both start and rewrite the same cached depth maps.
#include "view/canvasinstall.h"
#include "view/layerfollow.h"

#include "img/image.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "project/canvas.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/tracepaths.h"
#include "project/transform.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"

#include <algorithm>
#include <atomic>
#include <cmath>
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
    return project.generating[0] || project.generating[1] || project_savebusy;
}

void project_setcanvasdepth()
{
    project_canvasjobrecord &c = project_canvasjob;
    image *img = c.pendingcanvas.load(std::memory_order_acquire);
    if (!img)
        return;
    switch (jobmode.load()) {
    case canvas_view:
    case canvas_onelayer:
        if (!project_freecanvas(1, 0, (int)jobrebuild.load(), 0))
            return; // installed by a later frame
        project_canvas.img = img;
        for (int i = 0; i < 3; i++)
            project.originoffset[i] = -(project.originfrac[i] * project.size[i]);
        project.aspect = (float)img->height / (float)img->width;
        sys_log("setcanvas:%dx%d sz:%3.3fx%3.3fx%3.3f org:%1.2f,%1.2f,%1.2f", img->width, img->height,
                project.size[0], project.size[1], project.size[2], project.originfrac[0], project.originfrac[1],
                project.originfrac[2]);
        sys_log("...project_setcanvasdepth done");
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
    default: // fitting takes the image once its part exists
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
    sys_debuglog("...project_setcanvasdepthrect done");
    c.pendingrect.store(nullptr, std::memory_order_release);
    jobrebuild.store(0);
    canvas_giveback();
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
