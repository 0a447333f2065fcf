// SPDX-License-Identifier: Apache-2.0
// The client over real sockets against scripted loopback peers: exact bytes on the wire,
// splits, delays and early closes, failures of lookup and connection, and the timeouts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "EventLog.h"
#include "base/Stream.h"
#include "socket/WSocket.h"
#include "support/Loopback.h"

namespace {

std::string Url(const ScriptedPeer& p, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(p.Port()) + path;
}

std::pair<std::string, int> GetResult(THttpCli& c) {
    try {
        c.Get();
    } catch (const EHttpException& e) {
        return {e.Message(), e.ErrorCode()};
    }
    return {"", 0};
}

// Consecutive "doc-data:<n>" entries collapsed into one "doc-data" (the split of the body
// into reads is the network's choice).
std::vector<std::string> Collapsed(const std::vector<std::string>& events) {
    std::vector<std::string> r;
    for (const auto& e : events) {
        const bool data = e.rfind("doc-data:", 0) == 0;
        if (data && !r.empty() && r.back() == "doc-data") continue;
        r.push_back(data ? "doc-data" : e);
    }
    return r;
}

// A listener whose accept queue is full: a connection attempt to it gets no answer.
struct SilentListener {
    int fd = -1;
    std::vector<int> fillers;
    std::uint16_t port = 0;
    SilentListener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(fd, 0);
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
        for (int i = 0; i < 3; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
            fillers.push_back(s);
        }
        usleep(50000);
    }
    ~SilentListener() {
        for (int s : fillers) ::close(s);
        ::close(fd);
    }
};

const char* kDefaultHeader =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
    "User-Agent: Mozilla/3.0 (compatible)\r\n"
    "Host: 127.0.0.1\r\n"
    "\r\n";

}  // namespace

TEST(HttpLoopback, DefaultGetOnTheWireAndTheOrderOfEvents) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n").Delay(30)
        .Send("abc").Delay(30).Send("def").Close();
    peer.Start();
    THttpCli c;
    EventLog log(c);
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/dir/f.txt?x=1"));
    c.Get();
    peer.Join();
    EXPECT_EQ(peer.Received(0), std::string("GET /dir/f.txt?x=1 HTTP/1.0\r\n") + kDefaultHeader);
    EXPECT_EQ(doc.DataString(), "abcdef");
    EXPECT_EQ(c.RcvdBytes(), 6);
    EXPECT_EQ(c.ContentLength(), -1);
    const std::vector<std::string> expected = {
        "state:1", "state:3", "state:4", "state:2", "session-connected", "state:5", "request-header-begin",
        "request-header-end", "header-begin", "state:6", "header-end", "doc-begin", "doc-data", "doc-end",
        "state:0", "done:1/0"};
    EXPECT_EQ(Collapsed(log.Skeleton()), expected);
    // Every request line went through OnCommand, the empty line after OnRequestHeaderEnd.
    const auto& ev = log.events;
    auto end = std::find(ev.begin(), ev.end(), "request-header-end");
    ASSERT_NE(end, ev.end());
    EXPECT_EQ(*(end - 1), "command:Host: 127.0.0.1");
    EXPECT_EQ(*(end + 1), "command:");
}

TEST(HttpLoopback, PostBodyGoesOutIn8193ByteChunks) {
    std::string body(20000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    const std::string header = std::string("POST /post HTTP/1.0\r\n") +
                               "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
                               "Content-Type: application/x-www-form-urlencoded\r\n"
                               "User-Agent: Mozilla/3.0 (compatible)\r\n"
                               "Host: 127.0.0.1\r\n"
                               "Content-Length: 20000\r\n\r\n";
    ScriptedPeer peer;
    peer.Accept().ReadCount(header.size() + body.size()).Send("HTTP/1.0 200 OK\r\n\r\nthanks").Close();
    peer.Start();
    THttpCli c;
    c.SetURL(Url(peer, "/post"));
    TStringStream post(body);
    TStringStream doc;
    c.SetPostStream(&post);
    c.SetDocStream(&doc);
    EventLog log(c);
    c.ExecuteRequest(httpPOST);
    peer.Join();
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(peer.Received(0), header + body);
    EXPECT_EQ(c.SentBytes(), 20000);
    EXPECT_EQ(doc.DataString(), "thanks");
    std::vector<std::string> sends;
    for (const auto& e : log.events)
        if (e.rfind("send-", 0) == 0) sends.push_back(e);
    const std::vector<std::string> expected = {"send-begin", "send-data:8193", "send-data:8193", "send-data:3614",
                                               "send-end"};
    EXPECT_EQ(sends, expected);
}

TEST(HttpLoopback, ResponseInOneBytePiecesAndHtmlWithoutHeader) {
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Type: Text/Plain\r\n\r\nbody";
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").SendInPieces(response, 1, 1).Close();
    peer.Accept().ReadUntil("\r\n\r\n").Send("<HTML>\r\n<p>one</p>\n").Delay(20).Send("<p>two</p>\r\n").Close();
    peer.Start();
    THttpCli c;
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/"));
    c.Get();
    EXPECT_EQ(doc.DataString(), "body");
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ContentLength(), 4);
    EXPECT_EQ(c.ContentType(), "text/plain");

    TStringStream page;
    c.SetDocStream(&page);
    c.Get();
    peer.Join();
    EXPECT_EQ(page.DataString(), "<HTML>\r\n<p>one</p>\n<p>two</p>\r\n");
    EXPECT_EQ(c.ContentType(), "text/html");
}

TEST(HttpLoopback, HeaderLineLimit) {
    const std::string longLine = "X-Long: " + std::string(8182, 'a');  // with CR LF exactly 8192 bytes
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n").Delay(20).Send(longLine + "\r\n").Delay(20)
        .Send("\r\nok").Close();
    // 8192 bytes without a line end, more data, and a peer that would never close.
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n" + std::string(9000, 'b')).Delay(3000).Close();
    peer.Start();
    THttpCli c;
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/"));
    c.Get();
    EXPECT_EQ(c.ResponseHeader()[1], longLine);
    EXPECT_EQ(doc.DataString(), "ok");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("HTTP line too long"), 4));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    peer.Join();
}

TEST(HttpLoopback, ContentLengthZeroEndsBeforeTheServerCloses) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n").Delay(3000).Close();
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nsecond").Close();
    peer.Start();
    THttpCli c;
    EventLog log(c);
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/empty"));
    const auto start = std::chrono::steady_clock::now();
    c.Get();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(doc.DataString(), "");
    EXPECT_EQ(log.events.back(), "done:1/0");
    // The next request drops the connection the server left open.
    c.Get();
    EXPECT_EQ(doc.DataString(), "second");
    peer.Join();
}

TEST(HttpLoopback, FoundWithAndWithoutBody) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 302 Found\r\nLocation: /new.htm\r\n\r\n<a>moved</a>").Close();
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nnew").Close();
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 302 Found\r\nLocation: /new.htm\r\nContent-Length: 0\r\n\r\n")
        .Close();
    peer.Start();
    THttpCli c;
    int changes = 0;
    c.OnLocationChange = [&](TObject*) { ++changes; };
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/old.htm"));
    c.Get();
    EXPECT_EQ(doc.DataString(), "new");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(c.Location(), Url(peer, "/new.htm"));
    c.Get();
    peer.Join();
    EXPECT_EQ(peer.Received(1), std::string("GET /new.htm HTTP/1.0\r\n") + kDefaultHeader);
    EXPECT_EQ(c.StatusCode(), 302);
    EXPECT_EQ(doc.DataString(), "new");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(peer.Connections(), 3u);
}

TEST(HttpLoopback, NotFoundRaisesAfterOneRequest) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n<h1>404</h1>")
        .Delay(200).Close();
    peer.Start();
    THttpCli c;
    c.SetURL(Url(peer, "/missing"));
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("Not Found"), 404));
    peer.Join();
    EXPECT_EQ(peer.Connections(), 1u);
    EXPECT_EQ(c.State(), httpIdle);
}

TEST(HttpLoopback, AResetBeforeTheDocumentIsCompleteFailsTheRequest) {
    const std::string body(1000, 'm');
    struct Case {
        std::string sent;   // before the reset
        std::string error;  // empty: a complete document
    };
    const std::vector<Case> cases = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n" + body,
         "Connection reset by peer (Error #10054) after 1000 of 3000 bytes"},
        {"HTTP/1.0 200 OK\r\n\r\n" + body, "Connection reset by peer (Error #10054) after 1000 bytes"},
        {"HTTP/1.0 200 OK\r\nContent-Ty", "Connection reset by peer (Error #10054) before the end of the header"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + body, ""},
    };
    ScriptedPeer peer;
    for (const Case& k : cases) peer.Accept().ReadUntil("\r\n\r\n").Send(k.sent).Delay(50).Reset();
    peer.Start();
    THttpCli c;
    EventLog log(c);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.sent.substr(0, k.sent.find_first_of("m\r")) + "...");
        TStringStream doc;
        c.SetDocStream(&doc);
        c.SetURL(Url(peer, "/background.mp3"));
        log.events.clear();
        EXPECT_EQ(GetResult(c), std::make_pair(k.error, k.error.empty() ? 0 : 404));
        EXPECT_EQ(log.events.back(), k.error.empty() ? "done:1/0" : "done:1/10054");
        EXPECT_EQ(doc.DataString(), k.sent.find("\r\n\r\n") == std::string::npos ? "" : body);
    }
    peer.Join();
}

TEST(HttpLoopback, GetFromDocDataIsRefusedAndTheTransferGoesOn) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\npart one").Delay(30).Send(", part two").Close();
    peer.Start();
    THttpCli c;
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/"));
    std::vector<std::string> refusals;
    c.OnDocData = [&](TObject*, const void*, int) {
        try {
            c.Get();
        } catch (const EHttpException& e) {
            refusals.push_back(e.Message() + "/" + std::to_string(e.ErrorCode()));
        }
    };
    c.Get();
    peer.Join();
    EXPECT_EQ(doc.DataString(), "part one, part two");
    ASSERT_FALSE(refusals.empty());
    EXPECT_EQ(refusals[0], "HTTP component is busy/1");
    EXPECT_EQ(peer.Connections(), 1u);
}

TEST(HttpLoopback, LookupAndConnectionFailures) {
    THttpCli c;
    std::vector<std::string> done;
    c.OnRequestDone = [&](TObject*, THttpRequest k, WORD e) {
        done.push_back(std::to_string(k) + "/" + std::to_string(e));
    };

    c.SetURL("");
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("DNS lookup: invalid host name."), 404));
    EXPECT_TRUE(done.empty());  // follows from the message loop
    ProcessMessages();
    EXPECT_EQ(done, std::vector<std::string>{"1/0"});

    c.SetURL("http://no-such-host.invalid/x");
    const auto lookup = GetResult(c);  // the name that failed
    EXPECT_EQ(lookup.first.rfind("can't resolve the host name no-such-host.invalid (Error #", 0), 0u) << lookup.first;
    EXPECT_EQ(lookup.second, 404);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_NE(done[1], "1/0");  // the lookup's own error code

    std::uint16_t closedPort;
    {
        ScriptedPeer gone;  // a port nobody listens on any more
        closedPort = gone.Port();
    }
    c.SetURL("http://127.0.0.1:" + std::to_string(closedPort) + "/");
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("Connection refused (Error #10061)"), 404));
    EXPECT_EQ(done.back(), "1/10061");
    EXPECT_EQ(c.State(), httpIdle);
}

TEST(HttpLoopback, RelocationThroughAProxy) {
    ScriptedPeer proxy;
    proxy.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 302 Found\r\nLocation: /b.htm\r\n\r\nmoved").Close();
    proxy.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 302 Found\r\nLocation: http://other.example/c\r\n\r\n").Close();
    proxy.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nfinal").Close();
    proxy.Start();
    THttpCli c;
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetProxy("127.0.0.1");
    c.SetProxyPort(std::to_string(proxy.Port()));
    c.SetURL("http://target.example:81/a.htm");
    c.Get();
    proxy.Join();
    EXPECT_EQ(doc.DataString(), "final");
    EXPECT_EQ(proxy.Received(0).rfind("GET http://target.example:81/a.htm HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(proxy.Received(1).rfind("GET http://target.example:81/b.htm HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(proxy.Received(1).find("\r\nHost: target.example\r\n"), std::string::npos);
    EXPECT_EQ(proxy.Received(2).rfind("GET http://other.example/c HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(proxy.Received(2).find("\r\nHost: other.example\r\n"), std::string::npos);
    EXPECT_EQ(c.Location(), "http://other.example/c");
}

TEST(HttpLoopback, RelocationLimit) {
    ScriptedPeer peer;
    for (int i = 0; i <= THttpCli::MaxRelocations; ++i)
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n").Close();
    peer.Start();
    THttpCli c;
    c.SetURL(Url(peer, "/start"));
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("Too many relocations: more than 20 in a row"), 404));
    peer.Join();
    EXPECT_EQ(peer.Connections(), 21u);
    EXPECT_EQ(peer.Failure(), "");
}

TEST(HttpLoopback, SilentPeersTimeOut) {
    THttpCli c;
    c.SetConnectTimeout(300);
    c.SetIdleTimeout(300);
    SilentListener silent;
    c.SetURL("http://127.0.0.1:" + std::to_string(silent.port) + "/");
    auto start = std::chrono::steady_clock::now();
    auto r = GetResult(c);
    EXPECT_EQ(r.first, "can't connect: no connection to 127.0.0.1:" + std::to_string(silent.port) + " within 300 ms");
    EXPECT_EQ(r.second, 404);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // Connected, the request read, then nothing; and a body that stops half-way.
    ScriptedPeer quiet, half;
    quiet.Accept().ReadUntil("\r\n\r\n").Delay(1500).Close();
    half.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nhalf").Delay(1500).Close();
    quiet.Start();
    half.Start();
    TStringStream doc;
    c.SetDocStream(&doc);
    for (ScriptedPeer* p : {&quiet, &half}) {
        c.SetURL(Url(*p, "/"));
        const std::string idle = "connection timed out: nothing from 127.0.0.1:" + std::to_string(p->Port()) + " for 300 ms";
        EXPECT_EQ(GetResult(c), std::make_pair(idle, 404));
    }
    EXPECT_EQ(doc.DataString(), "half");
    EXPECT_EQ(c.State(), httpIdle);
}

// A peer that trickles a byte every 100 ms is never silent, but falls below a limit of 20
// bytes/s: the request fails for it, as a timeout does. Under a limit of 5 it goes through.
TEST(HttpLoopback, ATricklingPeerFailsBelowTheLowSpeedLimit) {
    for (const int limit : {20, 5}) {
        SCOPED_TRACE(limit);
        ScriptedPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n").SendInPieces(std::string(25, 'x'), 1, 100).Close();
        peer.Start();
        THttpCli c;
        c.SetLowSpeedLimit(limit);
        c.SetLowSpeedTime(1);
        std::vector<WORD> done;
        c.OnRequestDone = [&](TObject*, THttpRequest, WORD e) { done.push_back(e); };
        TStringStream doc;
        c.SetDocStream(&doc);
        c.SetURL(Url(peer, "/"));
        const auto r = GetResult(c);
        if (limit == 20) {
            EXPECT_EQ(r, std::make_pair("transfer too slow: below 20 bytes/s for 1 s (127.0.0.1:" + std::to_string(peer.Port()) + ")",
                                        404));
            EXPECT_EQ(done, std::vector<WORD>{10060});
            EXPECT_LT(doc.DataString().size(), 25u);
        } else {
            EXPECT_EQ(r.first, "");
            EXPECT_EQ(doc.DataString(), std::string(25, 'x'));
        }
    }
}

// A fast body is announced in large pieces; when it then slows to a trickle, the trickle
// still reaches the client (and keeps it from timing out) long before the mark would fill.
TEST(HttpLoopback, ABodyThatSlowsDownAfterAFastStartKeepsArriving) {
    const std::string fast(4 << 20, 'f');
    const std::string slow(20000, 's');
    ScriptedPeer peer;
    peer.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\nContent-Length: 8388608\r\n\r\n" + fast)
        .SendInPieces(slow, 200, 25)  // 2.5 s at 8 KB/s: the mark would take half a minute
        .Close();
    peer.Start();
    struct TClient : THttpCli {
        using THttpCli::Socket;
    } c;
    c.SetIdleTimeout(1500);
    int highestMark = 1;
    c.OnDocData = [&](TObject*, const void*, int) { highestMark = std::max(highestMark, c.Socket().ReadLowWater()); };
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL(Url(peer, "/"));
    const auto r = GetResult(c);
    peer.Join();
    EXPECT_GT(highestMark, 1);  // the fast part was read in large pieces
    EXPECT_EQ(doc.DataString().size(), fast.size() + slow.size());
    EXPECT_EQ(r.first, "");  // no idle timeout; an orderly close ends the document
}

TEST(HttpLoopback, MultiThreadedClientWorksOnAWorkerThreadOwnQueue) {
    ScriptedPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n").Delay(20).Send("from a worker").Close();
    peer.Start();
    std::string doc, error;
    std::vector<std::string> states;
    std::thread worker([&] {
        try {
            THttpCli c;
            c.SetMultiThreaded(true);
            c.OnStateChange = [&](TObject*) { states.push_back(std::to_string(c.State())); };
            TStringStream s;
            c.SetDocStream(&s);
            c.SetURL(Url(peer, "/"));
            c.Get();
            doc = s.DataString();
        } catch (const Exception& e) {
            error = e.Message();
        }
    });
    worker.join();
    peer.Join();
    EXPECT_EQ(error, "");
    EXPECT_EQ(doc, "from a worker");
    EXPECT_EQ(states, (std::vector<std::string>{"1", "3", "4", "2", "5", "6", "0"}));
}
