// SPDX-License-Identifier: Apache-2.0
#pragma once
// The search over a subject: which start positions the matcher tries, in increasing order,
// leaving out those the analysis rules out.
//  - Anchored: the search offset only.
//  - A literal every match starts with: only its occurrences (found with LiteralFinder).
//  - Otherwise the positions whose character is in FirstChars (up to three characters through
//    memchr), and the end when FirstChars holds character 0.
// Before that, a search gives up at once when the must-have literal does not occur from the
// offset on; where the previous search of the same subject found it is remembered, so an
// ExecNext chain does not look for it again while that place lies ahead.
//
// The literal leaves out only positions of FirstChars where the matcher would fail at that
// literal, having passed nothing that can raise an error; so results and errors are those of
// trying every position of FirstChars.
#include <cstdint>

#include "regex/RegExprScan.h"

class TRegExpr;
class RegExprMatcher;

class RegExprSearch {
public:
    RegExprSearch(TRegExpr& owner, RegExprMatcher& matcher) : owner_(owner), matcher_(matcher) {}

    // Searches the owner's subject from `s` (inside it or at its end) with its program. On
    // success the owner's capture slots hold the match.
    bool Run(const unsigned char* s);

private:
    // Takes what the owner's current program allows; done once per program.
    void Bind();
    bool MustStringAhead(const unsigned char* s, const unsigned char* start, const unsigned char* end);

    TRegExpr& owner_;
    RegExprMatcher& matcher_;
    std::uint64_t program_ = 0;  // the owner's program version bound to, 0 = none

    regexpr::LiteralFinder prefix_;
    regexpr::LiteralFinder must_;
    unsigned char setBytes_[3] = {};
    int setCount_ = 0;      // 1..3: scan for these bytes; 0: none besides the end; -1: use the table
    bool setEnd_ = false;   // the end of the subject is a candidate
    regexpr::ByteSetScanner scanner_;

    // Where the must-have literal was last found in which subject: from offset mustFrom_ on,
    // its first occurrence is at mustAt_ (-1 = none).
    std::uint64_t mustSubject_ = 0;
    std::ptrdiff_t mustFrom_ = 0;
    std::ptrdiff_t mustAt_ = -1;
};
