// SPDX-License-Identifier: Apache-2.0
// https:// through the fetcher and the Internet client: nginx with TLS (byte-identical files
// on kept connections, resumed sessions, trust only through the extra authority, redirects
// between the schemes, a tunnel through tinyproxy), scripted TLS servers with bad certificates or without a TLS close,
// and an abort during a handshake.
#include <gtest/gtest.h>

#include <chrono>

#include "../http/Servers.h"
#include "FetchTestSupport.h"
#include "tls/TlsClient.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetHooks.h"
#include "support/Loopback.h"
#include "support/SilentIpv6Port.h"
#include "support/TestPki.h"
#include "support/TlsPeer.h"

namespace {

const long long kSizes[] = {0, 8193, 1000003};

std::string Name(long long size) { return "/f" + std::to_string(size) + ".bin"; }

class HTTPGetHttps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TTestPki;
        files_ = new TScratchDir;
        for (long long size : kSizes) WriteRandomFile(files_->File(Name(size).substr(1)), size, static_cast<unsigned>(size));
        if (!pki_->Why().empty()) return;
        nginx_ = new NginxServer(files_->Path(),
                                 // TLS 1.3: its session tickets come after the handshake
                                 "    ssl_protocols TLSv1.2 TLSv1.3;\n"
                                 "    location = /to-http { return 302 http://127.0.0.1:@PORT@/f1000003.bin; }\n",
                                 pki_->Server().Cert, pki_->Server().Key);
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete files_;
        delete pki_;
        nginx_ = nullptr;
        TlsApplySettings({});
    }
    void SetUp() override {
        if (!pki_->Why().empty()) GTEST_SKIP() << pki_->Why();
        ClearProxyEnvironment();
        TlsApplySettings({pki_->CaFile(), true});
        WinInetDropIdleConnections();
    }
    void NeedNginx() {
        if (!nginx_->Available()) GTEST_SKIP() << nginx_->Why();
    }
    static TTlsPeerScript Script(const TTestPki::TPair& pair, const std::string& response) {
        TTlsPeerScript s;
        s.Cert = pair.Cert;
        s.Key = pair.Key;
        s.Response = response;
        return s;
    }
    // One transfer with a fresh component; its events land in log.
    void Fetch(const std::string& url, bool toFile = true) {
        log = EventLog{};
        get = std::make_unique<THTTPGet>();
        log.Attach(*get);
        get->SetURL(url);
        get->SetFileName(Out());
        get->SetWaitThread(true);
        toFile ? get->FetchToFile() : get->FetchToString();
    }
    std::string Out() const { return dir.Path("out.bin"); }

    static TTestPki* pki_;
    static TScratchDir* files_;
    static NginxServer* nginx_;
    ScratchDir dir;
    std::unique_ptr<THTTPGet> get;
    EventLog log;
};
TTestPki* HTTPGetHttps::pki_ = nullptr;
TScratchDir* HTTPGetHttps::files_ = nullptr;
NginxServer* HTTPGetHttps::nginx_ = nullptr;

}  // namespace

TEST_F(HTTPGetHttps, FilesFromNginxArriveWholeOnOneKeptConnection) {
    NeedNginx();
    for (long long size : kSizes) {
        SCOPED_TRACE(size);
        Fetch(nginx_->TlsUrl(Name(size)));
        EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
        EXPECT_TRUE(SameFile(Out(), files_->File(Name(size).substr(1))));
        EXPECT_EQ(WinInetIdleConnectionCount(), 1);  // the same connection each time
    }
    // Each new connection to the same server resumes the session.
    const int resumed = WinInetResumedTlsHandshakes();
    for (int i = 1; i <= 2; ++i) {
        WinInetDropIdleConnections();
        Fetch(nginx_->TlsUrl(Name(8193)));
        EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
        EXPECT_EQ(WinInetResumedTlsHandshakes(), resumed + i);
    }
}

// Files fetched with the next two announced, as the photo queue does, over TLS to a server
// that honours ranges (two requests behind an answer, plain and ranged in turn). It ignores
// the range of an empty file (a 200 where a 206 was due, which cannot be told from a
// neighbour's answer): the answer in front is discarded and fetched again, as the photo
// queue does. Every file handed over arrives whole and as itself.
TEST_F(HTTPGetHttps, FilesAnnouncedBackToBackArriveWholeAndInPlace) {
    NeedNginx();
    const long long order[] = {8193, 1000003, 8193, 0, 1000003, 8193, 1000003};
    const std::size_t n = std::size(order);
    int discarded = 0;
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        log = EventLog{};
        get = std::make_unique<THTTPGet>();
        log.Attach(*get);
        get->SetURL(nginx_->TlsUrl(Name(order[i])));
        if (i + 1 < n) get->SetNextURL(nginx_->TlsUrl(Name(order[i + 1])));
        if (i + 2 < n) get->SetAfterNextURL(nginx_->TlsUrl(Name(order[i + 2])));
        get->SetFileName(Out());
        get->SetWaitThread(true);
        get->FetchToFile();
        if (!get->LastOutcome() && get->LastErrorCode() == ERROR_INTERNET_ANSWER_DISCARDED) {
            ++discarded;
            get->FetchToFile();
        }
        EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
        EXPECT_TRUE(SameFile(Out(), files_->File(Name(order[i]).substr(1))));
    }
    EXPECT_LE(discarded, 1);  // from then on one request at a time
}

TEST_F(HTTPGetHttps, CertificateFailuresAreFinalAndSayWhy) {
    NeedNginx();
    struct Case {
        const char* what;
        TTestPki::TPair pair;  // empty: nginx with the authority's certificate
        bool trustCa;
        DWORD code;
        const char* text;
    };
    for (const Case& c : {Case{"no extra authority", {}, false, ERROR_INTERNET_INVALID_CA,
                               "certificate of 127.0.0.1 is not trusted"},
                          Case{"self-signed", pki_->SelfSigned(), true, ERROR_INTERNET_INVALID_CA,
                               "to trust its authority use --ca-file or [tls] ca-file"},
                          Case{"wrong name", pki_->WrongName(), true, ERROR_INTERNET_SEC_CERT_CN_INVALID,
                               "certificate of 127.0.0.1 is not valid for that name"},
                          Case{"expired", pki_->Expired(), true, ERROR_INTERNET_SEC_CERT_DATE_INVALID,
                               "certificate of 127.0.0.1 is expired or not yet valid"}}) {
        SCOPED_TRACE(c.what);
        TlsApplySettings({c.trustCa ? pki_->CaFile() : std::string(), true});
        std::unique_ptr<TTlsScriptedPeer> peer;
        if (!c.pair.Cert.empty()) peer = std::make_unique<TTlsScriptedPeer>(Script(c.pair, "HTTP/1.0 200 OK\r\n\r\n"));
        Fetch(peer ? "https://127.0.0.1:" + std::to_string(peer->Port()) + "/x" : nginx_->TlsUrl(Name(8193)));
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
        EXPECT_EQ(get->LastErrorCode(), c.code);
        EXPECT_NE(get->LastErrorText().find(c.text), std::string::npos) << get->LastErrorText();
        EXPECT_FALSE(get->LastFailureMayPass());
        EXPECT_FALSE(Exists(Out()));
    }
}

TEST_F(HTTPGetHttps, RedirectsGoFromHttpToHttpsAndBack) {
    NeedNginx();
    ScriptedPeer plain("127.0.6.40", 80);
    plain.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 302 Found\r\nLocation: " + nginx_->TlsUrl("/to-http") + "\r\n\r\n");
    plain.Close().Start();
    Fetch("http://127.0.6.40/start");
    plain.Join();
    EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
    EXPECT_TRUE(SameFile(Out(), files_->File("f1000003.bin")));
}

TEST_F(HTTPGetHttps, TunnelsThroughAnHttpProxy) {
    NeedNginx();
    TinyProxy proxy;
    if (!proxy.Available()) GTEST_SKIP() << proxy.Why();
    ::setenv("http_proxy", ("127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
    // TLS through a tunnel, then a redirection to plain HTTP through the proxy itself.
    for (const char* path : {"/f8193.bin", "/to-http"}) {
        SCOPED_TRACE(path);
        Fetch(nginx_->TlsUrl(path));
        EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
        EXPECT_TRUE(SameFile(Out(), files_->File(path[1] == 'f' ? "f8193.bin" : "f1000003.bin")));
    }
    ClearProxyEnvironment();
}

TEST_F(HTTPGetHttps, AKeptConnectionServesOnlyItsOwnScheme) {
    NeedNginx();
    // A plain connection to nginx's plain port is kept; https to that port must not take it.
    const auto status = [](INTERNET_PORT port, DWORD flags, DWORD& error) {
        HINTERNET s = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET c = InternetConnectA(s, "127.0.0.1", port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
        HINTERNET r = HttpOpenRequestA(c, "GET", "/f8193.bin", nullptr, nullptr, nullptr, flags, 0);
        DWORD code = 0, size = sizeof code;
        error = HttpSendRequestA(r, nullptr, 0, nullptr, 0) ? 0 : GetLastError();
        if (error == 0) HttpQueryInfoA(r, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr);
        char buf[4096];
        DWORD read = 0;
        while (error == 0 && InternetReadFile(r, buf, sizeof buf, &read) && read > 0) {
        }
        for (HINTERNET h : {r, c, s}) InternetCloseHandle(h);
        return code;
    };
    const auto plainPort = static_cast<INTERNET_PORT>(nginx_->Port());
    DWORD error = 0;
    EXPECT_EQ(status(plainPort, 0, error), 200u);
    EXPECT_EQ(WinInetIdleConnectionCount(), 1);
    status(plainPort, INTERNET_FLAG_SECURE, error);
    EXPECT_EQ(error, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);  // a new connection: no TLS there
    EXPECT_EQ(WinInetIdleConnectionCount(), 1);
}

TEST_F(HTTPGetHttps, AMissingTlsCloseFailsOnlyAnUnframedBody) {
    struct Case {
        const char* response;
        bool closeNotify;
        DWORD code;  // 0: success
    };
    for (const Case c : {Case{"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 0},
                         Case{"HTTP/1.0 200 OK\r\n\r\nhello", false, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
                         Case{"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nhello", false,
                              ERROR_INTERNET_CONNECTION_ABORTED},
                         Case{"HTTP/1.0 200 OK\r\n\r\nhello", true, 0}}) {
        SCOPED_TRACE(std::string(c.response) + (c.closeNotify ? " with" : " without") + " TLS close");
        TTlsPeerScript script = Script(pki_->Server(), c.response);
        script.CloseNotify = c.closeNotify;
        TTlsScriptedPeer peer(script);
        Fetch("https://127.0.0.1:" + std::to_string(peer.Port()) + "/", false);  // text: any bytes succeed
        peer.Join();
        EXPECT_EQ(peer.Failure(), "");
        EXPECT_EQ(log.events, std::vector<std::string>{c.code ? "error" : "string hello"});
        EXPECT_EQ(get->LastErrorCode(), c.code);
        if (c.code == ERROR_INTERNET_SECURITY_CHANNEL_ERROR) {
            EXPECT_EQ(get->LastErrorText(), "the connection with 127.0.0.1 ended without a TLS close: the body may be cut short");
        }
    }
}

// Over TLS as over plain TCP: a chunked answer to an HTTP/1.0 request is decoded; a close
// before the head or inside it is an answer cut short, a failure that may pass.
TEST_F(HTTPGetHttps, ChunkedAnswersAndClosesBeforeTheHeadAsOverPlainTcp) {
    struct Case {
        const char* response;
        DWORD code;  // 0: success
    };
    for (const Case c : {Case{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhe\r\n3\r\nllo\r\n0\r\n\r\n", 0},
                         Case{"", ERROR_INTERNET_CONNECTION_ABORTED},
                         Case{"HTTP/1.1 200 OK\r\nContent-", ERROR_INTERNET_CONNECTION_ABORTED}}) {
        SCOPED_TRACE(c.response);
        TTlsScriptedPeer peer(Script(pki_->Server(), c.response));
        Fetch("https://127.0.0.1:" + std::to_string(peer.Port()) + "/", false);
        WinInetDropIdleConnections();  // the chunked answer's connection was kept
        peer.Join();
        EXPECT_EQ(log.events, std::vector<std::string>{c.code ? "error" : "string hello"});
        EXPECT_EQ(get->LastErrorCode(), c.code);
        if (c.code) {
            EXPECT_TRUE(get->LastFailureMayPass());
        }
    }
}

TEST_F(HTTPGetHttps, AbortEndsAHandshakeWithASilentServerAtOnce) {
    ScriptedPeer silent("127.0.0.1", 0);
    silent.Accept().ReadToEnd().Close().Start();  // takes the hello, never answers
    // Connect timeout 30 s: an end within the pump's 5 s comes from the abort.
    get = std::make_unique<THTTPGet>();
    log = EventLog{};
    log.Attach(*get);
    get->SetURL("https://127.0.0.1:" + std::to_string(silent.Port()) + "/s");
    get->SetFileName(Out());
    get->FetchToFile();
    PumpUntil([] { return false; }, 200);  // the worker now waits in the handshake
    get->Abort();
    ASSERT_TRUE(PumpUntil([&] { return log.Finished(); }));
    silent.Join();
    EXPECT_EQ(get->LastErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_FALSE(get->LastFailureMayPass());
}

TEST_F(HTTPGetHttps, ANameWhoseIPv6AddressIsSilentIsReachedOverIPv4) {
    // localhost answers [::1] first, where nothing accepts, then 127.0.0.1, where nginx is.
    NeedNginx();
    const TSilentIpv6Port silent(nginx_->TlsPort());
    ASSERT_TRUE(silent.Ok());
    WinInetSetAddressHook([](const std::string& host) {
        return host == "localhost" ? std::vector<std::string>{"::1", "127.0.0.1"} : std::vector<std::string>{};
    });
    const auto start = std::chrono::steady_clock::now();
    Fetch("https://localhost:" + std::to_string(nginx_->TlsPort()) + Name(8193));
    const auto took = std::chrono::steady_clock::now() - start;
    WinInetSetAddressHook(nullptr);
    EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
    EXPECT_TRUE(SameFile(Out(), files_->File(Name(8193).substr(1))));
    // Tried in turn, the IPv6 address would hold the transfer for the 30 s connect timeout.
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST_F(HTTPGetHttps, TheSystemProxyOfEveryKindCarriesTheTransferOrNamesTheStepThatFailed) {
    // The program's own proxy setting handed to the Internet layer: SOCKS 5 (with and
    // without a password, and with the name left to the proxy), SOCKS 4, an HTTP proxy.
    NeedNginx();
    MicroSocks plain, locked("fotaviq", "s3cret");
    DanteServer dante;
    TinyProxy tiny;
    using K = INTERNET_SYSTEM_PROXY::Kind;
    struct Case {
        const char* what;
        K kind;
        int port;
        std::string user, password, host;
        bool ok;
        DWORD code;
        const char* text;
    };
    const std::string tls = std::to_string(nginx_->TlsPort());
    const Case cases[] = {
        {"socks5", K::Socks5, plain.Port(), "", "", "127.0.0.1", true, 0, ""},
        {"socks5 user", K::Socks5, locked.Port(), "fotaviq", "s3cret", "127.0.0.1", true, 0, ""},
        {"socks5h", K::Socks5h, plain.Port(), "", "", "localhost", true, 0, ""},
        {"socks4", K::Socks4, dante.Port(), "", "", "127.0.0.1", true, 0, ""},
        {"http", K::Http, tiny.Port(), "", "", "127.0.0.1", true, 0, ""},
        {"wrong password", K::Socks5, locked.Port(), "fotaviq", "wrong", "127.0.0.1", false,
         ERROR_INTERNET_CANNOT_CONNECT, "refused the authentication"},
        {"no password", K::Socks5, locked.Port(), "", "", "127.0.0.1", false, ERROR_INTERNET_CANNOT_CONNECT,
         "requires authentication"},
        {"unreachable host", K::Socks5, plain.Port(), "", "", "127.0.0.1", false, ERROR_INTERNET_CANNOT_CONNECT,
         "could not reach 127.0.0.1:1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!plain.Available() || !locked.Available() || !dante.Available() || !tiny.Available())
            GTEST_SKIP() << "a proxy did not start";
        InternetSetSystemProxy([&c](bool, const std::string&, INTERNET_SYSTEM_PROXY& out, std::string&) {
            out.kind = c.kind;
            out.host = "127.0.0.1";
            out.port = static_cast<INTERNET_PORT>(c.port);
            out.userName = c.user;
            out.password = c.password;
            return true;
        });
        // socks5h: a look-up of the name here would fail the transfer.
        WinInetSetLookupHook([](const std::string& host) { return host != "localhost"; });
        WinInetDropIdleConnections();
        const std::string port = std::string(c.what) == "unreachable host" ? "1" : tls;
        Fetch("https://" + c.host + ":" + port + Name(8193));
        WinInetSetLookupHook(nullptr);
        InternetSetSystemProxy(nullptr);
        EXPECT_EQ(get->LastOutcome(), c.ok) << get->LastErrorText();
        if (c.ok) {
            EXPECT_TRUE(SameFile(Out(), files_->File(Name(8193).substr(1))));
        } else {
            EXPECT_EQ(get->LastErrorCode(), c.code);
            EXPECT_NE(get->LastErrorText().find(c.text), std::string::npos) << get->LastErrorText();
        }
    }
    // A setting that cannot be used fails the transfer in its own words, not silently direct.
    InternetSetSystemProxy([](bool, const std::string&, INTERNET_SYSTEM_PROXY&, std::string& why) {
        why = "proxy 'ftp://x' from --proxy cannot be used";
        return false;
    });
    Fetch(nginx_->TlsUrl(Name(8193)));
    InternetSetSystemProxy(nullptr);
    EXPECT_FALSE(get->LastOutcome());
    EXPECT_EQ(get->LastErrorCode(), ERROR_INTERNET_INVALID_PROXY_REQUEST);
    EXPECT_EQ(get->LastErrorText(), "proxy 'ftp://x' from --proxy cannot be used");
}

TEST_F(HTTPGetHttps, ARealProxyResolvesTheNameForSocks4aAndSocks5h) {
    // ssh's dynamic forwarding speaks SOCKS 4A: "localhost" reaches it as a name, since a
    // look-up of it here fails the transfer.
    NeedNginx();
    const SshSocksProxy ssh;
    if (!ssh.Available()) GTEST_SKIP() << ssh.Why();
    using K = INTERNET_SYSTEM_PROXY::Kind;
    for (const K kind : {K::Socks4a, K::Socks5h}) {
        SCOPED_TRACE(kind == K::Socks4a ? "socks4a" : "socks5h");
        InternetSetSystemProxy([&ssh, kind](bool, const std::string&, INTERNET_SYSTEM_PROXY& out, std::string&) {
            out.kind = kind;
            out.host = "127.0.0.1";
            out.port = static_cast<INTERNET_PORT>(ssh.Port());
            return true;
        });
        WinInetSetLookupHook([](const std::string& host) { return host != "localhost"; });
        WinInetDropIdleConnections();
        Fetch("https://localhost:" + std::to_string(nginx_->TlsPort()) + Name(1000003));
        WinInetSetLookupHook(nullptr);
        InternetSetSystemProxy(nullptr);
        EXPECT_TRUE(get->LastOutcome()) << get->LastErrorText();
        EXPECT_TRUE(SameFile(Out(), files_->File(Name(1000003).substr(1))));
    }
}
