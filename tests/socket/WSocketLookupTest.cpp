// SPDX-License-Identifier: Apache-2.0
// Asynchronous look-ups: numeric, by name, reverse, failed, cancelled and superseded.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>
#include <mutex>

#include "SocketTestSupport.h"
#include "winsock/WinsockHooks.h"

namespace {

// Holds the look-ups of one name on their worker threads until Release.
class TLookupGate {
public:
    explicit TLookupGate(std::string name) : name_(std::move(name)) {
        WinsockSetLookupHook([this](const std::string& q) {
            if (q != name_) return 0;
            std::unique_lock lock(mu_);
            ++waiting_;
            cv_.notify_all();
            cv_.wait(lock, [&] { return open_; });
            --waiting_;
            return 0;
        });
    }
    ~TLookupGate() {
        Release();
        WinsockSetLookupHook(nullptr);
    }
    void WaitForHeld(int n) {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [&] { return waiting_ >= n; });
    }
    void Release() {
        std::lock_guard lock(mu_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::string name_;
    std::mutex mu_;
    std::condition_variable cv_;
    int waiting_ = 0;
    bool open_ = false;
};

// Waits until no look-up worker runs, then handles what they posted.
void SettleLookups() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (WinsockLookupsInFlight() > 0 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    PumpPending();
}

struct TLookupLog {
    std::vector<int> Done;
    void Attach(TCustomWSocket& s) {
        s.OnDnsLookupDone = [this](TObject*, WORD e) { Done.push_back(e); };
    }
};

}  // namespace

TEST(WSocketLookup, ANumericAddressIsAnsweredFromInsideTheCall) {
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.DnsLookup("127.000.000.001");
    EXPECT_EQ(log.Done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_EQ(s.DnsResultList().Count(), 0);
}

TEST(WSocketLookup, ANameIsResolvedOnAWorkerAndAnsweredByMessage) {
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(log.Done.empty());
    ASSERT_TRUE(PumpUntil([&] { return !log.Done.empty(); }));
    EXPECT_EQ(log.Done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_GE(s.DnsResultList().Count(), 1);
    EXPECT_EQ(s.DnsResultList()[0], "127.0.0.1");
}

TEST(WSocketLookup, BroadcastAddressGoesToTheNameLookup) {
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.DnsLookup("255.255.255.255");
    EXPECT_TRUE(log.Done.empty());  // not numeric for inet_addr: asked asynchronously
    ASSERT_TRUE(PumpUntil([&] { return !log.Done.empty(); }));
    EXPECT_EQ(log.Done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "255.255.255.255");
}

TEST(WSocketLookup, AFailedLookupReportsItsCode) {
    WinsockSetLookupHook([](const std::string& q) { return q == "no.such.host" ? WSAHOST_NOT_FOUND : 0; });
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.DnsLookup("no.such.host");
    ASSERT_TRUE(PumpUntil([&] { return !log.Done.empty(); }));
    WinsockSetLookupHook(nullptr);
    EXPECT_EQ(log.Done, std::vector<int>{WSAHOST_NOT_FOUND});
    EXPECT_EQ(s.DnsResult(), "");
}

TEST(WSocketLookup, ReverseLookupGivesTheHostName) {
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return !log.Done.empty(); }));
    EXPECT_EQ(log.Done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "localhost");
    ASSERT_EQ(s.DnsResultList().Count(), 1);
    EXPECT_EQ(s.DnsResultList()[0], "localhost");
}

TEST(WSocketLookup, EmptyNamesAreReportedThenAnsweredWithInvalidArgument) {
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    std::vector<std::string> order;
    s.OnError = [&](TObject*) { order.push_back("error"); };
    s.OnDnsLookupDone = [&](TObject*, WORD e) { order.push_back("done:" + std::to_string(e)); };
    s.ReverseDnsLookup("");
    s.DnsLookup("");
    EXPECT_EQ(order, (std::vector<std::string>{"error", "done:10022", "error", "done:10022"}));
    s.OnError = nullptr;
    try {
        s.DnsLookup("");
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "DNS lookup: invalid host name.");
    }
}

TEST(WSocketLookup, CancelEndsAPendingLookupWithInterrupted) {
    TLookupGate gate("localhost");
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.DnsLookup("localhost");
    gate.WaitForHeld(1);
    s.CancelDnsLookup();
    EXPECT_EQ(log.Done, std::vector<int>{WSAEINTR});
    s.CancelDnsLookup();  // nothing pending: nothing happens
    gate.Release();
    SettleLookups();
    EXPECT_EQ(log.Done, std::vector<int>{WSAEINTR});  // nothing came from the cancelled request
}

TEST(WSocketLookup, ASecondLookupSupersedesThePendingOne) {
    TLookupGate gate("localhost");
    TLookupLog log;
    TWSocket s;
    log.Attach(s);
    s.DnsLookup("localhost");
    gate.WaitForHeld(1);
    s.DnsLookup("localhost");
    gate.WaitForHeld(2);
    EXPECT_TRUE(log.Done.empty());  // the first is dropped silently
    gate.Release();
    ASSERT_TRUE(PumpUntil([&] { return !log.Done.empty(); }));
    SettleLookups();  // a stray reply of the first request would be handled here
    EXPECT_EQ(log.Done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(WSocketLookup, DestroyingASocketWithAPendingLookupRaisesNothing) {
    TLookupGate gate("localhost");
    TLookupLog log;
    {
        TWSocket s;
        log.Attach(s);
        s.DnsLookup("localhost");
        gate.WaitForHeld(1);
    }
    gate.Release();
    SettleLookups();
    EXPECT_TRUE(log.Done.empty());
}
