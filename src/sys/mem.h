// The program's one heap allocator. Every block records its requested size
// in front of the caller's bytes and a running total of live bytes is kept,
// so the program can report its memory use, name the size of a failed
// request and log what is still allocated at exit. Callable from any thread.
#pragma once
#include <cstdint>

extern uint64_t sys_memtotal; // bytes of live blocks, prefixes not counted
extern int sys_memmutex;      // mutex id guarding the total; -1 before start-up

void *sys_malloc(int32_t size);
void *sys_calloc(int32_t count, int32_t size);
char *sys_strdup(const char *text);
void *sys_realloc(void *block, int32_t size);
void sys_free(void *block);

// The total read under the memory mutex.
uint64_t sys_memused();
