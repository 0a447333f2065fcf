// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetProxy.h"

#include <cstdlib>
#include <mutex>

#include "base/SysUtils.h"
#include "wininet/WinInet.h"

namespace wininet {

namespace {

std::vector<std::string> SplitList(const std::string& text, const std::string& separators) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (separators.find(c) != std::string::npos) {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

// "[scheme://][user:password@]host[:port][/...]"; false when unusable.
bool ParseProxy(std::string text, ProxySettings& out) {
    text = Trim(text);
    const std::size_t scheme = text.find("://");
    if (scheme != std::string::npos) {
        if (LowerCase(text.substr(0, scheme)) != "http") return false;
        text.erase(0, scheme + 3);
    }
    const std::size_t slash = text.find('/');
    if (slash != std::string::npos) text.erase(slash);
    const std::size_t at = text.rfind('@');
    if (at != std::string::npos) {
        const std::string cred = text.substr(0, at);
        text.erase(0, at + 1);
        const std::size_t colon = cred.find(':');
        out.userName = cred.substr(0, colon);
        if (colon != std::string::npos) out.password = cred.substr(colon + 1);
    }
    std::size_t colon = text.rfind(':');
    if (colon != std::string::npos && text.find(']', colon) != std::string::npos) colon = std::string::npos;
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        text.erase(colon);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const long value = std::strtol(port.c_str(), nullptr, 10);
        if (value < 1 || value > 65535) return false;
        out.port = static_cast<WORD>(value);
    }
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    if (text.empty()) return false;
    out.host = text;
    out.enabled = true;
    return true;
}

void AddBypass(ProxySettings& p, const std::vector<std::string>& entries) {
    for (std::string e : entries) {
        e = LowerCase(Trim(e));
        if (e == "<local>") {
            p.bypassLocal = true;
            continue;
        }
        if (e.rfind("*.", 0) == 0)
            e.erase(0, 2);
        else if (e.rfind('.', 0) == 0)
            e.erase(0, 1);
        // A port in an entry is not compared: the fetcher's requests all go to one port.
        const std::size_t colon = e.rfind(':');
        if (colon != std::string::npos && e.find(']') == std::string::npos && e.find(':') == colon) e.erase(colon);
        if (!e.empty()) p.bypass.push_back(e);
    }
}

std::string Env(const char* lower, const char* upper) {
    const char* v = std::getenv(lower);
    if ((!v || !*v) && upper) v = std::getenv(upper);
    return v ? v : "";
}

}  // namespace

ProxySettings ProxyFromEnvironment() {
    ProxySettings p;
    p.system = true;
    // Only the lower-case http_proxy: the upper-case name can be set by a web server's CGI
    // environment from a request header ("Proxy:"), so it is not trusted.
    const std::string proxy = Env("http_proxy", nullptr);
    if (proxy.empty() || !ParseProxy(proxy, p)) {
        p = ProxySettings{};
        p.system = true;
        return p;
    }
    AddBypass(p, SplitList(Env("no_proxy", "NO_PROXY"), ", \t"));
    return p;
}

ProxySettings ProxyFromText(const std::string& proxy, const std::string& bypass) {
    ProxySettings p;
    if (!ParseProxy(proxy, p)) return ProxySettings{};
    AddBypass(p, SplitList(bypass, ";, \t"));
    return p;
}

bool UsesProxy(const ProxySettings& proxy, const std::string& host) {
    if (!proxy.enabled) return false;
    std::string h = LowerCase(host);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    if (proxy.bypassLocal && h.find('.') == std::string::npos) return false;
    for (const std::string& e : proxy.bypass) {
        if (e == "*" || h == e) return false;
        if (h.size() > e.size() && h.compare(h.size() - e.size(), e.size(), e) == 0 &&
            h[h.size() - e.size() - 1] == '.')
            return false;
    }
    return true;
}

namespace {

struct SystemProxy {
    std::mutex mu;
    InternetSystemProxyFn choose;
};

SystemProxy& TheSystemProxy() {
    static SystemProxy* s = new SystemProxy;  // worker threads may ask until the process ends
    return *s;
}

}  // namespace

bool ProxyForRequest(const ProxySettings& session, bool secure, const std::string& server, ProxySettings& out,
                     std::string& why) {
    InternetSystemProxyFn choose;
    if (session.system) {
        std::lock_guard lock(TheSystemProxy().mu);
        choose = TheSystemProxy().choose;
    }
    if (!choose) {
        out = session;
        if (!UsesProxy(out, server)) out.enabled = false;
        return true;
    }
    INTERNET_SYSTEM_PROXY chosen;
    if (!choose(secure, server, chosen, why)) return false;
    out = ProxySettings{};
    out.system = true;
    if (chosen.kind == INTERNET_SYSTEM_PROXY::Kind::None) return true;
    out.enabled = true;
    out.host = chosen.host;
    out.port = chosen.port;
    out.userName = chosen.userName;
    out.password = chosen.password;
    const char* scheme = "http";
    switch (chosen.kind) {
        case INTERNET_SYSTEM_PROXY::Kind::Socks4: out.kind = ProxyKind::Socks4, scheme = "socks4"; break;
        case INTERNET_SYSTEM_PROXY::Kind::Socks4a: out.kind = ProxyKind::Socks4a, scheme = "socks4a"; break;
        case INTERNET_SYSTEM_PROXY::Kind::Socks5: out.kind = ProxyKind::Socks5, scheme = "socks5"; break;
        case INTERNET_SYSTEM_PROXY::Kind::Socks5h: out.kind = ProxyKind::Socks5h, scheme = "socks5h"; break;
        default: out.kind = ProxyKind::Http; break;
    }
    const bool v6 = out.host.find(':') != std::string::npos;
    out.describe = std::string(scheme) + "://" + (v6 ? "[" + out.host + "]" : out.host) + ":" + std::to_string(out.port);
    return true;
}

}  // namespace wininet

void InternetSetSystemProxy(InternetSystemProxyFn choose) {
    std::lock_guard lock(wininet::TheSystemProxy().mu);
    wininet::TheSystemProxy().choose = std::move(choose);
}
