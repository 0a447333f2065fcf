// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "fetcher/HTTPGetUrl.h"

namespace {

struct SplitRow {
    const char* url;
    const char* host;
    const char* path;
};

void PrintTo(const SplitRow& row, std::ostream* os) { *os << row.url; }

class SplitHostAndPathTest : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitHostAndPathTest, GivesHostAndPath) {
    const SplitRow& row = GetParam();
    std::string host = "stale", path = "stale";
    SplitHostAndPath(row.url, host, path);
    EXPECT_EQ(host, row.host);
    EXPECT_EQ(path, row.path);
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitHostAndPathTest,
                         ::testing::Values(SplitRow{"http://server/photos/1.jpg", "server", "/photos/1.jpg"},
                                           SplitRow{"HTTP://Server/A.JPG", "Server", "/A.JPG"},
                                           SplitRow{"server/a?b=c", "server", "/a?b=c"},
                                           SplitRow{"http://server/", "server", "/"},
                                           SplitRow{"http://server", "", "server"},
                                           SplitRow{"server:8080/x", "server:8080", "/x"},
                                           SplitRow{"https://server/x", "https:", "//server/x"},
                                           SplitRow{"x/y?u=http://z", "ttp:", "//z"}),
                         [](const ::testing::TestParamInfo<SplitRow>& info) {
                             return "Row" + std::to_string(info.index + 1);
                         });

// Only an address that begins with https:// is read as one; every other keeps the split
// above, with the port taken off its host (80 when none).
TEST(SplitFetchTarget, ReadsHttpsAddressesAndLeavesTheRestAlone) {
    struct Row {
        const char* url;
        int scheme;
        const char* host;
        unsigned short port;
        const char* path;
    };
    for (const Row& r : {Row{"https://server/photos/1.jpg", 4, "server", 443, "/photos/1.jpg"},
                         Row{"HTTPS://Server:8443", 4, "Server", 8443, "/"},
                         Row{"https://u:p@[::1]:444?a=b#top", 4, "[::1]", 444, "/?a=b"},
                         Row{"https://server:99999/x", 4, "", 0, "/x"},
                         Row{"https://server:/x", 4, "", 0, "/x"},
                         Row{"http://server:8080/x", 3, "server", 8080, "/x"},
                         Row{"http://127.0.0.43:8087/photos/1.jpg", 3, "127.0.0.43", 8087, "/photos/1.jpg"},
                         Row{"http://[::1]:8086/p/2.jpg", 3, "[::1]", 8086, "/p/2.jpg"},
                         Row{"http://[::1]/p", 3, "[::1]", 80, "/p"},
                         Row{"http://server:0/x", 3, "", 0, "/x"},
                         Row{"http://server:http/x", 3, "", 0, "/x"},
                         Row{"x/y?u=https://z", 3, "x", 80, "/y?u=https://z"}}) {
        SCOPED_TRACE(r.url);
        const TFetchTarget t = SplitFetchTarget(r.url);
        EXPECT_EQ(t.Scheme, r.scheme);
        EXPECT_EQ(t.Host, r.host);
        if (*r.host) {
            EXPECT_EQ(t.Port, r.port);  // without a host the port is never used
        }
        EXPECT_EQ(t.Path, r.path);
    }
}

}  // namespace
