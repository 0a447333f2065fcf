// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Exception.h"
#include "platform/Messages.h"
#include "platform/LastError.h"
#include "platform/Thread.h"
#include "platform/ThreadPark.h"

namespace {

class Worker : public TThread {
public:
    std::vector<std::string>* log;
    std::thread::id mainId = std::this_thread::get_id();
    bool syncOnMain = true;

    explicit Worker(std::vector<std::string>* l) : TThread(true), log(l) {}

protected:
    void Execute() override {
        for (int i = 0; i < 3; ++i) {
            std::string step = "step" + std::to_string(i);
            Synchronize([&] {
                syncOnMain = syncOnMain && std::this_thread::get_id() == mainId;
                log->push_back(step);
            });
            // Synchronize has returned: the main thread already logged this step.
            Synchronize([&] { log->push_back("after" + std::to_string(i)); });
        }
    }
};

class SelfFreeing : public TThread {
public:
    std::atomic<bool>* destroyed;
    explicit SelfFreeing(std::atomic<bool>* d) : TThread(true), destroyed(d) { SetFreeOnTerminate(true); }
    ~SelfFreeing() override { *destroyed = true; }

protected:
    void Execute() override {
        while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
};

class Thrower : public TThread {
public:
    bool caught = false;
    Thrower() : TThread(true) {}

protected:
    void Execute() override {
        try {
            Synchronize([] { throw Exception("from main"); });
        } catch (const Exception& e) {
            caught = e.Message() == "from main";
        }
    }
};

}  // namespace

TEST(Thread, SynchronizeRunsOnTheCreatingThreadAndBlocksTheWorker) {
    std::vector<std::string> log;
    Worker w(&log);
    std::thread::id terminateThread;
    w.OnTerminate = [&](TThread*) {
        terminateThread = std::this_thread::get_id();
        log.push_back("terminate");
    };
    w.Start();
    w.WaitFor();
    EXPECT_TRUE(w.syncOnMain);
    EXPECT_EQ(terminateThread, std::this_thread::get_id());
    EXPECT_EQ(log, (std::vector<std::string>{"step0", "after0", "step1", "after1", "step2", "after2", "terminate"}));
}

TEST(Thread, SuspendedThreadDoesNotRunBeforeStart) {
    std::vector<std::string> log;
    {
        Worker w(&log);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ProcessMessages();
        EXPECT_TRUE(log.empty());
    }  // destroying a never-started thread is fine
}

TEST(Thread, FreeOnTerminateDeletesItselfAfterTheCompletionHandler) {
    std::atomic<bool> destroyed{false};
    bool completed = false;
    auto* t = new SelfFreeing(&destroyed);
    t->OnTerminate = [&](TThread*) {
        completed = true;
        EXPECT_FALSE(destroyed.load());
    };
    t->Start();
    t->Terminate();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!destroyed && std::chrono::steady_clock::now() < end) {
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(completed);
    EXPECT_TRUE(destroyed);
}

TEST(Thread, AnExceptionInASynchronizedCallIsRaisedInTheWorker) {
    Thrower t;
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.caught);
}

namespace {

// Runs body on a worker and waits for it, dispatching messages meanwhile.
template <typename Body>
void RunWorker(Body body) {
    class Once : public TThread {
    public:
        explicit Once(Body b) : TThread(true), body_(std::move(b)) {}

    protected:
        void Execute() override { body_(); }

    private:
        Body body_;
    };
    Once t(std::move(body));
    t.Start();
    t.WaitFor();
}

bool WaitUntilParked(int count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ParkedThreadCount() < count)
        if (std::chrono::steady_clock::now() > end) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

}  // namespace

// A finished body's thread runs the next body, which sees neither the last error nor the
// queued messages the earlier body left.
TEST(Thread, ABodyReusesAnIdleThreadThatLooksFresh) {
    // Kernel thread ids: a new thread can get the library handle of one that ended.
    pid_t first = 0, second = 0;
    RunWorker([&] {
        first = gettid();
        SetLastError(1234);
        PostQuitMessage(7);  // left in the thread's queue
    });
    ASSERT_TRUE(WaitUntilParked(1));
    DWORD lastError = 99;
    bool messageLeft = true;
    RunWorker([&] {
        second = gettid();
        lastError = GetLastError();
        MSG msg{};
        messageLeft = PeekMessage(msg, false);
    });
    EXPECT_EQ(first, second);
    EXPECT_NE(first, gettid());
    EXPECT_EQ(lastError, ERROR_SUCCESS);
    EXPECT_FALSE(messageLeft);
}

// Bodies started together run together: a second body is never queued behind a first
// that is still running, even with idle threads about.
TEST(Thread, BodiesStartedTogetherRunAtTheSameTime) {
    RunWorker([] {});
    ASSERT_TRUE(WaitUntilParked(1));
    std::atomic<bool> released{false}, firstSawRelease{false};
    class Waiter : public TThread {
    public:
        std::atomic<bool>* released;
        std::atomic<bool>* saw;
        Waiter(std::atomic<bool>* r, std::atomic<bool>* s) : TThread(true), released(r), saw(s) {}

    protected:
        void Execute() override {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!*released && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            *saw = released->load();
        }
    };
    Waiter first(&released, &firstSawRelease);
    first.Start();
    RunWorker([&] { released = true; });
    first.WaitFor();
    EXPECT_TRUE(firstSawRelease);
}

// WaitFor returns once the body has ended, not merely once a stop was requested.
TEST(Thread, WaitForReturnsAfterTheBodyEnded) {
    std::atomic<bool> running{false}, ended{false};
    RunWorker([] {});  // an idle thread is about: the body runs on a reused one
    ASSERT_TRUE(WaitUntilParked(1));
    class Looper : public TThread {
    public:
        std::atomic<bool>& running;
        std::atomic<bool>& ended;
        Looper(std::atomic<bool>& r, std::atomic<bool>& e) : TThread(true), running(r), ended(e) {}

    protected:
        void Execute() override {
            running = true;
            while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ended = true;
        }
    };
    Looper t(running, ended);
    t.Start();
    while (!running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(ended);
}

// A self-freeing worker whose completion leads to the start of the next one, as the
// fetcher's photos follow each other: the next body takes the finishing worker's thread
// instead of starting one more thread each time the start wins the race against the
// worker's last steps.
TEST(Thread, WorkersStartedOneAfterAnotherShareOneThread) {
    const int before = ParkedThreadCount();
    class Step : public TThread {
    public:
        Step() : TThread(true) { SetFreeOnTerminate(true); }

    protected:
        void Execute() override {}
    };
    for (int i = 0; i < 100; ++i) {
        bool done = false;
        auto* t = new Step;
        t->OnTerminate = [&](TThread*) { done = true; };
        t->Start();
        while (!done) WaitAndProcessMessages();
    }
    ASSERT_TRUE(WaitUntilParked(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // stragglers park by now
    EXPECT_LE(ParkedThreadCount(), std::max(before, 1));
}
