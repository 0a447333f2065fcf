// SPDX-License-Identifier: Apache-2.0
// End to end against real servers on loopback: nginx serving files and redirects, and a
// forward proxy. Skipped with a message when a server is not installed.
#include <gtest/gtest.h>

#include <filesystem>

#include "Servers.h"
#include "base/Stream.h"
#include "http/HttpProt.h"

namespace {

class HttpServers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        files_ = new TScratchDir;
        const std::string root = files_->Path();
        for (long long size : {0LL, 1LL, 8191LL, 8192LL, 8193LL, 1000003LL})
            WriteRandomFile(root + "/f" + std::to_string(size) + ".bin", size, static_cast<unsigned>(size));
        std::filesystem::create_directories(root + "/dir");
        WriteRandomFile(root + "/dir/page.bin", 5000, 11);
        nginx_ = new NginxServer(root,
                                 "    absolute_redirect off;\n"
                                 "    location = /moved { return 302 /f8193.bin; }\n"
                                 "    location = /dir/rel { return 302 page.bin; }\n"
                                 "    location = /gone { return 301 http://127.0.0.1:$server_port/dir/page.bin; }\n"
                                 "    location = /loop { return 302 /loop; }\n");
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete files_;
        nginx_ = nullptr;
        files_ = nullptr;
    }
    void SetUp() override {
        if (!nginx_->Available()) GTEST_SKIP() << nginx_->Why();
    }

    // Fetches url into a file of the scratch folder and returns its path.
    std::string Fetch(THttpCli& c, const std::string& url) {
        const std::string out = scratch_.File("out.bin");
        TFileStream s(out, TFileStream::fmCreate);
        c.SetURL(url);
        c.SetDocStream(&s);
        c.Get();
        return out;
    }

    static TScratchDir* files_;
    static NginxServer* nginx_;
    TScratchDir scratch_;
};

TScratchDir* HttpServers::files_ = nullptr;
NginxServer* HttpServers::nginx_ = nullptr;

}  // namespace

TEST_F(HttpServers, FilesArriveByteForByte) {
    THttpCli c;
    for (long long size : {0LL, 1LL, 8191LL, 8192LL, 8193LL, 1000003LL}) {
        const std::string name = "/f" + std::to_string(size) + ".bin";
        const std::string out = Fetch(c, nginx_->Url(name));
        EXPECT_EQ(c.StatusCode(), 200) << name;
        EXPECT_EQ(c.ContentLength(), size) << name;
        EXPECT_EQ(c.RcvdBytes(), size) << name;
        EXPECT_TRUE(SameFile(out, files_->Path() + name)) << name;
    }
    // 100 MB, made here so that the other tests of the suite do not pay for it.
    WriteRandomFile(files_->Path() + "/big.bin", 100LL << 20, 7);
    const std::string out = Fetch(c, nginx_->Url("/big.bin"));
    EXPECT_EQ(c.RcvdBytes(), 100LL << 20);
    EXPECT_TRUE(SameFile(out, files_->Path() + "/big.bin"));
}

TEST_F(HttpServers, RedirectsAreFollowed) {
    THttpCli c;
    std::string out = Fetch(c, nginx_->Url("/moved"));
    EXPECT_TRUE(SameFile(out, files_->Path() + "/f8193.bin"));
    EXPECT_EQ(c.Location(), nginx_->Url("/f8193.bin"));
    out = Fetch(c, nginx_->Url("/dir/rel"));
    EXPECT_TRUE(SameFile(out, files_->Path() + "/dir/page.bin"));
    out = Fetch(c, nginx_->Url("/gone"));
    EXPECT_TRUE(SameFile(out, files_->Path() + "/dir/page.bin"));
    EXPECT_EQ(c.StatusCode(), 200);
    try {
        Fetch(c, nginx_->Url("/loop"));
        ADD_FAILURE() << "a redirect loop ended normally";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.Message(), "Too many relocations: more than 20 in a row");
    }
}

TEST_F(HttpServers, MissingFileRaisesNotFound) {
    THttpCli c;
    try {
        Fetch(c, nginx_->Url("/no-such-file"));
        ADD_FAILURE() << "no exception";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode(), 404);
        EXPECT_EQ(e.Message(), "Not Found");
    }
    EXPECT_EQ(c.StatusCode(), 404);
}

TEST_F(HttpServers, GetThroughAForwardProxy) {
    TinyProxy proxy;
    if (!proxy.Available()) GTEST_SKIP() << proxy.Why();
    THttpCli c;
    c.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
    std::string out = Fetch(c, nginx_->Url("/f1000003.bin"));
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_TRUE(SameFile(out, files_->Path() + "/f1000003.bin"));
    out = Fetch(c, nginx_->Url("/dir/rel"));
    EXPECT_TRUE(SameFile(out, files_->Path() + "/dir/page.bin"));
    EXPECT_EQ(c.Location(), nginx_->Url("/dir/page.bin"));
    try {
        Fetch(c, nginx_->Url("/no-such-file"));
        ADD_FAILURE() << "no exception";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode(), 404);
    }
}
