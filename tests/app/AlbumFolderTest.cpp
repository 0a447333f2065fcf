// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "app/core/albumFolder.h"
#include "platform/Paths.h"

TEST(AlbumFolderName, NothingLeadsOutOfTheApplicationFolder) {
    EXPECT_EQ(AlbumFolderName(".."), "__");
    EXPECT_EQ(AlbumFolderName("."), "_");
    EXPECT_EQ(AlbumFolderName("../../etc"), "___.._etc");
    EXPECT_EQ(AlbumFolderName("a/b\\c"), "a_b_c");
    EXPECT_EQ(AlbumFolderName(std::string("x\x01y\x7F\tz\r\n", 8)), "x_y__z__");
    EXPECT_EQ(AlbumFolderName(".hidden"), "_hidden");
    EXPECT_EQ(AlbumFolderName("a..b."), "a..b.");
}

TEST(AlbumFolderName, ReadableTitlesStayAsTheyAre) {
    EXPECT_EQ(AlbumFolderName(""), "");
    EXPECT_EQ(AlbumFolderName("Trip 2024: *?<>|"), "Trip 2024: *?<>|");
    EXPECT_EQ(AlbumFolderName("\xCE\xF7\xBA\xFE\xB4\xBA\xD3\xCE"), "\xCE\xF7\xBA\xFE\xB4\xBA\xD3\xCE");  // 西湖春游
    // A GBK character whose second byte is '\' stays whole.
    EXPECT_EQ(AlbumFolderName("\x95\x5C" "a"), "\x95\x5C" "a");
    // A lone lead byte at the end is not a character.
    EXPECT_EQ(AlbumFolderName("a\x95"), "a_");
}

// A lead byte takes its next byte along only when the two are one character of the code
// page; otherwise the next byte is read on its own, and a '/' or '\\' there must not
// become a separator of the converted path.
TEST(AlbumFolderName, OnlyWholeGbkCharactersPass) {
    const struct {
        std::string title, name;
    } cases[] = {
        {"x\x81/y", "x__y"},                                 // lead byte with a separator
        {"z\xA1\\..", "z__.."},                              // unmapped pair ending in '\\'
        {"a\xFF" "b", "a_b"},                                 // 0xFF is never a lead byte
        {"a\x80" "b", "a_b"},                                 // nor is 0x80
        {"\x81\x7F" "c", "__c"},                             // 0x7F is no trail byte
        {"\xA1\x40" "d", "_@d"},                              // well-formed but unmapped
        {"\xCE\xF7\x81\x01\xBA\xFE\x81\x81\xD5", "\xCE\xF7__\xBA\xFE\x81\x81_"},  // mixed
    };
    for (const auto& c : cases) {
        const std::string name = AlbumFolderName(c.title);
        EXPECT_EQ(name, c.name);
        const std::string fs = FsPath(name);
        EXPECT_EQ(fs.find('/'), std::string::npos) << fs;
        EXPECT_TRUE(fs != "." && fs != ".." && !fs.empty()) << fs;
        for (char ch : fs) EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) << fs;
    }
}

// A folder name holds at most 255 bytes on disk, where a GBK character takes 3 (UTF-8): a
// long title keeps as many whole characters as fit, never half of one.
TEST(AlbumFolderName, ALongTitleIsCutToWholeCharactersThatFit255BytesOnDisk) {
    std::string chinese;
    for (int k = 0; k < 100; ++k) chinese += "\xCE\xF7";  // 西 x 100: 300 bytes on disk
    const std::string name = AlbumFolderName(chinese);
    EXPECT_EQ(name, chinese.substr(0, 85 * 2));
    EXPECT_EQ(FsPath(name).size(), 255u);
    // One ASCII byte ahead: 84 characters fit (253 bytes), the 85th would make 256.
    const std::string shifted = AlbumFolderName("a" + chinese);
    EXPECT_EQ(shifted, "a" + chinese.substr(0, 84 * 2));
    EXPECT_EQ(AlbumFolderName(std::string(300, 'x')), std::string(255, 'x'));
}
