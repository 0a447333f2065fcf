// SPDX-License-Identifier: Apache-2.0
// Kept-alive connections and abandoned look-ups of the Internet client, seen from real
// servers that count the connections they get.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

#include "FetchTestSupport.h"
#include "support/Loopback.h"
#include "support/TestPki.h"
#include "tls/TlsClient.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetHooks.h"

namespace {

std::string Kept(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A server on addr:80 that serves each connection on a thread of its own and answers each
// request (head plus announced body) as the plan says: send these bytes, then close or
// wait for the next request. Every request is recorded with its connection's number.
// Given a certificate it speaks TLS instead, on a port of its own (Port()), and reads
// whatever has come at once as the plain server does (every record that is there).
class KeptServer {
public:
    struct Reply {
        std::string bytes;
        bool close = false;
        int waitForNextMs = 0;  // sent once the next request came, or after this long ...
        std::size_t sendFirst = 0;  // ... but for the first bytes, sent before the wait
        std::string late{};         // sent lateMs after the reply
        int lateMs = 0;
    };
    using Plan = std::function<Reply(std::size_t connection, std::size_t nth, const std::string& request)>;
    struct Seen {
        std::size_t connection;
        std::string request;
        bool behind;  // bytes of a further request had come with it
    };

    KeptServer(const char* addr, Plan plan, const TTestPki::TPair* tls = nullptr) : plan_(std::move(plan)) {
        if (tls) {
            std::signal(SIGPIPE, SIG_IGN);  // TLS writes to a client that has gone must not end the test
            ctx_ = SSL_CTX_new(TLS_server_method());
            if (SSL_CTX_use_certificate_chain_file(ctx_, tls->Cert.c_str()) != 1 ||
                SSL_CTX_use_PrivateKey_file(ctx_, tls->Key.c_str(), SSL_FILETYPE_PEM) != 1)
                ADD_FAILURE() << "cannot load " << tls->Cert;
        }
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(tls ? 0 : 80);
        ::inet_pton(AF_INET, addr, &sa.sin_addr);
        socklen_t length = sizeof sa;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listen_, 64) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
            ADD_FAILURE() << "cannot listen on " << addr << ":80 (run in a network namespace as root)";
        port_ = ntohs(sa.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~KeptServer() {
        stop_ = true;
        acceptor_.join();
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);  // also ends the waits on kept connections
        for (std::thread& t : workers_) t.join();
        for (int fd : open_) ::close(fd);
        ::close(listen_);
        if (ctx_) SSL_CTX_free(ctx_);
    }
    std::uint16_t Port() const { return port_; }

    // Set before the first request: reads several requests at once and answers the first
    // only; answers two requests read at once in reverse order.
    std::atomic<bool> dropBehind{false};
    std::atomic<bool> reverseTogether{false};
    // A pause after each answer before the next read, so that requests sent meanwhile are
    // read together.
    std::atomic<int> pauseBeforeReadMs{0};

    std::size_t Connections() {
        std::lock_guard lock(mu_);
        return workers_.size();
    }
    std::vector<Seen> Requests() {
        std::lock_guard lock(mu_);
        return seen_;
    }

private:
    void AcceptLoop() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard lock(mu_);
            open_.push_back(fd);
            const std::size_t n = workers_.size();
            workers_.emplace_back([this, fd, n] { Serve(fd, n); });
        }
    }
    // One connection's transport: the socket, or TLS over it.
    struct Link {
        int fd;
        SSL* ssl = nullptr;
        void Send(const char* data, std::size_t n) const {
            if (n == 0) return;
            if (ssl)
                SSL_write(ssl, data, static_cast<int>(n));
            else
                ::send(fd, data, n, MSG_NOSIGNAL);
        }
        // Whether bytes wait that a read would return at once.
        bool Waiting(int timeoutMs) const {
            if (ssl && SSL_pending(ssl) > 0) return true;
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, timeoutMs) == 1;
        }
    };
    static bool More(const Link& link, std::string& got) {
        char buf[4096];
        if (!link.ssl) {
            const ssize_t n = ::recv(link.fd, buf, sizeof buf, 0);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            return n > 0;
        }
        // Every record that has come, as one read of the socket would return them.
        int n = SSL_read(link.ssl, buf, sizeof buf);
        if (n <= 0) return false;
        got.append(buf, static_cast<std::size_t>(n));
        while (link.Waiting(0) && (n = SSL_read(link.ssl, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    void Serve(int fd, std::size_t connection) {
        Link link{fd};
        if (ctx_) {
            link.ssl = SSL_new(ctx_);
            SSL_set_fd(link.ssl, fd);
            if (SSL_accept(link.ssl) != 1) {
                SSL_free(link.ssl);
                return;
            }
        }
        ServeRequests(link, connection);
        if (link.ssl) SSL_free(link.ssl);
    }
    void ServeRequests(const Link& link, std::size_t connection) {
        const int fd = link.fd;
        std::string got;
        for (std::size_t nth = 0;; ++nth) {
            std::size_t end;
            while ((end = got.find(kHeadEnd)) == std::string::npos)
                if (!More(link, got)) return;
            std::size_t size = end + 4;
            const std::size_t at = got.find("Content-Length: ");
            if (at != std::string::npos && at < end) size += std::stoul(got.substr(at + 16));
            while (got.size() < size)
                if (!More(link, got)) return;
            const std::string request = got.substr(0, size);
            got.erase(0, size);
            Reply reply = plan_(connection, nth, request);
            const std::size_t first = std::min(reply.sendFirst, reply.bytes.size());
            link.Send(reply.bytes.data(), first);
            if (got.empty() && reply.waitForNextMs > 0 && link.Waiting(reply.waitForNextMs) && !More(link, got))
                return;
            {
                std::lock_guard lock(mu_);
                seen_.push_back({connection, request, !got.empty()});
            }
            if (dropBehind) got.clear();
            const std::size_t next = got.find(kHeadEnd);
            if (reverseTogether && next != std::string::npos) {  // the second one first
                const std::string second = got.substr(0, next + 4);
                got.erase(0, next + 4);
                {
                    std::lock_guard lock(mu_);
                    seen_.push_back({connection, second, false});
                }
                const Reply other = plan_(connection, ++nth, second);
                link.Send(other.bytes.data(), other.bytes.size());
            }
            link.Send(reply.bytes.data() + first, reply.bytes.size() - first);
            if (pauseBeforeReadMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseBeforeReadMs.load()));
            if (!reply.late.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.lateMs));
                link.Send(reply.late.data(), reply.late.size());
            }
            if (reply.close) {
                ::shutdown(fd, SHUT_RDWR);
                return;
            }
        }
    }

    Plan plan_;
    SSL_CTX* ctx_ = nullptr;  // TLS: the server's context
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<std::thread> workers_;
    std::vector<int> open_;
    std::vector<Seen> seen_;
};

// A throw-away authority the Internet client trusts while this lives, and its server
// certificate for a KeptServer that speaks TLS.
struct TrustedPki {
    TTestPki pki;
    TTestPki::TPair pair = pki.Server();
    TrustedPki() { TlsApplySettings({pki.CaFile(), true}); }
    ~TrustedPki() { TlsApplySettings({}); }
};

class WinInetPool : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        WinInetDropIdleConnections();
    }
    void TearDown() override { WinInetDropIdleConnections(); }

    // One transfer with WaitThread; true when it succeeded.
    bool Fetch(THTTPGet& get, const std::string& url, const std::string& post = {}) {
        get.SetURL(url);
        get.SetFileName(dir.Path("out.jpg"));
        get.SetPostQuery(post);
        get.SetWaitThread(true);
        get.FetchToFile();
        return get.LastOutcome();
    }

    // Fetches /1 to /n, each naming the next as its follower; every body must be its own path.
    void FetchChain(const std::string& base, int n) {
        THTTPGet get;
        EventLog log;
        log.Attach(get);
        for (int i = 1; i <= n; ++i) {
            get.SetNextURL(i < n ? base + "/" + std::to_string(i + 1) : "");
            EXPECT_TRUE(Fetch(get, base + "/" + std::to_string(i)));
            EXPECT_EQ(ReadAll(dir.Path("out.jpg")), "/" + std::to_string(i));
        }
        EXPECT_EQ(log.events.size(), static_cast<std::size_t>(n));  // one success each, no retry
    }

    // Fetches /1 to /n as the photo queue does: each names the next, and a failure that may
    // pass is fetched again (at most three times). Every body handed over as whole must be
    // that photo's own bytes, and every photo must come. Gives the answers discarded.
    int FetchChainRetrying(const std::string& base, int n, const std::function<std::string(const std::string&)>& bodyOf) {
        THTTPGet get;
        int discarded = 0;
        for (int i = 1; i <= n; ++i) {
            const std::string path = "/" + std::to_string(i);
            get.SetNextURL(i < n ? base + "/" + std::to_string(i + 1) : "");
            get.SetAfterNextURL(i + 1 < n ? base + "/" + std::to_string(i + 2) : "");
            bool ok = false;
            for (int attempt = 0; attempt < 4 && !ok; ++attempt) {
                ok = Fetch(get, base + path);
                if (ok) {
                    EXPECT_EQ(ReadAll(dir.Path("out.jpg")), bodyOf(path)) << path;
                } else {
                    EXPECT_TRUE(get.LastFailureMayPass()) << path << ": " << get.LastErrorText();
                    if (get.LastErrorCode() == ERROR_INTERNET_ANSWER_DISCARDED) ++discarded;
                }
            }
            EXPECT_TRUE(ok) << path << ": " << get.LastErrorText();
        }
        return discarded;
    }

    ScratchDir dir;
};

TEST_F(WinInetPool, FiftyPhotosOnFourFetchersTakeAboutFourConnections) {
    KeptServer server("127.0.6.80", [](std::size_t, std::size_t, const std::string&) {
        return KeptServer::Reply{Kept(Body(3000))};
    });
    std::vector<std::unique_ptr<THTTPGet>> gets;
    int next = 0, done = 0, failed = 0;
    for (int i = 0; i < 4; ++i) {
        gets.push_back(std::make_unique<THTTPGet>());
        gets.back()->OnDoneFile = [&](TObject*, const std::string&, std::int32_t) { ++done; };
        gets.back()->OnError = [&](TObject*) { ++failed; };
    }
    while (done + failed < 50) {
        for (auto& get : gets) {
            if (get->Busy() || next == 50) continue;
            get->SetURL("http://127.0.6.80/" + std::to_string(next) + ".jpg");
            get->SetFileName(dir.Path(std::to_string(next++) + ".jpg"));
            get->FetchToFile();
        }
        ASSERT_TRUE(PumpUntil([&] {
            for (auto& get : gets)
                if (!get->Busy() && next < 50) return true;
            return done + failed == 50;
        }));
    }
    EXPECT_EQ(done, 50);
    EXPECT_LE(server.Connections(), 6u);
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 50u);
    for (const auto& s : seen) {
        EXPECT_EQ(s.request.rfind("GET /", 0), 0u);
        EXPECT_NE(s.request.find(" HTTP/1.0\r\n"), std::string::npos);
        EXPECT_NE(s.request.find("\r\nConnection: Keep-Alive\r\n\r\n"), std::string::npos);
    }
}

TEST_F(WinInetPool, OnlyAWholeFramedKeptResponseLeavesItsConnection) {
    struct Case {
        const char* response;
        bool serverCloses;
        DWORD readFirst;  // 0: read to the end
        bool kept;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, 0, true},
        {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 3\r\n\r\nabc", false, 0, true},
        {"HTTP/1.1 204 No Content\r\n\r\n", false, 0, true},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 3\r\n\r\nabc", false, 0, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, 0, false},
        {"HTTP/1.1 200 OK\r\n\r\nabc", true, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", false, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, 2, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.response);
        ScriptedPeer peer("127.0.6.81", 80);
        peer.Accept().ReadUntil(kHeadEnd).Send(k.response);
        (k.serverCloses ? peer.Close() : peer.ReadToEnd()).Start();
        HINTERNET session = InternetOpenA("probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection = InternetConnectA(session, "127.0.6.81", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0);
        HINTERNET request = HttpOpenRequestA(connection, "GET", "/k", nullptr, nullptr, nullptr, 0, 0);
        ASSERT_TRUE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
        char buf[64];
        DWORD read = 0;
        if (k.readFirst) {
            ASSERT_TRUE(InternetReadFile(request, buf, k.readFirst, &read));
        } else {
            while (InternetReadFile(request, buf, sizeof buf, &read) && read > 0) {
            }
        }
        InternetCloseHandle(request);
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
        EXPECT_EQ(WinInetIdleConnectionCount(), k.kept ? 1 : 0);
        WinInetDropIdleConnections();
        peer.Join();
        EXPECT_EQ(peer.Failure(), "");
    }
}

TEST_F(WinInetPool, AtMostSixteenConnectionsWaitPerServer) {
    KeptServer server("127.0.6.85", [](std::size_t, std::size_t, const std::string&) {
        return KeptServer::Reply{Kept("photo")};
    });
    HINTERNET session = InternetOpenA("probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectA(session, "127.0.6.85", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    std::vector<HINTERNET> requests;
    for (int i = 0; i < 18; ++i) {  // all answered before any is read: 18 connections
        requests.push_back(HttpOpenRequestA(connection, "GET", "/p", nullptr, nullptr, nullptr, 0, 0));
        ASSERT_TRUE(HttpSendRequestA(requests.back(), nullptr, 0, nullptr, 0));
    }
    for (HINTERNET request : requests) {
        char buf[16];
        DWORD read = 0;
        while (InternetReadFile(request, buf, sizeof buf, &read) && read > 0) {
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
    EXPECT_EQ(server.Connections(), 18u);
    EXPECT_EQ(WinInetIdleConnectionCount(), 16);
}

TEST_F(WinInetPool, AKeptConnectionTheServerClosedCostsNothing) {
    // Closed while idle, reset while idle, closed with the next request unanswered, reset so.
    struct Case {
        bool whileIdle, reset;
    } cases[] = {{true, false}, {true, true}, {false, false}, {false, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.whileIdle ? "idle" : "next request") + (k.reset ? ", reset" : ", closed"));
        ScriptedPeer peer("127.0.6.82", 80);
        peer.Accept().ReadUntil(kHeadEnd).Send(Kept("one"));
        if (k.whileIdle)
            peer.Delay(300);  // the client has read the answer and filed the connection
        else
            peer.ReadUntil(kHeadEnd);
        (k.reset ? peer.Reset() : peer.Close()).Accept().ReadUntil(kHeadEnd).Send(Kept("two")).ReadToEnd().Start();
        THTTPGet get;
        EventLog log;
        log.Attach(get);
        EXPECT_TRUE(Fetch(get, "http://127.0.6.82/1.jpg"));
        if (k.whileIdle) PumpUntil([] { return false; }, 600);  // the close or reset has arrived
        EXPECT_TRUE(Fetch(get, "http://127.0.6.82/2.jpg"));
        EXPECT_EQ(ReadAll(dir.Path("out.jpg")), "two");
        WinInetDropIdleConnections();
        peer.Join();
        EXPECT_EQ(peer.Connections(), 2u);
        EXPECT_EQ(peer.Received(1).rfind("GET /2.jpg ", 0), 0u);
        ASSERT_EQ(log.events.size(), 2u);  // no error, and no transfer of its own for the replay
        EXPECT_EQ(log.events[1].rfind("done ", 0), 0u);
    }
}

// A connection left idle for the limit is closed by the pool on its own, with nobody
// using the pool meanwhile, and the next transfer connects anew.
TEST_F(WinInetPool, AConnectionIdleForTheLimitIsClosed) {
    KeptServer server("127.0.6.89", [](std::size_t, std::size_t, const std::string&) {
        return KeptServer::Reply{Kept("photo")};
    });
    WinInetSetIdleLimit(200);
    struct Restore {
        ~Restore() { WinInetSetIdleLimit(30000); }
    } restore;
    THTTPGet get;
    EXPECT_TRUE(Fetch(get, "http://127.0.6.89/1.jpg"));
    EXPECT_EQ(WinInetIdleConnectionCount(), 1);
    EXPECT_TRUE(PumpUntil([] { return WinInetIdleConnectionCount() == 0; }));
    EXPECT_TRUE(Fetch(get, "http://127.0.6.89/2.jpg"));
    EXPECT_EQ(server.Connections(), 2u);
}

TEST_F(WinInetPool, APostIsNeverSentTwice) {
    KeptServer server("127.0.6.83", [](std::size_t, std::size_t, const std::string& request) {
        if (request.rfind("POST", 0) == 0) return KeptServer::Reply{"", true};  // closed unanswered
        return KeptServer::Reply{Kept("photo")};
    });
    THTTPGet get;
    EXPECT_TRUE(Fetch(get, "http://127.0.6.83/1.jpg"));
    EXPECT_FALSE(Fetch(get, "http://127.0.6.83/log.php", "title=x"));
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].request.rfind("POST /log.php ", 0), 0u);
    EXPECT_EQ(seen[1].connection, 0u);  // the connection that had just answered
    EXPECT_EQ(server.Connections(), 1u);  // and no second one for it
}

// The path of a request, as its answer's body, on a connection the server keeps.
KeptServer::Reply EchoPath(const std::string& request, const char* connection = "Keep-Alive") {
    const std::string path = request.substr(4, request.find(' ', 4) - 4);
    return {std::string("HTTP/1.1 200 OK\r\nConnection: ") + connection +
            "\r\nContent-Length: " + std::to_string(path.size()) + "\r\n\r\n" + path};
}

// A follower takes its answer whatever came between its announcement and itself, and a
// connection the server drops behind an answer, or says it will close, costs nothing.
TEST_F(WinInetPool, AnAnnouncedRequestTakesItsAnswerWhateverCameBetween) {
    struct Case {
        const char* connection;  // the answers' Connection header
        bool closeBehindSecond;  // answers /2, then closes without a word: /3 goes unanswered
        std::size_t connections;
    } cases[] = {{"Keep-Alive", false, 2}, {"close", false, 4}, {"Keep-Alive", true, 2}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.connection) + (k.closeBehindSecond ? ", closed behind /2" : ""));
        KeptServer server("127.0.6.86", [&k](std::size_t connection, std::size_t nth, const std::string& request) {
            KeptServer::Reply reply = EchoPath(request, k.connection);
            reply.close = k.closeBehindSecond && connection == 0 && nth == 1;
            return reply;
        });
        THTTPGet get;
        EventLog log;
        log.Attach(get);
        // /5 comes between /3's announcement and /3 itself.
        const char* order[][2] = {{"/1", "/2"}, {"/2", "/3"}, {"/5", ""}, {"/3", ""}};
        for (const auto& [path, next] : order) {
            get.SetNextURL(*next ? std::string("http://127.0.6.86") + next : "");
            EXPECT_TRUE(Fetch(get, std::string("http://127.0.6.86") + path));
            EXPECT_EQ(ReadAll(dir.Path("out.jpg")), path);
        }
        EXPECT_EQ(log.events.size(), 4u);
        EXPECT_EQ(server.Connections(), k.connections);
        WinInetDropIdleConnections();
    }
}

// Each follower goes out as soon as the answer in front of it has begun, before that
// answer's end: the server has the next request before it finishes the current one.
TEST_F(WinInetPool, RequestsGoBackToBackToAServerThatAnswersThem) {
    KeptServer server("127.0.6.87", [](std::size_t, std::size_t, const std::string& request) {
        KeptServer::Reply reply = EchoPath(request);
        // The head goes out at once, the body once the next request is in (or, if none
        // comes early, late).
        reply.sendFirst = reply.bytes.find(kHeadEnd) + 4;
        if (request[5] != '6') reply.waitForNextMs = 10000;
        return reply;
    });
    FetchChain("http://127.0.6.87", 6);
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 6u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].request.rfind("GET /" + std::to_string(i + 1) + " ", 0), 0u);
        EXPECT_EQ(seen[i].behind, i < 5) << seen[i].request;
    }
    EXPECT_EQ(server.Connections(), 1u);
}

// A photo's body of a few hundred bytes, its own for each path.
std::string PhotoOf(const std::string& path) { return path + std::string(600, static_cast<char>('a' + path.size() % 20)) + path; }

// The answer to a photo's request; "Range: bytes=0-" honoured (a 206 for the whole body).
KeptServer::Reply PhotoReply(const std::string& request, std::size_t extraLength = 0) {
    const std::string path = request.substr(4, request.find(' ', 4) - 4);
    const std::string body = PhotoOf(path);
    const std::string length = std::to_string(body.size() + extraLength);
    if (request.find("\r\nRange: bytes=0-\r\n") != std::string::npos)
        return {"HTTP/1.1 206 Partial Content\r\nContent-Type: image/jpeg\r\nContent-Range: bytes 0-" +
                std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\nContent-Length: " + length +
                "\r\n\r\n" + body};
    return {"HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " + length + "\r\n\r\n" + body};
}

// A server that honours ranges gets two requests behind an answer: they are read together
// while it pauses after each answer, and every photo is still its own.
TEST_F(WinInetPool, AServerThatHonoursRangesGetsTwoRequestsBehindAnAnswer) {
    KeptServer server("127.0.6.100", [](std::size_t, std::size_t, const std::string& request) { return PhotoReply(request); });
    server.pauseBeforeReadMs = 30;
    EXPECT_EQ(FetchChainRetrying("http://127.0.6.100", 8, PhotoOf), 0);
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 8u);
    std::size_t together = 0, ranged = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].request.rfind("GET /" + std::to_string(i + 1) + " ", 0), 0u);
        together += seen[i].behind;
        ranged += seen[i].request.find("\r\nRange: bytes=0-\r\n") != std::string::npos;
    }
    EXPECT_GE(together, 3u);
    EXPECT_EQ(ranged, 4u);  // every other one
    EXPECT_EQ(server.Connections(), 1u);
}

// A server that honours ranges and later reads two requests at once and answers only the
// first: the answer in the wrong place shows (a plain one where a ranged one was due, or
// none at all), the answer it could not confirm is discarded and fetched again, and the
// server gets one request at a time from then on. No answer is taken for another's.
TEST_F(WinInetPool, AServerThatDropsARequestBehindAnotherCostsNoPhoto) {
    const TrustedPki trusted;
    ASSERT_EQ(trusted.pki.Why(), "");
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        KeptServer server(tls ? "127.0.0.1" : "127.0.6.88",
                          [](std::size_t, std::size_t, const std::string& request) { return PhotoReply(request); },
                          tls ? &trusted.pair : nullptr);
        server.dropBehind = true;
        server.pauseBeforeReadMs = 30;
        EXPECT_GE(FetchChainRetrying(tls ? "https://127.0.0.1:" + std::to_string(server.Port()) : "http://127.0.6.88", 8,
                                     PhotoOf),
                  1);
        // Once found out, one request at a time: nothing read together any more.
        const auto seen = server.Requests();
        ASSERT_FALSE(seen.empty());
        EXPECT_GE(server.Connections(), 2u);
        for (const auto& s : seen)
            if (s.connection + 1 == server.Connections()) {
                EXPECT_FALSE(s.behind) << s.request;
            }
    }
}

// Servers that misbehave in ways real ones do: none of them ever gets a photo's name put on
// another photo's bytes, none costs a photo, and a connection found out of step discards
// the answer it could not confirm (fetched again alone).
TEST_F(WinInetPool, AServerThatMisbehavesNeverGetsAPhotoStoredUnderAnotherNumber) {
    struct Case {
        const char* what;
        const char* addr;
        std::function<KeptServer::Reply(std::size_t, std::size_t, const std::string&)> plan;
        bool dropBehind, reverseTogether;
        int discarded;  // -1: any
    };
    const auto first = [](std::size_t connection, const std::string& request, const char* path) {
        return connection == 0 && request.rfind(std::string("GET ") + path + " ", 0) == 0;
    };
    const Case cases[] = {
        {"answers requests read together in reverse", "127.0.6.91",
         [](std::size_t, std::size_t, const std::string& r) { return PhotoReply(r); }, false, true, -1},
        {"sends the answer to /3 twice", "127.0.6.92",
         [&](std::size_t c, std::size_t, const std::string& r) {
             KeptServer::Reply reply = PhotoReply(r);
             if (first(c, r, "/3")) reply.bytes += reply.bytes;
             return reply;
         },
         false, false, 1},
        {"announces 50 bytes more than /3's body", "127.0.6.93",
         [&](std::size_t c, std::size_t, const std::string& r) { return PhotoReply(r, first(c, r, "/3") ? 50 : 0); },
         false, false, 1},
        {"sends CR LF after each body", "127.0.6.94",
         [](std::size_t, std::size_t, const std::string& r) {
             KeptServer::Reply reply = PhotoReply(r);
             reply.bytes += "\r\n";
             return reply;
         },
         false, false, 0},
        {"sends stray bytes 0.3 s after /2's body", "127.0.6.95",
         [&](std::size_t c, std::size_t, const std::string& r) {
             KeptServer::Reply reply = PhotoReply(r);
             if (first(c, r, "/2")) {
                 reply.late = "xyz";
                 reply.lateMs = 300;
             }
             return reply;
         },
         false, false, -1},
    };
    // The same over TLS, where what the server sent past an answer may wait in the TLS
    // layer's buffer rather than the socket's.
    const TrustedPki trusted;
    ASSERT_EQ(trusted.pki.Why(), "");
    for (const bool tls : {false, true})
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.what) + (tls ? " (TLS)" : ""));
            KeptServer server(tls ? "127.0.0.1" : k.addr, k.plan, tls ? &trusted.pair : nullptr);
            server.dropBehind = k.dropBehind;
            server.reverseTogether = k.reverseTogether;
            if (k.reverseTogether) server.pauseBeforeReadMs = 30;
            const std::string base =
                tls ? "https://127.0.0.1:" + std::to_string(server.Port()) : std::string("http://") + k.addr;
            const int discarded = FetchChainRetrying(base, 8, PhotoOf);
            if (k.discarded >= 0) {
                EXPECT_EQ(discarded, k.discarded);
            }
            WinInetDropIdleConnections();
        }
}

TEST_F(WinInetPool, AbortingAKeptConnectionInUseLeavesTheNextTransferAFreshOne) {
    KeptServer server("127.0.6.84", [](std::size_t connection, std::size_t nth, const std::string&) {
        if (connection == 0 && nth == 1)  // half a body, then silence
            return KeptServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + Body(1000)};
        return KeptServer::Reply{Kept("photo")};
    });
    THTTPGet get;
    EventLog log;
    log.Attach(get);
    EXPECT_TRUE(Fetch(get, "http://127.0.6.84/1.jpg"));
    get.SetURL("http://127.0.6.84/2.jpg");
    get.SetWaitThread(false);
    get.FetchToFile();
    ASSERT_TRUE(PumpUntil([&] { return server.Requests().size() == 2; }));
    get.Abort();
    ASSERT_TRUE(PumpUntil([&] { return !get.Busy(); }));
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(WinInetIdleConnectionCount(), 0);

    EXPECT_TRUE(Fetch(get, "http://127.0.6.84/3.jpg"));
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].connection, 0u);  // the second transfer ran on the kept connection
    EXPECT_EQ(seen[2].connection, 1u);
    EXPECT_EQ(server.Connections(), 2u);
}

TEST_F(WinInetPool, AbortEndsALookUpThatNeverAnswers) {
    struct Gate {
        std::mutex mu;
        std::condition_variable cv;
        bool entered = false, open = false;
    };
    auto gate = std::make_shared<Gate>();  // the look-up thread may outlive the test
    WinInetSetLookupHook([gate](const std::string& host) {
        std::unique_lock lock(gate->mu);
        gate->entered = gate->entered || host == "stuck.example";
        gate->cv.notify_all();
        gate->cv.wait(lock, [&] { return gate->open; });
        return false;
    });
    struct Cleanup {
        std::shared_ptr<Gate> gate;
        ~Cleanup() {
            {
                std::lock_guard lock(gate->mu);
                gate->open = true;
            }
            gate->cv.notify_all();
            WinInetSetLookupHook(nullptr);
        }
    } cleanup{gate};
    THTTPGet get;
    EventLog log;
    log.Attach(get);
    get.SetURL("http://stuck.example/a.jpg");
    get.SetFileName(dir.Path("a.jpg"));
    get.FetchToFile();
    {
        std::unique_lock lock(gate->mu);
        ASSERT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(5), [&] { return gate->entered; }));
    }
    get.Abort();
    ASSERT_TRUE(PumpUntil([&] { return log.Finished(); }));  // while the look-up still hangs
    EXPECT_EQ(log.events, std::vector<std::string>{"error"});
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_FALSE(Exists(dir.Path("a.jpg")));
    EXPECT_EQ(WinInetLookupsInFlight(), 1);
    {
        std::lock_guard lock(gate->mu);
        gate->open = true;
    }
    gate->cv.notify_all();
    EXPECT_TRUE(PumpUntil([] { return WinInetLookupsInFlight() == 0; }));  // it ends on its own
}

}  // namespace

namespace {

class WinInetFraming : public WinInetPool {};

// Habits of real servers that must cost no photo: empty lines before a status line, a
// chunked answer to an HTTP/1.0 request (decoded, its end checked), a close before or
// inside a head (a failure that passes; on a kept connection the request simply goes
// again on a new one), bytes left on a kept connection.
TEST_F(WinInetFraming, ServerHabitsCostNoPhotoAndACutAnswerIsAFailureThatPasses) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n"
                                "5;x=1\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: 1\r\n\r\n";
    struct Case {
        const char* what;
        std::string first;   // the answer to /1 on the first connection
        std::string second;  // then to /2 on it, before it is closed ("": no second request)
        DWORD firstError;  // 0: /1 arrives whole
        const char* firstBody;
        std::size_t connections;  // the second answer "two" comes on the last
    };
    const Case cases[] = {
        {"empty lines before the status line", "\r\n\r\n" + Kept("abc"), "\n" + Kept("two"), 0, "abc", 1},
        {"chunked answer to HTTP/1.0", chunked, Kept("two"), 0, "hello world", 1},
        {"chunked answer cut before its last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", "",
         ERROR_INTERNET_CONNECTION_ABORTED, "hello", 2},
        {"chunk longer than its size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n", "",
         ERROR_HTTP_INVALID_SERVER_RESPONSE, "he", 2},
        {"closed before the answer", "", "", ERROR_INTERNET_CONNECTION_ABORTED, "", 2},
        {"closed inside the head", "HTTP/1.1 200 OK\r\nContent-Le", "", ERROR_INTERNET_CONNECTION_ABORTED, "", 2},
        {"closed before the second answer", Kept("one"), "-", 0, "one", 2},
        {"closed inside the second head", Kept("one"), "HTTP/1.1 200 OK\r\nCont", 0, "one", 2},
        {"stray bytes before the second answer", Kept("one"), "junk" + Kept("bad"), 0, "one", 2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ScriptedPeer peer("127.0.6.96", 80);
        peer.Accept().ReadUntil(kHeadEnd);
        if (!k.first.empty()) peer.Send(k.first);
        if (!k.second.empty()) {
            peer.ReadUntil(kHeadEnd);
            if (k.second != "-") peer.Send(k.second);
        }
        if (k.connections == 1) {
            peer.ReadToEnd();
        } else {
            peer.Close().Accept().ReadUntil(kHeadEnd).Send(Kept("two")).ReadToEnd();
        }
        peer.Start();
        THTTPGet get;
        EXPECT_EQ(Fetch(get, "http://127.0.6.96/1"), k.firstError == 0) << get.LastErrorText();
        EXPECT_EQ(get.LastErrorCode(), k.firstError);
        if (k.firstError == 0) {
            EXPECT_EQ(ReadAll(dir.Path("out.jpg")), k.firstBody);
        }
        if (k.firstError == ERROR_INTERNET_CONNECTION_ABORTED) {
            EXPECT_TRUE(get.LastFailureMayPass());
        }
        EXPECT_TRUE(Fetch(get, "http://127.0.6.96/2")) << get.LastErrorText();
        EXPECT_EQ(ReadAll(dir.Path("out.jpg")), "two");
        WinInetDropIdleConnections();
        peer.Join();
        EXPECT_EQ(peer.Connections(), k.connections);
        EXPECT_NE(peer.Received(k.connections - 1).find("GET /2 "), std::string::npos);
    }
}

// A ranged request sent behind another that the server refuses (416) or serves in part is
// asked again plain on a new connection: the photo comes whole.
TEST_F(WinInetFraming, ARangeRefusedOrServedInPartIsAskedAgainPlain) {
    for (const char* refusal : {"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n",
                                "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-1/3\r\nContent-Length: 2\r\n\r\ntw"}) {
        SCOPED_TRACE(refusal);
        ScriptedPeer peer("127.0.6.96", 80);
        peer.Accept().ReadUntil(kHeadEnd).Send(Kept("one")).ReadUntil(kHeadEnd).Send(refusal).ReadToEnd();
        peer.Accept().ReadUntil(kHeadEnd).Send(Kept("two")).ReadToEnd().Start();
        THTTPGet get;
        get.SetNextURL("http://127.0.6.96/2");
        EXPECT_TRUE(Fetch(get, "http://127.0.6.96/1")) << get.LastErrorText();
        get.SetNextURL("");
        EXPECT_TRUE(Fetch(get, "http://127.0.6.96/2")) << get.LastErrorText();
        EXPECT_EQ(ReadAll(dir.Path("out.jpg")), "two");
        WinInetDropIdleConnections();
        peer.Join();
        EXPECT_NE(peer.Received(0).find("GET /2 HTTP/1.0\r\n"), std::string::npos);
        EXPECT_NE(peer.Received(0).find("Range: bytes=0-"), std::string::npos);
        EXPECT_EQ(peer.Received(1).rfind("GET /2 ", 0), 0u);
        EXPECT_EQ(peer.Received(1).find("Range:"), std::string::npos);
    }
}

// A photo address with a port reaches that port (the Host line names it).
TEST_F(WinInetFraming, APortInAPhotoAddressIsTheOneConnectedTo) {
    ScriptedPeer peer("127.0.6.97", 0);
    peer.Accept().ReadUntil(kHeadEnd).Send(Kept("photo")).ReadToEnd().Start();
    const std::string authority = "127.0.6.97:" + std::to_string(peer.Port());
    THTTPGet get;
    EXPECT_TRUE(Fetch(get, "http://" + authority + "/photos/1.jpg")) << get.LastErrorText();
    EXPECT_EQ(ReadAll(dir.Path("out.jpg")), "photo");
    WinInetDropIdleConnections();
    peer.Join();
    EXPECT_EQ(peer.Received().rfind("GET /photos/1.jpg HTTP/1.0\r\nHost: " + authority + "\r\n", 0), 0u) << peer.Received();
}

// A body that trickles below the low-speed limit fails, as a failure that passes.
TEST_F(WinInetFraming, ATransferBelowTheLowSpeedLimitFailsAndMayPass) {
    ScriptedPeer peer("127.0.6.97", 80);
    const std::string body = Body(400);
    peer.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n").SendInPieces(body, 2, 50);
    peer.Start();
    THTTPGet get;
    get.SetLowSpeedLimit(1000);
    get.SetLowSpeedTime(300);
    EXPECT_FALSE(Fetch(get, "http://127.0.6.97/slow.jpg"));
    EXPECT_EQ(get.LastErrorCode(), ERROR_INTERNET_TIMEOUT);
    EXPECT_TRUE(get.LastFailureMayPass());
    EXPECT_EQ(get.LastErrorText(), "transfer too slow: below 1000 bytes/s for 0.3 s");
    EXPECT_LT(ReadAll(dir.Path("out.jpg")).size(), body.size());
}

// Through an HTTP proxy, a refused tunnel and a proxy name that does not resolve are named
// as such, not as the album server's failure.
TEST_F(WinInetFraming, AProxyThatFailsIsNamedWithItsAnswer) {
    ScriptedPeer proxy("127.0.6.98", 0);
    proxy.Accept().ReadUntil(kHeadEnd).Send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n").ReadToEnd().Start();
    ::setenv("http_proxy", ("127.0.6.98:" + std::to_string(proxy.Port())).c_str(), 1);
    THTTPGet get;
    EXPECT_FALSE(Fetch(get, "https://127.0.6.99/1.jpg"));
    EXPECT_EQ(get.LastErrorText(), "the proxy 127.0.6.98:" + std::to_string(proxy.Port()) +
                                       " refused the tunnel to 127.0.6.99:443: HTTP 403 Forbidden");
    ::setenv("http_proxy", "no-such-proxy.invalid:3128", 1);
    EXPECT_FALSE(Fetch(get, "http://127.0.6.99/1.jpg"));
    EXPECT_NE(get.LastErrorText().find("no-such-proxy.invalid"), std::string::npos) << get.LastErrorText();
    ClearProxyEnvironment();
}

}  // namespace
