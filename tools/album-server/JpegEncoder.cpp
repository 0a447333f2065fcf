// SPDX-License-Identifier: Apache-2.0
#include "JpegEncoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <jpeglib.h>

namespace {

// libjpeg's default error handler exits the process; jump back out instead. An
// exception must not unwind through libjpeg's C frames.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

}  // namespace

std::string EncodeJpeg(const RgbImage& image, int quality)
{
    // Everything the error path reads lives outside this frame: locals changed between
    // setjmp and longjmp would be indeterminate afterwards.
    struct State {
        jpeg_compress_struct cinfo{};
        ErrorManager err{};
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
    };
    const auto s = std::make_unique<State>();

    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = ErrorExit;
    if (setjmp(s->err.jump)) {
        jpeg_destroy_compress(&s->cinfo);
        std::free(s->buffer);
        throw std::runtime_error(std::string("JPEG encoding failed: ") + s->err.message);
    }

    jpeg_create_compress(&s->cinfo);
    jpeg_mem_dest(&s->cinfo, &s->buffer, &s->size);
    s->cinfo.image_width = static_cast<JDIMENSION>(image.width);
    s->cinfo.image_height = static_cast<JDIMENSION>(image.height);
    s->cinfo.input_components = 3;
    s->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s->cinfo);
    jpeg_set_quality(&s->cinfo, quality, TRUE);
    jpeg_start_compress(&s->cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    while (s->cinfo.next_scanline < s->cinfo.image_height) {
        // libjpeg only reads the rows; its prototype is not const-correct.
        JSAMPROW row = const_cast<JSAMPROW>(&image.pixels[s->cinfo.next_scanline * stride]);
        jpeg_write_scanlines(&s->cinfo, &row, 1);
    }
    jpeg_finish_compress(&s->cinfo);
    std::string out(reinterpret_cast<const char*>(s->buffer), s->size);
    jpeg_destroy_compress(&s->cinfo);
    std::free(s->buffer);
    return out;
}
