// SPDX-License-Identifier: Apache-2.0
// The pictures the windows draw: CMYK photos in their colours, and a placeholder for a
// photo whose decode would take more memory than allowed.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/window/jpegLoader.h"
#include "support/ChildProcess.h"

namespace {

// 64 x 48 of one colour; four values: CMYK as Adobe stores it (inverted).
std::string MakeJpeg(const std::string& pixel, bool progressive) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = 64;
    c.image_height = 48;
    c.input_components = static_cast<int>(pixel.size());
    c.in_color_space = pixel.size() == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::string row;
    for (int x = 0; x < 64; ++x) row += pixel;
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

}  // namespace

TEST(JpegLoader, CmykIsShownInItsColoursAndABombAsAPlaceholder) {
    TScratchDir dir;
    const std::string cmyk = dir.File("cmyk.jpg");
    std::ofstream(cmyk, std::ios::binary) << MakeJpeg(std::string("\xFF\x00\x00\xFF", 4), false);  // red
    const QImage red = LoadPictureFile(cmyk);
    ASSERT_EQ(red.size(), QSize(64, 48));
    const QColor c = red.pixelColor(32, 24);
    EXPECT_GT(c.red(), 240);
    EXPECT_LT(c.green(), 15);
    EXPECT_LT(c.blue(), 15);

    // A progressive frame that declares 65000 x 65000.
    std::string bomb = MakeJpeg("\x80\x80\x80", true);
    const std::size_t sof = bomb.find("\xFF\xC2");
    ASSERT_NE(sof, std::string::npos);
    bomb[sof + 5] = bomb[sof + 7] = static_cast<char>(65000 >> 8);
    bomb[sof + 6] = bomb[sof + 8] = static_cast<char>(65000 & 0xFF);
    const std::string path = dir.File("bomb.jpg");
    std::ofstream(path, std::ios::binary) << bomb;
    const QImage thumbnail = LoadPictureFile(path, QSize(120, 90));
    EXPECT_EQ(thumbnail, TooLargePlaceholder(QSize(120, 90)));
    EXPECT_EQ(LoadPictureFile(path).size(), QSize(160, 120));  // the preview's, at no size asked
}
