// SPDX-License-Identifier: Apache-2.0
#pragma once
// Which address family the program connects over: [network] ip=4|6|any in the settings
// file, -4 or -6 on the command line (which wins). "any" (the default) races IPv6 and IPv4
// where a name has both; numeric addresses are used as written whatever the choice.
#include <optional>
#include <string>

#include "socket/WSocketFamily.h"

class TSettingsFile;

// The family of the settings file unless the command line chose one. An unknown value in
// the file gives "any" and a note (one line, English) in *note.
TWSocketFamily ReadNetworkFamily(const TSettingsFile& ini, std::optional<TWSocketFamily> commandLine,
                                 std::string* note = nullptr);
