// SPDX-License-Identifier: Apache-2.0
#pragma once
// TCustomLineWSocket: line mode. While LineMode is on, received bytes are collected in a
// buffer of the socket's own and OnDataAvailable is raised once per complete line (all
// bytes up to and including the next LineEnd); the handler takes the line with Receive, in
// one or more calls, or switches line mode off. RcvdCount reports the length of the line
// being delivered. A handler that neither reads nor switches line mode off is called again
// for the same line; with no handler assigned, lines are dropped.
//
// With LineMode off (the default) and nothing buffered, every operation is the TLS
// layer's. Switching line mode off hands the bytes still buffered out as plain data, in
// order and before anything newer from the network (through a message the socket posts to
// itself, WM_USER + 20). Switching it on with bytes buffered runs the line search on them.
//
// Options: LineEcho sends every received byte back to the peer; LineEdit applies backspace
// (removes the byte before it, also one received earlier that is not yet part of a
// delivered line) and tab (spaces up to the next multiple of 8 from the buffer's start).
// LineLimit (> 0) bounds the bytes buffered without a line end: above it
// OnLineLimitExceeded runs, and the bytes are discarded unless the handler clears
// ClearData (it is then asked again after the next read).
//
// When the connection closes, a partial line is delivered as a last line without line end
// (not while the limit event runs), bytes buffered with line mode off are handed out, then
// the buffer is released and OnSessionClosed follows.
//
// A handler may Receive, switch LineMode, send, close the socket or dispatch messages
// (bytes received meanwhile queue behind the line being delivered).
//
// TCustomSyncWSocket adds a wait: dispatch messages until a flag becomes true.
#include <functional>
#include <string>
#include <vector>

#include "socket/WSocketTls.h"

using TLineLimitEvent = std::function<void(TObject* Sender, int RcvdLength, bool& ClearData)>;

// The line layer's own message: hand out what line mode left buffered.
constexpr UINT MSG_LINE_RESUME = WM_USER + 20;

class TCustomLineWSocket : public TCustomTlsWSocket {
public:
    explicit TCustomLineWSocket(TComponent* AOwner = nullptr);
    ~TCustomLineWSocket() override;

    bool LineMode() const { return FLineMode; }
    virtual void SetLineMode(bool Value);
    // Largest number of bytes buffered without a line end; 0 or less: no limit.
    int LineLimit = 65536;
    // The terminator, of any length; empty switches line processing off.
    std::string LineEnd = "\r\n";
    bool LineEcho = false;
    bool LineEdit = false;
    TLineLimitEvent OnLineLimitExceeded;

    // Set when a line end is found and when the connection closes; never cleared here.
    bool LineReceived() const { return FLineReceived; }
    // Adds the bytes held in the line buffer.
    int ReadLowWaterSlack() const override { return TCustomTlsWSocket::ReadLowWaterSlack() + LineBufferCount; }
    // Milliseconds WaitForFlag waits; 0 or less: no limit.
    int WaitTimeout = 0;

protected:
    void DispatchSocketMessage(TMessage& Msg) override;
    int GetRcvdCount() override;
    bool FireDataAvailable(WORD Error) override;
    void FireSessionClosed(WORD Error) override;
    int RawReceive(void* Buffer, int Len, int Flags) override;

    virtual void FireLineLimitExceeded(int RcvdLength, bool& ClearData);
    // Edits the Got bytes just received (at LineBufferCount on), echoing when LineEcho is on;
    // afterwards LineBufferCount + Got is the end of the edited data, and LineBufferCount may
    // have moved back before bytes a backspace removed.
    virtual void ApplyLineEditing(int& Got);

private:
    // The resume message: hands out what is buffered; ends when a pass takes nothing.
    void HandleLineResume();
    // Reads what the network has behind the buffered bytes (edited and echoed); false when
    // nothing came. SearchFrom: where a line end may start.
    bool ReadIntoLineBuffer(int& SearchFrom);
    // Finds and delivers the complete lines from SearchFrom on, then applies the limit.
    bool DeliverLines(int SearchFrom);
    // Raises OnDataAvailable until the current line is taken (or line mode goes off).
    // False when the buffer was released meanwhile (the session closed).
    bool DeliverCurrentLine();
    int FindLineEnd(int SearchFrom) const;
    // During a delivery: moves the bytes behind the line directly behind its untaken rest.
    void CloseGap();
    // Ends a delivery: closes the gap; the untaken rest becomes plain buffered data.
    void EndDelivery();
    // Hands the buffered bytes out as plain data while a pass takes some.
    void HandOutPlainData();
    void GrowLineBuffer(int Size);
    void ReleaseLineBuffer();
    void Terminate(int Count);  // the zero byte behind the held bytes

    bool FLineMode = false;
    bool FLineReceived = false;
    std::vector<char> LineBuffer;  // size() is the allocated size
    int LineBufferCount = 0;
    int LineLength = 0;            // untaken bytes of the line being delivered
    bool LineClearData = false;    // ClearData while OnLineLimitExceeded runs
    // While a line is delivered, the buffer holds [untaken rest of the line][bytes already
    // taken][bytes behind the line, from DeliveryEnd on].
    bool Delivering = false;
    int DeliveryEnd = 0;
    bool Resuming = false;
    bool ResumePending = false;  // a resume message came during a delivery
    // Counts releases of the buffer, so that a loop notices that a handler closed the session.
    unsigned BufferGeneration = 0;
};

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    explicit TCustomSyncWSocket(TComponent* AOwner = nullptr);
    ~TCustomSyncWSocket() override;

    // Done := false, runs Operation (when given), then WaitForFlag(Done).
    virtual int RunAndWait(const std::function<void()>& Operation, bool& Done);
    // Dispatches messages until Done is true (0). Returns 12001 when WaitTimeout (> 0)
    // milliseconds have passed, when the application is terminating or when the socket's own
    // pump has seen a quit message. Blocks while nothing is pending.
    virtual int WaitForFlag(bool& Done);

private:
    unsigned WaitSerial = 0;  // tells the wake-up timers of nested waits apart
};
