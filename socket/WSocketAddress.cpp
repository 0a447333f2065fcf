// SPDX-License-Identifier: Apache-2.0
#include "socket/WSocketAddress.h"

#include <cstring>

#include "base/SysUtils.h"
#include "socket/WSocketResolve.h"
#include "socket/WSocketWinsock.h"

namespace {
const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
}  // namespace

std::string UnbracketHost(const std::string& S) {
    if (S.size() >= 2 && S.front() == '[' && S.back() == ']') return S.substr(1, S.size() - 2);
    return S;
}

bool IsIPv6Address(const std::string& S) {
    const std::string text = UnbracketHost(Trim(S));
    if (text.find(':') == std::string::npos) return false;
    unsigned char b[16];
    return WSocket_inet_pton(WS_AF_INET6, text.c_str(), b) == 1;
}

bool MakeSockAddr(const std::string& Text, std::uint16_t PortNet, TSockAddrStorage& Out, int& Len) {
    Out = TSockAddrStorage{};
    const std::string text = UnbracketHost(Trim(Text));
    if (IsDottedIPv4(text)) {
        TSockAddrIn in{};
        in.sin_family = WS_AF_INET;
        in.sin_port = PortNet;
        in.sin_addr.S_addr = WSocket_inet_addr(text.c_str());
        std::memcpy(&Out, &in, sizeof in);
        Len = sizeof in;
        return true;
    }
    TSockAddrIn6 in6{};
    if (text.find(':') == std::string::npos || WSocket_inet_pton(WS_AF_INET6, text.c_str(), in6.sin6_addr) != 1)
        return false;
    in6.sin6_family = WS_AF_INET6;
    in6.sin6_port = PortNet;
    std::memcpy(&Out, &in6, sizeof in6);
    Len = sizeof in6;
    return true;
}

std::string SockAddrText(const TSockAddrStorage& Addr) {
    if (Addr.ss_family == WS_AF_INET) {
        TSockAddrIn in;
        std::memcpy(&in, &Addr, sizeof in);
        return WSocket_inet_ntoa(in.sin_addr);
    }
    if (Addr.ss_family == WS_AF_INET6) {
        TSockAddrIn6 in6;
        std::memcpy(&in6, &Addr, sizeof in6);
        return WSocket_inet_ntop(WS_AF_INET6, in6.sin6_addr);
    }
    return {};
}

std::uint16_t SockAddrPort(const TSockAddrStorage& Addr) {
    std::uint16_t port;
    std::memcpy(&port, reinterpret_cast<const char*>(&Addr) + 2, 2);  // same place in both records
    return port;
}

std::string HostEntAddrText(const THostEnt& Host, int i) {
    const char* a = Host.h_addr_list[i];
    if (Host.h_addrtype == WS_AF_INET6 && Host.h_length == 16) {
        if (std::memcmp(a, kMappedPrefix, 12) != 0) return WSocket_inet_ntop(WS_AF_INET6, a);
        a += 12;
    }
    TInAddr in;
    std::memcpy(&in.S_addr, a, 4);
    return WSocket_inet_ntoa(in);
}
