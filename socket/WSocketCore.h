// SPDX-License-Identifier: Apache-2.0
#pragma once
// TCustomWSocket: an asynchronous IPv4 or IPv6 socket (TCP or UDP) whose network events arrive as
// messages of its own hidden window and are turned into calls of its event members.
//
// A socket object belongs to the thread that created it: its window is that thread's and
// every event runs from that thread's message dispatch, one message at a time. Nothing in
// an operation waits on the network, except the blocking name, service and protocol
// look-ups Connect and Listen make when Addr, Port or Proto are not numeric (DnsLookup is
// the asynchronous alternative) and the waiting operations Flush and DrainUntilClosed.
//
// Events are raised only when assigned and always synchronously from inside the message
// handling. A handler may call any operation of its socket, Close included, but must not
// destroy the socket; it uses PostRelease for that. An exception escaping a handler
// (other than OnDataAvailable's) reaches HandleBgException, whose default is Abort.
//
// A session starts with Connect, Listen or Dup from wsClosed and ends when the closing
// sequence returns the socket to wsClosed and calls ResetToDefaults; Addr and Port keep
// their text but must be assigned again before the next Connect or Listen.
//
// Failures are reported with ReportError: OnError when it is assigned (the text is then
// dropped and LastError holds the Winsock code), otherwise ESocketException. A Winsock
// failure goes through ReportSocketError, whose text is
// "Error <code> in function <name>" CR LF <WinsockErrorText(code)>.
//
// IPv6: Addr and LocalAddr take IPv6 text ("::1", brackets allowed) and the address calls
// answer in it; a name resolves to the families WSocketFamily allows. A stream Connect to
// several addresses of which one is IPv6 (a name, or SetAddrList) races them (see
// WSocketEyeballs.h): the first to connect becomes the session, the others are closed, and
// the events are those of one connect. Addresses of IPv4 only behave exactly as before: one
// address, the first. GetPeerName, GetSockName, ReceiveFrom and SendTo take IPv4 records;
// their TSockAddrStorage forms take either family.
//
// Descendants hook in through the virtual operations below; C++ does not dispatch virtual
// calls made by a constructor, so a descendant that overrides ResetToDefaults sets up its
// own per-session state in its own constructor.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Component.h"
#include "base/Exception.h"
#include "base/StringList.h"
#include "platform/Messages.h"
#include "winsock/Winsock.h"
#include "socket/WSockBuf.h"
#include "socket/WSocketAddress.h"
#include "socket/WSocketErrors.h"
#include "socket/WSocketEyeballs.h"
#include "socket/WSocketResolve.h"
#include "socket/WSocketWinsock.h"

enum TSocketState { wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay };

// A set of TWSocketOption (bit n = option of ordinal n).
class TWSocketOptions {
public:
    constexpr TWSocketOptions() = default;
    constexpr TWSocketOptions(std::initializer_list<TWSocketOption> options) {
        for (TWSocketOption o : options) bits_ |= Bit(o);
    }
    constexpr bool Contains(TWSocketOption o) const { return (bits_ & Bit(o)) != 0; }
    constexpr TWSocketOptions& Include(TWSocketOption o) { bits_ |= Bit(o); return *this; }
    constexpr TWSocketOptions& Exclude(TWSocketOption o) { bits_ &= ~Bit(o); return *this; }
    constexpr TWSocketOptions Without(TWSocketOption o) const { TWSocketOptions r = *this; return r.Exclude(o); }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TWSocketOptions&) const = default;

private:
    static constexpr std::uint8_t Bit(TWSocketOption o) { return static_cast<std::uint8_t>(1u << o); }
    std::uint8_t bits_ = 0;
};

// Winsock's timeval record.
struct TTimeVal {
    std::int32_t tv_sec;
    std::int32_t tv_usec;
};

using TDataAvailable = std::function<void(TObject* Sender, WORD Error)>;
using TDataSent = std::function<void(TObject* Sender, WORD Error)>;
using TSessionClosed = std::function<void(TObject* Sender, WORD Error)>;
using TSessionAvailable = std::function<void(TObject* Sender, WORD Error)>;
using TSessionConnected = std::function<void(TObject* Sender, WORD Error)>;
using TDnsLookupDone = std::function<void(TObject* Sender, WORD Error)>;
using TSendData = std::function<void(TObject* Sender, int BytesSent)>;
using TChangeState = std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent = std::function<void(TObject* Sender, Exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Messages of the hidden window.
constexpr UINT MSG_SOCKET_EVENT = WM_USER + 1;         // wParam socket, lParam event | error << 16
constexpr UINT MSG_LOOKUP_DONE = WM_USER + 2;          // wParam request, error in the high word
constexpr UINT MSG_REVERSE_LOOKUP_DONE = WM_USER + 3;  // wParam request, error in the high word
constexpr UINT MSG_CLOSE_REQUEST = WM_USER + 4;        // Close
constexpr UINT MSG_RELEASE_REQUEST = WM_USER + 5;      // destroys the object
constexpr UINT MSG_TEST_EXCEPTION = WM_USER + 6;       // raises ESocketException
constexpr UINT MSG_EYEBALLS_EVENT = WM_USER + 7;       // FD_CONNECT of a raced attempt

// A window on the calling thread whose messages go to Method, and its removal; for other
// components that post themselves deferred work the way the socket does.
HWND WSocketAllocateHWnd(TWndMethod Method);
void WSocketDeallocateHWnd(HWND Wnd);

class TCustomWSocket : public TComponent {
public:
    explicit TCustomWSocket(TComponent* AOwner = nullptr);
    ~TCustomWSocket() override;

    // ---- properties -----------------------------------------------------------------
    // Addr, Port, Proto, LocalAddr, LocalPort may change only while wsClosed (else
    // ReportError "Cannot change <name> if not closed"); writing the text a property
    // already holds succeeds in any state.
    const std::string& Addr() const { return FAddr; }
    void SetAddr(const std::string& Value);
    // Addr = Addrs[0], and a stream Connect of this session races all of them when one is
    // IPv6 (numeric addresses, in the order to try; a later SetAddr of another text drops
    // the list). Same state rule as SetAddr.
    void SetAddrList(const std::vector<std::string>& Addrs);
    const std::string& Port() const { return FPort; }
    virtual void SetPort(const std::string& Value);
    const std::string& Proto() const { return FProto; }
    virtual void SetProto(const std::string& Value);
    const std::string& LocalAddr() const { return FLocalAddr; }
    // Numeric only (IPv4 or IPv6): "" stores "0.0.0.0"; the stored text is the normalised
    // address. An IPv6 session binds "0.0.0.0" as "::".
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalPort() const { return FLocalPort; }
    void SetLocalPort(const std::string& Value);
    // "error" unless connected.
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    // Set by DnsLookup / ReverseDnsLookup before OnDnsLookupDone.
    const std::string& DnsResult() const { return FDnsResult; }
    const TStringList& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    // Bytes received through Receive and ReceiveFrom this session.
    int ReadCount() const { return FReadCount; }
    // Bytes waiting to be read (descendants may report their own buffers); -1 on failure.
    int RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return FLastError; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);

    // Plain settings. MultiThreaded chooses the waiting pump: the thread's own queue
    // (PumpPrivateMessages) instead of the application's. ComponentOptions, LingerOnOff and
    // LingerTimeout (seconds, 0..65535) take effect at the next Connect or Dup. FlushTimeout
    // is kept for compatibility; nothing reads it.
    bool MultiThreaded = false;
    bool MultiCast = false;
    std::string MultiCastAddrStr;
    int MultiCastIpTTL = 1;
    bool ReuseAddr = false;
    TWSocketOptions ComponentOptions;
    int FlushTimeout = 60;
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;

    // ---- events -----------------------------------------------------------------------
    TSessionAvailable OnSessionAvailable;  // a listening stream socket has a connection to Accept
    TSessionConnected OnSessionConnected;  // connect finished (Error = its outcome) or UDP ready
    TSessionClosed OnSessionClosed;        // once per session
    TChangeState OnChangeState;            // every state assignment outside ResetToDefaults
    TDataAvailable OnDataAvailable;        // data to read; raised again while unread data remains
    TDataSent OnDataSent;                  // the send queue is empty (from the message loop)
    TSendData OnSendData;                  // after each successful send call
    TNotifyEvent OnLineTooLong;            // raised by the line-mode layer
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

    // ---- operations ---------------------------------------------------------------------
    // Opens and connects to Addr:Port over Proto. A stream socket enters wsConnecting and
    // learns the outcome from OnSessionConnected; a datagram socket is connected at once.
    virtual void Connect();
    virtual void Close();       // graceful close; queued data that is not out yet is lost
    virtual void PostClose();   // Close from the message loop
    // Destroys the object from the message loop: the object must have been created with new
    // and the caller gives up its ownership.
    virtual void PostRelease();
    virtual void Abort();       // drops queued data and closes without a shutdown
    // Sends until the queue is empty, dispatching messages; it blocks while the system
    // has no room. Returns at once when there is no connection.
    virtual void Flush();
    // Dispatches messages and hands received data to FireDataAvailable until the socket is
    // closed (by the peer, an error or a handler); blocks while nothing happens.
    virtual void DrainUntilClosed();
    // Binds to Addr:Port and listens (stream) or is connected at once (datagram).
    virtual void Listen();
    // Only in wsListening: the handle of one waiting connection, for another socket's Dup.
    virtual SOCKET Accept();
    // Reads at most Len bytes straight from the system; negative on failure (LastError
    // tells why, WSAEWOULDBLOCK when nothing is there).
    virtual int Receive(void* Buffer, int Len);
    // What is there now (up to 255 bytes when RcvdCount is 0); empty when nothing is.
    virtual std::string ReceiveText();
    virtual int ReceiveFrom(void* Buffer, int Len, TSockAddrIn& From, int& FromLen);
    int ReceiveFrom(void* Buffer, int Len, TSockAddrStorage& From, int& FromLen);
    // Queues a copy of the bytes and sends what the system takes now; the rest goes out as
    // room appears, followed by OnDataSent. Returns Len, or -1 (and a report) when not
    // connected. Sending nothing on an empty queue counts as all sent.
    virtual int Send(const void* Data, int Len);
    virtual int SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len);
    int SendTo(const TSockAddrStorage& Dest, int DestLen, const void* Data, int Len);
    virtual int SendText(const std::string& S);
    // Name to addresses, answered by OnDnsLookupDone (at once for a numeric address).
    virtual void DnsLookup(const std::string& HostName);
    // Address to name, answered by OnDnsLookupDone.
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    // Ends a pending look-up; OnDnsLookupDone(WSAEINTR) unless being destroyed.
    virtual void CancelDnsLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual int GetPeerName(TSockAddrIn& Name, int Len);
    // Local port / address of the open socket; "error" unless bound, connected or listening.
    virtual std::string GetBoundPort();
    virtual std::string GetBoundAddr();
    virtual bool TimeValIsSet(const TTimeVal& tv);
    virtual void TimeValClear(TTimeVal& tv);
    virtual bool TimeValEqual(const TTimeVal& tv, const TTimeVal& uv, bool IsEqual);
    virtual int GetSockName(TSockAddrIn& Name, int& Len);
    // Bulk receiving: the system announces received data only once Bytes wait (or the
    // stream has ended), so that a fast transfer costs fewer, larger deliveries. 1, the
    // default of every connection, announces every byte. The caller must be certain that
    // Bytes + ReadLowWaterSlack() more bytes will arrive; else the last of them are
    // announced only when the stream ends. False when not connected or the system refused
    // (the mark then stays as it was).
    bool SetReadLowWater(int Bytes);
    int ReadLowWater() const;
    // Bytes that this socket's layers and the system's read-ahead may hold back from the
    // system's count (kept behind a handshake, buffered by TLS): they arrived already and
    // no longer count towards the mark.
    virtual int ReadLowWaterSlack() const;
    // Adopts a connected handle (from Accept): closes what the socket had, then wsConnected.
    virtual void Dup(SOCKET NewHandle);
    virtual void Shutdown(int How);
    // While paused, socket-event messages are ignored.
    virtual void PauseNotifications();
    virtual void ResumeNotifications();
    // Handles what is pending for this thread, then returns.
    virtual void ProcessPendingMessages();
    // Handles the calling thread's own queue; a WM_QUIT sets Terminated and is dropped.
    void PumpPrivateMessages();
    bool Terminated() const { return FTerminated; }

protected:
    // ---- virtual hooks ----------------------------------------------------------------
    virtual void DispatchSocketMessage(TMessage& Msg);
    virtual void AllocateNotifyWindow();
    virtual void DeallocateNotifyWindow();
    virtual void ResetToDefaults();
    virtual void InternalClose(bool Graceful, WORD Error);
    virtual int GetRcvdCount();
    // Received bytes this socket keeps itself, in front of what the network holds: a read
    // hands them out first, and they count as unread data for the receive loop, the drain
    // and the close. None here.
    virtual int KeptCount() const { return 0; }
    virtual void BindSocket();
    virtual int RawSend(const void* Data, int Len);
    virtual void ReportErrorFmt(const char* Fmt, ...) __attribute__((format(printf, 2, 3)));
    virtual void ReportError(const std::string& Text);
    virtual void HandleBgException(Exception& E);
    // Raises OnDataAvailable; false when nothing consumed the data (no handler).
    virtual bool FireDataAvailable(WORD Error);
    virtual void FireSessionAvailable(WORD Error);
    virtual void FireSessionConnected(WORD Error);
    virtual void FireSessionClosed(WORD Error);
    virtual void FireDataSent(WORD Error);
    virtual void FireChangeState(TSocketState OldState, TSocketState NewState);
    virtual void FireDnsLookupDone(WORD Error);
    virtual void FireError();
    virtual int RawReceive(void* Buffer, int Len, int Flags);
    virtual int RawReceiveFrom(SOCKET Handle, void* Buffer, int Len, int Flags, TSockAddrIn& From, int& FromLen);

    // ---- non-virtual parts of the machinery ---------------------------------------------
    void ChangeState(TSocketState NewState);
    void TryToSend();
    void ReceiveLoop(WORD Error, TWSocketOptions Options);
    void AppendToSendQueue(const void* Data, int Len);
    void ClearSendQueue();
    void ApplyLinger();
    void ReportSocketError(const std::string& FunctionName);
    void FireSendData(int BytesSent);
    void HandleSelectNotify(TMessage& Msg);
    void HandleLookupDone(TMessage& Msg);
    void HandleReverseLookupDone(TMessage& Msg);
    void CollectHostAddresses();
    // The peer record of the session's family, and its size.
    const TSockAddr* PeerName(int& Len) const;
    // Makes Host the session's peer with PortNet (network order). A dotted address, or a
    // name under the IPv4 setting, gives the first IPv4 address as always; anything else
    // every address of the allowed families (Given instead of a look-up when not empty),
    // the first as the peer, and a stream Connect races them when one is IPv6. Raises
    // ESocketException when Host does not resolve.
    void ResolvePeerAddress(const std::string& Host, std::uint16_t PortNet, const std::vector<std::string>& Given);
    void HandleEyeballsEvent(TMessage& Msg);
    // Takes the race's outcome: the winner as the session's handle (its FD_CONNECT follows
    // from the message loop), or the failure reported as a connect's.
    void EyeballsDecided(TWSocketEyeballs::TOutcome Outcome);
    // A handle for one raced attempt with the options Connect sets; INVALID_SOCKET when it
    // could not be made (nothing reported: the attempt just fails).
    SOCKET OpenRaceHandle(int Family);
    // Blocks until a message can be handled, then handles what is pending. Used by the
    // waits only when something they wait for will arrive as a message.
    void WaitForPendingMessages();
    // True when socket events can reach the window (not paused, window and handle present).
    bool NotificationsFlow() const;

    // ---- state (names of the data model) -------------------------------------------------
    std::string FAddr;
    bool AddrAssigned = false;
    bool AddrResolved = false;
    std::string FPort;
    bool PortAssigned = false;
    bool PortResolved = false;
    std::uint16_t PortNumber = 0;
    std::string FProto = "tcp";
    bool ProtoAssigned = true;
    bool ProtoResolved = false;
    int ProtocolNumber = 6;
    int SocketType = WS_SOCK_STREAM;
    int AddressFamily = WS_AF_INET;
    std::string FLocalAddr = "0.0.0.0";
    std::string FLocalPort = "0";
    bool LocalPortResolved = false;
    std::uint16_t LocalPortNumber = 0;
    TSockAddrIn PeerSockAddr{};
    TSockAddrIn6 PeerSockAddr6{};  // the peer while AddressFamily is WS_AF_INET6
    std::vector<std::string> FAddrList;    // from SetAddrList
    std::vector<std::string> RaceAddrs;    // resolved: the addresses Connect races
    std::uint16_t RacePortNet = 0;         // their port (network order)
    std::unique_ptr<TWSocketEyeballs> Eyeballs;  // the race in flight

    SOCKET SocketHandle = INVALID_SOCKET;
    SOCKET AcceptedHandle = INVALID_SOCKET;
    HWND NotifyWindow = 0;
    TSocketState FState = wsClosed;
    long SelectMask = 0;
    bool Paused = false;
    bool CloseInvoked = false;
    bool AllSent = true;
    bool FTerminated = false;
    int FLastError = 0;
    int FReadCount = 0;
    int FReadLowWater = 1;
    SOCKET FReadLowWaterHandle = INVALID_SOCKET;  // the connection FReadLowWater was set on

    std::deque<std::unique_ptr<TBuffer>> SendQueue;
    int SendBufferSize = 1460;
    int SendFlagsValue = 0;

    alignas(THostEnt) char LookupBuffer[1025];
    HANDLE LookupRequest = 0;
    bool EarlyReply = false;
    TMessage SavedReply{};
    std::string FDnsResult;
    TStringList FDnsResultList;

private:
    // Resolves what this session has not resolved yet (protocol, port, the local port when
    // asked, address). A failure is reported as reportPrefix + its message; false then.
    bool ResolveSession(bool withLocalPort, const char* reportPrefix);

    // Drained blocks kept for reuse, so that a long transfer does not allocate per block.
    std::unique_ptr<TBuffer> TakeBuffer();
    void RecycleBuffer(std::unique_ptr<TBuffer> Buffer);
    std::deque<std::unique_ptr<TBuffer>> SpareBuffers;
    // True while TryToSend runs, so that a Send from a handler it calls does not nest it.
    bool Sending = false;
    // Counts ClearSendQueue calls, so that a send loop notices when a handler it called
    // emptied the queue under it.
    unsigned QueueGeneration = 0;
    // The window's link back to this object; cleared before the window goes.
    std::shared_ptr<TCustomWSocket*> WindowSlot;

    friend void NotifyWindowProc(const std::shared_ptr<TCustomWSocket*>& Slot, TMessage& Msg);
};
