// SPDX-License-Identifier: Apache-2.0
#pragma once
// A server or proxy on loopback for the fuzz targets that drive the event-driven socket
// layer (or a client built on it) on the calling thread. It listens once for the whole
// run; its steps run on the calling thread and pump that thread's messages while they
// wait, so the client under test runs in between and everything it sends is read.
//
// Writes are paced: after one write the peer goes on only when the client has read the
// bytes (or no message came for IdleMs), so an input gives the client the same reads on
// every run and a crash reproduces.
#include <cstdint>
#include <functional>
#include <string>

#include "socket/WSocketCore.h"

class TFuzzPeer {
public:
    static constexpr int IdleMs = 20;

    TFuzzPeer();  // 127.0.0.1, a free port; aborts the process when it cannot listen
    ~TFuzzPeer();
    TFuzzPeer(const TFuzzPeer&) = delete;
    TFuzzPeer& operator=(const TFuzzPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    bool Connected() const { return connFd_ >= 0; }
    // What the client sent on the current (or last) connection.
    const std::string& Received() const { return received_; }

    // Pumps until a connection comes, then takes it (the previous one is closed first).
    // False when stop() became true or limitMs passed before.
    bool Accept(int limitMs, const std::function<bool()>& stop);
    // Pumps until done() holds; false when limitMs passed first.
    bool PumpUntil(const std::function<bool()>& done, int limitMs);
    // One write, then pumps until unread() (bytes the client has not read yet) is 0 or
    // nothing happens for IdleMs. Nothing when the connection is gone.
    void Send(const std::string& bytes, const std::function<int()>& unread);
    // Reads what the client sent, then closes: the client sees an orderly end.
    void Close();
    // Abortive close: the client sees a reset.
    void Reset();
    // Takes and closes the connections waiting in the queue (a client that connects more
    // often than a script has connections).
    void CloseWaiting();

private:
    void Drain();
    bool WaitWritable(int limitMs);

    int listenFd_ = -1;
    int connFd_ = -1;
    std::uint16_t port_ = 0;
    std::string received_;
};

// Bytes waiting at the network for the socket, its read-ahead included; 0 without a handle.
// Leaves the socket's own state alone (unlike RcvdCount, which reports failures).
int NetworkUnread(TCustomWSocket& socket);
