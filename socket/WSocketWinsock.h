// SPDX-License-Identifier: Apache-2.0
#pragma once
// The socket layer's link to the Winsock module: loaded on the first call that needs it,
// every entry point resolved by name once and cached, unloaded when the last socket object
// is destroyed (or at exit). One WSAStartup per load, one WSACleanup per unload.
//
// Threading rule: this state is process-wide. Constructing and destroying socket objects
// and the first loading of the module must not run on two threads at once; the socket
// objects themselves each belong to one thread. (The loader and the counter are guarded
// well enough that breaking the rule cannot corrupt memory, but a socket being created on
// one thread while the last one is destroyed on another may see the module unloaded under
// it.) The entry points themselves are thread-safe.
//
// The WSocket_ functions call the entry point of the same name through the cache; the
// first call loads the module and may raise ESocketException (see LoadWinsockProc).
#include <string>

#include "winsock/Winsock.h"

// The module's handle, 0 while it is not loaded.
HMODULE WinsockModule();

// Loads the module when needed (then runs WSAStartup for version 1.1) and returns the named
// entry point; an empty name only loads. Raises ESocketException with
// "Unable to load wsock32.dll Error #<code>", "wsock32.dll: WSAStartup error #<code>" or
// "Procedure <name> not found in wsock32.dll Error #<code>".
void* LoadWinsockProc(const std::string& Name);
// When loaded: WSACleanup, unload, forget every cached entry point. Then the live socket
// count is 0.
void UnloadWinsock();

// Socket objects constructed and not yet destroyed.
int LiveSocketCount();
void IncLiveSocketCount();
// Counts one down; when that leaves none, unloads the module (and the count is 0).
void DecLiveSocketCount();

int WSocket_WSAStartup(WORD versionRequested, TWSAData* data);
int WSocket_WSACleanup();
void WSocket_WSASetLastError(int error);
int WSocket_WSAGetLastError();
int WSocket_WSACancelAsyncRequest(HANDLE request);
HANDLE WSocket_WSAAsyncGetHostByName(HWND wnd, UINT msg, const char* name, char* buf, int bufLen);
HANDLE WSocket_WSAAsyncGetHostByAddr(HWND wnd, UINT msg, const char* addr, int len, int type, char* buf,
                                     int bufLen);
int WSocket_WSAAsyncSelect(SOCKET s, HWND wnd, UINT msg, long events);
TServEnt* WSocket_getservbyname(const char* name, const char* proto);
TProtoEnt* WSocket_getprotobyname(const char* name);
THostEnt* WSocket_gethostbyname(const char* name);
SOCKET WSocket_socket(int af, int type, int protocol);
int WSocket_shutdown(SOCKET s, int how);
int WSocket_setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen);
int WSocket_sendto(SOCKET s, const char* buf, int len, int flags, const TSockAddr* to, int toLen);
int WSocket_send(SOCKET s, const char* buf, int len, int flags);
std::uint16_t WSocket_ntohs(std::uint16_t v);
int WSocket_listen(SOCKET s, int backlog);
int WSocket_ioctlsocket(SOCKET s, long cmd, std::uint32_t* arg);
std::string WSocket_inet_ntoa(TInAddr in);
std::uint32_t WSocket_inet_addr(const char* cp);
std::uint16_t WSocket_htons(std::uint16_t v);
int WSocket_getsockname(SOCKET s, TSockAddr* name, int* nameLen);
int WSocket_getpeername(SOCKET s, TSockAddr* name, int* nameLen);
int WSocket_connect(SOCKET s, const TSockAddr* name, int nameLen);
int WSocket_closesocket(SOCKET s);
int WSocket_bind(SOCKET s, const TSockAddr* name, int nameLen);
SOCKET WSocket_accept(SOCKET s, TSockAddr* addr, int* addrLen);
int WSocket_recv(SOCKET s, char* buf, int len, int flags);
int WSocket_recvfrom(SOCKET s, char* buf, int len, int flags, TSockAddr* from, int* fromLen);
// Beyond Winsock 1.1 (see winsock/Winsock.h): look-ups of a family, and address text of
// either family ("" when inet_ntop fails).
THostEnt* WSocket_gethostbyname2(const char* name, int af);
HANDLE WSocket_WSAAsyncGetHostByName2(HWND wnd, UINT msg, const char* name, int af, char* buf, int bufLen);
int WSocket_inet_pton(int af, const char* src, void* dst);
std::string WSocket_inet_ntop(int af, const void* src);
