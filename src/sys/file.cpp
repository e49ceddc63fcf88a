// File opening and loading, the stream table and file-name sanitising.
#include "sys/file.h"

#include "platform/path.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cstring>

FILE **sys_files = nullptr;
static int file_cursor = 0;

FILE *sys_fopen(const char *path, const char *mode)
{
    if (!path || strlen(path) >= sys_maxpath) {
        sys_log("invalid path: %s", path ? path : "(null)");
        return nullptr;
    }
    return plat_fopen(path, mode);
}

static long file_size(FILE *f)
{
    if (fseek(f, 0, SEEK_END) != 0)
        return -1;
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    return size;
}

void *file_load(const char *path, int32_t *size, int32_t extra, int32_t maxsize)
{
    FILE *f = sys_fopen(path, "rb");
    if (!f) {
        sys_log("file_load: open failed \"%s\"", path);
        return nullptr;
    }
    long len = file_size(f);
    if (len < 1) {
        fclose(f);
        sys_log("file_load: empty file \"%s\"", path);
        return nullptr;
    }
    if (len > maxsize) {
        fclose(f);
        sys_log("file_load: file too large \"%s\" (%ld bytes, at most %d)", path, len, maxsize);
        return nullptr;
    }
    // Block sizes are 32-bit: a file that cannot fit is refused like a failed
    // allocation rather than truncated.
    // (A folder opened as a file reports an absurd size and ends here too.)
    int64_t total = len <= INT32_MAX && extra >= 0 ? (int64_t)len + extra : -1;
    char *block = total >= 0 && total <= INT32_MAX ? (char *)sys_malloc((int32_t)total) : nullptr;
    if (!block) {
        fclose(f);
        sys_log("file_load: buffer alloc failed \"%s\"", path);
        return nullptr;
    }
    memset(block, 0, (size_t)total);
    size_t got = fread(block, 1, (size_t)len, f);
    fclose(f);
    if (got != (size_t)len) {
        sys_free(block);
        sys_log("file_load: read failed \"%s\"", path);
        return nullptr;
    }
    *size = (int32_t)total;
    if (total > 1048576)
        sys_log("loaded %2.3fmb from \"%s\"", total / 1048576.0, path);
    else
        sys_log("loaded %2.3fkb from \"%s\"", total / 1024.0, path);
    return block;
}

int file_open(const char *path, const char *mode)
{
    if (!sys_files)
        return -1;
    int slot = -1;
    for (int i = 0; i < sys_maxfiles && slot < 0; i++) {
        int s = file_cursor++ % sys_maxfiles;
        if (!sys_files[s])
            slot = s;
    }
    if (slot < 0) {
        printf("!!! file_open: overflow!");
        return -1;
    }
    FILE *f = sys_fopen(path, mode);
    if (!f) {
        printf("!!! file_open: failed to open \"%s\"\n", path);
        return -1;
    }
    setvbuf(f, nullptr, _IONBF, 0);
    sys_files[slot] = f;
    return slot;
}

void file_close(int index)
{
    if (index < 0 || index >= sys_maxfiles) {
        printf("!!! file_close: invalid file index %d!\n", index);
        return;
    }
    if (!sys_files || !sys_files[index]) {
        printf("!!! file_close: file index %d not open!\n", index);
        return;
    }
    fclose(sys_files[index]);
    sys_files[index] = nullptr;
}

static const char *file_safechar(char c)
{
    switch (c) {
    case '\\': case '/': return "^";
    case ':': return ";";
    case '*': return "x";
    case '?': return "$";
    case '<': return "[";
    case '>': return "]";
    case '|': return "!";
    case '"': return "''";
    case '%': return "#";
    default: return nullptr;
    }
}

void file_sanitizename(const char *src, char *dst, int cap)
{
    if (cap <= 0)
        return;
    int n = 0;
    for (const char *c = src; *c; c++) {
        const char *rep = file_safechar(*c);
        char one[2] = {*c, 0};
        if (!rep)
            rep = one;
        int len = (int)strlen(rep);
        if (n + len >= cap)
            break; // a replacement never goes out half-written
        memcpy(dst + n, rep, len);
        n += len;
    }
    dst[n] = 0;
}

int file_tablealloc()
{
    sys_files = (FILE **)sys_calloc(sys_maxfiles, sizeof(FILE *));
    file_cursor = 0;
    return sys_files != nullptr;
}

void file_tablefree()
{
    if (!sys_files)
        return;
    for (int i = 0; i < sys_maxfiles; i++)
        if (sys_files[i])
            fclose(sys_files[i]);
    sys_free(sys_files);
    sys_files = nullptr;
}

int32_t file_writeall(const char *path, const void *bytes, int32_t size)
{
    char temp[sys_maxpath];
    FILE *f = nullptr;
    if (size >= 0 && snprintf(temp, sizeof(temp), "%s.tmp", path) < (int)sizeof(temp))
        f = sys_fopen(temp, "wb");
    if (!f) {
        sys_log("...unable to open \"%s\"", path);
        return 0;
    }
    float kb = (float)size * (1.0f / 1024.0f);
    // The bytes reach the disk before the rename: otherwise a power cut can
    // leave the new name on an empty or partial file where a good one was.
    bool ok = fwrite(bytes, 1, (size_t)size, f) == (size_t)size;
    ok = ok && plat_syncfile(f);
    ok = fclose(f) == 0 && ok;
    ok = ok && rename(temp, path) == 0;
    if (!ok) {
        remove(temp);
        sys_log("...failed writing %.2fkb (%s)", kb, path);
        return 0;
    }
    // The rename itself is an entry of the folder; without this the old
    // file can come back after a cut.
    if (!plat_syncfolder(path))
        sys_log("file_writeall: the folder of \"%s\" could not be synced", path);
    sys_log("...wrote %.2fkb (%s)", kb, path);
    return size;
}
