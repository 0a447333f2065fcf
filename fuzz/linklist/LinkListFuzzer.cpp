// SPDX-License-Identifier: Apache-2.0
// The link server's document is untrusted input: decoding and splitting must accept any
// bytes, and every piece must be a non-empty run of the text that starts after a separator.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/window/linkList.h"
#include "base/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::u32string decoded = DecodeLinkText(text);
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii && decoded.size() != text.size()) std::abort();
    for (char32_t ch : decoded)
        if (ch > 0xFFFF) std::abort();  // at most three bytes per character

    TStringList pieces;
    SplitLinkText(text, pieces);
    std::size_t from = 0, total = 0;
    for (const std::string& p : pieces) {
        if (p.empty() || p[0] == '\r' || p[0] == '\n') std::abort();
        const std::size_t at = text.find(p, from);
        if (at == std::string::npos) std::abort();  // pieces come in order, from the text
        from = at + p.size();
        total += p.size();
    }
    if (total > text.size()) std::abort();
    IsOpenableLinkAddress(text);
    return 0;
}
