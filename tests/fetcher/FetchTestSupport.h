// SPDX-License-Identifier: Apache-2.0
#pragma once
// Shared pieces of the fetcher tests: a scratch folder, a recorder of the component's
// events, and a bounded message pump.
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fetcher/HTTPGet.h"

// A fresh folder under /tmp, removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

bool Exists(const std::string& path);
std::string ReadAll(const std::string& path);
// Open descriptors of this process (to see that a transfer released its socket and file).
int OpenDescriptors();

// Dispatches the main thread's messages until done() holds or timeoutMs passed.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Every event a component raised, in order.
struct EventLog {
    struct Progress {
        TObject* sender;
        std::int32_t total, readed;
        bool onMainThread;
        bool fromWorker;  // Sender was a THTTPGetThread (checked during the call)
    };
    std::vector<Progress> progress;
    std::vector<std::string> events;  // "done <file> <size>", "string <text>", "error"
    std::vector<TObject*> senders;    // of the done and error events

    void Attach(THTTPGet& get);
    bool Finished() const { return !events.empty(); }

    std::thread::id mainThread = std::this_thread::get_id();
};

// "HTTP/1.0 <status>" with an optional Content-Length and the body.
std::string Response(const std::string& status, const std::string& body, bool withLength = true);
// n bytes of a repeating pattern.
std::string Body(std::size_t n);

// The tests talk to loopback peers directly, whatever proxy the environment names.
void ClearProxyEnvironment();

// Every request head ends here.
inline const char* const kHeadEnd = "\r\n\r\n";
