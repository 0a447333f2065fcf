// SPDX-License-Identifier: Apache-2.0
#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

ScriptedPeer::ScriptedPeer(const std::string& bindAddr, std::uint16_t port) : addr_(bindAddr) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, bindAddr.c_str(), &sa.sin_addr);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listenFd_, 8) != 0)
        throw std::runtime_error("ScriptedPeer: cannot listen on " + bindAddr + ":" + std::to_string(port));
    socklen_t len = sizeof sa;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

ScriptedPeer::~ScriptedPeer() {
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (connFd_ >= 0) ::close(connFd_);
    if (listenFd_ >= 0) ::close(listenFd_);
}

ScriptedPeer& ScriptedPeer::Accept() { steps_.push_back({Step::kAccept, {}}); return *this; }
ScriptedPeer& ScriptedPeer::Send(std::string bytes) { steps_.push_back({Step::kSend, std::move(bytes)}); return *this; }
ScriptedPeer& ScriptedPeer::Delay(int ms) { steps_.push_back({Step::kDelay, {}, 0, ms}); return *this; }
ScriptedPeer& ScriptedPeer::ReadUntil(std::string marker) { steps_.push_back({Step::kReadUntil, std::move(marker)}); return *this; }
ScriptedPeer& ScriptedPeer::ReadCount(std::size_t total) { steps_.push_back({Step::kReadCount, {}, total}); return *this; }
ScriptedPeer& ScriptedPeer::ReadToEnd() { steps_.push_back({Step::kReadToEnd, {}}); return *this; }
ScriptedPeer& ScriptedPeer::ShutdownWrite() { steps_.push_back({Step::kShutdown, {}}); return *this; }
ScriptedPeer& ScriptedPeer::Close() { steps_.push_back({Step::kClose, {}}); return *this; }
ScriptedPeer& ScriptedPeer::Reset() { steps_.push_back({Step::kReset, {}}); return *this; }

ScriptedPeer& ScriptedPeer::SendInPieces(const std::string& bytes, std::size_t piece, int delayMs) {
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        if (i > 0 && delayMs > 0) Delay(delayMs);
        Send(bytes.substr(i, piece));
    }
    return *this;
}

void ScriptedPeer::Start() { thread_ = std::thread([this] { Run(); }); }

void ScriptedPeer::Join() {
    if (thread_.joinable()) thread_.join();
}

std::string ScriptedPeer::Received(std::size_t n) const {
    std::lock_guard lock(mu_);
    return n < received_.size() ? received_[n] : std::string();
}

std::size_t ScriptedPeer::Connections() const {
    std::lock_guard lock(mu_);
    return received_.size();
}

std::string ScriptedPeer::Failure() const {
    std::lock_guard lock(mu_);
    return failure_;
}

// Reads what is there (waiting at most ReadTimeoutMs); false at the end of the stream,
// on an error or on timeout.
bool ScriptedPeer::ReadMore(std::string& into) {
    pollfd p{connFd_, POLLIN, 0};
    if (::poll(&p, 1, ReadTimeoutMs) <= 0) return false;
    char buf[65536];
    const ssize_t n = ::recv(connFd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    std::lock_guard lock(mu_);
    into.append(buf, static_cast<size_t>(n));
    received_.back().append(buf, static_cast<size_t>(n));
    return true;
}

void ScriptedPeer::Run() {
    auto fail = [this](const std::string& why) {
        std::lock_guard lock(mu_);
        if (failure_.empty()) failure_ = why;
    };
    std::string got;  // bytes of the current connection not yet consumed by a read step
    for (const Step& s : steps_) {
        switch (s.kind) {
            case Step::kAccept: {
                if (connFd_ >= 0) ::close(connFd_);
                pollfd p{listenFd_, POLLIN, 0};
                connFd_ = ::poll(&p, 1, ReadTimeoutMs) > 0 ? ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (connFd_ < 0) return fail("accept timed out");
                std::lock_guard lock(mu_);
                received_.emplace_back();
                got.clear();
                break;
            }
            case Step::kSend: {
                std::size_t off = 0;
                while (off < s.bytes.size()) {
                    const ssize_t n = ::send(connFd_, s.bytes.data() + off, s.bytes.size() - off, MSG_NOSIGNAL);
                    if (n <= 0) return fail("send failed");
                    off += static_cast<size_t>(n);
                }
                break;
            }
            case Step::kDelay:
                std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
                break;
            case Step::kReadUntil: {
                std::size_t at;
                while ((at = got.find(s.bytes)) == std::string::npos)
                    if (!ReadMore(got)) return fail("no \"" + s.bytes + "\" before the end");
                got.erase(0, at + s.bytes.size());
                break;
            }
            case Step::kReadCount: {
                while (Received(received_.size() - 1).size() < s.count)
                    if (!ReadMore(got)) return fail("fewer bytes than " + std::to_string(s.count));
                break;
            }
            case Step::kReadToEnd:
                while (ReadMore(got)) {
                }
                break;
            case Step::kShutdown:
                ::shutdown(connFd_, SHUT_WR);
                break;
            case Step::kClose:
                ::close(connFd_);
                connFd_ = -1;
                break;
            case Step::kReset: {
                linger l{1, 0};
                ::setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                ::close(connFd_);
                connFd_ = -1;
                break;
            }
        }
    }
}
