// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one-line English texts that say why a fetch failed (THTTPGet::LastErrorText).
#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

// The Internet error code (wininet/WinInet.h) that ended a transfer, in words.
//  host: the server named by the address (empty when the address named none);
//  inBody: the body was being read; got: body bytes received; total: the announced length,
//  -1 when none was announced;
//  location: where an answer that could not be followed pointed (empty: nowhere).
// "connection reset after 1000 of 3000 bytes", "too many redirects",
// "cannot follow a redirect to ftp://...", "stopped", ...
std::string InternetErrorText(DWORD code, const std::string& host, bool inBody, std::int64_t got, std::int64_t total,
                              const std::string& location);

// "HTTP <status> <reason>", the reason's control bytes replaced (it comes from the server).
std::string HttpStatusText(std::int32_t status, const std::string& reason);
