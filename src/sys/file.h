// Files by UTF-8 path: opening, loading whole files into memory blocks, the
// 64-slot table of long-lived streams (the run's log lives there) and safe
// file names made from arbitrary text.
#pragma once
#include <cstdint>
#include <cstdio>

constexpr int sys_maxfiles = 64;
constexpr int sys_maxpath = 1024; // bytes of a path, terminator included

extern FILE **sys_files; // 64 stream slots, null when free; null before start-up

FILE *sys_fopen(const char *path, const char *mode);
// The file's bytes followed by extra zero bytes in a sys_malloc block; *size
// gets file size + extra. A file longer than maxsize bytes is refused before
// anything is allocated: each caller knows how large its files can sensibly
// be. Null on failure (*size untouched).
void *file_load(const char *path, int32_t *size, int32_t extra, int32_t maxsize);
// Writes size bytes to "<path>.tmp", flushes them to the disk and renames
// that over path (then syncs the folder), so that neither a failed write nor
// a power cut leaves a partial or truncated file; returns size, or 0
// (logged, the temporary file removed).
int32_t file_writeall(const char *path, const void *bytes, int32_t size);
int file_open(const char *path, const char *mode);
void file_close(int index);
// Copies src into dst (capacity cap) replacing characters that file names
// cannot hold; stops before overrunning dst and always terminates it.
void file_sanitizename(const char *src, char *dst, int cap);

int file_tablealloc();
void file_tablefree();
