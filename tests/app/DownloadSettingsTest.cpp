// SPDX-License-Identifier: Apache-2.0
// The [download] settings: what a user may write there, and what is taken.
#include <gtest/gtest.h>

#include "app/settings/downloadSettings.h"

TEST(DownloadSettings, ValuesOutsideTheRangeAreClampedAndTextsReplacedOnceEach) {
    struct Case {
        const char* connections;
        const char* retries;
        int wantConnections, wantRetries;
        size_t notes;
    };
    const Case cases[] = {
        {"", "", 4, 2, 0},          // absent or empty: the defaults, silently
        {"1", "0", 1, 0, 0},        // the values that keep one photo at a time and no retries
        {" 16 ", "+10", 16, 10, 0},
        {"0", "11", 1, 10, 2},      // clamped
        {"17", "-1", 16, 0, 2},
        {"abc", "2x", 4, 2, 2},     // not numbers: the defaults
        {"4.5", "99999999999999999999", 4, 10, 2},
    };
    for (const Case& c : cases) {
        const TDownloadSettings s = ParseDownloadSettings(c.connections, c.retries);
        EXPECT_EQ(s.Connections, c.wantConnections) << c.connections;
        EXPECT_EQ(s.Retries, c.wantRetries) << c.retries;
        EXPECT_EQ(s.Notes.size(), c.notes) << c.connections << " " << c.retries;
    }
    // The note names the key, the value written and the value taken.
    const TDownloadSettings bad = ParseDownloadSettings("abc", "");
    ASSERT_EQ(bad.Notes.size(), 1u);
    EXPECT_NE(bad.Notes[0].find("connections=abc"), std::string::npos);
    EXPECT_NE(bad.Notes[0].find(" 4"), std::string::npos);
    EXPECT_TRUE(ParseDownloadSettings("", "", "").Pipelining);
    EXPECT_FALSE(ParseDownloadSettings("", "", " No ").Pipelining);
}

TEST(DownloadSettings, MaxPhotoSizeTakesAUnitAndIsBoundedWithANote) {
    const struct {
        const char* text;
        std::int64_t want;
        size_t notes;
    } cases[] = {
        {"", 64 << 20, 0},           // the default, silently
        {"64M", 64 << 20, 0},
        {"500k", 500 << 10, 0},
        {" 1048576 ", 1 << 20, 0},
        {"1G", 1LL << 30, 0},
        {"3G", 2047LL << 20, 1},     // beyond what the fetcher counts: clamped
        {"0", 1024, 1},              // clamped up
        {"12X", 64 << 20, 1},        // not a size: the default
        {"-5M", 64 << 20, 1},
    };
    for (const auto& c : cases) {
        const TDownloadSettings s = ParseDownloadSettings("", "", "", c.text);
        EXPECT_EQ(s.MaxPhotoSize, c.want) << c.text;
        EXPECT_EQ(s.Notes.size(), c.notes) << c.text;
    }
}

TEST(DownloadSettings, LowSpeedLimitAndTime) {
    struct Case {
        const char* lowSpeed;
        const char* lowSpeedTime;
        int wantLimit, wantTime;
        size_t notes;
    };
    const Case cases[] = {
        {"", "", 1024, 30, 0},            // the defaults
        {"0", "1", 0, 1, 0},              // 0 switches the check off; the shortest time
        {"2048", "3600", 2048, 3600, 0},
        {"-1", "0", 0, 1, 2},             // clamped
        {"2000000000", "3601", 1 << 30, 3600, 2},
        {"fast", "1m", 1024, 30, 2},      // not numbers
    };
    for (const Case& c : cases) {
        const TDownloadSettings s = ParseDownloadSettings("", "", "", "", c.lowSpeed, c.lowSpeedTime);
        EXPECT_EQ(s.LowSpeedLimit, c.wantLimit) << c.lowSpeed;
        EXPECT_EQ(s.LowSpeedTime, c.wantTime) << c.lowSpeedTime;
        EXPECT_EQ(s.Notes.size(), c.notes) << c.lowSpeed << " " << c.lowSpeedTime;
    }
}
