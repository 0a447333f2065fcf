// SPDX-License-Identifier: Apache-2.0
#pragma once
// A scripted TLS server for one connection on loopback, run on its own thread: handshake
// with the given certificate, read the request up to its blank line, answer with Response,
// then close with or without a TLS close (close_notify). Every encrypted byte it sends
// (handshake included) goes out in writes of Piece bytes (0: as OpenSSL produced them)
// with PieceDelayMs between writes, so the client's records arrive a byte at a time or in
// one burst; DropTail cuts the answer's last record short. A read gives up after 10 s, so a
// faulty client never hangs a test.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct TTlsPeerScript {
    std::string Cert, Key;  // PEM files
    std::string Response;   // plain bytes
    std::size_t Piece = 0;
    int PieceDelayMs = 0;
    bool CloseNotify = true;
    std::size_t DropTail = 0;  // the last encrypted bytes of the answer are never sent
    // After its TLS close the peer keeps the connection open until the client's TLS close
    // or the client's end of the stream (as some servers do), instead of ending it first.
    bool AwaitClientClose = false;
};

class TTlsScriptedPeer {
public:
    explicit TTlsScriptedPeer(TTlsPeerScript script);
    ~TTlsScriptedPeer();
    std::uint16_t Port() const { return port_; }
    void Join();
    // After Join: the plain request, the name the client sent with SNI ("" for none), and
    // why the script stopped early ("" when it ran through).
    std::string Request() const;
    std::string ServerName() const;
    std::string Failure() const;
    // After Join: whether the client's TLS close arrived.
    bool ClientClosedTls() const;

private:
    void Run();
    bool ReadSome(struct ssl_st* ssl, struct bio_st* in);
    bool Flush(struct bio_st* out, std::size_t dropTail = 0);

    TTlsPeerScript script_;
    int listenFd_ = -1;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mu_;
    std::string request_, serverName_, failure_;
    bool clientClosedTls_ = false;
};
