// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/ErrorGuard.h"
#include "platform/Messages.h"

namespace {

// Pumps with the blocking wait until pred holds (or a generous limit passes).
template <class Pred>
bool PumpUntil(Pred pred, int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Recorder {
    std::vector<std::pair<UINT, WPARAM>> got;
    HWND wnd = AllocateHWnd([this](TMessage& m) { got.emplace_back(m.Msg, m.WParam); });
    ~Recorder() { DeallocateHWnd(wnd); }
};

}  // namespace

TEST(Messages, PostedOnOneThreadArriveInOrder) {
    Recorder r;
    for (WPARAM i = 0; i < 200; ++i) ASSERT_TRUE(PostMessage(r.wnd, WM_USER + 1, i, 0));
    ASSERT_TRUE(PumpUntil([&] { return r.got.size() == 200; }));
    for (WPARAM i = 0; i < 200; ++i) EXPECT_EQ(r.got[i].second, i);
}

TEST(Messages, PostedFromOtherThreadsKeepEachSendersOrder) {
    Recorder r;
    constexpr int kThreads = 4, kEach = 2000;
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; ++t)
        ts.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) PostMessage(r.wnd, WM_USER + t, static_cast<WPARAM>(i), 0);
        });
    for (auto& t : ts) t.join();
    ASSERT_TRUE(PumpUntil([&] { return r.got.size() == kThreads * kEach; }));
    std::vector<WPARAM> next(kThreads, 0);
    for (auto [msg, seq] : r.got) {
        const int t = static_cast<int>(msg - WM_USER);
        EXPECT_EQ(seq, next[t]) << "sender " << t;
        next[t] = seq + 1;
    }
}

TEST(Messages, MessageToADestroyedWindowIsDropped) {
    int calls = 0;
    HWND w = AllocateHWnd([&](TMessage&) { ++calls; });
    ASSERT_TRUE(PostMessage(w, WM_USER, 0, 0));
    DeallocateHWnd(w);  // the queued message must not reach the handler
    EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0));
    EXPECT_FALSE(IsWindow(w));
    MSG m;
    EXPECT_FALSE(PeekMessage(m, false));  // gone from the queue, not only skipped
    for (int i = 0; i < 10; ++i) ProcessMessages();
    EXPECT_EQ(calls, 0);
}

TEST(Messages, AWindowMayDestroyItselfInsideItsHandler) {
    int calls = 0;
    HWND w = 0;
    w = AllocateHWnd([&](TMessage&) {
        ++calls;
        DeallocateHWnd(w);
    });
    PostMessage(w, WM_USER, 0, 0);
    PostMessage(w, WM_USER, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return calls >= 1; }));
    for (int i = 0; i < 10; ++i) ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST(Messages, WaitBlocksUntilAMessageFromAnotherThreadArrives) {
    Recorder r;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        PostMessage(r.wnd, WM_USER + 7, 42, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    while (r.got.empty()) WaitAndProcessMessages();
    poster.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(r.got[0], std::make_pair(UINT{WM_USER + 7}, WPARAM{42}));
}

TEST(Messages, ANestedWaitInsideAHandlerStillReceivesLaterMessages) {
    std::vector<int> order;
    bool secondSeen = false;
    HWND w = AllocateHWnd([&](TMessage& m) {
        if (m.WParam == 1) {
            order.push_back(1);
            while (!secondSeen) WaitAndProcessMessages();  // like a transfer's nested loop
            order.push_back(3);
        } else {
            secondSeen = true;
            order.push_back(2);
        }
    });
    PostMessage(w, WM_USER, 1, 0);
    PostMessage(w, WM_USER, 2, 0);
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    DeallocateHWnd(w);
}

// A handler that runs a plain event loop (as a modal dialog does, without the nested-loop
// scope) still receives the messages queued behind it, both those already waiting and
// those the loop's own handlers post.
TEST(Messages, AnUnscopedEventLoopInsideAHandlerStillReceivesTheRestOfTheQueue) {
    std::vector<int> order;
    HWND w = 0;
    w = AllocateHWnd([&](TMessage& m) {
        order.push_back(static_cast<int>(m.WParam));
        if (m.WParam == 1) {
            QEventLoop loop;
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // a limit, not the expected end
            HWND quitter = AllocateHWnd([&](TMessage&) { loop.quit(); });
            PostMessage(w, WM_USER, 3, 0);
            PostMessage(quitter, WM_USER, 0, 0);
            loop.exec();
            DeallocateHWnd(quitter);
            order.push_back(9);
        }
    });
    PostMessage(w, WM_USER, 1, 0);
    PostMessage(w, WM_USER, 2, 0);
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 9}));
    DeallocateHWnd(w);
}

TEST(Messages, MessagesAThreadPostsToItselfKeepTheirOrderAndReachNestedWaits) {
    std::vector<int> order;
    bool nestedSaw = false;
    HWND w = 0;
    w = AllocateHWnd([&](TMessage& m) {
        order.push_back(static_cast<int>(m.WParam));
        if (m.WParam == 1) {
            PostMessage(w, WM_USER, 2, 0);  // taken by the same pass...
            PostMessage(w, WM_USER, 3, 0);
        } else if (m.WParam == 3) {
            PostMessage(w, WM_USER, 4, 0);  // ...but a wait inside a handler must see it too
            while (!nestedSaw) WaitAndProcessMessages();
        } else if (m.WParam == 4) {
            nestedSaw = true;
        }
    });
    PostMessage(w, WM_USER, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    DeallocateHWnd(w);
}

TEST(Messages, AHandlerThatKeepsPostingToItselfDoesNotStarveTheEventLoop) {
    int handled = 0;
    bool timerFired = false;
    HWND w = 0;
    w = AllocateHWnd([&](TMessage&) {
        ++handled;
        if (!timerFired) PostMessage(w, WM_USER, 0, 0);  // an endless stream until the timer fires
    });
    QTimer::singleShot(20, [&] { timerFired = true; });
    PostMessage(w, WM_USER, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return timerFired; }));
    EXPECT_GT(handled, 1);
    DeallocateHWnd(w);
}

TEST(Messages, PeekMessageSeesTheQueueAndTheQuitMessage) {
    Recorder r;
    PostMessage(r.wnd, WM_USER + 3, 9, 0);
    PostQuitMessage(5);
    MSG m{};
    ASSERT_TRUE(PeekMessage(m, false));
    EXPECT_EQ(m.message, WM_USER + 3u);
    ASSERT_TRUE(PeekMessage(m, true));
    DispatchMessage(m);
    ASSERT_TRUE(PeekMessage(m, true));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 5u);
    EXPECT_FALSE(PeekMessage(m, true));
    EXPECT_EQ(r.got.size(), 1u);
    EXPECT_FALSE(WaitMessageFor(20));
}

TEST(Messages, TimerTicksUntilKilled) {
    Recorder r;
    SetTimer(r.wnd, 5, 20);
    ASSERT_TRUE(PumpUntil([&] { return r.got.size() >= 3; }));
    KillTimer(r.wnd, 5);
    for (auto [msg, id] : r.got) {
        EXPECT_EQ(msg, WM_TIMER);
        EXPECT_EQ(id, 5u);
    }
    ProcessMessages();  // a tick already queued may still arrive
    const std::size_t n = r.got.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ProcessMessages();
    EXPECT_EQ(r.got.size(), n);
}

TEST(ErrorGuard, FullStopIsAppendedOnlyWhenMissing) {
    EXPECT_EQ(ErrorDialogText("Not Found"), "Not Found.");
    EXPECT_EQ(ErrorDialogText("Done."), "Done.");
    EXPECT_EQ(ErrorDialogText("Socket is not connected\r\n"), "Socket is not connected\r\n.");
}

TEST(ErrorGuard, AnExceptionEscapingAHandlerReachesTheInstalledHandler) {
    std::vector<std::string> shown;
    SetExceptionHandler([&](const std::string& t) { shown.push_back(t); });
    HWND w = AllocateHWnd([](TMessage&) { throw std::runtime_error("boom"); });
    PostMessage(w, WM_USER, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !shown.empty(); }));
    SetExceptionHandler(nullptr);
    DeallocateHWnd(w);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "boom.");
}
