// SPDX-License-Identifier: Apache-2.0
#include "app/core/applyProxy.h"

#include "app/settings/proxySettings.h"
#include "base/SysUtils.h"
#include "http/HttpProt.h"
#include "http/HttpProtUrl.h"
#include "wininet/WinInet.h"

void ApplyProxy(THttpCli& client, const std::string& url) {
    std::string protocol, user, password, host, port, path;
    SplitUrl(url, protocol, user, password, host, port, path);
    const TProxy proxy = CurrentProxySettings().For(protocol.empty() ? "http" : protocol, host);

    client.SetProxy("");
    client.SetProxyUsername("");
    client.SetProxyPassword("");
    client.SetSocksServer("");
    client.SetSocksUsercode("");
    client.SetSocksPassword("");
    if (proxy.Kind == TProxyKind::None) return;
    // A bracketed literal: the client's address splitting reads "[::1]:port" as host and port.
    const std::string host6 = proxy.Host.find(':') != std::string::npos ? "[" + proxy.Host + "]" : proxy.Host;
    if (proxy.Kind == TProxyKind::Http) {
        client.SetProxy(host6 + ":" + IntToStr(proxy.Port));
        client.SetProxyUsername(proxy.User);
        client.SetProxyPassword(proxy.Password);
        return;
    }
    client.SetSocksServer(proxy.Host);
    client.SetSocksPort(IntToStr(proxy.Port));
    const bool four = proxy.Kind == TProxyKind::Socks4 || proxy.Kind == TProxyKind::Socks4a;
    client.SetSocksLevel(proxy.Kind == TProxyKind::Socks4 ? "4" : four ? "4A" : "5");
    client.SetSocksRemoteNames(proxy.ResolvesNames());
    client.SetSocksUsercode(proxy.User);
    client.SetSocksPassword(proxy.Password);
}

void RouteFetcherThroughProxy() {
    const TProxySettings settings = CurrentProxySettings();
    InternetSetSystemProxy([settings](bool secure, const std::string& server, INTERNET_SYSTEM_PROXY& out,
                                      std::string& why) {
        try {
            const TProxy p = settings.For(secure ? "https" : "http", server);
            switch (p.Kind) {
                case TProxyKind::None: out.kind = INTERNET_SYSTEM_PROXY::Kind::None; return true;
                case TProxyKind::Http: out.kind = INTERNET_SYSTEM_PROXY::Kind::Http; break;
                case TProxyKind::Socks4: out.kind = INTERNET_SYSTEM_PROXY::Kind::Socks4; break;
                case TProxyKind::Socks4a: out.kind = INTERNET_SYSTEM_PROXY::Kind::Socks4a; break;
                case TProxyKind::Socks5: out.kind = INTERNET_SYSTEM_PROXY::Kind::Socks5; break;
                case TProxyKind::Socks5h: out.kind = INTERNET_SYSTEM_PROXY::Kind::Socks5h; break;
            }
            out.host = p.Host;
            out.port = static_cast<INTERNET_PORT>(p.Port);
            out.userName = p.User;
            out.password = p.Password;
            return true;
        } catch (const Exception& e) {
            why = e.Message();
            return false;
        }
    });
}
