// SPDX-License-Identifier: Apache-2.0
#pragma once
// The albums the service knows: a fixed, built-in list selected by the uin/fid pair of
// the data request. Each entry says what its data document holds and how each of its
// photos is served, so the document builder, the photo store and the routes stay
// free of per-album special cases.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How one photo answers its GET.
enum class PhotoMode {
    Normal,   // the whole JPEG with its Content-Length
    Missing,  // 404
    CutOff,   // full Content-Length announced, about half the bytes sent, then the close
    Slow,     // the whole JPEG, paced at the slow rate
    Damaged,  // a complete answer with its Content-Length whose bytes are not a JPEG
};

// How the document carries the music address.
enum class MusicKey {
    Present,  // "mp3":"<address>"
    Empty,    // "mp3":""
    Absent,   // no mp3 key at all
};

// How the document writes its addresses.
enum class AddressStyle {
    Plain,           // http://host/photos/...
    EscapedSlashes,  // http:\/\/host\/photos\/... (every slash preceded by a backslash)
    UpperCaseKeys,   // photos under "URL" instead of "url"
};

struct PhotoSize {
    int width;
    int height;
};

struct AlbumSpec {
    std::string key;       // path segment of its photos and music: /photos/<key>/, /music/<key>.mp3
    std::string uin;
    std::string fid;
    std::string title;     // UTF-8 here; the document carries it in GBK, byte for byte otherwise
    std::string purpose;   // one line for --help and the README
    int photoCount = 0;
    MusicKey music = MusicKey::Present;
    AddressStyle style = AddressStyle::Plain;
    std::vector<std::pair<int, PhotoMode>> specialPhotos;  // index -> mode; others Normal
    // The data request is answered with status 200 and an HTML login page, not a document.
    bool loginPage = false;

    PhotoMode ModeOf(int index) const;
    // Deterministic per index; cycles through landscape and portrait sizes
    // from 320x240 up to 1024x768.
    PhotoSize SizeOf(int index) const;
    // Stable colour seed derived from the key (not std::hash, which may differ by build).
    std::uint32_t Seed() const;
};

class Catalogue {
public:
    // The built-in demo and test albums.
    Catalogue();

    // Null when no album has this pair. The values are compared exactly as received.
    const AlbumSpec* Find(std::string_view uin, std::string_view fid) const;
    const AlbumSpec* FindByKey(std::string_view key) const;
    const std::vector<AlbumSpec>& Albums() const { return albums_; }

private:
    std::vector<AlbumSpec> albums_;
};
