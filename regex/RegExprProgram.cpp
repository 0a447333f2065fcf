// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprProgram.h"

namespace regexpr {

const char* OpcodeName(std::uint8_t op) {
    switch (op) {
    case OpEnd: return "OpEnd";
    case OpInputStart: return "OpInputStart";
    case OpInputEnd: return "OpInputEnd";
    case OpAnyChar: return "OpAnyChar";
    case OpAlt: return "OpAlt";
    case OpJumpBack: return "OpJumpBack";
    case OpLiteral: return "OpLiteral";
    case OpPass: return "OpPass";
    case OpStarSimple: return "OpStarSimple";
    case OpPlusSimple: return "OpPlusSimple";
    case OpDigit: return "OpDigit";
    case OpNonDigit: return "OpNonDigit";
    case OpCountSimple: return "OpCountSimple";
    case OpRemark: return "OpRemark";
    case OpLiteralNoCase: return "OpLiteralNoCase";
    case OpLoopEntry: return "OpLoopEntry";
    case OpLoop: return "OpLoop";
    case OpOneOf3: return "OpOneOf3";
    case OpNoneOf3: return "OpNoneOf3";
    case OpOneOfSet: return "OpOneOfSet";
    case OpBackRef: return "OpBackRef";
    case OpBackRefNoCase: return "OpBackRefNoCase";
    case OpStarSimpleLazy: return "OpStarSimpleLazy";
    case OpPlusSimpleLazy: return "OpPlusSimpleLazy";
    case OpCountSimpleLazy: return "OpCountSimpleLazy";
    case OpLoopLazy: return "OpLoopLazy";
    case OpLineStart: return "OpLineStart";
    case OpLineEnd: return "OpLineEnd";
    case OpAnyInLine: return "OpAnyInLine";
    case OpWordEdge: return "OpWordEdge";
    case OpNotWordEdge: return "OpNotWordEdge";
    default:
        if (IsOpen(op)) return "OpOpen";
        if (IsClose(op)) return "OpClose";
        return nullptr;
    }
}

int NodeSize(const ProgramView& program, int node) {
    if (!program.Contains(node)) return -1;
    const std::size_t room = program.size - static_cast<std::size_t>(node) - NodeHeaderSize;
    const std::uint8_t op = program.Op(node);
    int operands = 0;
    switch (op) {
    case OpLiteral:
    case OpLiteralNoCase: {
        // A one-character literal always takes two bytes, even for character 0.
        const void* nul = std::memchr(program.OperandPtr(node), 0, room);
        if (nul == nullptr) return -1;
        const int len = static_cast<int>(static_cast<const std::uint8_t*>(nul) - program.OperandPtr(node));
        operands = len + 1 < 2 ? 2 : len + 1;
        break;
    }
    case OpStarSimple: case OpPlusSimple: case OpStarSimpleLazy: case OpPlusSimpleLazy: {
        if (room < NodeHeaderSize || !IsSingleCharOp(program.Op(program.Operand(node)))) return -1;
        const int inner = NodeSize(program, program.Operand(node));
        if (inner < 0) return -1;
        operands = inner;
        break;
    }
    case OpCountSimple: case OpCountSimpleLazy: {
        if (room < CountOperandsSize + NodeHeaderSize ||
            !IsSingleCharOp(program.Op(program.Operand(node) + CountOperandsSize)))
            return -1;
        const int inner = NodeSize(program, program.Operand(node) + CountOperandsSize);
        if (inner < 0) return -1;
        operands = CountOperandsSize + inner;
        break;
    }
    case OpLoop: case OpLoopLazy: operands = LoopOperandsSize; break;
    case OpOneOf3: case OpNoneOf3: operands = OneOf3OperandSize; break;
    case OpOneOfSet: operands = SetOperandSize; break;
    case OpBackRef: case OpBackRefNoCase: operands = 1; break;
    default:
        if (OpcodeName(op) == nullptr) return -1;
        break;
    }
    if (static_cast<std::size_t>(operands) > room) return -1;
    return NodeHeaderSize + operands;
}

}  // namespace regexpr
