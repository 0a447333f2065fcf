// SPDX-License-Identifier: Apache-2.0
#pragma once
// Decodes JPEG data with libjpeg, for the photo check (album core) and the pictures the
// windows draw. No Qt: the caller says where each row of pixels goes.
#include <cstddef>
#include <functional>
#include <string>

#include "base/Exception.h"

// Data that is not a whole, decodable JPEG ("JPEG error: <the decoder's reason>").
class EJPEGError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EJPEGError"; }
};

struct TJpegOutput {
    // Called once the header is read, with the size decoded to; returns nothing.
    std::function<void(int width, int height)> Begin;
    // Where row y (width * 3 bytes, RGB) goes; null: the row is decoded and dropped.
    std::function<unsigned char*(int y)> Row;
};

// Decodes every byte of data (size > 0). With atLeastWidth/Height above 0 it decodes at
// the smallest scale (1/2, 1/4, 1/8) that still covers that size: every byte is still
// checked, at a fraction of the work. A decoder warning (a file cut short, which the
// decoder would pad with grey) counts as an error: a partly written photo never passes.
// Raises EJPEGError; Begin and Row may have been called by then.
void DecodeJpeg(const unsigned char* data, std::size_t size, int atLeastWidth, int atLeastHeight,
                const TJpegOutput& out);

// Whether the file at the ANSI path is a whole JPEG: empty when it is, else one line
// saying why not ("not a JPEG image: starts with 0x3c 0x68", "cannot read ...").
// Decodes at 1/8 scale into a scratch row. Safe on any thread.
std::string CheckJpegFile(const std::string& ansiPath);
