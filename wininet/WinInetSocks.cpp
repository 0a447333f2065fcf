// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetSocks.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "wininet/WinInet.h"
#include "wininet/WinInetLookup.h"

namespace wininet {

namespace {

// Exactly n bytes, or the connection's error (CONNECTION_ABORTED when it ended first).
DWORD ReceiveExact(int fd, std::string& into, std::size_t n, DWORD timeoutMs) {
    into.assign(n, '\0');
    std::size_t have = 0;
    while (have < n) {
        std::size_t got = 0;
        if (const DWORD err = ReceiveSome(fd, into.data() + have, n - have, timeoutMs, got)) return err;
        if (got == 0) return ERROR_INTERNET_CONNECTION_ABORTED;
        have += got;
    }
    return 0;
}

std::string PortBytes(WORD port) { return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)}; }

// The first address of host of the family asked for (AF_UNSPEC: any) as raw bytes.
DWORD LocalAddress(SocketSlot& slot, const std::string& host, WORD port, int family, std::string& bytes, int& found) {
    AddressList list;
    if (const DWORD err = Resolve(host, port, slot, list)) return err;
    for (const addrinfo* a = list.get(); a; a = a->ai_next) {
        if (family != AF_UNSPEC && a->ai_family != family) continue;
        found = a->ai_family;
        if (a->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            bytes.assign(reinterpret_cast<const char*>(&in->sin_addr), 4);
        } else {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            bytes.assign(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
        }
        return 0;
    }
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
}

std::string Unbracketed(const std::string& host) {
    return host.size() >= 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
}

DWORD Socks4(SocketSlot& slot, const ProxySettings& proxy, const std::string& host, WORD port, DWORD timeoutMs,
             std::string& why) {
    const std::string name = proxy.describe;
    std::string address = std::string("\0\0\0\1", 4);  // 4A: "ask the proxy to resolve"
    if (proxy.kind == ProxyKind::Socks4) {
        int family = 0;
        if (const DWORD err = LocalAddress(slot, host, port, AF_INET, address, family)) {
            if (err == ERROR_INTERNET_NAME_NOT_RESOLVED) why = "SOCKS 4 needs an IPv4 address of " + host;
            return err;
        }
    }
    std::string out = std::string("\x04\x01", 2) + PortBytes(port) + address + proxy.userName + '\0';
    if (proxy.kind == ProxyKind::Socks4a) out += Unbracketed(host) + '\0';
    const int fd = slot.Get();
    if (const DWORD err = SendAll(fd, out.data(), out.size(), timeoutMs)) return err;
    std::string reply;
    if (const DWORD err = ReceiveExact(fd, reply, 8, timeoutMs)) {
        why = "the SOCKS proxy " + name + " closed the connection during its handshake";
        return err == ERROR_INTERNET_CONNECTION_ABORTED ? ERROR_INTERNET_CANNOT_CONNECT : err;
    }
    if (reply[0] != 0 || static_cast<unsigned char>(reply[1]) != 90) {
        why = "the SOCKS proxy " + name + " refused the connection to " + host + ":" + std::to_string(port) +
              " (SOCKS 4 reply " + std::to_string(static_cast<unsigned char>(reply[1])) + ")";
        return ERROR_INTERNET_CANNOT_CONNECT;
    }
    return 0;
}

std::string Socks5ReplyText(unsigned char code) {
    switch (code) {
        case 1: return "general failure";
        case 2: return "not allowed by its rules";
        case 3: return "network unreachable";
        case 4: return "host unreachable";
        case 5: return "connection refused";
        case 6: return "time to live expired";
        case 7: return "command not supported";
        case 8: return "address type not supported";
        default: return "reply " + std::to_string(code);
    }
}

DWORD Socks5(SocketSlot& slot, const ProxySettings& proxy, const std::string& host, WORD port, DWORD timeoutMs,
             std::string& why) {
    const std::string name = proxy.describe;
    const int fd = slot.Get();
    const bool withPassword = !proxy.userName.empty();
    const std::string hello = withPassword ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3);
    if (const DWORD err = SendAll(fd, hello.data(), hello.size(), timeoutMs)) return err;
    std::string reply;
    const auto ended = [&](DWORD err) {
        why = "the SOCKS proxy " + name + " closed the connection during its handshake";
        return err == ERROR_INTERNET_CONNECTION_ABORTED ? ERROR_INTERNET_CANNOT_CONNECT : err;
    };
    if (const DWORD err = ReceiveExact(fd, reply, 2, timeoutMs)) return ended(err);
    if (reply[0] != 5) {
        why = "the proxy " + name + " does not answer as a SOCKS 5 proxy";
        return ERROR_INTERNET_CANNOT_CONNECT;
    }
    const unsigned char method = static_cast<unsigned char>(reply[1]);
    if (method == 2 && withPassword) {
        if (proxy.userName.size() > 255 || proxy.password.size() > 255) {
            why = "the user name or password for the SOCKS proxy " + name + " is longer than 255 bytes";
            return ERROR_INTERNET_CANNOT_CONNECT;
        }
        const std::string auth = std::string(1, '\x01') + static_cast<char>(proxy.userName.size()) + proxy.userName +
                                 static_cast<char>(proxy.password.size()) + proxy.password;
        if (const DWORD err = SendAll(fd, auth.data(), auth.size(), timeoutMs)) return err;
        if (const DWORD err = ReceiveExact(fd, reply, 2, timeoutMs)) return ended(err);
        if (reply[1] != 0) {
            why = "the SOCKS proxy " + name + " refused the authentication (user name and password)";
            return ERROR_INTERNET_CANNOT_CONNECT;
        }
    } else if (method != 0) {
        why = method == 0xFF || method == 2 ? "the SOCKS proxy " + name + " requires authentication (user name and password)"
                                            : "the SOCKS proxy " + name + " chose an unknown method";
        return ERROR_INTERNET_CANNOT_CONNECT;
    }
    std::string target;
    const std::string bare = Unbracketed(host);
    if (proxy.kind == ProxyKind::Socks5h) {
        if (bare.size() > 255) {
            why = "the host name is too long for SOCKS 5: " + bare;
            return ERROR_INTERNET_CANNOT_CONNECT;
        }
        target = std::string(1, '\x03') + static_cast<char>(bare.size()) + bare;
    } else {
        std::string bytes;
        int family = 0;
        if (const DWORD err = LocalAddress(slot, host, port, AF_UNSPEC, bytes, family)) return err;
        target = std::string(1, family == AF_INET ? '\x01' : '\x04') + bytes;
    }
    const std::string request = std::string("\x05\x01\x00", 3) + target + PortBytes(port);
    if (const DWORD err = SendAll(fd, request.data(), request.size(), timeoutMs)) return err;
    if (const DWORD err = ReceiveExact(fd, reply, 4, timeoutMs)) return ended(err);
    if (reply[1] != 0) {
        why = "the SOCKS proxy " + name + " could not reach " + host + ":" + std::to_string(port) + ": " +
              Socks5ReplyText(static_cast<unsigned char>(reply[1]));
        return ERROR_INTERNET_CANNOT_CONNECT;
    }
    // The bound address that follows is of no use here, but must be read off the stream.
    std::size_t rest = 0;
    switch (reply[3]) {
        case 1: rest = 4 + 2; break;
        case 4: rest = 16 + 2; break;
        case 3: {
            std::string length;
            if (const DWORD err = ReceiveExact(fd, length, 1, timeoutMs)) return ended(err);
            rest = static_cast<unsigned char>(length[0]) + 2u;
            break;
        }
        default:
            why = "the proxy " + name + " does not answer as a SOCKS 5 proxy";
            return ERROR_INTERNET_CANNOT_CONNECT;
    }
    std::string bound;
    if (const DWORD err = ReceiveExact(fd, bound, rest, timeoutMs)) return ended(err);
    return 0;
}

}  // namespace

DWORD SocksConnect(SocketSlot& slot, const ProxySettings& proxy, const std::string& host, WORD port, DWORD timeoutMs,
                   std::string& why) {
    switch (proxy.kind) {
        case ProxyKind::Socks4:
        case ProxyKind::Socks4a: return Socks4(slot, proxy, host, port, timeoutMs, why);
        case ProxyKind::Socks5:
        case ProxyKind::Socks5h: return Socks5(slot, proxy, host, port, timeoutMs, why);
        default: return 0;
    }
}

}  // namespace wininet
