// SPDX-License-Identifier: Apache-2.0
// The TRegExpr object: defaults, properties, when programs are built and dropped, the
// search operations and their errors.
#include <gtest/gtest.h>

#include "RegExprTestSupport.h"

namespace {

// Runs `action`, which must raise ERegExpr; returns "code pos message".
template <typename F>
std::string Raised(F action) {
    try {
        action();
    } catch (const ERegExpr& e) {
        return std::to_string(e.ErrorId()) + " " + std::to_string(e.ErrorPos()) + " " + e.Message();
    }
    return "nothing raised";
}

TEST(RegExprInterface, Defaults) {
    TRegExpr re;
    EXPECT_FALSE(re.ModifierFlag(1));
    EXPECT_TRUE(re.ModifierFlag(2));
    EXPECT_TRUE(re.ModifierFlag(3));
    EXPECT_TRUE(re.ModifierFlag(4));
    EXPECT_FALSE(re.ModifierFlag(5));
    EXPECT_FALSE(re.ModifierFlag(6));
    EXPECT_EQ(re.ModifierStr(), "rsg-imx");
    EXPECT_EQ(re.SpaceCharList(), " \t\n\r\f");
    EXPECT_EQ(re.WordCharList(), "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_");
    EXPECT_EQ(re.LineSeparatorList(), "\r\n");
    EXPECT_EQ(re.LinePairedSeparator(), "\r\n");
    EXPECT_EQ(re.Expression(), "");
    EXPECT_FALSE(re.Compiled());
    EXPECT_TRUE(re.Program().empty());
    EXPECT_EQ(re.CaseFlipper()('q'), 'Q');
}

TEST(RegExprInterface, FlipCase) {
    EXPECT_EQ(FlipCase('a'), 'A');
    EXPECT_EQ(FlipCase('A'), 'a');
    EXPECT_EQ(FlipCase('z'), 'Z');
    EXPECT_EQ(FlipCase('5'), '5');
    EXPECT_EQ(FlipCase('@'), '@');
    EXPECT_EQ(FlipCase('['), '[');
    EXPECT_EQ(FlipCase(0xC1), 0xC1);  // code-page bytes stay as they are
    EXPECT_EQ(FlipCase(0xE1), 0xE1);
}

TEST(RegExprInterface, ModifierStrings) {
    int mods = 0;
    EXPECT_TRUE(TRegExpr::ParseModifiers("iS-gX", mods));
    EXPECT_EQ(mods, TRegExpr::ModI | TRegExpr::ModS);
    EXPECT_TRUE(TRegExpr::ParseModifiers("", mods));
    EXPECT_EQ(mods, TRegExpr::ModI | TRegExpr::ModS);
    EXPECT_TRUE(TRegExpr::ParseModifiers("-i-m", mods));
    EXPECT_EQ(mods, TRegExpr::ModS);
    EXPECT_FALSE(TRegExpr::ParseModifiers("iq", mods));
    EXPECT_EQ(mods, TRegExpr::ModS);  // unchanged by an invalid string
}

TEST(RegExprInterface, ErrorsOfTheOperations) {
    TRegExpr re;
    EXPECT_EQ(Raised([&] { re.InputString(); }), "1008 0 TRegExpr(exec): GetInputString Without InputString");
    re.SetExpression("a");
    EXPECT_EQ(Raised([&] { re.ExecPos(1); }), "1005 0 TRegExpr(exec): No Input String Specified");
    EXPECT_EQ(Raised([&] { re.ExecNext(); }), "1007 0 TRegExpr(exec): ExecNext Without Exec[Pos]");
    re.SetExpression("");
    EXPECT_EQ(Raised([&] { re.Exec("abc"); }), "1003 0 TRegExpr(exec): Not Assigned Expression Property");
    EXPECT_EQ(Raised([&] { re.SetLinePairedSeparator("aa"); }),
              "128 0 TRegExpr(comp): LinePairedSeparator must countain two different chars or no chars at all (pos 0)");
    EXPECT_EQ(Raised([&] { re.SetLinePairedSeparator("abc"); }).substr(0, 4), "128 ");
    EXPECT_EQ(Raised([&] { re.SetLinePairedSeparator("a"); }).substr(0, 4), "128 ");
    EXPECT_EQ(Raised([&] { re.SetModifierFlag(7, true); }), "1013 0 Unknown error");
    EXPECT_EQ(Raised([&] { re.ModifierFlag(0); }), "1013 0 Unknown error");
    re.SetExpression("a");
    EXPECT_FALSE(re.Exec("bbb"));
    EXPECT_EQ(Raised([&] { re.ExecNext(); }).substr(0, 5), "1007 ");
    EXPECT_EQ(Raised([&] { re.ExecPos(0); }), "1006 0 TRegExpr(exec): Offset Must Be Greater Then 0");
    EXPECT_EQ(re.LastErrorCode(), 1006);
    // The pair and the modifiers were left alone by the failed writes.
    EXPECT_EQ(re.LinePairedSeparator(), "\r\n");
    EXPECT_EQ(re.ModifierStr(), "rsg-imx");
}

TEST(RegExprInterface, ExecPosOffsets) {
    TRegExpr re;
    re.SetExpression("b");
    re.SetInputString("abcb");
    EXPECT_TRUE(re.ExecPos(1));
    EXPECT_EQ(re.MatchPos(0), 2);
    EXPECT_TRUE(re.ExecPos(3));
    EXPECT_EQ(re.MatchPos(0), 4);
    EXPECT_FALSE(re.ExecPos(5));  // the end is a position too, but holds no b
    EXPECT_FALSE(re.ExecPos(6));  // beyond the end: nothing, no error
    re.SetExpression("$");
    EXPECT_TRUE(re.ExecPos(5));
    EXPECT_EQ(re.MatchPos(0), 5);
    EXPECT_EQ(re.MatchLen(0), 0);
    re.SetExpression("^a");  // anchored: only the subject's start
    EXPECT_FALSE(re.ExecPos(2));
}

TEST(RegExprInterface, EmptyMatchesStepOn) {
    TRegExpr re;
    re.SetExpression("x*");
    ASSERT_TRUE(re.Exec("abc"));
    EXPECT_EQ(re.MatchPos(0), 1);
    for (int expected = 2; expected <= 4; ++expected) {
        ASSERT_TRUE(re.ExecNext());
        EXPECT_EQ(re.MatchPos(0), expected);
        EXPECT_EQ(re.MatchLen(0), 0);
    }
    EXPECT_FALSE(re.ExecNext());
}

TEST(RegExprInterface, SubMatchOutsideTheSlots) {
    TRegExpr re;
    re.SetExpression("\"url\":\"(.*?)\"");
    EXPECT_EQ(re.SubMatch(0), "");
    ASSERT_TRUE(re.Exec("x\"url\":\"\""));
    EXPECT_EQ(re.SubMatch(0), "\"url\":\"\"");
    EXPECT_EQ(re.SubMatch(1), "");
    EXPECT_EQ(re.MatchPos(1), 9);
    EXPECT_EQ(re.MatchLen(1), 0);
    EXPECT_EQ(re.SubMatch(2), "");
    EXPECT_EQ(re.MatchPos(2), -1);
    EXPECT_EQ(re.SubMatch(15), "");
    EXPECT_EQ(re.SubMatch(-1), "");
    EXPECT_EQ(re.MatchPos(15), -1);
    re.SetInputString("other");  // a new subject clears the slots
    EXPECT_EQ(re.SubMatch(0), "");
    EXPECT_EQ(re.MatchPos(0), -1);
}

TEST(RegExprInterface, OneObjectSeveralExpressions) {
    const std::string doc = "{\"name\":\"Album\",\"mp3\":\"m.mp3\",\"url\":\"1.jpg\",\"url\":\"2.jpg\"}";
    TRegExpr re;
    re.SetExpression("\"name\":\"(.*?)\"");
    ASSERT_TRUE(re.Exec(doc));
    EXPECT_EQ(re.SubMatch(1), "Album");
    const std::vector<std::uint8_t> nameProgram = re.Program();

    re.SetExpression("\"mp3\":\"(.*?)\"");
    EXPECT_TRUE(re.Program().empty());  // dropped at once
    EXPECT_FALSE(re.Compiled());
    ASSERT_TRUE(re.Exec(doc));
    EXPECT_EQ(re.SubMatch(1), "m.mp3");
    EXPECT_TRUE(re.Compiled());

    re.SetExpression("\"url\":\"(.*?)\"");
    ASSERT_TRUE(re.Exec(doc));
    EXPECT_EQ(re.SubMatch(1), "1.jpg");
    ASSERT_TRUE(re.ExecNext());
    EXPECT_EQ(re.SubMatch(1), "2.jpg");

    const std::vector<std::uint8_t> urlProgram = re.Program();
    re.SetExpression("\"url\":\"(.*?)\"");  // the same text keeps the program
    EXPECT_EQ(re.Program(), urlProgram);
    EXPECT_TRUE(re.Compiled());
    EXPECT_NE(urlProgram, nameProgram);
}

TEST(RegExprInterface, EmptyExpressionDropsTheProgram) {
    TRegExpr re;
    re.SetExpression("a");
    ASSERT_TRUE(re.Exec("a"));
    re.SetExpression("");
    EXPECT_TRUE(re.Program().empty());
    EXPECT_EQ(Raised([&] { re.Exec("a"); }).substr(0, 5), "1003 ");
    re.SetExpression(std::string_view("\0b", 2));  // a pattern ends at its first NUL
    EXPECT_EQ(re.Expression(), "");
}

TEST(RegExprInterface, ModifierChangeRecompilesAtTheNextSearch) {
    TRegExpr re;
    re.SetExpression("ab");
    EXPECT_FALSE(re.Exec("xAB"));
    re.SetModifierFlag(1, true);
    EXPECT_TRUE(re.Exec("xAB"));
    EXPECT_EQ(re.Program()[6], 20);  // OpLiteralNoCase
    re.SetModifierFlag(1, false);
    EXPECT_FALSE(re.Exec("xAB"));
}

TEST(RegExprInterface, ListsAndPairDropTheProgram) {
    TRegExpr re;
    re.SetExpression("\\s");
    ASSERT_TRUE(re.Exec("a b"));
    re.SetSpaceCharList("_");
    EXPECT_TRUE(re.Program().empty());
    EXPECT_FALSE(re.Exec("a b"));
    EXPECT_TRUE(re.Exec("a_b"));

    re.SetExpression("\\w+");
    re.SetWordCharList("xy");
    ASSERT_TRUE(re.Exec("abxyc"));
    EXPECT_EQ(re.SubMatch(0), "xy");
    re.SetWordCharList("");  // an empty class matches nothing
    EXPECT_FALSE(re.Exec("abxyc"));
    re.SetExpression("\\W");
    EXPECT_TRUE(re.Exec("a"));

    re.SetExpression("a");
    ASSERT_TRUE(re.Exec("a"));
    re.SetLinePairedSeparator("\r\n");  // the same pair: nothing changes
    EXPECT_FALSE(re.Program().empty());
    re.SetLinePairedSeparator("");
    EXPECT_TRUE(re.Program().empty());
    EXPECT_EQ(re.LinePairedSeparator(), "");
    ASSERT_TRUE(re.Exec("a"));
    re.SetLinePairedSeparator("");  // none assigned: nothing changes
    EXPECT_FALSE(re.Program().empty());
    re.SetLineSeparatorList("\n");
    EXPECT_TRUE(re.Program().empty());
}

TEST(RegExprInterface, SubjectEndsAtItsFirstNul) {
    TRegExpr re;
    re.SetExpression("b");
    EXPECT_FALSE(re.Exec(std::string_view("a\0b", 3)));
    EXPECT_EQ(re.InputString(), "a");
    re.SetExpression("a$");
    EXPECT_TRUE(re.Exec(std::string_view("a\0b", 3)));
}

TEST(RegExprInterface, RaiseErrorCanBeReplaced) {
    struct ECustom {
        int code;
    };
    class TCustom : public TRegExpr {
    public:
        void RaiseError(int code) override { throw ECustom{code}; }
    };
    TCustom re;
    re.SetExpression("(a");
    try {
        re.Exec("a");
        FAIL() << "no error";
    } catch (const ECustom& e) {
        EXPECT_EQ(e.code, 103);
    }

    // An override that returns does not let the operation go on.
    class TQuiet : public TRegExpr {
    public:
        void RaiseError(int code) override { last = code; }
        int last = 0;
    };
    TQuiet quiet;
    EXPECT_THROW(quiet.ExecPos(0), ERegExpr);
    EXPECT_EQ(quiet.last, 1003);
}

TEST(RegExprInterface, DumpListsProgramAndAnalysis) {
    TRegExpr re;
    re.SetExpression("x*abc");
    EXPECT_EQ(re.Dump(),
              "    1: OpAlt -> 27\n"
              "    6: OpStarSimple -> 18\n"
              "   11:   OpLiteral \"x\"\n"
              "   18: OpLiteral \"abc\" -> 27\n"
              "   27: OpEnd\n"
              "FirstChars: [ax]\n"
              "StartChar: none\n"
              "Anchored: no\n"
              "MustString: \"abc\"\n");
}

}  // namespace
