// SPDX-License-Identifier: Apache-2.0
#pragma once
// RGB raster to a baseline JPEG in memory (libjpeg). Deterministic for the same input
// and quality. Throws std::runtime_error when libjpeg reports an error.
#include "RgbImage.h"

#include <string>

std::string EncodeJpeg(const RgbImage& image, int quality = 85);
