// SPDX-License-Identifier: Apache-2.0
#pragma once
// TBuffer: one fixed-size block of a socket's send queue. Bytes are appended at the write
// position and taken out from the read position; the block never compacts: room freed at
// the front is usable again only once the block is drained, when both positions return
// to 0. Invariant: 0 <= ReadPos <= WritePos <= Capacity.
#include <cstdint>
#include <memory>

class TBuffer {
public:
    // size <= 0 means 1514.
    explicit TBuffer(std::int32_t size);
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    // New capacity (<= 0 means 1514), keeping the first WritePos bytes at their offsets.
    // The size must not be smaller than WritePos.
    void Resize(std::int32_t size);
    // Copies min(count, free room) bytes behind the written ones; returns how many.
    std::int32_t Append(const void* source, std::int32_t count);
    // The bytes not yet taken out: their address and count, or null and 0. Changes nothing.
    const char* PendingData(std::int32_t& count) const;
    // Takes min(count, pending) bytes out; a drained block returns to empty.
    std::int32_t Consume(std::int32_t count);

    const char* Data() const { return data_.get(); }
    std::int32_t Capacity() const { return capacity_; }
    std::int32_t WritePos() const { return writePos_; }
    std::int32_t ReadPos() const { return readPos_; }

private:
    std::unique_ptr<char[]> data_;
    std::int32_t capacity_ = 0;
    std::int32_t writePos_ = 0;
    std::int32_t readPos_ = 0;
};
