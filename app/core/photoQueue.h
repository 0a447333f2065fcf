// SPDX-License-Identifier: Apache-2.0
#pragma once
// TPhotoQueue: fetches the photos of one album through the threaded fetcher, several at a
// time and ahead of the workflow, which takes them strictly in album order.
//
// Each transfer writes into the photo's file name plus ".part". A photo that arrived is
// checked as a whole JPEG on a thread of its own (TPhotoCheck), and gets its final name
// only when it passed and the workflow asks for it (Fetch): the folder only ever shows
// whole photos 0..k committed in order. A transfer that fails for a reason that may pass
// (THTTPGet::LastFailureMayPass) is tried again after a growing pause, up to the retry
// count, while the others go on; anything else is final at once, and so is a photo that
// is not a whole JPEG. A photo due for another attempt gets the next free connection
// before any photo further ahead; the photo the workflow waits for takes a connection
// from the furthest photo ahead when all are busy (that photo goes back in line, its
// attempt not counted).
//
// Whether a photo is there already is decided here alone: a photo whose final file
// exists when its turn to start comes is checked like a fetched one (on a thread of its
// own, at most as many at a time as there are connections) and kept when it passes (an
// album run again resumes); one that fails is deleted, told to OnRecheckFailed and
// fetched again.
//
// The caller holds the album folder's lock (TFolderLock) while the queue lives: nothing it
// checked changes under it. Part files are never written through a symbolic link
// (fmCreateNoLink), are made durable before they are checked (so that any rename that
// survives a crash names a whole photo), and the folder's renames are made durable once,
// when the album's fetching ends (Abandon).
//
// With one connection nothing is fetched ahead: photo n's transfer starts when Fetch(n) is
// called and is the only one on the wire.
//
// Pipelining (several connections): each transfer names the photo to follow it on its
// connection (THTTPGet::NextURL), a photo within the look-ahead that no other transfer
// named, and the one to follow that (THTTPGet::AfterNextURL); when it ends well, that photo is started next unless the photo the workflow waits
// for or a due retry needs the connection. Its request then went out behind the last one,
// and its answer is on the way; so a named photo the workflow waits for takes no
// connection from another. A transfer on such a connection ends well only once the
// connection was seen in step after it (wininet/WinInet.h, HttpAnnounceNextRequestA); an
// answer discarded because it was not (ERROR_INTERNET_ANSWER_DISCARDED) puts its photo
// back in line, the attempt not counted: its server gets one request at a time from then
// on, so this happens at most once per connection that carried requests back to back.
//
// Runs on the GUI thread. Fetch and Abandon dispatch messages while they wait (blocking
// when there are none), so window events run meanwhile, as in every transfer's wait.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

class THTTPGet;
class TPhotoCheck;

class TPhotoQueue {
public:
    struct TPhoto {
        std::string Url;
        std::string File;  // the final name
    };

    // How a photo's turn ended.
    enum class TResult {
        Committed,  // in place under its final name (fetched now or found there)
        Failed,     // failed for good: FailureText says why; nothing left under either name
        NotAJpeg,   // arrived but is not a whole JPEG: likewise
        Stopped,    // Cancel or Abandon came first
    };

    // connections: 1..16 transfers in flight; retries: further attempts after a failure
    // that may pass (0: none); pipelining: name each transfer's follower (above).
    TPhotoQueue(std::vector<TPhoto> photos, int connections, int retries, bool pipelining = true);
    // A transfer receiving fewer than bytesPerSecond over timeMs fails, a failure that may
    // pass (THTTPGet::LowSpeedLimit); 0: no limit (the default). Before the first Fetch.
    void SetLowSpeed(std::uint32_t bytesPerSecond, std::uint32_t timeMs) {
        lowSpeedLimit_ = bytesPerSecond;
        lowSpeedTimeMs_ = timeMs;
    }
    // Abandon, when it has not run.
    ~TPhotoQueue();
    TPhotoQueue(const TPhotoQueue&) = delete;
    TPhotoQueue& operator=(const TPhotoQueue&) = delete;

    // Photo n's turn: starts its transfer unless it runs already (and those ahead of it,
    // connections permitting), waits until it is over, retries and check included, and
    // renames it. Photos are asked for in increasing order.
    TResult Fetch(int n);
    // Why photo n failed for good (one line), empty otherwise.
    const std::string& FailureText(int n) const { return slots_[static_cast<size_t>(n)].failure; }
    // Transfers started for photo n so far.
    int Attempts(int n) const { return slots_[static_cast<size_t>(n)].attempts; }

    // The stop: cuts every running transfer and cancels every pause, and starts nothing
    // from now on; a Fetch waiting returns Stopped at once. Does not wait (callable from a
    // stop button's handler inside Fetch's wait). Abandon must follow.
    void Cancel();
    // Ends the album's fetching: Cancel, then waits (dispatching messages) until every
    // transfer and check has let go of its file, and deletes every file of a photo that
    // was not committed. Nothing past the last committed photo stays on disk, and the
    // renames of the committed ones are durable (the folder is synchronised). Called again,
    // does nothing.
    void Abandon();

    // The most bytes a photo may have (0: no bound); a larger one fails for good, naming
    // the limit. Before the first Fetch.
    void SetMaxPhotoSize(std::int64_t bytes) { maxPhotoSize_ = bytes; }
    // Called (GUI thread) when photo n was found under its final name but failed its
    // check, with why; the file is gone by then and the photo is fetched again.
    std::function<void(int n, const std::string& why)> OnRecheckFailed;

    // The pause before attempt number `attempt` + 1 of a photo: 0.5 s, 1 s, 2 s, ... at
    // most 30 s.
    static int RetryPauseMs(int attempt);

private:
    // A photo's life: Waiting (not started, or due for another attempt) -> Running ->
    // Pausing (before a retry) -> ... -> Checking -> Fetched (whole, under ".part") ->
    // Committed; or Failed for good; Present when its final file was there before it was
    // started.
    enum class TState { Waiting, Running, Pausing, Checking, Fetched, Committed, Failed, Present };
    struct TSlot {
        TPhoto photo;
        TState state = TState::Waiting;
        int attempts = 0;
        bool preempted = false;            // its transfer was cut to free a connection
        bool notAJpeg = false;             // Failed because the check refused it
        bool found = false;                // Checking: the final file found there, not a part
        int follower = -1;                 // while Running: the photo named to follow it
        int follower2 = -1;                // ... and the one named to follow that one
        bool named = false;                // a running transfer named it as its follower
        std::unique_ptr<THTTPGet> fetcher;  // while Running
        TPhotoCheck* check = nullptr;      // while Checking (frees itself)
        std::string failure;
    };

    void Fill();
    void Recheck(int k);
    void Start(int k);
    int NameFollower(int k);
    bool FollowerGoesNext(int next) const;
    void Preempt();
    void Finished(int k, bool succeeded);
    void Checked(int k, const std::string& failure);
    void Fail(int k, const std::string& why);
    void RetryDue(int k);
    int Count(TState state) const;
    std::string PartName(int k) const { return slots_[static_cast<size_t>(k)].photo.File + ".part"; }

    std::vector<TSlot> slots_;
    const int connections_;
    const int retries_;
    const int lookahead_;  // photos from base_ on that may be started
    const bool pipelining_;
    std::int64_t maxPhotoSize_ = 0;
    std::uint32_t lowSpeedLimit_ = 0, lowSpeedTimeMs_ = 0;
    int base_ = 0;         // the photo asked for last
    std::string renamedInto_;  // the folder of the renames not yet made durable
    bool cancelled_ = false;
    bool abandoned_ = false;
    HWND timers_;          // retry timers, id = photo number + 1
};
