// SPDX-License-Identifier: Apache-2.0
// The connection through a SOCKS proxy: the socket's settings for each Connect (the socket
// forgets them at every close) and the words of a failure, by the step that failed.
#include "base/SysUtils.h"
#include "http/HttpProt.h"
#include "socket/WSocket.h"
#include "socket/WSocketAddress.h"

namespace {

// Codes of the socket's SOCKS layer (see WSocketSocks.h).
constexpr int kSocksVersion = 20002;
constexpr int kSocksMethod = 20003;
constexpr int kSocksRuleset = 20005;
constexpr int kSocksRequestTooLong = 20014;
constexpr int kSocksAuthentication = 20015;
constexpr int kSocks4Rejected = 20016;

}  // namespace

bool THttpCli::SocksResolvesNames() const {
    const std::string level = UpperCase(socksLevel_);
    return level == "4A" || (level == "5" && socksRemoteNames_);
}

std::string THttpCli::SocksProxyName() const {
    const std::string host = UnbracketHost(socksServer_);
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + socksPort_;
}

void THttpCli::ConfigureSocks() {
    // Always written: a proxy left from an attempt that failed before connecting must not
    // carry a direct connection.
    if (!UsesSocks()) {
        socket_->SetSocksServer(std::string());
        return;
    }
    socket_->SetSocksServerList(socksAddrs_);
    socket_->SetSocksPort(socksPort_);
    socket_->SetSocksLevel(socksLevel_);
    socket_->SocksUsercode = socksUsercode_;
    socket_->SocksPassword = socksPassword_;
    socket_->SocksAuthentication =
        socksLevel_ == "5" && !socksUsercode_.empty() ? socksAuthenticateUsercode : socksNoAuthentication;
}

std::string THttpCli::SocksFailureText(WORD error) {
    const std::string proxy = "the SOCKS proxy " + SocksProxyName();
    const std::string code = " (Error #" + IntToStr(error) + ")";
    if (socksStep_ != TSocksStep::ProxyConnected)
        return "can't connect to " + proxy + ": " + WinsockErrorText(error) + code;
    // Past the proxy's handshake (TLS through the proxy failed, say): not the proxy's doing.
    if (socksErrorCode_ == 0) return SocketErrorText(error) + code;
    const std::string target = connectHost_ + ":" + connectPort_;
    const std::string said = socksErrorCode_ == error && !socksErrorText_.empty() ? socksErrorText_ : WinsockErrorText(error);
    switch (error) {
        case kSocksAuthentication:
            return proxy + " refused the authentication (" +
                   (socksLevel_ == "5" ? "user name and password" : "user id") + "): " + said + code;
        case kSocksMethod:
            return proxy + (socksUsercode_.empty() ? " requires authentication: give a user name and password"
                                                   : " accepts no user-name/password authentication") +
                   ": " + said + code;
        case kSocksVersion:
            return proxy + " does not answer as a SOCKS " + socksLevel_ + " proxy: " + said + code;
        case kSocksRequestTooLong:
            return "can't use " + proxy + ": " + said + code;
        case kSocksRuleset:
        case kSocks4Rejected:
            return proxy + " refused the connection to " + target + ": " + said + code;
        default:
            if (error > 20000 && error < 20100) return proxy + " could not reach " + target + ": " + said + code;
            return proxy + ": " + said + code;  // a receive error during the handshake
    }
}
