// SPDX-License-Identifier: Apache-2.0
#pragma once
// Helpers of the tests of the Winsock stand-in: the module started with the entry points
// the tests call, loopback addresses, a window that records notifications, and a pump.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <utility>
#include <vector>

#include "platform/Messages.h"
#include "winsock/Winsock.h"
#include "support/Loopback.h"

namespace winsock_test {

// The module, started, with the entry points the tests use.
struct Ws {
    HMODULE module = LoadLibrary("WSOCK32.DLL");
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(GetProcAddress(module, name));
    }
    TWSAStartupProc startup = Get<TWSAStartupProc>("WSAStartup");
    TWSACleanupProc cleanup = Get<TWSACleanupProc>("WSACleanup");
    TWSAGetLastErrorProc lastError = Get<TWSAGetLastErrorProc>("WSAGetLastError");
    TSocketProc socket = Get<TSocketProc>("socket");
    TCloseSocketProc closesocket = Get<TCloseSocketProc>("closesocket");
    TConnectProc connect = Get<TConnectProc>("connect");
    TSendProc send = Get<TSendProc>("send");
    TRecvProc recv = Get<TRecvProc>("recv");
    TRecvFromProc recvfrom = Get<TRecvFromProc>("recvfrom");
    TBindProc bind = Get<TBindProc>("bind");
    TGetSockNameProc getsockname = Get<TGetSockNameProc>("getsockname");
    TSetSockOptProc setsockopt = Get<TSetSockOptProc>("setsockopt");
    TIoctlSocketProc ioctlsocket = Get<TIoctlSocketProc>("ioctlsocket");
    TWSAAsyncSelectProc asyncSelect = Get<TWSAAsyncSelectProc>("WSAAsyncSelect");
    TWSAAsyncGetHostByNameProc getHostByName = Get<TWSAAsyncGetHostByNameProc>("WSAAsyncGetHostByName");
    TWSAData data{};
    Ws() { EXPECT_EQ(startup(0x0101, &data), 0); }
    ~Ws() {
        cleanup();
        FreeLibrary(module);
    }
};

inline TSockAddrIn Loopback(std::uint16_t port) {
    TSockAddrIn a{};
    a.sin_family = WS_AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.S_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A window that records (event, error) of the notifications it receives.
struct Recorder {
    std::vector<std::pair<int, int>> got;
    HWND wnd = AllocateHWnd([this](TMessage& m) { got.emplace_back(LoWord(m.LParam), HiWord(m.LParam)); });
    ~Recorder() { DeallocateHWnd(wnd); }
    int Count(int event) const {
        int n = 0;
        for (auto [e, err] : got) n += e == event;
        return n;
    }
};

template <class Pred>
bool PumpUntil(Pred pred, int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        WaitMessageFor(20);
        ProcessMessages();
    }
    return true;
}

// Lets notifications that are on their way arrive (for checks that one does not).
inline void Settle() { PumpUntil([] { return false; }, 50); }

// A connected client socket with notifications going to wnd.
inline SOCKET ConnectedTo(Ws& ws, ScriptedPeer& peer, HWND wnd, const std::vector<std::pair<int, int>>& got) {
    const SOCKET s = ws.socket(WS_AF_INET, WS_SOCK_STREAM, 0);
    EXPECT_EQ(ws.asyncSelect(s, wnd, WM_USER + 1, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
    const TSockAddrIn a = Loopback(peer.Port());
    EXPECT_EQ(ws.connect(s, reinterpret_cast<const TSockAddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEWOULDBLOCK);
    EXPECT_TRUE(PumpUntil([&] {
        for (auto [e, err] : got)
            if (e == FD_CONNECT) return true;
        return false;
    }));
    return s;
}

inline SOCKET ConnectedTo(Ws& ws, ScriptedPeer& peer, Recorder& rec) { return ConnectedTo(ws, peer, rec.wnd, rec.got); }

}  // namespace winsock_test
