// SPDX-License-Identifier: Apache-2.0
#pragma once
// What an album's data document names: its title, its music address and its photo
// addresses. Text work only (no windows, no transfers), so that it can be checked on any
// bytes a server might send.
#include <optional>
#include <string>
#include <vector>

struct TAlbumDocument {
    std::optional<std::string> Title;     // the first "name" value; unset when there is none
    std::optional<std::string> MusicUrl;  // the first "mp3" value
    std::vector<std::string> PhotoUrls;   // every "url" value, in document order
    // The number of photos the document announces: the digits after the first `"total":`
    // (blanks allowed before them); unset when there is none or it is not a number.
    std::optional<long long> AnnouncedPhotos;
};

// A value is the text between `"key":"` and the next quote, taken exactly as it stands
// (no unescaping, line breaks included). Keys are matched case-sensitively. The document
// ends at its first NUL byte.
TAlbumDocument ReadAlbumDocument(const std::string& document);
