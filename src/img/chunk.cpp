// Image chunks in the message buffer: one reader per kind, the pack16 writer
// and the texture-coordinate resampler. Every reader takes its fixed header
// words, then moves past the whole chunk before decoding it, so a chunk that
// fails to decode still leaves the buffer at the next one.
#include "img/chunk.h"

#include "img/imagefile.h"
#include "img/png.h"
#include "img/primal.h"
#include "img/resample.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <climits>
#include <cstdio>
#include <cstring>

static const char *const img_kindnames[] = {"img_raw",  "img_png",  "img_pack8", "img_pack10", "img_pack16",
                                            "img_zlib", "img_qrnt", "img_dimg",  "img_prml",   "img_jpeg"};

// What a kind's reader found: no image (a 0 first word), a failure, or an
// image with the chunk's payload size for the log.
enum img_chunkstatus { img_chunknone, img_chunkfailed, img_chunkread };

static int64_t img_bytesleft(const msg_stream *m)
{
    return m->failed ? 0 : (int64_t)m->end - m->position;
}

// The next n bytes of the blob, the position moving past them; null when
// they run past the blob's end, which leaves the position there and sets
// the failed flag: nothing after a broken chunk can be trusted.
static const uint8_t *img_takebytes(msg_stream *m, uint64_t n, int kind)
{
    int64_t left = img_bytesleft(m);
    if (n > (uint64_t)left) {
        sys_log("img_read: %s chunk of %llu bytes runs past the blob's end (%lld left)", img_kindnames[kind],
                (unsigned long long)n, (long long)left);
        m->failed = 1;
        m->position = m->end;
        return nullptr;
    }
    const uint8_t *at = m->buffer + m->position;
    m->position += (int32_t)n;
    return at;
}

// Width, height and bytes per pixel of kinds 0, 3 and 4. The pixel count
// is bounded by the bytes left (every kind stores at least one byte a
// pixel), so later products cannot overflow.
struct img_sizes {
    uint32_t width, height, depth;
    uint64_t pixels;
};

static img_chunkstatus img_readsizes(msg_stream *m, img_sizes &s, int kind)
{
    s.width = (uint32_t)msg_readint(m);
    if (!s.width && !m->failed)
        return img_chunknone;
    s.height = (uint32_t)msg_readint(m);
    s.depth = (uint32_t)msg_readint(m);
    s.pixels = (uint64_t)s.width * s.height;
    if (m->failed)
        return img_chunkfailed;
    if (s.pixels > (uint64_t)img_bytesleft(m)) {
        img_takebytes(m, s.pixels, kind);
        return img_chunkfailed;
    }
    if (s.width > INT32_MAX || s.height > INT32_MAX) {
        sys_log("img_read: %s size %ux%u out of range", img_kindnames[kind], s.width, s.height);
        return img_chunkfailed;
    }
    return img_chunkread;
}

static img_chunkstatus img_readraw(msg_stream *m, image **out, int64_t *payload)
{
    img_sizes s;
    if (img_chunkstatus st = img_readsizes(m, s, img_raw); st != img_chunkread)
        return st;
    *payload = (int64_t)(s.pixels * s.depth);
    const uint8_t *bytes = img_takebytes(m, s.pixels * s.depth, img_raw);
    if (!bytes || !s.depth)
        return img_chunkfailed;
    char name[img_maxname];
    snprintf(name, sizeof(name), "RAW%dx%d", (int)s.width, (int)s.height);
    *out = img_alloc(name, (int)s.width, (int)s.height, (int)s.depth, bytes);
    return *out ? img_chunkread : img_chunkfailed;
}

// The picture's header is read before a decoder sees the bytes: only a PNG
// is taken, and only one of a size the program can hold, so a few bytes
// declaring a huge picture never make a decoder allocate for it.
static img_chunkstatus img_readpng(msg_stream *m, image **out, int64_t *payload)
{
    uint32_t length = (uint32_t)msg_readint(m);
    if (!length && !m->failed)
        return img_chunknone;
    *payload = length;
    const uint8_t *bytes = img_takebytes(m, length, img_png);
    if (!bytes || !img_checkheader("img_read", "img_png chunk", bytes, (int32_t)length, img_decodepng))
        return img_chunkfailed;
    int w = 0, h = 0, bpp = 0;
    uint8_t *pixels = sys_loadimagemem(bytes, (int32_t)length, &w, &h, &bpp, img_decodepng);
    if (!pixels)
        return img_chunkfailed;
    char name[img_maxname];
    snprintf(name, sizeof(name), "PNG%dx%d", w, h);
    *out = img_alloc(name, w, h, bpp, pixels);
    sys_free(pixels);
    return *out ? img_chunkread : img_chunkfailed;
}

// Allocates the scalar field of a pack chunk; its bytes-per-pixel word must
// be 4, since the decoders write one float per pixel.
static image *img_allocpack(const char *format, const img_sizes &s)
{
    if (s.depth != 4) {
        sys_log("img_read: packed scalar field with %u bytes per pixel", s.depth);
        return nullptr;
    }
    char name[img_maxname];
    snprintf(name, sizeof(name), format, (int)s.width, (int)s.height);
    return img_allocfloat(name, (int)s.width, (int)s.height);
}

static img_chunkstatus img_readpack10(msg_stream *m, image **out, int64_t *payload)
{
    img_sizes s;
    if (img_chunkstatus st = img_readsizes(m, s, img_pack10); st != img_chunkread)
        return st;
    // ceil(pixels x 1.25): every sample's ten bits lie inside these bytes.
    uint64_t n = (s.pixels * 10 + 7) / 8;
    *payload = (int64_t)n;
    sys_log("reading %d bytes for %dx%d...", (int)n, (int)s.width, (int)s.height);
    const uint8_t *bytes = img_takebytes(m, n, img_pack10);
    if (!bytes || !(*out = img_allocpack("PK10B%dx%d", s)))
        return img_chunkfailed;
    float *px = (float *)(*out)->pixels;
    for (uint64_t i = 0; i < s.pixels; i++) {
        uint64_t bit = i * 10;
        // A sample spans at most two bytes, both inside the data.
        uint32_t word = (uint32_t)bytes[bit >> 3] | (uint32_t)bytes[(bit >> 3) + 1] << 8;
        px[i] = (float)((word >> (bit & 7)) & 0x3FF) / 1023.0f;
    }
    return img_chunkread;
}

static img_chunkstatus img_readpack16(msg_stream *m, image **out, int64_t *payload)
{
    img_sizes s;
    if (img_chunkstatus st = img_readsizes(m, s, img_pack16); st != img_chunkread)
        return st;
    *payload = (int64_t)(2 * s.pixels);
    const uint8_t *bytes = img_takebytes(m, 2 * s.pixels, img_pack16);
    if (!bytes || !(*out = img_allocpack("PK16B%dx%d", s)))
        return img_chunkfailed;
    float *px = (float *)(*out)->pixels;
    for (uint64_t i = 0; i < s.pixels; i++)
        px[i] = (float)(bytes[2 * i] | bytes[2 * i + 1] << 8) / 65535.0f * 3.0f - 1.0f;
    return img_chunkread;
}

static img_chunkstatus img_readprml(msg_stream *m, image **out, int64_t *payload)
{
    int32_t used = -1;
    int32_t left = (int32_t)img_bytesleft(m);
    *out = primal_read(left > 0 ? m->buffer + m->position : nullptr, left, &used);
    if (used < 0) {
        img_takebytes(m, UINT64_MAX, img_prml);
        return img_chunkfailed;
    }
    m->position += used;
    *payload = used;
    return *out ? img_chunkread : img_chunkfailed;
}

image *img_read(msg_stream *m, int kind)
{
    image *img = nullptr;
    int64_t payload = 0;
    img_chunkstatus status;
    switch (kind) {
    case img_raw: status = img_readraw(m, &img, &payload); break;
    case img_png: status = img_readpng(m, &img, &payload); break;
    case img_pack10: status = img_readpack10(m, &img, &payload); break;
    case img_pack16: status = img_readpack16(m, &img, &payload); break;
    case img_prml: status = img_readprml(m, &img, &payload); break;
    default:
        // The chunk's length is unknown, so nothing after it can be found.
        sys_log("img_read: no reader for image kind %d", kind);
        m->failed = 1;
        m->position = m->end;
        status = img_chunkfailed;
        break;
    }
    if (status == img_chunknone)
        return nullptr;
    if (status == img_chunkfailed) {
        img_free(img);
        sys_log("img_read: failed to read image!");
        return nullptr;
    }
    sys_log("img_read: \"%s\" %dx%dx%d %s (%.2fk bytes)", img->name, img->width, img->height, img->bytesperpixel,
            img_kindnames[kind], payload / 1024.0);
    return img;
}

// A height as a pack16 sample: -1..2 over 0..65535, NaN as -1.
static uint16_t img_pack16sample(float v)
{
    if (!(v > -1.0f))
        return 0;
    if (v >= 2.0f)
        return 65535;
    return (uint16_t)((double)((v + 1.0f) / 3.0f * 65535.0f) + 0.5);
}

image *img_read(int kind)
{
    return img_read(&msg_main, kind);
}

int32_t img_write(msg_stream *m, const image *img)
{
    int32_t start = m->position;
    if (!img || !img_isscalar(img, "img_write")) {
        msg_writeint(m, 0);
        return 0;
    }
    int64_t n = (int64_t)img->width * img->height;
    sys_debuglog("packed %lld scalar pixels to 16-bit buffer", (long long)n);
    msg_writeint(m, img->width);
    msg_writeint(m, img->height);
    msg_writeint(m, img->bytesperpixel);
    // Packed a slice at a time, so a large field needs no second copy.
    const float *px = (const float *)img->pixels;
    uint8_t slice[65536];
    for (int64_t i = 0; i < n;) {
        int32_t k = 0;
        for (; k < (int32_t)sizeof(slice) && i < n; k += 2, i++) {
            uint16_t s = img_pack16sample(px[i]);
            slice[k] = (uint8_t)s;
            slice[k + 1] = (uint8_t)(s >> 8);
        }
        msg_write(m, slice, k);
    }
    sys_log("img_write: \"%s\" %dx%dx%d (%.2fkb, %.3fbpp)", img->name, img->width, img->height, img->bytesperpixel,
            2.0 * (double)n / 1024.0, n ? 2.0 : 0.0);
    return m->position - start;
}

int32_t img_write(const image *img)
{
    return img_write(&msg_main, img);
}

// A sample of the pack10 chunk: the value times 1023 truncated, clamped to
// 0..1023 (NaN as 0).
static uint32_t img_pack10sample(float v)
{
    float s = v * 1023.0f;
    if (!(s > 0.0f))
        return 0;
    if (s >= 1023.0f)
        return 1023;
    return (uint32_t)s;
}

int32_t img_writepack10(msg_stream *m, const image *img)
{
    int32_t start = m->position;
    if (!img || !img_isscalar(img, "img_writepack10")) {
        msg_writeint(m, 0);
        return 0;
    }
    int64_t n = (int64_t)img->width * img->height;
    int64_t bytes = (n * 10 + 7) / 8;
    if (bytes > INT32_MAX) {
        sys_log("img_writepack10: \"%s\" %dx%d too large", img->name, img->width, img->height);
        m->failed = 1;
        return 0;
    }
    sys_log("writing %d bytes for %dx%d...", (int)bytes, img->width, img->height);
    msg_writeint(m, img->width);
    msg_writeint(m, img->height);
    msg_writeint(m, img->bytesperpixel);
    // Ten bits a sample, least significant first, gathered in a word and
    // written a slice at a time.
    const float *px = (const float *)img->pixels;
    uint8_t slice[65536];
    int32_t k = 0;
    uint64_t bits = 0;
    int held = 0;
    for (int64_t i = 0; i < n; i++) {
        bits |= (uint64_t)img_pack10sample(px[i]) << held;
        held += 10;
        while (held >= 8) {
            slice[k++] = (uint8_t)bits;
            bits >>= 8;
            held -= 8;
        }
        if (k > (int32_t)sizeof(slice) - 8) {
            msg_write(m, slice, k);
            k = 0;
        }
    }
    if (held > 0)
        slice[k++] = (uint8_t)bits;
    msg_write(m, slice, k);
    sys_debuglog("packed %lld scalar pixels to 10-bit buffer", (long long)n);
    return m->position - start;
}

void img_u16tofloat(image *coords, const image *source)
{
    if (!img_isscalar(coords, "img_u16tofloat") || !img_isscalar(source, "img_u16tofloat"))
        return;
    if (source->width < 1 || source->height < 1)
        return;
    float sw = (float)source->width, sh = (float)source->height;
    int64_t n = (int64_t)coords->width * coords->height;
    for (int64_t i = 0; i < n; i++) {
        uint8_t *p = coords->pixels + 4 * i;
        float fu = (float)(p[0] | p[1] << 8) / 65535.0f, fv = (float)(p[2] | p[3] << 8) / 65535.0f;
        if (!(fu + fv > 0.0f))
            continue;
        float x = fu * sw, y = fv * sh;
        float v = img_samplescalar(source, x < sw ? x : sw, y < sh ? y : sh);
        memcpy(p, &v, sizeof(v));
    }
}
