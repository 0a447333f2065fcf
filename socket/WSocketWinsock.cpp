// SPDX-License-Identifier: Apache-2.0
#include "socket/WSocketWinsock.h"

#include <atomic>
#include <mutex>

#include "base/SysUtils.h"
#include "socket/WSocketErrors.h"

namespace {

const char* const kLibrary = "wsock32.dll";

enum ProcIndex {
    kWSAStartup, kWSACleanup, kWSASetLastError, kWSAGetLastError, kWSACancelAsyncRequest,
    kWSAAsyncGetHostByName, kWSAAsyncGetHostByAddr, kWSAAsyncSelect, kGetServByName, kGetProtoByName,
    kGetHostByName, kSocket, kShutdown, kSetSockOpt, kSendTo, kSend, kNtohs, kListen, kIoctlSocket,
    kInetNtoa, kInetAddr, kHtons, kGetSockName, kGetPeerName, kConnect, kCloseSocket, kBind, kAccept,
    kRecv, kRecvFrom, kGetHostByName2, kWSAAsyncGetHostByName2, kInetPton, kInetNtop, kProcCount
};

const char* const kProcNames[kProcCount] = {
    "WSAStartup", "WSACleanup", "WSASetLastError", "WSAGetLastError", "WSACancelAsyncRequest",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSAAsyncSelect", "getservbyname", "getprotobyname",
    "gethostbyname", "socket", "shutdown", "setsockopt", "sendto", "send", "ntohs", "listen", "ioctlsocket",
    "inet_ntoa", "inet_addr", "htons", "getsockname", "getpeername", "connect", "closesocket", "bind", "accept",
    "recv", "recvfrom", "gethostbyname2", "WSAAsyncGetHostByName2", "inet_pton", "inet_ntop",
};

// The unit state. The mutex serialises loading and unloading (recursive: loading runs
// WSAStartup through its own wrapper, which resolves through the loader again); the cache
// is read without it.
std::recursive_mutex loaderMu;
std::atomic<HMODULE> module{0};
std::atomic<void*> cache[kProcCount];
std::atomic<int> liveSockets{0};
TWSAData startupData;

template <class F>
F Proc(ProcIndex i) {
    void* p = cache[i].load(std::memory_order_acquire);
    if (!p) {
        std::lock_guard lock(loaderMu);
        p = cache[i].load(std::memory_order_acquire);
        if (!p) {
            p = LoadWinsockProc(kProcNames[i]);
            cache[i].store(p, std::memory_order_release);
        }
    }
    return reinterpret_cast<F>(p);
}

// Unloads at exit when sockets were never all destroyed.
struct Finalizer {
    ~Finalizer() { UnloadWinsock(); }
} finalizer;

}  // namespace

HMODULE WinsockModule() { return module.load(); }

void* LoadWinsockProc(const std::string& Name) {
    std::lock_guard lock(loaderMu);
    if (module.load() == 0) {
        const HMODULE m = LoadLibrary(kLibrary);
        if (m == 0) throw ESocketException("Unable to load " + std::string(kLibrary) + " Error #" + IntToStr(GetLastError()));
        module.store(m);
        const int rc = WSocket_WSAStartup(0x0101, &startupData);
        if (rc != 0) throw ESocketException(Format("%s: WSAStartup error #%d", kLibrary, rc));
    }
    if (Name.empty()) return nullptr;
    void* p = GetProcAddress(module.load(), Name.c_str());
    if (!p)
        throw ESocketException("Procedure " + Name + " not found in " + kLibrary + " Error #" +
                               IntToStr(GetLastError()));
    return p;
}

void UnloadWinsock() {
    {
        std::lock_guard lock(loaderMu);
        if (const HMODULE m = module.load(); m != 0) {
            WSocket_WSACleanup();
            FreeLibrary(m);
            module.store(0);
            for (auto& entry : cache) entry.store(nullptr);
        }
    }
    liveSockets = 0;
}

int LiveSocketCount() { return liveSockets.load(); }
void IncLiveSocketCount() { liveSockets.fetch_add(1); }
void DecLiveSocketCount() {
    if (liveSockets.fetch_sub(1) - 1 < 1) UnloadWinsock();
}

int WSocket_WSAStartup(WORD v, TWSAData* d) { return Proc<TWSAStartupProc>(kWSAStartup)(v, d); }
int WSocket_WSACleanup() { return Proc<TWSACleanupProc>(kWSACleanup)(); }
void WSocket_WSASetLastError(int e) { Proc<TWSASetLastErrorProc>(kWSASetLastError)(e); }
int WSocket_WSAGetLastError() { return Proc<TWSAGetLastErrorProc>(kWSAGetLastError)(); }
int WSocket_WSACancelAsyncRequest(HANDLE r) { return Proc<TWSACancelAsyncRequestProc>(kWSACancelAsyncRequest)(r); }
HANDLE WSocket_WSAAsyncGetHostByName(HWND w, UINT m, const char* n, char* b, int l) {
    return Proc<TWSAAsyncGetHostByNameProc>(kWSAAsyncGetHostByName)(w, m, n, b, l);
}
HANDLE WSocket_WSAAsyncGetHostByAddr(HWND w, UINT m, const char* a, int len, int t, char* b, int l) {
    return Proc<TWSAAsyncGetHostByAddrProc>(kWSAAsyncGetHostByAddr)(w, m, a, len, t, b, l);
}
int WSocket_WSAAsyncSelect(SOCKET s, HWND w, UINT m, long e) {
    return Proc<TWSAAsyncSelectProc>(kWSAAsyncSelect)(s, w, m, e);
}
TServEnt* WSocket_getservbyname(const char* n, const char* p) { return Proc<TGetServByNameProc>(kGetServByName)(n, p); }
TProtoEnt* WSocket_getprotobyname(const char* n) { return Proc<TGetProtoByNameProc>(kGetProtoByName)(n); }
THostEnt* WSocket_gethostbyname(const char* n) { return Proc<TGetHostByNameProc>(kGetHostByName)(n); }
SOCKET WSocket_socket(int af, int t, int p) { return Proc<TSocketProc>(kSocket)(af, t, p); }
int WSocket_shutdown(SOCKET s, int h) { return Proc<TShutdownProc>(kShutdown)(s, h); }
int WSocket_setsockopt(SOCKET s, int l, int n, const char* v, int len) {
    return Proc<TSetSockOptProc>(kSetSockOpt)(s, l, n, v, len);
}
int WSocket_sendto(SOCKET s, const char* b, int l, int f, const TSockAddr* t, int tl) {
    return Proc<TSendToProc>(kSendTo)(s, b, l, f, t, tl);
}
int WSocket_send(SOCKET s, const char* b, int l, int f) { return Proc<TSendProc>(kSend)(s, b, l, f); }
std::uint16_t WSocket_ntohs(std::uint16_t v) { return Proc<TNtohsProc>(kNtohs)(v); }
int WSocket_listen(SOCKET s, int b) { return Proc<TListenProc>(kListen)(s, b); }
int WSocket_ioctlsocket(SOCKET s, long c, std::uint32_t* a) { return Proc<TIoctlSocketProc>(kIoctlSocket)(s, c, a); }
std::string WSocket_inet_ntoa(TInAddr in) { return Proc<TInetNtoaProc>(kInetNtoa)(in); }
std::uint32_t WSocket_inet_addr(const char* cp) { return Proc<TInetAddrProc>(kInetAddr)(cp); }
std::uint16_t WSocket_htons(std::uint16_t v) { return Proc<THtonsProc>(kHtons)(v); }
int WSocket_getsockname(SOCKET s, TSockAddr* n, int* l) { return Proc<TGetSockNameProc>(kGetSockName)(s, n, l); }
int WSocket_getpeername(SOCKET s, TSockAddr* n, int* l) { return Proc<TGetPeerNameProc>(kGetPeerName)(s, n, l); }
int WSocket_connect(SOCKET s, const TSockAddr* n, int l) { return Proc<TConnectProc>(kConnect)(s, n, l); }
int WSocket_closesocket(SOCKET s) { return Proc<TCloseSocketProc>(kCloseSocket)(s); }
int WSocket_bind(SOCKET s, const TSockAddr* n, int l) { return Proc<TBindProc>(kBind)(s, n, l); }
SOCKET WSocket_accept(SOCKET s, TSockAddr* a, int* l) { return Proc<TAcceptProc>(kAccept)(s, a, l); }
int WSocket_recv(SOCKET s, char* b, int l, int f) { return Proc<TRecvProc>(kRecv)(s, b, l, f); }
int WSocket_recvfrom(SOCKET s, char* b, int l, int f, TSockAddr* fr, int* fl) {
    return Proc<TRecvFromProc>(kRecvFrom)(s, b, l, f, fr, fl);
}
THostEnt* WSocket_gethostbyname2(const char* n, int af) { return Proc<TGetHostByName2Proc>(kGetHostByName2)(n, af); }
HANDLE WSocket_WSAAsyncGetHostByName2(HWND w, UINT m, const char* n, int af, char* b, int l) {
    return Proc<TWSAAsyncGetHostByName2Proc>(kWSAAsyncGetHostByName2)(w, m, n, af, b, l);
}
int WSocket_inet_pton(int af, const char* src, void* dst) { return Proc<TInetPtonProc>(kInetPton)(af, src, dst); }
std::string WSocket_inet_ntop(int af, const void* src) {
    char text[64];
    const char* r = Proc<TInetNtopProc>(kInetNtop)(af, src, text, sizeof text);
    return r ? std::string(r) : std::string();
}
