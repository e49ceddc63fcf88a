// The accounting allocator. A block is laid out as [prefix][caller's bytes];
// the prefix is 16 bytes so that the caller's bytes keep the system
// allocator's alignment, and its last 4 bytes hold the requested size.
#include "sys/mem.h"

#include "geom/contour.h"
#include "geom/model.h"
#include "img/image.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <climits>
#include <cstdlib>
#include <cstring>

uint64_t sys_memtotal = 0;
int sys_memmutex = -1;

constexpr int32_t mem_prefix = 16;

static int32_t *mem_sizeword(void *block)
{
    return (int32_t *)((char *)block - sizeof(int32_t));
}

static void mem_fail(int64_t size)
{
    // The size goes out as the caller asked for it; a product that overflowed
    // 32 bits is clamped so the report still says how much was wanted.
    int shown = size > INT_MAX ? INT_MAX : (int)size;
    sys_error("malloc: failed to allocate %d bytes (allocated:%.2fmb images:%d contours:%d meshes:%d)",
              shown, sys_memused() / 1048576.0, img_count, cont_count, mdl_count);
}

// Allocates a block, refusing sizes outside 0..INT32_MAX less the prefix.
// Zeroed blocks come from calloc, so the pages of a large block are touched
// by whoever first writes them (often the workers) rather than here.
static void *mem_alloc(int64_t size, bool zero = false)
{
    char *raw = nullptr;
    if (size >= 0 && size <= INT32_MAX - mem_prefix) {
        sys_mutexguard g(sys_memmutex);
        size_t bytes = (size_t)size + mem_prefix;
        raw = (char *)(zero ? calloc(1, bytes) : malloc(bytes));
        if (raw)
            sys_memtotal += (uint64_t)size;
    }
    if (!raw) {
        mem_fail(size);
        return nullptr;
    }
    void *block = raw + mem_prefix;
    *mem_sizeword(block) = (int32_t)size;
    return block;
}

void *sys_malloc(int32_t size)
{
    return mem_alloc(size);
}

void *sys_calloc(int32_t count, int32_t size)
{
    // The product is taken in 64 bits so that an overflowing request is
    // refused instead of handing out a short block.
    int64_t total = (int64_t)count * (int64_t)size;
    if (count < 0 || size < 0)
        total = -1;
    return mem_alloc(total, true);
}

char *sys_strdup(const char *text)
{
    size_t len = strlen(text) + 1;
    char *copy = (char *)mem_alloc(len > INT32_MAX ? -1 : (int64_t)len);
    if (copy)
        memcpy(copy, text, len);
    return copy;
}

static void mem_release(void *block)
{
    int32_t size = *mem_sizeword(block);
    sys_mutexguard g(sys_memmutex);
    free((char *)block - mem_prefix);
    sys_memtotal -= (uint64_t)size;
}

void *sys_realloc(void *block, int32_t size)
{
    void *fresh = mem_alloc(size);
    if (!fresh || !block)
        return fresh;
    int32_t old = *mem_sizeword(block);
    memcpy(fresh, block, (size_t)(old < size ? old : size));
    mem_release(block);
    return fresh;
}

void sys_free(void *block)
{
    if (block)
        mem_release(block);
}

uint64_t sys_memused()
{
    sys_mutexguard g(sys_memmutex);
    return sys_memtotal;
}
