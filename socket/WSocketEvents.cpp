// SPDX-License-Identifier: Apache-2.0
// Turning socket notifications into state changes and events: the notification handler,
// the receive loop, the send loop, the Fire operations and background exceptions.
#include "socket/WSocketCore.h"

void TCustomWSocket::HandleSelectNotify(TMessage& Msg) {
    // Notifications of an earlier session's handle, and all of them while paused, are stale.
    if (Msg.WParam != SocketHandle || Paused) return;
    const WORD event = LoWord(Msg.LParam);
    const WORD error = HiWord(Msg.LParam);

    if ((event & FD_CONNECT) && FState != wsConnected) {
        ChangeState(wsConnected);
        FireSessionConnected(error);
        if (error != 0 && FState != wsClosed) Close();
    }
    if (event & FD_READ) {
        // Data may arrive before the connect notification is handled.
        if (FState != wsConnected) {
            ChangeState(wsConnected);
            FireSessionConnected(error);
        }
        ReceiveLoop(error, ComponentOptions);
    }
    if (event & FD_WRITE) {
        TryToSend();
        if (AllSent) FireDataSent(error);
    }
    if (event & FD_ACCEPT) FireSessionAvailable(error);
    if ((event & FD_CLOSE) && FState != wsConnecting) {
        // Everything the peer sent before its end is delivered first, whatever the options.
        ReceiveLoop(0, ComponentOptions.Without(wsoNoReceiveLoop));
        if (!CloseInvoked) {
            CloseInvoked = true;
            FireSessionClosed(error);
        }
        if (FState != wsClosed) Close();
    }
}

void TCustomWSocket::ReceiveLoop(WORD Error, TWSocketOptions Options) {
    // An exception from a handler (or a descendant) ends this delivery and goes no further.
    try {
        for (;;) {
            FLastError = 0;
            const int readBefore = FReadCount;
            if (!FireDataAvailable(Error)) {
                // Nobody reads: discard so that the connection keeps flowing.
                char junk[1024];
                if (RawReceive(junk, sizeof junk, 0) == -1 && WSocket_WSAGetLastError() == WSAEWOULDBLOCK) {
                    FLastError = 0;
                    break;
                }
            }
            if (Options.Contains(wsoNoReceiveLoop)) {
                // One delivery per notification. The network announces what is left after a
                // read; kept bytes have nobody to announce them but the socket itself.
                if (FReadCount != readBefore && SocketHandle != INVALID_SOCKET && KeptCount() > 0)
                    PostMessage(NotifyWindow, MSG_SOCKET_EVENT, SocketHandle, MakeLParam(FD_READ, 0));
                break;
            }
            if (FLastError != 0) break;  // the handler's read failed (or would block)
            if (SocketHandle == INVALID_SOCKET) break;
            if (KeptCount() > 0) continue;  // the network is asked once these are gone
            std::uint32_t waiting = 0;
            if (WSocket_ioctlsocket(SocketHandle, WS_FIONREAD, &waiting) == SOCKET_ERROR) {
                FLastError = WSocket_WSAGetLastError();
                break;
            }
            if (waiting == 0) break;
        }
    } catch (...) {
    }
}

void TCustomWSocket::TryToSend() {
    if (SocketHandle == INVALID_SOCKET) return;
    // Nothing queued counts as all sent (an empty Send must not leave a Flush waiting).
    if (SendQueue.empty()) {
        AllSent = true;
        return;
    }
    // A Send from an OnSendData handler only queues: this loop sends its bytes in order,
    // where a nested loop would send the front block's bytes a second time.
    if (Sending) return;
    Sending = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{Sending};

    for (;;) {
        if (SocketHandle == INVALID_SOCKET || SendQueue.empty()) return;
        TBuffer* buffer = SendQueue.front().get();
        std::int32_t count = 0;
        const char* data = buffer->PendingData(count);
        if (count <= 0) {
            if (SendQueue.size() == 1) {
                AllSent = true;  // the last block stays for reuse
                return;
            }
            RecycleBuffer(std::move(SendQueue.front()));
            SendQueue.pop_front();
            continue;
        }
        const unsigned generation = QueueGeneration;
        const int n = RawSend(data, count);
        if (n == 0) return;
        if (n < 0) {
            const int code = WSocket_WSAGetLastError();
            switch (code) {
                case WSAECONNRESET:
                case WSAENOTSOCK:
                case WSAENOTCONN:
                case WSAEINVAL:
                case WSAECONNABORTED:
                    // The connection is gone: a close, not an error.
                    CloseInvoked = true;
                    Close();
                    FireSessionClosed(static_cast<WORD>(code));
                    return;
                case WSAEWOULDBLOCK:
                    return;  // the rest goes out on the next FD_WRITE
                default:
                    ReportSocketError("TryToSend failed");
                    return;
            }
        }
        if (generation != QueueGeneration) return;  // a handler cleared the queue meanwhile
        buffer->Consume(n);
        if (n < count) return;  // the system is full: wait for FD_WRITE
    }
}

bool TCustomWSocket::FireDataAvailable(WORD Error) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomWSocket::FireSessionAvailable(WORD Error) {
    if (OnSessionAvailable) OnSessionAvailable(this, Error);
}

void TCustomWSocket::FireSessionConnected(WORD Error) {
    if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomWSocket::FireSessionClosed(WORD Error) {
    if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomWSocket::FireDataSent(WORD Error) {
    if (OnDataSent) OnDataSent(this, Error);
}

void TCustomWSocket::FireChangeState(TSocketState OldState, TSocketState NewState) {
    if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::FireDnsLookupDone(WORD Error) {
    if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::HandleBgException(Exception& E) {
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, E, canClose);
        } catch (...) {
        }
    }
    if (canClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}
