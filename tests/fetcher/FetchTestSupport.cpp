// SPDX-License-Identifier: Apache-2.0
#include "FetchTestSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fetcher/HTTPGetThread.h"
#include "platform/Messages.h"

ScratchDir::ScratchDir() {
    char pattern[] = "/tmp/fetcher-test-XXXXXX";
    dir_ = ::mkdtemp(pattern);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ProcessMessages();
        if (!done()) WaitMessageFor(10);
    }
    return true;
}

void EventLog::Attach(THTTPGet& get) {
    get.OnProgress = [this](TObject* sender, std::int32_t total, std::int32_t readed) {
        progress.push_back({sender, total, readed, std::this_thread::get_id() == mainThread,
                            dynamic_cast<THTTPGetThread*>(sender) != nullptr});
    };
    get.OnDoneFile = [this](TObject* sender, const std::string& file, std::int32_t size) {
        senders.push_back(sender);
        events.push_back("done " + file + " " + std::to_string(size));
    };
    get.OnDoneString = [this](TObject* sender, const std::string& text) {
        senders.push_back(sender);
        events.push_back("string " + text);
    };
    get.OnError = [this](TObject* sender) {
        senders.push_back(sender);
        events.push_back("error");
    };
}

std::string Response(const std::string& status, const std::string& body, bool withLength) {
    std::string r = "HTTP/1.0 " + status + "\r\nServer: scripted\r\n";
    if (withLength) r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

std::string Body(std::size_t n) {
    std::string s;
    s.reserve(n);
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

void ClearProxyEnvironment() {
    ::unsetenv("http_proxy");
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
}
