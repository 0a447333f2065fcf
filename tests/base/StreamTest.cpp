// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

namespace {
std::string FileText(const std::string& path) {
    TFileStream f(path, TFileStream::fmOpenRead);
    std::string s(static_cast<size_t>(f.Size()), '\0');
    f.ReadBuffer(s.data(), static_cast<std::int64_t>(s.size()));
    return s;
}
}  // namespace

// Small writes are held back and reach the file in blocks, in order; reads, seeks and
// sizes see them as written, and the destructor writes out the rest.
TEST(Stream, BufferedFileStreamHoldsSmallWritesAndKeepsTheirOrder) {
    char dir[] = "/tmp/fv-stream-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/b.bin";
    std::string expected;
    {
        TBufferedFileStream f(path, TFileStream::fmCreate);
        for (int i = 0; i < 20; ++i) {  // 20 blocks of 8 KB, each a different letter
            const std::string block(8192, static_cast<char>('a' + i));
            f.WriteBuffer(block.data(), 8192);
            expected += block;
        }
        EXPECT_LT(FileText(path).size(), expected.size());  // the last blocks are held back
        EXPECT_EQ(FileText(path), expected.substr(0, FileText(path).size()));
        const std::string big(3 * TBufferedFileStream::BlockSize, 'Z');  // goes straight through
        f.WriteBuffer(big.data(), static_cast<std::int64_t>(big.size()));
        expected += big;
        f.WriteBuffer("tail", 4);
        expected += "tail";
        EXPECT_EQ(f.Size(), static_cast<std::int64_t>(expected.size()));
        f.SetPosition(8192 * 3);
        char c = 0;
        f.ReadBuffer(&c, 1);
        EXPECT_EQ(c, 'd');
        f.SetPosition(f.Size());
        f.WriteBuffer("!", 1);
        expected += "!";
    }
    EXPECT_EQ(FileText(path), expected);
    unlink(path.c_str());
    rmdir(dir);
}

// A device that takes nothing: the failure shows at the write that sends a block out, or
// at FlushBuffer for what is still held, and failed bytes are not tried twice.
TEST(Stream, BufferedFileStreamReportsAFailingFile) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    TBufferedFileStream f("/dev/full", TFileStream::fmOpenWrite);
    const std::string block(8192, 'x');
    f.WriteBuffer(block.data(), 8192);  // held back: no failure yet
    try {
        f.FlushBuffer();
        ADD_FAILURE() << "no failure";
    } catch (const EStreamError& e) {  // the system's reason and the file
        EXPECT_EQ(e.Message(), "no space left on device: /dev/full");
        EXPECT_EQ(e.SystemError(), ENOSPC);
    }
    EXPECT_NO_THROW(f.FlushBuffer());  // the failed bytes are gone
    int accepted = 0;
    try {
        for (; accepted < 20; ++accepted) f.WriteBuffer(block.data(), 8192);
    } catch (const EStreamError&) {
    }
    EXPECT_EQ(accepted, static_cast<int>(TBufferedFileStream::BlockSize / 8192));
}

// A part file is never written through a symbolic link: the link is replaced by a file of
// its own and its target stays as it was; a FIFO planted there fails at once.
TEST(Stream, CreateNoLinkReplacesALinkAndNeverWritesThroughIt) {
    char dir[] = "/tmp/fv-stream-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string target = std::string(dir) + "/target", part = std::string(dir) + "/0.jpg.part";
    { TFileStream(target, TFileStream::fmCreate).WriteBuffer("keep", 4); }
    ASSERT_EQ(symlink(target.c_str(), part.c_str()), 0);
    {
        TBufferedFileStream f(part, TFileStream::fmCreateNoLink);
        f.WriteBuffer("new", 3);
        f.Sync();
    }
    EXPECT_EQ(FileText(target), "keep");
    EXPECT_EQ(FileText(part), "new");
    struct stat st;
    ASSERT_EQ(lstat(part.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    unlink(part.c_str());
    ASSERT_EQ(mkfifo(part.c_str(), 0600), 0);
    EXPECT_THROW(TFileStream(part, TFileStream::fmCreateNoLink), EStreamError);
    unlink(part.c_str());
    unlink(target.c_str());
    rmdir(dir);
}
