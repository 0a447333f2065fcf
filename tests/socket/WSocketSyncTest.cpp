// SPDX-License-Identifier: Apache-2.0
// The waiting primitive: a flag set by an event, a time limit, a quit message seen by the
// socket's own pump, and the application being asked to quit.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <ctime>

#include "SocksTestSupport.h"
#include "support/Loopback.h"

namespace {
constexpr int kFailed = 12001;
}

TEST(WSocketSync, RunAndWaitReturnsOnceAnEventSetsTheFlag) {
    ScriptedPeer peer;
    peer.Accept().Delay(50).Send("ping\r\n").ReadToEnd();
    peer.Start();
    TTestSocket s;
    s.SetLineMode(true);
    bool done = true;
    std::string line;
    s.OnDataAvailable = [&](TObject*, WORD) {
        line = s.ReceiveText();
        done = true;
    };
    const int rc = s.RunAndWait(
        [&] {
            s.SetAddr("127.0.0.1");
            s.SetPort(std::to_string(peer.Port()));
            s.Connect();
        },
        done);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(line, "ping\r\n");
    s.Close();
}

TEST(WSocketSync, ATimeLimitEndsTheWaitWithoutBusyWaiting) {
    TTestSocket s;
    s.WaitTimeout = 300;
    bool done = false;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    EXPECT_EQ(s.WaitForFlag(done), kFailed);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_LT(cpuMs, 150.0);  // a polling wait would burn the whole 300 ms
}

TEST(WSocketSync, AQuitMessageSeenByThePrivatePumpEndsTheWait) {
    TTestSocket s;
    s.MultiThreaded = true;
    bool done = false;
    PostQuitMessage(0);
    EXPECT_EQ(s.WaitForFlag(done), kFailed);
    EXPECT_TRUE(s.Terminated());
}

TEST(WSocketSync, TheApplicationBeingAskedToQuitEndsTheWait) {
    TTestSocket s;  // no time limit
    bool done = false;
    int rc = -1;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(50, [] { QCoreApplication::quit(); });
        rc = s.WaitForFlag(done);
    });
    QCoreApplication::exec();
    EXPECT_EQ(rc, kFailed);
    EXPECT_FALSE(ApplicationTerminating());  // the loop has returned
}
