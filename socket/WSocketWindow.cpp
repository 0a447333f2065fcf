// SPDX-License-Identifier: Apache-2.0
// The hidden window of a socket and the dispatch of its messages.
#include "socket/WSocketCore.h"

// All socket windows share this procedure, which finds its socket through the window's
// slot (a shared cell the socket clears before its window goes). It plays the part of the
// socket window class; windows here need no class registered first.
void NotifyWindowProc(const std::shared_ptr<TCustomWSocket*>& Slot, TMessage& Msg) {
    if (TCustomWSocket* socket = *Slot) {
        socket->DispatchSocketMessage(Msg);
        return;
    }
    Msg.Result = DefWindowProc(0, Msg.Msg, Msg.WParam, Msg.LParam);
}

HWND WSocketAllocateHWnd(TWndMethod Method) { return AllocateHWnd(std::move(Method)); }

void WSocketDeallocateHWnd(HWND Wnd) { DeallocateHWnd(Wnd); }

void TCustomWSocket::AllocateNotifyWindow() {
    WindowSlot = std::make_shared<TCustomWSocket*>(this);
    NotifyWindow = AllocateHWnd([slot = WindowSlot](TMessage& Msg) { NotifyWindowProc(slot, Msg); });
}

void TCustomWSocket::DeallocateNotifyWindow() {
    if (WindowSlot) *WindowSlot = nullptr;  // a message already being dispatched finds no socket
    if (NotifyWindow != 0) DeallocateHWnd(NotifyWindow);
    NotifyWindow = 0;
}

void TCustomWSocket::DispatchSocketMessage(TMessage& Msg) {
    try {
        switch (Msg.Msg) {
            case MSG_SOCKET_EVENT:
                HandleSelectNotify(Msg);
                break;
            case MSG_LOOKUP_DONE:
                HandleLookupDone(Msg);
                break;
            case MSG_REVERSE_LOOKUP_DONE:
                HandleReverseLookupDone(Msg);
                break;
            case MSG_CLOSE_REQUEST:
                Close();
                break;
            case MSG_RELEASE_REQUEST:
                delete this;  // nothing of the object may be touched after this
                return;
            case MSG_EYEBALLS_EVENT:
                HandleEyeballsEvent(Msg);
                break;
            case WM_TIMER:
                if (Msg.WParam == TWSocketEyeballs::TimerId) {
                    HandleEyeballsEvent(Msg);
                    break;
                }
                Msg.Result = DefWindowProc(NotifyWindow, Msg.Msg, Msg.WParam, Msg.LParam);
                break;
            case MSG_TEST_EXCEPTION:
                throw ESocketException("Test exception in WSocket");
            default:
                Msg.Result = DefWindowProc(NotifyWindow, Msg.Msg, Msg.WParam, Msg.LParam);
        }
    } catch (Exception& E) {
        HandleBgException(E);
    }
}
