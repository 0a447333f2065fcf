// SPDX-License-Identifier: Apache-2.0
// --proxy on the command line: an unusable URL is a usage error naming it.
#include <gtest/gtest.h>

#include <vector>

#include "app/cli/commandLine.h"

TEST(CommandLineProxy, AnUnusableProxyIsAUsageErrorNamingIt) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--proxy", "ftp://h"}, "unusable proxy 'ftp://h' (from --proxy): the scheme 'ftp' is not supported"},
        {{"--proxy=socks5://u:p@h:99999"}, "unusable proxy 'socks5://***@h:99999' (from --proxy): the port '99999'"},
        {{"--proxy"}, "option --proxy needs a value"},
        {{"--no-proxy"}, "option --no-proxy needs a value"},
    };
    for (const auto& [options, want] : cases) {
        std::vector<std::string> args{"fotaviq", "--download", "http://h/vphoto.swf?uin=1&fid=2"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        testing::internal::CaptureStderr();
        const int status = RunCommandLine(static_cast<int>(argv.size()), argv.data());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, 2) << want;
        EXPECT_NE(err.find(want), std::string::npos) << err;
    }
}
