// SPDX-License-Identifier: Apache-2.0
#include "socket/WSocketEyeballs.h"

#include "socket/WSocketWinsock.h"

TWSocketEyeballs::TWSocketEyeballs(HWND Wnd, UINT MsgId, std::vector<TCandidate> Candidates, TOpen Open)
    : FWnd(Wnd), FMsgId(MsgId), FCandidates(std::move(Candidates)), FOpen(std::move(Open)) {}

TWSocketEyeballs::~TWSocketEyeballs() {
    if (FTimerOn) KillTimer(FWnd, TimerId);
    CloseAllBut(INVALID_SOCKET);
    if (FResult != INVALID_SOCKET) WSocket_closesocket(FResult);
}

TWSocketEyeballs::TOutcome TWSocketEyeballs::Start() { return StartNext(); }

TWSocketEyeballs::TOutcome TWSocketEyeballs::HandleConnect(SOCKET Handle, WORD Error) {
    switch (FState) {
        case rsRacing: return HandleConnectRacing(Handle, Error);
        case rsDecided: return roPending;  // a late report of an attempt already closed
    }
    return roPending;
}

TWSocketEyeballs::TOutcome TWSocketEyeballs::HandleTimer() {
    switch (FState) {
        case rsRacing: return HandleTimerRacing();
        case rsDecided: return roPending;
    }
    return roPending;
}

TWSocketEyeballs::TOutcome TWSocketEyeballs::HandleConnectRacing(SOCKET Handle, WORD Error) {
    for (std::size_t i = 0; i < FAttempts.size(); ++i) {
        TAttempt& a = FAttempts[i];
        if (a.Handle != Handle || a.Failed) continue;
        if (Error == 0) return Decide(i, roWon);
        a.Failed = true;
        FError = Error;
        // A failed attempt does not wait for the stagger: the next address starts now.
        return StartNext();
    }
    return roPending;  // an attempt closed meanwhile
}

TWSocketEyeballs::TOutcome TWSocketEyeballs::HandleTimerRacing() {
    // Timer ticks are never early, so one that is comes from before the last start.
    if (std::chrono::steady_clock::now() - FLastStart < std::chrono::milliseconds(kAttemptDelayMs)) return roPending;
    if (FNext >= FCandidates.size()) {
        KillTimer(FWnd, TimerId);
        FTimerOn = false;
        return roPending;
    }
    return StartNext();
}

TWSocketEyeballs::TOutcome TWSocketEyeballs::StartNext() {
    while (FNext < FCandidates.size()) {
        const std::size_t c = FNext++;
        const TCandidate& cand = FCandidates[c];
        const SOCKET h = FOpen(cand.Addr.ss_family);
        if (h == INVALID_SOCKET) {
            FError = WSocket_WSAGetLastError();
            continue;
        }
        if (WSocket_WSAAsyncSelect(h, FWnd, FMsgId, FD_CONNECT) == SOCKET_ERROR) {
            FError = WSocket_WSAGetLastError();
            WSocket_closesocket(h);
            continue;
        }
        const bool started = WSocket_connect(h, reinterpret_cast<const TSockAddr*>(&cand.Addr), cand.Len) == 0 ||
                             WSocket_WSAGetLastError() == WSAEWOULDBLOCK;
        FAttempts.push_back(TAttempt{h, c, !started});
        if (!started) {
            FError = WSocket_WSAGetLastError();
            continue;
        }
        FLastStart = std::chrono::steady_clock::now();
        if (FNext < FCandidates.size()) {
            SetTimer(FWnd, TimerId, kAttemptDelayMs);  // restarts the stagger from this attempt
            FTimerOn = true;
        }
        return roPending;
    }
    if (AnyInFlight()) return roPending;
    // Nothing in flight and nothing left: the last attempt's failure is the outcome.
    std::size_t last = FAttempts.size();
    while (last > 0 && FAttempts[last - 1].Handle == INVALID_SOCKET) --last;
    if (last == 0) {
        FState = rsDecided;
        if (FTimerOn) KillTimer(FWnd, TimerId);
        FTimerOn = false;
        return roFailed;
    }
    return Decide(last - 1, roFailed);
}

TWSocketEyeballs::TOutcome TWSocketEyeballs::Decide(std::size_t Attempt, TOutcome Outcome) {
    FState = rsDecided;
    if (FTimerOn) KillTimer(FWnd, TimerId);
    FTimerOn = false;
    FResult = FAttempts[Attempt].Handle;
    FResultCandidate = FAttempts[Attempt].Candidate;
    FAttempts[Attempt].Handle = INVALID_SOCKET;
    CloseAllBut(INVALID_SOCKET);
    return Outcome;
}

bool TWSocketEyeballs::AnyInFlight() const {
    for (const TAttempt& a : FAttempts)
        if (!a.Failed && a.Handle != INVALID_SOCKET) return true;
    return false;
}

void TWSocketEyeballs::CloseAllBut(SOCKET Keep) {
    for (TAttempt& a : FAttempts) {
        if (a.Handle == INVALID_SOCKET || a.Handle == Keep) continue;
        WSocket_closesocket(a.Handle);
        a.Handle = INVALID_SOCKET;
    }
}

SOCKET TWSocketEyeballs::Take(TCandidate& Addr) {
    if (FResult != INVALID_SOCKET || FState == rsDecided) Addr = FCandidates[FResultCandidate];
    const SOCKET h = FResult;
    FResult = INVALID_SOCKET;
    return h;
}

SOCKET TWSocketEyeballs::Abandon() {
    if (FTimerOn) KillTimer(FWnd, TimerId);
    FTimerOn = false;
    FState = rsDecided;
    SOCKET keep = FResult;
    FResult = INVALID_SOCKET;
    for (TAttempt& a : FAttempts)
        if (keep == INVALID_SOCKET && a.Handle != INVALID_SOCKET) {
            keep = a.Handle;
            a.Handle = INVALID_SOCKET;
        }
    CloseAllBut(INVALID_SOCKET);
    return keep;
}
