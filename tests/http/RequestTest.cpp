// SPDX-License-Identifier: Apache-2.0
// The request header the client sends, checked byte for byte on a scripted connection.
#include <gtest/gtest.h>

#include "EventLog.h"
#include "ScriptedClient.h"
#include "ClientCalls.h"
#include "base/Stream.h"

namespace {
const char* kOk = "HTTP/1.0 200 OK\r\n\r\n";
}

TEST(HttpRequest, DefaultGetSendsExactlyTheseBytes) {
    TScriptedHttpCli c;
    c.AddExchange({kOk});
    c.SetURL("http://example.org/dir/file.htm?a=1");
    c.Get();
    EXPECT_EQ(c.sent,
              "GET /dir/file.htm?a=1 HTTP/1.0\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible)\r\n"
              "Host: example.org\r\n"
              "\r\n");
    ASSERT_EQ(c.requests.size(), 1u);
    EXPECT_EQ(c.requests[0], "example.org:80 /dir/file.htm?a=1");
    EXPECT_EQ(c.DocFileName(), "file.htm");
}

TEST(HttpRequest, BareHostGetsRootPathAndDefaultName) {
    TScriptedHttpCli c;
    c.AddExchange({kOk});
    c.AddExchange({kOk});
    c.SetURL("http://host");
    c.Get();
    EXPECT_EQ(c.requests[0], "host:80 /");
    EXPECT_EQ(c.DocFileName(), "document.htm");
    c.SetURL("http://host/dir/");
    c.Get();
    EXPECT_EQ(c.DocFileName(), "dir");
}

TEST(HttpRequest, CredentialsFromTheAddressAreSentAndKept) {
    TScriptedHttpCli c;
    c.AddExchange({kOk});
    c.AddExchange({kOk});
    c.SetURL("http://joe:pa:ss@example.org:8080/dir/file.htm?a=1");
    c.Get();
    EXPECT_EQ(c.requests[0], "example.org:8080 /dir/file.htm?a=1");
    EXPECT_EQ(c.Username(), "joe");
    EXPECT_EQ(c.Password(), "pa:ss");
    EXPECT_NE(c.sent.find("Host: example.org\r\n"), std::string::npos);  // no port in Host
    EXPECT_NE(c.sent.find("Authorization: Basic am9lOnBhOnNz\r\n"), std::string::npos);

    c.sent.clear();
    c.SetURL("http://example.org/other");
    c.Get();
    EXPECT_NE(c.sent.find("Authorization: Basic am9lOnBhOnNz\r\n"), std::string::npos);
}

TEST(HttpRequest, EveryOptionalLineInItsPlace) {
    TScriptedHttpCli c;
    c.AddExchange({"HTTP/1.0 200 OK\r\nAccept-Ranges: bytes\r\n\r\n"});
    c.AddExchange({kOk});
    TStringStream post("a=1&b=2");
    post.SetPosition(4);  // Content-Length is the whole size, whatever the position
    c.SetPostStream(&post);
    c.SetURL("http://h/form");
    c.SetProxy("proxy.lan:3128");
    c.SetSender("me@h");
    c.SetReference("http://h/prev");
    c.SetNoCache(true);
    c.SetModifiedSince(36320 + 29551.0 / 86400);
    c.SetUsername("u");
    c.SetPassword("p");
    c.SetProxyUsername("pu");
    c.SetProxyPassword("pp");
    c.SetCookie("k=v");
    c.SetContentRangeBegin("10");
    c.SetContentRangeEnd("");
    c.ExecuteRequest(httpPOST);
    EXPECT_EQ(c.requests[0], "proxy.lan:3128 http://h/form");
    EXPECT_EQ(c.sent,
              "POST http://h/form HTTP/1.0\r\n"
              "From: me@h\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "Referer: http://h/prev\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "User-Agent: Mozilla/3.0 (compatible)\r\n"
              "Host: h\r\n"
              "Pragma: no-cache\r\n"
              "Content-Length: 7\r\n"
              "If-Modified-Since: Wed, 09 Jun 1999 08:12:31 GMT\r\n"
              "Authorization: Basic dTpw\r\n"
              "Proxy-Authorization: Basic cHU6cHA=\r\n"
              "Cookie: k=v\r\n"
              "Range: bytes=10-\r\n"
              "\r\n"
              "b=2");
    EXPECT_EQ(c.SentBytes(), 3);
    EXPECT_EQ(c.ContentRangeBegin(), "");
    EXPECT_EQ(c.AcceptRanges(), "bytes");

    // The range was sent once; AcceptRanges is cleared by the next request header.
    c.sent.clear();
    c.SetProxy("");
    c.Get();
    EXPECT_EQ(c.sent.find("Range:"), std::string::npos);
    EXPECT_EQ(c.sent.find("Proxy-Authorization:"), std::string::npos);
    EXPECT_EQ(c.AcceptRanges(), "");
}

TEST(HttpRequest, ProxyAddressFormsAndDefaultPort) {
    TScriptedHttpCli c;
    for (int i = 0; i < 3; ++i) c.AddExchange({kOk});
    c.SetURL("http://h:81/p?q");
    c.SetProxy("http://proxy.lan:8000/");
    c.Get();
    EXPECT_EQ(c.requests[0], "proxy.lan:8000 http://h:81/p?q");
    EXPECT_EQ(c.DocFileName(), "p");
    c.SetProxy("proxy.lan");
    c.SetProxyPort("3128");
    c.Get();
    EXPECT_EQ(c.requests[1], "proxy.lan:3128 http://h:81/p?q");
    c.SetURL("h2");
    c.Get();
    EXPECT_EQ(c.requests[2], "proxy.lan:3128 http://h2");
    EXPECT_EQ(c.DocFileName(), "document.htm");
}

TEST(HttpRequest, CommandHandlerMayRewriteALine) {
    TScriptedHttpCli c;
    c.AddExchange({kOk});
    c.SetURL("http://h/");
    c.OnCommand = [](TObject*, std::string& s) {
        if (s.rfind("Accept:", 0) == 0) s = "Accept: */*";
        if (s.rfind("User-Agent:", 0) == 0) s.clear();  // an emptied line still ends in CR LF
    };
    c.Get();
    EXPECT_EQ(c.sent, "GET / HTTP/1.0\r\nAccept: */*\r\n\r\nHost: h\r\n\r\n");
}

TEST(HttpRequest, PostWithoutStreamAndBusyClientAreRefused) {
    TScriptedHttpCli c;
    c.SetURL("http://h/");
    try {
        c.ExecuteRequest(httpPOST);
        FAIL() << "no exception";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.Message(), "HTTP component has nothing to post");
        EXPECT_EQ(e.ErrorCode(), 2);
    }
    EXPECT_EQ(c.State(), httpIdle);

    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\n", "body"});
    int busy = 0;
    c.OnDocData = [&](TObject*, const void*, int) {
        try {
            c.Get();
        } catch (const EHttpException& e) {
            if (e.ErrorCode() == 1 && e.Message() == "HTTP component is busy") ++busy;
        }
    };
    TStringStream doc;
    c.SetDocStream(&doc);
    c.Get();
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(doc.DataString(), "body");
    EXPECT_EQ(c.requests.size(), 1u);
}

// Only a path and query in the URL grammar reach the request line, on the first request and
// after a relocation; an address with a line break or NUL is refused before any connection.
TEST(HttpRequest, AddressesAreEncodedAndLineBreaksRefused) {
    TScriptedHttpCli c;
    c.AddExchange({"HTTP/1.0 302 Found\r\nLocation: /next page/\xE5\x9B\xBE?q=<1>\r\n\r\n"});
    c.AddExchange({kOk});
    c.SetURL("http://example.org/a b/%41%zz\xC3\xA9.mp3?x=[1]|2#frag");
    c.Get();
    ASSERT_EQ(c.requests.size(), 2u);
    EXPECT_EQ(c.requests[0], "example.org:80 /a%20b/%41%25zz%C3%A9.mp3?x=%5B1%5D%7C2");
    EXPECT_EQ(c.requests[1], "example.org:80 /next%20page/%E5%9B%BE?q=%3C1%3E");
    EXPECT_NE(c.sent.find("\r\nGET /next%20page/%E5%9B%BE?q=%3C1%3E HTTP/1.0\r\n"), std::string::npos);

    for (const std::string& bad : {std::string("http://example.org/m.mp3 HTTP/1.0\r\nX-Injected: 1\r\n\r\nGET /2"),
                                  std::string("http://example.org/m.mp3\nGET /2"), std::string("http://example.org/\0x", 21)}) {
        SCOPED_TRACE(bad);
        c.sent.clear();
        c.requests.clear();
        c.SetURL(bad);
        const std::string failure = GetFailure(c);
        EXPECT_NE(failure.find("it holds a line break (CR or LF) or a NUL byte"), std::string::npos) << failure;
        EXPECT_EQ(failure.find_first_of(std::string("\r\n\0", 3)), std::string::npos);  // shown escaped
        EXPECT_TRUE(c.requests.empty());
        EXPECT_EQ(c.sent, "");
    }
    // A relocation to such an address ends the request; nothing more is sent.
    c.AddExchange({"HTTP/1.0 302 Found\r\nLocation: /x\rX-Injected: 1\r\n\r\n"});
    c.SetURL("http://example.org/");
    EXPECT_NE(GetFailure(c).find("refused the relocation to /x%0DX-Injected: 1"), std::string::npos);
    EXPECT_EQ(c.requests.size(), 1u);
}
