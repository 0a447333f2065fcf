// SPDX-License-Identifier: Apache-2.0
#include "RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <strings.h>
#include <thread>
#include <utility>

using Clock = std::chrono::steady_clock;

long long RawResponse::ContentLength() const
{
    std::size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        static const char kName[] = "content-length:";
        if (strncasecmp(head.c_str() + pos, kName, sizeof kName - 1) == 0)
            return std::stoll(head.substr(pos + sizeof kName - 1));
    }
    return -1;
}

PendingExchange::PendingExchange(int port, const std::string& request)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd_ >= 0)
            close(fd_);
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    // Each write goes out as it is, so a request sent in pieces arrives in pieces.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sent_ = Clock::now();
    Send(request);
}

void PendingExchange::Send(const std::string& bytes)
{
    send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

PendingExchange::~PendingExchange()
{
    if (fd_ >= 0)
        close(fd_);
}

PendingExchange::PendingExchange(PendingExchange&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), sent_(other.sent_), all_(std::move(other.all_)), r_(std::move(other.r_))
{
}

bool PendingExchange::ReadSome()
{
    char buf[8192];
    const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
        if (all_.empty())
            r_.firstByteAfter = Clock::now() - sent_;
        all_.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    r_.closedByPeer = n == 0;
    r_.resetByPeer = n < 0 && errno == ECONNRESET;
    return false;
}

RawResponse PendingExchange::Result()
{
    close(fd_);
    fd_ = -1;
    const auto end = all_.find("\r\n\r\n");
    r_.head = all_.substr(0, end == std::string::npos ? all_.size() : end + 4);
    r_.body = end == std::string::npos ? std::string() : all_.substr(end + 4);
    return std::move(r_);
}

RawResponse PendingExchange::Finish(int idleMs)
{
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, idleMs) <= 0 || !ReadSome())
            break;
    }
    return Result();
}

RawResponse RawExchange(int port, const std::string& request, int idleMs)
{
    return PendingExchange(port, request).Finish(idleMs);
}

std::vector<RawResponse> FinishAll(std::vector<PendingExchange>& exchanges, int idleMs)
{
    std::vector<RawResponse> results(exchanges.size());
    std::vector<std::size_t> open(exchanges.size());
    for (std::size_t i = 0; i < open.size(); ++i)
        open[i] = i;
    while (!open.empty()) {
        std::vector<pollfd> fds;
        for (std::size_t i : open)
            fds.push_back({exchanges[i].fd_, POLLIN, 0});
        if (poll(fds.data(), fds.size(), idleMs) <= 0)
            break;  // idle: what is still open ends as it is
        std::vector<std::size_t> still;
        for (std::size_t k = 0; k < open.size(); ++k) {
            if (!fds[k].revents || exchanges[open[k]].ReadSome())
                still.push_back(open[k]);
            else
                results[open[k]] = exchanges[open[k]].Result();
        }
        open = std::move(still);
    }
    for (std::size_t i : open)
        results[i] = exchanges[i].Result();
    return results;
}

std::vector<RawResponse> RawConversation(int port, const std::string& bytes, std::size_t piece, int idleMs)
{
    if (piece == 0)
        piece = bytes.size();
    PendingExchange exchange(port, bytes.substr(0, piece));
    for (std::size_t at = piece; at < bytes.size(); at += piece) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        exchange.Send(bytes.substr(at, piece));
    }
    const RawResponse all = exchange.Finish(idleMs);
    std::vector<RawResponse> answers = SplitResponses(all.head + all.body);
    if (!answers.empty()) {
        answers.back().closedByPeer = all.closedByPeer;
        answers.back().resetByPeer = all.resetByPeer;
    }
    return answers;
}

std::vector<RawResponse> SplitResponses(const std::string& bytes)
{
    std::vector<RawResponse> answers;
    std::size_t at = 0;
    while (at < bytes.size()) {
        RawResponse& r = answers.emplace_back();
        const std::size_t end = bytes.find("\r\n\r\n", at);
        if (end == std::string::npos) {
            r.head = bytes.substr(at);
            break;
        }
        r.head = bytes.substr(at, end + 4 - at);
        const long long length = r.ContentLength();
        const std::size_t bodyAt = end + 4;
        if (length < 0 || bodyAt + static_cast<std::size_t>(length) > bytes.size()) {
            r.body = bytes.substr(bodyAt);
            break;
        }
        r.body = bytes.substr(bodyAt, static_cast<std::size_t>(length));
        at = bodyAt + static_cast<std::size_t>(length);
    }
    return answers;
}

std::string BackToBackGets(const std::vector<std::string>& paths)
{
    std::string requests;
    for (std::size_t i = 0; i < paths.size(); ++i)
        requests += "GET " + paths[i] + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                    (i + 1 == paths.size() ? "Connection: close\r\n\r\n" : "\r\n");
    return requests;
}
