// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "SocketTestSupport.h"
#include "socket/WSockBuf.h"

TEST(TBuffer, SizeZeroOrNegativeMeans1514) {
    EXPECT_EQ(TBuffer(0).Capacity(), 1514);
    EXPECT_EQ(TBuffer(-5).Capacity(), 1514);
    EXPECT_EQ(TBuffer(10).Capacity(), 10);
}

TEST(TBuffer, AppendTakesWhatFitsAndConsumeResetsADrainedBlock) {
    TBuffer b(10);
    EXPECT_EQ(b.Append("abcdefgh", 8), 8);
    EXPECT_EQ(b.Append("ijklmn", 6), 2);  // only the room that is left
    EXPECT_EQ(b.Append("x", 1), 0);       // full
    std::int32_t count = 0;
    const char* p = b.PendingData(count);
    ASSERT_EQ(count, 10);
    EXPECT_EQ(std::string(p, 10), "abcdefghij");

    EXPECT_EQ(b.Consume(4), 4);
    p = b.PendingData(count);
    EXPECT_EQ(std::string(p, static_cast<size_t>(count)), "efghij");
    EXPECT_EQ(b.Append("x", 1), 0);  // no compaction: freed front room is not reused yet

    EXPECT_EQ(b.Consume(100), 6);  // more than pending takes only what is pending
    EXPECT_EQ(b.ReadPos(), 0);
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(b.PendingData(count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(b.Consume(1), 0);
    EXPECT_EQ(b.Append("xyz", 3), 3);  // a drained block is written from its start again
    EXPECT_EQ(std::string(b.PendingData(count), 3), "xyz");
}

TEST(TBuffer, ResizeKeepsWrittenBytesAtTheirOffsets) {
    TBuffer b(8);
    b.Append("12345678", 8);
    b.Consume(3);
    b.Resize(20);
    EXPECT_EQ(b.Capacity(), 20);
    std::int32_t count = 0;
    const char* p = b.PendingData(count);
    EXPECT_EQ(std::string(p, static_cast<size_t>(count)), "45678");
    EXPECT_EQ(std::string(b.Data(), 8), "12345678");
    EXPECT_EQ(b.Append("9", 1), 1);
    b.Resize(0);
    EXPECT_EQ(b.Capacity(), 1514);
}

namespace {
std::string Pending(const TBuffer& b) {
    std::int32_t n = 0;
    const char* p = b.PendingData(n);
    return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}
std::string Pattern(size_t n, char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 23);
    return s;
}
}  // namespace

TEST(SendQueue, FourThousandBytesMakeThreeBlocks) {
    TTestSocket s;
    const std::string data = Pattern(4000, 'a');
    s.AppendToSendQueue(data.data(), 4000);
    ASSERT_EQ(s.SendQueue.size(), 3u);
    EXPECT_EQ(s.SendQueue[0]->WritePos(), 1460);
    EXPECT_EQ(s.SendQueue[1]->WritePos(), 1460);
    EXPECT_EQ(s.SendQueue[2]->WritePos(), 1080);
    EXPECT_EQ(Pending(*s.SendQueue[0]) + Pending(*s.SendQueue[1]) + Pending(*s.SendQueue[2]), data);
    s.AppendToSendQueue(data.data(), 0);  // nothing happens below one byte
    EXPECT_EQ(s.SendQueue.size(), 3u);
}

TEST(SendQueue, LaterBytesFillTheLastBlockBeforeANewOne) {
    TTestSocket s;
    const std::string first = Pattern(100, 'a'), second = Pattern(1400, 'A');
    s.AppendToSendQueue(first.data(), 100);
    s.SendQueue.front()->Consume(60);
    s.AppendToSendQueue(second.data(), 1400);
    ASSERT_EQ(s.SendQueue.size(), 2u);
    EXPECT_EQ(s.SendQueue[0]->WritePos(), 1460);  // 100 + 1360
    EXPECT_EQ(Pending(*s.SendQueue[0]), first.substr(60) + second.substr(0, 1360));
    EXPECT_EQ(Pending(*s.SendQueue[1]), second.substr(1360));
}
