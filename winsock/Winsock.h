// SPDX-License-Identifier: Apache-2.0
#pragma once
// The Winsock 1.1 stand-in: a module named "wsock32.dll" with named entry points, loaded
// with LoadLibrary and resolved with GetProcAddress, whose functions work over BSD sockets
// and speak Winsock: its handles, option numbers, structure layouts and error codes.
//
// Contracts that differ from the BSD calls underneath:
//  - A SOCKET is a handle number, never a file descriptor, and no number is ever handed out
//    twice (a message about a closed socket can therefore never be mistaken for a newer
//    one). INVALID_SOCKET is all bits set.
//  - Failures return SOCKET_ERROR (or INVALID_SOCKET / null) and leave a Winsock code
//    (WSAE..., 11001.. for look-ups) in the calling thread's error slot, read with
//    WSAGetLastError (the same slot as GetLastError).
//  - Every socket function needs a WSAStartup first (else WSANOTINITIALISED); the last
//    WSACleanup closes the sockets still open and cancels pending look-ups.
//  - Option levels and names use the Winsock numbering below (the WS_ prefix keeps them
//    apart from the system's macros of the same names); SO_LINGER takes the 4-byte Winsock
//    record; boolean options take any non-zero 4-byte value as on.
//  - send never raises SIGPIPE. A non-blocking connect always answers WSAEWOULDBLOCK and
//    reports its outcome with FD_CONNECT, even when it was decided at once.
//  - A small recv of a stream socket may take more from the system than it returns; the
//    rest counts as waiting data everywhere (FIONREAD, the zero-length recv, MSG_PEEK,
//    FD_READ, FD_CLOSE after everything was read), and closing a socket with such bytes
//    resets the connection, as closing with unread data does.
//  - closesocket of a non-blocking socket whose linger is on with a non-zero timeout fails
//    with WSAEWOULDBLOCK while unsent data remains, until the data is out or the timeout
//    has passed (then the connection is reset).
//
// WSAAsyncSelect(s, hwnd, msg, events) makes the socket non-blocking and posts msg to hwnd
// (platform PostMessage) with wParam = s and lParam = MakeLParam(event, error), one event
// per message:
//  - FD_READ when data is there; posted again only after the next recv/recvfrom (and at
//    once then, when data is still waiting).
//  - FD_WRITE once the connection is up (or at once for a datagram or connected socket when
//    WSAAsyncSelect is called), and again after a send that failed with WSAEWOULDBLOCK (or
//    took only part of the data) as soon as there is room.
//  - FD_ACCEPT when a connection is waiting; posted again after the next accept.
//  - FD_CONNECT once, with the outcome of the connect (0 or the error code).
//  - FD_CLOSE once the peer has ended the stream and every byte before the end has been
//    read (error 0), or at once when the connection was reset (WSAECONNRESET).
// Calling WSAAsyncSelect again replaces the target and re-posts what currently holds (data
// waiting, room to write, connection waiting, connection established, stream ended).
// events = 0 stops the notifications (the socket stays non-blocking). An accepted socket
// does not inherit the listening socket's target; it gets its own with WSAAsyncSelect.
//
// WSAAsyncGetHostByName/ByAddr run the look-up on a worker thread and return a non-zero
// request handle. When it ends, the hostent is written into the caller's buffer (see
// THostEnt) and msg is posted with wParam = the handle and lParam = MakeLParam(0, error).
// WSACancelAsyncRequest succeeds while the reply has not been posted; after a successful
// cancel nothing is written to the buffer and nothing is posted. A reply that no longer
// fits the buffer fails with WSAENOBUFS (low word of lParam = the size it needs).
//
// Beyond Winsock 1.1 (in the way of the later interface): gethostbyname2 and
// WSAAsyncGetHostByName2 take a family: WS_AF_INET answers as gethostbyname does,
// WS_AF_INET6 the IPv6 addresses only, WS_AF_UNSPEC both, IPv6 first and the families
// alternating, each in the system's order (the order in which to try them). socket, bind,
// connect, accept, sendto, recvfrom, getsockname and getpeername take WS_AF_INET6 and
// TSockAddrIn6. inet_pton (1 = parsed, 0 = not an address of af) and inet_ntop (null and
// WSAEINVAL when it fails) convert IPv4 and IPv6 addresses.
#include <cstdint>

#include "platform/WinTypes.h"

using SOCKET = std::uintptr_t;
using HMODULE = std::uintptr_t;  // 0 = no module
using HANDLE = std::uintptr_t;   // asynchronous request handle; 0 = none

constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;

// ---- structures (Winsock layouts; multi-byte fields in network order where noted) ----
struct TInAddr {
    std::uint32_t S_addr;  // network order
};

struct TSockAddrIn {
    std::uint16_t sin_family;  // WS_AF_INET
    std::uint16_t sin_port;    // network order
    TInAddr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(TSockAddrIn) == 16);

// An IPv6 address record (the layout of Winsock 2's sockaddr_in6).
struct TSockAddrIn6 {
    std::uint16_t sin6_family;  // WS_AF_INET6
    std::uint16_t sin6_port;    // network order
    std::uint32_t sin6_flowinfo;
    unsigned char sin6_addr[16];
    std::uint32_t sin6_scope_id;
};
static_assert(sizeof(TSockAddrIn6) == 28);

// Room for an address of either family.
struct alignas(8) TSockAddrStorage {
    std::uint16_t ss_family;
    char ss_data[126];
};

// The generic address the calls take: a TSockAddrIn or a TSockAddrIn6 after its family
// field. Calls that return an address need a record that holds the socket's family
// (WSAEFAULT otherwise); an IPv6 socket bound to "::" also accepts IPv4 peers, which it
// names by their mapped IPv6 address (::ffff:a.b.c.d).
struct TSockAddr {
    std::uint16_t sa_family;
    char sa_data[14];
};
static_assert(sizeof(TSockAddr) == 16);

// A host entry. h_addrtype WS_AF_INET with 4-byte addresses, or (from the look-ups that
// take a family, when asked for IPv6 or both) WS_AF_INET6 with 16-byte ones, in which an
// IPv4 address is mapped (::ffff:a.b.c.d). The asynchronous look-ups place it at the start of the caller's buffer
// (which must be aligned for a pointer) with every string and list it points to behind it
// in the same buffer; the blocking gethostbyname returns one per thread, valid until the
// thread's next call.
struct THostEnt {
    char* h_name;
    char** h_aliases;       // null-terminated list
    std::int16_t h_addrtype;  // WS_AF_INET
    std::int16_t h_length;    // 4
    char** h_addr_list;     // null-terminated list of 4-byte addresses, network order
};

struct TServEnt {
    char* s_name;
    char** s_aliases;
    char* s_proto;
    std::int16_t s_port;  // network order
};

struct TProtoEnt {
    char* p_name;
    char** p_aliases;
    std::int16_t p_proto;
};

struct TWSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    std::uint16_t iMaxSockets;
    std::uint16_t iMaxUdpDg;
    char* lpVendorInfo;
};

struct TLinger {  // SO_LINGER's record: two 16-bit fields
    std::uint16_t l_onoff;
    std::uint16_t l_linger;  // seconds
};

struct TIpMreq {  // IP_ADD_MEMBERSHIP / IP_DROP_MEMBERSHIP
    TInAddr imr_multiaddr;
    TInAddr imr_interface;
};

// ---- numbers ---------------------------------------------------------------------------
constexpr int WS_AF_UNSPEC = 0;
constexpr int WS_AF_INET = 2;
constexpr int WS_AF_INET6 = 23;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_SOCK_DGRAM = 2;
constexpr int WS_IPPROTO_IP = 0;
constexpr int WS_IPPROTO_TCP = 6;
constexpr int WS_IPPROTO_UDP = 17;
constexpr std::uint32_t WS_INADDR_ANY = 0;
constexpr std::uint32_t WS_INADDR_NONE = 0xFFFFFFFFu;

constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_SO_DEBUG = 0x0001;
constexpr int WS_SO_REUSEADDR = 0x0004;
constexpr int WS_SO_KEEPALIVE = 0x0008;
constexpr int WS_SO_DONTROUTE = 0x0010;
constexpr int WS_SO_BROADCAST = 0x0020;
constexpr int WS_SO_LINGER = 0x0080;
constexpr int WS_SO_OOBINLINE = 0x0100;
constexpr int WS_SO_DONTLINGER = ~WS_SO_LINGER;
constexpr int WS_SO_SNDBUF = 0x1001;
constexpr int WS_SO_RCVBUF = 0x1002;
// Stream sockets: readable (FD_READ, select, recv of a blocking socket) only once this many
// bytes wait in the system, or the stream has ended. 1 is the default.
constexpr int WS_SO_RCVLOWAT = 0x1004;
// A stream socket reads ahead of its caller at most this many bytes: they no longer count
// as waiting in the system (WS_SO_RCVLOWAT), though recv and FIONREAD report them.
constexpr int WS_STREAM_READ_AHEAD = 64 * 1024;
constexpr int WS_TCP_NODELAY = 0x0001;  // level WS_IPPROTO_TCP
// Level WS_IPPROTO_IP, numbered as in Winsock 1.1.
constexpr int WS_IP_MULTICAST_IF = 2;
constexpr int WS_IP_MULTICAST_TTL = 3;
constexpr int WS_IP_MULTICAST_LOOP = 4;
constexpr int WS_IP_ADD_MEMBERSHIP = 5;
constexpr int WS_IP_DROP_MEMBERSHIP = 6;
constexpr int WS_IP_TTL = 7;
constexpr int WS_IP_TOS = 8;

constexpr long WS_FIONREAD = 0x4004667F;
constexpr long WS_FIONBIO = static_cast<long>(0x8004667Eu);
constexpr int WS_MSG_OOB = 1;
constexpr int WS_MSG_PEEK = 2;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr int MAXGETHOSTSTRUCT = 1024;

// Error codes.
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// ---- the entry points, as GetProcAddress hands them out --------------------------------
// Each name of the module maps to a function of the matching type below.
using TWSAStartupProc = int (*)(WORD versionRequested, TWSAData* data);
using TWSACleanupProc = int (*)();
using TWSASetLastErrorProc = void (*)(int error);
using TWSAGetLastErrorProc = int (*)();
using TWSACancelAsyncRequestProc = int (*)(HANDLE request);
using TWSAAsyncGetHostByNameProc = HANDLE (*)(HWND wnd, UINT msg, const char* name, char* buf, int bufLen);
using TWSAAsyncGetHostByAddrProc = HANDLE (*)(HWND wnd, UINT msg, const char* addr, int len, int type,
                                              char* buf, int bufLen);
using TWSAAsyncSelectProc = int (*)(SOCKET s, HWND wnd, UINT msg, long events);
using TGetServByNameProc = TServEnt* (*)(const char* name, const char* proto);
using TGetProtoByNameProc = TProtoEnt* (*)(const char* name);
using TGetHostByNameProc = THostEnt* (*)(const char* name);
using TGetHostByName2Proc = THostEnt* (*)(const char* name, int af);
using TWSAAsyncGetHostByName2Proc = HANDLE (*)(HWND wnd, UINT msg, const char* name, int af, char* buf, int bufLen);
using TInetPtonProc = int (*)(int af, const char* src, void* dst);
using TInetNtopProc = const char* (*)(int af, const void* src, char* dst, int size);
using TSocketProc = SOCKET (*)(int af, int type, int protocol);
using TShutdownProc = int (*)(SOCKET s, int how);
using TSetSockOptProc = int (*)(SOCKET s, int level, int optName, const char* optVal, int optLen);
using TSendToProc = int (*)(SOCKET s, const char* buf, int len, int flags, const TSockAddr* to, int toLen);
using TSendProc = int (*)(SOCKET s, const char* buf, int len, int flags);
using TNtohsProc = std::uint16_t (*)(std::uint16_t v);
using TListenProc = int (*)(SOCKET s, int backlog);
using TIoctlSocketProc = int (*)(SOCKET s, long cmd, std::uint32_t* arg);
using TInetNtoaProc = char* (*)(TInAddr in);  // a per-thread buffer, valid until the next call
using TInetAddrProc = std::uint32_t (*)(const char* cp);
using THtonsProc = std::uint16_t (*)(std::uint16_t v);
using THtonlProc = std::uint32_t (*)(std::uint32_t v);
using TGetSockNameProc = int (*)(SOCKET s, TSockAddr* name, int* nameLen);
using TGetPeerNameProc = int (*)(SOCKET s, TSockAddr* name, int* nameLen);
using TConnectProc = int (*)(SOCKET s, const TSockAddr* name, int nameLen);
using TCloseSocketProc = int (*)(SOCKET s);
using TBindProc = int (*)(SOCKET s, const TSockAddr* name, int nameLen);
using TAcceptProc = SOCKET (*)(SOCKET s, TSockAddr* addr, int* addrLen);
using TRecvProc = int (*)(SOCKET s, char* buf, int len, int flags);
using TRecvFromProc = int (*)(SOCKET s, char* buf, int len, int flags, TSockAddr* from, int* fromLen);

// ---- the module ------------------------------------------------------------------------
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

// Loads a module by file name (case-insensitive); only "wsock32.dll" exists. Each load
// must be matched by one FreeLibrary. 0 on failure (GetLastError tells why).
HMODULE LoadLibrary(const char* fileName);
// The named entry point (exact case), or null with ERROR_PROC_NOT_FOUND.
void* GetProcAddress(HMODULE module, const char* procName);
bool FreeLibrary(HMODULE module);

// The calling thread's last error; WSAGetLastError reads the same slot.
DWORD GetLastError();
void SetLastError(DWORD error);

// The three entry points a caller may bind directly instead of through GetProcAddress
// (they work only while the module is started, like every socket function).
int WinsockLinkedSetSockOpt(SOCKET s, int level, int optName, const char* optVal, int optLen);
std::uint32_t WinsockLinkedInetAddr(const char* cp);
std::uint32_t WinsockLinkedHtonl(std::uint32_t v);
