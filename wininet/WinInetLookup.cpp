// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetLookup.h"

#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/AddressFamily.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetHooks.h"

namespace wininet {

namespace {

struct LookupHook {
    std::mutex mu;
    std::function<bool(const std::string&)> call;
    std::function<std::vector<std::string>(const std::string&)> addresses;
};

LookupHook& TheHook() {
    static LookupHook* h = new LookupHook;  // never destroyed: an abandoned look-up may outlive main
    return *h;
}

std::atomic<int> lookupsInFlight{0};

addrinfo Hints(int flags) {
    addrinfo hints{};
    // A name resolves to the families the process allows; a numeric address is taken as it is.
    const TAddressFamily family = (flags & AI_NUMERICHOST) ? TAddressFamily::Any : ProcessAddressFamily();
    hints.ai_family = family == TAddressFamily::IPv4 ? AF_INET : family == TAddressFamily::IPv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // No AI_ADDRCONFIG: it costs a netlink round trip per look-up, and every address
    // returned is tried in turn anyway.
    hints.ai_flags = flags;
    return hints;
}

// A name look-up shared by its thread and the caller waiting for it; whichever of the
// two comes last frees the answer.
struct Job {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;       // the thread has an answer
    bool cancelled = false;  // the caller no longer waits
    addrinfo* list = nullptr;
};

void RunJob(const std::shared_ptr<Job>& job, const std::string& host, const std::string& service) {
    std::function<bool(const std::string&)> hook;
    std::function<std::vector<std::string>(const std::string&)> given;
    {
        std::lock_guard lock(TheHook().mu);
        hook = TheHook().call;
        given = TheHook().addresses;
    }
    addrinfo* list = nullptr;
    if (!hook || hook(host)) {
        const std::vector<std::string> chosen = given ? given(host) : std::vector<std::string>();
        if (chosen.empty()) {
            const addrinfo hints = Hints(0);
            if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) list = nullptr;
        } else {
            // Each numeric answer is a chain of its own; freeaddrinfo frees node by node.
            addrinfo** tail = &list;
            const addrinfo numeric = Hints(AI_NUMERICHOST);
            for (const std::string& a : chosen) {
                addrinfo* one = nullptr;
                if (::getaddrinfo(a.c_str(), service.c_str(), &numeric, &one) != 0 || !one) continue;
                *tail = one;
                while (*tail) tail = &(*tail)->ai_next;
            }
        }
    }
    {
        std::lock_guard lock(job->mu);
        job->done = true;
        if (job->cancelled) {
            if (list) ::freeaddrinfo(list);
        } else {
            job->list = list;
        }
    }
    job->cv.notify_all();
}

}  // namespace

DWORD Resolve(const std::string& hostText, WORD port, SocketSlot& slot, AddressList& out) {
    std::string host = hostText;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) return ERROR_INTERNET_NAME_NOT_RESOLVED;
    const std::string service = std::to_string(port);

    addrinfo* list = nullptr;
    const addrinfo numeric = Hints(AI_NUMERICHOST);
    if (::getaddrinfo(host.c_str(), service.c_str(), &numeric, &list) == 0 && list) {
        out.reset(list);
        return 0;
    }

    auto job = std::make_shared<Job>();
    const bool watched = slot.SetCanceller([job] {
        {
            std::lock_guard lock(job->mu);
            job->cancelled = true;
        }
        job->cv.notify_all();
    });
    if (!watched) return ERROR_INTERNET_OPERATION_CANCELLED;
    ++lookupsInFlight;
    try {
        std::thread([job, host, service] {
            RunJob(job, host, service);
            --lookupsInFlight;
        }).detach();
    } catch (const std::system_error&) {
        --lookupsInFlight;
        RunJob(job, host, service);  // no thread to be had: wait as before
    }
    DWORD result = 0;
    {
        std::unique_lock lock(job->mu);
        job->cv.wait(lock, [&] { return job->done || job->cancelled; });
        if (job->cancelled) {
            result = ERROR_INTERNET_OPERATION_CANCELLED;
            if (job->list) ::freeaddrinfo(job->list);
        } else if (!job->list) {
            result = ERROR_INTERNET_NAME_NOT_RESOLVED;
        } else {
            out.reset(job->list);
        }
        job->list = nullptr;
    }
    slot.SetCanceller(nullptr);
    return result;
}

}  // namespace wininet

void WinInetSetLookupHook(std::function<bool(const std::string& host)> hook) {
    std::lock_guard lock(wininet::TheHook().mu);
    wininet::TheHook().call = std::move(hook);
}

void WinInetSetAddressHook(std::function<std::vector<std::string>(const std::string& host)> hook) {
    std::lock_guard lock(wininet::TheHook().mu);
    wininet::TheHook().addresses = std::move(hook);
}

int WinInetLookupsInFlight() { return wininet::lookupsInFlight; }
