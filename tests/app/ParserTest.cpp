// SPDX-License-Identifier: Apache-2.0
// The album parser over a scripted server: what it picks out of a data document, how the
// page is read back, and what a failed fetch gives.
#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "app/common/commonDefine.h"
#include "app/settings/locations.h"
#include "app/core/parser.h"
#include "base/Exception.h"
#include "platform/Files.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"

namespace {

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override { AppDir = scratch.Path() + "/"; }
    void TearDown() override { AppDir.clear(); }

    // Serves one response with the given body and returns the address to fetch.
    std::string Serve(const std::string& body, const std::string& status = "200 OK") {
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 " + status + "\r\n\r\n" + body).Close();
        peer.Start();
        return "http://127.0.0.1:" + std::to_string(peer.Port()) + "/cgi-bin/common/cgi_load_flash?uin=1&fid=2";
    }

    std::vector<std::string> Urls(const TPhotoList& photos) {
        std::vector<std::string> urls;
        for (const auto& p : photos) urls.push_back(p->Url);
        return urls;
    }

    TScratchDir scratch;
    ScriptedPeer peer;
};

}  // namespace

TEST_F(ParserTest, PicksTheFirstTitleAndMusicAndEveryPhotoInOrder) {
    T6cnAlbumParser parser;
    auto photos = parser.Parse(Serve(R"({"name":"Trip","mp3":"","pics":[{"url":"a.jpg"},{"url":"b.jpg"}],"name":"Other"})"));
    EXPECT_EQ(parser.Title, "Trip");
    EXPECT_EQ(parser.MusicUrl, "");
    EXPECT_EQ(Urls(*photos), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    peer.Join();
    EXPECT_EQ(peer.Received().rfind("GET /cgi-bin/common/cgi_load_flash?uin=1&fid=2 HTTP/1.0\r\n", 0), 0u);
}

TEST_F(ParserTest, ValuesAreTakenExactlyAsTheyStand) {
    T6cnAlbumParser parser;
    auto photos = parser.Parse(Serve(
        "{\"mp3\":\"http:\\/\\/h\\/m.mp3\",\n\"URL\":\"upper.jpg\",\n\"url\":\"\",\n\"url\":\"a\\\"b\",\n\"url\":\"\xD5\xFD.jpg\"}\n"));
    EXPECT_EQ(parser.Title, "");  // no name pair
    EXPECT_EQ(parser.MusicUrl, "http:\\/\\/h\\/m.mp3");
    // "URL" in capitals is not a key; an empty value is a photo; a quote ends a value.
    EXPECT_EQ(Urls(*photos), (std::vector<std::string>{"", "a\\", "\xD5\xFD.jpg"}));
}

TEST_F(ParserTest, AValueBrokenByALineEndKeepsTheLineEndAsCrLf) {
    T6cnAlbumParser parser;
    auto photos = parser.Parse(Serve("\"name\":\"two\nlines\"\n\"url\":\"x.jpg\""));
    EXPECT_EQ(parser.Title, "two\r\nlines");
    EXPECT_EQ(Urls(*photos), std::vector<std::string>{"x.jpg"});
}

TEST_F(ParserTest, GetPageReadsEveryLineBreakBackAsCrLfAndStopsAtNul) {
    std::string page;
    const std::string file = scratch.File("page.txt");
    TBaseAlbumParser::GetPage(Serve(std::string("a\r\nb\rc\nd\r\r\ne\0f\nnot seen", 23)), file, page);
    EXPECT_EQ(page, "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    EXPECT_TRUE(FileExists(file));
}

// A data document whose connection is reset, or whose answer is a 503, is fetched again;
// a 404 is not.
TEST_F(ParserTest, ADocumentThatFailsForAPassingReasonIsFetchedAgain) {
    const std::string doc = R"({"name":"Trip","pics":[{"url":"a.jpg"}]})";
    peer.Accept().ReadUntil("\r\n\r\n").Reset();
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 503 Busy\r\n\r\n").Close();
    T6cnAlbumParser parser;
    auto photos = parser.Parse(Serve(doc));
    peer.Join();
    EXPECT_EQ(parser.DocumentError, "");
    EXPECT_EQ(Urls(*photos), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(peer.Connections(), 3u);

    ScriptedPeer missing;
    missing.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n").Close();
    missing.Start();
    T6cnAlbumParser again;
    again.Parse("http://127.0.0.1:" + std::to_string(missing.Port()) + "/cgi-bin/common/cgi_load_flash?uin=1&fid=2");
    missing.Join();
    EXPECT_NE(again.DocumentError, "");
    EXPECT_EQ(missing.Connections(), 1u);
}

TEST_F(ParserTest, GetPageCallsACutOffTransferIncomplete) {
    // A reset in the middle of a body without length, then the same body closed normally.
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(1000, 'm')).Delay(50).Reset();
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(1000, 'm')).Close();
    peer.Start();
    const std::string url = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/background.mp3";
    std::string page;
    EXPECT_FALSE(TBaseAlbumParser::GetPage(url, scratch.File("cut.mp3"), page));
    EXPECT_TRUE(TBaseAlbumParser::GetPage(url, scratch.File("whole.mp3"), page));
}

TEST_F(ParserTest, AnUnreachableServerGivesAnEmptyAlbum) {
    T6cnAlbumParser parser;
    auto photos = parser.Parse("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/cgi-bin/common/cgi_load_flash?x");
    EXPECT_TRUE(photos->empty());
    EXPECT_EQ(parser.Title, "");
    // The run's page file is gone again: nothing is left behind, success or not.
    EXPECT_TRUE(QDir(QString::fromStdString(scratch.Path())).entryList(QDir::Files).isEmpty());
}

TEST_F(ParserTest, AnErrorPageIsParsedAsWhatArrived) {
    T6cnAlbumParser parser;
    auto photos = parser.Parse(Serve("{\"url\":\"from-error-page.jpg\"}", "404 Not Found"));
    EXPECT_EQ(Urls(*photos), std::vector<std::string>{"from-error-page.jpg"});
}

TEST_F(ParserTest, APageFileThatCannotBeCreatedRaises) {
    // A temporary folder that is not there: no page file can be made in it, even as root.
    SetWritableFolderCheck([](const std::string&) { return true; });
    AppDir = scratch.Path() + "/missing/";
    T6cnAlbumParser parser;
    EXPECT_THROW(parser.Parse("http://127.0.0.1:9/x"), EStreamError);
    SetWritableFolderCheck({});
}

// Two documents fetched at once into one temporary folder (a second run's fetch inside the
// first one's wait, the second document longer): each run reads its own page, never the
// other's bytes behind its own.
TEST_F(ParserTest, TwoDocumentsAtOnceEachReadTheirOwnPage) {
    const std::string first = "{\"name\":\"X\",\"url\":\"x0.jpg\"}";
    const std::string second = "{\"name\":\"Y\",\"url\":\"y0.jpg\",\"url\":\"y1.jpg\",\"url\":\"y2.jpg\"}";
    ScriptedPeer slow, fast;
    slow.Accept().ReadUntil("\r\n\r\n").Delay(500).Send("HTTP/1.0 200 OK\r\n\r\n" + first).Close();
    fast.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n" + second).Close();
    slow.Start();
    fast.Start();
    std::string secondPage;
    QTimer::singleShot(100, [&] {
        TBaseAlbumParser::GetPage("http://127.0.0.1:" + std::to_string(fast.Port()) + "/y", "", secondPage);
    });
    std::string firstPage;
    EXPECT_TRUE(TBaseAlbumParser::GetPage("http://127.0.0.1:" + std::to_string(slow.Port()) + "/x", "", firstPage));
    slow.Join();
    fast.Join();
    EXPECT_EQ(secondPage, second + "\r\n");  // fetched inside the first one's wait
    EXPECT_EQ(firstPage, first + "\r\n");
    EXPECT_TRUE(QDir(QString::fromStdString(scratch.Path())).entryList(QDir::Files).isEmpty());
}
