// SPDX-License-Identifier: Apache-2.0
#include "app/core/albumStop.h"

#include <vector>

void TAlbumStop::Request() {
    if (requested_) return;
    requested_ = true;
    // A canceller may end a wait whose scope then drops other watches: call copies.
    std::vector<std::function<void()>> calls;
    for (auto it = cancellers_.rbegin(); it != cancellers_.rend(); ++it) calls.push_back(it->second);
    for (const auto& cancel : calls) cancel();
}

TAlbumStop::TWatch TAlbumStop::Watch(std::function<void()> cancel) {
    const int id = nextId_++;
    cancellers_.emplace(id, std::move(cancel));
    return TWatch(this, id);
}
