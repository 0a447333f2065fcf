#include <gtest/gtest.h>

#include <unistd.h>

#include "base/Exception.h"
#include "base/Stream.h"

TEST(Stream, MemoryAndStringStreamsReadBackWhatWasWritten) {
    TMemoryStream m;
    m.WriteBuffer("hello", 5);
    m.SetPosition(1);
    m.WriteBuffer("EL", 2);
    EXPECT_EQ(m.Size(), 5);
    m.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 5);
    EXPECT_STREQ(buf, "hELlo");
    EXPECT_THROW(m.ReadBuffer(buf, 1), EStreamError);

    TStringStream s;
    s.WriteBuffer("abc", 3);
    s.Seek(-1, TSeekOrigin::End);
    s.WriteBuffer("XY", 2);
    EXPECT_EQ(s.DataString(), "abXY");
}

TEST(Stream, FileStreamCreatesTruncatesAndReportsFailures) {
    char dir[] = "/tmp/fv-stream-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/f.bin";
    {
        TFileStream f(path, TFileStream::fmCreate);
        f.WriteBuffer("0123456789", 10);
    }
    {
        TFileStream f(path, TFileStream::fmCreate);  // truncates
        f.WriteBuffer("ab", 2);
    }
    TFileStream r(path, TFileStream::fmOpenRead);
    EXPECT_EQ(r.Size(), 2);
    try {
        TFileStream bad(std::string(dir) + "/no/such/f", TFileStream::fmCreate);
        ADD_FAILURE();
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + std::string(dir) + "/no/such/f\". ", 0), 0u);
    }
    unlink(path.c_str());
    rmdir(dir);
}
