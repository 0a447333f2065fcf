// SPDX-License-Identifier: Apache-2.0
#include "ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

pid_t Spawn(const std::vector<std::string>& args, int& readEnd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> all{ALBUM_SERVER_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, ALBUM_SERVER_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        throw std::runtime_error("cannot start " ALBUM_SERVER_EXE);
    }
    readEnd = fds[0];
    return pid;
}

// Reads until a line end, the end of the pipe or the deadline.
std::string ReadLine(int fd, int timeoutMs)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    return line;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    int fd = -1;
    pid_ = Spawn(all, fd);
    line_ = ReadLine(fd, 5000);
    close(fd);  // later output, if any, goes nowhere; the server ignores SIGPIPE
    const auto colon = line_.rfind(':');
    if (!line_.starts_with("listening on ") || colon == std::string::npos) {
        Stop(1000);
        throw std::runtime_error("album-server did not announce itself: '" + line_ + "'");
    }
    port_ = std::stoi(line_.substr(colon + 1));
    if (!line_.empty() && line_.back() == '\n')
        line_.pop_back();
}

ServerProcess::~ServerProcess()
{
    // Every test that runs a server also checks that it shut down cleanly (and, in the
    // sanitizer build, without a report: that ends the process with a failure status).
    if (pid_ > 0) {
        const int status = Stop();
        if (status != 0)
            ADD_FAILURE() << "album-server ended with status " << status;
    }
}

int ServerProcess::Stop(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunServerToEnd(const std::vector<std::string>& args, std::string& out)
{
    int fd = -1;
    const pid_t pid = Spawn(args, fd);
    out.clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
