// SPDX-License-Identifier: Apache-2.0
// The receive low-water mark: set on the system's socket, remembered per connection.
#include "socket/WSocketCore.h"

bool TCustomWSocket::SetReadLowWater(int Bytes) {
    if (SocketHandle == INVALID_SOCKET || FState != wsConnected || Bytes < 1) return false;
    if (WSocket_setsockopt(SocketHandle, WS_SOL_SOCKET, WS_SO_RCVLOWAT, reinterpret_cast<const char*>(&Bytes),
                           sizeof Bytes) == SOCKET_ERROR)
        return false;
    FReadLowWater = Bytes;
    FReadLowWaterHandle = SocketHandle;
    return true;
}

// A closed connection's mark died with it: the next one starts at the system's default.
int TCustomWSocket::ReadLowWater() const {
    return SocketHandle != INVALID_SOCKET && FReadLowWaterHandle == SocketHandle ? FReadLowWater : 1;
}

int TCustomWSocket::ReadLowWaterSlack() const { return KeptCount() + WS_STREAM_READ_AHEAD; }
