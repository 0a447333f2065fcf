// SPDX-License-Identifier: Apache-2.0
// What a transfer delivers and when it counts as a success.
#include <gtest/gtest.h>

#include <cstdio>

#include "FetchTestSupport.h"
#include "wininet/WinInet.h"
#include "support/Loopback.h"

namespace {

class HTTPGetTransfer : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    void FetchFile(const std::string& url, const std::string& file) {
        log.Attach(get);
        get.SetURL(url);
        get.SetFileName(file);
        get.SetWaitThread(true);
        get.FetchToFile();
    }
    std::string Done(const std::string& file, int size) const { return "done " + file + " " + std::to_string(size); }

    ScratchDir dir;
    THTTPGet get;
    EventLog log;
};

TEST_F(HTTPGetTransfer, ProgressAfterEveryFullPieceThenDone) {
    const std::string body = Body(3000);
    ScriptedPeer peer("127.0.6.10", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n");
    peer.SendInPieces(body, 1025, 20).Close().Start();
    const std::string file = dir.Path("0.jpg");
    FetchFile("http://127.0.6.10/0.jpg", file);
    peer.Join();

    ASSERT_EQ(log.progress.size(), 3u);
    const std::int32_t expected[] = {1025, 2050, 3000};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log.progress[i].total, 3000);
        EXPECT_EQ(log.progress[i].readed, expected[i]);
        EXPECT_TRUE(log.progress[i].onMainThread);
        EXPECT_NE(log.progress[i].sender, &get);
        EXPECT_TRUE(log.progress[i].fromWorker);
    }
    EXPECT_EQ(log.events, std::vector<std::string>{Done(file, 3000)});
    EXPECT_EQ(log.senders, std::vector<TObject*>{&get});
    EXPECT_EQ(ReadAll(file), body);
    EXPECT_TRUE(get.LastOutcome());
    EXPECT_FALSE(get.Busy());
    EXPECT_EQ(get.LastStatus(), 200);
    EXPECT_EQ(get.LastErrorCode(), 0u);
    EXPECT_EQ(get.LastErrorText(), "");
}

TEST_F(HTTPGetTransfer, BodyWithoutLengthSucceedsWhenTheServerCloses) {
    const std::string body = Body(2500);
    ScriptedPeer peer("127.0.6.11", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", body, false)).Close().Start();
    const std::string file = dir.Path("1.jpg");
    FetchFile("http://127.0.6.11/1.jpg", file);
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{Done(file, 2500)});
    EXPECT_EQ(ReadAll(file), body);
    ASSERT_FALSE(log.progress.empty());
    EXPECT_EQ(log.progress.back().total, 0);
}

TEST_F(HTTPGetTransfer, CutOffBodyFailsAndKeepsWhatArrived) {
    ScriptedPeer peer("127.0.6.12", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n" + Body(1500)).Close();
    peer.Start();
    const std::string file = dir.Path("2.jpg");
    FetchFile("http://127.0.6.12/2.jpg", file);
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(log.senders, std::vector<TObject*>{&get});
    EXPECT_EQ(ReadAll(file), Body(1500));
    EXPECT_FALSE(get.LastOutcome());
    EXPECT_EQ(get.LastStatus(), 200);
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(get.LastErrorText(), "connection closed after 1500 of 3000 bytes");
}

TEST_F(HTTPGetTransfer, ResetAndSilentServersTellHowTheBodyWasCutOff) {
    struct Case {
        std::string head;
        bool reset;  // else the server falls silent
        DWORD code;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n", true, ERROR_INTERNET_CONNECTION_RESET,
         "connection reset after 1500 of 3000 bytes"},
        {"HTTP/1.0 200 OK\r\n\r\n", true, ERROR_INTERNET_CONNECTION_RESET, "connection reset after 1500 bytes"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n", false, ERROR_INTERNET_TIMEOUT,
         "timed out after 1500 of 3000 bytes"},
    };
    ScriptedPeer peer("127.0.6.19", 80);
    for (const Case& k : cases) {
        peer.Accept().ReadUntil(kHeadEnd).Send(k.head + Body(1500)).Delay(k.reset ? 100 : 600);
        k.reset ? peer.Reset() : peer.Close();
    }
    peer.Start();
    const DWORD shortWait = 200, usual = 60000;
    ASSERT_TRUE(InternetSetOptionA(nullptr, INTERNET_OPTION_RECEIVE_TIMEOUT, &shortWait, sizeof shortWait));
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        log = EventLog{};
        FetchFile("http://127.0.6.19/8.jpg", dir.Path("8.jpg"));
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
        EXPECT_EQ(get.LastStatus(), 200);
        EXPECT_EQ(get.LastErrorCode(), k.code);
        EXPECT_EQ(get.LastErrorText(), k.text);
    }
    InternetSetOptionA(nullptr, INTERNET_OPTION_RECEIVE_TIMEOUT, &usual, sizeof usual);
    peer.Join();
}

TEST_F(HTTPGetTransfer, ErrorPageFailsButIsWritten) {
    ScriptedPeer peer("127.0.6.13", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("404 Not Found", "no such photo")).Close().Start();
    const std::string file = dir.Path("3.jpg");
    FetchFile("http://127.0.6.13/3.jpg", file);
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(ReadAll(file), "no such photo");
    EXPECT_EQ(get.LastStatus(), 404);
    EXPECT_EQ(get.LastErrorCode(), 0u);
    EXPECT_EQ(get.LastErrorText(), "HTTP 404 Not Found");
}

TEST_F(HTTPGetTransfer, NoResponseFailsWithoutCreatingTheFile) {
    const std::string file = dir.Path("4.jpg");
    // A name that cannot resolve, nothing listening, and an address without a host part.
    const struct {
        const char* url;
        DWORD code;
        const char* text;
    } cases[] = {
        {"http://no-such-host.invalid/4.jpg", ERROR_INTERNET_NAME_NOT_RESOLVED, "cannot resolve host name no-such-host.invalid"},
        {"http://127.0.6.14/4.jpg", ERROR_INTERNET_CANNOT_CONNECT, "connection refused or host unreachable"},
        {"http://4.jpg", ERROR_INTERNET_NAME_NOT_RESOLVED, "no host name in the address"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.url);
        log = EventLog{};
        FetchFile(k.url, file);
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
        EXPECT_EQ(log.senders, std::vector<TObject*>{&get});
        EXPECT_FALSE(Exists(file));
        EXPECT_EQ(get.LastStatus(), 0);
        EXPECT_EQ(get.LastErrorCode(), k.code);
        EXPECT_EQ(get.LastErrorText(), k.text);
    }
}

TEST_F(HTTPGetTransfer, RedirectionsThatAreNotFollowedFail) {
    const auto redirect = [](const std::string& status, const std::string& to) {
        return "HTTP/1.0 " + status + "\r\nLocation: " + to + "\r\nContent-Length: 5\r\n\r\nmoved";
    };
    struct Case {
        int answers;           // connections the fetch makes
        std::string response;  // each of them gets
        bool written;          // the answer's body lands in the file
        DWORD code;
        std::string text;
    };
    const std::vector<Case> cases = {
        {11, redirect("302 Found", "/k.jpg"), false, ERROR_HTTP_TOO_MANY_REDIRECTS, "too many redirects"},  // ten are followed
        {1, redirect("301 Moved Permanently", "ftp://127.0.6.18/k.jpg"), false, ERROR_HTTP_REDIRECT_FAILED,
         "cannot follow a redirect to ftp://127.0.6.18/k.jpg"},
        {1, Response("300 Multiple Choices", "moved"), true, 0, "HTTP 300 Multiple Choices"},
    };
    ScriptedPeer peer("127.0.6.18", 80);
    for (const Case& k : cases)
        for (int i = 0; i < k.answers; ++i) peer.Accept().ReadUntil(kHeadEnd).Send(k.response).Close();
    peer.Start();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.response.substr(0, k.response.find('\r')));
        const std::string file = dir.Path("k.jpg");
        log = EventLog{};
        FetchFile("http://127.0.6.18/k.jpg", file);
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
        EXPECT_EQ(Exists(file), k.written);
        EXPECT_EQ(get.LastStatus(), std::stoi(k.response.substr(9, 3)));
        EXPECT_EQ(get.LastErrorCode(), k.code);
        EXPECT_EQ(get.LastErrorText(), k.text);
        std::remove(file.c_str());
    }
    peer.Join();
    EXPECT_EQ(peer.Connections(), 13u);
}

TEST_F(HTTPGetTransfer, BinaryDataRefusesAResponseWithoutLength) {
    ScriptedPeer peer("127.0.6.15", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "data", false)).Close().Start();
    get.SetBinaryData(true);
    const std::string file = dir.Path("5.jpg");
    FetchFile("http://127.0.6.15/5.jpg", file);
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(get.LastErrorCode(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_EQ(get.LastErrorText(), "no content length in the response");
}

TEST_F(HTTPGetTransfer, TextModeGivesTheBodyToOnDoneString) {
    ScriptedPeer peer("127.0.6.16", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "line1\r\nline2")).Close();
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "")).Close();
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("500 Internal Server Error", "oops")).Close().Start();
    log.Attach(get);
    get.SetURL("http://127.0.6.16/list.txt");
    get.SetWaitThread(true);
    for (int i = 0; i < 3; ++i) get.FetchToString();
    peer.Join();
    EXPECT_EQ(log.events, (std::vector<std::string>{"string line1\r\nline2", "string ", "error"}));
    EXPECT_EQ(log.senders, (std::vector<TObject*>{&get, &get, &get}));
}

TEST_F(HTTPGetTransfer, ErrorInsideTheBodyReleasesEverythingAndFails) {
    ScriptedPeer peer("127.0.6.17", 80);
    for (int i = 0; i < 2; ++i) peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", Body(3000))).Close();
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: many\r\n\r\nbody").Close();
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", Body(3000))).Close();
    const int before = OpenDescriptors();
    peer.Start();
    get.SetURL("http://127.0.6.17/6.jpg");
    // A file in a missing folder, a device that is always full, a length that is no number.
    const std::string missing = dir.Path("missing/6.jpg");
    const std::pair<std::string, std::string> cases[] = {
        {missing, "cannot create " + missing + ": no such file or directory"},
        {"/dev/full", "no space left on device: /dev/full"},
        {dir.Path("6.jpg"), "invalid content length in the response"},
    };
    for (const auto& [file, text] : cases) {
        SCOPED_TRACE(file);
        log = EventLog{};
        FetchFile(get.URL(), file);
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
        EXPECT_EQ(get.LastErrorText(), text);
    }
    EXPECT_FALSE(Exists(dir.Path("6.jpg")));
    // The component is usable again afterwards.
    log = EventLog{};
    FetchFile(get.URL(), dir.Path("7.jpg"));
    EXPECT_EQ(log.events, std::vector<std::string>{Done(dir.Path("7.jpg"), 3000)});
    peer.Join();
    EXPECT_EQ(OpenDescriptors(), before);  // every socket and file of the transfers is closed
}

}  // namespace
