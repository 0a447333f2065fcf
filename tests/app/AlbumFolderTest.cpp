#include <gtest/gtest.h>

#include "app/albumFolder.h"

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
    // A lone lead byte at the end is kept as it is (the file system shows it as unknown).
    EXPECT_EQ(AlbumFolderName("a\x95"), "a\x95");
}
