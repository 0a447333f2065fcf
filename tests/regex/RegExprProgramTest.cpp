// SPDX-License-Identifier: Apache-2.0
// The node programs the compiler produces, byte for byte or through the listing.
#include <gtest/gtest.h>

#include <vector>

#include "RegExprTestSupport.h"

namespace {

std::vector<std::uint8_t> Bytes(std::string_view pattern) {
    TRegExpr re;
    re.SetExpression(pattern);
    re.Prepare();
    return re.Program();
}

TEST(RegExprProgram, TwoLiteralsAreOneLiteralNode) {
    const std::vector<std::uint8_t> expected = {0xD8, 0x06, 0x0D, 0x00, 0x00, 0x00, 0x08, 0x08, 0x00, 0x00,
                                                0x00, 0x61, 0x62, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes("ab"), expected);
}

TEST(RegExprProgram, StarOverOneCharacterIsASimpleRepeat) {
    const std::vector<std::uint8_t> expected = {0xD8, 0x06, 0x11, 0x00, 0x00, 0x00, 0x0A, 0x0C,
                                                0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00,
                                                0x61, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes("a*"), expected);
}

TEST(RegExprProgram, CountsAndBackwardLinksAreLittleEndian) {
    // OpCountSimple {258,70000}: counts right after the header.
    const auto counted = Bytes("a{258,70000}");
    ASSERT_GE(counted.size(), 14u);
    EXPECT_EQ(counted[6], 18);
    const std::vector<std::uint8_t> counts(counted.begin() + 11, counted.begin() + 19);
    EXPECT_EQ(counts, (std::vector<std::uint8_t>{0x02, 0x01, 0x00, 0x00, 0x70, 0x11, 0x01, 0x00}));

    // (ab)*: the OpJumpBack at 34 links 28 bytes back, to the loop's OpAlt at 6.
    const auto loop = Bytes("(ab)*");
    ASSERT_EQ(loop[34], 7);  // OpJumpBack
    EXPECT_EQ(std::vector<std::uint8_t>(loop.begin() + 35, loop.begin() + 39),
              (std::vector<std::uint8_t>{0xE4, 0xFF, 0xFF, 0xFF}));  // -28: back to the OpAlt at 6
}

TEST(RegExprProgram, ApplicationPatterns) {
    EXPECT_EQ(Listing("vphoto.swf\\?(.*?)$"),
              "    1: OpAlt -> 69\n"
              "    6: OpLiteral \"vphoto\" -> 18\n"
              "   18: OpAnyChar -> 23\n"
              "   23: OpLiteral \"swf\" -> 32\n"
              "   32: OpLiteral \"?\" -> 39\n"
              "   39: OpOpen 1 -> 44\n"
              "   44: OpAlt -> 59\n"
              "   49: OpStarSimpleLazy -> 59\n"
              "   54:   OpAnyChar\n"
              "   59: OpClose 1 -> 64\n"
              "   64: OpInputEnd -> 69\n"
              "   69: OpEnd\n");
    EXPECT_EQ(Listing("\"name\":\"(.*?)\""),
              "    1: OpAlt -> 52\n"
              "    6: OpLiteral \"\\\"name\\\":\\\"\" -> 20\n"
              "   20: OpOpen 1 -> 25\n"
              "   25: OpAlt -> 40\n"
              "   30: OpStarSimpleLazy -> 40\n"
              "   35:   OpAnyChar\n"
              "   40: OpClose 1 -> 45\n"
              "   45: OpLiteral \"\\\"\" -> 52\n"
              "   52: OpEnd\n");
    EXPECT_EQ(Listing("\"mp3\":\"(.*?)\""),
              "    1: OpAlt -> 51\n"
              "    6: OpLiteral \"\\\"mp3\\\":\\\"\" -> 19\n"
              "   19: OpOpen 1 -> 24\n"
              "   24: OpAlt -> 39\n"
              "   29: OpStarSimpleLazy -> 39\n"
              "   34:   OpAnyChar\n"
              "   39: OpClose 1 -> 44\n"
              "   44: OpLiteral \"\\\"\" -> 51\n"
              "   51: OpEnd\n");
    EXPECT_EQ(Listing("\"url\":\"(.*?)\""),
              "    1: OpAlt -> 51\n"
              "    6: OpLiteral \"\\\"url\\\":\\\"\" -> 19\n"
              "   19: OpOpen 1 -> 24\n"
              "   24: OpAlt -> 39\n"
              "   29: OpStarSimpleLazy -> 39\n"
              "   34:   OpAnyChar\n"
              "   39: OpClose 1 -> 44\n"
              "   44: OpLiteral \"\\\"\" -> 51\n"
              "   51: OpEnd\n");
}

TEST(RegExprProgram, AnalysisOfTheApplicationPatterns) {
    for (const char* pattern : {"\"name\":\"(.*?)\"", "\"mp3\":\"(.*?)\"", "\"url\":\"(.*?)\""}) {
        TRegExpr re;
        re.SetExpression(pattern);
        re.Prepare();
        EXPECT_EQ(re.StartChar(), '"') << pattern;
        EXPECT_FALSE(re.Anchored());
        EXPECT_EQ(re.MustString(), "");
        EXPECT_EQ(DumpCharSet(re.FirstChars().data()), "[\"]");
    }
    TRegExpr re;
    re.SetExpression("vphoto.swf\\?(.*?)$");
    re.Prepare();
    EXPECT_EQ(re.StartChar(), 'v');
}

struct Golden {
    const char* pattern;
    const char* modifiers;
    const char* listing;
};

const Golden kGoldens[] = {
    {"ab*", "",
     "    1: OpAlt -> 25\n    6: OpLiteral \"a\" -> 13\n   13: OpStarSimple -> 25\n   18:   OpLiteral \"b\"\n"
     "   25: OpEnd\n"},
    {"(a|bc)d", "",
     "    1: OpAlt -> 48\n    6: OpOpen 1 -> 11\n   11: OpAlt -> 23\n   16: OpLiteral \"a\" -> 36\n"
     "   23: OpAlt -> 36\n   28: OpLiteral \"bc\" -> 36\n   36: OpClose 1 -> 41\n   41: OpLiteral \"d\" -> 48\n"
     "   48: OpEnd\n"},
    {"a|b|", "",
     "    1: OpAlt -> 13\n    6: OpLiteral \"a\" -> 35\n   13: OpAlt -> 25\n   18: OpLiteral \"b\" -> 35\n"
     "   25: OpAlt -> 35\n   30: OpPass -> 35\n   35: OpEnd\n"},
    // Greedy * over a group: (x jump-back | pass).
    {"x(a|b)*y", "",
     "    1: OpAlt -> 74\n    6: OpLiteral \"x\" -> 13\n   13: OpAlt -> 57\n   18: OpOpen 1 -> 23\n"
     "   23: OpAlt -> 35\n   28: OpLiteral \"a\" -> 47\n   35: OpAlt -> 47\n   40: OpLiteral \"b\" -> 47\n"
     "   47: OpClose 1 -> 52\n   52: OpJumpBack -> 13\n   57: OpAlt -> 62\n   62: OpPass -> 67\n"
     "   67: OpLiteral \"y\" -> 74\n   74: OpEnd\n"},
    // Greedy + over a group: x (jump-back to x | pass).
    {"(ab)+c", "",
     "    1: OpAlt -> 56\n    6: OpOpen 1 -> 11\n   11: OpAlt -> 24\n   16: OpLiteral \"ab\" -> 24\n"
     "   24: OpClose 1 -> 29\n   29: OpAlt -> 39\n   34: OpJumpBack -> 6\n   39: OpAlt -> 44\n"
     "   44: OpPass -> 49\n   49: OpLiteral \"c\" -> 56\n   56: OpEnd\n"},
    {"(ab)?c", "",
     "    1: OpAlt -> 51\n    6: OpAlt -> 34\n   11: OpOpen 1 -> 16\n   16: OpAlt -> 29\n"
     "   21: OpLiteral \"ab\" -> 29\n   29: OpClose 1 -> 39\n   34: OpAlt -> 39\n   39: OpPass -> 44\n"
     "   44: OpLiteral \"c\" -> 51\n   51: OpEnd\n"},
    {"a?", "",
     "    1: OpAlt -> 28\n    6: OpAlt -> 18\n   11: OpLiteral \"a\" -> 23\n   18: OpAlt -> 23\n"
     "   23: OpPass -> 28\n   28: OpEnd\n"},
    {"a??", "", "    1: OpAlt -> 26\n    6: OpCountSimpleLazy {0,1} -> 26\n   19:   OpLiteral \"a\"\n   26: OpEnd\n"},
    {"a+?b", "",
     "    1: OpAlt -> 25\n    6: OpPlusSimpleLazy -> 18\n   11:   OpLiteral \"a\"\n   18: OpLiteral \"b\" -> 25\n"
     "   25: OpEnd\n"},
    {"a{2,5}", "", "    1: OpAlt -> 26\n    6: OpCountSimple {2,5} -> 26\n   19:   OpLiteral \"a\"\n   26: OpEnd\n"},
    {"a{3,}", "",
     "    1: OpAlt -> 26\n    6: OpCountSimple {3,2147483646} -> 26\n   19:   OpLiteral \"a\"\n   26: OpEnd\n"},
    {"\\d{2,}?", "",
     "    1: OpAlt -> 24\n    6: OpCountSimpleLazy {2,2147483646} -> 24\n   19:   OpDigit\n   24: OpEnd\n"},
    // Lazy quantifiers over a group become counted loops.
    {"(ab){2,3}?c", "",
     "    1: OpAlt -> 58\n    6: OpLoopEntry -> 34\n   11: OpOpen 1 -> 16\n   16: OpAlt -> 29\n"
     "   21: OpLiteral \"ab\" -> 29\n   29: OpClose 1 -> 34\n   34: OpLoopLazy {2,3} body 11 -> 51\n"
     "   51: OpLiteral \"c\" -> 58\n   58: OpEnd\n"},
    {"(ab)+?", "",
     "    1: OpAlt -> 51\n    6: OpLoopEntry -> 34\n   11: OpOpen 1 -> 16\n   16: OpAlt -> 29\n"
     "   21: OpLiteral \"ab\" -> 29\n   29: OpClose 1 -> 34\n   34: OpLoopLazy {1,2147483646} body 11 -> 51\n"
     "   51: OpEnd\n"},
    {"(a{1,3})*", "",
     "    1: OpAlt -> 61\n    6: OpAlt -> 51\n   11: OpOpen 1 -> 16\n   16: OpAlt -> 41\n"
     "   21: OpCountSimple {1,3} -> 41\n   34:   OpLiteral \"a\"\n   41: OpClose 1 -> 46\n"
     "   46: OpJumpBack -> 6\n   51: OpAlt -> 56\n   56: OpPass -> 61\n   61: OpEnd\n"},
    // Without s, '.' is not a single-character node: its repeats are loops.
    {".*", "-s",
     "    1: OpAlt -> 31\n    6: OpAlt -> 21\n   11: OpAnyInLine -> 16\n   16: OpJumpBack -> 6\n"
     "   21: OpAlt -> 26\n   26: OpPass -> 31\n   31: OpEnd\n"},
    {".{2}", "-s",
     "    1: OpAlt -> 33\n    6: OpLoopEntry -> 16\n   11: OpAnyInLine -> 16\n"
     "   16: OpLoop {2,2} body 11 -> 33\n   33: OpEnd\n"},
    // Without g every quantifier is lazy.
    {"a*b+c?", "-g",
     "    1: OpAlt -> 50\n    6: OpStarSimpleLazy -> 18\n   11:   OpLiteral \"a\"\n"
     "   18: OpPlusSimpleLazy -> 30\n   23:   OpLiteral \"b\"\n   30: OpCountSimpleLazy {0,1} -> 50\n"
     "   43:   OpLiteral \"c\"\n   50: OpEnd\n"},
    {"\\1(a)", "",
     "    1: OpAlt -> 34\n    6: OpBackRef \\1 -> 12\n   12: OpOpen 1 -> 17\n   17: OpAlt -> 29\n"
     "   22: OpLiteral \"a\" -> 29\n   29: OpClose 1 -> 34\n   34: OpEnd\n"},
    {"^$", "", "    1: OpAlt -> 16\n    6: OpInputStart -> 11\n   11: OpInputEnd -> 16\n   16: OpEnd\n"},
    {"^a$", "m",
     "    1: OpAlt -> 23\n    6: OpLineStart -> 11\n   11: OpLiteral \"a\" -> 18\n   18: OpLineEnd -> 23\n"
     "   23: OpEnd\n"},
    {"\\bz\\B", "",
     "    1: OpAlt -> 23\n    6: OpWordEdge -> 11\n   11: OpLiteral \"z\" -> 18\n   18: OpNotWordEdge -> 23\n"
     "   23: OpEnd\n"},
    {"\\x41\\x{42}", "", "    1: OpAlt -> 20\n    6: OpLiteral \"A\" -> 13\n   13: OpLiteral \"B\" -> 20\n   20: OpEnd\n"},
    // A '{' that starts no quantifier is literal text.
    {"a{x}", "", "    1: OpAlt -> 22\n    6: OpLiteral \"a\" -> 13\n   13: OpLiteral \"{x}\" -> 22\n   22: OpEnd\n"},
    {"a{,3}", "", "    1: OpAlt -> 23\n    6: OpLiteral \"a\" -> 13\n   13: OpLiteral \"{,3}\" -> 23\n   23: OpEnd\n"},
    {"a{3", "", "    1: OpAlt -> 21\n    6: OpLiteral \"a\" -> 13\n   13: OpLiteral \"{3\" -> 21\n   21: OpEnd\n"},
    // Classes: up to three members inline, more in a set.
    {"[]a]", "", "    1: OpAlt -> 14\n    6: OpOneOf3 ']' 'a' 'a' -> 14\n   14: OpEnd\n"},
    {"[-a]", "", "    1: OpAlt -> 14\n    6: OpOneOf3 '-' 'a' 'a' -> 14\n   14: OpEnd\n"},
    {"[a-]", "", "    1: OpAlt -> 14\n    6: OpOneOf3 '-' 'a' 'a' -> 14\n   14: OpEnd\n"},
    {"[\\D]", "", "    1: OpAlt -> 14\n    6: OpOneOf3 'D' 'D' 'D' -> 14\n   14: OpEnd\n"},
    {"[a-\\d]", "", "    1: OpAlt -> 43\n    6: OpOneOfSet [\\x2D0-9a] -> 43\n   43: OpEnd\n"},
    {"[^a-z]", "", "    1: OpAlt -> 43\n    6: OpOneOfSet [\\x00-`{-\\xFF] -> 43\n   43: OpEnd\n"},
    {"[^ab]", "", "    1: OpAlt -> 14\n    6: OpNoneOf3 'a' 'b' 'b' -> 14\n   14: OpEnd\n"},
    {"[ab]c", "i", "    1: OpAlt -> 50\n    6: OpOneOfSet [ABab] -> 43\n   43: OpLiteralNoCase \"c\" -> 50\n   50: OpEnd\n"},
    {"\\s\\W", "",
     "    1: OpAlt -> 80\n    6: OpOneOfSet [\\x09\\x0A\\x0C\\x0D\\x20] -> 43\n"
     "   43: OpOneOfSet [\\x00-/:-@[-\\x5E`{-\\xFF] -> 80\n   80: OpEnd\n"},
    // Inline modifiers leave remarks and last to the end of their group.
    {"(?i)ab(?-i)c", "",
     "    1: OpAlt -> 31\n    6: OpRemark -> 11\n   11: OpLiteralNoCase \"ab\" -> 19\n   19: OpRemark -> 24\n"
     "   24: OpLiteral \"c\" -> 31\n   31: OpEnd\n"},
    {"((?i)a)b", "",
     "    1: OpAlt -> 40\n    6: OpOpen 1 -> 11\n   11: OpAlt -> 28\n   16: OpRemark -> 21\n"
     "   21: OpLiteralNoCase \"a\" -> 28\n   28: OpClose 1 -> 33\n   33: OpLiteral \"b\" -> 40\n   40: OpEnd\n"},
    {"a(?#note)b", "",
     "    1: OpAlt -> 25\n    6: OpLiteral \"a\" -> 13\n   13: OpRemark -> 18\n   18: OpLiteral \"b\" -> 25\n"
     "   25: OpEnd\n"},
    // Extended syntax: blanks are dropped from runs, comments leave remarks.
    {"a b # note", "x", "    1: OpAlt -> 19\n    6: OpLiteral \"ab\" -> 14\n   14: OpRemark -> 19\n   19: OpEnd\n"},
    {"a b*", "x",
     "    1: OpAlt -> 25\n    6: OpLiteral \"a\" -> 13\n   13: OpStarSimple -> 25\n   18:   OpLiteral \"b\"\n"
     "   25: OpEnd\n"},
};

TEST(RegExprProgram, GoldenListings) {
    for (const Golden& g : kGoldens) {
        EXPECT_EQ(Listing(g.pattern, g.modifiers), g.listing) << "pattern " << g.pattern << " modifiers " << g.modifiers;
    }
}

TEST(RegExprProgram, GroupLimit) {
    std::string fourteen;
    for (int i = 0; i < 14; ++i) fourteen += "(";
    fourteen += "a";
    for (int i = 0; i < 14; ++i) fourteen += ")";
    EXPECT_EQ(CompileErrorOf(fourteen).code, 0);
    EXPECT_EQ(CompileErrorOf("(" + fourteen + ")").code, 102);
}

TEST(RegExprProgram, CyrillicRangesUnderR) {
    TRegExpr re;
    re.SetExpression("[\xE0-\xFF]");
    re.Prepare();
    ASSERT_EQ(re.Program()[6], 27);
    const std::uint8_t* set = &re.Program()[11];
    EXPECT_EQ(DumpCharSet(set), "[\\xB8\\xE0-\\xFF]");

    re.SetExpression("[\xC0-\xDF]");
    re.Prepare();
    EXPECT_EQ(DumpCharSet(&re.Program()[11]), "[\\xA8\\xC0-\\xDF]");

    re.SetExpression("[\xE0-\xDF]");  // both cases instead of an invalid range
    re.Prepare();
    EXPECT_EQ(DumpCharSet(&re.Program()[11]), "[\\xA8\\xB8\\xC0-\\xFF]");

    re.SetModifierFlag(2, false);
    EXPECT_EQ(CompileErrorOf("[\xE0-\xDF]", "-r").code, 109);
    EXPECT_EQ(Listing("[\xE0-\xFF]", "-r"), "    1: OpAlt -> 43\n    6: OpOneOfSet [\\xE0-\\xFF] -> 43\n   43: OpEnd\n");
}

TEST(RegExprProgram, FirstCharsStartCharAnchoredMustString) {
    TRegExpr re;
    re.SetExpression("(a*)??b");  // a loop whose body can match the empty string
    re.Prepare();
    EXPECT_EQ(DumpCharSet(re.FirstChars().data()), "[ab]");

    re.SetExpression("^abc");
    re.Prepare();
    EXPECT_TRUE(re.Anchored());
    EXPECT_EQ(re.StartChar(), 0);

    re.SetExpression("x*abc.def");  // leading repeat: the longest literal, the later one on a tie
    re.Prepare();
    EXPECT_EQ(re.MustString(), "def");
    re.SetExpression("x*abcd.def");
    re.Prepare();
    EXPECT_EQ(re.MustString(), "abcd");
    re.SetExpression("x*abc|def");  // two alternatives: none of it
    re.Prepare();
    EXPECT_EQ(re.MustString(), "");
    EXPECT_EQ(DumpCharSet(re.FirstChars().data()), "[adx]");

    re.SetExpression("a$");
    re.SetModifierFlag(5, true);
    re.SetLineSeparatorList("\n;");
    re.Prepare();
    re.SetExpression("x?$");
    re.Prepare();
    EXPECT_EQ(DumpCharSet(re.FirstChars().data()), "[\\x00\\x0A\\x0D;x]");  // separators and the pair's head
}

}  // namespace
