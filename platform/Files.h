// SPDX-License-Identifier: Apache-2.0
#pragma once
// File-system helpers over ANSI paths (see Paths.h).
#include <memory>
#include <string>

#include "base/Stream.h"

bool FileExists(const std::string& ansiPath);       // a regular file is there
bool DirectoryExists(const std::string& ansiPath);
// Creates the folder and every missing parent; true when the folder exists afterwards.
bool ForceDirectories(const std::string& ansiPath);
bool DeleteFile(const std::string& ansiPath);
bool RenameFile(const std::string& from, const std::string& to);

// A file stream on an ANSI path (raises EStreamError like TFileStream).
std::unique_ptr<TFileStream> OpenFileStream(const std::string& ansiPath, TFileStream::Mode mode);
// A new (or truncated) file on an ANSI path that takes its writes in blocks
// (TBufferedFileStream); raises EStreamError when it cannot be created. Never written
// through a symbolic link: one in its place is replaced by a new file (fmCreateNoLink).
std::unique_ptr<TBufferedFileStream> CreateBufferedFileStream(const std::string& ansiPath);

// Makes the folder's entries durable (fsync of the folder), after a rename into it.
// False, errno set, when it cannot.
bool SyncFolder(const std::string& ansiDir);

// A new empty file in the folder, named prefix + six random characters + suffix, made
// exclusively (mode 0600) so that no other run or user shares it; its ANSI path, or empty
// (errno set) when it cannot be made.
std::string CreateUniqueFile(const std::string& ansiDir, const std::string& prefix, const std::string& suffix);

// An advisory lock (flock) on a folder, held while the object lives: other holders of such a
// lock on the same folder, in this process or another, are refused while it is held. A lock
// dies with its process, so a crashed run leaves none behind.
class TFolderLock {
public:
    enum class TResult { Locked, Busy, Failed };
    TFolderLock() = default;
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Takes the lock without waiting: Busy when another holder has it, Failed (errno set)
    // when the folder cannot be opened or locked.
    TResult Lock(const std::string& ansiDir);
    void Unlock();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
