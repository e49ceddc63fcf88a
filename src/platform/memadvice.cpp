// Linux: madvise(MADV_HUGEPAGE) over the page-aligned inside of a block, for
// kernels whose transparent huge pages are enabled on request only.
#include "platform/memadvice.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void plat_advisehugepages(void *block, size_t bytes)
{
    long page = sysconf(_SC_PAGESIZE);
    if (!block || page <= 0)
        return;
    uintptr_t start = ((uintptr_t)block + (uintptr_t)page - 1) & ~((uintptr_t)page - 1);
    uintptr_t end = ((uintptr_t)block + bytes) & ~((uintptr_t)page - 1);
    if (end > start)
        madvise((void *)start, end - start, MADV_HUGEPAGE);
}
