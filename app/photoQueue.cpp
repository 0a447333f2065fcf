#include "app/photoQueue.h"

#include <algorithm>

#include "fetcher/HTTPGet.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/WinInet.h"

namespace {

constexpr int kFirstPauseMs = 500;
constexpr int kLongestPauseMs = 30000;

// A failure that may pass: the server or the way to it had trouble, and another attempt
// may succeed. A refusal of the photo itself (4xx), a local error or a stop is final.
bool MayPass(const THTTPGet& f) {
    switch (f.LastErrorCode()) {
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_TIMEOUT: return true;
        default: break;
    }
    return f.LastStatus() >= 500 && f.LastStatus() <= 599;
}

}  // namespace

TPhotoQueue::TPhotoQueue(std::vector<TPhoto> photos, int connections, int retries)
    : connections_(std::max(1, connections)),
      retries_(std::max(0, retries)),
      // Far enough ahead that the connections stay busy while the workflow waits on a slow
      // photo, near enough that a stop or failure throws little away.
      lookahead_(connections_ == 1 ? 1 : 2 * connections_),
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
    KillTimer(timers_, 0);
    DeallocateHWnd(timers_);
    // Normally Abandon has run. Otherwise a fetcher destroyed here lets its transfer run
    // to its end unobserved; its part file is deleted now, which the transfer may
    // recreate: only Abandon can promise a clean folder.
    for (size_t k = 0; k < slots_.size(); ++k) {
        TSlot& s = slots_[k];
        delete s.fetcher;
        s.fetcher = nullptr;
        if (s.state != TState::Committed && s.state != TState::Present && s.state != TState::Waiting)
            DeleteFile(PartName(static_cast<int>(k)));
    }
}

int TPhotoQueue::RetryPauseMs(int attempt) {
    int pause = kFirstPauseMs;
    for (int a = 1; a < attempt && pause < kLongestPauseMs; ++a) pause *= 2;
    return std::min(pause, kLongestPauseMs);
}

int TPhotoQueue::Running() const {
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const TSlot& s) { return s.state == TState::Running; }));
}

// Starts waiting photos in album order from the one asked for last, within the look-ahead
// and while connections are free.
void TPhotoQueue::Fill() {
    if (abandoned_) return;
    int running = Running();
    const int end = std::min(static_cast<int>(slots_.size()), base_ + lookahead_);
    for (int k = base_; k < end && running < connections_; ++k) {
        TSlot& s = slots_[static_cast<size_t>(k)];
        if (s.state != TState::Waiting) continue;
        if (s.attempts == 0 && FileExists(s.photo.File)) {
            s.state = TState::Present;
            continue;
        }
        Start(k);
        ++running;
    }
}

void TPhotoQueue::Start(int k) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    ++s.attempts;
    auto* f = new THTTPGet;
    f->SetURL(s.photo.Url);
    f->SetFileName(PartName(k));
    f->OnDoneFile = [this, k](TObject*, const std::string&, std::int32_t) { Finished(k, true); };
    f->OnError = [this, k](TObject*) { Finished(k, false); };
    s.fetcher = f;
    s.state = TState::Running;
    try {
        f->FetchToFile();
    } catch (const std::exception& e) {  // no thread for it: a local failure, final
        s.fetcher = nullptr;
        delete f;
        Fail(k, e.what());
    }
}

// Runs in the fetcher's completion, on the GUI thread.
void TPhotoQueue::Finished(int k, bool succeeded) {
    TSlot& s = slots_[static_cast<size_t>(k)];
    THTTPGet* f = s.fetcher;
    s.fetcher = nullptr;
    if (succeeded) {
        s.state = TState::Fetched;
    } else if (!abandoned_ && s.attempts <= retries_ && MayPass(*f)) {
        s.state = TState::Pausing;
        DeleteFile(PartName(k));
        SetTimer(timers_, static_cast<WPARAM>(k) + 1, RetryPauseMs(s.attempts));
    } else {
        Fail(k, abandoned_ ? "stopped" : f->LastErrorText());
    }
    delete f;  // the fetcher allows its own handler to free it
    Fill();
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
    // Back in line: it starts as soon as a connection is free, before any photo after it.
    s.state = TState::Waiting;
    Fill();
}

bool TPhotoQueue::Fetch(int n) {
    TSlot& s = slots_[static_cast<size_t>(n)];
    base_ = n;
    // Found in place earlier but gone now: fetch it after all.
    if (s.state == TState::Present && !FileExists(s.photo.File)) s.state = TState::Waiting;
    Fill();
    while (!abandoned_ && !ApplicationTerminating() &&
           (s.state == TState::Waiting || s.state == TState::Running || s.state == TState::Pausing)) {
        WaitAndProcessMessages();
        Fill();  // a photo ahead may have been refused a connection while all were busy
    }
    switch (s.state) {
        case TState::Present:
        case TState::Committed: return true;
        case TState::Fetched:
            if (!RenameFile(PartName(n), s.photo.File)) {
                Fail(n, "cannot rename " + PartName(n));
                return false;
            }
            s.state = TState::Committed;
            return true;
        case TState::Failed: return false;
        default:  // the wait was given up (the application is closing, or abandoned)
            if (s.failure.empty()) s.failure = "stopped";
            return false;
    }
}

void TPhotoQueue::Abandon() {
    if (abandoned_) return;
    abandoned_ = true;
    KillTimer(timers_, 0);
    for (TSlot& s : slots_)
        if (s.fetcher) s.fetcher->Abort();
    // A cancelled transfer ends at once (its connection is cut); its completion must have
    // run before its part file can be deleted for good.
    while (Running() > 0 && !ApplicationTerminating()) WaitAndProcessMessages();
    for (size_t k = 0; k < slots_.size(); ++k) {
        TSlot& s = slots_[k];
        if (s.state == TState::Fetched || s.state == TState::Pausing) {
            DeleteFile(PartName(static_cast<int>(k)));
            s.state = TState::Failed;
            if (s.failure.empty()) s.failure = "stopped";
        }
    }
}
