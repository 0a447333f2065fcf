// SPDX-License-Identifier: Apache-2.0
#include "Servers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "support/Loopback.h"

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

NginxServer::NginxServer(const std::string& root, const std::string& extraConfig, const std::string& tlsCert,
                         const std::string& tlsKey) {
    if (FindProgram("nginx").empty()) {
        why_ = "nginx is not installed";
        return;
    }
    port_ = FreeLoopbackPort();
    std::string listen = "    listen 127.0.0.1:" + std::to_string(port_) + ";\n";
    if (!tlsCert.empty()) {
        do tlsPort_ = FreeLoopbackPort();
        while (tlsPort_ == port_);
        listen += "    listen 127.0.0.1:" + std::to_string(tlsPort_) + " ssl;\n    ssl_certificate " + tlsCert +
                  ";\n    ssl_certificate_key " + tlsKey + ";\n";
    }
    const std::string extra =
        ReplaceAll(ReplaceAll(extraConfig, "@TLS_PORT@", std::to_string(tlsPort_)), "@PORT@", std::to_string(port_));
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
                                     << "  server {\n" << listen
                                     << "    root " << root << ";\n" << extra << "\n  }\n}\n";
    why_ = process_.Start({"nginx", "-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf", "-g", "daemon off;"},
                          static_cast<std::uint16_t>(port_));
}


TinyProxy::TinyProxy() {
    if (FindProgram("tinyproxy").empty()) {
        why_ = "tinyproxy is not installed";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string d = dir_.Path();
    std::ofstream(d + "/tinyproxy.conf") << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                                         << "MaxClients 16\nAllow 127.0.0.1\nLogLevel Critical\n"
                                         << "PidFile \"" << d << "/tinyproxy.pid\"\n";
    why_ = process_.Start({"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}, static_cast<std::uint16_t>(port_));
}

MicroSocks::MicroSocks(const std::string& user, const std::string& password, const std::string& address) {
    if (FindProgram("microsocks").empty()) {
        why_ = "microsocks is not installed";
        return;
    }
    port_ = FreeLoopbackPort();
    std::vector<std::string> argv{"microsocks", "-i", address, "-p", std::to_string(port_)};
    if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
    why_ = process_.Start(argv, static_cast<std::uint16_t>(port_), address);
}

DanteServer::DanteServer() {
    const std::string path = FindProgram("danted");
    if (path.empty()) {
        why_ = "danted (dante-server) is not installed";
        return;
    }
    port_ = FreeLoopbackPort();
    std::string config = "logoutput: " + dir_.File("danted.log") + "\ninternal: 127.0.0.1 port = " +
                         std::to_string(port_) + "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
    if (::geteuid() == 0) config += "user.privileged: root\nuser.unprivileged: nobody\n";
    config += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\nsocks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
    why_ = process_.Start({path, "-f", dir_.Write("danted.conf", config), "-N", "1"}, static_cast<std::uint16_t>(port_));
}

SshSocksProxy::SshSocksProxy() {
    if (::geteuid() != 0) {
        why_ = "ssh's SOCKS proxy needs root (its sshd and login)";
        return;
    }
    for (const char* program : {"sshd", "ssh", "ssh-keygen"})
        if (FindProgram(program).empty()) {
            why_ = std::string(program) + " (openssh) is not installed";
            return;
        }
    const std::string d = dir_.Path();
    for (const char* key : {"host", "client"})
        if (std::system(("ssh-keygen -q -t ed25519 -N '' -f " + d + "/" + key).c_str()) != 0) {
            why_ = "ssh-keygen failed";
            return;
        }
    std::filesystem::copy_file(d + "/client.pub", d + "/authorized");
    std::filesystem::create_directories("/run/sshd");  // sshd's privilege separation
    const int sshPort = FreeLoopbackPort();
    do port_ = FreeLoopbackPort();
    while (port_ == sshPort);
    const std::string config = "ListenAddress 127.0.0.1\nPort " + std::to_string(sshPort) + "\nHostKey " + d +
                               "/host\nAuthorizedKeysFile " + d +
                               "/authorized\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                               "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\nPidFile none\n"
                               "AllowTcpForwarding yes\n";
    why_ = server_.Start({FindProgram("sshd"), "-D", "-e", "-f", dir_.Write("sshd_config", config)},
                         static_cast<std::uint16_t>(sshPort));
    if (!why_.empty()) return;
    why_ = client_.Start({"ssh", "-N", "-F", "/dev/null", "-D", "127.0.0.1:" + std::to_string(port_), "-p",
                          std::to_string(sshPort), "-i", d + "/client", "-o", "StrictHostKeyChecking=no", "-o",
                          "UserKnownHostsFile=/dev/null", "-o", "BatchMode=yes", "-o", "ExitOnForwardFailure=yes",
                          "root@127.0.0.1"},
                         static_cast<std::uint16_t>(port_));
}

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
