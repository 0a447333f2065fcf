// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the search learns from a program once, after compiling: the characters a match can
// start with, a literal start character, anchoring, a literal every match contains, a literal
// every match starts with, and the loop nodes the matcher guards against empty iterations.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace regexpr {

struct AnalysisSettings {
    std::string_view lineSeparators;
    bool pairedAssigned = false;
    unsigned char pairedHead = 0;
    const std::array<unsigned char, 256>* flip = nullptr;
};

struct Analysis {
    std::array<std::uint8_t, 32> firstChars{};  // character 0 stands for the end of the subject
    unsigned char startChar = 0;                 // 0 = none
    bool anchored = false;
    int mustString = 0;                          // program offset of the literal's text, 0 = none
    int mustLength = 0;
    // An OpLiteral or OpLiteralNoCase node (not of character 0) that every match starts with:
    // the only nodes before it are ones that consume nothing and always go on (group
    // boundaries, remarks, passes, a single alternative's head) or that test the position
    // (anchors, word edges). 0 = none.
    int prefixLiteral = 0;
    std::vector<int> jumpBacks;                  // offsets of the OpJumpBack nodes
};

// `flags` are the pattern's parse flags. An opcode that no finished program contains throws
// Failure{1001}. Terminates on every program: no node is walked twice.
Analysis Analyse(const std::vector<std::uint8_t>& program, int flags, const AnalysisSettings& settings);

}  // namespace regexpr
