// SPDX-License-Identifier: Apache-2.0
#include "app/core/photoQueue.h"

#include <algorithm>
#include <cerrno>

#include "app/core/photoCheck.h"
#include "fetcher/HTTPGet.h"
#include "base/SysUtils.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Messages.h"
#include "wininet/WinInet.h"

namespace {

constexpr int kFirstPauseMs = 500;
constexpr int kLongestPauseMs = 30000;
constexpr char kStopped[] = "stopped";

}  // namespace

TPhotoQueue::TPhotoQueue(std::vector<TPhoto> photos, int connections, int retries, bool pipelining)
    : connections_(std::max(1, connections)),
      retries_(std::max(0, retries)),
      // Far enough ahead that the connections stay busy while the workflow waits on a slow
      // photo, near enough that a stop or failure throws little away. A connection carries
      // three photos at a time when its server answers requests sent back to back, and
      // photos fetched but not yet taken by the workflow stay in the window meanwhile.
      lookahead_(connections_ == 1 ? 1 : (pipelining ? 6 : 2) * connections_),
      pipelining_(pipelining && connections_ > 1),
      timers_(AllocateHWnd([this](TMessage& m) {
          if (m.Msg == WM_TIMER) RetryDue(static_cast<int>(m.WParam) - 1);
      })) {
    slots_.reserve(photos.size());
    for (TPhoto& p : photos) {
        slots_.emplace_back();
        slots_.back().photo = std::move(p);
    }
}

TPhotoQueue::~TPhotoQueue() {
    // A queue left by an exception: its workers may still write their part files, so
    // they are cut and waited for before anything is deleted, as in a stop.
    Abandon();
    DeallocateHWnd(timers_);
}

int TPhotoQueue::RetryPauseMs(int attempt) {
    int pause = kFirstPauseMs;
    for (int a = 1; a < attempt && pause < kLongestPauseMs; ++a) pause *= 2;
    return std::min(pause, kLongestPauseMs);
}

int TPhotoQueue::Count(TState state) const {
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [state](const TSlot& s) { return s.state == state; }));
}

// Starts waiting photos in album order from the one asked for last, within the look-ahead
// and while connections are free. Album order also puts a photo due for a retry ahead of
// every photo after it. A photo named as a running transfer's follower waits for it.
void TPhotoQueue::Fill() {
    if (cancelled_) return;
    int running = Count(TState::Running);
    int rechecks = static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const TSlot& s) {
        return s.state == TState::Checking && s.found;
    }));
    const int end = std::min(static_cast<int>(slots_.size()), base_ + lookahead_);
    std::vector<int> starting;
    for (int k = base_; k < end && running + static_cast<int>(starting.size()) < connections_; ++k) {
        TSlot& s = slots_[static_cast<size_t>(k)];
        if (s.state != TState::Waiting || s.named) continue;
        if (s.attempts == 0 && FileExists(s.photo.File)) {
            if (rechecks >= connections_) break;  // its turn comes when a check ends
            ++rechecks;
            Recheck(k);
            continue;
        }
        s.state = TState::Running;  // taken: not to be named as another's follower
        starting.push_back(k);
    }
    for (int k : starting) Start(k);
    running = Count(TState::Running);
    // A named photo's request is out already: its answer comes behind its predecessor's.
    if (base_ < static_cast<int>(slots_.size()) && slots_[static_cast<size_t>(base_)].state == TState::Waiting &&
        !slots_[static_cast<size_t>(base_)].named && running >= connections_)
        Preempt();
}

// The photo the workflow waits for is never queued behind later ones: the furthest photo
// ahead gives up its connection (once at a time) and goes back in line.
void TPhotoQueue::Preempt() {
    int victim = -1;
    for (int k = static_cast<int>(slots_.size()) - 1; k > base_; --k) {
        const TSlot& s = slots_[static_cast<size_t>(k)];
        if (s.state != TState::Running) continue;
        if (s.preempted) return;  // one is on its way out already
        if (victim < 0) victim = k;
    }
    if (victim < 0) return;
    TSlot& s = slots_[static_cast<size_t>(victim)];
    s.preempted = true;
    s.fetcher->Abort();
}

// A photo found under its final name: checked as a fetched one is, kept only when whole.
void TPhotoQueue::Recheck(int k) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    s.state = TState::Checking;
    s.found = true;
    try {
        s.check = TPhotoCheck::Run(s.photo.File, maxPhotoSize_, [this, k](const std::string& failure) { Checked(k, failure); });
    } catch (const std::exception& e) {
        s.check = nullptr;
        s.found = false;
        Fail(k, e.what());
    }
}

void TPhotoQueue::Start(int k) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    ++s.attempts;
    s.fetcher = std::make_unique<THTTPGet>();
    THTTPGet& f = *s.fetcher;
    f.SetURL(s.photo.Url);
    f.SetFileName(PartName(k));
    f.SetMaxBodySize(maxPhotoSize_);
    f.SetLowSpeedLimit(lowSpeedLimit_);
    f.SetLowSpeedTime(lowSpeedTimeMs_);
    s.follower = NameFollower(k);
    s.follower2 = s.follower >= 0 ? NameFollower(s.follower) : -1;
    if (s.follower >= 0) f.SetNextURL(slots_[static_cast<size_t>(s.follower)].photo.Url);
    if (s.follower2 >= 0) f.SetAfterNextURL(slots_[static_cast<size_t>(s.follower2)].photo.Url);
    f.OnDoneFile = [this, k](TObject*, const std::string&, std::int32_t) { Finished(k, true); };
    f.OnError = [this, k](TObject*) { Finished(k, false); };
    s.state = TState::Running;
    try {
        f.FetchToFile();
    } catch (const std::exception& e) {  // no thread for it: a local failure, final
        s.fetcher.reset();
        for (int* named : {&s.follower, &s.follower2}) {  // they wait for nothing now
            if (*named >= 0) slots_[static_cast<size_t>(*named)].named = false;
            *named = -1;
        }
        Fail(k, e.what());
    }
}

// The first photo after k within the look-ahead that is yet to be started and that no
// running transfer named (its request may go out at once: FollowerGoesNext need not wait).
int TPhotoQueue::NameFollower(int k) {
    if (!pipelining_) return -1;
    const size_t end = std::min(slots_.size(), static_cast<size_t>(base_ + lookahead_));
    for (size_t j = static_cast<size_t>(k) + 1; j < end; ++j) {
        TSlot& s = slots_[j];
        if (s.state != TState::Waiting || s.attempts > 0 || s.named) continue;
        if (FileExists(s.photo.File)) continue;  // Fill will find it there
        s.named = true;
        return static_cast<int>(j);
    }
    return -1;
}

// Whether the named follower may take the connection its predecessor left: it is still to
// be started and within the look-ahead, and neither the photo the workflow waits for nor a
// due retry before it is waiting for a connection.
bool TPhotoQueue::FollowerGoesNext(int next) const {
    if (cancelled_ || next < 0 || next >= base_ + lookahead_) return false;
    if (slots_[static_cast<size_t>(next)].state != TState::Waiting) return false;
    for (int j = base_; j < next; ++j) {
        const TSlot& s = slots_[static_cast<size_t>(j)];
        if (s.state == TState::Waiting && (j == base_ || s.attempts > 0)) return false;
    }
    return Count(TState::Running) < connections_;
}

// Runs in the fetcher's completion, on the GUI thread; frees the fetcher (which allows its
// own handler to do so).
void TPhotoQueue::Finished(int k, bool succeeded) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    const std::unique_ptr<THTTPGet> f = std::move(s.fetcher);
    const bool preempted = s.preempted;
    s.preempted = false;
    const int follower = s.follower;
    s.follower = -1;
    if (follower >= 0) slots_[static_cast<size_t>(follower)].named = false;
    // The one after it is named again by the follower, if it goes next.
    if (s.follower2 >= 0) slots_[static_cast<size_t>(s.follower2)].named = false;
    s.follower2 = -1;
    if (succeeded && !cancelled_) {
        s.state = TState::Checking;
        try {
            s.check = TPhotoCheck::Run(PartName(k), maxPhotoSize_, [this, k](const std::string& failure) { Checked(k, failure); });
        } catch (const std::exception& e) {
            s.check = nullptr;
            Fail(k, e.what());
        }
    } else if (cancelled_) {
        Fail(k, kStopped);
    } else if (preempted || f->LastErrorCode() == ERROR_INTERNET_ANSWER_DISCARDED) {
        s.state = TState::Waiting;  // back in line; the cut or discarded attempt does not count
        --s.attempts;
        DeleteFile(PartName(k));
    } else if (s.attempts <= retries_ && f->LastFailureMayPass()) {
        s.state = TState::Pausing;
        DeleteFile(PartName(k));
        SetTimer(timers_, static_cast<WPARAM>(k) + 1, RetryPauseMs(s.attempts));
    } else {
        Fail(k, f->LastErrorText());
    }
    // Its answer follows on the connection this transfer left, when it ended well.
    if (succeeded && FollowerGoesNext(follower)) Start(follower);
    Fill();
}

void TPhotoQueue::Checked(int k, const std::string& failure) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    s.check = nullptr;
    if (s.found) {
        s.found = false;
        if (failure.empty()) {
            s.state = TState::Present;
        } else if (cancelled_) {
            s.state = TState::Failed;  // left as it was found; a later run checks it again
            s.failure = kStopped;
        } else {
            DeleteFile(s.photo.File);
            s.state = TState::Waiting;
            if (OnRecheckFailed) OnRecheckFailed(k, failure);
        }
        Fill();
        return;
    }
    if (cancelled_) {
        Fail(k, kStopped);
    } else if (!failure.empty()) {
        Fail(k, failure);
        s.notAJpeg = true;
    } else {
        s.state = TState::Fetched;
    }
}

void TPhotoQueue::Fail(int k, const std::string& why) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    s.state = TState::Failed;
    s.failure = why.empty() ? "transfer failed" : why;
    DeleteFile(PartName(k));
}

void TPhotoQueue::RetryDue(int k) {
    KillTimer(timers_, static_cast<WPARAM>(k) + 1);
    if (k < 0 || k >= static_cast<int>(slots_.size())) return;
    TSlot& s = slots_[static_cast<size_t>(k)];
    if (s.state != TState::Pausing) return;
    s.state = TState::Waiting;
    Fill();
}

TPhotoQueue::TResult TPhotoQueue::Fetch(int n) {
    TSlot& s = slots_[static_cast<size_t>(n)];
    base_ = n;
    // Found in place earlier but gone now: fetch it after all.
    if (s.state == TState::Present && !FileExists(s.photo.File)) s.state = TState::Waiting;
    Fill();
    while (!cancelled_ && (s.state == TState::Waiting || s.state == TState::Running ||
                           s.state == TState::Pausing || s.state == TState::Checking)) {
        WaitAndProcessMessages();
        // The application is closing: the album ends as after a stop.
        if (ApplicationTerminating()) Cancel();
    }
    switch (s.state) {
        case TState::Present:
        case TState::Committed: return TResult::Committed;
        case TState::Fetched:
            if (!RenameFile(PartName(n), s.photo.File)) {
                Fail(n, "cannot rename " + PartName(n) + ": " + SysErrorMessage(errno));
                return TResult::Failed;
            }
            // The bytes were made durable before the check, so a rename that survives a crash
            // names a whole photo; the renames themselves are made durable once, by Abandon.
            renamedInto_ = ExtractFilePath(s.photo.File);
            s.state = TState::Committed;
            return TResult::Committed;
        case TState::Failed:
            if (s.failure == kStopped) return TResult::Stopped;
            return s.notAJpeg ? TResult::NotAJpeg : TResult::Failed;
        default:
            if (s.failure.empty()) s.failure = kStopped;
            return TResult::Stopped;
    }
}

void TPhotoQueue::Cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    for (size_t k = 0; k < slots_.size(); ++k) {
        TSlot& s = slots_[k];
        if (s.fetcher) s.fetcher->Abort();
        if (s.state == TState::Pausing) {
            KillTimer(timers_, k + 1);
            Fail(static_cast<int>(k), kStopped);
        }
    }
}

void TPhotoQueue::Abandon() {
    if (abandoned_) return;
    Cancel();
    abandoned_ = true;
    // A cut transfer ends at once and a check takes a few milliseconds; their completions
    // must have run before their part files can be deleted for good.
    while (Count(TState::Running) > 0 || Count(TState::Checking) > 0) WaitAndProcessMessages();
    for (size_t k = 0; k < slots_.size(); ++k) {
        TSlot& s = slots_[k];
        if (s.state == TState::Fetched) Fail(static_cast<int>(k), kStopped);
    }
    if (!renamedInto_.empty()) SyncFolder(renamedInto_);
}
