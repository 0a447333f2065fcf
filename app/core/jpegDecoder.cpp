// SPDX-License-Identifier: Apache-2.0
#include "app/core/jpegDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "base/Stream.h"
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

void OnWarning(j_common_ptr cinfo, int level) {
    if (level < 0) OnFatalError(cinfo);
}

// The longjmp skips no destructor: everything with one lives in DecodeJpeg's caller or is
// created after the last libjpeg call that can fail.
void Decode(jpeg_decompress_struct& cinfo, const unsigned char* data, std::size_t size, int atLeastWidth,
            int atLeastHeight, const TJpegOutput& out, std::vector<unsigned char>& scratch) {
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    if (atLeastWidth > 0 && atLeastHeight > 0) {
        for (unsigned denom = 8; denom > 1; denom /= 2)
            if (cinfo.image_width / denom >= static_cast<unsigned>(atLeastWidth) &&
                cinfo.image_height / denom >= static_cast<unsigned>(atLeastHeight)) {
                cinfo.scale_num = 1;
                cinfo.scale_denom = denom;
                break;
            }
    }
    jpeg_start_decompress(&cinfo);
    if (out.Begin) out.Begin(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    scratch.resize(static_cast<std::size_t>(cinfo.output_width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        unsigned char* target = out.Row ? out.Row(static_cast<int>(cinfo.output_scanline)) : nullptr;
        JSAMPROW row = target ? target : scratch.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
}

}  // namespace

void DecodeJpeg(const unsigned char* data, std::size_t size, int atLeastWidth, int atLeastHeight,
                const TJpegOutput& out) {
    if (size == 0) throw EJPEGError("JPEG error: empty file");
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnFatalError;
    err.pub.emit_message = OnWarning;
    std::vector<unsigned char> scratch;  // before setjmp: its state is defined after a jump
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw EJPEGError(std::string("JPEG error: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    Decode(cinfo, data, size, atLeastWidth, atLeastHeight, out, scratch);
    jpeg_destroy_decompress(&cinfo);
}

std::string CheckJpegFile(const std::string& ansiPath) {
    std::vector<unsigned char> bytes;
    try {
        auto file = OpenFileStream(ansiPath, TFileStream::fmOpenRead);
        bytes.resize(static_cast<std::size_t>(file->Size()));
        file->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    } catch (const Exception& e) {
        return "cannot read the photo: " + e.Message();
    }
    try {
        DecodeJpeg(bytes.data(), bytes.size(), 1, 1, {});
        return {};
    } catch (const EJPEGError& e) {
        std::string reason = e.Message();
        if (reason.rfind("JPEG error: ", 0) == 0) reason.erase(0, 12);
        return "not a JPEG image: " + reason;
    }
}
