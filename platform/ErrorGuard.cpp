// SPDX-License-Identifier: Apache-2.0
#include "platform/ErrorGuard.h"

#include <cstdio>
#include <mutex>

#include "platform/Messages.h"

namespace {
std::mutex gMu;
TExceptionHandler& Handler() {
    static TExceptionHandler h;
    return h;
}
}  // namespace

std::string ErrorDialogText(const std::string& message) {
    if (!message.empty() && message.back() == '.') return message;
    return message + ".";
}

void SetExceptionHandler(TExceptionHandler handler) {
    std::lock_guard lock(gMu);
    Handler() = std::move(handler);
}

void ShowException(const std::exception& e) {
    TExceptionHandler h;
    {
        std::lock_guard lock(gMu);
        h = Handler();
    }
    const std::string text = ErrorDialogText(e.what());
    TNestedLoopScope modal;  // the dialog runs an event loop of its own
    if (h)
        h(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}
