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
#include "support/TestJpeg.h"

namespace {

// 64 x 48 of one colour; four values: CMYK as Adobe stores it (inverted).
std::string MakeJpeg(const std::string& pixel, bool progressive) {
    return EncodeTestJpeg(std::vector<unsigned char>(pixel.begin(), pixel.end()), 64, 48, false, progressive);
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
