// SPDX-License-Identifier: Apache-2.0
// Client sessions over loopback TCP: event order, sending through the queue, receiving,
// closing, stale notifications and the property rules.
#include <gtest/gtest.h>

#include "SocketTestSupport.h"
#include "support/Loopback.h"

namespace {

using Events = std::vector<std::string>;

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

void ConnectTo(TCustomWSocket& s, std::uint16_t port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
}

template <class F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.Message();
    }
    return "(no error)";
}

}  // namespace

TEST(WSocketSession, ClientSessionRaisesItsEventsInOrder) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("hello").Send("world").Close();
    peer.Start();

    TEventLog log;

    TWSocket s;
    log.Attach(s);
    bool sent = false;
    s.OnDataSent = [&](TObject*, WORD e) {
        log.Events.push_back("datasent:" + std::to_string(e));
        if (!sent) {  // the first OnDataSent follows the connection; the second the Send
            sent = true;
            EXPECT_EQ(s.SendText("hello"), 5);
        }
    };
    ConnectTo(s, peer.Port());
    EXPECT_EQ(log.Events, (Events{"state:opened", "state:connecting"}));
    ASSERT_TRUE(PumpUntil([&] { return log.Closed; }));
    peer.Join();
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(log.Data, "world");
    EXPECT_EQ(log.Skeleton(), (Events{"state:opened", "state:connecting", "state:connected", "connected:0",
                                      "datasent:0", "datasent:0", "closed:0", "state:closed"}));
    // Data and the send report sit where they belong.
    const auto at = [&](const std::string& e) { return std::find(log.Events.begin(), log.Events.end(), e) - log.Events.begin(); };
    EXPECT_LT(at("senddata"), at("closed:0"));
    EXPECT_LT(at("data:0"), at("closed:0"));
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketSession, RefusedConnectionReportsTheErrorThenCloses) {
    TEventLog log;
    TTestSocket s;
    log.Attach(s);
    ConnectTo(s, FreeLoopbackPort());
    ASSERT_TRUE(PumpUntil([&] { return log.Closed; }));
    EXPECT_EQ(log.Events, (Events{"state:opened", "state:connecting", "state:connected", "connected:10061",
                                  "state:closed", "closed:0"}));
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.SocketHandle, INVALID_SOCKET);
    EXPECT_FALSE(s.AddrAssigned);  // defaults restored: Addr and Port must be assigned again
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("80");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
}

TEST(WSocketSession, ALargeSendDrainsThroughWriteNotificationsInOrder) {
    const std::string data = Pattern(12 << 20);
    ScriptedPeer peer;
    peer.Accept().ReadCount(data.size()).Close();
    peer.Start();

    TEventLog log;

    TTestSocket s;
    log.Attach(s);
    int largest = 0;
    s.OnSendData = [&](TObject*, int n) {
        log.BytesSent += n;
        largest = std::max(largest, n);
    };
    bool connected = false;
    s.OnSessionConnected = [&](TObject*, WORD) { connected = true; };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    ASSERT_TRUE(PumpUntil([&] { return log.DataSentCount == 1; }));  // the one after connecting

    EXPECT_EQ(s.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    EXPECT_FALSE(s.AllSent);  // the system could not take it all at once
    EXPECT_EQ(log.DataSentCount, 1);
    ASSERT_TRUE(PumpUntil([&] { return log.DataSentCount == 2; }));
    EXPECT_TRUE(s.AllSent);
    EXPECT_EQ(log.BytesSent, static_cast<long long>(data.size()));
    EXPECT_LE(largest, 1460);
    EXPECT_EQ(s.SendQueue.size(), 1u);  // one empty block stays for reuse
    EXPECT_EQ(s.SendQueue.front()->WritePos(), 0);
    peer.Join();
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_TRUE(peer.Received() == data);
}

TEST(WSocketSession, FlushBlocksUntilTheQueueIsOutAndZeroBytesCountAsSent) {
    const std::string data = Pattern(6 << 20);
    ScriptedPeer peer;
    peer.Accept().ReadCount(data.size()).Close();
    peer.Start();
    TTestSocket s;
    bool connected = false;
    s.OnSessionConnected = [&](TObject*, WORD) { connected = true; };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));

    EXPECT_EQ(s.Send(data.data(), 0), 0);  // nothing on an empty queue: all sent
    EXPECT_TRUE(s.AllSent);
    s.Send(data.data(), static_cast<int>(data.size()));
    s.Flush();
    EXPECT_TRUE(s.AllSent);
    peer.Join();
    EXPECT_TRUE(peer.Received() == data);
}

TEST(WSocketSession, ASendFromOnSendDataKeepsTheByteOrder) {
    ScriptedPeer peer;
    peer.Accept().ReadCount(3000 + 26).Close();
    peer.Start();
    TWSocket s;
    bool connected = false, extra = false;
    s.OnSessionConnected = [&](TObject*, WORD) { connected = true; };
    s.OnSendData = [&](TObject*, int) {
        if (!extra) {
            extra = true;
            s.SendText("abcdefghijklmnopqrstuvwxyz");
        }
    };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    const std::string first = Pattern(3000);
    s.Send(first.data(), 3000);
    s.Flush();
    peer.Join();
    EXPECT_EQ(peer.Received(), first + "abcdefghijklmnopqrstuvwxyz");
}

TEST(WSocketSession, ThePeersCloseDeliversTheRestBeforeSessionClosed) {
    const std::string data = Pattern(300000);
    ScriptedPeer peer;
    peer.Accept().Send(data).Close();
    peer.Start();
    TEventLog log;
    TWSocket s;
    log.Attach(s);
    log.ReadSize = 1000;  // a slow reader: many deliveries
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return log.Closed; }));
    EXPECT_TRUE(log.Data == data);
    const Events sk = log.Skeleton();
    ASSERT_GE(sk.size(), 2u);
    EXPECT_EQ(sk[sk.size() - 2], "closed:0");
    EXPECT_EQ(sk.back(), "state:closed");
    EXPECT_EQ(log.Events[log.Events.size() - 3], "data:0");  // the last bytes came before the close
}

TEST(WSocketSession, CloseNotificationDeliversTheRestInALoopEvenWithoutReceiveLoop) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("go").Send(Pattern(10000)).Close();
    peer.Start();
    TEventLog log;
    TTestSocket s;
    log.Attach(s);
    log.ReadSize = 1000;
    s.ComponentOptions.Include(wsoNoReceiveLoop);
    bool connected = false;
    s.OnSessionConnected = [&](TObject*, WORD) { connected = true; };
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    s.PauseNotifications();
    s.SendText("go");
    peer.Join();  // all data and the end of stream are waiting now
    // A close notification that finds ten reads' worth of data: one notification, all of it.
    s.Paused = false;
    PostMessage(s.NotifyWindow, MSG_SOCKET_EVENT, s.SocketHandle, MakeLParam(FD_CLOSE, 0));
    ASSERT_TRUE(PumpUntil([&] { return log.Closed; }));
    EXPECT_EQ(log.Data, Pattern(10000));
}

TEST(WSocketSession, NotificationsForAnOldHandleOrWhilePausedAreIgnored) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("1").Accept().ReadToEnd();
    peer.Start();
    TEventLog log;
    TTestSocket s;
    log.Attach(s);
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    s.SendText("1");
    const SOCKET old = s.SocketHandle;
    s.LingerOnOff = wsLingerOff;
    s.Close();
    EXPECT_TRUE(log.Closed);
    log.Closed = false;
    log.DataSentCount = 0;
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return log.DataSentCount == 1; }));  // connected, notifications settled
    ASSERT_NE(s.SocketHandle, old);

    log.Events.clear();
    PostMessage(s.NotifyWindow, MSG_SOCKET_EVENT, old, MakeLParam(FD_CLOSE, 0));
    PostMessage(s.NotifyWindow, MSG_SOCKET_EVENT, old, MakeLParam(FD_READ, 0));
    PumpPending();
    s.PauseNotifications();
    PostMessage(s.NotifyWindow, MSG_SOCKET_EVENT, s.SocketHandle, MakeLParam(FD_CLOSE, 0));
    PumpPending();
    EXPECT_TRUE(log.Events.empty());
    EXPECT_EQ(s.State(), wsConnected);

    s.ResumeNotifications();
    PostMessage(s.NotifyWindow, MSG_SOCKET_EVENT, s.SocketHandle, MakeLParam(FD_CLOSE, 0));
    ASSERT_TRUE(PumpUntil([&] { return log.Closed; }));  // the current handle, not paused: handled
    EXPECT_EQ(s.State(), wsClosed);
    peer.Join();
    EXPECT_EQ(peer.Received(0), "1");
}

TEST(WSocketSession, PropertiesChangeOnlyWhileClosed) {
    ScriptedPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TWSocket s;
    s.SetProto("tcp");
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));

    s.SetAddr("127.0.0.1");  // the same text: fine in any state
    EXPECT_EQ(ErrorOf([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    EXPECT_EQ(ErrorOf([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(ErrorOf([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(ErrorOf([&] { s.SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(ErrorOf([&] { s.SetLocalAddr("1.2.3.4"); }), "Cannot change LocalAddr if not closed");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), std::to_string(peer.Port()));
    EXPECT_EQ(s.GetBoundAddr(), "127.0.0.1");

    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    s.SetPort("2");  // with OnError the report is an event and the value stays
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.Port(), std::to_string(peer.Port()));
    s.Close();
    EXPECT_EQ(s.PeerAddr(), "error");

    // Closed: the writes apply (trimmed, normalised).
    s.SetAddr("  host.example  ");
    EXPECT_EQ(s.Addr(), "host.example");
    s.SetLocalAddr("10.0.0.001");
    EXPECT_EQ(s.LocalAddr(), "10.0.0.1");
    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    s.SetLocalAddr("not.an.address");  // reported to OnError; the old value stays
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    peer.Join();
}

TEST(WSocketSession, SendWhileClosedReportsNotConnected) {
    TWSocket s;
    char b = 'x';
    EXPECT_EQ(ErrorOf([&] { s.Send(&b, 1); }), "Error 10057 in function Send\r\nSocket is not connected");
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    EXPECT_EQ(s.Send(&b, 1), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), WSAENOTCONN);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketSession, PostCloseAndPostReleaseActFromTheMessageLoop) {
    ScriptedPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    auto* s = new TWSocket;
    const int live = LiveSocketCount();
    bool closed = false;
    s->OnSessionConnected = [&](TObject*, WORD) { s->PostClose(); };
    s->OnSessionClosed = [&](TObject*, WORD) {
        EXPECT_EQ(s->State(), wsClosed);
        closed = true;
        s->PostRelease();  // a handler must not free its own socket directly
    };
    ConnectTo(*s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return closed; }));
    ASSERT_TRUE(PumpUntil([&] { return LiveSocketCount() == live - 1; }));
    peer.Join();
}

TEST(WSocketSession, DrainUntilClosedDeliversEverythingUntilThePeerCloses) {
    const std::string data = Pattern(200000);
    ScriptedPeer peer;
    peer.Accept().ReadUntil("go").Send(data.substr(0, 1000)).Delay(50).Send(data.substr(1000)).Close();
    peer.Start();
    TEventLog log;
    TWSocket s;
    log.Attach(s);
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    s.SendText("go");
    s.DrainUntilClosed();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_TRUE(log.Data == data);
    EXPECT_TRUE(log.Closed);
    peer.Join();
}
