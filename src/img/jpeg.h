// The JPEG writer: 8-bit pixels to a baseline JFIF file in memory (one scan,
// Y, Cb and Cr each sampled 1 x 1, the typical quantisation and Huffman
// tables of the JPEG standard scaled by a quality). It allocates nothing and
// logs nothing; the image-file writer and the content upload call it.
#pragma once
#include <cstdint>

constexpr int32_t img_jpegheadersize = 607; // every segment before the scan data

// Bytes that a width x height image can take at most, whatever its content
// and quality: the size to give img_writejpeg.
int64_t img_jpegbound(int width, int height);

// Encodes width x height pixels of 1, 3 or 4 bytes (grey, or red, green and
// blue first) into output, which holds capacity bytes. Quality 0 means 90,
// others are clamped to 1..100. Returns the file's size, or -1 on bad
// arguments or when the file does not fit; nothing is written past capacity.
int32_t img_writejpeg(const uint8_t *pixels, int width, int height, int bytesperpixel, uint8_t *output,
                      int32_t capacity, int quality);
