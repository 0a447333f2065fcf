// SPDX-License-Identifier: Apache-2.0
// The TLS layer against a scripted TLS server: records split a byte at a time or sent in
// one burst, readers that take 1 byte per call with and without the receive loop, a peer
// that ends without a TLS close, the verification failures and their classes, SNI, and
// TLS through a real SOCKS5 proxy.
#include <gtest/gtest.h>

#include <algorithm>

#include "SocksTestSupport.h"
#include "support/ChildProcess.h"
#include "support/TestPki.h"
#include "support/TlsPeer.h"

namespace {

const std::string kRequest = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";

// More than two records, so that OpenSSL holds decrypted and undecrypted bytes at once.
std::string LongResponse() {
    std::string body;
    for (int i = 0; body.size() < 40000; ++i) body += "line " + std::to_string(i) + "\r\n";
    return "HTTP/1.0 200 OK\r\n\r\n" + body;
}

struct TTlsClient {
    TEventLog Log;  // outlives the socket, whose last events it records
    TTestSocket S;
    TTlsClient() {
        Log.Attach(S);
        S.OnSessionConnected = [this](TObject*, WORD e) {
            Log.Events.push_back("connected:" + std::to_string(e));
            if (e == 0) S.SendText(kRequest);
        };
    }
    void Connect(std::uint16_t port, const std::string& tlsHost = "") {
        S.SetAddr("127.0.0.1");
        S.SetPort(std::to_string(port));
        S.SetTlsEnabled(true);
        S.SetTlsHost(tlsHost);
        S.Connect();
    }
    bool Run() { return PumpUntil([&] { return Log.Closed; }); }
    // Session events only.
    std::vector<std::string> Story() const {
        std::vector<std::string> r;
        for (const std::string& e : Log.Events)
            if (e.rfind("connected:", 0) == 0 || e.rfind("closed:", 0) == 0) r.push_back(e);
        return r;
    }
};

class WSocketTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = new TTestPki; }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
        TlsSetSettings({});
    }
    void SetUp() override {
        if (!pki_->Why().empty()) GTEST_SKIP() << pki_->Why();
        TlsSetSettings({pki_->CaFile(), true});
    }
    static TTlsPeerScript Script(const TTestPki::TPair& pair, std::string response) {
        TTlsPeerScript s;
        s.Cert = pair.Cert;
        s.Key = pair.Key;
        s.Response = std::move(response);
        return s;
    }
    static TTestPki* pki_;
};
TTestPki* WSocketTls::pki_ = nullptr;

}  // namespace

TEST_F(WSocketTls, EverySplitReachesEveryReaderInOrder) {
    const std::string response = LongResponse();
    struct Case {
        std::size_t piece;
        int readSize;
        bool noReceiveLoop;
    };
    for (const Case c : {Case{0, 0, false}, Case{0, 1, true}, Case{0, 1, false}, Case{1, 1, true}, Case{1, 0, false},
                         Case{5, 8192, true}}) {
        SCOPED_TRACE("piece " + std::to_string(c.piece) + " read " + std::to_string(c.readSize) +
                     (c.noReceiveLoop ? " one read per notification" : " receive loop"));
        TTlsPeerScript script = Script(pki_->Server(), response);
        script.Piece = c.piece;
        TTlsScriptedPeer peer(script);
        TTlsClient client;
        client.Log.ReadSize = c.readSize;
        if (c.noReceiveLoop) client.S.ComponentOptions.Include(wsoNoReceiveLoop);
        client.Connect(peer.Port());
        ASSERT_TRUE(client.Run());
        peer.Join();
        EXPECT_EQ(peer.Failure(), "");
        EXPECT_EQ(peer.Request(), kRequest);
        EXPECT_EQ(client.Log.Data.size(), response.size());
        EXPECT_TRUE(client.Log.Data == response);
        EXPECT_EQ(client.Story(), (std::vector<std::string>{"connected:0", "closed:0"}));
        EXPECT_TRUE(client.S.TlsCloseReceived());
    }
}

TEST_F(WSocketTls, LineModeSeesPlainLines) {
    const std::string response = LongResponse();
    TTlsPeerScript script = Script(pki_->Server(), response);
    script.Piece = 3;
    TTlsScriptedPeer peer(script);
    TTlsClient client;
    client.S.SetLineMode(true);
    client.Connect(peer.Port());
    ASSERT_TRUE(client.Run());
    EXPECT_TRUE(client.Log.Data == response);
    std::size_t lines = 0;
    for (std::size_t at = response.find("\r\n"); at != std::string::npos; at = response.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(std::count(client.Log.Events.begin(), client.Log.Events.end(), "data:0"), static_cast<long>(lines));
}

TEST_F(WSocketTls, EndWithoutTlsCloseIsReportedAfterTheData) {
    const std::string response = LongResponse();
    // Whole records, then one cut short: what was whole arrives, the rest never passes for data.
    for (const std::size_t dropTail : {std::size_t{0}, std::size_t{100}}) {
        SCOPED_TRACE(dropTail);
        TTlsPeerScript script = Script(pki_->Server(), response);
        script.CloseNotify = false;
        script.DropTail = dropTail;
        TTlsScriptedPeer peer(script);
        TTlsClient client;
        client.Connect(peer.Port());
        ASSERT_TRUE(client.Run());
        if (dropTail == 0) {
            EXPECT_TRUE(client.Log.Data == response);
        } else {
            EXPECT_LT(client.Log.Data.size(), response.size());
            EXPECT_GT(client.Log.Data.size(), 0u);
            EXPECT_TRUE(response.compare(0, client.Log.Data.size(), client.Log.Data) == 0);
        }
        EXPECT_EQ(client.Story(), (std::vector<std::string>{"connected:0", "closed:20105"}));
        EXPECT_EQ(client.S.TlsFailure().Kind, TTlsFailure::Truncated);
    }
}

TEST_F(WSocketTls, CertificateFailuresAreClassifiedAndNameTheServer) {
    struct Case {
        const char* name;
        TTestPki::TPair pair;
        bool trustCa;
        std::string tlsHost;
        TTlsFailure kind;
        int code;
        int internetCode;
    };
    const Case cases[] = {
        {"unknown authority", pki_->Server(), false, "", TTlsFailure::UntrustedAuthority, 20101, 12045},
        {"self-signed", pki_->SelfSigned(), true, "", TTlsFailure::UntrustedAuthority, 20101, 12045},
        {"other name", pki_->WrongName(), true, "", TTlsFailure::NameMismatch, 20102, 12038},
        {"name asked for", pki_->Server(), true, "other.example", TTlsFailure::NameMismatch, 20102, 12038},
        {"expired", pki_->Expired(), true, "", TTlsFailure::DateInvalid, 20103, 12037},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TlsSetSettings({c.trustCa ? pki_->CaFile() : std::string(), true});
        TTlsScriptedPeer peer(Script(c.pair, "never sent"));
        TTlsClient client;
        client.Connect(peer.Port(), c.tlsHost);
        ASSERT_TRUE(client.Run());
        const std::string code = std::to_string(c.code);
        EXPECT_EQ(client.Story(), (std::vector<std::string>{"connected:" + code, "closed:" + code}));
        EXPECT_EQ(client.Log.Data, "");
        EXPECT_EQ(client.S.TlsFailure().Kind, c.kind);
        EXPECT_EQ(TlsFailureInternetCode(c.kind), c.internetCode);
        const std::string server = c.tlsHost.empty() ? "127.0.0.1" : c.tlsHost;
        EXPECT_NE(client.S.TlsFailure().Text.find("certificate of " + server), std::string::npos)
            << client.S.TlsFailure().Text;
        if (c.kind == TTlsFailure::UntrustedAuthority) {
            EXPECT_NE(client.S.TlsFailure().Text.find("--ca-file"), std::string::npos);
        }
        peer.Join();
        EXPECT_EQ(peer.Request(), "");
    }
    // With verification off the self-signed server is reached.
    TlsSetSettings({"", false});
    TTlsScriptedPeer peer(Script(pki_->SelfSigned(), "HTTP/1.0 200 OK\r\n\r\nanyway"));
    TTlsClient client;
    client.Connect(peer.Port());
    ASSERT_TRUE(client.Run());
    EXPECT_EQ(client.Story(), (std::vector<std::string>{"connected:0", "closed:0"}));
    EXPECT_EQ(client.Log.Data, "HTTP/1.0 200 OK\r\n\r\nanyway");
}

TEST_F(WSocketTls, AHandshakeCutShortIsAConnectFailure) {
    for (const int ending : {0, 1, 2}) {
        SCOPED_TRACE(ending);
        ScriptedPeer peer;
        peer.Accept().ReadCount(1);
        if (ending == 0) peer.Close();
        if (ending == 1) peer.Reset();
        if (ending == 2) peer.Send("HTTP/1.0 400 Bad Request\r\n\r\n").Close();  // no TLS server at all
        peer.Start();
        TTlsClient client;
        client.Connect(peer.Port());
        ASSERT_TRUE(client.Run());
        const std::vector<std::string> story = client.Story();
        ASSERT_EQ(story.size(), 2u) << testing::PrintToString(story);
        EXPECT_NE(story[0], "connected:0");
        EXPECT_EQ(story[0].substr(10), story[1].substr(7));  // the same code in both
        EXPECT_EQ(client.S.TlsFailure().Kind, TTlsFailure::ChannelError);
        EXPECT_NE(client.S.TlsFailure().Text.find("TLS handshake with 127.0.0.1 failed"), std::string::npos)
            << client.S.TlsFailure().Text;
    }
}

TEST_F(WSocketTls, SniNamesHostsButNeverAddresses) {
    for (const std::string host : {"localhost", ""}) {
        TTlsScriptedPeer peer(Script(pki_->Server(), "HTTP/1.0 204 No Content\r\n\r\n"));
        TTlsClient client;
        client.Connect(peer.Port(), host);
        ASSERT_TRUE(client.Run());
        peer.Join();
        EXPECT_EQ(client.Story(), (std::vector<std::string>{"connected:0", "closed:0"}));
        EXPECT_EQ(peer.ServerName(), host);
    }
}

TEST_F(WSocketTls, BadCaFileIsRefusedAndKeepsTheSettings) {
    const std::string error = ErrorOf([] { TlsSetSettings({"/nonexistent/ca.pem", true}); });
    EXPECT_NE(error.find("/nonexistent/ca.pem"), std::string::npos) << error;
    EXPECT_EQ(TlsGetSettings().CaFile, pki_->CaFile());
}

TEST_F(WSocketTls, RunsThroughASocks5Proxy) {
    const std::string path = FindProgram("microsocks");
    if (path.empty()) GTEST_SKIP() << "microsocks is not installed";
    const std::uint16_t proxyPort = FreeLoopbackPort();
    TChildProcess proxy;
    ASSERT_EQ(proxy.Start({path, "-i", "127.0.0.1", "-p", std::to_string(proxyPort)}, proxyPort), "");
    const std::string response = LongResponse();
    TTlsScriptedPeer peer(Script(pki_->Server(), response));
    TTlsClient client;
    client.S.SetSocksServer("127.0.0.1");
    client.S.SetSocksPort(std::to_string(proxyPort));
    client.Connect(peer.Port());
    ASSERT_TRUE(client.Run());
    EXPECT_EQ(client.Story(), (std::vector<std::string>{"connected:0", "closed:0"}));
    EXPECT_TRUE(client.Log.Data == response);
}
