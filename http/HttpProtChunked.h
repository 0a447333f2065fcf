// SPDX-License-Identifier: Apache-2.0
#pragma once
// The body of a "Transfer-Encoding: chunked" answer, decoded as its bytes arrive in any
// split: chunk sizes in hex (leading zeros allowed, at most 2^60), extensions after ";"
// skipped (at most 4096 bytes per size line), each chunk's data followed by its line end,
// then the last chunk ("0"), trailer lines (at most 64 KB in all, not used) and the empty
// line that ends the message. Line ends are CR LF or a bare LF.
#include <cstddef>
#include <cstdint>
#include <functional>

class THttpChunkDecoder {
public:
    using TOutput = std::function<void(const char* data, std::size_t len)>;

    // Takes the next bytes as sent and passes the chunks' data to out, in order. Stops at
    // the end of the message: bytes after it are not taken. Returns the count taken.
    // Raises EHttpException (code 404, "invalid chunked body: ...") where the framing is
    // broken; the decoder is of no further use then.
    std::size_t Feed(const char* data, std::size_t len, const TOutput& out);
    // The last chunk has been read: every byte of the body is there (trailers may follow).
    bool BodyComplete() const { return state_ >= TState::TrailerStart; }
    // The whole message has been read, up to the empty line after the trailers.
    bool Done() const { return state_ == TState::Done; }
    void Reset() { *this = THttpChunkDecoder(); }

    static constexpr std::size_t MaxSizeLine = 4096;
    static constexpr std::size_t MaxTrailer = 64 * 1024;

private:
    enum class TState { Size, Extension, SizeLf, Data, DataCr, DataLf, TrailerStart, TrailerLine, TrailerLf, Done };
    [[noreturn]] static void Broken(const char* why);
    void EndOfSizeLine();

    TState state_ = TState::Size;
    std::uint64_t size_ = 0;     // of the chunk being read: its size, then what is left of it
    std::size_t digits_ = 0;     // hex digits of the size line so far
    std::size_t lineBytes_ = 0;  // of the size line, or of the trailer in all
};
