// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprAnalysis.h"

#include <cstring>

#include "regex/RegExprCompiler.h"
#include "regex/RegExprProgram.h"
#include "regex/RegExprWalk.h"

namespace regexpr {

namespace {

class FirstCharCollector {
public:
    FirstCharCollector(const ProgramView& program, const AnalysisSettings& settings, std::array<std::uint8_t, 32>& set)
        : program_(program), settings_(settings), set_(set), visited_(program.size, 0) {}

    // Walks every path from byte 1. The set only grows, so a node reached a second time has
    // nothing new to add; skipping it makes loops (a counted loop whose body can match the
    // empty string, for one) finite. A work list instead of recursion keeps long patterns off
    // the stack.
    void Run() {
        pending_.push_back(1);
        while (!pending_.empty()) {
            const int node = pending_.back();
            pending_.pop_back();
            Walk(node);
        }
    }

private:
    void Add(unsigned char c) { set_[c >> 3] |= static_cast<std::uint8_t>(1u << (c & 7)); }
    void AddAll() { set_.fill(0xFF); }

    // Adds what a single-character node can start with; false for any other node.
    bool AddSingle(int node) {
        if (!program_.Contains(node)) return false;
        const std::uint8_t* operand = program_.OperandPtr(node);
        switch (program_.Op(node)) {
        case OpAnyChar:
        case OpBackRef:
        case OpBackRefNoCase:
            AddAll();
            return true;
        case OpLiteral:
            Add(operand[0]);
            return true;
        case OpLiteralNoCase:
            Add(operand[0]);
            Add((*settings_.flip)[operand[0]]);
            return true;
        case OpOneOf3:
            for (int i = 0; i < 3; ++i) Add(operand[i]);
            return true;
        case OpNoneOf3:
            for (int c = 0; c < 256; ++c)
                if (c != operand[0] && c != operand[1] && c != operand[2]) Add(static_cast<unsigned char>(c));
            return true;
        case OpOneOfSet:
            for (int i = 0; i < 32; ++i) set_[i] |= operand[i];
            return true;
        case OpDigit:
            for (int c = '0'; c <= '9'; ++c) Add(static_cast<unsigned char>(c));
            return true;
        case OpNonDigit:
            for (int c = 0; c < 256; ++c)
                if (c < '0' || c > '9') Add(static_cast<unsigned char>(c));
            return true;
        default:
            return false;
        }
    }

    void Walk(int node) {
        while (node != 0) {
            if (!program_.Contains(node)) throw Failure{1001};
            if (visited_[node]) return;
            visited_[node] = 1;
            const std::uint8_t op = program_.Op(node);
            const int next = program_.Next(node);
            switch (op) {
            case OpEnd:
            case OpAnyInLine:
                AddAll();
                return;
            case OpInputEnd:
                Add(0);
                return;
            case OpLineEnd:
                Add(0);
                for (char c : settings_.lineSeparators) Add(static_cast<unsigned char>(c));
                if (settings_.pairedAssigned) Add(settings_.pairedHead);
                return;
            case OpInputStart: case OpLineStart: case OpJumpBack: case OpPass: case OpRemark:
            case OpWordEdge: case OpNotWordEdge: case OpLoopEntry:
                node = next;
                continue;
            case OpAlt:
                if (next == 0 || program_.Op(next) != OpAlt) {
                    node = program_.Operand(node);
                    continue;
                }
                for (int alt = node; alt != 0 && program_.Contains(alt) && program_.Op(alt) == OpAlt;
                     alt = program_.Next(alt))
                    pending_.push_back(program_.Operand(alt));
                return;
            case OpStarSimple: case OpStarSimpleLazy:
                if (!AddSingle(program_.Operand(node))) throw Failure{1001};
                node = next;
                continue;
            case OpPlusSimple: case OpPlusSimpleLazy:
                if (!AddSingle(program_.Operand(node))) throw Failure{1001};
                return;
            case OpCountSimple: case OpCountSimpleLazy:
                if (!AddSingle(program_.Operand(node) + CountOperandsSize)) throw Failure{1001};
                if (ReadInt32(program_.OperandPtr(node)) != 0) return;
                node = next;
                continue;
            case OpLoop: case OpLoopLazy:
                pending_.push_back(node + ReadInt32(program_.OperandPtr(node) + 8));
                if (ReadInt32(program_.OperandPtr(node)) != 0) return;
                node = next;
                continue;
            default:
                if (IsOpen(op) || IsClose(op)) {
                    node = next;
                    continue;
                }
                if (AddSingle(node)) return;
                throw Failure{1001};
            }
        }
    }

    const ProgramView& program_;
    const AnalysisSettings& settings_;
    std::array<std::uint8_t, 32>& set_;
    std::vector<std::uint8_t> visited_;
    std::vector<int> pending_;
};

}  // namespace

Analysis Analyse(const std::vector<std::uint8_t>& bytes, int flags, const AnalysisSettings& settings) {
    Analysis result;
    const ProgramView program{bytes.data(), bytes.size()};
    FirstCharCollector(program, settings, result.firstChars).Run();

    // With a single top-level alternative, its first node and its chain tell more.
    const int first = 1;
    const int afterFirst = program.Next(first);
    if (afterFirst != 0 && program.Op(afterFirst) == OpEnd) {
        const int scan = program.Operand(first);
        if (program.Op(scan) == OpLiteral) result.startChar = program.OperandPtr(scan)[0];
        else if (program.Op(scan) == OpInputStart) result.anchored = true;

        if (flags & FlagLeadRepeat) {
            // The longest literal on the chain; the later one wins a tie. Links on the top-level
            // chain only point forward, but a bound keeps a corrupt program finite.
            std::size_t steps = 0;
            for (int node = scan; node != 0 && program.Contains(node) && steps < bytes.size();
                 node = program.Next(node), ++steps) {
                if (program.Op(node) != OpLiteral) continue;
                const int len = static_cast<int>(std::strlen(reinterpret_cast<const char*>(program.OperandPtr(node))));
                if (len >= result.mustLength) {
                    result.mustString = program.Operand(node);
                    result.mustLength = len;
                }
            }
            if (result.mustLength == 0) result.mustString = 0;
        }
    }

    // The literal every match starts with: the first node past those that cannot fail and the
    // start tests. Links on that path only point forward on a finished program.
    const int lead = SkipSureNodes(program, 1, 64, Skip::AlsoStartTests);
    if (lead != 0 && (program.Op(lead) == OpLiteral || program.Op(lead) == OpLiteralNoCase) &&
        program.OperandPtr(lead)[0] != 0)
        result.prefixLiteral = lead;

    for (int node = 1; node > 0 && static_cast<std::size_t>(node) < bytes.size();) {
        const int size = NodeSize(program, node);
        if (size < 0) break;
        if (program.Op(node) == OpJumpBack) result.jumpBacks.push_back(node);
        node += size;
    }
    return result;
}

}  // namespace regexpr
