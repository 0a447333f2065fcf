#include "RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <strings.h>

long long RawResponse::ContentLength() const
{
    std::size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        static const char kName[] = "content-length:";
        if (strncasecmp(head.c_str() + pos, kName, sizeof kName - 1) == 0)
            return std::stoll(head.substr(pos + sizeof kName - 1));
    }
    return -1;
}

RawResponse RawExchange(int port, const std::string& request, int idleMs)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);

    std::string all;
    RawResponse r;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, idleMs) <= 0)
            break;
        char buf[8192];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            r.closedByPeer = n == 0;
            break;
        }
        all.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    const auto end = all.find("\r\n\r\n");
    r.head = all.substr(0, end == std::string::npos ? all.size() : end + 4);
    r.body = end == std::string::npos ? std::string() : all.substr(end + 4);
    return r;
}
