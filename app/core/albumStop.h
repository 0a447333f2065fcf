// SPDX-License-Identifier: Apache-2.0
#pragma once
// TAlbumStop: the stop request of one album run.
//
// The stop button, Ctrl+C and the closing window call Request(). Whatever the album is
// waiting on at that moment (a photo, a retry pause, the data document, the report, the
// music) has registered a canceller with Watch(); Request() calls every canceller at once,
// so the wait ends now instead of at the transfer's end or timeout. The workflow looks at
// Requested() before it starts anything, so nothing starts after a stop.
//
// GUI thread only: Request() runs inside a window event or the command line's signal
// notifier, both dispatched by the nested waits of the transfers.
#include <functional>
#include <map>

class TAlbumStop {
public:
    // Registered while it lives; moved, the registration moves with it.
    class TWatch {
    public:
        TWatch() = default;
        TWatch(TWatch&& other) noexcept : stop_(other.stop_), id_(other.id_) { other.stop_ = nullptr; }
        TWatch& operator=(TWatch&& other) noexcept {
            if (this != &other) {
                Release();
                stop_ = other.stop_;
                id_ = other.id_;
                other.stop_ = nullptr;
            }
            return *this;
        }
        ~TWatch() { Release(); }

    private:
        friend class TAlbumStop;
        TWatch(TAlbumStop* stop, int id) : stop_(stop), id_(id) {}
        void Release() {
            if (stop_) stop_->cancellers_.erase(id_);
            stop_ = nullptr;
        }
        TAlbumStop* stop_ = nullptr;
        int id_ = 0;
    };

    TAlbumStop() = default;
    TAlbumStop(const TAlbumStop&) = delete;
    TAlbumStop& operator=(const TAlbumStop&) = delete;

    // Sets the request and calls every registered canceller (newest first). A canceller
    // must not wait; it cuts its transfer and returns. Later calls do nothing.
    void Request();
    bool Requested() const { return requested_; }

    // Calls cancel when the stop is requested while the result lives. Not called when the
    // request came before: look at Requested() first.
    [[nodiscard]] TWatch Watch(std::function<void()> cancel);

private:
    bool requested_ = false;
    int nextId_ = 0;
    std::map<int, std::function<void()>> cancellers_;
};
