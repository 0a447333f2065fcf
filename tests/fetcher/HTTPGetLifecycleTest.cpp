// SPDX-License-Identifier: Apache-2.0
// Starting, stopping and destroying a component while its worker runs.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "FetchTestSupport.h"
#include "wininet/WinInet.h"
#include "support/Loopback.h"

namespace {

class HTTPGetLifecycle : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }
    ScratchDir dir;
    EventLog log;
};

TEST_F(HTTPGetLifecycle, SecondFetchWhileBusyIsIgnored) {
    ScriptedPeer peer("127.0.6.20", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n12345");
    peer.Delay(300).Send("67890").Close().Start();
    THTTPGet get;
    log.Attach(get);
    get.SetURL("http://127.0.6.20/a.jpg");
    get.SetFileName(dir.Path("a.jpg"));
    get.FetchToFile();
    ASSERT_TRUE(get.Busy());

    get.SetURL("http://127.0.6.20/b.jpg");
    get.SetFileName(dir.Path("b.jpg"));
    get.SetWaitThread(true);
    get.FetchToFile();  // returns at once: a wait would have outlasted the transfer
    EXPECT_TRUE(get.Busy());
    EXPECT_TRUE(log.events.empty());

    ASSERT_TRUE(PumpUntil([&] { return log.Finished(); }));
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"done " + dir.Path("a.jpg") + " 10"});
    EXPECT_EQ(ReadAll(dir.Path("a.jpg")), "1234567890");
    EXPECT_FALSE(Exists(dir.Path("b.jpg")));
    EXPECT_EQ(peer.Connections(), 1u);
    EXPECT_FALSE(get.Busy());
}

TEST_F(HTTPGetLifecycle, CancelDuringTheReadsKeepsThePartAndFails) {
    ScriptedPeer peer("127.0.6.21", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + Body(2050));
    peer.ReadToEnd().Close().Start();  // the client closes once it stopped
    THTTPGet get;
    log.Attach(get);
    get.OnProgress = [&](TObject*, std::int32_t, std::int32_t readed) {
        log.progress.push_back({nullptr, 0, readed, true, true});
        get.Cancel();
        EXPECT_TRUE(get.Busy());  // Cancel does not wait
    };
    get.SetURL("http://127.0.6.21/c.jpg");
    get.SetFileName(dir.Path("c.jpg"));
    get.SetWaitThread(true);
    get.FetchToFile();
    peer.Join();
    ASSERT_EQ(log.progress.size(), 1u);
    EXPECT_EQ(log.progress[0].readed, 1025);
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(ReadAll(dir.Path("c.jpg")), Body(1025));
    EXPECT_FALSE(get.Busy());
    EXPECT_FALSE(get.LastOutcome());
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(get.LastErrorText(), "stopped");
}

TEST_F(HTTPGetLifecycle, CancelWithoutProgressHandlerKeepsEveryByteReceived) {
    ScriptedPeer peer("127.0.6.24", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 4000\r\n\r\n" + Body(1025));
    peer.Delay(400).Send(Body(2050).substr(1025)).ReadToEnd().Close().Start();
    THTTPGet get;
    log.Attach(get);
    get.OnProgress = nullptr;
    get.SetURL("http://127.0.6.24/g.jpg");
    get.SetFileName(dir.Path("g.jpg"));
    get.FetchToFile();
    PumpUntil([] { return false; }, 100);  // the worker now waits for the second piece
    get.Cancel();
    ASSERT_TRUE(PumpUntil([&] { return log.Finished(); }));
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(ReadAll(dir.Path("g.jpg")), Body(2050));
}

TEST_F(HTTPGetLifecycle, AbortEndsAWaitForASilentServerAsAStop) {
    ScriptedPeer peer("127.0.6.25", 80);
    peer.Accept().ReadUntil(kHeadEnd).ReadToEnd().Close().Start();  // never answers
    THTTPGet get;
    log.Attach(get);
    get.SetURL("http://127.0.6.25/s.jpg");
    get.SetFileName(dir.Path("s.jpg"));
    get.FetchToFile();
    PumpUntil([] { return false; }, 200);  // the worker now waits for the answer
    get.Abort();
    // The receive timeout is 60 s: an answer within the pump's 5 s comes from the abort.
    ASSERT_TRUE(PumpUntil([&] { return log.Finished(); }));
    peer.Join();
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_FALSE(get.LastFailureMayPass());
    EXPECT_FALSE(Exists(dir.Path("s.jpg")));
}

TEST_F(HTTPGetLifecycle, AbortAfterTheBodyBeforeTheCompletionIsAStopThatSaysSo) {
    ScriptedPeer peer("127.0.6.26", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "whole")).Close().Start();
    THTTPGet get;
    log.Attach(get);
    get.OnProgress = nullptr;  // so that nothing stops the worker before its completion
    get.SetURL("http://127.0.6.26/w.jpg");
    get.SetFileName(dir.Path("w.jpg"));
    get.FetchToFile();
    peer.Join();
    // No message is dispatched meanwhile: the worker is through its last stop test and
    // waits to hand over its completion.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    get.Abort();
    ASSERT_TRUE(PumpUntil([&] { return log.Finished(); }));
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(get.LastErrorText(), "stopped");
}

TEST_F(HTTPGetLifecycle, DestroyingABusyComponentSilencesItsWorker) {
    ScriptedPeer peer("127.0.6.22", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.0 200 OK\r\nContent-Length: 2050\r\n\r\n" + Body(1025));
    peer.Delay(300).Send(Body(1025)).ReadToEnd().Close().Start();
    auto marker = std::make_shared<int>(0);  // copies live in the component and its worker
    const std::weak_ptr<int> workerAlive = marker;
    auto* get = new THTTPGet;
    log.Attach(*get);
    get->OnProgress = [&log = log, marker](TObject*, std::int32_t, std::int32_t readed) {
        log.progress.push_back({nullptr, 0, readed, true, true});
    };
    marker.reset();
    get->SetURL("http://127.0.6.22/d.jpg");
    get->SetFileName(dir.Path("d.jpg"));
    get->FetchToFile();
    ASSERT_TRUE(PumpUntil([&] { return !log.progress.empty(); }));
    delete get;  // the worker is waiting for the second piece

    EXPECT_TRUE(PumpUntil([&] { return workerAlive.expired(); }));
    peer.Join();
    EXPECT_EQ(log.progress.size(), 1u);
    EXPECT_TRUE(log.events.empty());
}

TEST_F(HTTPGetLifecycle, AHandlerMayDestroyTheComponent) {
    ScriptedPeer peer("127.0.6.23", 80);
    peer.Accept().ReadUntil(kHeadEnd).Send(Response("200 OK", "x")).Close().Start();
    auto* get = new THTTPGet;
    bool done = false;
    get->OnDoneFile = [&](TObject* sender, const std::string&, std::int32_t) {
        done = true;
        delete static_cast<THTTPGet*>(sender);
    };
    get->SetURL("http://127.0.6.23/e.jpg");
    get->SetFileName(dir.Path("e.jpg"));
    get->SetWaitThread(true);
    get->FetchToFile();  // must notice that the component is gone
    EXPECT_TRUE(done);
    peer.Join();
}

}  // namespace
