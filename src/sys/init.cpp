// Subsystem start-up. The mutexes come first and in a fixed order, so their
// ids are fixed: memory 0, log 1, status 2, frame 3.
#include "sys/init.h"

#include "platform/path.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

static void init_mutexes()
{
    sys_log("");
    sys_log("mutexes...");
    sys_memmutex = sys_createmutex();
    sys_logmutex = sys_createmutex();
    sys_statusmutex = sys_createmutex();
    sys_framemutex = sys_createmutex();
}

// The undo/redo ring, empty.
static int init_events()
{
    sys_log("");
    sys_log("event...");
    return event_alloc();
}

int sys_init()
{
    init_mutexes();
    if (!init_events())
        return 0;
    plat_joinpath(sys_backuppath, sizeof(sys_backuppath), sys_userfolder, "backup.kfm");
    return 1;
}
