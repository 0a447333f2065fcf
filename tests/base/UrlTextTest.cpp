// SPDX-License-Identifier: Apache-2.0
// Request targets in the URL grammar, whatever bytes an address holds.
#include <gtest/gtest.h>

#include "base/UrlText.h"

TEST(UrlText, EveryByteOutsideTheGrammarIsEncodedAndEscapesStay) {
    EXPECT_EQ(EncodeRequestTarget("/a b/%41%4a%zz%4/\xC3\xA9?k=v&x=[\"<>\\^`{|}]?#frag ment"),
              "/a%20b/%41%4a%25zz%254/%C3%A9?k=v&x=%5B%22%3C%3E%5C%5E%60%7B%7C%7D%5D?");
    EXPECT_EQ(EncodeRequestTarget("/-._~!$&'()*+,;=:@/?"), "/-._~!$&'()*+,;=:@/?");
    EXPECT_EQ(EncodeRequestTarget("/%"), "/%25");
    // Every byte: what comes out is in the grammar, and a second pass changes nothing.
    std::string all;
    for (int c = 0; c < 256; ++c)
        if (c != '#') all += static_cast<char>(c);
    const std::string once = EncodeRequestTarget(all);
    EXPECT_EQ(EncodeRequestTarget(once), once);
    for (const char c : once)
        EXPECT_TRUE(c > 0x20 && c < 0x7F && std::string("\"<>[\\]^`{|}").find(c) == std::string::npos) << int(c);
    EXPECT_NE(once.find("%0A%0B%0C%0D"), std::string::npos);
    EXPECT_NE(once.find("%00"), std::string::npos);

    EXPECT_TRUE(HasLineBreakOrNul("a\rb"));
    EXPECT_TRUE(HasLineBreakOrNul(std::string("a\0b", 3)));
    EXPECT_FALSE(HasLineBreakOrNul("a%0D%0Ab\t"));
    EXPECT_EQ(PrintableAddress(std::string("a\r\n\0\x7F\t b\xE5", 9)), "a%0D%0A%00%7F%09 b\xE5");
}
