// The undo/redo event ring: queuing with its wrap and budget rules, and
// clearing with a check of the byte bookkeeping.
#include "sys/event.h"

#include "sys/config.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cstring>

event *event_ring = nullptr;
uint32_t event_oldest = 0;
uint32_t event_position = 0;
uint32_t event_end = 0;
uint64_t event_bytes = 0;

static const char *const event_names[event_types] = {
    "null event",      "canvas state",   "fit canvas",      "layer state", "layer swapnext",
    "layer addremove", "layer addmulti", "layer mergedown", "layer data",  "raster selection",
};

int event_alloc()
{
    event_ring = (event *)sys_calloc(event_slots, sizeof(event));
    if (!event_ring)
        return 0;
    event_clear();
    return 1;
}

void event_free()
{
    if (!event_ring)
        return;
    event_clear();
    sys_free(event_ring);
    event_ring = nullptr;
}

static event *event_slot(uint32_t counter)
{
    return &event_ring[counter % event_slots];
}

// Frees a slot's blobs, takes their bytes off the total and marks it empty.
static void event_empty(event *e)
{
    event_bytes -= (uint64_t)e->oldsize + e->newsize;
    sys_free(e->olddata);
    sys_free(e->newdata);
    *e = event{0, -1, 0, 0, nullptr, nullptr};
}

uint64_t event_budget()
{
    // 64 bits: budgets of 4,096 MB and more must not wrap to nothing.
    int32_t mb = cfg_geti(cfg_undomemory);
    return mb > 0 ? (uint64_t)mb * 1048576u : 0;
}

// Drops the oldest events until the new one's bytes fit the budget; the
// event at counter i itself is never dropped, even when it alone is larger.
static void event_trim(uint32_t i, uint64_t incoming)
{
    uint64_t budget = event_budget();
    while (event_bytes + incoming > budget && event_oldest != i) {
        event *e = event_slot(event_oldest++);
        if (e->type)
            event_empty(e);
    }
}

// A copy of a blob owned by the ring; a blob that cannot be copied is
// stored as absent (size 0) so nothing ever replays a missing block.
static void event_copy(void **data, uint32_t *size, const void *from, const char *which)
{
    *data = nullptr;
    if (!from || !*size) {
        *size = 0;
        return;
    }
    *data = *size <= INT32_MAX ? sys_malloc((int32_t)*size) : nullptr;
    if (!*data) {
        sys_log("event_queue: failed to store the %s blob (%u bytes)", which, *size);
        *size = 0;
        return;
    }
    memcpy(*data, from, *size);
    event_bytes += *size;
}

int event_queue(int32_t type, int32_t aux, uint32_t oldsize, const void *olddata, uint32_t newsize,
                const void *newdata)
{
    if (!event_ring || type <= event_null || type >= event_types) {
        sys_log("event_queue: refused event type %d", type);
        return 0;
    }
    uint32_t i = event_position;
    // Queuing after undos discards the redo entries: free them now so
    // unreachable blobs do not count against the budget. The ring holds at
    // most 256 of them, whatever the counters say.
    for (uint32_t n = 0; n < event_slots && i + n != event_end; n++)
        event_empty(event_slot(i + n));
    event_position = event_end = i + 1;
    sys_log("queuing event: %s (type:%d aux:%d sz_old:%d sz_new:%d)", event_names[type], type, aux,
            (int)oldsize, (int)newsize);
    event *e = event_slot(i);
    if (e->type) {
        // The ring has wrapped: the slot's event is gone, and at most 256
        // events can be undone.
        event_empty(e);
        if (i - event_oldest > event_slots - 1)
            event_oldest = i - (event_slots - 1);
    }
    e->type = type;
    e->aux = aux;
    event_trim(i, (uint64_t)(olddata ? oldsize : 0) + (newdata ? newsize : 0));
    e->oldsize = oldsize;
    e->newsize = newsize;
    event_copy(&e->olddata, &e->oldsize, olddata, "old");
    event_copy(&e->newdata, &e->newsize, newdata, "new");
    return 1;
}

void event_clear()
{
    if (!event_ring)
        return;
    for (int s = 0; s < event_slots; s++)
        if (event_ring[s].type)
            event_empty(&event_ring[s]);
        else
            event_ring[s] = event{0, -1, 0, 0, nullptr, nullptr};
    event_position = event_end = event_oldest = 0;
    if (event_bytes != 0) {
        sys_error("Mis-aligned events buffer! Event bytes unaccounted for: %d", (int)event_bytes);
        event_bytes = 0;
    }
}
