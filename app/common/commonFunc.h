// SPDX-License-Identifier: Apache-2.0
#pragma once
// UrlEncode, for the form bodies the program posts. (ShowStatus, the other common routine,
// writes into the main window: app/window/commonFuncStatus.h.)
#include <string>

// Percent-encodes text byte by byte for a form body: A-Z a-z 0-9 - . _ stay, a space
// becomes "+" (spaceAsPlus) or "%20", every other byte "%XX" with upper-case digits.
// Multi-byte characters are encoded from their GBK bytes.
std::string UrlEncode(const std::string& text, bool spaceAsPlus);
