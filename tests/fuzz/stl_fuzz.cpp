// Fuzz target of the STL model reader. Whatever the bytes, a load must end
// without a fault, a leak or a huge allocation; a model it accepts keeps its
// faces inside its vertices and every face colour finite, and a refused one
// leaves the table and memory as they were.
#include "geom/model.h"
#include "mainwindow/import/modelload.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    file_tablealloc();
    sys_logfile = file_open("/dev/null", "wt");
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok", 1);
    return 0;
}

static void fuzz_checkmodel(int slot)
{
    const model &m = models[slot];
    if (m.num_verts > m.sz_verts || m.num_faces > m.sz_faces || m.num_faces == 0)
        abort();
    for (uint32_t i = 0; i < m.num_faces; i++) {
        const model_face &f = m.faces[i];
        if (f.a >= m.num_verts || f.b >= m.num_verts || f.c >= m.num_verts)
            abort();
        for (float c : f.normal)
            if (!std::isfinite(c))
                abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    // The loader reads a file's bytes followed by one zero byte.
    std::vector<char> text(data, data + size);
    text.push_back(0);
    uint64_t mem = sys_memused();
    int count = mdl_count;
    int slot = model_loadbuffer("fuzz.stl", text.data(), (int32_t)size);
    if (slot >= 0) {
        fuzz_checkmodel(slot);
        mdl_free(slot);
    }
    if (sys_memused() != mem || mdl_count != count || vbuckets)
        abort();
    return 0;
}
