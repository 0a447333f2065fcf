// SPDX-License-Identifier: Apache-2.0
#pragma once
// Byte streams: the interface the transfers write documents into, and three kinds of it.
// A stream handed to a component by its caller is never owned by the component.
#include <cstdint>
#include <string>
#include <vector>

enum class TSeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream();

    // Read/Write move up to count bytes and return how many moved (0 at the end / on failure).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::Begin); }
    virtual std::int64_t Size();

    // All-or-nothing forms: raise EStreamError when fewer bytes moved than asked ("Stream
    // read error"; for a write, the stream's WriteFailed).
    void WriteBuffer(const void* buffer, std::int64_t count);
    void ReadBuffer(void* buffer, std::int64_t count);

    // Writes out whatever the stream still holds back from earlier writes; raises
    // EStreamError (WriteFailed) when that fails. A stream that holds nothing back (all but
    // TBufferedFileStream) has nothing to do.
    virtual void FlushBuffer() {}

protected:
    // Raises the EStreamError of a write that did not complete: "Stream write error" here;
    // a file says the system's reason and its path.
    [[noreturn]] virtual void WriteFailed();
};

// A file opened by path (the path's bytes are given to the file system unchanged).
class TFileStream : public TStream {
public:
    enum Mode { fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreateNoLink };
    // fmCreate creates or truncates. fmCreateNoLink does the same but never through a
    // symbolic link: a link in the file's place is removed (its target is left alone) and a
    // new file made there, exclusively; a FIFO with no reader is refused instead of waited
    // for. Raises EStreamError (SystemError set)
    // "Cannot create file "<path>". <reason>" / "Cannot open file "<path>". <reason>".
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    const std::string& FileName() const { return path_; }

    // Writes out what is held back, then makes the file's bytes durable (fdatasync). Raises
    // EStreamError "<reason>: <path>" when either fails.
    void Sync();

protected:
    // Raises EStreamError "<the system's reason>: <path>" ("no space left on device:
    // /a/12.jpg.part"), with SystemError set; "write error: <path>" when the system gave none.
    [[noreturn]] void WriteFailed() override;

private:
    std::string path_;
    int fd_ = -1;
    int writeError_ = 0;  // errno of the last write that failed
};

// A file stream that gathers small writes and hands them to the file in blocks of
// BlockSize bytes: one system write per 8 KB block costs a document transfer noticeably
// more than one per 64 KB. A write that cannot be completed fails (Write returns 0) at the
// latest when its block is written out; the bytes of a failed block are dropped, not tried
// again. Reads, seeks and sizes see the held bytes as written. The destructor writes out
// what is held but cannot report a failure: call FlushBuffer to learn of it.
class TBufferedFileStream : public TFileStream {
public:
    static constexpr std::int64_t BlockSize = 64 * 1024;

    TBufferedFileStream(const std::string& path, Mode mode);
    ~TBufferedFileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void FlushBuffer() override;

private:
    bool WriteHeld();  // false when the held bytes could not be written (they are dropped)

    std::vector<char> held_;
};

// A growable block of bytes in memory.
class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    const std::uint8_t* Memory() const { return data_.data(); }
    void Clear() { data_.clear(); pos_ = 0; }

private:
    std::vector<std::uint8_t> data_;
    std::int64_t pos_ = 0;
};

// A stream over a byte string, readable as a whole with DataString().
class TStringStream : public TStream {
public:
    explicit TStringStream(std::string initial = {}) : data_(std::move(initial)) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    const std::string& DataString() const { return data_; }

private:
    std::string data_;
    std::int64_t pos_ = 0;
};
