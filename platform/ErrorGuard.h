// SPDX-License-Identifier: Apache-2.0
#pragma once
// The guard around every window event handler: an exception that escapes a handler is
// shown by the application's default error dialog and the program goes on. Below the
// windows nothing may show a dialog, so the dialog itself is a handler the application
// installs; until then the text goes to standard error.
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

// The text the dialog shows: the message with a full stop appended when it has none.
std::string ErrorDialogText(const std::string& message);

// Receives the finished dialog text. Installed once by the application.
using TExceptionHandler = std::function<void(const std::string& text)>;
void SetExceptionHandler(TExceptionHandler handler);

// Shows the exception through the installed handler.
void ShowException(const std::exception& e);

// Runs f; any exception it raises is shown and swallowed.
template <class F>
void GuardedCall(F&& f) noexcept {
    try {
        f();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Unknown exception"));
    }
}

// Wraps a handler so that calling it runs through GuardedCall (for connecting window events).
template <class F>
auto Guarded(F f) {
    return [f = std::move(f)](auto&&... args) { GuardedCall([&] { f(args...); }); };
}
