// SPDX-License-Identifier: Apache-2.0
#include "app/window/linkList.h"

#include "base/StringList.h"
#include "base/SysUtils.h"

std::u32string DecodeLinkText(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        const std::size_t length = (lead & 0x20) ? 3 : 2;
        if (i + length > utf8.size()) return {};
        char32_t ch = (length == 3) ? (lead & 0x0F) : (lead & 0x1F);
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(utf8[i + k]);
            if (b < 0x80 || b > 0xBF) return {};
            ch = (ch << 6) | (b & 0x3F);
        }
        out.push_back(ch);
        i += length;
    }
    return out;
}

void SplitLinkText(std::string_view text, TStringList& list) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == '\r' || text[i] == '\n')) ++i;
        const std::size_t start = i;
        char quote = 0;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '|' || c == '\r' || c == '\n') {
                break;
            }
        }
        if (i > start) list.Add(std::string(text.substr(start, i - start)));
        if (i < text.size()) ++i;  // the separator
    }
}

bool IsOpenableLinkAddress(const std::string& address) {
    const std::string lower = LowerCase(Trim(address));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}
