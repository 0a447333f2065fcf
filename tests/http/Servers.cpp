#include "Servers.h"

#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

extern char** environ;

namespace {

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

bool Installed(const char* program) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"})
        if (::access((std::string(dir) + program).c_str(), X_OK) == 0) return true;
    return false;
}

// Starts argv in the foreground of its own process; waits until port accepts.
pid_t Launch(const std::vector<std::string>& args, int port, std::string& why) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        why = args[0] + " could not be started";
        return -1;
    }
    for (int i = 0; i < 200; ++i) {
        if (Accepts(port)) return pid;
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            why = args[0] + " exited at start";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    why = args[0] + " did not listen on port " + std::to_string(port);
    return -1;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace

TempDir::TempDir() {
    char tmpl[] = "/tmp/fotaviq-http-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ::chmod(dir_.c_str(), 0755);  // the servers' workers may run as another user
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

NginxServer::NginxServer(const std::string& root, const std::string& extraConfig) {
    if (!Installed("nginx")) {
        why_ = "nginx is not installed";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string d = dir_.Path();
    std::ofstream(d + "/nginx.conf") << "worker_processes 1;\n"
                                     << "pid " << d << "/nginx.pid;\n"
                                     << "error_log " << d << "/error.log;\n"
                                     << "events { worker_connections 64; }\n"
                                     << "http {\n  access_log off;\n  sendfile on;\n"
                                     << "  client_body_temp_path " << d << "/body;\n"
                                     << "  proxy_temp_path " << d << "/proxy;\n"
                                     << "  fastcgi_temp_path " << d << "/fastcgi;\n"
                                     << "  uwsgi_temp_path " << d << "/uwsgi;\n"
                                     << "  scgi_temp_path " << d << "/scgi;\n"
                                     << "  server {\n    listen 127.0.0.1:" << port_ << ";\n"
                                     << "    root " << root << ";\n" << extraConfig << "\n  }\n}\n";
    pid_ = Launch({"nginx", "-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf", "-g", "daemon off;"}, port_,
                  why_);
}

NginxServer::~NginxServer() { Stop(pid_); }

TinyProxy::TinyProxy() {
    if (!Installed("tinyproxy")) {
        why_ = "tinyproxy is not installed";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string d = dir_.Path();
    std::ofstream(d + "/tinyproxy.conf") << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                                         << "MaxClients 16\nAllow 127.0.0.1\nLogLevel Critical\n"
                                         << "PidFile \"" << d << "/tinyproxy.pid\"\n";
    pid_ = Launch({"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}, port_, why_);
}

TinyProxy::~TinyProxy() { Stop(pid_); }

bool SameFile(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (!std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
        if (fa.gcount() == 0) return true;
    }
}

void WriteRandomFile(const std::string& path, long long size, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(1 << 17);
    while (size > 0) {
        for (auto& w : block) w = gen();
        const long long n = std::min<long long>(size, static_cast<long long>(block.size() * 8));
        out.write(reinterpret_cast<const char*>(block.data()), n);
        size -= n;
    }
}
