// What a transfer delivers and when it counts as a success.
#include <gtest/gtest.h>

#include "FetchTestSupport.h"
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
}

TEST_F(HTTPGetTransfer, ErrorPageFailsButIsWritten) {
    ScriptedPeer peer("127.0.6.13", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("404 Not Found", "no such photo")).Close().Start();
    const std::string file = dir.Path("3.jpg");
    FetchFile("http://127.0.6.13/3.jpg", file);
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(ReadAll(file), "no such photo");
}

TEST_F(HTTPGetTransfer, NoResponseFailsWithoutCreatingTheFile) {
    const std::string file = dir.Path("4.jpg");
    // A name that cannot resolve, nothing listening, and an address without a host part.
    for (const char* url : {"http://no-such-host.invalid/4.jpg", "http://127.0.6.14/4.jpg", "http://4.jpg"}) {
        SCOPED_TRACE(url);
        log = EventLog{};
        FetchFile(url, file);
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
        EXPECT_EQ(log.senders, std::vector<TObject*>{&get});
        EXPECT_FALSE(Exists(file));
    }
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
    for (const std::string& file : {dir.Path("missing/6.jpg"), std::string("/dev/full"), dir.Path("6.jpg")}) {
        SCOPED_TRACE(file);
        log = EventLog{};
        FetchFile(get.URL(), file);
        EXPECT_EQ(log.events, std::vector<std::string>{"error"});
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
