// SPDX-License-Identifier: Apache-2.0
// Line mode: collecting received bytes, finding line ends, delivering lines through
// OnDataAvailable, editing and echo, the limit, and handing out what is left when line
// mode goes off or the connection closes.
//
// Handlers run in the middle of these loops and may read, switch line mode, send, close
// the socket or dispatch messages. So no pointer into the buffer is kept across a handler
// call, the delivery state (Delivering, DeliveryEnd) says where the bytes of the line being
// delivered end, and BufferGeneration tells a loop that the session closed under it.
#include "socket/WSocketLine.h"

#include <algorithm>
#include <cstring>

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomTlsWSocket(AOwner) {
    LineEnd = "\r\n";
    FLineMode = false;
    LineLimit = 65536;
}

TCustomLineWSocket::~TCustomLineWSocket() { ReleaseLineBuffer(); }

void TCustomLineWSocket::SetLineMode(bool Value) {
    if (Value == FLineMode) return;
    FLineMode = Value;
    if (LineBufferCount > 0 || LineLength > 0) PostMessage(NotifyWindow, MSG_LINE_RESUME, 0, 0);
}

void TCustomLineWSocket::DispatchSocketMessage(TMessage& Msg) {
    if (Msg.Msg != MSG_LINE_RESUME) {
        TCustomTlsWSocket::DispatchSocketMessage(Msg);
        return;
    }
    try {
        HandleLineResume();
    } catch (Exception& E) {
        HandleBgException(E);
    }
}

int TCustomLineWSocket::GetRcvdCount() { return FLineMode ? LineLength : TCustomTlsWSocket::GetRcvdCount(); }

void TCustomLineWSocket::FireLineLimitExceeded(int RcvdLength, bool& ClearData) {
    if (OnLineLimitExceeded) OnLineLimitExceeded(this, RcvdLength, ClearData);
}

// ---- the buffer -----------------------------------------------------------------------------

void TCustomLineWSocket::GrowLineBuffer(int Size) {
    if (static_cast<int>(LineBuffer.size()) < Size) LineBuffer.resize(static_cast<std::size_t>(Size));
}

void TCustomLineWSocket::Terminate(int Count) {
    if (Count < static_cast<int>(LineBuffer.size())) LineBuffer[static_cast<std::size_t>(Count)] = 0;
}

void TCustomLineWSocket::ReleaseLineBuffer() {
    LineBuffer.clear();
    LineBuffer.shrink_to_fit();
    LineBufferCount = 0;
    LineLength = 0;
    Delivering = false;
    DeliveryEnd = 0;
    LineClearData = false;
    ResumePending = false;
    ++BufferGeneration;
}

void TCustomLineWSocket::CloseGap() {
    if (!Delivering || DeliveryEnd == LineLength) return;
    char* data = LineBuffer.data();
    const int behind = LineBufferCount - DeliveryEnd;
    std::memmove(data + LineLength, data + DeliveryEnd, static_cast<std::size_t>(behind));
    LineBufferCount = LineLength + behind;
    DeliveryEnd = LineLength;
    Terminate(LineBufferCount);
}

void TCustomLineWSocket::EndDelivery() {
    if (!Delivering) return;
    CloseGap();
    // What is left of the line is plain buffered data now.
    LineLength = 0;
    Delivering = false;
    DeliveryEnd = 0;
    if (ResumePending) {
        ResumePending = false;
        PostMessage(NotifyWindow, MSG_LINE_RESUME, 0, 0);
    }
}

int TCustomLineWSocket::RawReceive(void* Buffer, int Len, int Flags) {
    char* out = static_cast<char*>(Buffer);
    const int size = std::max(Len, 0);
    if (FLineMode && LineLength > 0) {
        // Part of the line being delivered; its rest moves to the front.
        char* data = LineBuffer.data();
        if (size >= LineLength) {
            const int n = LineLength;
            std::memcpy(out, data, static_cast<std::size_t>(n));
            LineLength = 0;
            return n;
        }
        std::memcpy(out, data, static_cast<std::size_t>(size));
        std::memmove(data, data + size, static_cast<std::size_t>(LineLength - size));
        LineLength -= size;
        return size;
    }
    if (!FLineMode && LineBufferCount > 0) {
        // Left over from line mode: these come before anything newer from the network. Line
        // mode may have gone off in the middle of a delivery; the bytes behind the line then
        // move up first, so that the already taken part is not handed out twice.
        CloseGap();
        char* data = LineBuffer.data();
        const int n = std::min(size, LineBufferCount);
        std::memcpy(out, data, static_cast<std::size_t>(n));
        std::memmove(data, data + n, static_cast<std::size_t>(LineBufferCount - n));
        LineBufferCount -= n;
        Terminate(LineBufferCount);
        if (Delivering) {
            LineLength = std::max(0, LineLength - n);
            DeliveryEnd = LineLength;
        }
        return n;
    }
    return TCustomTlsWSocket::RawReceive(Buffer, Len, Flags);
}

// ---- receiving and delivering ---------------------------------------------------------------

bool TCustomLineWSocket::ReadIntoLineBuffer(int& SearchFrom) {
    int n = TCustomTlsWSocket::GetRcvdCount();
    if (n < 0) return false;
    if (n == 0) n = 255;
    GrowLineBuffer(LineBufferCount + n + 1);
    // Straight from the layer below: inside a delivery this layer's own read would serve the
    // line being delivered instead.
    int got = TCustomTlsWSocket::RawReceive(LineBuffer.data() + LineBufferCount, n, 0);
    if (got < 0) {
        FLastError = WSocket_WSAGetLastError();
        return false;
    }
    FReadCount += got;
    if (got == 0) return false;
    Terminate(LineBufferCount + got);
    if (LineEdit)
        ApplyLineEditing(got);
    else if (LineEcho)
        Send(LineBuffer.data() + LineBufferCount, got);
    // A line end split over two reads is found from here on.
    SearchFrom = std::max(0, LineBufferCount - static_cast<int>(LineEnd.size()));
    LineBufferCount += got;
    return true;
}

bool TCustomLineWSocket::FireDataAvailable(WORD Error) {
    if (!FLineMode || LineEnd.empty() || LowerNegotiating()) return TCustomTlsWSocket::FireDataAvailable(Error);
    const unsigned generation = BufferGeneration;
    int searchFrom = 0;
    const bool arrived = ReadIntoLineBuffer(searchFrom);
    if (generation != BufferGeneration) return true;  // an echo failure ended the session
    if (!arrived) {
        // Nothing new; only a resume looks at what is buffered (line mode came back on).
        if (!Resuming || LineBufferCount == 0) return true;
        searchFrom = 0;
    }
    // Called from inside a handler that dispatched messages: the delivery in progress takes
    // the new bytes in turn.
    if (Delivering) return true;
    return DeliverLines(searchFrom);
}

int TCustomLineWSocket::FindLineEnd(int SearchFrom) const {
    const int endLength = static_cast<int>(LineEnd.size());
    const int last = LineBufferCount - endLength;
    const char* data = LineBuffer.data();
    for (int i = SearchFrom; i <= last; ++i) {
        const void* hit = std::memchr(data + i, LineEnd[0], static_cast<std::size_t>(last - i + 1));
        if (!hit) return -1;
        i = static_cast<int>(static_cast<const char*>(hit) - data);
        if (std::memcmp(data + i, LineEnd.data(), static_cast<std::size_t>(endLength)) == 0) return i;
    }
    return -1;
}

bool TCustomLineWSocket::DeliverCurrentLine() {
    const unsigned generation = BufferGeneration;
    try {
        while (FLineMode && LineLength > 0) {
            // No handler takes lines: the line is dropped.
            if (!TCustomTlsWSocket::FireDataAvailable(0)) LineLength = 0;
            if (generation != BufferGeneration) return false;
        }
    } catch (...) {
        // The buffer keeps what was not taken.
        if (generation == BufferGeneration) EndDelivery();
        throw;
    }
    return true;
}

bool TCustomLineWSocket::DeliverLines(int SearchFrom) {
    while (FLineMode && !LineEnd.empty()) {
        const int i = FindLineEnd(SearchFrom);
        if (i < 0) break;
        LineLength = i + static_cast<int>(LineEnd.size());
        DeliveryEnd = LineLength;
        Delivering = true;
        FLineReceived = true;
        if (!DeliverCurrentLine()) return true;
        EndDelivery();
        SearchFrom = 0;
    }
    if (!FLineMode) return true;  // the resume message hands out the rest

    if (LineLimit > 0 && LineBufferCount > LineLimit) {
        const unsigned generation = BufferGeneration;
        LineClearData = true;
        try {
            FireLineLimitExceeded(LineBufferCount, LineClearData);
        } catch (...) {
            LineClearData = false;
            throw;
        }
        if (generation != BufferGeneration) return true;
        if (LineClearData) {
            LineLength = 0;
            LineBufferCount = 0;
            Terminate(0);
        }
        LineClearData = false;
    }
    return true;
}

// ---- editing --------------------------------------------------------------------------------

void TCustomLineWSocket::ApplyLineEditing(int& Got) {
    const int start = LineBufferCount;
    // Inside a delivery, the line being delivered is out of a backspace's reach.
    const int floor = Delivering ? DeliveryEnd : 0;
    // The new bytes are taken out first: an echo may close the session and free the buffer.
    const std::string incoming(LineBuffer.data() + start, static_cast<std::size_t>(Got));
    const unsigned generation = BufferGeneration;

    std::vector<char> edited;
    bool copied = false;
    int w = start;
    int low = start;
    const auto makeCopy = [&] {
        if (copied) return;
        copied = true;
        edited.assign(static_cast<std::size_t>((start + Got + 256) & ~255), 0);
        std::memcpy(edited.data(), LineBuffer.data(), static_cast<std::size_t>(w));
    };
    const auto put = [&](char c) {
        if (w >= static_cast<int>(edited.size())) edited.resize(edited.size() + 256);
        edited[static_cast<std::size_t>(w++)] = c;
    };

    for (const char c : incoming) {
        if (c == '\b') {
            // Copied before the echo: a failing echo closes the session and frees the buffer.
            makeCopy();
            if (LineEcho && w > floor) SendText(std::string("\b \b"));
            if (w > floor) {
                --w;
                low = std::min(low, w);
            }
        } else if (c == '\t') {
            makeCopy();
            do {
                if (LineEcho) SendText(" ");
                put(' ');
            } while (w % 8 != 0);
        } else {
            if (LineEcho) Send(&c, 1);
            if (copied)
                put(c);
            else
                ++w;
        }
        if (generation != BufferGeneration) return;
    }
    if (!copied) return;
    GrowLineBuffer(w + 1);
    std::memcpy(LineBuffer.data(), edited.data(), static_cast<std::size_t>(w));
    Terminate(w);
    LineBufferCount = low;
    Got = w - low;
}

// ---- leaving line mode, closing -------------------------------------------------------------

void TCustomLineWSocket::HandOutPlainData() {
    const unsigned generation = BufferGeneration;
    while (!FLineMode && LineBufferCount > 0) {
        const int before = LineBufferCount;
        // Nobody reads, or a pass took nothing: the bytes wait for the next notification.
        if (!TCustomTlsWSocket::FireDataAvailable(0)) return;
        if (generation != BufferGeneration) return;
        if (LineBufferCount >= before) return;
    }
}

void TCustomLineWSocket::HandleLineResume() {
    if (Delivering) {
        // Dispatched from inside a handler: the delivery's end posts it again.
        ResumePending = true;
        return;
    }
    const bool outer = Resuming;
    Resuming = true;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{Resuming, outer};

    const unsigned generation = BufferGeneration;
    while (LineBufferCount > 0) {
        if (!FLineMode) {
            HandOutPlainData();
            return;
        }
        // A pass reads what the network has and delivers every complete line; another pass
        // helps only when it took something out.
        const int before = LineBufferCount;
        FireDataAvailable(0);
        if (generation != BufferGeneration || LineBufferCount >= before) return;
    }
}

void TCustomLineWSocket::FireSessionClosed(WORD Error) {
    FLineReceived = true;
    if (!LineBuffer.empty()) {
        const unsigned generation = BufferGeneration;
        try {
            // Closed by a handler in the middle of a line: what it took is gone, and complete
            // lines that arrived meanwhile still go out one by one.
            if (Delivering) {
                EndDelivery();
                if (FLineMode && !LineClearData) DeliverLines(0);
            }
            // The partial line goes out without a line end; bytes left buffered by switching
            // line mode off go out as plain data, while the connection still exists to answer
            // the handler's questions. A handler that switches the mode meanwhile gets the
            // rest the other way; the hand-out ends when a pass takes nothing.
            while (generation == BufferGeneration && LineBufferCount > 0 && !LineClearData) {
                const int before = LineBufferCount;
                if (FLineMode) {
                    LineLength = LineBufferCount;
                    DeliveryEnd = LineLength;
                    Delivering = true;
                    while (FLineMode && LineLength > 0 && generation == BufferGeneration)
                        if (!TCustomTlsWSocket::FireDataAvailable(0)) break;
                    if (generation == BufferGeneration) EndDelivery();
                } else if (SocketHandle != INVALID_SOCKET) {
                    HandOutPlainData();
                } else {
                    break;
                }
                if (LineBufferCount >= before) break;
            }
        } catch (...) {
            if (generation == BufferGeneration) ReleaseLineBuffer();
            throw;
        }
        if (generation == BufferGeneration) ReleaseLineBuffer();
    }
    TCustomTlsWSocket::FireSessionClosed(Error);
}
