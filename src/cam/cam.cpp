// Operation records and the CAM shutdown.
#include "cam/cam.h"

#include "sys/log.h"
#include "sys/thread.h"

camop cam_ops[cam_maxops];
int cam_mutex = -1;

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
