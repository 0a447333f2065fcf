// SPDX-License-Identifier: Apache-2.0
#pragma once
// Real servers for end-to-end tests, each started on a free loopback port with its own
// configuration in a scratch folder and stopped by its process id. Available() is false
// (and Why() says so) when the program is not installed or did not come up.
#include <string>

#include "support/ChildProcess.h"

// nginx serving root on 127.0.0.1; extraConfig goes into its server block. With a
// certificate and key it also serves HTTPS on a second port; "@PORT@" and "@TLS_PORT@" in
// extraConfig stand for the two ports.
class NginxServer {
public:
    NginxServer(const std::string& root, const std::string& extraConfig = "", const std::string& tlsCert = "",
                const std::string& tlsKey = "");
    bool Available() const { return process_.Running(); }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }
    int TlsPort() const { return tlsPort_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::string TlsUrl(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
    }

private:
    TScratchDir dir_;
    TChildProcess process_;
    int port_ = 0;
    int tlsPort_ = 0;
    std::string why_;
};

// tinyproxy as a forward proxy on 127.0.0.1 for loopback clients.
class TinyProxy {
public:
    TinyProxy();
    bool Available() const { return process_.Running(); }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }

private:
    TScratchDir dir_;
    TChildProcess process_;
    int port_ = 0;
    std::string why_;
};

// microsocks (SOCKS 5) on address, requiring this user name and password when given.
class MicroSocks {
public:
    explicit MicroSocks(const std::string& user = "", const std::string& password = "",
                        const std::string& address = "127.0.0.1");
    bool Available() const { return process_.Running(); }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }

private:
    TChildProcess process_;
    int port_ = 0;
    std::string why_;
};

// danted (SOCKS 4 and 5, no authentication) on 127.0.0.1 for loopback clients.
class DanteServer {
public:
    DanteServer();
    bool Available() const { return process_.Running(); }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }

private:
    TScratchDir dir_;
    TChildProcess process_;
    int port_ = 0;
    std::string why_;
};

// ssh's dynamic forwarding (SOCKS 4, 4A and 5) on 127.0.0.1: ssh -D logged in with a
// throw-away key to an sshd of its own on another loopback port. Root only (sshd's
// privilege separation, and the login is root's).
class SshSocksProxy {
public:
    SshSocksProxy();
    bool Available() const { return client_.Running(); }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }

private:
    TScratchDir dir_;
    TChildProcess server_;
    TChildProcess client_;  // (stopped first)
    int port_ = 0;
    std::string why_;
};

// Byte-for-byte comparison of two files (false when either cannot be read).
bool SameFile(const std::string& a, const std::string& b);
// Writes size bytes of a fixed pseudo-random sequence.
void WriteRandomFile(const std::string& path, long long size, unsigned seed);
