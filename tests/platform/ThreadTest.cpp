#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Exception.h"
#include "platform/Messages.h"
#include "platform/Thread.h"

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
