// SPDX-License-Identifier: Apache-2.0
#include "support/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

bool Accepts(const std::string& address, std::uint16_t port) {
    sockaddr_in6 sa6{};
    sockaddr_in sa{};
    const bool six = ::inet_pton(AF_INET6, address.c_str(), &sa6.sin6_addr) == 1;
    if (!six && ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return false;
    sa6.sin6_family = AF_INET6;
    sa6.sin6_port = htons(port);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    const int fd = ::socket(six ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = six ? ::connect(fd, reinterpret_cast<sockaddr*>(&sa6), sizeof sa6) == 0
                        : ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string FindProgram(const std::string& name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
        const std::string path = dir + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

std::string TChildProcess::Start(const std::vector<std::string>& argv, std::uint16_t port, const std::string& address) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return "cannot start " + argv[0];
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        if (Accepts(address, port)) return {};
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return argv[0] + " exited at start";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return argv[0] + " does not listen on port " + std::to_string(port);
}

void TChildProcess::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int status;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

TScratchDir::TScratchDir() {
    char pattern[] = "/tmp/fotaviq-test-XXXXXX";
    if (::mkdtemp(pattern)) path_ = pattern;
    ::chmod(path_.c_str(), 0755);  // servers' workers may run as another user
}

TScratchDir::~TScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TScratchDir::Write(const std::string& name, const std::string& text) const {
    const std::string path = File(name);
    std::ofstream(path) << text;
    return path;
}
