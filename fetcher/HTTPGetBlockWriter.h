#pragma once
// The target file of a file-mode transfer. Pieces are collected and written in blocks of
// 64 KB: a write per 1025-byte piece costs more than the rest of a loopback transfer. The
// file is brought up to date by Flush (the worker calls it before every progress call, so
// a progress handler sees every byte received on disk) and by the destructor, so the file
// holds everything received however the transfer ends.
#include <memory>
#include <string>
#include <vector>

#include "base/Stream.h"

class THTTPGetBlockWriter {
public:
    // Creates or truncates the file (ANSI path); raises EStreamError when it cannot.
    explicit THTTPGetBlockWriter(const std::string& ansiPath);
    // Flushes; a failure here is not reported (the transfer ends anyway).
    ~THTTPGetBlockWriter();

    // Raise EStreamError when the file cannot be written.
    void Write(const char* data, std::size_t size);
    void Flush();

private:
    std::unique_ptr<TFileStream> file_;
    std::vector<char> block_;
    std::size_t used_ = 0;
};
