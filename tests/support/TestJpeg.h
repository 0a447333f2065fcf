// SPDX-License-Identifier: Apache-2.0
#pragma once
// JPEG files for tests, encoded in memory the way a camera's are.
#include <string>
#include <vector>

// A width x height picture of one colour. pixel: 3 values (RGB) or 4 (CMYK, written with
// Adobe's marker, so stored inverted; as YCCK when ycck). progressive: several scans.
std::string EncodeTestJpeg(const std::vector<unsigned char>& pixel, unsigned width = 64, unsigned height = 48,
                           bool ycck = false, bool progressive = false);
