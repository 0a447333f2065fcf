// SPDX-License-Identifier: Apache-2.0
// Name, service and protocol look-ups: the blocking ones the caller's thread runs, and the
// asynchronous host look-ups that run on a worker thread and post their outcome.
#include <arpa/inet.h>
#include <netdb.h>

#include <atomic>
#include <cstring>
#include <system_error>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "winsock/WinsockHooks.h"
#include "winsock/WinsockInternal.h"

using namespace winsock_impl;

namespace {

struct HostResult {
    int error = 0;  // Winsock code; 0 = found
    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::string> addrs;  // addrLen raw bytes each, network order
    int addrType = WS_AF_INET;
    int addrLen = 4;
};

std::mutex hookMu;
std::function<int(const std::string&)> lookupHook;
std::function<std::vector<std::string>(const std::string&)> addressHook;

// The addresses the address hook answers for name (empty: ask the system).
std::vector<std::string> RunAddressHook(const std::string& name) {
    std::function<std::vector<std::string>(const std::string&)> hook;
    {
        std::lock_guard lock(hookMu);
        hook = addressHook;
    }
    return hook ? hook(name) : std::vector<std::string>{};
}

// 0, or the error the hook wants the look-up to fail with.
int RunHook(const std::string& query) {
    std::function<int(const std::string&)> hook;
    {
        std::lock_guard lock(hookMu);
        hook = lookupHook;
    }
    return hook ? hook(query) : 0;
}

int FromHErrno(int h) {
    switch (h) {
        case HOST_NOT_FOUND: return WSAHOST_NOT_FOUND;
        case TRY_AGAIN: return WSATRY_AGAIN;
        case NO_RECOVERY: return WSANO_RECOVERY;
        case NO_DATA: return WSANO_DATA;
        default: return WSANO_RECOVERY;
    }
}

HostResult FromHostent(const hostent* he) {
    HostResult r;
    r.name = he->h_name ? he->h_name : "";
    for (char** a = he->h_aliases; a && *a; ++a) r.aliases.emplace_back(*a);
    if ((he->h_addrtype == AF_INET && he->h_length == 4) || (he->h_addrtype == AF_INET6 && he->h_length == 16)) {
        r.addrType = he->h_addrtype == AF_INET6 ? WS_AF_INET6 : WS_AF_INET;
        r.addrLen = he->h_length;
        for (char** a = he->h_addr_list; a && *a; ++a) r.addrs.emplace_back(*a, he->h_length);
    }
    return r;
}

// One family's addresses for a name (sysAf AF_INET or AF_INET6).
HostResult ResolveFamily(const std::string& name, int sysAf) {
    hostent he{}, *res = nullptr;
    std::vector<char> work(8192);
    int herr = 0;
    for (;;) {
        const int rc = ::gethostbyname2_r(name.c_str(), sysAf, &he, work.data(), work.size(), &res, &herr);
        if (rc == ERANGE) {
            work.resize(work.size() * 2);
            continue;
        }
        break;
    }
    if (!res) return HostResult{FromHErrno(herr), {}, {}, {}};
    HostResult r = FromHostent(res);
    if (r.addrs.empty()) r.error = WSANO_DATA;
    return r;
}

std::string Mapped(const std::string& v4) { return std::string(10, '\0') + "\xff\xff" + v4; }

// The hook's numeric answer in the family asked for (see ResolveName).
HostResult FromAddressTexts(const std::string& name, const std::vector<std::string>& texts, int af) {
    HostResult r;
    r.name = name;
    std::vector<std::string> v4, v6;
    for (const std::string& t : texts) {
        unsigned char b[16];
        if (::inet_pton(AF_INET6, t.c_str(), b) == 1) v6.emplace_back(reinterpret_cast<char*>(b), 16);
        else if (::inet_pton(AF_INET, t.c_str(), b) == 1) v4.emplace_back(reinterpret_cast<char*>(b), 4);
    }
    if (af == WS_AF_INET) {
        r.addrs = v4;
    } else {
        r.addrType = WS_AF_INET6;
        r.addrLen = 16;
        if (af == WS_AF_INET6) v4.clear();
        for (std::size_t i = 0; i < v4.size() || i < v6.size(); ++i) {
            if (i < v6.size()) r.addrs.push_back(v6[i]);
            if (i < v4.size()) r.addrs.push_back(Mapped(v4[i]));
        }
    }
    if (r.addrs.empty()) r.error = WSANO_DATA;
    return r;
}

// The addresses of a name in the family asked for: WS_AF_INET as 4-byte entries;
// WS_AF_INET6 or WS_AF_UNSPEC as 16-byte ones, IPv4 mapped, IPv6 first and the families
// alternating (so that a caller trying them in order races the families).
HostResult ResolveName(const std::string& name, int af = WS_AF_INET) {
    const std::vector<std::string> hooked = RunAddressHook(name);
    if (!hooked.empty()) return FromAddressTexts(name, hooked, af);
    if (af == WS_AF_INET) return ResolveFamily(name, AF_INET);
    // One system call for both families: the system's sources answer once (a name in the
    // hosts file with only an IPv4 address never waits for a DNS answer for IPv6).
    addrinfo hints{};
    hints.ai_family = af == WS_AF_INET6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        switch (rc) {
            case EAI_NONAME: return HostResult{WSAHOST_NOT_FOUND, {}, {}, {}};
            case EAI_AGAIN: return HostResult{WSATRY_AGAIN, {}, {}, {}};
#ifdef EAI_NODATA
            case EAI_NODATA:
#endif
            case EAI_ADDRFAMILY: return HostResult{WSANO_DATA, {}, {}, {}};
            default: return HostResult{WSANO_RECOVERY, {}, {}, {}};
        }
    }
    HostResult r;
    r.name = list->ai_canonname ? list->ai_canonname : name;
    r.addrType = WS_AF_INET6;
    r.addrLen = 16;
    std::vector<std::string> v4, v6;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        std::string bytes;
        if (a->ai_family == AF_INET6)
            bytes.assign(reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr), 16);
        else if (a->ai_family == AF_INET)
            bytes = Mapped(std::string(reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr), 4));
        else
            continue;
        auto& bucket = a->ai_family == AF_INET6 ? v6 : v4;
        bool seen = false;
        for (const std::string& b : bucket) seen = seen || b == bytes;
        if (!seen) bucket.push_back(bytes);
    }
    ::freeaddrinfo(list);
    for (std::size_t i = 0; i < v6.size() || i < v4.size(); ++i) {
        if (i < v6.size()) r.addrs.push_back(v6[i]);
        if (i < v4.size()) r.addrs.push_back(v4[i]);
    }
    if (r.addrs.empty()) r.error = WSANO_DATA;
    return r;
}

HostResult ResolveAddr(std::uint32_t addr) {
    hostent he{}, *res = nullptr;
    std::vector<char> work(8192);
    int herr = 0;
    for (;;) {
        const int rc = ::gethostbyaddr_r(&addr, 4, AF_INET, &he, work.data(), work.size(), &res, &herr);
        if (rc == ERANGE) {
            work.resize(work.size() * 2);
            continue;
        }
        break;
    }
    if (!res) return HostResult{FromHErrno(herr), {}, {}, {}};
    return FromHostent(res);
}

// Lays a host entry out in buf: the THostEnt, the alias and address pointer lists, the
// addresses, then the strings. Returns the bytes it needs; writes only when they fit.
std::size_t LayOut(const HostResult& r, std::size_t nAliases, std::size_t nAddrs, char* buf, std::size_t bufLen) {
    const std::size_t align = alignof(THostEnt);
    const std::size_t skip = (align - reinterpret_cast<std::uintptr_t>(buf) % align) % align;
    const std::size_t addrLen = static_cast<std::size_t>(r.addrLen);
    std::size_t need = skip + sizeof(THostEnt) + (nAliases + 1 + nAddrs + 1) * sizeof(char*) + addrLen * nAddrs +
                       r.name.size() + 1;
    for (std::size_t i = 0; i < nAliases; ++i) need += r.aliases[i].size() + 1;
    if (need > bufLen) return need;
    char* p = buf + skip;
    auto* he = reinterpret_cast<THostEnt*>(p);
    p += sizeof(THostEnt);
    auto** aliasList = reinterpret_cast<char**>(p);
    p += (nAliases + 1) * sizeof(char*);
    auto** addrList = reinterpret_cast<char**>(p);
    p += (nAddrs + 1) * sizeof(char*);
    for (std::size_t i = 0; i < nAddrs; ++i) {
        std::memcpy(p, r.addrs[i].data(), addrLen);
        addrList[i] = p;
        p += addrLen;
    }
    addrList[nAddrs] = nullptr;
    auto putString = [&p](const std::string& s) {
        std::memcpy(p, s.c_str(), s.size() + 1);
        char* at = p;
        p += s.size() + 1;
        return at;
    };
    he->h_name = putString(r.name);
    for (std::size_t i = 0; i < nAliases; ++i) aliasList[i] = putString(r.aliases[i]);
    aliasList[nAliases] = nullptr;
    he->h_aliases = aliasList;
    he->h_addrtype = static_cast<std::int16_t>(r.addrType);
    he->h_length = static_cast<std::int16_t>(r.addrLen);
    he->h_addr_list = addrList;
    return need;
}

// Fills buf with as much of the entry as fits: every alias and address when possible,
// else no aliases and as many addresses as fit (at least one). 0 when even that does not
// fit; then *need tells the size the smallest form needs.
bool Fill(const HostResult& r, char* buf, std::size_t bufLen, std::size_t* need) {
    if (LayOut(r, r.aliases.size(), r.addrs.size(), buf, bufLen) <= bufLen) return true;
    const std::size_t least = r.addrs.empty() ? 0 : 1;
    for (std::size_t n = r.addrs.size();; --n) {
        if (LayOut(r, 0, n, buf, bufLen) <= bufLen) return true;
        if (n <= least) break;
    }
    *need = LayOut(r, 0, least, buf, 0);
    return false;
}

// ---- asynchronous requests -------------------------------------------------------------

struct Request {
    HANDLE handle = 0;
    HWND wnd = 0;
    UINT msg = 0;
    char* buf = nullptr;
    int bufLen = 0;
};

std::atomic<int> inFlight{0};  // worker threads not finished yet

std::mutex requestMu;
std::unordered_map<HANDLE, std::shared_ptr<Request>> pending;
HANDLE nextRequest = 1;

void Complete(const std::shared_ptr<Request>& req, const HostResult& r) {
    std::lock_guard lock(requestMu);
    auto it = pending.find(req->handle);
    if (it == pending.end()) return;  // cancelled: the buffer is no longer ours
    pending.erase(it);
    int error = r.error;
    std::size_t need = 0;
    if (error == 0 && !Fill(r, req->buf, static_cast<std::size_t>(req->bufLen), &need)) error = WSAENOBUFS;
    const WORD low = error == WSAENOBUFS ? static_cast<WORD>(need > 0xFFFF ? 0xFFFF : need) : 0;
    PostMessage(req->wnd, req->msg, static_cast<WPARAM>(req->handle), MakeLParam(low, static_cast<WORD>(error)));
}

HANDLE Start(HWND wnd, UINT msg, char* buf, int bufLen, std::function<HostResult()> work, std::string query) {
    if (!CheckStarted()) return 0;
    if (!buf || bufLen <= 0) {
        SetError(WSAEFAULT);
        return 0;
    }
    auto req = std::make_shared<Request>();
    req->wnd = wnd;
    req->msg = msg;
    req->buf = buf;
    req->bufLen = bufLen;
    {
        std::lock_guard lock(requestMu);
        req->handle = nextRequest++;
        pending.emplace(req->handle, req);
    }
    try {
        inFlight.fetch_add(1);
        std::thread([req, work = std::move(work), query = std::move(query)] {
            const int forced = RunHook(query);
            Complete(req, forced != 0 ? HostResult{forced, {}, {}, {}} : work());
            inFlight.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        inFlight.fetch_sub(1);
        std::lock_guard lock(requestMu);
        pending.erase(req->handle);
        SetError(WSAENOBUFS);
        return 0;
    }
    return req->handle;
}

// Per-thread storage of the blocking look-ups' results.
struct HostStore {
    alignas(THostEnt) char buf[4096];
};
thread_local HostStore hostStore;

}  // namespace

void WinsockSetLookupHook(std::function<int(const std::string& query)> hook) {
    std::lock_guard lock(hookMu);
    lookupHook = std::move(hook);
}

void WinsockSetAddressHook(std::function<std::vector<std::string>(const std::string& name)> hook) {
    std::lock_guard lock(hookMu);
    addressHook = std::move(hook);
}

int WinsockLookupsInFlight() { return inFlight.load(); }

namespace winsock_impl {
void CancelAllLookups() {
    std::lock_guard lock(requestMu);
    pending.clear();
}
}  // namespace winsock_impl

HANDLE WsaAsyncGetHostByName(HWND wnd, UINT msg, const char* name, char* buf, int bufLen) {
    if (!name) {
        SetError(WSAEFAULT);
        return 0;
    }
    std::string n(name);
    return Start(wnd, msg, buf, bufLen, [n] { return ResolveName(n); }, n);
}

HANDLE WsaAsyncGetHostByName2(HWND wnd, UINT msg, const char* name, int af, char* buf, int bufLen) {
    if (!name) {
        SetError(WSAEFAULT);
        return 0;
    }
    if (af != WS_AF_INET && af != WS_AF_INET6 && af != WS_AF_UNSPEC) {
        SetError(WSAEAFNOSUPPORT);
        return 0;
    }
    std::string n(name);
    return Start(wnd, msg, buf, bufLen, [n, af] { return ResolveName(n, af); }, n);
}

HANDLE WsaAsyncGetHostByAddr(HWND wnd, UINT msg, const char* addr, int len, int type, char* buf, int bufLen) {
    if (!addr || len != 4) {
        SetError(WSAEFAULT);
        return 0;
    }
    if (type != WS_AF_INET) {
        SetError(WSAEAFNOSUPPORT);
        return 0;
    }
    std::uint32_t a;
    std::memcpy(&a, addr, 4);
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return Start(wnd, msg, buf, bufLen, [a] { return ResolveAddr(a); }, text);
}

int WsaCancelAsyncRequest(HANDLE request) {
    if (!CheckStarted()) return SOCKET_ERROR;
    std::lock_guard lock(requestMu);
    if (pending.erase(request) != 0) return 0;
    // Known but over (its reply is posted): too late; never issued: invalid.
    SetError(request != 0 && request < nextRequest ? WSAEALREADY : WSAEINVAL);
    return SOCKET_ERROR;
}

THostEnt* WsGetHostByName2(const char* name, int af) {
    if (!CheckStarted()) return nullptr;
    if (!name) {
        SetError(WSAEFAULT);
        return nullptr;
    }
    if (af != WS_AF_INET && af != WS_AF_INET6 && af != WS_AF_UNSPEC) {
        SetError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    const int forced = RunHook(name);
    const HostResult r = forced != 0 ? HostResult{forced, {}, {}, {}} : ResolveName(name, af);
    if (r.error != 0) {
        SetError(r.error);
        return nullptr;
    }
    std::size_t need = 0;
    if (!Fill(r, hostStore.buf, sizeof hostStore.buf, &need)) {
        SetError(WSAENOBUFS);
        return nullptr;
    }
    const std::size_t align = alignof(THostEnt);
    const std::size_t skip = (align - reinterpret_cast<std::uintptr_t>(hostStore.buf) % align) % align;
    return reinterpret_cast<THostEnt*>(hostStore.buf + skip);
}

THostEnt* WsGetHostByName(const char* name) { return WsGetHostByName2(name, WS_AF_INET); }

TServEnt* WsGetServByName(const char* name, const char* proto) {
    if (!CheckStarted()) return nullptr;
    if (!name) {
        SetError(WSAEFAULT);
        return nullptr;
    }
    thread_local servent se;
    thread_local char work[4096];
    thread_local TServEnt out;
    servent* res = nullptr;
    if (::getservbyname_r(name, proto, &se, work, sizeof work, &res) != 0 || !res) {
        SetError(WSANO_DATA);
        return nullptr;
    }
    out.s_name = res->s_name;
    out.s_aliases = res->s_aliases;
    out.s_proto = res->s_proto;
    out.s_port = static_cast<std::int16_t>(res->s_port);  // already in network order
    return &out;
}

TProtoEnt* WsGetProtoByName(const char* name) {
    if (!CheckStarted()) return nullptr;
    if (!name) {
        SetError(WSAEFAULT);
        return nullptr;
    }
    thread_local protoent pe;
    thread_local char work[4096];
    thread_local TProtoEnt out;
    protoent* res = nullptr;
    if (::getprotobyname_r(name, &pe, work, sizeof work, &res) != 0 || !res) {
        SetError(WSANO_DATA);
        return nullptr;
    }
    out.p_name = res->p_name;
    out.p_aliases = res->p_aliases;
    out.p_proto = static_cast<std::int16_t>(res->p_proto);
    return &out;
}
