// SPDX-License-Identifier: Apache-2.0
// Listening, accepting and adopting connections, and datagram sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <memory>

#include "SocketTestSupport.h"

namespace {
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

TEST(WSocketServer, ListenAcceptAndDupCarryAConversation) {
    std::vector<std::string> serverStates;
    TWSocket server;
    server.OnChangeState = [&](TObject*, TSocketState, TSocketState n) { serverStates.push_back(StateName(n)); };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(server.State(), wsListening);
    EXPECT_EQ(serverStates, (std::vector<std::string>{"opened", "bound", "listening"}));
    const std::string port = server.GetBoundPort();
    ASSERT_NE(port, "0");

    TEventLog servedLog;
    TTestSocket served;
    servedLog.Attach(served);
    int available = 0;
    server.OnSessionAvailable = [&](TObject*, WORD e) {
        EXPECT_EQ(e, 0);
        ++available;
        const SOCKET h = server.Accept();
        ASSERT_NE(h, INVALID_SOCKET);
        served.Dup(h);
    };

    TEventLog clientLog;
    TWSocket client;
    clientLog.Attach(client);
    client.OnSessionConnected = [&](TObject*, WORD e) {
        clientLog.Events.push_back("connected:" + std::to_string(e));
        client.SendText("ping");
    };
    client.SetAddr("localhost");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return servedLog.Data == "ping"; }));
    EXPECT_EQ(available, 1);
    EXPECT_EQ(served.State(), wsConnected);
    EXPECT_EQ(served.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(served.PeerPort(), client.GetBoundPort());
    EXPECT_EQ(servedLog.Events.front(), "state:connected");  // Dup: connected, no session event
    EXPECT_FALSE(servedLog.Has("connected:0"));

    served.SendText("pong");
    ASSERT_TRUE(PumpUntil([&] { return clientLog.Data == "pong"; }));
    served.Close();
    ASSERT_TRUE(PumpUntil([&] { return clientLog.Closed; }));
    EXPECT_TRUE(servedLog.Closed);
    EXPECT_EQ(server.State(), wsListening);  // still taking connections
}

TEST(WSocketServer, AcceptAndDupRefuseWhatTheyCannotUse) {
    TWSocket s;
    EXPECT_EQ(ErrorOf([&] { s.Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(ErrorOf([&] { s.Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
}

TEST(WSocketServer, AFailedBindClosesTheSocket) {
    TWSocket first, second;
    for (TWSocket* s : {&first, &second}) {
        s->SetAddr("127.0.0.1");
        s->SetPort("0");
    }
    first.Listen();
    second.SetPort(first.GetBoundPort());
    const std::string error = ErrorOf([&] { second.Listen(); });
    EXPECT_EQ(error.rfind("Error 10048 in function Bind", 0), 0u) << error;
    EXPECT_EQ(second.State(), wsClosed);  // usable again
    second.SetAddr("127.0.0.1");
    second.SetPort("0");
    second.Listen();
    EXPECT_EQ(second.State(), wsListening);
}

TEST(WSocketServer, DatagramsConnectAtOnceAndTravelBothWays) {
    std::string got;
    TSockAddrIn from{};
    TEventLog serverLog;
    TWSocket server;
    serverLog.Attach(server);
    server.SetProto("udp");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(server.State(), wsConnected);
    EXPECT_EQ(serverLog.Skeleton(),
              (std::vector<std::string>{"state:opened", "state:bound", "state:listening", "state:connected", "connected:0"}));

    server.OnDataAvailable = [&](TObject*, WORD) {
        char buf[100];
        int fromLen = sizeof from;
        const int n = server.ReceiveFrom(buf, sizeof buf, from, fromLen);
        if (n > 0) got.assign(buf, static_cast<size_t>(n));
    };

    TEventLog clientLog;
    TWSocket client;
    clientLog.Attach(client);
    client.SetProto("udp");
    client.SetAddr("127.0.0.1");
    client.SetPort(server.GetBoundPort());
    client.Connect();
    // Connected before any exchange, from inside Connect.
    EXPECT_EQ(clientLog.Skeleton(), (std::vector<std::string>{"state:opened", "state:connected", "connected:0"}));
    EXPECT_NE(client.LocalPort(), "0");  // bound: the system's port is visible

    EXPECT_EQ(client.SendText("ping"), 4);
    ASSERT_TRUE(PumpUntil([&] { return got == "ping"; }));
    EXPECT_EQ(std::to_string(ntohs(from.sin_port)), client.LocalPort());
    EXPECT_EQ(server.SendTo(from, sizeof from, "pong", 4), 4);
    ASSERT_TRUE(PumpUntil([&] { return clientLog.Data == "pong"; }));
}

TEST(WSocketServer, ResolutionFailuresOfConnectAreReportedWithTheirPrefix) {
    TWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("99999");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "connect: Range check error");
    s.SetPort("nosuchservice");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "connect: WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    s.SetPort("80");
    s.SetProto("bogus");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "connect: WSocketResolveProto: Cannot convert protocol 'bogus', Error #11004");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketServer, ABroadcastDatagramSocketMaySend) {
    TTestSocket s;
    s.SetProto("udp");
    s.SetAddr("255.255.255.255");
    s.SetPort("9");
    s.Connect();  // resolves without error; without SO_BROADCAST the send below is refused
    EXPECT_EQ(s.State(), wsConnected);
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    s.SendText("hello");
    EXPECT_EQ(errors, 0) << s.LastError();
    EXPECT_TRUE(s.AllSent);
}
