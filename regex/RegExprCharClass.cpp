// SPDX-License-Identifier: Apache-2.0
// Character classes: [...] and the \s \S \w \W escapes outside classes.
#include <bit>

#include "regex/RegExprCompiler.h"
#include "regex/RegExprProgram.h"

namespace regexpr {

namespace {

using CharSet = std::array<std::uint8_t, 32>;

void Add(CharSet& set, unsigned char c) { set[c >> 3] |= static_cast<std::uint8_t>(1u << (c & 7)); }

int Count(const CharSet& set) {
    int n = 0;
    for (std::uint8_t b : set) n += std::popcount(static_cast<unsigned>(b));
    return n;
}

}  // namespace

// Up to three members fit inline (ascending, the largest repeated); more take a 32-byte set,
// complemented for a negated class. The header was emitted before the members were known,
// so the opcode is filled in here.
int Compiler::EmitClass(CharSet members, bool negated) {
    const int count = Count(members);
    const int node = EmitOp(OpOneOf3);
    if (count >= 1 && count <= 3) {
        if (!measuring_) buf_[node] = negated ? OpNoneOf3 : OpOneOf3;
        unsigned char chars[3];
        int n = 0;
        for (int c = 0; c < 256; ++c)
            if (InSet(members.data(), static_cast<unsigned char>(c))) chars[n++] = static_cast<unsigned char>(c);
        for (int i = 0; i < 3; ++i) EmitByte(chars[i < n ? i : n - 1]);
    } else {
        // An empty class can only come from an empty character list: it matches nothing
        // (negated: everything), like any other set.
        if (!measuring_) buf_[node] = OpOneOfSet;
        for (std::uint8_t b : members) EmitByte(negated ? static_cast<std::uint8_t>(~b) : b);
    }
    return node;
}

int Compiler::EmitListClass(std::string_view chars, bool negated) {
    CharSet set{};
    for (char c : chars) Add(set, static_cast<unsigned char>(c));
    return EmitClass(set, negated);
}

// The cursor is after the '['; leaves it after the ']'.
int Compiler::ParseClass() {
    CharSet set{};
    const bool noCase = Has(ModI);
    const auto& flip = *settings_.flip;
    auto add = [&](unsigned char c) {
        Add(set, c);
        if (noCase) Add(set, flip[c]);
    };
    auto addRange = [&](int from, int to) {
        for (int c = from; c <= to; ++c) add(static_cast<unsigned char>(c));
    };
    auto addList = [&](std::string_view chars) {
        for (char c : chars) add(static_cast<unsigned char>(c));
    };

    bool negated = false;
    if (!AtEnd() && Ch() == '^') {
        negated = true;
        ++p_;
    }
    int rangeStart = -1;  // the last single member, which a following '-' may extend
    if (!AtEnd() && Ch() == ']') {
        add(']');
        rangeStart = ']';
        ++p_;
    }
    while (!AtEnd() && Ch() != ']') {
        const unsigned char c = Ch();
        if (c == '-' && rangeStart >= 0 && p_ + 1 < pattern_.size() && Ch(p_ + 1) != ']') {
            const unsigned char after = Ch(p_ + 2);
            const bool classEscape = Ch(p_ + 1) == '\\' && p_ + 2 < pattern_.size() &&
                                     (after == 'd' || after == 'D' || after == 's' || after == 'S' ||
                                      after == 'w' || after == 'W');
            if (classEscape) {
                add('-');
                rangeStart = -1;
                ++p_;
                continue;
            }
            ++p_;  // the '-'
            int rangeEnd;
            if (Ch() == '\\') {
                ++p_;
                if (AtEnd()) Fail(110);
                rangeEnd = DecodeEscape();
            } else {
                rangeEnd = Ch();
                ++p_;
            }
            if (Has(ModR) && rangeStart == 0xE0 && rangeEnd == 0xDF) {
                // Both Cyrillic cases of code page 1251.
                addRange(0xC0, 0xFF);
                add(0xA8);
                add(0xB8);
            } else {
                if (rangeEnd < rangeStart) Fail(109);
                addRange(rangeStart, rangeEnd);
                if (Has(ModR) && rangeStart == 0xE0 && rangeEnd == 0xFF) add(0xB8);
                if (Has(ModR) && rangeStart == 0xC0 && rangeEnd == 0xDF) add(0xA8);
            }
            rangeStart = -1;
            continue;
        }
        if (c == '\\') {
            ++p_;
            if (AtEnd()) Fail(110);
            const unsigned char e = Ch();
            if (e == 'd') {
                addRange('0', '9');
                ++p_;
                rangeStart = -1;
            } else if (e == 's') {
                addList(settings_.spaceChars);
                ++p_;
                rangeStart = -1;
            } else if (e == 'w') {
                addList(settings_.wordChars);
                ++p_;
                rangeStart = -1;
            } else {
                const unsigned char ch = DecodeEscape();
                add(ch);
                rangeStart = ch;
            }
            continue;
        }
        add(c);
        rangeStart = c;
        ++p_;
    }
    if (AtEnd()) Fail(113);
    ++p_;  // the ']'
    return EmitClass(set, negated);
}

}  // namespace regexpr
