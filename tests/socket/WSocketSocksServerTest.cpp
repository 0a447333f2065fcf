// SPDX-License-Identifier: Apache-2.0
// End to end through real SOCKS servers started on loopback for each test: a SOCKS5 server
// with and without user name and password, and one that speaks versions 4 and 5, in front
// of a small HTTP server.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#include "SocksTestSupport.h"
#include "support/Loopback.h"

namespace {

using Events = std::vector<std::string>;

const std::string kRequest = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
const std::string kResponse = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nthrough the proxy";

// A one-request HTTP server.
struct THttpTarget {
    ScriptedPeer Peer;
    THttpTarget() {
        Peer.Accept().ReadUntil("\r\n\r\n").Send(kResponse).Close();
        Peer.Start();
    }
};

// Fetches the page through the proxy; the request goes out once the session is connected.
void Fetch(TSocksClient& c, std::uint16_t proxyPort, const std::string& level, std::uint16_t targetPort) {
    c.S.OnSessionConnected = [&c](TObject*, WORD e) {
        c.Log.Events.push_back("connected:" + std::to_string(e));
        if (e == 0) c.S.SendText(kRequest);
    };
    c.Connect(proxyPort, level, "127.0.0.1", std::to_string(targetPort));
    ASSERT_TRUE(c.Run());
}

class WSocketSocksServers : public ::testing::Test {
protected:
    // Each starter returns whether the server runs; the test is skipped when the program is
    // not installed and fails when it does not start.
    // microsocks, with a user when given.
    bool StartMicrosocks(const std::string& user = "", const std::string& password = "") {
        const std::string path = FindProgram("microsocks");
        if (path.empty()) {
            [] { GTEST_SKIP() << "microsocks is not installed; SOCKS5 end-to-end tests skipped"; }();
            return false;
        }
        port = FreeLoopbackPort();
        std::vector<std::string> argv{path, "-i", "127.0.0.1", "-p", std::to_string(port)};
        if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
        return Started(server.Start(argv, port));
    }
    bool StartDante() {
        const std::string path = FindProgram("danted");
        if (path.empty()) {
            [] { GTEST_SKIP() << "danted (dante-server) is not installed; SOCKS4/5 end-to-end tests skipped"; }();
            return false;
        }
        port = FreeLoopbackPort();
        std::string config = "logoutput: " + scratch.File("danted.log") + "\ninternal: 127.0.0.1 port = " +
                             std::to_string(port) +
                             "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
        if (::geteuid() == 0) config += "user.privileged: root\nuser.unprivileged: nobody\n";
        config += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\nsocks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
        return Started(server.Start({path, "-f", scratch.Write("danted.conf", config), "-N", "1"}, port));
    }
    static bool Started(const std::string& failure) {
        EXPECT_EQ(failure, "");
        return failure.empty();
    }

    TScratchDir scratch;
    TChildProcess server;
    std::uint16_t port = 0;
};

}  // namespace

TEST_F(WSocketSocksServers, Socks5WithoutAuthentication) {
    if (!StartMicrosocks()) return;
    THttpTarget target;
    TSocksClient c;
    Fetch(c, port, "5", target.Peer.Port());
    target.Peer.Join();
    EXPECT_EQ(target.Peer.Received(), kRequest);
    EXPECT_EQ(c.Log.Data, kResponse);
    EXPECT_EQ(c.Story(), (Events{"socksconnected:0", "connected:0", "closed:0"}));
    EXPECT_FALSE(c.S.SocksBoundAddr().empty());

    // The proxy cannot reach the destination.
    TSocksClient refused;
    refused.Connect(port, "5", "127.0.0.1", std::to_string(FreeLoopbackPort()));
    ASSERT_TRUE(refused.Run());
    EXPECT_EQ(refused.Story(),
              (Events{"socksconnected:0", "sockserror:20008:connection refused", "connected:20008", "closed:20008"}));
}

TEST_F(WSocketSocksServers, Socks5WithUserNameAndPassword) {
    if (!StartMicrosocks("user", "pass")) return;
    THttpTarget target;
    TSocksClient c;
    c.S.SocksAuthentication = socksAuthenticateUsercode;
    Fetch(c, port, "5", target.Peer.Port());
    EXPECT_EQ(c.Log.Data, kResponse);
    EXPECT_EQ(c.Story(), (Events{"socksconnected:0", "auth:start", "auth:success", "connected:0", "closed:0"}));

    TSocksClient wrong;
    wrong.S.SocksAuthentication = socksAuthenticateUsercode;
    wrong.S.SocksPassword = "wrong";
    wrong.Connect(port, "5", "127.0.0.1", "80");
    ASSERT_TRUE(wrong.Run());
    EXPECT_EQ(wrong.Story(), (Events{"socksconnected:0", "auth:start", "sockserror:20015:socks authentication failed",
                                     "connected:20015", "closed:20015"}));

    TSocksClient none;  // offers no authentication to a server that requires it
    none.Connect(port, "5", "127.0.0.1", "80");
    ASSERT_TRUE(none.Run());
    EXPECT_EQ(none.Story(), (Events{"socksconnected:0", "sockserror:20003:authentification method not acceptable",
                                    "connected:20003", "closed:20003"}));
}

TEST_F(WSocketSocksServers, Socks4AndSocks5InLineMode) {
    if (!StartDante()) return;
    THttpTarget target4;
    TSocksClient c4;
    c4.S.SocksUsercode = "fotaviq";
    Fetch(c4, port, "4", target4.Peer.Port());
    EXPECT_EQ(c4.Log.Data, kResponse);
    EXPECT_EQ(c4.Story(), (Events{"socksconnected:0", "connected:0", "closed:0"}));

    THttpTarget target5;
    TSocksClient c5;
    std::vector<std::string> lines;
    c5.S.SetLineMode(true);
    c5.S.OnDataAvailable = [&](TObject*, WORD) { lines.push_back(c5.S.ReceiveText()); };
    Fetch(c5, port, "5", target5.Peer.Port());
    EXPECT_EQ(lines, (std::vector<std::string>{"HTTP/1.0 200 OK\r\n", "Content-Type: text/plain\r\n", "\r\n",
                                                 "through the proxy"}));

    // This server does not resolve names for version 4 clients.
    TSocksClient c4a;
    c4a.Connect(port, "4A", "localhost", "80");
    ASSERT_TRUE(c4a.Run());
    EXPECT_EQ(c4a.Story(), (Events{"socksconnected:0", "sockserror:20016:request rejected or failed",
                                   "connected:20016", "closed:20016"}));
}
