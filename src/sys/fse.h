// FSE: a table-based asymmetric numeral system coder for byte streams, the
// entropy coder of the project file's body. A compressed block is the
// normalised-count header (accuracy log, then each byte value's share of the
// table) followed by a bit stream of two interleaved states, written
// forwards and read from its end. A general codec like zlib: no logging, no
// allocation, results and errors as size_t values.
#pragma once
#include <cstddef>
#include <cstdint>

// Error results are the last few size_t values, (size_t)-code.
enum fse_errorcode {
    fse_errgeneric = 1,
    fse_errtablelog = 44,   // accuracy log outside 5..12
    fse_errcorrupt = 20,    // header or stream does not describe valid data
    fse_errdstsize = 70,    // output does not fit the destination
    fse_errsrcsize = 72,    // source empty or too short to hold a block
    fse_errmaxcode = 120
};

constexpr unsigned fse_maxtablelog = 12;
constexpr unsigned fse_mintablelog = 5;
constexpr unsigned fse_defaulttablelog = 11;

// Codes src into dst. Returns the compressed size; 0 when the data does
// not compress (fewer than 2 bytes, every byte value at most once, the
// commonest value under srcSize / 128 times, or a result of srcSize - 1
// bytes or more); 1 when all bytes are equal (store them as a run); or an
// error code.
size_t FSE_compress(void *dst, size_t dstCapacity, const void *src, size_t srcSize);
// Decodes a block made by FSE_compress into dst; returns the decoded size
// or an error code for a malformed header or stream or a too small dst.
size_t FSE_decompress(void *dst, size_t dstCapacity, const void *cSrc, size_t cSrcSize);

// Kept out of the link: another coder in the same program may define them.
static inline unsigned FSE_isError(size_t code)
{
    return code > (size_t)-fse_errmaxcode;
}

static inline const char *FSE_getErrorName(size_t code)
{
    if (!FSE_isError(code))
        return "no error";
    switch ((int)(0 - code)) {
    case fse_errtablelog:
        return "accuracy log outside 5..12";
    case fse_errcorrupt:
        return "damaged count header or bit stream";
    case fse_errdstsize:
        return "destination too small";
    case fse_errsrcsize:
        return "source size wrong";
    default:
        return "coder failure";
    }
}
