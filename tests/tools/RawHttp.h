// SPDX-License-Identifier: Apache-2.0
#pragma once
// Byte-level HTTP exchanges for checks a full client would hide: the exact bytes of a
// response, whether the server closed or reset the connection, and several exchanges
// in progress at once.
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct RawResponse {
    std::string head;         // status line and headers, up to and including the empty line
    std::string body;         // everything after the head
    bool closedByPeer = false;  // the server ended the connection (read returned 0)
    bool resetByPeer = false;   // the server reset the connection
    // From sending the request to the first byte received; zero when none came.
    std::chrono::steady_clock::duration firstByteAfter{};
    // The announced Content-Length, or -1 when there is none.
    long long ContentLength() const;
};

// A connection to 127.0.0.1:port whose request has been sent and whose answer is read
// later, so tests can hold several requests in progress at once. Throws
// std::runtime_error when it cannot connect.
class PendingExchange {
public:
    PendingExchange(int port, const std::string& request);
    ~PendingExchange();
    PendingExchange(PendingExchange&& other) noexcept;
    PendingExchange& operator=(PendingExchange&&) = delete;

    // Sends more bytes on the same connection.
    void Send(const std::string& bytes);

    // Reads until the server closes or resets the connection or nothing arrives for
    // idleMs, then closes the connection.
    RawResponse Finish(int idleMs = 3000);

private:
    friend std::vector<RawResponse> FinishAll(std::vector<PendingExchange>& exchanges, int idleMs);
    // Takes what is ready on the socket into `all_`; false once the exchange has ended.
    bool ReadSome();
    RawResponse Result();

    int fd_ = -1;
    std::chrono::steady_clock::time_point sent_;
    std::string all_;
    RawResponse r_;
};

// Sends `request` verbatim to 127.0.0.1:port and reads until the server closes or
// nothing arrives for idleMs.
RawResponse RawExchange(int port, const std::string& request, int idleMs = 3000);

// Sends `bytes` on one connection in writes of at most `piece` bytes, pausing a moment
// after each so the server receives them apart (0: all in one write), and reads as
// RawExchange does. The answers are split as SplitResponses does.
std::vector<RawResponse> RawConversation(int port, const std::string& bytes, std::size_t piece = 0,
                                         int idleMs = 3000);

// GET requests for `paths`, one after another in one string, the last asking the server
// to close the connection after it.
std::string BackToBackGets(const std::vector<std::string>& paths);

// Splits what a server sent on one connection into its responses, each framed by its
// Content-Length; bytes past the last complete one (or one without a length) end up in
// a last, partial response.
std::vector<RawResponse> SplitResponses(const std::string& bytes);

// Finishes every exchange, reading all of them side by side, so the server is never
// held up by the order of reading and each first-byte time is the true one.
// Results are in the order of `exchanges`.
std::vector<RawResponse> FinishAll(std::vector<PendingExchange>& exchanges, int idleMs = 3000);
