// SPDX-License-Identifier: Apache-2.0
// Ending a session (graceful, abortive, deferred) and the operations that wait while
// dispatching messages: Flush, DrainUntilClosed and the pumps they use.
//
// The waits dispatch messages in the same order as a polling loop would, but when nothing
// is pending and the awaited thing will arrive as a message (a write or read
// notification), they block until it does instead of spinning.
#include "platform/ErrorGuard.h"
#include "socket/WSocketCore.h"

namespace {
// How long a wait sleeps between polls when no message will announce progress.
constexpr int kPollMs = 5;
}  // namespace

void TCustomWSocket::InternalClose(bool Graceful, WORD Error) {
    // A race in flight closes as the one connect it stands for.
    if (Eyeballs) {
        SocketHandle = Eyeballs->Abandon();
        Eyeballs.reset();
    }
    if (SocketHandle == INVALID_SOCKET) {
        if (FState != wsClosed) {
            ChangeState(wsClosed);
            ResetToDefaults();
        }
        return;
    }
    if (FState == wsClosed) return;
    if (Graceful) Shutdown(SD_SEND);

    const SOCKET handle = SocketHandle;
    int code = 0;
    for (;;) {
        if (WSocket_closesocket(handle) == 0) {
            code = 0;
            break;
        }
        code = WSocket_WSAGetLastError();
        if (code != WSAEWOULDBLOCK) break;
        // Unsent data with a linger time: let the system drain it, keep the thread alive.
        WaitMessageFor(kPollMs);
        ProcessPendingMessages();
    }
    SocketHandle = INVALID_SOCKET;
    if (code != 0 && code != WSANOTINITIALISED) {
        FLastError = code;
        ReportSocketError("Disconnect (closesocket)");
        return;
    }
    ChangeState(wsClosed);
    if (!Destroying() && !CloseInvoked) {
        CloseInvoked = true;
        FireSessionClosed(Error);
    }
    try {
        ResetToDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::Abort() {
    CancelDnsLookup();
    ClearSendQueue();
    if (FState == wsConnected && ProtocolNumber == WS_IPPROTO_TCP) {
        LingerOnOff = wsLingerOff;
        ApplyLinger();
    }
    InternalClose(false, 0);
}

void TCustomWSocket::PostClose() { PostMessage(NotifyWindow, MSG_CLOSE_REQUEST, 0, 0); }

void TCustomWSocket::PostRelease() { PostMessage(NotifyWindow, MSG_RELEASE_REQUEST, 0, 0); }

bool TCustomWSocket::NotificationsFlow() const {
    return !Paused && NotifyWindow != 0 && SocketHandle != INVALID_SOCKET && SelectMask != 0;
}

void TCustomWSocket::Flush() {
    // Called from inside the send loop (an OnSendData handler), the loop itself is the flush.
    if (Sending) return;
    while (SocketHandle != INVALID_SOCKET && !AllSent) {
        TryToSend();
        if (SocketHandle == INVALID_SOCKET || AllSent) {
            ProcessPendingMessages();
        } else if (NotificationsFlow()) {
            WaitForPendingMessages();  // the next FD_WRITE
        } else {
            WaitMessageFor(kPollMs);
            ProcessPendingMessages();
        }
    }
}

void TCustomWSocket::DrainUntilClosed() {
    while (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
        ProcessPendingMessages();
        std::uint32_t waiting = 0;
        if (WSocket_ioctlsocket(SocketHandle, WS_FIONREAD, &waiting) == SOCKET_ERROR) break;
        if (waiting > 0 || KeptCount() > 0) FireDataAvailable(0);
        if (SocketHandle == INVALID_SOCKET) break;
        char none;
        if (RawReceive(&none, 0, 0) < 0) {
            FLastError = WSocket_WSAGetLastError();
            if (FLastError != WSAEWOULDBLOCK) break;
            // Nothing there: the next read or close notification ends the wait.
            if (NotificationsFlow()) {
                WaitForPendingMessages();
                continue;
            }
            WaitMessageFor(kPollMs);
        } else {
            // A zero-length read succeeds on waiting data and on the end of the stream. At
            // the end, the close notification that follows it closes the socket.
            if (WSocket_ioctlsocket(SocketHandle, WS_FIONREAD, &waiting) == SOCKET_ERROR) break;
            if (waiting == 0 && KeptCount() == 0) {
                FLastError = 0;
                if (!NotificationsFlow()) break;
                WaitForPendingMessages();
                continue;
            }
        }
        ProcessPendingMessages();
    }
}

void TCustomWSocket::ProcessPendingMessages() {
    if (MultiThreaded)
        PumpPrivateMessages();
    else
        ProcessMessages();
}

void TCustomWSocket::PumpPrivateMessages() {
    MSG msg;
    while (PeekMessage(msg, true)) {
        if (msg.message == WM_QUIT) {
            FTerminated = true;
            continue;
        }
        GuardedCall([&] { DispatchMessage(msg); });
    }
}

void TCustomWSocket::WaitForPendingMessages() {
    if (MultiThreaded) {
        WaitMessage();
        PumpPrivateMessages();
    } else {
        WaitAndProcessMessages();
    }
}
