// SPDX-License-Identifier: Apache-2.0
// Matching: the application's patterns, line and word rules, loops and back-references.
#include <gtest/gtest.h>

#include "RegExprTestSupport.h"

namespace {

// The whole match and group 1 of the first match, or "-" when nothing matched.
std::string First(std::string_view pattern, std::string_view subject, std::string_view modifiers = "") {
    TRegExpr re;
    ApplyModifiers(re, modifiers);
    re.SetExpression(pattern);
    if (!re.Exec(subject)) return "-";
    return std::to_string(re.MatchPos(0)) + ":" + re.SubMatch(0) + "|" + re.SubMatch(1);
}

TEST(RegExprMatcher, ViewerAddress) {
    const char* pattern = "vphoto.swf\\?(.*?)$";
    TRegExpr re;
    re.SetExpression(pattern);
    ASSERT_TRUE(re.Exec("http://host/x/vphoto.swf?uin=12345&fid=678"));
    EXPECT_EQ(re.SubMatch(1), "uin=12345&fid=678");
    // '.' takes line breaks and '$' is the very end only.
    ASSERT_TRUE(re.Exec("http://host/vphoto.swf?uin=12345&fid=678\r\n"));
    EXPECT_EQ(re.SubMatch(1), "uin=12345&fid=678\r\n");
    ASSERT_TRUE(re.Exec("vphotoXswf?a=1"));
    EXPECT_EQ(re.SubMatch(1), "a=1");
    EXPECT_FALSE(re.Exec("VPHOTO.SWF?a=1"));
    EXPECT_FALSE(re.Exec("http://host/vphoto.swf"));
    ASSERT_TRUE(re.Exec("a/vphoto.swf?uin=1&fid=2 b/vphoto.swf?uin=3&fid=4"));
    EXPECT_EQ(re.MatchPos(0), 3);
    EXPECT_EQ(re.SubMatch(1), "uin=1&fid=2 b/vphoto.swf?uin=3&fid=4");
    EXPECT_FALSE(re.Exec(""));
}

TEST(RegExprMatcher, DataDocumentValues) {
    EXPECT_EQ(First("\"name\":\"(.*?)\"", "{\"name\":\"Trip\",\"url\":\"a.jpg\"}"), "2:\"name\":\"Trip\"|Trip");
    EXPECT_EQ(First("\"name\":\"(.*?)\"", "\"name\":\"\""), "1:\"name\":\"\"|");
    EXPECT_EQ(First("\"name\":\"(.*?)\"", "\"name\":\"a\\\"b\""), "1:\"name\":\"a\\\"|a\\");
    EXPECT_EQ(First("\"name\":\"(.*?)\"", "\"name\":\"a\r\nb\""), "1:\"name\":\"a\r\nb\"|a\r\nb");
    EXPECT_EQ(First("\"name\":\"(.*?)\"", "\"Name\":\"x\""), "-");
    EXPECT_EQ(First("\"name\":\"(.*?)\"", "\"name\" : \"x\""), "-");
    EXPECT_EQ(First("\"mp3\":\"(.*?)\"", "\"mp3\":\"http://m/a.mp3\","), "1:\"mp3\":\"http://m/a.mp3\"|http://m/a.mp3");
    EXPECT_EQ(First("\"url\":\"(.*?)\"", ""), "-");
    EXPECT_EQ(First("\"url\":\"(.*?)\"", "\"url\":\"unterminated"), "-");
}

TEST(RegExprMatcher, EveryPhotoAddressInOrder) {
    TRegExpr re;
    re.SetExpression("\"url\":\"(.*?)\"");
    ASSERT_TRUE(re.Exec("[{\"url\":\"a.jpg\"},{\"url\":\"\"},{\"name\":\"n\",\"url\":\"c.jpg\"}]"));
    EXPECT_EQ(re.SubMatch(1), "a.jpg");
    ASSERT_TRUE(re.ExecNext());
    EXPECT_EQ(re.SubMatch(1), "");
    EXPECT_EQ(re.SubMatch(0), "\"url\":\"\"");
    ASSERT_TRUE(re.ExecNext());
    EXPECT_EQ(re.SubMatch(1), "c.jpg");
    EXPECT_FALSE(re.ExecNext());
    for (int n = 0; n < 15; ++n) EXPECT_EQ(re.MatchPos(n), -1) << n;
}

TEST(RegExprMatcher, LinesAndPairedSeparator) {
    EXPECT_EQ(First("^b", "a\r\nb", "m"), "4:b|");
    EXPECT_EQ(First("^\\n", "a\r\nb", "m"), "-");  // no line starts inside the pair
    EXPECT_EQ(First("^b", "a\r\nb"), "-");
    EXPECT_EQ(First("a$", "a\r\nb", "m"), "1:a|");
    EXPECT_EQ(First("\\r$", "a\r\nb", "m"), "-");  // no line ends inside the pair
    EXPECT_EQ(First("^$", "a\n\nb", "m"), "3:|");
    EXPECT_EQ(First("^b", "a\rb", "m"), "3:b|");
    EXPECT_EQ(First("b$", "ab\n", "m"), "2:b|");
    EXPECT_EQ(First("b$", "ab\n"), "-");
    EXPECT_EQ(First("a.b", "a\nb", "-s"), "-");
    EXPECT_EQ(First("a.b", "a\nb"), "1:a\nb|");
    EXPECT_EQ(First("a.+", "xab\r\nc", "-s"), "2:ab|");

    // With neither separators nor a pair, ^ and $ stay whole-subject anchors under m.
    TRegExpr re;
    re.SetModifierFlag(5, true);
    re.SetLineSeparatorList("");
    re.SetLinePairedSeparator("");
    re.SetExpression("^b");
    EXPECT_FALSE(re.Exec("a\nb"));
    // A pair alone still makes lines; its characters are not separators one by one.
    re.SetLinePairedSeparator("xy");
    EXPECT_TRUE(re.Exec("axyb"));
    EXPECT_FALSE(re.Exec("axb"));
    re.SetExpression("a$");
    EXPECT_TRUE(re.Exec("axyb"));
    re.SetExpression("^y");
    EXPECT_FALSE(re.Exec("axyb"));
}

TEST(RegExprMatcher, WordEdges) {
    EXPECT_EQ(First("\\bcat\\b", "a cat."), "3:cat|");
    EXPECT_EQ(First("\\bcat\\b", "concat"), "-");
    EXPECT_EQ(First("\\Bcat", "concat"), "4:cat|");
    EXPECT_EQ(First("\\b", ""), "-");
    EXPECT_EQ(First("\\B", ""), "1:|");
    EXPECT_EQ(First("t\\b", "cat"), "3:t|");
    TRegExpr re;
    re.SetWordCharList("ab");
    re.SetExpression("\\bc");
    EXPECT_TRUE(re.Exec("abc"));
}

TEST(RegExprMatcher, CountedLoops) {
    TRegExpr re;
    re.SetExpression("(ab){2,3}?c");
    ASSERT_TRUE(re.Exec("ababababc"));
    EXPECT_EQ(re.MatchPos(0), 3);
    EXPECT_EQ(re.SubMatch(0), "abababc");
    EXPECT_EQ(re.SubMatch(1), "ab");
    EXPECT_EQ(re.MatchPos(1), 7);

    EXPECT_EQ(First("(ab){2,3}c", "ababababc"), "3:abababc|ab");
    EXPECT_EQ(First("(a|b){2}", "xaby"), "2:ab|b");
    EXPECT_EQ(First("(a|b){3}?", "xab"), "-");
    EXPECT_EQ(First("((a){2}b){2}", "aabaab"), "1:aabaab|aab");
    EXPECT_EQ(First("(a+?)+?b", "aaab"), "1:aaab|a");
    EXPECT_EQ(First("x(ab)*?y", "xababy"), "1:xababy|ab");
    EXPECT_EQ(First("(a|ab)(c|bcd)(d*)", "abcd"), "1:abcd|a");
    EXPECT_EQ(First("(a*)??b", "aab"), "1:aab|aa");
}

TEST(RegExprMatcher, SimpleRepeats) {
    EXPECT_EQ(First("a*", "bbb"), "1:|");
    EXPECT_EQ(First("ba{2,3}", "baaaa"), "1:baaa|");
    EXPECT_EQ(First("ba{2,3}?", "baaaa"), "1:baa|");
    EXPECT_EQ(First("a{0}b", "ab"), "2:b|");
    EXPECT_EQ(First("[ab]+?c", "xababc"), "2:ababc|");
    EXPECT_EQ(First("\\d+\\D", "ab12c"), "3:12c|");
    EXPECT_EQ(First("x.*y", "x1y2y3"), "1:x1y2y|");
    EXPECT_EQ(First("x.*?y", "x1y2y3"), "1:x1y|");
    EXPECT_EQ(First("(a*)b", "aaab"), "1:aaab|aaa");
    EXPECT_EQ(First("a*?$", "aaa"), "1:aaa|");
    EXPECT_EQ(First("(?i)a+", "xAaAb"), "2:AaA|");
    EXPECT_EQ(First("[^a]*", "bca"), "1:bc|");
}

TEST(RegExprMatcher, CaseInsensitiveComparesOnlyThePatternSide) {
    EXPECT_EQ(First("ab", "xAB", "i"), "2:AB|");
    EXPECT_EQ(First("(a)\\1", "aA", "i"), "1:aA|a");
    EXPECT_EQ(First("(A)\\1", "Aa", "i"), "1:Aa|A");
    EXPECT_EQ(First("(a)\\1", "aA"), "-");
    EXPECT_EQ(First("(?i)ab(?-i)c", "ABc"), "1:ABc|");
    EXPECT_EQ(First("(?i)ab(?-i)c", "ABC"), "-");
    EXPECT_EQ(First("((?i)a)b", "AB"), "-");
    EXPECT_EQ(First("((?i)a)b", "Ab"), "1:Ab|A");
    // A flipper that maps x to y: the subject's y matches a pattern x, not the other way round.
    TRegExpr re;
    re.SetCaseFlipper([](unsigned char c) -> unsigned char { return c == 'x' ? 'y' : c; });
    re.SetModifierFlag(1, true);
    re.SetExpression("x");
    EXPECT_TRUE(re.Exec("y"));
    re.SetExpression("y");
    EXPECT_FALSE(re.Exec("x"));
}

TEST(RegExprMatcher, BackReferences) {
    EXPECT_EQ(First("(a+)b\\1", "aabaa"), "1:aabaa|aa");
    EXPECT_EQ(First("(a)|\\1", "b"), "-");  // a group that did not take part fails the reference
    EXPECT_EQ(First("(a)\\1*", "aaaa"), "1:aaaa|a");
    EXPECT_EQ(First("(ab)\\1{2}", "abababab"), "1:ababab|ab");
    EXPECT_EQ(First("(ab)\\1*?c", "ababc"), "1:ababc|ab");
    EXPECT_EQ(First("(ab)\\1+", "ab"), "-");
    EXPECT_EQ(First("(a)\\1", "a"), "-");  // the copy would run past the end
}

TEST(RegExprMatcher, RepeatedBackReferencesTerminate) {
    // An empty capture repeated: every count is the same match.
    EXPECT_EQ(First("(a*)b\\1*c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b\\1+c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b\\1{3,}c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b(\\1)*c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b(\\1)+c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b(\\1){5,}c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b(\\1)*?c", "bc"), "1:bc|");
    EXPECT_EQ(First("(a*)b(x|\\1)*c", "bxxc"), "1:bxxc|");
    EXPECT_EQ(First("(a*)b(\\1|x)*c", "bxxc"), "1:bxxc|");
    // A reference to a group that has not been set counts no copies.
    EXPECT_EQ(First("\\1*a", "a"), "1:a|");
    EXPECT_EQ(First("\\2+a(b)", "ab"), "-");
    // A reference inside its own group sees the previous iteration.
    EXPECT_EQ(First("(a\\1?){3}", "aaaaaa"), "1:aaa|a");
    // Copies stop at the end of the subject.
    EXPECT_EQ(First("(aa)\\1*", "aaaaa"), "1:aaaa|aa");
    EXPECT_EQ(First("(aa)\\1+?$", "aaaaaaa"), "2:aaaaaa|aa");
}

TEST(RegExprMatcher, EmptyLiteralMatchesOnlyAtTheEnd) {
    EXPECT_EQ(First("a\\x00", "ab"), "-");
    EXPECT_EQ(First("b\\x{}", "ab"), "2:b|");
    EXPECT_EQ(First("(\\x{})*b", "b"), "1:b|");
    EXPECT_EQ(First("(\\x{})*$", "ab"), "3:|");
}

}  // namespace
