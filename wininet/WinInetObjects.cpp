// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetObjects.h"

#include <mutex>
#include <unordered_map>

namespace wininet {

namespace {

struct Registry {
    std::mutex mu;
    std::unordered_map<HINTERNET, std::shared_ptr<InternetObject>> open;
    std::uintptr_t next = 0x10000;
    Timeouts defaults;
};

Registry& TheRegistry() {
    static Registry* r = new Registry;  // never destroyed: workers may still close handles at exit
    return *r;
}

}  // namespace

Timeouts DefaultTimeouts() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    return r.defaults;
}

void SetDefaultTimeout(DWORD option, DWORD ms) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    if (option == INTERNET_OPTION_CONNECT_TIMEOUT) r.defaults.connectMs = ms;
    if (option == INTERNET_OPTION_SEND_TIMEOUT) r.defaults.sendMs = ms;
    if (option == INTERNET_OPTION_RECEIVE_TIMEOUT) r.defaults.receiveMs = ms;
    if (option == INTERNET_OPTION_LOW_SPEED_LIMIT) r.defaults.lowSpeedLimit = ms;
    if (option == INTERNET_OPTION_LOW_SPEED_TIME) r.defaults.lowSpeedTimeMs = ms;
}

HINTERNET Register(std::shared_ptr<InternetObject> object) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    // Handle values are never given out twice: a thread that closes a handle another
    // thread still holds (to cut its transfer short) can never reach a newer object.
    const HINTERNET h = reinterpret_cast<HINTERNET>(r.next += 4);
    r.open.emplace(h, std::move(object));
    return h;
}

std::shared_ptr<InternetObject> Lookup(HINTERNET handle) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    auto it = r.open.find(handle);
    if (it == r.open.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

bool Unregister(HINTERNET handle) {
    std::shared_ptr<InternetObject> doomed;  // freed outside the lock, maybe by a running call
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mu);
        auto it = r.open.find(handle);
        if (it == r.open.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        doomed = std::move(it->second);
        r.open.erase(it);
    }
    doomed->closed = true;
    doomed->Abort();
    return true;
}

}  // namespace wininet
