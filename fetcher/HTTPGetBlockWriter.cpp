#include "fetcher/HTTPGetBlockWriter.h"

#include <cstring>

#include "platform/Files.h"

namespace {
constexpr std::size_t kBlockSize = 64 * 1024;
}

THTTPGetBlockWriter::THTTPGetBlockWriter(const std::string& ansiPath)
    : file_(OpenFileStream(ansiPath, TFileStream::fmCreate)), block_(kBlockSize) {}

THTTPGetBlockWriter::~THTTPGetBlockWriter() {
    try {
        Flush();
    } catch (...) {
    }
}

void THTTPGetBlockWriter::Write(const char* data, std::size_t size) {
    if (used_ + size > block_.size()) Flush();
    if (size >= block_.size()) {
        file_->WriteBuffer(data, static_cast<std::int64_t>(size));
        return;
    }
    std::memcpy(block_.data() + used_, data, size);
    used_ += size;
}

void THTTPGetBlockWriter::Flush() {
    if (used_ == 0) return;
    const std::size_t n = used_;
    used_ = 0;  // a failed block is not tried again
    file_->WriteBuffer(block_.data(), static_cast<std::int64_t>(n));
}
