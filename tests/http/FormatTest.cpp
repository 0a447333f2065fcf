// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "http/HttpProtFormat.h"

TEST(EncodeBase64, Rfc2045Vectors) {
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("f"), "Zg==");
    EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
    EXPECT_EQ(EncodeBase64("foob"), "Zm9vYg==");
    EXPECT_EQ(EncodeBase64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(EncodeBase64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(EncodeBase64(std::string("\xff\xfe\x00", 3)), "//4A");
    EXPECT_EQ(EncodeBase64(std::string(100, 'x')).find('\n'), std::string::npos);
}

TEST(FormatHttpDate, WeekdayMonthAndTime) {
    // 1999-06-09 is day 36320; 08:12:31 is 29551 s into the day.
    EXPECT_EQ(FormatHttpDate(36320 + 29551.0 / 86400), "Wed, 09 Jun 1999 08:12:31");
    EXPECT_EQ(FormatHttpDate(2), "Mon, 01 Jan 1900 00:00:00");
    EXPECT_EQ(FormatHttpDate(0), "Sat, 30 Dec 1899 00:00:00");
    // 2000-02-29 (leap day) at 23:59:59.
    EXPECT_EQ(FormatHttpDate(36585 + 86399.0 / 86400), "Tue, 29 Feb 2000 23:59:59");
}
