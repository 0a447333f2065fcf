// SPDX-License-Identifier: Apache-2.0
// What the album core keeps on disk, against a scripted server: the photo check's view of
// bytes glued behind an image, CMYK images, a decode too large to make; photos found broken
// by a rerun, a link planted at a part file, a folder another run holds, broken or endless
// documents and photos beyond the size limit.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <unistd.h>

#include <QDir>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <climits>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/common/commonDefine.h"
#include "app/common/commonDefineTexts.h"
#include "app/core/albumWorkflow.h"
#include "app/core/jpegDecoder.h"
#include "app/settings/commonDefineServers.h"
#include "platform/Files.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TestJpeg.h"

namespace {

// A 64 x 48 JPEG of one colour, given as the encoder takes it: 3 values (RGB) or 4 (CMYK,
// stored as given, written in YCCK when asked). progressive: several scans.
std::string MakeJpeg(const std::vector<unsigned char>& pixel, bool ycck = false, bool progressive = false) {
    return EncodeTestJpeg(pixel, 64, 48, ycck, progressive);
}

std::string Grey() { return MakeJpeg({0x80, 0x80, 0x80}); }

std::string Check(const std::string& bytes) {
    return CheckJpegBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Files(const std::string& dir) {
    const QStringList names = QDir(QString::fromStdString(dir)).entryList(QDir::Files | QDir::System | QDir::Hidden);
    std::vector<std::string> list;
    for (const QString& n : names) list.push_back(n.toStdString());
    return list;
}

std::string Answer(const std::string& body, bool withLength = true) {
    return "HTTP/1.0 200 OK\r\n" + (withLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") +
           "\r\n" + body;
}

// The view of a test: what the workflow said.
class TRecordingView : public TAlbumView {
public:
    void ShowStatus(const std::string&) override {}
    void AddStatusLine(const std::string& line) override { lines.push_back(line); }
    void ClearPhotos() override {}
    void AddPhoto(const std::string&) override {}
    void PhotoCommitted(int n, int, const std::string&) override { committed.push_back(n); }
    void PhotoRefetched(int n, const std::string& file, const std::string& why) override {
        refetched.push_back(n);
        TAlbumView::PhotoRefetched(n, file, why);
    }
    bool AutoDownloadMusic() const override { return false; }
    void ShowMusic(const std::string&) override {}
    std::vector<std::string> lines;
    std::vector<int> committed, refetched;
};

// Each test's scripted server has a loopback address of its own, made from the test's name:
// the fetcher's port is fixed at 80, and the tests of this suite may run side by side.
std::string OwnAddress() {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (const char* c = ::testing::UnitTest::GetInstance()->current_test_info()->name(); *c; ++c)
        h = (h ^ static_cast<unsigned char>(*c)) * 16777619u;
    return "127.61." + std::to_string(h % 256) + "." + std::to_string(1 + (h / 256) % 254);
}

class AlbumFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppDir = scratch.Path() + "/";  // the temporary page goes here
        TServerSettings servers;
        servers.AlbumHost = server;
        // Usage reports go nowhere, at once.
        servers.ReportHost = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
        SetServers(servers);
    }
    void TearDown() override { AppDir.clear(); }

    // A document with this title and one address per photo on the scripted server.
    std::string Document(const std::string& title, int photos, const std::string& extra = {}) const {
        std::string doc = "{\"name\":\"" + title + "\",\n" + extra + "\"pics\":[\n";
        for (int k = 0; k < photos; ++k) doc += "{\"url\":\"http://" + server + "/p/" + std::to_string(k) + ".jpg\"},\n";
        return doc + "]}\n";
    }
    // Serves one answer on the next connection.
    void Serve(const std::string& answer) { peer->Accept().ReadUntil("\r\n\r\n").Send(answer).Close(); }
    // A new server in the old one's place, for a test of several runs.
    ScriptedPeer& NewPeer() {
        peer.reset();
        peer = std::make_unique<ScriptedPeer>(server, 80);
        return *peer;
    }
    TAlbumOutcome RunWith(const TDownloadSettings& settings, const TAlbumPolicy& policy) {
        return RunAlbumWorkflow(view, base, "", "uin=1&fid=1", settings, policy);
    }

    TAlbumOutcome RunAlbum(bool requireDocument = true, std::int64_t maxPhotoSize = 64 << 20) {
        peer->Start();
        TDownloadSettings settings;
        settings.Connections = 1;
        settings.Retries = 0;
        settings.Pipelining = false;
        settings.MaxPhotoSize = maxPhotoSize;
        TAlbumPolicy policy;
        policy.RequireDocument = requireDocument;
        const TAlbumOutcome outcome = RunWith(settings, policy);
        peer->Join();
        return outcome;
    }

    TScratchDir scratch;
    const std::string base = scratch.Path() + "/albums/";
    const std::string server = OwnAddress();
    std::unique_ptr<ScriptedPeer> peer = std::make_unique<ScriptedPeer>(server, 80);
    TRecordingView view;
};

}  // namespace

TEST(PhotoCheck, AServersNextHeadGluedBehindTheImageFailsOtherTrailersPass) {
    const std::string jpeg = Grey();
    ASSERT_EQ(Check(jpeg), "");
    // A length that lied by 50 bytes: the next answer's head is behind the image.
    for (const std::string& glued : {std::string("HTTP/1.1 200 OK\r\nContent-Length: 4711\r\nContent-Type: ima"),
                                     std::string("\r\nHTTP/1.1 200 OK\r\n"), std::string("HTT"),
                                     std::string("Content-Length: 12\r\n\r\n")}) {
        const std::string why = Check(jpeg + glued);
        EXPECT_EQ(why.rfind("not a JPEG image: an HTTP response head follows the end of the image", 0), 0u)
            << glued << " -> " << why;
    }
    // A camera's trailer, padding, a second image: the file's own.
    for (const std::string& trailer : {std::string(16, '\0'), std::string("\r\n"), Grey(), std::string("Exif data here")})
        EXPECT_EQ(Check(jpeg + trailer), "") << trailer.size();
}

TEST(PhotoCheck, CmykAndYcckComeOutAsRgb) {
    // Red as Adobe stores it: inverted inks, 0 = full ink (cyan none, magenta and yellow full).
    for (const bool ycck : {false, true}) {
        SCOPED_TRACE(ycck ? "YCCK" : "CMYK");
        const std::string jpeg = MakeJpeg({255, 0, 0, 255}, ycck);
        EXPECT_EQ(Check(jpeg), "");
        std::vector<unsigned char> image(64 * 48 * 3);
        TJpegOutput out;
        out.Row = [&](int y) { return image.data() + static_cast<std::size_t>(y) * 64 * 3; };
        DecodeJpeg(reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), 0, 0, out);
        const unsigned char* mid = image.data() + (24 * 64 + 32) * 3;
        EXPECT_GT(mid[0], 240);
        EXPECT_LT(mid[1], 15);
        EXPECT_LT(mid[2], 15);
    }
}

TEST(PhotoCheck, ADecodeBeyondTheMemoryBoundIsNotMadeTheMarkersAreWalkedInstead) {
    // A progressive image claiming 65000 x 65000: its coefficients alone would take 24 GB.
    std::string bomb = MakeJpeg({0x80, 0x80, 0x80}, false, true);
    const std::size_t sof = bomb.find("\xFF\xC2");
    ASSERT_NE(sof, std::string::npos);
    bomb[sof + 5] = bomb[sof + 7] = static_cast<char>(65000 >> 8);
    bomb[sof + 6] = bomb[sof + 8] = static_cast<char>(65000 & 0xFF);
    EXPECT_THROW(DecodeJpeg(reinterpret_cast<const unsigned char*>(bomb.data()), bomb.size(), 1, 1, {}), EJPEGTooLarge);
    // Its structure is whole: it passes the walk, as the same file cut short or glued to a
    // head does not.
    EXPECT_EQ(Check(bomb), "");
    EXPECT_EQ(Check(bomb.substr(0, bomb.size() - 2)).rfind("not a JPEG image: ", 0), 0u);
    EXPECT_NE(Check(bomb + "HTTP/1.1 200 OK\r\n"), "");
    EXPECT_NE(Check(bomb.substr(0, sof) + bomb.substr(sof + 4)), "");  // a segment cut out of it
}

TEST_F(AlbumFilesTest, ARerunKeepsWholePhotosAndFetchesABrokenOneAgainSayingSo) {
    const std::string jpeg = Grey(), other = MakeJpeg({0x10, 0x20, 0x30});
    const std::string folder = base + "T/";
    ASSERT_TRUE(ForceDirectories(folder));
    Write(folder + "0.jpg", jpeg);
    Write(folder + "1.jpg", other + "HTTP/1.1 200 OK\r\nContent-Length: 7");  // left by a lying length
    Write(folder + "2.jpg", other.substr(0, other.size() / 2));               // cut short
    Serve(Answer(Document("T", 3)));
    Serve(Answer(other));  // photo 1
    Serve(Answer(other));  // photo 2; photo 0 is not asked for
    const TAlbumOutcome outcome = RunAlbum();
    EXPECT_EQ(outcome.End, TAlbumOutcome::TEnd::Complete);
    EXPECT_EQ(view.refetched, (std::vector<int>{1, 2}));
    EXPECT_EQ(view.committed, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Read(folder + "0.jpg"), jpeg);
    EXPECT_EQ(Read(folder + "1.jpg"), other);
    EXPECT_EQ(Read(folder + "2.jpg"), other);
    EXPECT_EQ(peer->Connections(), 3u);
    const std::string said = "\xB5\xDA 2 \xD5\xC5\xD5\xD5\xC6\xAC\xD2\xD1\xCB\xF0\xBB\xB5";  // 第 2 张照片已损坏
    ASSERT_FALSE(view.lines.empty());
    EXPECT_EQ(view.lines[0].rfind(said, 0), 0u) << view.lines[0];
}

TEST_F(AlbumFilesTest, ALinkPlantedAtAPartFileIsReplacedNeverWrittenThrough) {
    const std::string jpeg = Grey();
    const std::string folder = base + "T/";
    ASSERT_TRUE(ForceDirectories(folder));
    const std::string precious = scratch.Write("precious.txt", "keep me");
    ASSERT_EQ(::symlink(precious.c_str(), (folder + "0.jpg.part").c_str()), 0);
    Serve(Answer(Document("T", 1)));
    Serve(Answer(jpeg));
    EXPECT_EQ(RunAlbum().End, TAlbumOutcome::TEnd::Complete);
    EXPECT_EQ(Read(precious), "keep me");
    EXPECT_EQ(Read(folder + "0.jpg"), jpeg);
    EXPECT_EQ(Files(folder), std::vector<std::string>{"0.jpg"});
}

TEST_F(AlbumFilesTest, AFolderAnotherRunHoldsEndsTheAlbumAtOnceNamingIt) {
    const std::string folder = base + "T/";
    ASSERT_TRUE(ForceDirectories(folder));
    TFolderLock other;  // the other run
    ASSERT_EQ(other.Lock(folder), TFolderLock::TResult::Locked);
    Serve(Answer(Document("T", 1)));
    const TAlbumOutcome outcome = RunAlbum();
    EXPECT_EQ(outcome.End, TAlbumOutcome::TEnd::FolderBusy);
    EXPECT_NE(outcome.FolderError.find("another run is writing into the folder " + folder), std::string::npos)
        << outcome.FolderError;
    EXPECT_EQ(peer->Connections(), 1u);  // the document only: no photo was asked for
    EXPECT_TRUE(Files(folder).empty());
    // The folder is free again once the other run ended.
    other.Unlock();
    TFolderLock again;
    EXPECT_EQ(again.Lock(folder), TFolderLock::TResult::Locked);
}

TEST_F(AlbumFilesTest, ADocumentCutByANulOrListingFewerPhotosThanItAnnouncesIsAFailure) {
    const std::string jpeg = Grey();
    struct Case {
        std::string document, why;
    };
    const Case cases[] = {
        {Document("T", 2, std::string("\"desc\":\"a\0b\",\n", 14)), "the data document holds a NUL byte at byte "},
        {Document("T", 2, "\"total\":5,\n"), "the data document announces 5 photos but lists 2"},
    };
    for (const bool require : {true, false}) {  // the command line's policy and the window's
        for (const Case& k : cases) {
            SCOPED_TRACE(k.why);
            ScriptedPeer& server = NewPeer();
            server.Accept().ReadUntil("\r\n\r\n").Send(Answer(k.document)).Close();
            server.Start();
            const TAlbumOutcome outcome = RunWith(TDownloadSettings{}, TAlbumPolicy{INT_MAX, require});
            server.Join();
            EXPECT_EQ(outcome.End, TAlbumOutcome::TEnd::DocumentFailed);
            EXPECT_EQ(outcome.DocumentError.rfind(k.why, 0), 0u) << outcome.DocumentError;
            EXPECT_FALSE(DirectoryExists(base));
        }
    }
    // The same document whole, announcing what it lists, is an album.
    NewPeer();
    Serve(Answer(Document("T", 1, "\"total\":1,\n")));
    Serve(Answer(jpeg));
    EXPECT_EQ(RunAlbum().End, TAlbumOutcome::TEnd::Complete);
}

TEST_F(AlbumFilesTest, ADocumentBeyond64MbIsCutAndLeavesNothingBehind) {
    const std::int64_t limit = 64 << 20;
    // Announced, then without a length (it never ends).
    const std::string answers[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(limit + 1) + "\r\n\r\n" + std::string(1000, ' '),
        "HTTP/1.0 200 OK\r\n\r\n" + Document("T", 1) + std::string(limit, ' ')};
    for (const std::string& answer : answers) {
        ScriptedPeer& server = NewPeer();
        server.Accept().ReadUntil("\r\n\r\n").Send(answer).Close();
        server.Start();
        const TAlbumOutcome outcome = RunWith(TDownloadSettings{}, TAlbumPolicy{INT_MAX, false});
        server.Join();
        EXPECT_EQ(outcome.End, TAlbumOutcome::TEnd::DocumentFailed);
        EXPECT_EQ(outcome.DocumentError, "the data document is larger than the limit of 64 MB");
    }
    EXPECT_TRUE(Files(scratch.Path()).empty());  // no page file stays
    EXPECT_FALSE(DirectoryExists(base));
}

TEST_F(AlbumFilesTest, APhotoBeyondTheSizeLimitFailsForGoodNamingTheLimit) {
    const std::string jpeg = Grey();
    const std::int64_t limit = static_cast<std::int64_t>(jpeg.size()) - 1;
    Serve(Answer(Document("T", 1)));
    Serve(Answer(jpeg));  // announced
    Serve(Answer(Document("T", 1)));
    Serve(Answer(jpeg, false));  // grows past it
    peer->Start();
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        TDownloadSettings settings;
        settings.Connections = 1;
        settings.Retries = 3;  // not retried: the limit is final
        settings.MaxPhotoSize = limit;
        const TAlbumOutcome outcome = RunWith(settings, TAlbumPolicy{});
        EXPECT_EQ(outcome.End, TAlbumOutcome::TEnd::PhotoFailed);
        EXPECT_EQ(outcome.FailedReason.rfind("the body is larger than the limit of " + std::to_string(limit) + " bytes", 0), 0u)
            << outcome.FailedReason;
        EXPECT_TRUE(Files(base + "T/").empty());
    }
    peer->Join();
    EXPECT_EQ(peer->Connections(), 4u);
}
