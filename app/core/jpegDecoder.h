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

// A decode that would take more memory than kJpegDecodeMemoryLimit: refused before it
// starts (the image may still be whole; WalkJpegMarkers can check its structure).
class EJPEGTooLarge : public EJPEGError {
public:
    using EJPEGError::EJPEGError;
    const char* ClassName() const noexcept override { return "EJPEGTooLarge"; }
};

// The most memory one decode may take: its coefficient array (an image in several scans,
// such as a progressive one) and the picture it fills. Also given to libjpeg's memory
// manager as its bound.
constexpr std::size_t kJpegDecodeMemoryLimit = 256u * 1024 * 1024;

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
// CMYK and YCCK images come out as RGB like any other (Adobe's inverted CMYK included).
// Raises EJPEGError; Begin and Row may have been called by then; EJPEGTooLarge, before
// Begin, when the decode would take more than kJpegDecodeMemoryLimit (the picture Row fills
// counted in). Returns the bytes up to and including the end-of-image marker.
std::size_t DecodeJpeg(const unsigned char* data, std::size_t size, int atLeastWidth, int atLeastHeight,
                       const TJpegOutput& out);

// The structure of a JPEG without decoding it: the start marker, segments whose lengths
// fit, a frame header before the first scan, entropy-coded data up to the next marker, and
// the end-of-image marker. Returns the bytes up to and including that marker; raises
// EJPEGError saying what is wrong. Takes no memory beyond its arguments.
std::size_t WalkJpegMarkers(const unsigned char* data, std::size_t size);

// Whether the bytes are a whole JPEG: empty when they are, else one line saying why not
// ("not a JPEG image: starts with 0x3c 0x68"). Decodes at 1/8 scale into a scratch row, or
// walks the markers when that decode would take too much memory. Bytes after the
// end-of-image marker that start like an HTTP answer's head (a server's next answer glued
// onto the photo) make it fail; other trailing bytes do not.
std::string CheckJpegBytes(const unsigned char* data, std::size_t size);

// CheckJpegBytes on the file at the ANSI path ("cannot read ..." when it cannot be read). A
// file larger than maxBytes (when above 0) fails unread. Safe on any thread.
std::string CheckJpegFile(const std::string& ansiPath, std::int64_t maxBytes = 0);
