// SPDX-License-Identifier: Apache-2.0
#pragma once
// Helpers of the socket tests: a bounded pump, a socket that exposes its internals, and
// an event recorder.
#include <chrono>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "socket/WSocket.h"
#include "support/Loopback.h"

// Dispatches messages until pred holds; false when limitMs passed first. Blocks between
// messages instead of spinning.
template <class Pred>
bool PumpUntil(Pred pred, int limitMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        WaitMessageFor(static_cast<int>(left.count() < 50 ? left.count() : 50));
        ProcessMessages();
    }
    return true;
}

// Handles what is queued now (and what those messages cause) without waiting.
inline void PumpPending() {
    for (int i = 0; i < 5; ++i) ProcessMessages();
}

class TTestSocket : public TWSocket {
public:
    using TWSocket::TWSocket;
    using TCustomWSocket::AddrAssigned;
    using TCustomWSocket::AllSent;
    using TCustomWSocket::AppendToSendQueue;
    using TCustomWSocket::NotifyWindow;
    using TCustomWSocket::Paused;
    using TCustomWSocket::PortAssigned;
    using TCustomWSocket::SendQueue;
    using TCustomWSocket::SocketHandle;
    using TCustomWSocket::TryToSend;
};

const char* StateName(TSocketState s);

// Records the events of a socket as short texts ("state:connected", "connected:0", ...).
// Received data is appended to Data (read with ReceiveText unless ReadSize is set).
struct TEventLog {
    std::vector<std::string> Events;
    std::string Data;
    int ReadSize = 0;  // > 0: read at most this many bytes per OnDataAvailable
    int DataSentCount = 0;
    long long BytesSent = 0;
    bool Closed = false;

    void Attach(TCustomWSocket& s);
    bool Has(const std::string& e) const;
    // The events without "data" and "senddata" entries (their number depends on timing).
    std::vector<std::string> Skeleton() const;
};

// The 16-byte address record of 127.0.0.1:port.
TSockAddrIn LoopbackAddr(std::uint16_t port);
