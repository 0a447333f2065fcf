// SPDX-License-Identifier: Apache-2.0
#pragma once
// TLS over a connected socket of the WinInet stand-in (private to it), for the thread that
// uses the request. OpenSSL works on memory buffers; the encrypted bytes move through
// SendAll and ReceiveSome (WinInetSocket.h), so every wait is a poll() under the caller's
// limit, never raises SIGPIPE, and a shutdown of the socket by SocketSlot::Abort ends it at
// once (like an end of stream; the caller then tells the abort by its closed handle).
// The context, SNI and verification are those of tls/TlsClient.h.
//
// Sessions: the last resumable session a server gave is kept per "host:port" for the whole
// process (the newest kMaxServers servers) and offered by the next handshake with that
// server, as long as the TLS settings have not changed since (a session made with
// verification off is never resumed once it is on).
#include <openssl/ssl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace wininet {

class TlsStream {
public:
    static constexpr std::size_t kMaxServers = 64;

    TlsStream() = default;
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Runs the handshake over fd (connected; not owned) with the server named host (a name
    // or an address, "[v6]" allowed) at port. 0, or TIMEOUT / CONNECTION_RESET /
    // CONNECTION_ABORTED from the socket, or a TLS code of TlsFailureInternetCode (12045,
    // 12038, 12037, 12157) with FailureText() naming the server.
    DWORD Handshake(int fd, const std::string& host, WORD port, DWORD timeoutMs);
    // Encrypts and sends every byte. Errors: as SendAll, or 12157.
    DWORD Send(const char* data, std::size_t size, DWORD timeoutMs);
    // As ReceiveSome, in plain bytes: received = 0 with result 0 at the end of the stream,
    // which Truncated() says came without a TLS close. A broken record: 12157.
    DWORD Receive(char* buffer, std::size_t size, DWORD timeoutMs, std::size_t& received);

    bool Truncated() const { return truncated_; }
    // Nothing received is waiting inside the TLS state (a kept connection must be quiet).
    bool Quiet() const;
    // The handshake took up a kept session (no certificate exchange).
    bool Resumed() const;
    const std::string& FailureText() const { return failure_; }
    const std::string& Host() const { return host_; }

private:
    DWORD Flush(DWORD timeoutMs);  // sends what OpenSSL has written
    DWORD Fill(DWORD timeoutMs);   // waits for bytes from the server and hands them over
    void KeepSession();

    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;   // owned by ssl_
    BIO* out_ = nullptr;  // owned by ssl_
    std::shared_ptr<SSL_CTX> context_;
    int fd_ = -1;
    std::string host_, key_;
    bool eof_ = false;
    bool truncated_ = false;
    const SSL_SESSION* kept_ = nullptr;  // the session filed last (compared, never used)
    std::string failure_;
    std::vector<char> buffer_;  // encrypted bytes on their way from the socket
};

}  // namespace wininet
