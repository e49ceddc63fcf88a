// A binary max-heap of {key, payload} entries for the heightmap triangulator
// and dithered stippling. Each user owns its heap record for the length of
// its work; an optional callback hears where every entry lands, so a user
// can find and remove an entry from the middle.
#pragma once
#include <cstddef>
#include <cstdint>

struct heap_entry {
    float key;
    uint64_t payload;
};

// Told the new index of payload each time an entry is placed at an index.
using heap_indexfn = void (*)(void *user, uint64_t payload, int64_t index);

struct heap {
    heap_entry *entries;
    int64_t count;
    int64_t capacity;
    heap_indexfn onindex; // null: nobody listens
    void *user;
};

// Growth of the entry array; a test puts a refusing one in its place.
extern void *(*heap_realloc)(void *block, size_t bytes);

// Grows block (holding used bytes) to bytes through heap_realloc, as
// realloc does. A large array that is read at random all over is moved
// into a fresh block given pages of 2 MB instead of 4 kB, so that its
// addresses stay in the TLB (moving pages in place would split them again);
// the kernel may say no, and nothing changes but the speed.
void *heap_regrow(void *block, size_t used, size_t bytes);

// Empties h and gives it room for capacity entries (at least 1). 0 (logged)
// when the room cannot be had; h is then empty with no array.
int heap_reset(heap *h, int64_t capacity, heap_indexfn onindex, void *user);
// Frees the array and clears count, capacity and callback.
void heap_free(heap *h);
// Appends and sifts up: an entry moves up while its key is strictly greater
// than its parent's. A full array doubles; 0 (logged) when it cannot, with
// the heap unchanged.
int heap_push(heap *h, float key, uint64_t payload);
// Restores the heap from the root down: the larger child (the right one only
// when strictly greater) swaps with its parent when strictly greater.
void heap_siftdown(heap *h);
// Takes the root into out: the last entry moves to the root, is reported
// there and sifts down. 0 when the heap is empty.
int heap_take(heap *h, heap_entry *out);
// Removes the entry at index: every entry on its path to the root moves
// down one place and the root is taken as heap_take does; the places are
// those of raising it above every key and taking the root, whatever the
// keys.
void heap_remove(heap *h, int64_t index);
