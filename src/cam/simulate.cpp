// The simulation jobs. Step images let playback jump to any quarter of an
// operation without rasterising it again; the depth-map job blends whole
// operations and steps with the maximum (a deeper cut wins) and rasterises
// only what no step covers. Every wait here is bounded and ends on quit,
// since the viewport and the project reset wait on these jobs in turn.
#include "cam/simulate.h"

#include "cam/cam.h"
#include "cam/simraster.h"
#include "cam/toolpath.h"
#include "img/blend.h"
#include "img/image.h"
#include "img/levels.h"
#include "project/canvas.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/main.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

int sim_width = 0;
int sim_height = 0;
float sim_value = 0.5f;
sim_staterecord sim_state;
std::atomic<uint32_t> cam_simgenerating{0};
std::atomic<int32_t> sim_jobcount{0};
double sim_waitlimit = 30.0;
double sim_waitpoll = 0.5;

static float proj_stamp = 0.0f;

float *proj_floatref()
{
    proj_stamp = (float)sys_seconds();
    return &proj_stamp;
}

void sim_canvasbox(float *size, float *origin)
{
    for (int i = 0; i < 3; i++)
        size[i] = project.size[i];
    origin[0] = project.originoffset[0];
    origin[1] = project.originoffset[1] + size[1];
    origin[2] = project.originoffset[2] + size[2];
    size[1] = -size[1];
    size[2] = -size[2];
}

// ---------------------------------------------------------------- size

// Width and height within 1 .. sim_maxpixels pixels in all.
static void sim_clampsize(double &w, double &h)
{
    w = std::clamp(std::isfinite(w) ? std::trunc(w) : 1.0, 1.0, (double)sim_maxpixels);
    h = std::clamp(std::isfinite(h) ? std::trunc(h) : 1.0, 1.0, (double)sim_maxpixels);
    if (w * h <= (double)sim_maxpixels)
        return;
    const double s = std::sqrt((double)sim_maxpixels / (w * h));
    w = std::max(1.0, std::trunc(w * s));
    h = std::max(1.0, std::trunc(std::min(h * s, (double)sim_maxpixels / w)));
}

void sim_depthmapsize()
{
    const double n = cfg_geti(cfg_value348), a = project.aspect;
    double w = std::sqrt(n * n / a);
    double h = std::trunc(w) * a;
    const double ow = w, oh = h;
    sim_clampsize(w, h);
    if (!(std::trunc(ow) == w && std::trunc(oh) == h))
        sys_log("sim_depthmapsize: resolution %d at aspect %f gives %.0fx%.0f, clamped to %.0fx%.0f", (int)n, a, ow,
                oh, w, h);
    sim_width = (int)w;
    sim_height = (int)h;
    sim_value = cfg_getf(cfg_value352);
    const double ppi = std::max(w / (project.size[0] * project.scale), h / (project.size[1] * project.scale));
    sys_log("simulation depthmap size:%dx%d ppi:%d", sim_width, sim_height,
            std::isfinite(ppi) && std::fabs(ppi) < 1e9 ? (int)ppi : 0);
}

// ---------------------------------------------------------------- step images

static void sim_freesteps(projop &e)
{
    if (e.simulation != e.steps[3].img)
        img_free(e.simulation);
    for (projsimstep &s : e.steps) {
        img_free(s.img);
        s = projsimstep{};
    }
    e.simulation = nullptr;
}

// Step 3: the four quarters. 0 when an image could not be had.
static int sim_makesteps(projop &e, double t0)
{
    float size[3], origin[3];
    sim_canvasbox(size, origin);
    const int slot = cam_ops[e.camop].toolpath;
    const double step = slot >= 0 && slot < toolpath_maxslots && toolpaths[slot].verts ? 0.25 * toolpaths[slot].feeds
                                                                                        : 0.0;
    int path = 0, move = 0;
    double fraction = 0.0;
    image *running = nullptr;
    for (int k = 1; k <= 4; k++) {
        double len = k == 4 ? 2.0 * step : step;
        image *img = cam_rasteroplength(e.camop, &path, &move, &fraction, &len, size, origin, nullptr, nullptr, 0,
                                        nullptr);
        if (!img)
            img = img_alloc("blksim", sim_width, sim_height, 4);
        if (!img) {
            img_free(running);
            return 0;
        }
        if (!running) {
            running = img;
        } else {
            img_scalarblend(running, img, img_blendmaximum, 1.0f);
            img_free(img);
        }
        image *copy = img_copy(running);
        if (!copy) {
            img_free(running);
            return 0;
        }
        e.steps[k - 1] = {copy, path, move, fraction, k * step};
        sys_log("...generated simimg[%d] \"%s\" %dx%d (%fs elapse)", k, e.name, sim_width, sim_height,
                sys_seconds() - t0);
    }
    img_free(running);
    e.simulation = e.steps[3].img;
    return 1;
}

void job_projgenopsimimage(void *entry)
{
    projop &e = *(projop *)entry;
    const double t0 = sys_seconds();
    sys_log("job_projgenopsimimage begin... (camop%d %dx%d)", e.camop, sim_width, sim_height);
    sim_freesteps(e);
    if (e.camop < 0 || e.camop >= cam_maxops) {
        sys_log("job_projgenopsimimage: entry \"%s\" has no operation record", e.name);
    } else {
        e.simtime = e.created;
        if (sim_makesteps(e, t0))
            sys_log("...generated opsimimages \"%s\" (%fs elapse)", e.name, sys_seconds() - t0);
        else
            sim_freesteps(e);
    }
    project_jobchangetime.store((float)sys_seconds());
    e.simbusy.store(0, std::memory_order_release);
    sim_jobcount.fetch_sub(1, std::memory_order_acq_rel);
}

// ---------------------------------------------------------------- depth-map

int sim_dirtyrects(const int32_t *cells, int n, int32_t (*rects)[4])
{
    int count = 0;
    for (int r = 0; r < n; r++) {
        for (int c = 0; c < n;) {
            if (!cells[r * n + c]) {
                c++;
                continue;
            }
            const int start = c;
            while (c < n && cells[r * n + c])
                c++;
            if (count < sim_maxrects) {
                const int32_t rect[4] = {start, r, c - 1, r};
                memcpy(rects[count++], rect, sizeof(rect));
            }
        }
    }
    // A column of equal runs collapses into its top rectangle.
    for (int a = 0; a < count; a++) {
        if (rects[a][0] < 0)
            continue;
        for (int b = a + 1; b < count; b++) {
            if (rects[b][0] < 0 || rects[b][1] == rects[a][3])
                continue;
            if (rects[b][1] > rects[a][3] + 1)
                break;
            if (rects[b][0] == rects[a][0] && rects[b][2] == rects[a][2]) {
                rects[a][3] = rects[b][1];
                rects[b][0] = -1;
            }
        }
    }
    int kept = 0;
    for (int a = 0; a < count; a++)
        if (rects[a][0] >= 0)
            memmove(rects[kept++], rects[a], sizeof(rects[a]));
    return kept;
}

// Sleeps one poll of ms milliseconds; false once the wait has passed
// seconds or the program quits.
static bool sim_pollwait(double since, double seconds, int ms)
{
    if (sys_quit.load(std::memory_order_acquire) || sys_seconds() - since >= seconds)
        return false;
    SDL_Delay(ms);
    return true;
}

// Step 2.2's wait for entry i's step images; true when they are ready.
static bool sim_waitsteps(int i, projop &e)
{
    const double t0 = sys_seconds();
    bool said = false;
    for (;;) {
        const bool busy = e.simbusy.load(std::memory_order_acquire);
        if (!busy && e.simulation && e.simtime == e.created)
            return true;
        if (!busy) {
            if (e.simulation)
                sys_log("op%d sim depthmap stale, not generating!", i);
            else
                sys_log("op%d sim depthmap missing, not stale, not generating!", i);
            return false;
        }
        if (!said)
            sys_log("op%d sim depthmap generating...", i);
        said = true;
        if (!sim_pollwait(t0, sim_waitlimit, (int)(sim_waitpoll * 1000.0))) {
            if (!sys_quit.load(std::memory_order_acquire))
                sys_error("cut depthmap for operation \"%s\" failed to generate", e.name);
            return false;
        }
    }
}

// Step 2.3: jump ahead by the last whole step the remaining length covers.
static void sim_usesteps(projop &e, image *map)
{
    sim_staterecord &s = sim_state;
    const double t0 = sys_seconds();
    while (e.simbusy.load(std::memory_order_acquire) && sim_pollwait(t0, sim_waitlimit, 10)) {
    }
    const bool ready = !e.simbusy.load(std::memory_order_acquire) && e.steps[0].img &&
                       e.steps[0].img->width == map->width && e.steps[0].img->height == map->height;
    if (!ready || !(s.remaining > e.steps[0].length)) {
        sys_log("( op does not have existing simulation images, regen toolpath )");
        return;
    }
    sys_log("( has existing simulation images )");
    int k = 0;
    while (k < 3 && e.steps[k + 1].img && !(e.steps[k + 1].length > s.remaining))
        k++;
    const projsimstep &st = e.steps[k];
    sys_log("incorporating \"%s\" simstep[%d] length:%f steplength:%f...", e.name, k + 1, s.remaining, st.length);
    s.path = st.path;
    s.move = st.move;
    s.position = st.fraction;
    s.remaining -= st.length;
    img_scalarblend(map, st.img, img_blendmaximum, 1.0f);
}

// Rasterises the next stretch of the simulated operation over the remaining
// length; the caller frees the image.
static image *sim_rasterize(const projop &e, int *rect, int n)
{
    sim_staterecord &s = sim_state;
    float size[3], origin[3];
    sim_canvasbox(size, origin);
    double len = s.remaining;
    image *cut = cam_rasteroplength(e.camop, &s.path, &s.move, &s.position, &len, size, origin, s.toolpos, rect, n,
                                    n ? s.cells : nullptr);
    s.remaining = std::max(0.0, s.remaining - len);
    return cut;
}

// Step 2: the whole depth-map from the earlier operations and the playback.
static void sim_fullbuild(int limit)
{
    sim_staterecord &s = sim_state;
    image *map = img_alloc("sim_image", sim_width, sim_height, 4);
    if (!map) {
        sys_log("project_gensimulation: no depthmap %dx%d", sim_width, sim_height);
        return;
    }
    sys_log("creating simulation depthmap %dx%d", sim_width, sim_height);
    for (int i = 0; i < std::min(limit, project_maxops); i++) {
        projop &e = project.ops[i];
        if (e.camop < 0 || !e.include)
            continue;
        if (!sim_waitsteps(i, e)) {
            sys_log("...op%d had no simulation image, skipping...", i);
            continue;
        }
        sys_log("applying \"%s\" img(%dx%d) to sim(%dx%d)...", e.name, e.simulation->width, e.simulation->height,
                map->width, map->height);
        img_scalarblend(map, e.simulation, img_blendmaximum, 1.0f);
    }
    if (s.playback && s.remaining > 0.0001 && s.op >= 0 && s.op < project_maxops && project.ops[s.op].camop >= 0) {
        projop &e = project.ops[s.op];
        sim_usesteps(e, map);
        if (s.remaining > 0.0001) {
            sys_log("rasterizing op%02d path:%d move:%d frac:%f length:%f", s.op, s.path, s.move, s.position,
                    s.remaining);
            image *cut = sim_rasterize(e, nullptr, 0);
            if (cut)
                img_scalarblend(map, cut, img_blendmaximum, 1.0f);
            else
                sys_log("failed to generate toolpath cut depthmap for \"%s\"", e.name);
            img_free(cut);
        }
    }
    const int32_t all[4] = {0, 0, sim_cells - 1, sim_cells - 1};
    memcpy(s.rects[0], all, sizeof(all));
    s.numrects = 1;
    s.stamp = *proj_floatref();
    project_canvas.simulation = map;
}

// Step 3: the next stretch, blended only where its cells were touched. A
// remaining length too small to add anything leaves the position alone,
// so no cut is counted without being shown.
static void sim_update()
{
    sim_staterecord &s = sim_state;
    s.numrects = 0;
    if (s.op < 0 || s.op >= project_maxops || project.ops[s.op].camop < 0 || !(s.remaining > 0.0001))
        return;
    int rect[4] = {0, 0, 0, 0};
    image *cut = sim_rasterize(project.ops[s.op], rect, sim_cells);
    if (cut && rect[0] < rect[2] && rect[1] < rect[3]) {
        s.numrects = sim_dirtyrects(s.cells, sim_cells, s.rects);
        sys_debuglog("simulation updating %d rects... toolpos:%f,%f,%f", s.numrects, s.toolpos[0], s.toolpos[1],
                     s.toolpos[2]);
        for (int k = 0; k < s.numrects; k++) {
            const int32_t *r = s.rects[k];
            const float unit[4] = {r[0] / (float)sim_cells, 1.0f - (r[3] + 1) / (float)sim_cells,
                                   (r[2] + 1) / (float)sim_cells, 1.0f - r[1] / (float)sim_cells};
            img_samplerect(project_canvas.simulation, cut, img_blendmaximum, unit);
        }
        s.stamp = *proj_floatref();
    }
    img_free(cut);
}

void project_gensimulation(void *)
{
    sim_staterecord &s = sim_state;
    cam_simgenerating.store(1, std::memory_order_release);
    const double t0 = sys_seconds();
    sys_debuglog("threaded simulation update start op%02d...", s.op);
    memset(s.cells, 0, sizeof(s.cells));
    int limit = s.op;
    if (s.fraction < 0.0) {
        sys_log("simulating through selected operation");
        s.fraction = 1.0;
        limit = s.op + 1;
    }
    if (!project_canvas.simulation)
        sim_fullbuild(limit);
    else
        sim_update();
    const float d = (float)(sys_seconds() - t0);
    s.runtime = std::fabs(d - s.runtime) <= 0.1f ? 0.1f * d + 0.9f * s.runtime : d;
    s.done.store(1, std::memory_order_release);
    cam_simgenerating.store(0, std::memory_order_release);
    s.busy.store(0, std::memory_order_release);
}
