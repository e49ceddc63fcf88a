// Image files: every extension saves and reloads, ImageMagick reads what we
// write, the TGA layout and the grey bytes of img_colorize24, pictures
// written by ImageMagick load with their size and pixels, names come from
// file names, decoding happens before the image mutex is taken, and damaged
// or hostile files are refused.
#include "img/imagefile.h"

#include "img/chunk.h"
#include "img/image.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "sys/thread.h"

#include "testchild.h"
#include "testfolder.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

bytes imgtest_read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

void imgtest_write(const std::string &path, const bytes &b)
{
    std::ofstream out(path, std::ios::binary);
    out.write((const char *)b.data(), (std::streamsize)b.size());
}

// ImageMagick is one of the test tools scripts/deps.sh installs: a missing
// convert fails the test with this note.
const char imgtest_convertnote[] = ": convert failed (scripts/deps.sh installs imagemagick)";

// Runs a program found on PATH with its arguments, no shell, for at most a
// minute; true when it exits with status 0.
bool imgtest_run(const std::vector<std::string> &args)
{
    return testchild_run(args, 60) == 0;
}

// A smooth grey ramp, so that a lossy codec stays close to it.
uint8_t imgtest_grey(int x, int y)
{
    return (uint8_t)(20 + 30 * x + 5 * y);
}

class ImageFile : public testing::Test {
protected:
    testfolder dir{"imagefile"};

    void SetUp() override { img_mutex = sys_createmutex(); }
    void TearDown() override
    {
        sys_destroymutex(img_mutex);
        img_mutex = -1;
    }
    std::string at(const std::string &name) const { return dir.at(name); }

    // A w x h scalar field rising from 0 to 1 across the pixels.
    static image *ramp(int w, int h)
    {
        std::vector<float> v((size_t)w * h);
        for (size_t i = 0; i < v.size(); i++)
            v[i] = (float)i / (float)(v.size() - 1);
        return img_alloc("ramp", w, h, 4, v.data());
    }
};

} // namespace

TEST_F(ImageFile, GreyBytesShareThreeLevelsPerStep)
{
    struct Case {
        float value;
        uint8_t b0, b1, b2;
    };
    const Case cases[] = {
        {0.5f, 127, 127, 128},      {0.0f, 0, 0, 0},       {-1.0f, 0, 0, 0},    {NAN, 0, 0, 0},
        {1.0f, 255, 255, 255},      {7.0f, 255, 255, 255}, {1.5f / 765, 0, 0, 1}, {2.5f / 765, 0, 1, 1},
        {0.999f, 254, 255, 255},
    };
    const int n = sizeof(cases) / sizeof(cases[0]);
    std::vector<float> values;
    for (const Case &c : cases)
        values.push_back(c.value);
    image *src = img_alloc("src", n, 1, 4, values.data());
    image *g = img_colorize24(src, 1.0f);
    ASSERT_NE(g, nullptr);
    EXPECT_STREQ(g->name, "src.c24");
    EXPECT_EQ(g->bytesperpixel, 3);
    for (int i = 0; i < n; i++) {
        const uint8_t *p = g->pixels + 3 * i;
        EXPECT_EQ(p[0], cases[i].b0) << i;
        EXPECT_EQ(p[1], cases[i].b1) << i;
        EXPECT_EQ(p[2], cases[i].b2) << i;
    }
    img_free(g);
    img_free(src);

    // Across the whole range the bytes sum to the integer part of 765 v.
    image *r = ramp(1000, 1);
    g = img_colorize24(r, 1.0f);
    for (int i = 0; i < 1000; i++) {
        float v = ((float *)r->pixels)[i];
        const uint8_t *p = g->pixels + 3 * i;
        EXPECT_EQ(p[0] + p[1] + p[2], v >= 1.0f ? 765 : (int)(v * 255.0f * 3.0f)) << i;
    }
    img_free(g);
    img_free(r);
}

TEST_F(ImageFile, EveryExtensionSavesAndReloads)
{
    struct Case {
        const char *name;
        bytes signature; // first bytes of the file
        float tolerance; // reloaded heights against the source; < 0: not loadable
    };
    const Case cases[] = {
        {"a.QCSF", {9, 0}, 0.01f}, // the primal version
        {"b.jpg", {0xFF, 0xD8, 0xFF}, 0.02f},
        {"c.JPEG", {0xFF, 0xD8, 0xFF}, 0.02f},
        {"d.Png", {0x89, 'P', 'N', 'G'}, 1.5f / 765},
        {"e.TGA", {0, 0, 2}, 1.5f / 765},
        {"f.bmp", {'B', 'M'}, 1.5f / 765},
        {"g.gif", {'B', 'M'}, 1.5f / 765}, // unknown extensions are written as BMP
        {"h", {'B', 'M'}, -1.0f},          // and so is a name without one
    };
    image *src = ramp(37, 19);
    const float *want = (const float *)src->pixels;
    for (const Case &c : cases) {
        testlog_capture log;
        std::string path = at(c.name);
        uint32_t written = img_save(path.c_str(), src);
        bytes file = imgtest_read(path);
        ASSERT_GT(written, 0u) << c.name;
        EXPECT_EQ(written, file.size()) << c.name;
        EXPECT_TRUE(std::equal(c.signature.begin(), c.signature.end(), file.begin())) << c.name;
        EXPECT_TRUE(log.contains("img_save(37x19@4): " + path)) << c.name;
        EXPECT_FALSE(fs::exists(path + ".tmp")) << c.name;

        image *back = img_load(path.c_str(), 1);
        if (c.tolerance < 0) {
            EXPECT_EQ(back, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(back, nullptr) << c.name;
        ASSERT_EQ(back->width, 37) << c.name;
        ASSERT_EQ(back->height, 19) << c.name;
        ASSERT_EQ(back->bytesperpixel, 4) << c.name;
        float worst = 0;
        for (int i = 0; i < 37 * 19; i++)
            worst = std::max(worst, std::fabs(((float *)back->pixels)[i] - want[i]));
        EXPECT_LE(worst, c.tolerance) << c.name;
        img_free(back);
    }
    img_free(src);
}

TEST_F(ImageFile, ImageMagickReadsOurPictures)
{
    struct Case {
        const char *name;
        int tolerance; // per byte against our grey picture
    };
    const Case cases[] = {{"o.png", 0}, {"o.tga", 0}, {"o.bmp", 0}, {"o.jpg", 3}};
    image *src = ramp(23, 11);
    image *grey = img_colorize24(src, 1.0f);
    for (const Case &c : cases) {
        std::string path = at(c.name), raw = at("o.rgb");
        ASSERT_GT(img_save(path.c_str(), src), 0u) << c.name;
        ASSERT_TRUE(imgtest_run({"convert", path, "-depth", "8", "RGB:" + raw})) << c.name << imgtest_convertnote;
        bytes got = imgtest_read(raw);
        ASSERT_EQ(got.size(), (size_t)23 * 11 * 3) << c.name;
        int worst = 0;
        for (size_t i = 0; i < got.size(); i++)
            worst = std::max(worst, std::abs(got[i] - grey->pixels[i]));
        EXPECT_LE(worst, c.tolerance) << c.name;
    }
    img_free(grey);
    img_free(src);
}

TEST_F(ImageFile, TgaOfTwoByOneIsHeaderAndSixBytes)
{
    const float values[2] = {0.5f, 1.0f};
    image *src = img_alloc("two", 2, 1, 4, values);
    std::string path = at("two.tga");
    EXPECT_EQ(img_save(path.c_str(), src), 24u);
    const bytes want = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20,
                        128, 127, 127, 255, 255, 255};
    EXPECT_EQ(imgtest_read(path), want);
    img_free(src);
}

TEST_F(ImageFile, SavingRefusesWhatItCannotWrite)
{
    testlog_capture log;
    image *colour = img_alloc("colour", 4, 4, 3);
    EXPECT_EQ(img_save(at("c.png").c_str(), colour), 0u);
    EXPECT_TRUE(log.contains("img_save: \"colour\" has 3 bytes per pixel, not a scalar field"));
    img_free(colour);

    // An unwritable place leaves nothing behind and says so.
    image *src = ramp(4, 4);
    std::string path = at("missing/x.png");
    EXPECT_EQ(img_save(path.c_str(), src), 0u);
    EXPECT_TRUE(log.contains("...unable to open \"" + path + "\""));
    // A failed save keeps the file that was there.
    std::string kept = at("kept.png");
    imgtest_write(kept, {1, 2, 3});
    fs::create_directory(kept + ".tmp");
    EXPECT_EQ(img_save(kept.c_str(), src), 0u);
    EXPECT_EQ(imgtest_read(kept), bytes({1, 2, 3}));
    img_free(src);
}

TEST_F(ImageFile, PicturesFromImageMagickLoadWithTheirPixels)
{
    const int w = 7, h = 5;
    bytes pgm;
    std::string head = "P5\n7 5\n255\n";
    pgm.assign(head.begin(), head.end());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            pgm.push_back(imgtest_grey(x, y));
    std::string source = at("source.pgm");
    imgtest_write(source, pgm);

    struct Case {
        const char *target; // ImageMagick output, format prefix included
        const char *file;
        std::vector<std::string> options;
        int tolerance;
        bool palette; // SDL gives palette indexes, not grey levels
    };
    const Case cases[] = {
        {"PNG24:", "m.png", {"-type", "TrueColor"}, 0, false},
        {"JPEG:", "m.jpg", {"-type", "TrueColor", "-quality", "100"}, 6, false},
        {"BMP3:", "m.bmp", {"-type", "TrueColor"}, 0, false},
        {"GIF:", "m.gif", {}, 0, true},
        // ImageMagick keeps TGA rows top first whatever the origin flag
        // says; the flag must say so for a reader that follows it.
        {"TGA:", "m.tga", {"-type", "TrueColor", "-orient", "TopLeft"}, 0, false},
        {"TIFF:", "m.tif", {"-type", "TrueColor"}, 0, false},
        {"WEBP:", "m.webp", {"-type", "TrueColor", "-define", "webp:lossless=true"}, 0, false},
    };
    for (const Case &c : cases) {
        std::string path = at(c.file);
        std::vector<std::string> args = {"convert", source};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(std::string(c.target) + path);
        ASSERT_TRUE(imgtest_run(args)) << c.file << imgtest_convertnote;

        image *img = img_load(path.c_str(), 0);
        ASSERT_NE(img, nullptr) << c.file;
        EXPECT_STREQ(img->name, "m") << c.file;
        ASSERT_EQ(img->width, w) << c.file;
        ASSERT_EQ(img->height, h) << c.file;
        int bpp = img->bytesperpixel;
        if (c.palette) {
            ASSERT_EQ(bpp, 1) << c.file;
            // Equal greys share an index, different greys do not.
            for (int i = 0; i < w * h; i++)
                for (int j = 0; j < w * h; j++)
                    EXPECT_EQ(img->pixels[i] == img->pixels[j],
                              imgtest_grey(i % w, i / w) == imgtest_grey(j % w, j / w))
                        << c.file << " " << i << " " << j;
        } else {
            ASSERT_TRUE(bpp == 3 || bpp == 4) << c.file;
            int worst = 0;
            for (int i = 0; i < w * h; i++)
                for (int k = 0; k < 3; k++)
                    worst = std::max(worst, std::abs(img->pixels[i * bpp + k] - imgtest_grey(i % w, i / w)));
            EXPECT_LE(worst, c.tolerance) << c.file;
            for (int i = 0; bpp == 4 && i < w * h; i++)
                EXPECT_EQ(img->pixels[i * 4 + 3], 255) << c.file;
        }
        img_free(img);
    }
}

TEST_F(ImageFile, NamesComeFromTheFileName)
{
    image *src = ramp(3, 2);
    struct Case {
        const char *file;
        const char *name; // null: refused
    };
    const Case cases[] = {
        {"pic.png", "pic"},
        {".png", ""},
        {"two.dots.png", "two"},
        {"noextension", nullptr},
        {"folder.v2/plain", nullptr}, // a dot in a folder is no extension
    };
    fs::create_directory(at("folder.v2"));
    for (const Case &c : cases) {
        std::string path = at(c.file);
        ASSERT_GT(img_save(path.c_str(), src), 0u) << c.file;
        testlog_capture log;
        image *img = img_load(path.c_str(), 0);
        if (!c.name) {
            EXPECT_EQ(img, nullptr) << c.file;
            EXPECT_TRUE(log.contains("img_load: \"" + path + "\" has no extension")) << c.file;
            continue;
        }
        ASSERT_NE(img, nullptr) << c.file;
        EXPECT_STREQ(img->name, c.name) << c.file;
        EXPECT_TRUE(log.contains("loaded \"" + path + "\" (3x2@3)")) << c.file;
        img_free(img);
    }
    img_free(src);
}

TEST_F(ImageFile, DecodingRunsBeforeTheImageMutexIsTaken)
{
    image *src = ramp(64, 64);
    std::string path = at("held.png");
    ASSERT_GT(img_save(path.c_str(), src), 0u);
    img_free(src);

    testlog_capture log;
    sys_lockmutex(img_mutex);
    std::atomic<image *> loaded{nullptr};
    std::atomic<bool> finished{false};
    std::thread loader([&] {
        loaded = img_load(path.c_str(), 0);
        finished = true;
    });
    // The file is read and decoded while this thread holds the mutex.
    bool decoded = false;
    for (int i = 0; i < 1000 && !decoded; i++) {
        decoded = log.contains("loaded \"" + path + "\" (64x64@3)");
        if (!decoded)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(decoded);
    EXPECT_FALSE(finished);
    sys_unlockmutex(img_mutex);
    loader.join();
    ASSERT_NE(loaded.load(), nullptr);
    img_free(loaded);
}

// Loads of ".qcsf" files run on any thread: two threads loading different
// files at once, while this thread writes the global message buffer as a
// save would, each get their own file's pixels every time.
TEST_F(ImageFile, QcsfLoadsOnTwoThreadsAtOnce)
{
    // The allocator's and the log's locks, as start-up makes them.
    ASSERT_EQ(sys_memmutex, -1);
    ASSERT_EQ(sys_logmutex, -1);
    sys_memmutex = sys_createmutex();
    sys_logmutex = sys_createmutex();
    struct Field {
        std::string path;
        image *want;
    } fields[2];
    for (int f = 0; f < 2; f++) {
        std::vector<float> v(96 * 80);
        for (size_t i = 0; i < v.size(); i++)
            v[i] = f ? 0.5f + 0.4f * std::sin((float)i * 0.013f) : (float)(i % 96) / 95.0f;
        image *src = img_alloc("field", 96, 80, 4, v.data());
        fields[f].path = at("field" + std::to_string(f) + ".qcsf");
        ASSERT_GT(img_save(fields[f].path.c_str(), src), 0u);
        img_free(src);
        fields[f].want = img_load(fields[f].path.c_str(), 0);
        ASSERT_NE(fields[f].want, nullptr);
    }
    ASSERT_NE(memcmp(fields[0].want->pixels, fields[1].want->pixels, 96 * 80 * 4), 0);

    constexpr int rounds = 40;
    std::atomic<int> wrong[2] = {0, 0}, running{2};
    auto loader = [&](int f) {
        for (int r = 0; r < rounds; r++) {
            image *img = img_load(fields[f].path.c_str(), 0);
            if (!img || img->width != 96 || img->height != 80 ||
                memcmp(img->pixels, fields[f].want->pixels, 96 * 80 * 4) != 0)
                wrong[f]++;
            img_free(img);
        }
        running--;
    };
    std::thread a(loader, 0), b(loader, 1);
    image *scratch = ramp(64, 64);
    while (running.load()) {
        ASSERT_EQ(msg_alloc(1024), 1);
        img_write(scratch);
        sys_free(msg_buffer);
        msg_buffer = nullptr;
        msg_position = msg_capacity = 0;
    }
    a.join();
    b.join();
    img_free(scratch);
    EXPECT_EQ(wrong[0].load(), 0);
    EXPECT_EQ(wrong[1].load(), 0);
    img_free(fields[0].want);
    img_free(fields[1].want);
    sys_destroymutex(sys_logmutex);
    sys_destroymutex(sys_memmutex);
    sys_logmutex = sys_memmutex = -1;
}

// Files that are empty, cut short or declare absurd sizes give no image and
// a log line, and allocate nothing for their claims.
TEST_F(ImageFile, DamagedAndHostileFilesAreRefused)
{
    image *src = ramp(40, 30);
    std::string good = at("good.png");
    ASSERT_GT(img_save(good.c_str(), src), 0u);
    img_free(src);
    bytes png = imgtest_read(good);

    auto le16 = [](int v) { return bytes{(uint8_t)v, (uint8_t)(v >> 8)}; };
    auto cat = [](std::initializer_list<bytes> parts) {
        bytes out;
        for (const bytes &p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    // A GIF whose logical screen and only frame are 65535 x 65535.
    bytes gif = cat({{'G', 'I', 'F', '8', '9', 'a'}, le16(65535), le16(65535), {0x80, 0, 0},
                     {0, 0, 0, 255, 255, 255}, {','}, le16(0), le16(0), le16(65535), le16(65535), {0},
                     {2, 2, 0x44, 0x01, 0}, {';'}});
    bytes hugepng = png;
    for (int i = 16; i < 24; i++)
        hugepng[(size_t)i] = i % 4 == 0 ? 0 : 0xFF; // IHDR width and height 0x00FFFFFF
    bytes bmp = cat({{'B', 'M'}, bytes(12, 0), {40, 0, 0, 0}, {0x40, 0x42, 0x0F, 0}, {0x40, 0x42, 0x0F, 0},
                     {1, 0, 24, 0}, bytes(24, 0)});
    bytes tga = cat({{0, 0, 2}, bytes(9, 0), le16(65535), le16(65535), {24, 0x20}, bytes(16, 0)});
    bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0xEA, 0x60, 0xEA, 0x60, 1, 1, 0x11, 0};
    bytes webp = cat({{'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0},
                      bytes(4, 0), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}});
    struct Case {
        const char *file;
        bytes content;
        const char *line;
    };
    const Case cases[] = {
        {"empty.png", {}, "sys_loadimage: failed to load file from"},
        {"cut.png", bytes(png.begin(), png.begin() + (long)png.size() / 2), "!!! sys_loadimagemem:"},
        {"header.png", bytes(png.begin(), png.begin() + 20), "has a damaged header"},
        {"huge.png", hugepng, "declares 16777215x16777215 pixels"},
        {"screen.gif", gif, "declares 65535x65535 pixels"},
        {"huge.bmp", bmp, "declares 1000000x1000000 pixels"},
        {"huge.tga", tga, "declares 65535x65535 pixels"},
        {"huge.jpg", jpeg, "declares 60000x60000 pixels"},
        {"huge.webp", webp, "declares 16777216x16777216 pixels"},
        {"text.jpg", {'h', 'e', 'l', 'l', 'o'}, "is not a JPG, PNG, BMP, GIF, TIF or WEBP image"},
        {"missing.png", {}, "sys_loadimage: failed to load file from"},
    };
    int before = img_count;
    for (const Case &c : cases) {
        std::string path = at(c.file);
        if (std::string(c.file) != "missing.png")
            imgtest_write(path, c.content);
        testlog_capture log;
        EXPECT_EQ(img_load(path.c_str(), 1), nullptr) << c.file;
        EXPECT_TRUE(log.contains(c.line)) << c.file << "\n" << log.text();
        EXPECT_EQ(img_count, before) << c.file;
    }
}
