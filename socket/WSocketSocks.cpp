#include "socket/WSocketSocks.h"

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {}

TCustomSocksWSocket::~TCustomSocksWSocket() = default;
