// Contour records: allocation with the full vertex buffer and release. The
// buffer never grows, so producers write straight into it.
#include "geom/contour.h"

#include "sys/log.h"
#include "sys/mem.h"

#include <atomic>

int cont_count = 0;

// Contours are made and freed on workers and the main thread alike.
static void cont_countadd(int n)
{
    std::atomic_ref<int>(cont_count).fetch_add(n);
}

contour *cont_new()
{
    contour *c = (contour *)sys_calloc(1, sizeof(contour));
    if (!c) {
        sys_error("cont_new: failed to allocate contour");
        return nullptr;
    }
    c->verts = (float *)sys_malloc(cont_maxverts * 3 * (int32_t)sizeof(float));
    if (!c->verts) {
        sys_error("cont_new: failed to allocate vertices array");
        sys_free(c);
        return nullptr;
    }
    cont_countadd(1);
    return c;
}

void cont_free(contour *c)
{
    if (!c)
        return;
    sys_free(c->verts);
    sys_free(c);
    cont_countadd(-1);
}
