// Fuzz target of the DXF reader. Whatever the bytes, an import must end
// without a fault, a leak, a hang or a huge allocation, and every path it
// returns must be safe to walk. Auto-join is on so joining and closing run
// too; the combine question is answered "no" by the message-box seam.
#include "geom/path.h"
#include "mainwindow/import/dxf.h"
#include "sys/config.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    file_tablealloc();
    sys_logfile = file_open("/dev/null", "wt");
    setenv("KERFMILL_MSGBOX_ANSWERS", "no", 1);
    cfg_setf(cfg_dxftolerance, 0.5f);
    cfg_setf(cfg_dxfautojoin, 0.5f);
    return 0;
}

static void fuzz_walkpath(const path *p)
{
    int curves = 0, knots = 0;
    for (int c = p->ctail; c != -1; c = p->curves[c].next) {
        if (c < 0 || c >= p->csz || ++curves > p->csz)
            abort();
        for (int k = p->curves[c].tail; k != -1; k = p->knots[k].next)
            if (k < 0 || k >= p->ksz || ++knots > p->ksz)
                abort();
    }
    if (curves != p->cnum || knots != p->knum)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    uint64_t mem = sys_memused();
    static path *paths[dxf_maxlayers];
    int count = dxf_loadtext("fuzz.dxf", (const char *)data, (int32_t)size, paths);
    for (int i = 0; i < count; i++) {
        fuzz_walkpath(paths[i]);
        path_free(paths[i]);
    }
    if (sys_memused() != mem)
        abort();
    return 0;
}
