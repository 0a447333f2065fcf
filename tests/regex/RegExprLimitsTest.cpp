// SPDX-License-Identifier: Apache-2.0
// Large subjects, deep backtracking and the search limits: nothing may overflow the stack or
// run away; at a limit the search raises ERegExpr and the object stays usable.
#include <gtest/gtest.h>

#include "RegExprTestSupport.h"

namespace {

int CodeOf(TRegExpr& re, std::string_view subject) {
    try {
        re.Exec(subject);
    } catch (const ERegExpr& e) {
        return e.ErrorId();
    }
    return 0;
}

TEST(RegExprLimits, DataDocumentOfTenMegabytes) {
    std::string doc = "{\"name\":\"Big\",\"mp3\":\"m.mp3\",\"list\":[";
    const int photos = 100000;
    for (int i = 0; i < photos; ++i)
        doc += "{\"id\":" + std::to_string(i) + ",\"desc\":\"" + std::string(40 + i % 13, 'd') +
               "\",\"url\":\"http://p/" + std::to_string(i) + ".jpg\"},";
    while (doc.size() < 10u * 1024 * 1024) doc += "{\"pad\":\"" + std::string(1000, 'x') + "\"},";
    doc += "]}";

    TRegExpr re;
    re.SetExpression("\"url\":\"(.*?)\"");
    int count = 0;
    std::string last;
    for (bool found = re.Exec(doc); found; found = re.ExecNext()) {
        if (count == 0) {
            EXPECT_EQ(re.SubMatch(1), "http://p/0.jpg");
        }
        last = re.SubMatch(1);
        ++count;
    }
    EXPECT_EQ(count, photos);
    EXPECT_EQ(last, "http://p/99999.jpg");

    re.SetExpression("\"mp3\":\"(.*?)\"");
    ASSERT_TRUE(re.Exec(doc));
    EXPECT_EQ(re.SubMatch(1), "m.mp3");
}

TEST(RegExprLimits, LongLoopsRunOnTheHeap) {
    std::string subject;
    for (int i = 0; i < 250000; ++i) subject += "ab";  // half a megabyte
    TRegExpr re;
    re.SetExpression("(ab)*c|(ab)*$");
    ASSERT_TRUE(re.Exec(subject));
    EXPECT_EQ(re.MatchLen(0), static_cast<int>(subject.size()));
    EXPECT_EQ(re.MatchPos(2), static_cast<int>(subject.size()) - 1);

    re.SetExpression("(a|b){1,}?$");  // a lazy counted loop over the whole subject
    ASSERT_TRUE(re.Exec(subject));
    EXPECT_EQ(re.MatchLen(0), static_cast<int>(subject.size()));
}

TEST(RegExprLimits, BacktrackLimitRaisesAndLeavesTheObjectUsable) {
    const std::string subject(10u * 1024 * 1024, 'a');
    TRegExpr re;
    re.SetExpression("(a)*[bc]");
    EXPECT_EQ(CodeOf(re, subject), 1016);  // the default limit, about a million iterations in

    re.SetBacktrackLimit(1000);
    try {
        re.Exec(subject);
        FAIL() << "no error";
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorId(), 1016);
        EXPECT_EQ(e.ErrorPos(), 0);
        EXPECT_EQ(e.Message(), "TRegExpr(exec): Backtrack Limit Exceeded");
    }
    EXPECT_FALSE(re.Program().empty());
    EXPECT_EQ(re.InputString().size(), subject.size());
    ASSERT_TRUE(re.Exec("aab"));
    EXPECT_EQ(re.SubMatch(1), "a");
}

TEST(RegExprLimits, BacktrackLimitBoundsTheChoicesResumed) {
    TRegExpr re;
    re.SetBacktrackLimit(200000);
    // Exponential backtracking with a small state: it ends at the limit instead of running on.
    re.SetExpression("(a|aa)*$");
    EXPECT_EQ(CodeOf(re, std::string(35, 'a') + "c"), 1016);
    re.SetExpression("^(a|aa)*b");
    EXPECT_EQ(CodeOf(re, std::string(35, 'a') + "c"), 1016);
    // One resume per position, far more than the limit over the subject: no error.
    re.SetBacktrackLimit(1000);
    re.SetExpression("(a|b)c");
    EXPECT_EQ(CodeOf(re, std::string(100000, 'a')), 0);
    EXPECT_TRUE(re.Exec(std::string(100000, 'a') + "bc"));
}

TEST(RegExprLimits, StepLimit) {
    TRegExpr re;
    re.SetExpression("(a|a)*[bc]");  // exponential on a run of a's
    re.SetStepLimit(200000);
    try {
        re.Exec(std::string(40, 'a'));
        FAIL() << "no error";
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorId(), 1017);
        EXPECT_EQ(e.Message(), "TRegExpr(exec): Step Limit Exceeded");
    }
    EXPECT_TRUE(re.Exec("aaab"));  // each search has its own budget
    re.SetExpression("a*a*a*a*a*[bc]");  // simple repeats count their retries as steps too
    EXPECT_EQ(CodeOf(re, std::string(200, 'a')), 1017);
}

TEST(RegExprLimits, LoopStackOfTenLevels) {
    auto nested = [](int levels) {
        std::string p = "a";
        for (int i = 0; i < levels; ++i) p = "(" + p + "){1}";
        return p;
    };
    TRegExpr re;
    re.SetExpression(nested(10));
    EXPECT_TRUE(re.Exec("a"));
    re.SetExpression(nested(11));
    try {
        re.Exec("a");
        FAIL() << "no error";
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorId(), 1014);
        EXPECT_EQ(e.Message(), "TRegExpr(exec): Loop Stack Exceeded");
    }
    re.SetExpression(nested(11));
    EXPECT_FALSE(re.Exec("b"));  // never entered: no error
}

TEST(RegExprLimits, LongPatterns) {
    std::string options;
    for (int i = 0; i < 20000; ++i) options += "a?";
    TRegExpr re;
    re.SetExpression(options + "b");
    ASSERT_TRUE(re.Exec(std::string(100, 'a') + "b"));
    EXPECT_EQ(re.MatchLen(0), 101);

    std::string alternatives = "x0";
    for (int i = 1; i < 5000; ++i) alternatives += "|x" + std::to_string(i);
    re.SetExpression(alternatives + "$");
    ASSERT_TRUE(re.Exec("..x4999"));
    EXPECT_EQ(re.MatchPos(0), 3);

    // Many alternatives inside nested groups: every one is linked to the next and the last
    // to the group's end.
    std::string inner = "x0";
    for (int i = 1; i < 20000; ++i) inner += "|x" + std::to_string(i);
    re.SetExpression("((" + inner + ")y)");
    ASSERT_TRUE(re.Exec("x19999x19998y"));
    EXPECT_EQ(re.MatchPos(0), 7);
    EXPECT_EQ(re.SubMatch(2), "x19998");
}

}  // namespace
