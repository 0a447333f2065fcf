// SPDX-License-Identifier: Apache-2.0
#pragma once
// Decodes a JPEG file into an image the windows can draw (app/core/jpegDecoder.h).
#include <QImage>

#include <string>

#include "app/core/jpegDecoder.h"

// Loads the file at an ANSI path. A missing file raises EStreamError ("Cannot open file
// ..."); a file that is not a whole JPEG raises EJPEGError with the decoder's reason.
// With atLeast, the image is decoded at the smallest scale (1/2, 1/4, 1/8) that still
// covers that size: every byte is still checked, at a fraction of the work. A picture whose
// decode would take more than kJpegDecodeMemoryLimit gives TooLargePlaceholder(atLeast);
// without atLeast it is first tried at the smallest scale that still covers 3840 x 2160.
QImage LoadJpegFile(const std::string& ansiPath, QSize atLeast = {});

// A grey picture crossed from corner to corner, of the size given (160 x 120 when none):
// stands in for a photo too large to decode.
QImage TooLargePlaceholder(QSize size);

// Loads a picture file the way a picture box does: the decoder is chosen by the file's
// extension; only ".jpg" and ".jpeg" are known (anything else raises EJPEGError
// "Unknown picture file extension (.<ext>)").
QImage LoadPictureFile(const std::string& ansiPath, QSize atLeast = {});
