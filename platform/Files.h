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
// (TBufferedFileStream); raises EStreamError when it cannot be created.
std::unique_ptr<TBufferedFileStream> CreateBufferedFileStream(const std::string& ansiPath);
