// Image files: the writers behind img_save (primal, JPEG, PNG, TGA, BMP) and
// the readers behind img_load. Every picture header is read here before
// SDL2_image sees the bytes, so a file that declares an absurd size is
// refused before any decoder allocates for it; and the whole decode runs
// before an image slot is taken, so the image mutex is never held through it.
#include "img/imagefile.h"

#include "img/chunk.h"
#include "img/jpeg.h"
#include "img/png.h"
#include "img/primal.h"
#include "img/resample.h"
#include "img/svg.h"
#include "platform/path.h"
#include "sys/config.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

// ------------------------------------------------------------------- names

// The extension of the path's file name, from its last '.', or null.
static const char *img_extension(const char *path)
{
    const char *sep = plat_lastsep(path);
    return strrchr(sep ? sep + 1 : path, '.');
}

static bool img_isext(const char *ext, const char *want)
{
    if (!ext)
        return false;
    for (; *ext && *want; ext++, want++)
        if (tolower((unsigned char)*ext) != *want)
            return false;
    return !*ext && !*want;
}

// The file name up to its first '.', at most 255 characters.
static void img_namefrompath(const char *path, char *name)
{
    const char *sep = plat_lastsep(path);
    const char *file = sep ? sep + 1 : path;
    size_t len = strcspn(file, ".");
    snprintf(name, img_maxname, "%.*s", (int)std::min(len, (size_t)img_maxname - 1), file);
}

// ------------------------------------------------------------------ writing

image *img_colorize24(const image *img, float scale)
{
    if (!img_isscalar(img, "img_colorize24"))
        return nullptr;
    image *out = img_allocderived(img, img_namec24, img->width, img->height, 3);
    if (!out) {
        sys_error("img_colorize24: failed to allocate pixel buffer");
        return nullptr;
    }
    const float *src = (const float *)img->pixels;
    size_t count = (size_t)img->width * img->height;
    for (size_t i = 0; i < count; i++) {
        uint8_t *p = out->pixels + 3 * i;
        float v = src[i] * scale;
        if (!(v > 0.0f))
            continue;
        if (v >= 1.0f) {
            p[0] = p[1] = p[2] = 255;
            continue;
        }
        // The three bytes share t = 765 v between them, so their sum keeps
        // a third of a grey level more than one byte could.
        float t = v * 255.0f * 3.0f;
        for (int n = 0; n < 3; n++) {
            float q = (t + (float)n) / 3.0f;
            p[n] = q >= 255.0f ? 255 : (uint8_t)q;
        }
    }
    return out;
}

static uint8_t *img_encodejpeg(const image *g, int32_t *size)
{
    int64_t cap = img_jpegbound(g->width, g->height);
    uint8_t *buffer = cap <= INT32_MAX ? (uint8_t *)sys_malloc((int32_t)cap) : nullptr;
    if (!buffer) {
        sys_log("img_save: no room to encode %dx%d as JPEG", g->width, g->height);
        return nullptr;
    }
    *size = img_writejpeg(g->pixels, g->width, g->height, 3, buffer, (int32_t)cap, 100);
    if (*size < 0) {
        sys_log("img_save: JPEG encoding of %dx%d failed", g->width, g->height);
        sys_free(buffer);
        return nullptr;
    }
    sys_log("JPG compressed %s %dx%dx%d=%d to %d bytes", g->name, g->width, g->height, 3,
            g->width * g->height * 3, *size);
    return buffer;
}

static void img_putle16(uint8_t *p, int v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

// Uncompressed 24-bit true colour, rows top to bottom, blue first.
static uint8_t *img_encodetga(const image *g, int32_t *size)
{
    int64_t bytes = 18 + (int64_t)g->width * g->height * 3;
    if (g->width > 65535 || g->height > 65535 || bytes > INT32_MAX) {
        sys_log("img_save: %dx%d does not fit a TGA file", g->width, g->height);
        return nullptr;
    }
    uint8_t *file = (uint8_t *)sys_calloc(1, (int32_t)bytes);
    if (!file)
        return nullptr;
    file[2] = 2;
    img_putle16(file + 12, g->width);
    img_putle16(file + 14, g->height);
    file[16] = 24;
    file[17] = 0x20;
    const uint8_t *src = g->pixels;
    uint8_t *dst = file + 18;
    for (int64_t i = 0; i < (int64_t)g->width * g->height; i++, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
    *size = (int32_t)bytes;
    return file;
}

// SDL writes the BMP into memory; the buffer holds the largest header SDL
// writes plus every padded row, so the encoder never runs short.
static uint8_t *img_encodebmp(const image *g, int32_t *size)
{
    int64_t row = ((int64_t)g->width * 3 + 3) & ~(int64_t)3;
    int64_t cap = 1024 + row * g->height;
    uint8_t *buffer = cap <= INT32_MAX ? (uint8_t *)sys_malloc((int32_t)cap) : nullptr;
    if (!buffer) {
        sys_log("img_save: no room to encode %dx%d as BMP", g->width, g->height);
        return nullptr;
    }
    SDL_Surface *s =
        SDL_CreateRGBSurfaceFrom(g->pixels, g->width, g->height, 24, g->width * 3, 0xFF, 0xFF00, 0xFF0000, 0);
    SDL_RWops *rw = SDL_RWFromMem(buffer, (int)cap);
    bool ok = s && rw && SDL_SaveBMP_RW(s, rw, 0) == 0;
    *size = ok ? (int32_t)SDL_RWtell(rw) : 0;
    if (rw)
        SDL_RWclose(rw);
    SDL_FreeSurface(s);
    if (!ok) {
        sys_log("img_save: BMP encoding failed: %s", SDL_GetError());
        sys_free(buffer);
        return nullptr;
    }
    return buffer;
}

// The file's bytes in the format the extension names, or null.
static uint8_t *img_encode(const char *ext, const image *img, int32_t *size)
{
    if (img_isext(ext, ".qcsf"))
        return primal_encode(img, size);
    image *g = img_colorize24(img, 1.0f);
    if (!g)
        return nullptr;
    uint8_t *bytes;
    if (img_isext(ext, ".jpg") || img_isext(ext, ".jpeg"))
        bytes = img_encodejpeg(g, size);
    else if (img_isext(ext, ".png"))
        bytes = img_writepng(g, size);
    else if (img_isext(ext, ".tga"))
        bytes = img_encodetga(g, size);
    else
        bytes = img_encodebmp(g, size);
    img_free(g);
    return bytes;
}

uint32_t img_save(const char *path, const image *img)
{
    if (!img_isscalar(img, "img_save"))
        return 0;
    sys_log("img_save(%dx%d@%d): %s", img->width, img->height, img->bytesperpixel, path);
    if (img->width < 1 || img->height < 1) {
        sys_log("img_save: nothing to write in a %dx%d image", img->width, img->height);
        return 0;
    }
    int32_t size = 0;
    uint8_t *bytes = img_encode(img_extension(path), img, &size);
    if (!bytes)
        return 0;
    uint32_t written = (uint32_t)file_writeall(path, bytes, size);
    sys_free(bytes);
    return written;
}

// ------------------------------------------------------------ header sizes

static uint32_t img_le16(const uint8_t *p) { return p[0] | (uint32_t)p[1] << 8; }
static uint32_t img_be16(const uint8_t *p) { return p[1] | (uint32_t)p[0] << 8; }
static uint32_t img_le24(const uint8_t *p) { return img_le16(p) | (uint32_t)p[2] << 16; }
static uint32_t img_le32(const uint8_t *p) { return img_le16(p) | img_le16(p + 2) << 16; }
static uint32_t img_be32(const uint8_t *p) { return img_be16(p + 2) | img_be16(p) << 16; }

// Each reader below looks at one type: 0 when the bytes are not of it, 1
// with the size it declares, -1 when they are but the header is damaged.
struct img_header {
    const uint8_t *d;
    int64_t n;
    int64_t width = 0, height = 0;
};

static int img_peekpng(img_header &h)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (h.n < 8 || memcmp(h.d, signature, 8) != 0)
        return 0;
    if (h.n < 24 || memcmp(h.d + 12, "IHDR", 4) != 0)
        return -1;
    h.width = img_be32(h.d + 16);
    h.height = img_be32(h.d + 20);
    return 1;
}

static int64_t img_skipsubblocks(const uint8_t *d, int64_t n, int64_t p)
{
    while (p < n) {
        uint8_t len = d[p++];
        if (!len)
            return p;
        p += len;
    }
    return -1;
}

// The logical screen and every frame: SDL sizes its surface by the frame.
static int img_peekgif(img_header &h)
{
    const uint8_t *d = h.d;
    if (h.n < 6 || (memcmp(d, "GIF87a", 6) != 0 && memcmp(d, "GIF89a", 6) != 0))
        return 0;
    if (h.n < 13)
        return -1;
    h.width = img_le16(d + 6);
    h.height = img_le16(d + 8);
    int64_t p = 13;
    if (d[10] & 0x80)
        p += 3 << ((d[10] & 7) + 1);
    while (p >= 0 && p < h.n) {
        uint8_t block = d[p++];
        if (block == ';')
            break;
        if (block == '!') {
            p = img_skipsubblocks(d, h.n, p + 1);
        } else if (block == ',') {
            if (p + 10 > h.n)
                return -1;
            h.width = std::max<int64_t>(h.width, img_le16(d + p + 4));
            h.height = std::max<int64_t>(h.height, img_le16(d + p + 6));
            uint8_t flags = d[p + 8];
            p += 9;
            if (flags & 0x80)
                p += 3 << ((flags & 7) + 1);
            p = img_skipsubblocks(d, h.n, p + 1);
        } else {
            return -1;
        }
    }
    return 1;
}

static int img_peekbmp(img_header &h)
{
    if (h.n < 2 || h.d[0] != 'B' || h.d[1] != 'M')
        return 0;
    if (h.n < 26)
        return -1;
    if (img_le32(h.d + 14) == 12) {
        h.width = img_le16(h.d + 18);
        h.height = img_le16(h.d + 20);
    } else {
        h.width = (int32_t)img_le32(h.d + 18);
        h.height = (int32_t)img_le32(h.d + 22);
        h.height = h.height < 0 ? -h.height : h.height; // negative: rows top to bottom
    }
    return 1;
}

// The first frame header (SOFn) before the scan.
static int img_peekjpeg(img_header &h)
{
    const uint8_t *d = h.d;
    if (h.n < 3 || d[0] != 0xFF || d[1] != 0xD8 || d[2] != 0xFF)
        return 0;
    int64_t p = 2;
    while (p + 4 <= h.n) {
        if (d[p] != 0xFF)
            return -1;
        uint8_t marker = d[p + 1];
        if (marker == 0xFF) {
            p++;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            p += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return -1;
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (p + 9 > h.n)
                return -1;
            h.height = img_be16(d + p + 5);
            h.width = img_be16(d + p + 7);
            return 1;
        }
        p += 2 + img_be16(d + p + 2);
    }
    return -1;
}

// Width and height from the first directory of a classic TIFF.
static int img_peektiff(img_header &h)
{
    const uint8_t *d = h.d;
    bool le = h.n >= 4 && memcmp(d, "II*\0", 4) == 0, be = h.n >= 4 && memcmp(d, "MM\0*", 4) == 0;
    if (!le && !be)
        return 0;
    auto u16 = [&](int64_t p) { return le ? img_le16(d + p) : img_be16(d + p); };
    auto u32 = [&](int64_t p) { return le ? img_le32(d + p) : img_be32(d + p); };
    if (h.n < 8)
        return -1;
    int64_t dir = u32(4);
    if (dir + 2 > h.n)
        return -1;
    int64_t count = u16(dir);
    for (int64_t i = 0; i < count && dir + 2 + 12 * (i + 1) <= h.n; i++) {
        int64_t e = dir + 2 + 12 * i;
        uint32_t tag = u16(e), type = u16(e + 2);
        int64_t value = type == 3 ? u16(e + 8) : type == 4 ? u32(e + 8) : -1;
        if (tag == 256)
            h.width = value;
        else if (tag == 257)
            h.height = value;
    }
    return h.width > 0 && h.height > 0 ? 1 : -1;
}

static int img_peekwebp(img_header &h)
{
    const uint8_t *d = h.d;
    if (h.n < 12 || memcmp(d, "RIFF", 4) != 0 || memcmp(d + 8, "WEBP", 4) != 0)
        return 0;
    if (h.n < 30)
        return -1;
    if (memcmp(d + 12, "VP8 ", 4) == 0 && d[23] == 0x9D && d[24] == 0x01 && d[25] == 0x2A) {
        h.width = img_le16(d + 26) & 0x3FFF;
        h.height = img_le16(d + 28) & 0x3FFF;
    } else if (memcmp(d + 12, "VP8L", 4) == 0 && d[20] == 0x2F) {
        uint32_t bits = img_le32(d + 21);
        h.width = (bits & 0x3FFF) + 1;
        h.height = (bits >> 14 & 0x3FFF) + 1;
    } else if (memcmp(d + 12, "VP8X", 4) == 0) {
        h.width = 1 + (int64_t)img_le24(d + 24);
        h.height = 1 + (int64_t)img_le24(d + 27);
    } else {
        return -1;
    }
    return 1;
}

static int img_peektga(img_header &h)
{
    if (h.n < 18)
        return -1;
    h.width = img_le16(h.d + 12);
    h.height = img_le16(h.d + 14);
    return 1;
}

// The header reader of a decoder format; null for "by signature".
static int (*img_peekfor(int format))(img_header &)
{
    return format == img_decodetga ? img_peektga : format == img_decodepng ? img_peekpng : nullptr;
}

int img_checkheader(const char *caller, const char *what, const uint8_t *data, int32_t size, int format)
{
    img_header h{data, size};
    int found = 0;
    if (auto peek = img_peekfor(format)) {
        found = peek(h);
    } else {
        for (int (*peek)(img_header &) : {img_peekpng, img_peekjpeg, img_peekgif, img_peekbmp, img_peektiff,
                                          img_peekwebp})
            if ((found = peek(h)) != 0)
                break;
    }
    if (found == 0) {
        sys_log("%s: \"%s\" is not a %s image", caller, what,
                format == img_decodepng ? "PNG" : "JPG, PNG, BMP, GIF, TIF or WEBP");
        return 0;
    }
    if (found < 0) {
        sys_log("%s: \"%s\" has a damaged header", caller, what);
        return 0;
    }
    if (h.width < 1 || h.height < 1 || h.width * h.height > img_maxfilepixels) {
        sys_log("%s: \"%s\" declares %lldx%lld pixels, outside 1..%lld", caller, what, (long long)h.width,
                (long long)h.height, (long long)img_maxfilepixels);
        return 0;
    }
    return 1;
}

// ------------------------------------------------------------------ reading

// Read through a stream of its own: loads run on any thread, while the
// global message buffer belongs to the main thread's serialisations.
static image *img_loadqcsf(const char *path)
{
    int32_t size = 0;
    void *bytes = file_load(path, &size, 0, img_maxfilebytes);
    if (!bytes)
        return nullptr;
    msg_stream m;
    msg_readfrom(&m, bytes, size);
    image *img = img_read(&m, img_prml);
    sys_free(bytes);
    return img;
}

static uint8_t *img_decodesvg(const char *path, int *width, int *height, int *bytesperpixel)
{
    sys_log("svg image detected...");
    int32_t dpi = cfg_geti(cfg_svgdpi);
    if (dpi < 1) {
        // A damaged setting falls back to the built-in resolution.
        memcpy(&dpi, cfg_defaults + cfg_svgdpi, sizeof(dpi));
    }
    uint8_t *pixels = sys_loadSVGimage(path, (float)dpi, width, height);
    *bytesperpixel = pixels ? 4 : 0;
    return pixels;
}

static uint8_t *img_decodefile(const char *path, int tga, int *width, int *height, int *bytesperpixel)
{
    int32_t size = 0;
    uint8_t *bytes = (uint8_t *)file_load(path, &size, 0, img_maxfilebytes);
    if (!bytes) {
        sys_log("sys_loadimage: failed to load file from \"%s\"", path);
        return nullptr;
    }
    uint8_t *pixels = nullptr;
    int format = tga ? img_decodetga : img_decodeany;
    if (img_checkheader("img_load", path, bytes, size, format))
        pixels = sys_loadimagemem(bytes, size, width, height, bytesperpixel, format);
    sys_free(bytes);
    // A decoder may go by more than the header (GIF frames, TIFF pages).
    if (pixels && (int64_t)*width * *height > img_maxfilepixels) {
        sys_log("img_load: \"%s\" decoded to %dx%d pixels", path, *width, *height);
        sys_free(pixels);
        pixels = nullptr;
    }
    return pixels;
}

image *img_load(const char *path, int scalarize)
{
    const char *ext = img_extension(path);
    if (img_isext(ext, ".qcsf"))
        return img_loadqcsf(path);
    if (!ext) {
        sys_log("img_load: \"%s\" has no extension", path);
        return nullptr;
    }
    int width = 0, height = 0, bytesperpixel = 0;
    uint8_t *pixels = img_isext(ext, ".svg")
                          ? img_decodesvg(path, &width, &height, &bytesperpixel)
                          : img_decodefile(path, img_isext(ext, ".tga"), &width, &height, &bytesperpixel);
    if (!pixels)
        return nullptr;
    sys_log("loaded \"%s\" (%dx%d@%d)", path, width, height, bytesperpixel);
    char name[img_maxname];
    img_namefrompath(path, name);
    image *img = img_alloc(name, width, height, bytesperpixel, pixels);
    sys_free(pixels);
    if (!img)
        return nullptr;
    sys_debuglog("img_load: %s = %dx%dx%d", img->name, width, height, bytesperpixel);
    if (!scalarize)
        return img;
    image *field = img_scalarize(img, 1.0f, 0.0f);
    img_free(img);
    return field;
}
