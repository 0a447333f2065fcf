// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "app/common/commonFunc.h"

TEST(UrlEncode, SpacesFollowTheFlag) {
    EXPECT_EQ(UrlEncode("a b", true), "a+b");
    EXPECT_EQ(UrlEncode("a b", false), "a%20b");
    EXPECT_EQ(UrlEncode("", true), "");
}

TEST(UrlEncode, ReservedAndHighBytesAreHexEncoded) {
    EXPECT_EQ(UrlEncode("h://x/y?z=1", true), "h%3A%2F%2Fx%2Fy%3Fz%3D1");
    EXPECT_EQ(UrlEncode("\xD5\xFD", true), "%D5%FD");
    EXPECT_EQ(UrlEncode("~", true), "%7E");
    EXPECT_EQ(UrlEncode("-._AZaz09", true), "-._AZaz09");
    EXPECT_EQ(UrlEncode(std::string("a\0b", 3), true), "a%00b");
    EXPECT_EQ(UrlEncode("&=+%", false), "%26%3D%2B%25");
}
