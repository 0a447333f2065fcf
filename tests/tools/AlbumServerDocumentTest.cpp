// SPDX-License-Identifier: Apache-2.0
// Data documents as a reader sees them: the bytes of the title, the order of the keys,
// the addresses, and the test albums' deliberate oddities.
#include "Catalogue.h"
#include "Options.h"
#include "ServerProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct Found {
    std::size_t pos;
    std::string value;
};

// Every value of `"key":"…"` in document order, each up to the next double quote:
// exactly what the reader's shortest-match pattern picks out.
std::vector<Found> Values(const std::string& doc, const std::string& key)
{
    std::vector<Found> out;
    const std::string open = "\"" + key + "\":\"";
    for (std::size_t pos = doc.find(open); pos != std::string::npos; pos = doc.find(open, pos + 1)) {
        const std::size_t start = pos + open.size();
        out.push_back({pos, doc.substr(start, doc.find('"', start) - start)});
    }
    return out;
}

class AlbumServerDocument : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new ServerProcess(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    static std::string Base() { return "http://127.0.0.1:" + std::to_string(server_->Port()); }

    static httplib::Result Get(const std::string& path)
    {
        httplib::Client cli("127.0.0.1", server_->Port());
        return cli.Get(path);
    }

    static std::string Document(const std::string& uin, const std::string& fid)
    {
        auto res = Get("/cgi-bin/common/cgi_load_flash?uin=" + uin + "&fid=" + fid);
        EXPECT_TRUE(res) << "no answer for " << uin << "/" << fid;
        if (!res)
            return {};
        EXPECT_EQ(res->status, 200);
        return res->body;
    }

    static ServerProcess* server_;
};

ServerProcess* AlbumServerDocument::server_ = nullptr;

TEST(AlbumServerStartup, AnnouncesTheAddressAndPort)
{
    ServerProcess server;
    EXPECT_EQ(server.ListeningLine(), "listening on 127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_GT(server.Port(), 0);
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(AlbumServerDocument, DemoAlbumCarriesGbkTitleMusicAndTwelvePhotosInOrder)
{
    const std::string doc = Document("10001", "1");
    const auto names = Values(doc, "name");
    const auto mp3s = Values(doc, "mp3");
    const auto urls = Values(doc, "url");

    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].value, "\xCE\xF7\xBA\xFE\xB4\xBA\xD3\xCE");  // 西湖春游 in GBK
    ASSERT_EQ(mp3s.size(), 1u);
    EXPECT_EQ(mp3s[0].value, Base() + "/music/xihu.mp3");
    ASSERT_EQ(urls.size(), 12u);
    for (std::size_t i = 0; i < urls.size(); ++i)
        EXPECT_EQ(urls[i].value, Base() + "/photos/xihu/" + std::to_string(i) + ".jpg");
    EXPECT_LT(names[0].pos, mp3s[0].pos);
    EXPECT_LT(mp3s[0].pos, urls[0].pos);

    // Several lines, LF only.
    EXPECT_EQ(doc.find('\r'), std::string::npos);
    EXPECT_GT(std::count(doc.begin(), doc.end(), '\n'), 12);
}

TEST_F(AlbumServerDocument, EveryAlbumHasOneTitleAtMostOneMusicAndOneUrlPerListedPhoto)
{
    const Catalogue catalogue;
    for (const AlbumSpec& album : catalogue.Albums()) {
        SCOPED_TRACE(album.key);
        const std::string doc = Document(album.uin, album.fid);
        if (album.loginPage) {  // a web page instead of a document: no key at all
            EXPECT_TRUE(Values(doc, "name").empty() && Values(doc, "url").empty());
            continue;
        }
        const auto names = Values(doc, "name");
        ASSERT_EQ(names.size(), 1u);
        EXPECT_LE(Values(doc, "mp3").size(), 1u);
        const std::size_t expectedUrls = album.style == AddressStyle::UpperCaseKeys ? 0 : album.photoCount;
        EXPECT_EQ(Values(doc, "url").size(), expectedUrls);
        // The title comes first, so no photo can be taken for it or before it.
        if (!Values(doc, "url").empty()) {
            EXPECT_LT(names[0].pos, Values(doc, "url")[0].pos);
        }
    }
}

TEST_F(AlbumServerDocument, TestAlbumsCarryTheirOddities)
{
    EXPECT_TRUE(Values(Document("20000", "0"), "url").empty());
    EXPECT_EQ(Values(Document("20000", "31"), "url").size(), 31u);
    EXPECT_EQ(Values(Document("20000", "200"), "url").size(), 200u);

    const std::string three = Document("20000", "3");
    EXPECT_EQ(Values(three, "url").size(), 3u);
    EXPECT_EQ(Values(three, "name")[0].value, "\xC8\xFD\xD5\xC5\xD5\xD5\xC6\xAC Trip");  // 三张照片 Trip
    EXPECT_EQ(Values(three, "mp3").size(), 1u);

    EXPECT_TRUE(Values(Document("20000", "4"), "mp3").empty());
    EXPECT_EQ(Document("20000", "4").find("mp3"), std::string::npos);
    ASSERT_EQ(Values(Document("20000", "12"), "mp3").size(), 1u);
    EXPECT_EQ(Values(Document("20000", "12"), "mp3")[0].value, "");
    EXPECT_EQ(Values(Document("20000", "5"), "name")[0].value, "");
    EXPECT_EQ(Values(Document("20000", "14"), "name")[0].value, "..");

    const std::string hostile = Values(Document("20000", "6"), "name")[0].value;
    for (const char* piece : {"/", "\\", "..", "\x01", "\t", ":", "*", "?", "<", ">", "|"})
        EXPECT_NE(hostile.find(piece), std::string::npos) << "missing " << piece;
    EXPECT_NE(hostile.find("\xBB\xB5"), std::string::npos);  // 坏 in GBK

    const std::string escaped = Document("20000", "10");
    const auto escapedUrls = Values(escaped, "url");
    ASSERT_EQ(escapedUrls.size(), 2u);
    EXPECT_EQ(escapedUrls[0].value, "http:\\/\\/127.0.0.1:" + std::to_string(server_->Port()) +
                                         "\\/photos\\/escaped\\/0.jpg");
    EXPECT_EQ(Values(escaped, "mp3")[0].value.find("://"), std::string::npos);

    const std::string upper = Document("20000", "11");
    EXPECT_EQ(Values(upper, "URL").size(), 3u);
    EXPECT_TRUE(Values(upper, "url").empty());
}

TEST_F(AlbumServerDocument, UnknownAlbumIsNotFoundWithoutAnyKey)
{
    for (const char* query : {"uin=10001&fid=99", "uin=1&fid=2", "fid=1", "uin=10001%20&fid=1", ""}) {
        SCOPED_TRACE(query);
        auto res = Get(std::string("/cgi-bin/common/cgi_load_flash?") + query);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404);
        EXPECT_EQ(res->body.find("\":\""), std::string::npos);
    }
}

TEST(AlbumServerAddresses, PublicHostReplacesTheBindAddress)
{
    {
        ServerProcess server({"--public-host", "photos.example"});
        httplib::Client cli("127.0.0.1", server.Port());
        auto res = cli.Get("/cgi-bin/common/cgi_load_flash?uin=10001&fid=2");
        ASSERT_TRUE(res);
        EXPECT_NE(res->body.find("\"url\":\"http://photos.example:" + std::to_string(server.Port()) +
                                 "/photos/huangshan/0.jpg\""),
                  std::string::npos);
    }
    {
        ServerProcess server({"--public-host", "photos.example:8080"});
        httplib::Client cli("127.0.0.1", server.Port());
        auto res = cli.Get("/cgi-bin/common/cgi_load_flash?uin=10001&fid=2");
        ASSERT_TRUE(res);
        EXPECT_NE(res->body.find("\"mp3\":\"http://photos.example:8080/music/huangshan.mp3\""), std::string::npos);
    }
}

TEST(AlbumServerAddresses, PortEightyIsLeftOutOfAddresses)
{
    Options o;
    o.bind = "127.0.0.7";
    EXPECT_EQ(BaseUrl(o, 80), "http://127.0.0.7");
    EXPECT_EQ(BaseUrl(o, 8080), "http://127.0.0.7:8080");
    o.bind = "0.0.0.0";
    EXPECT_EQ(BaseUrl(o, 80), "http://127.0.0.1");
    o.publicHost = "albums.example";
    EXPECT_EQ(BaseUrl(o, 80), "http://albums.example");
}

TEST(AlbumServerAddresses, IPv6AddressesAreBracketed)
{
    Options o;
    o.bind = "::1";
    EXPECT_EQ(BaseUrl(o, 80), "http://[::1]");
    EXPECT_EQ(BaseUrl(o, 8080), "http://[::1]:8080");
    o.bind = "::";
    EXPECT_EQ(BaseUrl(o, 8080), "http://[::1]:8080");
    o.publicHost = "[2001:db8::5]";
    EXPECT_EQ(BaseUrl(o, 8080), "http://[2001:db8::5]:8080");
    o.publicHost = "[2001:db8::5]:81";
    EXPECT_EQ(BaseUrl(o, 8080), "http://[2001:db8::5]:81");
}

TEST(AlbumServerAddresses, ServesOnIPv6AndWritesBracketedAddresses)
{
    ServerProcess server({"--bind", "::1"});
    const std::string port = std::to_string(server.Port());
    EXPECT_EQ(server.ListeningLine(), "listening on [::1]:" + port);
    httplib::Client cli("::1", server.Port());
    auto res = cli.Get("/cgi-bin/common/cgi_load_flash?uin=10001&fid=2");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("\"url\":\"http://[::1]:" + port + "/photos/huangshan/0.jpg\""), std::string::npos);
}

TEST(AlbumServerAlbums, PairsAndKeysAreUnique)
{
    std::set<std::string> pairs, keys;
    const Catalogue catalogue;
    for (const AlbumSpec& a : catalogue.Albums()) {
        EXPECT_TRUE(pairs.insert(a.uin + "&" + a.fid).second) << a.key;
        EXPECT_TRUE(keys.insert(a.key).second) << a.key;
    }
}

}  // namespace
