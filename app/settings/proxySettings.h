// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one proxy setting of the program: which proxy, if any, a transfer to an address uses.
//
// Sources, each of the proxy and the no-proxy list resolved on its own, the first present
// one winning:
//   1. the command line: --proxy URL, --no-proxy LIST (an empty --proxy "" means a direct
//      connection whatever the others say);
//   2. the settings file: [network] proxy=URL, [network] no-proxy=LIST;
//   3. the environment: for https addresses https_proxy, then HTTPS_PROXY; for http
//      addresses http_proxy only (the upper-case name can be set from a request header in a
//      CGI environment, so it is never read); for both, when the scheme's own variable is
//      absent, all_proxy, then ALL_PROXY; the list from no_proxy, then NO_PROXY. An empty
//      variable counts as absent.
// The command line and the settings file name one proxy for both schemes.
//
// A proxy URL is [scheme://][user[:password]@]host[:port][/]:
//   http     an HTTP proxy (absolute request addresses; CONNECT for https); port 80
//   socks4   SOCKS 4, names resolved here (IPv4 only); the user is the user id; port 1080
//   socks4a  SOCKS 4A, names resolved by the proxy; port 1080
//   socks5   SOCKS 5, names resolved here; optional user and password; port 1080
//   socks5h  SOCKS 5, names resolved by the proxy; port 1080
// No scheme means http (as environment values are usually written). User and password are
// percent-decoded; a host may be a bracketed IPv6 literal. Anything else (another scheme, a
// bad port, a path, a password for SOCKS 4, a bad percent sequence) is unusable: an
// EProxySetting naming the URL and where it came from, never a silent direct connection.
//
// A no-proxy LIST has entries separated by commas or blanks: a host name matches itself and
// its subdomains (a leading "." or "*." is allowed and means the same), an IP address
// matches itself only, "*" matches every host. A ":port" on an entry is ignored. Names
// compare without regard to case.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Exception.h"

// An unusable proxy URL. The message names the URL and its source.
class EProxySetting : public Exception {
public:
    using Exception::Exception;
    ~EProxySetting() override;
    const char* ClassName() const noexcept override { return "EProxySetting"; }
};

class TSettingsFile;

enum class TProxyKind { None, Http, Socks4, Socks4a, Socks5, Socks5h };

struct TProxy {
    static constexpr int DefaultHttpPort = 80;
    static constexpr int DefaultSocksPort = 1080;

    TProxyKind Kind = TProxyKind::None;
    std::string Host;  // without brackets
    int Port = 0;
    std::string User, Password;  // decoded

    bool IsSocks() const { return Kind != TProxyKind::None && Kind != TProxyKind::Http; }
    // Whether the proxy, not this side, resolves the destination's name.
    bool ResolvesNames() const { return Kind == TProxyKind::Socks4a || Kind == TProxyKind::Socks5h; }
    // "scheme://host:port", without the credentials (for messages).
    std::string Describe() const;
};

// Parses a proxy URL. Empty (or blank) text gives Kind None. source names where the text
// came from ("--proxy", "[network] proxy", "https_proxy", ...) for the error message.
TProxy ParseProxyUrl(const std::string& text, const std::string& source);

class TNoProxyList {
public:
    TNoProxyList() = default;
    explicit TNoProxyList(const std::string& list);
    // Whether host (a name or an address, an IPv6 one bracketed or not) goes direct.
    bool Matches(const std::string& host) const;

private:
    std::vector<std::string> entries_;  // lower case, without leading "." / "*." and port
    bool all_ = false;
};

class TProxySettings {
public:
    // The proxy for an address of this scheme ("http" or "https", any case) on host: Kind
    // None for a direct connection. Raises EProxySetting when the proxy that applies is
    // unusable (an unusable one that does not apply is no error).
    TProxy For(const std::string& scheme, const std::string& host) const;

    // One entry per scheme: a parsed proxy, or the error of an unusable URL.
    struct TEntry {
        TProxy Proxy;
        std::string Error;
    };
    TEntry Http, Https;
    TNoProxyList NoProxy;
};

// Values of the environment: the variable's text, or nothing when it is unset.
using TEnvironmentGetter = std::function<std::optional<std::string>(const std::string& name)>;
// The process environment.
std::optional<std::string> ProcessEnvironment(const std::string& name);

// The given sources, by the precedence above. The command line's values are nothing when
// the option was not given; the settings file's values are empty when absent.
TProxySettings ResolveProxySettings(const std::optional<std::string>& cliProxy,
                                    const std::optional<std::string>& cliNoProxy, const std::string& iniProxy,
                                    const std::string& iniNoProxy, const TEnvironmentGetter& environment);

// The settings of this process: set once at start (the command line from its options), or
// else resolved on first use from the settings file and the environment.
const TProxySettings& CurrentProxySettings();
void SetCurrentProxySettings(const TProxySettings& settings);
// The file and environment sources with these command-line values.
TProxySettings ResolveProcessProxySettings(const TSettingsFile& ini, const std::optional<std::string>& cliProxy,
                                           const std::optional<std::string>& cliNoProxy);
