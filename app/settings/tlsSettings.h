// SPDX-License-Identifier: Apache-2.0
#pragma once
// How HTTPS servers are trusted: the [tls] section of the settings file, overridden by the
// command line, applied to the socket layer's TLS settings (which every HTTPS transfer of
// the process uses).
//
//   [tls]
//   ca-file=PATH    one more PEM file of trusted authorities, beside the system's
//   verify=false    certificates are not checked at all (a warning with every album)
//
// SSL_CERT_FILE and SSL_CERT_DIR replace the system's authorities as usual.
#include <optional>
#include <string>

class TSettingsFile;

struct TTlsChoice {
    std::string CaFile;  // empty: none
    bool Verify = true;
    std::string Source;  // what turned verification off ("[tls] verify=false", "--insecure")
};

// The choice of the settings file; command-line values (when given) win.
TTlsChoice ReadTlsChoice(const TSettingsFile& ini, const std::optional<std::string>& caFileArg, bool insecureArg);

// Hands the choice to the socket layer. Raises Exception naming the file when the
// authority file cannot be loaded (the settings before stay).
void ApplyTlsChoice(const TTlsChoice& choice);

// The warning shown with every album while verification is off (GBK), empty otherwise.
std::string TlsWarningLine(const TTlsChoice& choice);
// The choice last applied.
const TTlsChoice& CurrentTlsChoice();
