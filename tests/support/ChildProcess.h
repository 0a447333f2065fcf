// SPDX-License-Identifier: Apache-2.0
#pragma once
// Real servers from the system's packages (nginx, tinyproxy, SOCKS servers) run by a test:
// started on a loopback port and stopped by their process id when the object goes, with
// their configuration in a scratch folder.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The installed program's path, or "" when it is not installed.
std::string FindProgram(const std::string& name);

class TChildProcess {
public:
    TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess() { Stop(); }

    // Runs argv (argv[0] a path or a name looked up in PATH; output discarded) and waits,
    // at most 5 s, until port on address (IPv4 or IPv6) accepts connections. "" on
    // success, else why not.
    std::string Start(const std::vector<std::string>& argv, std::uint16_t port, const std::string& address = "127.0.0.1");
    bool Running() const { return pid_ > 0; }
    // SIGTERM, then SIGKILL after 3 s.
    void Stop();

private:
    pid_t pid_ = -1;
};

// A scratch folder under /tmp (readable by servers that drop privileges), removed with
// everything in it when the object goes.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& text) const;  // the file's path

private:
    std::string path_;
};
