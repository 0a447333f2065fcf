// SPDX-License-Identifier: Apache-2.0
#include "Catalogue.h"

#include <array>

namespace {

constexpr std::array<PhotoSize, 6> kSizes{{
    {320, 240}, {640, 480}, {800, 600}, {1024, 768}, {480, 640}, {480, 360},
}};

AlbumSpec Album(std::string key, std::string uin, std::string fid, std::string title,
                std::string purpose, int photos)
{
    AlbumSpec a;
    a.key = std::move(key);
    a.uin = std::move(uin);
    a.fid = std::move(fid);
    a.title = std::move(title);
    a.purpose = std::move(purpose);
    a.photoCount = photos;
    return a;
}

std::vector<AlbumSpec> BuiltInAlbums()
{
    std::vector<AlbumSpec> list;
    // Demo albums: what a user sees when trying the program.
    list.push_back(Album("xihu", "10001", "1", "西湖春游", "demo: 12 photos with music", 12));
    list.push_back(Album("huangshan", "10001", "2", "黄山日出", "demo: 12 photos with music", 12));
    list.push_back(Album("gulangyu", "10002", "1", "鼓浪屿漫步", "demo: 12 photos with music", 12));

    // Test albums: one behaviour each.
    list.push_back(Album("three", "20000", "3", "三张照片 Trip",
                         "title (Chinese, with a space), music and 3 photos", 3));
    list.push_back(Album("empty", "20000", "0", "空相册", "0 photos, title and music", 0));
    list.push_back(Album("many31", "20000", "31", "三十一张", "31 photos (one more than the thumbnails)", 31));

    AlbumSpec noMusic = Album("nomusic", "20000", "4", "无音乐相册", "3 photos, no mp3 key at all", 3);
    noMusic.music = MusicKey::Absent;
    list.push_back(noMusic);

    AlbumSpec emptyMp3 = Album("emptymp3", "20000", "12", "Trip", "2 photos, \"mp3\":\"\" (empty value)", 2);
    emptyMp3.music = MusicKey::Empty;
    list.push_back(emptyMp3);

    list.push_back(Album("notitle", "20000", "5", "", "\"name\":\"\" (empty title), music, 2 photos", 2));
    // Slashes, backslashes, "..", control characters and characters other systems forbid,
    // followed by readable Chinese.
    list.push_back(Album("hostile", "20000", "6", "../..\\evil/./..\x01\x1f\t:*?<>|坏名字",
                         "title with /, \\, .., control characters, :*?<>| and Chinese; 2 photos", 2));
    list.push_back(Album("dotdot", "20000", "14", "..", "title \"..\" exactly; 1 photo", 1));

    AlbumSpec missing = Album("missing", "20000", "7", "缺图相册", "3 photos, photo 1 answers 404", 3);
    missing.specialPhotos = {{1, PhotoMode::Missing}};
    list.push_back(missing);

    AlbumSpec cutOff = Album("cutoff", "20000", "8", "断图相册",
                             "3 photos, photo 1 cut off mid-transfer (Content-Length announced)", 3);
    cutOff.specialPhotos = {{1, PhotoMode::CutOff}};
    list.push_back(cutOff);

    AlbumSpec damaged = Album("damaged", "20000", "15", "坏图相册",
                              "3 photos, photo 1 arrives whole but is not a JPEG", 3);
    damaged.specialPhotos = {{1, PhotoMode::Damaged}};
    list.push_back(damaged);

    AlbumSpec login = Album("login", "20000", "16", "登录页",
                            "the data request answers an HTML login page with status 200 (no data keys)", 0);
    login.loginPage = true;
    list.push_back(login);

    AlbumSpec slow = Album("slow", "20000", "9", "慢速相册", "3 photos, photo 1 paced at --slow-rate", 3);
    slow.specialPhotos = {{1, PhotoMode::Slow}};
    list.push_back(slow);

    AlbumSpec escaped = Album("escaped", "20000", "10", "Escaped",
                              "2 photos and music written with escaped slashes (http:\\/\\/...)", 2);
    escaped.style = AddressStyle::EscapedSlashes;
    list.push_back(escaped);

    AlbumSpec upper = Album("upper", "20000", "11", "大写键",
                            "title and music, 3 photos under \"URL\" (capitals): no photo found", 3);
    upper.style = AddressStyle::UpperCaseKeys;
    list.push_back(upper);

    list.push_back(Album("bench200", "20000", "200", "基准相册", "200 photos, for benchmarks", 200));
    return list;
}

}  // namespace

PhotoMode AlbumSpec::ModeOf(int index) const
{
    for (const auto& [i, mode] : specialPhotos)
        if (i == index)
            return mode;
    return PhotoMode::Normal;
}

PhotoSize AlbumSpec::SizeOf(int index) const
{
    return kSizes[static_cast<std::size_t>(index) % kSizes.size()];
}

std::uint32_t AlbumSpec::Seed() const
{
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : key) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

Catalogue::Catalogue() : albums_(BuiltInAlbums()) {}

const AlbumSpec* Catalogue::Find(std::string_view uin, std::string_view fid) const
{
    for (const auto& a : albums_)
        if (a.uin == uin && a.fid == fid)
            return &a;
    return nullptr;
}

const AlbumSpec* Catalogue::FindByKey(std::string_view key) const
{
    for (const auto& a : albums_)
        if (a.key == key)
            return &a;
    return nullptr;
}
