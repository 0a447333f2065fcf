// SPDX-License-Identifier: Apache-2.0
#include "socket/WSocket.h"

TWSocket::TWSocket(TComponent* AOwner) : TCustomSyncWSocket(AOwner) {}

TWSocket::~TWSocket() = default;
