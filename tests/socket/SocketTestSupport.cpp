// SPDX-License-Identifier: Apache-2.0
#include "SocketTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

const char* StateName(TSocketState s) {
    switch (s) {
        case wsInvalidState: return "invalid";
        case wsOpened: return "opened";
        case wsBound: return "bound";
        case wsConnecting: return "connecting";
        case wsConnected: return "connected";
        case wsAccepting: return "accepting";
        case wsListening: return "listening";
        case wsClosed: return "closed";
    }
    return "?";
}

void TEventLog::Attach(TCustomWSocket& s) {
    s.OnChangeState = [this](TObject*, TSocketState, TSocketState n) { Events.push_back(std::string("state:") + StateName(n)); };
    s.OnSessionConnected = [this](TObject*, WORD e) { Events.push_back("connected:" + std::to_string(e)); };
    s.OnSessionClosed = [this](TObject*, WORD e) {
        Events.push_back("closed:" + std::to_string(e));
        Closed = true;
    };
    s.OnDataSent = [this](TObject*, WORD e) {
        Events.push_back("datasent:" + std::to_string(e));
        ++DataSentCount;
    };
    s.OnSendData = [this](TObject*, int n) {
        Events.push_back("senddata");
        BytesSent += n;
    };
    s.OnDataAvailable = [this, &s](TObject*, WORD e) {
        std::string got;
        if (ReadSize > 0) {
            got.resize(static_cast<std::size_t>(ReadSize));
            const int n = s.Receive(got.data(), ReadSize);
            got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        } else {
            got = s.ReceiveText();
        }
        if (!got.empty()) Events.push_back("data:" + std::to_string(e));
        Data += got;
    };
}

bool TEventLog::Has(const std::string& e) const { return std::find(Events.begin(), Events.end(), e) != Events.end(); }

std::vector<std::string> TEventLog::Skeleton() const {
    std::vector<std::string> r;
    for (const std::string& e : Events)
        if (e.rfind("data:", 0) != 0 && e != "senddata") r.push_back(e);
    return r;
}

TSockAddrIn LoopbackAddr(std::uint16_t port) {
    TSockAddrIn a{};
    a.sin_family = WS_AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.S_addr = htonl(INADDR_LOOPBACK);
    return a;
}

