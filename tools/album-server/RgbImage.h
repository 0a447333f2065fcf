// SPDX-License-Identifier: Apache-2.0
#pragma once
// A plain 8-bit RGB raster, rows top to bottom, three bytes per pixel.
#include <cstdint>
#include <vector>

struct Rgb {
    std::uint8_t r, g, b;
};

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 3

    RgbImage(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 3) {}

    void Set(int x, int y, Rgb c)
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }
    // Clipped to the image.
    void FillRect(int x, int y, int w, int h, Rgb c)
    {
        for (int yy = y; yy < y + h; ++yy)
            for (int xx = x; xx < x + w; ++xx)
                Set(xx, yy, c);
    }
};
