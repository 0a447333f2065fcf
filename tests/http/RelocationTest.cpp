// SPDX-License-Identifier: Apache-2.0
// Following Location headers on scripted connections, directly and through a proxy.
#include <gtest/gtest.h>

#include "EventLog.h"
#include "ScriptedClient.h"
#include "base/Stream.h"

namespace {

std::string Redirect(const std::string& location, const std::string& extra = "Content-Length: 5\r\n") {
    return "HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n" + extra + "\r\nmoved";
}

// Where a 302 with this Location sends a client that fetched url (through proxy if set).
std::string Follow(const std::string& url, const std::string& location, const std::string& proxy = "") {
    TScriptedHttpCli c;
    c.SetProxy(proxy);
    c.AddExchange({Redirect(location)});
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\n"});
    c.SetURL(url);
    c.Get();
    return c.requests.size() == 2 ? c.requests[1] + " | " + c.Location() : "not followed";
}

}  // namespace

TEST(HttpRelocation, FoundWithBodyFetchesTheNewPathOnTheSameHost) {
    TScriptedHttpCli c;
    EventLog log(c);
    c.AddExchange({Redirect("/new.htm")});
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\nnew page"});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/old.htm");
    c.Get();
    const std::string second = c.sent.substr(c.sent.find("\r\n\r\n") + 4);
    EXPECT_EQ(second.substr(0, 23), "GET /new.htm HTTP/1.0\r\n");
    EXPECT_NE(second.find("\r\nHost: h\r\n"), std::string::npos);
    ASSERT_EQ(c.requests.size(), 2u);
    EXPECT_EQ(c.requests[1], "h:80 /new.htm");
    EXPECT_EQ(c.Location(), "http://h/new.htm");
    EXPECT_EQ(doc.DataString(), "new page");  // nothing of the 302's body
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ContentLength(), -1);  // the 302 named one, the page does not
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "location:http://h/new.htm"), 1);
    // The relocating response ends in header-end and location change; the next one
    // starts over at the lookup without passing through idle.
    const auto sk = log.Skeleton();
    const auto at = std::find(sk.begin(), sk.end(), "location:http://h/new.htm");
    ASSERT_NE(at, sk.end());
    EXPECT_EQ(*(at - 1), "header-end");
    EXPECT_EQ(*(at + 1), "state:3");
    EXPECT_EQ(std::count(sk.begin(), sk.end(), "state:0"), 1);
    EXPECT_EQ(std::count(sk.begin(), sk.end(), "header-begin"), 2);
}

TEST(HttpRelocation, ContentLengthZeroIsNotFollowedAndLeavesNothingBehind) {
    TScriptedHttpCli c;
    c.AddExchange({Redirect("/new.htm", "Content-Length: 0\r\n")});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/old.htm");
    c.Get();
    EXPECT_EQ(c.StatusCode(), 302);
    EXPECT_EQ(doc.DataString(), "");
    EXPECT_EQ(c.requests.size(), 1u);

    // The next request goes where it is told, not to the earlier Location.
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\nfine"});
    c.SetURL("http://h/other.htm");
    c.Get();
    ASSERT_EQ(c.requests.size(), 2u);
    EXPECT_EQ(c.requests[1], "h:80 /other.htm");
    EXPECT_EQ(doc.DataString(), "fine");
}

TEST(HttpRelocation, RelativeFormsStayOnTheSameServer) {
    EXPECT_EQ(Follow("http://h:8080/a/b.htm", "/x.htm"), "h:8080 /x.htm | http://h:8080/x.htm");
    EXPECT_EQ(Follow("http://h:8080/a/b.htm", "dir/next.htm"), "h:8080 /a/dir/next.htm | http://h:8080/a/dir/next.htm");
    EXPECT_EQ(Follow("http://h/a/b.htm", "next.htm"), "h:80 /a/next.htm | http://h/a/next.htm");
    EXPECT_EQ(Follow("http://h/a/b/c.htm?q=1", "../d.htm"), "h:80 /a/d.htm | http://h/a/d.htm");
    EXPECT_EQ(Follow("http://h:81/a/b/c.htm", "./d.htm"), "h:81 /a/b/d.htm | http://h:81/a/b/d.htm");
    EXPECT_EQ(Follow("http://h/a/b.htm?x=1", "?x=2"), "h:80 /a/b.htm?x=2 | http://h/a/b.htm?x=2");
}

TEST(HttpRelocation, AbsoluteAddressMovesToTheNewServer) {
    EXPECT_EQ(Follow("http://h/a", "http://u:p@other:99/z?k"), "other:99 /z?k | http://other:99/z?k");
    EXPECT_EQ(Follow("http://h:81/a", "http://other"), "other:80 / | http://other");
    EXPECT_EQ(Follow("http://h/a", "//third/p"), "third:80 /p | http://third/p");
}

TEST(HttpRelocation, ThroughAProxyTheRequestNamesTheNewAddress) {
    const std::string proxy = "proxy.lan:3128";
    EXPECT_EQ(Follow("http://h:81/a/b.htm", "/new", proxy), "proxy.lan:3128 http://h:81/new | http://h:81/new");
    EXPECT_EQ(Follow("http://h/a/b.htm", "http://o:82/z", proxy), "proxy.lan:3128 http://o:82/z | http://o:82/z");
    EXPECT_EQ(Follow("http://h/a/b.htm", "http://o", proxy), "proxy.lan:3128 http://o/ | http://o/");
    EXPECT_EQ(Follow("http://h/a/b.htm", "c.htm", proxy), "proxy.lan:3128 http://h/a/c.htm | http://h/a/c.htm");

    TScriptedHttpCli c;
    c.SetProxy(proxy);
    c.AddExchange({Redirect("http://o:82/z")});
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\n"});
    c.SetURL("http://h/a");
    c.Get();
    EXPECT_NE(c.sent.find("GET http://o:82/z HTTP/1.0\r\n"), std::string::npos);
    EXPECT_NE(c.sent.find("Host: o\r\n"), std::string::npos);
}

TEST(HttpRelocation, HeaderCutShortStillRelocates) {
    // The server closes before the empty line: the Location already seen is followed.
    TScriptedHttpCli c;
    c.AddExchange({"HTTP/1.0 301 Moved\r\nLocation: /there\r\n"});
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\nthere"});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/here");
    c.Get();
    EXPECT_EQ(doc.DataString(), "there");
    EXPECT_EQ(c.requests.size(), 2u);
}

TEST(HttpRelocation, PostTurnsIntoGet) {
    TScriptedHttpCli c;
    c.AddExchange({Redirect("/result")});
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\n"});
    TStringStream post("x=1");
    c.SetPostStream(&post);
    c.SetURL("http://h/form");
    c.ExecuteRequest(httpPOST);
    EXPECT_NE(c.sent.find("POST /form HTTP/1.0\r\n"), std::string::npos);
    EXPECT_NE(c.sent.find("GET /result HTTP/1.0\r\n"), std::string::npos);
}

TEST(HttpRelocation, MoreThanTwentyInARowFail) {
    TScriptedHttpCli c;
    for (int i = 0; i <= THttpCli::MaxRelocations; ++i) c.AddExchange({Redirect("/loop" + std::to_string(i))});
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\n"});
    c.SetURL("http://h/start");
    try {
        c.Get();
        FAIL() << "no exception";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.Message(), "Too many relocations: more than 20 in a row");
        EXPECT_EQ(e.ErrorCode(), 404);
    }
    EXPECT_EQ(c.requests.size(), 21u);
    EXPECT_EQ(c.State(), httpIdle);

    // Twenty are fine.
    TScriptedHttpCli d;
    for (int i = 0; i < THttpCli::MaxRelocations; ++i) d.AddExchange({Redirect("/loop" + std::to_string(i))});
    d.AddExchange({"HTTP/1.0 200 OK\r\n\r\n"});
    d.SetURL("http://h/start");
    d.Get();
    EXPECT_EQ(d.requests.size(), 21u);
    EXPECT_EQ(d.StatusCode(), 200);
}
