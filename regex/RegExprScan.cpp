// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprScan.h"

#include <algorithm>
#include <bit>

namespace regexpr {

const unsigned char* FindEither(const unsigned char* from, const unsigned char* end, unsigned char a, unsigned char b) {
    const unsigned char* qa = FindByte(from, end, a);
    if (a == b) return qa;
    // The second scan stops where the first found something.
    const unsigned char* qb = FindByte(from, qa ? qa : end, b);
    return qb ? qb : qa;
}

const unsigned char* FindByteBackward(const unsigned char* from, const unsigned char* end, unsigned char c) {
    const unsigned char* p = end;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t ones = 0x0101010101010101ull;
        constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
        const std::uint64_t pattern = ones * c;
        while (p - from >= 8) {
            p -= 8;
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const std::uint64_t x = word ^ pattern;  // a zero byte where the subject holds c
            // Exact per byte (no borrow between bytes): the top bit is set for each zero byte.
            const std::uint64_t zero = ~(((x & low7) + low7) | x | low7);
            if (zero != 0) return p + (63 - std::countl_zero(zero)) / 8;
        }
    }
    while (p > from) {
        --p;
        if (*p == c) return p;
    }
    return nullptr;
}

void ByteSetScanner::Reset(const unsigned char* bytes, int count, const unsigned char* end) {
    count_ = count;
    end_ = end;
    for (int i = 0; i < count; ++i) {
        bytes_[i] = bytes[i];
        next_[i] = nullptr;
    }
}

const unsigned char* ByteSetScanner::Next(const unsigned char* from) {
    const unsigned char* best = nullptr;
    for (int i = 0; i < count_; ++i) {
        if (next_[i] == nullptr || (next_[i] != end_ && next_[i] < from)) {
            const unsigned char* q = FindByte(from, end_, bytes_[i]);
            next_[i] = q ? q : end_;
        }
        if (next_[i] != end_ && (best == nullptr || next_[i] < best)) best = next_[i];
    }
    return best;
}

void LiteralFinder::Assign(const unsigned char* text, std::size_t length, const std::array<unsigned char, 256>* flip) {
    text_.assign(reinterpret_cast<const char*>(text), length);
    other_ = text_;
    if (flip != nullptr)
        for (char& c : other_) c = static_cast<char>((*flip)[static_cast<unsigned char>(c)]);
    exact_ = other_ == text_;
    head8_ = tail8_ = 0;
    head4_ = tail4_ = 0;
    if (length >= 8) {
        head8_ = Load<std::uint64_t>(text_.data());
        tail8_ = Load<std::uint64_t>(text_.data() + length - 8);
    }
    if (length >= 4) {
        head4_ = Load<std::uint32_t>(text_.data());
        tail4_ = Load<std::uint32_t>(text_.data() + length - 4);
    }
    anchor_ = 0;
    misses_ = 0;
    scanned_ = 0;
    patience_ = 64;
}

const unsigned char* LiteralFinder::FindAfterMiss(const unsigned char* miss, const unsigned char* lastStart,
                                                   const unsigned char* end) {
    for (const unsigned char* p = miss + 1;;) {
        if (++misses_ >= patience_) {
            if (misses_ * 32 > scanned_) {
                ChooseAnchor(p, end);
            } else {
                misses_ = 0;
                scanned_ = 0;
            }
        }
        if (p > lastStart) return nullptr;
        const unsigned char* hit = ScanAnchor(p + anchor_, lastStart + anchor_ + 1);
        if (hit == nullptr) {
            scanned_ += static_cast<std::uint64_t>(lastStart + 1 - p);
            return nullptr;
        }
        const unsigned char* candidate = hit - anchor_;
        scanned_ += static_cast<std::uint64_t>(candidate + 1 - p);
        if (MatchesAt(candidate)) return candidate;
        p = candidate + 1;
    }
}

void LiteralFinder::ChooseAnchor(const unsigned char* from, const unsigned char* end) {
    std::array<std::uint32_t, 256> count{};
    const unsigned char* sampleEnd = end - from > 4096 ? from + 4096 : end;
    for (const unsigned char* q = from; q < sampleEnd; ++q) ++count[*q];
    auto frequency = [&](std::size_t k) {
        const auto a = static_cast<unsigned char>(text_[k]);
        const auto b = static_cast<unsigned char>(other_[k]);
        return static_cast<std::uint64_t>(count[a]) + (a != b ? count[b] : 0);
    };
    std::size_t best = anchor_;
    std::uint64_t bestCount = frequency(anchor_);
    for (std::size_t k = 0; k < text_.size(); ++k) {
        const std::uint64_t n = frequency(k);
        if (n < bestCount) {
            best = k;
            bestCount = n;
        }
    }
    // When no byte is rarer, wait longer before counting again.
    if (best == anchor_ && patience_ < (1u << 20)) patience_ *= 2;
    anchor_ = best;
    misses_ = 0;
    scanned_ = 0;
}

}  // namespace regexpr
