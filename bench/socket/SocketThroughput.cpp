// SPDX-License-Identifier: Apache-2.0
// Pushes the same bytes over loopback TCP three ways, in one run, and prints throughput and
// processor time:
//   plain    - a blocking sender writing 1460-byte pieces (the send queue's block size)
//              and a blocking receiver reading 256 KB at a time, on two threads;
//   plain64k - the same with 64 KB writes (for reference: fewer system calls);
//   TWSocket - a client TWSocket sending through its queue (Send of CHUNK bytes each time
//              OnDataSent reports the queue empty) and a server-side TWSocket reading
//              256 KB per OnDataAvailable, each on its own thread and message queue.
// Rounds of plain and TWSocket alternate (so that a change in the machine's load hits both);
// plain64k runs once at the end. The ratios compare TWSocket with plain, per round and as
// the median of the rounds.
//
// Usage: bench_socket [megabytes = 1024] [chunk kilobytes = 64] [rounds = 5]
// BENCH_ONLY=plain or BENCH_ONLY=socket runs one kind only (for profiling).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "socket/WSocket.h"

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct Result {
    double seconds = 0;
    double cpu = 0;
    double senderCpu = 0, receiverCpu = 0;
    long long reads = 0;  // receive calls that returned data
    long long bytes = 0;
    bool ok = false;
};

std::vector<char> Pattern(std::size_t n) {
    std::vector<char> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<char>('a' + i % 26);
    return v;
}

Result PlainCopy(long long total, int piece) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listener, 1);
    socklen_t len = sizeof sa;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
    const int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(out, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    const int in = ::accept(listener, nullptr, nullptr);
    const std::vector<char> data = Pattern(1 << 20);

    Result r;
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    long long received = 0;
    std::thread reader([&] {
        const double c0 = ThreadCpuSeconds();
        std::vector<char> buf(256 << 10);
        while (received < total) {
            const ssize_t n = ::recv(in, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            received += n;
            ++r.reads;
        }
        r.receiverCpu = ThreadCpuSeconds() - c0;
    });
    const double c0 = ThreadCpuSeconds();
    long long sent = 0;
    while (sent < total) {
        const std::size_t off = static_cast<std::size_t>(sent % (1 << 20)) % ((1 << 20) - piece);
        const std::size_t want = static_cast<std::size_t>(std::min<long long>(piece, total - sent));
        const ssize_t n = ::send(out, data.data() + off, want, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += n;
    }
    r.senderCpu = ThreadCpuSeconds() - c0;
    reader.join();
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.cpu = ProcessCpuSeconds() - cpu0;
    r.bytes = received;
    r.ok = received == total;
    ::close(in);
    ::close(out);
    ::close(listener);
    return r;
}

// Runs the calling thread's message queue until done.
void Pump(const std::atomic<bool>& done) {
    while (!done.load()) {
        WaitMessage();
        MSG msg;
        while (PeekMessage(msg, true)) DispatchMessage(msg);
    }
}

Result SocketCopy(long long total, int chunk) {
    // Construction, destruction and the module's first load stay on one thread at a time.
    std::mutex lifecycle;
    std::mutex mu;
    std::condition_variable cv;
    std::string port;
    std::atomic<bool> received{false}, sent{false};
    long long got = 0, reads = 0;
    bool failed = false;
    Clock::time_point t0, t1;
    double serverCpu0 = 0, serverCpu = 0, clientCpu0 = 0, clientCpu = 0;

    std::thread server([&] {
        std::unique_lock life(lifecycle);
        auto listener = std::make_unique<TWSocket>();
        auto peer = std::make_unique<TWSocket>();
        std::vector<char> buf(256 << 10);
        listener->MultiThreaded = peer->MultiThreaded = true;
        listener->OnSessionAvailable = [&](TObject*, WORD) { peer->Dup(listener->Accept()); };
        peer->OnDataAvailable = [&](TObject*, WORD) {
            const int n = peer->Receive(buf.data(), static_cast<int>(buf.size()));
            if (n > 0) {
                got += n;
                ++reads;
            }
            if (got >= total && !received) {
                t1 = Clock::now();
                serverCpu = ThreadCpuSeconds() - serverCpu0;
                received = true;
            }
        };
        peer->OnSessionClosed = [&](TObject*, WORD) {
            if (!received) failed = received = true;
        };
        listener->SetAddr("127.0.0.1");
        listener->SetPort("0");
        listener->Listen();
        {
            std::lock_guard lock(mu);
            port = listener->GetBoundPort();
        }
        cv.notify_all();
        life.unlock();
        serverCpu0 = ThreadCpuSeconds();
        Pump(received);
        life.lock();
        peer.reset();
        listener.reset();
    });

    std::thread client([&] {
        {
            std::unique_lock lock(mu);
            cv.wait(lock, [&] { return !port.empty(); });
        }
        std::unique_lock life(lifecycle);
        auto s = std::make_unique<TWSocket>();
        life.unlock();
        const std::vector<char> data = Pattern(static_cast<std::size_t>(chunk));
        long long queued = 0;
        auto next = [&] {
            if (queued >= total) {
                sent = true;
                return;
            }
            const int n = static_cast<int>(std::min<long long>(chunk, total - queued));
            queued += n;
            s->Send(data.data(), n);
        };
        s->MultiThreaded = true;
        s->OnSessionConnected = [&](TObject*, WORD error) {
            if (error != 0) {
                failed = sent = true;
                return;
            }
            t0 = Clock::now();
            clientCpu0 = ThreadCpuSeconds();
        };
        s->OnDataSent = [&](TObject*, WORD) { next(); };
        s->SetAddr("127.0.0.1");
        s->SetPort(port);
        s->Connect();
        Pump(sent);
        s->Flush();
        clientCpu = ThreadCpuSeconds() - clientCpu0;
        while (!received) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        life.lock();
        s.reset();
    });

    const double cpu0 = ProcessCpuSeconds();
    client.join();
    server.join();
    Result r;
    r.seconds = std::chrono::duration<double>(t1 - t0).count();
    r.cpu = ProcessCpuSeconds() - cpu0;
    r.bytes = got;
    r.ok = !failed && got == total;
    r.senderCpu = clientCpu;
    r.reads = reads;
    r.receiverCpu = serverCpu;
    return r;
}

void Print(const char* name, const Result& r) {
    if (r.bytes == 0) return;
    const double mb = static_cast<double>(r.bytes) / 1e6;
    std::printf("%-9s %6.0f MB in %6.3f s = %6.0f MB/s, CPU %6.3f s (%4.2f ns/byte; sender %5.3f s, receiver %5.3f s, "
                "%.1f KB per read)%s\n",
                name, mb, r.seconds, mb / r.seconds, r.cpu, 1e9 * r.cpu / static_cast<double>(r.bytes), r.senderCpu,
                r.receiverCpu, r.reads ? static_cast<double>(r.bytes) / 1024.0 / static_cast<double>(r.reads) : 0.0,
                r.ok ? "" : "  FAILED");
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int chunk = (argc > 2 ? std::atoi(argv[2]) : 64) << 10;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const long long total = megabytes << 20;
    const std::string only = std::getenv("BENCH_ONLY") ? std::getenv("BENCH_ONLY") : "";

    std::vector<double> throughput, cpu;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        const Result plain = only == "socket" ? Result{} : PlainCopy(total, 1460);
        const Result wsock = only == "plain" ? Result{} : SocketCopy(total, chunk);
        if (only != "socket") Print("plain", plain);
        if (only != "plain") Print("TWSocket", wsock);
        if (!only.empty()) continue;
        ok = ok && plain.ok && wsock.ok;
        const double t = (static_cast<double>(wsock.bytes) / wsock.seconds) / (static_cast<double>(plain.bytes) / plain.seconds);
        const double c = (wsock.cpu / static_cast<double>(wsock.bytes)) / (plain.cpu / static_cast<double>(plain.bytes));
        throughput.push_back(t);
        cpu.push_back(c);
        std::printf("  round %d: TWSocket / plain throughput %.0f%%, CPU per byte %.2fx\n", round + 1, 100 * t, c);
    }
    if (!only.empty()) return 0;
    Print("plain64k", PlainCopy(total, 64 << 10));
    std::printf("median of %d rounds: TWSocket / plain throughput %.0f%%, CPU per byte %.2fx (goal: throughput >= 80%%)\n",
                rounds, 100 * Median(throughput), Median(cpu));
    return ok ? 0 : 1;
}
