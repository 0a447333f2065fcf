#include "platform/WinInetPool.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/WinInetHooks.h"

namespace wininet {

namespace {

using Clock = std::chrono::steady_clock;

struct Idle {
    int fd;
    Clock::time_point since;
};

struct Pool {
    std::mutex mu;
    std::condition_variable wake;  // a connection was filed: the sweeper may sleep less
    std::map<std::string, std::deque<Idle>> idle;  // per key, oldest first
    bool sweeping = false;

    // Removes what has idled too long; returns the sockets to close (outside the lock).
    std::vector<int> Expired(Clock::time_point now) {
        std::vector<int> doomed;
        for (auto it = idle.begin(); it != idle.end();) {
            auto& q = it->second;
            while (!q.empty() && now - q.front().since >= std::chrono::milliseconds(kIdleLimitMs)) {
                doomed.push_back(q.front().fd);
                q.pop_front();
            }
            it = q.empty() ? idle.erase(it) : std::next(it);
        }
        return doomed;
    }

    // The earliest moment a connection expires; max() when none waits.
    Clock::time_point NextExpiry() const {
        Clock::time_point next = Clock::time_point::max();
        for (const auto& [key, q] : idle)
            if (!q.empty()) next = std::min(next, q.front().since + std::chrono::milliseconds(kIdleLimitMs));
        return next;
    }

    void Sweep() {
        std::unique_lock lock(mu);
        for (;;) {
            const Clock::time_point next = NextExpiry();
            if (next == Clock::time_point::max())
                wake.wait(lock);
            else
                wake.wait_until(lock, next);
            std::vector<int> doomed = Expired(Clock::now());
            lock.unlock();
            for (int fd : doomed) ::close(fd);
            lock.lock();
        }
    }
};

Pool& ThePool() {
    static Pool* p = new Pool;  // never destroyed: its sweeper and other threads outlive main
    return *p;
}

// Whether an idle connection can carry a request: nothing is readable on it. A server
// that closed it (end of stream, reset) or sent bytes nobody asked for makes it readable.
bool LooksUsable(int fd) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

}  // namespace

std::string PoolKey(bool viaProxy, const std::string& host, WORD port) {
    std::string key = viaProxy ? "proxy " : "";
    for (char c : host) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key + ":" + std::to_string(port);
}

int TakeIdle(const std::string& key) {
    Pool& p = ThePool();
    std::vector<int> doomed;
    int fd = -1;
    {
        std::lock_guard lock(p.mu);
        doomed = p.Expired(Clock::now());
        auto it = p.idle.find(key);
        while (it != p.idle.end() && !it->second.empty() && fd < 0) {
            const int candidate = it->second.back().fd;
            it->second.pop_back();
            if (LooksUsable(candidate))
                fd = candidate;
            else
                doomed.push_back(candidate);
        }
        if (it != p.idle.end() && it->second.empty()) p.idle.erase(it);
    }
    for (int d : doomed) ::close(d);
    return fd;
}

void PutIdle(const std::string& key, int fd) {
    Pool& p = ThePool();
    std::vector<int> doomed;
    {
        std::lock_guard lock(p.mu);
        doomed = p.Expired(Clock::now());
        auto& q = p.idle[key];
        q.push_back({fd, Clock::now()});
        if (q.size() > kIdlePerServer) {
            doomed.push_back(q.front().fd);
            q.pop_front();
        }
        if (!p.sweeping) {
            try {
                std::thread([&p] { p.Sweep(); }).detach();
                p.sweeping = true;
            } catch (const std::system_error&) {
                // No sweeper: expired connections are then closed when the pool is next used.
            }
        }
    }
    p.wake.notify_all();
    for (int d : doomed) ::close(d);
}

}  // namespace wininet

int WinInetIdleConnectionCount() {
    wininet::Pool& p = wininet::ThePool();
    std::lock_guard lock(p.mu);
    std::size_t n = 0;
    for (const auto& [key, q] : p.idle) n += q.size();
    return static_cast<int>(n);
}

void WinInetDropIdleConnections() {
    wininet::Pool& p = wininet::ThePool();
    std::vector<int> doomed;
    {
        std::lock_guard lock(p.mu);
        for (const auto& [key, q] : p.idle)
            for (const wininet::Idle& i : q) doomed.push_back(i.fd);
        p.idle.clear();
    }
    for (int fd : doomed) ::close(fd);
}
