// SPDX-License-Identifier: Apache-2.0
#pragma once
// Runs the album-server binary as a child process on a free loopback port for a test.
#include <sys/types.h>

#include <string>
#include <vector>

class ServerProcess {
public:
    // Starts album-server --port 0 plus the given arguments and waits (up to 5 s) for its
    // "listening on ADDR:PORT" line. Throws std::runtime_error when it does not come.
    explicit ServerProcess(const std::vector<std::string>& args = {});
    ~ServerProcess();  // stops the server if still running; a non-zero exit fails the test

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int Port() const { return port_; }
    const std::string& ListeningLine() const { return line_; }
    // SIGTERM, then waits up to timeoutMs. Returns the exit status, or -1 when the
    // server had to be killed.
    int Stop(int timeoutMs = 5000);

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string line_;
};

// Runs album-server with these arguments to completion; returns its exit status and
// collects what it wrote to stdout.
int RunServerToEnd(const std::vector<std::string>& args, std::string& out);
