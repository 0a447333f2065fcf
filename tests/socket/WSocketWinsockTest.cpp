// SPDX-License-Identifier: Apache-2.0
// The Winsock module's life as the socket layer drives it: loaded by the first call that
// needs it, unloaded with the last socket object, loaded again by the next.
#include <gtest/gtest.h>

#include "SocketTestSupport.h"
#include "winsock/WinsockHooks.h"
#include "support/Loopback.h"

TEST(WSocketWinsock, UnloadedWithTheLastSocketAndLoadedAgainByTheNext) {
    ScriptedPeer peer;
    peer.Accept().ReadToEnd().Accept().ReadToEnd();
    peer.Start();
    const int startups = WinsockStartupCount(), cleanups = WinsockCleanupCount();
    for (int round = 0; round < 2; ++round) {
        auto a = std::make_unique<TWSocket>();
        auto b = std::make_unique<TWSocket>();
        EXPECT_EQ(LiveSocketCount(), 2);
        EXPECT_EQ(WinsockModule(), 0u);  // constructing does not load
        a->SetAddr("127.0.0.1");
        a->SetPort(std::to_string(peer.Port()));
        a->Connect();
        EXPECT_NE(WinsockModule(), 0u);
        EXPECT_EQ(WinsockStartupCount(), startups + round + 1);
        ASSERT_TRUE(PumpUntil([&] { return a->State() == wsConnected; }));
        a.reset();
        EXPECT_NE(WinsockModule(), 0u);  // b still lives
        b.reset();
        EXPECT_EQ(WinsockModule(), 0u);
        EXPECT_EQ(LiveSocketCount(), 0);
        EXPECT_EQ(WinsockCleanupCount(), cleanups + round + 1);
        EXPECT_EQ(WinsockOpenSocketCount(), 0);
    }
    peer.Join();
}

TEST(WSocketWinsock, AModuleThatCannotBeLoadedIsReported) {
    UnloadWinsock();
    WinsockSetLoadFailure(ERROR_MOD_NOT_FOUND);
    try {
        LoadWinsockProc("socket");
        ADD_FAILURE() << "loaded";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Unable to load wsock32.dll Error #126");
    }
    TWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("80");
    try {
        s.Connect();
        ADD_FAILURE() << "connected";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "connect: Unable to load wsock32.dll Error #126");
    }
    EXPECT_EQ(WinsockModule(), 0u);
    WinsockSetLoadFailure(0);
    EXPECT_EQ(LoadWinsockProc(""), nullptr);  // loads only
    EXPECT_NE(WinsockModule(), 0u);
    try {
        LoadWinsockProc("NoSuchEntry");
        ADD_FAILURE() << "resolved";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Procedure NoSuchEntry not found in wsock32.dll Error #127");
    }
}
