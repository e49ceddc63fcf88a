// Test and benchmark helper: libjpeg's own baseline encoding of RGB pixels,
// with the standard Huffman tables and every component sampled 1 x 1, the
// independent encoder that our JPEG writer is checked and timed against.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

#include <vector>

inline std::vector<uint8_t> jpegref_encode(const uint8_t *rgb, int w, int h, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = (JDIMENSION)w;
    cinfo.image_height = (JDIMENSION)h;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    for (int c = 0; c < 3; c++)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)rgb + (size_t)cinfo.next_scanline * w * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    free(mem);
    return out;
}
