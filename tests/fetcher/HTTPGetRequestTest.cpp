// SPDX-License-Identifier: Apache-2.0
// The exact request a server receives from the fetcher.
#include <gtest/gtest.h>

#include <cstdlib>

#include "FetchTestSupport.h"
#include "support/Loopback.h"

namespace {

class HTTPGetRequest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }
    void TearDown() override { ClearProxyEnvironment(); }

    // Fetches url into a scratch file with WaitThread and returns what the peer got.
    void Fetch(THTTPGet& get, const std::string& url) {
        log.Attach(get);
        get.SetURL(url);
        get.SetFileName(dir.Path("out.bin"));
        get.SetWaitThread(true);
        get.FetchToFile();
    }

    ScratchDir dir;
    EventLog log;
};

TEST_F(HTTPGetRequest, DefaultGetCarriesAgentAcceptAndReload) {
    ScriptedPeer peer("127.0.6.1", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "ok")).Close().Start();
    THTTPGet get;
    Fetch(get, "http://127.0.6.1/photos/1.jpg");
    peer.Join();
    EXPECT_EQ(peer.Received(),
              "GET /photos/1.jpg HTTP/1.0\r\n"
              "Host: 127.0.6.1\r\n"
              "User-Agent: Brevant HTTPGet\r\n"
              "Accept: */*\r\n"
              "Pragma: no-cache\r\n"
              "Cache-Control: no-cache\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n");
    EXPECT_EQ(log.events, std::vector<std::string>{"done " + dir.Path("out.bin") + " 2"});
}

TEST_F(HTTPGetRequest, PostQuerySendsTheFormBodyUnchanged) {
    const std::string body = "source_url=&music=a+b%2Fc&title=%E4%B8%AD&version=1.0";
    const std::string head =
        "POST /corvane/mirelot/log.php HTTP/1.0\r\n"
        "Host: 127.0.6.2\r\n"
        "User-Agent: Brevant HTTPGet\r\n"
        "Accept: */*\r\n"
        "Referer: http://127.0.6.2/from\r\n"
        "Pragma: no-cache\r\n"
        "Cache-Control: no-cache\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: " + std::to_string(body.size()) + "\r\n"
        "Connection: Keep-Alive\r\n\r\n";
    ScriptedPeer peer("127.0.6.2", 80);
    peer.Accept().ReadCount(head.size() + body.size()).Send(Response("200 OK", "logged")).Close().Start();
    THTTPGet get;
    get.SetPostQuery(body);
    get.SetReferer("http://127.0.6.2/from");
    Fetch(get, "http://127.0.6.2/corvane/mirelot/log.php");
    peer.Join();
    EXPECT_EQ(peer.Received(), head + body);
    EXPECT_EQ(ReadAll(dir.Path("out.bin")), "logged");
}

TEST_F(HTTPGetRequest, EmptyAgentCacheAndCredentials) {
    ScriptedPeer peer("127.0.6.3", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "")).Close().Start();
    THTTPGet get;
    get.SetAgent("");
    get.SetUseCache(true);
    get.SetAcceptTypes("image/jpeg");
    get.SetUserName("user");
    get.SetPassword("pass");
    Fetch(get, "127.0.6.3/a b.jpg");
    peer.Join();
    EXPECT_EQ(peer.Received(),
              "GET /a%20b.jpg HTTP/1.0\r\n"
              "Host: 127.0.6.3\r\n"
              "Accept: image/jpeg\r\n"
              "Authorization: Basic dXNlcjpwYXNz\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n");
}

TEST_F(HTTPGetRequest, ProxyGetsTheAbsoluteAddressUnlessBypassed) {
    ScriptedPeer proxy("127.0.6.4", 0);
    proxy.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "via proxy")).Close().Start();
    ScriptedPeer direct("127.0.6.5", 80);
    direct.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "direct")).Close().Start();
    ::setenv("http_proxy", ("http://127.0.6.4:" + std::to_string(proxy.Port()) + "/").c_str(), 1);
    ::setenv("no_proxy", "localhost, 127.0.6.5", 1);

    THTTPGet get;
    get.SetAgent("");
    Fetch(get, "http://photos.example/album/1.jpg");
    proxy.Join();
    EXPECT_EQ(proxy.Received(),
              "GET http://photos.example/album/1.jpg HTTP/1.0\r\n"
              "Host: photos.example\r\n"
              "Accept: */*\r\n"
              "Pragma: no-cache\r\n"
              "Cache-Control: no-cache\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n");
    EXPECT_EQ(ReadAll(dir.Path("out.bin")), "via proxy");

    get.SetURL("http://127.0.6.5/2.jpg");
    get.FetchToFile();
    direct.Join();
    EXPECT_EQ(direct.Received().substr(0, 24), "GET /2.jpg HTTP/1.0\r\nHos");
    EXPECT_EQ(ReadAll(dir.Path("out.bin")), "direct");
    EXPECT_EQ(proxy.Connections(), 1u);
}

}  // namespace

// A request field a request cannot carry (a line break in the referrer) is refused before
// anything is sent, in words naming it, not as a bare code ("Internet error 87"), and for good.
TEST_F(HTTPGetRequest, AFieldARequestCannotCarryIsRefusedInWords) {
    ScriptedPeer peer("127.0.6.60", 80);  // listens, and is never reached
    THTTPGet get;
    get.SetReferer("http://127.0.6.60/\r\nX-Injected: 1");
    Fetch(get, "http://127.0.6.60/a.jpg");
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(get.LastErrorText(), "refused the address http://127.0.6.60/%0D%0AX-Injected: 1: it holds a line break "
                                   "(CR or LF) or a NUL byte");
    EXPECT_FALSE(get.LastFailureMayPass());
    EXPECT_EQ(peer.Connections(), 0u);
}

// The path and query go out in the URL grammar; an address with a line break is refused with
// a final error and never reaches a server (the peer's one connection is the next fetch's).
TEST_F(HTTPGetRequest, AddressesAreEncodedAndLineBreaksRefused) {
    ScriptedPeer peer("127.0.6.9", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "ok")).Close().Start();
    THTTPGet refused;
    Fetch(refused, "http://127.0.6.9/p.jpg HTTP/1.0\r\nX-Injected: 1\r\n\r\nGET /second.jpg");
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(refused.LastErrorText(),
              "refused the address http://127.0.6.9/p.jpg HTTP/1.0%0D%0AX-Injected: 1%0D%0A%0D%0AGET /second.jpg: it "
              "holds a line break (CR or LF) or a NUL byte");
    EXPECT_FALSE(refused.LastFailureMayPass());
    EXPECT_FALSE(Exists(dir.Path("out.bin")));

    THTTPGet get;
    log.events.clear();
    Fetch(get, "http://127.0.6.9/photos/a b/\xE5\x9B\xBE.jpg?x=<1>");
    peer.Join();
    EXPECT_EQ(peer.Received().substr(0, peer.Received().find("\r\n")), "GET /photos/a%20b/%E5%9B%BE.jpg?x=%3C1%3E HTTP/1.0");
    EXPECT_EQ(log.events, std::vector<std::string>{"done " + dir.Path("out.bin") + " 2"});
}
