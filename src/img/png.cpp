// PNG output through libpng into memory, and image decoding from memory
// through SDL2_image. libpng reports errors by longjmp, so its calls live in
// one function that holds no C++ objects, and the output grows through the
// accounted allocator.
#include "img/png.h"

#include "sys/log.h"
#include "sys/mem.h"

#include <SDL.h>
#include <SDL_image.h>
#include <png.h>
#include <zlib.h>

#include <climits>
#include <cstring>

// The PNG file as it grows.
struct png_membuf {
    uint8_t *data;
    int64_t size, cap;
};

static void png_errorfn(png_structp png, png_const_charp message)
{
    sys_log("img_writepng: %s", message);
    png_longjmp(png, 1);
}

static void png_warnfn(png_structp, png_const_charp message)
{
    sys_debuglog("img_writepng: %s", message);
}

static void png_writefn(png_structp png, png_bytep bytes, png_size_t n)
{
    png_membuf *m = (png_membuf *)png_get_io_ptr(png);
    if (m->size + (int64_t)n > m->cap) {
        int64_t cap = m->cap ? m->cap * 2 : 65536;
        while (cap < m->size + (int64_t)n)
            cap *= 2;
        uint8_t *grown = cap <= INT32_MAX ? (uint8_t *)sys_realloc(m->data, (int32_t)cap) : nullptr;
        if (!grown)
            png_error(png, "output buffer cannot grow");
        m->data = grown;
        m->cap = cap;
    }
    memcpy(m->data + m->size, bytes, n);
    m->size += (int64_t)n;
}

static void png_flushfn(png_structp) {}

// Writes the whole file into m; 1 on success.
static int png_encode(const image *img, int colortype, png_membuf *m)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_errorfn, png_warnfn);
    if (!png)
        return 0;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return 0;
    }
    png_set_write_fn(png, m, png_writefn, png_flushfn);
    png_set_compression_level(png, Z_BEST_COMPRESSION);
    png_set_IHDR(png, info, (png_uint_32)img->width, (png_uint_32)img->height, 8, colortype, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    size_t stride = (size_t)img->width * img->bytesperpixel;
    for (int y = 0; y < img->height; y++)
        png_write_row(png, img->pixels + (size_t)y * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 1;
}

uint8_t *img_writepng(const image *img, int32_t *size)
{
    static const int colortypes[5] = {-1, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                      PNG_COLOR_TYPE_RGB_ALPHA};
    *size = 0;
    if (!img || !img->pixels || img->width < 1 || img->height < 1 || img->bytesperpixel < 1 ||
        img->bytesperpixel > 4) {
        sys_log("img_writepng: no image of 1 to 4 bytes per pixel");
        return nullptr;
    }
    png_membuf m = {};
    if (!png_encode(img, colortypes[img->bytesperpixel], &m)) {
        sys_free(m.data);
        return nullptr;
    }
    *size = (int32_t)m.size;
    sys_log("PNG compressed %s %dx%dx%d=%d to %d bytes", img->name, img->width, img->height, img->bytesperpixel,
            img->width * img->height * img->bytesperpixel, *size);
    return m.data;
}

// Copies the surface's rows without their padding into a new buffer.
static uint8_t *png_surfacepixels(SDL_Surface *s)
{
    int bpp = s->format->BytesPerPixel;
    int64_t row = (int64_t)s->w * bpp, bytes = row * s->h;
    if (bytes <= 0 || bytes > INT32_MAX) {
        sys_log("!!! sys_loadimagemem: %dx%d@%d image out of range !!!", s->w, s->h, bpp);
        return nullptr;
    }
    uint8_t *pixels = (uint8_t *)sys_malloc((int32_t)bytes);
    if (!pixels) {
        sys_error("sys_loadimagemem: failed to allocate pixel buffer");
        return nullptr;
    }
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; y++)
        memcpy(pixels + y * row, (const uint8_t *)s->pixels + (size_t)y * s->pitch, (size_t)row);
    SDL_UnlockSurface(s);
    return pixels;
}

uint8_t *sys_loadimagemem(const uint8_t *data, int32_t size, int *width, int *height, int *bytesperpixel, int format)
{
    *width = *height = *bytesperpixel = 0;
    SDL_Surface *s = nullptr;
    if (!data || size <= 0) {
        SDL_SetError("no image data");
    } else if (SDL_RWops *rw = SDL_RWFromConstMem(data, size)) {
        s = format == img_decodetga   ? IMG_LoadTGA_RW(rw)
            : format == img_decodepng ? IMG_LoadPNG_RW(rw)
                                      : IMG_Load_RW(rw, 0);
        SDL_RWclose(rw);
    }
    if (!s) {
        sys_log("!!! sys_loadimagemem: %s !!!", SDL_GetError());
        return nullptr;
    }
    uint8_t *pixels = png_surfacepixels(s);
    if (pixels) {
        *width = s->w;
        *height = s->h;
        *bytesperpixel = s->format->BytesPerPixel;
    }
    SDL_FreeSurface(s);
    return pixels;
}
