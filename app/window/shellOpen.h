// SPDX-License-Identifier: Apache-2.0
#pragma once
// Hands a folder or a web address to the desktop's default handler (the file manager, the
// browser). Tests replace the opener so that nothing is started.
#include <functional>
#include <string>

// The target is an ANSI path or an address. Returns whether the desktop accepted it.
using TShellOpener = std::function<bool(const std::string& target)>;

bool ShellOpen(const std::string& target);
// Installs another opener (null restores the desktop's); returns the previous one.
TShellOpener SetShellOpener(TShellOpener opener);
