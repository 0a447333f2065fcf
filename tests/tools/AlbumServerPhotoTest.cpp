// SPDX-License-Identifier: Apache-2.0
// Photos and music as a downloader receives them: decodable JPEGs of the announced
// sizes, and the deliberately failing ones (missing, cut off, damaged, slow).
#include "Catalogue.h"
#include "JpegProbe.h"
#include "PhotoStore.h"
#include "RawHttp.h"
#include "ServerProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

namespace {

std::string Request10(const std::string& path)
{
    return "GET " + path + " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: test\r\nHost: 127.0.0.1\r\n\r\n";
}

const AlbumSpec& AlbumByKey(const Catalogue& c, const char* key)
{
    const AlbumSpec* a = c.FindByKey(key);
    if (!a)
        throw std::runtime_error(std::string("no album ") + key);
    return *a;
}

TEST(AlbumServerPhotos, DemoPhotosDecodeToTheirSizesAndAreStable)
{
    ServerProcess server;
    httplib::Client cli("127.0.0.1", server.Port());
    const Catalogue catalogue;
    const AlbumSpec& xihu = AlbumByKey(catalogue, "xihu");
    std::set<std::pair<int, int>> sizes;
    for (int i = 0; i < xihu.photoCount; ++i) {
        SCOPED_TRACE(i);
        auto res = cli.Get("/photos/xihu/" + std::to_string(i) + ".jpg");
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "image/jpeg");
        EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(res->body.size()));
        const JpegInfo info = DecodeJpeg(res->body);
        EXPECT_TRUE(info.ok);
        EXPECT_EQ(info.width, xihu.SizeOf(i).width);
        EXPECT_EQ(info.height, xihu.SizeOf(i).height);
        EXPECT_GE(info.width, 240);
        EXPECT_LE(info.width, 1024);
        sizes.insert({info.width, info.height});
        // Same bytes from a fresh encoder: nothing depends on time or on the process.
        EXPECT_EQ(res->body, MakePhotoJpeg(xihu, i));
    }
    EXPECT_GE(sizes.size(), 4u);

    auto other = cli.Get("/photos/huangshan/0.jpg");
    ASSERT_TRUE(other);
    EXPECT_NE(other->body, MakePhotoJpeg(xihu, 0));
    EXPECT_TRUE(DecodeJpeg(other->body).ok);
}

TEST(AlbumServerPhotos, MissingPhotosAnswerNotFound)
{
    ServerProcess server;
    httplib::Client cli("127.0.0.1", server.Port());
    for (const char* path : {"/photos/missing/1.jpg", "/photos/missing/3.jpg", "/photos/nosuch/0.jpg",
                             "/photos/empty/0.jpg", "/music/nomusic.mp3", "/music/nosuch.mp3"}) {
        SCOPED_TRACE(path);
        auto res = cli.Get(path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404);
    }
    auto neighbour = cli.Get("/photos/missing/2.jpg");
    ASSERT_TRUE(neighbour);
    EXPECT_EQ(neighbour->status, 200);
}

TEST(AlbumServerPhotos, CutOffPhotoAnnouncesItsLengthSendsHalfAndCloses)
{
    ServerProcess server;
    const Catalogue catalogue;
    const AlbumSpec& album = AlbumByKey(catalogue, "cutoff");
    const std::string full = MakePhotoJpeg(album, 1);

    const RawResponse r = RawExchange(server.Port(), Request10("/photos/cutoff/1.jpg"));
    EXPECT_TRUE(r.head.starts_with("HTTP/1.1 200")) << r.head;
    EXPECT_EQ(r.ContentLength(), static_cast<long long>(full.size()));
    EXPECT_TRUE(r.closedByPeer);
    EXPECT_GT(r.body.size(), 0u);
    EXPECT_LT(r.body.size(), full.size());
    EXPECT_EQ(r.body, full.substr(0, r.body.size()));
    EXPECT_FALSE(DecodeJpeg(r.body).ok);

    // Its neighbours are whole.
    const RawResponse next = RawExchange(server.Port(), Request10("/photos/cutoff/2.jpg"));
    EXPECT_EQ(next.body, MakePhotoJpeg(album, 2));
}

TEST(AlbumServerPhotos, DamagedPhotoArrivesWholeButIsNoJpeg)
{
    ServerProcess server;
    const RawResponse r = RawExchange(server.Port(), Request10("/photos/damaged/1.jpg"));
    EXPECT_TRUE(r.head.starts_with("HTTP/1.1 200")) << r.head;
    EXPECT_EQ(r.ContentLength(), static_cast<long long>(r.body.size()));
    EXPECT_GT(r.body.size(), 0u);
    EXPECT_FALSE(DecodeJpeg(r.body).ok);
    const Catalogue catalogue;
    const RawResponse next = RawExchange(server.Port(), Request10("/photos/damaged/2.jpg"));
    EXPECT_EQ(next.body, MakePhotoJpeg(AlbumByKey(catalogue, "damaged"), 2));
}

TEST(AlbumServerPhotos, SlowPhotoArrivesWholeButNoFasterThanTheRate)
{
    const std::size_t rate = 200000;
    ServerProcess server({"--slow-rate", std::to_string(rate)});
    const Catalogue catalogue;
    const AlbumSpec& album = AlbumByKey(catalogue, "slow");
    const std::string full = MakePhotoJpeg(album, 1);

    const auto start = std::chrono::steady_clock::now();
    const RawResponse r = RawExchange(server.Port(), Request10("/photos/slow/1.jpg"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.ContentLength(), static_cast<long long>(full.size()));
    EXPECT_EQ(r.body, full);
    // A lower bound only: pacing guarantees it however loaded the machine is.
    EXPECT_GE(elapsed, std::chrono::microseconds(full.size() * 1000000 / rate) * 9 / 10);
}

TEST(AlbumServerPhotos, StopEndsASlowTransferPromptly)
{
    ServerProcess server({"--slow-rate", "1000"});  // the photo alone would take about 20 s
    std::thread client([&] { RawExchange(server.Port(), Request10("/photos/slow/1.jpg"), 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(server.Stop(5000), 0);
    client.join();
}

TEST(AlbumServerPhotos, MusicIsTheTuneAsAnMp3)
{
    ServerProcess server;
    httplib::Client cli("127.0.0.1", server.Port());
    auto res = cli.Get("/music/xihu.mp3");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "audio/mpeg");
    std::ifstream in(TUNE_MP3, std::ios::binary);
    const std::string tune{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(tune.size(), 4096u);
    EXPECT_EQ(res->body, tune);
    // An MPEG audio frame header (sync bits) or an ID3 tag in front of one.
    const auto b0 = static_cast<unsigned char>(res->body[0]), b1 = static_cast<unsigned char>(res->body[1]);
    EXPECT_TRUE((b0 == 0xFF && (b1 & 0xE0) == 0xE0) || res->body.starts_with("ID3"));
}

TEST(AlbumServerPhotos, MusicOptionServesAnotherFile)
{
    const std::string path = testing::TempDir() + "album-server-music.bin";
    const std::string bytes("not really \0 an mp3", 19);
    std::ofstream(path, std::ios::binary) << bytes;
    ServerProcess server({"--music", path});
    httplib::Client cli("127.0.0.1", server.Port());
    auto res = cli.Get("/music/three.mp3");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, bytes);
}

}  // namespace
