// SPDX-License-Identifier: Apache-2.0
#include "platform/Paths.h"

#include <unistd.h>

#include <climits>

#include "platform/Encoding.h"

std::string ExecutableDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    const std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./");
    return ExtractFilePath(Utf8ToAnsi(exe));
}

std::string ExtractFilePath(std::string_view path) {
    const std::size_t at = path.find_last_of("/\\");
    return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
    std::string p(path);
    if (p.empty() || (p.back() != '/' && p.back() != '\\')) p += '/';
    return p;
}

std::string FsPath(std::string_view ansiPath) {
    std::string p = AnsiToUtf8(ansiPath);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}
