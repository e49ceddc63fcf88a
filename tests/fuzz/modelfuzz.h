// Shared body of the model-reader fuzz targets (STL, OBJ). Whatever the
// bytes, a load must end without a fault, a leak or a huge allocation; a
// model it accepts keeps its faces inside its vertices and every face colour
// finite, and a refused one leaves the table and memory as they were. The
// file name picks the reader.
#pragma once
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

inline void modelfuzz_init()
{
    file_tablealloc();
    sys_logfile = file_open("/dev/null", "wt");
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok", 1);
}

inline void modelfuzz_checkmodel(int slot)
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

inline void modelfuzz_load(const char *name, const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return;
    // The loader reads a file's bytes followed by one zero byte.
    std::vector<char> text(data, data + size);
    text.push_back(0);
    uint64_t mem = sys_memused();
    int count = mdl_count;
    int slot = model_loadbuffer(name, text.data(), (int32_t)size);
    if (slot >= 0) {
        modelfuzz_checkmodel(slot);
        mdl_free(slot);
    }
    if (sys_memused() != mem || mdl_count != count || vbuckets)
        abort();
}
