// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "platform/Encoding.h"
#include "platform/Paths.h"

TEST(Encoding, GbkAndUtf8RoundTrip) {
    const std::string gbk = "\xD6\xD0\xCE\xC4";  // 中文
    EXPECT_EQ(AnsiToUtf8(gbk), "中文");
    EXPECT_EQ(Utf8ToAnsi("中文 ok"), gbk + " ok");
    EXPECT_EQ(AnsiToQString(gbk), QString::fromUtf8("中文"));
    EXPECT_EQ(QStringToAnsi(QString::fromUtf8("下载相册")), Utf8ToAnsi("下载相册"));
}

TEST(Encoding, CharactersWithoutAGbkFormBecomeQuestionMarks) {
    EXPECT_EQ(UnicodeToAnsi(U"a\U0001F600b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("x\xE2\x82"), "x??");      // cut-off sequence
    EXPECT_EQ(AnsiToUtf8("a\xFF"), "a\xEF\xBF\xBD");  // not GBK
}

TEST(Paths, FolderPartAndFileSystemForm) {
    EXPECT_EQ(ExtractFilePath("/opt/fv/fotaviq"), "/opt/fv/");
    EXPECT_EQ(ExtractFilePath("D:\\Tools\\x.exe"), "D:\\Tools\\");
    EXPECT_EQ(ExtractFilePath("name"), "");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
    EXPECT_EQ(FsPath("/tmp/\xD6\xD0\\0.jpg"), "/tmp/中/0.jpg");
    const std::string dir = ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
}

TEST(Encoding, MixedTextsAreShownAsUtf8OnlyWhenValid) {
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("中文"));
    EXPECT_FALSE(IsValidUtf8("\xD6\xD0\xCE\xC4"));  // GBK 中文
    EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // cut off
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong
    EXPECT_EQ(TextToQString("\xD6\xD0\xCE\xC4"), QString::fromUtf8("中文"));
    EXPECT_EQ(TextToQString("中文"), QString::fromUtf8("中文"));
}
