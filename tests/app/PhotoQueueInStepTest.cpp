// SPDX-License-Identifier: Apache-2.0
// The photo queue against a server that misbehaves on connections carrying requests back to
// back: every photo it commits is that photo's own bytes, and none is lost for it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <jpeglib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/core/photoQueue.h"
#include "platform/Files.h"
#include "wininet/WinInetHooks.h"
#include "support/ChildProcess.h"
#include "support/TestJpeg.h"

namespace {

// A grey JPEG of its own for each photo number.
std::string JpegOf(int n) {
    const auto grey = static_cast<unsigned char>(10 + 20 * n);
    return EncodeTestJpeg({grey, grey, grey}, 32, 24);
}

// Serves /n.jpg on 127.0.6.44:80, each connection on a thread of its own, and answers
// requests as they come ("Range: bytes=0-" with a 206 for the whole photo); the first answer
// to /3.jpg is sent twice, and an answer to /5.jpg with another request waiting behind it
// (within 0.3 s) announces 50 bytes more than its body (the next answer's head makes them up).
class MisbehavingServer {
public:
    MisbehavingServer() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(80);
        ::inet_pton(AF_INET, "127.0.6.44", &sa.sin_addr);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listen_, 16) != 0)
            ADD_FAILURE() << "cannot listen on 127.0.6.44:80 (run as root)";
        acceptor_ = std::thread([this] {
            while (!stop_) {
                pollfd p{listen_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0) continue;
                const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                std::lock_guard lock(mu_);
                fds_.push_back(fd);
                workers_.emplace_back([this, fd] { Serve(fd); });
            }
        });
    }
    ~MisbehavingServer() {
        stop_ = true;
        acceptor_.join();
        for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
        for (std::thread& t : workers_) t.join();
        for (int fd : fds_) ::close(fd);
        ::close(listen_);
    }

private:
    void Serve(int fd) {
        std::string got;
        char buf[4096];
        for (;;) {
            std::size_t end;
            while ((end = got.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                got.append(buf, static_cast<std::size_t>(n));
            }
            const std::string request = got.substr(0, end + 4);
            got.erase(0, end + 4);
            const int n = std::atoi(request.c_str() + 5);  // "GET /n.jpg"
            int seen;
            {
                std::lock_guard lock(mu_);
                seen = asked_[n]++;
            }
            const std::string body = JpegOf(n);
            pollfd p{fd, POLLIN, 0};
            const bool behind = n == 5 && (!got.empty() || ::poll(&p, 1, 300) == 1);
            const std::size_t extra = behind ? 50 : 0;
            const bool ranged = request.find("\r\nRange: bytes=0-\r\n") != std::string::npos;
            std::string answer = std::string(ranged ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-" +
                                                          std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\n"
                                                    : "HTTP/1.1 200 OK\r\n") +
                                 "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(body.size() + extra) +
                                 "\r\n\r\n" + body;
            if (n == 3 && seen == 0) {
                answer += answer;
                repeated_ = true;
            }
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
    }

    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<std::thread> workers_;
    std::vector<int> fds_;
    std::map<int, int> asked_;

public:
    std::atomic<bool> repeated_{false};
};

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(PhotoQueue, AServerOutOfStepOnAKeptConnectionGetsNoPhotoStoredUnderAnotherNumber) {
    WinInetDropIdleConnections();
    MisbehavingServer server;
    TScratchDir dir;
    std::vector<TPhotoQueue::TPhoto> photos;
    for (int n = 0; n < 10; ++n)
        photos.push_back({"http://127.0.6.44/" + std::to_string(n) + ".jpg", dir.Path() + "/" + std::to_string(n) + ".jpg"});
    TPhotoQueue queue(photos, 2, 0);  // no retries: a discarded answer must not count as one
    for (int n = 0; n < 10; ++n) {
        ASSERT_EQ(queue.Fetch(n), TPhotoQueue::TResult::Committed) << n << ": " << queue.FailureText(n);
        EXPECT_EQ(FileBytes(photos[static_cast<std::size_t>(n)].File), JpegOf(n)) << n;
    }
    queue.Abandon();
    EXPECT_TRUE(server.repeated_);
    WinInetDropIdleConnections();
}

}  // namespace
