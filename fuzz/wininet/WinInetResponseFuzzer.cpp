// SPDX-License-Identifier: Apache-2.0
// The fetcher's Internet client over a real loopback connection: a server thread answers
// each connection the client makes with the input's bytes, split where the input says,
// then closes or resets. The client sends the request, reads the head, is asked for
// every kind of header value and reads the body the way the fetcher does. Whatever the
// server sends: every call returns, no memory it does not own is touched, a body read to
// its end has exactly the announced length, a failed read stays failed, and no socket
// is left behind but the kept-alive connections of the pool.
//
// Option bits: 0-1 verb (GET, POST, HEAD, GET), 2 no automatic redirection, 3 through a
// proxy, 4-5 read buffer size (1025, 1, 7, 65536).
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PeerScript.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetHooks.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "wininet_response_fuzzer: %s\n", what);
    std::abort();
}

bool SameAddress(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == b.sin_family && a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// The server. The client blocks in its calls, so the server has a thread of its own; it
// lives for the whole run and plays one script per input. A write is paced: the server
// goes on when the client's socket holds none of the bytes any more (found through the
// client's descriptor, which is in this process), so an input gives the same reads on
// every run.
class TServerThread {
public:
    TServerThread() {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Port 80 when free (inside a namespace), so that redirections to "http://127.0.0.1/"
        // come back here too.
        sa.sin_port = htons(80);
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            sa.sin_port = 0;
            if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) Fail("cannot bind on 127.0.0.1");
        }
        socklen_t len = sizeof sa;
        if (::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            Fail("cannot listen on 127.0.0.1");
        port_ = ntohs(sa.sin_port);
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        thread_ = std::thread([this] { Run(); });
    }
    ~TServerThread() {
        {
            std::lock_guard lock(mu_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
        ::close(wakeFd_);
        ::close(listenFd_);
    }

    std::uint16_t Port() const { return port_; }

    // Starts playing the script; the client may connect from now on.
    void Serve(const TPeerScript& script) {
        std::lock_guard lock(mu_);
        script_ = &script;
        clientDone_ = false;
        playing_ = true;
        cv_.notify_all();
    }
    // The client is done: the server stops, closes everything and waits for the next script.
    void Finish() {
        std::unique_lock lock(mu_);
        clientDone_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
        cv_.wait(lock, [&] { return !playing_; });
        std::uint64_t count;
        [[maybe_unused]] const ssize_t m = ::read(wakeFd_, &count, sizeof count);
    }

private:
    bool ClientDone() {
        std::lock_guard lock(mu_);
        return clientDone_;
    }

    void Run() {
        for (;;) {
            const TPeerScript* script;
            {
                std::unique_lock lock(mu_);
                cv_.wait(lock, [&] { return quit_ || playing_; });
                if (quit_) return;
                script = script_;
            }
            for (const TPeerConnection& c : script->connections)
                if (!Play(c)) break;
            // Connections beyond the script are closed at once.
            while (!ClientDone()) {
                const int fd = AcceptWithin(1000);
                if (fd >= 0) ::close(fd);
            }
            std::lock_guard lock(mu_);
            playing_ = false;
            cv_.notify_all();
        }
    }

    // A connection, or -1 when none came within ms or the client is done.
    int AcceptWithin(int ms) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(p, 2, ms) <= 0 || !(p[0].revents & POLLIN)) return -1;
        return ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

    // The client's end of the connection: the descriptor of this process whose address is
    // the connection's peer address.
    static int ClientEnd(int conn) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        if (::getpeername(conn, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return -1;
        for (int fd = 3; fd < 1024; ++fd) {
            sockaddr_in local{};
            len = sizeof local;
            if (fd != conn && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0 &&
                SameAddress(local, peer))
                return fd;
        }
        return -1;
    }

    // Waits until the client has taken every byte from its socket (or is done, or has
    // closed the descriptor, or a second has passed).
    void WaitConsumed(int clientFd) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (clientFd >= 0 && !ClientDone() && std::chrono::steady_clock::now() < end) {
            int n = 0;
            if (::ioctl(clientFd, FIONREAD, &n) != 0 || n == 0) return;
            ::usleep(20);
        }
    }

    // Reads the request (until the head's end, and the body a POST announces) within a second.
    static void ReadRequest(int conn) {
        std::string got;
        char buf[4096];
        std::size_t need = std::string::npos;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < end) {
            const std::size_t head = got.find("\r\n\r\n");
            if (head != std::string::npos) {
                if (need == std::string::npos) {
                    need = head + 4;
                    const std::size_t at = got.find("Content-Length: ");
                    if (at != std::string::npos && at < head) need += std::strtoul(got.c_str() + at + 16, nullptr, 10);
                }
                if (got.size() >= need) return;
            }
            pollfd p{conn, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
            if (n <= 0) return;
            got.append(buf, static_cast<std::size_t>(n));
        }
    }

    // One connection of the script; false when the client is done before it connected.
    bool Play(const TPeerConnection& c) {
        int conn = -1;
        while (conn < 0) {
            if (ClientDone()) return false;
            conn = AcceptWithin(1000);
        }
        ReadRequest(conn);
        const int clientFd = ClientEnd(conn);
        for (const std::string& piece : c.pieces) {
            if (::send(conn, piece.data(), piece.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(piece.size())) break;
            WaitConsumed(clientFd);
        }
        if (c.reset) {
            const linger hard{1, 0};
            ::setsockopt(conn, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        ::close(conn);
        return true;
    }

    int listenFd_ = -1;
    int wakeFd_ = -1;  // readable once the client is done
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    const TPeerScript* script_ = nullptr;
    bool playing_ = false;
    bool clientDone_ = false;
    bool quit_ = false;
};

// Sockets only: the fuzzer's own helpers (the symbolizer's pipes) come and go.
int OpenSockets() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:", 7) == 0) ++n;
        }
        ::closedir(d);
    }
    return n;
}

// A text value by the interface's two-step rule: the size first, then the value.
void QueryText(HINTERNET request, DWORD level, const std::string& customName = {}) {
    std::string buf = customName;
    buf.resize(std::max<std::size_t>(buf.size(), 1) + 1);
    DWORD len = static_cast<DWORD>(level == HTTP_QUERY_CUSTOM ? buf.size() : 1);
    if (HttpQueryInfoA(request, level, buf.data(), &len, nullptr)) {
        if (len >= buf.size()) Fail("a value longer than its buffer");
        return;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    const DWORD needed = len;
    buf = customName;
    buf.resize(std::max<std::size_t>(needed, buf.size() + 1));
    len = needed;
    if (!HttpQueryInfoA(request, level, buf.data(), &len, nullptr)) Fail("the size it asked for was not enough");
    if (len + 1 != needed || buf[len] != '\0') Fail("the length given is not the value's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TServerThread server;
    static const int sockets = OpenSockets();
    const TPeerScript script = ParsePeerScript(std::string_view(reinterpret_cast<const char*>(data), size), 4);
    static const char* const verbs[] = {"GET", "POST", "HEAD", "GET"};
    const std::string verb = verbs[script.options & 3];
    static const DWORD readSizes[] = {1025, 1, 7, 65536};
    const DWORD readSize = readSizes[(script.options >> 4) & 3];
    std::size_t sent = 0;
    for (const TPeerConnection& c : script.connections) sent += AllBytes(c).size();

    server.Serve(script);
    const std::string proxy = "127.0.0.1:" + std::to_string(server.Port());
    HINTERNET session = (script.options & 8)
                            ? InternetOpenA("fuzz", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), "", 0)
                            : InternetOpenA("fuzz", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    // Limits only a fault reaches: the server ends every connection it accepts.
    const DWORD limitMs = 5000;
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &limitMs, sizeof limitMs);
    InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &limitMs, sizeof limitMs);
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &limitMs, sizeof limitMs);
    HINTERNET connection = InternetConnectA(session, "127.0.0.1", server.Port(), "user", "pass",
                                            INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"Accept: */*", nullptr};
    const DWORD flags = INTERNET_FLAG_RELOAD | ((script.options & 4) ? INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
    HINTERNET request = HttpOpenRequestA(connection, verb.c_str(), "/a/b.jpg?x=1", "HTTP/1.0", "http://h/", accept, flags, 0);
    const std::string form = "field=value";
    const bool answered = verb == "POST"
                              ? HttpSendRequestA(request, "Content-Type: application/x-www-form-urlencoded",
                                                 DWORD(-1), form.data(), static_cast<DWORD>(form.size()))
                              : HttpSendRequestA(request, nullptr, 0, nullptr, 0);
    if (answered) {
        DWORD status = 0, statusSize = sizeof status;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
            Fail("an answered request has no status code");
        for (DWORD level : {HTTP_QUERY_VERSION, HTTP_QUERY_STATUS_TEXT, HTTP_QUERY_RAW_HEADERS_CRLF,
                            HTTP_QUERY_CONTENT_TYPE, HTTP_QUERY_LOCATION, HTTP_QUERY_CONTENT_LENGTH})
            QueryText(request, level);
        QueryText(request, HTTP_QUERY_CUSTOM, "set-cookie");
        DWORD index = 0;
        for (int i = 0; i < 64; ++i) {
            char buf[256] = "Set-Cookie";
            DWORD len = sizeof buf;
            if (!HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, buf, &len, &index)) break;
        }
        DWORD length = 0, lengthSize = sizeof length;
        const bool lengthKnown =
            HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &lengthSize, nullptr);

        std::vector<char> buf(readSize);
        std::size_t total = 0;
        bool ok = true;
        for (;;) {
            DWORD read = 0;
            ok = InternetReadFile(request, buf.data(), readSize, &read);
            if (read > readSize) Fail("more bytes read than asked for");
            total += read;
            if (!ok || read == 0) break;
        }
        if (total > sent) Fail("more body bytes than were sent");
        const bool noBody = verb == "HEAD" || status == 204 || status == 304 || (status >= 100 && status < 200);
        if (ok && lengthKnown && !noBody && total != length) Fail("a body read to its end is not the announced length");
        DWORD read = 0;
        if (!ok && InternetReadFile(request, buf.data(), readSize, &read)) Fail("a failed read did not stay failed");
    }
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    server.Finish();
    // Kept-alive connections outlive their request on purpose; every other socket must not.
    WinInetDropIdleConnections();
    if (OpenSockets() != sockets) Fail("a socket outlived its request");
    return 0;
}
