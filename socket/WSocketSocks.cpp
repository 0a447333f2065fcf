// SPDX-License-Identifier: Apache-2.0
// The proxy layer: properties, connecting through the proxy, and the handshake as a state
// machine driven by the received-data notifications.
#include "socket/WSocketSocks.h"

#include <algorithm>
#include <cstring>

#include "base/SysUtils.h"
#include "socket/WSocketAddress.h"
#include "socket/WSocketWinsock.h"

namespace {

// Version 5 reply codes 1..8 and their texts; any other code is "unassigned".
struct TSocks5Failure {
    int Code;
    const char* Text;
};
constexpr TSocks5Failure kSocks5Failures[] = {
    {20004, "general SOCKS server failure"}, {20005, "connection not allowed by ruleset"},
    {20006, "network unreachable"},          {20007, "host unreachable"},
    {20008, "connection refused"},           {20009, "time to live expired"},
    {20010, "command not supported"},        {20011, "address type not supported"},
};

constexpr int kRequestTooLong = 20014;

std::string Byte(unsigned v) { return std::string(1, static_cast<char>(v & 0xFF)); }

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {}

TCustomSocksWSocket::~TCustomSocksWSocket() = default;

void TCustomSocksWSocket::ResetToDefaults() {
    TCustomWSocket::ResetToDefaults();
    SocksState = socksIdle;
    FSocksServer.clear();
    FSocksServerList.clear();
    FSocksPort.clear();
    FSocksLevel.assign(1, '5');  // (not = "5": GCC 12 warns falsely about overlap at -O3)
    SocksLeftoverCount = 0;
    SocksServerAssigned = false;
}

// ---- properties ---------------------------------------------------------------------------

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Can't change socks level if not closed");
        return;
    }
    if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
        ReportError("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    FSocksLevel = UpperCase(Value);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Can't change socks server if not closed");
        return;
    }
    FSocksServer = Trim(Value);
    SocksServerAssigned = !FSocksServer.empty();
    if (FSocksServerList.empty() || FSocksServerList[0] != FSocksServer) FSocksServerList.clear();
    // The target address changes with the proxy: resolve it again at the next Connect.
    AddrResolved = false;
}

void TCustomSocksWSocket::SetSocksServerList(const std::vector<std::string>& Addrs) {
    if (Addrs.empty()) return;
    if (FState != wsClosed) {
        ReportError("Can't change socks server if not closed");
        return;
    }
    FSocksServerList.clear();
    for (const std::string& a : Addrs) FSocksServerList.push_back(Trim(a));
    SetSocksServer(FSocksServerList[0]);
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Can't change socks port if not closed");
        return;
    }
    FSocksPort = Trim(Value);
    PortResolved = false;
}

// ---- opening --------------------------------------------------------------------------------

std::string TCustomSocksWSocket::RequestTooLong(bool IncludeAuth) const {
    const std::size_t user = SocksUsercode.size();
    const std::size_t pass = SocksPassword.size();
    const std::size_t host = FAddr.size();
    if (FSocksLevel == "4A") {
        // 4 1 port(2) 0 0 0 1 user 0 host 0
        if (10 + user + host > kRequestSize)
            return Format("socks user code and host name too long (%zu bytes together, at most %d)", user + host,
                          kRequestSize - 10);
    } else if (IsLevel4()) {
        // 4 1 port(2) address(4) user 0
        if (9 + user > kRequestSize)
            return Format("socks user code too long (%zu bytes, at most %d)", user, kRequestSize - 9);
    } else {
        // 5 1 0 3 length host port(2); the one-byte length fields allow even less than 255
        if (7 + host > kRequestSize)
            return Format("socks host name too long (%zu bytes, at most %d)", host, kRequestSize - 7);
        // 1 length user length password
        if (IncludeAuth && 3 + user + pass > kRequestSize)
            return Format("socks user code and password too long (%zu bytes together, at most %d)", user + pass,
                          kRequestSize - 3);
    }
    return {};
}

void TCustomSocksWSocket::Connect() {
    // A socket in use keeps its session untouched; the base reports the misuse.
    if (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
        TCustomWSocket::Connect();
        return;
    }
    // Whatever an earlier failed attempt left: a direct connection must not run a handshake.
    SocksState = socksIdle;
    SocksLeftoverCount = 0;
    if (!SocksServerAssigned) {
        TCustomWSocket::Connect();
        return;
    }
    if (LowerCase(FProto) != "tcp") {
        ReportError("tcp is the only protocol supported thru socks server");
        return;
    }
    if (AddrAssigned) {
        const std::string tooLong = RequestTooLong(SocksAuthentication == socksAuthenticateUsercode);
        if (!tooLong.empty()) {
            ReportError("Connect: " + tooLong);
            return;
        }
    }
    try {
        // The socket connects to the proxy (either family); the destination travels in the
        // requests.
        if (!PortResolved || !AddrResolved) {
            ResolvePeerAddress(FSocksServer, WSocket_htons(WSocketResolvePort(FSocksPort, FProto)), FSocksServerList);
            PortResolved = true;
            AddrResolved = true;
        }
        PortNumber = WSocketResolvePort(FPort, FProto);
    } catch (const Exception& E) {
        ReportError("connect: " + E.Message());
        return;
    }
    SocksState = socksWaitMethod;
    SocksReplyCount = 0;
    TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen() {
    if (SocksServerAssigned) {
        ReportError("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

// ---- events ---------------------------------------------------------------------------------

void TCustomSocksWSocket::FireSocksConnected(WORD Error) {
    if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::FireSocksError(int Error, const std::string& Msg) {
    if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::FireSocksAuthState(TSocksAuthState AuthState) {
    if (OnSocksAuthState) OnSocksAuthState(this, AuthState);
}

void TCustomSocksWSocket::FireSessionConnected(WORD Error) {
    if (SocksState != socksWaitMethod) {
        TCustomWSocket::FireSessionConnected(Error);
        return;
    }
    // The TCP step: the application hears of the session only when the handshake ends.
    FireSocksConnected(Error);
    if (Error != 0) {
        TCustomWSocket::FireSessionConnected(Error);
        return;
    }
    if (IsLevel4()) {
        SendConnectRequest();
    } else {
        SocksAuthNumber = SocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
        SendGreeting();
    }
}

void TCustomSocksWSocket::FireSessionClosed(WORD Error) {
    if (SocksState == socksWaitAuth) FireSocksAuthState(socksAuthFailure);
    TCustomWSocket::FireSessionClosed(Error);
}

void TCustomSocksWSocket::SocksFail(int Code, const std::string& Text) {
    FireSocksError(Code, Text);
    SocksState = socksIdle;
    FireSessionConnected(static_cast<WORD>(Code));
    InternalClose(true, static_cast<WORD>(Code));
}

// ---- receiving ------------------------------------------------------------------------------

int TCustomSocksWSocket::GetRcvdCount() {
    if (SocksLeftoverCount > 0) return SocksLeftoverCount;
    return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::RawReceive(void* Buffer, int Len, int Flags) {
    if (SocksLeftoverCount <= 0) return TCustomWSocket::RawReceive(Buffer, Len, Flags);
    const int n = std::max(0, std::min(Len, SocksLeftoverCount));
    std::memcpy(Buffer, SocksReply + SocksLeftover, static_cast<std::size_t>(n));
    SocksLeftover += n;
    SocksLeftoverCount -= n;
    return n;
}

bool TCustomSocksWSocket::FireDataAvailable(WORD Error) {
    if (SocksState == socksIdle) return TCustomWSocket::FireDataAvailable(Error);
    if (Error != 0) {
        SocksFail(Error, "data receive error");
        return false;
    }
    switch (SocksState) {
        case socksWaitMethod: return HandleMethodChoice();
        case socksWaitAuth: return HandleAuthReply();
        case socksWaitConnectReply: return IsLevel4() ? HandleConnectReply4() : HandleConnectReply5();
        default:
            SocksFail(20013, "internal error");
            return false;
    }
}

bool TCustomSocksWSocket::ReadReply(int Limit) {
    if (SocksReplyCount >= Limit) return true;
    const int got = Receive(SocksReply + SocksReplyCount, Limit - SocksReplyCount);
    if (got < 0) return false;
    SocksReplyCount += got;
    return true;
}

bool TCustomSocksWSocket::HandleMethodChoice() {
    if (!ReadReply(kReplySize)) return true;
    if (IsLevel4()) {
        SocksFail(20001, "TWSocket logic error");
        return true;
    }
    if (SocksReplyCount < 2) return true;
    SocksReplyCount = 0;
    if (SocksReply[0] != 5) {
        SocksFail(20002, "socks version error");
    } else if (SocksReply[1] == 0) {
        if (SocksAuthNumber != 0) FireSocksAuthState(socksAuthNotRequired);
        SendConnectRequest();
    } else if (SocksReply[1] == 2) {
        SendAuthRequest();
    } else {
        SocksFail(20003, "authentification method not acceptable");
    }
    return true;
}

bool TCustomSocksWSocket::HandleAuthReply() {
    if (!ReadReply(kReplySize)) return true;
    if (SocksReplyCount >= 1 && SocksReply[0] != 1) {
        SocksFail(20002, "socks version error");
        return true;
    }
    if (SocksReplyCount < 2) return true;
    if (SocksReplyCount > 2) {
        SocksFail(20001, "too much data availaible");
        return true;
    }
    if (SocksReply[1] != 0) {
        SocksFail(20015, "socks authentication failed");
        return true;
    }
    SocksReplyCount = 0;
    FireSocksAuthState(socksAuthSuccess);
    SendConnectRequest();
    return true;
}

bool TCustomSocksWSocket::HandleConnectReply4() {
    // Exactly the 8 bytes of the reply: whatever follows is the application's.
    if (!ReadReply(8)) return true;
    if (SocksReplyCount < 8) return true;
    SocksReplyCount = 0;
    if (SocksReply[0] != 0) {
        SocksFail(20002, "socks version error");
        return true;
    }
    switch (SocksReply[1]) {
        case 90: return FinishHandshake();
        case 91: SocksFail(20016, "request rejected or failed"); break;
        case 92: SocksFail(20008, "connection refused"); break;
        case 93: SocksFail(20015, "authentification failed"); break;
        default: SocksFail(20012, "unassigned error #" + IntToStr(SocksReply[1])); break;
    }
    return true;
}

bool TCustomSocksWSocket::HandleConnectReply5() {
    if (!ReadReply(kReplySize)) return true;
    if (SocksReplyCount >= 1 && SocksReply[0] != 5) {
        SocksFail(20002, "socks version error");
        return true;
    }
    if (SocksReplyCount >= 2 && SocksReply[1] != 0) {
        const int code = SocksReply[1];
        if (code >= 1 && code <= 8)
            SocksFail(kSocks5Failures[code - 1].Code, kSocks5Failures[code - 1].Text);
        else
            SocksFail(20012, "unassigned error #" + IntToStr(code));
        return true;
    }
    if (SocksReplyCount < 5) return true;
    const int type = SocksReply[3];
    const int length = type == 1 ? 10 : type == 3 ? 7 + SocksReply[4] : type == 4 ? 22 : 5;
    if (SocksReplyCount < length) return true;
    int position;
    if (type == 1) {
        FSocksBoundAddr = Format("%d.%d.%d.%d", SocksReply[4], SocksReply[5], SocksReply[6], SocksReply[7]);
        position = 8;
    } else if (type == 3) {
        FSocksBoundAddr.assign(reinterpret_cast<const char*>(SocksReply + 5), SocksReply[4]);
        position = 5 + SocksReply[4];
    } else if (type == 4) {
        FSocksBoundAddr = WSocket_inet_ntop(WS_AF_INET6, SocksReply + 4);
        position = 20;
    } else {
        SocksFail(20011, "address type not supported");
        return true;
    }
    FSocksBoundPort = Format("%d", (SocksReply[position] << 8) | SocksReply[position + 1]);
    position += 2;
    // Set before the application hears of the session, so that its first read (even one
    // made inside OnSessionConnected) takes these bytes first.
    SocksLeftover = position;
    SocksLeftoverCount = std::max(0, SocksReplyCount - position);
    return FinishHandshake();
}

bool TCustomSocksWSocket::FinishHandshake() {
    SocksState = socksIdle;
    FireSessionConnected(0);
    if (SocketHandle == INVALID_SOCKET) return true;  // the handler ended the session
    // Data that came with the reply (or already waits) goes to the application now.
    return FireDataAvailable(0);
}

// ---- requests -------------------------------------------------------------------------------

void TCustomSocksWSocket::SendRequest(const std::string& Request) {
    if (FState != wsConnected) return;
    try {
        Send(Request.data(), static_cast<int>(Request.size()));
    } catch (const Exception&) {
        // A failed send closes the socket or reports through the socket's own channel.
    }
}

void TCustomSocksWSocket::SendGreeting() { SendRequest(Byte(5) + Byte(1) + Byte(SocksAuthNumber)); }

void TCustomSocksWSocket::SendAuthRequest() {
    const std::string tooLong = RequestTooLong(true);
    if (!tooLong.empty()) {
        SocksFail(kRequestTooLong, tooLong);
        return;
    }
    SocksState = socksWaitAuth;
    FireSocksAuthState(socksAuthStart);
    SendRequest(Byte(1) + Byte(static_cast<unsigned>(SocksUsercode.size())) + SocksUsercode +
                Byte(static_cast<unsigned>(SocksPassword.size())) + SocksPassword);
}

void TCustomSocksWSocket::SendConnectRequest() {
    const std::string tooLong = RequestTooLong(false);
    if (!tooLong.empty()) {
        SocksFail(kRequestTooLong, tooLong);
        return;
    }
    if (IsLevel4())
        SendConnectRequest4();
    else
        SendConnectRequest5();
}

void TCustomSocksWSocket::SendConnectRequest4() {
    std::uint32_t address;  // network order
    if (FSocksLevel == "4A") {
        const unsigned char invalid[4] = {0, 0, 0, 1};  // tells the proxy to resolve the name
        std::memcpy(&address, invalid, 4);
    } else {
        try {
            address = WSocketResolveHost(FAddr);
        } catch (const Exception& E) {
            FireSocksError(20017, std::string(E.ClassName()) + " " + E.Message());
            InternalClose(true, 20017);
            return;
        }
    }
    std::string request = Byte(4) + Byte(1) + Byte(PortNumber >> 8) + Byte(PortNumber);
    request.append(reinterpret_cast<const char*>(&address), 4);
    request += SocksUsercode + Byte(0);
    if (FSocksLevel == "4A") request += FAddr + Byte(0);
    SocksState = socksWaitConnectReply;
    SendRequest(request);
}

void TCustomSocksWSocket::SendConnectRequest5() {
    SocksState = socksWaitConnectReply;
    // An IPv6 address goes as one (type 4): as a name, with or without its brackets, a
    // proxy would try to look it up.
    unsigned char address6[16];
    const std::string host = UnbracketHost(Trim(FAddr));
    if (host.find(':') != std::string::npos && WSocket_inet_pton(WS_AF_INET6, host.c_str(), address6) == 1) {
        SendRequest(Byte(5) + Byte(1) + Byte(0) + Byte(4) + std::string(reinterpret_cast<const char*>(address6), 16) +
                    Byte(PortNumber >> 8) + Byte(PortNumber));
        return;
    }
    SendRequest(Byte(5) + Byte(1) + Byte(0) + Byte(3) + Byte(static_cast<unsigned>(FAddr.size())) + FAddr +
                Byte(PortNumber >> 8) + Byte(PortNumber));
}
