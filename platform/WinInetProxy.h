#pragma once
// Proxy settings of an Internet session (private to the WinInet stand-in).
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace wininet {

struct ProxySettings {
    bool enabled = false;
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

}  // namespace wininet
