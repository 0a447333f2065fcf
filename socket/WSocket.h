// SPDX-License-Identifier: Apache-2.0
#pragma once
// TWSocket: the socket the rest of the system creates. It adds no behaviour of its own to
// the chain TCustomWSocket -> TCustomSocksWSocket -> TCustomTlsWSocket ->
// TCustomLineWSocket -> TCustomSyncWSocket; see WSocketCore.h for the contracts.
#include "socket/WSocketLine.h"

class TWSocket : public TCustomSyncWSocket {
public:
    explicit TWSocket(TComponent* AOwner = nullptr);
    ~TWSocket() override;
};
