// SPDX-License-Identifier: Apache-2.0
#pragma once
// Proxy settings of an Internet session (private to the WinInet stand-in).
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace wininet {

enum class ProxyKind { Http, Socks4, Socks4a, Socks5, Socks5h };

struct ProxySettings {
    bool enabled = false;
    ProxyKind kind = ProxyKind::Http;
    bool system = false;              // INTERNET_OPEN_TYPE_PRECONFIG: asks InternetSetSystemProxy's function
    std::string describe;             // "socks5://host:port" for messages (no credentials)
    std::string host;
    WORD port = 80;
    std::string userName, password;
    std::vector<std::string> bypass;  // lower case, without leading "*." or "."
    bool bypassLocal = false;         // "<local>": names without a dot go direct
};

// From http_proxy and no_proxy (NO_PROXY). Unusable or non-http proxies give none.
ProxySettings ProxyFromEnvironment();
// From an explicit proxy text ("[http://][user:password@]host[:port]") and bypass list
// (entries separated by ';', ',' or blanks, "<local>" for names without a dot).
ProxySettings ProxyFromText(const std::string& proxy, const std::string& bypass);

// Whether a request to host (no port) goes through the proxy.
bool UsesProxy(const ProxySettings& proxy, const std::string& host);

// The proxy of one request to server: the session's, or for a session that follows the
// system's setting, what the function given to InternetSetSystemProxy answers (an enabled
// result always applies; bypass lists are that function's business). False with why when
// that setting cannot be used.
bool ProxyForRequest(const ProxySettings& session, bool secure, const std::string& server, ProxySettings& out,
                     std::string& why);

}  // namespace wininet
