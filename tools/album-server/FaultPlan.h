// SPDX-License-Identifier: Apache-2.0
#pragma once
// Photos that misbehave on request (--fail, --delay): the first COUNT requests for a
// chosen photo fail in a chosen way, and chosen photos answer later than the rest.
// Counts are per photo across all clients and restart with Reset. Thread-safe.
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

enum class FaultKind {
    Status500,  // status 500 with a short text body
    Status503,  // status 503 with a short text body
    Reset,      // the connection is reset once the request is read; no response byte
    Cut,        // the photo's full Content-Length is announced, half the body sent, then the close
    Stall,      // the head is sent, then nothing until the client leaves or the server stops
    Html,       // status 200 and a whole HTML page ("please log in") in the photo's place
    Unframed,   // status 200 without Content-Length, half the body, then a normal close
};

struct PhotoFault {
    static constexpr int kAlways = -1;
    std::string key;  // album key
    int photo = 0;
    int count = 1;    // requests that fail before the photo answers normally; kAlways: all
    FaultKind kind = FaultKind::Status500;
};

struct PhotoDelay {
    std::string key;
    int photo = 0;
    std::chrono::milliseconds delay{0};
};

class FaultPlan {
public:
    FaultPlan(const std::vector<PhotoFault>& faults, const std::vector<PhotoDelay>& delays);

    // Counts one request for the photo and says how it must fail, if it must.
    std::optional<FaultKind> Take(const std::string& key, int photo);
    // How much later than the others the photo answers.
    std::chrono::milliseconds DelayOf(const std::string& key, int photo) const;
    // Every photo's request count starts again from zero.
    void Reset();

private:
    struct Planned {
        PhotoFault fault;
        int served = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Planned> faults_;  // by "key/photo"
    std::map<std::string, std::chrono::milliseconds> delays_;
};
