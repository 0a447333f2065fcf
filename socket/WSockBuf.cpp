// SPDX-License-Identifier: Apache-2.0
#include "socket/WSockBuf.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::int32_t kDefaultSize = 1514;
}

TBuffer::TBuffer(std::int32_t size) { Resize(size); }

void TBuffer::Resize(std::int32_t size) {
    if (size <= 0) size = kDefaultSize;
    if (size == capacity_) return;
    // Storage is left uninitialised: only bytes below WritePos are ever read.
    std::unique_ptr<char[]> fresh(new char[static_cast<std::size_t>(size)]);
    if (writePos_ != readPos_) std::memcpy(fresh.get(), data_.get(), static_cast<std::size_t>(writePos_));
    data_ = std::move(fresh);
    capacity_ = size;
}

std::int32_t TBuffer::Append(const void* source, std::int32_t count) {
    const std::int32_t room = capacity_ - writePos_;
    if (room <= 0 || count <= 0) return 0;
    const std::int32_t n = std::min(count, room);
    std::memcpy(data_.get() + writePos_, source, static_cast<std::size_t>(n));
    writePos_ += n;
    return n;
}

const char* TBuffer::PendingData(std::int32_t& count) const {
    count = writePos_ - readPos_;
    if (count > 0) return data_.get() + readPos_;
    count = 0;
    return nullptr;
}

std::int32_t TBuffer::Consume(std::int32_t count) {
    const std::int32_t pending = writePos_ - readPos_;
    if (pending <= 0 || count <= 0) return 0;
    const std::int32_t n = std::min(count, pending);
    readPos_ += n;
    if (readPos_ == writePos_) readPos_ = writePos_ = 0;
    return n;
}
