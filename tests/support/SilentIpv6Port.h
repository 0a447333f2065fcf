// SPDX-License-Identifier: Apache-2.0
#pragma once
// A port on [::1] that takes no connection, as a broken IPv6 route behaves.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

// [::1]:port listening with a queue of one that is never accepted from, and filled: the
// system drops every further connection request, as a broken IPv6 route does.
class TSilentIpv6Port {
public:
    explicit TSilentIpv6Port(int port) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        listener_ = socket(AF_INET6, SOCK_STREAM, 0);
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener_, 0) == 0;
        for (int i = 0; ok_ && i < 2; ++i) {
            fillers_.push_back(socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK, 0));
            connect(fillers_.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
    }
    ~TSilentIpv6Port() {
        for (int fd : fillers_) close(fd);
        close(listener_);
    }
    bool Ok() const { return ok_; }

private:
    int listener_ = -1;
    std::vector<int> fillers_;
    bool ok_ = false;
};

