// The primal encoding: the program's own lossy codec for scalar fields, and
// the bytes of ".qcsf" files and of image chunks of kind 8. A payload holds a
// smooth approximation (a grid of quadtrees of mip points over 2^d-pixel
// cells) and the residual in small delta blocks, both in one zlib stream.
// Everything read from a payload is checked before it is used.
#pragma once
#include "img/image.h"

#include <cstdint>

constexpr int primal_version = 9;        // the version primal_encode writes
constexpr int primal_headersize = 18;    // version 9 header
constexpr int primal_oldheadersize = 10; // versions 0 to 8, and above 9
// The largest field a payload may describe: the largest canvas the program
// composes. A header asking for more is refused before anything is allocated.
constexpr int64_t primal_maxpixels = 134217728;

// Parameters of one payload version: the encoder's error threshold (kept for
// the record, not read), tree depth d, value bits b, delta block size B and
// delta bits k.
struct primal_params {
    float threshold;
    int depth, valuebits, blocksize, deltabits;
};
extern const primal_params primal_versions[primal_version + 1];

// Encodes a scalar field into a new payload (sys_malloc; the caller frees
// it); size receives its length. Null and size 0 on failure, logged.
uint8_t *primal_encode(const image *img, int32_t *size);

// Rebuilds the tree approximation from a tree part of treebytes bytes (the
// part starts with its own size word, which goes to treesize when given).
// Returns a new sys_calloc buffer of width x height floats, or null when the
// tree part is damaged (logged).
float *primal_decode(const uint8_t *tree, int32_t treebytes, int width, int height, int32_t *treesize,
                     int depth, int valuebits);

// Reads the payload at data (size bytes available) into a new scalar field
// "QCSF%dx%d". used receives the payload's length (header plus stream), or -1
// when the header or the stream runs past size. A damaged payload gives null
// (logged); a newer version gives a blank field of its size after the error
// report.
image *primal_read(const uint8_t *data, int32_t size, int32_t *used);
