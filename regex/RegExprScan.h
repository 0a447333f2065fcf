// SPDX-License-Identifier: Apache-2.0
#pragma once
// Fast scans over a subject for the search shortcuts: a byte forwards and backwards, any of up
// to three bytes, and a literal (exactly or with case flipping). They only find candidates;
// every candidate they report still goes through the matcher, so a scan can make a search
// faster or slower but never changes its result.
//
// Ranges are half-open [from, end) over a subject that is readable at `end` too (its
// terminating NUL). Nothing here reads before `from` or past `end`.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace regexpr {

// The first position in [from, end) holding c, or nullptr.
inline const unsigned char* FindByte(const unsigned char* from, const unsigned char* end, unsigned char c) {
    if (from >= end) return nullptr;
    return static_cast<const unsigned char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

// The first position in [from, end) holding a or b, or nullptr.
const unsigned char* FindEither(const unsigned char* from, const unsigned char* end, unsigned char a, unsigned char b);

// The last position in [from, end) holding c, or nullptr. Eight bytes at a time.
const unsigned char* FindByteBackward(const unsigned char* from, const unsigned char* end, unsigned char c);

// The positions holding any of one to three bytes, in increasing order within one search: each
// byte's next occurrence is remembered until the search passes it, so every byte of the subject
// is scanned once per member however many candidates there are.
class ByteSetScanner {
public:
    // `count` is 1..3. The scanner is bound to [.., end) until the next Reset.
    void Reset(const unsigned char* bytes, int count, const unsigned char* end);
    // The first position at or after `from` holding a member, or nullptr. `from` must not
    // decrease between calls.
    const unsigned char* Next(const unsigned char* from);

private:
    std::array<unsigned char, 3> bytes_{};
    std::array<const unsigned char*, 3> next_{};  // nullptr = not looked for yet; end_ = none left
    int count_ = 0;
    const unsigned char* end_ = nullptr;
};

// A literal that a match must contain at a known place. Find looks for it through one of its
// bytes, the anchor, with memchr, and compares the rest at each hit. The anchor starts as the
// first byte; when hits that are not the literal come more often than one per 32 bytes, the
// finder counts the literal's bytes in the next 4 KB of the subject and moves the anchor to
// the rarest. The state carries over to later searches of the same program.
class LiteralFinder {
public:
    // `flip` null: exact. Otherwise character c of the literal also accepts (*flip)[c], and
    // nothing else, as the matcher's case-insensitive comparison does. `length` > 0, and the
    // text holds no NUL.
    void Assign(const unsigned char* text, std::size_t length, const std::array<unsigned char, 256>* flip);
    bool Empty() const noexcept { return text_.empty(); }
    std::size_t Length() const noexcept { return text_.size(); }

    // The first p in [from, last] at which the literal occurs and ends at or before `end`, or
    // nullptr. The first hit is looked at here, inline, as most searches end there; the loop
    // over further hits, which also moves the anchor, is FindAfterMiss.
    const unsigned char* Find(const unsigned char* from, const unsigned char* last, const unsigned char* end) {
        const auto length = static_cast<std::ptrdiff_t>(text_.size());
        if (end - from < length) return nullptr;
        const unsigned char* lastStart = last < end - length ? last : end - length;
        if (from > lastStart) return nullptr;
        const unsigned char* hit = ScanAnchor(from + anchor_, lastStart + anchor_ + 1);
        if (hit == nullptr) {
            scanned_ += static_cast<std::uint64_t>(lastStart + 1 - from);
            return nullptr;
        }
        const unsigned char* candidate = hit - anchor_;
        scanned_ += static_cast<std::uint64_t>(candidate + 1 - from);
        if (MatchesAt(candidate)) return candidate;
        return FindAfterMiss(candidate, lastStart, end);
    }
    // True when the literal occurs at p (p + Length() <= end is the caller's business).
    bool MatchesAt(const unsigned char* p) const {
        const std::size_t length = text_.size();
        if (exact_) {
            // Literals of 4 to 16 characters, the usual case, as two overlapping words.
            if (length >= 8 && length <= 16)
                return Load<std::uint64_t>(p) == head8_ && Load<std::uint64_t>(p + length - 8) == tail8_;
            if (length >= 4 && length < 8)
                return Load<std::uint32_t>(p) == head4_ && Load<std::uint32_t>(p + length - 4) == tail4_;
            if (length > 16) return std::memcmp(p, text_.data(), length) == 0;
        }
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char c = p[i];
            if (c != static_cast<unsigned char>(text_[i]) && c != static_cast<unsigned char>(other_[i])) return false;
        }
        return true;
    }

private:
    template <typename Word>
    static Word Load(const void* p) {
        Word w;
        std::memcpy(&w, p, sizeof w);
        return w;
    }

    const unsigned char* ScanAnchor(const unsigned char* from, const unsigned char* to) const {
        const auto a = static_cast<unsigned char>(text_[anchor_]);
        const auto b = static_cast<unsigned char>(other_[anchor_]);
        return a == b ? FindByte(from, to, a) : FindEither(from, to, a, b);
    }
    // Find, after a hit at `miss` that was not the literal.
    const unsigned char* FindAfterMiss(const unsigned char* miss, const unsigned char* lastStart,
                                       const unsigned char* end);
    void ChooseAnchor(const unsigned char* from, const unsigned char* end);

    std::string text_;
    std::string other_;  // the case-flipped partner of each character (the same when exact)
    bool exact_ = true;
    // The literal's first and last words (of 4 or 8 bytes, as far as it is long enough).
    std::uint64_t head8_ = 0, tail8_ = 0;
    std::uint32_t head4_ = 0, tail4_ = 0;
    std::size_t anchor_ = 0;
    std::uint64_t misses_ = 0;
    std::uint64_t scanned_ = 0;
    std::uint64_t patience_ = 64;  // misses before the anchor is reconsidered
};

}  // namespace regexpr
