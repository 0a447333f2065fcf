#pragma once
// TCustomLineWSocket and TCustomSyncWSocket: the line-mode and waiting layers of the socket
// chain. With line mode off they are transparent; line delivery and the waiting primitive
// are not there yet, so every operation is the base socket's.
#include "socket/WSocketSocks.h"

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    explicit TCustomLineWSocket(TComponent* AOwner = nullptr);
    ~TCustomLineWSocket() override;
};

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    explicit TCustomSyncWSocket(TComponent* AOwner = nullptr);
    ~TCustomSyncWSocket() override;
};
