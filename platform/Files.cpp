// SPDX-License-Identifier: Apache-2.0
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Paths.h"

namespace {
bool IsDir(const std::string& fs) {
    struct stat st;
    return ::stat(fs.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

bool FileExists(const std::string& ansiPath) {
    struct stat st;
    return ::stat(FsPath(ansiPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& ansiPath) { return IsDir(FsPath(ansiPath)); }

bool ForceDirectories(const std::string& ansiPath) {
    std::string fs = FsPath(ansiPath);
    while (fs.size() > 1 && fs.back() == '/') fs.pop_back();
    if (fs.empty()) return false;
    if (IsDir(fs)) return true;
    // Each prefix ending before a '/' is a parent to create first.
    for (std::size_t at = fs.find('/', 1); at != std::string::npos; at = fs.find('/', at + 1)) {
        const std::string parent = fs.substr(0, at);
        if (!IsDir(parent) && ::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return (::mkdir(fs.c_str(), 0755) == 0 || errno == EEXIST) && IsDir(fs);
}

bool DeleteFile(const std::string& ansiPath) { return ::unlink(FsPath(ansiPath).c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(FsPath(from).c_str(), FsPath(to).c_str()) == 0;
}

std::unique_ptr<TFileStream> OpenFileStream(const std::string& ansiPath, TFileStream::Mode mode) {
    return std::make_unique<TFileStream>(FsPath(ansiPath), mode);
}

std::unique_ptr<TBufferedFileStream> CreateBufferedFileStream(const std::string& ansiPath) {
    return std::make_unique<TBufferedFileStream>(FsPath(ansiPath), TFileStream::fmCreateNoLink);
}

bool SyncFolder(const std::string& ansiDir) {
    const std::string fs = FsPath(ansiDir.empty() ? std::string(".") : ansiDir);
    const int fd = ::open(fs.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

std::string CreateUniqueFile(const std::string& ansiDir, const std::string& prefix, const std::string& suffix) {
    // The random part is ASCII, so the ANSI and the file-system forms differ only in the folder.
    std::string fs = FsPath(ansiDir) + prefix + "XXXXXX" + suffix;
    const int fd = ::mkostemps(fs.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    const std::size_t at = fs.size() - suffix.size() - 6;
    return ansiDir + prefix + fs.substr(at, 6) + suffix;
}

TFolderLock::~TFolderLock() { Unlock(); }

TFolderLock::TResult TFolderLock::Lock(const std::string& ansiDir) {
    Unlock();
    const int fd = ::open(FsPath(ansiDir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return TResult::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return error == EWOULDBLOCK ? TResult::Busy : TResult::Failed;
    }
    fd_ = fd;
    return TResult::Locked;
}

void TFolderLock::Unlock() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the lock
    fd_ = -1;
}
