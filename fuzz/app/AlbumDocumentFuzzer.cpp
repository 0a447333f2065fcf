// SPDX-License-Identifier: Apache-2.0
// The album data document comes from a server: reading it must accept any bytes, and
// what it picks out must be what a plain scan for `"key":"` up to the next quote finds
// (the first "name" and "mp3" values, every "url" value after the previous one's end) in
// the document up to its first NUL.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/core/albumDocument.h"

namespace {

// The value after `"key":"` found at or after `from`; `end` is set behind its closing quote.
std::optional<std::string> ScanValue(const std::string& text, const std::string& key, std::size_t from,
                                     std::size_t& end) {
    const std::string open = "\"" + key + "\":\"";
    const std::size_t at = text.find(open, from);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t valueAt = at + open.size();
    const std::size_t quote = text.find('"', valueAt);
    if (quote == std::string::npos) return std::nullopt;  // a later key has no closing quote either
    end = quote + 1;
    return text.substr(valueAt, quote - valueAt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string document(reinterpret_cast<const char*>(data), size);
    const TAlbumDocument found = ReadAlbumDocument(document);
    document.resize(std::min(document.find('\0'), document.size()));

    std::size_t end = 0;
    if (found.Title != ScanValue(document, "name", 0, end)) std::abort();
    if (found.MusicUrl != ScanValue(document, "mp3", 0, end)) std::abort();
    std::vector<std::string> urls;
    for (std::size_t from = 0;;) {
        const std::optional<std::string> url = ScanValue(document, "url", from, end);
        if (!url) break;
        urls.push_back(*url);
        from = end;
    }
    if (found.PhotoUrls != urls) {
        std::fprintf(stderr, "photo addresses: %zu read, %zu by the scan\n", found.PhotoUrls.size(), urls.size());
        for (std::size_t i = 0; i < found.PhotoUrls.size() || i < urls.size(); ++i)
            std::fprintf(stderr, "  [%zu] read \"%s\" scan \"%s\"\n", i,
                         i < found.PhotoUrls.size() ? found.PhotoUrls[i].c_str() : "-", i < urls.size() ? urls[i].c_str() : "-");
        std::abort();
    }
    return 0;
}
