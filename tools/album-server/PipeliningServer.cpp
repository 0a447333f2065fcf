// SPDX-License-Identifier: Apache-2.0
#include "PipeliningServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

struct Timeouts {
    microseconds read;
    microseconds write;
    microseconds keepAlive;
};

microseconds Duration(time_t sec, time_t usec)
{
    return std::chrono::seconds(sec) + microseconds(usec);
}

// The events of `fd` once one of `events` (or a hang-up or error) is there; 0 when none
// came within `timeout` or poll failed.
short WaitFor(int fd, short events, microseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (n > 0)
            return p.revents;
        if (n == 0 || errno != EINTR)
            return 0;
    }
}

// Numeric host and port, as the library writes them into a request (Connections.cpp
// finds a request's descriptor by them).
void Describe(int fd, bool peer, std::string& ip, int& port)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    auto* any = reinterpret_cast<sockaddr*>(&addr);
    if ((peer ? getpeername(fd, any, &len) : getsockname(fd, any, &len)) != 0)
        return;
    char host[NI_MAXHOST];
    if (getnameinfo(any, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0)
        ip = host;
    if (addr.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
    else if (addr.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
}

// One connection's stream, kept for all its requests, so what was read ahead belongs to
// the next request instead of being dropped.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(socket_t sock, Timeouts timeouts) : sock_(sock), timeouts_(timeouts) {}

    // Bytes the peer sent are already taken off the socket, unread.
    virtual bool HasBuffered() const = 0;

    bool is_readable() const override { return HasBuffered() || WaitFor(sock_, POLLIN, timeouts_.read) != 0; }
    // A peer that only stopped sending still reads: it may be waiting for the answers to
    // requests it sent before that.
    bool is_writable() const override
    {
        const short events = WaitFor(sock_, POLLOUT, timeouts_.write);
        return (events & POLLOUT) && !(events & (POLLERR | POLLHUP));
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { Describe(sock_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Describe(sock_, false, ip, port); }
    socket_t socket() const override { return sock_; }

    // Whether the next request has begun within the keep-alive time: at once when its
    // bytes came with the one before. A hang-up counts too; reading it ends the loop.
    bool NextRequestBegun(const std::atomic<socket_t>& listener) const
    {
        if (HasBuffered())
            return true;
        // In slices, so an idle connection also ends soon after the server stops.
        const auto deadline = Clock::now() + timeouts_.keepAlive;
        while (listener != INVALID_SOCKET) {
            const auto left = std::chrono::duration_cast<microseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            if (WaitFor(sock_, POLLIN, std::min(left, microseconds(100000))) != 0)
                return true;
        }
        return false;
    }

protected:
    const socket_t sock_;
    const Timeouts timeouts_;
};

// The socket stays blocking, as the library leaves it; every call here is non-blocking
// and waits with poll, so each keeps to its timeout.
class PlainStream final : public ConnectionStream {
public:
    using ConnectionStream::ConnectionStream;

    bool HasBuffered() const override { return at_ < end_; }

    ssize_t read(char* ptr, size_t size) override
    {
        if (!HasBuffered()) {
            const ssize_t n = Fill();
            if (n <= 0)
                return n;
        }
        const size_t n = std::min(size, end_ - at_);
        std::memcpy(ptr, buffer_ + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        for (size_t done = 0; done < size;) {
            const ssize_t n = send(sock_, ptr + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
                     !(WaitFor(sock_, POLLOUT, timeouts_.write) & POLLOUT))
                return -1;
        }
        return static_cast<ssize_t>(size);
    }

private:
    // Takes what the socket has into the (empty) buffer, waiting up to the read timeout.
    ssize_t Fill()
    {
        for (;;) {
            const ssize_t n = recv(sock_, buffer_, sizeof buffer_, MSG_DONTWAIT);
            if (n >= 0) {
                at_ = 0;
                end_ = static_cast<size_t>(n);
                return n;
            }
            if (errno == EINTR)
                continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || WaitFor(sock_, POLLIN, timeouts_.read) == 0)
                return -1;
        }
    }

    char buffer_[16384];
    size_t at_ = 0;
    size_t end_ = 0;
};

// One SSL object for the whole connection: OpenSSL may hold decrypted bytes of the next
// request that the socket no longer shows. The socket is non-blocking throughout.
class TlsStream final : public ConnectionStream {
public:
    TlsStream(socket_t sock, Timeouts timeouts, SSL* ssl) : ConnectionStream(sock, timeouts), ssl_(ssl) {}

    bool HasBuffered() const override { return SSL_has_pending(ssl_) == 1; }

    ssize_t read(char* ptr, size_t size) override
    {
        const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
        return Drive([&] { return SSL_read(ssl_, ptr, want); }, true);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        // Without partial writes, SSL_write takes all of it or nothing.
        const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
        return Drive([&] { return SSL_write(ssl_, ptr, want); }, false);
    }

    // Runs one OpenSSL call until it gets on, waiting for what it needs within the
    // timeouts: its result when positive, 0 for the peer's TLS close when closeIsEnd,
    // else -1.
    template <class Call>
    int Drive(Call call, bool closeIsEnd) const
    {
        for (;;) {
            ERR_clear_error();
            const int n = call();
            if (n > 0)
                return n;
            const int error = SSL_get_error(ssl_, n);
            if (error == SSL_ERROR_ZERO_RETURN && closeIsEnd)
                return 0;
            if (!Await(error))
                return -1;
        }
    }

    // Waits for what OpenSSL needs to go on; false when it failed for good or in time.
    bool Await(int error) const
    {
        if (error == SSL_ERROR_WANT_READ)
            return WaitFor(sock_, POLLIN, timeouts_.read) != 0;
        if (error == SSL_ERROR_WANT_WRITE)
            return WaitFor(sock_, POLLOUT, timeouts_.write) != 0;
        return false;
    }

private:
    SSL* const ssl_;
};

using ProcessRequest = std::function<bool(httplib::Stream&, bool closeConnection, bool& connectionClosed)>;

// The library's loop over a connection's requests, on the one stream.
bool ServeRequests(ConnectionStream& strm, const std::atomic<socket_t>& listener, size_t maxCount,
                   const ProcessRequest& process)
{
    bool ok = false;
    for (size_t left = maxCount; left > 0 && listener != INVALID_SOCKET && strm.NextRequestBegun(listener); --left) {
        bool closed = false;
        ok = process(strm, left == 1, closed);
        if (!ok || closed)
            break;
    }
    return ok;
}

// Closing a socket whose peer sent bytes nobody read makes the kernel reset the
// connection, and the reset can destroy answers the client has not read yet. So when
// the client is still sending (requests past the keep-alive count, or after its own
// "Connection: close"), the socket first stops sending and drops what comes, briefly.
void CloseConnection(socket_t sock)
{
    if (WaitFor(sock, POLLIN, microseconds(0)) & POLLIN) {
        shutdown(sock, SHUT_WR);
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        char drop[4096];
        for (;;) {
            const ssize_t n = recv(sock, drop, sizeof drop, MSG_DONTWAIT);
            const auto left = std::chrono::duration_cast<microseconds>(deadline - Clock::now());
            if (n == 0 || left.count() <= 0)
                break;
            if (n < 0 && errno != EINTR &&
                ((errno != EAGAIN && errno != EWOULDBLOCK) || WaitFor(sock, POLLIN, left) == 0))
                break;
        }
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
}

}  // namespace

bool PipeliningServer::process_and_close_socket(socket_t sock)
{
    PlainStream strm(sock, {Duration(read_timeout_sec_, read_timeout_usec_),
                            Duration(write_timeout_sec_, write_timeout_usec_), Duration(keep_alive_timeout_sec_, 0)});
    const bool ok = ServeRequests(strm, svr_sock_, keep_alive_max_count_,
                                  [this](httplib::Stream& s, bool closeConnection, bool& connectionClosed) {
                                      return process_request(s, closeConnection, connectionClosed, nullptr);
                                  });
    CloseConnection(sock);
    return ok;
}

bool PipeliningTlsServer::process_and_close_socket(socket_t sock)
{
    fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
    // SSL_new on a shared context is thread-safe in OpenSSL 3.
    SSL* ssl = SSL_new(ssl_context());
    bool ok = false;
    if (ssl && SSL_set_fd(ssl, sock) == 1) {
        TlsStream strm(sock,
                       {Duration(read_timeout_sec_, read_timeout_usec_),
                        Duration(write_timeout_sec_, write_timeout_usec_), Duration(keep_alive_timeout_sec_, 0)},
                       ssl);
        // The handshake, each wait within the read timeout, as the library does.
        if (strm.Drive([ssl] { return SSL_accept(ssl); }, false) > 0) {
            ok = ServeRequests(strm, svr_sock_, keep_alive_max_count_,
                               [this, ssl](httplib::Stream& s, bool closeConnection, bool& connectionClosed) {
                                   return process_request(s, closeConnection, connectionClosed,
                                                          [ssl](httplib::Request& req) { req.ssl = ssl; });
                               });
            // As the library: a close_notify only after a connection that went well.
            if (ok) {
                ERR_clear_error();
                SSL_shutdown(ssl);
            }
        }
    }
    SSL_free(ssl);
    CloseConnection(sock);
    return ok;
}
