// SPDX-License-Identifier: Apache-2.0
// IPv6 in the socket layer: look-ups of both families and the family setting, listening,
// accepting and datagrams on ::1, and a connect raced over both families.
#include <gtest/gtest.h>

#include <algorithm>

#include "SocketTestSupport.h"
#include "winsock/WinsockHooks.h"
#include "socket/WSocketFamily.h"

namespace {

// Answers "dual.test" with chosen addresses for the test's lifetime; restores the family.
struct TDualName {
    explicit TDualName(std::vector<std::string> addrs) {
        WinsockSetAddressHook([addrs](const std::string& name) {
            return name == "dual.test" ? addrs : std::vector<std::string>{};
        });
    }
    ~TDualName() {
        WinsockSetAddressHook(nullptr);
        SetWSocketFamily(TWSocketFamily::Any);
    }
};

std::vector<std::string> LookUp(TWSocket& s, const std::string& name) {
    WORD error = 0xFFFF;
    s.OnDnsLookupDone = [&](TObject*, WORD e) { error = e; };
    s.DnsLookup(name);
    EXPECT_TRUE(PumpUntil([&] { return error != 0xFFFF; }));
    s.OnDnsLookupDone = nullptr;
    std::vector<std::string> list;
    for (int i = 0; i < s.DnsResultList().Count(); ++i) list.push_back(s.DnsResultList()[i]);
    return error == 0 ? list : std::vector<std::string>{"error " + std::to_string(error)};
}

}  // namespace

TEST(WSocketIpv6, LookUpsFollowTheFamilySettingIPv6First) {
    TDualName dual({"127.0.0.1", "127.0.0.2", "::1", "fe80::1"});
    TWSocket s;
    using L = std::vector<std::string>;
    EXPECT_EQ(LookUp(s, "dual.test"), (L{"::1", "127.0.0.1", "fe80::1", "127.0.0.2"}));
    SetWSocketFamily(TWSocketFamily::IPv4);
    EXPECT_EQ(LookUp(s, "dual.test"), (L{"127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(WSocketResolveHostList("dual.test"), (L{"127.0.0.1", "127.0.0.2"}));
    SetWSocketFamily(TWSocketFamily::IPv6);
    EXPECT_EQ(LookUp(s, "dual.test"), (L{"::1", "fe80::1"}));
    EXPECT_EQ(WSocketResolveHostList("dual.test"), (L{"::1", "fe80::1"}));
    // Numeric addresses are taken as written, brackets or not.
    s.DnsLookup("[0::1]");
    EXPECT_EQ(s.DnsResult(), "::1");

    TWSocketFamily f = TWSocketFamily::Any;
    EXPECT_TRUE(ParseWSocketFamily(" 4 ", f));
    EXPECT_EQ(f, TWSocketFamily::IPv4);
    EXPECT_TRUE(ParseWSocketFamily("ANY", f));
    EXPECT_EQ(f, TWSocketFamily::Any);
    EXPECT_FALSE(ParseWSocketFamily("ipv6", f));
    EXPECT_EQ(f, TWSocketFamily::Any);
}

TEST(WSocketIpv6, ListenAcceptAndTalkOnLoopback) {
    TWSocket server;
    server.SetAddr("::1");
    server.SetPort("0");
    server.Listen();
    ASSERT_EQ(server.State(), wsListening);
    EXPECT_EQ(server.GetBoundAddr(), "::1");

    TEventLog servedLog;
    TWSocket served;
    servedLog.Attach(served);
    server.OnSessionAvailable = [&](TObject*, WORD) { served.Dup(server.Accept()); };

    TWSocket client;
    client.OnSessionConnected = [&](TObject*, WORD e) {
        EXPECT_EQ(e, 0);
        client.SendText("ping6");
    };
    client.SetAddr("[::1]");
    client.SetPort(server.GetBoundPort());
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return servedLog.Data == "ping6"; }));
    EXPECT_EQ(served.PeerAddr(), "::1");
    EXPECT_EQ(served.PeerPort(), client.GetBoundPort());
    EXPECT_EQ(client.PeerAddr(), "::1");
}

TEST(WSocketIpv6, DatagramsOnLoopback) {
    TWSocket receiver;
    receiver.SetProto("udp");
    receiver.SetAddr("::1");
    receiver.SetPort("0");
    receiver.Listen();
    ASSERT_EQ(receiver.State(), wsConnected);
    std::string got, from;
    receiver.OnDataAvailable = [&](TObject*, WORD) {
        char buf[64];
        TSockAddrStorage sender{};
        int len = sizeof sender;
        const int n = receiver.ReceiveFrom(buf, sizeof buf, sender, len);
        if (n > 0) {
            got.assign(buf, static_cast<std::size_t>(n));
            from = SockAddrText(sender);
        }
    };

    TWSocket sender;
    sender.SetProto("udp");
    sender.SetAddr("::1");
    sender.SetPort(receiver.GetBoundPort());
    sender.Connect();
    ASSERT_EQ(sender.State(), wsConnected);
    sender.SendText("datagram6");
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got, "datagram6");
    EXPECT_EQ(from, "::1");
}

TEST(WSocketIpv6, ARefusedIPv6AttemptHandsOverToIPv4AtOnce) {
    TWSocket server;  // IPv4 only: ::1 on the same port refuses
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    TWSocket served;
    server.OnSessionAvailable = [&](TObject*, WORD) { served.Dup(server.Accept()); };

    TEventLog log;
    TWSocket client;
    log.Attach(client);
    client.SetAddrList({"::1", "127.0.0.1"});
    client.SetPort(server.GetBoundPort());
    const auto start = std::chrono::steady_clock::now();
    client.Connect();
    EXPECT_EQ(client.State(), wsConnecting);
    ASSERT_TRUE(PumpUntil([&] { return client.State() == wsConnected && served.State() == wsConnected; }));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(ms.count(), TWSocketEyeballs::kAttemptDelayMs) << "a refusal must not wait for the stagger";
    EXPECT_EQ(client.PeerAddr(), "127.0.0.1");
    PumpPending();
    EXPECT_EQ(std::count(log.Events.begin(), log.Events.end(), "connected:0"), 1);
    client.Close();
    EXPECT_EQ(WinsockOpenSocketCount(), 2);  // server and served: nothing is left of the race
}

TEST(WSocketIpv6, ARaceWhereEveryAttemptIsRefusedFailsAsOneConnect) {
    TWSocket probe;  // a port nobody listens on, in either family
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    const std::string port = probe.GetBoundPort();
    probe.Close();

    TEventLog log;
    TWSocket client;
    log.Attach(client);
    client.SetAddrList({"::1", "127.0.0.1"});
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return client.State() == wsClosed; }));
    PumpPending();
    EXPECT_EQ(log.Skeleton(), (std::vector<std::string>{"state:opened", "state:connecting", "state:connected",
                                                        "connected:10061", "state:closed", "closed:0"}));
    EXPECT_EQ(WinsockOpenSocketCount(), 0);
}
