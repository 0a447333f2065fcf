// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "app/window/linkList.h"
#include "base/StringList.h"
#include "platform/Encoding.h"

namespace {
std::vector<std::string> Split(const std::string& text) {
    TStringList l;
    SplitLinkText(text, l);
    return {l.begin(), l.end()};
}
}  // namespace

TEST(LinkList, SplitsAtBarsAndLineEnds) {
    const std::vector<std::string> want{"A", "ua", "B", "ub", "C", "uc"};
    EXPECT_EQ(Split("A|ua|B|ub|C|uc"), want);
    EXPECT_EQ(Split("A|ua\r\nB|ub\nC|uc\r\n"), want);
    EXPECT_EQ(Split("A||B"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Split("\r\n\r\n|"), std::vector<std::string>{});
    EXPECT_EQ(Split(""), std::vector<std::string>{});
}

TEST(LinkList, QuotedRunsHoldSeparatorsAndKeepTheirQuotes) {
    EXPECT_EQ(Split("\"a|b\"|u|'c\r\nd'|v"), (std::vector<std::string>{"\"a|b\"", "u", "'c\r\nd'", "v"}));
    EXPECT_EQ(Split("x\"y|z"), (std::vector<std::string>{"x\"y|z"}));  // unclosed: runs to the end
    EXPECT_EQ(Split("it's|\"q'\"|w"), (std::vector<std::string>{"it's|\"q'\"|w"}));
}

TEST(LinkList, Utf8DecodingFollowsTheServerRules) {
    EXPECT_EQ(DecodeLinkText("ab"), U"ab");
    EXPECT_EQ(DecodeLinkText("\xE4\xB8\xAD|\xC3\xA9"), U"\u4E2D|\u00E9");
    EXPECT_EQ(DecodeLinkText("ok\xD6\xD0"), U"");   // GBK: lead followed by a byte outside 0x80..0xBF
    EXPECT_EQ(DecodeLinkText("ok\xE4\xB8"), U"");   // cut off by the end
    EXPECT_EQ(UnicodeToAnsi(DecodeLinkText("\xE4\xB8\xAD\xE6\x96\x87")), "\xD6\xD0\xCE\xC4");
}

TEST(LinkList, OnlyWebAddressesMayBeOpened) {
    EXPECT_TRUE(IsOpenableLinkAddress("http://example.test/a"));
    EXPECT_TRUE(IsOpenableLinkAddress(" HTTPS://example.test/"));
    for (const char* bad : {"file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)", "ftp://x/", "", "httpx://a"})
        EXPECT_FALSE(IsOpenableLinkAddress(bad)) << bad;
}
