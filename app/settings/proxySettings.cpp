// SPDX-License-Identifier: Apache-2.0
#include "app/settings/proxySettings.h"

#include <cstdlib>

#include "app/settings/settingsFile.h"
#include "base/SysUtils.h"

EProxySetting::~EProxySetting() = default;

namespace {

struct TScheme {
    const char* Name;
    TProxyKind Kind;
    int DefaultPort;
};
constexpr TScheme kSchemes[] = {
    {"http", TProxyKind::Http, TProxy::DefaultHttpPort},        {"socks4", TProxyKind::Socks4, TProxy::DefaultSocksPort},
    {"socks4a", TProxyKind::Socks4a, TProxy::DefaultSocksPort}, {"socks5", TProxyKind::Socks5, TProxy::DefaultSocksPort},
    {"socks5h", TProxyKind::Socks5h, TProxy::DefaultSocksPort},
};

const char* SchemeName(TProxyKind kind) {
    for (const TScheme& s : kSchemes)
        if (s.Kind == kind) return s.Name;
    return "";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX sequences decoded; false for a "%" not followed by two hex digits.
bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// Lower case, brackets of an IPv6 literal taken off.
std::string CanonicalHost(std::string host) {
    host = LowerCase(Trim(host));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host;
}

bool IsIpAddress(const std::string& host) {
    if (host.find(':') != std::string::npos) return true;  // IPv6
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

std::optional<std::string> NonEmpty(const TEnvironmentGetter& environment, const std::string& name) {
    std::optional<std::string> v = environment(name);
    if (v && v->empty()) v.reset();
    return v;
}

// The first of the names that is set (and not empty), with its name.
std::optional<std::pair<std::string, std::string>> FirstOf(const TEnvironmentGetter& environment,
                                                           std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (auto v = NonEmpty(environment, name)) return std::make_pair(std::string(name), *v);
    return std::nullopt;
}

TProxySettings::TEntry EntryOf(const std::string& text, const std::string& source) {
    TProxySettings::TEntry e;
    try {
        e.Proxy = ParseProxyUrl(text, source);
    } catch (const EProxySetting& error) {
        e.Error = error.Message();
    }
    return e;
}

}  // namespace

std::string TProxy::Describe() const {
    if (Kind == TProxyKind::None) return "no proxy";
    const std::string host = Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
    return std::string(SchemeName(Kind)) + "://" + host + ":" + IntToStr(Port);
}

TProxy ParseProxyUrl(const std::string& text, const std::string& source) {
    TProxy proxy;
    std::string rest = Trim(text);
    if (rest.empty()) return proxy;
    // The credentials never appear in a message.
    const auto fail = [&](const std::string& why) -> EProxySetting {
        std::string shown = rest;
        const std::size_t at = shown.rfind('@');
        if (at != std::string::npos) {
            const std::size_t start = shown.find("://") == std::string::npos ? 0 : shown.find("://") + 3;
            if (start <= at) shown.replace(start, at - start, "***");
        }
        return EProxySetting("unusable proxy '" + shown + "' (from " + source + "): " + why);
    };

    std::string url = rest;
    int defaultPort = TProxy::DefaultHttpPort;
    proxy.Kind = TProxyKind::Http;
    if (const std::size_t colon = url.find("://"); colon != std::string::npos) {
        const std::string scheme = LowerCase(url.substr(0, colon));
        bool known = false;
        for (const TScheme& s : kSchemes)
            if (scheme == s.Name) {
                proxy.Kind = s.Kind;
                defaultPort = s.DefaultPort;
                known = true;
            }
        if (!known)
            throw fail("the scheme '" + scheme + "' is not supported (http, socks4, socks4a, socks5 or socks5h)");
        url.erase(0, colon + 3);
    }
    if (const std::size_t slash = url.find('/'); slash != std::string::npos) {
        if (url.size() != slash + 1) throw fail("a proxy address has no path");
        url.pop_back();
    }
    if (const std::size_t at = url.rfind('@'); at != std::string::npos) {
        const std::string credentials = url.substr(0, at);
        url.erase(0, at + 1);
        const std::size_t colon = credentials.find(':');
        if (!PercentDecode(credentials.substr(0, colon), proxy.User) ||
            (colon != std::string::npos && !PercentDecode(credentials.substr(colon + 1), proxy.Password)))
            throw fail("a '%' in the user or password is not followed by two hexadecimal digits");
        if (proxy.User.empty()) throw fail("the user name is empty");
    }
    std::string port;
    if (!url.empty() && url[0] == '[') {
        const std::size_t close = url.find(']');
        if (close == std::string::npos) throw fail("the IPv6 address has no closing ']'");
        proxy.Host = url.substr(1, close - 1);
        const std::string after = url.substr(close + 1);
        if (!after.empty() && after[0] != ':') throw fail("unexpected text after the IPv6 address");
        if (!after.empty()) port = after.substr(1);
        if (after == ":") throw fail("the port is empty");
    } else {
        const std::size_t colon = url.find(':');
        proxy.Host = url.substr(0, colon);
        if (colon != std::string::npos) {
            port = url.substr(colon + 1);
            if (port.empty()) throw fail("the port is empty");
        }
    }
    if (proxy.Host.empty()) throw fail("the host is missing");
    if (proxy.Host.find_first_of(" \t@") != std::string::npos) throw fail("the host '" + proxy.Host + "' is not a host name");
    proxy.Port = defaultPort;
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            throw fail("the port '" + port + "' is not a number from 1 to 65535");
        proxy.Port = std::atoi(port.c_str());
        if (proxy.Port < 1 || proxy.Port > 65535) throw fail("the port '" + port + "' is not a number from 1 to 65535");
    }
    if ((proxy.Kind == TProxyKind::Socks4 || proxy.Kind == TProxyKind::Socks4a) && !proxy.Password.empty())
        throw fail("SOCKS 4 takes a user id but no password");
    if (proxy.IsSocks() && (proxy.User.size() > 255 || proxy.Password.size() > 255))
        throw fail("a SOCKS user name or password is at most 255 bytes long");
    return proxy;
}

TNoProxyList::TNoProxyList(const std::string& list) {
    std::string entry;
    const auto take = [&] {
        std::string e = LowerCase(entry);
        entry.clear();
        if (e.empty()) return;
        if (e == "*") {
            all_ = true;
            return;
        }
        if (e[0] == '[') {  // "[::1]" or "[::1]:port"
            e = e.substr(1, e.find(']') == std::string::npos ? std::string::npos : e.find(']') - 1);
        } else {
            if (e.rfind("*.", 0) == 0)
                e.erase(0, 2);
            else if (e[0] == '.')
                e.erase(0, 1);
            // A port is not compared. (An unbracketed IPv6 address keeps its colons.)
            if (const std::size_t colon = e.find(':'); colon != std::string::npos && e.rfind(':') == colon)
                e.erase(colon);
        }
        if (!e.empty()) entries_.push_back(e);
    };
    for (char c : list) {
        if (c == ',' || c == ' ' || c == '\t')
            take();
        else
            entry += c;
    }
    take();
}

bool TNoProxyList::Matches(const std::string& host) const {
    if (all_) return true;
    std::string h = CanonicalHost(host);
    while (!h.empty() && h.back() == '.') h.pop_back();  // "example.com." is example.com
    const bool address = IsIpAddress(h);
    for (const std::string& e : entries_) {
        if (h == e) return true;
        if (!address && h.size() > e.size() && h.compare(h.size() - e.size(), e.size(), e) == 0 &&
            h[h.size() - e.size() - 1] == '.')
            return true;
    }
    return false;
}

TProxy TProxySettings::For(const std::string& scheme, const std::string& host) const {
    const TEntry& entry = LowerCase(scheme) == "https" ? Https : Http;
    if (entry.Error.empty() && entry.Proxy.Kind == TProxyKind::None) return {};
    if (NoProxy.Matches(host)) return {};
    if (!entry.Error.empty()) throw EProxySetting(entry.Error);
    return entry.Proxy;
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

TProxySettings ResolveProxySettings(const std::optional<std::string>& cliProxy,
                                    const std::optional<std::string>& cliNoProxy, const std::string& iniProxy,
                                    const std::string& iniNoProxy, const TEnvironmentGetter& environment) {
    TProxySettings s;
    if (cliProxy) {
        s.Http = s.Https = EntryOf(*cliProxy, "--proxy");
    } else if (!iniProxy.empty()) {
        s.Http = s.Https = EntryOf(iniProxy, "[network] proxy");
    } else {
        const auto all = FirstOf(environment, {"all_proxy", "ALL_PROXY"});
        const auto http = FirstOf(environment, {"http_proxy"});
        const auto https = FirstOf(environment, {"https_proxy", "HTTPS_PROXY"});
        if (const auto& v = http ? http : all) s.Http = EntryOf(v->second, v->first);
        if (const auto& v = https ? https : all) s.Https = EntryOf(v->second, v->first);
    }
    if (cliNoProxy)
        s.NoProxy = TNoProxyList(*cliNoProxy);
    else if (!iniNoProxy.empty())
        s.NoProxy = TNoProxyList(iniNoProxy);
    else if (const auto v = FirstOf(environment, {"no_proxy", "NO_PROXY"}))
        s.NoProxy = TNoProxyList(v->second);
    return s;
}

namespace {

std::optional<TProxySettings>& Stored() {
    static std::optional<TProxySettings> s;
    return s;
}

}  // namespace

TProxySettings ResolveProcessProxySettings(const TSettingsFile& ini, const std::optional<std::string>& cliProxy,
                                           const std::optional<std::string>& cliNoProxy) {
    return ResolveProxySettings(cliProxy, cliNoProxy, ini.Value("network", "proxy"), ini.Value("network", "no-proxy"),
                                ProcessEnvironment);
}

const TProxySettings& CurrentProxySettings() {
    if (!Stored()) Stored() = ResolveProcessProxySettings(TSettingsFile::Read(), std::nullopt, std::nullopt);
    return *Stored();
}

void SetCurrentProxySettings(const TProxySettings& settings) { Stored() = settings; }
