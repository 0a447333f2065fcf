// SPDX-License-Identifier: Apache-2.0
#include "Recorder.h"

#include <cstdio>
#include <fstream>

Recorder::Recorder(std::string reportLog) : reportLog_(std::move(reportLog)) {}

void Recorder::AddReport(UsageReport report)
{
    std::lock_guard lock(mutex_);
    if (!reportLog_.empty()) {
        // Opened per report so another process can read complete lines at any time.
        std::ofstream log(reportLog_, std::ios::binary | std::ios::app);
        log << report.body << '\n';
        log.flush();
        if (!log)
            std::fprintf(stderr, "album-server: cannot append to %s\n", reportLog_.c_str());
    }
    reports_.push_back(std::move(report));
}

void Recorder::AddRequest(std::string line)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(line));
}

std::vector<UsageReport> Recorder::Reports() const
{
    std::lock_guard lock(mutex_);
    return reports_;
}

std::vector<std::string> Recorder::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void Recorder::Clear()
{
    std::lock_guard lock(mutex_);
    reports_.clear();
    requests_.clear();
}
