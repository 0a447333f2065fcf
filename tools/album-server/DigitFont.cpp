// SPDX-License-Identifier: Apache-2.0
#include "DigitFont.h"

#include <array>
#include <cstdint>
#include <string>

namespace DigitFont {
namespace {

// One byte per row, the low five bits are the columns (bit 4 = leftmost).
constexpr std::array<std::array<std::uint8_t, kGlyphHeight>, 10> kGlyphs{{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
}};

}  // namespace

int TextWidth(unsigned number, int scale)
{
    const int digits = static_cast<int>(std::to_string(number).size());
    return (digits * (kGlyphWidth + 1) - 1) * scale;
}

void DrawNumber(RgbImage& image, unsigned number, int x, int y, int scale, Rgb color)
{
    for (char ch : std::to_string(number)) {
        const auto& glyph = kGlyphs[static_cast<std::size_t>(ch - '0')];
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int col = 0; col < kGlyphWidth; ++col)
                if (glyph[static_cast<std::size_t>(row)] & (0x10 >> col))
                    image.FillRect(x + col * scale, y + row * scale, scale, scale, color);
        x += (kGlyphWidth + 1) * scale;
    }
}

}  // namespace DigitFont
