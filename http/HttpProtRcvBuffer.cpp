// SPDX-License-Identifier: Apache-2.0
#include "http/HttpProtRcvBuffer.h"

#include <cstring>

bool THttpRcvBuffer::TakeLine(std::string& line, int& endingLength) {
    if (len_ == 0) return false;
    const auto* lf = static_cast<const char*>(std::memchr(data_, '\n', static_cast<std::size_t>(len_)));
    if (!lf) return false;
    const std::size_t lfAt = static_cast<std::size_t>(lf - data_);
    if (std::memchr(data_, '\0', lfAt)) return false;  // the text ends before the LF
    const std::size_t textLen = lfAt > 0 && data_[lfAt - 1] == '\r' ? lfAt - 1 : lfAt;
    endingLength = static_cast<int>(lfAt + 1 - textLen);
    line.assign(data_, textLen);
    const int consumed = static_cast<int>(lfAt) + 1;
    std::memmove(data_, data_ + consumed, static_cast<std::size_t>(len_ - consumed));
    len_ -= consumed;
    return true;
}

void THttpRcvBuffer::TakeAll(std::string& out) {
    out.assign(data_, static_cast<std::size_t>(len_));
    Clear();
}
