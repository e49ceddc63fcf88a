// The error heap: a max-heap in one array, children of i at 2i + 1 and
// 2i + 2. Every placement is reported to the owner's callback so that its
// records always hold their entry's current index.
#include "geom/heap.h"

#include "sys/log.h"

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

void *(*heap_realloc)(void *block, size_t bytes) = realloc;

void *heap_regrow(void *block, size_t used, size_t bytes)
{
    constexpr uintptr_t large = (uintptr_t)2 << 20;
    if (bytes < 2 * large)
        return heap_realloc(block, bytes);
    void *p = heap_realloc(nullptr, bytes);
    if (!p)
        return nullptr;
    const uintptr_t lo = ((uintptr_t)p + large - 1) & ~(large - 1);
    const uintptr_t hi = ((uintptr_t)p + bytes) & ~(large - 1);
    if (hi > lo)
        madvise((void *)lo, hi - lo, MADV_HUGEPAGE);
    if (block)
        memcpy(p, block, used);
    free(block);
    return p;
}

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

// Moves the hole at i up until e fits there, each parent passed moving down
// into it, and places e: the same places a swap at every step would give,
// with one placement per moved entry.
static void heap_settleup(heap *h, int64_t i, heap_entry e)
{
    while (i > 0) {
        const int64_t parent = (i - 1) / 2;
        if (!(e.key > h->entries[parent].key))
            break;
        heap_place(h, i, h->entries[parent]);
        i = parent;
    }
    heap_place(h, i, e);
}

// Moves the hole at i down until e fits there, the larger child (the right
// one only when strictly greater) rising into it while greater than e.
static void heap_settledown(heap *h, int64_t i, heap_entry e)
{
    for (;;) {
        const int64_t l = 2 * i + 1, r = l + 1;
        if (l >= h->count)
            break;
        // The next level's choice waits on its children: all four
        // grandchildren are asked for now, so reads down a deep heap overlap.
        __builtin_prefetch(h->entries + 2 * l + 1);
        __builtin_prefetch(h->entries + 2 * r + 2);
        int64_t big = l;
        if (r < h->count && h->entries[r].key > h->entries[l].key)
            big = r;
        if (!(h->entries[big].key > e.key))
            break;
        heap_place(h, i, h->entries[big]);
        i = big;
    }
    heap_place(h, i, e);
}

// Doubles the array, sized in 64 bits: at the canvas limit the entries pass
// what a 32-bit size can hold.
static int heap_grow(heap *h)
{
    const int64_t capacity = h->capacity > 0 ? h->capacity * 2 : 1;
    const uint64_t bytes = (uint64_t)capacity * sizeof(heap_entry);
    void *block = bytes <= SIZE_MAX
                      ? heap_regrow(h->entries, (size_t)h->count * sizeof(heap_entry), (size_t)bytes)
                      : nullptr;
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
    heap_settleup(h, h->count++, heap_entry{key, payload});
    return 1;
}

void heap_siftdown(heap *h)
{
    if (h->count > 0)
        heap_settledown(h, 0, h->entries[0]);
}

int heap_take(heap *h, heap_entry *out)
{
    if (h->count <= 0)
        return 0;
    *out = h->entries[0];
    h->count--;
    if (h->count > 0)
        heap_settledown(h, 0, h->entries[h->count]);
    return 1;
}

// Moves every entry on the path from the root to index down one place,
// from level j on (the path's positions in path[0..k], path[k] = index).
static void heap_shiftpath(heap *h, const int64_t *path, int j, int k, const heap_entry *above)
{
    for (int m = k - 1; m >= j; m--)
        heap_place(h, path[m + 1], above[m]);
}

// The places are those of moving the path down and sifting the last entry
// from the root, but worked out without the round trip: the sift first
// meets each entry just moved down and, while it still wins there, puts it
// back where it was. Only where the sift turns aside (the sibling wins, or
// the last entry stops) are the remaining entries really moved down, and
// from the index on the sift goes on as usual. A removal deep in a large
// heap then places a few entries instead of two paths' worth.
void heap_remove(heap *h, int64_t index)
{
    if (index < 0 || index >= h->count)
        return;
    const int64_t n = h->count - 1; // the count after removal
    if (index == n) {               // the last entry's own slot: its parent is what moves in
        for (int64_t i = index; i > 0; i = (i - 1) / 2)
            heap_place(h, i, h->entries[(i - 1) / 2]);
        h->count = n;
        if (n > 0)
            heap_settledown(h, 0, h->entries[n]);
        return;
    }
    int64_t path[64];
    int k = 0;
    for (int64_t i = index; i > 0; i = (i - 1) / 2)
        k++;
    for (int64_t i = index, m = k; m >= 0; i = (i - 1) / 2, m--)
        path[m] = i;
    heap_entry above[64];
    for (int m = 0; m < k; m++)
        above[m] = h->entries[path[m]];
    const heap_entry e = h->entries[n];
    h->count = n;
    for (int j = 0; j < k; j++) {
        // The hole is at path[j]; its path child now holds above[j].
        const int64_t l = 2 * path[j] + 1, r = l + 1;
        const float lk = l == path[j + 1] ? above[j].key : h->entries[l].key;
        const float rk = r == path[j + 1] ? above[j].key : h->entries[r].key;
        const int64_t big = r < n && rk > lk ? r : l;
        const float bigkey = big == l ? lk : rk;
        if (!(bigkey > e.key)) {
            heap_shiftpath(h, path, j, k, above);
            heap_place(h, path[j], e);
            return;
        }
        if (big != path[j + 1]) {
            heap_shiftpath(h, path, j, k, above);
            heap_place(h, path[j], h->entries[big]);
            heap_settledown(h, big, e);
            return;
        }
        // above[j] rises back into its own place: nothing moves.
    }
    heap_settledown(h, index, e);
}
