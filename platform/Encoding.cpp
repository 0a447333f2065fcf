// SPDX-License-Identifier: Apache-2.0
#include "platform/Encoding.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace {

// One conversion descriptor per thread and direction; iconv_t is not thread-safe.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv: no ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }

    // Converts in; an input sequence that cannot be converted is skipped by `skip` bytes
    // (at least one) and `replacement` is written instead.
    std::string Run(std::string_view in, std::size_t skip, std::string_view replacement) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(in.size() * 2 + 16);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buf[4096];
        while (srcLeft > 0) {
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, sizeof buf - dstLeft);
            if (rc != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (cut off at the end): replace and go on.
            const std::size_t n = std::min(skip, srcLeft);
            src += n;
            srcLeft -= n;
            out += replacement;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf, sizeof buf - dstLeft);
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
    thread_local Converter c("UTF-8", "GBK");
    return c.Run(ansi, 1, "\xEF\xBF\xBD");
}

std::string Utf8ToAnsi(std::string_view utf8) {
    thread_local Converter c("GBK", "UTF-8");
    return c.Run(utf8, 1, "?");
}

std::string UnicodeToAnsi(std::u32string_view text) {
    thread_local Converter c("GBK", "UTF-32LE");
    std::string bytes;
    bytes.reserve(text.size() * 4);
    for (char32_t ch : text)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((static_cast<std::uint32_t>(ch) >> (8 * i)) & 0xFF));
    return c.Run(bytes, 4, "?");
}

QString AnsiToQString(std::string_view ansi) { return QString::fromStdString(AnsiToUtf8(ansi)); }

std::string QStringToAnsi(const QString& s) { return UnicodeToAnsi(s.toStdU32String()); }

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (i + extra >= text.size() && extra > 0) return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

QString TextToQString(std::string_view text) {
    return IsValidUtf8(text) ? QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())) : AnsiToQString(text);
}
