// SPDX-License-Identifier: Apache-2.0
#pragma once
// One stream connect raced over several addresses (Happy Eyeballs): the first attempt at
// once, the next one kAttemptDelayMs later or as soon as every attempt started so far has
// failed, and so on; the first attempt to connect wins and every other one is closed.
// The caller orders the addresses (IPv6 first, families alternating: see
// WSocketResolveHostList).
//
// The race belongs to one socket object and runs on its thread: attempts report FD_CONNECT
// as MsgId on Wnd, the stagger is timer TimerId of Wnd, and the owner passes both messages
// to HandleConnect / HandleTimer. The race owns every attempt handle until Take hands the
// outcome over; destroying it closes what it still owns and stops its timer.
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Messages.h"
#include "winsock/Winsock.h"

class TWSocketEyeballs {
public:
    static constexpr int kAttemptDelayMs = 250;
    static constexpr WPARAM TimerId = 0x4EB1;

    struct TCandidate {
        TSockAddrStorage Addr{};
        int Len = 0;
    };
    // Opens a handle for an attempt and sets its options (bind included); INVALID_SOCKET
    // when that failed (WSAGetLastError tells why; a partly made handle is closed).
    using TOpen = std::function<SOCKET(int Family)>;

    enum TOutcome {
        roPending,  // nothing decided yet
        roWon,      // Take: the connected handle and its address
        roFailed,   // every attempt failed; Take: the last failed handle, Error its code
    };

    TWSocketEyeballs(HWND Wnd, UINT MsgId, std::vector<TCandidate> Candidates, TOpen Open);
    ~TWSocketEyeballs();
    TWSocketEyeballs(const TWSocketEyeballs&) = delete;
    TWSocketEyeballs& operator=(const TWSocketEyeballs&) = delete;

    // Starts the first attempt (a failure to open one counts as that attempt failing).
    TOutcome Start();
    TOutcome HandleConnect(SOCKET Handle, WORD Error);
    TOutcome HandleTimer();
    // After roWon or roFailed: the handle the caller now owns (still selected for MsgId),
    // the address it was for, and the error of roFailed.
    SOCKET Take(TCandidate& Addr);
    int Error() const { return FError; }
    // Abandons the race: every handle closed but one, which the caller now owns
    // (INVALID_SOCKET when none is open).
    SOCKET Abandon();

private:
    enum TState { rsRacing, rsDecided };
    struct TAttempt {
        SOCKET Handle = INVALID_SOCKET;
        std::size_t Candidate = 0;
        bool Failed = false;
    };

    TOutcome HandleConnectRacing(SOCKET Handle, WORD Error);
    TOutcome HandleTimerRacing();
    // Opens attempts until one is in flight or none is left; then the outcome.
    TOutcome StartNext();
    TOutcome Decide(std::size_t Attempt, TOutcome Outcome);
    bool AnyInFlight() const;
    void CloseAllBut(SOCKET Keep);

    HWND FWnd;
    UINT FMsgId;
    std::vector<TCandidate> FCandidates;
    TOpen FOpen;
    std::vector<TAttempt> FAttempts;
    std::size_t FNext = 0;  // next candidate to try
    TState FState = rsRacing;
    int FError = 0;
    SOCKET FResult = INVALID_SOCKET;
    std::size_t FResultCandidate = 0;
    bool FTimerOn = false;
    // When the last attempt started: a tick queued before a restart of the timer (or by an
    // earlier race of the same window) comes too early and is ignored.
    std::chrono::steady_clock::time_point FLastStart{};
};
