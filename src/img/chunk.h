// The image chunk format: images inside project files, layer records and
// undo blobs, read from and written to the message buffer. A chunk carries no
// kind word; its reader is told the kind by the format around it. Sizes in a
// chunk are checked against the blob before anything is allocated.
#pragma once
#include "img/image.h"
#include "sys/msg.h"

#include <cstdint>

enum img_kind {
    img_raw = 0,    // width, height, channels, bytes
    img_png = 1,    // length, PNG file
    img_pack8 = 2,  // never written or read
    img_pack10 = 3, // scalar field of 10-bit samples over 0..1
    img_pack16 = 4, // scalar field of 16-bit samples over -1..2
    img_zlib = 5,   // never written or read
    img_qrnt = 6,   // never written or read
    img_dimg = 7,   // never written or read
    img_prml = 8,   // primal payload
    img_jpeg = 9,   // never written or read
};

// Reads the chunk of the given kind at the stream's position into a new
// image. The position always ends past the chunk; null when the chunk says
// "no image" or cannot be read (logged). A chunk that claims more bytes than
// the blob holds leaves the position at the blob's end with the stream's
// failed flag set. A kind 1 chunk must hold a PNG whose header declares at
// most img_maxfilepixels pixels. A reader on another thread than the main
// one uses a stream of its own.
image *img_read(msg_stream *m, int kind);
// The same on the global message buffer (the main thread's serialisations).
image *img_read(int kind);

// Appends a scalar field as a pack16 chunk and returns the bytes appended; a
// null image (or one that is not a scalar field) appends the 4-byte "no
// image" chunk and returns 0.
int32_t img_write(msg_stream *m, const image *img);
int32_t img_write(const image *img);
// Appends a scalar field as a pack10 chunk (values 0..1 in 10 bits) and
// returns the bytes appended; null appends the "no image" chunk.
int32_t img_writepack10(msg_stream *m, const image *img);

// Turns an image of u, v texture coordinates (two u16 per 4-byte pixel) into
// a scalar field in place by sampling source at (u / 65535 x width, v / 65535
// x height); pixels with u = v = 0 stay 0.0.
void img_u16tofloat(image *coords, const image *source);
