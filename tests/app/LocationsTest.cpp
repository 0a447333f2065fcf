// SPDX-License-Identifier: Apache-2.0
// Portable and installed copies: where albums, the settings file and temporary files go.
// The suite runs as root, for whom every folder is writable, so the writability check is
// replaced to play a read-only installation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/settings/locations.h"
#include "app/common/commonDefine.h"
#include "platform/Files.h"
#include "support/ChildProcess.h"

namespace {

class LocationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppDir = program.Path() + "/";
        Keep("HOME", home.Path());
        Keep("XDG_CONFIG_HOME", home.Path() + "/config");
        Keep("XDG_CACHE_HOME", home.Path() + "/cache");
    }
    void TearDown() override {
        SetWritableFolderCheck(nullptr);
        AppDir.clear();
        for (const auto& [name, value] : saved)
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    }

    void Keep(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved.emplace_back(name, old ? old : "");
        setenv(name, value.c_str(), 1);
    }
    void ProgramFolderWritable(bool writable) {
        SetWritableFolderCheck([this, writable](const std::string& dir) {
            EXPECT_EQ(dir, AppDir);  // the decision is made on the program's folder
            return writable;
        });
    }

    TScratchDir program;  // stands for the executable's folder
    TScratchDir home;
    std::vector<std::pair<std::string, std::string>> saved;
};

}  // namespace

TEST_F(LocationsTest, APortableCopyKeepsEverythingBesideTheProgram) {
    ProgramFolderWritable(true);
    EXPECT_EQ(RunMode(), TRunMode::Portable);
    EXPECT_EQ(AlbumBaseDir(), AppDir);
    EXPECT_EQ(SettingsFilePath(), AppDir + "fotaviq.ini");
    // A page file of the run's own, new with every call: two runs never share one.
    const std::string page = NewTempPageFile(), other = NewTempPageFile();
    EXPECT_EQ(page.rfind(AppDir + "page-", 0), 0u) << page;
    EXPECT_NE(page, other);
    EXPECT_TRUE(FileExists(page));
    EXPECT_TRUE(DeleteFile(page) && DeleteFile(other));
    EXPECT_FALSE(DirectoryExists(home.Path() + "/cache"));  // the user's folders are left alone
}

TEST_F(LocationsTest, AnInstalledCopyUsesTheUsersFolders) {
    ProgramFolderWritable(false);
    EXPECT_EQ(RunMode(), TRunMode::Installed);
    EXPECT_EQ(AlbumBaseDir(), home.Path() + "/Pictures/Fotaviq/");
    EXPECT_EQ(SettingsFilePath(), home.Path() + "/config/fotaviq/fotaviq.ini");
    // The cache folder did not exist: it is made, so the page can be written at once.
    const std::string page = NewTempPageFile();
    EXPECT_EQ(page.rfind(home.Path() + "/cache/fotaviq/page-", 0), 0u) << page;
    EXPECT_TRUE(DirectoryExists(home.Path() + "/cache/fotaviq/"));
    DeleteFile(page);

    // A settings file beside the executable wins; albums still go to the pictures folder.
    program.Write("fotaviq.ini", "[servers]\n");
    EXPECT_EQ(SettingsFilePath(), AppDir + "fotaviq.ini");
    EXPECT_EQ(AlbumBaseDir(), home.Path() + "/Pictures/Fotaviq/");
}

TEST_F(LocationsTest, ALocalisedPicturesFolderIsAnAnsiPathThatCanBeCreated) {
    ProgramFolderWritable(false);
    ForceDirectories(home.Path() + "/config");
    home.Write("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/\xE5\x9B\xBE\xE7\x89\x87\"\n");  // 图片 in UTF-8
    const std::string base = AlbumBaseDir();
    EXPECT_EQ(base, home.Path() + "/\xCD\xBC\xC6\xAC/Fotaviq/");  // 图片 in GBK, as every path here
    ASSERT_TRUE(ForceDirectories(base));
    EXPECT_TRUE(DirectoryExists(home.Path() + "/\xCD\xBC\xC6\xAC/Fotaviq"));
}

TEST_F(LocationsTest, OnlyAnExistingFolderCanBeWritable) {
    EXPECT_TRUE(IsWritableFolder(AppDir));
    EXPECT_FALSE(IsWritableFolder(AppDir + "missing/"));
    EXPECT_FALSE(IsWritableFolder(program.Write("file", "x")));
}
