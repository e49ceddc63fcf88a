// Paths and the file system on Linux: joining, splitting, the program folder
// from procfs, and thin wrappers over std::filesystem that never throw.
#include "platform/path.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

int plat_joinpath(char *out, int cap, const char *folder, const char *name)
{
    int n = snprintf(out, cap, "%s/%s", folder, name);
    if (n < 0 || n >= cap) {
        if (cap > 0)
            out[0] = 0;
        return 0;
    }
    return 1;
}

const char *plat_lastsep(const char *path)
{
    const char *fwd = strrchr(path, '/');
    const char *back = strrchr(path, '\\');
    return fwd > back ? fwd : back;
}

static int plat_copyfolder(const char *path, size_t len, char *out, int cap)
{
    if (len == 0)
        len = 1; // a program in "/" keeps the root
    if (len >= (size_t)cap)
        return 0;
    memcpy(out, path, len);
    out[len] = 0;
    return 1;
}

int plat_programfolder(const char *argv0, char *out, int cap)
{
    const char *sep = argv0 ? plat_lastsep(argv0) : nullptr;
    if (sep)
        return plat_copyfolder(argv0, sep - argv0, out, cap);
    // Started through PATH: argv[0] names no folder, so ask the kernel.
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0)
        return 0;
    exe[n] = 0;
    sep = strrchr(exe, '/');
    return sep ? plat_copyfolder(exe, sep - exe, out, cap) : 0;
}

FILE *plat_fopen(const char *path, const char *mode)
{
    return fopen(path, mode);
}

int plat_syncfile(FILE *f)
{
    return fflush(f) == 0 && fsync(fileno(f)) == 0;
}

int plat_syncfolder(const char *path)
{
    std::string folder = fs::path(path).parent_path().string();
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

int plat_chdir(const char *path)
{
    return chdir(path) == 0;
}

int plat_mkdir(const char *path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
    return !ec && fs::is_directory(path, ec);
}

int plat_remove(const char *path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec) && fs::remove(path, ec);
}

int plat_fileexists(const char *path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

int plat_userfolder(const char *org, const char *app, char *out, int cap)
{
    char *pref = SDL_GetPrefPath(org, app);
    if (!pref)
        return 0;
    size_t len = strlen(pref);
    while (len > 1 && (pref[len - 1] == '/' || pref[len - 1] == '\\'))
        len--;
    int ok = plat_copyfolder(pref, len, out, cap);
    SDL_free(pref);
    return ok;
}
