// SPDX-License-Identifier: Apache-2.0
#include "PhotoPainter.h"

#include "DigitFont.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace {

// h in degrees, s and v in 0..1.
Rgb Hsv(double h, double s, double v)
{
    h = std::fmod(h, 360.0) / 60.0;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    double r = v, g = t, b = p;
    switch (sector) {
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    case 5: r = v; g = p; b = q; break;
    default: break;
    }
    auto byte = [](double x) { return static_cast<std::uint8_t>(std::clamp(x, 0.0, 1.0) * 255.0 + 0.5); };
    return {byte(r), byte(g), byte(b)};
}

std::uint8_t Mix(std::uint8_t a, std::uint8_t b, double t, double shade)
{
    const double v = (a + (b - a) * t) * shade;
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

}  // namespace

RgbImage PaintPhoto(PhotoSize size, std::uint32_t albumSeed, int index)
{
    RgbImage img(size.width, size.height);
    const double albumHue = albumSeed % 360;
    const double hue = albumHue + index * 29.0;
    const Rgb from = Hsv(hue, 0.45, 0.98);
    const Rgb to = Hsv(hue + 50.0, 0.85, 0.55);
    const double cx = size.width * 0.5, cy = size.height * 0.5;
    const double ringPitch = std::max(8.0, size.height / 9.0);

    // Rings: brightness follows a sine of the distance from the centre. A table over one
    // period keeps the per-pixel work to a square root (the photos are painted on demand).
    constexpr int kSteps = 1024;
    std::array<double, kSteps> ring;
    for (int i = 0; i < kSteps; ++i)
        ring[static_cast<std::size_t>(i)] = 1.0 + 0.08 * std::sin(i * 6.283185307179586 / kSteps);
    const double stepsPerPixel = kSteps / ringPitch;

    std::uint8_t* p = img.pixels.data();
    for (int y = 0; y < size.height; ++y) {
        const double dy2 = (y - cy) * (y - cy);
        for (int x = 0; x < size.width; ++x, p += 3) {
            const double t = 0.5 * (static_cast<double>(x) / size.width + static_cast<double>(y) / size.height);
            const double d = std::sqrt((x - cx) * (x - cx) + dy2);
            const double shade = ring[static_cast<std::size_t>(d * stepsPerPixel) % kSteps];
            p[0] = Mix(from.r, to.r, t, shade);
            p[1] = Mix(from.g, to.g, t, shade);
            p[2] = Mix(from.b, to.b, t, shade);
        }
    }

    // The album's own colour, identical on every photo of the album.
    img.FillRect(0, 0, std::max(4, size.width / 16), size.height, Hsv(albumHue, 0.9, 0.8));

    const unsigned number = static_cast<unsigned>(index);
    const int digits = static_cast<int>(std::to_string(number).size());
    int scale = std::max(2, size.height * 45 / 100 / DigitFont::kGlyphHeight);
    scale = std::min(scale, std::max(2, size.width * 70 / 100 / (digits * (DigitFont::kGlyphWidth + 1))));
    const int w = DigitFont::TextWidth(number, scale);
    const int h = DigitFont::kGlyphHeight * scale;
    const int x = (size.width - w) / 2, y = (size.height - h) / 2;
    const int shadow = std::max(1, scale / 3);
    DigitFont::DrawNumber(img, number, x + shadow, y + shadow, scale, {30, 30, 40});
    DigitFont::DrawNumber(img, number, x, y, scale, {255, 255, 255});
    return img;
}
