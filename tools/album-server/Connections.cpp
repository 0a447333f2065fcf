// SPDX-License-Identifier: Apache-2.0
#include "Connections.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

struct Endpoint {
    std::string host;  // numeric, as the library writes it into the request
    int port = -1;
};

bool Describe(const sockaddr_storage& addr, socklen_t len, Endpoint& out)
{
    char host[NI_MAXHOST], serv[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return false;
    out.host = host;
    out.port = std::atoi(serv);
    return true;
}

bool LocalEnd(int fd, Endpoint& out)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    return getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && Describe(addr, len, out);
}

bool PeerEnd(int fd, Endpoint& out)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    return getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && Describe(addr, len, out);
}

// Every open descriptor of the process. The library hands no descriptor to a handler,
// so this is how one is found; other threads may open and close descriptors meanwhile,
// which is why callers identify theirs by addresses, not by number.
void ForEachDescriptor(const std::function<bool(int)>& visit)
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || end == entry->d_name || fd == own)
            continue;
        if (!visit(static_cast<int>(fd)))
            break;
    }
    closedir(dir);
}

}  // namespace

int ConnectionOf(const httplib::Request& req)
{
    int found = -1;
    ForEachDescriptor([&](int fd) {
        Endpoint local, peer;
        if (LocalEnd(fd, local) && local.port == req.local_port && local.host == req.local_addr &&
            PeerEnd(fd, peer) && peer.port == req.remote_port && peer.host == req.remote_addr) {
            found = fd;
            return false;
        }
        return true;
    });
    return found;
}

bool ResetConnection(int fd)
{
    // Closing the last reference with a zero linger time sends the RST. dup3 drops that
    // reference and puts the dead end in its place in one step, so the number is never
    // free for another thread to reuse before the library closes it.
    const linger abort{1, 0};
    int ends[2];
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    close(ends[1]);
    const bool ok = dup3(ends[0], fd, O_CLOEXEC) == fd;
    close(ends[0]);
    return ok;
}

void WaitUntilPeerLeaves(int fd, const StopSignal& stop)
{
    for (;;) {
        pollfd p[2] = {{fd, POLLIN | POLLRDHUP, 0}, {stop.Fd(), POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents || (p[0].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
            return;
        char drop[4096];
        const ssize_t n = recv(fd, drop, sizeof drop, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return;
    }
}

void ShutDownConnections(int port)
{
    // Called once the listening socket is closed, when no connection is made any more;
    // a number that was closed and reused between the check and the shutdown can only
    // be a file or a local pair, on which shutdown fails harmlessly.
    ForEachDescriptor([port](int fd) {
        Endpoint local, peer;
        if (LocalEnd(fd, local) && local.port == port && PeerEnd(fd, peer))
            shutdown(fd, SHUT_RDWR);
        return true;
    });
}
