// SPDX-License-Identifier: Apache-2.0
#pragma once
// A scripted TCP peer on loopback for protocol tests: it listens on a chosen address
// (port 0 = any free port), accepts connections one after another and plays a script of
// exact steps on its own thread: send these bytes, wait, read until a marker, close.
// Every read step gives up after ReadTimeoutMs so that a faulty client never hangs a test.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback port free at the time of the call: bound once and released, never listened
// on, so connecting to it is refused (and a server started right after may take it).
std::uint16_t FreeLoopbackPort();

class ScriptedPeer {
public:
    explicit ScriptedPeer(const std::string& bindAddr = "127.0.0.1", std::uint16_t port = 0);
    ~ScriptedPeer();

    std::uint16_t Port() const { return port_; }
    const std::string& Address() const { return addr_; }

    // Script building (before Start).
    ScriptedPeer& Accept();                           // wait for the next connection
    ScriptedPeer& Send(std::string bytes);            // one write of exactly these bytes
    ScriptedPeer& SendInPieces(const std::string& bytes, std::size_t piece, int delayMs);
    ScriptedPeer& Delay(int ms);
    ScriptedPeer& ReadUntil(std::string marker);      // read until the bytes received contain it
    ScriptedPeer& ReadCount(std::size_t total);       // read until this many bytes arrived in all
    ScriptedPeer& ReadToEnd();                        // read until the client closes
    ScriptedPeer& ShutdownWrite();                    // half close: the client sees the end
    ScriptedPeer& Close();                            // close the connection
    ScriptedPeer& Reset();                            // abortive close (RST)

    void Start();
    void Join();                                      // waits for the script's end

    // Bytes received on connection n (0-based), complete once Join returned.
    std::string Received(std::size_t n = 0) const;
    std::size_t Connections() const;
    // A step that failed (timeout, peer gone early), empty when the script ran through.
    std::string Failure() const;

    static constexpr int ReadTimeoutMs = 10000;

private:
    struct Step {
        enum Kind { kAccept, kSend, kDelay, kReadUntil, kReadCount, kReadToEnd, kShutdown, kClose, kReset } kind;
        std::string bytes;
        std::size_t count = 0;
        int ms = 0;
    };
    void Run();
    bool ReadMore(std::string& into);

    std::string addr_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    int connFd_ = -1;
    std::vector<Step> steps_;
    std::thread thread_;
    mutable std::mutex mu_;
    std::vector<std::string> received_;
    std::string failure_;
};
