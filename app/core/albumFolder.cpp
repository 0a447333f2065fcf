// SPDX-License-Identifier: Apache-2.0
#include "app/core/albumFolder.h"

#include <algorithm>

#include "platform/Encoding.h"

namespace {

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

// The path is built from the file-system form (UTF-8), so the pair is judged there: an
// unmapped pair comes back as U+FFFD followed by its trail byte read alone, which may be
// '\' (a separator once paths are converted). Only exactly one non-ASCII character that
// is neither a C1 control nor U+FFFD passes.
bool IsWholeCharacter(char lead, char trail) {
    const std::string fs = AnsiToUtf8(std::string{lead, trail});
    if (fs.size() < 2 || fs.size() > 4) return false;
    const auto first = static_cast<unsigned char>(fs[0]);
    if (first < 0xC2) return false;  // ASCII or not a start byte
    for (std::size_t i = 1; i < fs.size(); ++i)
        if ((static_cast<unsigned char>(fs[i]) & 0xC0) != 0x80) return false;  // a second character
    if (first == 0xC2 && static_cast<unsigned char>(fs[1]) < 0xA0) return false;  // U+0080-U+009F
    return fs != "\xEF\xBF\xBD";
}

}  // namespace

std::string AlbumFolderName(const std::string& title) {
    std::string name;
    name.reserve(std::min<std::size_t>(title.size(), kMaxFolderNameBytes));
    std::size_t fsBytes = 0;  // the name's length on disk (UTF-8)
    for (std::size_t i = 0; i < title.size(); ++i) {
        const auto c = static_cast<unsigned char>(title[i]);
        std::string next;
        std::size_t nextFsBytes = 1;
        if (c < 0x80) {
            next = (c < 0x20 || c == 0x7F || c == '/' || c == '\\') ? '_' : static_cast<char>(c);
        } else if (IsLeadByte(c) && i + 1 < title.size() && IsTrailByte(static_cast<unsigned char>(title[i + 1])) &&
                   IsWholeCharacter(title[i], title[i + 1])) {
            next = {title[i], title[i + 1]};
            nextFsBytes = AnsiToUtf8(next).size();
            ++i;
        } else {
            next = "_";  // the next byte, if any, is read on its own
        }
        // Whole characters only, as many as the file system takes in one name.
        if (fsBytes + nextFsBytes > kMaxFolderNameBytes) break;
        name += next;
        fsBytes += nextFsBytes;
    }
    for (char& c : name) {  // leading dots: no ".." or "." and no hidden folder
        if (c != '.') break;
        c = '_';
    }
    return name;
}
