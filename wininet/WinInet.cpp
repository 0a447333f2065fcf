// SPDX-License-Identifier: Apache-2.0
// Handle creation, options and closing. Nothing here touches the network: a request is
// only prepared, and HttpSendRequestA (WinInetTransfer.cpp) does the talking.
#include "wininet/WinInet.h"

#include <cstring>

#include "wininet/WinInetObjects.h"

using namespace wininet;

namespace {

struct LastTlsFailure {
    DWORD code = 0;
    std::string text;
};
thread_local LastTlsFailure tLastTlsFailure;

std::string Text(const char* s) { return s ? s : ""; }

// Texts that end up inside a header line must not be able to start another one.
bool SafeInLine(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }

bool IsToken(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (c <= 0x20 || c >= 0x7F || std::strchr("()<>@,;:\\\"/[]?={}", c)) return false;
    return true;
}

}  // namespace

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                        DWORD /*flags*/) {
    auto s = std::make_shared<Session>();
    s->agent = Text(agent);
    if (!SafeInLine(s->agent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    switch (accessType) {
        case INTERNET_OPEN_TYPE_PRECONFIG: s->proxy = ProxyFromEnvironment(); break;
        case INTERNET_OPEN_TYPE_DIRECT: break;
        case INTERNET_OPEN_TYPE_PROXY: s->proxy = ProxyFromText(Text(proxy), Text(proxyBypass)); break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
    }
    s->timeouts = DefaultTimeouts();
    return Register(std::move(s));
}

HINTERNET InternetConnectA(HINTERNET session, const char* server, INTERNET_PORT port, const char* userName,
                           const char* password, DWORD service, DWORD /*flags*/, DWORD_PTR /*context*/) {
    auto s = LookupAs<Session>(session, HandleKind::Session);
    if (!s) return nullptr;
    auto c = std::make_shared<Connection>();
    c->server = Text(server);
    c->userName = Text(userName);
    c->password = Text(password);
    if (service != INTERNET_SERVICE_HTTP || !SafeInLine(c->server) || !SafeInLine(c->userName) ||
        !SafeInLine(c->password)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    c->port = port;
    c->agent = s->agent;
    c->proxy = s->proxy;
    c->timeouts = s->timeouts;
    return Register(std::move(c));
}

HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* object, const char* version,
                           const char* referrer, const char** acceptTypes, DWORD flags, DWORD_PTR /*context*/) {
    auto c = LookupAs<Connection>(connection, HandleKind::Connection);
    if (!c) return nullptr;
    auto r = std::make_shared<Request>();
    r->verb = verb && *verb ? verb : "GET";
    r->target = EncodeTarget(Text(object));
    r->version = version && *version ? version : "HTTP/1.0";
    r->referrer = Text(referrer);
    bool ok = IsToken(r->verb) && SafeInLine(r->version) && r->version.find(' ') == std::string::npos &&
              SafeInLine(r->referrer);
    for (const char** a = acceptTypes; a && *a; ++a) {
        r->acceptTypes.emplace_back(*a);
        ok = ok && SafeInLine(r->acceptTypes.back());
    }
    if (!ok) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    r->flags = flags;
    r->secure = (flags & INTERNET_FLAG_SECURE) != 0;
    r->agent = c->agent;
    r->proxy = c->proxy;
    r->server = c->server;
    r->port = c->port != 0 ? c->port : r->secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    r->userName = c->userName;
    r->password = c->password;
    r->timeouts = c->timeouts;
    return Register(std::move(r));
}

bool HttpAnnounceNextRequestA(HINTERNET request, const char* object) {
    auto r = LookupAs<Request>(request, HandleKind::Request);
    if (!r) return false;
    if (r->state != Request::State::Opened) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    std::string target = EncodeTarget(Text(object));
    if (!SafeInLine(target)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (r->nextTargets.size() >= 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    r->nextTargets.push_back(std::move(target));
    return true;
}

void wininet::SetLastTlsFailure(DWORD code, const std::string& text) {
    tLastTlsFailure.code = code;
    tLastTlsFailure.text = text;
}

bool InternetGetLastResponseInfoA(DWORD* error, char* buffer, DWORD* bufferLength) {
    if (!error || !bufferLength || (!buffer && *bufferLength > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const LastTlsFailure& last = tLastTlsFailure;
    *error = last.code;
    if (*bufferLength < last.text.size() + 1) {
        *bufferLength = static_cast<DWORD>(last.text.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(buffer, last.text.c_str(), last.text.size() + 1);
    *bufferLength = static_cast<DWORD>(last.text.size());
    return true;
}

bool InternetCloseHandle(HINTERNET handle) { return Unregister(handle); }

bool InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength) {
    if (option != INTERNET_OPTION_CONNECT_TIMEOUT && option != INTERNET_OPTION_SEND_TIMEOUT &&
        option != INTERNET_OPTION_RECEIVE_TIMEOUT && option != INTERNET_OPTION_LOW_SPEED_LIMIT &&
        option != INTERNET_OPTION_LOW_SPEED_TIME) {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return false;
    }
    if (!buffer || bufferLength < sizeof(DWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD ms;
    std::memcpy(&ms, buffer, sizeof ms);
    if (!handle) {
        SetDefaultTimeout(option, ms);
        return true;
    }
    auto o = Lookup(handle);
    if (!o) return false;
    // Options are set by the thread that uses the handle, before its next call.
    if (option == INTERNET_OPTION_CONNECT_TIMEOUT) o->timeouts.connectMs = ms;
    if (option == INTERNET_OPTION_SEND_TIMEOUT) o->timeouts.sendMs = ms;
    if (option == INTERNET_OPTION_RECEIVE_TIMEOUT) o->timeouts.receiveMs = ms;
    if (option == INTERNET_OPTION_LOW_SPEED_LIMIT) o->timeouts.lowSpeedLimit = ms;
    if (option == INTERNET_OPTION_LOW_SPEED_TIME) o->timeouts.lowSpeedTimeMs = ms;
    return true;
}
