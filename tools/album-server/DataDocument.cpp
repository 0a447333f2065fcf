// SPDX-License-Identifier: Apache-2.0
#include "DataDocument.h"

#include "GbkText.h"

namespace {

std::string EscapeSlashes(std::string_view s)
{
    std::string out;
    for (char c : s) {
        if (c == '/')
            out += '\\';
        out += c;
    }
    return out;
}

std::string Styled(const AlbumSpec& album, std::string address)
{
    return album.style == AddressStyle::EscapedSlashes ? EscapeSlashes(address) : address;
}

}  // namespace

std::string PhotoAddress(std::string_view baseUrl, const AlbumSpec& album, int index)
{
    return std::string(baseUrl) + "/photos/" + album.key + "/" + std::to_string(index) + ".jpg";
}

std::string MusicAddress(std::string_view baseUrl, const AlbumSpec& album)
{
    return std::string(baseUrl) + "/music/" + album.key + ".mp3";
}

std::string BuildDataDocument(const AlbumSpec& album, std::string_view baseUrl)
{
    // Composed in UTF-8 and converted once; the title's control bytes and backslashes
    // are ASCII and pass through the conversion unchanged.
    std::string doc;
    doc += "{\"code\":0,\"subcode\":0,\"message\":\"\",\n";
    doc += "\"data\":{\n";
    doc += "\"albumid\":\"" + album.key + "\",\"uin\":\"" + album.uin + "\",\"fid\":\"" + album.fid + "\",\n";
    doc += "\"name\":\"" + album.title + "\",\n";
    doc += "\"desc\":\"共" + std::to_string(album.photoCount) + "张照片\",\n";
    switch (album.music) {
    case MusicKey::Present:
        doc += "\"mp3\":\"" + Styled(album, MusicAddress(baseUrl, album)) + "\",\n";
        break;
    case MusicKey::Empty:
        doc += "\"mp3\":\"\",\n";
        break;
    case MusicKey::Absent:
        break;
    }
    doc += "\"total\":" + std::to_string(album.photoCount) + ",\n";
    doc += "\"pics\":[\n";
    const char* urlKey = album.style == AddressStyle::UpperCaseKeys ? "URL" : "url";
    for (int i = 0; i < album.photoCount; ++i) {
        const PhotoSize size = album.SizeOf(i);
        doc += "{\"id\":" + std::to_string(i + 1) + ",\"width\":" + std::to_string(size.width) +
               ",\"height\":" + std::to_string(size.height) + ",\"" + urlKey + "\":\"" +
               Styled(album, PhotoAddress(baseUrl, album, i)) + "\",\"desc\":\"第" +
               std::to_string(i + 1) + "张\"}";
        doc += i + 1 < album.photoCount ? ",\n" : "\n";
    }
    doc += "]\n}\n}\n";
    return Utf8ToGbk(doc);
}
