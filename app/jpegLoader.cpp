#include "app/jpegLoader.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "base/Stream.h"
#include "base/SysUtils.h"
#include "platform/Files.h"

namespace {

// libjpeg reports fatal errors through a callback that must not return: jump back out
// and turn the message into an exception there.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnFatalError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (for example a file cut short, which libjpeg pads with grey) count as errors:
// a partly written photo must not pass for a good one.
void OnWarning(j_common_ptr cinfo, int level) {
    if (level < 0) OnFatalError(cinfo);
}

QImage Decode(const std::vector<unsigned char>& bytes, QSize atLeast) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnFatalError;
    err.pub.emit_message = OnWarning;
    QImage image;  // declared before setjmp so that its state is defined after a jump
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw EJPEGError(std::string("JPEG error: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    if (atLeast.isValid()) {
        for (unsigned denom = 8; denom > 1; denom /= 2)
            if (cinfo.image_width / denom >= static_cast<unsigned>(atLeast.width()) &&
                cinfo.image_height / denom >= static_cast<unsigned>(atLeast.height())) {
                cinfo.scale_num = 1;
                cinfo.scale_denom = denom;
                break;
            }
    }
    jpeg_start_decompress(&cinfo);
    image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), QImage::Format_RGB888);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return image;
}

}  // namespace

QImage LoadJpegFile(const std::string& ansiPath, QSize atLeast) {
    auto file = OpenFileStream(ansiPath, TFileStream::fmOpenRead);
    std::vector<unsigned char> bytes(static_cast<size_t>(file->Size()));
    file->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    if (bytes.empty()) throw EJPEGError("JPEG error: empty file");
    return Decode(bytes, atLeast);
}

QImage LoadPictureFile(const std::string& ansiPath, QSize atLeast) {
    const std::size_t dot = ansiPath.find_last_of('.');
    const std::size_t slash = ansiPath.find_last_of("/\\");
    const std::string ext =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string() : LowerCase(ansiPath.substr(dot));
    if (ext != ".jpg" && ext != ".jpeg") throw EJPEGError("Unknown picture file extension (" + ext + ")");
    return LoadJpegFile(ansiPath, atLeast);
}
