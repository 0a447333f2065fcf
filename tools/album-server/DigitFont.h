// SPDX-License-Identifier: Apache-2.0
#pragma once
// A 5x7 bitmap font for the digits 0-9, drawn at an integer scale. Enough to put a large,
// legible number on each generated photo without a font library.
#include "RgbImage.h"

namespace DigitFont {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// Width in pixels of the decimal number at this scale (one glyph-column gap between digits).
int TextWidth(unsigned number, int scale);
// Draws the decimal number with its top-left corner at (x, y); clipped to the image.
void DrawNumber(RgbImage& image, unsigned number, int x, int y, int scale, Rgb color);

}  // namespace DigitFont
