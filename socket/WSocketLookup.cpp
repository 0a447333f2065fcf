// SPDX-License-Identifier: Apache-2.0
// Asynchronous name look-ups: one request at a time per socket, answered through the
// hidden window and reported with OnDnsLookupDone.
#include <cstring>

#include "socket/WSocketCore.h"
#include "socket/WSocketFamily.h"

void TCustomWSocket::DnsLookup(const std::string& HostName) {
    if (HostName.empty()) {
        ReportError("DNS lookup: invalid host name.");
        FireDnsLookupDone(WSAEINVAL);
        return;
    }
    if (LookupRequest != 0) {
        WSocket_WSACancelAsyncRequest(LookupRequest);  // a superseded request is dropped either way
        LookupRequest = 0;
    }
    FDnsResult.clear();
    FDnsResultList.Clear();

    const std::uint32_t addr = WSocket_inet_addr(HostName.c_str());
    if (addr != WS_INADDR_NONE) {
        FDnsResult = WSocket_inet_ntoa(TInAddr{addr});
        FireDnsLookupDone(0);
        return;
    }
    if (IsIPv6Address(HostName)) {
        TSockAddrStorage sa;
        int len = 0;
        MakeSockAddr(HostName, 0, sa, len);
        FDnsResult = SockAddrText(sa);
        FireDnsLookupDone(0);
        return;
    }
    EarlyReply = false;
    const int family = WSocketLookupFamily();
    LookupRequest = family == WS_AF_INET
                        ? WSocket_WSAAsyncGetHostByName(NotifyWindow, MSG_LOOKUP_DONE, HostName.c_str(), LookupBuffer,
                                                        sizeof LookupBuffer)
                        : WSocket_WSAAsyncGetHostByName2(NotifyWindow, MSG_LOOKUP_DONE, HostName.c_str(), family,
                                                         LookupBuffer, sizeof LookupBuffer);
    if (LookupRequest == 0) {
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(), WSocket_WSAGetLastError());
        return;
    }
    if (EarlyReply) {
        EarlyReply = false;
        HandleLookupDone(SavedReply);
    }
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
    if (HostAddr.empty() || HostAddr.size() > 256) {
        ReportError("ReverseDnsLookup: Invalid host name.");
        FireDnsLookupDone(WSAEINVAL);
        return;
    }
    if (LookupRequest != 0) {
        WSocket_WSACancelAsyncRequest(LookupRequest);
        LookupRequest = 0;
    }
    FDnsResult.clear();
    FDnsResultList.Clear();
    const std::uint32_t addr = WSocket_inet_addr(HostAddr.c_str());
    LookupRequest = WSocket_WSAAsyncGetHostByAddr(NotifyWindow, MSG_REVERSE_LOOKUP_DONE,
                                                  reinterpret_cast<const char*>(&addr), 4, WS_AF_INET, LookupBuffer,
                                                  sizeof LookupBuffer);
    if (LookupRequest == 0)
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(), WSocket_WSAGetLastError());
}

void TCustomWSocket::CancelDnsLookup() {
    if (LookupRequest == 0) return;
    const int rc = WSocket_WSACancelAsyncRequest(LookupRequest);
    LookupRequest = 0;
    if (rc == SOCKET_ERROR) {
        ReportSocketError("WSACancelAsyncRequest");
        return;
    }
    if (!Destroying()) FireDnsLookupDone(WSAEINTR);
}

void TCustomWSocket::HandleLookupDone(TMessage& Msg) {
    if (LookupRequest == 0) {
        // A reply before the request handle is known: keep it for DnsLookup.
        SavedReply = Msg;
        EarlyReply = true;
        return;
    }
    if (Msg.WParam != LookupRequest) return;  // the reply to a superseded request
    LookupRequest = 0;
    const WORD error = HiWord(Msg.LParam);
    if (error == 0) CollectHostAddresses();
    FireDnsLookupDone(error);
}

void TCustomWSocket::HandleReverseLookupDone(TMessage& Msg) {
    if (Msg.WParam != LookupRequest) return;
    LookupRequest = 0;
    const WORD error = HiWord(Msg.LParam);
    if (error == 0) {
        const auto* host = reinterpret_cast<const THostEnt*>(LookupBuffer);
        FDnsResult = host->h_name ? host->h_name : "";
        FDnsResultList.Clear();
        FDnsResultList.Add(FDnsResult);
    }
    FireDnsLookupDone(error);
}

void TCustomWSocket::CollectHostAddresses() {
    const auto* host = reinterpret_cast<const THostEnt*>(LookupBuffer);
    FDnsResultList.Clear();
    for (int i = 0; i < 256 && host->h_addr_list && host->h_addr_list[i]; ++i)
        FDnsResultList.Add(HostEntAddrText(*host, i));
    if (FDnsResultList.Count() > 0) FDnsResult = FDnsResultList[0];
}
