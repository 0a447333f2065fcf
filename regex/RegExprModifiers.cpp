// SPDX-License-Identifier: Apache-2.0
// Modifier strings, as written in inline (?...) groups.
#include "regex/RegExprProgram.h"

namespace regexpr {

namespace {

int ModifierBit(char c) {
    switch (c) {
    case 'i': case 'I': return ModI;
    case 'r': case 'R': return ModR;
    case 's': case 'S': return ModS;
    case 'g': case 'G': return ModG;
    case 'm': case 'M': return ModM;
    case 'x': case 'X': return ModX;
    default: return 0;
    }
}

constexpr char kLetters[] = "irsgmx";

}  // namespace

bool ParseModifierString(std::string_view text, int& modifiers) {
    int result = modifiers;
    bool clearing = false;
    for (char c : text) {
        if (c == '-') {
            clearing = true;
            continue;
        }
        const int bit = ModifierBit(c);
        if (bit == 0) return false;
        if (clearing) result &= ~bit;
        else result |= bit;
    }
    modifiers = result;
    return true;
}

std::string ModifierString(int modifiers) {
    std::string on;
    std::string off;
    for (int i = 0; i < 6; ++i) ((modifiers >> i) & 1 ? on : off) += kLetters[i];
    return off.empty() ? on : on + "-" + off;
}

}  // namespace regexpr
