// SPDX-License-Identifier: Apache-2.0
// THttpCli through real proxies on loopback in front of nginx: SOCKS 5 (microsocks, with and
// without a user name and password, and on IPv6), SOCKS 4 and 5 (dante), SOCKS 4A (ssh's
// dynamic forwarding, and a script for the exact bytes), an HTTP proxy with CONNECT for
// https (tinyproxy), and scripted proxies that refuse a tunnel or check the bytes of a
// request for an IPv6 address. A name the proxy resolves is never looked up here (the platform's
// look-up hook fails it); each failing step is named.
#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "ClientCalls.h"
#include "Servers.h"
#include "base/Stream.h"
#include "http/HttpProt.h"
#include "winsock/WinsockHooks.h"
#include "socket/WSocketTlsConfig.h"
#include "support/Loopback.h"
#include "support/TestPki.h"

namespace {

const std::string kPage = "through the proxy\n";

// Points the client at a SOCKS proxy on 127.0.0.1:port.
void UseLoopbackSocks(THttpCli& c, int port, const char* level, const std::string& user = "") {
    c.SetSocksServer("127.0.0.1");
    c.SetSocksPort(std::to_string(port));
    c.SetSocksLevel(level);
    if (!user.empty()) c.SetSocksUsercode(user);
}

// The names looked up here, and the ones made to fail.
class TLookups {
public:
    explicit TLookups(std::set<std::string> failing) : failing_(std::move(failing)) {
        WinsockSetLookupHook([this](const std::string& query) {
            std::lock_guard<std::mutex> lock(mu_);
            seen_.insert(query);
            return failing_.count(query) ? 11001 : 0;  // WSAHOST_NOT_FOUND
        });
    }
    ~TLookups() { WinsockSetLookupHook({}); }
    bool Seen(const std::string& name) {
        std::lock_guard<std::mutex> lock(mu_);
        return seen_.count(name) > 0;
    }

private:
    std::mutex mu_;
    std::set<std::string> failing_;
    std::set<std::string> seen_;
};

enum class TServer { Micro, MicroAuth, Dante, Tiny, Refusing };

struct TVia {
    TServer Server;
    const char* Level;  // SOCKS level; "" for the HTTP proxy
    bool RemoteNames;
    const char* User;
    const char* Password;
};

class Proxies : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TTestPki;
        files_ = new TScratchDir;
        files_->Write("page.txt", kPage);
        nginx_ = pki_->Why().empty() ? new NginxServer(files_->Path(), "", pki_->Server().Cert, pki_->Server().Key)
                                     : new NginxServer(files_->Path());
        micro_ = new MicroSocks;
        microAuth_ = new MicroSocks("joe", "s3cret");
        dante_ = new DanteServer;
        tiny_ = new TinyProxy;
    }
    static void TearDownTestSuite() {
        delete tiny_;
        delete dante_;
        delete microAuth_;
        delete micro_;
        delete nginx_;
        delete files_;
        delete pki_;
        TlsSetSettings({});
    }
    void SetUp() override {
        if (!nginx_->Available()) GTEST_SKIP() << nginx_->Why();
        if (pki_->Why().empty()) TlsSetSettings({pki_->CaFile(), true});
    }
    // The port of the proxy (a refusing one: a free port).
    static int PortOf(TServer s) {
        switch (s) {
            case TServer::Micro: return micro_->Port();
            case TServer::MicroAuth: return microAuth_->Port();
            case TServer::Dante: return dante_->Port();
            case TServer::Tiny: return tiny_->Port();
            case TServer::Refusing: return FreeLoopbackPort();
        }
        return 0;
    }
    // Fetches url through via; the failure text, "" on success (then the page arrived).
    static std::string Fetch(const TVia& via, const std::string& url) {
        THttpCli c;
        const std::string port = std::to_string(PortOf(via.Server));
        if (*via.Level == '\0') {
            c.SetProxy("127.0.0.1:" + port);
        } else {
            c.SetSocksServer("127.0.0.1");
            c.SetSocksPort(port);
            c.SetSocksLevel(via.Level);
            c.SetSocksRemoteNames(via.RemoteNames);
            c.SetSocksUsercode(via.User);
            c.SetSocksPassword(via.Password);
        }
        TStringStream doc;
        c.SetURL(url);
        c.SetDocStream(&doc);
        const std::string failure = GetFailure(c);
        if (failure.empty() && doc.DataString() != kPage) return "wrong page: " + doc.DataString();
        return failure;
    }
    // Skips the test unless every proxy program runs.
    static bool AllRunning() {
        for (const auto& [ok, why] : {std::make_pair(micro_->Available(), micro_->Why()),
                                      std::make_pair(microAuth_->Available(), microAuth_->Why()),
                                      std::make_pair(dante_->Available(), dante_->Why()),
                                      std::make_pair(tiny_->Available(), tiny_->Why())})
            if (!ok) {
                [&why] { GTEST_SKIP() << why; }();
                return false;
            }
        return true;
    }

    static TTestPki* pki_;
    static TScratchDir* files_;
    static NginxServer* nginx_;
    static MicroSocks* micro_;
    static MicroSocks* microAuth_;
    static DanteServer* dante_;
    static TinyProxy* tiny_;
};
TTestPki* Proxies::pki_ = nullptr;
TScratchDir* Proxies::files_ = nullptr;
NginxServer* Proxies::nginx_ = nullptr;
MicroSocks* Proxies::micro_ = nullptr;
MicroSocks* Proxies::microAuth_ = nullptr;
DanteServer* Proxies::dante_ = nullptr;
TinyProxy* Proxies::tiny_ = nullptr;

}  // namespace

TEST_F(Proxies, PagesArriveThroughEveryKindAndOnlyLocalNamesAreLookedUpHere) {
    if (!AllRunning()) return;
    struct Case {
        const char* name;
        TVia via;
        bool https;
        const char* host;
        bool lookedUpHere;  // whether this side resolves "localhost"
    };
    const Case cases[] = {
        {"socks5", {TServer::Micro, "5", false, "", ""}, false, "localhost", true},
        {"socks5h", {TServer::Micro, "5", true, "", ""}, false, "localhost", false},
        {"socks5h https", {TServer::Micro, "5", true, "", ""}, true, "localhost", false},
        {"socks5 with a user", {TServer::MicroAuth, "5", false, "joe", "s3cret"}, false, "127.0.0.1", true},
        {"socks4 (dante)", {TServer::Dante, "4", false, "fotaviq", ""}, false, "localhost", true},
        {"socks5 (dante)", {TServer::Dante, "5", false, "", ""}, false, "localhost", true},
        {"http proxy", {TServer::Tiny, "", false, "", ""}, false, "127.0.0.1", true},
        {"http proxy, https by CONNECT", {TServer::Tiny, "", false, "", ""}, true, "127.0.0.1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.https && !pki_->Why().empty()) continue;  // (no openssl program: no certificates)
        // A name the proxy resolves must not be looked up here: such a look-up fails.
        TLookups lookups(c.lookedUpHere ? std::set<std::string>{} : std::set<std::string>{"localhost"});
        const int port = c.https ? nginx_->TlsPort() : nginx_->Port();
        const std::string url = std::string(c.https ? "https://" : "http://") + c.host + ":" + std::to_string(port) +
                                "/page.txt";
        EXPECT_EQ(Fetch(c.via, url), "");
        EXPECT_EQ(lookups.Seen("localhost"), c.lookedUpHere && std::string(c.host) == "localhost");
    }
}

TEST_F(Proxies, EachFailingStepIsNamed) {
    if (!AllRunning()) return;
    const std::string closed = std::to_string(FreeLoopbackPort());
    struct Case {
        TVia via;
        std::string url;
        std::string want;  // part of the failure text
    };
    const Case cases[] = {
        {{TServer::MicroAuth, "5", false, "joe", "wrong"}, nginx_->Url("/page.txt"),
         "refused the authentication (user name and password): socks authentication failed (Error #20015)"},
        {{TServer::MicroAuth, "5", false, "", ""}, nginx_->Url("/page.txt"),
         "requires authentication: give a user name and password"},
        {{TServer::Refusing, "5", true, "", ""}, nginx_->Url("/page.txt"), "can't connect to the SOCKS proxy 127.0.0.1:"},
        {{TServer::Refusing, "", false, "", ""}, nginx_->Url("/page.txt"), "can't connect to the proxy 127.0.0.1:"},
        {{TServer::Micro, "5", false, "", ""}, "http://127.0.0.1:" + closed + "/",
         "could not reach 127.0.0.1:" + closed + ": connection refused (Error #20008)"},
        {{TServer::Dante, "4", false, "", ""}, "http://127.0.0.1:" + closed + "/",
         "refused the connection to 127.0.0.1:" + closed + ": request rejected or failed (Error #20016)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        const std::string failure = Fetch(c.via, c.url);
        EXPECT_NE(failure.find(c.want), std::string::npos) << failure;
    }
    // TLS through the proxy to a server that does not speak it: the TLS layer's failure.
    if (pki_->Why().empty()) {
        const std::string failure =
            Fetch({TServer::Micro, "5", true, "", ""}, "https://localhost:" + std::to_string(nginx_->Port()) + "/");
        EXPECT_EQ(failure.find("SOCKS"), std::string::npos) << failure;
        EXPECT_NE(failure.find("localhost"), std::string::npos) << failure;
    }
    // The proxy's own name that does not resolve.
    TLookups lookups({"socks.invalid"});
    THttpCli c;
    c.SetSocksServer("socks.invalid");
    c.SetURL(nginx_->Url("/page.txt"));
    EXPECT_NE(GetFailure(c).find("can't resolve the SOCKS proxy's host name socks.invalid"), std::string::npos);
}

TEST_F(Proxies, AProxyOnIpv6IsReachedAndANameOfBothFamiliesIsRaced) {
    // microsocks on [::1] only, given as an address (bare or bracketed) or by a name; a name
    // that answers [::1] first for the proxy on 127.0.0.1 only reaches it over IPv4.
    const MicroSocks six("", "", "::1");
    if (!six.Available()) GTEST_SKIP() << six.Why();
    if (!micro_->Available()) GTEST_SKIP() << micro_->Why();
    const auto fetch = [](const std::string& server, int port) {
        THttpCli c;
        c.SetSocksServer(server);
        c.SetSocksPort(std::to_string(port));
        TStringStream doc;
        c.SetURL(nginx_->Url("/page.txt"));
        c.SetDocStream(&doc);
        const std::string failure = GetFailure(c);
        return failure.empty() ? doc.DataString() : failure;
    };
    EXPECT_EQ(fetch("::1", six.Port()), kPage);
    EXPECT_EQ(fetch("[::1]", six.Port()), kPage);
    WinsockSetAddressHook([](const std::string& name) {
        return name == "socks.test" ? std::vector<std::string>{"::1", "127.0.0.1"} : std::vector<std::string>{};
    });
    EXPECT_EQ(fetch("socks.test", six.Port()), kPage);
    EXPECT_EQ(fetch("socks.test", micro_->Port()), kPage);
    WinsockSetAddressHook({});
    const std::string closed = std::to_string(FreeLoopbackPort());
    EXPECT_NE(fetch("::1", std::stoi(closed)).find("can't connect to the SOCKS proxy [::1]:" + closed + ": "),
              std::string::npos);
}

TEST_F(Proxies, ARealSocks4aProxyResolvesTheName) {
    // ssh's dynamic forwarding: "localhost" reaches it as a name (a look-up here fails).
    const SshSocksProxy ssh;
    if (!ssh.Available()) GTEST_SKIP() << ssh.Why();
    TLookups lookups({"localhost"});
    THttpCli c;
    UseLoopbackSocks(c, ssh.Port(), "4A", "fotaviq");
    TStringStream doc;
    c.SetURL("http://localhost:" + std::to_string(nginx_->Port()) + "/page.txt");
    c.SetDocStream(&doc);
    EXPECT_EQ(GetFailure(c), "");
    EXPECT_EQ(doc.DataString(), kPage);
    EXPECT_FALSE(lookups.Seen("localhost"));
}

TEST(ScriptedProxy, AProxyThatEndsOrSpeaksSomethingElseIsNamed) {
    struct Case {
        const char* level;
        std::string answer;  // sent after the first request; then the proxy closes
        std::string want;
    };
    const Case cases[] = {
        {"5", "", "closed the connection during its handshake"},
        {"4", "", "closed the connection during its handshake"},
        {"5", "HTTP/1.0 400 Bad Request\r\n\r\n", "does not answer as a SOCKS 5 proxy: socks version error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        ScriptedPeer proxy;
        proxy.Accept().ReadCount(3).Send(c.answer).Close();
        proxy.Start();
        THttpCli client;
        UseLoopbackSocks(client, proxy.Port(), c.level);
        client.SetURL("http://127.0.0.1:1/");
        const std::string failure = GetFailure(client);
        EXPECT_NE(failure.find("the SOCKS proxy 127.0.0.1:" + std::to_string(proxy.Port()) + " " + c.want),
                  std::string::npos)
            << failure;
        proxy.Join();
    }
}

TEST(ProxySocks4a, TheProxyReceivesTheNameAndNothingIsLookedUpHere) {
    ScriptedPeer proxy;
    const std::string reply("\x00\x5A\x00\x00\x00\x00\x00\x00", 8);
    proxy.Accept()
        .ReadUntil(std::string("album.example\0", 14))
        .Send(reply)
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\n\r\n" + kPage)
        .Close();
    proxy.Start();
    TLookups lookups({"album.example"});
    THttpCli c;
    UseLoopbackSocks(c, proxy.Port(), "4A", "fotaviq");
    TStringStream doc;
    c.SetURL("http://album.example:8080/page.txt");
    c.SetDocStream(&doc);
    EXPECT_EQ(GetFailure(c), "");
    proxy.Join();
    EXPECT_EQ(doc.DataString(), kPage);
    // 4, connect, port 8080, the address 0.0.0.1 that asks the proxy to resolve, user id, name.
    EXPECT_EQ(proxy.Received().substr(0, 30),
              std::string("\x04\x01\x1F\x90\x00\x00\x00\x01" "fotaviq\0album.example\0", 30));
    EXPECT_NE(proxy.Received().find("GET /page.txt HTTP/1.0\r\n"), std::string::npos);
    EXPECT_FALSE(lookups.Seen("album.example"));
}

TEST_F(Proxies, Socks5ReachesAnIpv6LiteralServer) {
    // microsocks connects where it is told: to [::1] only when asked for that address, not
    // for a name "[::1]" (socks5h) that it cannot look up.
    if (!micro_->Available()) GTEST_SKIP() << micro_->Why();
    NginxServer six(files_->Path(), "    listen [::1]:@PORT@;\n    location = /who { return 200 \"$server_addr\"; }\n");
    if (!six.Available()) GTEST_SKIP() << six.Why();
    for (const bool remoteNames : {false, true}) {
        SCOPED_TRACE(remoteNames ? "socks5h" : "socks5");
        THttpCli c;
        UseLoopbackSocks(c, micro_->Port(), "5");
        c.SetSocksRemoteNames(remoteNames);
        TStringStream doc;
        c.SetURL("http://[::1]:" + std::to_string(six.Port()) + "/who");
        c.SetDocStream(&doc);
        EXPECT_EQ(GetFailure(c), "");
        EXPECT_EQ(doc.DataString(), "::1");
    }
}

TEST(ProxySocks5, AnIpv6LiteralIsAskedForAsAnAddress) {
    const std::string address6 = std::string(15, '\0') + '\x01';  // ::1
    for (const bool remoteNames : {false, true}) {
        SCOPED_TRACE(remoteNames ? "socks5h" : "socks5");
        ScriptedPeer proxy;
        proxy.Accept()
            .ReadCount(3)
            .Send(std::string("\x05\x00", 2))
            .ReadCount(3 + 22)
            .Send(std::string("\x05\x00\x00\x04", 4) + address6 + std::string("\x04\x00", 2))  // bound to [::1]:1024
            .ReadUntil("\r\n\r\n")
            .Send("HTTP/1.0 200 OK\r\n\r\n" + kPage)
            .Close();
        proxy.Start();
        THttpCli c;
        UseLoopbackSocks(c, proxy.Port(), "5");
        c.SetSocksRemoteNames(remoteNames);
        TStringStream doc;
        c.SetURL("http://[::1]:8080/page.txt");
        c.SetDocStream(&doc);
        EXPECT_EQ(GetFailure(c), "");
        proxy.Join();
        EXPECT_EQ(doc.DataString(), kPage);
        // Version 5, connect, type 4 (IPv6), the address, port 8080.
        EXPECT_EQ(proxy.Received().substr(3, 22), std::string("\x05\x01\x00\x04", 4) + address6 + "\x1F\x90");
    }
}

TEST(ScriptedProxy, AProxyThatRefusesTheTunnelOrCannotBeFoundIsNamed) {
    for (const std::string& answer :
         {std::string("HTTP/1.0 403 Forbidden"), std::string("HTTP/1.0 401 Unauthorized"),
          std::string("HTTP/1.1 407 Proxy Authentication Required")}) {
        SCOPED_TRACE(answer);
        ScriptedPeer proxy;
        proxy.Accept().ReadUntil("\r\n\r\n").Send(answer + "\r\nContent-Length: 0\r\n\r\n").Close();
        proxy.Start();
        THttpCli c;
        c.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
        c.SetProxyUsername("joe");
        c.SetProxyPassword("wrong");
        c.SetURL("https://album.example:8443/doc");
        const std::string failure = GetFailure(c);
        proxy.Join();
        EXPECT_EQ(failure, "the proxy 127.0.0.1:" + std::to_string(proxy.Port()) +
                               " refused the tunnel to album.example:8443: " + answer);
        EXPECT_EQ(proxy.Received().rfind("CONNECT album.example:8443 HTTP/1.0\r\n", 0), 0u);
    }
    // A plain request the proxy refuses for want of (the right) credentials.
    ScriptedPeer proxy;
    proxy.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n").Close();
    proxy.Start();
    THttpCli plain;
    plain.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
    plain.SetURL("http://album.example/doc");
    EXPECT_EQ(GetFailure(plain), "the proxy 127.0.0.1:" + std::to_string(proxy.Port()) +
                                     " refused the request: HTTP/1.0 407 Proxy Authentication Required");
    proxy.Join();

    TLookups lookups({"proxy.invalid"});
    THttpCli c;
    c.SetProxy("proxy.invalid:3128");
    c.SetURL("http://album.example/doc");
    EXPECT_EQ(GetFailure(c), "can't resolve the proxy's host name proxy.invalid (Error #11001)");
    EXPECT_FALSE(lookups.Seen("album.example"));
}
