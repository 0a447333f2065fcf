// SPDX-License-Identifier: Apache-2.0
// Opening a session: Connect, Listen, Accept and Dup, with binding and socket options.
#include <cstring>

#include "base/SysUtils.h"
#include "socket/WSocketCore.h"
#include "socket/WSocketFamily.h"

namespace {

// Every option value goes to the system as 4 bytes; on is all bits set.
int SetIntOption(SOCKET s, int level, int name, int value) {
    return WSocket_setsockopt(s, level, name, reinterpret_cast<const char*>(&value), 4);
}

}  // namespace

bool TCustomWSocket::ResolveSession(bool withLocalPort, const char* reportPrefix) {
    try {
        if (!ProtoResolved) {
            ProtocolNumber = WSocketResolveProto(FProto);
            SocketType = ProtocolNumber == WS_IPPROTO_UDP ? WS_SOCK_DGRAM : WS_SOCK_STREAM;
            ProtoResolved = true;
        }
        if (!PortResolved) {
            PortNumber = WSocketResolvePort(FPort, FProto);
            // (an address resolved before keeps its records: they take the new port)
            PeerSockAddr.sin_port = PeerSockAddr6.sin6_port = RacePortNet = WSocket_htons(PortNumber);
            PortResolved = true;
        }
        if (withLocalPort && !LocalPortResolved) {
            LocalPortNumber = WSocketResolvePort(FLocalPort, FProto);
            LocalPortResolved = true;
        }
        if (!AddrResolved) {
            ResolvePeerAddress(FAddr, WSocket_htons(PortNumber),
                               !FAddrList.empty() && FAddrList[0] == FAddr ? FAddrList : std::vector<std::string>{});
            AddrResolved = true;
        }
        return true;
    } catch (const Exception& E) {
        ReportError(reportPrefix + E.Message());
        return false;
    }
}

void TCustomWSocket::Connect() {
    if (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!PortAssigned) {
        ReportError("Connect: No Port Specified");
        return;
    }
    if (!AddrAssigned) {
        ReportError("Connect: No IP Address Specified");
        return;
    }
    if (!ProtoAssigned) {
        ReportError("Connect: No Protocol Specified");
        return;
    }
    if (!ResolveSession(true, "connect: ")) return;

    ClearSendQueue();
    if (SocketType == WS_SOCK_STREAM && RaceAddrs.size() > 1) {
        std::vector<TWSocketEyeballs::TCandidate> candidates;
        for (const std::string& a : RaceAddrs) {
            TWSocketEyeballs::TCandidate c;
            if (MakeSockAddr(a, RacePortNet, c.Addr, c.Len)) candidates.push_back(c);
        }
        SelectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
        Eyeballs = std::make_unique<TWSocketEyeballs>(NotifyWindow, MSG_EYEBALLS_EVENT, std::move(candidates),
                                                      [this](int Family) { return OpenRaceHandle(Family); });
        ChangeState(wsOpened);
        const TWSocketEyeballs::TOutcome outcome = Eyeballs->Start();
        ChangeState(wsConnecting);
        if (outcome != TWSocketEyeballs::roPending) EyeballsDecided(outcome);
        return;
    }
    SocketHandle = WSocket_socket(AddressFamily, SocketType, ProtocolNumber);
    if (SocketHandle == INVALID_SOCKET) {
        ReportSocketError("Connect (socket)");
        return;
    }
    ChangeState(wsOpened);

    if (SocketType == WS_SOCK_DGRAM) {
        BindSocket();
        if (MultiCast && MultiCastIpTTL != 1) {
            const int ttl = MultiCastIpTTL;
            if (WinsockLinkedSetSockOpt(SocketHandle, WS_IPPROTO_IP, WS_IP_MULTICAST_TTL,
                                        reinterpret_cast<const char*>(&ttl), 4) == SOCKET_ERROR) {
                ReportSocketError("setsockopt(IP_MULTICAST_TTL)");
                return;
            }
        }
        if (AddressFamily == WS_AF_INET && PeerSockAddr.sin_addr.S_addr == WS_INADDR_NONE &&
            SetIntOption(SocketHandle, WS_SOL_SOCKET, WS_SO_BROADCAST, 1) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_BROADCAST)");
            return;
        }
    } else {
        if (SetIntOption(SocketHandle, WS_SOL_SOCKET, WS_SO_REUSEADDR, -1) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
        if (ComponentOptions.Contains(wsoTcpNoDelay) &&
            SetIntOption(SocketHandle, WS_IPPROTO_TCP, WS_TCP_NODELAY, -1) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
            return;
        }
        ApplyLinger();
        if (SetIntOption(SocketHandle, WS_SOL_SOCKET, WS_SO_KEEPALIVE, -1) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (LocalPortNumber != 0 || FLocalAddr != "0.0.0.0") BindSocket();
    }

    SelectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    if (WSocket_WSAAsyncSelect(SocketHandle, NotifyWindow, MSG_SOCKET_EVENT, SelectMask) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }

    if (SocketType == WS_SOCK_DGRAM) {
        ChangeState(wsConnected);
        FireSessionConnected(0);
        return;
    }
    int peerLen = 0;
    const TSockAddr* peer = PeerName(peerLen);
    if (WSocket_connect(SocketHandle, peer, peerLen) == 0 ||
        WSocket_WSAGetLastError() == WSAEWOULDBLOCK) {
        ChangeState(wsConnecting);
        return;
    }
    FLastError = WSocket_WSAGetLastError();
    ReportSocketError("Connect");
}

void TCustomWSocket::Listen() {
    const char* missing = !PortAssigned    ? "listen: port not assigned"
                          : !ProtoAssigned ? "listen: protocol not assigned"
                          : !AddrAssigned  ? "listen: address not assigned"
                                           : nullptr;
    if (missing) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError(missing);
        return;
    }
    if (!ResolveSession(false, "listen: ")) return;

    ClearSendQueue();
    SocketHandle = WSocket_socket(AddressFamily, SocketType, ProtocolNumber);
    if (SocketHandle == INVALID_SOCKET) {
        ReportSocketError("socket");
        return;
    }
    // The handle exists from here on: wsOpened lets a failed bind's Close release it.
    ChangeState(wsOpened);

    if (SocketType == WS_SOCK_DGRAM && ReuseAddr &&
        SetIntOption(SocketHandle, WS_SOL_SOCKET, WS_SO_REUSEADDR, -1) == SOCKET_ERROR) {
        ReportSocketError("setsockopt(SO_REUSEADDR)");
        return;
    }
    int bindLen = 0;
    const TSockAddr* bindAddr = PeerName(bindLen);
    if (WSocket_bind(SocketHandle, bindAddr, bindLen) == SOCKET_ERROR) {
        // The socket is closed after the report also when the report raises.
        try {
            ReportSocketError("Bind");
        } catch (...) {
            Close();
            throw;
        }
        Close();
        return;
    }
    ChangeState(wsBound);

    if (SocketType == WS_SOCK_DGRAM && MultiCast) {
        TIpMreq request{};
        request.imr_multiaddr.S_addr = WinsockLinkedInetAddr(MultiCastAddrStr.c_str());
        request.imr_interface.S_addr = WinsockLinkedHtonl(WS_INADDR_ANY);
        if (WinsockLinkedSetSockOpt(SocketHandle, WS_IPPROTO_IP, WS_IP_ADD_MEMBERSHIP,
                                    reinterpret_cast<const char*>(&request), sizeof request) == SOCKET_ERROR) {
            ReportSocketError("setsockopt(IP MULTICAST)");
            return;
        }
    }

    if (SocketType == WS_SOCK_DGRAM) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        FireSessionConnected(0);
        if (SocketHandle == INVALID_SOCKET) return;  // the handler closed it
    } else {
        if (WSocket_listen(SocketHandle, 5) == SOCKET_ERROR) {
            ReportSocketError("Listen");
            return;
        }
        ChangeState(wsListening);
    }

    SelectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
    if (WSocket_WSAAsyncSelect(SocketHandle, NotifyWindow, MSG_SOCKET_EVENT, SelectMask) == SOCKET_ERROR)
        ReportSocketError("WSAASyncSelect");
}

SOCKET TCustomWSocket::Accept() {
    if (FState != wsListening) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    TSockAddrStorage from{};
    int len = sizeof from;
    AcceptedHandle = WSocket_accept(SocketHandle, reinterpret_cast<TSockAddr*>(&from), &len);
    if (AcceptedHandle == INVALID_SOCKET) {
        ReportSocketError("Accept");
        return INVALID_SOCKET;
    }
    if (from.ss_family == WS_AF_INET6)
        std::memcpy(&PeerSockAddr6, &from, sizeof PeerSockAddr6);
    else
        std::memcpy(&PeerSockAddr, &from, sizeof PeerSockAddr);
    return AcceptedHandle;
}

void TCustomWSocket::Dup(SOCKET NewHandle) {
    if (NewHandle == 0 || NewHandle == INVALID_SOCKET) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError("Dup");
        return;
    }
    if (FState != wsClosed) {
        const int rc = WSocket_closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        if (rc == SOCKET_ERROR) {
            ReportSocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
    }
    SocketHandle = NewHandle;
    ApplyLinger();
    SelectMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
    if (WSocket_WSAAsyncSelect(SocketHandle, NotifyWindow, MSG_SOCKET_EVENT, SelectMask) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    ChangeState(wsConnected);
}

void TCustomWSocket::BindSocket() {
    if (AddressFamily == WS_AF_INET6) {
        TSockAddrStorage local6{};
        int len6 = 0;
        if (!MakeSockAddr(FLocalAddr == "0.0.0.0" ? "::" : FLocalAddr, WSocket_htons(LocalPortNumber), local6, len6) ||
            local6.ss_family != WS_AF_INET6) {
            ReportErrorFmt("winsock.bind failed, error #%d", WSAEAFNOSUPPORT);
            return;
        }
        if (WSocket_bind(SocketHandle, reinterpret_cast<const TSockAddr*>(&local6), len6) == SOCKET_ERROR ||
            WSocket_getsockname(SocketHandle, reinterpret_cast<TSockAddr*>(&local6), &len6) == SOCKET_ERROR) {
            ReportErrorFmt("winsock.bind failed, error #%d", WSocket_WSAGetLastError());
            return;
        }
        LocalPortNumber = WSocket_ntohs(SockAddrPort(local6));
        FLocalPort = IntToStr(LocalPortNumber);
        return;
    }
    TSockAddrIn local{};
    local.sin_family = WS_AF_INET;
    local.sin_port = WSocket_htons(LocalPortNumber);
    local.sin_addr.S_addr = WSocketResolveHost(FLocalAddr);
    if (WSocket_bind(SocketHandle, reinterpret_cast<const TSockAddr*>(&local), sizeof local) == SOCKET_ERROR) {
        ReportErrorFmt("winsock.bind failed, error #%d", WSocket_WSAGetLastError());
        return;
    }
    int len = sizeof local;
    if (WSocket_getsockname(SocketHandle, reinterpret_cast<TSockAddr*>(&local), &len) == SOCKET_ERROR) {
        ReportErrorFmt("winsock.getsockname failed, error #%d", WSocket_WSAGetLastError());
        return;
    }
    LocalPortNumber = WSocket_ntohs(local.sin_port);
    FLocalPort = IntToStr(LocalPortNumber);
}

void TCustomWSocket::ApplyLinger() {
    if (LingerOnOff == wsLingerNoSet) return;
    if (SocketHandle == INVALID_SOCKET) {
        ReportError("Cannot set linger option at this time");
        return;
    }
    TLinger linger{};
    linger.l_onoff = LingerOnOff == wsLingerOff ? 0 : 1;
    // The record holds 16 bits; a time outside 0..65535 is clamped into it.
    linger.l_linger = static_cast<std::uint16_t>(LingerTimeout < 0 ? 0 : LingerTimeout > 65535 ? 65535 : LingerTimeout);
    if (WSocket_setsockopt(SocketHandle, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<const char*>(&linger),
                           sizeof linger) == SOCKET_ERROR)
        ReportSocketError("setsockopt(SO_LINGER)");
}

// ---- addresses of either family and the connect race ------------------------------------------

const TSockAddr* TCustomWSocket::PeerName(int& Len) const {
    if (AddressFamily == WS_AF_INET6) {
        Len = sizeof PeerSockAddr6;
        return reinterpret_cast<const TSockAddr*>(&PeerSockAddr6);
    }
    Len = sizeof PeerSockAddr;
    return reinterpret_cast<const TSockAddr*>(&PeerSockAddr);
}

void TCustomWSocket::ResolvePeerAddress(const std::string& Host, std::uint16_t PortNet,
                                        const std::vector<std::string>& Given) {
    RaceAddrs.clear();
    RacePortNet = PortNet;
    AddressFamily = WS_AF_INET;
    PeerSockAddr.sin_port = PortNet;
    std::vector<std::string> list = Given;
    if (list.empty() && !IsDottedIPv4(Host) && (IsIPv6Address(Host) || WSocketFamily() != TWSocketFamily::IPv4))
        list = WSocketResolveHostList(Host);
    if (list.empty()) {
        // IPv4 as it always was: the dotted address, or the first address of the name.
        PeerSockAddr.sin_addr.S_addr = WSocketResolveHost(Host);
        return;
    }
    TSockAddrStorage sa{};
    int len = 0;
    if (!MakeSockAddr(list[0], PortNet, sa, len))
        throw ESocketException("WSocketResolveHost: '" + list[0] + "' Invalid IP address.");
    AddressFamily = sa.ss_family;
    if (AddressFamily == WS_AF_INET6)
        std::memcpy(&PeerSockAddr6, &sa, sizeof PeerSockAddr6);
    else
        std::memcpy(&PeerSockAddr, &sa, sizeof PeerSockAddr);
    bool anyIPv6 = false;
    for (const std::string& a : list) anyIPv6 = anyIPv6 || IsIPv6Address(a);
    if (list.size() > 1 && anyIPv6) RaceAddrs = std::move(list);
}

SOCKET TCustomWSocket::OpenRaceHandle(int Family) {
    const SOCKET h = WSocket_socket(Family, WS_SOCK_STREAM, ProtocolNumber);
    if (h == INVALID_SOCKET) return h;
    bool ok = SetIntOption(h, WS_SOL_SOCKET, WS_SO_REUSEADDR, -1) != SOCKET_ERROR &&
              SetIntOption(h, WS_SOL_SOCKET, WS_SO_KEEPALIVE, -1) != SOCKET_ERROR &&
              (!ComponentOptions.Contains(wsoTcpNoDelay) ||
               SetIntOption(h, WS_IPPROTO_TCP, WS_TCP_NODELAY, -1) != SOCKET_ERROR);
    if (ok && LingerOnOff != wsLingerNoSet) {
        TLinger linger{};
        linger.l_onoff = LingerOnOff == wsLingerOff ? 0 : 1;
        linger.l_linger = static_cast<std::uint16_t>(LingerTimeout < 0 ? 0 : LingerTimeout > 65535 ? 65535 : LingerTimeout);
        ok = WSocket_setsockopt(h, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<const char*>(&linger),
                                sizeof linger) != SOCKET_ERROR;
    }
    if (ok && (LocalPortNumber != 0 || FLocalAddr != "0.0.0.0")) {
        // The local address must be of the attempt's family ("0.0.0.0" means any in both).
        const std::string local = FLocalAddr == "0.0.0.0" && Family == WS_AF_INET6 ? "::" : FLocalAddr;
        TSockAddrStorage sa{};
        int len = 0;
        ok = MakeSockAddr(local, WSocket_htons(LocalPortNumber), sa, len) && sa.ss_family == Family;
        if (!ok) WSocket_WSASetLastError(WSAEAFNOSUPPORT);
        ok = ok && WSocket_bind(h, reinterpret_cast<const TSockAddr*>(&sa), len) != SOCKET_ERROR;
    }
    if (!ok) {
        const int code = WSocket_WSAGetLastError();
        WSocket_closesocket(h);
        WSocket_WSASetLastError(code);
        return INVALID_SOCKET;
    }
    return h;
}

void TCustomWSocket::HandleEyeballsEvent(TMessage& Msg) {
    if (!Eyeballs) return;
    TWSocketEyeballs::TOutcome outcome;
    if (Msg.Msg == WM_TIMER)
        outcome = Eyeballs->HandleTimer();
    else if (LoWord(Msg.LParam) & FD_CONNECT)
        outcome = Eyeballs->HandleConnect(Msg.WParam, HiWord(Msg.LParam));
    else
        return;
    if (outcome != TWSocketEyeballs::roPending) EyeballsDecided(outcome);
}

void TCustomWSocket::EyeballsDecided(TWSocketEyeballs::TOutcome Outcome) {
    TWSocketEyeballs::TCandidate winner;
    const SOCKET h = Eyeballs->Take(winner);
    const int error = Eyeballs->Error();
    Eyeballs.reset();
    if (h == INVALID_SOCKET) {
        // Not one attempt could even be opened.
        FLastError = error;
        WSocket_WSASetLastError(error);
        ReportSocketError("Connect (socket)");
        return;
    }
    SocketHandle = h;
    AddressFamily = winner.Addr.ss_family;
    if (AddressFamily == WS_AF_INET6)
        std::memcpy(&PeerSockAddr6, &winner.Addr, sizeof PeerSockAddr6);
    else
        std::memcpy(&PeerSockAddr, &winner.Addr, sizeof PeerSockAddr);
    // The new target hears of the connection again: FD_CONNECT (and FD_WRITE) follow.
    if (WSocket_WSAAsyncSelect(SocketHandle, NotifyWindow, MSG_SOCKET_EVENT, SelectMask) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    if (Outcome == TWSocketEyeballs::roFailed)
        PostMessage(NotifyWindow, MSG_SOCKET_EVENT, SocketHandle, MakeLParam(FD_CONNECT, static_cast<WORD>(error)));
}
