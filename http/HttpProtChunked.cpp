// SPDX-License-Identifier: Apache-2.0
#include "http/HttpProtChunked.h"

#include <algorithm>
#include <string>

#include "http/HttpProt.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 60;

}  // namespace

void THttpChunkDecoder::Broken(const char* why) {
    throw EHttpException(std::string("invalid chunked body: ") + why, 404);
}

void THttpChunkDecoder::EndOfSizeLine() {
    if (size_ == 0) {
        state_ = TState::TrailerStart;
        lineBytes_ = 0;
    } else {
        state_ = TState::Data;
    }
}

std::size_t THttpChunkDecoder::Feed(const char* data, std::size_t len, const TOutput& out) {
    std::size_t i = 0;
    while (i < len && state_ != TState::Done) {
        const char c = data[i];
        switch (state_) {
            case TState::Size: {
                if (++lineBytes_ > MaxSizeLine) Broken("chunk size line too long");
                const int v = HexValue(c);
                if (v >= 0) {
                    if (size_ >= kMaxChunk / 16) Broken("chunk size too large");
                    size_ = size_ * 16 + static_cast<std::uint64_t>(v);
                    ++digits_;
                } else if (digits_ == 0) {
                    Broken("no chunk size");
                } else if (c == ';' || c == ' ' || c == '\t') {
                    state_ = TState::Extension;
                } else if (c == '\r') {
                    state_ = TState::SizeLf;
                } else if (c == '\n') {
                    EndOfSizeLine();
                } else {
                    Broken("bad character in a chunk size");
                }
                ++i;
                break;
            }
            case TState::Extension:
                if (c == '\r')
                    state_ = TState::SizeLf;
                else if (c == '\n')
                    EndOfSizeLine();
                else if (++lineBytes_ > MaxSizeLine)
                    Broken("chunk size line too long");
                ++i;
                break;
            case TState::SizeLf:
                if (c != '\n') Broken("CR without LF after a chunk size");
                EndOfSizeLine();
                ++i;
                break;
            case TState::Data: {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size_, len - i));
                out(data + i, n);
                size_ -= n;
                i += n;
                if (size_ == 0) state_ = TState::DataCr;
                break;
            }
            case TState::DataCr:
            case TState::DataLf:
                if (c == '\r' && state_ == TState::DataCr) {
                    state_ = TState::DataLf;
                } else if (c == '\n') {
                    state_ = TState::Size;
                    digits_ = 0;
                    lineBytes_ = 0;
                } else {
                    Broken("chunk data longer than its size");
                }
                ++i;
                break;
            case TState::TrailerStart:
            case TState::TrailerLine:
            case TState::TrailerLf:
                if (++lineBytes_ > MaxTrailer) Broken("trailer too long");
                if (c == '\n')
                    state_ = state_ == TState::TrailerLine ? TState::TrailerStart : TState::Done;
                else if (state_ == TState::TrailerLf)
                    Broken("CR without LF at the end of the trailer");
                else if (c == '\r' && state_ == TState::TrailerStart)
                    state_ = TState::TrailerLf;
                else
                    state_ = TState::TrailerLine;
                ++i;
                break;
            case TState::Done:
                break;
        }
    }
    return i;
}
