// SPDX-License-Identifier: Apache-2.0
#include "socket/WSocketResolve.h"

#include <climits>
#include <cstring>

#include "base/SysUtils.h"
#include "socket/WSocketAddress.h"
#include "socket/WSocketErrors.h"
#include "socket/WSocketFamily.h"
#include "socket/WSocketWinsock.h"

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool IsDottedIPv4(const std::string& S) {
    std::size_t i = 0;
    const std::size_t n = S.size();
    while (i < n && S[i] == ' ') ++i;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (i >= n || S[i] != '.') return false;
            ++i;
        }
        if (i >= n || !IsDigit(S[i])) return false;  // no empty group, no leading or doubled dot
        int value = 0;
        while (i < n && IsDigit(S[i])) {
            value = value * 10 + (S[i] - '0');
            if (value > 255) return false;
            ++i;
        }
    }
    while (i < n && S[i] == ' ') ++i;
    return i == n;
}

int ParseLeadingDecimal(const std::string& S) {
    std::size_t i = 0;
    while (i < S.size() && S[i] == ' ') ++i;
    long long value = 0;
    for (; i < S.size() && IsDigit(S[i]); ++i) {
        value = value * 10 + (S[i] - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

std::uint32_t WSocketResolveHost(const std::string& Host) {
    if (Host.empty() || Host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
    const std::string name = Trim(Host);
    if (IsDottedIPv4(Host)) {
        const std::uint32_t addr = WSocket_inet_addr(name.c_str());
        if (addr == WS_INADDR_NONE && name != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid IP address.");
        return addr;
    }
    const THostEnt* he = WSocket_gethostbyname(name.c_str());
    if (!he || !he->h_addr_list || !he->h_addr_list[0])
        throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                      Host.c_str(), WSocket_WSAGetLastError()));
    std::uint32_t addr;
    std::memcpy(&addr, he->h_addr_list[0], 4);
    return addr;
}

std::vector<std::string> WSocketResolveHostList(const std::string& Host) {
    if (Host.empty() || Host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
    const std::string name = UnbracketHost(Trim(Host));
    TSockAddrStorage sa;
    int len = 0;
    if (MakeSockAddr(name, 0, sa, len)) return {SockAddrText(sa)};
    const THostEnt* he = WSocket_gethostbyname2(name.c_str(), WSocketLookupFamily());
    if (!he || !he->h_addr_list || !he->h_addr_list[0])
        throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                      Host.c_str(), WSocket_WSAGetLastError()));
    std::vector<std::string> list;
    for (int i = 0; he->h_addr_list[i]; ++i) list.push_back(HostEntAddrText(*he, i));
    return list;
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto) {
    if (Port.empty() || Port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (IsDigit(Port[0])) {
        const int value = ParseLeadingDecimal(Port);
        if (value > 65535) throw ERangeError();
        return static_cast<std::uint16_t>(value);
    }
    const std::string name = Trim(Port), proto = Trim(Proto);
    const TServEnt* se = WSocket_getservbyname(name.c_str(), proto.empty() ? nullptr : proto.c_str());
    if (!se)
        throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", Port.c_str(),
                                      WSocket_WSAGetLastError()));
    return WSocket_ntohs(static_cast<std::uint16_t>(se->s_port));
}

int WSocketResolveProto(const std::string& Proto) {
    if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string name = Trim(Proto);
    if (!name.empty() && IsDigit(name[0])) return ParseLeadingDecimal(name);
    const TProtoEnt* pe = WSocket_getprotobyname(name.c_str());
    if (!pe)
        throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                                      Proto.c_str(), WSocket_WSAGetLastError()));
    return pe->p_proto;
}
