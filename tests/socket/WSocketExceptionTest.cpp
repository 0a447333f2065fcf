// SPDX-License-Identifier: Apache-2.0
// Exceptions raised by event handlers and the background-exception policy.
#include <gtest/gtest.h>

#include "SocketTestSupport.h"
#include "support/Loopback.h"

namespace {

struct TBgLog {
    std::vector<std::string> Messages;
    bool CanClose = true;  // what the handler leaves
    void Attach(TCustomWSocket& s) {
        s.OnBgException = [this](TObject*, Exception& e, bool& canClose) {
            Messages.push_back(e.Message());
            canClose = CanClose;
        };
    }
};

void ConnectTo(TCustomWSocket& s, std::uint16_t port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
}

}  // namespace

TEST(WSocketBgException, AnExceptionInSessionConnectedAbortsTheSocket) {
    ScriptedPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TBgLog bg;
    TWSocket s;
    bg.Attach(s);
    bool closed = false;
    s.OnSessionConnected = [](TObject*, WORD) { throw Exception("handler failed"); };
    s.OnSessionClosed = [&](TObject*, WORD) { closed = true; };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return closed; }));
    EXPECT_EQ(bg.Messages, std::vector<std::string>{"handler failed"});
    EXPECT_EQ(s.State(), wsClosed);
    peer.Join();
}

TEST(WSocketBgException, ClearingCanCloseKeepsTheSocket) {
    ScriptedPeer peer;
    peer.Accept().Send("after").ReadToEnd();
    peer.Start();
    TBgLog bg;
    TEventLog log;
    TTestSocket s;
    bg.CanClose = false;
    bg.Attach(s);
    log.Attach(s);
    s.OnSessionConnected = [](TObject*, WORD) { throw Exception("handler failed"); };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return log.Data == "after"; }));
    EXPECT_EQ(bg.Messages, std::vector<std::string>{"handler failed"});
    EXPECT_EQ(s.State(), wsConnected);

    PostMessage(s.NotifyWindow, MSG_TEST_EXCEPTION, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return bg.Messages.size() == 2; }));
    EXPECT_EQ(bg.Messages[1], "Test exception in WSocket");
    EXPECT_EQ(s.State(), wsConnected);
    s.Close();
    peer.Join();
}

TEST(WSocketBgException, AnExceptionInDataAvailableOnlyEndsThatDelivery) {
    ScriptedPeer peer;
    peer.Accept().Send("first").ReadUntil("more").Send("second").ReadToEnd();
    peer.Start();
    TBgLog bg;
    TWSocket s;
    bg.Attach(s);
    std::string got;
    int calls = 0;
    s.OnDataAvailable = [&](TObject*, WORD) {
        ++calls;
        got += s.ReceiveText();
        if (calls == 1) throw Exception("reader failed");
    };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return got == "first"; }));
    EXPECT_TRUE(bg.Messages.empty());
    EXPECT_EQ(s.State(), wsConnected);
    s.SendText("more");
    ASSERT_TRUE(PumpUntil([&] { return got == "firstsecond"; }));
    s.Close();
    peer.Join();
}

TEST(WSocketBgException, AnExceptionInSessionClosedReachesTheHandler) {
    ScriptedPeer peer;
    peer.Accept().Close();
    peer.Start();
    TBgLog bg;
    TWSocket s;
    bg.Attach(s);
    s.OnSessionClosed = [](TObject*, WORD) { throw Exception("closing failed"); };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return !bg.Messages.empty(); }));
    EXPECT_EQ(bg.Messages, std::vector<std::string>{"closing failed"});
    PumpUntil([&] { return s.State() == wsClosed; });
    EXPECT_EQ(s.State(), wsClosed);
    peer.Join();
}
