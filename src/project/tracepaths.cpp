// Tracing depth into curves. The depth job waits its turn like a canvas
// composition and is counted among them, since the install step that takes
// its map gives a count back; it marks the map as a trace itself. The tracing job cuts the field at the plane,
// or, for an offset outline, the signed distance to the cut at the offset.
#include "project/tracepaths.h"

#include "geom/contour.h"
#include "geom/path.h"
#include "geom/pathedit.h"
#include "img/adjust.h"
#include "img/image.h"
#include "img/smooth.h"
#include "project/canvas.h"
#include "project/layerdepth.h"
#include "project/project.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "sys/waits.h"

#include <SDL.h>

#include <cfloat>
#include <cmath>
#include <cstdint>

std::atomic<int32_t> trace_busy{0};
std::atomic<path *> trace_result{nullptr};
float trace_starttime = 0.0f;

// One of the user's trace values from the configuration; a value the file
// left unusable reads as its fallback rather than spoiling the fit.
static float trace_setting(int offset, float lo, float hi, float fallback)
{
    const float v = cfg_getf(offset);
    if (!(v >= lo && v <= hi)) {
        sys_log("job_tracetopaths: trace setting %g out of range, using %g", v, fallback);
        return fallback;
    }
    return v;
}

float trace_tolerance(float error, float upp)
{
    const float q2 = error * error;
    return 2.0f * ((1.0f - q2) * upp + 64.0f * upp * q2);
}

// Waits until no composition is queued or running, no result is pending and
// nothing that writes layers runs, then claims the composition's busy flag,
// as the rectangle update does. jobmode is one global: only while no
// composition can start or be composing may the map be marked as a trace.
// 0 when the wait reaches its limit (logged) or the program quits.
static int trace_claim()
{
    project_canvasjobrecord &c = project_canvasjob;
    bool told = false;
    return sys_waituntil(
        [&] {
            if (!c.pendingcanvas.load(std::memory_order_acquire) && !c.pendingrect.load(std::memory_order_acquire) &&
                !project.generating[0] && !project_savebusy) {
                uint32_t clear = 0;
                if (c.updating.compare_exchange_strong(clear, 1))
                    return true;
            }
            if (!told)
                sys_log("job_genlayerpathingdepth: waiting for a pending canvas update");
            told = true;
            return false;
        },
        canvas_waitlimit, "job_genlayerpathingdepth");
}

static image *trace_layerdepth(int slot)
{
    const project_layer &l = project.layers[slot];
    if (cfg_getf(cfg_canvasquality) >= 1.0f && l.depth) {
        const image *d = l.depth;
        return img_alloc(d->name, d->width, d->height, d->bytesperpixel, d->pixels);
    }
    const int w = (int)(project.size[0] * (float)project.ppi * project.scale);
    const int h = (int)(project.size[1] * (float)project.ppi * project.scale);
    if (l.type == layer_text && l.data.text >= 0 && text_objects)
        text_setptsize(l.data.text, text_objects[l.data.text].ptsize, (float)project.ppi);
    return layer_gendepth(slot, w, h);
}

void job_genlayerpathingdepth(void *argument)
{
    const int slot = (int)(intptr_t)argument;
    project.generating[1].store(1, std::memory_order_release);
    image *depth = nullptr;
    uint32_t uid = 0;
    if (slot >= 0 && slot < project_maxlayers && project.layers[slot].type != layer_free) {
        uid = project.layers[slot].uid;
        depth = trace_layerdepth(slot);
    }
    // Not generating while it waits: a project reset waits for that flag,
    // and the install this job waits for runs on the thread of the reset.
    project.generating[1].store(0, std::memory_order_release);
    if (!depth) {
        sys_error("Failed to produce depthmap for tracing!");
        return;
    }
    if (!trace_claim()) {
        img_free(depth);
        return;
    }
    project_canvasjobrecord &c = project_canvasjob;
    if (project.layers[slot].type == layer_free || project.layers[slot].uid != uid) {
        sys_log("job_genlayerpathingdepth: layer %d went while waiting, its map dropped", slot);
        img_free(depth);
        c.updating.store(0, std::memory_order_release);
        return;
    }
    {
        sys_mutexguard g(project_mutex);
        c.inprogress += 1;
    }
    jobmode.store(canvas_trace);
    c.pendingcanvas.store(depth, std::memory_order_release);
    c.updating.store(0, std::memory_order_release);
}

// The field to contour and its level: the depth at the plane, or the
// signed distance (project units, positive outside) to the plane's outline
// at the offset. Takes ownership of depth; null when a step fails.
static image *trace_field(image *depth, float z, float upp, float offset, float *level)
{
    if (std::fabs(offset) <= 0.001f) {
        *level = z;
        return depth;
    }
    image *above = img_scalarath(depth, z, 1);
    img_free(depth);
    if (!above)
        return nullptr;
    image *distance = img_scalardistsmooth(above, upp, 0.0f);
    if (distance)
        sys_log("distance-transformed %dx%d image (elapsed %.3fs)", above->width, above->height,
                sys_seconds() - trace_starttime);
    img_free(above);
    *level = offset;
    return distance;
}

static void trace_nothing()
{
    trace_busy.store(0, std::memory_order_release);
    const char *text = "A paths-layer was not created because no paths were generated.\n\nAdjust the Trace Z-Plane to "
                       "coincide with the canvas contents. The Z-Plane is shown as red where it intersects the "
                       "canvas. Green and red delineate the intersection(s) where paths will be created.";
    if (sys_onmainthread())
        sys_messagebox("Trace to Paths", text, 0, 4, 0);
    else
        sys_postnotice("Trace to Paths", 4, text);
}

void job_tracetopaths(void *argument)
{
    image *depth = (image *)argument;
    trace_starttime = (float)sys_seconds();
    trace_busy.store(1, std::memory_order_release);
    if (!img_isscalar(depth, "job_tracetopaths") || project.size[2] == 0.0f) {
        img_free(depth);
        return trace_nothing();
    }
    const float *s = project.size;
    const float upp = s[0] / (float)depth->width;
    float level = 0.0f;
    const float zplane = trace_setting(cfg_tracezplane, -FLT_MAX, FLT_MAX, 0.0f);
    const float offset = trace_setting(cfg_traceoffset, -FLT_MAX, FLT_MAX, 0.0f);
    image *field = trace_field(depth, zplane / s[2], upp, offset, &level);
    contour *c = nullptr;
    if (field) {
        const float scale[3] = {s[0], -s[1], 0.0f}, origin[3] = {0.0f, s[1], 0.0f};
        c = cont_fromimage(field, level, scale, origin, 0.9999f, upp, 64.0f * upp, 0);
        img_free(field);
    }
    if (c)
        sys_log("contoured %d polylines, %d verts (elapsed %.3fs)", (int)c->numpolys, (int)c->numverts,
                sys_seconds() - trace_starttime);
    path *p = c && c->numpolys ? path_new() : nullptr;
    if (!p) {
        cont_free(c);
        return trace_nothing();
    }
    const float e = trace_tolerance(trace_setting(cfg_traceerror, 0.0f, 1.0f, 0.5f), upp);
    sys_log("paths error = %f", e);
    const float *v = c->verts;
    for (uint32_t i = 0; i < c->numpolys; v += (size_t)c->vertcount[i] * 3, i++)
        if (c->vertcount[i] > 4)
            addcurvepoly(p, (int)c->vertcount[i], v, (int)c->closed[i], e);
    trace_busy.store(0, std::memory_order_release);
    trace_result.store(p, std::memory_order_release);
    sys_log("%d paths/%d nodes generated from %d polys/%d verts (elapse %.3fs)", p->cnum, p->knum,
            (int)c->numpolys, (int)c->numverts, sys_seconds() - trace_starttime);
    cont_free(c);
}
