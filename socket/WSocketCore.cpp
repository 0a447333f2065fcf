// SPDX-License-Identifier: Apache-2.0
// Construction, the per-session defaults, the properties, sending, receiving and the
// addresses of the connection.
#include "base/SysUtils.h"
#include "socket/WSocketCore.h"

namespace {
// Drained blocks a socket keeps for reuse (about 93 KB at most).
constexpr std::size_t kMaxSpareBuffers = 64;
const std::string kDefaultProto = "tcp";
const std::string kAnyPort = "0";
const std::string kAnyAddr = "0.0.0.0";
}  // namespace

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
    AllocateNotifyWindow();
    SendBufferSize = 1460;
    MultiCastIpTTL = 1;
    ResetToDefaults();
    IncLiveSocketCount();
}

TCustomWSocket::~TCustomWSocket() {
    BeginDestroy();
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    // A destructor cannot raise: a failure to close is dropped with the object.
    try {
        if (FState != wsClosed) Close();
    } catch (...) {
    }
    DecLiveSocketCount();
    ClearSendQueue();
    DeallocateNotifyWindow();
}

void TCustomWSocket::ResetToDefaults() {
    Eyeballs.reset();
    RaceAddrs.clear();
    FAddrList.clear();
    PeerSockAddr6 = TSockAddrIn6{};
    PeerSockAddr = TSockAddrIn{};
    PeerSockAddr.sin_family = WS_AF_INET;
    AddressFamily = WS_AF_INET;
    PortAssigned = false;
    AddrAssigned = false;
    AddrResolved = false;
    PortResolved = false;
    ProtoResolved = false;
    LocalPortResolved = false;
    ProtoAssigned = true;
    ProtocolNumber = 6;
    FProto = kDefaultProto;
    SocketType = WS_SOCK_STREAM;
    FLocalPort = kAnyPort;
    FLocalAddr = kAnyAddr;
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    SocketHandle = INVALID_SOCKET;
    SelectMask = 0;
    FState = wsClosed;
    AllSent = true;
    Paused = false;
    FReadCount = 0;
    CloseInvoked = false;
    FlushTimeout = 60;
}

// ---- properties ---------------------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& Value) {
    if (AddrAssigned && Value == FAddr) return;
    if (FState != wsClosed) {
        ReportError("Cannot change Addr if not closed");
        return;
    }
    FAddr = Trim(Value);
    AddrAssigned = !FAddr.empty();
    if (AddrAssigned) AddrResolved = false;
    if (FAddrList.empty() || FAddrList[0] != FAddr) FAddrList.clear();
}

void TCustomWSocket::SetAddrList(const std::vector<std::string>& Addrs) {
    if (Addrs.empty()) return;
    if (FState != wsClosed && !(AddrAssigned && Addrs == FAddrList)) {
        ReportError("Cannot change Addr if not closed");
        return;
    }
    FAddrList.clear();
    for (const std::string& a : Addrs) FAddrList.push_back(Trim(a));
    FAddr = FAddrList[0];
    AddrAssigned = !FAddr.empty();
    AddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& Value) {
    if (PortAssigned && Value == FPort) return;
    if (FState != wsClosed) {
        ReportError("Cannot change Port if not closed");
        return;
    }
    FPort = Trim(Value);
    PortAssigned = !FPort.empty();
    if (PortAssigned) PortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& Value) {
    if (ProtoAssigned && Value == FProto) return;
    if (FState != wsClosed) {
        ReportError("Cannot change Proto if not closed");
        return;
    }
    FProto = Trim(Value);
    ProtoAssigned = !FProto.empty();
    if (ProtoAssigned) ProtoResolved = false;
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPort = Value;
    LocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string text = Value.empty() ? "0.0.0.0" : Value;
    TSockAddrStorage sa{};
    int len = 0;
    if (IsIPv6Address(text) && MakeSockAddr(text, 0, sa, len)) {
        FLocalAddr = SockAddrText(sa);
        return;
    }
    TInAddr addr{WSocket_inet_addr(text.c_str())};
    if (addr.S_addr == WS_INADDR_NONE) {
        // A text that is no address leaves the property as it was (also when OnError
        // takes the report and the write goes on).
        ReportError("SetLocalAddr(): Invalid IP address");
        return;
    }
    FLocalAddr = WSocket_inet_ntoa(addr);
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    switch (SendFlagsValue) {
        case 0: return wsSendNormal;
        case 1: return wsSendUrgent;
        default:
            ReportError("Invalid internal SendFlags");
            return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
    switch (Value) {
        case wsSendNormal: SendFlagsValue = 0; break;
        case wsSendUrgent: SendFlagsValue = WS_MSG_OOB; break;
        default: ReportError("Invalid SendFlags");
    }
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
    const TSocketState old = FState;
    FState = NewState;
    FireChangeState(old, NewState);
}

// ---- sending ----------------------------------------------------------------------------

std::unique_ptr<TBuffer> TCustomWSocket::TakeBuffer() {
    while (!SpareBuffers.empty()) {
        std::unique_ptr<TBuffer> b = std::move(SpareBuffers.back());
        SpareBuffers.pop_back();
        if (b->Capacity() == SendBufferSize) return b;
    }
    return std::make_unique<TBuffer>(SendBufferSize);
}

void TCustomWSocket::RecycleBuffer(std::unique_ptr<TBuffer> Buffer) {
    if (SpareBuffers.size() < kMaxSpareBuffers) SpareBuffers.push_back(std::move(Buffer));
}

void TCustomWSocket::AppendToSendQueue(const void* Data, int Len) {
    if (Len < 1) return;
    const char* p = static_cast<const char*>(Data);
    if (SendQueue.empty()) SendQueue.push_back(TakeBuffer());
    TBuffer* buffer = SendQueue.back().get();
    for (;;) {
        const int taken = buffer->Append(p, Len);
        if (taken >= Len) return;
        p += taken;
        Len -= taken;
        SendQueue.push_back(TakeBuffer());
        buffer = SendQueue.back().get();
    }
}

void TCustomWSocket::ClearSendQueue() {
    SendQueue.clear();
    SpareBuffers.clear();
    ++QueueGeneration;
}

int TCustomWSocket::Send(const void* Data, int Len) {
    if (FState != wsConnected) {
        WSocket_WSASetLastError(WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    AllSent = false;
    if (Len <= 0)
        Len = 0;
    else
        AppendToSendQueue(Data, Len);
    TryToSend();
    // Done already: OnDataSent follows from the message loop, never from inside Send.
    if (AllSent) PostMessage(NotifyWindow, MSG_SOCKET_EVENT, SocketHandle, MakeLParam(FD_WRITE, 0));
    return Len;
}

int TCustomWSocket::SendText(const std::string& S) {
    if (S.empty()) return 0;
    return Send(S.data(), static_cast<int>(S.size()));
}

int TCustomWSocket::SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len) {
    TSockAddrIn to = Dest;
    const int n = WSocket_sendto(SocketHandle, static_cast<const char*>(Data), Len, SendFlagsValue,
                                 reinterpret_cast<const TSockAddr*>(&to), DestLen);
    if (n > 0) FireSendData(n);
    return n;
}

int TCustomWSocket::SendTo(const TSockAddrStorage& Dest, int DestLen, const void* Data, int Len) {
    const int n = WSocket_sendto(SocketHandle, static_cast<const char*>(Data), Len, SendFlagsValue,
                                 reinterpret_cast<const TSockAddr*>(&Dest), DestLen);
    if (n > 0) FireSendData(n);
    return n;
}

int TCustomWSocket::RawSend(const void* Data, int Len) {
    const char* p = static_cast<const char*>(Data);
    int peerLen = 0;
    const TSockAddr* peer = PeerName(peerLen);
    const int n = SocketType == WS_SOCK_DGRAM ? WSocket_sendto(SocketHandle, p, Len, SendFlagsValue, peer, peerLen)
                                              : WSocket_send(SocketHandle, p, Len, SendFlagsValue);
    if (n > 0) FireSendData(n);
    return n;
}

void TCustomWSocket::FireSendData(int BytesSent) {
    if (OnSendData) OnSendData(this, BytesSent);
}

// ---- receiving ------------------------------------------------------------------------------

int TCustomWSocket::RawReceive(void* Buffer, int Len, int Flags) {
    return WSocket_recv(SocketHandle, static_cast<char*>(Buffer), Len, Flags);
}

int TCustomWSocket::RawReceiveFrom(SOCKET Handle, void* Buffer, int Len, int Flags, TSockAddrIn& From,
                                   int& FromLen) {
    return WSocket_recvfrom(Handle, static_cast<char*>(Buffer), Len, Flags, reinterpret_cast<TSockAddr*>(&From),
                            &FromLen);
}

int TCustomWSocket::Receive(void* Buffer, int Len) {
    const int n = RawReceive(Buffer, Len, 0);
    if (n < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int Len, TSockAddrIn& From, int& FromLen) {
    const int n = RawReceiveFrom(SocketHandle, Buffer, Len, 0, From, FromLen);
    if (n < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int Len, TSockAddrStorage& From, int& FromLen) {
    const int n = WSocket_recvfrom(SocketHandle, static_cast<char*>(Buffer), Len, 0, reinterpret_cast<TSockAddr*>(&From),
                                   &FromLen);
    if (n < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

int TCustomWSocket::GetRcvdCount() {
    if (Designing()) return -1;
    std::uint32_t n = 0;
    if (WSocket_ioctlsocket(SocketHandle, WS_FIONREAD, &n) == SOCKET_ERROR) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(n);
}

std::string TCustomWSocket::ReceiveText() {
    int n = GetRcvdCount();
    if (n < 0) return {};
    if (n == 0) n = 255;
    std::string s(static_cast<std::size_t>(n), '\0');
    const int got = Receive(s.data(), n);
    if (got <= 0) return {};
    s.resize(static_cast<std::size_t>(got));
    return s;
}

// ---- addresses ------------------------------------------------------------------------------

std::string TCustomWSocket::GetPeerAddr() {
    if (FState != wsConnected) return "error";
    TSockAddrStorage sa{};
    int len = sizeof sa;
    if (WSocket_getpeername(SocketHandle, reinterpret_cast<TSockAddr*>(&sa), &len) != 0) {
        ReportSocketError("GetPeerName");
        return "error";
    }
    return SockAddrText(sa);
}

std::string TCustomWSocket::GetPeerPort() {
    if (FState != wsConnected) return "error";
    TSockAddrStorage sa{};
    int len = sizeof sa;
    if (WSocket_getpeername(SocketHandle, reinterpret_cast<TSockAddr*>(&sa), &len) != 0) {
        ReportSocketError("GetPeerPort");
        return "error";
    }
    return IntToStr(WSocket_ntohs(SockAddrPort(sa)));
}

int TCustomWSocket::GetPeerName(TSockAddrIn& Name, int Len) {
    if (FState != wsConnected) return -1;
    return WSocket_getpeername(SocketHandle, reinterpret_cast<TSockAddr*>(&Name), &Len);
}

int TCustomWSocket::GetSockName(TSockAddrIn& Name, int& Len) {
    return WSocket_getsockname(SocketHandle, reinterpret_cast<TSockAddr*>(&Name), &Len);
}

std::string TCustomWSocket::GetBoundPort() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
    TSockAddrStorage sa{};
    int len = sizeof sa;
    if (WSocket_getsockname(SocketHandle, reinterpret_cast<TSockAddr*>(&sa), &len) != 0) return "error";
    return Format("%d", WSocket_ntohs(SockAddrPort(sa)));
}

std::string TCustomWSocket::GetBoundAddr() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
    TSockAddrStorage sa{};
    int len = sizeof sa;
    if (WSocket_getsockname(SocketHandle, reinterpret_cast<TSockAddr*>(&sa), &len) != 0) return "error";
    return SockAddrText(sa);
}

bool TCustomWSocket::TimeValIsSet(const TTimeVal& tv) { return tv.tv_sec != 0 || tv.tv_usec != 0; }

void TCustomWSocket::TimeValClear(TTimeVal& tv) {
    tv.tv_sec = 0;
    tv.tv_usec = 0;
}

bool TCustomWSocket::TimeValEqual(const TTimeVal& tv, const TTimeVal& uv, bool IsEqual) {
    const bool equal = tv.tv_sec == uv.tv_sec && tv.tv_usec == uv.tv_usec;
    return IsEqual ? equal : !equal;
}

// ---- notifications ------------------------------------------------------------------------

void TCustomWSocket::Shutdown(int How) {
    if (SocketHandle != INVALID_SOCKET) WSocket_shutdown(SocketHandle, How);
}

void TCustomWSocket::PauseNotifications() {
    Paused = true;
    WSocket_WSAAsyncSelect(SocketHandle, NotifyWindow, 0, 0);
}

void TCustomWSocket::ResumeNotifications() {
    Paused = false;
    WSocket_WSAAsyncSelect(SocketHandle, NotifyWindow, MSG_SOCKET_EVENT, SelectMask);
}
