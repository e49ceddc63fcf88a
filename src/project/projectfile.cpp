// The project file ".kfm": project_write builds the file's bytes
// (projectwrite.cpp) and writes them through a temporary file; project_load
// stages a file (projectread.cpp, projectmigrate.cpp), waits, bounded, for
// the work that reads the open project, and only then replaces it
// (projectinstall.cpp), so a refused file changes nothing.
#include "project/projectfile.h"

#include "cam/cam.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/project.h"
#include "project/projectinstall.h"
#include "project/projectread.h"
#include "project/projectwrite.h"
#include "sys/config.h"
#include "sys/file.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "sys/thread.h"
#include "sys/waits.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>


const projfile_block projfile_blocks[projfile_blockcount] = {
    {1, 2180}, {2, 4},   {3, 4},     {4, 8},     {5, 40},  {6, 40},   {7, 40},
    {8, 40},   {10, 44}, {11, 40},   {12, 7944}, {13, 1024}, {15, 4}, {18, 40},
    {22, 256}, {29, 296}, {31, 56},  {33, 2},    {39, 80}, {41, 40},  {43, 24},
};

namespace {

constexpr int32_t pf_startbuffer = 8 * 1048576;

// The path with ".kfm" appended when it carries ".kfm" nowhere, in any case
// (a folder named so counts): plan.Kfm stays plan.Kfm.
std::string pf_savepath(const char *path)
{
    std::string p = path, lower = path;
    for (char &c : lower)
        c = (char)tolower((unsigned char)c);
    if (lower.find(".kfm") == std::string::npos)
        p += ".kfm";
    return p;
}

} // namespace

int32_t project_write(const char *path, double *elapsed)
{
    double start = sys_seconds();
    if (elapsed)
        *elapsed = 0.0;
    std::string target = pf_savepath(path);
    msg_stream m;
    if (!msg_alloc(&m, pf_startbuffer)) {
        sys_log("project_write: no message buffer");
        return 0;
    }
    int32_t written = 0;
    // Through "<path>.tmp" and a rename: a failed write leaves the
    // previous file whole.
    if (pf_build(&m))
        written = file_writeall(target.c_str(), m.buffer, m.position);
    sys_free(m.buffer);
    if (elapsed)
        *elapsed = sys_seconds() - start;
    return written;
}

namespace {

const char *pf_filename(const char *path)
{
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    return name;
}

} // namespace

int project_load(const char *path, int named)
{
    double start = sys_seconds();
    const char *name = pf_filename(path);
    sys_log("loading project file '%s'...", name);
    auto refused = [&](const char *status = "...failed to load project") {
        sys_log("project_load: \"%s\" not loaded, the open project is unchanged", path);
        sys_status("%s", status);
        return 0;
    };
    int32_t size = 0;
    std::unique_ptr<uint8_t, decltype(&sys_free)> file((uint8_t *)file_load(path, &size, 0, projfile_maxbytes),
                                                        sys_free);
    if (!file)
        return refused();
    auto word = [&](int at) {
        return size >= at + 4 ? (uint32_t)file.get()[at] | (uint32_t)file.get()[at + 1] << 8 |
                                    (uint32_t)file.get()[at + 2] << 16 | (uint32_t)file.get()[at + 3] << 24
                              : 0u;
    };
    auto st = std::make_unique<pf_staged>();
    st->version = (int32_t)word(4);
    sys_log("...project file version: %d", st->version);
    if (word(0) != projfile_magic) {
        sys_error("Unable to recognized the project file '%s'. The file is either corrupted or not a valid Kerfmill "
                  "project file.",
                  name);
        return refused();
    }
    if (st->version > projfile_version) {
        sys_error("The project file '%s' is from a newer version of Kerfmill and will require updating to the latest "
                  "version.",
                  name);
        return refused();
    }
    if (st->version < 1) {
        sys_log("project_load: version %d refused", st->version);
        return refused();
    }
    // Everything that can fail is done while the open project still stands.
    if (!pf_stage(file.get(), size, *st) || !pf_prepare(*st))
        return refused();
    file.reset();
    // The reset waits, bounded, for the work that reads or fills the open
    // project, and refuses (with its own status) while any still runs.
    if (!project_reset()) {
        sys_log("project_load: \"%s\" not loaded, the open project is unchanged", path);
        return 0;
    }
    const int32_t version = st->version;
    pf_install(*st);
    st.reset();
    snprintf(project_filename, sizeof(project_filename), "%s", name);
    sys_status("...loaded '%s' (%.2fmb, v%02d, %.3fs)", name, size / 1048576.0, version,
               sys_seconds() - start);
    project_updatecanvas(1, 1, (uint32_t)project_layergroup);
    project_frameview();
    const char *units = project_unitnames[project.units <= 2 ? project.units : 0];
    if (named) {
        sys_settitle("%s - %s (%s)", SYS_TITLE, name, units);
        snprintf(project.path, sizeof(project.path), "%s", path);
        cfg_settext(cfg_projectpath, path);
        project_hasfile = 1;
        project_changetime = 0.0f;
    } else {
        sys_settitle("%s (%s)", SYS_TITLE, units);
        project_hasfile = 0;
        project_changetime = (float)sys_seconds();
    }
    project_saved = 1;
    return 1;
}
