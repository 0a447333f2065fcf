// SPDX-License-Identifier: Apache-2.0
#include "JpegProbe.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

}  // namespace

JpegInfo DecodeJpeg(const std::string& bytes)
{
    // Kept off this frame's locals: they would be indeterminate after the longjmp.
    struct State {
        jpeg_decompress_struct cinfo{};
        ErrorManager err{};
        std::vector<unsigned char> row;
        JpegInfo info;
    };
    const auto s = std::make_unique<State>();
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = ErrorExit;
    if (setjmp(s->err.jump)) {
        jpeg_destroy_decompress(&s->cinfo);
        return {};
    }
    jpeg_create_decompress(&s->cinfo);
    jpeg_mem_src(&s->cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&s->cinfo, TRUE);
    jpeg_start_decompress(&s->cinfo);
    s->row.resize(static_cast<std::size_t>(s->cinfo.output_width) * s->cinfo.output_components);
    while (s->cinfo.output_scanline < s->cinfo.output_height) {
        JSAMPROW r = s->row.data();
        jpeg_read_scanlines(&s->cinfo, &r, 1);
    }
    jpeg_finish_decompress(&s->cinfo);
    // A truncated file decodes "successfully" with padding but leaves warnings behind.
    s->info.ok = s->err.pub.num_warnings == 0;
    s->info.width = static_cast<int>(s->cinfo.output_width);
    s->info.height = static_cast<int>(s->cinfo.output_height);
    jpeg_destroy_decompress(&s->cinfo);
    return s->info;
}
