// SPDX-License-Identifier: Apache-2.0
#include "support/TlsPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace {
constexpr int kReadTimeoutMs = 10000;
}

TTlsScriptedPeer::TTlsScriptedPeer(TTlsPeerScript script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listenFd_, 4);
    socklen_t len = sizeof sa;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TTlsScriptedPeer::~TTlsScriptedPeer() {
    Join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void TTlsScriptedPeer::Join() {
    if (thread_.joinable()) thread_.join();
}

std::string TTlsScriptedPeer::Request() const {
    std::lock_guard<std::mutex> lock(mu_);
    return request_;
}
std::string TTlsScriptedPeer::ServerName() const {
    std::lock_guard<std::mutex> lock(mu_);
    return serverName_;
}
bool TTlsScriptedPeer::ClientClosedTls() const {
    std::lock_guard<std::mutex> lock(mu_);
    return clientClosedTls_;
}
std::string TTlsScriptedPeer::Failure() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failure_;
}

bool TTlsScriptedPeer::ReadSome(ssl_st*, bio_st* in) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, kReadTimeoutMs) <= 0) return false;
    char buf[16384];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    BIO_write(in, buf, static_cast<int>(n));
    return true;
}

bool TTlsScriptedPeer::Flush(bio_st* out, std::size_t dropTail) {
    char* data = nullptr;
    long n = BIO_get_mem_data(out, &data);
    n -= std::min(static_cast<long>(dropTail), n);
    const std::size_t piece = script_.Piece > 0 ? script_.Piece : static_cast<std::size_t>(n);
    for (long at = 0; at < n;) {
        const std::size_t len = std::min(piece, static_cast<std::size_t>(n - at));
        if (::send(fd_, data + at, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len)) return false;
        at += static_cast<long>(len);
        if (script_.PieceDelayMs > 0 && at < n) std::this_thread::sleep_for(std::chrono::milliseconds(script_.PieceDelayMs));
    }
    (void)BIO_reset(out);
    return true;
}

void TTlsScriptedPeer::Run() {
    auto fail = [this](const std::string& why) {
        std::lock_guard<std::mutex> lock(mu_);
        failure_ = why;
    };
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, kReadTimeoutMs) <= 0) return fail("no connection");
    fd_ = ::accept(listenFd_, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (SSL_CTX_use_certificate_chain_file(ctx.get(), script_.Cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx.get(), script_.Key.c_str(), SSL_FILETYPE_PEM) != 1) {
        ::close(fd_);
        return fail("cannot load the certificate");
    }
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(ssl.get(), in, out);
    SSL_set_accept_state(ssl.get());

    std::string why;
    for (;;) {
        const int r = SSL_do_handshake(ssl.get());
        if (!Flush(out)) {
            why = "send failed in the handshake";
            break;
        }
        if (r == 1) break;
        if (SSL_get_error(ssl.get(), r) != SSL_ERROR_WANT_READ || !ReadSome(ssl.get(), in)) {
            why = "handshake failed";
            break;
        }
    }
    if (const char* name = SSL_get_servername(ssl.get(), TLSEXT_NAMETYPE_host_name)) {
        std::lock_guard<std::mutex> lock(mu_);
        serverName_ = name;
    }
    std::string request;
    while (why.empty() && request.find("\r\n\r\n") == std::string::npos) {
        char buf[4096];
        const int r = SSL_read(ssl.get(), buf, sizeof buf);
        if (r > 0) {
            request.append(buf, static_cast<std::size_t>(r));
        } else if (SSL_get_error(ssl.get(), r) != SSL_ERROR_WANT_READ || !ReadSome(ssl.get(), in)) {
            why = "no request";
        }
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        request_ = request;
    }
    if (why.empty()) {
        if (!script_.Response.empty() &&
            SSL_write(ssl.get(), script_.Response.data(), static_cast<int>(script_.Response.size())) <= 0)
            why = "write failed";
        if (why.empty() && script_.CloseNotify) SSL_shutdown(ssl.get());
        if (why.empty() && !Flush(out, script_.DropTail)) why = "send failed";
    }
    ERR_clear_error();
    if (why.empty() && script_.AwaitClientClose) {
        // Only the client's close ends the connection: its TLS close, or its end of the stream.
        for (;;) {
            char buf[4096];
            const int r = SSL_read(ssl.get(), buf, sizeof buf);
            if (r > 0) continue;
            if (SSL_get_error(ssl.get(), r) == SSL_ERROR_ZERO_RETURN) {
                std::lock_guard<std::mutex> lock(mu_);
                clientClosedTls_ = true;
                break;
            }
            if (SSL_get_error(ssl.get(), r) != SSL_ERROR_WANT_READ || !ReadSome(ssl.get(), in)) break;
        }
        ERR_clear_error();
    }
    // The end of the stream, then whatever the client still sends, so the close is no reset.
    ::shutdown(fd_, SHUT_WR);
    for (;;) {
        pollfd q{fd_, POLLIN, 0};
        char buf[4096];
        if (::poll(&q, 1, kReadTimeoutMs) <= 0 || ::recv(fd_, buf, sizeof buf, 0) <= 0) break;
    }
    ::close(fd_);
    if (!why.empty()) fail(why);
}
