// SPDX-License-Identifier: Apache-2.0
#pragma once
// Decodes a JPEG completely with libjpeg, as the program's thumbnails will.
#include <string>

struct JpegInfo {
    bool ok = false;  // decoded to the last scanline without a libjpeg error or warning
    int width = 0;
    int height = 0;
};

JpegInfo DecodeJpeg(const std::string& bytes);
