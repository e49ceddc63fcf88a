// The error heap: a max-heap in one array, children of i at 2i + 1 and
// 2i + 2. Every placement is reported to the owner's callback so that its
// records always hold their entry's current index.
#include "geom/heap.h"

#include "sys/log.h"

#include <cstdlib>

void *(*heap_realloc)(void *block, size_t bytes) = realloc;

int heap_reset(heap *h, int64_t capacity, heap_indexfn onindex, void *user)
{
    heap_free(h);
    if (capacity < 1)
        capacity = 1;
    const uint64_t bytes = (uint64_t)capacity * sizeof(heap_entry);
    void *block = bytes <= SIZE_MAX ? heap_realloc(nullptr, (size_t)bytes) : nullptr;
    if (!block) {
        sys_log("heap_reset: no room for %lld entries", (long long)capacity);
        return 0;
    }
    h->entries = (heap_entry *)block;
    h->capacity = capacity;
    h->onindex = onindex;
    h->user = user;
    return 1;
}

void heap_free(heap *h)
{
    free(h->entries);
    *h = heap{};
}

static void heap_place(heap *h, int64_t i, heap_entry e)
{
    h->entries[i] = e;
    if (h->onindex)
        h->onindex(h->user, e.payload, i);
}

static void heap_siftup(heap *h, int64_t i)
{
    while (i > 0) {
        const int64_t parent = (i - 1) / 2;
        if (!(h->entries[i].key > h->entries[parent].key))
            return;
        const heap_entry up = h->entries[i];
        heap_place(h, i, h->entries[parent]);
        heap_place(h, parent, up);
        i = parent;
    }
}

// Doubles the array, sized in 64 bits: at the canvas limit the entries pass
// what a 32-bit size can hold.
static int heap_grow(heap *h)
{
    const int64_t capacity = h->capacity > 0 ? h->capacity * 2 : 1;
    const uint64_t bytes = (uint64_t)capacity * sizeof(heap_entry);
    void *block = bytes <= SIZE_MAX ? heap_realloc(h->entries, (size_t)bytes) : nullptr;
    if (!block) {
        sys_log("heap_push: growth to %lld entries (%llu bytes) refused", (long long)capacity,
                (unsigned long long)bytes);
        return 0;
    }
    h->entries = (heap_entry *)block;
    h->capacity = capacity;
    return 1;
}

int heap_push(heap *h, float key, uint64_t payload)
{
    if (h->count >= h->capacity && !heap_grow(h))
        return 0;
    const int64_t i = h->count++;
    heap_place(h, i, heap_entry{key, payload});
    heap_siftup(h, i);
    return 1;
}

void heap_siftdown(heap *h)
{
    int64_t i = 0;
    for (;;) {
        const int64_t l = 2 * i + 1, r = l + 1;
        if (l >= h->count)
            return;
        int64_t big = l;
        if (r < h->count && h->entries[r].key > h->entries[l].key)
            big = r;
        if (!(h->entries[big].key > h->entries[i].key))
            return;
        const heap_entry down = h->entries[i];
        heap_place(h, i, h->entries[big]);
        heap_place(h, big, down);
        i = big;
    }
}

int heap_take(heap *h, heap_entry *out)
{
    if (h->count <= 0)
        return 0;
    *out = h->entries[0];
    h->count--;
    if (h->count > 0) {
        heap_place(h, 0, h->entries[h->count]);
        heap_siftdown(h);
    }
    return 1;
}

void heap_raise(heap *h, int64_t index, float key, uint64_t payload)
{
    heap_place(h, index, heap_entry{key, payload});
    heap_siftup(h, index);
}
