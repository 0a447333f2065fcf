// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>

#include "http/HttpProtRcvBuffer.h"

namespace {
void Put(THttpRcvBuffer& b, const std::string& bytes) {
    ASSERT_LE(static_cast<int>(bytes.size()), b.FreeCount());
    std::memcpy(b.FreeSpace(), bytes.data(), bytes.size());
    b.Added(static_cast<int>(bytes.size()));
}
}  // namespace

TEST(RcvBuffer, SplitsCrLfAndLfLinesAndKeepsTheRest) {
    THttpRcvBuffer b;
    Put(b, "HTTP/1.0 200 OK\r\nA: b\nC:\r\r\npartial");
    std::string line;
    int ending = 0;
    ASSERT_TRUE(b.TakeLine(line, ending));
    EXPECT_EQ(line, "HTTP/1.0 200 OK");
    EXPECT_EQ(ending, 2);
    ASSERT_TRUE(b.TakeLine(line, ending));
    EXPECT_EQ(line, "A: b");
    EXPECT_EQ(ending, 1);
    ASSERT_TRUE(b.TakeLine(line, ending));
    EXPECT_EQ(line, "C:\r");  // only the CR right before the LF goes
    EXPECT_FALSE(b.TakeLine(line, ending));
    EXPECT_EQ(b.Length(), 7);
    Put(b, " line\r\n");
    ASSERT_TRUE(b.TakeLine(line, ending));
    EXPECT_EQ(line, "partial line");
    EXPECT_TRUE(b.Empty());
}

TEST(RcvBuffer, ZeroByteHidesALineEnd) {
    THttpRcvBuffer b;
    Put(b, std::string("ab\0c\r\nd", 7));
    std::string line;
    int ending = 0;
    EXPECT_FALSE(b.TakeLine(line, ending));
    EXPECT_EQ(b.Length(), 7);
    std::string all;
    b.TakeAll(all);
    EXPECT_EQ(all, std::string("ab\0c\r\nd", 7));
    EXPECT_TRUE(b.Empty());

    Put(b, std::string("ok\n\0z", 5));  // a zero byte after the line end does not matter
    ASSERT_TRUE(b.TakeLine(line, ending));
    EXPECT_EQ(line, "ok");
    EXPECT_EQ(b.Length(), 2);
}

TEST(RcvBuffer, HoldsExactly8192Bytes) {
    THttpRcvBuffer b;
    Put(b, std::string(8190, 'x') + "\r\n");
    EXPECT_TRUE(b.Full());
    EXPECT_EQ(b.FreeCount(), 0);
    std::string line;
    int ending = 0;
    ASSERT_TRUE(b.TakeLine(line, ending));
    EXPECT_EQ(line.size(), 8190u);
    EXPECT_FALSE(b.Full());
    EXPECT_EQ(b.FreeCount(), 8192);
}
