#pragma once
// TCustomSocksWSocket: the proxy layer of the socket chain. Connections through a proxy
// are not supported yet; every operation is the base socket's.
#include "socket/WSocketCore.h"

class TCustomSocksWSocket : public TCustomWSocket {
public:
    explicit TCustomSocksWSocket(TComponent* AOwner = nullptr);
    ~TCustomSocksWSocket() override;
};
