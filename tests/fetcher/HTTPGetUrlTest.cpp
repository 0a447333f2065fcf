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

}  // namespace
