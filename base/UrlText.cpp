// SPDX-License-Identifier: Apache-2.0
#include "base/UrlText.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// pchar, "/" and "?" of RFC 3986 without "%" (which stands only before two hex digits).
bool AllowedInTarget(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '-': case '.': case '_': case '~':                        // unreserved
        case '!': case '$': case '&': case '\'': case '(': case ')':   // sub-delims
        case '*': case '+': case ',': case ';': case '=':
        case ':': case '@': case '/': case '?':
            return true;
        default:
            return false;
    }
}

void AppendEscape(std::string& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

}  // namespace

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string PrintableAddress(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            AppendEscape(out, c);
        else
            out += ch;
    }
    return out;
}

std::string EncodeRequestTarget(const std::string& pathAndQuery) {
    const std::size_t end = pathAndQuery.find('#');
    const std::size_t n = end == std::string::npos ? pathAndQuery.size() : end;
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(pathAndQuery[i]);
        if (AllowedInTarget(c)) {
            out += static_cast<char>(c);
        } else if (c == '%' && i + 2 < n && IsHexDigit(pathAndQuery[i + 1]) && IsHexDigit(pathAndQuery[i + 2])) {
            out += '%';  // a valid escape stays as written
        } else {
            AppendEscape(out, c);
        }
    }
    return out;
}
