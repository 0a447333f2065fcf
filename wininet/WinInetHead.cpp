// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetHead.h"

#include <algorithm>
#include <cctype>

#include "base/SysUtils.h"

namespace wininet {

namespace {

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool StartsWithI(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && IEquals(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            if (i > start) lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

}  // namespace

std::string Base64(std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string EncodeTarget(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (path.empty() || path.front() != '/') out += '/';
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string AcceptRange(std::string_view entry) {
    if (StartsWithI(entry, "Accept:")) entry.remove_prefix(7);
    return Trim(entry);
}

std::string ComposeRequestHead(const RequestHeadInput& in) {
    std::string h = in.verb + " " + in.target + " " + in.version + "\r\n";
    h += "Host: " + in.host + "\r\n";
    if (!in.agent.empty()) h += "User-Agent: " + in.agent + "\r\n";
    std::string accept;
    for (const std::string& e : in.acceptTypes) {
        const std::string range = AcceptRange(e);
        if (range.empty()) continue;
        if (!accept.empty()) accept += ", ";
        accept += range;
    }
    if (!accept.empty()) h += "Accept: " + accept + "\r\n";
    if (!in.referrer.empty()) h += "Referer: " + in.referrer + "\r\n";
    if (!in.userName.empty()) h += "Authorization: Basic " + Base64(in.userName + ":" + in.password) + "\r\n";
    if (!in.proxyUserName.empty())
        h += "Proxy-Authorization: Basic " + Base64(in.proxyUserName + ":" + in.proxyPassword) + "\r\n";
    if (in.reload) h += "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    bool lengthGiven = false, connectionGiven = false;
    for (std::string_view line : SplitLines(in.extraHeaders)) {
        if (StartsWithI(line, "Content-Length:")) lengthGiven = true;
        if (StartsWithI(line, "Connection:")) connectionGiven = true;
        h.append(line);
        h += "\r\n";
    }
    if (in.hasBody && !lengthGiven) h += "Content-Length: " + std::to_string(in.bodyLength) + "\r\n";
    if (in.keepAlive && !connectionGiven) h += "Connection: Keep-Alive\r\n";
    h += "\r\n";
    return h;
}

const std::string* ResponseHead::Find(std::string_view name, std::size_t n) const {
    for (const auto& [key, value] : headers)
        if (IEquals(key, name) && n-- == 0) return &value;
    return nullptr;
}

std::size_t HeadEnd(std::string_view received) {
    // The head ends at the first line that is empty (LF LF or LF CR LF).
    for (std::size_t i = received.find('\n'); i != std::string_view::npos; i = received.find('\n', i + 1)) {
        if (i + 1 < received.size() && received[i + 1] == '\n') return i + 2;
        if (i + 2 < received.size() && received[i + 1] == '\r' && received[i + 2] == '\n') return i + 3;
    }
    return 0;
}

bool ParseResponseHead(std::string_view text, ResponseHead& out) {
    out = ResponseHead{};
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        lines.push_back(line);
        start = end + 1;
    }
    if (lines.empty()) return false;

    // "HTTP/x.y SSS reason"
    const std::string_view status = lines[0];
    if (!StartsWithI(status, "HTTP/")) return false;
    const std::size_t sp = status.find(' ');
    if (sp == std::string_view::npos || sp + 4 > status.size()) return false;
    for (std::size_t i = sp + 1; i < sp + 4; ++i)
        if (!std::isdigit(static_cast<unsigned char>(status[i]))) return false;
    if (sp + 4 < status.size() && status[sp + 4] != ' ') return false;
    out.version = std::string(status.substr(0, sp));
    out.status = (status[sp + 1] - '0') * 100 + (status[sp + 2] - '0') * 10 + (status[sp + 3] - '0');
    out.reason = sp + 5 <= status.size() ? Trim(status.substr(sp + 4)) : std::string();
    out.raw = std::string(status) + "\r\n";

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if ((line.front() == ' ' || line.front() == '\t') && !out.headers.empty()) {
            out.headers.back().second = Trim(out.headers.back().second + " " + Trim(line));
        } else {
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos || colon == 0) continue;  // not a header: skipped
            out.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
        }
        out.raw.append(line);
        out.raw += "\r\n";
    }
    return true;
}

bool StaysOpen(const ResponseHead& head) {
    bool close = false, keepAlive = false;
    for (const auto& [name, value] : head.headers) {
        if (!IEquals(name, "Connection") && !IEquals(name, "Proxy-Connection")) continue;
        std::size_t start = 0;
        while (start <= value.size()) {
            std::size_t comma = value.find(',', start);
            if (comma == std::string::npos) comma = value.size();
            const std::string token = Trim(std::string_view(value).substr(start, comma - start));
            if (IEquals(token, "close")) close = true;
            if (IEquals(token, "keep-alive")) keepAlive = true;
            start = comma + 1;
        }
    }
    if (close) return false;
    return keepAlive || IEquals(head.version, "HTTP/1.1");
}

bool ResolveLocation(std::string_view location, const Location& from, Location& to) {
    std::string loc = Trim(location);
    if (const std::size_t hash = loc.find('#'); hash != std::string::npos) loc.erase(hash);
    if (loc.empty()) return false;
    to.secure = from.secure;
    if (StartsWithI(loc, "http://")) {
        loc.erase(0, 5);  // keeps the "//" of a network-path reference
        to.secure = false;
    } else if (StartsWithI(loc, "https://")) {
        loc.erase(0, 6);
        to.secure = true;
    } else {
        const std::size_t colon = loc.find(':');
        const std::size_t slash = loc.find('/');
        if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return false;  // a scheme
    }
    if (loc.rfind("//", 0) == 0) {
        std::string authority = loc.substr(2);
        const std::size_t end = authority.find_first_of("/?");
        std::string path = end == std::string::npos ? "/" : authority.substr(end);
        authority.erase(std::min(end, authority.size()));
        if (const std::size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
        to.port = to.secure ? 443 : 80;
        const std::size_t colon = authority.rfind(':');
        if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
            const std::string port = authority.substr(colon + 1);
            authority.erase(colon);
            if (!port.empty()) {
                if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
                const unsigned long value = std::stoul(port);
                if (value == 0 || value > 65535) return false;
                to.port = static_cast<std::uint16_t>(value);
            }
        }
        if (authority.empty()) return false;
        to.server = authority;
        to.target = EncodeTarget(path);
        return true;
    }
    to.server = from.server;
    to.port = from.port;
    if (loc.front() == '/') {
        to.target = EncodeTarget(loc);
        return true;
    }
    std::string folder = from.target.substr(0, from.target.find('?'));
    folder.erase(folder.rfind('/') + 1);
    to.target = EncodeTarget(folder + loc);
    return true;
}

std::optional<std::uint64_t> ParseContentLength(std::string_view value) {
    const std::string v = Trim(value);
    if (v.empty() || v.size() > 18 || v.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoull(v);
}

}  // namespace wininet
