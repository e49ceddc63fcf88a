// Operation records, the CAM log and the CAM shutdown.
#include "cam/cam.h"

#include "sys/log.h"
#include "sys/thread.h"

#include <cstdarg>
#include <cstdio>

camop cam_ops[cam_maxops];
int cam_mutex = -1;
int cam_generatingop = -1;

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
    op->inuse = 0;
    op->generating = 0;
    op->progress = 0.0f;
}

void cam_removeoperation(int index)
{
    (void)index; // the project holds no operations yet
}

void toolpath_init()
{
    sys_log("toolpath structure size:%db", cam_toolpathbytes);
}

void cam_init()
{
    for (camop &op : cam_ops) {
        op.inuse = 0;
        op.type = 0;
        op.generating = 0;
        op.progress = 0.0f;
        op.time = 0.0f;
    }
    cam_generatingop = -1;
    cam_mutex = sys_createmutex();
    sys_log("contour structure size: %dkb", cam_contourkb);
}

void cam_quit()
{
    sys_log("cam_quit: tool surface images...");
    sys_log("cam_quit: remove operation...");
    for (int i = 0; i < cam_maxops; i++) {
        camop *op = &cam_ops[i];
        sys_log("cam_removeoperation id%d", i);
        if (!op->inuse)
            continue;
        if (op->generating) {
            sys_log("cam_removeoperation: op%d generating, queuing for threaded removal", i);
            sys_threadjob("clearop", cam_clearop, op);
        } else {
            sys_log("cam_removeoperation: clearing op%d...", i);
            cam_clearop(op);
        }
    }
    sys_destroymutex(cam_mutex);
    cam_mutex = -1;
}
