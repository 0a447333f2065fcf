// SPDX-License-Identifier: Apache-2.0
// The Winsock stand-in through its own entry points: handles, errors, options and the
// notification rules the socket layer relies on.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "winsock/WinsockHooks.h"
#include "WinsockTestSupport.h"

using namespace winsock_test;

TEST(Winsock, ModuleEntryPointsAndStartRule) {
    EXPECT_EQ(LoadLibrary("other.dll"), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    const HMODULE m = LoadLibrary("wsock32.dll");
    ASSERT_NE(m, 0u);
    EXPECT_EQ(GetProcAddress(m, "NoSuch"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    for (const char* name : {"WSAStartup", "WSACleanup", "WSASetLastError", "WSAGetLastError", "WSACancelAsyncRequest",
                             "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSAAsyncSelect", "getservbyname",
                             "getprotobyname", "gethostbyname", "socket", "shutdown", "setsockopt", "sendto", "send",
                             "ntohs", "listen", "ioctlsocket", "inet_ntoa", "inet_addr", "htons", "getsockname",
                             "getpeername", "connect", "closesocket", "bind", "accept", "recv", "recvfrom"})
        EXPECT_NE(GetProcAddress(m, name), nullptr) << name;
    auto socketProc = reinterpret_cast<TSocketProc>(GetProcAddress(m, "socket"));
    EXPECT_EQ(socketProc(WS_AF_INET, WS_SOCK_STREAM, 0), INVALID_SOCKET);  // no WSAStartup yet
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSANOTINITIALISED));
    WinsockSetLoadFailure(5);
    EXPECT_EQ(LoadLibrary("wsock32.dll"), 0u);
    EXPECT_EQ(GetLastError(), 5u);
    WinsockSetLoadFailure(0);
    EXPECT_TRUE(FreeLibrary(m));
}

TEST(Winsock, HandlesAreNeverReusedAndErrorsAreThreadLocal) {
    Ws ws;
    const SOCKET a = ws.socket(WS_AF_INET, WS_SOCK_STREAM, 0);
    ASSERT_NE(a, INVALID_SOCKET);
    ASSERT_EQ(ws.closesocket(a), 0);
    const SOCKET b = ws.socket(WS_AF_INET, WS_SOCK_STREAM, 0);  // the system reuses the descriptor
    EXPECT_NE(a, b);
    EXPECT_EQ(ws.closesocket(a), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAENOTSOCK);
    std::thread([&] { EXPECT_EQ(ws.lastError(), 0); }).join();
    EXPECT_EQ(ws.socket(WS_AF_INET, 3, 0), INVALID_SOCKET);
    EXPECT_EQ(ws.lastError(), WSAESOCKTNOSUPPORT);

    const int on = 1;
    EXPECT_EQ(ws.setsockopt(b, WS_SOL_SOCKET, WS_SO_KEEPALIVE, reinterpret_cast<const char*>(&on), 4), 0);
    EXPECT_EQ(ws.setsockopt(b, WS_SOL_SOCKET, 0x7777, reinterpret_cast<const char*>(&on), 4), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAENOPROTOOPT);
    EXPECT_EQ(ws.setsockopt(b, WS_SOL_SOCKET, WS_SO_KEEPALIVE, reinterpret_cast<const char*>(&on), 2), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEFAULT);
    EXPECT_EQ(ws.setsockopt(b, 99, 1, reinterpret_cast<const char*>(&on), 4), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEINVAL);
    const TLinger linger{1, 0};
    EXPECT_EQ(ws.setsockopt(b, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<const char*>(&linger), 4), 0);
    std::uint32_t n = 7;
    EXPECT_EQ(ws.ioctlsocket(b, 0x1234, &n), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEINVAL);
    ws.closesocket(b);
}

TEST(Winsock, ARefusedConnectIsReportedByTheConnectNotification) {
    Ws ws;
    Recorder rec;
    const std::uint16_t port = FreeLoopbackPort();
    const SOCKET s = ws.socket(WS_AF_INET, WS_SOCK_STREAM, 0);
    ASSERT_EQ(ws.asyncSelect(s, rec.wnd, WM_USER + 1, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
    const TSockAddrIn a = Loopback(port);
    EXPECT_EQ(ws.connect(s, reinterpret_cast<const TSockAddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(PumpUntil([&] { return !rec.got.empty(); }));
    Settle();
    EXPECT_EQ(rec.got, (std::vector<std::pair<int, int>>{{FD_CONNECT, WSAECONNREFUSED}}));  // nothing else
    ws.closesocket(s);
}

TEST(Winsock, ReadIsNotifiedOnceUntilTheNextRecv) {
    Ws ws;
    Recorder rec;
    ScriptedPeer peer;
    peer.Accept().Send("a").ReadUntil("go").Send("b").ReadToEnd();
    peer.Start();
    const SOCKET s = ConnectedTo(ws, peer, rec);
    EXPECT_TRUE(PumpUntil([&] { return rec.Count(FD_WRITE) == 1; }));  // room to write once connected
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_READ) == 1; }));
    ws.send(s, "go", 2, 0);
    std::uint32_t waiting = 0;
    PumpUntil([&] { return ws.ioctlsocket(s, WS_FIONREAD, &waiting) == 0 && waiting == 2; });
    Settle();
    EXPECT_EQ(rec.Count(FD_READ), 1);  // "b" came, but the first notification is not answered yet
    char buf[8];
    EXPECT_EQ(ws.recv(s, buf, 1, 0), 1);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_READ) == 2; }));  // one byte still waiting
    EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), 1);
    EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(ws.recv(s, buf, 0, 0), SOCKET_ERROR);  // a zero-length read would block too
    EXPECT_EQ(ws.lastError(), WSAEWOULDBLOCK);
    Settle();
    EXPECT_EQ(rec.Count(FD_READ), 2);
    EXPECT_EQ(rec.Count(FD_WRITE), 1);
    ws.closesocket(s);
    peer.Join();
}

TEST(Winsock, CloseIsNotifiedOnceEverythingBeforeTheEndIsRead) {
    Ws ws;
    Recorder rec;
    ScriptedPeer peer;
    peer.Accept().Send("xyz").Close();
    peer.Start();
    const SOCKET s = ConnectedTo(ws, peer, rec);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_READ) == 1; }));
    peer.Join();
    Settle();
    EXPECT_EQ(rec.Count(FD_CLOSE), 0);  // "xyz" is still unread
    char buf[8];
    EXPECT_EQ(ws.recv(s, buf, 2, 0), 2);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_READ) == 2; }));
    EXPECT_EQ(rec.Count(FD_CLOSE), 0);
    EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), 1);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(rec.got.back(), std::make_pair(static_cast<int>(FD_CLOSE), 0));
    EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), 0);
    // A new target hears again that the stream has ended.
    ASSERT_EQ(ws.asyncSelect(s, rec.wnd, WM_USER + 1, FD_READ | FD_CLOSE), 0);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_CLOSE) == 2; }));
    ws.closesocket(s);
}

TEST(Winsock, AResetIsNotifiedWithItsError) {
    Ws ws;
    Recorder rec;
    ScriptedPeer peer;
    peer.Accept().Reset();
    peer.Start();
    const SOCKET s = ConnectedTo(ws, peer, rec);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(rec.got.back(), std::make_pair(static_cast<int>(FD_CLOSE), WSAECONNRESET));
    ws.closesocket(s);
    peer.Join();
}

TEST(Winsock, AsynchronousLookupThatDoesNotFitReportsNoBuffers) {
    Ws ws;
    Recorder rec;
    alignas(THostEnt) char small[24];
    const HANDLE h = ws.getHostByName(rec.wnd, WM_USER + 2, "localhost", small, sizeof small);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(PumpUntil([&] { return !rec.got.empty(); }));
    EXPECT_EQ(rec.got[0].second, WSAENOBUFS);
    EXPECT_GT(rec.got[0].first, static_cast<int>(sizeof small));  // the size it needs
}

TEST(Winsock, LookUpsOfBothFamiliesPutIPv6FirstAndMapIPv4) {
    Ws ws;
    WinsockSetAddressHook([](const std::string& name) {
        return name == "both.test" ? std::vector<std::string>{"10.1.2.3", "2001:db8::7"} : std::vector<std::string>{};
    });
    auto byName2 = ws.Get<TGetHostByName2Proc>("gethostbyname2");
    const THostEnt* he = byName2("both.test", WS_AF_UNSPEC);
    ASSERT_NE(he, nullptr);
    EXPECT_EQ(he->h_addrtype, WS_AF_INET6);
    ASSERT_EQ(he->h_length, 16);
    in6_addr v6, mapped;
    inet_pton(AF_INET6, "2001:db8::7", &v6);
    inet_pton(AF_INET6, "::ffff:10.1.2.3", &mapped);
    ASSERT_NE(he->h_addr_list[1], nullptr);
    EXPECT_EQ(std::string(he->h_addr_list[0], 16), std::string(reinterpret_cast<char*>(&v6), 16));
    EXPECT_EQ(std::string(he->h_addr_list[1], 16), std::string(reinterpret_cast<char*>(&mapped), 16));
    EXPECT_EQ(he->h_addr_list[2], nullptr);
    // The IPv4 look-up keeps its 4-byte entries.
    he = ws.Get<TGetHostByNameProc>("gethostbyname")("both.test");
    ASSERT_NE(he, nullptr);
    EXPECT_EQ(he->h_length, 4);
    EXPECT_EQ(he->h_addr_list[1], nullptr);
    WinsockSetAddressHook(nullptr);
}

TEST(Winsock, AnIPv6SocketNeedsARecordThatHoldsItsAddress) {
    Ws ws;
    const SOCKET s = ws.socket(WS_AF_INET6, WS_SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    TSockAddrIn6 a{};
    a.sin6_family = WS_AF_INET6;
    a.sin6_addr[15] = 1;  // ::1, any port
    ASSERT_EQ(ws.bind(s, reinterpret_cast<TSockAddr*>(&a), sizeof a), 0);
    TSockAddrIn small{};
    int len = sizeof small;
    EXPECT_EQ(ws.getsockname(s, reinterpret_cast<TSockAddr*>(&small), &len), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEFAULT);
    TSockAddrIn6 got{};
    len = sizeof got;
    ASSERT_EQ(ws.getsockname(s, reinterpret_cast<TSockAddr*>(&got), &len), 0);
    EXPECT_EQ(len, static_cast<int>(sizeof got));
    EXPECT_EQ(got.sin6_family, WS_AF_INET6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got.sin6_addr), 16), std::string(reinterpret_cast<char*>(a.sin6_addr), 16));
    EXPECT_NE(got.sin6_port, 0);
    ws.closesocket(s);
}
