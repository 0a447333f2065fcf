// SPDX-License-Identifier: Apache-2.0
// A distant path for the album benchmark: a TCP relay that charges what a real network
// charges. Every byte is held DELAY ms in each direction; a new connection's first bytes
// reach the server only after the handshake's legs (the client could only send once its
// SYN had gone out and the SYN-ACK come back: 2 x DELAY after it connected); with
// --rate, both directions share one link of that many bytes per second each way, as
// every connection of a household shares its line.
//   distant_relay LISTEN_ADDR:PORT TARGET_ADDR:PORT DELAY_MS [--rate BYTES_PER_S]
// Prints "listening" once it accepts, then one line per accepted connection:
//   "connection N: <first request line>" (once the client's first line has arrived; "TLS"
// for a TLS client), so a script can count the connections a program opened and tell
// whose they were.
// One thread, poll; runs until killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 16 * 1024;  // read at once: the rate's pacing grain

bool ParseAddress(const std::string& text, sockaddr_in& out) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(static_cast<std::uint16_t>(std::atoi(text.c_str() + colon + 1)));
    return ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &out.sin_addr) == 1;
}

// One direction of the shared line: chunks leave one after another at the rate.
struct Link {
    double rate = 0;  // bytes per second; 0 = no limit
    Clock::time_point freeAt{};
    // When n bytes that reach the line at t have all left it.
    Clock::time_point Pass(Clock::time_point t, std::size_t n) {
        if (rate <= 0) return t;
        const Clock::time_point start = std::max(t, freeAt);
        freeAt = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(n / rate));
        return freeAt;
    }
};

struct Piece {
    Clock::time_point at;  // when it reaches the other end
    std::string bytes;     // empty: the end of the stream
};

// One direction of one connection.
struct Flow {
    int from = -1, to = -1;
    std::deque<Piece> queue;
    std::size_t sentOfFront = 0;
    bool readEnded = false;   // the source's end was read
    bool writeEnded = false;  // and passed on
};

struct Pair {
    int id = 0;
    Clock::time_point connected;
    Flow up, down;  // client to server, server to client
    std::string firstLine;
    bool announced = false;
    bool Done() const { return up.writeEnded && down.writeEnded; }
};

struct Relay {
    std::chrono::milliseconds delay;
    Link upLink, downLink;
    int listenFd = -1;
    sockaddr_in target{};
    std::vector<std::unique_ptr<Pair>> pairs;
    int accepted = 0;

    void Accept() {
        const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
            ::close(server);
            ::close(client);
            return;
        }
        ::fcntl(server, F_SETFL, ::fcntl(server, F_GETFL) | O_NONBLOCK);
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto p = std::make_unique<Pair>();
        p->id = ++accepted;
        p->connected = Clock::now();
        p->up.from = client;
        p->up.to = server;
        p->down.from = server;
        p->down.to = client;
        pairs.push_back(std::move(p));
    }

    // Reads what the source has and schedules it.
    void Read(Pair& p, Flow& f, bool upward) {
        char buf[kChunk];
        const ssize_t n = ::recv(f.from, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        const Clock::time_point now = Clock::now();
        // Client bytes sent before the handshake was through wait for it.
        const Clock::time_point onLine = upward ? std::max(now, p.connected + 2 * delay) : now;
        const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 0;
        Clock::time_point at = (upward ? upLink : downLink).Pass(onLine, size) + delay;
        if (!f.queue.empty()) at = std::max(at, f.queue.back().at);
        if (n > 0) {
            f.queue.push_back({at, std::string(buf, size)});
            if (upward && !p.announced) {
                p.firstLine += std::string(buf, size);
                // A TLS client's first bytes are a handshake record, not a line: it is
                // announced at once, as "TLS".
                if (static_cast<unsigned char>(p.firstLine[0]) == 0x16) p.firstLine = "TLS\r\n";
                const std::size_t eol = p.firstLine.find("\r\n");
                if (eol != std::string::npos || p.firstLine.size() > 512) {
                    p.firstLine.resize(std::min(eol, p.firstLine.size()));
                    std::printf("connection %d: %s\n", p.id, p.firstLine.c_str());
                    std::fflush(stdout);
                    p.announced = true;
                }
            }
        } else {
            f.readEnded = true;  // end of stream or an error: passed on as an end
            f.queue.push_back({at, {}});
        }
    }

    // Passes on what is due, as far as the destination takes it.
    void Write(Flow& f, Clock::time_point now) {
        while (!f.queue.empty() && f.queue.front().at <= now && !f.writeEnded) {
            Piece& piece = f.queue.front();
            if (piece.bytes.empty()) {
                ::shutdown(f.to, SHUT_WR);
                f.writeEnded = true;
                f.queue.pop_front();
                break;
            }
            const ssize_t n = ::send(f.to, piece.bytes.data() + f.sentOfFront, piece.bytes.size() - f.sentOfFront,
                                     MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
            if (n < 0) {  // the destination is gone: nothing more goes this way
                f.queue.clear();
                f.writeEnded = true;
                if (!f.readEnded) ::shutdown(f.from, SHUT_RD);
                return;
            }
            f.sentOfFront += static_cast<std::size_t>(n);
            if (f.sentOfFront == piece.bytes.size()) {
                f.queue.pop_front();
                f.sentOfFront = 0;
            }
        }
    }

    void Run() {
        for (;;) {
            const Clock::time_point now = Clock::now();
            std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
            std::vector<std::pair<Pair*, Flow*>> owners{{nullptr, nullptr}};
            Clock::time_point next = Clock::time_point::max();
            for (auto& p : pairs) {
                for (Flow* f : {&p->up, &p->down}) {
                    short events = 0;
                    if (!f->readEnded && !f->writeEnded) events |= POLLIN;
                    if (!f->queue.empty() && f->queue.front().at <= now) events |= POLLOUT;
                    // A piece due already waits for POLLOUT, not for the clock.
                    if (!f->queue.empty() && f->queue.front().at > now) next = std::min(next, f->queue.front().at);
                    fds.push_back({f->from, static_cast<short>(events & POLLIN), 0});
                    owners.push_back({p.get(), f});
                    fds.push_back({f->to, static_cast<short>(events & POLLOUT), 0});
                    owners.push_back({p.get(), f});
                }
            }
            timespec wait{1, 0};
            if (next != Clock::time_point::max()) {
                const auto left = std::max(Clock::duration::zero(), next - now);
                wait.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(left).count();
                wait.tv_nsec = (std::chrono::duration_cast<std::chrono::nanoseconds>(left) % std::chrono::seconds(1)).count();
            }
            if (::ppoll(fds.data(), fds.size(), &wait, nullptr) < 0 && errno != EINTR) return;
            if (fds[0].revents & POLLIN) Accept();
            for (std::size_t i = 1; i < fds.size(); i += 2) {
                auto [p, f] = owners[i];
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(*p, *f, f == &p->up);
            }
            const Clock::time_point later = Clock::now();
            for (auto& p : pairs) {
                Write(p->up, later);
                Write(p->down, later);
            }
            for (auto it = pairs.begin(); it != pairs.end();) {
                if ((*it)->Done()) {
                    ::close((*it)->up.from);
                    ::close((*it)->up.to);
                    it = pairs.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 6 && std::strcmp(argv[4], "--rate") == 0)) {
        std::fprintf(stderr, "usage: distant_relay LISTEN_ADDR:PORT TARGET_ADDR:PORT DELAY_MS [--rate BYTES_PER_S]\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Relay relay;
    sockaddr_in listen{};
    if (!ParseAddress(argv[1], listen) || !ParseAddress(argv[2], relay.target)) {
        std::fprintf(stderr, "distant_relay: bad address\n");
        return 2;
    }
    relay.delay = std::chrono::milliseconds(std::atoi(argv[3]));
    if (argc == 6) relay.upLink.rate = relay.downLink.rate = std::atof(argv[5]);
    relay.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(relay.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(relay.listenFd, reinterpret_cast<const sockaddr*>(&listen), sizeof listen) != 0 ||
        ::listen(relay.listenFd, 1024) != 0) {
        std::perror("distant_relay: listen");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    relay.Run();
    return 1;
}
