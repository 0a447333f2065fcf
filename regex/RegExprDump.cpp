// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprDump.h"

#include <cstdio>
#include <cstring>

#include "regex/RegExpr.h"
#include "regex/RegExprProgram.h"

using namespace regexpr;

namespace {

std::string Hex(unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", c);
    return buf;
}

std::string Quoted(const unsigned char* text, std::size_t len, char quote) {
    std::string out(1, quote);
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = text[i];
        if (c == '\\' || c == static_cast<unsigned char>(quote)) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += Hex(c);
        }
    }
    out += quote;
    return out;
}

std::string SetChar(unsigned char c) {
    if (c > 0x20 && c < 0x7F && c != '\\' && c != ']' && c != '-' && c != '^') return std::string(1, static_cast<char>(c));
    return Hex(c);
}

void DumpNode(const ProgramView& program, int node, int indent, std::string& out) {
    const std::uint8_t op = program.Op(node);
    const std::uint8_t* operand = program.OperandPtr(node);
    char head[32];
    std::snprintf(head, sizeof head, "%5d: %*s", node, indent, "");
    out += head;
    const char* name = OpcodeName(op);
    if (name == nullptr) {
        out += "?? opcode " + std::to_string(op) + "\n";
        return;
    }
    out += name;
    switch (op) {
    case OpLiteral:
    case OpLiteralNoCase:
        out += ' ';
        out += Quoted(operand, std::strlen(reinterpret_cast<const char*>(operand)), '"');
        break;
    case OpCountSimple:
    case OpCountSimpleLazy:
        out += " {" + std::to_string(ReadInt32(operand)) + "," + std::to_string(ReadInt32(operand + 4)) + "}";
        break;
    case OpLoop:
    case OpLoopLazy:
        out += " {" + std::to_string(ReadInt32(operand)) + "," + std::to_string(ReadInt32(operand + 4)) +
               "} body " + std::to_string(node + ReadInt32(operand + 8));
        break;
    case OpOneOf3:
    case OpNoneOf3:
        for (int i = 0; i < 3; ++i) out.append(1, ' ').append(Quoted(operand + i, 1, '\''));
        break;
    case OpOneOfSet:
        out.append(1, ' ').append(DumpCharSet(operand));
        break;
    case OpBackRef:
    case OpBackRefNoCase:
        out.append(" \\").append(std::to_string(operand[0]));
        break;
    default:
        if (IsOpen(op)) out.append(1, ' ').append(std::to_string(op - OpOpenFirst + 1));
        if (IsClose(op)) out.append(1, ' ').append(std::to_string(op - OpCloseFirst + 1));
        break;
    }
    if (program.Link(node) != 0) out.append(" -> ").append(std::to_string(program.Next(node)));
    out += '\n';
    if (op == OpStarSimple || op == OpPlusSimple || op == OpStarSimpleLazy || op == OpPlusSimpleLazy)
        DumpNode(program, program.Operand(node), indent + 2, out);
    if (op == OpCountSimple || op == OpCountSimpleLazy)
        DumpNode(program, program.Operand(node) + CountOperandsSize, indent + 2, out);
}

}  // namespace

std::string DumpCharSet(const std::uint8_t* set) {
    std::string out = "[";
    for (int c = 0; c < 256;) {
        if (!InSet(set, static_cast<unsigned char>(c))) {
            ++c;
            continue;
        }
        int last = c;
        while (last + 1 < 256 && InSet(set, static_cast<unsigned char>(last + 1))) ++last;
        out += SetChar(static_cast<unsigned char>(c));
        if (last == c + 1) out += SetChar(static_cast<unsigned char>(last));
        else if (last > c + 1) out.append(1, '-').append(SetChar(static_cast<unsigned char>(last)));
        c = last + 1;
    }
    return out + "]";
}

std::string DumpRegExprProgram(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return "(no program)\n";
    std::string out;
    if (bytes[0] != ProgramMarker) out += "?? marker " + Hex(bytes[0]) + "\n";
    const ProgramView program{bytes.data(), bytes.size()};
    for (int node = 1; static_cast<std::size_t>(node) < bytes.size();) {
        const int size = NodeSize(program, node);
        if (size < 0) {
            out += std::to_string(node) + ": ?? opcode " + std::to_string(bytes[node]) + " (listing stops)\n";
            break;
        }
        DumpNode(program, node, 0, out);
        node += size;
    }
    return out;
}

std::string DumpRegExprAnalysis(const TRegExpr& re) {
    std::string out = "FirstChars: " + DumpCharSet(re.FirstChars().data()) + "\n";
    const unsigned char start = re.StartChar();
    out += "StartChar: " + (start != 0 ? Quoted(&start, 1, '\'') : std::string("none")) + "\n";
    out += std::string("Anchored: ") + (re.Anchored() ? "yes" : "no") + "\n";
    const std::string must = re.MustString();
    out += "MustString: " +
           (must.empty() ? std::string("none")
                         : Quoted(reinterpret_cast<const unsigned char*>(must.data()), must.size(), '"')) +
           "\n";
    return out;
}
