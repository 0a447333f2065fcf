// SPDX-License-Identifier: Apache-2.0
#include "fetcher/HTTPGetUrl.h"

#include "base/SysUtils.h"

void SplitHostAndPath(const std::string& url, std::string& host, std::string& path) {
    std::string rest = url;
    // The scheme is not located, only detected: what is dropped is always the start.
    if (LowerCase(rest).find("http://") != std::string::npos) rest.erase(0, 7);
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        host.clear();
        path = rest;
        return;
    }
    host = rest.substr(0, slash);  // the "/" that ends it is left out
    path = rest.substr(slash);
}

namespace {

// Takes a ":port" off the end of authority (not inside "[v6]", not from a bare IPv6
// address) into port; a port that is not a number from 1 to 65535 empties authority.
void SplitPort(std::string& authority, unsigned short& port) {
    const std::size_t colon = authority.rfind(':');
    if (colon == std::string::npos || authority.find(']', colon) != std::string::npos) return;
    if (authority.front() != '[' && authority.find(':') != colon) return;  // a bare IPv6 address
    const std::string digits = authority.substr(colon + 1);
    authority.erase(colon);
    const bool ok = !digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long value = ok ? std::stoul(digits) : 0;
    if (value == 0 || value > 65535) authority.clear();  // fails as an address without a host
    port = static_cast<unsigned short>(value);
}

}  // namespace

TFetchTarget SplitFetchTarget(const std::string& url) {
    TFetchTarget t;
    if (LowerCase(url.substr(0, 8)) != "https://") {
        SplitHostAndPath(url, t.Host, t.Path);
        if (!t.Host.empty()) SplitPort(t.Host, t.Port);
        return t;
    }
    t.Scheme = 4;
    t.Port = 443;
    std::string rest = url.substr(8);
    if (const std::size_t hash = rest.find('#'); hash != std::string::npos) rest.erase(hash);
    const std::size_t end = rest.find_first_of("/?");
    std::string authority = rest.substr(0, end);
    t.Path = end == std::string::npos ? "/" : rest.substr(end);
    if (t.Path.front() == '?') t.Path.insert(0, 1, '/');
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty()) SplitPort(authority, t.Port);
    t.Host = authority;
    return t;
}
