// SPDX-License-Identifier: Apache-2.0
#pragma once
// Paths are ANSI (GBK) texts with '/' as the separator; a '\' in a path is read as '/'.
// FsPath turns such a path into the bytes the file system takes (UTF-8).
#include <string>
#include <string_view>

// The folder of the running executable with a trailing '/', as an ANSI text.
std::string ExecutableDir();

// The folder part of a path, up to and including its last separator ("" when none).
std::string ExtractFilePath(std::string_view path);
// The path with a trailing '/' (added when missing).
std::string IncludeTrailingPathDelimiter(std::string_view path);

// ANSI path to file-system bytes: GBK to UTF-8 and '\' to '/'.
std::string FsPath(std::string_view ansiPath);
