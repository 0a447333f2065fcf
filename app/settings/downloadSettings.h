// SPDX-License-Identifier: Apache-2.0
#pragma once
// How albums are fetched: the [download] section of the settings file.
//
//   [download]
//   connections=N   photos in flight at once, 1..16 (default 4). 1 fetches one photo at its
//                   turn and nothing ahead.
//   retries=N       extra attempts for a photo whose transfer failed for a reason that may
//                   pass, 0..10 (default 2). 0: a failed transfer is final.
//   max-photo-size=N  the most bytes a photo may have, with an optional K, M or G (powers
//                   of 1024; default 64M, at least 1K, at most 2047M). A larger photo fails
//                   for good, naming the limit.
//   pipelining=no   never send a photo's request behind another's on one connection
//                   (default yes; for a server that loses such requests). Also false, off, 0.
//   low-speed=N     bytes per second below which a transfer counts as stalled, 0..1073741824
//                   (default 1024); 0 switches the check off.
//   low-speed-time=N  seconds a transfer may stay below low-speed before it fails (as a
//                   failure that may pass), 1..3600 (default 30).
//
// A missing or empty value means the default. A number out of range is clamped; anything
// that is not a number gives the default. Either is described in Notes, once, so that the
// user learns the value was not taken.
#include <cstdint>
#include <string>
#include <vector>

struct TDownloadSettings {
    static constexpr int DefaultConnections = 4;
    static constexpr int MaxConnections = 16;
    static constexpr int DefaultRetries = 2;
    static constexpr int MaxRetries = 10;
    static constexpr int DefaultLowSpeedLimit = 1024;
    static constexpr int MaxLowSpeedLimit = 1 << 30;
    static constexpr int DefaultLowSpeedTime = 30;
    static constexpr int MaxLowSpeedTime = 3600;

    static constexpr std::int64_t DefaultMaxPhotoSize = 64 * 1024 * 1024;
    static constexpr std::int64_t MinMaxPhotoSize = 1024;
    static constexpr std::int64_t MaxMaxPhotoSize = 2047LL * 1024 * 1024;  // the fetcher counts in 32 bits

    int Connections = DefaultConnections;
    std::int64_t MaxPhotoSize = DefaultMaxPhotoSize;
    int Retries = DefaultRetries;
    bool Pipelining = true;
    int LowSpeedLimit = DefaultLowSpeedLimit;  // bytes/s; 0: no check
    int LowSpeedTime = DefaultLowSpeedTime;    // seconds
    // GBK lines for the status memo, one per value that was not taken as written.
    std::vector<std::string> Notes;
};

// The settings from the given ini values (raw texts; empty when absent).
TDownloadSettings ParseDownloadSettings(const std::string& connections, const std::string& retries,
                                        const std::string& pipelining = {}, const std::string& maxPhotoSize = {},
                                        const std::string& lowSpeed = {}, const std::string& lowSpeedTime = {});

// A size as max-photo-size takes it ("64M", "500K", "1048576"); false when it is not one.
bool ParseByteSize(const std::string& text, std::int64_t& bytes);

// Loaded on first use from the settings file (settingsFile.h).
const TDownloadSettings& DownloadSettings();
void SetDownloadSettings(const TDownloadSettings& settings);  // for tests and the command line
