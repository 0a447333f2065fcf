// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprMatcher.h"

#include <cstring>

#include "regex/RegExpr.h"
#include "regex/RegExprScan.h"
#include "regex/RegExprWalk.h"

using namespace regexpr;

bool RegExprMatcher::InSep(unsigned char c) const { return InSet(owner_.sepSet_.data(), c); }
bool RegExprMatcher::IsWord(unsigned char c) const { return InSet(owner_.wordSet_.data(), c); }

void RegExprMatcher::Fail(int code) { owner_.Error(code); }

void RegExprMatcher::CheckRoom() {
    if (choices_.size() + trail_.size() >= owner_.backtrackLimit_) Fail(1016);
}

void RegExprMatcher::Undo(std::size_t height) {
    while (trail_.size() > height) {
        const TrailEntry& e = trail_.back();
        *e.slot = e.old;
        trail_.pop_back();
    }
}

void RegExprMatcher::Bind() {
    program_ = owner_.programVersion_;
    prog_ = owner_.program_.data();
    progSize_ = owner_.program_.size();
    continuation_.assign(progSize_, -1);
    loopHeadJump_.clear();
    if (!owner_.jumpBackNodes_.empty()) {
        if (jumpBackLast_.size() < progSize_) jumpBackLast_.resize(progSize_, -1);
        loopHeadJump_.assign(progSize_, 0);
        for (int jump : owner_.jumpBackNodes_) {
            const int head = jump + ReadInt32(prog_ + jump + 1);
            if (head > 0 && static_cast<std::size_t>(head) < progSize_) loopHeadJump_[head] = jump;
        }
    }
    // Where a match goes on after a prefix literal that is the program's first node: the top
    // alternative's head and the literal would just pass. Neither is ever a loop's head.
    const int head = 1;
    const int literal = owner_.prefixLiteral_;
    afterPrefix_ = 0;
    if (literal == head + NodeHeaderSize && ReadInt32(prog_ + literal + 1) != 0 &&
        (loopHeadJump_.empty() || (loopHeadJump_[head] == 0 && loopHeadJump_[literal] == 0)))
        afterPrefix_ = literal + ReadInt32(prog_ + literal + 1);
    PlanStraight();
}

void RegExprMatcher::ClearMarks() {
    owner_.ClearSlots();
    for (int jump : owner_.jumpBackNodes_) jumpBackLast_[jump] = -1;
    dirty_ = false;
}

void RegExprMatcher::CountPassed(int passed) {
    steps_ += static_cast<std::uint64_t>(passed);
    if (steps_ > owner_.stepLimit_) Fail(1017);
}

int RegExprMatcher::LoopExit(int jump) const {
    // x*: the jump leads to the loop's first OpAlt, whose next OpAlt holds the way out.
    // x+: the jump is the first node of an OpAlt whose next OpAlt holds the way out.
    const int head = jump + ReadInt32(prog_ + jump + 1);
    int alt = prog_[head] == OpAlt ? head : jump - NodeHeaderSize;
    if (alt <= 0 || prog_[alt] != OpAlt) owner_.Error(1001);
    const int out = alt + ReadInt32(prog_ + alt + 1);
    if (out <= alt || static_cast<std::size_t>(out) + NodeHeaderSize > progSize_ || prog_[out] != OpAlt)
        owner_.Error(1001);
    return out + NodeHeaderSize;
}

std::ptrdiff_t RegExprMatcher::CaptureLength(int n) const {
    if (n < 0 || n >= SubExpMax || owner_.startp_[n] < 0 || owner_.endp_[n] < 0) return -1;
    // A group that is being repeated may have a new start beyond its previous end.
    const std::ptrdiff_t len = owner_.endp_[n] - owner_.startp_[n];
    return len < 0 ? 0 : len;
}


std::int32_t RegExprMatcher::WorkOutContinuation(int next) const {
    // What the walk passes changes nothing that a failing continuation does not undo.
    const ProgramView program = View();
    const int literal = SkipSureNodes(program, next, kWalkLimit, Skip::SureNodes);
    if (literal == 0 || program.Op(literal) != OpLiteral) return 0;
    const int after = program.Next(literal);
    const int end = after == 0 ? 0 : SkipSureNodes(program, after, kWalkLimit, Skip::SureNodes);
    const bool certain = end != 0 && program.Op(end) == OpEnd;
    return literal | (certain ? kCertainBit : 0);
}

std::int64_t RegExprMatcher::NextGreedy(const unsigned char* save, std::int64_t from, std::int64_t min,
                                        std::ptrdiff_t unit, int literal) const {
    if (literal == 0) return from;
    if (unit == 1) {
        const unsigned char first = prog_[literal + NodeHeaderSize];
        const unsigned char* low = save + min;
        for (const unsigned char* high = save + from + 1; high > low;) {
            const unsigned char* hit = FindByteBackward(low, high, first);
            if (hit == nullptr) break;
            if (LiteralAt(hit, literal)) return hit - save;
            high = hit;
        }
        return min - 1;
    }
    for (std::int64_t k = from; k >= min; --k)
        if (LiteralAt(save + k * unit, literal)) return k;
    return min - 1;
}


std::int64_t RegExprMatcher::RegRepeat(int node, std::int64_t max, const unsigned char*& pos) {
    const std::uint8_t op = prog_[node];
    const unsigned char* operand = prog_ + node + NodeHeaderSize;
    if (op == OpBackRef || op == OpBackRefNoCase) {
        const std::ptrdiff_t len = CaptureLength(operand[0]);
        if (len <= 0) return 0;  // unset (an empty capture is handled by the caller)
        const unsigned char* text = start_ + owner_.startp_[operand[0]];
        const auto& flip = owner_.flipTable_;
        std::int64_t n = 0;
        while (n < max && end_ - pos >= len) {
            std::ptrdiff_t i = 0;
            if (op == OpBackRef) {
                if (std::memcmp(pos, text, static_cast<std::size_t>(len)) != 0) break;
                i = len;
            } else {
                for (; i < len; ++i)
                    if (pos[i] != text[i] && pos[i] != flip[text[i]]) break;
                if (i < len) break;
            }
            pos += len;
            ++n;
        }
        return n;
    }

    const std::int64_t left = end_ - pos;
    const std::int64_t limit = max < left ? max : left;
    std::int64_t n = 0;
    switch (op) {
    case OpAnyChar:
        n = limit;
        break;
    case OpLiteral: {
        const unsigned char c = operand[0];
        while (n < limit && pos[n] == c) ++n;
        break;
    }
    case OpLiteralNoCase: {
        const unsigned char c = operand[0];
        const unsigned char f = owner_.flipTable_[c];
        while (n < limit && (pos[n] == c || pos[n] == f)) ++n;
        break;
    }
    case OpDigit:
        while (n < limit && pos[n] >= '0' && pos[n] <= '9') ++n;
        break;
    case OpNonDigit:
        while (n < limit && (pos[n] < '0' || pos[n] > '9')) ++n;
        break;
    case OpOneOf3:
        while (n < limit && (pos[n] == operand[0] || pos[n] == operand[1] || pos[n] == operand[2])) ++n;
        break;
    case OpNoneOf3:
        while (n < limit && pos[n] != operand[0] && pos[n] != operand[1] && pos[n] != operand[2]) ++n;
        break;
    case OpOneOfSet:
        while (n < limit && InSet(operand, pos[n])) ++n;
        break;
    default:
        Fail(1000);
    }
    pos += n;
    return n;
}

bool RegExprMatcher::MatchPrim(int node) {
    choices_.clear();
    trail_.clear();
    const std::uint64_t stepLimit = owner_.stepLimit_;
    const auto& flip = owner_.flipTable_;
    auto& startp = owner_.startp_;
    auto& endp = owner_.endp_;
    const unsigned char* pos = cur_;
    const bool hasLoopHeads = !owner_.jumpBackNodes_.empty();
    bool viaJumpBack = false;

    for (;;) {
        if (node <= 0 || static_cast<std::size_t>(node) + NodeHeaderSize > progSize_) Fail(1002);
        if (stepLimit != 0 && ++steps_ > stepLimit) Fail(1017);
        if (hasLoopHeads) {
            // Entering a loop built from alternatives (not repeating it): its first iteration
            // starts here.
            const int jump = loopHeadJump_[node];
            if (jump != 0 && !viaJumpBack) {
                dirty_ = true;
                Save(jumpBackLast_[jump]);
                jumpBackLast_[jump] = pos - start_;
            }
            viaJumpBack = false;
        }
        const std::uint8_t op = prog_[node];
        const std::int32_t link = ReadInt32(prog_ + node + 1);
        const int next = link == 0 ? 0 : node + link;
        const unsigned char* operand = prog_ + node + NodeHeaderSize;

        switch (op) {
        case OpEnd:
            cur_ = pos;
            return true;
        case OpInputStart:
            if (pos != start_) goto fail;
            node = next;
            continue;
        case OpInputEnd:
            if (pos != end_) goto fail;
            node = next;
            continue;
        case OpAnyChar:
            if (pos == end_) goto fail;
            ++pos;
            node = next;
            continue;
        case OpAnyInLine: {
            if (pos == end_) goto fail;
            const unsigned char c = *pos;
            if (owner_.pairedAssigned_ && c == owner_.pairedHead_ && pos + 1 < end_ && pos[1] == owner_.pairedTail_)
                goto fail;
            if (InSep(c)) goto fail;
            ++pos;
            node = next;
            continue;
        }
        case OpLineStart: {
            if (pos != start_) {
                const unsigned char c = pos[-1];
                if (owner_.pairedAssigned_ && c == owner_.pairedTail_ && pos - start_ >= 2 &&
                    pos[-2] == owner_.pairedHead_) {
                    // after a whole pair
                } else if (owner_.pairedAssigned_ && c == owner_.pairedHead_ && pos < end_ &&
                           *pos == owner_.pairedTail_) {
                    goto fail;  // inside a pair
                } else if (!InSep(c)) {
                    goto fail;
                }
            }
            node = next;
            continue;
        }
        case OpLineEnd: {
            if (pos != end_) {
                const unsigned char c = *pos;
                if (owner_.pairedAssigned_ && c == owner_.pairedHead_ && pos + 1 < end_ &&
                    pos[1] == owner_.pairedTail_) {
                    // before a whole pair
                } else if (owner_.pairedAssigned_ && c == owner_.pairedTail_ && pos > start_ &&
                           pos[-1] == owner_.pairedHead_) {
                    goto fail;  // inside a pair
                } else if (!InSep(c)) {
                    goto fail;
                }
            }
            node = next;
            continue;
        }
        case OpWordEdge:
        case OpNotWordEdge: {
            const bool before = pos > start_ && IsWord(pos[-1]);
            const bool at = pos < end_ && IsWord(*pos);
            if ((before != at) != (op == OpWordEdge)) goto fail;
            node = next;
            continue;
        }
        case OpLiteral: {
            // The subject's terminating NUL never equals a literal's character, so the
            // comparison stops at the end by itself. A literal of character 0 matches only
            // at the end and consumes nothing.
            if (operand[0] != *pos) goto fail;
            if (operand[0] == 0) {
                node = next;
                continue;
            }
            std::size_t i = 1;
            while (operand[i] != 0 && operand[i] == pos[i]) ++i;
            if (operand[i] != 0) goto fail;
            pos += i;
            node = next;
            continue;
        }
        case OpLiteralNoCase: {
            if (operand[0] == 0) {
                if (pos != end_) goto fail;
                node = next;
                continue;
            }
            std::size_t i = 0;
            for (; operand[i] != 0; ++i) {
                if (pos + i >= end_) goto fail;
                const unsigned char d = pos[i];
                if (d != operand[i] && d != flip[operand[i]]) goto fail;
            }
            pos += i;
            node = next;
            continue;
        }
        case OpDigit:
            if (pos == end_ || *pos < '0' || *pos > '9') goto fail;
            ++pos;
            node = next;
            continue;
        case OpNonDigit:
            if (pos == end_ || (*pos >= '0' && *pos <= '9')) goto fail;
            ++pos;
            node = next;
            continue;
        case OpOneOf3:
            if (pos == end_ || (*pos != operand[0] && *pos != operand[1] && *pos != operand[2])) goto fail;
            ++pos;
            node = next;
            continue;
        case OpNoneOf3:
            if (pos == end_ || *pos == operand[0] || *pos == operand[1] || *pos == operand[2]) goto fail;
            ++pos;
            node = next;
            continue;
        case OpOneOfSet:
            if (pos == end_ || !InSet(operand, *pos)) goto fail;
            ++pos;
            node = next;
            continue;
        case OpBackRef:
        case OpBackRefNoCase: {
            const std::ptrdiff_t len = CaptureLength(operand[0]);
            if (len < 0 || end_ - pos < len) goto fail;
            const unsigned char* text = start_ + startp[operand[0]];
            if (op == OpBackRef) {
                if (std::memcmp(pos, text, static_cast<std::size_t>(len)) != 0) goto fail;
            } else {
                for (std::ptrdiff_t i = 0; i < len; ++i)
                    if (pos[i] != text[i] && pos[i] != flip[text[i]]) goto fail;
            }
            pos += len;
            node = next;
            continue;
        }
        case OpAlt:
            if (next != 0 && prog_[next] == OpAlt) Push(ChoiceAlt, next, pos);
            node += NodeHeaderSize;
            continue;
        case OpJumpBack: {
            // The end of an iteration of a loop built from alternatives. An iteration that
            // consumed nothing ends the loop: it is kept, and the match goes on after the loop
            // instead of repeating it forever.
            if (static_cast<std::size_t>(node) >= jumpBackLast_.size()) Fail(1001);
            std::ptrdiff_t& last = jumpBackLast_[node];
            if (last == pos - start_) {
                node = LoopExit(node);
                continue;
            }
            dirty_ = true;
            Save(last);
            last = pos - start_;
            node = next;
            viaJumpBack = true;
            continue;
        }
        case OpPass:
        case OpRemark:
            node = next;
            continue;
        case OpStarSimple: case OpPlusSimple: case OpCountSimple:
        case OpStarSimpleLazy: case OpPlusSimpleLazy: case OpCountSimpleLazy: {
            int repeated;
            std::int64_t min, max;
            RepeatBounds(node, repeated, min, max);
            const unsigned char* save = pos;
            std::ptrdiff_t unit = 1;
            std::int64_t n;
            const std::uint8_t repOp = prog_[repeated];
            if (repOp == OpBackRef || repOp == OpBackRefNoCase) {
                unit = CaptureLength(prog_[repeated + NodeHeaderSize]);
                if (unit == 0) {
                    // Copies of an empty capture: every count is the same match, so try one.
                    pos = save;
                    node = next;
                    continue;
                }
            }
            if (repOp == OpAnyChar) {  // the usual case, without the call
                const std::int64_t left = end_ - pos;
                n = max < left ? max : left;
                pos += n;
            } else {
                n = RegRepeat(repeated, max, pos);
            }
            if (n < min) goto fail;
            const Continuation cont = ContinuationOf(node, next);
            const int literal = cont.literal;
            const bool lazy = op == OpStarSimpleLazy || op == OpPlusSimpleLazy || op == OpCountSimpleLazy;
            // When the continuation succeeds wherever its literal occurs, the other counts are
            // never tried: no choice point for them.
            if (!lazy) {
                const std::int64_t k = NextGreedy(save, n, min, unit, literal);
                if (k < min) goto fail;
                if (k > min && !cont.certain) Push(ChoiceGreedy, node, save, k - 1, min, literal);
                pos = save + k * unit;
            } else {
                const std::int64_t k = NextLazy(save, min, n, unit, literal);
                if (k > n) goto fail;
                if (k < n && !cont.certain) Push(ChoiceLazy, node, save, k + 1, n, literal);
                pos = save + k * unit;
            }
            node = next;
            continue;
        }
        case OpLoopEntry: {
            if (loopLevel_ >= LoopMax) Fail(1014);
            Save(loopLevel_);
            ++loopLevel_;
            Save(loopCount_[loopLevel_]);
            loopCount_[loopLevel_] = 0;
            Save(loopIterStart_[loopLevel_]);
            loopIterStart_[loopLevel_] = -1;
            node = next;
            continue;
        }
        case OpLoop:
        case OpLoopLazy: {
            const std::ptrdiff_t level = loopLevel_;
            if (level <= 0) Fail(1015);
            const std::int64_t min = ReadInt32(operand);
            const std::int64_t max = ReadInt32(operand + 4);
            const int body = node + ReadInt32(operand + 8);
            const std::ptrdiff_t count = loopCount_[level];
            // An iteration that matched the empty string: more iterations could only do the
            // same, so the remaining ones count as done.
            const bool emptyIteration = count > 0 && loopIterStart_[level] == pos - start_;
            bool iterate = false;
            if (emptyIteration) {
                iterate = false;
            } else if (count < min) {
                iterate = true;
            } else if (op == OpLoop) {
                if (count < max) {
                    Push(ChoiceLoopLeave, node, pos);
                    iterate = true;
                }
            } else if (count < max) {
                Push(ChoiceLoopIterate, node, pos);
            }
            if (iterate) {
                Save(loopCount_[level]);
                loopCount_[level] = count + 1;
                Save(loopIterStart_[level]);
                loopIterStart_[level] = pos - start_;
                node = body;
            } else {
                Save(loopLevel_);
                loopLevel_ = level - 1;
                node = next;
            }
            continue;
        }
        default:
            if (IsOpen(op)) {
                const int n = op - OpOpenFirst + 1;
                dirty_ = true;
                Save(startp[n]);
                startp[n] = pos - start_;
                node = next;
                continue;
            }
            if (IsClose(op)) {
                const int n = op - OpCloseFirst + 1;
                dirty_ = true;
                Save(endp[n]);
                endp[n] = pos - start_;
                node = next;
                continue;
            }
            Fail(1001);
        }

    fail:
        // Resume the latest choice point that still has something to try.
        for (;;) {
            if (choices_.empty()) return false;
            if (++resumes_ > resumeBudget_) Fail(1016);
            const Choice c = choices_.back();
            choices_.pop_back();
            Undo(c.trail);
            pos = c.pos;
            if (c.kind == ChoiceAlt) {
                const int alt = c.node;
                const std::int32_t altLink = ReadInt32(prog_ + alt + 1);
                const int after = altLink == 0 ? 0 : alt + altLink;
                if (after != 0 && prog_[after] == OpAlt) Push(ChoiceAlt, after, pos);
                node = alt + NodeHeaderSize;
                break;
            }
            if (c.kind == ChoiceGreedy || c.kind == ChoiceLazy) {
                int repeated;
                std::int64_t min, max;
                RepeatBounds(c.node, repeated, min, max);
                const std::uint8_t repOp = prog_[repeated];
                const std::ptrdiff_t unit = (repOp == OpBackRef || repOp == OpBackRefNoCase)
                                                ? CaptureLength(prog_[repeated + NodeHeaderSize])
                                                : 1;
                if (stepLimit != 0 && ++steps_ > stepLimit) Fail(1017);
                std::int64_t k;
                if (c.kind == ChoiceGreedy) {
                    k = NextGreedy(c.pos, c.a, c.b, unit, c.literal);
                    if (k < c.b) continue;
                    if (k > c.b) Push(ChoiceGreedy, c.node, c.pos, k - 1, c.b, c.literal);
                } else {
                    k = NextLazy(c.pos, c.a, c.b, unit, c.literal);
                    if (k > c.b) continue;
                    if (k < c.b) Push(ChoiceLazy, c.node, c.pos, k + 1, c.b, c.literal);
                }
                pos = c.pos + k * unit;
                const std::int32_t repLink = ReadInt32(prog_ + c.node + 1);
                node = repLink == 0 ? 0 : c.node + repLink;
                break;
            }
            const std::ptrdiff_t level = loopLevel_;
            if (c.kind == ChoiceLoopLeave) {
                Save(loopLevel_);
                loopLevel_ = level - 1;
                const std::int32_t loopLink = ReadInt32(prog_ + c.node + 1);
                node = loopLink == 0 ? 0 : c.node + loopLink;
            } else {  // ChoiceLoopIterate
                Save(loopCount_[level]);
                ++loopCount_[level];
                Save(loopIterStart_[level]);
                loopIterStart_[level] = pos - start_;
                node = c.node + ReadInt32(prog_ + c.node + NodeHeaderSize + 8);
            }
            break;
        }
    }
}
