// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetPool.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "wininet/WinInetHooks.h"

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
    std::condition_variable wake;  // notified only when the idle limit changes
    std::map<std::string, std::deque<Idle>> idle;  // per key, oldest first
    // The servers found out of step on a connection carrying requests back to back.
    std::set<std::string> outOfStep;
    // The servers that answer a ranged request sent behind another with a whole 206.
    std::set<std::string> rangesHonoured;
    bool sweeping = false;
    int idleLimitMs = kIdleLimitMs;

    // Removes what has idled too long; returns the sockets to close (outside the lock).
    std::vector<KeptConnection> Expired(Clock::time_point now) {
        std::vector<KeptConnection> doomed;
        for (auto it = idle.begin(); it != idle.end();) {
            auto& q = it->second;
            while (!q.empty() && now - q.front().since >= std::chrono::milliseconds(idleLimitMs)) {
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
            if (!q.empty()) next = std::min(next, q.front().since + std::chrono::milliseconds(idleLimitMs));
        return next;
    }

    // The sweeper never sleeps past now + the idle limit, and a connection filed meanwhile
    // expires later than that: filing need not wake it (a wake per request would cost a
    // thread switch per request). Only a change of the limit does.
    void Sweep() {
        std::unique_lock lock(mu);
        for (;;) {
            const Clock::time_point next =
                std::min(NextExpiry(), Clock::now() + std::chrono::milliseconds(idleLimitMs));
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

namespace {

// Takes the newest connection under key that `fits`, closing those `fits` rejects as dead
// on the way (outside the lock).
template <class Fits>
KeptConnection Take(const std::string& key, Fits fits) {
    Pool& p = ThePool();
    std::vector<KeptConnection> doomed;
    KeptConnection taken;
    {
        std::lock_guard lock(p.mu);
        doomed = p.Expired(Clock::now());
        if (auto it = p.idle.find(key); it != p.idle.end()) {
            auto& q = it->second;
            for (auto i = q.size(); i-- > 0 && taken.fd < 0;) {
                const std::optional<bool> verdict = fits(q[i]);  // nullopt: not for this request
                if (!verdict) continue;
                if (*verdict)
                    taken = std::move(q[i].c);
                else
                    doomed.push_back(std::move(q[i].c));
                q.erase(q.begin() + static_cast<std::ptrdiff_t>(i));
            }
            if (q.empty()) p.idle.erase(it);
        }
    }
    CloseAll(doomed);
    return taken;
}

}  // namespace

KeptConnection TakeIdle(const std::string& key, int maxIdleMs) {
    const Clock::time_point since = Clock::now() - std::chrono::milliseconds(maxIdleMs);
    return Take(key, [since](const Idle& i) -> std::optional<bool> {
        if (!i.c.ahead.empty() || i.since < since) return std::nullopt;
        return LooksUsable(i.c);
    });
}

KeptConnection TakeAnswering(const std::string& key, const std::string& head) {
    return Take(key, [&head](const Idle& i) -> std::optional<bool> {
        if (i.c.ahead.empty() || i.c.ahead.front().head != head) return std::nullopt;
        return true;
    });
}

bool TwoAheadAllowed(const std::string& key) {
    Pool& p = ThePool();
    std::lock_guard lock(p.mu);
    return p.rangesHonoured.count(key) > 0 && p.outOfStep.count(key) == 0;
}

void NoteRangesHonoured(const std::string& key) {
    Pool& p = ThePool();
    std::lock_guard lock(p.mu);
    p.rangesHonoured.insert(key);
}

bool BackToBackAllowed(const std::string& key) {
    Pool& p = ThePool();
    std::lock_guard lock(p.mu);
    return p.outOfStep.count(key) == 0;
}

void TurnBackToBackOff(const std::string& key) {
    Pool& p = ThePool();
    std::lock_guard lock(p.mu);
    p.outOfStep.insert(key);
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

void WinInetSetIdleLimit(int ms) {
    wininet::Pool& p = wininet::ThePool();
    {
        std::lock_guard lock(p.mu);
        p.idleLimitMs = ms;
    }
    p.wake.notify_all();
}

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
        p.outOfStep.clear();
        p.rangesHonoured.clear();
    }
    wininet::CloseAll(doomed);
}
