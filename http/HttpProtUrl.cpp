// SPDX-License-Identifier: Apache-2.0
#include "http/HttpProtUrl.h"

#include "base/SysUtils.h"
#include "base/UrlText.h"

namespace {

// The base cut after its last "/", or "/" when it has none.
std::string CutAfterLastSlash(const std::string& base) {
    const std::size_t slash = base.rfind('/');
    return slash == std::string::npos ? std::string("/") : base.substr(0, slash + 1);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void SplitUrl(const std::string& url, std::string& protocol, std::string& user, std::string& password,
              std::string& host, std::string& port, std::string& path) {
    const std::string base = path;
    protocol.clear();
    user.clear();
    password.clear();
    host.clear();
    port.clear();
    path.clear();
    if (url.empty()) return;

    if (StartsWith(url, "./")) {
        path = CutAfterLastSlash(base) + url.substr(2);
        return;
    }
    if (StartsWith(url, "../")) {
        std::string dir = CutAfterLastSlash(base);
        std::string rest = url.substr(3);
        for (;;) {
            // One level up: drop the final "/" and cut again.
            if (!dir.empty() && dir.back() == '/') dir.pop_back();
            dir = CutAfterLastSlash(dir);
            if (!StartsWith(rest, "../")) break;
            rest.erase(0, 3);
        }
        path = dir + rest;
        return;
    }

    std::size_t start;
    const std::size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        protocol = url.substr(0, scheme);
        start = scheme + 3;
    } else if (url[0] == '/') {
        protocol = "http";
        if (url.size() > 1 && url[1] != '/') {
            path = url;
            return;
        }
        start = 2;
    } else if (LowerCase(url.substr(0, 5)) == "http:") {
        protocol = "http";
        if (url.size() > 6 && url[6] != '/') {
            path = url.substr(5);
            return;
        }
        start = 6;
    } else if (LowerCase(url.substr(0, 7)) == "mailto:") {
        protocol = "mailto";
        start = url.find(':') + 1;
    } else {
        start = 0;
    }
    if (start > url.size()) start = url.size();

    const std::size_t end = url.find_first_of("/?", start);
    const std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos) path = url.substr(end);

    std::size_t colon = authority.rfind(':');
    const std::size_t at = authority.rfind('@');
    // A colon inside a bracketed IPv6 address ("[::1]") is no port separator.
    const std::size_t close = authority.rfind(']');
    if (colon != std::string::npos && close != std::string::npos && colon < close &&
        (at == std::string::npos || close > at))
        colon = std::string::npos;
    if (colon == std::string::npos && at == std::string::npos) {
        host = authority;
        return;
    }
    if (colon != std::string::npos && (at == std::string::npos || colon > at)) {
        port = authority.substr(colon + 1);
        const std::size_t hostStart = at == std::string::npos ? 0 : at + 1;
        host = authority.substr(hostStart, colon - hostStart);
        if (at == std::string::npos) return;
    } else {
        host = authority.substr(at + 1);
    }
    const std::string userInfo = authority.substr(0, at);
    const std::size_t sep = userInfo.find(':');
    if (sep == std::string::npos) {
        user = userInfo;
    } else {
        user = userInfo.substr(0, sep);
        password = userInfo.substr(sep + 1);
    }
}

std::string DocFileNameOf(const std::string& path) {
    std::string name = path.substr(0, path.find('?'));
    if (name.empty() || name == "/") return "document.htm";
    if (name.back() == '/') name.pop_back();
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    if (name.size() > 255) name.resize(255);
    return name.substr(0, name.find('?'));
}

std::string HtmlNameForExe(const std::string& docFileName, const std::string& contentType) {
    const std::size_t dot = docFileName.rfind('.');
    if (dot == std::string::npos || LowerCase(docFileName.substr(dot)) != ".exe" || contentType != "text/html")
        return docFileName;
    return docFileName.substr(0, dot + 1) + "htm";
}

bool IsTlsProtocol(const std::string& protocol) { return LowerCase(protocol) == "https"; }

std::string DefaultPortOf(const std::string& protocol) { return IsTlsProtocol(protocol) ? "443" : "80"; }

std::string RequestTargetOf(const std::string& path) {
    std::string target = EncodeRequestTarget(path);
    if (!target.empty() && target[0] == '?') target.insert(0, 1, '/');
    return target;
}

std::string RefusedAddressText(const std::string& address) {
    return "refused the address " + PrintableAddress(address) + ": it holds a line break (CR or LF) or a NUL byte";
}
