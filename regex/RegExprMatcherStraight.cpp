// SPDX-License-Identifier: Apache-2.0
// Straight-line programs: a prefix literal, then group boundaries and one simple repeat whose
// continuation surely matches where its literal occurs - the shape of a key followed by a
// quoted value. Their tries need neither the node walk nor choice points.
#include <cstring>

#include "regex/RegExprMatcher.h"
#include "regex/RegExprWalk.h"

using namespace regexpr;

int RegExprMatcher::WalkBoundaries(int node, std::vector<std::ptrdiff_t*>& boundaries) const {
    return SkipSureNodes(View(), node, kWalkLimit, Skip::SureNodes, [&](int at) {
        if (!loopHeadJump_.empty() && loopHeadJump_[at] != 0) return false;
        const std::uint8_t op = prog_[at];
        if (IsOpen(op)) boundaries.push_back(&owner_.startp_[op - OpOpenFirst + 1]);
        if (IsClose(op)) boundaries.push_back(&owner_.endp_[op - OpCloseFirst + 1]);
        return true;
    });
}

void RegExprMatcher::PlanStraight() {
    straight_ = Straight();
    if (afterPrefix_ == 0) return;
    Straight plan;
    plan.repeat = WalkBoundaries(afterPrefix_, plan.boundaries);
    plan.before = plan.boundaries.size();
    if (plan.repeat == 0) return;
    const std::uint8_t op = prog_[plan.repeat];
    if (op != OpStarSimple && op != OpPlusSimple && op != OpCountSimple && op != OpStarSimpleLazy &&
        op != OpPlusSimpleLazy && op != OpCountSimpleLazy)
        return;
    plan.lazy = op == OpStarSimpleLazy || op == OpPlusSimpleLazy || op == OpCountSimpleLazy;
    RepeatBounds(plan.repeat, plan.repeated, plan.min, plan.max);
    if (prog_[plan.repeated] == OpBackRef || prog_[plan.repeated] == OpBackRefNoCase) return;
    const int next = plan.repeat + ReadInt32(prog_ + plan.repeat + 1);
    if (next == plan.repeat) return;
    const Continuation cont = ContinuationOf(plan.repeat, next);
    if (!cont.certain) return;
    // The walks below retrace what made the continuation certain, now keeping the boundaries.
    plan.literal = WalkBoundaries(next, plan.boundaries);
    plan.atLiteral = plan.boundaries.size();
    if (plan.literal != cont.literal) return;
    plan.literalLength = std::strlen(reinterpret_cast<const char*>(prog_ + plan.literal + NodeHeaderSize));
    const int afterLiteral = plan.literal + ReadInt32(prog_ + plan.literal + 1);
    const int end = afterLiteral == plan.literal ? 0 : WalkBoundaries(afterLiteral, plan.boundaries);
    if (end == 0 || prog_[end] != OpEnd) return;
    plan.usable = true;
    straight_ = std::move(plan);
}

bool RegExprMatcher::RunStraight(const unsigned char* p, const unsigned char* pos) {
    const Straight& plan = straight_;
    std::ptrdiff_t* const* boundary = plan.boundaries.data();
    std::ptrdiff_t* const* const afterRepeat = boundary + plan.before;
    std::ptrdiff_t* const* const atLiteral = boundary + plan.atLiteral;
    std::ptrdiff_t* const* const last = boundary + plan.boundaries.size();
    if (boundary != last) dirty_ = true;
    for (; boundary != afterRepeat; ++boundary) **boundary = pos - start_;

    const unsigned char* save = pos;
    std::int64_t n;
    if (prog_[plan.repeated] == OpAnyChar) {
        const std::int64_t left = end_ - pos;
        n = plan.max < left ? plan.max : left;
    } else {
        n = RegRepeat(plan.repeated, plan.max, pos);
    }
    if (n < plan.min) return false;
    const std::int64_t k =
        plan.lazy ? NextLazy(save, plan.min, n, 1, plan.literal) : NextGreedy(save, n, plan.min, 1, plan.literal);
    if (k < plan.min || k > n) return false;

    pos = save + k;
    for (; boundary != atLiteral; ++boundary) **boundary = pos - start_;
    pos += plan.literalLength;
    for (; boundary != last; ++boundary) **boundary = pos - start_;
    owner_.startp_[0] = p - start_;
    owner_.endp_[0] = pos - start_;
    return true;
}
