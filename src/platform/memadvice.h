// Advice to the platform's virtual memory about large blocks the program
// reaches at random, such as the importer's 257 MiB vertex hash.
#pragma once
#include <cstddef>

// Asks for huge pages under the whole pages of the block, so random access
// over it costs fewer page faults and TLB misses. Only advice: nothing
// changes when the platform declines.
void plat_advisehugepages(void *block, size_t bytes);
