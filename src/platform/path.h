// Paths and the file system on Linux. The rest of the program builds paths
// with plat_joinpath and splits them with plat_lastsep, which accepts both
// separators, so names written with backslashes still split correctly.
#pragma once
#include <cstdio>

// Writes "folder/name" into out (capacity cap); returns 0 when it does not fit
// (out then holds an empty string), else 1.
int plat_joinpath(char *out, int cap, const char *folder, const char *name);

// The last '/' or '\\' of path, or null when it has none.
const char *plat_lastsep(const char *path);

// The folder of the running program: argv0 up to its last separator, or the
// folder of /proc/self/exe when argv0 names no folder. Returns 1 on success.
int plat_programfolder(const char *argv0, char *out, int cap);

// Opens a file by its UTF-8 path (Linux paths are bytes, so the path is used
// as it is). Null on failure, with errno set.
FILE *plat_fopen(const char *path, const char *mode);

// Flushes an open file's data to the disk (fsync): a rename that follows
// then never replaces a good file by one whose blocks a power cut lost. 1 on
// success.
int plat_syncfile(FILE *f);
// Makes the entries of path's folder durable (a rename into it). 1 on
// success.
int plat_syncfolder(const char *path);

int plat_chdir(const char *path);            // 1 on success
int plat_mkdir(const char *path);            // 1 when made or already there
int plat_remove(const char *path);           // 1 when a file was removed
int plat_fileexists(const char *path);       // 1 for an existing regular file

// The per-user folder for organisation and application, without a trailing
// separator, created if missing. Returns 1 on success.
int plat_userfolder(const char *org, const char *app, char *out, int cap);
