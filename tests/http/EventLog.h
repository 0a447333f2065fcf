// SPDX-License-Identifier: Apache-2.0
#pragma once
// Records the client's events, in the order they fire, as short texts:
// "state:<n>", "header-begin", "header-data:<line>", "doc-data:<len>", "done:<kind>/<error>"...
#include <string>
#include <vector>

#include "http/HttpProt.h"

struct EventLog {
    std::vector<std::string> events;
    std::string doc;  // every OnDocData block, joined

    explicit EventLog(THttpCli& c) {
        c.OnStateChange = [this, &c](TObject*) { events.push_back("state:" + std::to_string(c.State())); };
        c.OnSessionConnected = [this](TObject*) { events.push_back("session-connected"); };
        c.OnRequestHeaderBegin = [this](TObject*) { events.push_back("request-header-begin"); };
        c.OnRequestHeaderEnd = [this](TObject*) { events.push_back("request-header-end"); };
        c.OnCommand = [this](TObject*, std::string& s) { events.push_back("command:" + s); };
        c.OnSendBegin = [this](TObject*) { events.push_back("send-begin"); };
        c.OnSendData = [this](TObject*, const void*, int len) { events.push_back("send-data:" + std::to_string(len)); };
        c.OnSendEnd = [this](TObject*) { events.push_back("send-end"); };
        c.OnHeaderBegin = [this](TObject*) { events.push_back("header-begin"); };
        c.OnHeaderData = [this, &c](TObject*) {
            events.push_back("header-data:" + c.ResponseHeader()[c.ResponseHeader().Count() - 1]);
        };
        c.OnCookie = [this](TObject*, const std::string& v, bool&) { events.push_back("cookie:" + v); };
        c.OnHeaderEnd = [this](TObject*) { events.push_back("header-end"); };
        c.OnDocBegin = [this](TObject*) { events.push_back("doc-begin"); };
        c.OnDocData = [this](TObject*, const void* p, int len) {
            events.push_back("doc-data:" + std::to_string(len));
            doc.append(static_cast<const char*>(p), static_cast<std::size_t>(len));
        };
        c.OnDocEnd = [this](TObject*) { events.push_back("doc-end"); };
        c.OnLocationChange = [this, &c](TObject*) { events.push_back("location:" + c.Location()); };
        c.OnRequestDone = [this](TObject*, THttpRequest k, WORD e) {
            events.push_back("done:" + std::to_string(k) + "/" + std::to_string(e));
        };
    }

    // The events without the OnCommand lines and the header data (for order checks).
    std::vector<std::string> Skeleton() const {
        std::vector<std::string> r;
        for (const auto& e : events)
            if (e.rfind("command:", 0) != 0 && e.rfind("header-data:", 0) != 0) r.push_back(e);
        return r;
    }
};
