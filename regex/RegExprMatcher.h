// SPDX-License-Identifier: Apache-2.0
#pragma once
// The backtracking machine that runs a node program against the subject of a TRegExpr.
//
// The program is walked depth-first in the order a recursive matcher would take, but the
// pending alternatives live on a heap stack of choice points, and every change of state made
// after a choice point (capture slots, loop counters, the loop level) is logged on an undo
// trail. Failing pops the latest choice point and undoes the trail down to it. So no pattern
// and no subject can overflow the call stack. The owner's BacktrackLimit bounds both the
// stacks and the choice points one search may resume (error 1016), its StepLimit the visited
// nodes (error 1017).
//
// A simple repeat followed by a literal tries only the counts after which that literal occurs
// (memchr forwards for lazy repeats, a word-wise scan backwards for greedy ones); the other
// counts would fail at the literal. When nothing after that literal can fail, the first such
// count is the match and no choice point is kept for the others. A program that is only that
// - a prefix literal, group boundaries, one such repeat - runs as a straight line without the
// node walk (see Straight).
//
// An iteration of a loop that matched the empty string ends the loop (a body with width can
// only match empty through a back-reference to an empty capture, or a literal NUL at the
// end); this keeps such loops finite without changing any other match.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "regex/RegExpr.h"
#include "regex/RegExprProgram.h"
#include "regex/RegExprScan.h"

class RegExprMatcher {
public:
    explicit RegExprMatcher(TRegExpr& owner) : owner_(owner) {}

    // Prepares a search from `s` over the owner's current subject and program, whose capture
    // slots the owner has cleared: takes the tables of a new program and resets the step and
    // backtrack counts.
    void Begin(const unsigned char* s) {
        if (program_ != owner_.programVersion_) Bind();
        start_ = reinterpret_cast<const unsigned char*>(owner_.subject_.data());
        end_ = start_ + owner_.subject_.size();
        steps_ = 0;
        resumes_ = 0;
        resumeBudget_ = owner_.backtrackLimit_ + kResumesPerPosition * static_cast<std::uint64_t>(end_ - s + 1);
        // Loop marks may be left from an earlier search.
        dirty_ = !owner_.jumpBackNodes_.empty();
    }
    // Runs the program from byte 1 at `p` (inside the subject or at its end). On success the
    // owner's capture slots hold the match, slot 0 included. A failed try may leave values in
    // them: the next try clears them, and so does the owner when its search finds nothing.
    bool TryAt(const unsigned char* p) { return TryFrom(p, p, 1, 0); }
    // The same at an occurrence p of the owner's prefix literal, `length` characters, which
    // the caller has compared: when that literal is the program's first node, the match goes
    // on after it.
    bool TryAfterPrefix(const unsigned char* p, std::size_t length) {
        if (afterPrefix_ == 0) return TryAt(p);
        if (straight_.usable && owner_.stepLimit_ == 0) return RunStraight(p, p + length);
        return TryFrom(p, p + length, afterPrefix_, 2);
    }

private:
    enum ChoiceKind : std::uint8_t { ChoiceAlt, ChoiceGreedy, ChoiceLazy, ChoiceLoopLeave, ChoiceLoopIterate };

    struct Choice {
        const unsigned char* pos;      // position to resume at (simple repeats: the start)
        std::int64_t a;                // simple repeats: the next count to try
        std::int64_t b;                // greedy: the minimum; lazy: the counted maximum
        std::size_t trail;             // trail height when it was made
        std::int32_t node;
        std::int32_t literal;          // simple repeats: the literal a continuation needs, or 0
        ChoiceKind kind;
    };

    struct TrailEntry {
        std::ptrdiff_t* slot;
        std::ptrdiff_t old;
    };

    // What a search may resume besides the owner's BacktrackLimit, per position it may start
    // at: a search that backtracks a few times per character runs to its end on any subject,
    // while exponential backtracking stops after about BacktrackLimit resumes.
    static constexpr std::uint64_t kResumesPerPosition = 16;

    // The program after its prefix literal as a straight line: group boundaries that cannot
    // fail, one simple repeat of a character node (not a back-reference), the boundaries
    // before its continuation's literal, that literal, and the boundaries up to OpEnd. Such a
    // try has no choice to make: the repeat's first count (greedy: last) after which the
    // literal occurs is the match, and without one the try fails. Each boundary is an OpOpen
    // or OpClose code.
    struct Straight {
        bool usable = false;
        // The capture slots the boundaries write, in order; the first `before` before the
        // repeat, then `atLiteral` at the literal, the rest after it.
        std::vector<std::ptrdiff_t*> boundaries;
        std::size_t before = 0;
        std::size_t atLiteral = 0;
        int repeat = 0;
        int repeated = 0;
        std::int64_t min = 0;
        std::int64_t max = 0;
        bool lazy = false;
        int literal = 0;
        std::size_t literalLength = 0;
    };
    void PlanStraight();
    // Walks nodes that cannot fail from `node`, collecting the slots of group boundaries;
    // returns the first other node, or 0 when the walk leaves the program, meets a loop's head
    // (which the straight line would not mark) or runs past kWalkLimit nodes.
    int WalkBoundaries(int node, std::vector<std::ptrdiff_t*>& boundaries) const;
    // The try of TryFrom for a Straight program; pos is after the prefix literal.
    bool RunStraight(const unsigned char* p, const unsigned char* pos);

    // The most nodes one walk past nodes that cannot fail looks at (see SkipSureNodes).
    static constexpr int kWalkLimit = 16;
    regexpr::ProgramView View() const { return {prog_, progSize_}; }

    // Takes the tables of the owner's current program.
    void Bind();
    void ClearMarks();
    void CountPassed(int passed);
    // Runs the program from `node` at `pos` for a match that starts at p; `passed` nodes
    // before `node` count as visited.
    bool TryFrom(const unsigned char* p, const unsigned char* pos, int node, int passed) {
        if (dirty_) ClearMarks();
        if (owner_.stepLimit_ != 0 && passed != 0) CountPassed(passed);
        loopLevel_ = 0;
        cur_ = pos;
        if (!MatchPrim(node)) return false;
        owner_.startp_[0] = p - start_;
        owner_.endp_[0] = cur_ - start_;
        return true;
    }
    bool MatchPrim(int node);
    // Counts repetitions of the single-character node at `node` from `pos`, at most `max`,
    // and moves `pos` after them.
    std::int64_t RegRepeat(int node, std::int64_t max, const unsigned char*& pos);
    // Where the loop closed by the OpJumpBack `jump` continues after its last iteration.
    int LoopExit(int jump) const;
    // The characters a back-reference of group n stands for, or -1 when the group is not set.
    std::ptrdiff_t CaptureLength(int n) const;
    // What follows a simple repeat: the literal its continuation must match at once (0 =
    // unknown), and whether the continuation then surely reaches OpEnd (only nodes that
    // cannot fail come after the literal). Worked out once per repeat node and program.
    struct Continuation {
        int literal;
        bool certain;
    };
    static constexpr std::int32_t kCertainBit = 1 << 30;  // above every program offset
    Continuation ContinuationOf(int repeat, int next) {
        std::int32_t& cached = continuation_[static_cast<std::size_t>(repeat)];
        if (cached < 0) cached = WorkOutContinuation(next);
        return {cached & ~kCertainBit, (cached & kCertainBit) != 0};
    }
    std::int32_t WorkOutContinuation(int next) const;
    // True when the literal of `literal` occurs at p (p at most the end of the subject).
    bool LiteralAt(const unsigned char* p, int literal) const {
        // As OpLiteral compares: the subject's terminating NUL differs from every character of
        // a literal, so the comparison never runs past the end; the literal of character 0
        // matches at the end only.
        const unsigned char* text = prog_ + literal + regexpr::NodeHeaderSize;
        if (*p != text[0]) return false;
        for (std::size_t i = 1; text[i] != 0; ++i)
            if (p[i] != text[i]) return false;
        return true;
    }
    // The next count from `from` down to `min` (greedy) or up to `max` (lazy) at whose position
    // the literal occurs; outside the range when there is none.
    std::int64_t NextGreedy(const unsigned char* save, std::int64_t from, std::int64_t min, std::ptrdiff_t unit, int literal) const;
    std::int64_t NextLazy(const unsigned char* save, std::int64_t from, std::int64_t max, std::ptrdiff_t unit,
                          int literal) const {
        if (literal == 0 || from > max) return from;
        if (unit == 1) {
            const unsigned char first = prog_[literal + regexpr::NodeHeaderSize];
            const unsigned char* high = save + max + 1;
            for (const unsigned char* low = save + from; low < high;) {
                const unsigned char* hit = regexpr::FindByte(low, high, first);
                if (hit == nullptr) break;
                if (LiteralAt(hit, literal)) return hit - save;
                low = hit + 1;
            }
            return max + 1;
        }
        for (std::int64_t k = from; k <= max; ++k)
            if (LiteralAt(save + k * unit, literal)) return k;
        return max + 1;
    }
    // The repeated node of a simple repeat and its bounds.
    void RepeatBounds(int node, int& repeated, std::int64_t& min, std::int64_t& max) const {
        const std::uint8_t op = prog_[node];
        if (op == regexpr::OpCountSimple || op == regexpr::OpCountSimpleLazy) {
            min = regexpr::ReadInt32(prog_ + node + regexpr::NodeHeaderSize);
            max = regexpr::ReadInt32(prog_ + node + regexpr::NodeHeaderSize + 4);
            repeated = node + regexpr::NodeHeaderSize + regexpr::CountOperandsSize;
        } else {
            min = (op == regexpr::OpPlusSimple || op == regexpr::OpPlusSimpleLazy) ? 1 : 0;
            max = regexpr::MaxSimpleCount;
            repeated = node + regexpr::NodeHeaderSize;
        }
    }

    void Save(std::ptrdiff_t& slot) {
        if (!choices_.empty()) {
            CheckRoom();
            trail_.push_back({&slot, slot});
        }
    }
    void Push(ChoiceKind kind, int node, const unsigned char* pos, std::int64_t a = 0, std::int64_t b = 0, int literal = 0) {
        CheckRoom();
        choices_.push_back({pos, a, b, trail_.size(), node, literal, kind});
    }
    void CheckRoom();
    void Undo(std::size_t height);
    [[noreturn]] void Fail(int code);

    bool InSep(unsigned char c) const;
    bool IsWord(unsigned char c) const;

    TRegExpr& owner_;
    std::uint64_t program_ = 0;  // the owner's program version the tables below belong to
    int afterPrefix_ = 0;        // see TryAfterPrefix; 0 = the match starts at byte 1
    Straight straight_;
    const std::uint8_t* prog_ = nullptr;
    std::size_t progSize_ = 0;
    const unsigned char* start_ = nullptr;  // the subject's first character
    const unsigned char* end_ = nullptr;    // its terminating NUL
    const unsigned char* cur_ = nullptr;    // where the last MatchPrim ended
    // Set when a try wrote capture slots or loop marks that the next try must clear.
    bool dirty_ = true;

    // Loop stack: levels 1..LoopMax. Kept as ptrdiff_t so the trail can log them like slots.
    std::array<std::ptrdiff_t, regexpr::LoopMax + 1> loopCount_{};
    std::array<std::ptrdiff_t, regexpr::LoopMax + 1> loopIterStart_{};  // offset, -1 = none yet
    std::ptrdiff_t loopLevel_ = 0;
    // Per OpJumpBack node: the subject offset of its last pass on the current path, -1 = none.
    std::vector<std::ptrdiff_t> jumpBackLast_;
    // Per node: the OpJumpBack that loops back to it, 0 = none.
    std::vector<int> loopHeadJump_;
    // Per simple-repeat node: its Continuation, packed (literal | kCertainBit), -1 = not yet.
    std::vector<std::int32_t> continuation_;

    std::vector<Choice> choices_;
    std::vector<TrailEntry> trail_;
    std::uint64_t steps_ = 0;
    std::uint64_t resumes_ = 0;       // choice points resumed in this search
    std::uint64_t resumeBudget_ = 0;  // ... and how many it may resume
};
