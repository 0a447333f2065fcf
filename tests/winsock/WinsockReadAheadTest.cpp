// SPDX-License-Identifier: Apache-2.0
// Small reads of a stream: whatever the module holds back from the system for the caller,
// the bytes come out whole and in order, and every count, probe, peek and notification
// treats the bytes the caller has not taken as unread.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "WinsockTestSupport.h"

using namespace winsock_test;

namespace {

// Bytes without a short period, so that a piece delivered twice or out of place shows.
std::string StreamOf(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// Where two byte strings first differ (their common length when one is the other's start).
std::size_t FirstDifference(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i;
}

// A window that answers each FD_READ with one recv (as the HTTP client does with its fixed
// buffer), of sizes taken in turn from a list, and records what arrived and when the
// stream was reported closed.
struct Reader {
    Ws& ws;
    std::vector<int> sizes;
    SOCKET s = INVALID_SOCKET;
    bool paused = false;  // FD_READ is recorded but not answered
    std::string data;
    std::vector<std::pair<int, int>> got;
    std::size_t atClose = std::string::npos;  // bytes received when FD_CLOSE came
    std::size_t turn = 0;
    HWND wnd;

    Reader(Ws& w, std::vector<int> pieceSizes) : ws(w), sizes(std::move(pieceSizes)) {
        wnd = AllocateHWnd([this](TMessage& m) { OnMessage(LoWord(m.LParam), HiWord(m.LParam)); });
    }
    ~Reader() { DeallocateHWnd(wnd); }

    void OnMessage(int event, int error) {
        got.emplace_back(event, error);
        if (event == FD_CLOSE) atClose = data.size();
        if (event == FD_READ && !paused) ReadOnce();
    }
    void ReadOnce() {
        std::vector<char> buf(static_cast<std::size_t>(sizes[turn++ % sizes.size()]));
        const int n = ws.recv(s, buf.data(), static_cast<int>(buf.size()), 0);
        if (n > 0) data.append(buf.data(), static_cast<std::size_t>(n));
        if (n == SOCKET_ERROR) {
            EXPECT_EQ(ws.lastError(), WSAEWOULDBLOCK);
        }
    }
    int Count(int event) const {
        int n = 0;
        for (auto [e, err] : got) n += e == event;
        return n;
    }
};

// Reads the whole stream with notifications and checks it against sent: every byte in
// order, then exactly one FD_CLOSE, the last notification, after every byte was taken.
void ExpectWholeStreamThenClose(Ws& ws, Reader& r, const std::string& sent) {
    ASSERT_TRUE(PumpUntil([&] { return r.atClose != std::string::npos; }, 10000))
        << "received " << r.data.size() << " of " << sent.size();
    Settle();
    EXPECT_EQ(r.data.size(), sent.size());
    EXPECT_EQ(FirstDifference(r.data, sent), sent.size());
    EXPECT_EQ(r.atClose, sent.size());
    EXPECT_EQ(r.Count(FD_CLOSE), 1);
    EXPECT_EQ(r.got.back(), std::make_pair(static_cast<int>(FD_CLOSE), 0));
    char b[16];
    EXPECT_EQ(ws.recv(r.s, b, sizeof b, 0), 0);
}

std::uint32_t Unread(Ws& ws, SOCKET s) {
    std::uint32_t n = 0;
    EXPECT_EQ(ws.ioctlsocket(s, WS_FIONREAD, &n), 0);
    return n;
}

// A plain listening socket on loopback, for peers that need more than a script (urgent
// data, watching for a reset).
struct PlainListener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = 0;
    PlainListener() {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(fd, 4);
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    ~PlainListener() { ::close(fd); }
};

// A blocking client connected to a plain listener; peer receives the accepted descriptor.
SOCKET BlockingConnect(Ws& ws, PlainListener& l, int& peer) {
    const SOCKET s = ws.socket(WS_AF_INET, WS_SOCK_STREAM, 0);
    const TSockAddrIn a = Loopback(l.port);
    EXPECT_EQ(ws.connect(s, reinterpret_cast<const TSockAddr*>(&a), sizeof a), 0);
    peer = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_GE(peer, 0);
    return s;
}

void SendAll(int fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

}  // namespace

TEST(WinsockReadAhead, SmallReadsOfALargeStreamComeWholeAndInOrder) {
    Ws ws;
    const std::string sent = StreamOf(3 << 20);
    ScriptedPeer peer;
    peer.Accept().ReadUntil("go").Send(sent).Close();
    peer.Start();
    // Small and large reads mixed: large ones must also take the buffered bytes first.
    Reader r(ws, {8192, 1, 4095, 100000, 13, 65536, 30000});
    r.s = ConnectedTo(ws, peer, r.wnd, r.got);
    ASSERT_EQ(ws.send(r.s, "go", 2, 0), 2);
    ExpectWholeStreamThenClose(ws, r, sent);
    ws.closesocket(r.s);
    peer.Join();
}

TEST(WinsockReadAhead, AStreamEndedBeforeTheFirstReadIsReadToTheEndBeforeTheClose) {
    // The peer sends everything and closes before the first byte is read: the end is known
    // while the bytes still sit in the system and then in the read-ahead, and FD_READ must
    // go on until both are empty. One stream fits the read-ahead, one does not.
    for (const std::size_t size : {std::size_t{5000}, std::size_t{150000}}) {
        SCOPED_TRACE(size);
        Ws ws;
        const std::string sent = StreamOf(size);
        ScriptedPeer peer;
        peer.Accept().ReadUntil("go").Send(sent).Close();
        peer.Start();
        Reader r(ws, {1000});
        r.paused = true;
        r.s = ConnectedTo(ws, peer, r.wnd, r.got);
        ASSERT_EQ(ws.send(r.s, "go", 2, 0), 2);
        peer.Join();
        ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_READ) == 1; }));
        Settle();  // the end of the stream has reached the notifier
        EXPECT_EQ(r.Count(FD_CLOSE), 0);
        r.paused = false;
        r.ReadOnce();  // answers the FD_READ that came while paused
        ExpectWholeStreamThenClose(ws, r, sent);
        EXPECT_GE(r.Count(FD_READ), static_cast<int>(size / 1000));
        ws.closesocket(r.s);
    }
}

TEST(WinsockReadAhead, BytesThatCameBeforeAResetAreReadBeforeTheResetIsReported) {
    for (const std::size_t size : {std::size_t{5000}, std::size_t{150000}}) {
        SCOPED_TRACE(size);
        Ws ws;
        const std::string sent = StreamOf(size);
        ScriptedPeer peer;
        peer.Accept().ReadUntil("go").Send(sent).Reset();
        peer.Start();
        Reader r(ws, {1000});
        r.paused = true;
        r.s = ConnectedTo(ws, peer, r.wnd, r.got);
        ASSERT_EQ(ws.send(r.s, "go", 2, 0), 2);
        peer.Join();
        ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_READ) == 1; }));
        Settle();
        r.paused = false;
        r.ReadOnce();
        ASSERT_TRUE(PumpUntil([&] { return r.atClose != std::string::npos; }));
        Settle();
        // The reset may drop what the peer had not sent yet; what came is read whole first.
        if (size < 10000) {
            EXPECT_EQ(r.data.size(), size);
        }
        EXPECT_EQ(FirstDifference(r.data, sent), r.data.size());
        EXPECT_EQ(r.atClose, r.data.size());
        EXPECT_EQ(r.Count(FD_CLOSE), 1);
        EXPECT_EQ(r.got.back(), std::make_pair(static_cast<int>(FD_CLOSE), WSAECONNRESET));
        ws.closesocket(r.s);
    }
}

TEST(WinsockReadAhead, CountsProbesAndNotificationsSeeBytesHeldForTheCaller) {
    Ws ws;
    Recorder rec;
    const std::string sent = StreamOf(20000);
    ScriptedPeer peer;
    peer.Accept().ReadUntil("go").Send(sent).ReadUntil("bye").Close();
    peer.Start();
    const SOCKET s = ConnectedTo(ws, peer, rec);
    ASSERT_EQ(ws.send(s, "go", 2, 0), 2);
    ASSERT_TRUE(PumpUntil([&] { return Unread(ws, s) == sent.size(); }));
    std::vector<char> buf(30000);
    ASSERT_EQ(ws.recv(s, buf.data(), 10, 0), 10);
    EXPECT_EQ(std::string(buf.data(), 10), sent.substr(0, 10));
    // The rest is unread, wherever it is kept.
    EXPECT_EQ(Unread(ws, s), sent.size() - 10);
    EXPECT_EQ(ws.recv(s, buf.data(), 0, 0), 0);  // a read would succeed
    ASSERT_EQ(ws.recv(s, buf.data(), 5, WS_MSG_PEEK), 5);
    EXPECT_EQ(std::string(buf.data(), 5), sent.substr(10, 5));
    ASSERT_EQ(ws.recv(s, buf.data(), 30000, WS_MSG_PEEK), 19990);
    EXPECT_EQ(std::string(buf.data(), 19990), sent.substr(10));
    EXPECT_EQ(Unread(ws, s), sent.size() - 10);  // peeking took nothing
    // A new target hears that data is waiting.
    Settle();
    const int reads = rec.Count(FD_READ);
    ASSERT_EQ(ws.asyncSelect(s, rec.wnd, WM_USER + 1, FD_READ | FD_CLOSE), 0);
    EXPECT_TRUE(PumpUntil([&] { return rec.Count(FD_READ) == reads + 1; }));
    ASSERT_EQ(ws.recv(s, buf.data(), 30000, 0), 19990);
    EXPECT_EQ(std::string(buf.data(), 19990), sent.substr(10));
    EXPECT_EQ(Unread(ws, s), 0u);
    EXPECT_EQ(ws.recv(s, buf.data(), 0, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAEWOULDBLOCK);
    ASSERT_EQ(ws.send(s, "bye", 3, 0), 3);
    peer.Join();
    ws.closesocket(s);
}

TEST(WinsockReadAhead, APeekSeesPastTheBytesHeldForTheCaller) {
    // A caller that peeks for more than is held back must see the rest too, or it would
    // wait for bytes that are already there.
    Ws ws;
    Recorder rec;
    const std::string sent = StreamOf(100000);
    ScriptedPeer peer;
    peer.Accept().ReadUntil("go").Send(sent).ReadUntil("bye").Close();
    peer.Start();
    const SOCKET s = ConnectedTo(ws, peer, rec);
    ASSERT_EQ(ws.send(s, "go", 2, 0), 2);
    ASSERT_TRUE(PumpUntil([&] { return Unread(ws, s) == sent.size(); }));
    std::vector<char> buf(sent.size());
    ASSERT_EQ(ws.recv(s, buf.data(), 10, 0), 10);
    ASSERT_EQ(ws.recv(s, buf.data(), 90000, WS_MSG_PEEK), 90000);
    EXPECT_EQ(std::string(buf.data(), 90000), sent.substr(10, 90000));
    std::string rest;
    while (rest.size() < sent.size() - 10) {
        const int n = ws.recv(s, buf.data(), 7000, 0);
        ASSERT_GT(n, 0);
        rest.append(buf.data(), static_cast<std::size_t>(n));
    }
    EXPECT_EQ(FirstDifference(rest, sent.substr(10)), sent.size() - 10);
    ASSERT_EQ(ws.send(s, "bye", 3, 0), 3);
    peer.Join();
    ws.closesocket(s);
}

TEST(WinsockReadAhead, BlockingSmallReadsWaitForTheWholeStream) {
    Ws ws;
    const std::string sent = StreamOf(300000);
    ScriptedPeer peer;
    peer.Accept().SendInPieces(sent, 50000, 5).Close();
    peer.Start();
    const SOCKET s = ws.socket(WS_AF_INET, WS_SOCK_STREAM, 0);
    const TSockAddrIn a = Loopback(peer.Port());
    ASSERT_EQ(ws.connect(s, reinterpret_cast<const TSockAddr*>(&a), sizeof a), 0);
    std::string got;
    char buf[3000];
    for (int i = 0;; ++i) {
        const int n = ws.recv(s, buf, i % 2 ? 1000 : 3000, 0);
        ASSERT_NE(n, SOCKET_ERROR) << ws.lastError();
        if (n == 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_EQ(FirstDifference(got, sent), sent.size());
    ws.closesocket(s);
    peer.Join();
}

TEST(WinsockReadAhead, UrgentDataAndDatagramsKeepTheirOwnReads) {
    Ws ws;
    PlainListener l;
    int peer = -1;
    const SOCKET s = BlockingConnect(ws, l, peer);
    const int on = 1;
    ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SendAll(peer, "hello");
    ASSERT_EQ(::send(peer, "!", 1, MSG_OOB | MSG_NOSIGNAL), 1);
    SendAll(peer, "world");
    ASSERT_TRUE(PumpUntil([&] { return Unread(ws, s) >= 5; }));  // counted up to the urgent byte
    char buf[16];
    ASSERT_EQ(ws.recv(s, buf, 2, 0), 2);
    EXPECT_EQ(std::string(buf, 2), "he");
    ASSERT_EQ(ws.recv(s, buf, 1, WS_MSG_OOB), 1);
    EXPECT_EQ(buf[0], '!');
    std::uint32_t nonBlocking = 1;
    ASSERT_EQ(ws.ioctlsocket(s, WS_FIONBIO, &nonBlocking), 0);
    std::string rest;
    PumpUntil([&] {
        const int n = ws.recv(s, buf, sizeof buf, 0);
        if (n > 0) rest.append(buf, static_cast<std::size_t>(n));
        return n == 0 || rest.size() >= 8;
    });
    EXPECT_EQ(rest, "lloworld");
    ws.closesocket(s);
    ::close(peer);

    // A datagram read into a small buffer loses its tail; the next read is the next datagram.
    const SOCKET d = ws.socket(WS_AF_INET, WS_SOCK_DGRAM, 0);
    TSockAddrIn a = Loopback(0);
    ASSERT_EQ(ws.bind(d, reinterpret_cast<const TSockAddr*>(&a), sizeof a), 0);
    int len = sizeof a;
    ASSERT_EQ(ws.getsockname(d, reinterpret_cast<TSockAddr*>(&a), &len), 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = a.sin_port;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const char* dgram : {"abc", "def"})
        ASSERT_EQ(::sendto(sender, dgram, 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 3);
    ASSERT_EQ(ws.recv(d, buf, 2, 0), 2);
    EXPECT_EQ(std::string(buf, 2), "ab");
    ASSERT_EQ(ws.recv(d, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "def");
    ::close(sender);
    ws.closesocket(d);
}

TEST(WinsockReadAhead, ClosingWithBytesUntakenResetsTheConnection) {
    // Unread bytes make a close abortive, wherever the module kept them.
    Ws ws;
    PlainListener l;
    int peer = -1;
    const SOCKET s = BlockingConnect(ws, l, peer);
    SendAll(peer, StreamOf(20000));
    char buf[10];
    ASSERT_EQ(ws.recv(s, buf, sizeof buf, 0), 10);
    EXPECT_EQ(ws.closesocket(s), 0);
    EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(ws.lastError(), WSAENOTSOCK);
    pollfd p{peer, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(peer);
}
