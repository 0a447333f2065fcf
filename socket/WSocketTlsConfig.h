// SPDX-License-Identifier: Apache-2.0
#pragma once
// The socket layer's view of the process-wide TLS client configuration (tls/TlsClient.h
// holds the settings, the context and the failure classes): the setter as the socket
// layer's callers know it, and the socket error codes of the failure classes.
#include <string>

#include "tls/TlsClient.h"

// TlsApplySettings, raising ESocketException (naming the file) when CaFile cannot be
// loaded; the previous settings then stay.
void TlsSetSettings(const TTlsSettings& Settings);

// The socket layer's error code of each class (reported like Winsock codes through
// OnSessionConnected and OnSessionClosed): 20101 untrusted, 20102 name, 20103 date,
// 20104 channel, 20105 truncated; 0 for None.
int TlsFailureSocketCode(TTlsFailure Kind);
// The class of a socket error code; None for any other code.
TTlsFailure TlsFailureOfSocketCode(int Code);
// A short text of a socket code ("TLS: ..."), empty when the code is not one of these.
std::string TlsSocketErrorText(int Code);
