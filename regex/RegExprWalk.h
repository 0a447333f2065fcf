// SPDX-License-Identifier: Apache-2.0
#pragma once
// The walk past nodes that consume nothing and cannot fail, shared by the analysis and the
// matcher's shortcuts: each needs the node a match surely reaches next, at the same position.
#include "regex/RegExprProgram.h"

namespace regexpr {

enum class Skip : bool {
    SureNodes,       // only nodes that always go on
    AlsoStartTests,  // also OpInputStart, OpLineStart, OpWordEdge, OpNotWordEdge, which may fail
};

struct VisitAll {
    bool operator()(int) const { return true; }
};

// Follows the chain from `node` past group boundaries, remarks, passes and the head of a lone
// alternative (into its branch), and past the tests `skip` adds. Returns the first node not
// passed, or 0 when the chain leaves the program or reaches more than `limit` nodes.
// `visit(node)` sees every node reached, the returned one included, before it is looked at;
// false ends the walk with 0. The bound keeps a corrupt program finite.
template <class Visit = VisitAll>
int SkipSureNodes(const ProgramView& program, int node, int limit, Skip skip, Visit&& visit = {}) {
    for (int i = 0; i < limit && program.Contains(node); ++i) {
        if (!visit(node)) return 0;
        const std::uint8_t op = program.Op(node);
        const int next = program.Next(node);
        if (op == OpAlt) {
            if (next != 0 && program.Contains(next) && program.Op(next) == OpAlt) return node;
            node = program.Operand(node);
        } else if (IsOpen(op) || IsClose(op) || op == OpRemark || op == OpPass ||
                   (skip == Skip::AlsoStartTests && (op == OpInputStart || op == OpLineStart ||
                                                     op == OpWordEdge || op == OpNotWordEdge))) {
            node = next;
        } else {
            return node;
        }
    }
    return 0;
}

}  // namespace regexpr
