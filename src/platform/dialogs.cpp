// File and colour dialogs through zenity, or answered by their test seams.
// zenity runs as a child, so the chooser may wander the file system freely
// while this process keeps its current directory (the program folder).
#include "platform/dialogs.h"

#include "platform/seam.h"
#include "platform/shell.h"
#include "sys/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

constexpr int dialog_seammax = 4096;

// "*.nc; *.cnc" as zenity's blank-separated globs. "*.*" means every file to
// the caller but would demand a dot as a glob, so it becomes "*".
static std::string dialog_globs(const char *list)
{
    std::string globs, cur;
    for (const char *c = list;; c++) {
        if (*c == ';' || *c == 0) {
            if (cur == "*.*")
                cur = "*";
            if (!cur.empty())
                globs += (globs.empty() ? "" : " ") + cur;
            cur.clear();
            if (*c == 0)
                return globs;
        } else if (*c != ' ') {
            cur += *c;
        }
    }
}

std::vector<std::string> plat_filefilters(const char *filter)
{
    std::vector<std::string> args;
    for (const char *c = filter; c && *c;) {
        const char *desc = c;
        const char *list = desc + strlen(desc) + 1;
        if (*list == 0)
            break; // a description without patterns ends the list
        std::string globs = dialog_globs(list);
        if (!globs.empty())
            args.push_back("--file-filter=" + std::string(desc) + " | " + globs);
        c = list + strlen(list) + 1;
    }
    return args;
}

// zenity ignores the folder of a relative --filename, so names are made
// absolute against the current directory, which the child shares.
static std::string dialog_absolute(const char *path)
{
    if (path[0] == '/')
        return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof(cwd)))
        return path;
    return std::string(cwd) + "/" + path;
}

// The proposed name: a last path with a folder of its own stands as it is, a
// bare name goes into the initial folder, and with no name the folder alone
// is given (the trailing '/' tells zenity to open it).
static std::string dialog_startname(const char *folder, const char *last)
{
    bool hasfolder = folder && *folder;
    bool hasname = last && *last;
    if (hasname && (strchr(last, '/') || !hasfolder))
        return dialog_absolute(last);
    if (!hasfolder)
        return "";
    std::string start = dialog_absolute(folder);
    if (start.back() != '/')
        start += '/';
    return hasname ? start + last : start;
}

std::vector<std::string> plat_filedialogargs(const plat_filerequest &req, const char *lastpath)
{
    std::vector<std::string> args = {"zenity", "--file-selection"};
    if (req.save) {
        args.push_back("--save");
        args.push_back("--confirm-overwrite");
    }
    if (req.title && *req.title)
        args.push_back(std::string("--title=") + req.title);
    std::string start = dialog_startname(req.folder, lastpath);
    if (!start.empty())
        args.push_back("--filename=" + start);
    for (const std::string &f : plat_filefilters(req.filter))
        args.push_back(f);
    return args;
}

// The seam's next path: -1 when the seam is off, 0 for an empty entry
// (cancel), 1 with the path in chosen.
static int dialog_seampath(std::string *chosen)
{
    char entry[dialog_seammax];
    if (!plat_seamnext("KERFMILL_DIALOG_PATHS", '\n', entry, sizeof(entry)))
        return -1;
    sys_log("plat_filedialog: seam answer \"%s\"", entry);
    *chosen = entry;
    return entry[0] != 0;
}

// Exit status 0 is a choice printed on stdout, 1 a cancel or a closed
// window; anything else is zenity failing.
static int dialog_runzenity(const plat_filerequest &req, const char *last, std::string *chosen, int *error)
{
    std::string out;
    int status = plat_runcapture(plat_filedialogargs(req, last), &out);
    if (status < 0) {
        sys_log("plat_filedialog: no dialog shown, taken as cancelled");
        return 0;
    }
    if (status == 1)
        return 0;
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    if (status != 0 || out.empty()) {
        sys_log("plat_filedialog: zenity failed (status %d)", status);
        *error = 1;
        return 0;
    }
    *chosen = out;
    return 1;
}

// A name typed without an extension gets the caller's default one.
static void dialog_adddefext(std::string *path, const char *defext)
{
    while (defext && *defext == '.')
        defext++;
    if (!defext || !*defext)
        return;
    size_t slash = path->rfind('/');
    if (path->find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos)
        *path += std::string(".") + defext;
}

int plat_filedialog(const plat_filerequest &req, char *path, int cap, int *error)
{
    *error = 0;
    std::string chosen;
    int got = dialog_seampath(&chosen);
    if (got < 0)
        got = dialog_runzenity(req, path, &chosen, error);
    if (!got)
        return 0;
    if (req.save)
        dialog_adddefext(&chosen, req.defext);
    if ((int)chosen.size() >= cap) {
        sys_log("plat_filedialog: chosen path too long (%d bytes, room for %d)", (int)chosen.size(), cap - 1);
        *error = 1;
        return 0;
    }
    memcpy(path, chosen.c_str(), chosen.size() + 1);
    return 1;
}

std::vector<std::string> plat_colorargs(const uint8_t rgb[3])
{
    char start[48];
    snprintf(start, sizeof(start), "--color=rgb(%d,%d,%d)", rgb[0], rgb[1], rgb[2]);
    return {"zenity", "--color-selection", "--show-palette", start};
}

int plat_parsecolor(const char *text, uint8_t rgb[3])
{
    unsigned v[3] = {};
    if (text[0] == '#') {
        if (strlen(text) != 7 || strspn(text + 1, "0123456789abcdefABCDEF") != 6)
            return 0;
        unsigned long x = strtoul(text + 1, nullptr, 16);
        v[0] = (x >> 16) & 255;
        v[1] = (x >> 8) & 255;
        v[2] = x & 255;
    } else {
        // %n is only stored once the closing parenthesis has matched.
        int end = 0;
        sscanf(text, "rgb(%3u,%3u,%3u)%n", &v[0], &v[1], &v[2], &end);
        if (!end)
            sscanf(text, "rgba(%3u,%3u,%3u,%*[0-9.])%n", &v[0], &v[1], &v[2], &end);
        if (!end || text[end] != 0 || v[0] > 255 || v[1] > 255 || v[2] > 255)
            return 0;
    }
    for (int i = 0; i < 3; i++)
        rgb[i] = (uint8_t)v[i];
    return 1;
}

// The picker's answer text: from the seam ("cancel" or a colour) or from
// zenity's stdout. 0 when nothing was chosen.
static int dialog_coloranswer(const uint8_t rgb[3], std::string *answer)
{
    char entry[64];
    if (plat_seamnext("KERFMILL_COLOR_ANSWERS", ',', entry, sizeof(entry))) {
        sys_log("plat_choosecolor: seam answer \"%s\"", entry);
        *answer = entry;
        return strcmp(entry, "cancel") != 0;
    }
    int status = plat_runcapture(plat_colorargs(rgb), answer);
    if (status < 0)
        sys_log("plat_choosecolor: no picker shown, taken as cancelled");
    else if (status > 1)
        sys_log("plat_choosecolor: zenity failed (status %d)", status);
    if (!answer->empty() && answer->back() == '\n')
        answer->pop_back();
    return status == 0;
}

int plat_choosecolor(uint8_t rgb[3])
{
    std::string answer;
    if (!dialog_coloranswer(rgb, &answer))
        return 0;
    uint8_t got[3];
    if (!plat_parsecolor(answer.c_str(), got)) {
        sys_log("plat_choosecolor: unreadable colour \"%s\"", answer.c_str());
        return 0;
    }
    memcpy(rgb, got, sizeof(got));
    return 1;
}
