// SPDX-License-Identifier: Apache-2.0
#include "app/window/jpegLoader.h"

#include <vector>

#include "base/Stream.h"
#include "base/SysUtils.h"
#include "platform/Files.h"

QImage LoadJpegFile(const std::string& ansiPath, QSize atLeast) {
    auto file = OpenFileStream(ansiPath, TFileStream::fmOpenRead);
    std::vector<unsigned char> bytes(static_cast<size_t>(file->Size()));
    file->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    QImage image;
    TJpegOutput out;
    out.Begin = [&](int width, int height) { image = QImage(width, height, QImage::Format_RGB888); };
    out.Row = [&](int y) { return image.scanLine(y); };
    DecodeJpeg(bytes.data(), bytes.size(), atLeast.isValid() ? atLeast.width() : 0,
               atLeast.isValid() ? atLeast.height() : 0, out);
    return image;
}

QImage LoadPictureFile(const std::string& ansiPath, QSize atLeast) {
    const std::size_t dot = ansiPath.find_last_of('.');
    const std::size_t slash = ansiPath.find_last_of("/\\");
    const std::string ext =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string() : LowerCase(ansiPath.substr(dot));
    if (ext != ".jpg" && ext != ".jpeg") throw EJPEGError("Unknown picture file extension (" + ext + ")");
    return LoadJpegFile(ansiPath, atLeast);
}
