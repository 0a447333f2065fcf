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
    KeptConnection c;
    Clock::time_point since;
};

// Closes connections outside the pool's lock.
void CloseAll(std::vector<KeptConnection>& doomed) {
    for (KeptConnection& c : doomed) {
        c.tls.reset();
        ::close(c.fd);
    }
    doomed.clear();
}

struct Pool {
    std::mutex mu;
    std::condition_variable wake;  // never notified: the sweeper only sleeps
    std::map<std::string, std::deque<Idle>> idle;  // per key, oldest first
    bool sweeping = false;

    // Removes what has idled too long; returns the sockets to close (outside the lock).
    std::vector<KeptConnection> Expired(Clock::time_point now) {
        std::vector<KeptConnection> doomed;
        for (auto it = idle.begin(); it != idle.end();) {
            auto& q = it->second;
            while (!q.empty() && now - q.front().since >= std::chrono::milliseconds(kIdleLimitMs)) {
                doomed.push_back(std::move(q.front().c));
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

    // The sweeper never sleeps past now + kIdleLimitMs, and a connection filed meanwhile
    // expires later than that: filing need not wake it (a wake per request would cost a
    // thread switch per request).
    void Sweep() {
        std::unique_lock lock(mu);
        for (;;) {
            const Clock::time_point next =
                std::min(NextExpiry(), Clock::now() + std::chrono::milliseconds(kIdleLimitMs));
            wake.wait_until(lock, next);
            std::vector<KeptConnection> doomed = Expired(Clock::now());
            lock.unlock();
            CloseAll(doomed);
            lock.lock();
        }
    }
};

Pool& ThePool() {
    static Pool* p = new Pool;  // never destroyed: its sweeper and other threads outlive main
    return *p;
}

// Whether an idle connection can carry a request: nothing is readable on it. A server
// that closed it (end of stream, reset) or sent bytes nobody asked for makes it readable
// (or left them inside its TLS state).
bool LooksUsable(const KeptConnection& c) {
    if (c.tls && !c.tls->Quiet()) return false;
    pollfd p{c.fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

}  // namespace

namespace {

std::string Lower(const std::string& host, WORD port) {
    std::string s;
    for (char c : host) s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s + ":" + std::to_string(port);
}

}  // namespace

std::string PoolKey(bool secure, const std::string& host, WORD port, const std::string& proxyHost, WORD proxyPort) {
    const std::string scheme = secure ? "https " : "http ";
    if (proxyHost.empty()) return scheme + Lower(host, port);
    if (!secure) return scheme + "proxy " + Lower(proxyHost, proxyPort);
    return scheme + Lower(host, port) + " via " + Lower(proxyHost, proxyPort);
}

KeptConnection TakeIdle(const std::string& key) {
    Pool& p = ThePool();
    std::vector<KeptConnection> doomed;
    KeptConnection taken;
    {
        std::lock_guard lock(p.mu);
        doomed = p.Expired(Clock::now());
        auto it = p.idle.find(key);
        while (it != p.idle.end() && !it->second.empty() && taken.fd < 0) {
            KeptConnection candidate = std::move(it->second.back().c);
            it->second.pop_back();
            if (LooksUsable(candidate))
                taken = std::move(candidate);
            else
                doomed.push_back(std::move(candidate));
        }
        if (it != p.idle.end() && it->second.empty()) p.idle.erase(it);
    }
    CloseAll(doomed);
    return taken;
}

void PutIdle(const std::string& key, KeptConnection connection) {
    Pool& p = ThePool();
    std::vector<KeptConnection> doomed;
    {
        std::lock_guard lock(p.mu);
        doomed = p.Expired(Clock::now());
        auto& q = p.idle[key];
        q.push_back({std::move(connection), Clock::now()});
        if (q.size() > kIdlePerServer) {
            doomed.push_back(std::move(q.front().c));
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
    CloseAll(doomed);
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
    std::vector<wininet::KeptConnection> doomed;
    {
        std::lock_guard lock(p.mu);
        for (auto& [key, q] : p.idle)
            for (wininet::Idle& i : q) doomed.push_back(std::move(i.c));
        p.idle.clear();
    }
    wininet::CloseAll(doomed);
}
