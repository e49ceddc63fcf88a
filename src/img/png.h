// In-memory image codecs: the PNG writer (libpng, into a growing buffer) and
// the decoder of image files held in memory (SDL2_image), which the chunk
// reader and the image-file loader share.
#pragma once
#include "img/image.h"

#include <cstdint>

// Encodes the image's 8-bit channels (1 grey, 2 grey and alpha, 3 RGB,
// 4 RGBA) as a PNG file, rows top to bottom, at zlib's highest level.
// Returns a new sys_malloc buffer and its size, or null and size 0.
uint8_t *img_writepng(const image *img, int32_t *size);

// Which decoder sys_loadimagemem uses: the one the content names, TGA (which
// has no signature), or PNG alone.
enum img_decodeformat { img_decodeany = 0, img_decodetga = 1, img_decodepng = 2 };

// Decodes an image file held in memory with the decoder format names (an
// img_decodeformat) into a new sys_malloc buffer of width x height x bytes
// per pixel, rows packed, in the decoder's own pixel layout. Null, with the
// outputs 0, on failure (logged).
uint8_t *sys_loadimagemem(const uint8_t *data, int32_t size, int *width, int *height, int *bytesperpixel,
                          int format);
