// SPDX-License-Identifier: Apache-2.0
// How much processor time a thread spends waiting for a message that comes after two
// seconds: once with the blocking wait the transfers use, once with a poll-and-yield loop
// for comparison. Prints wall time, CPU time and their ratio for both.
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/Messages.h"

namespace {

double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

template <class Wait>
void Measure(const char* label, Wait wait) {
    bool arrived = false;
    HWND wnd = AllocateHWnd([&](TMessage&) { arrived = true; });
    std::thread poster([wnd] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        PostMessage(wnd, WM_USER, 0, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = ThreadCpuSeconds();
    while (!arrived) wait();
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    poster.join();
    DeallocateHWnd(wnd);
    std::printf("%-28s wall %.3f s  cpu %.4f s  cpu/wall %.2f%%\n", label, wall, cpu, 100.0 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Measure("blocking wait", [] { WaitAndProcessMessages(); });
    Measure("poll + yield (for contrast)", [] {
        ProcessMessages();
        std::this_thread::yield();
    });
    return 0;
}
