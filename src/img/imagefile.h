// Image files chosen by extension: img_save writes a scalar field in the
// primal encoding (".qcsf") or as a grey JPEG, PNG, TGA or BMP picture;
// img_load reads ".qcsf" files, rasterises ".svg" files (svg.h) and decodes
// the picture types through SDL2_image after checking their headers. Also
// the grey picture img_colorize24 that the writers and the content library
// share.
#pragma once
#include "img/image.h"

#include <cstdint>

// The most pixels a decoded picture may have: the largest canvas the program
// composes. A header declaring more is refused before anything is decoded.
constexpr int64_t img_maxfilepixels = 134217728;
// The largest image file read: an uncompressed picture of img_maxfilepixels
// with four bytes a pixel, and room for its headers.
constexpr int32_t img_maxfilebytes = 544000000;

// Reads the size the picture in data declares, as the decoder format (an
// img_decodeformat of png.h) will see it, without decoding anything. 1 when
// the bytes are of that format and declare 1..img_maxfilepixels pixels;
// else 0, logged as "caller: \"what\" ...".
int img_checkheader(const char *caller, const char *what, const uint8_t *data, int32_t size, int format);

// Writes the scalar field img to path in the format its extension names
// (compared without case; anything else is BMP). The bytes go to a
// temporary file that is renamed into place, so a failed save leaves no
// partial file. Returns the bytes written, 0 on any failure (logged).
uint32_t img_save(const char *path, const image *img);

// Reads the image file at path into a new image named after the file, and
// with scalarize set turns it into a scalar field "%s.scl" (".qcsf" files
// are scalar fields already). Decoding happens before an image slot is
// taken. Null on failure (logged); the caller frees the image.
image *img_load(const char *path, int scalarize);

// "%s.c24": each value x scale as three grey bytes whose sum is the integer
// part of 765 x value, so the picture keeps 766 levels. Null on failure.
image *img_colorize24(const image *img, float scale);
