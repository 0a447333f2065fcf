#pragma once
// A proxy server from the system's packages, run for one test on a loopback port and
// stopped by its process id when the object goes.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class TProxyProcess {
public:
    TProxyProcess() = default;
    TProxyProcess(const TProxyProcess&) = delete;
    TProxyProcess& operator=(const TProxyProcess&) = delete;
    ~TProxyProcess();

    // The installed program's path, or "" when it is not installed.
    static std::string Find(const std::string& name);

    // Runs Argv and waits (at most 5 s) until Port accepts connections. "" on success, else
    // why it failed.
    std::string Start(const std::vector<std::string>& Argv, std::uint16_t Port);
    void Stop();

private:
    pid_t pid_ = -1;
};

// A scratch folder for a server's configuration and log, removed with the object.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    const std::string& Path() const { return path_; }
    // The path of a file in the folder, removed with it (the server may create it).
    std::string File(const std::string& name);
    std::string Write(const std::string& name, const std::string& text);  // returns the file's path

private:
    std::string path_;
    std::vector<std::string> files_;
};
