// SPDX-License-Identifier: Apache-2.0
// The module itself: loading, the table of entry points, start-up and clean-up, the error
// slot and the small conversions that need no socket.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <strings.h>

#include "platform/LastError.h"
#include "winsock/WinsockHooks.h"
#include "winsock/WinsockInternal.h"

// Entry points defined in the other source files of the module.
int WsaCancelAsyncRequest(HANDLE request);
HANDLE WsaAsyncGetHostByName(HWND wnd, UINT msg, const char* name, char* buf, int bufLen);
HANDLE WsaAsyncGetHostByAddr(HWND wnd, UINT msg, const char* addr, int len, int type, char* buf, int bufLen);
int WsaAsyncSelect(SOCKET s, HWND wnd, UINT msg, long events);
TServEnt* WsGetServByName(const char* name, const char* proto);
TProtoEnt* WsGetProtoByName(const char* name);
THostEnt* WsGetHostByName(const char* name);
THostEnt* WsGetHostByName2(const char* name, int af);
HANDLE WsaAsyncGetHostByName2(HWND wnd, UINT msg, const char* name, int af, char* buf, int bufLen);
SOCKET WsSocket(int af, int type, int protocol);
int WsShutdown(SOCKET s, int how);
int WsSetSockOpt(SOCKET s, int level, int optName, const char* optVal, int optLen);
int WsSendTo(SOCKET s, const char* buf, int len, int flags, const TSockAddr* to, int toLen);
int WsSend(SOCKET s, const char* buf, int len, int flags);
int WsListen(SOCKET s, int backlog);
int WsIoctlSocket(SOCKET s, long cmd, std::uint32_t* arg);
int WsGetSockName(SOCKET s, TSockAddr* name, int* nameLen);
int WsGetPeerName(SOCKET s, TSockAddr* name, int* nameLen);
int WsConnect(SOCKET s, const TSockAddr* name, int nameLen);
int WsCloseSocket(SOCKET s);
int WsBind(SOCKET s, const TSockAddr* name, int nameLen);
SOCKET WsAccept(SOCKET s, TSockAddr* addr, int* addrLen);
int WsRecv(SOCKET s, char* buf, int len, int flags);
int WsRecvFrom(SOCKET s, char* buf, int len, int flags, TSockAddr* from, int* fromLen);
void CloseAllSockets();

namespace winsock_impl {

State& Global() {
    static State* s = new State;  // lives to the end of the process: threads may still call
    return *s;
}

void SetError(int wsaCode) { SetLastError(static_cast<DWORD>(wsaCode)); }

bool CheckStarted() {
    if (Global().startups.load(std::memory_order_acquire) > 0) return true;
    SetError(WSANOTINITIALISED);
    return false;
}

Socket* FindLocked(SOCKET s) {
    auto& table = Global().sockets;
    auto it = table.find(s);
    if (it == table.end()) {
        SetError(WSAENOTSOCK);
        return nullptr;
    }
    return it->second.get();
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int FromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return WSAEINTR;
        case EBADF: return WSAENOTSOCK;
        case EACCES: case EPERM: return WSAEACCES;
        case EFAULT: return WSAEFAULT;
        case EINVAL: return WSAEINVAL;
        case EMFILE: case ENFILE: return WSAEMFILE;
        case EAGAIN: return WSAEWOULDBLOCK;
        case EINPROGRESS: return WSAEWOULDBLOCK;
        case EALREADY: return WSAEALREADY;
        case ENOTSOCK: return WSAENOTSOCK;
        case EDESTADDRREQ: return WSAEDESTADDRREQ;
        case EMSGSIZE: return WSAEMSGSIZE;
        case EPROTOTYPE: return WSAEPROTOTYPE;
        case ENOPROTOOPT: return WSAENOPROTOOPT;
        case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP: return WSAEOPNOTSUPP;
        case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
        case EADDRINUSE: return WSAEADDRINUSE;
        case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
        case ENETDOWN: return WSAENETDOWN;
        case ENETUNREACH: return WSAENETUNREACH;
        case ENETRESET: return WSAENETRESET;
        case ECONNABORTED: return WSAECONNABORTED;
        case ECONNRESET: return WSAECONNRESET;
        case ENOBUFS: case ENOMEM: return WSAENOBUFS;
        case EISCONN: return WSAEISCONN;
        case ENOTCONN: return WSAENOTCONN;
        case ESHUTDOWN: return WSAESHUTDOWN;
        case ETOOMANYREFS: return WSAETOOMANYREFS;
        case ETIMEDOUT: return WSAETIMEDOUT;
        case ECONNREFUSED: return WSAECONNREFUSED;
        case ELOOP: return WSAELOOP;
        case ENAMETOOLONG: return WSAENAMETOOLONG;
        case EHOSTDOWN: return WSAEHOSTDOWN;
        case EHOSTUNREACH: return WSAEHOSTUNREACH;
        case ENOTEMPTY: return WSAENOTEMPTY;
        case EUSERS: return WSAEUSERS;
        case EDQUOT: return WSAEDQUOT;
        case ESTALE: return WSAESTALE;
        case EREMOTE: return WSAEREMOTE;
        case EPIPE: return WSAECONNRESET;
        default: return WSAEINVAL;
    }
}

}  // namespace winsock_impl

using namespace winsock_impl;

namespace {

constexpr HMODULE kModule = 0x5753'0000;  // the one module's handle

std::mutex moduleMu;
int moduleLoads = 0;
std::atomic<DWORD> loadFailure{0};
std::atomic<int> startupCount{0};
std::atomic<int> cleanupCount{0};

int WsaStartup(WORD versionRequested, TWSAData* data) {
    const int major = versionRequested & 0xFF, minor = versionRequested >> 8;
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    if (!data) return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    std::strcpy(data->szDescription, "Winsock 1.1 over BSD sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    std::lock_guard lock(Global().mu);
    Global().startups.fetch_add(1, std::memory_order_release);
    startupCount.fetch_add(1);
    return 0;
}

int WsaCleanup() {
    {
        std::lock_guard lock(Global().mu);
        if (Global().startups.load() == 0) {
            SetError(WSANOTINITIALISED);
            return SOCKET_ERROR;
        }
        cleanupCount.fetch_add(1);
        if (Global().startups.fetch_sub(1) > 1) return 0;
    }
    // The last clean-up: whatever is still open goes away with it.
    CancelAllLookups();
    CloseAllSockets();
    StopNotifier();
    return 0;
}

void WsaSetLastError(int error) { SetError(error); }
int WsaGetLastError() { return static_cast<int>(GetLastError()); }

std::uint16_t WsHtons(std::uint16_t v) { return htons(v); }
std::uint16_t WsNtohs(std::uint16_t v) { return ntohs(v); }
std::uint32_t WsHtonl(std::uint32_t v) { return htonl(v); }
std::uint32_t WsNtohl(std::uint32_t v) { return ntohl(v); }

// Dotted forms with one to four parts, each decimal, octal (0...) or hex (0x...), as the
// original accepts them; INADDR_NONE for anything else.
std::uint32_t WsInetAddr(const char* cp) {
    if (!cp) return WS_INADDR_NONE;
    in_addr a{};
    if (inet_aton(cp, &a) == 0) return WS_INADDR_NONE;
    return a.s_addr;
}

int WsInetPton(int af, const char* src, void* dst) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (!src || !dst) return SetError(WSAEFAULT), SOCKET_ERROR;
    if (af != WS_AF_INET && af != WS_AF_INET6) return SetError(WSAEAFNOSUPPORT), SOCKET_ERROR;
    return ::inet_pton(af == WS_AF_INET6 ? AF_INET6 : AF_INET, src, dst) == 1 ? 1 : 0;
}

const char* WsInetNtop(int af, const void* src, char* dst, int size) {
    if (!CheckStarted()) return nullptr;
    if (!src || !dst || size <= 0) return SetError(WSAEFAULT), nullptr;
    if (af != WS_AF_INET && af != WS_AF_INET6) return SetError(WSAEAFNOSUPPORT), nullptr;
    if (!::inet_ntop(af == WS_AF_INET6 ? AF_INET6 : AF_INET, src, dst, static_cast<socklen_t>(size)))
        return SetError(WSAEINVAL), nullptr;
    return dst;
}

char* WsInetNtoa(TInAddr in) {
    thread_local char text[16];
    const auto* b = reinterpret_cast<const unsigned char*>(&in.S_addr);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

struct Entry {
    const char* name;
    void* proc;
};

template <class F>
void* P(F f) {
    return reinterpret_cast<void*>(f);
}

const Entry kEntries[] = {
    {"WSAStartup", P(&WsaStartup)},
    {"WSACleanup", P(&WsaCleanup)},
    {"WSASetLastError", P(&WsaSetLastError)},
    {"WSAGetLastError", P(&WsaGetLastError)},
    {"WSACancelAsyncRequest", P(&WsaCancelAsyncRequest)},
    {"WSAAsyncGetHostByName", P(&WsaAsyncGetHostByName)},
    {"WSAAsyncGetHostByAddr", P(&WsaAsyncGetHostByAddr)},
    {"WSAAsyncSelect", P(&WsaAsyncSelect)},
    {"getservbyname", P(&WsGetServByName)},
    {"getprotobyname", P(&WsGetProtoByName)},
    {"gethostbyname", P(&WsGetHostByName)},
    {"gethostbyname2", P(&WsGetHostByName2)},
    {"WSAAsyncGetHostByName2", P(&WsaAsyncGetHostByName2)},
    {"inet_pton", P(&WsInetPton)},
    {"inet_ntop", P(&WsInetNtop)},
    {"socket", P(&WsSocket)},
    {"shutdown", P(&WsShutdown)},
    {"setsockopt", P(&WsSetSockOpt)},
    {"sendto", P(&WsSendTo)},
    {"send", P(&WsSend)},
    {"ntohs", P(&WsNtohs)},
    {"ntohl", P(&WsNtohl)},
    {"listen", P(&WsListen)},
    {"ioctlsocket", P(&WsIoctlSocket)},
    {"inet_ntoa", P(&WsInetNtoa)},
    {"inet_addr", P(&WsInetAddr)},
    {"htons", P(&WsHtons)},
    {"htonl", P(&WsHtonl)},
    {"getsockname", P(&WsGetSockName)},
    {"getpeername", P(&WsGetPeerName)},
    {"connect", P(&WsConnect)},
    {"closesocket", P(&WsCloseSocket)},
    {"bind", P(&WsBind)},
    {"accept", P(&WsAccept)},
    {"recv", P(&WsRecv)},
    {"recvfrom", P(&WsRecvFrom)},
};

// Static checks that the table hands out the declared types.
static_assert(std::is_same_v<decltype(&WsaStartup), TWSAStartupProc>);
static_assert(std::is_same_v<decltype(&WsaCleanup), TWSACleanupProc>);
static_assert(std::is_same_v<decltype(&WsaSetLastError), TWSASetLastErrorProc>);
static_assert(std::is_same_v<decltype(&WsaGetLastError), TWSAGetLastErrorProc>);
static_assert(std::is_same_v<decltype(&WsaCancelAsyncRequest), TWSACancelAsyncRequestProc>);
static_assert(std::is_same_v<decltype(&WsaAsyncGetHostByName), TWSAAsyncGetHostByNameProc>);
static_assert(std::is_same_v<decltype(&WsaAsyncGetHostByAddr), TWSAAsyncGetHostByAddrProc>);
static_assert(std::is_same_v<decltype(&WsaAsyncSelect), TWSAAsyncSelectProc>);
static_assert(std::is_same_v<decltype(&WsGetServByName), TGetServByNameProc>);
static_assert(std::is_same_v<decltype(&WsGetProtoByName), TGetProtoByNameProc>);
static_assert(std::is_same_v<decltype(&WsGetHostByName), TGetHostByNameProc>);
static_assert(std::is_same_v<decltype(&WsGetHostByName2), TGetHostByName2Proc>);
static_assert(std::is_same_v<decltype(&WsaAsyncGetHostByName2), TWSAAsyncGetHostByName2Proc>);
static_assert(std::is_same_v<decltype(&WsInetPton), TInetPtonProc>);
static_assert(std::is_same_v<decltype(&WsInetNtop), TInetNtopProc>);
static_assert(std::is_same_v<decltype(&WsSocket), TSocketProc>);
static_assert(std::is_same_v<decltype(&WsShutdown), TShutdownProc>);
static_assert(std::is_same_v<decltype(&WsSetSockOpt), TSetSockOptProc>);
static_assert(std::is_same_v<decltype(&WsSendTo), TSendToProc>);
static_assert(std::is_same_v<decltype(&WsSend), TSendProc>);
static_assert(std::is_same_v<decltype(&WsNtohs), TNtohsProc>);
static_assert(std::is_same_v<decltype(&WsListen), TListenProc>);
static_assert(std::is_same_v<decltype(&WsIoctlSocket), TIoctlSocketProc>);
static_assert(std::is_same_v<decltype(&WsInetNtoa), TInetNtoaProc>);
static_assert(std::is_same_v<decltype(&WsInetAddr), TInetAddrProc>);
static_assert(std::is_same_v<decltype(&WsHtons), THtonsProc>);
static_assert(std::is_same_v<decltype(&WsHtonl), THtonlProc>);
static_assert(std::is_same_v<decltype(&WsGetSockName), TGetSockNameProc>);
static_assert(std::is_same_v<decltype(&WsGetPeerName), TGetPeerNameProc>);
static_assert(std::is_same_v<decltype(&WsConnect), TConnectProc>);
static_assert(std::is_same_v<decltype(&WsCloseSocket), TCloseSocketProc>);
static_assert(std::is_same_v<decltype(&WsBind), TBindProc>);
static_assert(std::is_same_v<decltype(&WsAccept), TAcceptProc>);
static_assert(std::is_same_v<decltype(&WsRecv), TRecvProc>);
static_assert(std::is_same_v<decltype(&WsRecvFrom), TRecvFromProc>);

}  // namespace

HMODULE LoadLibrary(const char* fileName) {
    if (!fileName || strcasecmp(fileName, "wsock32.dll") != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (const DWORD failure = loadFailure.load()) {
        SetLastError(failure);
        return 0;
    }
    std::lock_guard lock(moduleMu);
    ++moduleLoads;
    return kModule;
}

void* GetProcAddress(HMODULE module, const char* procName) {
    {
        std::lock_guard lock(moduleMu);
        if (module != kModule || moduleLoads == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    if (procName)
        for (const Entry& e : kEntries)
            if (std::strcmp(e.name, procName) == 0) return e.proc;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

bool FreeLibrary(HMODULE module) {
    std::lock_guard lock(moduleMu);
    if (module != kModule || moduleLoads == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    --moduleLoads;
    return true;
}

int WinsockLinkedSetSockOpt(SOCKET s, int level, int optName, const char* optVal, int optLen) {
    return WsSetSockOpt(s, level, optName, optVal, optLen);
}
std::uint32_t WinsockLinkedInetAddr(const char* cp) { return WsInetAddr(cp); }
std::uint32_t WinsockLinkedHtonl(std::uint32_t v) { return htonl(v); }

void WinsockSetLoadFailure(DWORD errorCode) { loadFailure = errorCode; }
int WinsockStartupCount() { return startupCount.load(); }
int WinsockCleanupCount() { return cleanupCount.load(); }
int WinsockOpenSocketCount() {
    std::lock_guard lock(Global().mu);
    return static_cast<int>(Global().sockets.size());
}
