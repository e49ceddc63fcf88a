// The image table: allocation, overflow and slot reuse, release, and the
// small operations (clamp, crop, bounding rectangle, flip, derived names,
// the reference height image).
#include "img/image.h"

#include "imgfixture.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

// A scalar field in the table, filled from values (row-major).
static image *img_field(const char *name, int w, int h, const std::vector<float> &values)
{
    return img_alloc(name, w, h, 4, values.data());
}

TEST(ImageTable, FullTableReportsOverflowAndReusesTheFreedSlot)
{
    std::vector<image *> held;
    while (img_count < img_maxslots) {
        image *img = img_alloc("held", 2, 1, 4);
        ASSERT_NE(img, nullptr);
        held.push_back(img);
    }
    {
        testlog_capture cap;
        EXPECT_EQ(img_alloc("one too many", 1, 1, 4), nullptr);
        std::string log = cap.text();
        EXPECT_TRUE(cap.contains("num_images = 256"));
        std::regex slotline(R"(image\d+ = "held" 2x1@4)");
        EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), slotline), std::sregex_iterator()),
                  (long)held.size());
        // The slot lines end with an empty line, then the error.
        EXPECT_TRUE(std::regex_search(log, std::regex(R"(2x1@4\n[0-9.]+ \n.*img_alloc: overflow!)")));
    }
    EXPECT_EQ(img_count, img_maxslots);

    image *freed = held[100];
    img_free(freed);
    image *again = img_alloc("again", 3, 3, 1);
    EXPECT_EQ(again, freed);
    EXPECT_STREQ(again->name, "again");
    held[100] = again;
    for (image *img : held)
        img_free(img);
}

TEST(ImageTable, SizesOutOfRangeAreRefusedBeforeAllocating)
{
    struct Case {
        int w, h, bpp;
    };
    // 65536 x 65536 x 4 wraps to 0 in 32 bits; 46341^2 passes 2^31.
    const Case cases[] = {{65536, 65536, 4}, {46341, 46341, 1}, {-1, 10, 4}, {10, -3, 4}, {10, 10, 0}};
    int before = img_count;
    for (const Case &c : cases) {
        testlog_capture cap;
        EXPECT_EQ(img_alloc("big", c.w, c.h, c.bpp), nullptr) << c.w << "x" << c.h << "@" << c.bpp;
        EXPECT_TRUE(cap.contains("img_alloc: size")) << c.w;
        EXPECT_EQ(img_count, before);
    }
}

TEST(ImageTable, AllocCopyAndFree)
{
    int before = img_count;
    image *zero = img_alloc("zero", 3, 2, 3);
    ASSERT_NE(zero, nullptr);
    for (int i = 0; i < 18; i++)
        EXPECT_EQ(zero->pixels[i], 0) << i;

    std::vector<float> values = {1, 2, 3, 4};
    image *field = img_field("field", 2, 2, values);
    image *copy = img_copy(field);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, field);
    EXPECT_STREQ(copy->name, "field");
    EXPECT_EQ(memcmp(copy->pixels, values.data(), 16), 0);
    EXPECT_EQ(img_count, before + 3);

    img_free(copy);
    img_free(copy);
    img_free(nullptr);
    EXPECT_EQ(img_count, before + 2);
    EXPECT_EQ(imgfixture_at(field, 1, 1), 4.0f); // the original outlives its copy
    img_free(field);
    img_free(zero);
    EXPECT_EQ(img_count, before);
}

TEST(ImageTable, ClampUnit)
{
    float v[] = {-0.5f, 0.25f, 1.5f, NAN, 1.0f, 0.0f, -INFINITY, INFINITY};
    const float want[] = {0, 0.25f, 1, 0, 1, 0, 0, 1};
    img_clampunit(8, v);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(v[i], want[i]) << i;
}

TEST(ImageTable, NovelRectFindsTheRaisedPixels)
{
    std::vector<float> values(8 * 10, 0.5f); // 0.5 itself does not qualify
    values[7 * 8 + 3] = 0.75f;
    values[2 * 8 + 1] = NAN;
    image *img = img_field("src", 8, 10, values);
    int rect[4] = {-1, -1, -1, -1};
    image *out = img_novelrect(img, 0.5f, rect);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out->name, "src.dr");
    EXPECT_EQ(out->width, 1);
    EXPECT_EQ(out->height, 1);
    EXPECT_EQ(imgfixture_at(out, 0, 0), 0.75f);
    EXPECT_EQ(rect[0], 3);
    EXPECT_EQ(rect[1], 7);
    EXPECT_EQ(rect[2], 4);
    EXPECT_EQ(rect[3], 8);
    img_free(out);

    int untouched[4] = {9, 9, 9, 9};
    EXPECT_EQ(img_novelrect(img, 0.9f, untouched), nullptr);
    EXPECT_EQ(untouched[0], 9);
    EXPECT_EQ(untouched[3], 9);
    img_free(img);

    image *colour = img_alloc("rgb", 4, 4, 3);
    EXPECT_EQ(img_novelrect(colour, 0.0f, untouched), nullptr);
    img_free(colour);
}

TEST(ImageTable, CropRectClipsAndCopiesWholePixels)
{
    // Three bytes per pixel: x, y and a marker, so a copy by the wrong pixel
    // size or from the wrong place shows.
    image *img = img_alloc("src", 8, 4, 3);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) {
            uint8_t *p = img->pixels + (y * 8 + x) * 3;
            p[0] = (uint8_t)x;
            p[1] = (uint8_t)y;
            p[2] = 200;
        }
    struct Case {
        const char *what;
        float rect[4];
        int x0, y0, w, h;
    };
    const Case cases[] = {
        {"whole image", {0, 0, 1, 1}, 0, 0, 8, 4},
        {"inner part", {0.25f, 0.5f, 0.75f, 1}, 2, 2, 4, 2},
        {"end rounds to nearest", {0, 0, 0.3f, 0.3f}, 0, 0, 2, 1},
        {"clipped to the image", {-0.5f, -1, 2, 3}, 0, 0, 8, 4},
        {"inside out is empty", {0.75f, 0, 0.25f, 1}, 6, 0, 0, 4},
        {"NaN counts as 0", {NAN, 0, 0.5f, NAN}, 0, 0, 4, 0},
    };
    for (const Case &c : cases) {
        image *out = img_croprect(img, c.rect);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "src.dr") << c.what;
        EXPECT_EQ(out->bytesperpixel, 3) << c.what;
        EXPECT_EQ(out->width, c.w) << c.what;
        EXPECT_EQ(out->height, c.h) << c.what;
        for (int y = 0; y < out->height; y++)
            for (int x = 0; x < out->width; x++) {
                const uint8_t *p = out->pixels + (y * out->width + x) * 3;
                EXPECT_EQ(p[0], c.x0 + x) << c.what;
                EXPECT_EQ(p[1], c.y0 + y) << c.what;
                EXPECT_EQ(p[2], 200) << c.what;
            }
        img_free(out);
    }
    img_free(img);
}

TEST(ImageTable, FlipMovesWholePixels)
{
    // 3 x 2 pixels of 2 bytes: (x, y).
    image *img = img_alloc("src", 3, 2, 2);
    for (int i = 0; i < 6; i++) {
        img->pixels[i * 2] = (uint8_t)(i % 3);
        img->pixels[i * 2 + 1] = (uint8_t)(i / 3);
    }
    struct Case {
        int h, v;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (const Case &c : cases) {
        image *out = img_flip(img, c.h, c.v);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(out->name, "src.flp");
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 3; x++) {
                const uint8_t *p = out->pixels + (y * 3 + x) * 2;
                EXPECT_EQ(p[0], c.h ? 2 - x : x) << c.h << c.v;
                EXPECT_EQ(p[1], c.v ? 1 - y : y) << c.h << c.v;
            }
        img_free(out);
    }
    img_free(img);

    image *pair = img_field("pair", 2, 1, {1.0f, 2.0f});
    image *both = img_flip(pair, 1, 1);
    EXPECT_EQ(imgfixture_at(both, 0, 0), 2.0f);
    EXPECT_EQ(imgfixture_at(both, 1, 0), 1.0f);
    img_free(both);
    img_free(pair);
}

TEST(ImageTable, DerivedNames)
{
    image src{};
    strcpy(src.name, "canvas");
    struct Case {
        img_namekind kind;
        const char *kernel, *want;
    };
    const Case cases[] = {
        {img_namedr, nullptr, "canvas.dr"},     {img_namec24, nullptr, "canvas.c24"},
        {img_namemodb, nullptr, "canvas.modb"}, {img_namefxa, nullptr, "canvas.fxa"},
        {img_namecnv, "ball", "canvas.cnv[ball]"},
    };
    char out[img_maxname];
    for (const Case &c : cases) {
        img_derivedname(out, &src, c.kind, c.kernel);
        EXPECT_STREQ(out, c.want);
    }
    memset(src.name, 'a', 255);
    src.name[255] = 0;
    EXPECT_EQ(img_derivedname(out, &src, img_namedr), 258);
    EXPECT_EQ(strlen(out), 255u);
}

TEST(ImageTable, RefImageIsAClampedCopy)
{
    int before = img_count;
    image *canvas = img_field("canvas", 2, 2, {-1.0f, 0.5f, 2.0f, NAN});
    const float size[3] = {10, 20, 2}, origin[3] = {0.5f, 0.25f, 1};
    {
        testlog_capture cap;
        img_setrefimage(canvas, size, origin, 0.5f, 0, 0.0);
        EXPECT_TRUE(cap.contains("2x2 sz:10.000x20.000x2.000 org:5.000,5.000,2.000 (scale 0.500000)"));
    }
    image *ref = img_refimage.load();
    ASSERT_NE(ref, nullptr);
    EXPECT_NE(ref, canvas);
    EXPECT_EQ(imgfixture_at(ref, 0, 0), 0.0f);
    EXPECT_EQ(imgfixture_at(ref, 1, 0), 0.5f);
    EXPECT_EQ(imgfixture_at(ref, 0, 1), 1.0f);
    EXPECT_EQ(imgfixture_at(ref, 1, 1), 0.0f);
    EXPECT_EQ(img_refscale2, 0.25f);
    EXPECT_EQ(imgfixture_at(canvas, 0, 0), -1.0f);

    img_setrefimage(canvas, size, origin, 1.0f, 0, 0.0); // replaces, freeing the old copy
    EXPECT_EQ(img_count, before + 2);
    img_setrefimage(nullptr, size, origin, 1.0f, 0, 0.0);
    EXPECT_EQ(img_refimage.load(), nullptr);
    img_free(canvas);
    EXPECT_EQ(img_count, before);
}

static void job_churn(void *arg)
{
    std::atomic<int> *failures = (std::atomic<int> *)arg;
    for (int i = 0; i < 200; i++) {
        image *img = img_alloc("churn", 4, 4, 4);
        if (!img) {
            failures->fetch_add(1);
            continue;
        }
        ((float *)img->pixels)[15] = (float)i;
        img_free(img);
    }
}

TEST(ImageTable, WorkersAllocateAndFreeTogether)
{
    sys_threadsinit();
    sys_memmutex = sys_createmutex();
    img_mutex = sys_createmutex();
    sys_threadsstart(4);
    int before = img_count;
    std::atomic<int> failures{0};
    for (int i = 0; i < 8; i++)
        ASSERT_GE(sys_threadjob("churn", job_churn, &failures), 0);
    job_churn(&failures);
    sys_threadsquit();
    sys_threadsdone();
    sys_destroymutex(img_mutex);
    img_mutex = -1;
    sys_destroymutex(sys_memmutex);
    sys_memmutex = -1;
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(img_count, before);
    for (const image &img : img_images)
        EXPECT_EQ(img.pixels, nullptr);
}
