// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "base/Exception.h"
#include "base/StringList.h"
#include "base/SysUtils.h"

TEST(SysUtils, StrToIntAcceptsSignsAndBlanks) {
    EXPECT_EQ(StrToInt("12"), 12);
    EXPECT_EQ(StrToInt("   12  "), 12);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("+2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(SysUtils, StrToIntRejectsWhatIsNotANumber) {
    for (const char* bad : {"", " ", "1x", "x1", "2147483648", "-2147483649", "99999999999999999999", "1 2", "-"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

TEST(SysUtils, CaseConversionLeavesNonAsciiBytesAlone) {
    EXPECT_EQ(LowerCase("AbC\xD5\xFD"), "abc\xD5\xFD");
    EXPECT_EQ(UpperCase("abc\xB6\xE0"), "ABC\xB6\xE0");
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
}

TEST(StringList, IndexOutsideRaises) {
    TStringList l;
    l.Add("a");
    l.Add("b");
    EXPECT_EQ(l[1], "b");
    EXPECT_EQ(l.Text(), "a\r\nb\r\n");
    EXPECT_THROW(l[2], EListError);
    EXPECT_THROW(l[-1], EListError);
    try {
        l[5];
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (5)");
    }
}
