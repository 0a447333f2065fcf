#pragma once
// Real servers for end-to-end tests, each started on a free loopback port with its own
// configuration in a scratch folder and stopped by its process id. Available() is false
// (and Why() says so) when the program is not installed or did not come up.
#include <string>
#include <sys/types.h>

// A scratch folder under /tmp, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return dir_; }
    std::string File(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

// nginx serving root on 127.0.0.1; extraConfig goes into its server block.
class NginxServer {
public:
    NginxServer(const std::string& root, const std::string& extraConfig = "");
    ~NginxServer();
    bool Available() const { return pid_ > 0; }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string why_;
};

// tinyproxy as a forward proxy on 127.0.0.1 for loopback clients.
class TinyProxy {
public:
    TinyProxy();
    ~TinyProxy();
    bool Available() const { return pid_ > 0; }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string why_;
};

// Byte-for-byte comparison of two files (false when either cannot be read).
bool SameFile(const std::string& a, const std::string& b);
// Writes size bytes of a fixed pseudo-random sequence.
void WriteRandomFile(const std::string& path, long long size, unsigned seed);
