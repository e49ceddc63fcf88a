// The undo/redo event ring: 256 slots, each holding one edit as its type, an
// auxiliary number and copies of the state before and after it. The ring
// drops its oldest events when it wraps or when the blobs would exceed the
// configured undo memory. Stepping through it and replaying blobs belong to
// the viewport and the project. Main thread only.
#pragma once
#include <cstdint>

constexpr int event_slots = 256;

enum event_type : int32_t {
    event_null,
    event_canvasstate,
    event_fitcanvas,
    event_layerstate,
    event_layerswapnext,
    event_layeraddremove,
    event_layeraddmulti,
    event_layermergedown,
    event_layerdata,
    event_rasterselection,
    event_types
};

struct event {
    int32_t type; // 0: empty slot
    int32_t aux;  // the type's own number; -1 in an empty slot
    uint32_t oldsize;
    uint32_t newsize;
    void *olddata; // sys_malloc blocks owned by the ring, or null
    void *newdata;
};
static_assert(sizeof(event) == 32);

extern event *event_ring; // event_slots slots; null before start-up
// Counters of events ever queued; a counter selects slot counter mod 256.
// Events from oldest up to position are applied and can be undone; those
// from position up to end can be redone.
extern uint32_t event_oldest;
extern uint32_t event_position;
extern uint32_t event_end;
extern uint64_t event_bytes; // bytes of all blobs held

// Allocates the zeroed ring and clears it; 0 when allocation failed.
int event_alloc();
// Clears and frees the ring when it exists.
void event_free();
// Records an edit, copying both blobs (either may be null); the caller keeps
// its own buffers. Returns 1, or 0 for an invalid type or when the ring does
// not exist.
int event_queue(int32_t type, int32_t aux, uint32_t oldsize, const void *olddata, uint32_t newsize,
                const void *newdata);
void event_clear();
// The byte budget from the configured undo memory.
uint64_t event_budget();
