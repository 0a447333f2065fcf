#pragma once
// Decodes a JPEG file with libjpeg into an image the windows can draw.
#include <QImage>

#include <string>

#include "base/Exception.h"

// A file that is not a decodable JPEG.
class EJPEGError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EJPEGError"; }
};

// Loads the file at an ANSI path. A missing file raises EStreamError ("Cannot open file
// ..."); a file that is not a whole JPEG raises EJPEGError with the decoder's reason.
// With atLeast, the image is decoded at the smallest scale (1/2, 1/4, 1/8) that still
// covers that size: every byte is still checked, at a fraction of the work.
QImage LoadJpegFile(const std::string& ansiPath, QSize atLeast = {});

// Loads a picture file the way a picture box does: the decoder is chosen by the file's
// extension; only ".jpg" and ".jpeg" are known (anything else raises EJPEGError
// "Unknown picture file extension (.<ext>)").
QImage LoadPictureFile(const std::string& ansiPath, QSize atLeast = {});
