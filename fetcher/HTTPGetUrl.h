#pragma once
// How the fetcher divides an address into the server it connects to and the path it asks
// for. Deliberately simple: the first seven characters are dropped when "http://" occurs
// anywhere (any letter case); Host is what precedes the first "/" of the rest, Path the
// rest from that "/" on (all of it, with an empty Host, when there is no "/"). A ":port"
// stays part of Host; the fetcher always uses port 80.
#include <string>

void SplitHostAndPath(const std::string& url, std::string& host, std::string& path);
