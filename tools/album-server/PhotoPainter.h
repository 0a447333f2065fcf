// SPDX-License-Identifier: Apache-2.0
#pragma once
// Draws the picture of one generated photo: a diagonal gradient with soft rings in the
// album's colour family, a solid band in the album's own colour on the left, and the
// photo's index (its file number) in large digits in the middle. The same inputs always
// give the same pixels, so a photo's bytes are stable across runs.
#include "Catalogue.h"
#include "RgbImage.h"

#include <cstdint>

RgbImage PaintPhoto(PhotoSize size, std::uint32_t albumSeed, int index);
