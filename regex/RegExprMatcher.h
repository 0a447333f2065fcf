#pragma once
// The backtracking machine that runs a node program against the subject of a TRegExpr.
//
// The program is walked depth-first in the order a recursive matcher would take, but the
// pending alternatives live on a heap stack of choice points, and every change of state made
// after a choice point (capture slots, loop counters, the loop level) is logged on an undo
// trail. Failing pops the latest choice point and undoes the trail down to it. So no pattern
// and no subject can overflow the call stack; the stacks are bounded by the owner's
// BacktrackLimit (error 1016), the visited nodes by its StepLimit (error 1017).
//
// An iteration of a loop that matched the empty string ends the loop (a body with width can
// only match empty through a back-reference to an empty capture, or a literal NUL at the
// end); this keeps such loops finite without changing any other match.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "regex/RegExprProgram.h"

class TRegExpr;

class RegExprMatcher {
public:
    explicit RegExprMatcher(TRegExpr& owner) : owner_(owner) {}

    // Prepares a search over the owner's current subject and program: rebuilds the separator
    // and word-character sets from the owner's lists and resets the step count.
    void Begin();
    // Runs the program from byte 1 at `p` (inside the subject or at its end). On success the
    // owner's capture slots hold the match, slot 0 included.
    bool TryAt(const unsigned char* p);

private:
    enum ChoiceKind : std::uint8_t { ChoiceAlt, ChoiceGreedy, ChoiceLazy, ChoiceLoopLeave, ChoiceLoopIterate };

    struct Choice {
        const unsigned char* pos;      // position to resume at (simple repeats: the start)
        std::int64_t a;                // simple repeats: the next count to try
        std::int64_t b;                // greedy: the minimum; lazy: the counted maximum
        std::size_t trail;             // trail height when it was made
        std::int32_t node;
        std::int16_t hint;             // simple repeats: the character a continuation needs, or -1
        ChoiceKind kind;
    };

    struct TrailEntry {
        std::ptrdiff_t* slot;
        std::ptrdiff_t old;
    };

    bool MatchPrim(int node);
    // Counts repetitions of the single-character node at `node` from `pos`, at most `max`,
    // and moves `pos` after them.
    std::int64_t RegRepeat(int node, std::int64_t max, const unsigned char*& pos);
    // Where the loop closed by the OpJumpBack `jump` continues after its last iteration.
    int LoopExit(int jump) const;
    // The characters a back-reference of group n stands for, or -1 when the group is not set.
    std::ptrdiff_t CaptureLength(int n) const;
    // The first character the continuation at `node` must see, when that is certain; else -1.
    int Hint(int node) const;
    // The next count from `from` down to `min` (greedy) or up to `max` (lazy) whose position
    // holds the hint; outside the range when there is none.
    std::int64_t NextGreedy(const unsigned char* save, std::int64_t from, std::int64_t min, std::ptrdiff_t unit, int hint) const;
    std::int64_t NextLazy(const unsigned char* save, std::int64_t from, std::int64_t max, std::ptrdiff_t unit, int hint) const;
    // The repeated node of a simple repeat and its bounds.
    void RepeatBounds(int node, int& repeated, std::int64_t& min, std::int64_t& max) const;

    void Save(std::ptrdiff_t& slot) {
        if (!choices_.empty()) {
            CheckRoom();
            trail_.push_back({&slot, slot});
        }
    }
    void Push(ChoiceKind kind, int node, const unsigned char* pos, std::int64_t a = 0, std::int64_t b = 0, int hint = -1) {
        CheckRoom();
        choices_.push_back({pos, a, b, trail_.size(), node, static_cast<std::int16_t>(hint), kind});
    }
    void CheckRoom();
    void Undo(std::size_t height);
    [[noreturn]] void Fail(int code);

    bool InSep(unsigned char c) const { return regexpr::InSet(sepSet_.data(), c); }
    bool IsWord(unsigned char c) const { return regexpr::InSet(wordSet_.data(), c); }

    TRegExpr& owner_;
    const std::uint8_t* prog_ = nullptr;
    std::size_t progSize_ = 0;
    const unsigned char* start_ = nullptr;  // the subject's first character
    const unsigned char* end_ = nullptr;    // its terminating NUL
    const unsigned char* cur_ = nullptr;    // where the last MatchPrim ended

    std::array<std::uint8_t, 32> sepSet_{};
    std::array<std::uint8_t, 32> wordSet_{};

    // Loop stack: levels 1..LoopMax. Kept as ptrdiff_t so the trail can log them like slots.
    std::array<std::ptrdiff_t, regexpr::LoopMax + 1> loopCount_{};
    std::array<std::ptrdiff_t, regexpr::LoopMax + 1> loopIterStart_{};  // offset, -1 = none yet
    std::ptrdiff_t loopLevel_ = 0;
    // Per OpJumpBack node: the subject offset of its last pass on the current path, -1 = none.
    std::vector<std::ptrdiff_t> jumpBackLast_;
    // Per node: the OpJumpBack that loops back to it, 0 = none.
    std::vector<int> loopHeadJump_;

    std::vector<Choice> choices_;
    std::vector<TrailEntry> trail_;
    std::uint64_t steps_ = 0;
};
