#include "app/albumFolder.h"

std::string AlbumFolderName(const std::string& title) {
    std::string name;
    name.reserve(title.size());
    for (std::size_t i = 0; i < title.size(); ++i) {
        const auto c = static_cast<unsigned char>(title[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < title.size()) {  // a GBK lead byte and its trail
            name += title[i];
            name += title[++i];
        } else if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
            name += '_';
        } else {
            name += static_cast<char>(c);
        }
    }
    for (char& c : name) {  // leading dots: no ".." or "." and no hidden folder
        if (c != '.') break;
        c = '_';
    }
    return name;
}
