// SPDX-License-Identifier: Apache-2.0
// The service's scripted misbehaviour for tests of parallel, retrying clients: photos
// that fail a set number of times in a set way, latency on every answer, photos that
// answer late, and the count of photo answers in progress at once.
#include "Catalogue.h"
#include "Options.h"
#include "PhotoStore.h"
#include "RawHttp.h"
#include "ServerProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::string Get10(const std::string& path)
{
    return "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
}

std::string Photo(const char* key, int n)
{
    return "/photos/" + std::string(key) + "/" + std::to_string(n) + ".jpg";
}

std::string Jpeg(const char* key, int n)
{
    const Catalogue catalogue;
    return MakePhotoJpeg(*catalogue.FindByKey(key), n);
}

std::string InFlight(int port)
{
    httplib::Client cli("127.0.0.1", port);
    auto res = cli.Get("/_test/inflight");
    return res ? res->body : "no answer";
}

void ExpectWholePhoto(const RawResponse& r, const char* key, int n)
{
    EXPECT_TRUE(r.head.starts_with("HTTP/1.1 200 ")) << key << "/" << n << ": " << r.head;
    EXPECT_EQ(r.body, Jpeg(key, n)) << key << "/" << n;
}

TEST(AlbumServerFaults, EachKindFailsAsScriptedThenThePhotoArrivesWhole)
{
    ServerProcess server({"--fail", "three/0:1", "--fail", "three/1:2:503", "--fail", "three/2:1:reset",
                          "--fail", "xihu/0:1:cut", "--fail", "xihu/1:1:stall", "--fail", "xihu/2:always"});
    const int port = server.Port();

    const RawResponse s500 = RawExchange(port, Get10(Photo("three", 0)));
    EXPECT_TRUE(s500.head.starts_with("HTTP/1.1 500 ")) << s500.head;
    EXPECT_GT(s500.body.size(), 0u);
    EXPECT_LT(s500.body.size(), 100u);

    for (int i = 0; i < 2; ++i) {
        const RawResponse s503 = RawExchange(port, Get10(Photo("three", 1)));
        EXPECT_TRUE(s503.head.starts_with("HTTP/1.1 503 ")) << s503.head;
        EXPECT_LT(s503.body.size(), 100u);
    }

    const RawResponse reset = RawExchange(port, Get10(Photo("three", 2)));
    EXPECT_TRUE(reset.resetByPeer);
    EXPECT_EQ(reset.head + reset.body, "");

    const std::string full = Jpeg("xihu", 0);
    const RawResponse cut = RawExchange(port, Get10(Photo("xihu", 0)));
    EXPECT_TRUE(cut.head.starts_with("HTTP/1.1 200 ")) << cut.head;
    EXPECT_EQ(cut.ContentLength(), static_cast<long long>(full.size()));
    EXPECT_EQ(cut.body, full.substr(0, full.size() / 2));
    EXPECT_TRUE(cut.closedByPeer);

    // A stalled answer: the head, then silence while the client waits.
    const RawResponse stall = RawExchange(port, Get10(Photo("xihu", 1)), 300);
    EXPECT_TRUE(stall.head.starts_with("HTTP/1.1 200 ")) << stall.head;
    EXPECT_EQ(stall.ContentLength(), static_cast<long long>(Jpeg("xihu", 1).size()));
    EXPECT_EQ(stall.body, "");
    EXPECT_FALSE(stall.closedByPeer || stall.resetByPeer);
    // The client gave up (RawExchange closed): the server must notice and end the answer.
    std::string count;
    for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
        if ((count = InFlight(port)) == "max 1\nnow 0\n")
            break;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(count, "max 1\nnow 0\n");

    // The counts are spent: every photo now arrives whole, on any connection.
    for (int n = 0; n < 3; ++n)
        ExpectWholePhoto(RawExchange(port, Get10(Photo("three", n))), "three", n);
    for (int n = 0; n < 2; ++n)
        ExpectWholePhoto(RawExchange(port, Get10(Photo("xihu", n))), "xihu", n);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(RawExchange(port, Get10(Photo("xihu", 2))).head.starts_with("HTTP/1.1 500 ")) << i;

    // Every attempt is in the request log; a reset starts the counts again.
    httplib::Client cli("127.0.0.1", port);
    const std::string log = cli.Get("/_test/requests")->body;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 14) << log;
    cli.Get("/_test/reset");
    EXPECT_TRUE(RawExchange(port, Get10(Photo("three", 2))).resetByPeer);
    ExpectWholePhoto(RawExchange(port, Get10(Photo("three", 2))), "three", 2);
}

TEST(AlbumServerFaults, LatencyHoldsEveryAnswerWhileConnectionsWaitSideBySide)
{
    const auto latency = 400ms;
    ServerProcess server({"--latency", "400"});
    const int port = server.Port();
    // More than 16 photos at once, so the default worker count leaves room for a
    // browser and the report beside a 16-connection download. Every sixth photo is the
    // smallest size, which keeps encoding out of the way.
    const std::size_t photos = 32;
    std::vector<PendingExchange> batch;
    for (std::size_t n = 0; n < photos; ++n)
        batch.emplace_back(port, Get10(Photo("bench200", static_cast<int>(6 * n))));
    for (const char* path : {"/cgi-bin/common/cgi_load_flash?uin=20000&fid=3", "/music/three.mp3",
                             "/app/zevorizediruru/i.php?a=getlinks", "/corvane/mirelot/app_info.php?app=pixharv"})
        batch.emplace_back(port, Get10(path));
    batch.emplace_back(port, "POST /corvane/mirelot/log.php HTTP/1.0\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n\r\na=1");

    const std::vector<RawResponse> results = FinishAll(batch);
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_TRUE(results[i].head.starts_with("HTTP/1.1 200 ")) << i << ": " << results[i].head;
        // A lower bound only: the service guarantees it however loaded the machine is.
        EXPECT_GE(results[i].firstByteAfter, latency) << i;
        if (i < photos) {
            EXPECT_EQ(results[i].body, Jpeg("bench200", static_cast<int>(6 * i))) << i;
        }
    }
    // Every photo was in progress at the same moment; the other answers are not counted.
    EXPECT_EQ(InFlight(port), "max 32\nnow 0\n");
}

TEST(AlbumServerFaults, DelayedPhotoAnswersAfterTheOthers)
{
    ServerProcess server({"--latency", "50", "--delay", "three/0:500"});
    // Encoded once beforehand, so only the delays decide the order.
    for (int n = 0; n < 3; ++n)
        RawExchange(server.Port(), Get10(Photo("three", n)));
    RawExchange(server.Port(), Get10("/_test/reset"));
    std::vector<PendingExchange> batch;
    for (int n = 0; n < 3; ++n)
        batch.emplace_back(server.Port(), Get10(Photo("three", n)));
    const std::vector<RawResponse> r = FinishAll(batch);
    for (int n = 0; n < 3; ++n)
        ExpectWholePhoto(r[n], "three", n);
    EXPECT_GE(r[0].firstByteAfter, 550ms);
    EXPECT_GT(r[0].firstByteAfter, r[1].firstByteAfter);
    EXPECT_GT(r[0].firstByteAfter, r[2].firstByteAfter);
    EXPECT_EQ(InFlight(server.Port()), "max 3\nnow 0\n");
}

TEST(AlbumServerFaults, StopEndsStalledDelayedAndIdleConnectionsAtOnce)
{
    ServerProcess server({"--fail", "xihu/0:always:stall", "--delay", "three/0:600000"});
    const int port = server.Port();
    httplib::Client idle("127.0.0.1", port);
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get(Photo("xihu", 1)));
    PendingExchange stalled(port, Get10(Photo("xihu", 0)));
    PendingExchange delayed(port, Get10(Photo("three", 0)));
    std::string count;
    for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
        if ((count = InFlight(port)).ends_with("now 2\n"))
            break;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(count.ends_with("now 2\n")) << count;
    // Well below the five seconds a kept-alive connection may stay idle.
    EXPECT_EQ(server.Stop(3000), 0);
    const RawResponse s = stalled.Finish(1000), d = delayed.Finish(1000);
    EXPECT_TRUE(s.closedByPeer || s.resetByPeer);
    EXPECT_TRUE(d.closedByPeer || d.resetByPeer);
}

TEST(AlbumServerFaults, CommandLineSpecsAreChecked)
{
    const std::vector<std::vector<const char*>> bad = {
        {"x", "--fail", "xihu/3"},           {"x", "--fail", "xihu/3:0"},
        {"x", "--fail", "xihu/3:1:boom"},    {"x", "--fail", "xihu/3:1:"},
        {"x", "--fail", "nosuch/0:1"},       {"x", "--fail", "xihu/12:1"},
        {"x", "--fail", "/1:1"},             {"x", "--fail", "xihu/1:1", "--fail", "xihu/1:always:cut"},
        {"x", "--delay", "xihu/1"},          {"x", "--delay", "xihu/1:-5"},
        {"x", "--delay", "xihu/1:5", "--delay", "xihu/1:6"},
        {"x", "--latency", "-1"}};
    for (const auto& args : bad)
        EXPECT_THROW(ParseOptions(static_cast<int>(args.size()), args.data()), std::invalid_argument)
            << args[1] << " " << args[2];

    const char* good[] = {"x",       "--fail",   "many31/0:2:reset", "--fail",  "xihu/3:always",
                          "--delay", "three/0:250", "--delay",       "xihu/3:1", "--latency=40"};
    const Options o = ParseOptions(10, good);
    ASSERT_EQ(o.faults.size(), 2u);
    EXPECT_EQ(o.faults[0].key, "many31");
    EXPECT_EQ(o.faults[0].photo, 0);
    EXPECT_EQ(o.faults[0].count, 2);
    EXPECT_EQ(o.faults[0].kind, FaultKind::Reset);
    EXPECT_EQ(o.faults[1].photo, 3);
    EXPECT_EQ(o.faults[1].count, PhotoFault::kAlways);
    EXPECT_EQ(o.faults[1].kind, FaultKind::Status500);
    ASSERT_EQ(o.delays.size(), 2u);
    EXPECT_EQ(o.delays[0].key, "three");
    EXPECT_EQ(o.delays[0].delay, 250ms);
    EXPECT_EQ(o.latency, 40ms);
}

}  // namespace
