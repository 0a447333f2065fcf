// SPDX-License-Identifier: Apache-2.0
#pragma once
// Helpers shared by the engine's tests.
#include <string>
#include <string_view>

#include "regex/RegExpr.h"
#include "regex/RegExprDump.h"

// Applies a modifier string (e.g. "i", "-g", "mx") to the object's modifiers.
inline void ApplyModifiers(TRegExpr& re, std::string_view modifiers) {
    int mods = re.Modifiers();
    if (!TRegExpr::ParseModifiers(modifiers, mods)) throw std::invalid_argument(std::string(modifiers));
    for (int index = 1; index <= 6; ++index) re.SetModifierFlag(index, (mods >> (index - 1)) & 1);
}

// The program listing of `pattern` compiled with the default modifiers changed by `modifiers`.
inline std::string Listing(std::string_view pattern, std::string_view modifiers = "") {
    TRegExpr re;
    ApplyModifiers(re, modifiers);
    re.SetExpression(pattern);
    re.Prepare();
    return DumpRegExprProgram(re.Program());
}

// The error code a compile of `pattern` raises, with its position; {0, 0} when it compiles.
struct CompileError {
    int code = 0;
    int pos = 0;
};

inline CompileError CompileErrorOf(std::string_view pattern, std::string_view modifiers = "") {
    TRegExpr re;
    ApplyModifiers(re, modifiers);
    re.SetExpression(pattern);
    try {
        re.Prepare();
    } catch (const ERegExpr& e) {
        return {e.ErrorId(), e.ErrorPos()};
    }
    return {};
}
