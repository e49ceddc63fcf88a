// Fuzz target of the path and mesh readers, which take paths-layers, model
// layers and undo records from project files and blobs. Whatever the
// bytes, a read must end without a fault, a leak or a huge allocation; a
// path it accepts must be safe to walk, write and read again, and a model
// it accepts must keep its faces inside its vertices.
//
// The first input byte picks the reader; the rest is the blob.
//   bits 0-1: path form 0 (raw), 1 or 2 (quantised); 3 reads a model
//   bit 2:    path: skip the old bit sets; model: quantised form
#include "geom/model.h"
#include "geom/path.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The log goes nowhere, so the run spends its time in the readers.
    file_tablealloc();
    sys_logfile = file_open("/dev/null", "wt");
    return 0;
}

// Walks every curve and knot of an accepted path the way the editing and
// drawing code does; any link that leaves the arrays or loops ends the run.
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

// A path that was accepted is written in the raw form and must read back.
static void fuzz_rewritepath(const path *p)
{
    msg_stream w;
    if (!msg_alloc(&w, 4096))
        return;
    msg_writepath(&w, p);
    msg_stream r;
    msg_readfrom(&r, w.buffer, w.position);
    path *q = path_read(&r, 0, path_formraw);
    if (!w.failed && !q)
        abort();
    path_free(q);
    sys_free(w.buffer);
}

static void fuzz_checkmodel(int slot)
{
    const model &m = models[slot];
    if (m.num_verts > m.sz_verts || m.num_faces > m.sz_faces)
        abort();
    for (uint32_t i = 0; i < m.num_faces; i++) {
        const model_face &f = m.faces[i];
        if (f.a >= m.num_verts || f.b >= m.num_verts || f.c >= m.num_verts)
            abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > INT32_MAX / 2)
        return 0;
    uint64_t mem = sys_memused();
    int count = mdl_count;
    msg_stream m;
    msg_readfrom(&m, data + 1, (int32_t)(size - 1));
    int form = data[0] & 3, flag = (data[0] >> 2) & 1;
    if (form == 3) {
        int slot = model_read(&m, flag);
        if (slot >= 0) {
            fuzz_checkmodel(slot);
            mdl_free(slot);
        }
    } else {
        path *p = path_read(&m, flag, form);
        if (p) {
            fuzz_walkpath(p);
            fuzz_rewritepath(p);
        }
        path_free(p);
    }
    if (sys_memused() != mem || mdl_count != count || m.position > m.end)
        abort();
    return 0;
}
