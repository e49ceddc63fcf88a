// Fuzz target of project_load: whatever the file, the load ends without a
// fault or a leak, and a refused file leaves the project as it was.
//
// The first input byte picks how the rest is used. Even: the rest is the
// file, byte for byte. Odd: the rest is a header and a plain body, which
// the harness codes as the writer does and sizes in the size word, so
// mutations reach the body's sections behind the entropy coder.
//
// Seeds: files of every older version, written by the project tests when
// KERFMILL_FUZZ_SEEDS names a folder, e.g.
//   KERFMILL_FUZZ_SEEDS=$PWD/seeds ./tests/test_project_gl --gtest_filter=ProjectLegacy.*
//   ./projectload_fuzz -max_total_time=180 corpus/ seeds/
#include "project/layer.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "project/undo.h"
#include "render/draw.h"
#include "render/glfuncs.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/file.h"
#include "sys/fse.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

static std::string fuzz_path;

// No GL here: a model-layer's render model is recorded and "uploaded" into
// buffers that do nothing.
static void APIENTRY fuzz_genbuffers(GLsizei n, GLuint *b)
{
    for (GLsizei i = 0; i < n; i++)
        b[i] = (GLuint)(i + 1);
}
static void APIENTRY fuzz_deletebuffers(GLsizei, const GLuint *) {}
static void APIENTRY fuzz_bindbuffer(GLenum, GLuint) {}
static void APIENTRY fuzz_bufferdata(GLenum, GLsizeiptr, const void *, GLenum) {}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The "no cutpaths" box is answered; the log goes nowhere.
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok", 1);
    file_tablealloc();
    sys_logfile = file_open("/dev/null", "wt");
    memcpy(cfg, cfg_defaults, cfg_size);
    gl_genbuffers = fuzz_genbuffers;
    gl_deletebuffers = fuzz_deletebuffers;
    gl_bindbuffer = fuzz_bindbuffer;
    gl_bufferdata = fuzz_bufferdata;
    r_initdraw();
    text_init();
    project_selectiontexture = nullptr; // a reset's "selection" texture needs GL
    project_reset();
    fuzz_path = (std::filesystem::temp_directory_path() / ("kerfmill-fuzz-" + std::to_string(getpid()) + ".kfm")).string();
    return 0;
}

// The header as given, then the size word and the coded body.
static std::vector<uint8_t> fuzz_codebody(const uint8_t *data, size_t size)
{
    if (size < (size_t)projfile_headerbytes)
        return std::vector<uint8_t>(data, data + size);
    std::vector<uint8_t> file(data, data + projfile_headerbytes);
    size_t n = size - projfile_headerbytes;
    std::vector<uint8_t> code(2 * n + 64);
    size_t r = FSE_compress(code.data(), code.size(), data + projfile_headerbytes, n);
    uint32_t word = (uint32_t)n;
    if (FSE_isError(r) || r <= 1) {
        word |= projfile_rawbody;
        code.assign(data + projfile_headerbytes, data + size);
    } else {
        code.resize(r);
    }
    for (int i = 0; i < 4; i++)
        file.push_back((uint8_t)(word >> (8 * i)));
    file.insert(file.end(), code.begin(), code.end());
    return file;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 64 * 1048576)
        return 0;
    std::vector<uint8_t> file =
        data[0] & 1 ? fuzz_codebody(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    FILE *f = fopen(fuzz_path.c_str(), "wb");
    if (!f)
        abort();
    fwrite(file.data(), 1, file.size(), f);
    fclose(f);
    uint64_t mem = sys_memused();
    if (project_load(fuzz_path.c_str(), 1)) {
        project_reset();
    } else if (numlayers != 0 || sys_memused() != mem) {
        abort(); // a refused file changed the (empty) project
    }
    if (sys_memused() != mem)
        abort();
    return 0;
}
