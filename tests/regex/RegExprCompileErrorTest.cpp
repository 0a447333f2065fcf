// SPDX-License-Identifier: Apache-2.0
// Every compile error: its code, the parse position it reports and its message.
#include <gtest/gtest.h>

#include "RegExprTestSupport.h"

namespace {

struct Case {
    const char* pattern;
    const char* modifiers;
    int code;
    int pos;
};

const Case kCases[] = {
    {"(((((((((((((((a)))))))))))))))", "", 102, 15},  // the fifteenth group
    {"(a", "", 103, 2},
    {"((a)", "", 103, 4},
    {"a)", "", 104, 1},
    {"a|b)c", "", 104, 3},
    {"(a*)*", "", 106, 4},
    {"(a|)*", "", 106, 4},
    {"(a{0,3})*", "", 106, 8},
    {"(a{0})*", "", 106, 6},
    {"\\b+", "", 106, 2},
    {"^{2}", "", 106, 1},
    {"a *", "x", 106, 2},  // the blank is a remark without width
    {"x**", "", 107, 2},
    {"x*{2}", "", 107, 2},
    {"x*??", "", 107, 3},
    {"x{2}{3}", "", 107, 4},
    {"(ab)+?*", "", 107, 6},
    {"\\xg1", "", 108, 2},
    {"\\x4g", "", 108, 3},
    {"\\x{4g}", "", 108, 4},
    {"[z-a]", "", 109, 4},
    {"[b-\\x41]", "", 109, 7},
    {"[a\\", "", 110, 3},
    {"[a-\\", "", 110, 4},
    {"\\x", "", 111, 2},
    {"\\x4", "", 111, 3},
    {"\\x{4", "", 111, 4},
    {"\\x{", "", 111, 3},
    {"\\x{123}", "", 112, 5},
    {"\\x{100}", "", 112, 5},
    {"[a", "", 113, 2},
    {"[]", "", 113, 2},
    {"[^]", "", 113, 3},
    {"*a", "", 115, 1},
    {"a|+", "", 115, 3},
    {"(?", "", 127, 2},
    {"ab\\", "", 116, 3},
    {"a{123456789}", "", 122, 11},
    {"a{1,123456789}", "", 122, 13},
    {"a{3,2}", "", 124, 5},
    {"(?#note", "", 125, 7},
    {"(?z)", "", 127, 3},
    {"(?i-q)", "", 127, 5},
    {"(?i", "", 127, 3},
};

TEST(RegExprCompileError, CodesAndPositions) {
    for (const Case& c : kCases) {
        const CompileError e = CompileErrorOf(c.pattern, c.modifiers);
        EXPECT_EQ(e.code, c.code) << c.pattern;
        EXPECT_EQ(e.pos, c.pos) << c.pattern;
    }
}

TEST(RegExprCompileError, NotErrors) {
    // Near misses of the table that must compile.
    for (const char* pattern : {"(a{1,3})*", "(a*)?", "(a*)??b", "a{12345678}", "\\x{0041}", "\\x{}", "a{,3}", "a{x}",
                                "a{3", "[]a]", "[a-]", "(?)", "(?#)", "(?iRsGmX-x)", "\\1*", "(\\1)*", "a{0}"}) {
        EXPECT_EQ(CompileErrorOf(pattern).code, 0) << pattern;
    }
}

TEST(RegExprCompileError, MessageCarriesThePosition) {
    TRegExpr re;
    re.SetExpression("(a");
    for (int attempt = 0; attempt < 2; ++attempt) {  // the next search compiles and fails again
        try {
            re.Exec("a");
            FAIL() << "no error";
        } catch (const ERegExpr& e) {
            EXPECT_EQ(e.Message(), "TRegExpr(comp): ParseReg Unmatched () (pos 2)");
            EXPECT_EQ(e.ErrorId(), 103);
            EXPECT_EQ(e.ErrorPos(), 2);
            EXPECT_STREQ(e.ClassName(), "ERegExpr");
        }
        EXPECT_FALSE(re.Compiled());
        EXPECT_TRUE(re.Program().empty());
        EXPECT_EQ(re.CompilePos(), 0);
        EXPECT_EQ(re.LastErrorCode(), 103);
    }
    EXPECT_EQ(re.Expression(), "(a");
    EXPECT_EQ(re.InputString(), "a");
}

TEST(RegExprCompileError, TextsOfEveryCode) {
    TRegExpr re;
    EXPECT_EQ(re.ErrorText(0), "No errors");
    EXPECT_EQ(re.ErrorText(104), re.ErrorText(103));
    EXPECT_EQ(re.ErrorText(110), "TRegExpr(comp): Parse Atom Trailing \\");
    EXPECT_EQ(re.ErrorText(115), "TRegExpr(comp): ?+*{ Follows Nothing");
    EXPECT_EQ(re.ErrorText(126).substr(0, 60), "TRegExpr(comp): If you want take part in beta-testing BRACES");
    EXPECT_NE(re.ErrorText(126).find("'*?', '+?', '?" "?' for complex cases"), std::string::npos);
    EXPECT_EQ(re.ErrorText(1015), "TRegExpr(exec): Loop Without LoopEntry !");
    EXPECT_EQ(re.ErrorText(2000), "TRegExpr(misc): Bad p-code imported");
    for (int unknown : {-1, 1, 99, 117, 118, 120, 121, 123, 129, 1009, 1010, 1012, 1013, 1999, 2001})
        EXPECT_EQ(re.ErrorText(unknown), "Unknown error") << unknown;
}

}  // namespace
