// SPDX-License-Identifier: Apache-2.0
#include "app/settings/locations.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <QStandardPaths>
#include <QString>

#include "app/common/commonDefine.h"
#include "base/Exception.h"
#include "base/SysUtils.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace {

constexpr char kSettingsName[] = "fotaviq.ini";
constexpr char kOwnFolder[] = "fotaviq/";     // under the configuration and cache folders
constexpr char kAlbumsFolder[] = "Fotaviq/";  // under the pictures folder: seen by the user

std::function<bool(const std::string&)>& WritableCheck() {
    static std::function<bool(const std::string&)> check;
    return check;
}

bool Portable(const std::string& programDir) {
    const auto& check = WritableCheck();
    return check ? check(programDir) : IsWritableFolder(programDir);
}

std::string UserFolder(QStandardPaths::StandardLocation which) {
    return IncludeTrailingPathDelimiter(QStringToAnsi(QStandardPaths::writableLocation(which)));
}

}  // namespace

std::string ProgramDir() { return AppDir.empty() ? ExecutableDir() : AppDir; }

TRunMode RunMode() { return Portable(ProgramDir()) ? TRunMode::Portable : TRunMode::Installed; }

std::string AlbumBaseDir() {
    const std::string dir = ProgramDir();
    return Portable(dir) ? dir : UserFolder(QStandardPaths::PicturesLocation) + kAlbumsFolder;
}

std::string SettingsFilePath() {
    const std::string dir = ProgramDir();
    const std::string beside = dir + kSettingsName;
    if (FileExists(beside) || Portable(dir)) return beside;
    return UserFolder(QStandardPaths::GenericConfigLocation) + kOwnFolder + kSettingsName;
}

std::string TempDir() {
    const std::string dir = ProgramDir();
    if (Portable(dir)) return dir;
    const std::string cache = UserFolder(QStandardPaths::GenericCacheLocation) + kOwnFolder;
    ForceDirectories(cache);
    return cache;
}

std::string NewTempPageFile() {
    const std::string dir = TempDir();
    const std::string file = CreateUniqueFile(dir, "page-", ".txt");
    if (file.empty()) {
        const int error = errno;
        throw EStreamError("cannot create a temporary page in " + dir + ": " + SysErrorMessage(error), error);
    }
    return file;
}

bool IsWritableFolder(const std::string& ansiDir) {
    // The effective ids decide what a later create may do; write and search are both needed
    // to make a file in a folder.
    return DirectoryExists(ansiDir) && ::faccessat(AT_FDCWD, FsPath(ansiDir).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

void SetWritableFolderCheck(std::function<bool(const std::string&)> check) { WritableCheck() = std::move(check); }
