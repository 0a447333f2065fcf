// SPDX-License-Identifier: Apache-2.0
// Peak memory of the photo check and of a thumbnail's decode against a decompression bomb:
// a progressive JPEG whose frame declares 65000 x 65000 pixels (its coefficients alone
// would take 24 GB), then, for comparison, a real 8000 x 8000 progressive photo, which is
// within the bound and is decoded. Each case runs in a child process of its own, so that
// each peak (ru_maxrss) is that case's alone.
//
//   jpeg_bomb_bench            prints one line per case:
//   bomb 65000x65000 progressive, check: result "", peak 5 MB, 0.00 s
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/core/jpegDecoder.h"

namespace {

std::string Encode(unsigned width, unsigned height, bool progressive) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    while (c.next_scanline < c.image_height) {
        for (unsigned x = 0; x < width; ++x) {  // a gradient, so that the scans carry data
            row[x * 3] = static_cast<unsigned char>(x);
            row[x * 3 + 1] = static_cast<unsigned char>(c.next_scanline);
            row[x * 3 + 2] = static_cast<unsigned char>(x + c.next_scanline);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    jpeg_destroy_compress(&c);
    return bytes;
}

// A small progressive photo whose frame header is made to declare 65000 x 65000, padded
// with comment segments to the 8 MB of the file seen in the wild.
std::string Bomb() {
    std::string jpeg = Encode(256, 256, true);
    const std::size_t sof = jpeg.find("\xFF\xC2");
    jpeg[sof + 5] = jpeg[sof + 7] = static_cast<char>(65000 >> 8);
    jpeg[sof + 6] = jpeg[sof + 8] = static_cast<char>(65000 & 0xFF);
    std::string padding;
    const std::string comment = std::string("\xFF\xFE\xFF\xFF", 4) + std::string(0xFFFD, 'x');
    while (padding.size() + comment.size() < 8u << 20) padding += comment;
    return jpeg.substr(0, 2) + padding + jpeg.substr(2);
}

void Measure(const char* name, const std::function<std::string()>& run) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const auto start = std::chrono::steady_clock::now();
        const std::string result = run();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%s: result \"%s\", peak %ld MB, %.2f s\n", name, result.c_str(), usage.ru_maxrss / 1024, seconds);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status)) std::printf("%s: killed (signal %d)\n", name, WTERMSIG(status));
}

std::string Thumbnail(const std::string& jpeg) {
    std::vector<unsigned char> image;
    int width = 0;
    TJpegOutput out;
    out.Begin = [&](int w, int h) {
        width = w;
        image.resize(static_cast<std::size_t>(w) * h * 3);
    };
    out.Row = [&](int y) { return image.data() + static_cast<std::size_t>(y) * width * 3; };
    try {
        DecodeJpeg(reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), 160, 120, out);
        return "decoded " + std::to_string(width) + " wide";
    } catch (const EJPEGTooLarge&) {
        return "placeholder";
    } catch (const EJPEGError& e) {
        return e.Message();
    }
}

}  // namespace

int main() {
    const std::string bomb = Bomb();
    std::printf("bomb: %zu bytes, progressive, declares 65000x65000; decode bound %zu MB\n", bomb.size(),
                kJpegDecodeMemoryLimit >> 20);
    Measure("bomb 65000x65000 progressive, check", [&] { return CheckJpegBytes(
        reinterpret_cast<const unsigned char*>(bomb.data()), bomb.size()); });
    Measure("bomb 65000x65000 progressive, thumbnail", [&] { return Thumbnail(bomb); });
    const std::string large = Encode(8000, 8000, true);
    std::printf("large: %zu bytes, progressive, 8000x8000\n", large.size());
    Measure("large 8000x8000 progressive, check", [&] { return CheckJpegBytes(
        reinterpret_cast<const unsigned char*>(large.data()), large.size()); });
    Measure("large 8000x8000 progressive, thumbnail", [&] { return Thumbnail(large); });
    return 0;
}
