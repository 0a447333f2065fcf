// SPDX-License-Identifier: Apache-2.0
// Connections through scripted proxies on loopback: the exact bytes of every request, the
// replies (split, with bytes behind them), every failure code and the property rules.
#include <gtest/gtest.h>

#include "SocketTestSupport.h"
#include "SocksTestSupport.h"
#include "support/Loopback.h"

namespace {

using Events = std::vector<std::string>;

std::string Request5(const std::string& host, int port) {
    return Bytes({5, 1, 0, 3, static_cast<int>(host.size())}) + host + Bytes({port >> 8, port & 255});
}
const std::string kGreeting = Bytes({5, 1, 0});
const std::string kAuthGreeting = Bytes({5, 1, 2});
const std::string kReply5 = Bytes({5, 0, 0, 1, 10, 1, 2, 3, 0x1f, 0x90});
const std::string kReply4 = Bytes({0, 90, 0, 0, 0, 0, 0, 0});

// A proxy that, for each (bytes expected in all, answer) step, waits for that many bytes,
// then answers; then sends Tail and closes.
void Script(ScriptedPeer& proxy, const std::vector<std::pair<size_t, std::string>>& steps, const std::string& tail = "") {
    proxy.Accept();
    for (const auto& [count, answer] : steps) proxy.ReadCount(count).Send(answer);
    if (!tail.empty()) proxy.Send(tail);
    proxy.Close();
    proxy.Start();
}

}  // namespace

TEST(WSocketSocks, Version5WithoutAuthenticationSendsTheNameAndReadsTheBytesBehindTheReply) {
    ScriptedPeer proxy;
    proxy.Accept().ReadCount(3).Send(Bytes({5, 0})).ReadCount(3 + 13);
    proxy.SendInPieces(kReply5 + "he", 3, 20).Delay(30).Send("llo").Close();  // reply assembled from four reads
    proxy.Start();
    TSocksClient c;
    c.Connect(proxy.Port(), "5", "server", "80");
    ASSERT_TRUE(c.Run());
    proxy.Join();
    EXPECT_EQ(proxy.Received(), kGreeting + Request5("server", 80));
    EXPECT_EQ(c.Story(), (Events{"socksconnected:0", "connected:0", "closed:0"}));
    EXPECT_EQ(c.Log.Data, "hello");
    EXPECT_EQ(c.S.SocksBoundAddr(), "10.1.2.3");
    EXPECT_EQ(c.S.SocksBoundPort(), "8080");
    // The proxy settings were for that session only.
    EXPECT_EQ(c.S.SocksServer(), "");
    EXPECT_EQ(c.S.SocksPort(), "");
    EXPECT_EQ(c.S.SocksLevel(), "5");
    EXPECT_EQ(c.S.SocksUsercode, "user");
}

TEST(WSocketSocks, Version5AuthenticatesWithUserNameAndPassword) {
    const std::string auth = Bytes({1, 4}) + "user" + Bytes({4}) + "pass";
    ScriptedPeer proxy;
    Script(proxy, {{3, Bytes({5, 2})}, {3 + 11, Bytes({1, 0})},
                   {3 + 11 + 13, Bytes({5, 0, 0, 3, 13}) + "proxy.example" + Bytes({0, 80}) + "data"}});
    TSocksClient c;
    c.S.SocksAuthentication = socksAuthenticateUsercode;
    c.Connect(proxy.Port(), "5", "server", "80");
    ASSERT_TRUE(c.Run());
    proxy.Join();
    EXPECT_EQ(proxy.Received(), kAuthGreeting + auth + Request5("server", 80));
    EXPECT_EQ(c.Story(), (Events{"socksconnected:0", "auth:start", "auth:success", "connected:0", "closed:0"}));
    EXPECT_EQ(c.S.SocksBoundAddr(), "proxy.example");
    EXPECT_EQ(c.S.SocksBoundPort(), "80");
    EXPECT_EQ(c.Log.Data, "data");
}

TEST(WSocketSocks, Version5OfferedAuthenticationThatTheProxyWaives) {
    ScriptedPeer proxy;
    Script(proxy, {{3, Bytes({5, 0})}, {3 + 13, kReply5}});
    TSocksClient c;
    c.S.SocksAuthentication = socksAuthenticateUsercode;
    c.Connect(proxy.Port(), "5", "server", "80");
    ASSERT_TRUE(c.Run());
    proxy.Join();
    EXPECT_EQ(proxy.Received(), kAuthGreeting + Request5("server", 80));
    EXPECT_EQ(c.Story(), (Events{"socksconnected:0", "auth:notrequired", "connected:0", "closed:0"}));
}

TEST(WSocketSocks, Version4SendsTheResolvedAddressAnd4ATheName) {
    ScriptedPeer proxy4;
    proxy4.Accept().ReadCount(12).SendInPieces(kReply4 + "hi", 3, 20).Close();
    proxy4.Start();
    TSocksClient c4;
    c4.S.SocksUsercode = "joe";
    c4.Connect(proxy4.Port(), "4", "127.0.0.2", "80");
    ASSERT_TRUE(c4.Run());
    proxy4.Join();
    EXPECT_EQ(proxy4.Received(), Bytes({4, 1, 0, 80, 127, 0, 0, 2}) + "joe" + Bytes({0}));
    EXPECT_EQ(c4.Story(), (Events{"socksconnected:0", "connected:0", "closed:0"}));
    EXPECT_EQ(c4.Log.Data, "hi");

    ScriptedPeer proxy4a;
    Script(proxy4a, {{19, kReply4}});
    TSocksClient c4a;
    c4a.S.SocksUsercode = "joe";
    c4a.Connect(proxy4a.Port(), "4a", "server", "8080");
    ASSERT_TRUE(c4a.Run());
    proxy4a.Join();
    EXPECT_EQ(proxy4a.Received(), Bytes({4, 1, 0x1f, 0x90, 0, 0, 0, 1}) + "joe" + Bytes({0}) + "server" + Bytes({0}));
    EXPECT_EQ(c4a.Story(), (Events{"socksconnected:0", "connected:0", "closed:0"}));
}

// The final reply and 11 bytes of data arrive in one segment and the application reads 1
// or 3 bytes per call: every byte reaches it while the connection stays open (in line
// mode every complete line), and what is left at the close, with or without the receive
// loop.
TEST(WSocketSocks, BytesThatCameWithTheReplyReachAReaderThatTakesFewAtATime) {
    const std::string payload = "one\r\ntwo\r\nx";
    struct Level {
        const char* level;
        const char* addr;
        size_t requestBytes;  // greeting and connect request with the user id "user"
        std::string reply;
    };
    const Level levels[] = {{"5", "server", 3 + 13, kReply5}, {"4", "127.0.0.2", 13, kReply4}, {"4A", "server", 20, kReply4}};
    enum Mode { kPlain, kNoReceiveLoop, kLineMode };
    for (const Level& l : levels)
        for (int readSize : {1, 3})
            for (Mode mode : {kPlain, kNoReceiveLoop, kLineMode})
                for (bool closeAtOnce : {false, true}) {
                    SCOPED_TRACE(std::string(l.level) + " read " + std::to_string(readSize) + " mode " +
                                 std::to_string(mode) + (closeAtOnce ? " closing" : " open"));
                    ScriptedPeer proxy;
                    proxy.Accept();
                    if (l.level[0] == '5') proxy.ReadCount(3).Send(Bytes({5, 0}));
                    proxy.ReadCount(l.requestBytes).Send(l.reply + payload);
                    if (!closeAtOnce) proxy.ReadUntil("seen");
                    proxy.Close();
                    proxy.Start();
                    TSocksClient c;
                    c.Log.ReadSize = readSize;
                    if (mode == kNoReceiveLoop) c.S.ComponentOptions.Include(wsoNoReceiveLoop);
                    if (mode == kLineMode) {
                        TSessionConnected logged = c.S.OnSessionConnected;
                        c.S.OnSessionConnected = [&c, logged](TObject* s, WORD e) {
                            logged(s, e);
                            c.S.SetLineMode(true);
                        };
                    }
                    c.Connect(proxy.Port(), l.level, l.addr, "80");
                    if (!closeAtOnce) {
                        const std::string whileOpen = mode == kLineMode ? "one\r\ntwo\r\n" : payload;
                        EXPECT_TRUE(PumpUntil([&] { return c.Log.Data == whileOpen; }, 2000)) << c.Log.Data;
                        EXPECT_FALSE(c.Log.Closed);
                        c.S.SendText("seen");
                    }
                    ASSERT_TRUE(c.Run());
                    proxy.Join();
                    EXPECT_EQ(c.Log.Data, payload);
                    EXPECT_EQ(proxy.Failure(), "");
                }
}

TEST(WSocketSocks, EveryFailureIsReportedThenConnectedWithTheCodeThenClosed) {
    struct Case {
        std::string level;
        std::vector<std::pair<size_t, std::string>> steps;
        std::string error;
    };
    const std::string reply5 = Bytes({0, 1, 0, 0, 0, 0, 0, 0});  // behind version and code
    std::vector<Case> cases = {
        {"5", {{3, Bytes({4, 0})}}, "20002:socks version error"},
        {"5", {{3, Bytes({5, 0xff})}}, "20003:authentification method not acceptable"},
        {"5", {{3, Bytes({5, 2})}, {14, Bytes({1, 1})}}, "20015:socks authentication failed"},
        {"5", {{3, Bytes({5, 2})}, {14, Bytes({2, 0})}}, "20002:socks version error"},
        {"5", {{3, Bytes({5, 2})}, {14, Bytes({1, 0, 0})}}, "20001:too much data availaible"},
        {"5", {{3, Bytes({5, 0})}, {16, Bytes({4, 0}) + reply5}}, "20002:socks version error"},
        {"5", {{3, Bytes({5, 0})}, {16, Bytes({5, 0, 0, 5, 0, 0})}}, "20011:address type not supported"},  // (4 is IPv6)
        {"4", {{12, Bytes({1, 90, 0, 0, 0, 0, 0, 0})}}, "20002:socks version error"},
        {"4", {{12, Bytes({0, 91, 0, 0, 0, 0, 0, 0})}}, "20016:request rejected or failed"},
        {"4", {{12, Bytes({0, 92, 0, 0, 0, 0, 0, 0})}}, "20008:connection refused"},
        {"4", {{12, Bytes({0, 93, 0, 0, 0, 0, 0, 0})}}, "20015:authentification failed"},
        {"4", {{12, Bytes({0, 94, 0, 0, 0, 0, 0, 0})}}, "20012:unassigned error #94"},
    };
    const char* texts5[] = {"general SOCKS server failure", "connection not allowed by ruleset", "network unreachable",
                            "host unreachable", "connection refused", "time to live expired",
                            "command not supported", "address type not supported", "unassigned error #9"};
    for (int code = 1; code <= 9; ++code)
        cases.push_back({"5", {{3, Bytes({5, 0})}, {16, Bytes({5, code}) + reply5}},
                         std::to_string(code == 9 ? 20012 : 20003 + code) + ":" + texts5[code - 1]});

    for (const Case& k : cases) {
        SCOPED_TRACE(k.error);
        ScriptedPeer proxy;
        Script(proxy, k.steps);
        TSocksClient c;
        if (k.level == "4") c.S.SocksUsercode = "joe";  // 8 + 3 + 1 = 12 request bytes
        c.Connect(proxy.Port(), k.level, k.level == "4" ? "127.0.0.1" : "server", "80");
        ASSERT_TRUE(c.Run());
        const std::string code = k.error.substr(0, 5);
        const Events story = c.Story();
        ASSERT_GE(story.size(), 3u);
        EXPECT_EQ(Events(story.end() - 3, story.end()),
                  (Events{"sockserror:" + k.error, "connected:" + code, "closed:" + code}));
        EXPECT_EQ(c.S.State(), wsClosed);
        EXPECT_EQ(c.Log.Data, "");
    }
}

TEST(WSocketSocks, FailuresOutsideTheReplies) {
    // The proxy refuses the TCP connection: the application hears of it once.
    TSocksClient refused;
    refused.Connect(FreeLoopbackPort(), "5", "server", "80");
    ASSERT_TRUE(refused.Run());
    EXPECT_EQ(refused.Story(), (Events{"socksconnected:10061", "connected:10061", "closed:0"}));

    // A version 4 destination that does not resolve: reported, closed, nothing sent.
    ScriptedPeer proxy4;
    proxy4.Accept().ReadToEnd();
    proxy4.Start();
    TSocksClient v4;
    v4.Connect(proxy4.Port(), "4", "no-such-host.invalid", "80");
    ASSERT_TRUE(v4.Run());
    proxy4.Join();
    EXPECT_EQ(proxy4.Received(), "");
    const Events story = v4.Story();
    ASSERT_EQ(story.size(), 3u);
    EXPECT_EQ(story[0], "socksconnected:0");
    EXPECT_EQ(story[1].rfind("sockserror:20017:ESocketException WSocketResolveHost: ", 0), 0u) << story[1];
    EXPECT_EQ(story[2], "closed:20017");

    // A notification carrying an error in the middle of the handshake.
    ScriptedPeer proxy5;
    proxy5.Accept().ReadToEnd();
    proxy5.Start();
    TSocksClient v5;
    bool greeted = false;
    v5.S.OnSocksConnected = [&](TObject*, WORD) { greeted = true; };
    v5.Connect(proxy5.Port(), "5", "server", "80");
    ASSERT_TRUE(PumpUntil([&] { return greeted; }));
    PostMessage(v5.S.NotifyWindow, MSG_SOCKET_EVENT, v5.S.SocketHandle, MakeLParam(FD_READ, WSAECONNRESET));
    ASSERT_TRUE(v5.Run());
    EXPECT_EQ(v5.Story(), (Events{"sockserror:10054:data receive error", "connected:10054", "closed:10054"}));
    // Closed before the authentication reply: reported as a failed authentication.
    ScriptedPeer proxyAuth;
    Script(proxyAuth, {{3, Bytes({5, 2})}, {14, ""}});
    TSocksClient auth;
    auth.S.SocksAuthentication = socksAuthenticateUsercode;
    auth.Connect(proxyAuth.Port(), "5", "server", "80");
    ASSERT_TRUE(auth.Run());
    EXPECT_EQ(auth.Story(), (Events{"socksconnected:0", "auth:start", "auth:failure", "closed:0"}));
}

TEST(WSocketSocks, PropertyRules) {
    TSocksClient c;
    c.S.SetSocksLevel("4a");
    EXPECT_EQ(c.S.SocksLevel(), "4A");
    EXPECT_EQ(ErrorOf([&] { c.S.SetSocksLevel("6"); }), "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(ErrorOf([&] { c.S.SetSocksLevel("4b"); }), "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(c.S.SocksLevel(), "4A");
    c.S.SetSocksServer("  127.0.0.1 ");
    EXPECT_EQ(c.S.SocksServer(), "127.0.0.1");
    EXPECT_EQ(ErrorOf([&] { c.S.Listen(); }), "Listening is not supported thru socks server");
    c.S.SetProto("udp");
    c.S.SetAddr("server");
    c.S.SetPort("80");
    EXPECT_EQ(ErrorOf([&] { c.S.Connect(); }), "tcp is the only protocol supported thru socks server");

    // While a session is open: no proxy setting changes, and a second Connect leaves the
    // session alone.
    ScriptedPeer proxy;
    Script(proxy, {{3, Bytes({5, 0})}, {16, kReply5}, {18, "after"}});
    TSocksClient open;
    bool connected = false;
    open.S.OnSessionConnected = [&](TObject*, WORD) { connected = true; };
    open.Connect(proxy.Port(), "5", "server", "80");
    EXPECT_EQ(ErrorOf([&] { open.S.SetSocksLevel("4"); }), "Can't change socks level if not closed");
    EXPECT_EQ(ErrorOf([&] { open.S.SetSocksServer("x"); }), "Can't change socks server if not closed");
    EXPECT_EQ(ErrorOf([&] { open.S.SetSocksPort("1"); }), "Can't change socks port if not closed");
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    EXPECT_EQ(ErrorOf([&] { open.S.Connect(); }), "Connect: Socket already in use");
    open.S.SendText("go");
    ASSERT_TRUE(open.Run());
    EXPECT_EQ(open.Log.Data, "after");  // still application data, not a handshake reply
}

TEST(WSocketSocks, RequestsThatWouldNotFitAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::string level;
        bool auth;
        size_t user, pass, host;
        std::string error;  // empty: fits
    };
    const std::vector<Case> cases = {
        {"5", false, 0, 0, 121, ""},
        {"5", false, 0, 0, 122, "Connect: socks host name too long (122 bytes, at most 121)"},
        {"5", false, 300, 300, 10, ""},  // not offered, not sent
        {"5", true, 100, 25, 10, ""},
        {"5", true, 100, 26, 10, "Connect: socks user code and password too long (126 bytes together, at most 125)"},
        {"4", false, 119, 0, 9, ""},
        {"4", false, 120, 0, 9, "Connect: socks user code too long (120 bytes, at most 119)"},
        {"4A", false, 100, 0, 18, ""},
        {"4A", false, 100, 0, 19, "Connect: socks user code and host name too long (119 bytes together, at most 118)"},
    };
    ScriptedPeer proxy;  // listens; nobody answers
    for (const Case& k : cases) {
        SCOPED_TRACE(k.level + " " + std::to_string(k.user) + " " + std::to_string(k.pass) + " " + std::to_string(k.host));
        TSocksClient c;
        c.S.SocksUsercode = std::string(k.user, 'u');
        c.S.SocksPassword = std::string(k.pass, 'p');
        c.S.SocksAuthentication = k.auth ? socksAuthenticateUsercode : socksNoAuthentication;
        const std::string host = k.level == "4" ? "127.0.0.1" : std::string(k.host, 'h');
        EXPECT_EQ(ErrorOf([&] { c.Connect(proxy.Port(), k.level, host, "80"); }), k.error.empty() ? "(no error)" : k.error);
        EXPECT_EQ(c.S.State(), k.error.empty() ? wsConnecting : wsClosed);
    }

    // A proxy that asks for authentication that was not offered, with a password too long
    // for the request: the handshake fails after the greeting.
    ScriptedPeer asks;
    Script(asks, {{3, Bytes({5, 2})}});
    TSocksClient c;
    c.S.SocksUsercode = "user";
    c.S.SocksPassword = std::string(200, 'p');
    c.S.OnError = [&](TObject*) { c.Log.Events.push_back("error"); };
    c.Connect(asks.Port(), "5", "server", "80");
    ASSERT_TRUE(c.Run());
    asks.Join();
    EXPECT_EQ(asks.Received(), kGreeting);
    EXPECT_EQ(c.Story(),
              (Events{"socksconnected:0", "sockserror:20014:socks user code and password too long (204 bytes together, at most 125)",
                      "connected:20014", "closed:20014"}));
}
