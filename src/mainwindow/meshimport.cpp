// Mesh import support: allocation and release of the vertex hash that
// mdl_vert consults while it is present.
#include "mainwindow/meshimport.h"

#include "geom/model.h"
#include "platform/memadvice.h"
#include "sys/log.h"
#include "sys/mem.h"

int vbucket_alloc()
{
    if (vbuckets) {
        sys_error("vbucket_alloc: vertex buckets already allocated!");
        return 0;
    }
    // Zeroed: every bucket starts with a count of 0.
    vbuckets = (vbucket *)sys_calloc(vbucket_count, (int32_t)sizeof(vbucket));
    if (!vbuckets) {
        sys_error("vbucket_alloc: failed to allocate hash buckets");
        return 0;
    }
    // Every vertex lands in a random bucket: huge pages spare most of the
    // page faults and TLB misses of that walk.
    plat_advisehugepages(vbuckets, (size_t)vbucket_count * sizeof(vbucket));
    return 1;
}

void vbucket_free()
{
    sys_free(vbuckets);
    vbuckets = nullptr;
}
