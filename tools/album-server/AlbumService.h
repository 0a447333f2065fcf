// SPDX-License-Identifier: Apache-2.0
#pragma once
// The service's routes and the state they share. One instance per server; Install
// registers every route on the given httplib server, which must not outlive this object.
#include "BodyWriters.h"
#include "Catalogue.h"
#include "FaultPlan.h"
#include "InFlight.h"
#include "Options.h"
#include "PhotoStore.h"
#include "Recorder.h"
#include "StopSignal.h"

#include <httplib.h>

#include <string>

class AlbumService {
public:
    // boundPort: the port actually listened on (decides the addresses in documents).
    // Reads --links and --music files now; throws std::runtime_error when one cannot be read.
    // Install also sets the server's logger (--verbose lines, the photo in-flight count).
    AlbumService(const Options& options, int boundPort);

    void Install(httplib::Server& server);
    void Pregenerate() { photos_.Pregenerate(catalogue_); }
    // Ends waits (latency, delays, pacing, stalls) at once; called when the server is
    // about to stop.
    void BeginStop() { stop_.Raise(); }

    const std::string& BaseUrl() const { return baseUrl_; }
    const Catalogue& Albums() const { return catalogue_; }

private:
    void ServeDocument(const httplib::Request& req, httplib::Response& res);
    void ServePhoto(const httplib::Request& req, httplib::Response& res);
    // ended: called right before the answer's last bytes are written.
    void ServeFault(FaultKind kind, const httplib::Request& req, httplib::Response& res, const AlbumSpec& album,
                    int index, const LastWrite& ended);
    void ServeMusic(const httplib::Request& req, httplib::Response& res);
    void ServeReport(const httplib::Request& req, httplib::Response& res);
    void ServeTestReports(const httplib::Request& req, httplib::Response& res);
    // Full speed, or paced when --throttle is set.
    void SetBody(httplib::Response& res, SharedBytes body, const std::string& contentType);

    Options options_;
    std::string baseUrl_;
    Catalogue catalogue_;
    PhotoStore photos_;
    SharedBytes music_;
    std::string links_;
    Recorder recorder_;
    StopSignal stop_;
    FaultPlan faults_;
    InFlightGauge photosInFlight_;
};
