#pragma once
// Gives an HTTP client the proxy of the process's proxy settings (proxySettings.h) for one
// address. Every THttpCli the application makes calls this before Get, so that no caller
// decides on its own.
#include <string>

class THttpCli;

// Sets client's proxy properties (HTTP proxy, or SOCKS server, level, name resolution and
// credentials) for url, or clears them for a direct connection. Raises EProxySetting when
// the proxy that applies is unusable. The client follows relocations itself: a relocation
// to another host keeps the proxy chosen here.
void ApplyProxy(THttpCli& client, const std::string& url);
