// The image table and its small operations. The image mutex covers only the
// slot search, the record's fields and the reference heightfield's holds:
// buffers are allocated, zeroed and filled outside it, and every report
// (oversized request, full table) is written after it is released, so an
// error box never holds up the workers.
#include "img/image.h"

#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

image img_images[img_maxslots];
int img_count = 0;
int img_mutex = -1;

std::atomic<image *> img_refimage{nullptr};
float img_refsize[3];
float img_reforiginfrac[3];
float img_reforigin[3];
float img_refscale;
float img_refscale2;
// The current reference and retired ones runs still hold; a record is free
// while its image is null. Generators run one at a time, so two records
// are in use at most; the rest is room to spare.
constexpr int img_maxrefs = 8;
static img_reference img_refs[img_maxrefs];
static img_reference *img_current = nullptr; // under the image mutex

// Grows only; the slot examined is the cursor modulo 256 (unsigned, so the
// wrap at 2^32 keeps the modulo sequence intact).
static uint32_t img_cursor = 0;

static const char *const img_suffixes[img_namekinds] = {
    "%s.dr",  "%s.flp",  "%s.scl",  "%s.c8",   "%s.c24", "%s.dnc", "%s.ups",
    "%s.dns", "%s.upv",  "%s.dnv",  "%s.nm",   "%s.vd",  "%s.rpcl", "%s.rp2d",
    "%s.smth", "%s.ath", "%s.modb", "%s.qnt",  "%s.fxa", "%s.cnv[%s]",
};

int img_derivedname(char *out, const image *source, img_namekind kind, const char *kernel)
{
    // Formatted whole, then cut: a name has room for 255 characters.
    char full[2 * img_maxname + 16];
    int len = snprintf(full, sizeof(full), img_suffixes[kind], source->name, kernel ? kernel : "");
    snprintf(out, img_maxname, "%.255s", full);
    return len;
}

// What the overflow report prints of one occupied slot, copied under the
// mutex so the lines can be written after it is released.
struct img_slotline {
    int slot;
    char name[img_maxname];
    int width, height, bytesperpixel;
};

static void img_logoverflow(int count, const std::vector<img_slotline> &lines)
{
    sys_log("num_images = %d", count);
    for (const img_slotline &l : lines)
        sys_log("image%d = \"%s\" %dx%d@%d", l.slot, l.name, l.width, l.height, l.bytesperpixel);
    sys_log("");
    sys_error("img_alloc: overflow!");
}

// Takes a free slot for buffer and fills its record; on a full table the
// occupied slots are copied into lines and null returned.
static image *img_claimslot(const char *name, int width, int height, int bytesperpixel, uint8_t *buffer,
                            std::vector<img_slotline> &lines, int &count)
{
    sys_mutexguard g(img_mutex);
    for (uint32_t n = 0; n < img_maxslots; n++) {
        uint32_t pos = img_cursor + n;
        image *img = &img_images[pos % img_maxslots];
        if (img->pixels)
            continue;
        if (n)
            img_cursor = pos;
        img->pixels = buffer;
        snprintf(img->name, sizeof(img->name), "%s", name ? name : "");
        img->width = width;
        img->height = height;
        img->bytesperpixel = bytesperpixel;
        img_count++;
        return img;
    }
    img_cursor += img_maxslots;
    count = img_count;
    for (int i = 0; i < img_maxslots; i++) {
        const image &img = img_images[i];
        if (!img.pixels)
            continue;
        lines.push_back({i, {}, img.width, img.height, img.bytesperpixel});
        memcpy(lines.back().name, img.name, sizeof(img.name));
    }
    return nullptr;
}

void img_init()
{
    for (image &img : img_images)
        if (!img.pixels)
            img = image{};
    img_cursor = 0;
    img_mutex = sys_createmutex();
}

image *img_alloc(const char *name, int width, int height, int bytesperpixel, const void *source)
{
    // The product is formed in 64 bits: a request that overflows 32 bits
    // must be refused, not handed a short buffer.
    int64_t bytes = (int64_t)width * height * bytesperpixel;
    if (width < 0 || height < 0 || bytesperpixel <= 0 || bytes > INT32_MAX) {
        sys_error("img_alloc: size %dx%d@%d out of range for \"%s\"", width, height, bytesperpixel,
                  name ? name : "");
        return nullptr;
    }
    uint8_t *buffer = (uint8_t *)sys_calloc(1, (int32_t)bytes);
    if (!buffer)
        return nullptr;
    std::vector<img_slotline> lines;
    int count = 0;
    image *img = img_claimslot(name, width, height, bytesperpixel, buffer, lines, count);
    if (!img) {
        sys_free(buffer);
        img_logoverflow(count, lines);
        return nullptr;
    }
    if (source && bytes)
        memcpy(img->pixels, source, (size_t)bytes);
    return img;
}

image *img_allocfloat(const char *name, int width, int height)
{
    return img_alloc(name, width, height, 4);
}

image *img_allocderived(const image *source, img_namekind kind, int width, int height, int bytesperpixel)
{
    char name[img_maxname];
    img_derivedname(name, source, kind);
    return img_alloc(name, width, height, bytesperpixel);
}

image *img_copy(const image *source)
{
    if (!source || !source->pixels)
        return nullptr;
    return img_alloc(source->name, source->width, source->height, source->bytesperpixel, source->pixels);
}

void img_free(image *img)
{
    if (!img)
        return;
    uint8_t *buffer;
    {
        sys_mutexguard g(img_mutex);
        buffer = img->pixels;
        if (!buffer)
            return;
        img->pixels = nullptr;
        img_count--;
    }
    sys_free(buffer);
}

bool img_isscalar(const image *img, const char *caller)
{
    if (!img || !img->pixels) {
        sys_log("%s: no image", caller);
        return false;
    }
    if (img->bytesperpixel != 4) {
        sys_log("%s: \"%s\" has %d bytes per pixel, not a scalar field", caller, img->name, img->bytesperpixel);
        return false;
    }
    return true;
}

void img_clampunit(int count, float *values)
{
    for (int i = 0; i < count; i++) {
        float v = values[i];
        values[i] = v >= 1.0f ? 1.0f : v > 0.0f ? v : 0.0f;
    }
}

// Copies the rectangle [x0, x1) x [y0, y1) of src, already inside it, into
// dst of exactly that size.
static void img_copyrect(const image *src, image *dst, int x0, int y0, int x1, int y1)
{
    size_t bpp = (size_t)src->bytesperpixel;
    size_t run = (size_t)(x1 - x0) * bpp;
    for (int y = y0; y < y1; y++)
        memcpy(dst->pixels + (size_t)(y - y0) * run,
               src->pixels + ((size_t)y * src->width + x0) * bpp, run);
}

// A fraction-derived coordinate clipped to 0..limit; NaN gives 0.
static int img_clipcoord(float v, int limit)
{
    if (!(v > 0.0f))
        return 0;
    return v >= (float)limit ? limit : (int)v;
}

image *img_croprect(const image *img, const float *rect)
{
    if (!img || !img->pixels)
        return nullptr;
    float w = (float)img->width, h = (float)img->height;
    int x0 = img_clipcoord(std::floor(rect[0] * w), img->width);
    int y0 = img_clipcoord(std::floor(rect[1] * h), img->height);
    int x1 = img_clipcoord(std::floor(rect[2] * w + 0.5f), img->width);
    int y1 = img_clipcoord(std::floor(rect[3] * h + 0.5f), img->height);
    // A rectangle turned inside out gives an empty image, never a negative size.
    x1 = x1 < x0 ? x0 : x1;
    y1 = y1 < y0 ? y0 : y1;
    image *out = img_allocderived(img, img_namedr, x1 - x0, y1 - y0, img->bytesperpixel);
    if (out)
        img_copyrect(img, out, x0, y0, x1, y1);
    return out;
}

image *img_novelrect(const image *img, float threshold, int *rect)
{
    if (!img_isscalar(img, "img_novelrect"))
        return nullptr;
    int x0 = 99999, y0 = 99999, x1 = -99999, y1 = -99999;
    const float *p = (const float *)img->pixels;
    for (int y = 0; y < img->height; y++) {
        for (int x = 0; x < img->width; x++) {
            if (!(p[(size_t)y * img->width + x] > threshold))
                continue;
            x0 = x < x0 ? x : x0;
            y0 = y < y0 ? y : y0;
            x1 = x + 1 > x1 ? x + 1 : x1;
            y1 = y + 1 > y1 ? y + 1 : y1;
        }
    }
    if (x1 - x0 < 0 || y1 - y0 < 0)
        return nullptr;
    sys_log("novel rect = (%d,%d)(%d,%d)", x0, y0, x1, y1);
    rect[0] = x0;
    rect[1] = y0;
    rect[2] = x1;
    rect[3] = y1;
    image *out = img_allocderived(img, img_namedr, x1 - x0, y1 - y0, img->bytesperpixel);
    if (out)
        img_copyrect(img, out, x0, y0, x1, y1);
    return out;
}

image *img_flip(const image *img, int horizontal, int vertical)
{
    if (!img || !img->pixels)
        return nullptr;
    image *out = img_allocderived(img, img_nameflp, img->width, img->height, img->bytesperpixel);
    if (!out)
        return nullptr;
    size_t bpp = (size_t)img->bytesperpixel, row = (size_t)img->width * bpp;
    for (int y = 0; y < img->height; y++) {
        const uint8_t *src = img->pixels + (size_t)y * row;
        uint8_t *dst = out->pixels + (size_t)(vertical ? img->height - 1 - y : y) * row;
        if (!horizontal) {
            memcpy(dst, src, row);
            continue;
        }
        for (int x = 0; x < img->width; x++)
            memcpy(dst + (size_t)(img->width - 1 - x) * bpp, src + (size_t)x * bpp, bpp);
    }
    return out;
}

// Frees a reference no run holds and no longer current.
static void img_dropref(img_reference *ref)
{
    image *img;
    {
        sys_mutexguard g(img_mutex);
        img = ref->img;
        *ref = img_reference{};
    }
    img_free(img);
}

// Takes the current reference out of use: freed at once unless a run holds
// it, when its last release frees it.
static void img_retireref()
{
    img_reference *old;
    {
        sys_mutexguard g(img_mutex);
        old = img_current;
        img_current = nullptr;
        img_refimage.store(nullptr, std::memory_order_release);
        if (old && old->holds > 0) {
            old->retired = true;
            old = nullptr;
        }
    }
    if (old)
        img_dropref(old);
}

void img_setrefimage(const image *img, const float *size, const float *origin, float scale, int32_t group,
                     double composed)
{
    // The old one goes first, so a large canvas is not held twice while
    // its successor is copied.
    img_retireref();
    for (int i = 0; i < 3; i++) {
        img_refsize[i] = size[i];
        img_reforiginfrac[i] = origin[i];
        img_reforigin[i] = size[i] * origin[i];
    }
    if (img_refscale != scale) {
        img_refscale = scale;
        img_refscale2 = scale * scale;
    }
    if (!img)
        return;
    if (!img_isscalar(img, "img_setrefimage"))
        return;
    image *copy = img_copy(img);
    if (!copy)
        return;
    img_clampunit(copy->width * copy->height, (float *)copy->pixels);
    img_reference fresh{copy, {}, {}, {}, scale, group, composed, 0, false};
    memcpy(fresh.size, img_refsize, sizeof(fresh.size));
    memcpy(fresh.originfrac, img_reforiginfrac, sizeof(fresh.originfrac));
    memcpy(fresh.origin, img_reforigin, sizeof(fresh.origin));
    {
        sys_mutexguard g(img_mutex);
        for (img_reference &r : img_refs)
            if (!r.img) {
                r = fresh;
                img_current = &r;
                img_refimage.store(copy, std::memory_order_release);
                break;
            }
    }
    if (!img_current) {
        sys_log("img_setrefimage: all %d reference records are held, nothing installed", img_maxrefs);
        img_free(copy);
        return;
    }
    sys_log("%dx%d sz:%2.3fx%2.3fx%2.3f org:%2.3f,%2.3f,%2.3f (scale %f) group %d", copy->width, copy->height,
            img_refsize[0], img_refsize[1], img_refsize[2], img_reforigin[0], img_reforigin[1],
            img_reforigin[2], scale, group);
}

const img_reference *img_holdref(int32_t group, double after)
{
    sys_mutexguard g(img_mutex);
    img_reference *ref = img_current;
    if (!ref || ref->group != group || ref->composed < after)
        return nullptr;
    ref->holds++;
    return ref;
}

void img_releaseref(const img_reference *held)
{
    if (!held)
        return;
    img_reference *ref = const_cast<img_reference *>(held);
    bool drop;
    {
        sys_mutexguard g(img_mutex);
        drop = --ref->holds == 0 && ref->retired;
    }
    if (drop)
        img_dropref(ref);
}
