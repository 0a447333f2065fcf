// SPDX-License-Identifier: Apache-2.0
#include "base/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Exception.h"
#include "base/SysUtils.h"

TStream::~TStream() = default;

std::int64_t TStream::Size() {
    const std::int64_t pos = Position();
    const std::int64_t size = Seek(0, TSeekOrigin::End);
    SetPosition(pos);
    return size;
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    if (count > 0 && Write(buffer, count) != count) WriteFailed();
}

void TStream::WriteFailed() { throw EStreamError("Stream write error"); }

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

namespace {

// A new file at path that no symbolic link leads to: O_NOFOLLOW refuses a link in the last
// component (ELOOP); such a link is removed and the file made exclusively, so that a link
// planted again in between fails the open instead of being followed. O_NONBLOCK: a FIFO
// planted there never blocks the open; it is refused (ENXIO).
int CreateNoLink(const std::string& path) {
    constexpr int kFlags = O_CLOEXEC | O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.c_str(), kFlags | O_TRUNC, 0644);
    if (fd < 0 && errno == ELOOP) {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::unlink(path.c_str()) == 0)
            fd = ::open(path.c_str(), kFlags | O_EXCL, 0644);
        else
            errno = ELOOP;
    }
    if (fd < 0) return fd;
    // A FIFO opened for reading and writing does not block: refuse it as a writer-only
    // open would (ENXIO), and sockets alike.
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        errno = ENXIO;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case fmOpenRead: flags |= O_RDONLY; break;
        case fmOpenWrite: flags |= O_WRONLY; break;
        case fmOpenReadWrite: flags |= O_RDWR; break;
        case fmCreateNoLink: break;
    }
    fd_ = mode == fmCreateNoLink ? CreateNoLink(path) : ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        const int error = errno;
        const char* what = mode == fmCreate || mode == fmCreateNoLink ? "Cannot create file \"" : "Cannot open file \"";
        throw EStreamError(what + path + "\". " + std::strerror(error), error);
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeError_ = n < 0 ? errno : 0;
            break;
        }
        done += n;
    }
    return done;
}

void TFileStream::WriteFailed() {
    const int error = writeError_;
    throw EStreamError((error != 0 ? SysErrorMessage(error) : std::string("write error")) + ": " + path_, error);
}

void TFileStream::Sync() {
    FlushBuffer();
    // The data and what is needed to read it back (its size); not the times. EINVAL: a file
    // that cannot be synchronised (a device, a pipe): nothing to wait for.
    if (::fdatasync(fd_) != 0 && errno != EINVAL) {
        const int error = errno;
        throw EStreamError(SysErrorMessage(error) + ": " + path_, error);
    }
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::Begin ? SEEK_SET : origin == TSeekOrigin::Current ? SEEK_CUR : SEEK_END;
    return ::lseek(fd_, offset, whence);
}

TBufferedFileStream::TBufferedFileStream(const std::string& path, Mode mode) : TFileStream(path, mode) {
    held_.reserve(static_cast<size_t>(BlockSize));
}

TBufferedFileStream::~TBufferedFileStream() { WriteHeld(); }

bool TBufferedFileStream::WriteHeld() {
    if (held_.empty()) return true;
    const auto size = static_cast<std::int64_t>(held_.size());
    const bool written = TFileStream::Write(held_.data(), size) == size;
    held_.clear();
    return written;
}

std::int64_t TBufferedFileStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    if (static_cast<std::int64_t>(held_.size()) + count > BlockSize && !WriteHeld()) return 0;
    // A block of its own size or more goes straight through: copying it gains nothing.
    if (count >= BlockSize) return TFileStream::Write(buffer, count);
    const char* bytes = static_cast<const char*>(buffer);
    held_.insert(held_.end(), bytes, bytes + count);
    return count;
}

std::int64_t TBufferedFileStream::Read(void* buffer, std::int64_t count) {
    if (!WriteHeld()) return 0;
    return TFileStream::Read(buffer, count);
}

std::int64_t TBufferedFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    // A held byte's position is where it will be written: write them out first. Failing
    // that, the seek fails as a file seek does (-1).
    if (!WriteHeld()) return -1;
    return TFileStream::Seek(offset, origin);
}

void TBufferedFileStream::FlushBuffer() {
    if (!WriteHeld()) WriteFailed();
}

namespace {
// Shared seek rule of the in-memory streams: the position may not go below 0.
std::int64_t MoveTo(std::int64_t& pos, std::int64_t size, std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t base = origin == TSeekOrigin::Begin ? 0 : origin == TSeekOrigin::Current ? pos : size;
    pos = std::max<std::int64_t>(0, base + offset);
    return pos;
}
}  // namespace

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t n = std::max<std::int64_t>(0, std::min(count, Size() - pos_));
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    if (pos_ + count > Size()) data_.resize(static_cast<size_t>(pos_ + count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    return MoveTo(pos_, Size(), offset, origin);
}

std::int64_t TStringStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t n = std::max<std::int64_t>(0, std::min(count, Size() - pos_));
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

std::int64_t TStringStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    if (pos_ + count > Size()) data_.resize(static_cast<size_t>(pos_ + count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

std::int64_t TStringStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    return MoveTo(pos_, Size(), offset, origin);
}
