// SPDX-License-Identifier: Apache-2.0
#pragma once
// The servers the program talks to and the fixed request addresses built on them.
#include <string>

// Servers: "host", "host:port", "http://host[:port]" or "https://host[:port]" (without a
// scheme: http). The defaults point at the bundled album service on this machine; the
// settings file overrides them (section [servers], keys album, viewer, report, links, info).
struct TServerSettings {
    std::string AlbumHost = "127.0.0.1";   // album data documents
    std::string ViewerHost = "127.0.0.1";  // host of the example viewer address
    std::string ReportHost = "127.0.0.1";  // usage reports
    std::string LinkHost = "127.0.0.1";    // sponsored-link list
    std::string InfoHost = "127.0.0.1";    // information page
};
// Loaded on first use from the settings file (GUI thread).
const TServerSettings& Servers();
void SetServers(const TServerSettings& settings);  // for tests and tools

// "scheme://host[:port]" of a server value (see above), without a trailing '/'.
std::string ServerBase(const std::string& value);

std::string AlbumDataUrl(const std::string& viewerQuery);
std::string ReportUrl();
std::string LinkListUrl();
std::string InfoPageUrl();
std::string ExampleViewerUrl();
