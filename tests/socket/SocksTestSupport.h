// SPDX-License-Identifier: Apache-2.0
#pragma once
// Helpers of the proxy and line-mode tests: byte strings, a client socket that records
// the proxy events next to the session events, and the text of a report.
#include <initializer_list>
#include <string>
#include <vector>

#include "SocketTestSupport.h"

inline std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// The text of the ESocketException f raises, or "(no error)".
template <class F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.Message();
    }
    return "(no error)";
}

struct TSocksClient {
    TEventLog Log;  // outlives the socket, whose last events it records
    TTestSocket S;

    TSocksClient() {
        Log.Attach(S);
        S.SocksUsercode = "user";
        S.SocksPassword = "pass";
        S.OnSocksConnected = [this](TObject*, WORD e) { Log.Events.push_back("socksconnected:" + std::to_string(e)); };
        S.OnSocksError = [this](TObject*, int e, const std::string& m) {
            Log.Events.push_back("sockserror:" + std::to_string(e) + ":" + m);
        };
        S.OnSocksAuthState = [this](TObject*, TSocksAuthState a) {
            static const char* names[] = {"start", "success", "failure", "notrequired"};
            Log.Events.push_back(std::string("auth:") + names[a]);
        };
    }
    void Connect(std::uint16_t proxyPort, const std::string& level, const std::string& addr, const std::string& port) {
        S.SetAddr(addr);
        S.SetPort(port);
        S.SetSocksServer("127.0.0.1");
        S.SetSocksPort(std::to_string(proxyPort));
        S.SetSocksLevel(level);
        S.Connect();
    }
    bool Run(int limitMs = 10000) { return PumpUntil([&] { return Log.Closed; }, limitMs); }
    // The proxy and session events, without state changes and data.
    std::vector<std::string> Story() const {
        std::vector<std::string> r;
        for (const std::string& e : Log.Events)
            if (e.rfind("state:", 0) != 0 && e.rfind("data", 0) != 0 && e != "senddata") r.push_back(e);
        return r;
    }
};
