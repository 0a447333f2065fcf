// SPDX-License-Identifier: Apache-2.0
// The album core without a display: the JPEG check, the missing-photo line, and a photo
// queue that is destroyed while a transfer runs.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/common/commonDefineTexts.h"
#include "app/core/albumWorkflow.h"
#include "app/core/jpegDecoder.h"
#include "app/core/photoQueue.h"
#include "base/SysUtils.h"
#include "platform/Files.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TestJpeg.h"

namespace {

// A small grey JPEG, made the way any camera's file is.
std::string SmallJpeg() { return EncodeTestJpeg({0x80, 0x80, 0x80}); }

void Write(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

TEST(PhotoCheck, OnlyAWholeJpegPasses) {
    TScratchDir dir;
    const std::string jpeg = SmallJpeg();
    const std::string path = dir.Path() + "/p.jpg";
    Write(path, jpeg);
    EXPECT_EQ(CheckJpegFile(path), "");
    EXPECT_EQ(CheckJpegFile(path, static_cast<std::int64_t>(jpeg.size())), "");
    EXPECT_EQ(CheckJpegFile(path, static_cast<std::int64_t>(jpeg.size()) - 1).rfind("the photo is larger than the limit", 0), 0u);
    for (const std::string& bad : {std::string("<html><body>please log in</body></html>"), jpeg.substr(0, jpeg.size() / 2),
                                   jpeg.substr(0, jpeg.size() - 2), std::string()}) {
        Write(path, bad);
        EXPECT_EQ(CheckJpegFile(path).rfind("not a JPEG image: ", 0), 0u) << bad.size() << " bytes";
    }
    EXPECT_EQ(CheckJpegFile(dir.Path() + "/none.jpg").rfind("cannot read the photo: ", 0), 0u);
}

TEST(AlbumWorkflow, TheMissingLineNamesPhotosFromOneWithRunsShortened) {
    const auto line = [](const std::vector<int>& missing) {
        // The numbers sit between "第 " and " 张".
        const std::string text = MissingPhotosLine(missing);
        const std::string start = "\xB5\xDA ";
        const std::size_t from = text.find(start) + start.size();
        return text.substr(from, text.rfind(" \xD5\xC5") - from);
    };
    const std::string sep = sNumberSeparator;
    EXPECT_EQ(line({30, 56}), "31" + sep + "57");
    EXPECT_EQ(line({0, 1}), "1" + sep + "2");
    EXPECT_EQ(line({2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), "3-12");
    EXPECT_EQ(line({0, 1, 2, 5, 7, 8}), "1-3" + sep + "6" + sep + "8" + sep + "9");
    EXPECT_EQ(MissingPhotosLine({4, 9}), Format(sPhotosMissingFmt, 2, ("5" + sep + "10").c_str()));
}

TEST(PhotoQueue, ADestroyedQueueCutsItsTransfersAndLeavesNoPart) {
    // Photo 0 arrives whole; photo 1, fetched ahead, never gets an answer.
    TScratchDir dir;
    ScriptedPeer server("127.0.6.42", 80), silent("127.0.6.43", 80);
    const std::string jpeg = SmallJpeg();
    server.Accept().ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg)
        .Close().Start();
    silent.Accept().ReadUntil("\r\n\r\n").ReadToEnd().Close().Start();
    const std::string folder = dir.Path() + "/";
    auto queue = std::make_unique<TPhotoQueue>(
        std::vector<TPhotoQueue::TPhoto>{{"http://127.0.6.42/0.jpg", folder + "0.jpg"},
                                         {"http://127.0.6.43/1.jpg", folder + "1.jpg"}},
        2, 0);
    ASSERT_EQ(queue->Fetch(0), TPhotoQueue::TResult::Committed);
    queue.reset();  // without Abandon: photo 1's transfer is cut and waited for
    silent.Join();  // it saw the close (the receive timeout is 60 s)
    server.Join();
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"0.jpg"});
}
