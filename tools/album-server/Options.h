// SPDX-License-Identifier: Apache-2.0
#pragma once
// Command line of the album service.
#include "Catalogue.h"
#include "FaultPlan.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct Options {
    std::string bind = "127.0.0.1";
    int port = 80;                      // 0: any free port; 443 by default with TLS
    std::string tlsCert;                // PEM certificate (chain) file: serve HTTPS
    std::string tlsKey;                 // its PEM private key file
    std::string publicHost;             // host[:port] written into documents; empty: from bind
    std::string readyFile;              // receives the port number once listening
    std::string reportLog;              // every report body is appended here
    std::string linksFile;              // served as the link list instead of the built-in one
    std::string musicFile;              // served as every album's music instead of the built-in tune
    std::size_t slowRate = 20 * 1024;   // bytes per second of the deliberately slow photos
    std::size_t throttle = 0;           // bytes per second of every photo and tune; 0 = full speed
    int threads = 64;                   // worker threads (each open connection holds one)
    int keepAliveRequests = 100;        // requests a kept-alive connection carries, then closes
    std::chrono::milliseconds latency{0};  // before every answer but the test endpoints'
    std::vector<PhotoFault> faults;     // --fail, at most one per photo
    std::vector<PhotoDelay> delays;     // --delay, at most one per photo
    bool pregenerate = false;           // encode every photo before announcing readiness
    bool verbose = false;               // one stderr line per request
    bool help = false;
    bool version = false;
};

// Throws std::invalid_argument with a one-line message for an unknown option, a missing
// value, --tls-cert without --tls-key or the reverse, a value out of range, or a --fail/--delay naming a photo no album has or a
// photo already named by the same option.
Options ParseOptions(int argc, const char* const* argv);

// --help text, including the album table.
std::string UsageText(const Catalogue& catalogue);

// "http://HOST" plus ":PORT" unless the port is 80 ("https://" and 443 with TLS): the
// prefix of every address the service writes. HOST is --public-host, else the bind address (0.0.0.0 becomes
// 127.0.0.1, :: becomes ::1); an IPv6 address is written in brackets ("[::1]"). A --public-host that already
// holds a port (a colon after any brackets) is used verbatim.
std::string BaseUrl(const Options& options, int boundPort);

// A host as an address writes it: an IPv6 address in brackets, anything else unchanged.
std::string UrlHost(const std::string& host);
