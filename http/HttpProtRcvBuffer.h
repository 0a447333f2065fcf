// SPDX-License-Identifier: Apache-2.0
#pragma once
// The client's fixed receive buffer of 8192 bytes. A response header is read out of it line
// by line; a body passes through it whole. No allocation happens here: the caller receives
// straight into FreeSpace() and hands body blocks on from Data().
#include <string>

class THttpRcvBuffer {
public:
    static constexpr int Capacity = 8192;

    int Length() const { return len_; }
    bool Full() const { return len_ >= Capacity; }
    bool Empty() const { return len_ == 0; }
    const char* Data() const { return data_; }
    char* FreeSpace() { return data_ + len_; }
    int FreeCount() const { return Capacity - len_; }
    // n bytes were written at FreeSpace(); they count as held.
    void Added(int n) { if (n > 0) len_ += n; }

    // Takes the first complete line out of the buffer. A line ends at the first LF that
    // lies before both the end of the held bytes and the first zero byte (a zero byte
    // hides what follows it until more data completes the line). line gets the text before
    // the LF without a CR that directly precedes it; endingLength gets the length of the
    // dropped line end (2 for CR LF, 1 for LF). False, with the buffer untouched, when no
    // complete line is held.
    bool TakeLine(std::string& line, int& endingLength);
    // Moves every held byte (zero bytes included) into out and empties the buffer.
    void TakeAll(std::string& out);
    // Forgets the held bytes; Data() still shows them until the next receive.
    void Clear() { len_ = 0; }

private:
    char data_[Capacity];
    int len_ = 0;
};
