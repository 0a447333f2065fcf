// SPDX-License-Identifier: Apache-2.0
// The endpoints around the albums: usage reports, the request log, the link list, the
// information page, the connection handling HTTP/1.0 and pipelining clients rely on,
// and the command line.
#include "Options.h"
#include "RawHttp.h"
#include "ServerProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace {

const char* const kForm = "application/x-www-form-urlencoded";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> SplitBars(const std::string& text)
{
    std::vector<std::string> pieces;
    std::stringstream ss(text);
    for (std::string piece; std::getline(ss, piece, '|');)
        pieces.push_back(piece);
    return pieces;
}

TEST(AlbumServerReports, BodiesAreRecordedByteForByteInOrder)
{
    const std::string log = testing::TempDir() + "album-server-reports.log";
    std::remove(log.c_str());
    ServerProcess server({"--report-log", log});
    httplib::Client cli("127.0.0.1", server.Port());
    const std::vector<std::string> bodies = {
        "source_url=&music=http%3A%2F%2F127.0.0.1%2Fmusic%2Fthree.mp3&title=%C8%FD+Trip&version=ZK1.0",
        std::string("raw \xC8\xFD\x01 bytes\nwith a line feed and a \0 NUL", 42),
        "source_url=&music=&title=&version=ZK1.0",
    };
    for (const std::string& body : bodies) {
        auto res = cli.Post("/corvane/mirelot/log.php", body, kForm);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_FALSE(res->body.empty());
        EXPECT_LT(res->body.size(), 100u);
    }

    std::string expectedList, expectedLog;
    for (const std::string& body : bodies) {
        expectedList += std::to_string(body.size()) + ":" + body + "\n";
        expectedLog += body + "\n";
    }
    auto list = cli.Get("/_test/reports");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->body, expectedList);
    EXPECT_EQ(ReadFile(log), expectedLog);

    auto last = cli.Get("/_test/reports/last");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->body, bodies[2]);
    EXPECT_EQ(last->get_header_value("X-Report-Content-Type"), kForm);
    auto second = cli.Get("/_test/reports/1");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->body, bodies[1]);
    auto beyond = cli.Get("/_test/reports/3");
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->status, 404);

    ASSERT_TRUE(cli.Delete("/_test/reset"));
    EXPECT_EQ(cli.Get("/_test/reports")->body, "");
    EXPECT_EQ(cli.Get("/_test/reports/last")->status, 404);
}

TEST(AlbumServerReports, RequestLogListsWhatClientsFetchedUntilReset)
{
    ServerProcess server;
    httplib::Client cli("127.0.0.1", server.Port());
    cli.Get("/cgi-bin/common/cgi_load_flash?uin=20000&fid=3");
    cli.Get("/photos/three/0.jpg");
    cli.Get("/_test/reports");
    cli.Post("/corvane/mirelot/log.php", "a=1", kForm);
    cli.Get("/photos/three/9.jpg");
    EXPECT_EQ(cli.Get("/_test/requests")->body,
              "GET /cgi-bin/common/cgi_load_flash?uin=20000&fid=3\n"
              "GET /photos/three/0.jpg\n"
              "POST /corvane/mirelot/log.php\n"
              "GET /photos/three/9.jpg\n");
    cli.Get("/_test/reset");
    EXPECT_EQ(cli.Get("/_test/requests")->body, "");
    EXPECT_EQ(cli.Get("/_test/reports")->body, "");
}

TEST(AlbumServerLinks, FivePairsOfChineseCaptionsAndServedAddresses)
{
    ServerProcess server;
    httplib::Client cli("127.0.0.1", server.Port());
    auto res = cli.Get("/app/zevorizediruru/i.php?a=getlinks");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Content-Type").find("utf-8"), std::string::npos);
    const auto pieces = SplitBars(res->body);
    ASSERT_EQ(pieces.size(), 10u);
    EXPECT_NE(res->body.back(), '|');
    EXPECT_EQ(res->body.find_first_of("\r\n"), std::string::npos);
    const std::string prefix = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
    for (std::size_t i = 0; i < pieces.size(); i += 2) {
        SCOPED_TRACE(i);
        // A caption holds Chinese: UTF-8 lead bytes of three-byte sequences.
        EXPECT_NE(pieces[i].find_first_of("\xE4\xE5\xE6\xE7\xE8\xE9"), std::string::npos);
        ASSERT_TRUE(pieces[i + 1].starts_with(prefix));
        auto page = cli.Get(pieces[i + 1].substr(prefix.size() - 1));
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        EXPECT_NE(page->body.find(pieces[i]), std::string::npos);
    }
    EXPECT_EQ(cli.Get("/app/zevorizediruru/i.php?a=other")->status, 404);
}

TEST(AlbumServerLinks, LinksOptionServesTheFileUnchanged)
{
    const std::string path = testing::TempDir() + "album-server-links.txt";
    const std::string gbk = "\"\xB2\xE2|\xCA\xD4\"|http://127.0.0.1/a\r\n\xB6\xFE|http://127.0.0.1/b";
    std::ofstream(path, std::ios::binary) << gbk;
    ServerProcess server({"--links", path});
    httplib::Client cli("127.0.0.1", server.Port());
    auto res = cli.Get("/app/zevorizediruru/i.php?a=getlinks");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, gbk);
}

TEST(AlbumServerInfoPage, CompactSelfContainedUtf8Page)
{
    ServerProcess server;
    httplib::Client cli("127.0.0.1", server.Port());
    auto res = cli.Get("/corvane/mirelot/app_info.php?app=pixharv");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(res->body.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(res->body.find("Fotaviq"), std::string::npos);
    EXPECT_NE(res->body.find("ZK1.0"), std::string::npos);
    for (const char* external : {"src=", "href=", "url(", "@import", "http:", "https:"})
        EXPECT_EQ(res->body.find(external), std::string::npos) << external;
    EXPECT_LT(res->body.size(), 2048u);
    EXPECT_EQ(cli.Get("/corvane/mirelot/app_info.php?app=other")->status, 404);
}

TEST(AlbumServerConnections, HttpOneZeroResponsesEndWithTheConnection)
{
    ServerProcess server;
    const RawResponse r = RawExchange(server.Port(),
                                      "GET /cgi-bin/common/cgi_load_flash?uin=20000&fid=3 HTTP/1.0\r\n"
                                      "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
                                      "User-Agent: Mozilla/3.0 (compatible)\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_TRUE(r.closedByPeer);
    EXPECT_TRUE(r.head.starts_with("HTTP/1.1 200 ")) << r.head;
    EXPECT_EQ(r.ContentLength(), static_cast<long long>(r.body.size()));
    EXPECT_NE(r.body.find("\"name\":\""), std::string::npos);

    // The fetcher's form post: no Host line, a doubled "Accept: " in its accept entry.
    const std::string body = "source_url=&music=&title=x&version=ZK1.0";
    const RawResponse post = RawExchange(server.Port(),
                                         "POST /corvane/mirelot/log.php HTTP/1.0\r\nAccept: Accept: */*\r\n"
                                         "Content-Type: application/x-www-form-urlencoded\r\n"
                                         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(post.closedByPeer);
    EXPECT_TRUE(post.head.starts_with("HTTP/1.1 200 ")) << post.head;
    httplib::Client cli("127.0.0.1", server.Port());
    EXPECT_EQ(cli.Get("/_test/reports/last")->body, body);
}

TEST(AlbumServerConnections, RequestsSentBackToBackAreAnsweredInOrder)
{
    ServerProcess server;
    const std::vector<std::string> paths = {"/links/2.html", "/photos/xihu/1.jpg", "/links/1.html"};
    const std::string requests = BackToBackGets(paths);
    httplib::Client cli("127.0.0.1", server.Port());
    // All in one write, then in small pieces whose edges fall inside requests and between them.
    for (const std::size_t piece : {std::size_t{0}, std::size_t{7}}) {
        const std::vector<RawResponse> answers = RawConversation(server.Port(), requests, piece);
        ASSERT_EQ(answers.size(), paths.size()) << "pieces of " << piece;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            EXPECT_TRUE(answers[i].head.starts_with("HTTP/1.1 200 ")) << answers[i].head;
            EXPECT_TRUE(answers[i].body == cli.Get(paths[i])->body) << paths[i] << ", pieces of " << piece;
        }
        EXPECT_TRUE(answers.back().closedByPeer);
    }
}

TEST(AlbumServerCommandLine, OptionsAreCheckedAndHelpListsEveryAlbum)
{
    const std::vector<std::vector<const char*>> bad = {
        {"x", "--port", "70000"}, {"x", "--bogus"},       {"x", "--bind", ""},    {"x", "--slow-rate", "0"},
        {"x", "--threads", "2x"}, {"x", "--port"},        {"x", "--verbose=1"}, {"x", "--port", "-1"}};
    for (const auto& args : bad)
        EXPECT_THROW(ParseOptions(static_cast<int>(args.size()), args.data()), std::invalid_argument)
            << args[1];

    const char* good[] = {"x", "--port=0", "--bind", "127.0.0.9", "--throttle", "5000", "-v", "--pregenerate"};
    const Options o = ParseOptions(8, good);
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.bind, "127.0.0.9");
    EXPECT_EQ(o.throttle, 5000u);
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(o.pregenerate);

    std::string out;
    EXPECT_EQ(RunServerToEnd({"--no-such-option"}, out), 2);
    EXPECT_EQ(RunServerToEnd({"--help"}, out), 0);
    const Catalogue catalogue;
    for (const AlbumSpec& a : catalogue.Albums())
        EXPECT_NE(out.find("uin=" + a.uin + "&fid=" + a.fid + " "), std::string::npos) << a.key;
}

TEST(AlbumServerCommandLine, ReadyFileReceivesThePort)
{
    const std::string path = testing::TempDir() + "album-server-ready.txt";
    std::remove(path.c_str());
    ServerProcess server({"--ready-file", path});
    EXPECT_EQ(ReadFile(path), std::to_string(server.Port()) + "\n");
}

}  // namespace
