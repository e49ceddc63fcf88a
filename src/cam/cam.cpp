// Operation records and their bookkeeping (swap, remove, clear), the CAM
// log and the CAM shutdown.
#include "cam/cam.h"

#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/model.h"
#include "img/image.h"
#include "project/project.h"
#include "render/draw.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "sys/waits.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

camop cam_ops[cam_maxops];
int cam_mutex = -1;
int cam_generatingop = -1;
// A generator may run for many minutes on a large canvas; nothing waits on
// the job that clears after it, so it can afford to wait long.
double cam_clearlimit = 3600.0;

const char *const camop_typenames[camop_types] = {
    "None",
    "Parallel Carving",
    "Chevron Carving",
    "Spiral Carving",
    "Labyrinth Carving",
    "Standard Stippling",
    "Medial-Axis Carving",
    "2.5D Offset Milling",
    "2D Profile Milling",
    "Conformal Carving",
    "2D Offset Milling",
    "Dithered Stippling",
    "Paths Carving",
    "Tessellated Carving",
    "2.5D Trochoidal Milling",
    "2D Trochoidal Milling",
    "Hole Drilling",
    "Fillet Carving",
};

void cam_log(const char *caption, int icon, const char *format, ...)
{
    char text[sys_statusmax];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    sys_log("[ CAM ] %s - %s", caption, text);
    sys_notify(caption, icon, text);
}

void cam_clearop(void *record)
{
    camop *op = (camop *)record;
    sys_log("cam_clearop start: %3.2fmb", sys_memused() / 1048576.0);
    // On the job "clearop" the generator may still be finishing: nothing is
    // touched until it has let go of the record. One that outlasts the wait
    // keeps the record; the next reset or the shutdown clears it.
    if (!sys_waituntil([op] { return !op->generating.load(std::memory_order_acquire); }, cam_clearlimit,
                       "cam_clearop")) {
        sys_log("cam_clearop: record %d still generating, left as it is", (int)(op - cam_ops));
        return;
    }
    cont_free(op->cont);
    op->cont = nullptr;
    if (op->model >= 0)
        mdl_free(op->model);
    op->model = -1;
    if (op->toolpath >= 0)
        toolpath_free(op->toolpath);
    op->toolpath = -1;
    op->type = 0;
    op->generating.store(0, std::memory_order_release);
    op->progress.store(0.0f, std::memory_order_release);
    sys_log("cam_clearop end: %3.2fmb", sys_memused() / 1048576.0);
}

static void cam_changed()
{
    project_changetime = (float)sys_seconds();
    project_saved = 0;
}

static int32_t *cam_toolplace(int tool, int op)
{
    if (tool < 1 || tool > project_maxtools)
        return nullptr;
    for (int32_t &place : project.tools[tool - 1].ops)
        if (place == op)
            return &place;
    return nullptr;
}

// A step-image job writes its entry's images and steps through a reference
// it holds for its whole run: the entry must stay where it is until it ends.
static int cam_simbusy(int from, int to, const char *fn)
{
    for (int i = from; i <= to && i < project_maxops; i++)
        if (project.ops[i].simbusy.load(std::memory_order_acquire)) {
            sys_log("%s: operation %d is making its simulation images, nothing changed", fn, i);
            return 1;
        }
    return 0;
}

int cam_swapoperations(int i)
{
    if (i < 0 || i + 1 >= project_maxops) {
        sys_log("cam_swapoperations: no operations %d and %d", i, i + 1);
        return 0;
    }
    if (cam_simbusy(i, i + 1, "cam_swapoperations"))
        return 0;
    if (project.simlastop > i)
        project.simlastop = -1;
    projop &a = project.ops[i], &b = project.ops[i + 1];
    if (a.tool != b.tool) {
        // Look both places up before writing, so one tool's list never
        // sees the other's rename.
        int32_t *pa = cam_toolplace(a.tool, i), *pb = cam_toolplace(b.tool, i + 1);
        if (pa)
            *pa = i + 1;
        if (pb)
            *pb = i;
    }
    std::swap(static_cast<projopfields &>(a), static_cast<projopfields &>(b));
    int32_t busy = a.simbusy.load();
    a.simbusy.store(b.simbusy.load());
    b.simbusy.store(busy);
    cam_changed();
    return 1;
}

static void cam_freerecord(int index)
{
    camop *op = &cam_ops[index];
    sys_debuglog("...freeing camop[%d]", index);
    sys_log("cam_removeoperation id%d", index);
    if (op->type == 0)
        return;
    if (op->generating.load(std::memory_order_acquire)) {
        sys_log("cam_removeoperation: op%d generating, queuing for threaded removal", index);
        sys_threadjob("clearop", cam_clearop, op);
    } else {
        sys_log("cam_removeoperation: clearing op%d...", index);
        cam_clearop(op);
    }
}

static void cam_freemodel(int32_t *model, const char *what)
{
    if (*model < 0)
        return;
    sys_debuglog("%s[%d]", what, *model);
    r_modelfree(*model);
    *model = -1;
}

// The final image is normally the last step's: each image is freed once.
static void cam_freesimulation(projop &e)
{
    image *seen[5] = {};
    int n = 0;
    auto release = [&](image *img) {
        if (!img)
            return;
        for (int k = 0; k < n; k++)
            if (seen[k] == img)
                return;
        seen[n++] = img;
        img_free(img);
    };
    release(e.simulation);
    e.simulation = nullptr;
    for (projsimstep &step : e.steps) {
        release(step.img);
        step = projsimstep{};
    }
}

int cam_removeoperation(int n, int compact)
{
    if (n == -1)
        return 1;
    if (n < 0 || n >= project_maxops) {
        sys_log("cam_removeoperation: no operation %d", n);
        return 0;
    }
    // The compaction moves every entry after n.
    if (cam_simbusy(n, compact ? project_maxops - 1 : n, "cam_removeoperation"))
        return 0;
    // A running save reads the entry and its record without a lock.
    if (!project_waitsave()) {
        sys_log("cam_removeoperation: a save still runs, operation %d kept", n);
        return 0;
    }
    projop &e = project.ops[n];
    if (e.camop >= 0 && e.camop < cam_maxops)
        cam_freerecord(e.camop);
    e.camop = -1;
    if (int32_t *place = cam_toolplace(e.tool, n)) {
        sys_log("tool%2d -= op%d", e.tool, n);
        *place = -1;
    }
    e.tool = 0;
    cam_freemodel(&e.pathmodel, "...freeing pathmodel");
    cam_freemodel(&e.contmodel, "freeing contmodel");
    cam_freemodel(&e.meshmodel, "freeing meshmodel");
    cam_freesimulation(e);
    e.include = 0;
    e.show = 0;
    if (compact)
        for (int i = n; i + 1 < project_maxops; i++)
            cam_swapoperations(i);
    return 1;
}

void toolpath_init()
{
    sys_log("toolpath structure size:%db", cam_toolpathbytes);
}

void cam_init()
{
    for (camop &op : cam_ops) {
        op.type = 0;
        op.generating = 0;
        op.progress = 0.0f;
        op.time = 0.0f;
        op.cont = nullptr;
        op.model = -1;
        op.toolpath = -1;
    }
    cam_generatingop = -1;
    cam_mutex = sys_createmutex();
    sys_log("contour structure size: %dkb", cam_contourkb);
}

void cam_quit()
{
    sys_log("cam_quit: tool surface images...");
    sys_log("cam_quit: remove operation...");
    for (int i = 0; i < cam_maxops; i++)
        cam_freerecord(i);
    sys_destroymutex(cam_mutex);
    cam_mutex = -1;
}
