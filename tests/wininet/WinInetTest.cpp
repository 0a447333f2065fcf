// SPDX-License-Identifier: Apache-2.0
// The blocking Internet client under the fetcher, through its own interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FetchTestSupport.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetProxy.h"
#include "support/Loopback.h"

namespace {

// One request on its own handles, closed at the end.
struct Exchange {
    HINTERNET session = InternetOpenA("probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    Exchange(const char* server, const char* path, const char* referrer = nullptr) {
        connection = InternetConnectA(session, server, 80, "", "", INTERNET_SERVICE_HTTP, 0, 0);
        request = HttpOpenRequestA(connection, "GET", path, nullptr, referrer, nullptr, 0, 0);
    }
    ~Exchange() {
        InternetCloseHandle(request);
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
    }
    std::string Query(DWORD level, DWORD size = 256) {
        std::string buf(size, '\0');
        DWORD len = size;
        if (!HttpQueryInfoA(request, level, buf.data(), &len, nullptr)) return "error " + std::to_string(GetLastError());
        return buf.substr(0, len);
    }
};

TEST(WinInet, ConnectionFailuresHaveTheirCodes) {
    ClearProxyEnvironment();
    Exchange unknown("no-such-host.invalid", "/");
    EXPECT_FALSE(HttpSendRequestA(unknown.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);

    Exchange refused("127.0.6.30", "/");
    EXPECT_FALSE(HttpSendRequestA(refused.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    DWORD read = 7;
    char buf[8];
    EXPECT_FALSE(InternetReadFile(refused.request, buf, sizeof buf, &read));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);

    EXPECT_FALSE(InternetCloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // Header text that would start a new line is refused.
    Exchange injected("127.0.6.30", "/", "http://x/\r\nX-Evil: 1");
    EXPECT_EQ(injected.request, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(WinInet, QueriesTheResponseHead) {
    ClearProxyEnvironment();
    ScriptedPeer peer("127.0.6.31", 80);
    peer.Accept().ReadUntil(kHeadEnd);
    peer.Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 404 Not Found\nContent-Type: text/html\nX-Long: a\n b\n\nbody");
    peer.Close().Start();
    Exchange e("127.0.6.31", "/q");
    ASSERT_TRUE(HttpSendRequestA(e.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(e.Query(HTTP_QUERY_STATUS_CODE), "404");
    EXPECT_EQ(e.Query(HTTP_QUERY_STATUS_TEXT), "Not Found");
    EXPECT_EQ(e.Query(HTTP_QUERY_CONTENT_TYPE), "text/html");
    EXPECT_EQ(e.Query(HTTP_QUERY_CONTENT_LENGTH), "error 12150");
    EXPECT_EQ(e.Query(HTTP_QUERY_RAW_HEADERS_CRLF),
              "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nX-Long: a\r\n b\r\n");
    std::string custom = "x-long";
    custom.resize(32);
    DWORD len = 32;
    ASSERT_TRUE(HttpQueryInfoA(e.request, HTTP_QUERY_CUSTOM, custom.data(), &len, nullptr));
    EXPECT_EQ(custom.substr(0, len), "a b");

    DWORD status = 0, size = sizeof status;
    ASSERT_TRUE(HttpQueryInfoA(e.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
    EXPECT_EQ(status, 404u);
    // Too small a buffer tells the size needed, the NUL included.
    EXPECT_EQ(e.Query(HTTP_QUERY_STATUS_TEXT, 9), "error 122");
    char small[4];
    DWORD smallLen = sizeof small;
    EXPECT_FALSE(HttpQueryInfoA(e.request, HTTP_QUERY_STATUS_TEXT, small, &smallLen, nullptr));
    EXPECT_EQ(smallLen, 10u);

    char buf[64];
    DWORD read = 0;
    ASSERT_TRUE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(std::string(buf, read), "body");
    ASSERT_TRUE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(read, 0u);
    peer.Join();
}

TEST(WinInet, ReadsFillTheBufferAndStopAtTheLength) {
    ClearProxyEnvironment();
    const std::string body = Body(1500);
    ScriptedPeer peer("127.0.6.32", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 1500\r\n\r\n");
    peer.SendInPieces(body + "trailing junk", 100, 5).Close().Start();
    Exchange e("127.0.6.32", "/f");
    ASSERT_TRUE(HttpSendRequestA(e.request, nullptr, 0, nullptr, 0));
    std::string got;
    char buf[1025];
    DWORD read = 0;
    ASSERT_TRUE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(read, 1025u);  // small segments are gathered
    got.append(buf, read);
    ASSERT_TRUE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(read, 475u);
    got.append(buf, read);
    ASSERT_TRUE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(got, body);
    peer.Join();
}

TEST(WinInet, ReceiveTimeoutHandsOverWhatArrivedThenFails) {
    ClearProxyEnvironment();
    ScriptedPeer peer("127.0.6.33", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcd");
    peer.Delay(600).Close().Start();
    Exchange e("127.0.6.33", "/t");
    const DWORD ms = 200;
    ASSERT_TRUE(InternetSetOptionA(e.request, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms));
    ASSERT_TRUE(HttpSendRequestA(e.request, nullptr, 0, nullptr, 0));
    char buf[64];
    DWORD read = 0;
    ASSERT_TRUE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(std::string(buf, read), "abcd");
    EXPECT_FALSE(InternetReadFile(e.request, buf, sizeof buf, &read));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(read, 0u);
    peer.Join();
}

TEST(WinInet, FollowsRedirections) {
    ClearProxyEnvironment();
    ScriptedPeer first("127.0.6.34", 80), second("127.0.6.35", 80);
    first.Accept().ReadUntil("x=1").Send("HTTP/1.0 302 Found\r\nLocation: moved/b.jpg#top\r\n\r\n").Close();
    first.Accept().ReadUntil(kHeadEnd);
    first.Send("HTTP/1.0 301 Moved\r\nLocation: http://127.0.6.35/c.jpg\r\nContent-Length: 5\r\n\r\nmoved").Close();
    second.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "final")).Close();
    first.Start();
    second.Start();

    HINTERNET session = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectA(session, "127.0.6.34", 0, "u", "p", INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connection, "POST", "/dir/a.php", nullptr, nullptr, nullptr, 0, 0);
    const char form[] = "Content-Type: application/x-www-form-urlencoded";
    ASSERT_TRUE(HttpSendRequestA(request, form, DWORD(-1), "x=1", 3));
    char buf[64];
    DWORD read = 0;
    ASSERT_TRUE(InternetReadFile(request, buf, sizeof buf, &read));
    EXPECT_EQ(std::string(buf, read), "final");
    first.Join();
    second.Join();
    EXPECT_EQ(first.Received(0),
              "POST /dir/a.php HTTP/1.0\r\nHost: 127.0.6.34\r\nAuthorization: Basic dTpw\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\nConnection: Keep-Alive\r\n\r\nx=1");
    // The POST continues as a GET without its body; credentials stay with their server.
    EXPECT_EQ(first.Received(1), "GET /dir/moved/b.jpg HTTP/1.0\r\nHost: 127.0.6.34\r\nAuthorization: Basic dTpw\r\n"
              "Connection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(second.Received(0), "GET /c.jpg HTTP/1.0\r\nHost: 127.0.6.35\r\nConnection: Keep-Alive\r\n\r\n");
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
}

TEST(WinInet, RedirectionsItDoesNotFollowFailUnlessAskedNotTo) {
    ClearProxyEnvironment();
    ScriptedPeer peer("127.0.6.36", 80);
    const std::string again = "HTTP/1.0 302 Found\r\nLocation: /again\r\nContent-Length: 5\r\n\r\nmoved";
    for (int i = 0; i < 11; ++i) peer.Accept().ReadUntil(kHeadEnd).Send(again).Close();
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 301 Moved\r\nLocation: ftp://127.0.6.36/s\r\n\r\n").Close();
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 307 Temporary Redirect\r\n\r\n").Close();
    peer.Accept().ReadUntil(kHeadEnd).Send(again).Close();
    peer.Start();
    char buf[16];
    DWORD read = 0;
    {
        Exchange loop("127.0.6.36", "/start");
        EXPECT_FALSE(HttpSendRequestA(loop.request, nullptr, 0, nullptr, 0));
        EXPECT_EQ(GetLastError(), ERROR_HTTP_TOO_MANY_REDIRECTS);
        // The answer that was not followed can be asked about, not read.
        EXPECT_EQ(loop.Query(HTTP_QUERY_STATUS_CODE), "302");
        EXPECT_EQ(loop.Query(HTTP_QUERY_LOCATION), "/again");
        EXPECT_FALSE(InternetReadFile(loop.request, buf, sizeof buf, &read));
        EXPECT_EQ(GetLastError(), ERROR_HTTP_TOO_MANY_REDIRECTS);
    }
    for (const char* location : {"ftp://127.0.6.36/s", "error 12150"}) {  // another scheme, no Location at all
        Exchange elsewhere("127.0.6.36", "/secure");
        EXPECT_FALSE(HttpSendRequestA(elsewhere.request, nullptr, 0, nullptr, 0));
        EXPECT_EQ(GetLastError(), ERROR_HTTP_REDIRECT_FAILED);
        EXPECT_EQ(elsewhere.Query(HTTP_QUERY_LOCATION), location);
    }
    // Asked not to follow, it hands the answer back as it is.
    HINTERNET session = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectA(session, "127.0.6.36", 0, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request =
        HttpOpenRequestA(connection, "GET", "/own", nullptr, nullptr, nullptr, INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
    EXPECT_TRUE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(InternetReadFile(request, buf, sizeof buf, &read));
    EXPECT_EQ(std::string(buf, read), "moved");
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    peer.Join();
    EXPECT_EQ(peer.Connections(), 14u);
}

TEST(WinInet, ProxyBypassList) {
    using wininet::ProxyFromText;
    using wininet::UsesProxy;
    const auto p = ProxyFromText("http://u:pw@proxy.lan:3128/", ".example.com, exact.org;<local> *.wild.net");
    ASSERT_TRUE(p.enabled);
    EXPECT_EQ(p.host, "proxy.lan");
    EXPECT_EQ(p.port, 3128);
    EXPECT_EQ(p.userName, "u");
    EXPECT_EQ(p.password, "pw");
    EXPECT_FALSE(UsesProxy(p, "example.com"));
    EXPECT_FALSE(UsesProxy(p, "photos.EXAMPLE.com"));
    EXPECT_TRUE(UsesProxy(p, "badexample.com"));
    EXPECT_FALSE(UsesProxy(p, "exact.org"));
    EXPECT_TRUE(UsesProxy(p, "not.exact.org.net"));
    EXPECT_FALSE(UsesProxy(p, "intranet"));
    EXPECT_FALSE(UsesProxy(p, "a.wild.net"));
    EXPECT_FALSE(UsesProxy(ProxyFromText("proxy.lan", "*"), "anything.com"));
    EXPECT_EQ(ProxyFromText("proxy.lan", "").port, 80);
    EXPECT_FALSE(ProxyFromText("socks5://proxy.lan:1080", "").enabled);
    EXPECT_FALSE(ProxyFromText("proxy.lan:99999", "").enabled);
}

}  // namespace
