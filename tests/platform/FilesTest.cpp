// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/Encoding.h"
#include "platform/Files.h"

TEST(Files, ForceDirectoriesCreatesParentsAndAnsiNames) {
    char tmp[] = "/tmp/fv-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmp), nullptr);
    const std::string root = Utf8ToAnsi(tmp);
    const std::string deep = root + "/\xCF\xE0\xB2\xE1/a/b/";  // 相册/a/b
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));  // already there
    EXPECT_EQ(access((std::string(tmp) + "/相册/a/b").c_str(), F_OK), 0);

    const std::string file = deep + "0.jpg";
    EXPECT_FALSE(FileExists(file));
    OpenFileStream(file, TFileStream::fmCreate)->WriteBuffer("x", 1);
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(deep));  // a folder is not a file
    EXPECT_FALSE(ForceDirectories(file + "/sub"));  // a file is in the way
    EXPECT_TRUE(DeleteFile(file));
    EXPECT_EQ(std::system(("rm -rf " + std::string(tmp)).c_str()), 0);
}
