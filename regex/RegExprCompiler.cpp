// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprCompiler.h"

#include <cstring>
#include <limits>
#include <stdexcept>

#include "regex/RegExprProgram.h"

namespace regexpr {

namespace {

// Characters that end a literal run.
constexpr std::string_view kMetaChars = "^$.[()|?+*\\{";

bool IsQuantifierChar(unsigned char c) { return c == '*' || c == '+' || c == '?' || c == '{'; }
bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Far below the 32-bit link range, so every link and offset of a program fits.
constexpr int kMaxProgramSize = std::numeric_limits<std::int32_t>::max() / 4;

}  // namespace

std::vector<std::uint8_t> Compiler::Compile(std::string_view pattern, int& flags) {
    pattern_ = pattern;
    for (bool measuring : {true, false}) {
        measuring_ = measuring;
        mods_ = settings_.modifiers;
        p_ = 0;
        nextGroup_ = 1;
        emit_ = 0;
        EmitByte(ProgramMarker);
        ParseReg(false, flags);
        if (measuring_) {
            if (emit_ > kMaxProgramSize) Fail(101);
            buf_.assign(static_cast<std::size_t>(emit_), 0);
        }
    }
    return std::move(buf_);
}

// --- emitting ----------------------------------------------------------------------------

// Both passes emit the same bytes, so the second never outgrows the measured buffer; the check
// turns a broken invariant into an exception instead of a stray write.
void Compiler::Reserve(int bytes) {
    if (!measuring_ && static_cast<std::size_t>(emit_) + static_cast<std::size_t>(bytes) > buf_.size())
        throw std::logic_error("regular-expression compiler: passes disagree");
}

int Compiler::EmitOp(std::uint8_t op) {
    Reserve(NodeHeaderSize);
    const int at = emit_;
    if (!measuring_) {
        buf_[at] = op;
        WriteInt32(&buf_[at + 1], 0);
    }
    emit_ += NodeHeaderSize;
    return at;
}

void Compiler::EmitByte(std::uint8_t b) {
    Reserve(1);
    if (!measuring_) buf_[emit_] = b;
    ++emit_;
}

void Compiler::EmitInt32(std::int32_t v) {
    Reserve(4);
    if (!measuring_) WriteInt32(&buf_[emit_], v);
    emit_ += 4;
}

void Compiler::InsertOp(std::uint8_t op, int at, int size) {
    Reserve(size);
    if (!measuring_) {
        std::memmove(&buf_[at + size], &buf_[at], static_cast<std::size_t>(emit_ - at));
        std::memset(&buf_[at], 0, static_cast<std::size_t>(size));
        buf_[at] = op;
    }
    emit_ += size;
}

int Compiler::NextNode(int node) const {
    const std::int32_t link = ReadInt32(&buf_[node + 1]);
    return link == 0 ? 0 : node + link;
}

void Compiler::LinkTail(int chain, int target) {
    if (measuring_) return;
    int scan = chain;
    for (int next = NextNode(scan); next != 0; next = NextNode(scan)) scan = next;
    WriteInt32(&buf_[scan + 1], target - scan);
}

void Compiler::LinkBranchTail(int node, int target) {
    if (measuring_ || buf_[node] != OpAlt) return;
    LinkTail(node + NodeHeaderSize, target);
}

// --- structure ---------------------------------------------------------------------------

int Compiler::ParseReg(bool inGroup, int& flags) {
    flags = FlagWidth;
    const int savedMods = mods_;
    int ret = 0;
    int group = 0;
    if (inGroup) {
        if (nextGroup_ >= SubExpMax) Fail(102);
        group = nextGroup_++;
        ret = EmitOp(OpOpen(group));
    }

    // `last` is the chain's last node. An OpAlt keeps a link of 0 until the next alternative
    // is linked to it, and nothing parsed later moves it, so linking from `last` writes what a
    // walk from `ret` would, without walking every earlier alternative again.
    int altFlags = 0;
    int alt = ParseAlternative(altFlags);
    if (ret != 0) LinkTail(ret, alt);
    else ret = alt;
    int last = alt;
    if (!(altFlags & FlagWidth)) flags &= ~FlagWidth;
    flags |= altFlags & FlagLeadRepeat;
    while (Ch() == '|' && !AtEnd()) {
        ++p_;
        alt = ParseAlternative(altFlags);
        LinkTail(last, alt);
        last = alt;
        if (!(altFlags & FlagWidth)) flags &= ~FlagWidth;
        flags |= altFlags & FlagLeadRepeat;
    }

    const int ender = EmitOp(inGroup ? OpClose(group) : static_cast<std::uint8_t>(OpEnd));
    LinkTail(last, ender);
    if (!measuring_) {
        for (int br = ret; br != 0; br = NextNode(br)) LinkBranchTail(br, ender);
    }

    if (inGroup) {
        if (AtEnd() || Ch() != ')') Fail(103);
        ++p_;
    } else if (!AtEnd()) {
        Fail(Ch() == ')' ? 104 : 105);
    }
    mods_ = savedMods;
    return ret;
}

int Compiler::ParseAlternative(int& flags) {
    flags = 0;
    const int ret = EmitOp(OpAlt);
    int chain = 0;
    while (!AtEnd() && Ch() != '|' && Ch() != ')') {
        int pieceFlags = 0;
        const int latest = ParseQuantified(pieceFlags);
        flags |= pieceFlags & FlagWidth;
        if (chain == 0) flags |= pieceFlags & FlagLeadRepeat;
        else LinkTail(chain, latest);
        chain = latest;
    }
    if (chain == 0) EmitOp(OpPass);
    return ret;
}

int Compiler::EmitLoop(int atom, std::int32_t min, std::int32_t max, bool lazy) {
    InsertOp(OpLoopEntry, atom, NodeHeaderSize);
    const int body = atom + NodeHeaderSize;
    const int loop = EmitOp(lazy ? OpLoopLazy : OpLoop);
    EmitInt32(min);
    EmitInt32(max);
    EmitInt32(body - loop);
    LinkTail(atom, loop);
    LinkTail(body, loop);
    return atom;
}

int Compiler::ParseQuantified(int& flags) {
    int atomFlags = 0;
    const int atom = ParseAtom(atomFlags);
    const unsigned char op = Ch();
    if (AtEnd() || !IsQuantifierChar(op)) {
        flags = atomFlags;
        return atom;
    }
    if (!(atomFlags & FlagWidth) && op != '?') Fail(106);

    std::int32_t min = 0;
    std::int32_t max = 0;
    if (op == '{') {
        // {n}, {n,} or {n,m}; anything else leaves the '{' to be read as a literal.
        std::size_t q = p_ + 1;
        const std::size_t minStart = q;
        while (IsDigit(Ch(q))) ++q;
        const std::size_t minEnd = q;
        if (minEnd == minStart || (Ch(q) != '}' && Ch(q) != ',')) {
            flags = atomFlags;
            return atom;
        }
        std::size_t maxStart = 0;
        std::size_t maxEnd = 0;
        if (Ch(q) == ',') {
            ++q;
            maxStart = q;
            while (IsDigit(Ch(q))) ++q;
            maxEnd = q;
            if (Ch(q) != '}') {
                flags = atomFlags;
                return atom;
            }
        }
        auto number = [&](std::size_t from, std::size_t to) {
            if (to - from > 8) {
                p_ = to;
                Fail(122);
            }
            std::int32_t v = 0;
            for (std::size_t i = from; i < to; ++i) v = v * 10 + (Ch(i) - '0');
            return v;
        };
        min = number(minStart, minEnd);
        if (maxStart == 0) max = min;
        else if (maxEnd == maxStart) max = MaxBraceCount;
        else max = number(maxStart, maxEnd);
        p_ = q;  // at the '}'
        if (min > max) Fail(124);
    }

    bool lazy = false;
    if (Ch(p_ + 1) == '?' && p_ + 1 < pattern_.size()) {
        lazy = true;
        ++p_;
    }
    if (!Has(ModG)) lazy = true;
    const bool single = (atomFlags & FlagSingle) != 0;

    int ret = atom;
    switch (op) {
    case '*':
        if (single) {
            InsertOp(lazy ? OpStarSimpleLazy : OpStarSimple, atom, NodeHeaderSize);
        } else if (!lazy) {
            // x* as (x jump-back | pass)
            InsertOp(OpAlt, atom, NodeHeaderSize);
            LinkBranchTail(atom, EmitOp(OpJumpBack));
            LinkBranchTail(atom, atom);
            LinkTail(atom, EmitOp(OpAlt));
            LinkTail(atom, EmitOp(OpPass));
        } else {
            ret = EmitLoop(atom, 0, MaxBraceCount, true);
        }
        flags = FlagLeadRepeat;
        break;
    case '+':
        if (single) {
            InsertOp(lazy ? OpPlusSimpleLazy : OpPlusSimple, atom, NodeHeaderSize);
        } else if (!lazy) {
            // x+ as x (jump-back to x | pass)
            const int next = EmitOp(OpAlt);
            LinkTail(atom, next);
            const int back = EmitOp(OpJumpBack);
            LinkTail(back, atom);
            LinkTail(next, EmitOp(OpAlt));
            LinkTail(atom, EmitOp(OpPass));
        } else {
            ret = EmitLoop(atom, 1, MaxBraceCount, true);
        }
        flags = FlagWidth | FlagLeadRepeat;
        break;
    case '?':
        if (!lazy) {
            // x? as (x | pass)
            InsertOp(OpAlt, atom, NodeHeaderSize);
            LinkTail(atom, EmitOp(OpAlt));
            const int pass = EmitOp(OpPass);
            LinkTail(atom, pass);
            LinkBranchTail(atom, pass);
        } else if (single) {
            InsertOp(OpCountSimpleLazy, atom, NodeHeaderSize + CountOperandsSize);
            if (!measuring_) {
                WriteInt32(&buf_[atom + NodeHeaderSize], 0);
                WriteInt32(&buf_[atom + NodeHeaderSize + 4], 1);
            }
        } else {
            ret = EmitLoop(atom, 0, 1, true);
        }
        flags = 0;
        break;
    default:  // '{'
        if (single) {
            InsertOp(lazy ? OpCountSimpleLazy : OpCountSimple, atom, NodeHeaderSize + CountOperandsSize);
            if (!measuring_) {
                WriteInt32(&buf_[atom + NodeHeaderSize], min);
                WriteInt32(&buf_[atom + NodeHeaderSize + 4], max);
            }
        } else {
            ret = EmitLoop(atom, min, max, lazy);
        }
        flags = (min > 0 ? FlagWidth : 0) | (max > 0 ? FlagLeadRepeat : 0);
        break;
    }

    ++p_;  // past the quantifier's last character
    if (!AtEnd() && IsQuantifierChar(Ch())) Fail(107);
    return ret;
}

// --- atoms -------------------------------------------------------------------------------

int Compiler::ParseAtom(int& flags) {
    flags = 0;
    if (AtEnd() || Ch() == '|' || Ch() == ')') Fail(114);
    const unsigned char c = Ch();
    ++p_;
    switch (c) {
    case '^':
        return EmitOp(Has(ModM) && (!settings_.lineSeparatorsEmpty || settings_.pairedAssigned) ? OpLineStart
                                                                                               : OpInputStart);
    case '$':
        return EmitOp(Has(ModM) && (!settings_.lineSeparatorsEmpty || settings_.pairedAssigned) ? OpLineEnd
                                                                                               : OpInputEnd);
    case '.':
        if (Has(ModS)) {
            flags = FlagWidth | FlagSingle;
            return EmitOp(OpAnyChar);
        }
        flags = FlagWidth;
        return EmitOp(OpAnyInLine);
    case '[':
        flags = FlagWidth | FlagSingle;
        return ParseClass();
    case '(':
        if (Ch() == '?' && !AtEnd()) {
            if (Ch(p_ + 1) == '#' && p_ + 1 < pattern_.size()) {
                const std::size_t close = pattern_.find(')', p_ + 2);
                if (close == std::string_view::npos) {
                    p_ = pattern_.size();
                    Fail(125);
                }
                p_ = close + 1;
                return EmitOp(OpRemark);
            }
            const std::size_t close = pattern_.find(')', p_ + 1);
            if (close == std::string_view::npos) {
                p_ = pattern_.size();
                Fail(127);
            }
            int mods = mods_;
            if (!ParseModifierString(pattern_.substr(p_ + 1, close - p_ - 1), mods)) {
                p_ = close;
                Fail(127);
            }
            mods_ = mods;
            p_ = close + 1;
            return EmitOp(OpRemark);
        } else {
            int groupFlags = 0;
            const int ret = ParseReg(true, groupFlags);
            flags = groupFlags & (FlagWidth | FlagLeadRepeat);
            return ret;
        }
    case '*':
    case '+':
    case '?':
        Fail(115);
    case '\\':
        return ParseEscape(flags);
    default:
        if (Has(ModX) && IsBlank(c)) {
            while (!AtEnd() && IsBlank(Ch())) ++p_;
            return EmitOp(OpRemark);
        }
        if (Has(ModX) && c == '#') {
            while (!AtEnd() && Ch() != '\r' && Ch() != '\n') ++p_;
            while (!AtEnd() && (Ch() == '\r' || Ch() == '\n')) ++p_;
            return EmitOp(OpRemark);
        }
        --p_;
        return ParseLiteralRun(flags);
    }
}

int Compiler::ParseLiteralRun(int& flags) {
    auto runLength = [&](std::size_t from) {
        std::size_t n = 0;
        while (from + n < pattern_.size()) {
            const unsigned char ch = Ch(from + n);
            if (kMetaChars.find(static_cast<char>(ch)) != std::string_view::npos) break;
            if (Has(ModX) && ch == '#') break;
            ++n;
        }
        return n;
    };
    std::size_t len = runLength(p_);
    if (len == 0) {
        if (Ch() != '{') Fail(119);
        len = 1 + runLength(p_ + 1);
    }
    if (len > 1 && p_ + len < pattern_.size() && IsQuantifierChar(Ch(p_ + len))) --len;

    flags = FlagWidth | (len == 1 ? FlagSingle : 0);
    const int ret = EmitOp(Has(ModI) ? OpLiteralNoCase : OpLiteral);
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char ch = Ch(p_ + i);
        if (!(Has(ModX) && IsBlank(ch))) EmitByte(ch);
    }
    EmitByte(0);
    p_ += len;
    return ret;
}

int Compiler::ParseEscape(int& flags) {
    if (AtEnd()) Fail(116);
    const unsigned char c = Ch();
    switch (c) {
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
        ++p_;
        flags = FlagWidth | FlagSingle;
        const int ret = EmitOp(Has(ModI) ? OpBackRefNoCase : OpBackRef);
        EmitByte(static_cast<std::uint8_t>(c - '0'));
        return ret;
    }
    case 'A': ++p_; return EmitOp(OpInputStart);
    case 'Z': ++p_; return EmitOp(OpInputEnd);
    case 'b': ++p_; return EmitOp(OpWordEdge);
    case 'B': ++p_; return EmitOp(OpNotWordEdge);
    case 'd': ++p_; flags = FlagWidth | FlagSingle; return EmitOp(OpDigit);
    case 'D': ++p_; flags = FlagWidth | FlagSingle; return EmitOp(OpNonDigit);
    case 's': case 'S': ++p_; flags = FlagWidth | FlagSingle; return EmitListClass(settings_.spaceChars, c == 'S');
    case 'w': case 'W': ++p_; flags = FlagWidth | FlagSingle; return EmitListClass(settings_.wordChars, c == 'W');
    default: {
        const unsigned char ch = DecodeEscape();
        flags = FlagWidth | FlagSingle;
        const int ret = EmitOp(Has(ModI) ? OpLiteralNoCase : OpLiteral);
        EmitByte(ch);
        EmitByte(0);
        return ret;
    }
    }
}

// The cursor is on the character after the backslash; leaves it after the escape.
unsigned char Compiler::DecodeEscape() {
    const unsigned char c = Ch();
    ++p_;
    switch (c) {
    case 't': return 9;
    case 'n': return 10;
    case 'r': return 13;
    case 'f': return 12;
    case 'a': return 7;
    case 'e': return 27;
    case 'x': {
        if (AtEnd()) Fail(111);
        int value = 0;
        if (Ch() == '{') {
            ++p_;
            for (;;) {
                if (AtEnd()) Fail(111);
                if (Ch() == '}') break;
                const int d = HexValue(Ch());
                if (d < 0) Fail(108);
                value = value * 16 + d;
                if (value > 0xFF) Fail(112);
                ++p_;
            }
            ++p_;
            return static_cast<unsigned char>(value);
        }
        for (int i = 0; i < 2; ++i) {
            if (AtEnd()) Fail(111);
            const int d = HexValue(Ch());
            if (d < 0) Fail(108);
            value = value * 16 + d;
            ++p_;
        }
        return static_cast<unsigned char>(value);
    }
    default:
        return c;
    }
}

}  // namespace regexpr
