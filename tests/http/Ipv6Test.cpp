// SPDX-License-Identifier: Apache-2.0
// The HTTP client over IPv6, against nginx: a bracketed literal address, and a name whose
// IPv6 address never answers while its IPv4 address does. Skipped when nginx is missing.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <vector>

#include "ClientCalls.h"
#include "Servers.h"
#include "base/Stream.h"
#include "http/HttpProt.h"
#include "winsock/WinsockHooks.h"
#include "support/SilentIpv6Port.h"

namespace {

const char* const kWho = "    location = /who { return 200 \"$http_host $remote_addr\"; }\n";

}  // namespace

TEST(HttpIpv6, GetFromABracketedLiteralNamesItInTheHostHeader) {
    TScratchDir root;
    NginxServer nginx(root.Path(), "    listen [::1]:@PORT@;\n" + std::string(kWho));
    if (!nginx.Available()) GTEST_SKIP() << nginx.Why();
    const std::string port = std::to_string(nginx.Port());
    THttpCli c;
    EXPECT_EQ(GetText(c, "http://[::1]:" + port + "/who"), "[::1]:" + port + " ::1");
    EXPECT_EQ(c.StatusCode(), 200);
}

TEST(HttpIpv6, ANameWhoseIPv6AddressIsSilentConnectsOverIPv4BeforeTheTimeout) {
    TScratchDir root;
    NginxServer nginx(root.Path(), kWho);  // 127.0.0.1 only
    if (!nginx.Available()) GTEST_SKIP() << nginx.Why();
    TSilentIpv6Port silent(nginx.Port());
    ASSERT_TRUE(silent.Ok());
    WinsockSetAddressHook([](const std::string& name) {
        return name == "dual.test" ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector<std::string>{};
    });
    THttpCli c;
    c.SetConnectTimeout(10000);
    const auto start = std::chrono::steady_clock::now();
    const std::string body = GetText(c, "http://dual.test:" + std::to_string(nginx.Port()) + "/who");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    WinsockSetAddressHook(nullptr);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(body, "dual.test 127.0.0.1");
    EXPECT_LT(ms.count(), 5000) << "the IPv4 attempt must not wait for the connect timeout";
    std::cout << "fallback to IPv4: request done after " << ms.count() << " ms\n";
}
