// Golden images of the GUI's GL tests: an RGB picture read back from the
// offscreen target, written with the program's PNG writer, the golden read
// with libpng (not the program's reader) and compared by ImageMagick's
// compare with a fuzz, which must be installed (scripts/deps.sh).
#pragma once
#include "testchild.h"

#include "img/png.h"
#include "render/gl.h"
#include "sys/mem.h"

#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

struct rgbimage {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// The current framebuffer, top row first.
inline rgbimage golden_readback(int w, int h)
{
    rgbimage out;
    out.width = w;
    out.height = h;
    std::vector<uint8_t> rows((size_t)w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    out.rgb.resize(rows.size());
    const size_t stride = (size_t)w * 3;
    for (int y = 0; y < h; y++)
        memcpy(&out.rgb[(size_t)y * stride], &rows[(size_t)(h - 1 - y) * stride], stride);
    return out;
}

inline bool golden_writepng(const rgbimage &img, const std::filesystem::path &path)
{
    image im = {};
    im.width = img.width;
    im.height = img.height;
    im.bytesperpixel = 3;
    im.pixels = (uint8_t *)img.rgb.data();
    int32_t size = 0;
    uint8_t *png = img_writepng(&im, &size);
    if (!png)
        return false;
    std::ofstream(path, std::ios::binary).write((const char *)png, size);
    sys_free(png);
    return std::filesystem::file_size(path) == (uintmax_t)size;
}

inline bool golden_readpng(const std::filesystem::path &path, rgbimage &img)
{
    png_image decoder = {};
    decoder.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&decoder, path.c_str()))
        return false;
    decoder.format = PNG_FORMAT_RGB;
    img.width = (int)decoder.width;
    img.height = (int)decoder.height;
    img.rgb.resize(PNG_IMAGE_SIZE(decoder));
    return png_image_finish_read(&decoder, nullptr, img.rgb.data(), 0, nullptr) != 0;
}

// compare's exit status (0 alike, 1 different, 2 failed, -1 not started) and
// the count of differing pixels it prints on its error stream.
inline int golden_compare(const std::filesystem::path &actual, const std::filesystem::path &expected,
                          const std::filesystem::path &diff, std::string &count)
{
    const std::string err = (diff.parent_path() / "compare.txt").string();
    std::vector<std::string> args = {"compare", "-metric", "AE", "-fuzz", "5%", actual.string(), expected.string(),
                                     diff.string()};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int rc = posix_spawnp(&pid, "compare", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = testchild_wait(pid, 60.0);
    std::ifstream in(err);
    std::getline(in, count);
    return status;
}
