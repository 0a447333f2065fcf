// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the service was asked: every usage report body exactly as received, and one line
// per request (method and raw target) for tests that check what a client fetched.
// Thread-safe; the server's workers add, tests read and clear through the routes.
#include <mutex>
#include <string>
#include <vector>

struct UsageReport {
    std::string body;         // bytes as received
    std::string contentType;  // the request's Content-Type, empty when it had none
};

class Recorder {
public:
    // reportLog: when not empty, each report body is appended to this file followed by
    // a line feed, as it arrives. An unwritable file is reported on stderr once per report.
    explicit Recorder(std::string reportLog = {});

    void AddReport(UsageReport report);
    void AddRequest(std::string line);
    std::vector<UsageReport> Reports() const;
    std::vector<std::string> Requests() const;
    // Forgets reports and requests (the report log file is left as it is).
    void Clear();

private:
    std::string reportLog_;
    mutable std::mutex mutex_;
    std::vector<UsageReport> reports_;
    std::vector<std::string> requests_;
};
