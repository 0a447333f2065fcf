// SPDX-License-Identifier: Apache-2.0
// The socket layer's setter of the TLS settings and its TLS error codes.
#include "socket/WSocketTlsConfig.h"

#include "socket/WSocketErrors.h"

void TlsSetSettings(const TTlsSettings& Settings) {
    try {
        TlsApplySettings(Settings);
    } catch (const ETlsError& e) {
        throw ESocketException(e.Message());  // what the socket layer's callers catch
    }
}

int TlsFailureSocketCode(TTlsFailure Kind) {
    switch (Kind) {
        case TTlsFailure::None: return 0;
        case TTlsFailure::UntrustedAuthority: return 20101;
        case TTlsFailure::NameMismatch: return 20102;
        case TTlsFailure::DateInvalid: return 20103;
        case TTlsFailure::ChannelError: return 20104;
        case TTlsFailure::Truncated: return 20105;
    }
    return 0;
}

TTlsFailure TlsFailureOfSocketCode(int Code) {
    switch (Code) {
        case 20101: return TTlsFailure::UntrustedAuthority;
        case 20102: return TTlsFailure::NameMismatch;
        case 20103: return TTlsFailure::DateInvalid;
        case 20104: return TTlsFailure::ChannelError;
        case 20105: return TTlsFailure::Truncated;
        default: return TTlsFailure::None;
    }
}

std::string TlsSocketErrorText(int Code) {
    switch (TlsFailureOfSocketCode(Code)) {
        case TTlsFailure::UntrustedAuthority: return "TLS: certificate not trusted";
        case TTlsFailure::NameMismatch: return "TLS: certificate for another name";
        case TTlsFailure::DateInvalid: return "TLS: certificate expired or not yet valid";
        case TTlsFailure::ChannelError: return "TLS: handshake or record failure";
        case TTlsFailure::Truncated: return "TLS: connection closed without TLS close_notify";
        case TTlsFailure::None: break;
    }
    return {};
}
