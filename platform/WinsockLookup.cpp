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
#include "platform/WinsockHooks.h"
#include "platform/WinsockInternal.h"

using namespace winsock_impl;

namespace {

struct HostResult {
    int error = 0;  // Winsock code; 0 = found
    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::uint32_t> addrs;  // network order
};

std::mutex hookMu;
std::function<int(const std::string&)> lookupHook;

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
    if (he->h_addrtype == AF_INET && he->h_length == 4)
        for (char** a = he->h_addr_list; a && *a; ++a) {
            std::uint32_t v;
            std::memcpy(&v, *a, 4);
            r.addrs.push_back(v);
        }
    return r;
}

HostResult ResolveName(const std::string& name) {
    hostent he{}, *res = nullptr;
    std::vector<char> work(8192);
    int herr = 0;
    for (;;) {
        const int rc = ::gethostbyname2_r(name.c_str(), AF_INET, &he, work.data(), work.size(), &res, &herr);
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
    std::size_t need = skip + sizeof(THostEnt) + (nAliases + 1 + nAddrs + 1) * sizeof(char*) + 4 * nAddrs +
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
        std::memcpy(p, &r.addrs[i], 4);
        addrList[i] = p;
        p += 4;
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
    he->h_addrtype = WS_AF_INET;
    he->h_length = 4;
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

THostEnt* WsGetHostByName(const char* name) {
    if (!CheckStarted()) return nullptr;
    if (!name) {
        SetError(WSAEFAULT);
        return nullptr;
    }
    const int forced = RunHook(name);
    const HostResult r = forced != 0 ? HostResult{forced, {}, {}, {}} : ResolveName(name);
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
