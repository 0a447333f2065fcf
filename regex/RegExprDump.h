// SPDX-License-Identifier: Apache-2.0
#pragma once
// Readable listings of a compiled program, one node per line in address order:
//   "  6: OpStarSimple -> 18" — offset, opcode, operands, and the offset the link leads to
// (left out for a link of 0). The node repeated by a simple repeat follows, indented. Texts
// are quoted; bytes outside printable ASCII appear as \xHH.
#include <cstdint>
#include <string>
#include <vector>

class TRegExpr;

std::string DumpRegExprProgram(const std::vector<std::uint8_t>& program);
// The analysis kept with the object's program: FirstChars, StartChar, Anchored, MustString.
std::string DumpRegExprAnalysis(const TRegExpr& re);
// A 256-bit set as a class text with ranges, e.g. "[0-9A-Z_a-z]".
std::string DumpCharSet(const std::uint8_t* set);
