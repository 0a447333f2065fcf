// SPDX-License-Identifier: Apache-2.0
// Closing paths and the waiting pumps.
#include <gtest/gtest.h>

#include "SocketTestSupport.h"
#include "support/Loopback.h"

namespace {
void ConnectTo(TCustomWSocket& s, std::uint16_t port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
}
}  // namespace

TEST(WSocketClose, ClosingTwiceOrFromSessionClosedRaisesTheEventOnce) {
    ScriptedPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TEventLog log;
    TWSocket s;
    log.Attach(s);
    int closedEvents = 0;
    s.OnSessionClosed = [&](TObject*, WORD e) {
        log.Events.push_back("closed:" + std::to_string(e));
        ++closedEvents;
        s.Close();  // from inside the event: no second event
    };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    log.Events.clear();
    s.Close();
    s.Close();  // already closed: nothing
    EXPECT_EQ(log.Events, (std::vector<std::string>{"state:closed", "closed:0"}));
    EXPECT_EQ(closedEvents, 1);
    peer.Join();
}

TEST(WSocketClose, ASendIntoAResetConnectionClosesWithoutAnError) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("x").Reset();
    peer.Start();
    TTestSocket s;
    std::vector<int> closed;
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    s.OnSessionClosed = [&](TObject*, WORD e) { closed.push_back(e); };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    s.PauseNotifications();  // the reset must be found by the send, not by a notification
    s.SendText("x");
    peer.Join();
    std::string more(100000, 'y');
    EXPECT_EQ(s.Send(more.data(), static_cast<int>(more.size())), 100000);
    EXPECT_EQ(closed, std::vector<int>{WSAECONNRESET});
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketClose, WithoutAReaderReceivedDataIsDiscardedAndTheConnectionGoesOn) {
    ScriptedPeer peer;
    peer.Accept().Send(std::string(50000, 'z')).ReadUntil("ok").Send("end").Close();
    peer.Start();
    TWSocket s;
    bool closed = false;
    s.OnSessionClosed = [&](TObject*, WORD) { closed = true; };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    s.SendText("ok");
    ASSERT_TRUE(PumpUntil([&] { return closed; }));
    peer.Join();
    EXPECT_EQ(peer.Failure(), "");
}

TEST(WSocketClose, AbortDropsTheQueueAndClosesAtOnce) {
    ScriptedPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TTestSocket s;
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    s.PauseNotifications();
    std::string big(20 << 20, 'q');
    s.Send(big.data(), static_cast<int>(big.size()));
    ASSERT_FALSE(s.AllSent);
    s.Abort();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_TRUE(s.SendQueue.empty());
    peer.Join();
    EXPECT_LT(peer.Received().size(), big.size());
}

TEST(WSocketClose, ThePrivatePumpDispatchesAndNotesAQuitMessage) {
    ScriptedPeer peer;
    peer.Accept().Send("hi").ReadToEnd();
    peer.Start();
    TEventLog log;
    TWSocket s;
    log.Attach(s);
    s.MultiThreaded = true;
    ConnectTo(s, peer.Port());
    PostQuitMessage(0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (log.Data != "hi" && std::chrono::steady_clock::now() < end) {
        WaitMessageFor(50);
        s.ProcessPendingMessages();
    }
    EXPECT_EQ(log.Data, "hi");
    EXPECT_TRUE(s.Terminated());
    s.Close();
    peer.Join();
}
