#include "socket/WSocket.h"

TWSocket::TWSocket(TComponent* AOwner) : TCustomSyncWSocket(AOwner) {}

TWSocket::~TWSocket() = default;
