// SPDX-License-Identifier: Apache-2.0
#include "app/window/jpegLoader.h"

#include <algorithm>
#include <vector>

#include <QColor>

#include "base/Stream.h"
#include "base/SysUtils.h"
#include "platform/Files.h"

namespace {
const QSize kLargeScreen(3840, 2160);
}  // namespace

QImage LoadJpegFile(const std::string& ansiPath, QSize atLeast) {
    auto file = OpenFileStream(ansiPath, TFileStream::fmOpenRead);
    std::vector<unsigned char> bytes(static_cast<size_t>(file->Size()));
    file->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    QImage image;
    TJpegOutput out;
    out.Begin = [&](int width, int height) { image = QImage(width, height, QImage::Format_RGB888); };
    out.Row = [&](int y) { return image.scanLine(y); };
    try {
        DecodeJpeg(bytes.data(), bytes.size(), atLeast.isValid() ? atLeast.width() : 0,
                   atLeast.isValid() ? atLeast.height() : 0, out);
    } catch (const EJPEGTooLarge&) {
        if (atLeast.isValid()) return TooLargePlaceholder(atLeast);
        // Asked for the whole picture: a smaller scale that still fills a large screen may fit.
        try {
            DecodeJpeg(bytes.data(), bytes.size(), kLargeScreen.width(), kLargeScreen.height(), out);
        } catch (const EJPEGTooLarge&) {
            return TooLargePlaceholder(atLeast);
        }
    }
    return image;
}

QImage TooLargePlaceholder(QSize size) {
    if (!size.isValid() || size.isEmpty()) size = QSize(160, 120);
    QImage image(size, QImage::Format_RGB888);
    image.fill(QColor(0xC0, 0xC0, 0xC0));
    // A cross from corner to corner: there is a picture here, too large to show.
    const QRgb mark = qRgb(0x60, 0x60, 0x60);
    for (int x = 0; x < size.width(); ++x) {
        const int y = static_cast<int>(static_cast<long long>(x) * (size.height() - 1) / std::max(1, size.width() - 1));
        image.setPixel(x, y, mark);
        image.setPixel(x, size.height() - 1 - y, mark);
    }
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
