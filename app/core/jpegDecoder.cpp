// SPDX-License-Identifier: Apache-2.0
#include "app/core/jpegDecoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "base/Stream.h"
#include "base/SysUtils.h"
#include "platform/Paths.h"

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

constexpr std::size_t kMiB = 1024 * 1024;

// What a decode will hold at its peak, beyond a few rows: the whole coefficient array when
// the image comes in several scans (progressive), and the caller's picture when it keeps
// the rows.
std::size_t DecodeFootprint(const jpeg_decompress_struct& cinfo, bool keepsRows) {
    std::size_t bytes = 0;
    if (jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&cinfo)))
        for (int c = 0; c < cinfo.num_components; ++c)
            bytes += static_cast<std::size_t>(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks *
                     DCTSIZE2 * sizeof(JCOEF);
    if (keepsRows) bytes += static_cast<std::size_t>(cinfo.output_width) * cinfo.output_height * 3;
    return bytes;
}

// Ink values to RGB. Adobe's writers store CMYK inverted (255 = no ink), and so does every
// YCCK file once converted back to CMYK.
void CmykToRgb(const unsigned char* cmyk, unsigned char* rgb, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
        for (int i = 0; i < 3; ++i) {
            const unsigned ink = inverted ? cmyk[i] : 255u - cmyk[i];
            rgb[i] = static_cast<unsigned char>((ink * k + 127) / 255);
        }
    }
}

// The longjmp skips no destructor: everything with one lives in DecodeJpeg's caller or is
// created after the last libjpeg call that can fail. tooLarge is set before the jump that
// a bound causes.
std::size_t Decode(jpeg_decompress_struct& cinfo, const unsigned char* data, std::size_t size, int atLeastWidth,
                   int atLeastHeight, const TJpegOutput& out, std::vector<unsigned char>& scratch,
                   std::vector<unsigned char>& inks, std::size_t& footprint) {
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool inverted = cinfo.jpeg_color_space == JCS_YCCK || cinfo.saw_Adobe_marker;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    if (atLeastWidth > 0 && atLeastHeight > 0) {
        for (unsigned denom = 8; denom > 1; denom /= 2)
            if (cinfo.image_width / denom >= static_cast<unsigned>(atLeastWidth) &&
                cinfo.image_height / denom >= static_cast<unsigned>(atLeastHeight)) {
                cinfo.scale_num = 1;
                cinfo.scale_denom = denom;
                break;
            }
    }
    jpeg_calc_output_dimensions(&cinfo);
    footprint = DecodeFootprint(cinfo, static_cast<bool>(out.Row));
    if (footprint > kJpegDecodeMemoryLimit) return 0;
    jpeg_start_decompress(&cinfo);
    if (out.Begin) out.Begin(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    scratch.resize(static_cast<std::size_t>(cinfo.output_width) * 3);
    if (cmyk) inks.resize(static_cast<std::size_t>(cinfo.output_width) * 4);
    while (cinfo.output_scanline < cinfo.output_height) {
        unsigned char* target = out.Row ? out.Row(static_cast<int>(cinfo.output_scanline)) : nullptr;
        if (!target) target = scratch.data();
        JSAMPROW row = cmyk ? inks.data() : target;
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (cmyk) CmykToRgb(inks.data(), target, cinfo.output_width, inverted);
    }
    jpeg_finish_decompress(&cinfo);
    // The source stops right behind the end-of-image marker.
    return size - cinfo.src->bytes_in_buffer;
}

std::string Hex(unsigned char c) { return Format("0x%02x", c); }

// Whether the bytes behind the end-of-image marker start as an HTTP answer's head would
// (a status line, a header line, or a piece of "HTTP/" that was cut): the trace of a
// server's next answer glued onto the photo. Other trailers (a camera's, a second
// picture) are the file's own.
bool LooksLikeHttpHead(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && (p[i] == '\r' || p[i] == '\n')) ++i;
    if (i == n) return false;
    static constexpr char kHttp[] = "HTTP/";
    std::size_t k = 0;
    while (k < 5 && i + k < n && (p[i + k] | 0x20) == (kHttp[k] | 0x20)) ++k;
    if (k == 5 || i + k == n) return true;
    // A header line: a field name (letters, digits, '-') and a colon.
    std::size_t j = i;
    const auto letter = [](unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
    while (j < n && j - i < 64 && (letter(p[j]) || (p[j] >= '0' && p[j] <= '9') || p[j] == '-')) ++j;
    return j > i && j < n && p[j] == ':' && letter(p[i]);
}

}  // namespace

std::size_t DecodeJpeg(const unsigned char* data, std::size_t size, int atLeastWidth, int atLeastHeight,
                       const TJpegOutput& out) {
    if (size == 0) throw EJPEGError("JPEG error: empty file");
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnFatalError;
    err.pub.emit_message = OnWarning;
    // Before setjmp: their state is defined after a jump.
    std::vector<unsigned char> scratch, inks;
    std::size_t footprint = 0;
    if (setjmp(err.jump)) {
        const int code = err.pub.msg_code;
        jpeg_destroy_decompress(&cinfo);
        // The memory manager's own bound, behind the estimate: the same refusal.
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
            throw EJPEGTooLarge("JPEG error: decoding it would take more than the limit of " +
                                IntToStr(static_cast<std::int64_t>(kJpegDecodeMemoryLimit / kMiB)) + " MB");
        throw EJPEGError(std::string("JPEG error: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = static_cast<long>(kJpegDecodeMemoryLimit);
    const std::size_t end = Decode(cinfo, data, size, atLeastWidth, atLeastHeight, out, scratch, inks, footprint);
    jpeg_destroy_decompress(&cinfo);
    if (footprint > kJpegDecodeMemoryLimit)
        throw EJPEGTooLarge("JPEG error: decoding it would take " +
                            IntToStr(static_cast<std::int64_t>((footprint + kMiB - 1) / kMiB)) +
                            " MB, more than the limit of " +
                            IntToStr(static_cast<std::int64_t>(kJpegDecodeMemoryLimit / kMiB)) + " MB");
    return end;
}

std::size_t WalkJpegMarkers(const unsigned char* data, std::size_t size) {
    const auto fail = [](const std::string& why) -> std::size_t { throw EJPEGError("JPEG error: " + why); };
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return fail(size < 2 ? "the file is too short" : "starts with " + Hex(data[0]) + " " + Hex(size > 1 ? data[1] : 0));
    bool frame = false, scan = false;
    std::size_t at = 2;
    while (at < size) {
        if (data[at] != 0xFF) return fail("no marker at byte " + IntToStr(static_cast<std::int64_t>(at)));
        while (at < size && data[at] == 0xFF) ++at;  // fill bytes
        if (at >= size) break;
        const unsigned char marker = data[at++];
        if (marker == 0xD9) {
            if (!frame || !scan) return fail("the image ends before its first scan");
            return at;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (marker == 0x00 || marker == 0xD8) return fail("marker " + Hex(marker) + " out of place");
        if (at + 2 > size) break;
        const std::size_t length = static_cast<std::size_t>(data[at]) << 8 | data[at + 1];
        if (length < 2) return fail("a segment of length " + IntToStr(static_cast<std::int64_t>(length)));
        if (at + length > size) break;
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (length < 8) return fail("a frame header too short");
            const unsigned height = static_cast<unsigned>(data[at + 3]) << 8 | data[at + 4];
            const unsigned width = static_cast<unsigned>(data[at + 5]) << 8 | data[at + 6];
            const unsigned components = data[at + 7];
            if (width == 0 || components == 0 || length != 8 + 3 * components)
                return fail("an invalid frame header");
            (void)height;  // 0 is allowed: a DNL segment gives it later
            frame = true;
        }
        if (marker == 0xDA && !frame) return fail("a scan before the frame header");
        at += length;
        if (marker != 0xDA) continue;
        scan = true;
        // Entropy-coded data: up to the next marker that is neither a stuffed 0x00 nor a
        // restart marker.
        while (at + 1 < size &&
               !(data[at] == 0xFF && data[at + 1] != 0x00 && !(data[at + 1] >= 0xD0 && data[at + 1] <= 0xD7)))
            ++at;
        if (at + 1 >= size) break;
    }
    return fail("the file is cut short (no end-of-image marker)");
}

std::string CheckJpegBytes(const unsigned char* data, std::size_t size) {
    std::size_t end = 0;
    try {
        try {
            end = DecodeJpeg(data, size, 1, 1, {});
        } catch (const EJPEGTooLarge&) {
            end = WalkJpegMarkers(data, size);  // too large to decode here: its structure at least
        }
    } catch (const EJPEGError& e) {
        std::string reason = e.Message();
        if (reason.rfind("JPEG error: ", 0) == 0) reason.erase(0, 12);
        return "not a JPEG image: " + reason;
    }
    if (end < size && LooksLikeHttpHead(data + end, size - end))
        return "not a JPEG image: an HTTP response head follows the end of the image (" +
               IntToStr(static_cast<std::int64_t>(size - end)) + " bytes)";
    return {};
}

std::string CheckJpegFile(const std::string& ansiPath, std::int64_t maxBytes) {
    // Read, not mapped: a mapped file cut short by another process while the check runs
    // would end the process with SIGBUS. The bound keeps a stray huge file from costing
    // its size in memory; no photo may be larger anyway.
    const std::string fs = FsPath(ansiPath);
    const int fd = ::open(fs.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        return "cannot read the photo: " + SysErrorMessage(error) + ": " + fs;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return "cannot read the photo: not a regular file: " + fs;
    }
    if (st.st_size == 0) {
        ::close(fd);
        return "not a JPEG image: empty file";
    }
    if (maxBytes > 0 && st.st_size > maxBytes) {
        ::close(fd);
        return "the photo is larger than the limit of " + IntToStr(maxBytes) + " bytes";
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            return n < 0 ? "cannot read the photo: " + SysErrorMessage(error) + ": " + fs
                         : "not a JPEG image: the file shrank while it was read";
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return CheckJpegBytes(bytes.data(), bytes.size());
}
