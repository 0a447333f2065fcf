// SPDX-License-Identifier: Apache-2.0
#include "support/TestJpeg.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

std::string EncodeTestJpeg(const std::vector<unsigned char>& pixel, unsigned width, unsigned height, bool ycck,
                           bool progressive) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = static_cast<int>(pixel.size());
    c.in_color_space = pixel.size() == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    if (pixel.size() == 4) jpeg_set_colorspace(&c, ycck ? JCS_YCCK : JCS_CMYK);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::string row;
    for (unsigned x = 0; x < width; ++x) row.append(pixel.begin(), pixel.end());
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = reinterpret_cast<JSAMPROW>(row.data());
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    jpeg_destroy_compress(&c);
    return bytes;
}
