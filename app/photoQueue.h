#pragma once
// TPhotoQueue: fetches the photos of one album through the threaded fetcher, several at a
// time and ahead of the workflow, which takes them strictly in album order.
//
// Each transfer writes into the photo's file name plus ".part"; a photo gets its final name
// only when the workflow asks for it (Fetch), so the folder only ever shows photos 0..k
// committed in order. A transfer that fails for a reason that may pass (refused or reset
// connection, timeout, status 500-599, a body cut off) is tried again after a growing pause,
// up to the retry count, while the others go on; anything else is final at once.
//
// With one connection nothing is fetched ahead: photo n's transfer starts when Fetch(n) is
// called and is the only one on the wire.
//
// Runs on the GUI thread. Fetch and Abandon dispatch messages while they wait (blocking
// when there are none), so window events run meanwhile, as in every transfer's wait.
#include <string>
#include <vector>

#include "platform/WinTypes.h"

class THTTPGet;

class TPhotoQueue {
public:
    struct TPhoto {
        std::string Url;
        std::string File;  // the final name
    };

    // connections: 1..16 transfers in flight; retries: further attempts after a failure
    // that may pass (0: none).
    TPhotoQueue(std::vector<TPhoto> photos, int connections, int retries);
    // Abandons what is left, without waiting for transfers that are still running.
    ~TPhotoQueue();
    TPhotoQueue(const TPhotoQueue&) = delete;
    TPhotoQueue& operator=(const TPhotoQueue&) = delete;

    // Photo n, fetched under its final name. Starts its transfer unless it runs already
    // (and those ahead of it, connections permitting), waits until it is over, retries
    // included, and renames it. True when the file is in place; false when the transfer
    // failed for good (FailureText says why; no file is left under either name).
    // Photos are asked for in increasing order. A photo whose final file exists when its
    // turn to start comes is not fetched.
    bool Fetch(int n);
    // Why photo n failed for good (one line), empty otherwise.
    const std::string& FailureText(int n) const { return slots_[static_cast<size_t>(n)].failure; }
    // Transfers started for photo n so far.
    int Attempts(int n) const { return slots_[static_cast<size_t>(n)].attempts; }

    // Ends the album's fetching: stops every running transfer, waits (dispatching messages)
    // until their threads have let go of their files, and deletes every file of a photo
    // that was not committed. Nothing past the last committed photo stays on disk. Called
    // again, does nothing.
    void Abandon();

    // The pause before attempt number `attempt` + 1 of a photo: 0.5 s, 1 s, 2 s, ... at
    // most 30 s.
    static int RetryPauseMs(int attempt);

private:
    // A photo's life: Waiting (not started, or due for another attempt) -> Running ->
    // Pausing (before a retry) -> ... -> Fetched (whole, under ".part") -> Committed;
    // or Failed for good; Present when its final file was there before it was started.
    enum class TState { Waiting, Running, Pausing, Fetched, Committed, Failed, Present };
    struct TSlot {
        TPhoto photo;
        TState state = TState::Waiting;
        int attempts = 0;
        THTTPGet* fetcher = nullptr;  // owned while Running
        std::string failure;
    };

    void Fill();
    void Start(int k);
    void Finished(int k, bool succeeded);
    void Fail(int k, const std::string& why);
    void RetryDue(int k);
    int Running() const;
    std::string PartName(int k) const { return slots_[static_cast<size_t>(k)].photo.File + ".part"; }

    std::vector<TSlot> slots_;
    const int connections_;
    const int retries_;
    const int lookahead_;  // photos from base_ on that may be started
    int base_ = 0;         // the photo asked for last
    bool abandoned_ = false;
    HWND timers_;          // retry timers, id = photo number + 1
};
