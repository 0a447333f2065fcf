// SPDX-License-Identifier: Apache-2.0
// Response parsing on scripted connections: status and header lines, where the body
// starts, the line limit, and responses that cannot be read.
#include <gtest/gtest.h>

#include "EventLog.h"
#include "ScriptedClient.h"
#include "base/Exception.h"
#include "base/Stream.h"

namespace {

// A stream that takes nothing: every write fails.
class TFullStream : public TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
};

// Runs Get and returns the exception's message and code ("" and 0 when none).
std::pair<std::string, int> GetResult(THttpCli& c) {
    try {
        c.Get();
    } catch (const EHttpException& e) {
        return {e.Message(), e.ErrorCode()};
    }
    return {"", 0};
}

}  // namespace

TEST(HttpResponse, StatusAndHeaderFields) {
    TScriptedHttpCli c;
    EventLog log(c);
    c.AddExchange({"HTTP/1.1 200 OK\r\n"
                   "Content-Length:   12\r\n"
                   "content-type: Text/HTML\r\n"
                   "Content-Range: bytes 100-199/1000\r\n"
                   "Accept-Ranges: bytes\r\n"
                   "WWW-Authenticate: Basic realm=\"x\"\r\n"
                   "Set-Cookie: a=b; path=/\r\n"
                   "X-Tab:\tkept \r\n"
                   "no colon here\r\n"
                   "HTTP/1.2 500 Not a status line\r\n"
                   "\r\n"
                   "hello world!"});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/");
    EXPECT_EQ(GetResult(c).second, 0);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ReasonPhrase(), "OK");
    EXPECT_EQ(c.ContentLength(), 12);
    EXPECT_EQ(c.ContentType(), "text/html");
    EXPECT_EQ(c.ContentRangeBegin(), "100");
    EXPECT_EQ(c.ContentRangeEnd(), "199");
    EXPECT_EQ(c.AcceptRanges(), "bytes");
    ASSERT_EQ(c.AuthChallenges().Count(), 1);
    EXPECT_EQ(c.AuthChallenges()[0], "Basic realm=\"x\"");
    ASSERT_EQ(c.ResponseHeader().Count(), 10);
    EXPECT_EQ(c.ResponseHeader()[0], "HTTP/1.1 200 OK");
    EXPECT_EQ(c.ResponseHeader()[7], "X-Tab:\tkept ");
    EXPECT_EQ(doc.DataString(), "hello world!");
    EXPECT_EQ(c.RcvdBytes(), 12);
    // The cookie event comes before the header-data event of its line.
    const auto& ev = log.events;
    auto cookie = std::find(ev.begin(), ev.end(), "cookie:a=b; path=/");
    ASSERT_NE(cookie, ev.end());
    EXPECT_EQ(*(cookie + 1), "header-data:Set-Cookie: a=b; path=/");
}

TEST(HttpResponse, BodyInTheSameReadAsTheHeaderIsOneChunkAfterHeaderEnd) {
    TScriptedHttpCli c;
    EventLog log(c);
    c.AddExchange({"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfirst part", " second"});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/a.txt");
    c.Get();
    EXPECT_EQ(doc.DataString(), "first part second");
    const std::vector<std::string> expected = {"state:1", "state:3", "state:2", "session-connected", "state:5",
                                               "request-header-begin", "request-header-end", "header-begin",
                                               "state:6", "header-end", "doc-begin", "doc-data:10", "doc-data:7",
                                               "doc-end", "state:0", "done:1/0"};
    EXPECT_EQ(log.Skeleton(), expected);
}

// The block that shares the receive buffer with the header is short; the next read makes
// up the difference to the body block's size, so that later blocks start at multiples of
// it in the document (whole pages of a file written block by block).
TEST(HttpResponse, BodyBlocksAfterTheFirstEndOnBlockBoundaries) {
    TScriptedHttpCli c;
    EventLog log(c);
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 150000\r\n\r\n";
    std::string body(150000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 23);
    c.AddExchange({header + body});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/big");
    c.Get();
    EXPECT_EQ(doc.DataString(), body);
    const int h = static_cast<int>(header.size());
    std::vector<std::string> blocks;
    for (const std::string& e : log.Skeleton())
        if (e.rfind("doc-data:", 0) == 0) blocks.push_back(e);
    const int block = 64 * 1024;
    const std::vector<std::string> expected = {"doc-data:" + std::to_string(8192 - h),
                                               "doc-data:" + std::to_string(block - (8192 - h)),
                                               "doc-data:" + std::to_string(block),
                                               "doc-data:" + std::to_string(150000 - 2 * block)};
    EXPECT_EQ(blocks, expected);
}

TEST(HttpResponse, HtmlWithoutHeaderKeepsEveryByte) {
    TScriptedHttpCli c;
    EventLog log(c);
    const std::string page = "<html>\r\n<body>\nline two\r\n</body></html>";
    c.AddExchange({page.substr(0, 20), page.substr(20)});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/");
    EXPECT_EQ(GetResult(c).second, 0);
    EXPECT_EQ(doc.DataString(), page);
    EXPECT_EQ(c.ContentType(), "text/html");
    EXPECT_EQ(c.StatusCode(), 0);
    EXPECT_EQ(c.ResponseHeader().Count(), 0);
}

TEST(HttpResponse, LineOf8192BytesFitsOneMoreDoesNot) {
    {
        TScriptedHttpCli c;
        const std::string longLine = "X-Long: " + std::string(8182, 'a');  // 8190 + CR LF = 8192
        c.AddExchange({"HTTP/1.0 200 OK\r\n", longLine + "\r\n", "\r\nbody"});
        TStringStream doc;
        c.SetDocStream(&doc);
        c.SetURL("http://h/");
        EXPECT_EQ(GetResult(c).second, 0);
        EXPECT_EQ(c.ResponseHeader()[1], longLine);
        EXPECT_EQ(doc.DataString(), "body");
    }
    {
        // 8192 bytes without a line end, then more data: the request fails at once, the
        // connection is dropped and Get does not wait for the peer (which never closes).
        TScriptedHttpCli c;
        c.SetIdleTimeout(5000);  // a regression fails instead of hanging
        c.AddExchange({"HTTP/1.0 200 OK\r\n" + std::string(8192, 'b'), "more"}, false);
        c.SetURL("http://h/");
        const auto r = GetResult(c);
        EXPECT_EQ(r.first, "HTTP line too long");
        EXPECT_EQ(r.second, 4);
        EXPECT_EQ(c.aborts, 2);  // one at request start (nothing open), one for the failure
        EXPECT_FALSE(c.open);
    }
}

TEST(HttpResponse, EndlessHeaderFailsOnceItPassesTheLimit) {
    TScriptedHttpCli c;
    c.SetIdleTimeout(5000);  // a regression fails instead of hanging
    const std::string field = "X-Pad: " + std::string(1000, 'p');
    const int fits = static_cast<int>(THttpCli::MaxResponseHeaderBytes / field.size());
    std::string header = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < fits + 5; ++i) header += field + "\r\n";
    c.AddExchange({header, "X-More: 1\r\n"}, false);  // never ends, never closes
    c.SetURL("http://h/");
    const auto r = GetResult(c);
    EXPECT_EQ(r.first, "HTTP header too long");
    EXPECT_EQ(r.second, 5);
    EXPECT_FALSE(c.open);
    EXPECT_LE(c.ResponseHeader().Count(), fits + 1);
}

TEST(HttpResponse, UnreadableResponsesFailAtOnce) {
    struct Case {
        std::string response;
        std::string message;
    };
    const Case cases[] = {
        {"HTTP/1.0 2x0 OK\r\n\r\n", "'2x0' is not a valid integer value"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 12a\r\n\r\n", "'12a' is not a valid integer value"},
    };
    for (const Case& k : cases) {
        TScriptedHttpCli c;
        c.SetIdleTimeout(5000);
        c.AddExchange({k.response}, false);
        c.SetURL("http://h/");
        const auto r = GetResult(c);
        EXPECT_EQ(r.first, k.message);
        EXPECT_EQ(r.second, 404);
        EXPECT_EQ(c.StatusCode(), 404);
        EXPECT_FALSE(c.open);
    }
    TScriptedHttpCli c;
    c.SetIdleTimeout(5000);
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\nsome body"}, false);
    TFullStream full;
    c.SetDocStream(&full);
    c.SetURL("http://h/");
    EXPECT_EQ(GetResult(c).first, "Stream write error");
    EXPECT_FALSE(c.open);
}

// A stream that holds writes back: its last bytes are written out when the document
// ends, before the document-end event, and a failure there fails the request.
TEST(HttpResponse, HeldBackBytesAreFlushedAtTheEndAndAFailedFlushFailsTheRequest) {
    struct THoldingStream : public TStringStream {
        int flushes = 0;
        bool fail = false;
        void FlushBuffer() override {
            ++flushes;
            if (fail) throw EStreamError("Stream write error");
        }
    };
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failing" : "succeeding");
        TScriptedHttpCli c;
        THoldingStream doc;
        doc.fail = fail;
        int flushesAtDocEnd = -1, docEnds = 0;
        c.OnDocEnd = [&](TObject*) {
            flushesAtDocEnd = doc.flushes;
            ++docEnds;
        };
        c.AddExchange({"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nsome body"});
        c.SetDocStream(&doc);
        c.SetURL("http://h/");
        const auto r = GetResult(c);
        EXPECT_EQ(doc.DataString(), "some body");
        EXPECT_EQ(doc.flushes, 1);
        EXPECT_EQ(flushesAtDocEnd, 1);
        EXPECT_EQ(docEnds, 1);
        EXPECT_EQ(r.first, fail ? "Stream write error" : "");
        EXPECT_EQ(r.second, fail ? 404 : 0);
    }
}

TEST(HttpResponse, ContentLengthZeroEndsAtTheEmptyLine) {
    TScriptedHttpCli c;
    EventLog log(c);
    c.AddExchange({"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"}, false);  // the server keeps it open
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/");
    EXPECT_EQ(GetResult(c).second, 0);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(doc.DataString(), "");
    EXPECT_TRUE(c.open);
    EXPECT_EQ(log.events.back(), "done:1/0");

    // The next request drops that connection first and is not disturbed by it.
    c.AddExchange({"HTTP/1.0 200 OK\r\n\r\nnext"});
    c.Get();
    EXPECT_EQ(doc.DataString(), "next");
}

TEST(HttpResponse, ServerClosingBeforeTheHeaderEnds) {
    TScriptedHttpCli c;
    c.AddExchange({"HTTP/1.0 200 OK\r\nServer: x"});
    c.SetURL("http://h/");
    EXPECT_EQ(GetResult(c).second, 0);
    EXPECT_EQ(c.StatusCode(), 200);

    // The unfinished line left behind does not precede the next response.
    c.AddExchange({"HTTP/1.0 203 Fine\r\n\r\n"});
    EXPECT_EQ(GetResult(c).second, 0);
    EXPECT_EQ(c.StatusCode(), 203);

    c.AddExchange({"HTTP/1.0 503 Busy\r\nRetry"});
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("Busy"), 503));

    c.AddExchange({"HTT"});
    EXPECT_EQ(GetResult(c).second, 0);
    EXPECT_EQ(c.StatusCode(), 0);
}

TEST(HttpResponse, ErrorStatusRaisesAfterOneRequestAndIsNeverRelocated) {
    TScriptedHttpCli c;
    EventLog log(c);
    c.AddExchange({"HTTP/1.1 404 Not Found\r\nLocation: /elsewhere\r\nContent-Length: 9\r\n\r\nerror pa", "ge"});
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/missing");
    EXPECT_EQ(GetResult(c), std::make_pair(std::string("Not Found"), 404));
    EXPECT_EQ(c.requests.size(), 1u);
    EXPECT_EQ(c.script.size(), 0u);
    // Closed at the status line; what came in the same read was still read.
    EXPECT_EQ(doc.DataString(), "error pa");
    EXPECT_EQ(c.Location(), "http://h/missing");
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "done:1/0"), 1);
}

// A chunked answer to the HTTP/1.0 request is decoded and ends at its last chunk (the server
// keeping the connection open), after empty lines before its status line; one cut before
// its last chunk or broken in its framing fails.
TEST(HttpResponse, AChunkedAnswerEndsAtItsLastChunkAndEmptyLinesBeforeTheStatusAreSkipped) {
    TScriptedHttpCli c;
    c.SetIdleTimeout(5000);  // a request that never ends fails instead of hanging the test
    c.AddExchange({"\r\n\n", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n5;x=1\r\nhel",
                   "lo\r\n00A\r\n worl", "d!!!!\r\n0\r\nX-Trailer: 1\r\n\r\nHTTP/1.1 200 OK\r\n"},
                  false);
    TStringStream doc;
    c.SetDocStream(&doc);
    c.SetURL("http://h/");
    EXPECT_EQ(GetResult(c), std::make_pair(std::string(), 0));
    EXPECT_EQ(c.sent.rfind("GET / HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(doc.DataString(), "hello world!!!!");
    EXPECT_EQ(c.RcvdBytes(), 15);

    struct Case {
        std::string body;
        std::string want;
    };
    for (const Case& k : {Case{"5\r\nhello\r\n", "the connection ended before the last chunk, after 5 bytes"},
                          Case{"5\r\nhelloX\r\n0\r\n\r\n", "invalid chunked body: chunk data longer than its size"},
                          Case{"-5\r\nhello\r\n0\r\n\r\n", "invalid chunked body: no chunk size"}}) {
        SCOPED_TRACE(k.body);
        c.AddExchange({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + k.body});
        EXPECT_EQ(GetResult(c), std::make_pair(k.want, 404));
    }
}
