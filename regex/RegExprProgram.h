// SPDX-License-Identifier: Apache-2.0
#pragma once
// Layout of a compiled node program, shared by the compiler, the analysis, the matcher and
// the dump.
//
// Byte 0 is ProgramMarker. Every node from byte 1 on starts with a 5-byte header: the opcode
// and a signed 32-bit little-endian link, the distance from the node's first byte to the next
// node's first byte (0 = no next node). Operands follow the header. Counts and offsets inside
// operands are signed 32-bit little-endian too. Positions inside a program are byte offsets;
// 0 never names a node (it is the marker), so it doubles as "no node".
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace regexpr {

constexpr std::uint8_t ProgramMarker = 0xD8;
constexpr int NodeHeaderSize = 5;
constexpr int CountOperandsSize = 8;     // minimum, maximum of the counted simple repeats
constexpr int LoopOperandsSize = 12;     // minimum, maximum, body offset of the loop nodes
constexpr int SetOperandSize = 32;       // 256-bit set
constexpr int OneOf3OperandSize = 3;

constexpr std::int32_t MaxBraceCount = 2147483646;   // an omitted maximum in {n,}
constexpr std::int32_t MaxSimpleCount = 2147483647;  // * and + over a single character

// Modifier bits (same values as TRegExpr::ModI ...).
constexpr int ModI = 1;   // case-insensitive
constexpr int ModR = 2;   // extended Cyrillic ranges in classes
constexpr int ModS = 4;   // '.' matches line separators too
constexpr int ModG = 8;   // quantifiers greedy unless marked lazy
constexpr int ModM = 16;  // multi-line ^ and $
constexpr int ModX = 32;  // extended syntax: blanks and # comments

constexpr int SubExpMax = 15;  // capture slots: 0 = whole match, 1..14 = groups
constexpr int LoopMax = 10;    // nested counted loops active at once

enum Opcode : std::uint8_t {
    OpEnd = 0,
    OpInputStart = 1,
    OpInputEnd = 2,
    OpAnyChar = 3,
    OpAlt = 6,
    OpJumpBack = 7,
    OpLiteral = 8,
    OpPass = 9,
    OpStarSimple = 10,
    OpPlusSimple = 11,
    OpDigit = 12,
    OpNonDigit = 13,
    OpCountSimple = 18,
    OpRemark = 19,
    OpLiteralNoCase = 20,
    OpLoopEntry = 23,
    OpLoop = 24,
    OpOneOf3 = 25,
    OpNoneOf3 = 26,
    OpOneOfSet = 27,
    OpBackRef = 28,
    OpBackRefNoCase = 29,
    OpStarSimpleLazy = 30,
    OpPlusSimpleLazy = 31,
    OpCountSimpleLazy = 32,
    OpLoopLazy = 33,
    OpLineStart = 34,
    OpLineEnd = 35,
    OpAnyInLine = 36,
    OpWordEdge = 37,
    OpNotWordEdge = 38,
    OpOpenFirst = 40,   // OpOpen n = 39 + n, n = 1..14
    OpOpenLast = 53,
    OpCloseFirst = 55,  // OpClose n = 54 + n
    OpCloseLast = 68,
};

constexpr std::uint8_t OpOpen(int n) { return static_cast<std::uint8_t>(39 + n); }
constexpr std::uint8_t OpClose(int n) { return static_cast<std::uint8_t>(54 + n); }
constexpr bool IsOpen(std::uint8_t op) { return op >= OpOpenFirst && op <= OpOpenLast; }
constexpr bool IsClose(std::uint8_t op) { return op >= OpCloseFirst && op <= OpCloseLast; }

inline std::int32_t ReadInt32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                     (static_cast<std::uint32_t>(p[2]) << 16) |
                                     (static_cast<std::uint32_t>(p[3]) << 24));
}

inline void WriteInt32(std::uint8_t* p, std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Read-only view of a finished program with the header accessors every reader needs.
struct ProgramView {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;

    std::uint8_t Op(int node) const { return bytes[node]; }
    std::int32_t Link(int node) const { return ReadInt32(bytes + node + 1); }
    // The next node, or 0 for a link of 0.
    int Next(int node) const {
        const std::int32_t link = Link(node);
        return link == 0 ? 0 : node + link;
    }
    int Operand(int node) const { return node + NodeHeaderSize; }
    const std::uint8_t* OperandPtr(int node) const { return bytes + node + NodeHeaderSize; }
    bool Contains(int node) const { return node > 0 && static_cast<std::size_t>(node) + NodeHeaderSize <= size; }
};

// True for the nodes that may stand as the operand of a simple repeat.
constexpr bool IsSingleCharOp(std::uint8_t op) {
    switch (op) {
    case OpAnyChar: case OpLiteral: case OpLiteralNoCase: case OpDigit: case OpNonDigit:
    case OpOneOf3: case OpNoneOf3: case OpOneOfSet: case OpBackRef: case OpBackRefNoCase:
        return true;
    default:
        return false;
    }
}

constexpr bool InSet(const std::uint8_t* set, unsigned char c) { return (set[c >> 3] >> (c & 7)) & 1; }

// Applies a modifier string to `modifiers`: left to right, a '-' makes every later letter clear
// its bit; i r s g m x (either case) name the bits. Returns false, leaving `modifiers` alone,
// for any other character. The empty string is valid and changes nothing.
bool ParseModifierString(std::string_view text, int& modifiers);
// The set as a modifier string: the letters that are on, then '-' and those that are off.
std::string ModifierString(int modifiers);

// Size in bytes of the node at `node` (header, operands and a repeated node), or -1 when the
// opcode is not one of a finished program or the node runs past the program's end.
int NodeSize(const ProgramView& program, int node);

// The name the dump prints for an opcode ("OpOpen" and "OpClose" without their number),
// or nullptr for a code that never occurs in a finished program.
const char* OpcodeName(std::uint8_t op);

}  // namespace regexpr
