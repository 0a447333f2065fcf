// SPDX-License-Identifier: Apache-2.0
#pragma once
// How the fetcher divides an address into the server it connects to and the path it asks
// for. Deliberately simple: the first seven characters are dropped when "http://" occurs
// anywhere (any letter case); Host is what precedes the first "/" of the rest, Path the
// rest from that "/" on (all of it, with an empty Host, when there is no "/"). A ":port"
// stays part of Host here; SplitFetchTarget takes it off.
#include <string>

void SplitHostAndPath(const std::string& url, std::string& host, std::string& path);

// Where the fetcher connects and how. An address that begins with "https://" (any letter
// case) is read as one: Host up to the first "/" or "?" (without a "user@" part and
// without ":port"; empty when the port is not a number from 1 to 65535), Port the one
// given or 443, Path the rest from there ("/" when empty; a "#fragment" is never sent).
// Any other address is split by SplitHostAndPath and reached over plain HTTP on the port
// that ends Host (":8087", "[::1]:8086"; taken off Host, which is empty when the port is
// not a number from 1 to 65535), else on port 80. A bare IPv6 address keeps its colons.
struct TFetchTarget {
    int Scheme = 3;  // INTERNET_SCHEME_HTTP (3) or INTERNET_SCHEME_HTTPS (4)
    std::string Host;
    unsigned short Port = 80;
    std::string Path;
};
TFetchTarget SplitFetchTarget(const std::string& url);
